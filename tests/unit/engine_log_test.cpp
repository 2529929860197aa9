// The uninstall log records and the small text rules of the engine: path
// split, log flags, WININIT lines, temporary names, result codes, message
// formatting.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "engine/install.h"
#include "engine/temp_name.h"
#include "engine/uninstall_log.h"
#include "engine/wininit.h"
#include "package/inflate.h"
#include "base/run_state.h"
#include "base/text_format.h"

namespace {

std::string Folder(const char* target, const char* uninstallerFolder, std::string* name) {
  char folder[600];
  const char* n = nullptr;
  SplitLogPath(target, uninstallerFolder, folder, sizeof folder, &n);
  *name = n;
  return folder;
}

// A file entry with the given flags, options and destination kind.
std::vector<u8> Entry(u32 flags, u32 options, u32 kind) {
  std::vector<u8> e(EntryFixedSize + 9, 0);
  WriteU16(e.data(), (u16)e.size());
  WriteU32(e.data() + EntryFlags, flags);
  WriteU32(e.data() + EntryOptions, options);
  WriteU32(e.data() + EntryDestination, kind);
  return e;
}

}  // namespace

TEST(FileLogPath, FilesBesideTheUninstallerAreRelative) {
  std::string name;
  EXPECT_EQ(Folder("C:\\Apps\\Tool\\tool.exe", "C:\\Apps\\Tool\\", &name), ".");
  EXPECT_EQ(name, "tool.exe");
  EXPECT_EQ(Folder("C:\\Apps\\Tool\\data\\a.dat", "C:\\Apps\\Tool\\", &name), ".\\data");
  EXPECT_EQ(name, "a.dat");
  EXPECT_EQ(Folder("C:\\Apps\\Tool\\data\\deep\\b.dat", "C:\\Apps\\Tool\\", &name),
            ".\\data\\deep");
  EXPECT_EQ(name, "b.dat");
  // Letter case does not matter; the folder's own backslash is part of the test.
  EXPECT_EQ(Folder("c:\\apps\\TOOL\\x.txt", "C:\\Apps\\Tool\\", &name), ".");
  EXPECT_EQ(name, "x.txt");
}

TEST(FileLogPath, OtherFilesKeepTheirAbsoluteFolder) {
  std::string name;
  EXPECT_EQ(Folder("C:\\Windows\\Fonts\\a.ttf", "C:\\Apps\\Tool\\", &name), "C:\\Windows\\Fonts");
  EXPECT_EQ(name, "a.ttf");
  // A sibling folder that merely starts with the same letters is not inside.
  EXPECT_EQ(Folder("C:\\Apps\\Toolbox\\b.exe", "C:\\Apps\\Tool\\", &name), "C:\\Apps\\Toolbox");
  EXPECT_EQ(Folder("C:\\Apps\\Toolbox\\b.exe", "", &name), "C:\\Apps\\Toolbox");
  EXPECT_EQ(Folder("bare.txt", "C:\\Apps\\", &name), "");
  EXPECT_EQ(name, "bare.txt");
}

TEST(FileLogPath, EntryBytesAreLengthPrefixedWithoutTerminators) {
  u8 out[FileLogEntryMax];
  u32 n = BuildFileLogEntry(out, "C:\\Apps\\Tool\\data\\a.dat", "C:\\Apps\\Tool\\", 0x9);
  const u8 expected[] = {6, 0, '.', '\\', 'd', 'a', 't', 'a', 5, 0, 'a', '.', 'd', 'a', 't', 0x9};
  ASSERT_EQ(n, sizeof expected);
  EXPECT_EQ(memcmp(out, expected, n), 0);

  // An empty folder is its length word alone.
  n = BuildFileLogEntry(out, "x", "C:\\Apps\\", 0);
  const u8 bare[] = {0, 0, 1, 0, 'x', 0};
  ASSERT_EQ(n, sizeof bare);
  EXPECT_EQ(memcmp(out, bare, n), 0);
}

TEST(FileLogPath, LongestPathsFitTheEntryBuffer) {
  std::string target = "C:\\" + std::string(300, 'a') + "\\" + std::string(200, 'b');
  u8 out[FileLogEntryMax];
  u32 n = BuildFileLogEntry(out, target.c_str(), "D:\\", 0);
  EXPECT_LE(n, FileLogEntryMax);
  EXPECT_EQ(ReadU16(out), 303u);
}

TEST(FileLogFlags, FollowKindFlagsAndOptions) {
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagShared, 0, DestSystem).data()), LogFlagShared);
  // Shared files in the installation folder are not counted, so not marked.
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagShared, 0, DestInstallDir).data()), 0);
  EXPECT_EQ(LogFlagsFor(Entry(0, 0, DestFonts).data()), LogFlagFont);
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagSelfRegister, 0, DestInstallDir).data()),
            LogFlagEntryPoint);
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagSelfRegister, 0x4000, DestInstallDir).data()), 0);
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagSelfRegister, 0x2000, DestInstallDir).data()), 0);
  EXPECT_EQ(LogFlagsFor(Entry(FileFlagCheckSpace | FileFlagShared, 0, DestWindows).data()),
            LogFlagShared | LogFlagUnchanged);
}

TEST(FileLogFlags, LoggedStates) {
  for (u32 s : {23u, 25u, 500u, 501u}) EXPECT_TRUE(IsLoggedState(s)) << s;
  for (u32 s : {0u, 27u, 502u}) EXPECT_FALSE(IsLoggedState(s)) << s;
}

TEST(Wininit, PlaceholderLineBecomesADeleteLine) {
  std::string ini = "[Rename]\r\nC:\\A.DLL=C:\\A.$$A\r\nxyz=C:\\TEMP\\_INST1.EXE\r\n";
  ASSERT_TRUE(MarkWininitDelete(&ini[0], (u32)ini.size(), "C:\\TEMP\\_INST1.EXE"));
  EXPECT_EQ(ini, "[Rename]\r\nC:\\A.DLL=C:\\A.$$A\r\nNUL=C:\\TEMP\\_INST1.EXE\r\n");
}

TEST(Wininit, OnlyTheWholeLineOfThatSourceIsChanged) {
  // An older placeholder line of a longer path stays as it is.
  std::string ini = "[Rename]\r\nxyz=C:\\TEMP\\_INST12.EXE\r\nxyz=C:\\TEMP\\_INST1.EXE";
  ASSERT_TRUE(MarkWininitDelete(&ini[0], (u32)ini.size(), "C:\\TEMP\\_INST1.EXE"));
  EXPECT_EQ(ini, "[Rename]\r\nxyz=C:\\TEMP\\_INST12.EXE\r\nNUL=C:\\TEMP\\_INST1.EXE");
  std::string other = "[Rename]\nabcxyz=C:\\X\n";
  EXPECT_FALSE(MarkWininitDelete(&other[0], (u32)other.size(), "C:\\X"));
  std::string tiny = "xyz=";
  EXPECT_FALSE(MarkWininitDelete(&tiny[0], (u32)tiny.size(), "C:\\X"));
}

TEST(TempNames, ReplaceTheExtensionThenStepTheLastLetter) {
  char temp[PathSize];
  ASSERT_TRUE(FirstTempName(temp, "C:\\App\\a.exe"));
  EXPECT_STREQ(temp, "C:\\App\\a.$$A");
  ASSERT_TRUE(NextTempName(temp));
  EXPECT_STREQ(temp, "C:\\App\\a.$$B");
  ASSERT_TRUE(FirstTempName(temp, "C:\\App\\readme"));
  EXPECT_STREQ(temp, "C:\\App\\readme.$$A");
  ASSERT_TRUE(FirstTempName(temp, "C:\\release.2\\readme"));
  EXPECT_STREQ(temp, "C:\\release.2\\readme.$$A");
  int steps = 0;
  while (NextTempName(temp)) ++steps;
  EXPECT_EQ(steps, 25);  // B to Z, then no name is left
  EXPECT_STREQ(temp, "C:\\release.2\\readme.$$Z");
}

TEST(TempNames, ATargetTooLongForACopyIsRefused) {
  char temp[PathSize];
  std::string target = "C:\\" + std::string(254, 'a');  // 257 characters, no extension
  EXPECT_FALSE(FirstTempName(temp, target.c_str()));
  EXPECT_STREQ(temp, "");
  std::string huge(600, 'b');
  EXPECT_FALSE(FirstTempName(temp, huge.c_str()));
}

TEST(ResultCodes, DecompressorStatusMapsToTexts) {
  AllocateSharedBuffers();
  EXPECT_EQ(MapInflateError(InflateNoMemory, "a.dll"), 12);
  EXPECT_STREQ(ErrorDetail, "a.dll");
  EXPECT_EQ(MapInflateError(InflateReadError, "b.dll"), 18);
  EXPECT_EQ(MapInflateError(InflateWriteError, "c.dll"), 19);
  EXPECT_EQ(MapInflateError(InflateDataError, "d.dll"), 31);
  EXPECT_EQ(MapInflateError(77, nullptr), 31);
  EXPECT_STREQ(ErrorDetail, "");
  std::string longName(400, 'n');
  MapInflateError(InflateDataError, longName.c_str());
  EXPECT_EQ(strlen(ErrorDetail), PathSize - 1);
}

TEST(MessageText, FormatsOnlyWhatItWasGiven) {
  char out[64];
  FormatText(out, sizeof out, "Insert disk %d, then press OK.", "", 3);
  EXPECT_STREQ(out, "Insert disk 3, then press OK.");
  FormatText(out, sizeof out, "Replace %s? 100%% sure %x", "C:\\a.dll", 0);
  EXPECT_STREQ(out, "Replace C:\\a.dll? 100% sure %x");
  // Extra conversions never read beyond the one argument.
  FormatText(out, sizeof out, "%s %s %d %u %i", nullptr, -5);
  EXPECT_STREQ(out, "  -5 4294967291 -5");
  FormatText(out, sizeof out, "trailing %", "x", 0);
  EXPECT_STREQ(out, "trailing %");
  char small[8];
  FormatText(small, sizeof small, "%s", "C:\\Program Files", 0);
  EXPECT_STREQ(small, "C:\\Prog");
}
