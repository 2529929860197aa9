// Destination paths, folder creation, free space and the space check against
// the real file system, shell folders and version library.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "package/tables.h"
#include "paths/destination.h"
#include "base/run_state.h"
#include "tests/wine/wine_support.h"

namespace {

struct Entry {
  u32 kind;
  std::string name;
  std::string folder;  // string 9, kind 8 only
  u32 flags = 0;
  u32 size = 0;
};

std::vector<u8> MakeEntry(const Entry& e) {
  std::vector<u8> entry(EntryFixedSize, 0);
  WriteU32(&entry[EntrySize], e.size);
  WriteU32(&entry[EntryFlags], e.flags);
  WriteU32(&entry[EntryDestination], e.kind);
  entry.insert(entry.end(), e.name.begin(), e.name.end());
  entry.insert(entry.end(), 9, 0);  // ends string 0; strings 1 to 8 empty
  if (e.kind == DestCustom) {
    entry.insert(entry.end(), e.folder.begin(), e.folder.end());
    entry.push_back(0);
  }
  WriteU16(&entry[EntryLength], (u16)entry.size());
  return entry;
}

std::vector<u8> FileList(const std::vector<Entry>& entries) {
  std::vector<u8> list(4, 0);
  WriteU32(list.data(), (u32)entries.size());
  for (const Entry& e : entries) {
    std::vector<u8> entry = MakeEntry(e);
    list.insert(list.end(), entry.begin(), entry.end());
  }
  return list;
}

int Resolve(const Entry& e) {
  std::vector<u8> entry = MakeEntry(e);
  return ResolveTargetPath(entry.data());
}

std::string ShellPath(int id) {
  char path[MAX_PATH] = "";
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, path, id, FALSE)) << id;
  return path;
}

std::string WindowsFolder() {
  char path[MAX_PATH];
  GetWindowsDirectoryA(path, MAX_PATH);
  return path;
}

std::string SystemFolder() {
  char path[MAX_PATH];
  GetSystemDirectoryA(path, MAX_PATH);
  return path;
}

std::string CurrentFolder() {
  char path[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, path);
  return path;
}

// The folder of this test program (its helper programs are built there).
std::string ProgramFolder() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  return path.substr(0, path.rfind('\\'));
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFile(const std::string& path, u32 size = 10) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  std::vector<char> data(size, 'x');
  DWORD done = 0;
  ::WriteFile(file, data.data(), size, &done, nullptr);
  CloseHandle(file);
}

using winetest::RemoveTree;

// Every test works below a fresh folder of its own in the temporary folder.
class PathsTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    tempFolder = temp;
    base = tempFolder + "SetrunPaths";
    SetCurrentDirectoryA(tempFolder.c_str());
    RemoveTree(base);
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    savedProgram = ProgramPath;
    CopyText(InstallDir, (base + "\\").c_str(), PathSize);
    TargetPath[0] = ErrorDetail[0] = 0;
    SilentMode = ForcedPageMode = 0;
  }
  void TearDown() override {
    SetCurrentDirectoryA(tempFolder.c_str());
    RemoveTree(base);
    CopyText(ProgramPath, savedProgram.c_str(), PathSize);
    InstallDir[0] = TargetPath[0] = ErrorDetail[0] = 0;
    SilentMode = ForcedPageMode = 0;
  }
  std::string tempFolder, base, savedProgram;
};

}  // namespace

// ---------------------------------------------------------------------------
// ResolveTargetPath

TEST_F(PathsTest, KindsWithTheRelativeName) {
  EXPECT_EQ(Resolve({DestInstallDir, "sub\\file.ext"}), 0);
  EXPECT_EQ(std::string(TargetPath), base + "\\sub\\file.ext");
  EXPECT_EQ(Resolve({DestDocuments, "sub\\file.ext"}), 0);
  EXPECT_EQ(std::string(TargetPath), ShellPath(CSIDL_PERSONAL) + "\\sub\\file.ext");
  EXPECT_EQ(Resolve({DestAppData, "Vendor\\app.cfg"}), 0);
  EXPECT_EQ(std::string(TargetPath), ShellPath(CSIDL_APPDATA) + "\\Vendor\\app.cfg");
}

TEST_F(PathsTest, KindsWithTheBaseName) {
  EXPECT_EQ(Resolve({DestWindows, "sub\\file.ext"}), 0);
  EXPECT_EQ(std::string(TargetPath), WindowsFolder() + "\\file.ext");
  EXPECT_EQ(Resolve({DestDesktop, "sub\\Tool.lnk"}), 0);
  EXPECT_EQ(std::string(TargetPath), ShellPath(CSIDL_DESKTOPDIRECTORY) + "\\Tool.lnk");
  EXPECT_EQ(Resolve({DestFonts, "fonts\\setrun-absent.ttf"}), 0);
  EXPECT_EQ(std::string(TargetPath), ShellPath(CSIDL_FONTS) + "\\setrun-absent.ttf");
  // Kinds without a folder of their own go to the installation folder.
  for (u32 kind : {4u, 6u, 7u, 11u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Resolve({kind, "sub\\file.ext"}), 0);
    EXPECT_EQ(std::string(TargetPath), base + "\\file.ext") << kind;
  }
}

TEST_F(PathsTest, SharedSystemFilesGoWhereTheVersionLibrarySays) {
  EXPECT_EQ(Resolve({DestSystem, "bin\\setrun-shared.dll"}), 0);
  std::string target = TargetPath;
  std::string folder = target.substr(0, target.rfind('\\'));
  EXPECT_EQ(target.substr(target.rfind('\\')), "\\setrun-shared.dll");
  EXPECT_TRUE(lstrcmpiA(folder.c_str(), SystemFolder().c_str()) == 0 ||
              lstrcmpiA(folder.c_str(), WindowsFolder().c_str()) == 0)
      << target;
  // The library was loaded from the system folder and let go again.
  HMODULE version = GetModuleHandleA("version.dll");
  if (version) {
    char loaded[MAX_PATH];
    GetModuleFileNameA(version, loaded, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(std::string(loaded).substr(0, SystemFolder().size()).c_str(),
                        SystemFolder().c_str()),
              0)
        << loaded;
  }
}

TEST_F(PathsTest, TheVersionLibraryIsNeverTakenFromTheCurrentFolder) {
  std::string marker = ProgramFolder() + "\\markers\\version.dll";
  if (GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the marker libraries are built with the whole test build";
  ASSERT_TRUE(CopyFileA(marker.c_str(), (base + "\\version.dll").c_str(), FALSE));
  SetCurrentDirectoryA(base.c_str());
  Resolve({DestSystem, "setrun-shared.dll"});
  EXPECT_NE(std::string(TargetPath), "");
  EXPECT_EQ(GetFileAttributesA((base + "\\version.dll.loaded").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PathsTest, FilesInUseAreReportedForSystemFilesAndFonts) {
  std::string font = ShellPath(CSIDL_FONTS) + "\\setrun-held.ttf";
  WriteFile(font);
  HANDLE held = CreateFileA(font.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Resolve({DestFonts, "setrun-held.ttf"}), 1);
  EXPECT_EQ(std::string(TargetPath), font);
  // Other kinds never look.
  CopyText(InstallDir, ShellPath(CSIDL_FONTS).c_str(), PathSize);
  EXPECT_EQ(Resolve({DestInstallDir, "setrun-held.ttf"}), 0);
  CloseHandle(held);
  EXPECT_EQ(Resolve({DestFonts, "setrun-held.ttf"}), 0);
  DeleteFileA(font.c_str());

  CopyText(InstallDir, (base + "\\").c_str(), PathSize);
  EXPECT_EQ(Resolve({DestSystem, "setrun-held.dll"}), 0);
  std::string shared = TargetPath;
  WriteFile(shared);
  held = CreateFileA(shared.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Resolve({DestSystem, "setrun-held.dll"}), 1);
  EXPECT_EQ(std::string(TargetPath), shared);
  CloseHandle(held);
  DeleteFileA(shared.c_str());
}

TEST_F(PathsTest, CustomFoldersAreExpanded) {
  EXPECT_EQ(Resolve({DestCustom, "sub\\tool.exe", "#AppData#\\Tool"}), 0);
  EXPECT_EQ(std::string(TargetPath), ShellPath(CSIDL_APPDATA) + "\\Tool\\tool.exe");
  EXPECT_EQ(Resolve({DestCustom, "tool.exe", "#InstallDir#\\Plug-ins\\"}), 0);
  EXPECT_EQ(std::string(TargetPath), base + "\\Plug-ins\\tool.exe");
  // No folder: the bare name, relative to the current folder.
  EXPECT_EQ(Resolve({DestCustom, "sub\\tool.exe", ""}), 0);
  EXPECT_STREQ(TargetPath, "tool.exe");
}

TEST_F(PathsTest, FilesBesideTheProgramFile) {
  CopyText(ProgramPath, "E:\\setup.exe", PathSize);
  EXPECT_EQ(Resolve({DestSystem, "data\\a.txt", "", FileFlagSourceFolder}), 0);
  EXPECT_STREQ(TargetPath, "E:\\data\\a.txt");
  CopyText(ProgramPath, "setup.exe", PathSize);
  EXPECT_EQ(Resolve({DestInstallDir, "a.txt", "", FileFlagSourceFolder}), 0);
  EXPECT_STREQ(TargetPath, "a.txt");
}

TEST_F(PathsTest, OverLongPathsAreRefusedNotCut) {
  // 259 characters is the longest path the file calls take.
  std::string folder = "C:\\" + std::string(240, 'f');
  CopyText(InstallDir, (folder + "\\").c_str(), PathSize);
  EXPECT_EQ(Resolve({DestInstallDir, std::string(15, 'n')}), 0);
  EXPECT_EQ(strlen(TargetPath), 259u);

  EXPECT_EQ(Resolve({DestInstallDir, "sub\\" + std::string(40, 'n')}), TargetTooLong);
  EXPECT_STREQ(TargetPath, "");
  EXPECT_EQ(std::string(ErrorDetail).substr(0, folder.size() + 5), folder + "\\sub\\");
  EXPECT_EQ(strlen(ErrorDetail), 259u);

  // A custom folder whose expansion does not fit a path.
  ErrorDetail[0] = 0;
  std::string custom = "#InstallDir#\\" + std::string(30, 'c');
  EXPECT_EQ(Resolve({DestCustom, "tool.exe", custom}), TargetTooLong);
  EXPECT_STREQ(TargetPath, "");
  EXPECT_EQ(std::string(ErrorDetail).substr(0, folder.size()), folder);

  // A name far longer than TargetPath itself.
  EXPECT_EQ(Resolve({DestWindows, std::string(700, 'n')}), TargetTooLong);
  EXPECT_STREQ(TargetPath, "");
  CopyText(ProgramPath, (folder + "\\setup.exe").c_str(), PathSize);
  EXPECT_EQ(Resolve({DestInstallDir, std::string(30, 'd'), "", FileFlagSourceFolder}),
            TargetTooLong);
  EXPECT_STREQ(TargetPath, "");
}

// ---------------------------------------------------------------------------
// MakeFullPath

TEST_F(PathsTest, MakeFullPathAgainstTheCurrentFolder) {
  SetCurrentDirectoryA(base.c_str());
  // The longest name whose full form still fits a path.
  const std::string longest(PathSize - 1 - base.size() - 1, 'n');
  const struct {
    std::string path, expected;  // expected empty: refused
  } cases[] = {
      {"setup.exe", base + "\\setup.exe"},
      {"sub\\..\\pkg\\setup.exe", base + "\\pkg\\setup.exe"},
      {base + "\\setup.exe", base + "\\setup.exe"},
      {longest, base + "\\" + longest},
      {longest + "n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    char path[PathSize];
    CopyText(path, c.path.c_str(), PathSize);
    EXPECT_EQ(MakeFullPath(path, PathSize), c.expected.empty() ? 0 : 1);
    EXPECT_EQ(std::string(path), c.expected);
  }
}

// ---------------------------------------------------------------------------
// FileInUse

TEST_F(PathsTest, FileInUse) {
  std::string file = base + "\\file.dat";
  EXPECT_EQ(FileInUse(file.c_str()), 0);  // absent
  WriteFile(file);
  EXPECT_EQ(FileInUse(file.c_str()), 0);
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(FileInUse(file.c_str()), 1);
  CloseHandle(held);
  // Others may read while it is tested.
  held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(FileInUse(file.c_str()), 0);
  CloseHandle(held);

  // A read-only file is not in use and stays read-only.
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(FileInUse(file.c_str()), 0);
  EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(FileInUse(file.c_str()), 1);
  CloseHandle(held);
  EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
}

// ---------------------------------------------------------------------------
// CreateFolderChain

TEST_F(PathsTest, CreateFolderChainMakesTheFoldersUpToTheLastBackslash) {
  EXPECT_EQ(CreateFolderChain((base + "\\A\\B\\file.txt").c_str()), 0);
  EXPECT_TRUE(IsFolder(base + "\\A\\B"));
  EXPECT_FALSE(IsFolder(base + "\\A\\B\\file.txt"));
  // The last folder entered is the current folder.
  EXPECT_EQ(lstrcmpiA(CurrentFolder().c_str(), (base + "\\A\\B").c_str()), 0);

  EXPECT_EQ(CreateFolderChain((base + "\\C\\D").c_str()), 0);
  EXPECT_TRUE(IsFolder(base + "\\C"));
  EXPECT_FALSE(IsFolder(base + "\\C\\D"));

  EXPECT_EQ(CreateFolderChain("C:\\"), 0);
  EXPECT_EQ(CreateFolderChain((base + "\\A\\B\\").c_str()), 0);  // all there
}

TEST_F(PathsTest, CreateFolderChainRelativeAndFromTheRoot) {
  SetCurrentDirectoryA(base.c_str());
  EXPECT_EQ(CreateFolderChain("Rel\\Sub\\x"), 0);
  EXPECT_TRUE(IsFolder(base + "\\Rel\\Sub"));
  // Relative to the current folder at the call, although the walk moves it.
  SetCurrentDirectoryA(base.c_str());
  EXPECT_EQ(CreateFolderChain("Rel\\Two\\Three\\"), 0);
  EXPECT_TRUE(IsFolder(base + "\\Rel\\Two\\Three"));
  // A bare name is a file in the current folder: nothing to create.
  SetCurrentDirectoryA(base.c_str());
  EXPECT_EQ(CreateFolderChain("Bare"), 0);
  EXPECT_FALSE(IsFolder(base + "\\Bare"));
  // From the root of the current drive (base lies on C:).
  std::string rooted = base.substr(2) + "\\Rooted\\";
  EXPECT_EQ(CreateFolderChain(rooted.c_str()), 0);
  EXPECT_TRUE(IsFolder(base + "\\Rooted"));
}

TEST_F(PathsTest, CreateFolderChainStopsAtAFileInTheWay) {
  WriteFile(base + "\\Blocker");
  EXPECT_EQ(CreateFolderChain((base + "\\Blocker\\Sub\\file").c_str()), 1);
  EXPECT_FALSE(IsFolder(base + "\\Blocker\\Sub"));
  // A chain longer than a path is refused, not cut.
  std::string deep = base;
  while (deep.size() < 300) deep += "\\abcdefghij";
  EXPECT_EQ(CreateFolderChain((deep + "\\").c_str()), 1);
}

// ---------------------------------------------------------------------------
// PrepareInstallDir (no package: the creation question is empty, which
// counts as Yes)

TEST_F(PathsTest, PrepareInstallDirEmptyOrExisting) {
  InstallDir[0] = 0;
  EXPECT_EQ(PrepareInstallDir(), 5);
  CopyText(InstallDir, base.c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_EQ(std::string(InstallDir), base + "\\");
  EXPECT_EQ(lstrcmpiA(CurrentFolder().c_str(), base.c_str()), 0);
  EXPECT_EQ(PrepareInstallDir(), 0);  // again, with its backslash
  EXPECT_EQ(std::string(InstallDir), base + "\\");
}

TEST_F(PathsTest, PrepareInstallDirMakesARelativeFolderAbsolute) {
  CreateDirectoryA((base + "\\Rel").c_str(), nullptr);
  SetCurrentDirectoryA(base.c_str());
  CopyText(InstallDir, "Rel", PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_EQ(std::string(InstallDir), base + "\\Rel\\");
}

TEST_F(PathsTest, PrepareInstallDirCreatesAMissingFolder) {
  CopyText(InstallDir, (base + "\\New\\Deeper").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_EQ(std::string(InstallDir), base + "\\New\\Deeper\\");
  EXPECT_TRUE(IsFolder(base + "\\New\\Deeper"));
  EXPECT_EQ(lstrcmpiA(CurrentFolder().c_str(), (base + "\\New\\Deeper").c_str()), 0);

  SilentMode = 1;
  CopyText(InstallDir, (base + "\\Silent\\").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_TRUE(IsFolder(base + "\\Silent"));
}

TEST_F(PathsTest, PrepareInstallDirLeavesCreationToLaterForAForcedPage) {
  ForcedPageMode = 1;
  CopyText(InstallDir, (base + "\\Later").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_EQ(std::string(InstallDir), base + "\\Later\\");
  EXPECT_FALSE(IsFolder(base + "\\Later"));
}

TEST_F(PathsTest, PrepareInstallDirReportsAFolderThatCannotBeMade) {
  WriteFile(base + "\\File");
  CopyText(InstallDir, (base + "\\File\\Sub").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 5);
  // A folder with no room left for the backslash the engine appends.
  std::string longFolder = base + "\\" + std::string(100, 'l') + "\\";
  longFolder += std::string(259 - longFolder.size(), 'm');
  CopyText(InstallDir, longFolder.c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 5);
  EXPECT_FALSE(IsFolder(base + "\\" + std::string(100, 'l')));
}

namespace {

const char QuestionCaption[] = "Paths Test Setup";

// A group record whose text group 7 holds the caption and the creation
// question, current while it lives.
struct QuestionTexts {
  explicit QuestionTexts(const std::string& question) {
    record.assign(GroupHeaderSize, 0);
    WriteU32(&record[GroupTextGroups + 4 * 7], (u32)record.size());
    record.push_back(7);
    record.push_back(0);
    std::vector<std::string> texts = {QuestionCaption, "", "", "", "", "", question};
    for (const std::string& text : texts) {
      record.insert(record.end(), text.begin(), text.end());
      record.push_back(0);
    }
    CurrentGroupRecord = {record.data(), (u32)record.size()};
  }
  ~QuestionTexts() { CurrentGroupRecord = {nullptr, 0}; }
  std::vector<u8> record;
};

// Answers the next message box of this test with `button` (6 Yes, 7 No)
// through the helper program of the Windows tests; null when it is missing.
HANDLE AnswerBox(const char* button, const std::string& log) {
  std::string helper = ProgramFolder() + "\\msgbox_answer.exe";
  if (GetFileAttributesA(helper.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
  std::string line = "\"" + helper + "\" \"" + QuestionCaption + "\" " + button + " \"" + log + "\"";
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                      &info))
    return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

DWORD FinishAnswer(HANDLE process) {
  WaitForSingleObject(process, 30000);
  DWORD code = 99;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

std::string ReadText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[512];
  DWORD done = 0;
  while (ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done) text.append(buffer, done);
  CloseHandle(file);
  return text;
}

}  // namespace

TEST_F(PathsTest, PrepareInstallDirAsksBeforeCreating) {
  QuestionTexts texts("Create the folder?");
  std::string log = tempFolder + "SetrunPathsAnswers.txt";
  HANDLE answer = AnswerBox("7", log);
  if (!answer) GTEST_SKIP() << "msgbox_answer.exe is built with the whole test build";
  CopyText(InstallDir, (base + "\\Declined").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), -1);
  EXPECT_EQ(FinishAnswer(answer), 0u);
  EXPECT_EQ(ReadText(log), "Create the folder?\n");
  EXPECT_FALSE(IsFolder(base + "\\Declined"));

  answer = AnswerBox("6", log);
  ASSERT_TRUE(answer);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_EQ(FinishAnswer(answer), 0u);
  EXPECT_TRUE(IsFolder(base + "\\Declined"));
  EXPECT_EQ(std::string(InstallDir), base + "\\Declined\\");

  // A silent run does not ask.
  SilentMode = 1;
  CopyText(InstallDir, (base + "\\Quiet").c_str(), PathSize);
  EXPECT_EQ(PrepareInstallDir(), 0);
  EXPECT_TRUE(IsFolder(base + "\\Quiet"));
  DeleteFileA(log.c_str());
}

// ---------------------------------------------------------------------------
// Free space and the space check

TEST_F(PathsTest, FreeSpaceOfADrive) {
  u32 cluster = 0;
  int64_t free = GetFreeSpaceKB("C:\\", &cluster);
  EXPECT_TRUE(free > 0 || free == -2) << free;
  EXPECT_GE(cluster, 1u);
  // Any path on the drive gives the drive's figure, also a missing folder.
  int64_t again = GetFreeSpaceKB((base + "\\Not\\There").c_str(), nullptr);
  EXPECT_TRUE(again == -2 || (again > 0 && (again - free < 102400 && free - again < 102400)))
      << again << " " << free;

  cluster = 0;
  EXPECT_EQ(GetFreeSpaceKB("", &cluster), -1);
  EXPECT_EQ(cluster, 1u);
  EXPECT_EQ(GetFreeSpaceKB(nullptr, nullptr), -1);
  cluster = 0;
  EXPECT_EQ(GetFreeSpaceKB("Q:\\", &cluster), -1);  // no such drive
  EXPECT_EQ(cluster, 1u);
}

namespace {

// One install group made by hand, current for the duration of a test.
struct HandMadeGroup {
  HandMadeGroup(u16 groupFlags, std::vector<u8> list) : fileList(std::move(list)) {
    record.assign(GroupHeaderSize, 0);
    WriteU16(record.data(), groupFlags);
    Groups[0] = {record.data(), (u32)record.size(), nullptr, fileList.data(),
                 (u32)fileList.size(), nullptr, 0};
    GroupCount = 1;
    CurrentGroup = 0;
  }
  ~HandMadeGroup() {
    Groups[0] = {};
    GroupCount = 0;
    CurrentGroup = -1;
  }
  u32 Flags(u32 index) {
    u32 at = 4;
    for (u32 i = 0; i < index; ++i) at += ReadU16(&fileList[at]);
    return ReadU32(&fileList[at + EntryFlags]);
  }
  std::vector<u8> record, fileList;
};

}  // namespace

TEST_F(PathsTest, SpaceCheckAgainstTheDisk) {
  int64_t free = GetFreeSpaceKB(InstallDir, nullptr);
  ASSERT_NE(free, -1);
  WriteFile(base + "\\ro.txt");
  SetFileAttributesA((base + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  std::string fontName = "setrun-space.ttf";
  WriteFile(ShellPath(CSIDL_FONTS) + "\\" + fontName);
  {
    HandMadeGroup group(0, FileList({{DestInstallDir, "small.txt", "", 0, 100},
                                     {DestInstallDir, "ro.txt", "", 0, 100},
                                     {DestFonts, fontName, "", 0, 100},
                                     {DestFonts, "setrun-new.ttf", "", 0, 100}}));
    ReadOnlyWarning = 0;
    EXPECT_EQ(CheckDiskSpace(), 0);
    EXPECT_EQ(ReadOnlyWarning, 1);
    EXPECT_EQ(group.Flags(2), FileFlagNotLogged);  // the font that is there
    EXPECT_EQ(group.Flags(3), 0u);
    EXPECT_EQ(group.Flags(1), 0u);
  }
  DeleteFileA((ShellPath(CSIDL_FONTS) + "\\" + fontName).c_str());
  {
    // Far more than any disk here: 2,000 files of almost 4 GiB.
    std::vector<Entry> huge(2000, Entry{DestInstallDir, "huge.bin", "", 0, 0xFFFFF000u});
    HandMadeGroup group(GroupFlagFullSpaceCount, FileList(huge));
    EXPECT_EQ(CheckDiskSpace(), free == -2 ? 0 : 1);
    EXPECT_EQ(ReadOnlyWarning, 0);
    u32 freeMB = 0, neededMB = 0;
    EXPECT_EQ(SpaceFigures(&freeMB, &neededMB), free == -2 ? 1 : 0);
    u32 cluster = 1;
    GetFreeSpaceKB(InstallDir, &cluster);
    uint64_t bytes = 2000 * RoundToCluster(0xFFFFF000u, cluster * 1024);
    EXPECT_EQ(neededMB, (u32)((bytes + 1048575) >> 20));
    // The drive's free space moves between the two measurements (this test
    // writes files, and so may anything else on the machine); a few
    // kilobytes across a megabyte boundary change the rounded figure.
    if (free != -2) EXPECT_NEAR(freeMB, (double)((free + 1023) / 1024), 64.0);
  }
}

TEST_F(PathsTest, SpaceFiguresOfASmallGroup) {
  u32 cluster = 1;
  GetFreeSpaceKB(InstallDir, &cluster);
  HandMadeGroup group(0, FileList({{DestInstallDir, "a", "", 0, 1},
                                   {DestInstallDir, "b", "", FileFlagSourceFolder, 1}}));
  u32 freeMB = 0, neededMB = 0;
  SpaceFigures(&freeMB, &neededMB);
  EXPECT_EQ(neededMB, 1u);  // two clusters round up to one MB
  EXPECT_GT(freeMB, 0u);
}
