// libFuzzer target over setrunc's reader: `setrunc inspect` and `setrunc
// verify` through RunReaderCommand, the function main() calls, beside the
// setup program's own loader on the same file.
//
// Input: as for the package target (package_fuzz.cpp): one byte of options,
// then everything that follows a 1,020-byte stand-in program image; option
// bit 5 puts the last quarter of the input into data volume 1, bits 2-3 pick
// the screen size the loader chooses a backdrop for.
//
// Invariants (a broken one aborts): both commands end with exit code 0 or 1
// and never throw; what the loader refuses, verify refuses; what inspect
// refuses, verify refuses.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <streambuf>
#include <string>

#include "builder/reader_commands.h"
#include "tests/support/package_bytes.h"

namespace {

char Folder[64];
std::string ProgramFile, VolumeFile;
char ProgramPathBuffer[260];

void Check(bool condition) {
  if (!condition) abort();
}

void RemoveFiles() {
  unlink(ProgramFile.c_str());
  unlink(VolumeFile.c_str());
  rmdir(Folder);
}

// Output is counted, not kept: a package may list millions of entries.
struct CountingBuffer : std::streambuf {
  size_t count = 0;
  int overflow(int c) override {
    if (c != traits_type::eof()) ++count;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (count == 0 && getenv("SETRUN_FUZZ_VERBOSE")) fwrite(s, 1, (size_t)n, stderr);
    count += (size_t)n;
    return n;
  }
};

int Command(const char* name) {
  CountingBuffer outBuffer, errBuffer;
  std::ostream out(&outBuffer), err(&errBuffer);
  int code = setrunc::RunReaderCommand(name, {ProgramFile}, out, err);
  if (getenv("SETRUN_FUZZ_VERBOSE")) fprintf(stderr, "\n%s: %d\n", name, code);
  Check(code == 0 || code == 1);
  Check(code == 0 || errBuffer.count > 0);  // every refusal says why
  return code;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  snprintf(Folder, sizeof Folder, "/dev/shm/setrun-reader-fuzz-%d", (int)getpid());
  if (mkdir(Folder, 0700) != 0) snprintf(Folder, sizeof Folder, "/tmp/setrun-reader-fuzz-%d", (int)getpid());
  mkdir(Folder, 0700);
  ProgramFile = std::string(Folder) + "/setup.exe";
  VolumeFile = std::string(Folder) + "/setup.D01";
  atexit(RemoveFiles);
  snprintf(ProgramPathBuffer, sizeof ProgramPathBuffer, "%s", ProgramFile.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  size_t programEnd = size;
  if (options & 0x20) {
    programEnd = size - (size - 1) / 4;
    if (!pkgbytes::WriteAll(VolumeFile, pkgbytes::Bytes(data + programEnd, data + size))) return 0;
  } else {
    unlink(VolumeFile.c_str());
  }
  pkgbytes::Bytes file = pkgbytes::Stub(1020);
  file.insert(file.end(), data + 1, data + programEnd);
  if (!pkgbytes::WriteAll(ProgramFile, file)) return 0;

  pkgbytes::ResetReader(ProgramPathBuffer);
  static const i32 screens[4][2] = {{1024, 768}, {800, 600}, {1280, 1024}, {1152, 864}};
  ScreenWidth = screens[(options >> 2) & 3][0];
  ScreenHeight = screens[(options >> 2) & 3][1];
  const int loaded = LoadPackage();
  FreePackage();

  const int inspect = Command("inspect");
  const int verify = Command("verify");
  if (!loaded) Check(verify == 1);
  if (inspect == 1) Check(verify == 1);
  return 0;
}
