// Painting of the backdrop window: background colour or gradient, picture and
// title, drawn off-screen and copied to the window at once.
#include "backdrop/painting_win.h"

#include <string.h>

#include "backdrop/gradient.h"
#include "base/run_state.h"

void FillSolid(HDC dc, int left, int top, int width, int height, COLORREF colour) {
  RECT area = {left, top, left + width, top + height};
  SetBkColor(dc, colour);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &area, "", 0, nullptr);
}

int ToDisplay(int value) {
  static int dpi;
  if (!dpi) {
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    if (dpi <= 0) dpi = 96;
  }
  return dpi == 96 ? value : MulDiv(value, dpi, 96);
}

HFONT CreatePackageFont(const u8* logFont) {
  LOGFONTA font;
  memcpy(&font, logFont, sizeof font);
  font.lfFaceName[LF_FACESIZE - 1] = 0;  // a face name that runs on ends here
  font.lfHeight = ToDisplay(font.lfHeight);
  font.lfWidth = ToDisplay(font.lfWidth);
  return CreateFontIndirectA(&font);
}

int DeviceBitsPerPixel(HDC dc) { return GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL); }

HPALETTE PaletteFromImage(HDC dc, const u8* dib, u32 length) {
  DibInfo info;
  if (!dib || !CheckDib(dib, length, DibTableUpToEightBits, &info) || info.bitCount != 8)
    return nullptr;
  // Room for LOGPALETTE's two words and 256 entries; entries the image's
  // colour table does not give stay black.
  struct {
    WORD version, count;
    PALETTEENTRY entries[256];
  } palette;
  memset(&palette, 0, sizeof palette);
  palette.version = 0x300;
  palette.count = 256;
  const u8* table = dib + DibInfoHeaderSize;
  for (u32 i = 0; i < info.colours; ++i, table += DibColourSize) {
    palette.entries[i].peRed = table[2];
    palette.entries[i].peGreen = table[1];
    palette.entries[i].peBlue = table[0];
  }
  // The twenty static colours of a palette display stay where they are.
  for (u32 i = 0; i < 10; ++i) {
    palette.entries[i].peFlags = PC_NOCOLLAPSE;
    palette.entries[246 + i].peFlags = PC_NOCOLLAPSE;
  }
  if ((GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) && DeviceBitsPerPixel(dc) == 8) {
    GetSystemPaletteEntries(dc, 0, 10, palette.entries);
    GetSystemPaletteEntries(dc, 246, 10, palette.entries + 246);
  }
  return CreatePalette((const LOGPALETTE*)&palette);
}

HPALETTE UsePalette(HDC dc, const u8* dib, u32 length, HPALETTE* previous) {
  if (DeviceBitsPerPixel(dc) > 8) return nullptr;
  HPALETTE palette = PaletteFromImage(dc, dib, length);
  if (!palette) palette = CreateHalftonePalette(dc);
  if (palette) {
    *previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  return palette;
}

void DropPalette(HDC dc, HPALETTE palette, HPALETTE previous) {
  if (!palette) return;
  SelectPalette(dc, previous, TRUE);
  DeleteObject(palette);
}

static void FillWithBrush(HDC dc, int left, int top, int right, int bottom, HBRUSH brush) {
  RECT area = {left, top, right, bottom};
  FillRect(dc, &area, brush);
}

void PaintBackground(HDC dc, RecordView layout, const RECT* client, const RECT* paint,
                     int banded) {
  if (layout.length < LayoutHeaderSize) return;
  const u32 top = ReadU32(layout.data + LayoutColourA);
  if (!(ReadU32(layout.data + LayoutFlags) & LayoutFlagGradient)) {
    // The system colour of a backdrop is the desktop's.
    HBRUSH brush = CreateSolidBrush(top == SystemColour ? GetSysColor(COLOR_BACKGROUND) : top);
    if (brush) {
      FillRect(dc, paint, brush);
      DeleteObject(brush);
    }
    return;
  }
  const u32 bottom = ReadU32(layout.data + LayoutColourB);
  const i32 height = client->bottom;
  if (banded) {
    // One row at a time (the last row of the paint rectangle included); runs
    // of rows of one colour share a brush.
    HBRUSH brush = nullptr;
    u32 brushColour = 0;
    for (i32 y = paint->top; y <= paint->bottom; ++y) {
      u32 colour = GradientColour(top, bottom, y, height);
      if (!brush || colour != brushColour) {
        if (brush) DeleteObject(brush);
        brush = CreateSolidBrush(colour);
        brushColour = colour;
      }
      if (brush)
        FillWithBrush(dc, paint->left, y + client->top, paint->right, y + client->top + 1, brush);
    }
    if (brush) DeleteObject(brush);
    return;
  }
  // Dithered: eight rows at a time with an 8 x 8 pattern of the colours of
  // eight rows 8 apart, over the whole client area.
  struct {
    BITMAPINFOHEADER header;
    u8 pixels[8 * 8 * 3];
  } pattern;
  memset(&pattern.header, 0, sizeof pattern.header);
  pattern.header.biSize = sizeof pattern.header;
  pattern.header.biWidth = 8;
  pattern.header.biHeight = 8;
  pattern.header.biPlanes = 1;
  pattern.header.biBitCount = 24;
  pattern.header.biSizeImage = sizeof pattern.pixels;
  for (i32 r = 0; r < height; r += 8) {
    FillDitherPattern(pattern.pixels, top, bottom, r, height);
    HBRUSH brush = CreateDIBPatternBrushPt(&pattern, DIB_RGB_COLORS);
    if (!brush) continue;
    FillWithBrush(dc, client->left, r + client->top, client->right, r + client->top + 8, brush);
    DeleteObject(brush);
  }
}

void DrawDib(HDC dc, const u8* dib, const DibInfo& info, int x, int y, int w, int h) {
  // A picture stored top-down has a negative height; the source rectangle
  // counts rows from its top then, so the picture comes out upright too.
  const int rows = info.height < 0 ? -info.height : info.height;
  int previous = 0;
  if (w != info.width || h != rows) {
    // Windows wants the brush origin set after choosing HALFTONE.
    previous = SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
  }
  StretchDIBits(dc, x, y, w, h, 0, 0, info.width, rows, dib + info.pixelsOffset,
                (const BITMAPINFO*)dib, DIB_RGB_COLORS, SRCCOPY);
  if (previous) SetStretchBltMode(dc, previous);
}

void DrawBackdropPicture(HDC dc, const u8* dib, u32 length, const RECT* client, u32 layoutFlags) {
  DibInfo info;
  if (!dib || !CheckDib(dib, length, DibTableAlways, &info)) return;
  // Tiled and placed pictures take their size at the display's DPI.
  const int w = ToDisplay(info.width), h = ToDisplay(info.height < 0 ? -info.height : info.height);
  if (w <= 0 || h <= 0) return;
  if (layoutFlags & LayoutFlagTile) {
    for (int y = client->top; y < client->bottom; y += h)
      for (int x = client->left; x < client->right; x += w) DrawDib(dc, dib, info, x, y, w, h);
  } else if (layoutFlags & LayoutFlagStretch) {
    DrawDib(dc, dib, info, client->left, client->top, client->right - client->left,
            client->bottom - client->top);
  } else {
    PaintRect area = {client->left, client->top, client->right, client->bottom};
    PaintRect place = PicturePlacement(area, w, h, layoutFlags);
    DrawDib(dc, dib, info, place.left, place.top, w, h);
  }
}

void DrawBackdropTitle(HDC dc, const char* title, RecordView titleStyle) {
  if (!title || !*title || titleStyle.length < TitleStyleSize) return;
  HFONT created = CreatePackageFont(titleStyle.data + TitleFont);
  HGDIOBJ previous = created ? SelectObject(dc, created) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  UINT format = DT_NOPREFIX | DT_NOCLIP;
  if (ReadU32(titleStyle.data + TitleAlignment)) format |= DT_RIGHT;
  // The shadow 4 pixels (at 96 DPI) below and right of the text.
  const int shadow = ToDisplay(14);
  RECT area = {shadow, shadow, GetSystemMetrics(SM_CXSCREEN) - shadow,
               GetSystemMetrics(SM_CYSCREEN) - shadow};
  SetTextColor(dc, ReadU32(titleStyle.data + TitleShadowColour));
  DrawTextA(dc, title, -1, &area, format);
  area.left = area.top = ToDisplay(10);
  SetTextColor(dc, ReadU32(titleStyle.data + TitleTextColour));
  DrawTextA(dc, title, -1, &area, format);
  if (created) {
    SelectObject(dc, previous);
    DeleteObject(created);
  }
}

void DrawBackdrop(HDC dc, const RECT* client, const RECT* paint, RecordView layout,
                  RecordView picture, const char* title, RecordView titleStyle) {
  const u8* dib = nullptr;
  u32 dibLength = 0;
  if (CheckBackdropPicture(picture)) {
    dib = picture.data + BitmapFileHeaderSize;
    dibLength = picture.length - BitmapFileHeaderSize;
  }
  const u32 flags = layout.length >= LayoutHeaderSize ? ReadU32(layout.data + LayoutFlags) : 0;
  const int paletteDisplay = DeviceBitsPerPixel(dc) <= 8;
  HPALETTE previous = nullptr;
  HPALETTE palette = UsePalette(dc, dib, dibLength, &previous);
  // Off-screen in a bitmap of the client size (client coordinates start at
  // 0, 0); straight into `dc` when there is no memory for it.
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, client->right, client->bottom) : nullptr;
  HDC target = dc;
  HGDIOBJ memoryBitmap = nullptr;
  HPALETTE memoryPalette = nullptr;
  if (bitmap) {
    target = memory;
    memoryBitmap = SelectObject(memory, bitmap);
    // The off-screen picture needs the same palette, or its colours would
    // be those of the default palette when copied.
    if (palette) {
      memoryPalette = SelectPalette(memory, palette, FALSE);
      RealizePalette(memory);
    }
  }
  PaintBackground(target, layout, client, paint, paletteDisplay || IsWinNT4);
  if (dib) DrawBackdropPicture(target, dib, dibLength, client, flags);
  DrawBackdropTitle(target, title, titleStyle);
  if (bitmap) {
    BitBlt(dc, paint->left, paint->top, paint->right - paint->left, paint->bottom - paint->top,
           memory, paint->left, paint->top, SRCCOPY);
    if (palette) SelectPalette(memory, memoryPalette, TRUE);
    SelectObject(memory, memoryBitmap);
    DeleteObject(bitmap);
  }
  if (memory) DeleteDC(memory);
  DropPalette(dc, palette, previous);
}

void PaintBackdrop(HWND window, RecordView layout, RecordView picture, const char* title,
                   RecordView titleStyle) {
  RECT client;
  GetClientRect(window, &client);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc) DrawBackdrop(dc, &client, &paint.rcPaint, layout, picture, title, titleStyle);
  EndPaint(window, &paint);
}
