// Text lookup, group selection and the file-list walk over loaded packages.
#include <gtest/gtest.h>

#include <string.h>

#include "tests/support/package_bytes.h"
#include "tests/support/ui_doubles.h"

using namespace pkgbytes;

namespace {

class PackageTables : public ::testing::Test, protected ReaderProgram {
 protected:
  void SetUp() override {
    StartReader();
    ResetUi();
  }
  void TearDown() override { FinishReader(); }
  int LoadRecords(const std::vector<Bytes>& records) {
    EXPECT_TRUE(WriteAll(program, Program(2048, records)));
    return LoadPackage();
  }
};

Bytes Layout() { return Stored(TypeLayout, LayoutPayload(0x2)); }

GroupSpec UsualGroup(const std::string& folder) {
  GroupSpec g;
  g.defaultFolder = folder;
  UsualTexts(g);
  return g;
}

TEST_F(PackageTables, GetTextStaysInsideEachTextGroup) {
  GroupSpec g = UsualGroup("C:\\One");
  g.hasGroup[2] = false;  // no licence texts
  g.texts[8][6] = "";     // an empty text is still a text
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeGroup, GroupPayload(g)), EndOfTables({})}), 1);

  EXPECT_STREQ(GetText(7, 0), "7/0");
  EXPECT_STREQ(GetText(7, 32), "7/32");
  EXPECT_STREQ(GetText(7, 33), "");
  EXPECT_STREQ(GetText(7, 40), "");
  EXPECT_STREQ(GetText(0, 5), "0/5");
  EXPECT_STREQ(GetText(0, 6), "");
  EXPECT_STREQ(GetText(8, 5), "8/5");
  EXPECT_STREQ(GetText(8, 6), "");
  EXPECT_STREQ(GetText(2, 0), "");  // no such text group
  EXPECT_STREQ(GetText(9, 0), "");  // a text group of no texts
  EXPECT_STREQ(GetText(10, 0), "");
  EXPECT_STREQ(GetText(0xFFFFFFFFu, 0), "");
  // The number is compared as an unsigned 16-bit value.
  EXPECT_STREQ(GetText(7, 0x10000 + 31), "7/31");
  EXPECT_STREQ(GetText(7, 0xFFFF), "");
  EXPECT_STREQ(GetText(7, 0xFFFFFFFFu), "");
}

TEST_F(PackageTables, GetTextWithoutAPackageIsEmpty) {
  EXPECT_STREQ(GetText(7, 0), "");
  EXPECT_STREQ(GetText(10, 0), "");
}

TEST_F(PackageTables, SelectGroupKeepsEachGroupsFolder) {
  EntrySpec e;
  Bytes oneFile = Stored(TypeFileList, FileListPayload({EntryBytes(e)}));
  Bytes threeFiles = Stored(TypeFileList, FileListPayload({EntryBytes(e), EntryBytes(e), EntryBytes(e)}));
  GroupSpec zero = UsualGroup("C:\\Zero"), one = UsualGroup("D:\\One"), two = UsualGroup("E:\\Two");
  zero.texts[7][0] = "Zero";
  one.texts[7][0] = "One";
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeGroup, GroupPayload(zero)), oneFile,
                         Stored(TypeGroup, GroupPayload(one)), threeFiles,
                         Stored(TypeGroup, GroupPayload(two)), Stored(TypeFileList, FileListPayload({})),
                         EndOfTables({})}),
            1);
  ASSERT_EQ(CurrentGroup, 0);
  EXPECT_STREQ(GetText(7, 0), "Zero");
  EXPECT_EQ(FileCount, 1u);

  // The user changes the folder of group 0, then the run switches groups.
  strcpy(InstallDir, "C:\\Changed");
  ASSERT_EQ(SelectGroup(1), 1);
  EXPECT_EQ(CurrentGroup, 1);
  EXPECT_STREQ(Groups[0].folder, "C:\\Changed");
  EXPECT_STREQ(InstallDir, "D:\\One");
  EXPECT_STREQ(GetText(7, 0), "One");
  EXPECT_EQ(FileCount, 3u);
  EXPECT_EQ(FirstFileEntry, Groups[1].fileList + 4);

  // An empty file list: no entries and no pointer.
  ASSERT_EQ(SelectGroup(2), 1);
  EXPECT_STREQ(Groups[1].folder, "D:\\One");
  EXPECT_EQ(FileCount, 0u);
  EXPECT_EQ(FirstFileEntry, nullptr);

  ASSERT_EQ(SelectGroup(0), 1);
  EXPECT_STREQ(InstallDir, "C:\\Changed");

  // Groups that do not exist are refused and change nothing.
  strcpy(InstallDir, "C:\\Again");
  for (i32 index : {3, 16, -1, (i32)0x80000000}) {
    EXPECT_EQ(SelectGroup(index), 0);
    EXPECT_EQ(CurrentGroup, 0);
    EXPECT_STREQ(InstallDir, "C:\\Again");
  }
  EXPECT_STREQ(Groups[0].folder, "C:\\Changed");
}

TEST_F(PackageTables, GroupWithoutFileListHasNoEntries) {
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeGroup, GroupPayload(UsualGroup("C:\\One"))),
                         EndOfTables({})}),
            1);
  EXPECT_EQ(FileCount, 0u);
  EXPECT_EQ(FirstFileEntry, nullptr);
}

// The group's default folder "#parent#" keeps the folder of the group
// before it (nothing can be detected outside Windows).
TEST_F(PackageTables, ParentRuleKeepsTheFolderOfThePreviousGroup) {
  GroupSpec parent = UsualGroup("#PaReNt#");
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeGroup, GroupPayload(UsualGroup("C:\\Apps"))),
                         Stored(TypeGroup, GroupPayload(parent)), EndOfTables({})}),
            1);
  EXPECT_STREQ(Groups[1].folder, "C:\\Apps");
}

// ---------------------------------------------------------------------------
// File entries and their strings

std::vector<std::string> Strings(int n, const char* prefix) {
  std::vector<std::string> list;
  for (int i = 0; i < n; ++i) list.push_back(prefix + std::to_string(i));
  return list;
}

TEST_F(PackageTables, EntryStringsFollowTheOptionalBlocks) {
  EntrySpec plain, versioned, timed, both, custom;
  plain.strings = Strings(9, "p");
  versioned.flags = 0x4;
  versioned.strings = Strings(9, "v");
  timed.flags = 0x8;
  timed.strings = Strings(9, "t");
  both.flags = 0x2 | 0x8;
  both.strings = Strings(9, "b");
  custom.destination = 8;
  custom.strings = Strings(10, "c");
  std::vector<Bytes> entries = {EntryBytes(plain), EntryBytes(versioned), EntryBytes(timed),
                                EntryBytes(both), EntryBytes(custom)};
  Bytes list = FileListPayload(entries);
  ASSERT_TRUE(CheckFileList({list.data(), (u32)list.size()}));
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeGroup, GroupPayload(UsualGroup("C:\\One"))),
                         Compressed(TypeFileList, list), EndOfTables({})}),
            1);
  ASSERT_EQ(FileCount, 5u);
  const char* prefixes = "pvtbc";
  const u8* entry = FirstFileEntry;
  for (u32 i = 0; i < FileCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ReadU16(entry), entries[i].size());
    for (u32 n = 0; n < 9; ++n)
      EXPECT_EQ(std::string(EntryString(entry, n)), prefixes[i] + std::to_string(n));
    EXPECT_STREQ(EntryString(entry, 9), i == 4 ? "c9" : "");
    EXPECT_STREQ(EntryString(entry, 10), "");
    EXPECT_STREQ(EntryString(entry, 0xFFFFFFFFu), "");
    entry += ReadU16(entry);
  }
  EXPECT_EQ(entry, Groups[0].fileList + Groups[0].fileListLength);
}

TEST_F(PackageTables, CheckFileListNeedsEveryEntryWhole) {
  EntrySpec e;
  Bytes good = FileListPayload({EntryBytes(e), EntryBytes(e)});
  EXPECT_TRUE(CheckFileList({good.data(), (u32)good.size()}));
  // Every shorter list fails; the sanitizers see that nothing beyond the
  // shortened list is read.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::vector<u8> copy(good.begin(), good.begin() + cut);
    EXPECT_FALSE(CheckFileList({copy.data(), (u32)copy.size()}));
  }
  // An entry that claims to end before its last string ends.
  Bytes shortEntry = good;
  SetU16(shortEntry, 4, (uint16_t)(GetU32(shortEntry, 4) & 0xFFFF) - 1);
  EXPECT_FALSE(CheckFileList({shortEntry.data(), (u32)shortEntry.size()}));
  // Zero entries is a valid list.
  Bytes none = FileListPayload({});
  EXPECT_TRUE(CheckFileList({none.data(), (u32)none.size()}));
}

// Strings of an entry whose last string is not terminated inside the entry
// (EntryString is also called on entries the list check has not seen).
TEST(EntryString, StopsAtTheEntryEnd) {
  EntrySpec e;
  e.strings = {"name", "x"};
  Bytes entry = EntryBytes(e);
  entry.pop_back();  // "x" loses its NUL
  SetU16(entry, 0, (uint16_t)entry.size());
  std::vector<u8> exact(entry.begin(), entry.end());
  EXPECT_STREQ(EntryString(exact.data(), 0), "name");
  EXPECT_STREQ(EntryString(exact.data(), 1), "");
  EXPECT_STREQ(EntryString(exact.data(), 2), "");
}

TEST(GroupRecordText, NeverReadsOutsideTheRecord) {
  GroupSpec g;
  UsualTexts(g);
  Bytes payload = GroupPayload(g);
  RecordView view = {payload.data(), (u32)payload.size()};
  ASSERT_TRUE(CheckGroupRecord(view));
  EXPECT_STREQ(GroupRecordText(view, 7, 32), "7/32");
  EXPECT_EQ(GroupRecordText(view, 7, 33), nullptr);
  // Every shorter record fails the check and never yields a text beyond it.
  for (size_t cut = 0; cut < payload.size(); ++cut) {
    std::vector<u8> copy(payload.begin(), payload.begin() + cut);
    RecordView shorter = {copy.data(), (u32)copy.size()};
    EXPECT_FALSE(CheckGroupRecord(shorter)) << cut;
    for (u32 t = 0; t < 10; ++t) {
      const char* text = GroupRecordText(shorter, t, 0);
      if (text) EXPECT_LT((const u8*)text + strlen(text), copy.data() + copy.size());
    }
  }
}

}  // namespace
