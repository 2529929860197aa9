// The process entry point. The program does without the C runtime's start-up
// code: nothing in it needs initialised runtime state (the runtime library
// initialises itself when it is loaded), and that code would take several
// kilobytes of the program image. Nothing runs static constructors either,
// so the program has none (a build test checks the link map).
#include <windows.h>

// The command line without the program name, as WinMain receives it.
static char* ArgumentsOf(char* line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

extern "C" __attribute__((force_align_arg_pointer)) void SetupEntry() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()),
                            show));
}
