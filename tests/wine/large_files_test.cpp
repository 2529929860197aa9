// Files of 2 GB and more: positions in the package and its data volumes are
// unsigned 32-bit offsets, so everything up to 4 GB must be reachable. The
// files are sparse: only a few bytes are really written.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "engine/data_source.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"

namespace {

const char Mark[4] = {'d', 'a', 't', 'a'};

// A file whose only written bytes are `head` at offset 0 and the mark at
// `markAt`; everything in between is a hole.
std::string SparseFile(const char* name, const u8* head, DWORD headLength, uint64_t markAt) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  std::string path = std::string(folder) + name;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  if (headLength) WriteFile(file, head, headLength, &done, nullptr);
  LARGE_INTEGER at;
  at.QuadPart = (LONGLONG)markAt;
  SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  EXPECT_TRUE(WriteFile(file, Mark, sizeof Mark, &done, nullptr));
  CloseHandle(file);
  return path;
}

TEST(LargeFiles, SeekFileReachesPositionsOf2GBAndMore) {
  const uint64_t markAt = 0xC0000000u;
  std::string path = SparseFile("setrun-large.bin", nullptr, 0, markAt);
  FileHandle file = OpenExisting(path.c_str(), OpenRead);
  ASSERT_NE(file, InvalidFile);
  EXPECT_EQ(FileLength(file), 0xC0000004u);
  for (u32 position : {0x7FFFFFFFu, 0x80000000u, 0xBFFFFFFFu}) {
    EXPECT_EQ(SeekFile(file, position), position);
    EXPECT_EQ(TellFile(file), position);
  }
  EXPECT_EQ(SeekFile(file, 0xC0000000u), 0xC0000000u);
  char read[4] = {};
  ASSERT_EQ(ReadExact(file, read, sizeof read), 0);
  EXPECT_EQ(memcmp(read, Mark, sizeof Mark), 0);
  CloseFile(file);
  DeleteFileA(path.c_str());
}

// A file's data 3 GB into the file data area of the program file.
TEST(LargeFiles, FileDataBeyond2GBIsFound) {
  u8 lengthWord[4];
  WriteU32(lengthWord, 0xC0000004u);  // L0: everything behind the word
  std::string path = SparseFile("setrun-large.exe", lengthWord, 4, 0xC0000004u);
  CopyText(DataSourcePath, path.c_str(), PathSize);
  DataSource = OpenExisting(DataSourcePath, OpenRead);
  ASSERT_NE(DataSource, InvalidFile);
  ForgetReadAhead();
  DataAreaOffset = 0;
  VolumeNumber = 0;
  VolumeBase = 0;
  VolumeLength = VolumeBytesLeft = 0xC0000004u;

  ASSERT_EQ(SeekFileData(0xC0000000u), 0);
  EXPECT_EQ(VolumeBytesLeft, 4u);
  char read[4] = {};
  ASSERT_EQ(ReadPackageData(&DataSource, read, sizeof read), 0);
  EXPECT_EQ(memcmp(read, Mark, sizeof Mark), 0);
  EXPECT_EQ(VolumeBytesLeft, 0u);
  CloseFile(DataSource);
  DataSource = InvalidFile;
  DeleteFileA(path.c_str());
}

}  // namespace
