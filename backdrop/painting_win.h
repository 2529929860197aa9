// Painting of the backdrop window and the drawing primitives the wizard's
// panes share with it. Windows only.
#pragma once

#include <windows.h>

#include "base/records.h"

// Paints the backdrop's client area for WM_PAINT (BeginPaint to EndPaint):
// background colour or gradient, the picture (a BITMAPFILEHEADER followed by
// a DIB; empty view = none), the title (null or empty = none) in its style
// (empty view = none). Double-buffered; never fails visibly.
void PaintBackdrop(HWND window, RecordView layout, RecordView picture, const char* title,
                   RecordView titleStyle);

// Fills a rectangle with a solid colour (an opaque empty text).
void FillSolid(HDC dc, int left, int top, int width, int height, COLORREF colour);

// A 256-entry palette from an 8-bit DIB's colour table (`dib` starts at its
// BITMAPINFOHEADER and holds `length` bytes); null for other images or
// without memory.
HPALETTE PaletteFromImage(HDC dc, const u8* dib, u32 length);
