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

#include "builder/package_reader.h"
#include "builder/package_writer.h"
#include "builder/project.h"
#include "builder/reader_commands.h"
#include "builder/uninstall_records.h"

#ifndef SETRUN_STUB_X86
#define SETRUN_STUB_X86 ""
#endif
#ifndef SETRUN_STUB_X64
#define SETRUN_STUB_X64 ""
#endif
#ifndef SETRUN_UNINSTALLER_X86
#define SETRUN_UNINSTALLER_X86 ""
#endif
#ifndef SETRUN_UNINSTALLER_X64
#define SETRUN_UNINSTALLER_X64 ""
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

// The uninstaller embedded by default, for the processor of the setup
// program: the one setrunc was built with, or stubs/uninstall-x86.exe (or
// -x64) beside it.
std::string FindUninstaller(const Bytes& stub) {
  const bool x64 = PeMachine(stub) == 0x8664;
  std::string built = x64 ? SETRUN_UNINSTALLER_X64 : SETRUN_UNINSTALLER_X86;
  std::string beside = ExecutableDir() + "/stubs/uninstall-" + (x64 ? "x64" : "x86") + ".exe";
  if (!built.empty() && FileExists(built)) return built;
  if (FileExists(beside)) return beside;
  throw BuildError("the " + std::string(x64 ? "64-bit" : "32-bit") +
                   " uninstaller is missing; looked for:" + (built.empty() ? "" : "\n  " + built) +
                   "\n  " + beside +
                   "\nbuild it, name an uninstaller program with 'uninstaller = \"path\"', or "
                   "leave it out with 'uninstaller = false' in each group");
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
  if (!loaded.uninstallerGiven) {
    bool wanted = false;
    for (const GroupUninstallDefaults& d : loaded.groupDefaults) wanted = wanted || d.wanted;
    if (wanted)
      ApplyDefaultUninstaller(&loaded.project, loaded.groupDefaults, loaded.publisher, loaded.version,
                              ReadWholeFile(FindUninstaller(stubImage)));
  }
  for (const std::string& w : ComponentMachineWarnings(loaded.project, stubImage))
    std::cerr << "setrunc: warning: " << w << "\n";
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
    if (IsReaderCommand(command)) return RunReaderCommand(command, args, std::cout, std::cerr);
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
