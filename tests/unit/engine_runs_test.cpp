// The portable rules of running programs and of the relaunch: which run
// entries a phase starts, the command lines written for programs, the
// Windows Installer, associations and the relaunched copy, and how much of
// the program file that copy takes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "engine/relaunch.h"
#include "engine/run_entries.h"
#include "engine/run_once.h"
#include "package/tables.h"
#include "paths/path_text.h"
#include "tests/support/package_bytes.h"

using namespace pkgbytes;

namespace {

const u32 Document = 0x8000000, Defer = 0x80000000u;
u32 Phase(u32 n) { return n << 24; }

struct DueRow {
  u32 entryPhase;
  u32 flags;  // document, defer
  int afterInstall;
  i32 restart;
  int runs;   // with kind 0 (programs and documents)
};

TEST(RunEntryDue, PhasesFollowTheRestartRules) {
  const DueRow rows[] = {
      // Phases 1 and 2 during the installation: a deferred entry waits while
      // a restart is pending; after the restart only deferred entries run.
      {1, 0, 1, 0, 1}, {1, Defer, 1, 0, 1}, {1, 0, 1, 1, 1}, {1, Defer, 1, 1, 0},
      {2, Defer, 1, 16, 0}, {2, Document, 1, 1, 1},
      {1, 0, 0, 0, 0}, {1, Defer, 0, 0, 1}, {2, Defer | Document, 0, 1, 1},
      // Phase 3 and programs of phase 4 wait while a restart is pending.
      {3, 0, 1, 0, 1}, {3, 0, 1, 1, 0}, {3, Document, 1, 1, 0}, {3, 0, 0, 1, 1},
      {4, 0, 1, 0, 1}, {4, 0, 1, 1, 0}, {4, 0, 0, 1, 1},
      // Documents of phase 4 and phases 5 to 7 have no condition.
      {4, Document, 1, 1, 1}, {5, 0, 1, 1, 1}, {7, Defer, 0, 0, 1},
  };
  for (const DueRow& r : rows) {
    SCOPED_TRACE(testing::Message() << "phase " << r.entryPhase << " flags 0x" << std::hex
                                    << r.flags << std::dec << " after " << r.afterInstall
                                    << " restart " << r.restart);
    const u32 flags = Phase(r.entryPhase) | r.flags;
    EXPECT_EQ(r.runs, RunEntryDue(flags, Phase(r.entryPhase), RunKindAll, r.afterInstall, r.restart));
    // Another phase never runs the entry.
    EXPECT_EQ(0, RunEntryDue(flags, Phase(r.entryPhase % 7 + 1), RunKindAll, r.afterInstall, r.restart));
  }
  // Not a run entry: no phase runs it.
  EXPECT_EQ(0, RunEntryDue(0, 0, RunKindAll, 1, 0));
}

TEST(RunEntryDue, KindSelectsProgramsOrDocuments) {
  for (u32 phase : {1u, 4u, 6u}) {
    EXPECT_EQ(1, RunEntryDue(Phase(phase), Phase(phase), RunKindPrograms, 1, 0));
    EXPECT_EQ(0, RunEntryDue(Phase(phase) | Document, Phase(phase), RunKindPrograms, 1, 0));
    EXPECT_EQ(0, RunEntryDue(Phase(phase), Phase(phase), RunKindDocuments, 1, 0));
    EXPECT_EQ(1, RunEntryDue(Phase(phase) | Document, Phase(phase), RunKindDocuments, 1, 0));
  }
}

// What waits for the restart is what the continuation run starts and the
// run during the installation leaves out when a restart is pending.
TEST(WaitsForRestart, MatchesTheContinuationRun) {
  for (u32 phase = 1; phase <= 3; ++phase) {
    for (u32 extra : {0u, Defer}) {
      const u32 flags = Phase(phase) | extra;
      SCOPED_TRACE(flags);
      EXPECT_EQ(WaitsForRestart(flags), RunEntryDue(flags, Phase(phase), RunKindAll, 0, 1));
      EXPECT_EQ(WaitsForRestart(flags), !RunEntryDue(flags, Phase(phase), RunKindAll, 1, 1));
    }
  }
  EXPECT_EQ(0, WaitsForRestart(0));
  EXPECT_EQ(0, WaitsForRestart(Defer));
  EXPECT_EQ(1, WaitsForRestart(Phase(6)));
}

std::string Measured(u32 (*format)(char*, u32, const char*, const char*), const char* a,
                     const char* b) {
  u32 length = format(nullptr, 0, a, b);
  std::string out(length + 1, '?');
  EXPECT_EQ(length, format(&out[0], length + 1, a, b));
  EXPECT_EQ('\0', out[length]);
  out.resize(length);
  return out;
}

TEST(CommandLines, ProgramsAndWindowsInstallerPackages) {
  EXPECT_EQ("\"C:\\My Apps\\tool.exe\"", Measured(FormatProgramCommand, "C:\\My Apps\\tool.exe", nullptr));
  EXPECT_EQ("\"C:\\a.exe\"", Measured(FormatProgramCommand, "C:\\a.exe", ""));
  EXPECT_EQ("\"C:\\a.exe\" /x \"y z\"", Measured(FormatProgramCommand, "C:\\a.exe", "/x \"y z\""));
  EXPECT_EQ("/i \"C:\\p\\setup.msi\" /qb", Measured(FormatMsiArguments, "C:\\p\\setup.msi", "/qb"));
  EXPECT_EQ("/i \"C:\\p\\setup.msi\"", Measured(FormatMsiArguments, "C:\\p\\setup.msi", ""));
  // Cut to the buffer, terminated, the whole length still reported.
  char small[8];
  EXPECT_EQ(13u, FormatProgramCommand(small, sizeof small, "C:\\a.exe", "/x"));
  EXPECT_STREQ("\"C:\\a.e", small);

  EXPECT_EQ(1, IsMsiPackage("C:\\p\\setup.msi"));
  EXPECT_EQ(1, IsMsiPackage("C:\\P\\SETUP.MSI"));
  EXPECT_EQ(1, IsMsiPackage("a.mSi"));
  EXPECT_EQ(0, IsMsiPackage(".msi"));
  EXPECT_EQ(0, IsMsiPackage("C:\\p\\setup.msix"));
  EXPECT_EQ(0, IsMsiPackage("C:\\p\\msi"));
}

TEST(CommandLines, AssociationCommandsEndWithThePath) {
  struct Row {
    const char* command;
    const char* expected;
  } rows[] = {
      {"notepad.exe %1", "notepad.exe  C:\\DOCS\\README.TXT"},
      {"\"C:\\v.exe\" \"%1\" /p", "\"C:\\v.exe\"  C:\\DOCS\\README.TXT"},
      {"\"C:\\v.exe\" -open %1 \"%1\"", "\"C:\\v.exe\" -open %1  C:\\DOCS\\README.TXT"},
      {"viewer.exe", "viewer.exe C:\\DOCS\\README.TXT"},
  };
  for (const Row& r : rows) {
    char out[100];
    EXPECT_EQ(1, FormatAssociationCommand(out, sizeof out, r.command, "C:\\DOCS\\README.TXT"));
    EXPECT_STREQ(r.expected, out);
  }
  char tight[12];
  EXPECT_EQ(0, FormatAssociationCommand(tight, sizeof tight, "viewer.exe %1", "C:\\A.TXT"));
  EXPECT_STREQ("", tight);
  EXPECT_EQ(1, FormatAssociationCommand(tight, sizeof tight, "v %1", "C:\\A.TXT"));
}

TEST(Documents, WorkingFolderAndExtension) {
  char folder[64];
  DocumentFolder(folder, sizeof folder, "C:\\Docs\\Guide\\index.htm");
  EXPECT_STREQ("C:\\Docs\\Guide", folder);
  for (const char* address : {"http://example.com/a\\b", "HTTPS://example.com\\x"}) {
    DocumentFolder(folder, sizeof folder, address);
    EXPECT_STREQ("", folder) << address;
  }
  DocumentFolder(folder, sizeof folder, "readme.txt");
  EXPECT_STREQ("", folder);
  DocumentFolder(folder, 6, "C:\\Docs\\x.txt");  // does not fit: none
  EXPECT_STREQ("", folder);

  EXPECT_STREQ(".txt", FileExtension("C:\\Docs\\readme.txt"));
  EXPECT_STREQ(".HTM", FileExtension("C:\\a.b\\INDEX.HTM"));
  EXPECT_STREQ("", FileExtension("C:\\release.2\\readme"));
  EXPECT_STREQ(".gz", FileExtension("notes.tar.gz"));
}

TEST(Relaunch, CommandLinesOfTheCopy) {
  char out[200];
  ASSERT_EQ(1, FormatMediaRelaunch(out, sizeof out, "C:\\Temp\\_inst1.exe", "D:\\My Setup\\setup.exe"));
  EXPECT_STREQ("\"C:\\Temp\\_inst1.exe\" /S\"D:\\My Setup\\setup.exe\" /DEL", out);
  ASSERT_EQ(1, FormatRestartRelaunch(out, sizeof out, "C:\\Temp\\_inst2.exe", 3, 1));
  EXPECT_STREQ("\"C:\\Temp\\_inst2.exe\" /B3 /DEL", out);
  ASSERT_EQ(1, FormatRestartRelaunch(out, sizeof out, "C:\\Temp\\_inst2.exe", 16, 0));
  EXPECT_STREQ("\"C:\\Temp\\_inst2.exe\" /B16 /DEL /N", out);
  // Never cut: a command that does not fit is none.
  EXPECT_EQ(0, FormatMediaRelaunch(out, 40, "C:\\Temp\\_inst1.exe", "D:\\My Setup\\setup.exe"));
  EXPECT_STREQ("", out);

  char name[12];
  RunOnceValueName(name, 0);
  EXPECT_STREQ("ZPLaunch000", name);
  RunOnceValueName(name, 99);
  EXPECT_STREQ("ZPLaunch099", name);
}

class ProgramCopy : public testing::Test {
 protected:
  std::string path = testing::TempDir() + "setrun_copy_" + std::to_string(getpid()) + ".exe";
  void TearDown() override {
    remove(path.c_str());
    FreePackage();
  }
  u32 LengthOf(const Bytes& program) {
    EXPECT_TRUE(WriteAll(path, program));
    FileHandle file = OpenExisting(path.c_str(), OpenRead);
    EXPECT_NE(InvalidFile, file);
    u32 length = ProgramCopyLength(file);
    CloseFile(file);
    return length;
  }
};

TEST_F(ProgramCopy, EndsWithTheDataLengthWord) {
  std::vector<Bytes> records = MinimalRecords(Bytes(5000, 7));
  // A record of size 0 is followed by the next header at once.
  records.insert(records.begin() + 1, Header(0x1439, 0, 0));
  Bytes program = Program(3000, records);
  const u32 expected = (u32)(program.size() - 5000);
  EXPECT_EQ(expected, LengthOf(program));
  // The end header's own size field is not what counts.
  Bytes lying = program;
  SetU32(lying, expected - 8, 1u << 30);
  EXPECT_EQ(expected, LengthOf(lying));
}

TEST_F(ProgramCopy, APackageThatCannotBeWalkedGivesNone) {
  // No marker.
  EXPECT_EQ(0u, LengthOf(Stub(5000)));
  // A record whose payload runs past the end of the file.
  Bytes program = Program(2000, {Stored(TypeLayout, Bytes(10, 1))});
  SetU32(program, 2000 + 6 + 4, 1000);
  EXPECT_EQ(0u, LengthOf(program));
  // Cut inside the data length word, or before the end header.
  Bytes whole = Program(2000, MinimalRecords(Bytes()));
  Bytes cut(whole.begin(), whole.end() - 2);
  EXPECT_EQ(0u, LengthOf(cut));
  cut.resize(cut.size() - 8);
  EXPECT_EQ(0u, LengthOf(cut));
  EXPECT_EQ((u32)whole.size(), LengthOf(whole));
}

}  // namespace
