// Compressed streams and the package data reader: InflateToFile,
// InflateToMemory and ReadPackageData with its message pump and data volumes.
#include <gtest/gtest.h>

#include <string.h>

#include "tests/support/package_bytes.h"
#include "tests/support/ui_doubles.h"

using namespace pkgbytes;

namespace {

// Data that compresses to a few times smaller: text-like runs and noise.
Bytes SampleData(size_t size, uint32_t seed = 1) {
  Bytes b(size);
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = (i / 64) % 3 == 0 ? (uint8_t)(x >> 24) : (uint8_t)("installer "[i % 10]);
  }
  return b;
}

class Streams : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string program, outputPath;
  char programPath[260] = {};
  std::vector<FileHandle> opened;

  void SetUp() override {
    program = dir.File("setup.exe");
    outputPath = dir.File("output.$$A");
    snprintf(programPath, sizeof programPath, "%s", program.c_str());
    ResetReader(programPath);
    ResetUi();
  }
  void TearDown() override {
    for (FileHandle f : opened)
      if (f != DataSource) CloseFile(f);
    ResetReader(programPath);
    ReleaseSharedBuffers();
    ProgramPath = nullptr;
  }
  FileHandle Source(const Bytes& content, const std::string& name = "source.bin") {
    std::string path = name == "setup.exe" ? program : dir.File(name);
    EXPECT_TRUE(WriteAll(path, content));
    FileHandle f = OpenExisting(path.c_str(), 0);
    EXPECT_NE(f, InvalidFile);
    opened.push_back(f);
    return f;
  }
  FileHandle Output() {
    FileHandle f = CreateAlways(outputPath.c_str());
    EXPECT_NE(f, InvalidFile);
    opened.push_back(f);
    return f;
  }
};

// ---------------------------------------------------------------------------
// InflateToFile / InflateToMemory

TEST_F(Streams, NothingToDoForPackedSizeZero) {
  Bytes z = Deflate(SampleData(1000));
  FileHandle source = Source(z), out = Output();
  u32 written = 77, checksum = 77;
  InflateStatusWord = 0x1234;
  EXPECT_EQ(InflateToFile(out, &source, 0, &written, &checksum), 0);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(checksum, 0u);
  EXPECT_EQ(TellFile(source), 0u);
  EXPECT_EQ(FileLength(out), 0u);
  u8 block[16];
  memset(block, 0xEE, sizeof block);
  EXPECT_EQ(InflateToMemory(block, sizeof block, &source, 0), 0);
  EXPECT_EQ(block[0], 0xEE);
  EXPECT_EQ(TellFile(source), 0u);
  EXPECT_EQ(Ui().pumps, 0);
}

TEST_F(Streams, CountsAndSumsAFileOfManyWindows) {
  Bytes data = SampleData(300000);
  data.resize(data.size() + 70000, 0);  // long runs: output far larger than input chunks
  Bytes z = Deflate(data);
  Bytes packed = Bytes(5, 0xAA);  // the stream starts at a non-zero position
  Append(packed, z);
  Append(packed, Bytes(9, 0xBB));  // and is followed by other data
  FileHandle source = Source(packed), out = Output();
  SeekFile(source, 5);
  u32 written = 0, checksum = 0;
  InflateStatusWord = 0x11FD;
  ASSERT_EQ(InflateToFile(out, &source, (u32)z.size(), &written, &checksum), 0);
  EXPECT_EQ(written, data.size());
  EXPECT_EQ(checksum, RotateAdd(data.data(), data.size()));
  EXPECT_EQ(InflateStatusWord, 0u);
  CloseFile(out);
  opened.pop_back();
  EXPECT_EQ(ReadAll(outputPath), data);
  EXPECT_EQ(TellFile(source), 5 + z.size());
}

// Output in which the rotate-and-add state comes to points where summing
// eight bytes at once as rotl(s, 8) + (128 b0 + ... + b7) would be wrong, at
// every position modulo 8 (the output is summed in pieces of any length):
// the sum must still be exact.
TEST_F(Streams, ChecksumIsExactWhereEightByteStepsWouldCarry) {
  Bytes data;
  std::vector<uint32_t> states(1, 0);  // states[i]: the sum of the first i bytes
  uint64_t x = 88172645463325252ull;
  int traps[8] = {};
  size_t counted = 0;
  auto everyPhase = [&traps] {
    for (int t : traps)
      if (t < 2) return false;
    return true;
  };
  while (!everyPhase() && data.size() < (64u << 20)) {
    for (int i = 0; i < 65536; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      data.push_back((uint8_t)x);
      states.push_back(RotateAdd(&data.back(), 1, states.back()));
    }
    for (size_t i = counted; i + 8 <= data.size(); ++i, ++counted) {
      uint32_t s = states[i], weighed = 0;
      for (int k = 0; k < 8; ++k) weighed = weighed * 2 + data[i + k];
      if (((s << 8) | (s >> 24)) + weighed != states[i + 8]) ++traps[i % 8];
    }
  }
  ASSERT_TRUE(everyPhase());
  RecordProperty("bytes", (int)data.size());
  data.push_back(0x5A);  // and a length that is not a multiple of 8
  Bytes z = Deflate(data, 0);
  FileHandle source = Source(z), out = Output();
  u32 written = 0, checksum = 0;
  ASSERT_EQ(InflateToFile(out, &source, (u32)z.size(), &written, &checksum), 0);
  EXPECT_EQ(written, data.size());
  EXPECT_EQ(checksum, RotateAdd(data.data(), data.size()));

  // Uniform output: all bits set, all clear.
  for (uint8_t fill : {0xFF, 0x00, 0x80}) {
    Bytes same(100003, fill);
    Bytes zs = Deflate(same);
    FileHandle src = Source(zs, "uniform" + std::to_string(fill));
    ASSERT_EQ(InflateToFile(out, &src, (u32)zs.size(), &written, &checksum), 0);
    EXPECT_EQ(checksum, RotateAdd(same.data(), same.size())) << (int)fill;
  }
}

TEST_F(Streams, WholeSourceAndOptionalCounters) {
  Bytes data = SampleData(50000, 7);
  Bytes z = Deflate(data, 1);
  FileHandle source = Source(z), out = Output();
  ASSERT_EQ(InflateToFile(out, &source, 0xFFFFFFFFu, nullptr, nullptr), 0);
  CloseFile(out);
  opened.pop_back();
  EXPECT_EQ(ReadAll(outputPath), data);

  SeekFile(source, 0);
  Bytes block(data.size());
  ASSERT_EQ(InflateToMemory(block.data(), (u32)block.size(), &source, 0xFFFFFFFFu), 0);
  EXPECT_EQ(block, data);
}

TEST_F(Streams, MemoryOutputBeyondCapacityIsADataError) {
  Bytes data = SampleData(20000);
  Bytes z = Deflate(data);
  FileHandle source = Source(z);
  std::vector<u8> block(data.size() - 1);  // exact size: ASan sees any overrun
  EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &source, (u32)z.size()), 1);
  EXPECT_EQ(InflateStatusWord >> 8, 0x31u);

  SeekFile(source, 0);
  std::vector<u8> exact(data.size());
  EXPECT_EQ(InflateToMemory(exact.data(), (u32)exact.size(), &source, (u32)z.size()), 0);
  EXPECT_EQ(InflateStatusWord, 0u);
  EXPECT_EQ(Bytes(exact.begin(), exact.end()), data);
}

TEST_F(Streams, StreamEndingEarlyLeavesTheRestOfTheBlock) {
  Bytes z = Deflate(Bytes{1, 2, 3});
  FileHandle source = Source(z);
  u8 block[8];
  memset(block, 0xEE, sizeof block);
  EXPECT_EQ(InflateToMemory(block, sizeof block, &source, (u32)z.size()), 0);
  EXPECT_EQ(block[2], 3);
  EXPECT_EQ(block[3], 0xEE);
}

// A packed size that ends inside the deflate data: Z_BUF_ERROR (0xFB).
TEST_F(Streams, PackedSizeCutShortIsBufError) {
  Bytes data = SampleData(40000);
  Bytes z = Deflate(data);
  FileHandle source = Source(z), out = Output();
  for (u32 cut : {1u, 5u, (u32)z.size() / 2}) {
    SCOPED_TRACE(cut);
    SeekFile(source, 0);
    u32 written = 0;
    EXPECT_EQ(InflateToFile(out, &source, (u32)z.size() - cut, &written, nullptr), 1);
    EXPECT_EQ(InflateStatusWord, 0x11FBu);
    if (cut > 100) EXPECT_LT(written, data.size());  // a short cut may only lose the check value

    SeekFile(source, 0);
    Bytes block(data.size());
    EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &source, (u32)z.size() - cut), 1);
    EXPECT_EQ(InflateStatusWord, 0x31FBu);
  }
}

TEST_F(Streams, SourceEndingBeforePackedSizeIsAReadError) {
  Bytes data = SampleData(40000);
  Bytes z = Deflate(data);
  Bytes truncated(z.begin(), z.end() - 3);
  FileHandle source = Source(truncated), out = Output();
  InflateStatusWord = 0xBEEF;
  EXPECT_EQ(InflateToFile(out, &source, (u32)z.size(), nullptr, nullptr), 3);
  EXPECT_EQ(InflateStatusWord, 0xBEEFu);
  SeekFile(source, 0);
  Bytes block(data.size());
  EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &source, (u32)z.size()), 3);
  EXPECT_EQ(InflateStatusWord, 0xBEEFu);
}

TEST_F(Streams, CorruptDataIsADataError) {
  Bytes z = Deflate(SampleData(40000));
  for (size_t i = z.size() / 3; i < z.size() / 3 + 40; ++i) z[i] ^= 0x5A;
  FileHandle source = Source(z), out = Output();
  EXPECT_EQ(InflateToFile(out, &source, (u32)z.size(), nullptr, nullptr), 1);
  EXPECT_EQ(InflateStatusWord >> 8, 0x11u);
  EXPECT_NE(InflateStatusWord & 0xFF, 0u);

  Bytes notZlib(100, 0xFF);
  FileHandle other = Source(notZlib, "other.bin");
  Bytes block(1000);
  EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &other, 100), 1);
  EXPECT_EQ(InflateStatusWord, 0x31FDu);  // Z_DATA_ERROR
}

// The inflater is built without gzip support and builds its fixed-code
// tables on first use: short streams (fixed codes) decode, every time, and a
// gzip stream of the same data is refused like any other foreign data.
TEST_F(Streams, FixedCodeStreamsDecodeAndGzipStreamsAreRefused) {
  const std::string text = "setup installs the files of the group into the folder";
  const Bytes data(text.begin(), text.end());
  Bytes z = Deflate(data);
  ASSERT_EQ((z[2] >> 1) & 3, 1) << "not a fixed-code block";
  FileHandle source = Source(z);
  for (int round = 0; round < 2; ++round) {
    SeekFile(source, 0);
    Bytes block(data.size());
    EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &source, (u32)z.size()), 0);
    EXPECT_EQ(block, data);
  }

  z_stream g = {};
  ASSERT_EQ(deflateInit2(&g, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes gz(deflateBound(&g, (uLong)data.size()));
  g.next_in = (Bytef*)data.data();
  g.avail_in = (uInt)data.size();
  g.next_out = gz.data();
  g.avail_out = (uInt)gz.size();
  ASSERT_EQ(deflate(&g, Z_FINISH), Z_STREAM_END);
  gz.resize(g.total_out);
  deflateEnd(&g);
  FileHandle gzSource = Source(gz, "source.gz");
  Bytes block(data.size());
  EXPECT_EQ(InflateToMemory(block.data(), (u32)block.size(), &gzSource, (u32)gz.size()), 1);
  EXPECT_EQ(InflateStatusWord, 0x31FDu);  // Z_DATA_ERROR: incorrect header check
}

TEST_F(Streams, WriteFailureIsStatus4AndLeavesTheWord) {
  Bytes data = SampleData(100000);
  Bytes z = Deflate(data);
  FileHandle source = Source(z);
  InflateStatusWord = 0xBEEF;
  FileHandle full = OpenExisting("/dev/full", 1);
  ASSERT_NE(full, InvalidFile);
  EXPECT_EQ(InflateToFile(full, &source, (u32)z.size(), nullptr, nullptr), 4);
  CloseFile(full);
  EXPECT_EQ(InflateStatusWord, 0xBEEFu);

  // A handle open only for reading.
  std::string readOnlyPath = dir.File("readonly.bin");
  ASSERT_TRUE(WriteAll(readOnlyPath, Bytes{1}));
  FileHandle readOnly = OpenExisting(readOnlyPath.c_str(), 0);
  SeekFile(source, 0);
  EXPECT_EQ(InflateToFile(readOnly, &source, (u32)z.size(), nullptr, nullptr), 4);
  CloseFile(readOnly);

  // No output file at all is a write failure too, not a success.
  Bytes small = Deflate(Bytes(100, 'a'));
  FileHandle smallSource = Source(small, "small.bin");
  u32 written = 1;
  EXPECT_EQ(InflateToFile(InvalidFile, &smallSource, (u32)small.size(), &written, nullptr), 4);
  EXPECT_EQ(written, 0u);
}

// ---------------------------------------------------------------------------
// ReadPackageData: the message pump

TEST_F(Streams, PumpsOnceWhenTheCountdownRunsOut) {
  FileHandle source = Source(Bytes(30000, 1));
  Bytes buffer(20000);
  PumpCountdown = 4096;
  ASSERT_EQ(ReadPackageData(&source, buffer.data(), 10000), 0);
  EXPECT_EQ(Ui().pumps, 1);
  EXPECT_EQ(PumpCountdown, 4096);

  ASSERT_EQ(ReadPackageData(&source, buffer.data(), 4095), 0);
  EXPECT_EQ(Ui().pumps, 1);
  EXPECT_EQ(PumpCountdown, 1);
  ASSERT_EQ(ReadPackageData(&source, buffer.data(), 1), 0);
  EXPECT_EQ(Ui().pumps, 2);
  EXPECT_EQ(PumpCountdown, 4096);
  ASSERT_EQ(ReadPackageData(&source, buffer.data(), 4096), 0);
  EXPECT_EQ(Ui().pumps, 3);
  EXPECT_EQ(PumpCountdown, 4096);
  ASSERT_EQ(ReadPackageData(&source, buffer.data(), 0), 0);
  EXPECT_EQ(Ui().pumps, 3);
  EXPECT_EQ(PumpCountdown, 4096);
  EXPECT_EQ(TellFile(source), 18192u);

  // A failed read counts too.
  PumpCountdown = 100;
  EXPECT_EQ(ReadPackageData(&source, buffer.data(), 20000), 1);
  EXPECT_EQ(Ui().pumps, 4);
  EXPECT_EQ(PumpCountdown, 4096);
}

TEST_F(Streams, FirstReadPumpsFromTheStartingCountdown) {
  FileHandle source = Source(Bytes(10, 1));
  u8 byte;
  EXPECT_EQ(PumpCountdown, 0);
  ASSERT_EQ(ReadPackageData(&source, &byte, 1), 0);
  EXPECT_EQ(Ui().pumps, 1);
  EXPECT_EQ(PumpCountdown, 4096);
}

TEST_F(Streams, DecompressionPumpsForEveryChunkRead) {
  Bytes data = SampleData(200000, 3);
  Bytes z = Deflate(data, 0);  // stored blocks: as many input bytes as output
  FileHandle source = Source(z), out = Output();
  PumpCountdown = 4096;
  ASSERT_EQ(InflateToFile(out, &source, (u32)z.size(), nullptr, nullptr), 0);
  // Chunks of 8,192 bytes, each taking the countdown to 0 or below; the last
  // chunk is shorter.
  const size_t last = z.size() % 8192;
  EXPECT_EQ(Ui().pumps, (int)(z.size() / 8192) + (last >= 4096 ? 1 : 0));
  EXPECT_EQ(PumpCountdown, last >= 4096 || last == 0 ? 4096 : 4096 - (i32)last);
}

// ---------------------------------------------------------------------------
// ReadPackageData: data volumes

class Volumes : public Streams {
 protected:
  // The program file: 100 bytes of something else, then the data area whose
  // first `inProgram` bytes are given; the read position is at the data.
  void StartDataArea(const Bytes& inProgram) {
    Bytes file(100, 0x11);
    Append(file, inProgram);
    ASSERT_TRUE(WriteAll(program, file));
    CopyText(DataSourcePath, ProgramPath, PathSize);
    DataSource = OpenExisting(DataSourcePath, 0);
    ASSERT_NE(DataSource, InvalidFile);
    SeekFile(DataSource, 100);
    ForgetReadAhead();
    VolumeNumber = 0;
    VolumeLength = VolumeBytesLeft = (u32)inProgram.size();
    VolumeBase = 0;
  }
  void WriteVolume(int number, const Bytes& data, int lengthWord = -1) {
    char name[32];
    snprintf(name, sizeof name, "setup.D%02d", number);
    Bytes file;
    PutU32(file, lengthWord < 0 ? (uint32_t)data.size() : (uint32_t)lengthWord);
    Append(file, data);
    ASSERT_TRUE(WriteAll(dir.File(name), file));
  }
  std::string Suffix() {
    std::string path = DataSourcePath;
    return path.substr(path.size() - 4);
  }
};

TEST_F(Volumes, ReadsOnIntoTheNextVolume) {
  Bytes data = SampleData(60, 9);
  StartDataArea(Bytes(data.begin(), data.begin() + 10));
  WriteVolume(1, Bytes(data.begin() + 10, data.begin() + 30));
  WriteVolume(2, Bytes(data.begin() + 30, data.end()));
  FileHandle first = DataSource;
  FileHandle source = DataSource;

  Bytes got(60);
  ASSERT_EQ(ReadPackageData(&source, got.data(), 4), 0);
  EXPECT_EQ(source, first);
  EXPECT_EQ(VolumeBytesLeft, 6u);
  ASSERT_EQ(ReadPackageData(&source, got.data() + 4, 15), 0);
  EXPECT_EQ(source, DataSource);
  EXPECT_EQ(VolumeNumber, 1u);
  EXPECT_EQ(VolumeBase, 10u);
  EXPECT_EQ(VolumeLength, 20u);
  EXPECT_EQ(VolumeBytesLeft, 11u);
  EXPECT_EQ(Suffix(), ".D01");
  // Exactly the rest of volume 1: no further volume is opened yet.
  ASSERT_EQ(ReadPackageData(&source, got.data() + 19, 11), 0);
  EXPECT_EQ(VolumeNumber, 1u);
  EXPECT_EQ(VolumeBytesLeft, 0u);
  ASSERT_EQ(ReadPackageData(&source, got.data() + 30, 30), 0);
  EXPECT_EQ(VolumeNumber, 2u);
  EXPECT_EQ(VolumeBase, 30u);
  EXPECT_EQ(VolumeBytesLeft, 0u);
  EXPECT_EQ(Suffix(), ".D02");
  EXPECT_EQ(got, data);

  // Volume 3 does not exist: the read fails and the source is invalid.
  u8 byte;
  EXPECT_EQ(ReadPackageData(&source, &byte, 1), 1);
  EXPECT_EQ(source, InvalidFile);
  EXPECT_EQ(DataSource, InvalidFile);
}

// The data source is read ahead: positioning it at bytes already read
// (a stream stored once for several files) reads them again without a
// seek, and positioning it elsewhere reads the file there.
TEST_F(Volumes, SeeksInsideAndOutsideWhatWasReadAhead) {
  Bytes data = SampleData(200000, 11);
  StartDataArea(data);
  FileHandle source = DataSource;
  Bytes got(1000);
  ASSERT_EQ(ReadPackageData(&source, got.data(), 1000), 0);
  for (u32 at : {10u, 900u, 150000u, 20u}) {
    SeekDataSource(100 + at);
    VolumeBytesLeft = (u32)data.size() - at;
    ASSERT_EQ(ReadPackageData(&source, got.data(), 1000), 0) << at;
    EXPECT_EQ(got, Bytes(data.begin() + at, data.begin() + at + 1000)) << at;
  }
}

// A program file that ends before the length it claims for its data: what
// lies before the end is still read, the read past it fails.
TEST_F(Volumes, ADataAreaCutShortGivesTheBytesBeforeTheCut) {
  Bytes data = SampleData(20000, 12);
  StartDataArea(data);
  VolumeLength = VolumeBytesLeft = 100000;  // claimed
  FileHandle source = DataSource;
  Bytes got(8000);
  ASSERT_EQ(ReadPackageData(&source, got.data(), 8000), 0);
  EXPECT_EQ(got, Bytes(data.begin(), data.begin() + 8000));
  ASSERT_EQ(ReadPackageData(&source, got.data(), 8000), 0);
  EXPECT_EQ(got, Bytes(data.begin() + 8000, data.begin() + 16000));
  EXPECT_EQ(ReadPackageData(&source, got.data(), 8000), 1);
}

TEST_F(Volumes, EmptyVolumesAreSteppedThrough) {
  StartDataArea(Bytes{1, 2});
  WriteVolume(1, {});
  for (int n = 2; n <= 10; ++n) WriteVolume(n, Bytes{(uint8_t)(n + 1)});
  FileHandle source = DataSource;
  Bytes got(11);
  ASSERT_EQ(ReadPackageData(&source, got.data(), 11), 0);
  EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(VolumeNumber, 10u);
  EXPECT_EQ(VolumeBase, 10u);
  EXPECT_EQ(Suffix(), ".D10");
}

TEST_F(Volumes, MissingOrUnreadableVolumeFailsTheRead) {
  StartDataArea(Bytes{1, 2, 3});
  FileHandle source = DataSource;
  u8 buffer[8];
  EXPECT_EQ(ReadPackageData(&source, buffer, 4), 1);
  EXPECT_EQ(source, InvalidFile);

  // A volume too short to hold its length word.
  ResetReader(programPath);
  StartDataArea(Bytes{1, 2, 3});
  ASSERT_TRUE(WriteAll(dir.File("setup.D01"), Bytes{5, 0}));
  source = DataSource;
  EXPECT_EQ(ReadPackageData(&source, buffer, 4), 1);
  EXPECT_EQ(source, InvalidFile);

  // A volume shorter than its length word says.
  ResetReader(programPath);
  StartDataArea(Bytes{1, 2, 3});
  WriteVolume(1, Bytes{4, 5}, 100);
  source = DataSource;
  EXPECT_EQ(ReadPackageData(&source, buffer, 8), 1);
}

TEST_F(Volumes, OtherHandlesAreReadPlainly) {
  StartDataArea(Bytes{1, 2});
  FileHandle other = Source(Bytes(10, 7), "other.bin");
  u8 buffer[6];
  ASSERT_EQ(ReadPackageData(&other, buffer, 6), 0);
  EXPECT_EQ(VolumeBytesLeft, 2u);
  EXPECT_EQ(VolumeNumber, 0u);
  EXPECT_EQ(buffer[5], 7);
}

TEST_F(Volumes, AStreamCrossesIntoVolumeOneWithoutABreak) {
  Bytes data = SampleData(150000, 5);
  Bytes z = Deflate(data);
  const size_t split = z.size() / 3;
  StartDataArea(Bytes(z.begin(), z.begin() + split));
  WriteVolume(1, Bytes(z.begin() + split, z.end()));
  FileHandle first = DataSource;
  FileHandle out = Output();
  u32 written = 0, checksum = 0;
  ASSERT_EQ(InflateToFile(out, &DataSource, (u32)z.size(), &written, &checksum), 0);
  EXPECT_EQ(written, data.size());
  EXPECT_EQ(checksum, RotateAdd(data.data(), data.size()));
  EXPECT_NE(DataSource, InvalidFile);
  EXPECT_EQ(VolumeNumber, 1u);
  EXPECT_EQ(VolumeBase, split);
  EXPECT_EQ(VolumeBytesLeft, 0u);
  (void)first;
}

TEST_F(Volumes, AStreamWhoseVolumeIsMissingIsAReadError) {
  Bytes z = Deflate(SampleData(150000, 5));
  StartDataArea(Bytes(z.begin(), z.begin() + z.size() / 2));
  FileHandle out = Output();
  EXPECT_EQ(InflateToFile(out, &DataSource, (u32)z.size(), nullptr, nullptr), 3);
  EXPECT_EQ(DataSource, InvalidFile);
}

}  // namespace
