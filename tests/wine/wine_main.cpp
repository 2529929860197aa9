// Entry point of the Windows test programs: GoogleTest over the setup
// program's code, with the seams connected as a run connects them and the
// shared buffers of a run in place.
#include <gtest/gtest.h>

#include "base/files.h"
#include "base/run_state.h"
#include "startup/seams.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ConnectSeams();
  AllocZeroed(PathSize, &ProgramPath);
  AllocateSharedBuffers();
  return RUN_ALL_TESTS();
}
