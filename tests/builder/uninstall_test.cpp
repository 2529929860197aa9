// The embedded uninstaller: what a project without an uninstaller program
// gets, and the records the uninstaller and the setup program read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/project.h"
#include "builder/uninstall_records.h"
#include "engine/uninstall_log.h"
#include "tests/builder/builder_support.h"
#include "uninstaller/log.h"

using namespace builder_test;
using setrunc::BuildError;
using setrunc::LoadedProject;

namespace {

const Bytes Image = {'M', 'Z', 'u'};

class EmbeddedUninstaller : public ::testing::Test {
 protected:
  TempDir dir;
  LoadedProject Load(const std::string& text) {
    WriteFile(dir / "a.txt", "abc");
    LoadedProject p = setrunc::LoadProjectText(text, "demo.toml", dir.path(), {});
    if (!p.uninstallerGiven)
      setrunc::ApplyDefaultUninstaller(&p.project, p.groupDefaults, p.publisher, p.version, Image);
    return p;
  }
};

const setrunc::FileEntry* UninstallerEntry(const setrunc::Group& g) {
  for (const setrunc::FileEntry& e : g.files)
    if (e.state & EntryStateUninstaller) return &e;
  return nullptr;
}

TEST_F(EmbeddedUninstaller, ATenLineProjectGetsItsUninstallerAndEntry) {
  struct Case {
    const char* what;
    std::string group;
    const char* uninstaller;  // entry string 0, or null for none
    u16 flags;
    const char* name;
  };
  const Case cases[] = {
      {"defaults", "", "Uninstall.exe", GroupFlagFolderChangeable | GroupFlagUninstallEntry, "Tool"},
      {"own name and file name", "name = \"Tool 2\"\nuninstaller = \"bin\\\\Remove.exe\"\n",
       "bin\\Remove.exe", GroupFlagFolderChangeable | GroupFlagUninstallEntry, "Tool 2"},
      {"flags written out stay", "flags = [\"folder_changeable\"]\n", "Uninstall.exe",
       GroupFlagFolderChangeable, "Tool"},
      {"left out", "uninstaller = false\n", nullptr, GroupFlagFolderChangeable, nullptr},
  };
  for (const Case& c : cases) {
    LoadedProject p = Load("product = \"Tool\"\npublisher = \"Vendor\"\n[[group]]\n" + c.group +
                           "[[group.file]]\nsource = \"a.txt\"\n");
    const setrunc::Group& g = p.project.groups[0];
    const setrunc::FileEntry* u = UninstallerEntry(g);
    EXPECT_EQ(g.flags, c.flags) << c.what;
    if (!c.uninstaller) {
      EXPECT_EQ(u, nullptr) << c.what;
      EXPECT_FALSE(g.uninstall) << c.what;
      continue;
    }
    ASSERT_NE(u, nullptr) << c.what;
    EXPECT_EQ(u->strings[0], c.uninstaller) << c.what;
    EXPECT_EQ(*g.displayName, c.name) << c.what;
    ASSERT_TRUE(g.uninstall) << c.what;
    EXPECT_EQ(g.uninstall->publisher, "Vendor");
    EXPECT_EQ(*p.project.uninstallerImage, Image);
    // The log start: the texts, then the end header the setup program
    // writes over.
    Bytes expected = setrunc::UninstallerTextsRecord(c.name);
    Bytes end = setrunc::EncodeRecordHeader(RecordEndOfTables, 0, 0);
    expected.insert(expected.end(), end.begin(), end.end());
    EXPECT_EQ(u->data.bytes, expected) << c.what;
  }
}

TEST_F(EmbeddedUninstaller, AProgramOfTheProjectGetsNothingAdded) {
  WriteFile(dir / "u.exe", "MZown");
  LoadedProject p = Load("uninstaller = \"u.exe\"\n[[group]]\n[[group.file]]\nsource = \"a.txt\"\n");
  EXPECT_TRUE(p.uninstallerGiven);
  EXPECT_EQ(UninstallerEntry(p.project.groups[0]), nullptr);
  EXPECT_FALSE(p.project.groups[0].uninstall);
}

TEST_F(EmbeddedUninstaller, AFileInTheUninstallersPlaceIsAnError) {
  WriteFile(dir / "Uninstall.exe", "MZ");
  try {
    Load("[[group]]\n[[group.file]]\nsource = \"Uninstall.exe\"\n");
    FAIL() << "no error";
  } catch (const BuildError& e) {
    EXPECT_NE(std::string(e.what()).find("'Uninstall.exe' is the name of the uninstaller"),
              std::string::npos) << e.what();
  }
}

void CollectValue(void* context, u32 type, const char* name, const char* text, u32 number) {
  auto* out = (std::vector<std::string>*)context;
  out->push_back(std::string(name) + "=" + (type == 1 ? std::string(text) : std::to_string(number)));
}

// What the builder writes is what the setup program and the uninstaller read.
TEST_F(EmbeddedUninstaller, TheRecordsReadBack) {
  LoadedProject p = Load(
      "product = \"Tool\"\nversion = \"2.0\"\n[[group]]\n"
      "flags = [\"uninstall_entry\", \"folder_to_registry\"]\n"
      "registry = { root = \"HKCU\", key = \"Software\\\\Tool\", value = \"Folder\" }\n"
      "[[group.file]]\nsource = \"a.txt\"\nname = \"docs\\\\a.txt\"\n"
      "[[group.file]]\nname = \"logs\"\nflags = [\"folder_entry\"]\n");
  const setrunc::Group& g = p.project.groups[0];
  std::vector<setrunc::StreamInfo> streams(g.files.size());
  streams[0].size = 3000;
  streams[0].checksum = 0x1234;
  Bytes records = setrunc::UninstallRecords(g, streams);

  std::vector<std::string> values;
  ForEachUninstallValue(records.data(), (u32)records.size(), CollectValue, &values);
  EXPECT_EQ(values, (std::vector<std::string>{
                        "DisplayIcon=#InstallDir#\\Uninstall.exe", "DisplayVersion=2.0",
                        "QuietUninstallString=\"#InstallDir#\\Uninstall.exe\" /S", "EstimatedSize=3",
                        "NoModify=1", "NoRepair=1"}));

  // A log as the setup program completes it: file log, these records, end.
  Bytes log = setrunc::EncodeRecordHeader(LogFiles, 0, 4 + 2 + 6 + 2 + 5 + 1);
  const u8 files[] = {1, 0, 0, 0, 6, 0, '.', '\\', 'd', 'o', 'c', 's', 5, 0, 'a', '.', 't', 'x', 't', 0};
  log.insert(log.end(), files, files + sizeof files);
  log.insert(log.end(), records.begin(), records.end());
  Bytes end = setrunc::EncodeRecordHeader(RecordEndOfTables, RecordCompletedLog, 0);
  log.insert(log.end(), end.begin(), end.end());
  UninstallLog read;
  ASSERT_EQ(ReadUninstallLog(log.data(), (u32)log.size(), &read), LogReadable);
  ASSERT_EQ(read.registryCount, 3u);
  EXPECT_EQ(std::string(read.registry[0].key.text, read.registry[0].key.length),
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool");
  EXPECT_EQ(read.registry[0].root, 2u);
  EXPECT_EQ(read.registry[1].root, 1u);
  EXPECT_EQ(read.registry[2].isValue, 1);
  EXPECT_EQ(std::string(read.registry[2].value.text, read.registry[2].value.length), "Folder");
  ASSERT_EQ(read.checkCount, 1u);  // folder and uninstaller entries are not checked
  EXPECT_EQ(CompareWithLog(&read, &read.files[0], 3000, 0x1234), CheckSame);
  EXPECT_EQ(CompareWithLog(&read, &read.files[0], 3000, 0x1235), CheckChanged);
  FreeUninstallLog(&read);
}

}  // namespace
