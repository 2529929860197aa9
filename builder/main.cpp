// setrunc: builds installers from a project file and inspects, verifies and
// unpacks built ones.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "builder/init_project.h"
#include "builder/package_reader.h"
#include "builder/package_writer.h"
#include "builder/project.h"
#include "builder/reader_commands.h"
#include "builder/uninstall_records.h"
#include "builder/sign_command.h"
#include "builder/signature.h"
#include "builder/try_run.h"

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
    "  init [FOLDER]                       write a first project for the files in FOLDER\n"
    "  try SETUP.exe                       install and uninstall under Wine and report\n"
    "\n"
    "'setrunc COMMAND --help' describes the options of a command.\n";

const char* const BuildHelp =
    "usage: setrunc build PROJECT.toml [-o SETUP.exe] [--stub PATH] [-D NAME=VALUE]... [-j N]\n"
    "                     [--sign CMD] [--sign-volumes CMD] [-q]\n"
    "\n"
    "Builds the installer described by PROJECT.toml: the setup program (stub)\n"
    "followed by the package, and data volumes SETUP.D01, SETUP.D02, ... when\n"
    "the project sets volume_size.\n"
    "\n"
    "  -o, --output PATH     the installer to write (default: the project's 'output')\n"
    "  --stub PATH|x86|x64   the setup program to use (overrides the project's 'stub')\n"
    "  -D, --define N=V      gives ${N} in the project's source paths the value V\n"
    "  -j, --jobs N          compress with N threads (default: one per core)\n"
    "  --sign CMD            sign the finished installer with the shell command CMD\n"
    "                        before it is put into place: {file} stands for the file\n"
    "                        to sign in place, or {in} and {out} for the unsigned file\n"
    "                        and the signed one the command writes; {name} for the\n"
    "                        installer's final name. For example\n"
    "                        'osslsigncode sign -certs c.pem -key k.pem -in {in} -out {out}'\n"
    "  --sign-volumes CMD    run CMD on each data volume too (they are not programs:\n"
    "                        for detached signatures and the like)\n"
    "  -q, --quiet           print nothing on success, and no progress line\n"
    "\n"
    "A build that takes more than a second shows its progress on standard error\n"
    "when that is a terminal.\n";

const char* const InitHelp =
    "usage: setrunc init [FOLDER] [-o PROJECT.toml]\n"
    "\n"
    "Writes a commented project that installs every file below FOLDER (default:\n"
    "the current folder) into the installation folder, named after FOLDER, with\n"
    "a licence page when FOLDER holds a LICENSE, LICENCE or COPYING file. The\n"
    "project goes to PROJECT.toml (default: project.toml in the current folder);\n"
    "an existing file is not overwritten.\n";

const char* const TryHelp =
    "usage: setrunc try SETUP.exe [--json] [--keep] [--wizard]\n"
    "\n"
    "Installs SETUP.exe in a throwaway Wine prefix, silently (a package that\n"
    "shows its wizard runs as a copy marked silent), and reports what the\n"
    "installation did: the exit code and its meaning, the files with their\n"
    "sizes, the registry values, the shortcuts and the programs it started.\n"
    "Then it runs the uninstaller that the Uninstall entry names (its\n"
    "QuietUninstallString, else its UninstallString with /S) and reports what\n"
    "was left behind compared with the prefix before the installation.\n"
    "Exit code 0 when both succeeded and nothing was left, 1 otherwise.\n"
    "\n"
    "  --json     the report as one JSON object (builder/README.md)\n"
    "  --keep     keep the prefix and name it in the report\n"
    "  --wizard   go through the wizard with the test driver instead: Next on\n"
    "             every page, the licence accepted, the proposed folder made\n"
    "\n"
    "Wine: /usr/lib/wine/wine64, else wine64 or wine on the PATH; SETRUNC_WINE\n"
    "names another loader. The wizard driver: SETRUNC_WIZARD_DRIVER, the one of\n"
    "the Windows build setrunc was built with, or stubs/wizard_driver.exe.\n";

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

// The progress line of a build on standard error: shown once the build has
// taken a second, at most ten times a second, and cleared when it ends.
struct ProgressLine {
  explicit ProgressLine(bool on) : enabled(on), start(std::chrono::steady_clock::now()) {}
  bool enabled;
  bool shown = false;
  std::chrono::steady_clock::time_point start, last;

  void Show(uint64_t done, uint64_t total) {
    auto now = std::chrono::steady_clock::now();
    if (!enabled || now - start < std::chrono::seconds(1)) return;
    if (shown && now - last < std::chrono::milliseconds(100) && done < total) return;
    last = now;
    shown = true;
    char line[120];
    std::snprintf(line, sizeof line, "\rsetrunc: compressing %3u%% (%.1f of %.1f MB)",
                  (unsigned)(total ? done * 100 / total : 100), (double)done / 1e6, (double)total / 1e6);
    std::fputs(line, stderr);
    std::fflush(stderr);
  }
  void Clear() {
    if (!shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown = false;
  }
};

// Signs the program file under its temporary name and checks that the
// package still reads and that a signature it now has lies behind the data.
void SignProgram(const std::string& command, const std::string& temporary, const std::string& path) {
  RunSignCommand(command, temporary, path);
  PackageInfo p;
  try {
    p = ReadPackage(temporary);
  } catch (const BuildError& e) {
    throw BuildError("the signing command damaged '" + path + "': " + e.what());
  }
  SignatureInfo s = ReadSignature(temporary, p.fileLength);
  if (!s.present) {
    std::cerr << "setrunc: warning: '" << path << "' has no Authenticode signature after the signing command\n";
  } else if (!s.problem.empty() || s.offset < (uint64_t)p.dataAreaOffset + 4 + p.dataLength) {
    throw BuildError("the signing command left an unusable signature in '" + path + "': " +
                     (s.problem.empty() ? "it lies inside the package data" : s.problem));
  }
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
  std::string sign, signVolumes;
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
    else if (a == "--sign") sign = Value(args, &i);
    else if (a == "--sign-volumes") signVolumes = Value(args, &i);
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
  // A command without a placeholder is refused before anything is built.
  if (!sign.empty()) ExpandSignCommand(sign, "", "");
  if (!signVolumes.empty()) ExpandSignCommand(signVolumes, "", "");
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
  ProgressLine progress(!quiet && isatty(2));
  if (progress.enabled)
    loaded.project.progress = [&](uint64_t done, uint64_t total) { progress.Show(done, total); };
  FinishOutput finish;
  if (!sign.empty() || !signVolumes.empty())
    finish = [&](const std::string& temporary, const std::string& path, unsigned volume) {
      progress.Clear();
      if (volume == 0 && !sign.empty()) SignProgram(sign, temporary, path);
      if (volume > 0 && !signVolumes.empty()) RunSignCommand(signVolumes, temporary, path);
    };
  BuildSummary summary = BuildInstaller(loaded.project, stubImage, output, finish);
  progress.Clear();
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

int Try(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << TryHelp;
    return 0;
  }
  TryOptions options;
  for (const std::string& a : args) {
    if (a == "--json") options.json = true;
    else if (a == "--keep") options.keep = true;
    else if (a == "--wizard") options.wizard = true;
    else if (!a.empty() && a[0] == '-') throw UsageError("unknown option " + a);
    else if (options.installer.empty()) options.installer = a;
    else throw UsageError("more than one installer given");
  }
  if (options.installer.empty()) throw UsageError("no installer given");
  // The wizard driver: SETRUNC_WIZARD_DRIVER, the one built beside the
  // 64-bit setup program setrunc was built with, or stubs/ beside setrunc.
  const char* chosen = getenv("SETRUNC_WIZARD_DRIVER");
  std::string built = SETRUN_STUB_X64;
  built = built.empty() ? "" : built.substr(0, built.find_last_of('/') + 1) + "wizard_driver.exe";
  for (const std::string& candidate : {std::string(chosen ? chosen : ""), built,
                                       ExecutableDir() + "/stubs/wizard_driver.exe"})
    if (!candidate.empty() && FileExists(candidate)) {
      options.wizardDriver = candidate;
      break;
    }
  return TryInstaller(options, std::cout, std::cerr);
}

int Init(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << InitHelp;
    return 0;
  }
  std::string folder, project = "project.toml";
  bool folderGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" || args[i] == "--output") project = Value(args, &i);
    else if (!args[i].empty() && args[i][0] == '-') throw UsageError("unknown option " + args[i]);
    else if (!folderGiven) folder = args[i], folderGiven = true;
    else throw UsageError("more than one folder given");
  }
  if (!folderGiven) folder = ".";
  StarterProject s = MakeStarterProject(folder, project);
  // Created exclusively: an existing project is never overwritten.
  int fd = open(project.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) throw BuildError("'" + project + "' exists; remove it or name another with -o");
    throw BuildError("cannot create '" + project + "': " + std::strerror(errno));
  }
  bool written = write(fd, s.text.data(), s.text.size()) == (ssize_t)s.text.size();
  if (close(fd) != 0) written = false;
  if (!written) {
    unlink(project.c_str());
    throw BuildError("cannot write '" + project + "'");
  }
  if (!s.skippedLicence.empty())
    std::cerr << "setrunc: warning: " << s.skippedLicence
              << " is not UTF-8 text that code page 1252 can hold; the project has no licence page\n";
  std::cout << project << ": " << s.product << ", " << s.files << " files (" << s.bytes << " bytes)"
            << (s.licence.empty() ? "" : ", licence page from " + s.licence) << "\n";
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
    if (command == "init") return Init(args);
    if (command == "try") return Try(args);
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
