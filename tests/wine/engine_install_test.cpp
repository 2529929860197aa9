// The file installation loop under Wine: files, folders, times and
// attributes, kept and locked targets, temporary names, data volumes and the
// disk prompt, damaged and corrupt data, a missing data source, Cancel, and
// the progress display.
#include "tests/wine/engine_fixture.h"

#include "engine/overwrite.h"
#include "wizard/messages.h"

using namespace enginetest;

namespace {

FILETIME Time(WORD year, WORD month, WORD day) {
  SYSTEMTIME s = {};
  s.wYear = year;
  s.wMonth = month;
  s.wDay = day;
  s.wHour = 12;
  FILETIME f;
  SystemTimeToFileTime(&s, &f);
  return f;
}

}  // namespace

TEST_F(EngineTest, InstallsFilesFoldersTimesAndAttributes) {
  File a = MakeFile("a.txt", 5000, 1);
  a.flags |= FileFlagTimes;
  a.times[0] = Time(2001, 2, 3);
  a.times[1] = Time(2002, 3, 4);
  a.times[2] = Time(2003, 4, 5);
  File b = MakeFile("sub\\deep\\b.bin", 70000, 2);
  b.options |= FileOptionReadOnly;
  File folder;
  folder.name = "logs\\keep";
  folder.flags |= FileFlagFolderEntry;
  File other = MakeFile("other.txt", 10, 3);
  other.flags = OsWin95;  // another Windows version
  File empty;
  empty.name = "zero.txt";
  empty.emptyStream = true;
  empty.flags |= FileFlagScreenSaver;
  pkg_.files = {a, b, folder, other, empty};
  Load();

  ASSERT_EQ(InstallAll(), 5);  // every entry with a target is one step
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(ReadAll(In("a.txt")), a.data);
  EXPECT_EQ(ReadAll(In("sub\\deep\\b.bin")), b.data);
  EXPECT_TRUE(Exists(In("logs")));
  EXPECT_FALSE(Exists(In("logs\\keep")));
  EXPECT_FALSE(Exists(In("other.txt")));
  EXPECT_TRUE(Exists(In("zero.txt")));
  EXPECT_TRUE(ReadAll(In("zero.txt")).empty());
  EXPECT_EQ(State(0), 25);
  EXPECT_EQ(State(1), 25);
  EXPECT_EQ(State(2), 0);
  EXPECT_EQ(State(3), 0);
  EXPECT_EQ(State(4), 25);
  EXPECT_EQ(ScreenSaverEntry, Entry(4));
  EXPECT_TRUE(GetFileAttributesA(In("sub\\deep\\b.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(GetFileAttributesA(In("a.txt").c_str()) & FILE_ATTRIBUTE_READONLY);

  HANDLE h = CreateFileA(In("a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME c, acc, w;
  GetFileTime(h, &c, &acc, &w);
  CloseHandle(h);
  // Wine keeps no creation time on a Linux file system; the last write time
  // shows that the times were set.
  EXPECT_EQ(CompareFileTime(&w, &a.times[2]), 0);
  EXPECT_FALSE(Exists(In("a.$$A")));
  EXPECT_FALSE(Exists(In("sub\\deep\\b.$$A")));
  FinishInstallation();
  EXPECT_EQ(EngineBusy, 0);

  // Over the installed files: replaced, the read-only one too, and it stays
  // read-only.
  Load();
  ASSERT_EQ(InstallAll(), 5);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), 23);
  EXPECT_EQ(State(1), 23);
  EXPECT_EQ(ReadAll(In("sub\\deep\\b.bin")), b.data);
  EXPECT_TRUE(GetFileAttributesA(In("sub\\deep\\b.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
  FinishInstallation();
}

TEST_F(EngineTest, AnEmptyFileListEndsAtOnce) {
  Load();
  ASSERT_TRUE(PrepareInstallation());
  EXPECT_EQ(InstallNextFile(), 0);
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);
}

TEST_F(EngineTest, OnlyIfAbsentKeepsTheExistingFile) {
  File keep = MakeFile("keep.txt", 300, 4);
  keep.flags |= FileFlagOnlyIfAbsent;
  pkg_.files = {keep};
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("keep.txt"), Bytes{'o', 'l', 'd'}));
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(State(0), 501);
  EXPECT_EQ(Text(ReadAll(In("keep.txt"))), "old");
  FinishInstallation();
  EXPECT_EQ(InstallResult, 0);

  // Also while another program holds it open without sharing: it exists, so
  // it is neither replaced nor scheduled for replacement.
  Load();
  HANDLE held = CreateFileA(In("keep.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_EQ(InstallAll(), 1);
  CloseHandle(held);
  EXPECT_EQ(State(0), 501);
  EXPECT_EQ(RestartState, 0);
  EXPECT_FALSE(Exists(In("keep.$$A")));
  EXPECT_EQ(Text(ReadAll(In("keep.txt"))), "old");
  FinishInstallation();
}

TEST_F(EngineTest, FilesNamedLikeTheCopyAreNeverTouched) {
  pkg_.files = {MakeFile("a.exe", 2000, 5)};
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("a.$$A"), Bytes{'x'}));
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(ReadAll(In("a.exe")), pkg_.files[0].data);
  EXPECT_EQ(Text(ReadAll(In("a.$$A"))), "x");
  EXPECT_FALSE(Exists(In("a.$$B")));
  FinishInstallation();

  // Every name taken: the copy cannot be made, and no taken name is removed.
  for (char c = 'A'; c <= 'Z'; ++c)
    ASSERT_TRUE(Package::WriteAll(In(std::string("b.$$") + c), Bytes{(u8)c}));
  pkg_.files = {MakeFile("b.exe", 100, 6)};
  Load();
  EXPECT_EQ(InstallAll(), 0);
  EXPECT_EQ(InstallResult, 17);
  EXPECT_EQ(std::string(ErrorDetail), In("b.$$Z"));
  for (char c = 'A'; c <= 'Z'; ++c)
    EXPECT_EQ(ReadAll(In(std::string("b.$$") + c)), Bytes{(u8)c});
  EXPECT_FALSE(Exists(In("b.exe")));
  FinishInstallation();
}

TEST_F(EngineTest, ALockedTargetThatDiffersIsReplacedAtRestart) {
  pkg_.files = {MakeFile("lock.dll", 3000, 7)};
  pkg_.files[0].options |= FileOptionReadOnly;  // given to the waiting copy
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("lock.dll"), Bytes{'o', 'l', 'd'}));
  HANDLE held = CreateFileA(In("lock.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_EQ(InstallAll(), 1);
  CloseHandle(held);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), 500);
  EXPECT_EQ(RestartState, 1);
  // The copy waits under its temporary name for the restart.
  EXPECT_EQ(ReadAll(In("lock.$$A")), pkg_.files[0].data);
  EXPECT_TRUE(GetFileAttributesA(In("lock.$$A").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Text(ReadAll(In("lock.dll"))), "old");
  FinishInstallation();
  EXPECT_TRUE(Exists(In("lock.$$A")));
}

TEST_F(EngineTest, ALockedTargetWithTheSameBytesStays) {
  pkg_.files = {MakeFile("same.dll", 3000, 8)};
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(Package::WriteAll(In("same.dll"), pkg_.files[0].data));
  HANDLE held = CreateFileA(In("same.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_EQ(InstallAll(), 1);
  CloseHandle(held);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), 23);
  EXPECT_EQ(RestartState, 0);
  EXPECT_FALSE(Exists(In("same.$$A")));
  FinishInstallation();
}

TEST_F(EngineTest, CorruptDataStopsWithCode31AndLeavesNoCopies) {
  File deferred = MakeFile("comp.dll", 4000, 9);
  deferred.flags |= FileFlagSelfRegister;  // kept back until the finishing step
  File good = MakeFile("good.txt", 4000, 10);
  File bad = MakeFile("bad.bin", 50000, 11);
  bad.corruptStream = true;
  pkg_.files = {deferred, good, bad};
  pkg_.groupFlags = GroupFlagUninstallEntry;
  pkg_.displayName = "Engine Test Corrupt " + std::to_string(GetTickCount());
  Load();
  ASSERT_TRUE(PrepareInstallation());
  ASSERT_EQ(InstallNextFile(), 1);
  EXPECT_EQ(State(0), 502);
  EXPECT_TRUE(Exists(In("comp.$$A")));
  EXPECT_FALSE(Exists(In("comp.dll")));
  ASSERT_EQ(InstallNextFile(), 1);
  EXPECT_EQ(InstallNextFile(), 0);
  EXPECT_EQ(InstallResult, 31);
  EXPECT_STREQ(ErrorDetail, "bad.bin");
  EXPECT_EQ(InflateStatusWord >> 8, 0x11u);
  EXPECT_FALSE(Exists(In("bad.$$A")));
  EXPECT_FALSE(Exists(In("bad.bin")));
  FinishInstallation();
  EXPECT_EQ(EngineBusy, 0);
  // The deferred copy is deleted, files already in place stay, nothing is
  // registered.
  EXPECT_FALSE(Exists(In("comp.$$A")));
  EXPECT_FALSE(Exists(In("comp.dll")));
  EXPECT_TRUE(Exists(In("good.txt")));
  HKEY key;
  std::string uninstall =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + pkg_.displayName;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstall.c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
}

TEST_F(EngineTest, AMissingDataSourceIsCode16) {
  pkg_.files = {MakeFile("a.txt", 100, 12)};
  Load();
  ASSERT_TRUE(DeleteFileA(program_.c_str()));
  EXPECT_EQ(PrepareInstallation(), 0);
  EXPECT_EQ(InstallResult, 16);
  EXPECT_EQ(std::string(ErrorDetail), program_);
  EXPECT_EQ(EngineBusy, 0);
}

TEST_F(EngineTest, DamagedDataIsKeptWithSlashR) {
  File damaged = MakeFile("d.txt", 3000, 13);
  damaged.badChecksum = true;
  pkg_.files = {damaged};
  Load();
  AcceptDamagedFiles = 1;
  ASSERT_EQ(InstallAll(), 1);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), 25);
  EXPECT_EQ(ReadAll(In("d.txt")), damaged.data);
  FinishInstallation();
}

TEST_F(EngineTest, DamagedDataAsksAndNoStops) {
  File damaged = MakeFile("d.txt", 3000, 14);
  damaged.badChecksum = true;
  pkg_.files = {damaged};
  Load();
  Answerer answer(dir_ + "\\boxes.txt", "7");
  ASSERT_TRUE(answer.started());
  EXPECT_EQ(InstallAll(), 0);
  EXPECT_EQ(answer.Finish(), 0);
  EXPECT_EQ(answer.Texts(), "Damaged " + In("d.txt") + "\n");
  EXPECT_EQ(InstallResult, 21);
  EXPECT_EQ(std::string(ErrorDetail), In("d.txt"));
  EXPECT_FALSE(Exists(In("d.txt")));
  EXPECT_FALSE(Exists(In("d.$$A")));
  FinishInstallation();

  Load();
  Answerer yes(dir_ + "\\boxes2.txt", "6");
  EXPECT_EQ(InstallAll(), 1);
  EXPECT_EQ(yes.Finish(), 0);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(ReadAll(In("d.txt")), damaged.data);
  FinishInstallation();
}

class VolumeTest : public EngineTest {
 protected:
  void SetUpVolumes() {
    File a = MakeFile("a.bin", 60000, 15);
    File b = MakeFile("b.bin", 30000, 16);
    pkg_.files = {a, b};
    // Volume 0 ends inside the stream of a.bin; volume 1 holds the rest.
    pkg_.volumeSizes = {(u32)(enginepkg::Deflate(a.data).size() / 2)};
    Load();
  }
};

TEST_F(VolumeTest, AStreamRunsOnIntoTheNextVolume) {
  SetUpVolumes();
  ASSERT_EQ(InstallAll(), 2);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(ReadAll(In("a.bin")), pkg_.files[0].data);
  EXPECT_EQ(ReadAll(In("b.bin")), pkg_.files[1].data);
  FinishInstallation();
}

TEST_F(VolumeTest, AMissingVolumeIsAReadErrorWithoutPrompts) {
  SetUpVolumes();
  ASSERT_TRUE(DeleteFileA(Package::VolumePath(program_, 1).c_str()));
  EXPECT_EQ(InstallAll(), 0);
  EXPECT_EQ(InstallResult, 18);
  EXPECT_STREQ(ErrorDetail, "a.bin");
  EXPECT_FALSE(Exists(In("a.$$A")));
  FinishInstallation();
}

TEST_F(VolumeTest, TheDiskPromptWaitsForTheVolume) {
  SetUpVolumes();
  std::string volume = Package::VolumePath(program_, 1);
  std::string saved = dir_ + "\\saved.D01";
  ASSERT_TRUE(MoveFileA(volume.c_str(), saved.c_str()));
  DeleteSelfAtRestart = 1;
  // The helper "inserts the disk" and presses OK.
  Answerer answer(dir_ + "\\boxes.txt", "1", saved, volume);
  ASSERT_EQ(InstallAll(), 2);
  EXPECT_EQ(answer.Finish(), 0);
  EXPECT_EQ(answer.Texts(), "Insert disk 2\n");
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(ReadAll(In("a.bin")), pkg_.files[0].data);
  EXPECT_EQ(ReadAll(In("b.bin")), pkg_.files[1].data);
  FinishInstallation();
}

TEST_F(VolumeTest, GivingUpAtTheDiskPromptAbandons) {
  pkg_.texts7[13] = "Quit setup?";
  SetUpVolumes();
  ASSERT_TRUE(DeleteFileA(Package::VolumePath(program_, 1).c_str()));
  DeleteSelfAtRestart = 1;
  Answerer answer(dir_ + "\\boxes.txt", "2,7,2,6");  // Cancel, No, Cancel, Yes
  EXPECT_EQ(InstallAll(), 0);
  EXPECT_EQ(answer.Finish(), 0);
  EXPECT_EQ(answer.Texts(), "Insert disk 2\nQuit setup?\nInsert disk 2\nQuit setup?\n");
  EXPECT_EQ(InstallResult, 15);
  EXPECT_EQ(UserCancelled, 1);
  EXPECT_EQ(PageResult, 2);
  EXPECT_EQ(EngineBusy, 0);
  EXPECT_FALSE(Exists(In("a.$$A")));
  EXPECT_FALSE(Exists(In("a.bin")));
  FinishInstallation();
  EXPECT_EQ(InstallResult, 15);
}

// A window whose message cancels the installation, as the Cancel button of
// the installing page does from inside a pump.
static LRESULT CALLBACK CancelProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER + 1) {
    PageResult = 2;
    AbortInstallation();
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

TEST_F(EngineTest, CancelDuringADecompressionLeavesNothing) {
  File big = MakeFile("big.bin", 400000, 17);
  File deferred = MakeFile("comp.dll", 100, 18);
  deferred.flags |= FileFlagSelfRegister;
  pkg_.files = {deferred, big};
  Load();
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CancelProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "EngineCancelTest";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("EngineCancelTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_TRUE(window);
  ASSERT_TRUE(PrepareInstallation());
  ASSERT_EQ(InstallNextFile(), 1);
  EXPECT_TRUE(Exists(In("comp.$$A")));
  PostMessageA(window, WM_USER + 1, 0, 0);
  // The reader looks at the queue once the interval has passed.
  Sleep(QueueLookIntervalMs + 5);
  EXPECT_EQ(InstallNextFile(), 0);
  DestroyWindow(window);
  EXPECT_EQ(InstallResult, 15);
  EXPECT_FALSE(Exists(In("big.$$A")));
  EXPECT_FALSE(Exists(In("big.bin")));
  EXPECT_FALSE(Exists(In("comp.$$A")));
  FinishInstallation();
  EXPECT_FALSE(Exists(In("comp.dll")));
}

TEST_F(EngineTest, ProgressAndCurrentFileGoToTheAttachedPage) {
  pkg_.texts5 = {"", "", "Copying:"};
  pkg_.files = {MakeFile("one.txt", 10, 19), MakeFile("two.txt", 10, 20),
                MakeFile("a\\long\\folder\\name\\three.txt", 10, 21)};
  Load();
  HWND page = CreateWindowA("STATIC", "", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(page);
  HWND percent = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 10, 10, page, (HMENU)1010, nullptr,
                               nullptr);
  HWND current = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 10, 10, page, (HMENU)1008, nullptr,
                               nullptr);
  ASSERT_TRUE(percent && current);
  AttachProgress(page);
  ASSERT_TRUE(PrepareInstallation());
  char text[300];
  const char* expected[] = {"33%", "66%", "100%"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(InstallNextFile(), 1);
    GetWindowTextA(percent, text, sizeof text);
    EXPECT_STREQ(text, expected[i]);
  }
  GetWindowTextA(current, text, sizeof text);
  std::string shown = text;
  EXPECT_LT(shown.size(), In("a\\long\\folder\\name\\three.txt").size());
  EXPECT_NE(shown.find("three.txt"), std::string::npos);
  ShowProgress(250);
  GetWindowTextA(percent, text, sizeof text);
  EXPECT_STREQ(text, "100%");
  // Detached: nothing changes any more.
  AttachProgress(nullptr);
  ShowProgress(5);
  GetWindowTextA(percent, text, sizeof text);
  EXPECT_STREQ(text, "100%");
  EXPECT_EQ(InstallNextFile(), 0);
  FinishInstallation();
  DestroyWindow(page);
}

TEST_F(EngineTest, ATargetPathTooLongStopsWithCode17) {
  pkg_.files = {MakeFile(std::string(250, 'x') + ".txt", 10, 22)};
  Load();
  EXPECT_EQ(InstallAll(), 0);
  EXPECT_EQ(InstallResult, 17);
  EXPECT_NE(ErrorDetail[0], 0);
  EXPECT_EQ(std::string(ErrorDetail).find(install_), 0u);
  FinishInstallation();
}

TEST_F(EngineTest, ATargetThatCannotBeReplacedStopsWithCode22) {
  // A folder stands where the file should go: it can be neither replaced
  // nor moved over.
  pkg_.files = {MakeFile("first.txt", 10, 23), MakeFile("taken", 100, 24),
                MakeFile("after.txt", 10, 25)};
  Load();
  ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(In("taken").c_str(), nullptr));
  EXPECT_EQ(InstallAll(), 1);
  EXPECT_EQ(InstallResult, 22);
  EXPECT_EQ(std::string(ErrorDetail), In("taken"));
  EXPECT_EQ(State(0), 25);
  EXPECT_EQ(State(1), 27);
  EXPECT_EQ(State(2), 0);
  EXPECT_FALSE(Exists(In("taken.$$A")));
  EXPECT_FALSE(Exists(In("after.txt")));
  FinishInstallation();
}

TEST_F(EngineTest, ASilentInstallationRunsToTheEnd) {
  pkg_.files = {MakeFile("one.txt", 100, 26), MakeFile("two.txt", 100, 27)};
  Load();
  InstallWithoutPage();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(EngineBusy, 0);
  EXPECT_EQ(ReadAll(In("two.txt")), pkg_.files[1].data);
  EXPECT_EQ(DataSource, InvalidFile);
}

TEST_F(EngineTest, QuitDuringAPageEndsItAsCancel) {
  PageResult = 0;
  PostQuitMessage(0);
  PumpMessages(0);
  EXPECT_EQ(PageResult, 2);
  PageResult = 0;
}

// Files beside the targets named like temporary copies.
static std::vector<std::string> CopiesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.$$?").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// When the copy cannot take the target's place after all (it has gone
// missing, or another program holds it without letting it be moved), the
// existing file is back under its name with its bytes and attributes, and
// nothing of the attempt is left beside it.
TEST_F(EngineTest, AReplacementThatFailsKeepsTheExistingFile) {
  pkg_.files = {MakeFile("r.txt", 10, 28)};
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  CopyText(TargetPath, In("r.txt").c_str(), TargetPathSize);
  const std::string target = In("r.txt"), copy = In("r.$$A");
  const struct {
    bool readOnly, copyHeld;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.readOnly ? "read-only" : "plain") +
                 (c.copyHeld ? ", copy held" : ", copy missing"));
    ASSERT_TRUE(Package::WriteAll(target, Bytes{'o', 'l', 'd'}));
    if (c.readOnly) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.copyHeld) {
      ASSERT_TRUE(Package::WriteAll(copy, Bytes{'n', 'e', 'w'}));
      held = CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    ReplaceTarget(Entry(0), copy.c_str());
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(State(0), 27);
    EXPECT_EQ(Text(ReadAll(target)), "old");
    EXPECT_EQ(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY,
              c.readOnly ? (DWORD)FILE_ATTRIBUTE_READONLY : 0u);
    EXPECT_EQ(CopiesIn(install_), c.copyHeld ? std::vector<std::string>{"r.$$A"}
                                             : std::vector<std::string>{});
    EXPECT_EQ(RestartState, 0);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target.c_str());
    DeleteFileA(copy.c_str());
  }
}
