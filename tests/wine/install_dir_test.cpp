// Detection of an earlier installation folder against the real registry, INI
// files and folders, and the letter-case correction of paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "package/tables.h"
#include "base/run_state.h"

namespace {

// A group record with the given text fields (offset -> text); everything
// else zero.
std::vector<u8> GroupRecord(const std::vector<std::pair<u32, std::string>>& texts,
                            u32 registryRoot = 1) {
  std::vector<u8> record(GroupHeaderSize, 0);
  WriteU32(&record[GroupRegistryRoot], registryRoot);
  for (const auto& [field, text] : texts) {
    WriteU32(&record[field], (u32)record.size());
    record.insert(record.end(), text.begin(), text.end());
    record.push_back(0);
  }
  return record;
}

void Detect(std::vector<u8>& record) { DetectInstallDir({record.data(), (u32)record.size()}); }

const char* TestKey = "Software\\SetrunTests\\InstallDir";

void SetValue(const char* name, const std::string& value, DWORD type = REG_SZ) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
  RegCloseKey(key);
}

std::string TempFolder(const char* name) {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  std::string path = std::string(base) + name;
  CreateDirectoryA(path.c_str(), nullptr);
  return path;
}

class InstallDirTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallDir[0] = 0;
    RegDeleteKeyA(HKEY_CURRENT_USER, TestKey);
    apps = TempFolder("SetrunApps");
    tool = TempFolder("SetrunApps\\Tool");
  }
  std::string apps, tool;
};

TEST_F(InstallDirTest, DefaultFolderIsExpandedWhenNothingIsDetected) {
  auto record = GroupRecord({{GroupDefaultFolder, "#Windows#\\Demo"},
                             {GroupRegistryKey, TestKey},
                             {GroupRegistryValue, "Missing"}});
  Detect(record);
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  EXPECT_STREQ(InstallDir, (std::string(windows) + "\\Demo").c_str());
}

TEST_F(InstallDirTest, QuotedProgramPathInTheRegistryGivesItsFolder) {
  SetValue("Path", "\"" + tool + "\\tool.exe\" -run");
  auto record = GroupRecord({{GroupDefaultFolder, "C:\\Default"},
                             {GroupRegistryKey, TestKey},
                             {GroupRegistryValue, "Path"}});
  Detect(record);
  EXPECT_STRCASEEQ(InstallDir, tool.c_str());
}

TEST_F(InstallDirTest, FolderThatNoLongerExistsLeavesTheDefault) {
  SetValue("Path", apps + "\\Gone");
  auto record = GroupRecord({{GroupDefaultFolder, "C:\\Default"},
                             {GroupRegistryKey, TestKey},
                             {GroupRegistryValue, "Path"}});
  Detect(record);
  EXPECT_STREQ(InstallDir, "C:\\Default");
}

TEST_F(InstallDirTest, ValuesThatAreNotStringsAreIgnored) {
  DWORD number = 42;
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Path", 0, REG_DWORD, (const BYTE*)&number, sizeof number);
  RegCloseKey(key);
  auto record = GroupRecord({{GroupDefaultFolder, "C:\\Default"},
                             {GroupRegistryKey, TestKey},
                             {GroupRegistryValue, "Path"}});
  Detect(record);
  EXPECT_STREQ(InstallDir, "C:\\Default");
}

TEST_F(InstallDirTest, ParentRuleTakesTheParentOrKeepsThePreviousGroupsFolder) {
  SetValue("", tool);  // the key's default value
  auto detected = GroupRecord({{GroupDefaultFolder, "#PARENT#"}, {GroupRegistryKey, TestKey}});
  Detect(detected);
  EXPECT_STRCASEEQ(InstallDir, apps.c_str());

  strcpy(InstallDir, "D:\\Previous");
  auto nothing = GroupRecord({{GroupDefaultFolder, "#parent#"}});
  Detect(nothing);
  EXPECT_STREQ(InstallDir, "D:\\Previous");
}

TEST_F(InstallDirTest, IniValueIsTestedLikeARegistryValue) {
  std::string ini = apps + "\\setup.ini";
  WritePrivateProfileStringA("Setup", "Folder", tool.c_str(), ini.c_str());
  auto record = GroupRecord({{GroupDefaultFolder, "C:\\Default"},
                             {GroupIniFile, ini},
                             {GroupIniSection, "Setup"},
                             {GroupIniKey, "Folder"}});
  Detect(record);
  EXPECT_STRCASEEQ(InstallDir, tool.c_str());

  // A value naming no folder leaves the default.
  WritePrivateProfileStringA("Setup", "Folder", "C:\\Nowhere\\At\\All", ini.c_str());
  Detect(record);
  EXPECT_STREQ(InstallDir, "C:\\Default");
}

TEST_F(InstallDirTest, RegistryWinsOverTheIniFile) {
  std::string ini = apps + "\\setup.ini";
  WritePrivateProfileStringA("Setup", "Folder", apps.c_str(), ini.c_str());
  SetValue("Path", tool);
  auto record = GroupRecord({{GroupDefaultFolder, "C:\\Default"},
                             {GroupRegistryKey, TestKey},
                             {GroupRegistryValue, "Path"},
                             {GroupIniFile, ini},
                             {GroupIniSection, "Setup"},
                             {GroupIniKey, "Folder"}});
  Detect(record);
  EXPECT_STRCASEEQ(InstallDir, tool.c_str());
}

TEST(CorrectPathCase, TakesTheLetterCaseAndLongNamesFromDisk) {
  std::string folder = TempFolder("Setrun Mixed Case Folder");
  std::string file = folder + "\\ReadMe.TXT";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(h);

  char path[MAX_PATH];
  std::string lower = file;
  for (char& c : lower) c = (char)tolower((unsigned char)c);
  strcpy(path, lower.c_str());
  CorrectPathCase(path);
  // The drive letter is kept as given; every component takes its stored form.
  EXPECT_STRCASEEQ(path, file.c_str());
  EXPECT_STREQ(path + 2, file.c_str() + 2);

  char shortName[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(folder.c_str(), shortName, sizeof shortName), 0u);
  strcpy(path, shortName);
  strcat(path, "\\");
  CorrectPathCase(path);
  EXPECT_STREQ(path + 2, folder.c_str() + 2) << "a trailing backslash is lost";
}

TEST(CorrectPathCase, LeavesMissingPathsAndPatternsAlone) {
  char missing[MAX_PATH] = "c:\\no such folder\\file.txt";
  CorrectPathCase(missing);
  EXPECT_STREQ(missing, "c:\\no such folder\\file.txt");

  char pattern[MAX_PATH] = "c:\\win*";
  CorrectPathCase(pattern);
  EXPECT_STREQ(pattern, "c:\\win*");

  char root[MAX_PATH] = "c:\\";
  CorrectPathCase(root);
  EXPECT_STREQ(root, "c:\\");
}

}  // namespace
