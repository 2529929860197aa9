// The entry point of the setup program and the order of a run.
#include <windows.h>

#include "backdrop/backdrop.h"
#include "engine/restart.h"
#include "engine/run_entries.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "startup/command_line.h"
#include "startup/common_ui.h"
#include "startup/run_flow.h"
#include "base/run_state.h"
#include "startup/seams.h"
#include "wizard/messages.h"
#include "wizard/wizard.h"

static const i32 RestartNow = 16;

// The running program's own file (not ProgramPath, which /S may have
// replaced), into TargetPath.
static void ReadOwnPath() {
  DWORD length = GetModuleFileNameA(nullptr, TargetPath, TargetPathSize);
  TargetPath[length < TargetPathSize ? length : TargetPathSize - 1] = 0;
}

// After a restart: the program entries of the continued group that had to
// wait for it. A group number the package does not have is a package that
// cannot be used.
static int ContinuationRun() {
  if (!LoadPackage() || !SelectGroup(ContinueGroup - 1)) return ExitFailed;
  RunEntries(RunPhaseValue(1), RunKindAll, 0);
  RunEntries(RunPhaseValue(2), RunKindAll, 0);
  RunEntries(RunPhaseValue(3), RunKindAll, 0);
  if (RunAfterInstall) RunEntries(RunPhaseValue(4), RunKindPrograms, 0);
  return 0;
}

// 1 when this process runs from a removable disk or CD and a copy of it has
// been started from the temporary folder.
static int RelaunchedFromMedia(int showCommand) {
  if (DeleteSelfAtRestart) return 0;
  ReadOwnPath();
  CutToDriveRoot(TargetPath);
  UINT type = GetDriveTypeA(TargetPath);
  if (type != DRIVE_REMOVABLE && type != DRIVE_CDROM) return 0;
  return Relaunch(showCommand, 0) ? 1 : 0;
}

static u32 ButtonBarFlagsValue() {
  if (!LayoutRecord || LayoutLength < LayoutButtonBarFlags + 4) return 0;
  return ReadU32(LayoutRecord + LayoutButtonBarFlags);
}

static void InstallScreenSaver() {
  if (ForcedPageMode || InstallResult != 0 || !ScreenSaverEntry) return;
  ResolveTargetPath(ScreenSaverEntry);
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  char command[TargetPathSize];
  if (FormatScreenSaverCommand(command, sizeof command, folder, TargetPath))
    WinExec(command, SW_SHOWNORMAL);
}

static void AskAboutRestart(int showCommand) {
  if (RestartState == 0 || InstallResult != 0) return;
  if (!ForcedPageMode && !UserCancelled && HasDeferredRuns()) Relaunch(showCommand, 1);
  if (!SilentMode || (LayoutFlagsValue() & LayoutFlagRestartQuestionWhenSilent)) {
    if (AskRestart() == 1 && !ForcedPageMode) RestartState = RestartNow;
  }
}

static void CloseBackdrop() {
  if (!BackdropWindow) return;
  DestroyWindow((HWND)BackdropWindow);
  // The backdrop posts the quit message when it is gone.
  if (RestartState != RestartNow) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  BackdropWindow = nullptr;
  FrameDialog = nullptr;
}

// Registration of the window class, the relaunch from removable media, the
// package and the installation with everything after it.
static int NormalRun(int showCommand) {
  if (!RegisterBackdropClass()) return ExitFailed;
  if (RelaunchedFromMedia(showCommand)) return 0;
  if (!LoadPackage()) return ExitFailed;
  if (SilentMode) {
    InstallWithoutPage();
  } else {
    if (!(ButtonBarFlagsValue() & ButtonBarKeepVisualStyles)) LimitThemes();
    if (!CreateMainWindows()) return ExitFailed;
    RunWizard();
  }
  InstallScreenSaver();
  if (BackdropWindow) ShowWindow((HWND)BackdropWindow, SW_HIDE);
  AskAboutRestart(showCommand);
  CloseBackdrop();
  if (!ForcedPageMode && RestartState == 0 && !UserCancelled && InstallResult == 0) {
    RunEntries(RunPhaseValue(3), RunKindAll, 1);
    if (RunAfterInstall) RunEntries(RunPhaseValue(4), RunKindPrograms, 1);
  }
  return 0;
}

// Reboots the machine; on the NT family with the shutdown privilege enabled
// first. Nothing is reported.
static void Reboot() {
  if (IsWinNT) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
      return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  ExitWindowsEx(EWX_REBOOT, 0);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
  ConnectSeams();
  int started = StartRun(instance);
  if (started == 0) return 0;
  int result = ExitFailed;
  if (started > 0) {
    ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    ParseCommandLine(commandLine);
    // A /S path relative to the current folder would name another file once
    // the installation enters its folder (the data is read again there).
    MakeFullPath(ProgramPath, PathSize);
    if (DeleteSelfAtRestart) {
      ReadOwnPath();
      ReplaceAtRestart(nullptr, TargetPath);
    }
    result = ContinueGroup != 0 ? ContinuationRun() : NormalRun(showCommand);
    // Also releases what a package that failed to load left behind.
    FreePackage();
  }
  EndRun();
  if (RestartState == RestartNow) Reboot();
  return RunExitCode(result, InstallResult, RestartState);
}
