// The project file (TOML) and what it turns into.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

using Defines = std::map<std::string, std::string>;

struct LoadedProject {
  Project project;
  std::string stub;    // "x86", "x64", or a path (resolved against the project folder)
  std::string output;  // from the project's `output` key, resolved; may be empty
  // Settings that are allowed but have no effect as written.
  std::vector<std::string> warnings;
};

// Reads a project. `defines` give values to ${NAME} in source paths (they win
// over the project's own [defines]). Errors name the file, the line and the
// key: "project.toml:12:3: group[1].file[2].destination: ...".
LoadedProject LoadProjectFile(const std::string& path, const Defines& defines);
// The same for a project held in memory; `name` is used in messages, `baseDir`
// resolves relative paths.
LoadedProject LoadProjectText(const std::string& text, const std::string& name,
                              const std::string& baseDir, const Defines& defines);

// The file version (dwFileVersionMS, dwFileVersionLS) of a Windows program,
// read from its VS_FIXEDFILEINFO. Returns false when it has none.
bool FindFileVersion(const Bytes& image, u32* ms, u32* ls);
// The same for the file `path`, read in pieces.
bool FindFileVersionInFile(const std::string& path, u32* ms, u32* ls);

// The processor a Windows program or library is built for: the machine
// field of its PE header (0x14C x86, 0x8664 x64), or 0 when `image` (its
// first bytes; 4 KB hold the header) is no Windows program.
u16 PeMachine(const Bytes& image);
// Warnings about components registered through their entry points that the
// setup program `stub` (its image) cannot load: a library built for another
// processor, or no Windows library at all. Only a setup program of the
// component's own kind calls its DllRegisterServer.
std::vector<std::string> ComponentMachineWarnings(const Project& project, const Bytes& stub);

}  // namespace setrunc
