// Engine state without Windows: checksums, kept copies and the abort, the
// damaged-file question, and positioning in the file data area across data
// volumes with the disk prompt.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/data_source.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "tests/support/ui_doubles.h"
#include "base/text_format.h"
#include "wizard/messages.h"

namespace {

typedef std::vector<u8> Bytes;

void PutU32(Bytes& b, u32 v) {
  for (int i = 0; i < 4; ++i) b.push_back((u8)(v >> (8 * i)));
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  if (!bytes.empty()) ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  fclose(f);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A group record whose text group 7 holds `texts` (the rest of the record is
// empty), made current for GetText.
Bytes GroupWithTexts(const std::vector<std::string>& texts) {
  Bytes record(GroupHeaderSize, 0);
  WriteU32(record.data() + GroupTextGroups + 4 * 7, (u32)record.size());
  record.push_back((u8)texts.size());
  record.push_back(0);
  for (const std::string& t : texts) {
    record.insert(record.end(), t.begin(), t.end());
    record.push_back(0);
  }
  return record;
}

class EngineState : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/engine-state-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir_ = pattern;
    ResetRunState();
    AllocateSharedBuffers();
    ResetUi();
    PageResult = 0;
    texts_ = GroupWithTexts({"Setup", "", "", "", "", "", "", "", "", "", "", "", "", "Give up?",
                             "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                             "Insert disk %d", "", "", "", "Damaged: %s"});
    CurrentGroupRecord = {texts_.data(), (u32)texts_.size()};
  }
  void TearDown() override {
    AbortInstallation();
    CurrentGroupRecord = {nullptr, 0};
    FileCount = 0;
    DeleteSelfAtRestart = 0;
    std::string command = "rm -rf " + dir_;
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string Path(const char* name) { return dir_ + "/" + name; }

  // A program file with `prefix` bytes in front of the data area (L0 = data0)
  // and volumes 1.. with the given data.
  void MakeVolumes(u32 prefix, const std::vector<Bytes>& volumes, bool openSource = true) {
    Bytes program(prefix, 0x90);
    PutU32(program, (u32)volumes[0].size());
    program.insert(program.end(), volumes[0].begin(), volumes[0].end());
    WriteFile(Path("prog.exe"), program);
    for (size_t k = 1; k < volumes.size(); ++k) {
      Bytes volume;
      PutU32(volume, (u32)volumes[k].size());
      volume.insert(volume.end(), volumes[k].begin(), volumes[k].end());
      char name[16];
      snprintf(name, sizeof name, "prog.D%02u", (unsigned)k);
      WriteFile(Path(name), volume);
    }
    CopyText(DataSourcePath, Path("prog.exe").c_str(), PathSize);
    DataAreaOffset = prefix;
    VolumeNumber = VolumeBase = 0;
    VolumeLength = VolumeBytesLeft = (u32)volumes[0].size();
    if (openSource) {
      DataSource = OpenExisting(DataSourcePath, OpenRead);
      ASSERT_NE(DataSource, InvalidFile);
      ForgetReadAhead();
    }
  }

  std::string dir_;
  Bytes texts_;
};

Bytes Series(u8 first, u32 n) {
  Bytes b(n);
  for (u32 i = 0; i < n; ++i) b[i] = (u8)(first + i);
  return b;
}

}  // namespace

TEST_F(EngineState, ChecksumCoversTheFileFromItsPosition) {
  Bytes data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (u8)(i * 7 + 3);
  WriteFile(Path("a.bin"), data);
  FileHandle f = OpenExisting(Path("a.bin").c_str(), OpenRead);
  ASSERT_NE(f, InvalidFile);
  EXPECT_EQ(FileChecksum(f), RotateAddSum(0, data.data(), data.size()));
  SeekFile(f, 100);
  EXPECT_EQ(FileChecksum(f), RotateAddSum(0, data.data() + 100, data.size() - 100));
  CloseFile(f);
  WriteFile(Path("empty.bin"), {});
  f = OpenExisting(Path("empty.bin").c_str(), OpenRead);
  EXPECT_EQ(FileChecksum(f), 0u);
  CloseFile(f);
}

TEST_F(EngineState, AbortDeletesKeptCopiesAndClosesTheSource) {
  FileCount = 3;
  WriteFile(Path("a.$$A"), {1});
  WriteFile(Path("c.$$A"), {2});
  ASSERT_TRUE(SetKeptCopy(0, Path("a.$$A").c_str()));
  ASSERT_TRUE(SetKeptCopy(2, Path("c.$$A").c_str()));
  EXPECT_FALSE(SetKeptCopy(3, Path("x").c_str()));  // no such entry
  EXPECT_STREQ(KeptCopy(2), Path("c.$$A").c_str());
  EXPECT_EQ(KeptCopy(1), nullptr);
  // A released copy keeps its file.
  WriteFile(Path("b.$$A"), {3});
  ASSERT_TRUE(SetKeptCopy(1, Path("b.$$A").c_str()));
  ReleaseKeptCopy(1);
  EXPECT_EQ(KeptCopy(1), nullptr);

  MakeVolumes(16, {Series(0, 8)});
  EngineBusy = 1;
  AbortInstallation();
  EXPECT_EQ(DataSource, InvalidFile);
  EXPECT_EQ(EngineBusy, 0);
  EXPECT_FALSE(Exists(Path("a.$$A")));
  EXPECT_FALSE(Exists(Path("c.$$A")));
  EXPECT_TRUE(Exists(Path("b.$$A")));
  EXPECT_EQ(KeptCopy(0), nullptr);
}

TEST_F(EngineState, DamagedFileQuestion) {
  CopyText(TargetPath, "C:\\App\\a.dll", TargetPathSize);
  Ui().answer = 6;
  EXPECT_EQ(ConfirmDataError(), 1);
  ASSERT_EQ(Ui().messages.size(), 1u);
  EXPECT_EQ(Ui().messages[0], "Damaged: C:\\App\\a.dll");
  EXPECT_EQ(Ui().styles[0], 0x24u);
  EXPECT_EQ(InstallResult, 0);

  Ui().answer = 7;
  EXPECT_EQ(ConfirmDataError(), 0);
  EXPECT_EQ(InstallResult, 21);
  EXPECT_STREQ(ErrorDetail, "C:\\App\\a.dll");

  // /R keeps damaged files without asking.
  ResetUi();
  InstallResult = 0;
  AcceptDamagedFiles = 1;
  EXPECT_EQ(ConfirmDataError(), 1);
  EXPECT_TRUE(Ui().messages.empty());
}

TEST_F(EngineState, SeekReachesALaterVolumeAndCountsItsBytes) {
  MakeVolumes(1100, {Series(0, 10), Series(100, 20), Series(200, 30)});
  ASSERT_EQ(SeekFileData(4), 0);
  EXPECT_EQ(VolumeBytesLeft, 6u);
  u8 got[40];
  // A read that runs from the program file into volume 1.
  ASSERT_EQ(ReadPackageData(&DataSource, got, 10), 0);
  EXPECT_EQ(got[0], 4);
  EXPECT_EQ(got[6], 100);
  EXPECT_EQ(VolumeNumber, 1u);
  // Straight into volume 2 (global offset 10 + 20 + 3).
  ASSERT_EQ(SeekFileData(33), 0);
  EXPECT_EQ(VolumeNumber, 2u);
  EXPECT_EQ(VolumeBase, 30u);
  EXPECT_EQ(VolumeBytesLeft, 27u);
  ASSERT_EQ(ReadPackageData(&DataSource, got, 27), 0);
  EXPECT_EQ(got[0], 203);
  EXPECT_EQ(got[26], 229);
  // Volumes are never opened backwards: earlier data is a read error.
  EXPECT_EQ(SeekFileData(5), 18);
}

TEST_F(EngineState, AMissingVolumeWithoutPromptsFailsTheRead) {
  MakeVolumes(1100, {Series(0, 10), Series(100, 20)});
  ASSERT_EQ(SeekFileData(35), 0);  // volume 2 does not exist
  EXPECT_EQ(DataSource, InvalidFile);
  EXPECT_TRUE(Ui().messages.empty());
  u8 got[4];
  EXPECT_EQ(ReadPackageData(&DataSource, got, 4), 1);
}

TEST_F(EngineState, DiskPromptNamesTheDiskAndGivingUpAbandons) {
  DeleteSelfAtRestart = 1;
  MakeVolumes(1100, {Series(0, 10), Series(100, 20)});
  FileCount = 1;
  WriteFile(Path("k.$$A"), {1});
  ASSERT_TRUE(SetKeptCopy(0, Path("k.$$A").c_str()));
  EngineBusy = 1;
  Ui().answer = 6;  // not OK at the prompt, then Yes to giving up
  EXPECT_EQ(SeekFileData(35), 15);
  ASSERT_EQ(Ui().messages.size(), 2u);
  EXPECT_EQ(Ui().messages[0], "Insert disk 3");  // volume 2 is the third disk
  EXPECT_EQ(Ui().styles[0], 0x41u);
  EXPECT_EQ(Ui().messages[1], "Give up?");
  EXPECT_EQ(InstallResult, 15);
  EXPECT_EQ(PageResult, 2);
  EXPECT_EQ(UserCancelled, 1);
  EXPECT_EQ(EngineBusy, 0);
  EXPECT_EQ(DataSource, InvalidFile);
  EXPECT_FALSE(Exists(Path("k.$$A")));
}

TEST_F(EngineState, AnUnreadableVolumeLengthCountsAsMissing) {
  MakeVolumes(1100, {Series(0, 10), Series(100, 20)});
  WriteFile(Path("prog.D01"), {1, 2});  // too short for its length word
  EXPECT_EQ(OpenNextVolume(), InvalidFile);
  EXPECT_EQ(VolumeNumber, 1u);
}

TEST_F(EngineState, AskAndNotifyAsksThenTells) {
  Ui().answer = 6;
  EXPECT_EQ(AskAndNotify(13, 28), 1);
  ASSERT_EQ(Ui().messages.size(), 2u);
  EXPECT_EQ(Ui().styles[0], 0x24u);
  EXPECT_EQ(Ui().messages[1], "Insert disk %d");  // notices are shown as they stand
  EXPECT_EQ(Ui().styles[1], 0x40u);

  ResetUi();
  Ui().answer = 7;
  EXPECT_EQ(AskAndNotify(13, 28), 0);
  EXPECT_EQ(Ui().messages.size(), 1u);

  // An empty question counts as Yes; an empty notice shows nothing.
  ResetUi();
  EXPECT_EQ(AskAndNotify(1, 2), 1);
  EXPECT_TRUE(Ui().messages.empty());
}
