// Message boxes, progress display and the message pumps.
#include <windows.h>
#include <commctrl.h>

#include "wizard/messages.h"

#include "engine/install.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "base/run_state.h"

void* PumpPanes[PumpPaneCount];

// The installing page while it is open, and its controls.
static HWND ProgressPage;
static const int ProgressBarId = 1009;
static const int PercentTextId = 1010;
static const int CurrentFileId = 1008;
static const u32 CurrentFileWidth = 30;

// Offers the message to the dialogs of the wizard; 1 when one took it.
static int OfferToDialogs(MSG* msg) {
  HWND frame = (HWND)FrameDialog;
  if (frame && IsDialogMessageA(frame, msg)) return 1;
  for (int i = 0; i < PumpPaneCount; ++i)
    if (PumpPanes[i] && IsDialogMessageA((HWND)PumpPanes[i], msg)) return 1;
  return 0;
}

void PumpMessages(int wait) {
  MSG msg;
  for (;;) {
    // The queue status is the cheaper question: an empty PeekMessageA also
    // gives up the processor.
    if (!wait && (!HIWORD(GetQueueStatus(QS_ALLINPUT)) ||
                  !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)))
      return;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT ends the page as Cancel would, without a question.
      PageResult = PageResultCancel;
      wait = 0;
    } else if (got > 0 && !OfferToDialogs(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (PageResult) wait = 0;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return;
  }
}

// 1 when QueueLookIntervalMs have passed since the queue was last looked at
// from inside an installation (always the first time). Each look is a round
// trip to the window system, many times the cost of 4 KB read or a small
// file written; a clock that wraps looks once early.
static int TimeToLookAtQueue() {
  static DWORD lastLook;
  static int looked;
  DWORD now = GetTickCount();
  if (looked && now - lastLook < QueueLookIntervalMs) return 0;
  looked = 1;
  lastLook = now;
  return 1;
}

void WizardPumpWhileReading() {
  if (TimeToLookAtQueue()) PumpMessages(0);
}

int WizardShowMessage(const char* text, u32 style) {
  HWND owner = (HWND)(FrameDialog ? FrameDialog : BackdropWindow);
  return MessageBoxA(owner, text, GetText(7, 0), style);
}

void InstallWithoutPage() {
  if (!PrepareInstallation()) return;
  MSG msg;
  while (InstallNextFile()) {
    // Drain the queue; WM_QUIT is dropped here.
    if (!TimeToLookAtQueue()) continue;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }
  FinishInstallation();
}

void AttachProgress(void* page) {
  ProgressPage = (HWND)page;
  if (ProgressPage)
    SendDlgItemMessageA(ProgressPage, ProgressBarId, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

void WizardShowProgress(u32 percent) {
  if (!ProgressPage) return;
  if (percent > 100) percent = 100;
  char text[16];
  wsprintfA(text, "%d%%", (int)percent);
  SetDlgItemTextA(ProgressPage, PercentTextId, text);
  SendDlgItemMessageA(ProgressPage, ProgressBarId, PBM_SETPOS, percent, 0);
}

void WizardShowCurrentFile(const char* path) {
  if (!ProgressPage) return;
  char* text = nullptr;
  if (!AllocBlock(PathSize, &text)) return;
  CopyText(text, path, PathSize);
  ShortenPath(text, CurrentFileWidth);
  SetDlgItemTextA(ProgressPage, CurrentFileId, text);
  FreeBlock(&text);
}
