// Finding the package and walking its record stream: LoadPackage,
// FindPackageStart and ReadRecordPayload on packages assembled byte by byte.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>

#include "tests/support/malformed_packages.h"
#include "tests/support/package_bytes.h"
#include "tests/support/ui_doubles.h"

using namespace pkgbytes;

namespace {

class PackageLoad : public ::testing::Test, protected ReaderProgram {
 protected:
  void SetUp() override {
    StartReader();
    ResetUi();
    ScreenWidth = 1024;
    ScreenHeight = 768;
  }
  void TearDown() override { FinishReader(); }

  int Load(const Bytes& file) {
    EXPECT_TRUE(WriteAll(program, file));
    return LoadPackage();
  }
  int LoadRecords(const std::vector<Bytes>& records, size_t stub = 4096) {
    return Load(Program(stub, records));
  }
  // Loads again from a clean state (tables released, run state reset).
  void Fresh() {
    ResetReader(programPath);
    ResetUi();
    ScreenWidth = 1024;
    ScreenHeight = 768;
  }
  std::string Payload(const u8* data, u32 length) {
    return data ? std::string((const char*)data, length) : std::string("<null>");
  }
};

GroupSpec NamedGroup(const std::string& folder, const std::string& notice = "Data missing") {
  GroupSpec g;
  g.defaultFolder = folder;
  UsualTexts(g);
  g.texts[7][31] = notice;
  return g;
}

Bytes Layout(uint32_t flags = 0x2) { return Compressed(TypeLayout, LayoutPayload(flags)); }
// Backdrop variant n: a small picture whose pixels read n.
Bytes Variant(uint8_t n) { return Stored(TypeBackdropImage, BackdropPayload(PackedBitmap(2, 2, 24, n))); }
// The variant loaded, by its pixels; -1 for none.
int VariantShown() {
  return BackdropImage && BackdropImageLength == 14 + 40 + 2 * 8 ? BackdropImage[14 + 40] : -1;
}
Bytes Group(const GroupSpec& g) { return Stored(TypeGroup, GroupPayload(g)); }
Bytes Group(const std::string& folder) { return Group(NamedGroup(folder)); }
Bytes FileList(uint32_t entries, const std::string& firstName = "file.txt") {
  std::vector<Bytes> list;
  for (uint32_t i = 0; i < entries; ++i) {
    EntrySpec e;
    e.strings[0] = i == 0 ? firstName : "f" + std::to_string(i);
    list.push_back(EntryBytes(e));
  }
  return Stored(TypeFileList, FileListPayload(list));
}

// ---------------------------------------------------------------------------

// A complete package written out byte for byte: 1,020-byte stub, marker,
// layout record (stored, flags 0xAA), group record with its display name and
// text group 7 (32 texts, the last one "Incomplete"), end of tables with four
// data bytes.
TEST_F(PackageLoad, ReadsAPackageWrittenByteForByte) {
  Bytes file(1020, 0);
  Append(file, {0x77, 0x77, 0x67, 0x54, 0x29, 0x48});
  Append(file, {0x35, 0x14, 0x00, 0x00, 0xAA, 0x00, 0x00, 0x00});  // layout, 170 bytes
  Bytes layout(170, 0);
  layout[0] = 0xAA;
  Append(file, layout);
  Bytes group(102, 0);
  group[6] = 102;    // display name
  group[62 + 28] = 106;  // text group 7
  Append(group, {'A', 'p', 'p', 0, 32, 0});
  for (int i = 0; i < 31; ++i) group.push_back(0);
  Append(group, Text("Incomplete"));
  Append(file, {0x3E, 0x14, 0x00, 0x00, (uint8_t)group.size(), 0x00, 0x00, 0x00});
  Append(file, group);
  const uint32_t endAt = (uint32_t)file.size();
  Append(file, {0x7F, 0x7F, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
  Append(file, {0xDE, 0xAD, 0xBE, 0xEF});

  ASSERT_EQ(Load(file), 1);
  EXPECT_EQ(LayoutFlagsValue(), 0xAAu);
  EXPECT_EQ(GroupCount, 1u);
  EXPECT_EQ(CurrentGroup, 0);
  EXPECT_STREQ(GetText(7, 31), "Incomplete");
  EXPECT_STREQ(GetText(7, 0), "");
  EXPECT_EQ(DataAreaOffset, endAt + 8);
  EXPECT_EQ(VolumeBytesLeft, 4u);
  EXPECT_EQ(VolumeLength, 4u);
  EXPECT_EQ(VolumeBase, 0u);
  EXPECT_TRUE(Ui().messages.empty());

  // One data byte short: the tables are read, the data is not all there.
  Fresh();
  file.pop_back();
  EXPECT_EQ(Load(file), 0);
  ASSERT_EQ(Ui().messages.size(), 1u);
  EXPECT_EQ(Ui().messages[0], "Incomplete");
  EXPECT_EQ(Ui().styles[0], 0x40u);
}

// The marker must begin at offset 1020 or later and end by offset 200,000.
TEST_F(PackageLoad, FindsTheMarkerOnlyInsideItsWindow) {
  struct Case {
    size_t stub;
    bool found;
  } cases[] = {{0, false},      {1012, false},   {1019, false}, {1020, true},
               {1021, true},    {4096, true},    {65537, true}, {199993, true},
               {199994, true},  {199995, false}, {250000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stub);
    Fresh();
    Bytes file = Program(c.stub, MinimalRecords());
    ASSERT_TRUE(WriteAll(program, file));
    FileHandle f = OpenExisting(program.c_str(), 0);
    ASSERT_NE(f, InvalidFile);
    u32 start = 0;
    EXPECT_EQ(FindPackageStart(f, &start), c.found ? 1 : 0);
    if (c.found) EXPECT_EQ(start, c.stub + 6);
    CloseFile(f);
    EXPECT_EQ(LoadPackage(), c.found ? 1 : 0);
    if (c.found) {
      EXPECT_STREQ(InstallDir, "C:\\Example");
      EXPECT_EQ(FileCount, 1u);
    }
    EXPECT_TRUE(Ui().messages.empty());
  }
}

TEST_F(PackageLoad, FindsNothingInFilesShorterThanTheWindowStart) {
  for (size_t length : {0, 1, 1012, 1019, 1025}) {
    SCOPED_TRACE(length);
    Fresh();
    Bytes file = Stub(length);
    EXPECT_EQ(Load(file), 0);
  }
  // A marker that is cut off by the end of the file.
  Fresh();
  Bytes file = Stub(1020);
  Append(file, {0x77, 0x77, 0x67, 0x54, 0x29});
  EXPECT_EQ(Load(file), 0);
}

// The scan buffer is kept for a second search in the same run: a larger file
// must not overrun it, and what an earlier file left in it must not be found.
TEST_F(PackageLoad, SecondSearchNeitherOverrunsNorFindsStaleBytes) {
  std::string small = dir.File("small.exe"), large = dir.File("large.exe"),
              plain = dir.File("plain.exe");
  ASSERT_TRUE(WriteAll(small, Program(1100, MinimalRecords())));
  ASSERT_TRUE(WriteAll(large, Program(199994, MinimalRecords())));
  Bytes noMarker = Stub(1600);
  ASSERT_TRUE(WriteAll(plain, noMarker));
  u32 start = 0;
  FileHandle f = OpenExisting(small.c_str(), 0);
  EXPECT_EQ(FindPackageStart(f, &start), 1);
  EXPECT_EQ(start, 1106u);
  CloseFile(f);
  f = OpenExisting(large.c_str(), 0);
  EXPECT_EQ(FindPackageStart(f, &start), 1);
  EXPECT_EQ(start, 200000u);
  CloseFile(f);
  f = OpenExisting(plain.c_str(), 0);
  EXPECT_EQ(FindPackageStart(f, &start), 0);
  CloseFile(f);
  f = OpenExisting(small.c_str(), 0);
  EXPECT_EQ(FindPackageStart(f, &start), 1);
  EXPECT_EQ(start, 1106u);
  CloseFile(f);
}

// ---------------------------------------------------------------------------
// The record stream

TEST_F(PackageLoad, StepsOverEmptyRecordsWithoutHandlingThem) {
  // An empty file list before any group and an empty group record would be
  // rejected or counted if they were handled.
  ASSERT_EQ(LoadRecords({Header(TypeFileList, 0, 0), Layout(), Header(TypeGroup, 0, 0),
                         Header(TypeLayout, 1, 0), Group("C:\\One"),
                         Header(TypeBackdropTitle, 0, 0), Stored(TypeBackdropTitle, Text("Title")),
                         Header(TypeBackdropTitle, 0, 0), Header(TypeGroup, 0, 0),
                         Header(TypeForcedPage, 0, 0), EndOfTables({9, 9})}),
            1);
  EXPECT_EQ(GroupCount, 1u);
  EXPECT_EQ(Payload(BackdropTitle, BackdropTitleLength), std::string("Title\0", 6));
  EXPECT_EQ(ForcedPageMode, 0);
}

TEST_F(PackageLoad, EmptyEndHeaderStillEndsTheTables) {
  Bytes end = Header(TypeEnd, 0, 0);
  PutU32(end, 3);
  Append(end, {7, 8, 9});
  // Bytes behind the data area look like a group record; they are not read.
  Append(end, Group("C:\\Behind"));
  ASSERT_EQ(LoadRecords({Layout(), Group("C:\\One"), end}), 1);
  EXPECT_EQ(GroupCount, 1u);
  EXPECT_EQ(VolumeBytesLeft, 3u);
  EXPECT_STREQ(InstallDir, "C:\\One");
}

// The end header's own size field is not used: only the data length word.
TEST_F(PackageLoad, IgnoresTheSizeFieldOfTheEndHeader) {
  for (uint32_t size : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    Fresh();
    Bytes end = Header(TypeEnd, 0, size);
    PutU32(end, 2);
    Append(end, {1, 2});
    EXPECT_EQ(LoadRecords({Layout(), Group("C:\\One"), end}), 1);
    EXPECT_EQ(VolumeBytesLeft, 2u);
  }
}

TEST_F(PackageLoad, StepsOverUnknownRecordsBySize) {
  Bytes junk(37, 0xFF);
  ASSERT_EQ(LoadRecords({Stored(TypeSkipped1439, junk), Layout(), Stored(TypeSkipped143C, junk),
                         Group("C:\\One"), Stored(TypeSkipped1440, junk),
                         Stored(0x1441, junk, 1), Stored(0x1442, junk), Stored(0x1443, junk),
                         Stored(0x0000, junk), Stored(0x7F7E, junk), EndOfTables({5})}),
            1);
  EXPECT_EQ(GroupCount, 1u);
}

TEST_F(PackageLoad, DecodesStoredAndCompressedPayloads) {
  Bytes style(72);
  for (size_t i = 0; i < style.size(); ++i) style[i] = (uint8_t)(i * 7);
  Bytes images = ImageTablePayload({PackedBitmap(3, 2, 24, 0x21), {}, PackedBitmap(9, 1, 8, 0x22)});
  Bytes uninstaller(100000);
  for (size_t i = 0; i < uninstaller.size(); ++i) uninstaller[i] = (uint8_t)(i % 251);
  GroupSpec g = NamedGroup("C:\\Packed");
  ASSERT_EQ(LoadRecords({Stored(TypeLayout, LayoutPayload(0x2 | 0x20)),
                         Compressed(TypeGroup, GroupPayload(g)),
                         Compressed(TypeFileList, FileListPayload({EntryBytes(EntrySpec())})),
                         Compressed(TypeTitleStyle, style), Stored(TypeImageTable, images),
                         Compressed(TypeUninstaller, uninstaller, 1),
                         Compressed(TypeBackdropTitle, Text("Packed title")),
                         Compressed(TypeRegistryEntries, style), EndOfTables({})}),
            1);
  EXPECT_EQ(LayoutFlagsValue(), 0x22u);
  EXPECT_EQ(LayoutLength, 170u);
  EXPECT_STREQ(InstallDir, "C:\\Packed");
  EXPECT_STREQ(GetText(7, 32), "7/32");
  EXPECT_EQ(FileCount, 1u);
  EXPECT_STREQ(EntryString(FirstFileEntry, 0), "file.txt");
  EXPECT_EQ(Payload(TitleStyle, TitleStyleLength), Payload(style.data(), 72));
  EXPECT_EQ(Payload(ImageTable, ImageTableLength), Payload(images.data(), (u32)images.size()));
  EXPECT_EQ(Payload(UninstallerImage, UninstallerLength),
            Payload(uninstaller.data(), (u32)uninstaller.size()));
  EXPECT_STREQ((const char*)BackdropTitle, "Packed title");
  EXPECT_EQ(Payload(Groups[0].registryEntries, Groups[0].registryLength),
            Payload(style.data(), 72));
}

// A compressed payload must decode to exactly its stated length: memory is
// taken as the stream produces bytes, never for a length it merely states,
// so a stream that ends short of it is not the payload. A stated length of 0
// with no stream at all is an empty payload.
TEST_F(PackageLoad, ShortStreamsAreRefusedAndNothingIsTakenForTheStatedLength) {
  Bytes shortStream = Compressed(TypeBackdropTitle, Text("ab"));
  SetU32(shortStream, 8, 10);
  Bytes noStream = Header(TypeBackdropTitle, 1, 4);
  PutU32(noStream, 12);
  for (const Bytes& record : {shortStream, noStream}) {
    Fresh();
    EXPECT_EQ(LoadRecords({Layout(), record, Group("C:\\One"), EndOfTables({})}), 0);
    EXPECT_EQ(BackdropTitle, nullptr);
    EXPECT_EQ(BackdropTitleLength, 0u);
  }
  Bytes empty = Header(TypeRegistryEntries, 1, 4);
  PutU32(empty, 0);
  for (const Bytes& record : {empty, Compressed(TypeRegistryEntries, Bytes())}) {
    Fresh();
    ASSERT_EQ(LoadRecords({Layout(), Group("C:\\One"), record, EndOfTables({})}), 1);
    EXPECT_NE(Groups[0].registryEntries, nullptr);
    EXPECT_EQ(Groups[0].registryLength, 0u);
  }
}

TEST_F(PackageLoad, ASecondRecordOfAKindReplacesTheFirst) {
  Bytes firstList = FileList(1, "first.txt"), secondList = FileList(2, "second.txt");
  ASSERT_EQ(LoadRecords({Stored(TypeLayout, LayoutPayload(0x4)), Stored(TypeBackdropTitle, Text("One")),
                         Stored(TypeUninstaller, Bytes(10, 1)), Group("C:\\One"), firstList,
                         Stored(TypeRegistryEntries, Bytes(5, 1)),
                         Stored(TypeImageTable, ImageTablePayload({PackedBitmap(1, 1, 24)})),
                         Layout(0x8), Stored(TypeBackdropTitle, Text("Two")),
                         Stored(TypeUninstaller, Bytes(20, 2)), secondList,
                         Stored(TypeRegistryEntries, Bytes(6, 2)), Stored(TypeImageTable, ImageTablePayload({})),
                         Stored(TypeTitleStyle, TitleStylePayload(1, 2, 0)),
                         Stored(TypeTitleStyle, TitleStylePayload(1, 2, 1)),
                         EndOfTables({})}),
            1);
  EXPECT_EQ(LayoutFlagsValue(), 0x8u);
  EXPECT_STREQ((const char*)BackdropTitle, "Two");
  EXPECT_EQ(UninstallerLength, 20u);
  EXPECT_EQ(UninstallerImage[0], 2);
  EXPECT_EQ(FileCount, 2u);
  EXPECT_STREQ(EntryString(FirstFileEntry, 0), "second.txt");
  EXPECT_EQ(Groups[0].registryLength, 6u);
  EXPECT_EQ(ImageTableLength, 4u);
  ASSERT_EQ(TitleStyleLength, 72u);
  EXPECT_EQ(ReadU32(TitleStyle + 8), 1u);
  // The replaced blocks were released: LeakSanitizer reports them otherwise.
}

// ---------------------------------------------------------------------------
// Completeness, the notice 7/31, silent installations

TEST_F(PackageLoad, DataAreaShorterThanItsLengthIsIncomplete) {
  Bytes data(100, 0x5A);
  Bytes end = EndOfTables(100, Bytes(data.begin(), data.end() - 1));
  ASSERT_EQ(LoadRecords({Layout(), Group("C:\\One"), end}), 0);
  ASSERT_EQ(Ui().messages.size(), 1u);
  EXPECT_EQ(Ui().messages[0], "Data missing");
  EXPECT_EQ(Ui().styles[0], 0x40u);
  // The tables stay loaded until FreePackage.
  EXPECT_EQ(GroupCount, 1u);
  EXPECT_STREQ(InstallDir, "C:\\One");

  Fresh();
  EXPECT_EQ(LoadRecords({Layout(), Group("C:\\One"), EndOfTables(100, data)}), 1);
  Fresh();
  Bytes more = data;
  more.push_back(1);
  EXPECT_EQ(LoadRecords({Layout(), Group("C:\\One"), EndOfTables(100, more)}), 1);
  EXPECT_TRUE(Ui().messages.empty());
}

TEST_F(PackageLoad, NoNoticeWhenSilentOrWhenTheTextIsEmpty) {
  Bytes cut = EndOfTables(50, Bytes(10, 1));
  // Silent installation: the layout's bit 14.
  EXPECT_EQ(LoadRecords({Layout(0x2 | 0x4000), Group("C:\\One"), cut}), 0);
  EXPECT_EQ(SilentMode, 1);
  EXPECT_TRUE(Ui().messages.empty());
  // An empty notice.
  Fresh();
  EXPECT_EQ(LoadRecords({Layout(), Group(NamedGroup("C:\\One", "")), cut}), 0);
  EXPECT_TRUE(Ui().messages.empty());
  // No text group 7 at all.
  Fresh();
  GroupSpec bare;
  bare.defaultFolder = "C:\\One";
  EXPECT_EQ(LoadRecords({Layout(), Group(bare), cut}), 0);
  EXPECT_TRUE(Ui().messages.empty());
}

TEST_F(PackageLoad, KeepInteractiveClearsTheSilentBitInTheStoredFlags) {
  const std::vector<Bytes> records = {Layout(0x2 | 0x4000 | 0x8000), Group("C:\\One"),
                                      EndOfTables(8, {})};
  KeepInteractive = 1;
  EXPECT_EQ(LoadRecords(records), 0);
  EXPECT_EQ(SilentMode, 0);
  EXPECT_EQ(LayoutFlagsValue(), 0x2u | 0x8000u);
  EXPECT_EQ(GetU32(Bytes(LayoutRecord, LayoutRecord + 4), 0), 0x8002u);
  ASSERT_EQ(Ui().messages.size(), 1u);  // not silent: the notice is shown

  Fresh();
  EXPECT_EQ(LoadRecords(records), 0);
  EXPECT_EQ(SilentMode, 1);
  EXPECT_EQ(LayoutFlagsValue(), 0x2u | 0x4000u | 0x8000u);
  EXPECT_TRUE(Ui().messages.empty());
}

// ---------------------------------------------------------------------------
// Forced page and continuation runs

TEST_F(PackageLoad, ForcedPageMakesThePackageCompleteWithoutData) {
  ASSERT_EQ(LoadRecords({Layout(), Group("C:\\Zero"), Group("C:\\One"), ForcedPageRecord(5, 1),
                         EndOfTables(1000, {})}),
            1);
  EXPECT_EQ(ForcedPageMode, 1);
  EXPECT_EQ(ForcedPage, 5);
  EXPECT_EQ(CurrentGroup, 1);
  EXPECT_STREQ(InstallDir, "C:\\One");
  EXPECT_TRUE(Ui().messages.empty());
}

TEST_F(PackageLoad, ForcedPageIsReadDirectlyWhateverItsFlagsSay) {
  // The compressed bit and a larger size field: the two words are read as
  // they stand and the next record still starts after `size` bytes.
  Bytes forced = Header(TypeForcedPage, 1, 10);
  Append(forced, {6, 0, 1, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
  ASSERT_EQ(LoadRecords({forced, Layout(), Group("C:\\Zero"), Group("C:\\One"), EndOfTables(4, {})}),
            1);
  EXPECT_EQ(ForcedPage, 6);
  EXPECT_EQ(CurrentGroup, 1);
}

TEST_F(PackageLoad, RejectsAForcedGroupThatDoesNotExist) {
  for (uint16_t group : {2, 3, 0xFFFF}) {
    SCOPED_TRACE(group);
    Fresh();
    EXPECT_EQ(LoadRecords({Layout(), Group("C:\\Zero"), Group("C:\\One"), ForcedPageRecord(5, group),
                           EndOfTables({})}),
              0);
    EXPECT_NE(CurrentGroup, (i32)group);
    EXPECT_LT((u32)CurrentGroup, GroupCount);
  }
}

class ContinuationLoad : public PackageLoad {
 protected:
  Bytes file;
  void SetUp() override {
    PackageLoad::SetUp();
    // A resolution list that would be rejected if it were read.
    Bytes badList;
    PutU32(badList, 1000);
    file = Program(4096, {Layout(), Stored(TypeImageTable, Bytes(64, 1)),
                          Stored(TypeResolutionList, ResolutionPayload({{1024, 768}})),
                          Stored(TypeBackdropImage, Bytes(30, 3)), Stored(TypeResolutionList, badList),
                          Stored(TypeBackdropTitle, Text("Title")), Group("C:\\Zero"),
                          Group("C:\\One"), EndOfTables(5000, {})});
    ContinueGroup = 2;
  }
};

TEST_F(ContinuationLoad, SkipsImagesAndTakesAFileEndingAfterTheLengthWord) {
  ASSERT_EQ(Load(file), 1);
  EXPECT_EQ(ImageTable, nullptr);
  EXPECT_EQ(BackdropImage, nullptr);
  EXPECT_STREQ((const char*)BackdropTitle, "Title");
  EXPECT_EQ(GroupCount, 2u);
  EXPECT_EQ(DataAreaOffset + 4, file.size());
  EXPECT_EQ(VolumeBytesLeft, 5000u);
}

TEST_F(ContinuationLoad, RefusesAFileOneByteLongerOrShorter) {
  Bytes longer = file;
  longer.push_back(0);
  EXPECT_EQ(Load(longer), 0);
  EXPECT_EQ(Ui().messages.size(), 1u);

  Fresh();
  ContinueGroup = 2;
  Bytes shorter(file.begin(), file.end() - 1);
  EXPECT_EQ(Load(shorter), 0);  // the length word cannot be read: no notice
  EXPECT_TRUE(Ui().messages.empty());

  // The same full-length package, with all its data, is a complete package
  // for a normal run but not for a continuation run.
  Fresh();
  ContinueGroup = 2;
  Bytes full = file;
  full.resize(full.size() + 5000, 0);
  EXPECT_EQ(Load(full), 0);
  Fresh();
  EXPECT_EQ(Load(file), 0);  // normal run: the resolution list is read and rejected
}

// ---------------------------------------------------------------------------
// Backdrop variants

TEST(BackdropVariant, ChoosesAsTheExamplesShow) {
  Bytes three = ResolutionPayload({{800, 600}, {1024, 768}, {1280, 1024}});
  const u8* pairs = three.data() + 4;
  EXPECT_EQ(ChooseBackdropVariant(pairs, 3, 1024, 768), 1);   // exact
  EXPECT_EQ(ChooseBackdropVariant(pairs, 3, 1152, 864), 2);   // smallest reaching
  EXPECT_EQ(ChooseBackdropVariant(pairs, 3, 1920, 1200), 2);  // largest smaller
  EXPECT_EQ(ChooseBackdropVariant(pairs, 3, 640, 480), 0);    // smallest reaching
  Bytes two = ResolutionPayload({{640, 480}, {800, 600}});
  EXPECT_EQ(ChooseBackdropVariant(two.data() + 4, 2, 1024, 768), 1);
  EXPECT_EQ(ChooseBackdropVariant(two.data() + 4, 0, 1024, 768), -1);
}

TEST(BackdropVariant, TiesKeepTheEarlierVariant) {
  Bytes same = ResolutionPayload({{1280, 1024}, {1280, 1024}, {1600, 1200}});
  EXPECT_EQ(ChooseBackdropVariant(same.data() + 4, 3, 1024, 768), 0);
  Bytes smaller = ResolutionPayload({{800, 600}, {800, 600}, {640, 480}});
  EXPECT_EQ(ChooseBackdropVariant(smaller.data() + 4, 3, 1024, 768), 0);
  // Not larger both ways: a variant wider but not taller does not win.
  Bytes mixed = ResolutionPayload({{800, 600}, {1000, 600}});
  EXPECT_EQ(ChooseBackdropVariant(mixed.data() + 4, 2, 1024, 768), 0);
  // Exact matches win wherever they stand; the first of two.
  Bytes exact = ResolutionPayload({{1280, 1024}, {1024, 768}, {1024, 768}});
  EXPECT_EQ(ChooseBackdropVariant(exact.data() + 4, 3, 1024, 768), 1);
  // Reaching one way only counts as reaching: it replaces a smaller choice.
  Bytes oneWay = ResolutionPayload({{800, 600}, {1024, 600}});
  EXPECT_EQ(ChooseBackdropVariant(oneWay.data() + 4, 2, 1024, 768), 1);
}

TEST_F(PackageLoad, LoadsOnlyTheChosenVariantCountedAfterTheList) {
  ScreenWidth = 1152;
  ScreenHeight = 864;
  // The images that cannot be chosen are not read: they need not even be
  // pictures.
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeBackdropImage, Text("before")),
                         Stored(TypeResolutionList, ResolutionPayload({{800, 600}, {1024, 768}, {1280, 1024}})),
                         Variant(0), Stored(TypeBackdropTitle, Text("t")),
                         Header(TypeBackdropImage, 0, 0),  // empty: not a variant
                         Variant(1), Variant(2),
                         Stored(TypeBackdropImage, Text("after")), Group("C:\\One"), EndOfTables({})}),
            1);
  EXPECT_EQ(VariantShown(), 2);

  for (auto screen : std::vector<std::pair<int, int>>{{1024, 768}, {640, 480}, {2000, 2000}}) {
    Fresh();
    ScreenWidth = screen.first;
    ScreenHeight = screen.second;
    ASSERT_EQ(LoadRecords({Layout(), Stored(TypeResolutionList, ResolutionPayload({{800, 600}, {1024, 768}, {1280, 1024}})),
                           Variant(0), Variant(1), Variant(2), Group("C:\\One"), EndOfTables({})}),
              1);
    EXPECT_EQ(VariantShown(), screen.first == 1024 ? 1 : screen.first == 640 ? 0 : 2);
  }
}

TEST_F(PackageLoad, NoVariantWithoutAListOrWithAnEmptyOne) {
  ASSERT_EQ(LoadRecords({Layout(), Stored(TypeBackdropImage, Text("v0")), Group("C:\\One"),
                         EndOfTables({})}),
            1);
  EXPECT_EQ(BackdropImage, nullptr);
  for (int32_t count : {0, -1, (int32_t)0x80000000}) {
    Fresh();
    Bytes list;
    PutI32(list, count);
    ASSERT_EQ(LoadRecords({Layout(), Stored(TypeResolutionList, list),
                           Stored(TypeBackdropImage, Text("v0")), Group("C:\\One"), EndOfTables({})}),
              1);
    EXPECT_EQ(BackdropImage, nullptr);
  }
}

// ---------------------------------------------------------------------------
// Install groups

TEST_F(PackageLoad, EachGroupRecordTakesTheNextSlot) {
  ASSERT_EQ(LoadRecords({Layout(), Group("C:\\Zero"), FileList(1, "zero.txt"),
                         Stored(TypeRegistryEntries, Bytes(3, 0)), Group("C:\\One"),
                         FileList(2, "one.txt"), Stored(TypeRegistryEntries, Bytes(4, 1)),
                         Group("C:\\Two"), EndOfTables({})}),
            1);
  ASSERT_EQ(GroupCount, 3u);
  EXPECT_STREQ(EntryString(Groups[0].fileList + 4, 0), "zero.txt");
  EXPECT_STREQ(EntryString(Groups[1].fileList + 4, 0), "one.txt");
  EXPECT_EQ(Groups[2].fileList, nullptr);
  EXPECT_EQ(Groups[0].registryLength, 3u);
  EXPECT_EQ(Groups[1].registryLength, 4u);
  EXPECT_EQ(Groups[2].registryEntries, nullptr);
  EXPECT_STREQ(Groups[1].folder, "C:\\One");
  EXPECT_STREQ(Groups[2].folder, "C:\\Two");
  EXPECT_EQ(CurrentGroup, 0);
  EXPECT_STREQ(InstallDir, "C:\\Zero");
  EXPECT_EQ(FileCount, 1u);
}

TEST_F(PackageLoad, SixteenGroupsFitASeventeenthIsRejected) {
  std::vector<Bytes> records = {Layout()};
  for (int i = 0; i < 16; ++i) records.push_back(Group("C:\\G" + std::to_string(i)));
  records.push_back(EndOfTables({}));
  ASSERT_EQ(LoadRecords(records), 1);
  EXPECT_EQ(GroupCount, 16u);
  EXPECT_STREQ(Groups[15].folder, "C:\\G15");

  Fresh();
  records.insert(records.end() - 1, Group("C:\\G16"));
  EXPECT_EQ(LoadRecords(records), 0);
  EXPECT_TRUE(Ui().messages.empty());
}

// Loading again after FreePackage in the same process starts from no current
// group: group 0's folder is not overwritten with the last group's.
TEST_F(PackageLoad, LoadingAgainAfterFreePackageKeepsEachGroupsFolder) {
  const std::vector<Bytes> records = {Layout(), Group("C:\\Zero"), Group("C:\\One"), EndOfTables({})};
  ASSERT_EQ(LoadRecords(records), 1);
  FreePackage();
  ASSERT_EQ(LoadPackage(), 1);
  EXPECT_STREQ(InstallDir, "C:\\Zero");
  EXPECT_STREQ(Groups[0].folder, "C:\\Zero");
  EXPECT_STREQ(Groups[1].folder, "C:\\One");
}

TEST_F(PackageLoad, LongDefaultFolderIsCutToTheFolderBuffer) {
  std::string folder = "C:\\" + std::string(400, 'x');
  ASSERT_EQ(LoadRecords({Layout(), Group(folder), EndOfTables({})}), 1);
  EXPECT_EQ(strlen(InstallDir), 259u);
  EXPECT_EQ(strlen(Groups[0].folder), 259u);
}

// ---------------------------------------------------------------------------
// Malformed packages: rejected, and nothing is read outside a record (the
// sanitizers watch every case).

TEST_F(PackageLoad, RejectsEveryMalformation) {
  for (const Malformed& m : MalformedPackages()) {
    SCOPED_TRACE(m.name);
    Fresh();
    EXPECT_EQ(LoadRecords(m.records), 0);
    EXPECT_LE(GroupCount, 16u);
    EXPECT_STREQ(GetText(7, 99), "");
    // What stays loaded after the failure is only records that passed their
    // checks; a rejected record leaves its slot empty.
    if (LayoutRecord) EXPECT_TRUE(CheckLayoutRecord({LayoutRecord, LayoutLength}));
    else EXPECT_EQ(LayoutLength, 0u);
    for (const GroupTables& group : Groups) {
      if (group.record) EXPECT_TRUE(CheckGroupRecord({group.record, group.recordLength}));
      else EXPECT_EQ(group.recordLength, 0u);
      if (group.fileList) EXPECT_TRUE(CheckFileList({group.fileList, group.fileListLength}));
      else EXPECT_EQ(group.fileListLength, 0u);
    }
    if (!BackdropTitle) EXPECT_EQ(BackdropTitleLength, 0u);
    if (!TitleStyle) EXPECT_EQ(TitleStyleLength, 0u);
    if (!UninstallerImage) EXPECT_EQ(UninstallerLength, 0u);
  }
  // The unaltered package loads: each case above fails for its one change.
  Fresh();
  EXPECT_EQ(LoadRecords({Layout(), Group("C:\\One"), FileList(2), EndOfTables({})}), 1);
}

// ---------------------------------------------------------------------------
// ReadRecordPayload on its own

class RecordPayload : public PackageLoad {
 protected:
  FileHandle file = InvalidFile;
  RecordHeader header = {};
  void Open(const Bytes& record) {
    ASSERT_TRUE(WriteAll(program, record));
    file = OpenExisting(program.c_str(), 0);
    ASSERT_NE(file, InvalidFile);
    u8 raw[8];
    ASSERT_EQ(ReadExact(file, raw, 8), 0);
    header = {ReadU16(raw), ReadU16(raw + 2), ReadU32(raw + 4)};
  }
  void TearDown() override {
    if (file != InvalidFile) CloseFile(file);
    PackageLoad::TearDown();
  }
};

TEST_F(RecordPayload, ReportsTheDecodedLengthEvenOnFailure) {
  Bytes record = Compressed(TypeTitleStyle, Bytes(5000, 'q'));
  record.resize(record.size() - 3);  // the stream runs past the end of the file
  Open(record);
  u8* data = (u8*)1;
  u32 length = 0;
  EXPECT_NE(ReadRecordPayload(file, &header, &data, &length), 0);
  EXPECT_EQ(length, 5000u);
  EXPECT_EQ(data, nullptr);
}

TEST_F(RecordPayload, CorruptStreamIsError31AndNothingStaysAllocated) {
  Bytes record = Compressed(TypeTitleStyle, Bytes(5000, 'q'));
  for (size_t i = 14; i < record.size(); ++i) record[i] = 0xFF;
  Open(record);
  u8* data = nullptr;
  EXPECT_EQ(ReadRecordPayload(file, &header, &data, nullptr), 31);
  EXPECT_EQ(data, nullptr);
}

TEST_F(RecordPayload, StoredPayloadCutShortIsError1) {
  Bytes record = Stored(TypeTitleStyle, Bytes(64, 1));
  record.pop_back();
  Open(record);
  u8* data = nullptr;
  u32 length = 0;
  EXPECT_EQ(ReadRecordPayload(file, &header, &data, &length), 1);
  EXPECT_EQ(length, 64u);
  EXPECT_EQ(data, nullptr);
}

}  // namespace
