// The command-line switches as the setup program reads them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "startup/command_line.h"
#include "base/run_state.h"

namespace {

class CommandLine : public testing::Test {
 protected:
  char path[260];
  char* savedPath = nullptr;
  void SetUp() override {
    savedPath = ProgramPath;
    ResetRunState();
    std::string own = "C:\\Media\\setup.exe";
    own.copy(path, own.size());
    path[own.size()] = 0;
    ProgramPath = path;
  }
  void TearDown() override {
    ProgramPath = savedPath;
    ResetRunState();
  }
};

TEST_F(CommandLine, NullEmptyAndBlankLinesChangeNothing) {
  ParseCommandLine(nullptr);
  ParseCommandLine("");
  ParseCommandLine("     ");
  EXPECT_EQ(0, ContinueGroup);
  EXPECT_EQ(0, DeleteSelfAtRestart);
  EXPECT_EQ(0, RegisterKeptFiles);
  EXPECT_EQ(1, RunAfterInstall);
  EXPECT_EQ(0, AcceptDamagedFiles);
  EXPECT_EQ(0, KeepInteractive);
  EXPECT_STREQ("C:\\Media\\setup.exe", ProgramPath);
}

TEST_F(CommandLine, EverySwitchSetsItsOption) {
  ParseCommandLine("  /B3 /DEL /F /N /R /SD:\\pkg.exe /V");
  EXPECT_EQ(3, ContinueGroup);
  EXPECT_EQ(1, DeleteSelfAtRestart);
  EXPECT_EQ(1, RegisterKeptFiles);
  EXPECT_EQ(0, RunAfterInstall);
  EXPECT_EQ(1, AcceptDamagedFiles);
  EXPECT_STREQ("D:\\pkg.exe", ProgramPath);
  EXPECT_EQ(1, KeepInteractive);
}

TEST_F(CommandLine, SwitchesAreCaseInsensitiveAndMayStartWithDash) {
  ParseCommandLine("-v -n -f");
  EXPECT_EQ(1, KeepInteractive);
  EXPECT_EQ(0, RunAfterInstall);
  EXPECT_EQ(1, RegisterKeptFiles);
}

TEST_F(CommandLine, ContinueGroupTakesAtMostTwoDigits) {
  ParseCommandLine("/b12 /del");
  EXPECT_EQ(12, ContinueGroup);
  EXPECT_EQ(1, DeleteSelfAtRestart);

  ResetRunState();
  ParseCommandLine("/B123 /N");
  EXPECT_EQ(12, ContinueGroup);
  EXPECT_EQ(0, RunAfterInstall);

  ResetRunState();
  ParseCommandLine("/B99");
  EXPECT_EQ(99, ContinueGroup);

  // The second digit is skipped with the rest of the word; a switch right
  // behind it still counts.
  ResetRunState();
  ParseCommandLine("/B12/N");
  EXPECT_EQ(12, ContinueGroup);
  EXPECT_EQ(0, RunAfterInstall);
}

TEST_F(CommandLine, ContinueGroupWithoutDigitIsANormalRun) {
  ParseCommandLine("/B");
  EXPECT_EQ(0, ContinueGroup);
  ParseCommandLine("/Bx");
  EXPECT_EQ(0, ContinueGroup);
  // A later /B without a digit undoes an earlier one.
  ParseCommandLine("/B4 /B");
  EXPECT_EQ(0, ContinueGroup);
  ParseCommandLine("/B0");
  EXPECT_EQ(0, ContinueGroup);
}

TEST_F(CommandLine, DeleteNeedsTheLettersEAndL) {
  ParseCommandLine("/D /DE /DX /DEX");
  EXPECT_EQ(0, DeleteSelfAtRestart);
  ParseCommandLine("/dEl");
  EXPECT_EQ(1, DeleteSelfAtRestart);
  ResetRunState();
  ParseCommandLine("/DELETE");
  EXPECT_EQ(1, DeleteSelfAtRestart);
  // At the very end of the text.
  ResetRunState();
  ParseCommandLine("/D");
  EXPECT_EQ(0, DeleteSelfAtRestart);
}

TEST_F(CommandLine, DamagedFilesOnlyWhenTheSwitchStandsAlone) {
  ParseCommandLine("/Rx");
  EXPECT_EQ(0, AcceptDamagedFiles);
  ParseCommandLine("/R/N");
  EXPECT_EQ(0, AcceptDamagedFiles);
  EXPECT_EQ(0, RunAfterInstall);

  ResetRunState();
  ParseCommandLine("/N/R");
  EXPECT_EQ(1, AcceptDamagedFiles);
  EXPECT_EQ(0, RunAfterInstall);

  ResetRunState();
  ParseCommandLine("/R /V");
  EXPECT_EQ(1, AcceptDamagedFiles);
  EXPECT_EQ(1, KeepInteractive);
}

TEST_F(CommandLine, SwitchesMayFollowEachOtherWithoutSpace) {
  ParseCommandLine("/N/V-F");
  EXPECT_EQ(0, RunAfterInstall);
  EXPECT_EQ(1, KeepInteractive);
  EXPECT_EQ(1, RegisterKeptFiles);
}

TEST_F(CommandLine, AWordThatIsNotASwitchEndsTheParsing) {
  ParseCommandLine("setup.exe /N");
  EXPECT_EQ(1, RunAfterInstall);
  ParseCommandLine("/V file /N");
  EXPECT_EQ(1, KeepInteractive);
  EXPECT_EQ(1, RunAfterInstall);
  // Only the space separates: a tab is a word of its own.
  ResetRunState();
  ParseCommandLine("\t/N");
  EXPECT_EQ(1, RunAfterInstall);
}

TEST_F(CommandLine, UnknownLettersAndALoneSlashAreIgnored) {
  ParseCommandLine("/Q /Zzz /N");
  EXPECT_EQ(0, RunAfterInstall);
  ResetRunState();
  ParseCommandLine("/V /");
  EXPECT_EQ(1, KeepInteractive);
  ResetRunState();
  ParseCommandLine("-");
  ParseCommandLine("/");
  ParseCommandLine("/N -");
  EXPECT_EQ(0, RunAfterInstall);
}

TEST_F(CommandLine, SourceFileWithQuotedPathContainingSpaces) {
  ParseCommandLine("/S\"E:\\Setup Files\\my setup.exe\" /V");
  EXPECT_STREQ("E:\\Setup Files\\my setup.exe", ProgramPath);
  EXPECT_EQ(1, KeepInteractive);

  // A space between the switch and its argument changes nothing.
  ResetRunState();
  ParseCommandLine("/S \"E:\\a b.exe\"/DEL");
  EXPECT_STREQ("E:\\a b.exe", ProgramPath);
  EXPECT_EQ(1, DeleteSelfAtRestart);
}

TEST_F(CommandLine, UnquotedSourceFileRunsToTheNextSpace) {
  ParseCommandLine("/sE:\\pkg.exe/V /N");
  EXPECT_STREQ("E:\\pkg.exe/V", ProgramPath);
  EXPECT_EQ(0, KeepInteractive);
  EXPECT_EQ(0, RunAfterInstall);
}

TEST_F(CommandLine, UnterminatedQuoteTakesTheRestOfTheLine) {
  ParseCommandLine("/S\"E:\\a b /V");
  EXPECT_STREQ("E:\\a b /V", ProgramPath);
  EXPECT_EQ(0, KeepInteractive);
}

TEST_F(CommandLine, SourceFileAtTheEndWithoutArgumentIsEmpty) {
  ParseCommandLine("/N /S");
  EXPECT_STREQ("", ProgramPath);
  EXPECT_EQ(0, RunAfterInstall);
}

TEST_F(CommandLine, OverlongSourceFileIsCutAndTheRestStillParsed) {
  std::string longPath = "C:\\" + std::string(400, 'x');
  ParseCommandLine(("/S" + longPath + " /N").c_str());
  EXPECT_EQ(259u, std::string(ProgramPath).size());
  EXPECT_EQ(longPath.substr(0, 259), ProgramPath);
  EXPECT_EQ(0, RunAfterInstall);

  ResetRunState();
  ParseCommandLine(("/S\"" + longPath + " y\" /V").c_str());
  EXPECT_EQ(longPath.substr(0, 259), ProgramPath);
  EXPECT_EQ(1, KeepInteractive);
}

TEST(ReadSwitchArgument, StopsAtTheSpaceOrBehindTheClosingQuote) {
  char out[32];
  const char* text = "  abc def";
  const char* rest = ReadSwitchArgument(text, out, sizeof out);
  EXPECT_STREQ("abc", out);
  EXPECT_EQ(text + 5, rest);

  text = "\"a b\"c d";
  rest = ReadSwitchArgument(text, out, sizeof out);
  EXPECT_STREQ("a b", out);
  EXPECT_EQ(text + 5, rest);

  text = "\"a b";
  rest = ReadSwitchArgument(text, out, sizeof out);
  EXPECT_STREQ("a b", out);
  EXPECT_EQ(text + 4, rest);

  text = "\"\" x";
  rest = ReadSwitchArgument(text, out, sizeof out);
  EXPECT_STREQ("", out);
  EXPECT_EQ(text + 2, rest);

  text = "   ";
  rest = ReadSwitchArgument(text, out, sizeof out);
  EXPECT_STREQ("", out);
  EXPECT_EQ(text + 3, rest);
}

TEST(ReadSwitchArgument, StoresAtMostSizeMinusOneCharacters) {
  char out[8];
  memset(out, '#', sizeof out);
  const char* text = "0123456789 next";
  const char* rest = ReadSwitchArgument(text, out, 5);
  EXPECT_STREQ("0123", out);
  EXPECT_EQ('#', out[5]);
  EXPECT_EQ(text + 10, rest);

  rest = ReadSwitchArgument("xyz", out, 1);
  EXPECT_STREQ("", out);

  // Nothing at all is stored into a buffer without room.
  out[0] = '#';
  rest = ReadSwitchArgument("xyz", out, 0);
  EXPECT_EQ('#', out[0]);
  EXPECT_EQ(0, *rest);
}

}  // namespace
