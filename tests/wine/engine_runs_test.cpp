// Programs and documents that the run entries start, under Wine with the
// real shell and registry: the phases with and without a pending restart,
// waiting, the Windows Installer's command line, documents through their
// association (and the association's command when the shell fails), links
// as documents, and the copy and RunOnce value of the relaunch after a
// restart. The programs started are copies of run_recorder.exe, which logs
// each start.
#include "tests/wine/engine_fixture.h"

#include <algorithm>

#include "engine/relaunch.h"
#include "engine/restart.h"
#include "engine/run_entries.h"
#include "engine/run_once.h"
#include "wizard/formatted_text.h"

using namespace enginetest;

namespace {

const u32 Wait = FileFlagWait, Defer = FileFlagDeferRun, Document = FileFlagDocument;
u32 Phase(u32 n) { return RunPhaseValue(n); }

const char RunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const DWORD LogDeadline = 60000;

std::string HelperPath(const char* name) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir = self;
  return dir.substr(0, dir.rfind('\\') + 1) + name;
}

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// One line of the recorder's log.
struct Start {
  std::string name, commandLine, folder;
};

void DeleteRunOnceValues() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunOnceKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (u32 i = 0; i < RunOnceNames; ++i) {
    char name[12];
    RunOnceValueName(name, i);
    RegDeleteValueA(key, name);
  }
  RegCloseKey(key);
}

std::string RunOnceValue(u32 number) {
  char name[12];
  RunOnceValueName(name, number);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunOnceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<no key>";
  char value[1024] = "";
  DWORD size = sizeof value, type = 0;
  LONG r = RegQueryValueExA(key, name, nullptr, &type, (BYTE*)value, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "<none>";
  EXPECT_EQ((DWORD)REG_SZ, type);
  EXPECT_EQ(strlen(value) + 1, size) << "stored with its terminator";
  return value;
}

void SetString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY handle;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, key.c_str(), &handle));
  RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
  RegCloseKey(handle);
}

// The temporary copies of the relaunch now in the temporary folder.
std::vector<std::string> RelaunchCopies() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(temp) + "_inst*.exe").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(Lower(found.cFileName));
  while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

class RunsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    log_ = dir_ + "\\runs.log";
    // The recorders started from here inherit where to log.
    SetEnvironmentVariableA("SETRUN_RECORDER_LOG", log_.c_str());
    recorder_ = ReadAll(HelperPath("run_recorder.exe"));
    ASSERT_FALSE(recorder_.empty()) << "build run_recorder in the Windows build";
    RunOnceCounter = 0;
  }
  void TearDown() override {
    ForcedPageMode = 0;
    RestartState = 0;
    EngineTest::TearDown();
  }

  // A copy of the recorder as a file entry of the package.
  void Program(const std::string& name, u32 flags, const std::string& arguments = "") {
    File f;
    f.name = name;
    f.data = recorder_;
    f.flags = FileFlagWindowsMask | flags;
    f.text[8] = arguments;
    pkg_.files.push_back(f);
  }
  void DocumentFile(const std::string& name, u32 flags) {
    File f = MakeFile(name, 100, 7);
    f.flags = FileFlagWindowsMask | Document | flags;
    pkg_.files.push_back(f);
  }

  // Loads the package and installs its files.
  void Install() {
    Load();
    ASSERT_EQ((int)pkg_.files.size(), InstallAll());
  }

  std::vector<Start> Log() {
    std::vector<Start> lines;
    std::string text = Text(ReadAll(log_));
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      at = end + 2;
      Start s;
      size_t bar = line.find('|'), last = line.rfind('|');
      s.name = Lower(line.substr(0, bar));
      s.commandLine = line.substr(bar + 1, last > bar ? last - bar - 1 : std::string::npos);
      s.folder = last > bar ? line.substr(last + 1) : "";
      lines.push_back(s);
    }
    return lines;
  }
  // The names of the log's lines (ends marked name|end).
  std::string Names() {
    std::string names;
    for (const Start& s : Log())
      names += (names.empty() ? "" : " ") + s.name + (s.commandLine == "end" ? "|end" : "");
    return names;
  }
  // Waits until the log holds `count` lines (programs started without
  // waiting log on their own time).
  std::vector<Start> LogOf(size_t count) {
    DWORD start = GetTickCount();
    while (Log().size() < count && GetTickCount() - start < LogDeadline) Sleep(50);
    return Log();
  }
  void ClearLog() { DeleteFileA(log_.c_str()); }

  std::string log_;
  Bytes recorder_;
};

// The phases during the installation and in the continuation run, with and
// without a pending restart. Every program here is waited for, so the log
// is complete when RunEntries returns.
TEST_F(RunsTest, PhasesRunOrWaitForTheRestart) {
  Program("a1.exe", Phase(1) | Wait, "#InstallDir#\\data --x");
  Program("a1d.exe", Phase(1) | Defer | Wait);
  Program("a2.exe", Phase(2) | Wait);
  Program("a3.exe", Phase(3) | Wait);
  Program("a4.exe", Phase(4) | Wait);
  Program("a6.exe", Phase(6) | Wait);
  Program("plain.exe", Wait);

  // No restart: everything of phases 1 to 4; phase 1 with the finishing step.
  Install();
  FinishInstallation();
  EXPECT_EQ("a1.exe a1d.exe", Names());
  RunEntries(Phase(2), RunKindAll, 1);
  RunEntries(Phase(3), RunKindAll, 1);
  RunEntries(Phase(4), RunKindPrograms, 1);
  EXPECT_EQ("a1.exe a1d.exe a2.exe a3.exe a4.exe", Names());
  // Arguments with folder variables; the program runs in its folder.
  const Start first = Log()[0];
  EXPECT_EQ("\"" + In("a1.exe") + "\" " + install_ + "\\data --x", first.commandLine);
  EXPECT_EQ(Lower(install_), Lower(first.folder));
  EXPECT_EQ(1, HasDeferredRuns());

  // A restart is pending: deferred entries of phase 1, phase 3 and the
  // programs of phase 4 wait for the continuation run.
  ClearLog();
  Install();
  RestartState = 1;
  FinishInstallation();
  RunEntries(Phase(2), RunKindAll, 1);
  RunEntries(Phase(3), RunKindAll, 1);
  RunEntries(Phase(4), RunKindPrograms, 1);
  EXPECT_EQ("a1.exe a2.exe", Names());
  // The continuation run after the restart.
  ClearLog();
  for (u32 phase = 1; phase <= 3; ++phase) RunEntries(Phase(phase), RunKindAll, 0);
  RunEntries(Phase(4), RunKindPrograms, 0);
  EXPECT_EQ("a1d.exe a3.exe a4.exe", Names());

  // A forced-page package starts nothing.
  ClearLog();
  ForcedPageMode = 1;
  RunEntries(Phase(3), RunKindAll, 0);
  EXPECT_EQ("", Names());
}

// A program that is waited for ends before the next one starts; one that
// is not waited for is still running when the next one starts (it waits
// for that one's line, and would time out if the setup waited for it).
TEST_F(RunsTest, WaitingForAProgramOrNot) {
  Program("w.exe", Phase(3) | Wait, "--sleep-ms=300");
  Program("n.exe", Phase(3), "--until=x.exe");
  Program("x.exe", Phase(3) | Wait);
  Install();
  RunEntries(Phase(3), RunKindAll, 1);
  std::vector<Start> log = LogOf(5);
  std::vector<std::string> names;
  for (const Start& s : log) names.push_back(s.name + (s.commandLine == "end" ? "|end" : ""));
  ASSERT_EQ(5u, names.size()) << Names();
  // w ended before n started; n and x log their starts in either order,
  // and n ends only once x has started.
  EXPECT_EQ("w.exe w.exe|end", names[0] + " " + names[1]);
  std::vector<std::string> rest(names.begin() + 2, names.end());
  EXPECT_EQ("n.exe|end", rest.back()) << Names();
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ((std::vector<std::string>{"n.exe", "n.exe|end", "x.exe"}), rest) << Names();
}

class InstallerTest : public RunsTest {
 protected:
  void SetUp() override {
    RunsTest::SetUp();
    char system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    installer_ = std::string(system) + "\\msiexec.exe";
    saved_ = dir_ + "\\msiexec.saved";
    // The system's msiexec gives way to the recorder; Wine takes the file
    // when told to prefer native programs of that name.
    ASSERT_TRUE(CopyFileA(installer_.c_str(), saved_.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(HelperPath("run_recorder.exe").c_str(), installer_.c_str(), FALSE));
    SetString(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "msiexec.exe", "native");
  }
  void TearDown() override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
      RegDeleteValueA(key, "msiexec.exe");
      RegCloseKey(key);
    }
    CopyFileA(saved_.c_str(), installer_.c_str(), FALSE);
    RunsTest::TearDown();
  }
  std::string installer_, saved_;
};

// ".msi" packages (any letter case) go to the system's msiexec with /i, the
// quoted package and the expanded arguments, in the installation folder.
TEST_F(InstallerTest, PackagesGoToMsiexec) {
  File package = MakeFile("Setup Files\\SETUP.MSI", 64, 1);
  package.flags |= Phase(3) | Wait;
  package.text[8] = "/qb TARGETDIR=\"#InstallDir#\"";
  pkg_.files.push_back(package);
  File plain = MakeFile("plain.msi", 64, 2);
  plain.flags |= Phase(3) | Wait;
  pkg_.files.push_back(plain);
  Install();
  RunEntries(Phase(3), RunKindAll, 1);
  std::vector<Start> log = Log();
  ASSERT_EQ(2u, log.size()) << Names();
  EXPECT_EQ("msiexec.exe", log[0].name);
  EXPECT_EQ("\"" + installer_ + "\" /i \"" + In("Setup Files\\SETUP.MSI") + "\" /qb TARGETDIR=\"" +
                install_ + "\"",
            log[0].commandLine);
  EXPECT_EQ(Lower(install_), Lower(log[0].folder));
  EXPECT_EQ("\"" + installer_ + "\" /i \"" + In("plain.msi") + "\"", log[1].commandLine);
}

class DocumentTest : public RunsTest {
 protected:
  void SetUp() override {
    RunsTest::SetUp();
    const std::string command = "\"" + HelperPath("run_recorder.exe") + "\" \"%1\"";
    SetString(HKEY_CLASSES_ROOT, ".srdoc", nullptr, "SetrunTest.Document");
    SetString(HKEY_CLASSES_ROOT, "SetrunTest.Document\\shell\\open\\command", nullptr, command);
    SetString(HKEY_CLASSES_ROOT, "setruntest", nullptr, "URL:Setrun test");
    SetString(HKEY_CLASSES_ROOT, "setruntest", "URL Protocol", "");
    SetString(HKEY_CLASSES_ROOT, "setruntest\\shell\\open\\command", nullptr, command);
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetrunTest.Document\\shell\\open\\command");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetrunTest.Document\\shell\\open");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetrunTest.Document\\shell");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "SetrunTest.Document");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".srdoc");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "setruntest\\shell\\open\\command");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "setruntest\\shell\\open");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "setruntest\\shell");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "setruntest");
    RunsTest::TearDown();
  }
  // The document a recorder was started for: the last argument of its
  // command line, as a long path.
  static std::string Opened(const Start& s) {
    std::string line = s.commandLine;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::string path;
    if (line.size() > 1 && line.back() == '"') {
      size_t open = line.rfind('"', line.size() - 2);
      path = line.substr(open + 1, line.size() - open - 2);
    } else {
      path = line.substr(line.rfind(' ') + 1);
    }
    char longPath[MAX_PATH];
    if (GetLongPathNameA(path.c_str(), longPath, MAX_PATH)) path = longPath;
    return Lower(path);
  }
};

TEST_F(DocumentTest, DocumentsOpenWithTheirAssociation) {
  DocumentFile("Read Me.srdoc", Phase(4));
  DocumentFile("gone.srdoc", Phase(4));
  Program("p4.exe", Phase(4) | Wait);
  Install();
  // A document whose file is gone is passed over.
  ASSERT_TRUE(DeleteFileA(In("gone.srdoc").c_str()));
  RunEntries(Phase(4), RunKindDocuments, 1);
  std::vector<Start> log = LogOf(1);
  ASSERT_EQ(1u, log.size()) << Names();
  EXPECT_EQ(Lower(In("Read Me.srdoc")), Opened(log[0]));
  EXPECT_EQ(Lower(install_), Lower(log[0].folder));

  // When the shell cannot open the document, the association's command is
  // run with the path: cut at "%1", a blank and the path.
  ClearLog();
  const std::string absent = dir_ + "\\nowhere\\absent.srdoc";
  OpenDocument(absent.c_str(), ".srdoc");
  log = LogOf(1);
  ASSERT_EQ(1u, log.size()) << Names();
  EXPECT_EQ("\"" + HelperPath("run_recorder.exe") + "\"  " + absent, log[0].commandLine);
  // Nothing is run for an extension without an association: only the
  // document opened after them shows.
  ClearLog();
  OpenDocument(absent.c_str(), ".srnone");
  OpenDocument(absent.c_str(), "");
  OpenDocument(In("Read Me.srdoc").c_str(), ".srdoc");
  log = LogOf(1);
  ASSERT_EQ(1u, log.size()) << Names();
  EXPECT_EQ(Lower(In("Read Me.srdoc")), Opened(log[0]));
}

// A link of a formatted text opens as a document: a web address through
// the shell, without a working folder.
TEST_F(DocumentTest, LinksOpenAsDocuments) {
  ASSERT_TRUE(OpenLinkTarget != nullptr);
  OpenLinkTarget("setruntest://example/page", ".htm");
  std::vector<Start> log = LogOf(1);
  ASSERT_EQ(1u, log.size()) << Names();
  EXPECT_NE(std::string::npos, log[0].commandLine.find("setruntest://example/page"))
      << log[0].commandLine;
}

// After the installation, the copy for the continuation run holds the
// program up to the data length word, and its command goes to the first
// free RunOnce value from the shared counter on.
TEST_F(RunsTest, RelaunchAfterRestartStoresACopyAndARunOnceValue) {
  DeleteRunOnceValues();
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, RunOnceKey, &key));
  for (const char* name : {"ZPLaunch000", "ZPLaunch001"})
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)"taken", 6);
  RegCloseKey(key);
  Program("a3.exe", Phase(3));
  Load();
  const std::vector<std::string> before = RelaunchCopies();

  RunAfterInstall = 0;
  ASSERT_EQ(1, Relaunch(SW_SHOWNORMAL, 1));
  const std::string copy = TempPath;
  EXPECT_EQ("\"" + copy + "\" /B1 /DEL /N", RunOnceValue(2));
  EXPECT_EQ(3u, RunOnceCounter);
  const Bytes program = ReadAll(program_);
  ASSERT_GT(program.size(), DataAreaOffset + 4);
  EXPECT_EQ(Bytes(program.begin(), program.begin() + DataAreaOffset + 4), ReadAll(copy));

  RunAfterInstall = 1;
  ASSERT_EQ(1, Relaunch(SW_SHOWNORMAL, 1));
  const std::string second = TempPath;
  EXPECT_NE(Lower(copy), Lower(second));
  EXPECT_EQ("\"" + second + "\" /B1 /DEL", RunOnceValue(3));
  EXPECT_EQ(before.size() + 2, RelaunchCopies().size());

  // No name left below 100: nothing is arranged and no copy stays.
  RunOnceCounter = 98;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, RunOnceKey, &key));
  for (const char* name : {"ZPLaunch098", "ZPLaunch099"})
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)"taken", 6);
  RegCloseKey(key);
  EXPECT_EQ(0, Relaunch(SW_SHOWNORMAL, 1));
  EXPECT_EQ(100u, RunOnceCounter);
  EXPECT_EQ(before.size() + 2, RelaunchCopies().size());

  DeleteRunOnceValues();
  DeleteFileA(copy.c_str());
  DeleteFileA(second.c_str());
  RunAfterInstall = 1;
}

// A relaunch that cannot be made leaves no temporary file behind.
TEST_F(RunsTest, AFailedRelaunchLeavesNoCopy) {
  const std::vector<std::string> before = RelaunchCopies();
  CopyText(ProgramPath, (dir_ + "\\missing.exe").c_str(), PathSize);
  EXPECT_EQ(0, Relaunch(SW_SHOWNORMAL, 0));
  // A program file without a package.
  ASSERT_TRUE(Package::WriteAll(dir_ + "\\bare.exe", Bytes(5000, 0x90)));
  CopyText(ProgramPath, (dir_ + "\\bare.exe").c_str(), PathSize);
  EXPECT_EQ(0, Relaunch(SW_SHOWNORMAL, 0));
  EXPECT_EQ(before, RelaunchCopies());
}

// Temporary names take the first free number; a name in use is never
// reused, and after 998 numbers there is none.
TEST_F(RunsTest, TemporaryFilesTakeTheFirstFreeNumber) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string stem = "setrun-tf-" + std::to_string(GetCurrentProcessId()) + "-";
  const std::string pattern = stem + "%d.tmp";
  auto name = [&](int i) { return std::string(temp) + stem + std::to_string(i) + ".tmp"; };
  for (int i = 1; i <= 2; ++i) ASSERT_TRUE(Package::WriteAll(name(i), Bytes{'x'}));
  char path[PathSize];
  FileHandle file = CreateTempFile(path, pattern.c_str());
  ASSERT_NE(InvalidFile, file);
  CloseFile(file);
  EXPECT_EQ(Lower(name(3)), Lower(path));
  EXPECT_EQ(Bytes{'x'}, ReadAll(name(1)));

  for (int i = 4; i <= 998; ++i) ASSERT_TRUE(Package::WriteAll(name(i), Bytes()));
  EXPECT_EQ(InvalidFile, CreateTempFile(path, pattern.c_str()));
  EXPECT_STREQ("", path);
  for (int i = 1; i <= 998; ++i) DeleteFileA(name(i).c_str());
}
