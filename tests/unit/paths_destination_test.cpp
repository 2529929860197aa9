// Path strings and disk-space arithmetic of the destination services.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "paths/destination.h"
#include "paths/path_text.h"

namespace {

std::string Shorten(const char* path, u32 maxLength) {
  char buffer[300];
  strcpy(buffer, path);
  ShortenPath(buffer, maxLength);
  return buffer;
}

}  // namespace

TEST(ShortenPath, PutsDotsInPlaceOfMiddleFolders) {
  EXPECT_EQ(Shorten("C:\\Program Files\\Vendor\\Product\\bin\\file.exe", 30),
            "C:\\Program Files\\...\\file.exe");
  // Without room for any leading folder the cut comes right after the first
  // backslash.
  EXPECT_EQ(Shorten("C:\\Program Files\\Vendor\\Product\\bin\\a-long-file-name.exe", 30),
            "C:\\...\\a-long-file-name.exe");
  EXPECT_EQ(Shorten("C:\\aaaa\\bbbb\\cccc\\dddd\\eeee\\f.txt", 20), "C:\\aaaa\\bbbb\\...\\f.txt");
}

TEST(ShortenPath, LeavesShortOrUnshortenablePathsAlone) {
  EXPECT_EQ(Shorten("C:\\Apps\\tool.exe", 30), "C:\\Apps\\tool.exe");
  EXPECT_EQ(Shorten("C:\\Apps\\tool.exe", 16), "C:\\Apps\\tool.exe");  // 16 characters
  EXPECT_EQ(Shorten("a-very-long-file-name-without-folders.txt", 10),
            "a-very-long-file-name-without-folders.txt");
  // First and last backslash too close for "..." to replace anything.
  EXPECT_EQ(Shorten("C:\\ab\\a-very-long-file-name.txt", 10), "C:\\ab\\a-very-long-file-name.txt");
  EXPECT_EQ(Shorten("C:\\abcd\\a-very-long-file-name.txt", 10), "C:\\...\\a-very-long-file-name.txt");
}

TEST(ShortenPath, TheCutStaysFourCharactersBeforeTheName) {
  // The backslash before "ab" lies fewer than 4 characters before the last
  // one: the cut cannot move behind it, so "folder-one" goes too.
  EXPECT_EQ(Shorten("C:\\folder-one\\ab\\name.txt", 24), "C:\\...\\name.txt");
  EXPECT_EQ(Shorten("C:\\folder-one\\abcd\\name.txt", 26), "C:\\folder-one\\...\\name.txt");
  EXPECT_EQ(Shorten("C:\\x\\folder-one\\ab\\name.txt", 60), "C:\\x\\folder-one\\ab\\name.txt");
}

TEST(SetExtension, EdgeCases) {
  char path[260] = "c.txt";
  ASSERT_TRUE(SetExtension(path, ".bak", sizeof path));
  EXPECT_STREQ(path, "c.bak");
  strcpy(path, "a.b\\c");
  ASSERT_TRUE(SetExtension(path, ".bak", sizeof path));
  EXPECT_STREQ(path, "a.b\\c.bak");
  strcpy(path, "noext");
  ASSERT_TRUE(SetExtension(path, ".D01", sizeof path));
  EXPECT_STREQ(path, "noext.D01");
  strcpy(path, "trailing.");
  ASSERT_TRUE(SetExtension(path, ".D01", sizeof path));
  EXPECT_STREQ(path, "trailing.D01");
  strcpy(path, "a.tar.gz");  // only the last dot counts
  ASSERT_TRUE(SetExtension(path, ".$$A", sizeof path));
  EXPECT_STREQ(path, "a.tar.$$A");
  // A replacement that just fits, and one byte less.
  char exact[10] = "name.txt";
  ASSERT_TRUE(SetExtension(exact, ".$$$$", sizeof exact));
  EXPECT_STREQ(exact, "name.$$$$");
  EXPECT_FALSE(SetExtension(exact, ".$$$$$", sizeof exact));
  EXPECT_STREQ(exact, "name.$$$$");
}

TEST(TargetNames, BaseNameAndAppendName) {
  EXPECT_STREQ(BaseName("sub\\file.ext"), "file.ext");
  EXPECT_STREQ(BaseName("file.ext"), "file.ext");
  EXPECT_STREQ(BaseName("sub\\"), "");

  char target[520] = "D:\\Apps";
  ASSERT_TRUE(AppendName(target, "sub\\file.ext"));
  EXPECT_STREQ(target, "D:\\Apps\\sub\\file.ext");
  strcpy(target, "D:\\");
  ASSERT_TRUE(AppendName(target, "file.ext"));
  EXPECT_STREQ(target, "D:\\file.ext");
  target[0] = 0;  // an empty folder gives the bare name
  ASSERT_TRUE(AppendName(target, "file.ext"));
  EXPECT_STREQ(target, "file.ext");
}

TEST(TargetNames, APathTooLongForTheFileCallsIsRefusedNotCut) {
  char target[520];
  std::string folder = "C:\\" + std::string(240, 'f');  // 243 characters
  strcpy(target, folder.c_str());
  // 243 + 1 + 15 = 259 characters: the longest path the file calls take.
  ASSERT_TRUE(AppendName(target, std::string(15, 'n').c_str()));
  EXPECT_EQ(strlen(target), 259u);
  strcpy(target, folder.c_str());
  EXPECT_FALSE(AppendName(target, std::string(16, 'n').c_str()));
  EXPECT_EQ(target, folder);  // unchanged
  // Names far beyond the buffer are refused the same way.
  EXPECT_FALSE(AppendName(target, std::string(600, 'n').c_str()));
  EXPECT_EQ(target, folder);
}

TEST(FolderWalk, StartsAfterTheDriveOrShare) {
  EXPECT_EQ(FolderWalkStart("C:\\A\\B\\"), 4u);
  EXPECT_EQ(FolderWalkStart("C:\\"), 3u);  // nothing to walk
  EXPECT_EQ(FolderWalkStart("\\\\server\\share\\A\\"), 14u);
  EXPECT_EQ(FolderWalkStart("\\\\server\\share\\"), 14u);
  EXPECT_EQ(FolderWalkStart("\\\\server"), 8u);
  EXPECT_EQ(FolderWalkStart("A\\B\\"), 1u);
  EXPECT_EQ(FolderWalkStart("\\A\\B\\"), 2u);
  EXPECT_EQ(FolderWalkStart("folder"), 6u);
}

TEST(FolderWalk, DriveRoots) {
  char path[260] = "C:\\Apps\\Tool";
  DriveRoot(path, sizeof path);
  EXPECT_STREQ(path, "C:\\");
  strcpy(path, "\\\\server\\share\\Apps\\Tool");
  DriveRoot(path, sizeof path);
  EXPECT_STREQ(path, "\\\\server\\share\\");
  strcpy(path, "\\\\server\\share");
  DriveRoot(path, sizeof path);
  EXPECT_STREQ(path, "\\\\server\\share\\");
  strcpy(path, "relative\\Tool");
  DriveRoot(path, sizeof path);
  EXPECT_STREQ(path, "relative\\Tool");
}

TEST(FreeSpace, ByteCountsBecomeKB) {
  EXPECT_EQ(FreeKBFromBytes(0, 1023), 0);
  EXPECT_EQ(FreeKBFromBytes(0, 0xFFFFFFFFu), 4194303);
  EXPECT_EQ(FreeKBFromBytes(1, 0), 4194304);
  EXPECT_EQ(FreeKBFromBytes(1023, 0xFFFFFFFFu), 4294967295LL);  // just under 4 TiB
  EXPECT_EQ(FreeKBFromBytes(1024, 0), -2);
  EXPECT_EQ(FreeKBFromBytes(0xFFFFFFFFu, 0), -2);
}

TEST(FreeSpace, ClusterCountsDoNotOverflow) {
  EXPECT_EQ(FreeKBFromClusters(4096, 1000), 4000);
  EXPECT_EQ(FreeKBFromClusters(512, 3), 1);
  // 64 KB clusters, 2^24 of them: 1 TiB, far beyond 32 bits of bytes.
  EXPECT_EQ(FreeKBFromClusters(65536, 1u << 24), 1LL << 30);
  EXPECT_EQ(FreeKBFromClusters(65536, 1u << 26), -2);  // 4 TiB
  EXPECT_EQ(ClusterKBFromBytes(512), 1u);
  EXPECT_EQ(ClusterKBFromBytes(4096), 4u);
  EXPECT_EQ(ClusterKBFromBytes(4097), 5u);
  EXPECT_EQ(ClusterKBFromBytes(0), 1u);
  EXPECT_EQ(RoundToCluster(0, 4096), 0u);
  EXPECT_EQ(RoundToCluster(1, 4096), 4096u);
  EXPECT_EQ(RoundToCluster(4096, 4096), 4096u);
  EXPECT_EQ(RoundToCluster(0xFFFFFFFFu, 4096), 0x100000000ull);  // no wrap to 0
}

namespace {

struct Entry {
  u32 size;
  u32 flags;
  u32 kind;
  std::string name;
};

std::vector<u8> FileList(const std::vector<Entry>& entries) {
  std::vector<u8> list(4, 0);
  WriteU32(list.data(), (u32)entries.size());
  for (const Entry& e : entries) {
    std::vector<u8> entry(EntryFixedSize, 0);
    WriteU32(&entry[EntrySize], e.size);
    WriteU32(&entry[EntryFlags], e.flags);
    WriteU32(&entry[EntryDestination], e.kind);
    entry.insert(entry.end(), e.name.begin(), e.name.end());
    u32 strings = e.kind == DestCustom ? 10 : 9;
    entry.insert(entry.end(), strings - 1 + 1, 0);
    WriteU16(&entry[EntryLength], (u16)entry.size());
    list.insert(list.end(), entry.begin(), entry.end());
  }
  return list;
}

// The disk as the test describes it: file name -> existing file.
std::map<std::string, ExistingTarget>& Disk() {
  static std::map<std::string, ExistingTarget> disk;
  return disk;
}
std::vector<std::string>& LookedUp() {
  static std::vector<std::string> names;
  return names;
}

int FakeLookup(const u8* entry, ExistingTarget* target) {
  std::string name = (const char*)entry + EntryFixedSize;
  LookedUp().push_back(name);
  if (name.empty()) return 0;  // no target path
  auto found = Disk().find(name);
  if (found != Disk().end()) *target = found->second;
  return 1;
}

class SpaceCheck : public testing::Test {
 protected:
  void SetUp() override {
    Disk().clear();
    LookedUp().clear();
  }
  // Runs the check with 4 KB clusters.
  int Check(std::vector<u8>& list, int64_t freeKB, u16 groupFlags = 0) {
    return CountGroupSpace(list.data(), (u32)list.size(), groupFlags, freeKB, 4, FakeLookup,
                           &warning);
  }
  int warning = -1;
};

}  // namespace

TEST_F(SpaceCheck, SizesAreRoundedToClustersAndTheLargestCountsTwice) {
  // 1 byte -> 4 KB, 5000 bytes -> 8 KB; largest 8 KB once more: 20 KB.
  auto list = FileList({{1, 0, DestInstallDir, "a"}, {5000, 0, DestInstallDir, "b"}});
  EXPECT_EQ(Check(list, 21), 0);
  EXPECT_EQ(Check(list, 20), 1);  // exactly equal is not enough
  EXPECT_EQ(warning, 0);
}

TEST_F(SpaceCheck, UnknownOrUncountableFreeSpaceAlwaysFits) {
  auto list = FileList({{100000000, 0, DestInstallDir, "a"}});
  EXPECT_EQ(Check(list, -1), 0);
  EXPECT_EQ(Check(list, -2), 0);
  EXPECT_EQ(Check(list, 0), 1);
}

TEST_F(SpaceCheck, EntriesOutsideTheInstallationAreNotCounted) {
  auto list = FileList({{40960, FileFlagSourceFolder, DestInstallDir, "beside"},
                        {40960, FileFlagFolderEntry, DestInstallDir, "folder"},
                        {4096, 0, DestInstallDir, "a"}});
  EXPECT_EQ(Check(list, 9), 0);  // 4 + 4 KB
  EXPECT_EQ(Check(list, 8), 1);
  EXPECT_TRUE(LookedUp() == (std::vector<std::string>{"a", "a"}));
}

TEST_F(SpaceCheck, ExistingFilesCountOnlyWithTheirGrowth) {
  Disk()["same"] = {1, 8000, 0};     // 8 KB on disk, 8 KB new: nothing
  Disk()["grows"] = {1, 4000, 0};    // 4 KB on disk, 12 KB new: 8 KB
  Disk()["shrinks"] = {1, 20000, 0}; // bigger on disk: nothing, never less
  auto list = FileList({{8192, 0, DestInstallDir, "same"},
                        {12000, 0, DestInstallDir, "grows"},
                        {100, 0, DestInstallDir, "shrinks"},
                        {0, 0, DestInstallDir, ""}});  // no target: nothing
  // Needed: 8 KB growth + 12 KB for the largest file.
  EXPECT_EQ(Check(list, 21), 0);
  EXPECT_EQ(Check(list, 20), 1);
}

TEST_F(SpaceCheck, FullCountGroupsSkipTheLookUpExceptForFontsAndMarkedEntries) {
  Disk()["plain"] = {1, 4096, 0};
  Disk()["marked"] = {1, 4096, 0};
  Disk()["font.ttf"] = {1, 4096, 0};
  auto list = FileList({{4096, 0, DestInstallDir, "plain"},
                        {4096, FileFlagCheckSpace, DestInstallDir, "marked"},
                        {4096, 0, DestFonts, "font.ttf"}});
  // Only "plain" counts in full (4 KB), plus the largest (4 KB).
  EXPECT_EQ(Check(list, 9, GroupFlagFullSpaceCount), 0);
  EXPECT_EQ(Check(list, 8, GroupFlagFullSpaceCount), 1);
  EXPECT_TRUE(LookedUp() ==
              (std::vector<std::string>{"marked", "font.ttf", "marked", "font.ttf"}));
  // Without the group flag every existing file is looked at: growth 0.
  LookedUp().clear();
  EXPECT_EQ(Check(list, 5), 0);
  EXPECT_EQ(LookedUp().size(), 3u);
}

TEST_F(SpaceCheck, ExistingFontsAreMarkedAndReadOnlyTargetsWarn) {
  Disk()["font.ttf"] = {1, 100, 1};  // a read-only font does not warn
  Disk()["new.ttf"] = {0, 0, 0};
  auto list = FileList({{100, 0, DestFonts, "font.ttf"}, {100, 0, DestFonts, "new.ttf"}});
  EXPECT_EQ(Check(list, 100), 0);
  u8* first = list.data() + 4;
  u8* second = first + ReadU16(first);
  EXPECT_EQ(ReadU32(first + EntryFlags), FileFlagNotLogged);
  EXPECT_EQ(ReadU32(second + EntryFlags), 0u);
  EXPECT_EQ(warning, 0);

  Disk()["locked.dll"] = {1, 100, 1};
  auto other = FileList({{100, 0, DestSystem, "locked.dll"}});
  EXPECT_EQ(Check(other, 100), 0);
  EXPECT_EQ(warning, 1);
  EXPECT_EQ(ReadU32(other.data() + 4 + EntryFlags), 0u);
  // The warning is cleared by the next check.
  Disk()["locked.dll"].readOnly = 0;
  Check(other, 100);
  EXPECT_EQ(warning, 0);
}

TEST_F(SpaceCheck, ADamagedListEndsTheWalk) {
  auto list = FileList({{4096, 0, DestInstallDir, "a"}, {4096, 0, DestInstallDir, "b"}});
  WriteU32(list.data(), 5);  // claims more entries than there are
  EXPECT_EQ(Check(list, 13), 0);
  EXPECT_EQ(LookedUp().size(), 2u);
  WriteU16(list.data() + 4, 2);  // an entry shorter than its fixed part
  LookedUp().clear();
  EXPECT_EQ(Check(list, 1), 0);
  EXPECT_TRUE(LookedUp().empty());
  EXPECT_EQ(CountGroupSpace(nullptr, 0, 0, 10, 4, FakeLookup, &warning), 0);
}

TEST(SpaceFigures, EveryEntryCountsRoundedToItsCluster) {
  auto list = FileList({{1, 0, DestInstallDir, "a"},
                        {4097, FileFlagSourceFolder, DestInstallDir, "b"},
                        {0, 0, DestInstallDir, "c"}});
  EXPECT_EQ(RoundedListSize(list.data(), (u32)list.size(), 4), 4096u + 8192u);
  EXPECT_EQ(RoundedListSize(list.data(), (u32)list.size(), 1), 1024u + 5120u);
  EXPECT_EQ(RoundedListSize(nullptr, 0, 4), 0u);
}
