// Painting of the wizard's header pane, side pane and button bar: images of
// the package's image table, etched lines, sunken frames. Windows only.
#pragma once

#include <windows.h>

#include "base/format.h"

// Draws `image` (a packed DIB of `length` bytes; null = none) at its size on
// the display (1:1 at 96 DPI, ToDisplay) at the top-left of imageRect, a sunken frame around imageRect when `framed`, and
// an etched line in lineRect (null = none) in the colours derived from the
// pane's background colour.
void DrawPaneImage(HDC dc, const u8* image, u32 length, const RECT* imageRect,
                   const RECT* lineRect, COLORREF background, int framed);

// WM_PAINT of each pane, BeginPaint to EndPaint. `page` is the current page
// entry (null = no page: nothing but the validation is done).
void PaintHeaderPane(HWND pane, const u8* page);
void PaintSidePane(HWND pane, const u8* page);
void PaintButtonBar(HWND bar);
