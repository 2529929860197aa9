// Whole runs of the setup program: the exit codes of its roads, the
// single-instance probe and the libraries it loads. Each case starts the real
// program (a copy of it in a folder whose name holds spaces) and waits for it.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <string.h>

#include <string>
#include <vector>

#include "tests/wine/wine_support.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const DWORD ExitMinusOne = 0xFFFFFFFFu;
const DWORD TimedOut = 0xBAD0BAD0u;
const DWORD NotStarted = 0xBAD0DEADu;
const DWORD RunTimeLimit = 60000;

std::string WindowsPath(const char* unixPath) {
  std::string path = "Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? '\\' : *p;
  return path;
}

// The program's own key, computed independently: rotate left by one bit,
// add the byte.
unsigned ReferenceKey(const std::string& path) {
  unsigned long long s = 0;
  for (unsigned char c : path) {
    s = ((s << 1) & 0xFFFFFFFFu) | (s >> 31);
    s = (s + c) & 0xFFFFFFFFu;
  }
  return (unsigned)s;
}

// --- Packages, assembled byte by byte -------------------------------------

void PutU16(Bytes& b, unsigned v) {
  b.push_back((unsigned char)v);
  b.push_back((unsigned char)(v >> 8));
}
void PutU32(Bytes& b, unsigned v) {
  for (int i = 0; i < 4; ++i) b.push_back((unsigned char)(v >> (8 * i)));
}
void SetU32(Bytes& b, size_t at, unsigned v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (unsigned char)(v >> (8 * i));
}
void PutText(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}
void Record(Bytes& b, unsigned type, const Bytes& payload) {
  PutU16(b, type);
  PutU16(b, 0);
  PutU32(b, (unsigned)payload.size());
  b.insert(b.end(), payload.begin(), payload.end());
}

const unsigned Silent = 0x4000;

// A package file: 1,024 bytes in front of the marker, a 170-byte layout
// record, `groups` group records (display name, default folder, the setup
// title as text 7/0; no texts otherwise, so no notice is ever shown), the end
// of tables and `data` as the file data area. With `welcomePage`, the layout
// has a welcome page without controls, and the groups show it.
Bytes PackageFile(unsigned layoutFlags, const std::string& folder, int groups = 1,
                  const Bytes& data = Bytes(), const Bytes& fileList = Bytes(),
                  bool welcomePage = false) {
  Bytes b(1024, 0x90);
  b[0] = 'M';
  b[1] = 'Z';
  const char marker[] = "wwgT)H";
  b.insert(b.end(), marker, marker + 6);

  Bytes layout(170, 0);
  SetU32(layout, 0, layoutFlags);
  SetU32(layout, 12, 500);
  SetU32(layout, 16, 360);
  SetU32(layout, 84, 0xFFFFFFFFu);
  if (welcomePage) {
    SetU32(layout, 126, (unsigned)layout.size());  // page kind 0
    layout.resize(layout.size() + 56, 0);
  }
  Record(b, 0x1435, layout);

  for (int g = 0; g < groups; ++g) {
    Bytes group(102, 0);
    for (int i = 50; i < 62; ++i) group[i] = 0xFF;  // no pages
    if (welcomePage) group[50] = 0;
    SetU32(group, 6, (unsigned)group.size());
    PutText(group, "Start-up runs");
    SetU32(group, 30, (unsigned)group.size());
    PutText(group, folder);
    SetU32(group, 62 + 4 * 7, (unsigned)group.size());
    PutU16(group, 1);
    PutText(group, "Start-up runs");
    Record(b, 0x143E, group);
    if (!fileList.empty()) Record(b, 0x143A, fileList);
  }

  PutU16(b, 0x7F7F);
  PutU16(b, 0);
  PutU32(b, (unsigned)data.size());
  PutU32(b, (unsigned)data.size());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// A file list of one entry: a file for the system folder, installed on
// every Windows version, whose compressed contents start the data area.
Bytes SystemFileList(const std::string& name, const Bytes& contents, unsigned packedSize) {
  Bytes entry(42, 0);
  SetU32(entry, 10, packedSize);
  SetU32(entry, 18, (unsigned)contents.size());
  unsigned long long sum = 0;
  for (unsigned char c : contents) sum = ((((sum << 1) & 0xFFFFFFFFu) | (sum >> 31)) + c) & 0xFFFFFFFFu;
  SetU32(entry, 22, (unsigned)sum);
  SetU32(entry, 26, 0xFE000);      // every Windows version
  SetU32(entry, 30, 0x80000000u);  // an ordinary file
  SetU32(entry, 34, 2);            // the system folder
  PutText(entry, name);
  for (int i = 1; i < 9; ++i) PutText(entry, "");
  entry[0] = (unsigned char)entry.size();
  entry[1] = (unsigned char)(entry.size() >> 8);
  Bytes list;
  PutU32(list, 1);
  list.insert(list.end(), entry.begin(), entry.end());
  return list;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- Running the program ----------------------------------------------------

struct RunOutcome {
  DWORD exitCode = NotStarted;
  bool showedWindow = false;  // the program created its backdrop window
};

// Starts `program` with `arguments` and waits for it, handling this
// process's window messages meanwhile. With `watchWindow`, a backdrop window
// of the started program ends the run (the wizard road was taken).
RunOutcome RunProgram(const std::string& program, const std::string& arguments,
               const std::string& directory, bool watchWindow = false) {
  RunOutcome outcome;
  std::string line = "\"" + program + "\" " + arguments;
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back(0);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process))
    return outcome;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 100, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) break;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (watchWindow) {
      HWND window = nullptr;
      DWORD owner = 0;
      while ((window = FindWindowExA(nullptr, window, "SetrunClass", nullptr)) != nullptr) {
        GetWindowThreadProcessId(window, &owner);
        if (owner == process.dwProcessId) break;
      }
      if (window) {
        outcome.showedWindow = true;
        TerminateProcess(process.hProcess, TimedOut);
        WaitForSingleObject(process.hProcess, 10000);
        break;
      }
    }
    if (GetTickCount() - start > RunTimeLimit) {
      TerminateProcess(process.hProcess, TimedOut);
      WaitForSingleObject(process.hProcess, 10000);
      break;
    }
  }
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return outcome;
}

class StartupRuns : public testing::Test {
 protected:
  std::string folder;  // ends with a backslash
  std::string program;

  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    char longTemp[MAX_PATH];
    if (GetLongPathNameA(temp, longTemp, MAX_PATH)) lstrcpyA(temp, longTemp);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    // A folder of its own for each run of the tests: what one run leaves
    // behind (a deletion waiting for the restart) cannot answer for another.
    folder = std::string(temp) + "setrun start " + info->name() + " " +
             std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    program = folder + "setup.exe";
    ASSERT_TRUE(CopyFileA(WindowsPath(SETRUN_STUB_FILE).c_str(), program.c_str(), FALSE))
        << "cannot copy the setup program to " << program;
  }

  // The folder name ends in a backslash.
  void TearDown() override { winetest::RemoveTree(folder.substr(0, folder.size() - 1)); }

  std::string Package(const std::string& name, const Bytes& bytes) {
    std::string path = folder + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }

  RunOutcome RunSetup(const std::string& arguments, bool watchWindow = false) {
    return RunProgram(program, arguments, folder, watchWindow);
  }
};

TEST_F(StartupRuns, MissingPackageEndsWithMinusOne) {
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + folder + "no such package.exe\"").exitCode);
  // The program itself carries no package.
  EXPECT_EQ(ExitMinusOne, RunSetup("").exitCode);
  // A file without the package marker.
  std::string empty = Package("empty.bin", Bytes(4096, 0x90));
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + empty + "\"").exitCode);
}

TEST_F(StartupRuns, SilentPackageReadFromAQuotedPathWithSpaces) {
  std::string path = Package("silent package.bin", PackageFile(Silent, folder + "installed"));
  // The silent road: no window, and the result is the installation's.
  RunOutcome silent = RunSetup("/S\"" + path + "\"", true);
  EXPECT_FALSE(silent.showedWindow);
  EXPECT_NE(ExitMinusOne, silent.exitCode);
  EXPECT_NE(TimedOut, silent.exitCode);
  // Unquoted, the path ends at its first space: that file does not exist.
  EXPECT_EQ(ExitMinusOne, RunSetup("/S" + path).exitCode);
}

// /V turns a silent package into a wizard installation: the backdrop window
// of the run (with the welcome page waiting for the user) tells the road.
TEST_F(StartupRuns, KeepInteractiveTakesTheWizardRoadForASilentPackage) {
  std::string path = Package("silent package.bin",
                             PackageFile(Silent, folder + "installed", 1, Bytes(), Bytes(), true));
  for (const char* keep : {" /V", " -v", "/N/V"}) {
    SCOPED_TRACE(keep);
    RunOutcome wizard = RunSetup("/S\"" + path + "\"" + keep, true);
    EXPECT_TRUE(wizard.showedWindow) << "exit code " << wizard.exitCode;
  }
  // Without /V the same package installs silently.
  EXPECT_FALSE(RunSetup("/S\"" + path + "\"", true).showedWindow);
}

TEST_F(StartupRuns, ContinuationRunNeedsAnExactCopyAndAnExistingGroup) {
  // A continuation copy ends right behind the data length word.
  std::string copy = Package("copy.exe", PackageFile(0, folder + "installed", 2));
  EXPECT_EQ(0u, RunSetup("/S\"" + copy + "\" /B1").exitCode);
  EXPECT_EQ(0u, RunSetup("/S\"" + copy + "\" /b02 /N").exitCode);
  // Group 3 of a package with two.
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + copy + "\" /B3").exitCode);
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + copy + "\" /B99").exitCode);
  // A whole package (with file data behind its tables) is not a copy.
  std::string whole =
      Package("whole.exe", PackageFile(Silent, folder + "installed", 3, Bytes{1, 2, 3, 4}));
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + whole + "\" /B3").exitCode);
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + whole + "\" /B1").exitCode);
}

// A silent installation that has to replace a file in use ends with -2; no
// question is asked when the package does not want one in silent runs.
TEST_F(StartupRuns, SilentInstallationNeedingARestartEndsWithMinusTwo) {
  char system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
  std::string name = "setrun start " + std::to_string(GetCurrentProcessId()) + ".dat";
  std::string target = std::string(system) + "\\" + name;
  ASSERT_TRUE(WriteFileBytes(target, Bytes{'o', 'l', 'd'}));
  // Held open without sharing: in use.
  HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  Bytes contents(1000, 'n');
  uLongf packed = compressBound((uLong)contents.size());
  Bytes stream(packed);
  ASSERT_EQ(Z_OK, compress2(stream.data(), &packed, contents.data(), (uLong)contents.size(), 9));
  stream.resize(packed);
  std::string path = Package("restart.bin", PackageFile(Silent, folder + "installed", 1, stream,
                                                        SystemFileList(name, contents, (unsigned)packed)));
  RunOutcome run = RunSetup("/S\"" + path + "\"", true);
  CloseHandle(held);
  EXPECT_FALSE(run.showedWindow);
  EXPECT_EQ(0xFFFFFFFEu, run.exitCode);
  // Not in use, the same installation replaces the file and ends with 0.
  EXPECT_EQ(0u, RunSetup("/S\"" + path + "\"", true).exitCode);
  HANDLE file = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD size = file != INVALID_HANDLE_VALUE ? GetFileSize(file, nullptr) : 0;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  EXPECT_EQ(contents.size(), size);
  DeleteFileA(target.c_str());
}

// The moves and deletions waiting for the next start of Windows, as (source,
// target) pairs; an empty target deletes the source.
std::vector<std::pair<std::string, std::string>> PendingOperations() {
  std::vector<std::pair<std::string, std::string>> operations;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return operations;
  std::vector<char> value(1 << 20);
  DWORD size = (DWORD)value.size() - 2, type = 0;
  LONG result = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                                 (BYTE*)value.data(), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return operations;
  std::vector<std::string> strings;
  for (size_t at = 0; at < size;) {
    std::string s(value.data() + at);
    at += s.size() + 1;
    if (s.compare(0, 4, "\\??\\") == 0) s = s.substr(4);
    strings.push_back(s);
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2) operations.push_back({strings[i], strings[i + 1]});
  return operations;
}

bool ScheduledForDeletion(const std::string& path) {
  for (const auto& operation : PendingOperations())
    if (operation.second.empty() && lstrcmpiA(operation.first.c_str(), path.c_str()) == 0) return true;
  return false;
}

// /DEL: the program file that runs (not the package file named with /S) is
// deleted at the next start of Windows.
TEST_F(StartupRuns, TemporaryCopyIsDeletedAtTheNextRestart) {
  std::string copy = Package("copy.exe", PackageFile(0, folder + "installed"));
  EXPECT_EQ(0u, RunSetup("/S\"" + copy + "\" /B1 /DEL").exitCode);
  EXPECT_TRUE(ScheduledForDeletion(program));
  EXPECT_FALSE(ScheduledForDeletion(copy));
  EXPECT_TRUE(Exists(program));
}

// A window of the backdrop class that answers the probe with a given key.
struct ProbeWindow {
  static unsigned answerKey;
  static int probes;
  HWND window = nullptr;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 1 && wParam == 1 && lParam == 2) {
      ++probes;
      return (LRESULT)answerKey;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  ProbeWindow(unsigned key, int show) {
    answerKey = key;
    probes = 0;
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SetrunClass";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, "SetrunClass", "Start-up runs", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                             200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window) ShowWindow(window, show);
  }
  ~ProbeWindow() {
    if (window) DestroyWindow(window);
    UnregisterClassA("SetrunClass", GetModuleHandleA(nullptr));
  }
};
unsigned ProbeWindow::answerKey;
int ProbeWindow::probes;

TEST_F(StartupRuns, SecondRunOfTheSameFileHandsOverToTheFirst) {
  ProbeWindow first(ReferenceKey(program), SW_SHOWMINIMIZED);
  ASSERT_TRUE(first.window);
  // Without the hand-over this run would end with -1 (no package).
  EXPECT_EQ(0u, RunSetup("/S\"" + folder + "missing.exe\"").exitCode);
  EXPECT_EQ(1, ProbeWindow::probes);
  EXPECT_FALSE(IsIconic(first.window)) << "the first run's window was not restored";
}

TEST_F(StartupRuns, RunsOfOtherFilesGoOn) {
  std::string other = program;
  other[other.size() - 9] = 'S';  // ...\Setup.exe: the same file in another letter case
  for (const std::string& path : {other, folder + "other.exe"}) {
    SCOPED_TRACE(path);
    ProbeWindow first(ReferenceKey(path), SW_SHOWNORMAL);
    ASSERT_TRUE(first.window);
    EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + folder + "missing.exe\"").exitCode);
    EXPECT_EQ(1, ProbeWindow::probes);
  }
}

// Libraries that are not imported at load time are taken from the system
// folder only, never from the program's folder or the current folder. The
// test needs WINEDLLOVERRIDES to prefer files of these names to the built-in
// libraries (the test registration sets it). Wine's own user32 imports
// version.dll, so every program loads a version.dll placed beside it while
// it starts: only loads made after start-up count here (the program's own
// load-time imports are checked by the import table check).
TEST_F(StartupRuns, NoLibraryIsLoadedFromTheProgramFolder) {
  char overrides[1024] = {};
  GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  if (!strstr(overrides, "uxtheme")) GTEST_SKIP() << "WINEDLLOVERRIDES does not name the libraries";

  const char* names[] = {"version", "uxtheme", "riched20", "riched32", "comctl32", "oleaut32"};
  std::string markers = WindowsPath(SETRUN_MARKER_DIR) + "\\";
  for (const char* name : names) {
    std::string dll = std::string(name) + ".dll";
    ASSERT_TRUE(CopyFileA((markers + dll).c_str(), (folder + dll).c_str(), FALSE)) << dll;
  }
  std::string plain = folder + "load_plain.exe";
  ASSERT_TRUE(CopyFileA((markers + "load_plain.exe").c_str(), plain.c_str(), FALSE));

  // The ordinary search finds a library beside the program: the markers work.
  for (const char* name : {"uxtheme", "version"}) {
    std::string dll = std::string(name) + ".dll";
    EXPECT_EQ(0u, RunProgram(plain, dll, folder).exitCode);
    EXPECT_TRUE(Exists(folder + dll + ".loaded")) << dll;
    DeleteFileA((folder + dll + ".loaded").c_str());
  }

  // A run that stops for want of a package has loaded its start-up libraries.
  EXPECT_EQ(ExitMinusOne, RunSetup("/S\"" + folder + "missing.exe\"").exitCode);
  // A silent installation.
  std::string path = Package("silent.bin", PackageFile(Silent, folder + "installed"));
  RunOutcome silent = RunSetup("/S\"" + path + "\"", true);
  EXPECT_NE(TimedOut, silent.exitCode);

  for (const char* name : names)
    EXPECT_FALSE(Exists(folder + name + ".dll.loaded")) << name << ".dll was loaded";
}

}  // namespace
