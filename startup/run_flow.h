// The run flow of the setup program: start-up, the order of a run and its
// end. The helpers at the top need no Windows API and are shared with the
// native tests.
#pragma once

#include "base/format.h"

// The platform class of the running Windows version.
struct PlatformClass {
  u32 osClass;  // exactly one of the Os* bits
  int isWinNT, isWinNT4, isWinNT6;
};
// Classifies a version report (`known` 0 when the version could not be read).
PlatformClass ClassifyPlatform(int known, u32 platformId, u32 major, u32 minor);

// The key a running setup program answers to the single-instance probe: the
// rotate-and-add sum of its program path (letter case counts).
u32 ProgramInstanceKey(const char* path);

// The exit code of a run from its own result (0 or -1) and the run state.
int RunExitCode(int result, i32 installResult, i32 restartState);

// Cuts a program path to the root to ask the drive type of: "X:\" for a path
// beginning with a drive letter; any other path is left whole.
void CutToDriveRoot(char* path);

// Formats the command that installs a screen saver: the full path of
// rundll32.exe in `systemFolder`, then the installer call with `target`.
// Returns 0 (and an empty command) when it does not fit `size` bytes.
int FormatScreenSaverCommand(char* command, u32 size, const char* systemFolder,
                             const char* target);

// The exit codes of a run.
static const int ExitFailed = -1;
static const int ExitRestartNeeded = -2;

// Start-up work: 1 to go on; 0 when the same program file is already running
// (its window has been brought to the front); -1 when the start-up memory
// could not be had. `instance` is the program's HINSTANCE.
int StartRun(void* instance);
// Releases everything StartRun acquired.
void EndRun();
