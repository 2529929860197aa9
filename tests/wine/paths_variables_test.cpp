// Folder variables against the real registry, shell folders and clock.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/files.h"
#include "paths/variables.h"
#include "base/run_state.h"

namespace {

const char* VersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string Expand(const std::string& text) {
  u32 length = ExpandVariables(nullptr, text.c_str(), ExpandLimit);
  std::vector<char> buffer(length + 1);
  EXPECT_EQ(ExpandVariables(buffer.data(), text.c_str(), length + 1), length);
  return buffer.data();
}

std::string WindowsFolder() {
  char path[MAX_PATH];
  GetWindowsDirectoryA(path, MAX_PATH);
  return path;
}

std::string ShellFolder(int id) {
  char path[MAX_PATH] = "";
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, path, id, FALSE)) << id;
  return path;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A value of the current-version key as it was, to be put back.
struct SavedValue {
  std::string name;
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

class ProgramFilesValues : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, VersionKey, 0, KEY_READ | KEY_WRITE, &key),
              ERROR_SUCCESS);
    for (const char* name : {"ProgramFilesDir", "CommonFilesDir"}) {
      SavedValue saved;
      saved.name = name;
      DWORD size = 0;
      if (RegQueryValueExA(key, name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
        saved.present = true;
        saved.data.resize(size);
        RegQueryValueExA(key, name, nullptr, &saved.type, saved.data.data(), &size);
      }
      values.push_back(saved);
    }
  }
  void TearDown() override {
    for (const SavedValue& saved : values) {
      if (saved.present)
        RegSetValueExA(key, saved.name.c_str(), 0, saved.type, saved.data.data(),
                       (DWORD)saved.data.size());
      else
        RegDeleteValueA(key, saved.name.c_str());
    }
    RegCloseKey(key);
  }
  void Set(const char* name, const std::string& value) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                             (DWORD)value.size() + 1),
              ERROR_SUCCESS);
  }
  void Remove(const char* name) { RegDeleteValueA(key, name); }

  HKEY key = nullptr;
  std::vector<SavedValue> values;
};

}  // namespace

TEST(FolderVariables, WindowsAndSystemFoldersInAnyLetterCase) {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  EXPECT_EQ(Expand("#Windows#\\x.ini"), WindowsFolder() + "\\x.ini");
  EXPECT_EQ(Expand("#windows#"), WindowsFolder());
  EXPECT_EQ(Expand("#WINDOWS#"), WindowsFolder());
  EXPECT_EQ(Expand("#System#"), system);
}

TEST_F(ProgramFilesValues, ProgramFilesLosesItsTrailingBackslash) {
  Set("ProgramFilesDir", "C:\\Setrun PF\\");
  EXPECT_EQ(Expand("#Program Files#\\Tools"), "C:\\Setrun PF\\Tools");
  Set("ProgramFilesDir", "D:\\");
  EXPECT_EQ(Expand("#Program Files#"), "D:\\");
  Remove("ProgramFilesDir");
  EXPECT_EQ(Expand("#Program Files#\\Tools"), "#Program Files#\\Tools");
}

TEST_F(ProgramFilesValues, CommonFilesFallsBackToProgramFiles) {
  Set("CommonFilesDir", "C:\\Setrun Common");
  Set("ProgramFilesDir", "C:\\Setrun PF");
  EXPECT_EQ(Expand("#CommonFiles#\\Shared"), "C:\\Setrun Common\\Shared");
  Remove("CommonFilesDir");
  EXPECT_EQ(Expand("#CommonFiles#\\Shared"), "C:\\Setrun PF\\Common Files\\Shared");
  Set("ProgramFilesDir", "C:\\Setrun PF\\");  // no second backslash
  EXPECT_EQ(Expand("#CommonFiles#"), "C:\\Setrun PF\\Common Files");
  // Neither value: the variable stays as it is.
  Remove("ProgramFilesDir");
  EXPECT_EQ(Expand("#CommonFiles#\\Shared"), "#CommonFiles#\\Shared");
}

TEST_F(ProgramFilesValues, AValueStoredWithoutItsTerminatorIsTerminated) {
  const char raw[] = {'C', ':', '\\', 'R', 'a', 'w'};
  ASSERT_EQ(RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, (const BYTE*)raw, sizeof raw),
            ERROR_SUCCESS);
  EXPECT_EQ(Expand("#Program Files#|"), "C:\\Raw|");
}

TEST(FolderVariables, ShellFoldersOfTheUser) {
  EXPECT_EQ(Expand("#MyDocuments#"), ShellFolder(CSIDL_PERSONAL));
  EXPECT_EQ(Expand("#AppData#\\Tool"), ShellFolder(CSIDL_APPDATA) + "\\Tool");
  EXPECT_EQ(Expand("#LocalAppData#"), ShellFolder(CSIDL_LOCAL_APPDATA));
  EXPECT_EQ(Expand("#UserDir#"), ShellFolder(CSIDL_PROFILE));
  for (const char* token : {"#MyDocuments#", "#AppData#", "#LocalAppData#", "#UserDir#"})
    EXPECT_TRUE(IsFolder(Expand(token))) << token;
}

TEST(FolderVariables, GetShellFolderLeavesTheBufferAloneOnFailure) {
  char buffer[MAX_PATH] = "unchanged";
  EXPECT_EQ(GetShellFolder(buffer, 0x7F), 0);  // no such folder
  EXPECT_STREQ(buffer, "unchanged");
  EXPECT_EQ(GetShellFolder(buffer, CSIDL_FONTS), 1);
  EXPECT_TRUE(IsFolder(buffer));
}

TEST(FolderVariables, InstallAndSourceFoldersFollowTheRun) {
  CopyText(InstallDir, "D:\\Apps\\", PathSize);
  EXPECT_EQ(Expand("#InstallDir#\\bin"), "D:\\Apps\\bin");
  CopyText(InstallDir, "D:\\", PathSize);
  EXPECT_EQ(Expand("#InstallDir#"), "D:\\");
  CopyText(InstallDir, "E:\\Later", PathSize);  // read afresh on each call
  EXPECT_EQ(Expand("#installdir#"), "E:\\Later");

  std::string saved = ProgramPath;
  CopyText(ProgramPath, "E:\\setup\\setup.exe", PathSize);
  EXPECT_EQ(Expand("#SourceDir#\\data"), "E:\\setup\\data");
  CopyText(ProgramPath, "setup.exe", PathSize);
  EXPECT_EQ(Expand("#SourceDir#"), "setup.exe");
  CopyText(ProgramPath, saved.c_str(), PathSize);
  InstallDir[0] = 0;
}

TEST(FolderVariables, DateIsTodayAsEightDigits) {
  auto today = []() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char digits[16];
    wsprintfA(digits, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return std::string(digits);
  };
  std::string before = today();
  std::string date = Expand("v#Date#");
  std::string after = today();
  EXPECT_TRUE(date == "v" + before || date == "v" + after) << date;
}

TEST(FolderVariables, ResolveVariableOnItsOwn) {
  char buffer[MAX_PATH] = "#NoSuchVariable#";
  ResolveVariable(buffer);
  EXPECT_STREQ(buffer, "");
  strcpy(buffer, "##");
  ResolveVariable(buffer);
  EXPECT_STREQ(buffer, "");
  strcpy(buffer, "#Windows#");
  ResolveVariable(buffer);
  EXPECT_EQ(buffer, WindowsFolder());
}

TEST(FolderVariables, ExpansionIntoAFixedBufferIsCut) {
  char path[12];
  u32 length = ExpandVariables(path, "#Windows#\\#Nothing#system.ini", sizeof path);
  std::string full = WindowsFolder() + "\\system.ini";
  EXPECT_EQ(length, full.size());
  EXPECT_EQ(std::string(path), full.substr(0, 11));
}
