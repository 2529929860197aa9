// Memory of the package loader: it follows the bytes that compressed records
// actually decode to, never a length they merely state, and the tables hold
// at most MaxTableBytes. Each case loads in a child process whose peak
// resident size the parent reads.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/malformed_packages.h"
#include "tests/support/ui_doubles.h"

using namespace pkgbytes;

namespace {

struct ChildLoad {
  int result;         // LoadPackage(), or -1 when the child did not exit
  long peakGrowthKb;  // the child's peak resident size beyond the parent's
};

long ResidentKb() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class PackageMemory : public ::testing::Test, protected ReaderProgram {
 protected:
  void SetUp() override {
    StartReader();
    ResetUi();
  }
  void TearDown() override { FinishReader(); }

  ChildLoad LoadInChild(const std::vector<Bytes>& records) {
    EXPECT_TRUE(WriteAll(program, Program(4096, records)));
    const long before = ResidentKb();
    pid_t pid = fork();
    if (pid == 0) _exit(LoadPackage());
    int status = 0;
    struct rusage usage = {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return {-1, 0};
    return {WEXITSTATUS(status), usage.ru_maxrss - before};
  }
};

const long MiB = 1024;  // in KB

// Three group records, each a valid stream of 1 GB (1 MB stored): refused
// by their stated length before anything is allocated or inflated.
TEST_F(PackageMemory, RecordsStatingMoreThanTheTablesHoldAreRefusedAtOnce) {
  Bytes huge = CompressedWithZeros(TypeGroup, GroupPayload(NoticeGroup("C:\\Huge")), 1u << 30);
  ASSERT_LT(huge.size(), 1200000u);
  ChildLoad r = LoadInChild({SampleLayout(), huge, huge, huge, EndOfTables({})});
  EXPECT_EQ(r.result, 0);
  EXPECT_LT(r.peakGrowthKb, 32 * MiB);
}

// A stream that states 100 MiB but ends after 100 KB: the block grows with
// the 100 KB and the record is refused when the stream ends short.
TEST_F(PackageMemory, AStatedLengthAloneTakesNoMemory) {
  Bytes noise(100 * 1024);
  uint32_t seed = 7;
  for (uint8_t& b : noise) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 24);
  Bytes record = Compressed(TypeUninstaller, noise, 0);
  SetU32(record, 8, 100u << 20);
  ChildLoad r = LoadInChild({SampleLayout(), record, SampleGroup("C:\\One"), EndOfTables({})});
  EXPECT_EQ(r.result, 0);
  EXPECT_LT(r.peakGrowthKb, 32 * MiB);
}

// Records the tables can hold one by one but not together: the third group
// record of 48 MiB would take them beyond 128 MiB.
TEST_F(PackageMemory, TheTablesTogetherHoldAtMost128MiB) {
  Bytes large = CompressedWithZeros(TypeGroup, GroupPayload(NoticeGroup("C:\\Large")), 48u << 20);
  EXPECT_EQ(LoadInChild({SampleLayout(), large, large, EndOfTables({})}).result, 1);
  EXPECT_EQ(LoadInChild({SampleLayout(), large, large, large, EndOfTables({})}).result, 0);
}

}  // namespace
