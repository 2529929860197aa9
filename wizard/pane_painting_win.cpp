// Painting of the wizard's header pane, side pane and button bar from the
// current page entry and the package's image table.
#include "wizard/pane_painting_win.h"

#include "backdrop/gradient.h"
#include "backdrop/painting_win.h"
#include "package/tables.h"

void DrawPaneImage(HDC dc, const u8* image, u32 length, const RECT* imageRect,
                   const RECT* lineRect, COLORREF background, int framed) {
  COLORREF dark = EtchedDarkColour(background), light = EtchedLightColour;
  if (background == SystemColour) {
    dark = GetSysColor(COLOR_BTNSHADOW);
    light = GetSysColor(COLOR_BTNHIGHLIGHT);
  }
  DibInfo info;
  HPALETTE palette = nullptr, previous = nullptr;
  if (image && imageRect && CheckDib(image, length, DibTableUpToEightBits, &info)) {
    if (info.bitCount <= 8) palette = UsePalette(dc, image, length, &previous);
    // At its size on the display (1:1 at 96 DPI) at the rectangle's
    // top-left; the pane clips what does not fit.
    const RECT& r = *imageRect;
    DrawDib(dc, image, info, r.left, r.top, ToDisplay(info.width),
            ToDisplay(info.height < 0 ? -info.height : info.height));
    if (framed) {
      const int width = r.right - r.left, height = r.bottom - r.top;
      FillSolid(dc, r.left, r.top, width - 1, 1, dark);
      FillSolid(dc, r.left, r.top, 1, height - 1, dark);
      FillSolid(dc, r.left, r.bottom - 1, width, 1, light);
      FillSolid(dc, r.right - 1, r.top, 1, height, light);
    }
  }
  if (lineRect) {
    // Two pixels wide: a vertical line, dark column then light column;
    // otherwise a horizontal one, dark top row and light bottom row.
    const RECT& l = *lineRect;
    const bool vertical = l.right == l.left + 2;
    const int w = vertical ? 1 : l.right - l.left, h = vertical ? l.bottom - l.top : 1;
    FillSolid(dc, l.left, l.top, w, h, dark);
    FillSolid(dc, vertical ? l.right - 1 : l.left, vertical ? l.top : l.bottom - 1, w, h, light);
  }
  DropPalette(dc, palette, previous);
}

// The header pane and the side pane differ only in their fields, flags and
// the placement of the image.
static void PaintPane(HWND pane, const u8* page, bool header) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(pane, &paint);
  if (dc && page) {
    RECT client;
    GetClientRect(pane, &client);
    const u32 flags = ReadU32(page + PageEntryFlags);
    // The etched line: the header's bottom two rows, the side pane's
    // rightmost two columns.
    RECT line = client;
    if (header) line.top = client.bottom - 2;
    else line.left = client.right - 2;
    const RECT* lineRect = flags & (header ? PageFlagHeaderLine : PageFlagSideLine) ? &line : nullptr;
    RecordView image = {nullptr, 0};
    RECT area = {};
    if (ImageTableImage({ImageTable, ImageTableLength},
                        ReadU32(page + (header ? PageEntryHeaderImage : PageEntrySideImage)), &image)) {
      const i32 stored = (i32)ReadU32(image.data + DibHeight);
      const i32 w = ToDisplay((i32)ReadU32(image.data + DibWidth)), h = ToDisplay(stored < 0 ? -stored : stored);
      const PaintRect c = {client.left, client.top, client.right, client.bottom};
      const PaintRect r = header ? HeaderImageRect(c, w, h, flags & PageFlagHeaderImageCentredV,
                                                   flags & PageFlagHeaderImageRight)
                                 : SideImageRect(c, w, h, flags & PageFlagSideImageCentred);
      area = {r.left, r.top, r.right, r.bottom};
    }
    DrawPaneImage(dc, image.data, image.length, &area, lineRect,
                  ReadU32(page + (header ? PageEntryHeaderBackground : PageEntrySideBackground)),
                  flags & (header ? PageFlagHeaderImageFramed : PageFlagSideImageFramed));
  }
  EndPaint(pane, &paint);
}

void PaintHeaderPane(HWND pane, const u8* page) { PaintPane(pane, page, true); }
void PaintSidePane(HWND pane, const u8* page) { PaintPane(pane, page, false); }

void PaintButtonBar(HWND bar) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(bar, &paint);
  if (dc && LayoutLength >= LayoutHeaderSize &&
      (ReadU32(LayoutRecord + LayoutButtonBarFlags) & ButtonBarEtchedLine)) {
    RECT line;
    GetClientRect(bar, &line);
    line.bottom = line.top + 2;
    DrawPaneImage(dc, nullptr, 0, nullptr, &line, ReadU32(LayoutRecord + LayoutButtonBarColour), 0);
  }
  EndPaint(bar, &paint);
}
