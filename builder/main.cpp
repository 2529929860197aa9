// setrunc: builds installers from a project file and inspects, verifies and
// unpacks built ones.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "builder/layout.h"
#include "builder/package_reader.h"
#include "builder/package_writer.h"
#include "builder/project.h"
#include "base/records.h"

#ifndef SETRUN_STUB_X86
#define SETRUN_STUB_X86 ""
#endif
#ifndef SETRUN_STUB_X64
#define SETRUN_STUB_X64 ""
#endif

using namespace setrunc;

namespace {

const char* const MainHelp =
    "usage: setrunc COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  build PROJECT.toml [-o SETUP.exe]   build an installer from a project file\n"
    "  inspect SETUP.exe                   list the records, groups, texts and files\n"
    "  verify SETUP.exe                    unpack every file in memory and check it\n"
    "  extract SETUP.exe -o FOLDER         write the packaged files into FOLDER\n"
    "\n"
    "'setrunc COMMAND --help' describes the options of a command.\n";

const char* const BuildHelp =
    "usage: setrunc build PROJECT.toml [-o SETUP.exe] [--stub PATH] [-D NAME=VALUE]... [-j N]\n"
    "\n"
    "Builds the installer described by PROJECT.toml: the setup program (stub)\n"
    "followed by the package, and data volumes SETUP.D01, SETUP.D02, ... when\n"
    "the project sets volume_size.\n"
    "\n"
    "  -o, --output PATH     the installer to write (default: the project's 'output')\n"
    "  --stub PATH|x86|x64   the setup program to use (overrides the project's 'stub')\n"
    "  -D, --define N=V      gives ${N} in the project's source paths the value V\n"
    "  -j, --jobs N          compress with N threads (default: one per core)\n"
    "  -q, --quiet           print nothing on success\n";

const char* const InspectHelp =
    "usage: setrunc inspect SETUP.exe\n"
    "\n"
    "Lists the records of the package (type, flags, stored and decoded size,\n"
    "offset), the layout header, every install group with its fields and texts,\n"
    "and the file entries.\n";

const char* const VerifyHelp =
    "usage: setrunc verify SETUP.exe\n"
    "\n"
    "Inflates the data of every file entry (following the data volumes) and\n"
    "checks its size and checksum. Exits with 1 and names the file on any fault.\n";

const char* const ExtractHelp =
    "usage: setrunc extract SETUP.exe -o FOLDER\n"
    "\n"
    "Writes the files of the package into FOLDER, each under its entry name\n"
    "(backslashes become folders). With several install groups each goes into\n"
    "FOLDER/group<N>; files for other destinations than the installation folder\n"
    "go into a subfolder named after the destination ({windows}, {fonts}, ...).\n"
    "Names that would leave FOLDER are refused.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool FileExists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExecutableDir() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string p(buffer, (size_t)n);
  return p.substr(0, p.find_last_of('/'));
}

// The stub: "x86" and "x64" are the programs setrunc was built with, or those
// in the stubs folder beside it; anything else is a path.
std::string FindStub(const std::string& choice) {
  if (choice != "x86" && choice != "x64") {
    if (!FileExists(choice)) throw BuildError("the stub '" + choice + "' does not exist");
    return choice;
  }
  std::vector<std::string> tried;
  std::string built = choice == "x86" ? SETRUN_STUB_X86 : SETRUN_STUB_X64;
  if (!built.empty()) {
    if (FileExists(built)) return built;
    tried.push_back(built);
  }
  std::string beside = ExecutableDir() + "/stubs/setrun-" + choice + ".exe";
  if (FileExists(beside)) return beside;
  tried.push_back(beside);
  std::string list;
  for (const std::string& t : tried) list += "\n  " + t;
  throw BuildError("the " + std::string(choice == "x86" ? "32-bit" : "64-bit") +
                   " stub is missing; looked for:" + list +
                   "\nbuild the setup program, or name one with --stub PATH");
}

std::string Value(const std::vector<std::string>& args, size_t* i) {
  if (*i + 1 >= args.size()) throw UsageError("option " + args[*i] + " needs a value");
  return args[++*i];
}

int Build(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << BuildHelp;
    return 0;
  }
  std::string projectPath, output, stub;
  Defines defines;
  unsigned jobs = 0;
  bool quiet = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o" || a == "--output") output = Value(args, &i);
    else if (a == "--stub") stub = Value(args, &i);
    else if (a == "-j" || a == "--jobs") {
      std::string n = Value(args, &i);
      if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError("-j needs a number of threads");
      jobs = (unsigned)std::stoul(n);
    }
    else if (a == "-q" || a == "--quiet") quiet = true;
    else if (a == "-D" || a == "--define" || (a.size() > 2 && a.compare(0, 2, "-D") == 0)) {
      std::string d = a.size() > 2 && a[1] == 'D' ? a.substr(2) : Value(args, &i);
      size_t eq = d.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError("a definition is NAME=VALUE, not '" + d + "'");
      defines[d.substr(0, eq)] = d.substr(eq + 1);
    } else if (!a.empty() && a[0] == '-') throw UsageError("unknown option " + a);
    else if (projectPath.empty()) projectPath = a;
    else throw UsageError("more than one project file given");
  }
  if (projectPath.empty()) throw UsageError("no project file given");
  LoadedProject loaded = LoadProjectFile(projectPath, defines);
  for (const std::string& w : loaded.warnings) std::cerr << "setrunc: warning: " << w << "\n";
  if (output.empty()) output = loaded.output;
  if (output.empty()) throw UsageError("no output given (-o SETUP.exe, or 'output' in the project)");
  loaded.project.threads = jobs;
  std::string stubPath = FindStub(stub.empty() ? loaded.stub : stub);
  Bytes stubImage = ReadWholeFile(stubPath);
  BuildSummary summary = BuildInstaller(loaded.project, stubImage, output);
  if (!quiet) {
    std::cout << output << ": " << summary.files << " files, " << summary.inputBytes << " bytes packed into "
              << summary.dataBytes << " (stub " << stubPath << ")";
    if (summary.volumes) std::cout << ", " << summary.volumes << " data volumes";
    std::cout << "\n";
    for (const std::string& r : summary.removedVolumes)
      std::cout << "removed " << r << " (left from an earlier build)\n";
  }
  return 0;
}

std::string OnePath(const std::vector<std::string>& args, std::string* output, bool wantOutput) {
  std::string path;
  for (size_t i = 0; i < args.size(); ++i) {
    if (wantOutput && (args[i] == "-o" || args[i] == "--output")) *output = Value(args, &i);
    else if (!args[i].empty() && args[i][0] == '-') throw UsageError("unknown option " + args[i]);
    else if (path.empty()) path = args[i];
    else throw UsageError("more than one installer given");
  }
  if (path.empty()) throw UsageError("no installer given");
  return path;
}

int Inspect(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << InspectHelp;
    return 0;
  }
  PackageInfo p = ReadPackage(OnePath(args, nullptr, false));
  std::cout << DescribePackage(p);
  if (p.layout) std::cout << DescribeLayoutPages(p.layout->data(), (u32)p.layout->size());
  return 0;
}

std::string EntryLabel(size_t group, size_t index, const u8* e) {
  return "group " + std::to_string(group) + " file " + std::to_string(index) + " \"" + EntryString(e, 0) + "\"";
}

int Verify(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << VerifyHelp;
    return 0;
  }
  PackageInfo p = ReadPackage(OnePath(args, nullptr, false));
  DataArea data(p);
  int faults = 0, checked = 0;
  auto fault = [&](const std::string& what) {
    std::cerr << "setrunc: " << p.path << ": " << what << "\n";
    ++faults;
  };
  if (!p.forced && p.fileLength < (uint64_t)p.dataAreaOffset + 4 + p.dataLength)
    fault("the file ends before its " + std::to_string(p.dataLength) + " bytes of data");
  for (size_t g = 0; g < p.groups.size(); ++g) {
    if (!p.groups[g].fileList) continue;
    std::vector<const u8*> entries = FileEntries(*p.groups[g].fileList);
    u32 lastOffset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const u8* e = entries[i];
      u32 flags = ReadU32(e + EntryFlags);
      if (flags & (FileFlagFolderEntry | FileFlagSourceFolder)) continue;
      u32 size = ReadU32(e + EntrySize), sum = ReadU32(e + EntryChecksum);
      u32 offset = ReadU32(e + EntryDataOffset);
      if (offset < lastOffset)
        fault(EntryLabel(g, i, e) + ": its data lies before that of the file before it");
      lastOffset = offset;
      uint64_t count = 0;
      u32 got = 0;
      std::string error = InflateEntry(data, e, [&](const u8* b, size_t n) {
        count += n;
        got = RotateAddSum(got, b, n);
      });
      ++checked;
      if (!error.empty()) fault(EntryLabel(g, i, e) + ": " + error);
      else if (count != size) fault(EntryLabel(g, i, e) + ": " + std::to_string(count) + " bytes instead of " + std::to_string(size));
      else if (got != sum) fault(EntryLabel(g, i, e) + ": wrong checksum");
    }
  }
  if (faults) {
    std::cerr << "setrunc: " << p.path << ": " << faults << " fault" << (faults > 1 ? "s" : "") << "\n";
    return 1;
  }
  std::cout << p.path << ": " << checked << " files in " << p.groups.size() << " group"
            << (p.groups.size() > 1 ? "s" : "") << " verified";
  if (data.VolumesOpened()) std::cout << " (" << data.VolumesOpened() << " data volumes)";
  std::cout << "\n";
  return 0;
}

// The relative path of an entry below the extraction folder, or "" when it
// would leave the folder.
std::string SafeRelative(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || (name.size() > 1 && name[1] == ':')) return "";
  std::string out, part;
  for (size_t i = 0; i <= name.size(); ++i) {
    char c = i < name.size() ? name[i] : '\\';
    if (c == '\\' || c == '/') {
      if (part == "..") return "";
      if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
      part.clear();
    } else {
      part += c;
    }
  }
  return out;
}

void MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') {
      std::string p = path.substr(0, i);
      if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) throw BuildError("cannot create the folder " + p);
    }
}

int Extract(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << ExtractHelp;
    return 0;
  }
  std::string folder;
  std::string installer = OnePath(args, &folder, true);
  if (folder.empty()) throw UsageError("no output folder given (-o FOLDER)");
  PackageInfo p = ReadPackage(installer);
  DataArea data(p);
  MakeFolders(folder);
  int faults = 0, written = 0;
  for (size_t g = 0; g < p.groups.size(); ++g) {
    if (!p.groups[g].fileList) continue;
    std::string base = p.groups.size() > 1 ? folder + "/group" + std::to_string(g) : folder;
    std::vector<const u8*> entries = FileEntries(*p.groups[g].fileList);
    for (size_t i = 0; i < entries.size(); ++i) {
      const u8* e = entries[i];
      u32 flags = ReadU32(e + EntryFlags), dest = ReadU32(e + EntryDestination);
      std::string rel = SafeRelative(EntryString(e, 0));
      if (rel.empty()) {
        std::cerr << "setrunc: " << EntryLabel(g, i, e) << ": refused, the name leaves " << folder << "\n";
        ++faults;
        continue;
      }
      if (dest != DestInstallDir) {
        bool named = dest <= DestHighestKind && dest != 4 && dest != 6 && dest != 7;
        rel = "{" + (named ? std::string(DestinationName(dest)) : "kind" + std::to_string(dest)) + "}/" + rel;
      }
      std::string target = base + "/" + rel;
      if (flags & FileFlagFolderEntry) {
        MakeFolders(target.substr(0, target.find_last_of('/')));
        continue;
      }
      if (flags & FileFlagSourceFolder) continue;  // not in the package
      MakeFolders(target.substr(0, target.find_last_of('/')));
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      if (!out) throw BuildError("cannot create " + target);
      if ((ReadU16(e + EntryState) & EntryStateUninstaller) && p.uninstaller)
        out.write((const char*)p.uninstaller->data(), (std::streamsize)p.uninstaller->size());
      std::string error = InflateEntry(data, e, [&](const u8* b, size_t n) { out.write((const char*)b, (std::streamsize)n); });
      out.close();
      if (!out) throw BuildError("cannot write " + target);
      if (!error.empty()) {
        std::cerr << "setrunc: " << EntryLabel(g, i, e) << ": " << error << "\n";
        ++faults;
      }
      ++written;
    }
  }
  std::cout << written << " files written to " << folder << "\n";
  return faults ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << MainHelp;
    return 2;
  }
  std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << MainHelp;
      return 0;
    }
    if (command == "build") return Build(args);
    if (command == "inspect") return Inspect(args);
    if (command == "verify") return Verify(args);
    if (command == "extract") return Extract(args);
    std::cerr << "setrunc: unknown command '" << command << "'\n\n" << MainHelp;
    return 2;
  } catch (const UsageError& e) {
    std::cerr << "setrunc " << command << ": " << e.what() << " (see setrunc " << command << " --help)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "setrunc: " << e.what() << "\n";
    return 1;
  }
}
