// The entry point of the setup program.
#include <windows.h>

#include "package/tables.h"
#include "startup/command_line.h"
#include "startup/run_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  int result = 0;
  if (!AllocZeroed(PathSize, &ProgramPath) || !AllocateSharedBuffers()) return -1;
  GetModuleFileNameA(nullptr, ProgramPath, PathSize);
  ProgramPath[PathSize - 1] = 0;
  ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
  ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
  ParseCommandLine(commandLine);
  if (!LoadPackage()) result = -1;
  FreePackage();
  ReleaseSharedBuffers();
  FreeBlock(&ProgramPath);
  return result;
}
