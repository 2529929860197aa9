// Helpers of the builder tests: temporary folders, a dummy stub, and loading a
// built installer with the setup program's own loader.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "builder/model.h"
#include "builder/package_writer.h"
#include "engine/data_source.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "tests/support/ui_doubles.h"

namespace builder_test {

using setrunc::Bytes;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/setrunc-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline Bytes DummyStub(size_t size = 2048) {
  Bytes stub(size, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  return stub;
}

inline void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write((const char*)data.data(), (std::streamsize)data.size());
}
inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Data that deflate cannot shrink (or, with `text`, that it can).
inline Bytes Noise(size_t n, unsigned seed, bool text = false) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (u8& c : b) c = text ? (u8)('a' + random() % 4) : (u8)random();
  return b;
}

// The setup program's state around one test: shared buffers, run state and
// package tables.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AllocateSharedBuffers());
    if (!ProgramPath) {
      ASSERT_TRUE(AllocZeroed(PathSize, &ProgramPath));
    }
    ResetRunState();
    ResetUi();
  }
  void TearDown() override {
    if (DataSource != InvalidFile) CloseFile(DataSource);
    DataSource = InvalidFile;
    FreePackage();
    ReleaseSharedBuffers();
    FreeBlock(&ProgramPath);
  }

  // Builds `project` behind a dummy stub and loads it; returns LoadPackage().
  int BuildAndLoad(const setrunc::Project& project, const std::string& path,
                   const Bytes& stub = DummyStub()) {
    setrunc::BuildInstaller(project, stub, path);
    return Load(path);
  }
  int Load(const std::string& path) {
    CopyText(ProgramPath, path.c_str(), PathSize);
    return LoadPackage();
  }

  // Positions the data source at global data offset `offset`, opening data
  // volumes on the way, as the installation does.
  bool SeekData(u32 offset) {
    if (DataSource == InvalidFile) {
      CopyText(DataSourcePath, ProgramPath, PathSize);
      DataSource = OpenExisting(DataSourcePath, OpenRead);
      ForgetReadAhead();
      VolumeNumber = 0;
      if (DataSource == InvalidFile) return false;
    }
    while (offset >= VolumeBase + VolumeLength) {
      VolumeBytesLeft = 0;
      if (OpenNextVolume() == InvalidFile) return false;
    }
    u32 inside = offset - VolumeBase;
    SeekDataSource(inside + (VolumeNumber == 0 ? DataAreaOffset + 4 : 4));
    VolumeBytesLeft = VolumeLength - inside;
    return true;
  }

  // Inflates the data of `entry` with the setup program's decompressor.
  Bytes InflateEntryData(const u8* entry, const std::string& scratch) {
    EXPECT_TRUE(SeekData(ReadU32(entry + EntryDataOffset)));
    FileHandle out = CreateAlways(scratch.c_str());
    u32 written = 0, checksum = 0;
    int status = InflateToFile(out, &DataSource, ReadU32(entry + EntryPackedSize), &written, &checksum);
    CloseFile(out);
    EXPECT_EQ(status, InflateOk);
    EXPECT_EQ(written, ReadU32(entry + EntrySize));
    EXPECT_EQ(checksum, ReadU32(entry + EntryChecksum));
    return ReadFile(scratch);
  }

  // Entry `index` of the current group's file list.
  const u8* Entry(u32 index) {
    const u8* e = FirstFileEntry;
    for (u32 i = 0; i < index; ++i) e += ReadU16(e + EntryLength);
    return e;
  }
};

}  // namespace builder_test
