// Start-up and end of a run.
#include <string.h>
#include <windows.h>
#include <ole2.h>

#include "backdrop/backdrop.h"
#include "startup/common_ui.h"
#include "startup/run_flow.h"
#include "base/run_state.h"
#include "base/system_library.h"

#include "base/files.h"
#include "wizard/formatted_text.h"

// A window that does not answer the probe within this time counts as no
// answer: a hung program must not hold up this one.
static const UINT ProbeTimeout = 10000;

static HMODULE RichEditLibrary;
static int OleStarted;

// Asks a running setup program whether it was started from the same program
// file; if so, brings its window to the front and returns 1.
static int HandOverToRunningInstance() {
  HWND other = FindWindowA(BackdropClassName, nullptr);
  if (!other) return 0;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(other, InstanceProbeMessage, InstanceProbeWParam,
                           InstanceProbeLParam, SMTO_ABORTIFHUNG, ProbeTimeout, &answer))
    return 0;
  if ((u32)answer != InstanceKey) return 0;
  HWND popup = GetLastActivePopup(other);
  SetForegroundWindow(other);
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  if (popup && popup != other) SetForegroundWindow(popup);
  return 1;
}

static void ClassifyThisPlatform() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
  PlatformClass c = ClassifyPlatform(known, version.dwPlatformId, version.dwMajorVersion,
                                     version.dwMinorVersion);
  OsClass = c.osClass;
  IsWinNT = c.isWinNT;
  IsWinNT4 = c.isWinNT4;
  IsWinNT6 = c.isWinNT6;
}

int StartRun(void* instance) {
  (void)instance;
  RestrictLibrarySearch();
  if (!AllocZeroed(PathSize, &ProgramPath)) return -1;
  DWORD length = GetModuleFileNameA(nullptr, ProgramPath, PathSize);
  ProgramPath[length < PathSize ? length : PathSize - 1] = 0;
  InstanceKey = ProgramInstanceKey(ProgramPath);
  if (HandOverToRunningInstance()) {
    FreeBlock(&ProgramPath);
    return 0;
  }
  CurrentGroup = -1;
  ClassifyThisPlatform();
  OleStarted = SUCCEEDED(OleInitialize(nullptr));
  InitCommonUi();
  RichEditLibrary = (HMODULE)LoadSystemLibrary("RICHED20.DLL");
  if (RichEditLibrary) HasRichEdit20 = 1;
  else RichEditLibrary = (HMODULE)LoadSystemLibrary("RICHED32.DLL");
  return AllocateSharedBuffers() ? 1 : -1;
}

void EndRun() {
  FreeBlock(&ProgramPath);
  ReleaseSharedBuffers();
  if (RichEditLibrary) FreeLibrary(RichEditLibrary);
  RichEditLibrary = nullptr;
  ClearLinks();
  ReleaseCommonUi();
  if (OleStarted) OleUninitialize();
  OleStarted = 0;
}
