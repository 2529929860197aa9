// Entry point of the Windows test programs: GoogleTest over the setup
// program's code, with the shared buffers of a run in place.
#include <gtest/gtest.h>

#include "package/files.h"
#include "startup/run_state.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  AllocZeroed(PathSize, &ProgramPath);
  AllocateSharedBuffers();
  return RUN_ALL_TESTS();
}
