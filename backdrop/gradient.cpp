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

// floor(numerator / denominator) for denominator > 0 and below 2^63, by
// shifting and subtracting: a 64-bit division would bring the compiler's
// runtime routine and its unwind tables into the 32-bit program (about 900
// bytes of the file).
static uint64_t DivideWhole(uint64_t numerator, uint64_t denominator) {
  uint64_t quotient = 0, rest = 0;
  // Rows inside the gradient have a quotient below 256: eight steps.
  if (denominator < ((uint64_t)1 << 55) && numerator < denominator << 8) {
    for (int bit = 7; bit >= 0; --bit) {
      if (numerator >= denominator << bit) {
        numerator -= denominator << bit;
        quotient |= 1u << bit;
      }
    }
    return quotient;
  }
  for (int bit = 63; bit >= 0; --bit) {
    rest = (rest << 1) | ((numerator >> bit) & 1);
    if (rest >= denominator) {
      rest -= denominator;
      quotient |= (uint64_t)1 << bit;
    }
  }
  return quotient;
}

u32 GradientColour(u32 top, u32 bottom, i32 y, i32 height) {
  if (height <= 0) return top & 0xFFFFFF;
  // Truncated toward zero as the 32-bit formula does (the magnitude rounded
  // down, the sign put back), without its overflow.
  const uint64_t row = y < 0 ? (uint64_t)(-(int64_t)y) : (uint64_t)y;
  const uint64_t ySquared = row * row, heightSquared = (uint64_t)height * (uint64_t)height;
  u32 colour = 0;
  for (u32 shift = 0; shift < 24; shift += 8) {
    const u32 a = (top >> shift) & 0xFF, b = (bottom >> shift) & 0xFF;
    // Only the low 8 bits of the step count.
    const u32 step = (u32)DivideWhole(ySquared * (b > a ? b - a : a - b), heightSquared);
    colour |= ((b > a ? a + step : a - step) & 0xFF) << shift;
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
