#include "backdrop/gradient.h"

const u8 DitherTable[64] = {
    0, 3, 1, 4, 2, 5, 3, 6,  //
    7, 4, 6, 3, 5, 2, 4, 1,  //
    2, 5, 3, 6, 4, 7, 5, 0,  //
    1, 6, 0, 5, 7, 4, 6, 3,  //
    4, 7, 5, 0, 6, 1, 7, 2,  //
    3, 0, 2, 7, 1, 6, 0, 5,  //
    6, 1, 7, 2, 0, 3, 1, 4,  //
    5, 2, 4, 1, 3, 0, 2, 7,
};

u32 GradientColour(u32 top, u32 bottom, i32 y, i32 height) {
  if (height <= 0) return top & 0xFFFFFF;
  // Signed 64-bit arithmetic truncates toward zero as the 32-bit formula does,
  // without its overflow.
  const int64_t ySquared = (int64_t)y * y, heightSquared = (int64_t)height * height;
  u32 colour = 0;
  for (u32 shift = 0; shift < 24; shift += 8) {
    const int64_t a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
    colour |= ((u32)(a + ySquared * (b - a) / heightSquared) & 0xFF) << shift;
  }
  return colour;
}

void FillDitherPattern(u8* pixels, u32 top, u32 bottom, i32 r, i32 height) {
  u32 colours[8];
  for (i32 j = 0; j < 8; ++j) {
    i32 row = r + 8 * j;
    colours[j] = GradientColour(top, bottom, row < height ? row : height, height);
  }
  for (u32 k = 0; k < 64; ++k, pixels += 3) {
    u32 colour = colours[DitherTable[k]];
    pixels[0] = (u8)(colour >> 16);
    pixels[1] = (u8)(colour >> 8);
    pixels[2] = (u8)colour;
  }
}

PaintRect PicturePlacement(const PaintRect& client, i32 w, i32 h, u32 layoutFlags) {
  i32 x = client.left, y = client.top;
  if (layoutFlags & LayoutFlagRight) x = client.right - w;
  else if (layoutFlags & LayoutFlagCentreH) x = (client.right - w - client.left) / 2;
  if (layoutFlags & LayoutFlagBottom) y = client.bottom - h;
  else if (layoutFlags & LayoutFlagCentreV) y = (client.bottom - client.top - h) / 2;
  return {x, y, x + w, y + h};
}

PaintRect HeaderImageRect(const PaintRect& client, i32 w, i32 h, bool centred, bool right) {
  i32 down = centred ? (client.bottom - client.top - h) / 2 : 0;
  i32 in = down > 0 ? down : 0;
  i32 left = right ? client.right - w - in - client.left : in;
  return {left, down, left + w, down + h};
}

PaintRect SideImageRect(const PaintRect& client, i32 w, i32 h, bool centred) {
  i32 width = client.right - client.left, height = client.bottom - client.top;
  if (centred) {
    i32 left = (width - w) / 2, top = (height - h) / 2;
    return {left, top, left + w, top + h};
  }
  return {0, 0, w < width ? w : width, h < height ? h : height};
}
