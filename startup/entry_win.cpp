// The process entry point. The program does without the C runtime's start-up
// code: nothing in it needs initialised runtime state (the runtime library
// initialises itself when it is loaded), and that code would take several
// kilobytes of the program image. Nothing runs static constructors either,
// so the program has none (a build test checks the link map).
#include <windows.h>

#include "base/arguments.h"

extern "C" __attribute__((force_align_arg_pointer)) void SetupEntry() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()),
                            show));
}
