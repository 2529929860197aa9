// Builder to loader: packages built by the builder's code, read back by the
// setup program's own LoadPackage, text lookup and decompressor.
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "builder/texts.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;
using setrunc::FileData;
using setrunc::FileEntry;
using setrunc::Group;
using setrunc::Project;

namespace {

Group TextGroup(const std::string& title) {
  Group g;
  g.texts = setrunc::DefaultTexts(title);
  g.pages = {PageWelcome, PageInstallFolder, PageReady, PageInstalling, PageFinish};
  return g;
}

FileEntry InlineFile(const std::string& name, const Bytes& data) {
  FileEntry e;
  e.strings[0] = name;
  e.data.kind = FileData::Inline;
  e.data.bytes = data;
  e.origin = name;
  return e;
}

const char* Text(const u8* record, u32 length, u32 field) {
  return RecordText({record, length}, field);
}

// The names in a folder.
std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  DIR* d = opendir(folder.c_str());
  while (dirent* e = d ? readdir(d) : nullptr)
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.insert(e->d_name);
  if (d) closedir(d);
  return names;
}

class RoundTrip : public LoaderTest {
 protected:
  TempDir dir;
};

TEST_F(RoundTrip, LayoutHeaderKeepsEveryField) {
  Project p;
  setrunc::Layout& l = p.layout;
  l.flags = LayoutFlagFullScreen | LayoutFlagGradient | LayoutFlagTile | LayoutFlagCentreV;
  l.colourA = 0x00112233;
  l.colourB = 0x00445566;
  l.frameWidth = 640;
  l.frameHeight = 480;
  l.buttonBarFlags = ButtonBarEtchedLine | ButtonBarKeepVisualStyles;
  l.font = {-13, 5, 1, 2, 700, 1, 1, 1, 238, 3, 2, 5, 34, "Segoe UI"};
  l.buttonBarColour = 0x00ABCDEF;
  l.buttonBarHeight = 52;
  p.groups.push_back(TextGroup("App"));
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);

  ASSERT_EQ(LayoutLength, LayoutHeaderSize);
  EXPECT_EQ(LayoutFlagsValue(), l.flags);
  EXPECT_EQ(ReadU32(LayoutRecord + LayoutColourA), 0x00112233u);
  EXPECT_EQ(ReadU32(LayoutRecord + LayoutColourB), 0x00445566u);
  EXPECT_EQ((i32)ReadU32(LayoutRecord + LayoutFrameWidth), 640);
  EXPECT_EQ((i32)ReadU32(LayoutRecord + LayoutFrameHeight), 480);
  EXPECT_EQ(ReadU32(LayoutRecord + LayoutButtonBarFlags), 3u);
  EXPECT_EQ(ReadU32(LayoutRecord + LayoutButtonBarColour), 0x00ABCDEFu);
  EXPECT_EQ((i32)ReadU32(LayoutRecord + LayoutButtonBarHeight), 52);
  EXPECT_EQ(ReadU32(LayoutRecord + LayoutButtonBarCount), 0u);
  const u8* font = LayoutRecord + LayoutDialogFont;  // LOGFONTA
  EXPECT_EQ((i32)ReadU32(font), -13);
  EXPECT_EQ(ReadU32(font + 4), 5u);
  EXPECT_EQ(ReadU32(font + 8), 1u);
  EXPECT_EQ(ReadU32(font + 12), 2u);
  EXPECT_EQ(ReadU32(font + 16), 700u);
  const u8 bytes[8] = {1, 1, 1, 238, 3, 2, 5, 34};
  EXPECT_EQ(memcmp(font + 20, bytes, 8), 0);
  EXPECT_STREQ((const char*)font + 28, "Segoe UI");
  for (u32 slot = 0; slot < PageTableSlots; ++slot)
    EXPECT_EQ(ReadU32(LayoutRecord + LayoutPageTable + 4 * slot), 0u);
}

TEST_F(RoundTrip, SilentFlagReachesTheRunState) {
  Project p;
  p.layout.flags = LayoutFlagSilent;
  p.groups.push_back(TextGroup("App"));
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);
  EXPECT_EQ(SilentMode, 1);
}

TEST_F(RoundTrip, GroupRecordsKeepEveryFieldAndText) {
  Project p;
  Group a = TextGroup("First");
  a.flags = GroupFlagFolderChangeable | GroupFlagUninstallEntry | GroupFlagRunCheckBox;
  a.flags2 = Group2NoFinishPage | Group2TitleInCaption;
  a.displayName = "First Product";
  a.secondName = "";
  a.registryRoot = 1;
  a.registryKey = "Software\\Vendor\\First";
  a.registryValue = "Path";
  a.defaultFolder = "C:\\Apps\\First";
  a.iniFile = "first.ini";
  a.iniSection = "Setup";
  a.iniKey = "Folder";
  a.pages = {PageWelcome, PageLicence, PageInstallFolder, PageReady, PageInstalling, PageFinish};
  a.texts[9] = {"nine zero", "", "nine two"};
  a.texts[7][13] = "Stop now?";
  Group b = TextGroup("Second");
  b.flags = 0;
  b.registryRoot = 7;
  b.defaultFolder = "D:\\Second";
  b.pages = {0, 1, 2, 3, 4, 5, 6, 4, 3, 2, 1};  // eleven pages: the longest sequence
  a.registryEntries = Bytes{0x37, 0x12, 0, 0, 2, 0, 0, 0, 'h', 'i'};
  b.registryEntries = Bytes{};
  p.groups = {a, b};
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);
  ASSERT_EQ(GroupCount, 2u);

  const GroupTables& g0 = Groups[0];
  EXPECT_EQ(ReadU16(g0.record + GroupFlags), a.flags);
  EXPECT_EQ(ReadU32(g0.record + GroupFlags2), a.flags2);
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupDisplayName), "First Product");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupSecondName), "");
  EXPECT_EQ(ReadU32(g0.record + GroupRegistryRoot), 1u);
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupRegistryKey), "Software\\Vendor\\First");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupRegistryValue), "Path");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupDefaultFolder), "C:\\Apps\\First");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupIniFile), "first.ini");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupIniSection), "Setup");
  EXPECT_STREQ(Text(g0.record, g0.recordLength, GroupIniKey), "Folder");
  const u8 sequence[7] = {0, 2, 3, 4, 5, 6, PageSequenceEnd};
  EXPECT_EQ(memcmp(g0.record + GroupPageSequence, sequence, 7), 0);
  EXPECT_STREQ(g0.folder, "C:\\Apps\\First");
  ASSERT_EQ(g0.registryLength, 10u);
  EXPECT_EQ(Bytes(g0.registryEntries, g0.registryEntries + 10), *a.registryEntries);
  EXPECT_EQ(Groups[1].registryLength, 0u);

  const GroupTables& g1 = Groups[1];
  EXPECT_EQ(ReadU32(g1.record + GroupRegistryRoot), 7u);
  EXPECT_EQ(ReadU32(g1.record + GroupDisplayName), 0u);  // absent fields stay 0
  EXPECT_EQ(ReadU32(g1.record + GroupRegistryKey), 0u);
  EXPECT_EQ(ReadU32(g1.record + GroupIniKey), 0u);
  EXPECT_EQ(g1.record[GroupPageSequence + 10], 1);
  EXPECT_EQ(g1.record[GroupPageSequence + 11], PageSequenceEnd);
  EXPECT_STREQ(g1.folder, "D:\\Second");

  // Every text through GetText, for both groups.
  for (u32 index = 0; index < 2; ++index) {
    ASSERT_TRUE(SelectGroup((i32)index));
    const Group& want = p.groups[index];
    for (u32 g = 0; g < TextGroupCount; ++g) {
      for (u32 n = 0; n < want.texts[g].size(); ++n)
        EXPECT_STREQ(GetText(g, n), want.texts[g][n].c_str()) << index << ": " << g << "/" << n;
      EXPECT_STREQ(GetText(g, (u32)want.texts[g].size()), "");
    }
  }
  ASSERT_TRUE(SelectGroup(0));
  EXPECT_STREQ(GetText(7, 0), "First");
  EXPECT_STREQ(GetText(7, 13), "Stop now?");
  EXPECT_STREQ(GetText(9, 2), "nine two");
  EXPECT_STREQ(GetText(8, 1), "Next >");
}

TEST_F(RoundTrip, DefaultTextsHaveTheUsualCountsAndArgumentSlots) {
  setrunc::TextGroups t = setrunc::DefaultTexts("Tool");
  const size_t counts[TextGroupCount] = {6, 4, 6, 9, 6, 4, 10, 33, 7, 0};
  for (u32 g = 0; g < TextGroupCount; ++g) EXPECT_EQ(t[g].size(), counts[g]) << g;
  EXPECT_EQ(t[7][0], "Tool");
  for (int code : {12, 16, 17, 18, 19, 21, 22})
    EXPECT_NE(t[7][code].find("%s"), std::string::npos) << code;
  EXPECT_NE(t[7][28].find("%d"), std::string::npos);
  EXPECT_NE(t[7][32].find("%s"), std::string::npos);
  // 7/31 is also shown unformatted when the package is incomplete.
  EXPECT_EQ(t[7][31].find('%'), std::string::npos);
  EXPECT_EQ(t[6][9], "");  // a text there would ask for a restart every time
  const char* buttons[] = {"< Back", "Next >", "Close", "Install", "", "Cancel", "Restart now"};
  for (u32 n = 0; n < 7; ++n) EXPECT_EQ(t[8][n], buttons[n]);
  for (u32 g = 0; g < TextGroupCount; ++g)
    for (u32 n = 0; n < t[g].size(); ++n) EXPECT_EQ(setrunc::CheckTextFormat(g, n, t[g][n]), "") << g << "/" << n;
}

TEST_F(RoundTrip, FileEntriesKeepEveryField) {
  Project p;
  Group g = TextGroup("App");
  FileEntry full = InlineFile("bin\\tool.exe", Noise(3000, 1, true));
  full.iconIndex = 3;
  full.flags = FileFlagCheckSpace | FileFlagCompareVersion | FileFlagCompareLanguage | FileFlagTimes |
               FileFlagShared | OsWinXP | OsWinVista | (2u << FileFlagRunPhaseShift) | FileFlagWait;
  full.options = FileOptionOrdinary | FileOptionReadOnly | 0x2000 | 0x6;
  full.destination = DestCustom;
  full.reserved = 0;
  full.versionMs = 0x00020001;
  full.versionLs = 0x00030004;
  full.language = 0x409;
  full.times = {0x01D0000000000001ull, 0x01D0000000000002ull, 0x01D0000000000003ull};
  const char* strings[10] = {"bin\\tool.exe", "Vendor;#Desktop#", "Tool.lnk", "-start", "tool.ico",
                             "Tool desktop.lnk", "-desk", "desk.ico", "--run", "#Windows#\\Tools"};
  for (int i = 0; i < 10; ++i) full.strings[i] = strings[i];
  g.files.push_back(full);
  FileEntry times = InlineFile("times.txt", Noise(10, 2));
  times.flags = FileFlagWindowsMask | FileFlagTimes;  // times without the version block
  times.times = {1, 2, 3};
  g.files.push_back(times);
  FileEntry empty = InlineFile("empty.txt", {});
  empty.destination = DestFonts;
  g.files.push_back(empty);
  FileEntry folder;
  folder.strings[0] = "logs\\";
  folder.flags = FileFlagWindowsMask | FileFlagFolderEntry;
  g.files.push_back(folder);
  FileEntry uninstaller = InlineFile("uninst.exe", {0x7F, 0x7F, 0, 0, 0, 0, 0, 0});
  uninstaller.state = EntryStateUninstaller;
  g.files.push_back(uninstaller);
  p.groups.push_back(g);
  p.uninstallerImage = Bytes{'M', 'Z', 1, 2, 3};
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);
  ASSERT_EQ(FileCount, 5u);
  EXPECT_EQ(UninstallerLength, 5u);
  EXPECT_EQ(memcmp(UninstallerImage, "MZ\1\2\3", 5), 0);

  const u8* e = Entry(0);
  EXPECT_EQ(ReadU16(e + EntryState), 0);
  EXPECT_EQ(ReadU16(e + EntryIconIndex), 3);
  EXPECT_EQ(ReadU32(e + EntryDataOffset), 0u);
  EXPECT_GT(ReadU32(e + EntryPackedSize), 0u);
  EXPECT_EQ(ReadU32(e + EntryKeptCopy), 0u);
  EXPECT_EQ(ReadU32(e + EntrySize), 3000u);
  EXPECT_EQ(ReadU32(e + EntryChecksum), RotateAddSum(0, full.data.bytes.data(), 3000));
  EXPECT_EQ(ReadU32(e + EntryFlags), full.flags);
  EXPECT_EQ(ReadU32(e + EntryOptions), full.options);
  EXPECT_EQ(ReadU32(e + EntryDestination), (u32)DestCustom);
  EXPECT_EQ(ReadU32(e + EntryReserved), 0u);
  const u8* version = e + EntryFixedSize;
  EXPECT_EQ(ReadU32(version + VersionBlockMs), 0x00020001u);
  EXPECT_EQ(ReadU32(version + VersionBlockLs), 0x00030004u);
  EXPECT_EQ(ReadU32(version + VersionBlockSecondMs), 0x00020001u);
  EXPECT_EQ(ReadU32(version + VersionBlockSecondLs), 0x00030004u);
  EXPECT_EQ(ReadU32(version + VersionBlockLanguage), 0x409u);
  const u8* filetimes = version + EntryVersionBlockSize;
  EXPECT_EQ(ReadU32(filetimes), 1u);
  EXPECT_EQ(ReadU32(filetimes + 4), 0x01D00000u);
  EXPECT_EQ(ReadU32(filetimes + 16), 3u);
  EXPECT_EQ(EntryStringsOffset(e), EntryFixedSize + EntryVersionBlockSize + EntryFileTimesSize);
  for (u32 i = 0; i < 10; ++i) EXPECT_STREQ(EntryString(e, i), strings[i]) << i;

  e = Entry(1);
  EXPECT_EQ(EntryStringsOffset(e), EntryFixedSize + EntryFileTimesSize);
  EXPECT_EQ(ReadU32(e + EntryFixedSize), 1u);
  EXPECT_EQ(ReadU32(e + EntryFixedSize + 8), 2u);
  EXPECT_STREQ(EntryString(e, 0), "times.txt");
  EXPECT_STREQ(EntryString(e, 8), "");

  e = Entry(2);  // empty file: nothing to inflate, size and checksum 0
  EXPECT_EQ(ReadU32(e + EntryPackedSize), 0u);
  EXPECT_EQ(ReadU32(e + EntrySize), 0u);
  EXPECT_EQ(ReadU32(e + EntryChecksum), 0u);
  EXPECT_EQ(ReadU32(e + EntryDestination), (u32)DestFonts);
  EXPECT_LT(ReadU32(e + EntryDataOffset), VolumeLength);  // points into existing data
  EXPECT_EQ(ReadU16(e + EntryLength), EntryFixedSize + 10 + 8);  // no string 9

  e = Entry(3);
  EXPECT_EQ(ReadU32(e + EntryFlags), FileFlagWindowsMask | FileFlagFolderEntry);
  EXPECT_STREQ(EntryString(e, 0), "logs\\");
  EXPECT_EQ(ReadU32(e + EntryPackedSize), 0u);

  e = Entry(4);
  EXPECT_EQ(ReadU16(e + EntryState), EntryStateUninstaller);
  EXPECT_EQ(InflateEntryData(e, dir / "log"), uninstaller.data.bytes);
}

TEST_F(RoundTrip, StreamsInflateToTheirFiles) {
  Project p;
  Group g = TextGroup("App");
  std::vector<Bytes> contents = {Noise(1, 1), Noise(100000, 2), Noise(300000, 3, true), {}, Noise(70000, 4)};
  for (size_t i = 0; i < contents.size(); ++i) g.files.push_back(InlineFile("f" + std::to_string(i), contents[i]));
  WriteFile(dir / "source.bin", Noise(5000, 9));
  FileEntry fromDisk;
  fromDisk.strings[0] = "disk.bin";
  fromDisk.data.kind = FileData::Path;
  fromDisk.data.path = dir / "source.bin";
  g.files.push_back(fromDisk);
  contents.push_back(Noise(5000, 9));
  p.groups.push_back(g);
  p.compressionLevel = 6;
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);
  ASSERT_EQ(FileCount, contents.size());
  u32 previous = 0;
  for (u32 i = 0; i < FileCount; ++i) {
    const u8* e = Entry(i);
    EXPECT_GE(ReadU32(e + EntryDataOffset), previous) << "offsets follow the file list";
    previous = ReadU32(e + EntryDataOffset);
    EXPECT_EQ(InflateEntryData(e, dir / "out"), contents[i]) << i;
  }
}

TEST_F(RoundTrip, LargeFilesArePackedInPiecesAsOneStream) {
  const size_t piece = 4096;
  const std::vector<Bytes> contents = {Noise(piece, 1, true), Noise(piece + 1, 2), Noise(50000, 3, true),
                                       Noise(30011, 4), Noise(3 * piece, 5, true)};
  for (int level : {0, 1, 6, 9, 12}) {
    Project p;
    Group g = TextGroup("App");
    for (size_t i = 0; i < contents.size(); ++i) g.files.push_back(InlineFile("f" + std::to_string(i), contents[i]));
    p.groups.push_back(g);
    p.compressionLevel = level;
    p.chunkSize = piece;
    const std::string setup = dir / "setup.exe";
    ASSERT_EQ(BuildAndLoad(p, setup), 1) << level;
    Bytes image = ReadFile(setup);
    for (u32 i = 0; i < FileCount; ++i) {
      const u8* e = Entry(i);
      // The setup program's inflater checks size, checksum and the stream's
      // own Adler-32.
      EXPECT_EQ(InflateEntryData(e, dir / "out"), contents[i]) << level << " " << i;
      // A file of one piece is the stream libdeflate makes of it whole.
      if (contents[i].size() <= piece) {
        const u8* stream = image.data() + DataAreaOffset + 4 + ReadU32(e + EntryDataOffset);
        EXPECT_EQ(Bytes(stream, stream + ReadU32(e + EntryPackedSize)),
                  setrunc::ZlibCompress(contents[i].data(), contents[i].size(), level));
      }
    }
    CloseFile(DataSource);
    DataSource = InvalidFile;
    FreePackage();
  }
}

TEST_F(RoundTrip, DataVolumesSplitTheDataArea) {
  Project p;
  Group g = TextGroup("App");
  std::vector<Bytes> contents;
  for (unsigned i = 0; i < 6; ++i) {
    contents.push_back(Noise(9000 + 1000 * i, 20 + i));  // incompressible: streams stay large
    g.files.push_back(InlineFile("part" + std::to_string(i) + ".bin", contents.back()));
  }
  p.groups.push_back(g);
  p.volumeSize = 16000;
  const std::string setup = dir / "disk.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);

  // Every file fits the volume size; each volume starts with its length.
  struct stat st;
  ASSERT_EQ(stat(setup.c_str(), &st), 0);
  EXPECT_LE((uint64_t)st.st_size, p.volumeSize);
  u32 volumes = 0;
  for (unsigned k = 1; Exists(setrunc::VolumePath(setup, k)); ++k) {
    Bytes v = ReadFile(setrunc::VolumePath(setup, k));
    ASSERT_GE(v.size(), 4u);
    EXPECT_LE(v.size(), p.volumeSize);
    EXPECT_EQ(ReadU32(v.data()), v.size() - 4);
    ++volumes;
  }
  EXPECT_GE(volumes, 4u);
  EXPECT_TRUE(Exists(dir / "disk.D01"));

  ASSERT_EQ(Load(setup), 1);
  for (u32 i = 0; i < FileCount; ++i) EXPECT_EQ(InflateEntryData(Entry(i), dir / "out"), contents[i]) << i;
  EXPECT_GE(VolumeNumber, 3u);  // streams ran across volumes
}

TEST_F(RoundTrip, AProgramFileWithoutDataStartsInTheFirstVolume) {
  Project p;
  Group g = TextGroup("App");
  g.files.push_back(InlineFile("a.bin", Noise(5000, 1)));
  g.files.push_back(InlineFile("empty", {}));
  p.groups.push_back(g);
  const std::string setup = dir / "setup.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);
  setrunc::PackedData packed = setrunc::PackFiles(p, dir.path());
  p.volumeSize = ReadFile(setup).size() - packed.total;  // room for the tables only
  setrunc::BuildInstaller(p, DummyStub(), setup);
  ASSERT_EQ(Load(setup), 1);
  EXPECT_EQ(VolumeLength, 0u);  // L0
  EXPECT_EQ(InflateEntryData(Entry(0), dir / "out"), Noise(5000, 1));
  EXPECT_GE(VolumeNumber, 1u);
  EXPECT_LT(ReadU32(Entry(1) + EntryDataOffset), packed.total);  // an offset that exists
}

// Files with the same bytes share one stream, however their data is given;
// equal sizes alone are not enough. The setup program's reader, going
// through the list in order, seeks back to the shared stream.
TEST_F(RoundTrip, IdenticalFilesAreStoredOnce) {
  const Bytes licence = Noise(20000, 31, true), other = Noise(20000, 32, true);
  WriteFile(dir / "licence.txt", licence);
  WriteFile(dir / "same-size.txt", other);
  auto fromDisk = [&](const std::string& name, const std::string& path) {
    FileEntry e;
    e.strings[0] = name;
    e.data.kind = FileData::Path;
    e.data.path = dir / path;
    return e;
  };
  Project p;
  Group g = TextGroup("App");
  g.files.push_back(fromDisk("a\\LICENCE", "licence.txt"));
  g.files.push_back(InlineFile("big.bin", Noise(50000, 33)));
  g.files.push_back(fromDisk("b\\LICENCE", "licence.txt"));
  g.files.push_back(fromDisk("other.txt", "same-size.txt"));
  g.files.push_back(InlineFile("c\\LICENCE", licence));
  g.files.push_back(InlineFile("empty", {}));
  p.groups.push_back(g);
  const std::vector<Bytes> contents = {licence, Noise(50000, 33), licence, other, licence, {}};
  setrunc::PackedData packed = setrunc::PackFiles(p, dir.path());
  EXPECT_EQ(packed.sharedEntries, 2u);
  ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe"), 1);
  const u32 first = ReadU32(Entry(0) + EntryDataOffset);
  EXPECT_EQ(ReadU32(Entry(2) + EntryDataOffset), first);
  EXPECT_EQ(ReadU32(Entry(4) + EntryDataOffset), first);
  EXPECT_NE(ReadU32(Entry(3) + EntryDataOffset), first);
  EXPECT_EQ(VolumeLength, packed.total);  // the data area holds three streams
  EXPECT_EQ(packed.total, (uint64_t)ReadU32(Entry(0) + EntryPackedSize) +
                              ReadU32(Entry(1) + EntryPackedSize) + ReadU32(Entry(3) + EntryPackedSize));
  for (u32 i = 0; i < FileCount; ++i) EXPECT_EQ(InflateEntryData(Entry(i), dir / "out"), contents[i]) << i;

  // The same project with sharing off stores every copy.
  p.shareIdenticalFiles = false;
  EXPECT_EQ(setrunc::PackFiles(p, dir.path()).sharedEntries, 0u);
}

// The setup program opens data volumes forwards only: an entry may use the
// stream of an earlier one only inside the volume the reader has reached;
// otherwise the data area holds another copy where the entry comes.
TEST_F(RoundTrip, SharedStreamsNeverLieInAnEarlierVolume) {
  const Bytes icon = Noise(3000, 41);
  Project p;
  Group g = TextGroup("App");
  g.files.push_back(InlineFile("icon0", icon));
  g.files.push_back(InlineFile("icon1", icon));  // the same volume: shared
  for (unsigned i = 0; i < 4; ++i) g.files.push_back(InlineFile("part" + std::to_string(i), Noise(9000, 50 + i)));
  g.files.push_back(InlineFile("icon2", icon));  // volumes later: a copy
  g.files.push_back(InlineFile("icon3", icon));  // shares that copy
  p.groups.push_back(g);
  p.volumeSize = 16000;
  const std::string setup = dir / "disk.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);
  ASSERT_EQ(Load(setup), 1);
  // Where each volume starts in the data area.
  std::vector<uint64_t> starts = {0, VolumeLength};
  for (unsigned k = 1; Exists(setrunc::VolumePath(setup, k)); ++k)
    starts.push_back(starts.back() + ReadFile(setrunc::VolumePath(setup, k)).size() - 4);
  auto volumeOf = [&](uint64_t o) { return std::upper_bound(starts.begin(), starts.end(), o) - starts.begin() - 1; };
  const std::vector<u32> offsets = [&] {
    std::vector<u32> o;
    for (u32 i = 0; i < FileCount; ++i) o.push_back(ReadU32(Entry(i) + EntryDataOffset));
    return o;
  }();
  EXPECT_EQ(offsets[1], offsets[0]);
  EXPECT_NE(offsets[6], offsets[0]);
  EXPECT_EQ(offsets[7], offsets[6]);
  uint64_t reach = 0;
  for (u32 i = 0; i < FileCount; ++i) {
    if (reach) {
      EXPECT_GE(volumeOf(offsets[i]), volumeOf(reach - 1)) << i;
    }
    reach = std::max<uint64_t>(reach, (uint64_t)offsets[i] + ReadU32(Entry(i) + EntryPackedSize));
    EXPECT_EQ(InflateEntryData(Entry(i), dir / "out"), i < 2 || i > 5 ? icon : Noise(9000, 50 + i - 2)) << i;
  }
}

TEST_F(RoundTrip, VolumeNamesFollowTheExtensionRule) {
  EXPECT_EQ(setrunc::VolumePath("out/setup.exe", 1), "out/setup.D01");
  EXPECT_EQ(setrunc::VolumePath("out/setup", 12), "out/setup.D12");
  EXPECT_EQ(setrunc::VolumePath("release.2/setup", 3), "release.2/setup.D03");
  EXPECT_EQ(setrunc::VolumePath("a.b.exe", 100), "a.b.D100");
}

TEST_F(RoundTrip, ALargerEarlierBuildLeavesNoStaleVolumes) {
  Project p;
  Group g = TextGroup("App");
  for (unsigned i = 0; i < 4; ++i) g.files.push_back(InlineFile("f" + std::to_string(i), Noise(9000, i)));
  p.groups.push_back(g);
  p.volumeSize = 12000;
  const std::string setup = dir / "setup.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);
  ASSERT_TRUE(Exists(dir / "setup.D02"));
  p.volumeSize = 0;
  setrunc::BuildSummary s = setrunc::BuildInstaller(p, DummyStub(), setup);
  EXPECT_FALSE(Exists(dir / "setup.D01"));
  EXPECT_FALSE(Exists(dir / "setup.D02"));
  EXPECT_GE(s.removedVolumes.size(), 2u);
  EXPECT_EQ(Load(setup), 1);
}

TEST_F(RoundTrip, ForcedPageSelectsItsGroup) {
  Project p;
  p.groups = {TextGroup("Zero"), TextGroup("One"), TextGroup("Two")};
  p.groups[2].files.push_back(InlineFile("x", Noise(100, 1)));
  p.forcedPage = setrunc::ForcedPageRecord{PageInstallFolder, 2};
  const std::string setup = dir / "setup.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);
  ASSERT_EQ(Load(setup), 1);
  EXPECT_EQ(ForcedPageMode, 1);
  EXPECT_EQ(ForcedPage, PageInstallFolder);
  EXPECT_EQ(CurrentGroup, 2);
  EXPECT_STREQ(GetText(7, 0), "Two");
  EXPECT_EQ(FileCount, 1u);

  // The forced-page record is stored, never compressed.
  Bytes image = ReadFile(setup);
  bool found = false;
  for (size_t i = 2048 + 6; i + 12 <= image.size(); ++i)
    if (ReadU16(&image[i]) == RecordForcedPage && ReadU16(&image[i + 2]) == 0 && ReadU32(&image[i + 4]) == 4 &&
        ReadU16(&image[i + 8]) == PageInstallFolder && ReadU16(&image[i + 10]) == 2)
      found = true;
  EXPECT_TRUE(found);
}

TEST_F(RoundTrip, PackageIsFoundBehindStubsOfAnyAllowedSize) {
  Project p;
  p.groups.push_back(TextGroup("App"));
  p.groups[0].files.push_back(InlineFile("a", Noise(50, 1)));
  for (size_t size : {(size_t)MarkerEarliest, (size_t)4096, (size_t)(MarkerLatestEnd - PackageMarkerLength)}) {
    ASSERT_EQ(BuildAndLoad(p, dir / "setup.exe", DummyStub(size)), 1) << size;
    EXPECT_EQ(InflateEntryData(Entry(0), dir / "out"), Noise(50, 1));
    CloseFile(DataSource);
    DataSource = InvalidFile;
    FreePackage();
  }
}

TEST_F(RoundTrip, StubsTheLoaderCannotUseAreRefused) {
  Project p;
  p.groups.push_back(TextGroup("App"));
  const std::string setup = dir / "setup.exe";
  // The setup program looks for the marker from offset 1020 on.
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(MarkerEarliest - 1), setup), setrunc::BuildError);
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(MarkerLatestEnd - PackageMarkerLength + 1), setup),
               setrunc::BuildError);
  // A stub with its own copy of the marker would be taken for the package.
  Bytes stub = DummyStub(4096);
  memcpy(&stub[3000], PackageMarker, PackageMarkerLength);
  try {
    setrunc::BuildInstaller(p, stub, setup);
    FAIL() << "a stub holding the marker was accepted";
  } catch (const setrunc::BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("offset 3000"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(Exists(setup));
  // Before offset 1020 a copy does no harm.
  memset(&stub[3000], 0, PackageMarkerLength);
  memcpy(&stub[100], PackageMarker, PackageMarkerLength);
  EXPECT_EQ(BuildAndLoad(p, setup, stub), 1);
}

TEST_F(RoundTrip, OutputDoesNotDependOnTheThreadCount) {
  Project p;
  Group g = TextGroup("App");
  for (unsigned i = 0; i < 12; ++i) g.files.push_back(InlineFile("f" + std::to_string(i), Noise(20000 + 977 * i, i, i % 2)));
  p.groups = {g, g};
  for (size_t piece : {p.chunkSize, (size_t)7000}) {  // whole files, and files in pieces
    p.chunkSize = piece;
    p.threads = 1;
    setrunc::BuildInstaller(p, DummyStub(), dir / "one.exe");
    p.threads = 4;
    setrunc::BuildInstaller(p, DummyStub(), dir / "four.exe");
    EXPECT_EQ(ReadFile(dir / "one.exe"), ReadFile(dir / "four.exe")) << piece;
  }
}

TEST_F(RoundTrip, OutputsAreNeverWrittenThroughLinksPlantedBesideThem) {
  Project p;
  Group g = TextGroup("App");
  for (unsigned i = 0; i < 3; ++i) g.files.push_back(InlineFile("f" + std::to_string(i), Noise(9000, i)));
  p.groups.push_back(g);
  p.volumeSize = 12000;
  WriteFile(dir / "victim", "precious");
  const std::set<std::string> links = {"setup.exe.part", "setup.D01.part", "setup.D02.part"};
  for (const std::string& link : links) ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / link).c_str()), 0);
  setrunc::BuildInstaller(p, DummyStub(), dir / "setup.exe");
  EXPECT_EQ(ReadFile(dir / "victim"), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  ASSERT_TRUE(Exists(dir / "setup.D02"));
  std::set<std::string> expected = links;
  expected.insert({"victim", "setup.exe"});
  for (unsigned k = 1; Exists(setrunc::VolumePath(dir / "setup.exe", k)); ++k)
    expected.insert(setrunc::VolumePath("setup.exe", k));
  EXPECT_EQ(FolderNames(dir.path()), expected);  // no temporary file left
  ASSERT_EQ(Load(dir / "setup.exe"), 1);
  EXPECT_EQ(InflateEntryData(Entry(2), dir / "out"), Noise(9000, 2));
}

TEST_F(RoundTrip, AFailedBuildKeepsTheEarlierInstaller) {
  Project p;
  p.groups.push_back(TextGroup("App"));
  const std::string setup = dir / "setup.exe";
  setrunc::BuildInstaller(p, DummyStub(), setup);
  Bytes before = ReadFile(setup);
  FileEntry missing;
  missing.strings[0] = "gone.txt";
  missing.origin = "group[0].file[0]";
  missing.data.kind = FileData::Path;
  missing.data.path = dir / "gone.txt";
  p.groups[0].files.push_back(missing);
  try {
    setrunc::BuildInstaller(p, DummyStub(), setup);
    FAIL();
  } catch (const setrunc::BuildError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "gone.txt"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(setup), before);
  EXPECT_EQ(FolderNames(dir.path()), std::set<std::string>{"setup.exe"});  // no temporary file left
}

TEST_F(RoundTrip, LimitsOfTheFormatAreReportedNotWrapped) {
  Project p;
  p.groups.push_back(TextGroup("App"));
  FileEntry e = InlineFile(std::string(70000, 'a'), {});
  e.origin = "long";
  p.groups[0].files.push_back(e);
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(), dir / "s.exe"), setrunc::BuildError);  // u16 entry length
  p.groups[0].files.clear();
  p.groups[0].texts[7][28] = "Insert disk %s";  // passed an int by the setup program
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(), dir / "s.exe"), setrunc::BuildError);
  p.groups[0].texts[7][28] = "Insert disk %d";
  p.groups.resize(17, p.groups[0]);
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(), dir / "s.exe"), setrunc::BuildError);
  p.groups.resize(1);
  p.forcedPage = setrunc::ForcedPageRecord{0, 1};
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(), dir / "s.exe"), setrunc::BuildError);
  p.forcedPage.reset();
  p.volumeSize = 500;  // the tables alone do not fit
  EXPECT_THROW(setrunc::BuildInstaller(p, DummyStub(), dir / "s.exe"), setrunc::BuildError);
  EXPECT_FALSE(Exists(dir / "s.exe"));
}

}  // namespace
