// Reads whose size reaches the upper half of the 32-bit range: the message
// pump countdown must still see them as reads of at least 4,096 bytes.
#include <gtest/gtest.h>

#include "tests/support/package_bytes.h"
#include "tests/support/ui_doubles.h"

using namespace pkgbytes;

namespace {

class LargeReads : public ::testing::Test {
 protected:
  TempFolder dir;
  char programPath[260] = {};
  FileHandle empty = InvalidFile;

  void SetUp() override {
    snprintf(programPath, sizeof programPath, "%s", dir.File("setup.exe").c_str());
    ResetReader(programPath);
    ResetUi();
    // An empty file: every read fails at once, without writing to the buffer.
    std::string path = dir.File("empty.bin");
    ASSERT_TRUE(WriteAll(path, Bytes()));
    empty = OpenExisting(path.c_str(), OpenRead);
    ASSERT_NE(empty, InvalidFile);
  }
  void TearDown() override {
    CloseFile(empty);
    ResetReader(programPath);
    ReleaseSharedBuffers();
    ProgramPath = nullptr;
  }
};

TEST_F(LargeReads, RequestsOf2GBAndMorePumpOnce) {
  u8 byte = 0;
  const u32 sizes[] = {0x80000000u, 0x80000000u + 100, 0xC0000000u, 0xFFFFFFFFu};
  int pumps = 0;
  for (u32 size : sizes) {
    PumpCountdown = 100;
    EXPECT_EQ(ReadPackageData(&empty, &byte, size), 1) << size;
    EXPECT_EQ(Ui().pumps, ++pumps) << size;
    EXPECT_EQ(PumpCountdown, 4096) << size;
  }
}

TEST_F(LargeReads, SmallRequestsStillCountDown) {
  u8 byte = 0;
  PumpCountdown = 4096;
  EXPECT_EQ(ReadPackageData(&empty, &byte, 1), 1);
  EXPECT_EQ(PumpCountdown, 4095);
  EXPECT_EQ(Ui().pumps, 0);
  EXPECT_EQ(ReadPackageData(&empty, &byte, 4095), 1);
  EXPECT_EQ(PumpCountdown, 4096);
  EXPECT_EQ(Ui().pumps, 1);
}

}  // namespace
