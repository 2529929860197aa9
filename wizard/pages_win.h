// What the page procedures share with the page framework. Windows only.
#pragma once

#include <windows.h>

#include "base/records.h"

// The current page kind (-1 between pages and after the wizard) and its
// page entry (null when the package has none).
extern int CurrentPageKind;
const u8* CurrentPageEntry();
// The position in the page sequence; -1 after JumpToPage to position 0.
extern int SequencePosition;

// The button bar's Next and Cancel buttons, and the current page window.
HWND NextButton();
HWND CancelButton();
HWND ButtonBar();

// The dialog procedure every page procedure falls back on: the page's
// brushes, controls and placement (WM_INITDIALOG), its colours, the common
// notification handler.
INT_PTR PageBaseProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The result of a page procedure's WM_COMMAND that keeps the button bar from
// acting on the button.
INT_PTR VetoCommand(HWND window);
// Bit 0 Back, bit 1 Next, bit 2 Cancel enabled; QuietExit: Cancel ends the
// wizard without asking.
static const u32 ButtonBack = 0x1, ButtonNext = 0x2, ButtonCancel = 0x4, QuietExit = 0x100;
void SetButtonMask(u32 mask);
// `button` ButtonBack, ButtonNext or ButtonCancel gets text `number` of text
// group 8 as its caption.
void SetButtonLabel(u32 button, u32 number);
// Back 8/0, Next 8/1, Cancel 8/2.
void LabelButtons();
// Sends WM_SETFONT (no redraw) with `font` to every child of `window`.
void SetFontOnChildren(HWND window, HFONT font);
extern HFONT DialogFont;

// The page procedures of page kinds 0 to 6 (pages_win.cpp).
extern const DLGPROC PageProcedures[7];
