// Steps of a run whose subsystems are not part of this program yet. Each
// reports that it did nothing, so that no run looks as if it had done work it
// could not do. A subsystem that arrives removes its entries here.
#include "backdrop/painting_win.h"
#include "engine/restart.h"
#include "engine/run_entries.h"
#include "base/run_state.h"
#include "wizard/pane_painting_win.h"

// Painting not yet built: each window is validated with nothing drawn.
static void ValidateOnly(HWND window) {
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
}
void PaintBackdrop(HWND window, RecordView, RecordView, const char*, RecordView) {
  ValidateOnly(window);
}
void FillSolid(HDC, int, int, int, int, COLORREF) {}
HPALETTE PaletteFromImage(HDC, const u8*, u32) { return nullptr; }
void DrawPaneImage(HDC, const u8*, u32, const RECT*, const RECT*, COLORREF, int) {}
void PaintHeaderPane(HWND pane, const u8*) { ValidateOnly(pane); }
void PaintSidePane(HWND pane, const u8*) { ValidateOnly(pane); }
void PaintButtonBar(HWND bar) { ValidateOnly(bar); }

// Not arranged: the run goes on from where it was started.
int Relaunch(int, int) { return 0; }

// No run entries are started.
void RunEntries(u32, int, int) {}
