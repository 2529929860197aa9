// The portable parts of a run: platform classes, the instance key, the exit
// code, the drive of the program, the screen saver command and the search
// for program entries that wait for the restart.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "engine/run_entries.h"
#include "startup/run_flow.h"
#include "tests/support/package_bytes.h"

namespace {

struct PlatformRow {
  int known;
  u32 platform, major, minor;
  u32 osClass;
  int nt, nt4, nt6;
};

TEST(ClassifyPlatform, EveryRowOfTheTable) {
  const PlatformRow rows[] = {
      // Unknown version, or a platform other than the two families.
      {0, 2, 10, 0, 0x2000, 0, 0, 0},
      {1, 0, 3, 10, 0x2000, 0, 0, 0},
      {1, 3, 5, 0, 0x2000, 0, 0, 0},
      // The 9x family.
      {1, 1, 3, 95, 0x2000, 0, 0, 0},
      {1, 1, 4, 0, 0x2000, 0, 0, 0},
      {1, 1, 4, 1, 0x4000, 0, 0, 0},
      {1, 1, 4, 10, 0x4000, 0, 0, 0},
      {1, 1, 4, 89, 0x4000, 0, 0, 0},
      {1, 1, 4, 90, 0x8000, 0, 0, 0},
      {1, 1, 4, 200, 0x8000, 0, 0, 0},
      {1, 1, 5, 0, 0x8000, 0, 0, 0},
      // The NT family.
      {1, 2, 3, 51, 0x10000, 1, 0, 0},
      {1, 2, 4, 0, 0x10000, 1, 1, 0},
      {1, 2, 5, 0, 0x20000, 1, 0, 0},
      {1, 2, 5, 1, 0x40000, 1, 0, 0},
      {1, 2, 5, 2, 0x40000, 1, 0, 0},
      {1, 2, 6, 0, 0x80000, 1, 0, 1},
      {1, 2, 6, 1, 0x80000, 1, 0, 1},
      {1, 2, 10, 0, 0x80000, 1, 0, 1},
  };
  for (const PlatformRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "known " << row.known << ", platform " << row.platform
                                    << ", version " << row.major << "." << row.minor);
    PlatformClass c = ClassifyPlatform(row.known, row.platform, row.major, row.minor);
    EXPECT_EQ(row.osClass, c.osClass);
    EXPECT_EQ(row.nt, c.isWinNT);
    EXPECT_EQ(row.nt4, c.isWinNT4);
    EXPECT_EQ(row.nt6, c.isWinNT6);
  }
}

// With its manifest the program is told the true version of Windows (6.2
// and later report themselves only to programs that declare them): every NT
// version from Vista on must land in the same class, or the run would change
// with the Windows it runs on.
TEST(ClassifyPlatform, EveryNtVersionFromVistaOnIsTheVistaClass) {
  const u32 versions[][2] = {{6, 0}, {6, 1}, {6, 2}, {6, 3}, {6, 4}, {10, 0}, {10, 1}, {11, 0},
                             {255, 255}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  for (const auto& v : versions) {
    SCOPED_TRACE(testing::Message() << v[0] << "." << v[1]);
    PlatformClass c = ClassifyPlatform(1, 2, v[0], v[1]);
    EXPECT_EQ(0x80000u, c.osClass);
    EXPECT_EQ(1, c.isWinNT);
    EXPECT_EQ(0, c.isWinNT4);
    EXPECT_EQ(1, c.isWinNT6);
  }
}

// The key computed independently, with 64-bit arithmetic.
u32 ReferenceKey(const std::string& path) {
  uint64_t s = 0;
  for (unsigned char c : path) {
    s = ((s << 1) & 0xFFFFFFFFu) | (s >> 31);
    s = (s + c) & 0xFFFFFFFFu;
  }
  return (u32)s;
}

TEST(ProgramInstanceKey, RotateAndAddOverThePath) {
  EXPECT_EQ(0u, ProgramInstanceKey(""));
  EXPECT_EQ(0x41u, ProgramInstanceKey("A"));
  EXPECT_EQ(0xC4u, ProgramInstanceKey("AB"));  // 0x41 * 2 + 0x42
  // Long enough for the high bits to wrap round.
  const std::string path = "C:\\Documents and Settings\\user\\Desktop\\Product Setup 2.1.exe";
  EXPECT_EQ(ReferenceKey(path), ProgramInstanceKey(path.c_str()));
  const std::string high(40, '\xFF');
  EXPECT_EQ(ReferenceKey(high), ProgramInstanceKey(high.c_str()));
}

TEST(ProgramInstanceKey, LetterCaseAndFolderMakeADifferentKey) {
  EXPECT_NE(ProgramInstanceKey("C:\\Setup\\setup.exe"), ProgramInstanceKey("C:\\SETUP\\setup.exe"));
  EXPECT_NE(ProgramInstanceKey("C:\\Setup\\setup.exe"), ProgramInstanceKey("D:\\Setup\\setup.exe"));
}

TEST(RunExitCode, ResultThenInstallResultThenRestart) {
  EXPECT_EQ(0, RunExitCode(0, 0, 0));
  EXPECT_EQ(27, RunExitCode(0, 27, 0));
  EXPECT_EQ(-1, RunExitCode(-1, 0, 0));
  EXPECT_EQ(-1, RunExitCode(-1, 15, 0));
  // Any restart state makes it -2, whatever came before.
  EXPECT_EQ(-2, RunExitCode(0, 0, 1));
  EXPECT_EQ(-2, RunExitCode(0, 27, 1));
  EXPECT_EQ(-2, RunExitCode(-1, 0, 16));
}

std::string Root(std::string path) {
  char buffer[520] = {};
  path.copy(buffer, path.size());
  CutToDriveRoot(buffer);
  return buffer;
}

TEST(CutToDriveRoot, DriveLetterPathsBecomeTheRoot) {
  EXPECT_EQ("E:\\", Root("E:\\setup.exe"));
  EXPECT_EQ("E:\\", Root("E:\\Folder\\Sub folder\\setup.exe"));
  EXPECT_EQ("E:\\", Root("E:\\"));
  EXPECT_EQ("E:", Root("E:"));
  // Network paths and anything else are asked whole.
  EXPECT_EQ("\\\\server\\share\\setup.exe", Root("\\\\server\\share\\setup.exe"));
  EXPECT_EQ("setup.exe", Root("setup.exe"));
  EXPECT_EQ("", Root(""));
}

TEST(FormatScreenSaverCommand, FullPathOfTheSystemProgram) {
  char command[520];
  ASSERT_EQ(1, FormatScreenSaverCommand(command, sizeof command, "C:\\WINDOWS\\system32",
                                        "C:\\WINDOWS\\Stars.scr"));
  EXPECT_STREQ("\"C:\\WINDOWS\\system32\\rundll32.exe\" desk.cpl,InstallScreenSaver "
               "C:\\WINDOWS\\Stars.scr",
               command);
  ASSERT_EQ(1, FormatScreenSaverCommand(command, sizeof command, "C:\\", "C:\\a.scr"));
  EXPECT_STREQ("\"C:\\rundll32.exe\" desk.cpl,InstallScreenSaver C:\\a.scr", command);
}

TEST(FormatScreenSaverCommand, ACommandThatDoesNotFitIsNotMade) {
  const std::string prefix = "\"C:\\S\\rundll32.exe\" desk.cpl,InstallScreenSaver ";
  char command[64];
  std::string fits(sizeof command - 1 - prefix.size(), 'x');
  ASSERT_EQ(1, FormatScreenSaverCommand(command, sizeof command, "C:\\S", fits.c_str()));
  EXPECT_EQ(prefix + fits, command);
  std::string tooLong = fits + "y";
  EXPECT_EQ(0, FormatScreenSaverCommand(command, sizeof command, "C:\\S", tooLong.c_str()));
  EXPECT_STREQ("", command);
  // A 519-character target with the 520-byte buffer of a run.
  char full[520];
  std::string target = "C:\\" + std::string(516, 'p');
  EXPECT_EQ(0, FormatScreenSaverCommand(full, sizeof full, "C:\\WINDOWS\\system32", target.c_str()));
  EXPECT_EQ(0, FormatScreenSaverCommand(full, sizeof full, "C:\\WINDOWS\\system32", ""));
}

using pkgbytes::Bytes;
using pkgbytes::EntryBytes;
using pkgbytes::EntrySpec;
using pkgbytes::FileListPayload;

// Program-entry flags: run phase in bits 24 to 26, bit 31 to wait for the
// restart when one is pending.
u32 Phase(u32 n) { return n << 24; }
const u32 Defer = 0x80000000u;

Bytes Entry(u32 flags, size_t nameLength = 8) {
  EntrySpec e;
  e.flags = flags;
  e.strings[0] = std::string(nameLength, 'f');
  return EntryBytes(e);
}

class DeferredRuns : public testing::Test {
 protected:
  Bytes lists[2];
  void Use(const std::vector<Bytes>& first, const std::vector<Bytes>& second = {}) {
    lists[0] = FileListPayload(first);
    lists[1] = FileListPayload(second);
    for (int g = 0; g < 2; ++g) {
      Groups[g].fileList = lists[g].data();
      Groups[g].fileListLength = (u32)lists[g].size();
    }
    GroupCount = 2;
    CurrentGroup = 0;
  }
  void TearDown() override {
    for (GroupTables& g : Groups) g = GroupTables();
    GroupCount = 0;
    CurrentGroup = -1;
  }
};

TEST_F(DeferredRuns, NoGroupOrNoEntries) {
  EXPECT_EQ(0, HasDeferredRuns());
  Use({});
  EXPECT_EQ(0, HasDeferredRuns());
  Groups[0].fileList = nullptr;
  Groups[0].fileListLength = 0;
  EXPECT_EQ(0, HasDeferredRuns());
}

TEST_F(DeferredRuns, EarlyPhasesOnlyWithTheDeferBit) {
  Use({Entry(0), Entry(Defer), Entry(Phase(1)), Entry(Phase(2) | 0x1000)});
  EXPECT_EQ(0, HasDeferredRuns());
  Use({Entry(Phase(1) | Defer)});
  EXPECT_EQ(1, HasDeferredRuns());
  Use({Entry(Phase(2) | Defer)});
  EXPECT_EQ(1, HasDeferredRuns());
}

TEST_F(DeferredRuns, LaterPhasesAlwaysWait) {
  for (u32 phase = 3; phase <= 7; ++phase) {
    SCOPED_TRACE(phase);
    Use({Entry(0), Entry(Phase(phase))});
    EXPECT_EQ(1, HasDeferredRuns());
  }
}

TEST_F(DeferredRuns, EntriesAreWalkedByTheirLengths) {
  // Entries of different lengths (names, a version block and file times)
  // before the one that waits.
  Use({Entry(0x2, 3), Entry(0x8, 120), Entry(Phase(1), 1), Entry(Phase(4) | 0x6, 40)});
  EXPECT_EQ(1, HasDeferredRuns());
}

TEST_F(DeferredRuns, OnlyTheCurrentGroupCounts) {
  Use({Entry(0)}, {Entry(Phase(3))});
  EXPECT_EQ(0, HasDeferredRuns());
  CurrentGroup = 1;
  EXPECT_EQ(1, HasDeferredRuns());
  CurrentGroup = 2;  // beyond the groups of the package
  EXPECT_EQ(0, HasDeferredRuns());
}

TEST_F(DeferredRuns, ADamagedListIsNotReadBeyondItsEnd) {
  // A count larger than the entries present.
  Use({Entry(0)});
  pkgbytes::SetU32(lists[0], 0, 5);
  EXPECT_EQ(0, HasDeferredRuns());
  // An entry length reaching past the end, and one shorter than an entry.
  Use({Entry(0), Entry(Phase(3))});
  pkgbytes::SetU16(lists[0], 4, 0xFFFF);
  EXPECT_EQ(0, HasDeferredRuns());
  pkgbytes::SetU16(lists[0], 4, 0);
  EXPECT_EQ(0, HasDeferredRuns());
  // The list ends inside the second entry.
  Use({Entry(0), Entry(Phase(3))});
  lists[0].resize(lists[0].size() - 10);
  Groups[0].fileListLength = (u32)lists[0].size();
  EXPECT_EQ(0, HasDeferredRuns());
}

}  // namespace
