// A source larger than the memory setrunc may use still builds: files are
// read and compressed in pieces and the data goes to disk as it is made.
#include <sys/wait.h>

#include "tests/builder/builder_support.h"

using namespace builder_test;

namespace {

TEST(BuildMemory, ASourceLargerThanTheMemoryLimitBuilds) {
  TempDir dir;
  WriteFile(dir / "big.bin", "");
  ASSERT_EQ(truncate((dir / "big.bin").c_str(), 256 << 20), 0);  // sparse, read as zeros
  WriteFile(dir / "stub.exe", DummyStub());
  WriteFile(dir / "p.toml", "compression = 1\n[[group]]\n[[group.file]]\nsource = \"big.bin\"\n");
  // 160 MB of address space: less than the file, enough for two threads.
  // One malloc arena: each further arena reserves 64 MB of address space
  // (not memory), which made the limit depend on how the threads met.
  const std::string run = std::string("ulimit -v 160000; MALLOC_ARENA_MAX=1 exec '") + SETRUNC_PATH + "' ";
  const std::string log = " >'" + (dir / "log") + "' 2>&1";
  int status = std::system(("sh -c \"" + run + "build '" + (dir / "p.toml") + "' -o '" + (dir / "setup.exe") +
                            "' --stub '" + (dir / "stub.exe") + "' -j 2 -q\"" + log).c_str());
  Bytes output = ReadFile(dir / "log");
  ASSERT_EQ(status, 0) << std::string(output.begin(), output.end());
  // verify inflates the file and checks its size and checksum.
  status = std::system(("'" + std::string(SETRUNC_PATH) + "' verify '" + (dir / "setup.exe") + "'" + log).c_str());
  output = ReadFile(dir / "log");
  EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
}

}  // namespace
