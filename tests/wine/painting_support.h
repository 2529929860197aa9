// Pictures and drawing surfaces for the painting tests: packed bitmaps built
// from explicit pixel colours, and a 32-bit surface whose pixels are read
// back from its memory.
#pragma once

#include <windows.h>

#include <string.h>

#include <functional>
#include <vector>

#include "base/format.h"

namespace painting {

typedef std::vector<u8> Bytes;
typedef std::function<COLORREF(int x, int y)> PixelColour;

// A 24-bit packed bitmap (info header, rows) of w x h, `colour(x, y)` with
// y = 0 the top row; stored bottom-up, or top-down (negative height).
inline Bytes Dib24(int w, int h, const PixelColour& colour, bool topDown = false) {
  const int stride = (w * 3 + 3) & ~3;
  Bytes b(40 + stride * h, 0);
  BITMAPINFOHEADER header = {};
  header.biSize = 40;
  header.biWidth = w;
  header.biHeight = topDown ? -h : h;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biSizeImage = stride * h;
  memcpy(b.data(), &header, 40);
  for (int y = 0; y < h; ++y) {
    u8* row = b.data() + 40 + stride * (topDown ? y : h - 1 - y);
    for (int x = 0; x < w; ++x) {
      COLORREF c = colour(x, y);
      row[3 * x] = GetBValue(c);
      row[3 * x + 1] = GetGValue(c);
      row[3 * x + 2] = GetRValue(c);
    }
  }
  return b;
}

// An 8-bit packed bitmap with the colour table `table` (its length is the
// colours used) and the pixel indices `index(x, y)`.
inline Bytes Dib8(int w, int h, const std::vector<COLORREF>& table,
                  const std::function<u8(int x, int y)>& index) {
  const int stride = (w + 3) & ~3;
  Bytes b(40 + 4 * table.size() + stride * h, 0);
  BITMAPINFOHEADER header = {};
  header.biSize = 40;
  header.biWidth = w;
  header.biHeight = h;
  header.biPlanes = 1;
  header.biBitCount = 8;
  header.biClrUsed = (DWORD)table.size();
  memcpy(b.data(), &header, 40);
  for (size_t i = 0; i < table.size(); ++i) {
    b[40 + 4 * i] = GetBValue(table[i]);
    b[41 + 4 * i] = GetGValue(table[i]);
    b[42 + 4 * i] = GetRValue(table[i]);
  }
  u8* pixels = b.data() + 40 + 4 * table.size();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) pixels[stride * (h - 1 - y) + x] = index(x, y);
  return b;
}

// A bitmap file: 14-byte file header ("BM", size, 0, pixel offset), bitmap.
inline Bytes BitmapFile(const Bytes& dib) {
  Bytes b(14, 0);
  b[0] = 'B';
  b[1] = 'M';
  WriteU32(&b[2], (u32)(14 + dib.size()));
  b.insert(b.end(), dib.begin(), dib.end());
  return b;
}

// A memory device context drawing into a w x h 32-bit bitmap, filled with
// `fill` at the start.
struct Surface {
  int width, height;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  u32* bits = nullptr;

  Surface(int w, int h, COLORREF fill = RGB(1, 2, 3)) : width(w), height(h) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down: row y at bits + y * w
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc = CreateCompatibleDC(nullptr);
    void* memory = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    bits = (u32*)memory;
    previous = SelectObject(dc, bitmap);
    Fill(fill);
  }
  ~Surface() {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  void Fill(COLORREF colour) {
    GdiFlush();
    u32 p = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
    for (int i = 0; i < width * height; ++i) bits[i] = p;
  }
  COLORREF At(int x, int y) {
    GdiFlush();
    u32 p = bits[y * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
};

}  // namespace painting
