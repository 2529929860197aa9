// The execution level in the application manifest of a setup program (and
// of the uninstaller it carries): found through the program's resource
// directory and rewritten in place, so that a project chooses its
// privileges without another build of the stub.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

// Where the level of one manifest lies in a program image.
struct ManifestLevel {
  size_t offset = 0;  // file offset of the level's value (after the opening quote)
  size_t room = 0;    // the value, its closing quote and the spaces behind it
  char quote = '"';
  std::string level;  // "requireAdministrator", "asInvoker", ...
};

// The levels of every manifest of the program (resource type 24, name 1,
// each language); empty when it has none. A damaged header or resource
// directory (an offset or size outside the file or its section), or a
// manifest without a requestedExecutionLevel element, throws BuildError,
// whose message begins with `program`.
std::vector<ManifestLevel> FindExecutionLevels(const u8* image, size_t size,
                                               const std::string& program = "the setup program");

// The manifest level of a privilege choice.
const char* ExecutionLevelOf(Privileges privileges);

// The stub with the level of `privileges` written into its manifest, the
// file's size and layout unchanged; the PE checksum is computed again when
// the stub has one. Without a choice (nullopt) the level is that of Admin,
// and a stub without a manifest is returned as it is. Throws BuildError when
// a choice is made and the stub has no manifest, when the level does not fit
// the room the manifest leaves, or when the stub's headers are damaged.
Bytes StubWithPrivileges(const Bytes& stub, std::optional<Privileges> privileges);
// The same for any program built with the setup program's manifest (the
// embedded uninstaller); errors name it as `program` ("the uninstaller").
Bytes ProgramWithPrivileges(const Bytes& image, std::optional<Privileges> privileges,
                            const std::string& program);

// The PE checksum of an image, with the checksum field itself taken as zero.
u32 PeChecksum(const u8* image, size_t size, size_t checksumOffset);
// Offset of the checksum field, or 0 when `image` is no PE image.
size_t PeChecksumOffset(const u8* image, size_t size);

// The line `setrunc inspect` shows for the setup program in front of the
// package (the first `stubSize` bytes of the file `path`): "privileges: user
// (asInvoker)" and the like, or that the program has no manifest.
std::string DescribePrivileges(const std::string& path, size_t stubSize);

}  // namespace setrunc
