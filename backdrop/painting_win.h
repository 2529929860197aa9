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

// What PaintBackdrop does between BeginPaint and EndPaint, into `dc` (the
// window's device context, or any other): the palette on displays of 8 bits
// or fewer, the three layers drawn off-screen and the `paint` rectangle
// copied to `dc`.
void DrawBackdrop(HDC dc, const RECT* client, const RECT* paint, RecordView layout,
                  RecordView picture, const char* title, RecordView titleStyle);

// The three layers. The background: colour A over `paint`, or the gradient
// from colour A to colour B over the client height, `banded` (one solid row
// at a time, within `paint`) or dithered (8 x 8 patterns over the whole
// client area). The picture (`dib` = the bitmap behind the file header) tiled,
// stretched or placed 1:1 by the layout flags. The title with its shadow.
void PaintBackground(HDC dc, RecordView layout, const RECT* client, const RECT* paint,
                     int banded);
void DrawBackdropPicture(HDC dc, const u8* dib, u32 length, const RECT* client, u32 layoutFlags);
void DrawBackdropTitle(HDC dc, const char* title, RecordView titleStyle);

// The package gives coordinates, sizes, font heights and pictures for a
// display of 96 pixels per logical inch; the program (DPI-aware by its
// manifest) shows them at the system's DPI. `value` at 96 DPI in pixels of
// the display, rounded; at 96 DPI unchanged. The DPI is read once.
int ToDisplay(int value);

// A font from a package's LOGFONTA (60 bytes, face name cut at its end),
// its height and width scaled to the display; null when it cannot be made.
HFONT CreatePackageFont(const u8* logFont);

// Copies the whole DIB (`info` from CheckDib) to (x, y) at w x h: HALFTONE
// filtering when that is not its own size. Rows stored top-down come out
// upright too.
void DrawDib(HDC dc, const u8* dib, const DibInfo& info, int x, int y, int w, int h);

// Fills a rectangle with a solid colour (an opaque empty text).
void FillSolid(HDC dc, int left, int top, int width, int height, COLORREF colour);

// A 256-entry palette from an 8-bit DIB's colour table (`dib` starts at its
// BITMAPINFOHEADER and holds `length` bytes); null for other images or
// without memory. Entries beyond the image's colour table are black.
HPALETTE PaletteFromImage(HDC dc, const u8* dib, u32 length);

// Planes x bits per pixel of the device behind `dc`.
int DeviceBitsPerPixel(HDC dc);

// On a display of 8 bits per pixel or fewer: selects into `dc` and realises,
// as foreground palette, the palette of an 8-bit picture (`dib`, null = none)
// or else a halftone palette; returns it and the one it replaced. Returns
// null on other displays or when no palette could be made.
HPALETTE UsePalette(HDC dc, const u8* dib, u32 length, HPALETTE* previous);
// Selects `previous` back as a background palette and deletes `palette`
// (null: nothing to do).
void DropPalette(HDC dc, HPALETTE palette, HPALETTE previous);
