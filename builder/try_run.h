// setrunc try: installs a built installer in a throwaway Wine prefix, then
// uninstalls it, and reports what each did to the prefix: files with their
// sizes, registry values, shortcuts, programs started, exit codes, and what
// the uninstaller left behind.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace setrunc {

// ---------------------------------------------------------------------------
// Snapshots of a Wine prefix and their differences (portable, unit-tested)

// A registry value as Wine stores it: the text right of the '=' in its
// registry file (continuation lines joined).
struct RegistrySnapshot {
  // "HKLM\Software\Vendor" -> value name ("" for the default value) -> data
  std::map<std::string, std::map<std::string, std::string>> keys;
};

// Reads one of Wine's registry files (system.reg, user.reg) into `into`,
// its keys below `root` ("HKLM", "HKCU"). Unknown lines are skipped.
void ParseWineRegistry(const std::string& text, const std::string& root, RegistrySnapshot* into);

// A value's data for people: a string unquoted, a dword as a number, other
// types as Wine writes them.
std::string ShowRegistryData(const std::string& data);

struct FileState {
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds
};
// Windows path ("C:\Program Files\Tool\tool.exe") -> state
using FileSnapshot = std::map<std::string, FileState>;

struct Change {
  enum Kind { Added, Changed, Removed } kind;
  std::string what;    // a Windows path, or "KEY" / "KEY\\[name]" for the registry
  uint64_t size = 0;   // files: the size now (before, when removed)
  std::string before, after;  // registry: the data
};
const char* ChangeName(Change::Kind kind);

// What changed from `before` to `after`: files added, changed (size or time)
// and removed; registry values likewise, and keys added or removed without
// values. Wine's own bookkeeping is left out (see IsWineNoise).
std::vector<Change> DiffFiles(const FileSnapshot& before, const FileSnapshot& after);
std::vector<Change> DiffRegistry(const RegistrySnapshot& before, const RegistrySnapshot& after);

// Keys and files that Wine itself changes on every start.
bool IsWineNoise(const std::string& what);

// The target of a shell link (.lnk file): its local base path, or "".
std::string ShortcutTarget(const std::string& lnkBytes);

// The program and arguments of a command line as the Uninstall entry holds
// it ("\"C:\\Program Files\\Tool\\Uninstall.exe\" /S").
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The uninstall commands of the Uninstall entries an installation added
// (`registry`: its registry changes), in the order of their keys: each
// entry's QuietUninstallString, else its UninstallString followed by /S.
// An uninstaller that several entries name the same way runs once.
std::vector<std::string> UninstallCommands(const std::vector<Change>& registry);

// The meaning of a setup program's exit code (as the shell reads it: 255 is
// -1); `message` is the package's text for a failure code, or "".
std::string ExitCodeMeaning(int code, const std::string& message);

// ---------------------------------------------------------------------------
// The run

struct TryOptions {
  std::string installer;
  bool wizard = false;        // go through the wizard with the test driver
  bool json = false;
  bool keep = false;          // keep the prefix (its path is reported)
  std::string wizardDriver;   // wizard_driver.exe; "" = not available
};

// Runs it all, every uninstaller the installation registered among it; the
// report goes to `out`, progress notes to `err`. Returns 0 when the
// installation and each uninstallation succeeded and
// nothing was left behind, 1 otherwise; throws BuildError when Wine or the
// installer cannot be used at all.
int TryInstaller(const TryOptions& options, std::ostream& out, std::ostream& err);

}  // namespace setrunc
