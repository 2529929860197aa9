// Steps of a run whose subsystems are not part of this program yet. Each
// reports that it did nothing, so that no run looks as if it had done work it
// could not do. A subsystem that arrives removes its entries here.
#include "backdrop/backdrop.h"
#include "engine/restart.h"
#include "engine/run_entries.h"
#include "base/run_state.h"
#include "wizard/messages.h"
#include "wizard/pane_painting_win.h"
#include "wizard/wizard.h"

// No wizard yet: creating the windows fails, which ends the run with -1.
int RegisterBackdropClass() { return 1; }
int CreateMainWindows() { return 0; }
void RunWizard() {}
int AskRestart() { return 2; }

// Painting not yet built: each window is validated with nothing drawn.
static void ValidateOnly(HWND window) {
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
}
void DrawPaneImage(HDC, const u8*, u32, const RECT*, const RECT*, COLORREF, int) {}
void PaintHeaderPane(HWND pane, const u8*) { ValidateOnly(pane); }
void PaintSidePane(HWND pane, const u8*) { ValidateOnly(pane); }
void PaintButtonBar(HWND bar) { ValidateOnly(bar); }

// Not arranged: the run goes on from where it was started.
int Relaunch(int, int) { return 0; }

// No run entries are started.
void RunEntries(u32, int, int) {}
