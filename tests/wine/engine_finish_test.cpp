// The finishing step and the overwrite rules under Wine: the uninstaller
// file byte by byte (also appended to a completed one), the Uninstall entry,
// the install-folder value and INI entry, deferred entries, SharedDLLs
// counts, the version and language questions, and moves at the next start
// of Windows on both families.
#include "tests/wine/engine_fixture.h"

#include "engine/restart.h"

using namespace enginetest;

namespace {

Bytes HeaderBytes(u16 type, u16 flags, u32 size) { return enginepkg::Header(type, flags, size); }

void PutLogString(Bytes& b, const std::string& s) {
  enginepkg::Put16(b, (u16)s.size());
  b.insert(b.end(), s.begin(), s.end());
}

Bytes LogEntry(const std::string& folder, const std::string& name, u8 flags) {
  Bytes b;
  PutLogString(b, folder);
  PutLogString(b, name);
  b.push_back(flags);
  return b;
}

// The file log record as the finishing step writes it.
Bytes FileLog(const std::vector<Bytes>& entries) {
  Bytes payload;
  enginepkg::Put32(payload, (u32)entries.size());
  for (const Bytes& e : entries) enginepkg::Append(payload, e);
  Bytes b = HeaderBytes(LogFiles, 0, (u32)payload.size());
  enginepkg::Append(b, payload);
  return b;
}

std::string RegString(HKEY root, const std::string& key, const char* name) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<none>";
  char value[600] = "";
  DWORD size = sizeof value, type = 0;
  LONG r = RegQueryValueExA(handle, name, nullptr, &type, (BYTE*)value, &size);
  RegCloseKey(handle);
  if (r != ERROR_SUCCESS || type != REG_SZ) return "<none>";
  // Written with the terminating NUL.
  EXPECT_EQ(size, strlen(value) + 1);
  return value;
}

const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char UninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

}  // namespace

class FinishTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unique_ = std::to_string(GetTickCount());
    image_ = enginepkg::Pattern(3000, 40);
    image_[0] = 'M';
    image_[1] = 'Z';
    logStart_ = HeaderBytes(0x1240, 0, 4);
    enginepkg::Append(logStart_, Bytes{'a', 'b', 'c', 'd'});
    enginepkg::Append(logStart_, HeaderBytes(RecordEndOfTables, 0, 0));
    registry_ = HeaderBytes(0x1237, 0, 5);
    enginepkg::Append(registry_, Bytes{'H', 'K', 'L', 'M', 0});
    pkg_.uninstallerImage = image_;
    pkg_.registryEntries = registry_;
    pkg_.displayName = "Engine Test " + unique_;
    pkg_.groupFlags = GroupFlagUninstallEntry | GroupFlagFolderToRegistry | GroupFlagFolderToIni;
    pkg_.registryRoot = 7;  // not a root number: the current user's
    pkg_.registryKey = "Software\\SetrunEngineTest\\" + unique_;
    pkg_.registryValue = "InstallPath";
    pkg_.iniFile = dir_ + "\\setup.ini";
    pkg_.iniSection = "Setup";
    pkg_.iniKey = "Folder";
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallRoot + pkg_.displayName).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, pkg_.registryKey.c_str());
    EngineTest::TearDown();
  }
  File Uninstaller() {
    File u;
    u.name = "uninst.exe";
    u.uninstaller = true;
    u.data = logStart_;
    return u;
  }
  Bytes Completed(const Bytes& front, const std::vector<Bytes>& entries) {
    Bytes b = front;
    enginepkg::Append(b, FileLog(entries));
    enginepkg::Append(b, registry_);
    enginepkg::Append(b, HeaderBytes(RecordEndOfTables, RecordCompletedLog, 0));
    return b;
  }

  std::string unique_;
  Bytes image_, logStart_, registry_;
};

TEST_F(FinishTest, CompletesTheUninstallerAndRegistersTheInstallation) {
  File notLogged = MakeFile("notlogged.txt", 10, 42);
  notLogged.flags |= FileFlagNotLogged;
  File otherOs = MakeFile("other.txt", 10, 43);
  otherOs.flags = OsWin95;
  File kept = MakeFile("keep.txt", 10, 44);
  kept.flags |= FileFlagOnlyIfAbsent;
  File folder;
  folder.name = "logs\\x";
  folder.flags |= FileFlagFolderEntry;
  File shared = MakeFile("s.dll", 100, 45);
  shared.kind = DestCustom;
  shared.customFolder = dir_ + "\\shared";
  shared.flags |= FileFlagShared | FileFlagCheckSpace;
  File component = MakeFile("comp.dll", 200, 46);
  component.flags |= FileFlagSelfRegister;
  pkg_.files = {Uninstaller(), MakeFile("app.exe", 5000, 41), MakeFile("data\\x.dat", 50, 47),
                folder, notLogged, otherOs, kept, shared, component};
  Load();
  HKEY sharedKey;  // counts are kept only where the system keeps them
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, SharedDlls, &sharedKey), ERROR_SUCCESS);
  RegCloseKey(sharedKey);
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("keep.txt"), Bytes{'o'}));
  ASSERT_EQ(InstallAll(), 9);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), 0);    // the uninstaller takes no part in the log
  EXPECT_EQ(State(8), 502);  // kept back until the finishing step
  EXPECT_STREQ(UninstallerPath, In("uninst.exe").c_str());
  EXPECT_EQ(std::string(UninstallerFolder), install_ + "\\");
  // Until the finishing step the uninstaller ends with the packaged header.
  Bytes front = image_;
  enginepkg::Append(front, logStart_);
  EXPECT_EQ(ReadAll(In("uninst.exe")), front);

  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(EngineBusy, 0);
  EXPECT_EQ(State(8), 25);
  EXPECT_EQ(ReadAll(In("comp.dll")), component.data);
  EXPECT_FALSE(Exists(In("comp.$$A")));

  front.resize(front.size() - RecordHeaderSize);
  Bytes expected = Completed(front, {LogEntry(".", "app.exe", 0), LogEntry(".\\data", "x.dat", 0),
                                     LogEntry(".\\logs", "x", 0), LogEntry(".", "keep.txt", 0),
                                     LogEntry(dir_ + "\\shared", "s.dll", 0x9),
                                     LogEntry(".", "comp.dll", 0x4)});
  EXPECT_EQ(ReadAll(In("uninst.exe")), expected);

  std::string uninstall = UninstallRoot + pkg_.displayName;
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, uninstall, "DisplayName"), pkg_.displayName);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, uninstall, "UninstallString"), In("uninst.exe"));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, pkg_.registryKey, "InstallPath"), install_);
  char ini[MAX_PATH] = "";
  GetPrivateProfileStringA("Setup", "Folder", "", ini, sizeof ini, pkg_.iniFile.c_str());
  EXPECT_EQ(std::string(ini), install_);
  EXPECT_EQ(std::string(InstallDir), install_ + "\\");

  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDlls, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  std::string sharedPath = dir_ + "\\shared\\s.dll";
  DWORD count = 0, size = sizeof count, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, sharedPath.c_str(), nullptr, &type, (BYTE*)&count, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(count, 1u);
  RegDeleteValueA(key, sharedPath.c_str());
  RegCloseKey(key);
}

TEST_F(FinishTest, AppendsToACompletedUninstaller) {
  pkg_.groupFlags |= GroupFlagAppendUninstaller;
  pkg_.files = {Uninstaller(), MakeFile("app.exe", 500, 48)};
  Load();
  ASSERT_EQ(InstallAll(), 2);
  FinishInstallation();
  Bytes first = ReadAll(In("uninst.exe"));
  ASSERT_GT(first.size(), image_.size());

  // Second installation: the completed uninstaller is passed over (no step)
  // and the new log goes over its closing header.
  pkg_.files = {Uninstaller(), MakeFile("app.exe", 500, 48), MakeFile("more.txt", 5, 49)};
  Load();
  ASSERT_EQ(InstallAll(), 2);
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
  Bytes front(first.begin(), first.end() - RecordHeaderSize);
  EXPECT_EQ(ReadAll(In("uninst.exe")),
            Completed(front, {LogEntry(".", "app.exe", 0), LogEntry(".", "more.txt", 0)}));
}

TEST_F(FinishTest, WithoutAnUninstallerEntryNothingIsLogged) {
  pkg_.files = {MakeFile("app.exe", 500, 50)};
  Load();
  ASSERT_EQ(InstallAll(), 1);
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(UninstallerPath[0], 0);
  // The Uninstall entry needs the uninstaller; the folder records do not.
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallRoot + pkg_.displayName, "DisplayName"),
            "<none>");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, pkg_.registryKey, "InstallPath"), install_);
}

TEST_F(FinishTest, ForcedPageModeRecordsNoFolder) {
  pkg_.files = {MakeFile("app.exe", 500, 51)};
  Load();
  ForcedPageMode = 1;
  ASSERT_EQ(InstallAll(), 1);
  FinishInstallation();
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, pkg_.registryKey, "InstallPath"), "<none>");
  EXPECT_FALSE(Exists(pkg_.iniFile));
}

TEST_F(FinishTest, SharedCountsRiseByOne) {
  File a = MakeFile("a.dll", 100, 52), b = MakeFile("b.dll", 100, 53);
  for (File* f : {&a, &b}) {
    f->kind = DestCustom;
    f->customFolder = dir_ + "\\shared";
    f->flags |= FileFlagShared;
  }
  File local = MakeFile("local.dll", 100, 54);  // in the install folder: not counted
  local.flags |= FileFlagShared;
  pkg_.files = {a, b, local};
  Load();
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, SharedDlls, &key), ERROR_SUCCESS);
  std::string pathA = dir_ + "\\shared\\a.dll", pathB = dir_ + "\\shared\\b.dll";
  DWORD three = 3;
  RegSetValueExA(key, pathA.c_str(), 0, REG_DWORD, (const BYTE*)&three, 4);
  ASSERT_EQ(InstallAll(), 3);
  FinishInstallation();
  DWORD count = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, pathA.c_str(), nullptr, &type, (BYTE*)&count, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 4u);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, pathB.c_str(), nullptr, &type, (BYTE*)&count, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  size = 4;
  EXPECT_NE(RegQueryValueExA(key, In("local.dll").c_str(), nullptr, &type, (BYTE*)&count, &size),
            ERROR_SUCCESS);
  RegDeleteValueA(key, pathA.c_str());
  RegDeleteValueA(key, pathB.c_str());
  RegCloseKey(key);
}

class VersionTest : public EngineTest {
 protected:
  // ver.dll: a copy of a system library with a version resource.
  void Existing() {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    CreateDirectoryA(install_.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((std::string(system) + "\\kernel32.dll").c_str(), In("ver.dll").c_str(),
                          FALSE));
    original_ = ReadAll(In("ver.dll"));
  }
  File Versioned(u32 flags, u32 ms, u32 language) {
    File f = MakeFile("ver.dll", 1000, 60);
    f.flags |= flags;
    f.versionMs = ms;
    f.language = language;
    return f;
  }
  Bytes original_;
};

TEST_F(VersionTest, ANewerFileIsKeptWithoutAQuestionWhenTheTextIsEmpty) {
  pkg_.files = {Versioned(FileFlagCompareVersion, 0x00000001, 0)};
  Load();
  Existing();
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(State(0), 501);
  EXPECT_EQ(ReadAll(In("ver.dll")), original_);
  FinishInstallation();
}

TEST_F(VersionTest, AnOlderFileIsReplaced) {
  pkg_.files = {Versioned(FileFlagCompareVersion, 0x7FFF0000, 0)};
  Load();
  Existing();
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(State(0), 23);
  EXPECT_EQ(ReadAll(In("ver.dll")), pkg_.files[0].data);
  FinishInstallation();
}

TEST_F(VersionTest, TheNewerQuestionDefaultsToKeeping) {
  pkg_.texts7[29] = "Newer %s";
  pkg_.files = {Versioned(FileFlagCompareVersion, 0x00000001, 0)};
  Load();
  Existing();
  Answerer answer(dir_ + "\\boxes.txt", "7");
  ASSERT_TRUE(PrepareInstallation());  // the question comes before any file
  EXPECT_EQ(answer.Finish(), 0);
  EXPECT_EQ(answer.Texts(), "Newer " + In("ver.dll") + "\n");
  while (InstallNextFile()) {
  }
  EXPECT_EQ(State(0), 501);
  EXPECT_EQ(ReadAll(In("ver.dll")), original_);
  FinishInstallation();

  // Silent: kept without a question.
  Load();
  SilentMode = 1;
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(State(0), 501);
  FinishInstallation();
}

TEST_F(VersionTest, AnotherLanguageIsAskedAndYesReplaces) {
  pkg_.texts7[30] = "Language %s";
  pkg_.files = {Versioned(FileFlagCompareLanguage, 0, 0x0405)};
  Load();
  Existing();
  Answerer answer(dir_ + "\\boxes.txt", "6");
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(answer.Finish(), 0);
  EXPECT_EQ(answer.Texts(), "Language " + In("ver.dll") + "\n");
  EXPECT_EQ(State(0), 23);
  EXPECT_EQ(ReadAll(In("ver.dll")), pkg_.files[0].data);
  FinishInstallation();
}

TEST_F(EngineTest, RestartMovesOnTheNineXFamilyGoToWininit) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  std::string ini = std::string(windows) + "\\WININIT.INI";
  DeleteFileA(ini.c_str());
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("new.$$A"), Bytes{1}));
  ASSERT_TRUE(Package::WriteAll(In("old.dll"), Bytes{2}));
  ASSERT_TRUE(Package::WriteAll(In("gone.tmp"), Bytes{3}));
  char shortNew[MAX_PATH], shortOld[MAX_PATH], shortGone[MAX_PATH];
  GetShortPathNameA(In("new.$$A").c_str(), shortNew, MAX_PATH);
  GetShortPathNameA(In("old.dll").c_str(), shortOld, MAX_PATH);
  GetShortPathNameA(In("gone.tmp").c_str(), shortGone, MAX_PATH);
  SetFileAttributesA(In("old.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  IsWinNT = 0;
  EXPECT_EQ(ReplaceAtRestart(In("old.dll").c_str(), In("new.$$A").c_str()), 1);
  EXPECT_FALSE(GetFileAttributesA(In("old.dll").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReplaceAtRestart(nullptr, In("gone.tmp").c_str()), 1);
  IsWinNT = 1;
  std::string text = Text(ReadAll(ini));
  DeleteFileA(ini.c_str());
  EXPECT_NE(text.find("[Rename]"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string(shortOld) + "=" + shortNew), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("NUL=") + shortGone), std::string::npos) << text;
  EXPECT_EQ(text.find("xyz="), std::string::npos) << text;
}

TEST_F(EngineTest, RestartMovesOnTheNtFamilyArePendingRenames) {
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("gone.tmp"), Bytes{3}));
  IsWinNT = 1;
  EXPECT_EQ(ReplaceAtRestart(nullptr, In("gone.tmp").c_str()), 1);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  std::vector<char> value(65536);
  DWORD size = (DWORD)value.size(), type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                             (BYTE*)value.data(), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::string all(value.data(), size);
  EXPECT_NE(all.find(In("gone.tmp")), std::string::npos);
}

TEST_F(FinishTest, AnUninstallerEntryWithoutTheProgramWritesNoUninstaller) {
  pkg_.uninstallerImage.clear();
  pkg_.files = {Uninstaller(), MakeFile("app.exe", 500, 55)};
  Load();
  ASSERT_EQ(InstallAll(), 2);
  EXPECT_EQ(State(0), 0);
  EXPECT_FALSE(Exists(In("uninst.exe")));
  EXPECT_EQ(UninstallerPath[0], 0);
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallRoot + pkg_.displayName, "DisplayName"),
            "<none>");
}

TEST_F(FinishTest, TheUninstallEntryGoesToTheUserWhenTheMachineKeyFails) {
  // The machine's key cannot be made: a name below a volatile key must be
  // volatile too, which the engine's is not. (Wine grants a user every
  // registry key, so a key closed to writing cannot stand in here.)
  std::string parent = UninstallRoot + pkg_.displayName;
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string machineName = pkg_.displayName;
  pkg_.displayName += "\\Entry";
  std::string uninstall = UninstallRoot + pkg_.displayName;

  pkg_.files = {Uninstaller(), MakeFile("app.exe", 500, 56)};
  Load();
  ASSERT_EQ(InstallAll(), 2);
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, uninstall, "DisplayName"), "<none>");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, uninstall, "DisplayName"), pkg_.displayName);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, uninstall, "UninstallString"), In("uninst.exe"));

  RegDeleteKeyA(HKEY_CURRENT_USER, uninstall.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
  pkg_.displayName = machineName;  // TearDown removes the volatile key
}
