// Shared set-up of the engine's Windows tests: a private folder per test, a
// package written into it and loaded, the run state of an NT-family run, and
// the message-box helper.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/data_source.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "tests/wine/engine_package.h"
#include "tests/wine/wine_support.h"
#include "base/text_format.h"

namespace enginetest {

using enginepkg::Bytes;
using enginepkg::File;
using enginepkg::Package;
using enginepkg::ReadAll;

static const char Caption[] = "Engine Test Setup";

using winetest::RemoveTree;

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline File MakeFile(const std::string& name, size_t size, u32 seed) {
  File f;
  f.name = name;
  f.data = enginepkg::Pattern(size, seed);
  return f;
}

inline std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The texts of group 7 used by the engine (0 is the caption).
inline std::vector<std::string> Texts7() {
  std::vector<std::string> t(33);
  t[0] = Caption;
  t[28] = "Insert disk %d";
  t[32] = "Damaged %s";
  return t;
}

// Runs the message-box helper in the background.
class Answerer {
 public:
  Answerer(const std::string& log, const char* ids, const std::string& copyFrom = "",
           const std::string& copyTo = "")
      : log_(log) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir = self;
    dir = dir.substr(0, dir.rfind('\\'));
    std::string command = "\"" + dir + "\\msgbox_answer.exe\" \"" + Caption + "\" " + ids +
                          " \"" + log + "\"";
    if (!copyFrom.empty()) command += " \"" + copyFrom + "\" \"" + copyTo + "\"";
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION info = {};
    std::string line = command;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                       &info)) {
      process_ = info.hProcess;
      CloseHandle(info.hThread);
    }
  }
  ~Answerer() {
    if (process_) {
      TerminateProcess(process_, 3);
      CloseHandle(process_);
    }
  }
  bool started() const { return process_ != nullptr; }
  // The helper's exit code (0: every box was answered), and the texts it saw.
  int Finish() {
    if (!process_) return -1;
    WaitForSingleObject(process_, 90000);
    DWORD code = 99;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return (int)code;
  }
  std::string Texts() const { return Text(ReadAll(log_)); }

 private:
  std::string log_;
  HANDLE process_ = nullptr;
};

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(temp) + "eng-" + info->name() + "-" + std::to_string(GetTickCount());
    RemoveTree(dir_);
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    install_ = dir_ + "\\app";
    program_ = dir_ + "\\setup.exe";
    pkg_.defaultFolder = install_;
    pkg_.texts7 = Texts7();
  }

  void TearDown() override {
    AbortInstallation();
    FreePackage();
    RemoveTree(dir_);
  }

  // Writes and loads the package, with the run state of a Windows XP run.
  void Load() {
    AbortInstallation();
    FreePackage();
    ASSERT_TRUE(pkg_.Write(program_));
    ResetRunState();
    OsClass = OsWinXP;
    IsWinNT = 1;
    PageResult = 0;
    FolderChecked = 0;
    InstallStatusReset();
    CopyText(ProgramPath, program_.c_str(), PathSize);
    ASSERT_EQ(LoadPackage(), 1);
    CopyText(InstallDir, install_.c_str(), PathSize);
  }

  static void InstallStatusReset() {
    ErrorDetail[0] = 0;
    TargetPath[0] = 0;
    TempPath[0] = 0;
    InflateStatusWord = 0;
  }

  // Prepares and installs every entry; returns the number of steps that
  // returned 1. The finishing step is left to the test.
  int InstallAll() {
    steps_ = 0;
    if (!PrepareInstallation()) return -1;
    while (InstallNextFile()) ++steps_;
    return steps_;
  }

  u8* Entry(u32 index) {
    u8* e = FirstEntry();
    for (u32 i = 0; i < index && e; ++i) e = NextEntry(e);
    return e;
  }
  u16 State(u32 index) { return ReadU16(Entry(index) + EntryState); }
  std::string In(const std::string& name) { return install_ + "\\" + name; }

  std::string dir_, install_, program_;
  Package pkg_;
  int steps_ = 0;
};

}  // namespace enginetest
