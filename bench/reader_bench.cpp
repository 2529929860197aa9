// Benchmark of the package reader (not a test): InflateToFile against zlib's
// own inflate of the same streams, measured in the same run, and the time to
// load the tables of a package with 10,000 file entries. The baseline is the
// system's zlib (Debian's build, made for speed); the setup program's own
// inflater (third_party/zlib with the program's size options) runs the same
// plain loop beside it.
//   setrun_reader_bench [--quick]
// Prints one line per figure; ratios > 1 mean faster than the baseline.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/stub_inflate_loop.h"
#include "tests/support/package_bytes.h"

using namespace pkgbytes;

namespace {

// CPU time of this thread (user and system): figures stay comparable on a
// machine that is busy with other work.
double Now() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

volatile uint32_t Sink;

// The reference: zlib's inflate driven the plain way, with the same buffer
// sizes (8 KB of input read at a time, a 32 KB output window written out),
// optionally with the rotate-and-add checksum over the output.
int ZlibInflate(const char* sourcePath, uint32_t packedSize, bool checksum) {
  int in = open(sourcePath, O_RDONLY), out = open("/dev/null", O_WRONLY);
  static uint8_t input[8192], window[32768];
  z_stream z = {};
  inflateInit(&z);
  uint32_t left = packedSize, sum = 0;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      uint32_t chunk = left < sizeof input ? left : (uint32_t)sizeof input;
      if (chunk == 0 || read(in, input, chunk) != (ssize_t)chunk) break;
      left -= chunk;
      z.next_in = input;
      z.avail_in = chunk;
    }
    z.next_out = window;
    z.avail_out = sizeof window;
    result = inflate(&z, Z_NO_FLUSH);
    size_t produced = sizeof window - z.avail_out;
    if (checksum) sum = RotateAdd(window, produced, sum);
    if (write(out, window, produced) != (ssize_t)produced) break;
    if (result != Z_OK && result != Z_STREAM_END) break;
  }
  inflateEnd(&z);
  close(in);
  close(out);
  Sink = sum;
  return result == Z_STREAM_END ? 0 : 1;
}

int ReaderInflate(const char* sourcePath, uint32_t packedSize, uint32_t expectedSum) {
  FileHandle source = OpenExisting(sourcePath, OpenRead);
  FileHandle out = OpenExisting("/dev/null", OpenWrite);
  u32 written = 0, checksum = 0;
  int status = InflateToFile(out, &source, packedSize, &written, &checksum);
  CloseFile(source);
  CloseFile(out);
  if (status == 0 && checksum != expectedSum) status = 99;
  return status;
}

struct DataSet {
  const char* name;
  Bytes data;
};

// Deterministic contents of the kinds an installation carries.
Bytes ProgramLike(size_t size) {
  Bytes b(size);
  uint32_t x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of "code" drawn from a small alphabet, tables of small numbers,
    // and some noise.
    size_t block = (i / 4096) % 4;
    if (block == 0) b[i] = (uint8_t)(x >> 24);
    else if (block == 1) b[i] = (uint8_t)((x >> 28) * 3);
    else if (block == 2) b[i] = (uint8_t)"\x8b\x45\x08\x89\x44\x24\x04\xe8"[(x >> 29) & 7];
    else b[i] = (uint8_t)(i & 0x3F);
  }
  return b;
}

Bytes TextLike(size_t size) {
  static const char* words[] = {"setup ", "install ", "the ", "folder ", "file ", "registry ",
                                "value ", "shortcut ", "program ", "\r\n", "of ", "and "};
  Bytes b;
  b.reserve(size);
  uint32_t x = 777;
  while (b.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 12];
    b.insert(b.end(), w, w + strlen(w));
  }
  b.resize(size);
  return b;
}

Bytes Noise(size_t size) {
  Bytes b(size);
  uint32_t x = 99;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = (uint8_t)(x >> 24);
  }
  return b;
}

void InflateFigures(const std::string& folder, int rounds, size_t size) {
  std::vector<DataSet> sets = {{"program-like", ProgramLike(size)},
                               {"text-like", TextLike(size)},
                               {"incompressible", Noise(size / 2)}};
  printf("%-16s %7s %7s %9s %9s %9s %9s %7s %7s %8s\n", "inflate stream", "MB out", "ratio z",
         "zlib MB/s", "+sum MB/s", "own MB/s", "ours MB/s", "own/z", "ours/z", "ours/z+s");
  for (const DataSet& set : sets) {
    Bytes z = Deflate(set.data, 9);
    std::string path = folder + "/" + set.name + ".z";
    WriteAll(path, z);
    const uint32_t sum = RotateAdd(set.data.data(), set.data.size());
    std::vector<double> base, baseSum, ours, own;
    for (int r = 0; r < rounds; ++r) {
      double t0 = Now();
      if (ZlibInflate(path.c_str(), (uint32_t)z.size(), false)) abort();
      double t1 = Now();
      if (ZlibInflate(path.c_str(), (uint32_t)z.size(), true)) abort();
      double t2 = Now();
      if (ReaderInflate(path.c_str(), (uint32_t)z.size(), sum)) abort();
      double t3 = Now();
      if (StubZlibInflate(path.c_str(), (uint32_t)z.size())) abort();
      double t4 = Now();
      base.push_back(t1 - t0);
      baseSum.push_back(t2 - t1);
      ours.push_back(t3 - t2);
      own.push_back(t4 - t3);
    }
    const double mb = set.data.size() / 1e6;
    const double b = Median(base), bs = Median(baseSum), o = Median(ours), w = Median(own);
    printf("%-16s %7.1f %7.2f %9.0f %9.0f %9.0f %9.0f %7.2f %7.2f %8.2f\n", set.name, mb,
           (double)set.data.size() / z.size(), mb / b, mb / bs, mb / w, mb / o, b / w, b / o,
           bs / o);
    unlink(path.c_str());
  }
}

// A package whose file list holds `entries` entries, compressed, as a
// builder would write it.
Bytes LargePackage(uint32_t entries, Bytes* listPayload) {
  std::vector<Bytes> list;
  list.reserve(entries);
  for (uint32_t i = 0; i < entries; ++i) {
    EntrySpec e;
    e.dataOffset = i * 100;
    e.packedSize = 100;
    e.size = 300;
    e.flags = (i % 5 == 0) ? 0x2 | 0x8 : 0x1;
    e.strings[0] = "bin\\module" + std::to_string(i) + ".dll";
    if (i % 50 == 0) {
      e.strings[1] = "Example";
      e.strings[2] = "Module " + std::to_string(i);
    }
    list.push_back(EntryBytes(e));
  }
  *listPayload = FileListPayload(list);
  GroupSpec g;
  g.defaultFolder = "C:\\Program Files\\Example";
  UsualTexts(g);
  return Program(60000, {Compressed(TypeLayout, LayoutPayload(0x2)),
                         Compressed(TypeUninstaller, ProgramLike(40000)),
                         Stored(TypeGroup, GroupPayload(g)), Compressed(TypeFileList, *listPayload),
                         EndOfTables({})});
}

void LoadFigures(const std::string& folder, int rounds) {
  const uint32_t entries = 10000;
  Bytes listPayload;
  Bytes file = LargePackage(entries, &listPayload);
  std::string path = folder + "/setup.exe";
  WriteAll(path, file);
  Bytes z = Deflate(listPayload, 9);

  static char programPath[260];
  snprintf(programPath, sizeof programPath, "%s", path.c_str());
  std::vector<double> base, ours;
  for (int r = 0; r < rounds; ++r) {
    // Baseline: read the whole program file and uncompress the file list.
    double t0 = Now();
    Bytes whole = ReadAll(path);
    Bytes out(listPayload.size());
    uLongf outLength = (uLongf)out.size();
    if (uncompress(out.data(), &outLength, z.data(), (uLong)z.size()) != Z_OK) abort();
    Sink = whole[whole.size() - 1] + out[outLength - 1];
    double t1 = Now();
    ResetReader(programPath);
    if (LoadPackage() != 1 || FileCount != entries) abort();
    FreePackage();
    double t2 = Now();
    base.push_back(t1 - t0);
    ours.push_back(t2 - t1);
  }
  const double b = Median(base), o = Median(ours);
  printf("\n%-28s %10s %12s %12s %8s\n", "load tables", "file list", "read+unz ms", "load ms",
         "ours/ref");
  printf("%-28s %9.0fK %12.2f %12.2f %8.2f\n", "10,000 entries, compressed", listPayload.size() / 1e3,
         b * 1e3, o * 1e3, b / o);
  ResetReader(programPath);
  ReleaseSharedBuffers();
  unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
  char folderName[] = "/tmp/setrun-bench-XXXXXX";
  if (!mkdtemp(folderName)) return 1;
  std::string folder = folderName;
  printf("zlib %s (system), %s (own); thread CPU time, medians of %d rounds; output to /dev/null\n\n",
         zlibVersion(), StubZlibVersion(), quick ? 3 : 9);
  InflateFigures(folder, quick ? 3 : 9, quick ? (8u << 20) : (48u << 20));
  LoadFigures(folder, quick ? 5 : 31);
  rmdir(folderName);
  return 0;
}
