// The arithmetic of the backdrop and pane painting against values worked out
// by hand: gradient rows, the dither pattern, picture placement, pane image
// rectangles and etched line colours.
#include <gtest/gtest.h>

#include "backdrop/gradient.h"

namespace {

struct GradientCase {
  const char* name;
  u32 top, bottom;
  i32 y, height;
  u32 expected;
};

TEST(Gradient, RowColoursAsWorkedOut) {
  const GradientCase cases[] = {
      {"black to white, first row", 0x000000, 0xFFFFFF, 0, 768, 0x000000},
      // 384^2 * 255 / 768^2 = 63.75
      {"black to white, middle row", 0x000000, 0xFFFFFF, 384, 768, 0x3F3F3F},
      {"black to white, row H", 0x000000, 0xFFFFFF, 768, 768, 0xFFFFFF},
      // 255 - 63.75 truncates toward zero: 255 - 63 = 192, not 191
      {"white to black, middle row", 0xFFFFFF, 0x000000, 384, 768, 0xC0C0C0},
      // y = 50 of 100 takes a quarter: red 48 + 4, green 32 + 24, blue 16 + 44
      {"each component on its own", 0x00102030, 0x00C08040, 50, 100, 0x003C3834},
      // y = 10 of 100: 0.16, 0.96 and 1.76 of a step
      {"small steps truncate", 0x00102030, 0x00C08040, 10, 100, 0x00112030},
      {"equal colours", 0x00123456, 0x00123456, 77, 100, 0x00123456},
      // 3000^2 * 255 overflows 32 bits (the result would read 132):
      // 9,000,000 * 255 / 16,000,000 = 143.4375
      {"tall client, no 32-bit overflow", 0x000000, 0xFFFFFF, 3000, 4000, 0x8F8F8F},
      {"8K client, last row", 0x000000, 0x0000FF, 4320, 4320, 0x0000FF},
      // 4319^2 * (-255) / 4320^2 = -254.88: 255 - 254
      {"8K client, row before the last", 0x0000FF, 0x000000, 4319, 4320, 0x000001},
      {"empty client", 0x00ABCDEF, 0, 0, 0, 0x00ABCDEF},
  };
  for (const GradientCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GradientColour(c.top, c.bottom, c.y, c.height), c.expected);
  }
}

// Pixel k of a pattern: blue, green, red.
u32 PatternPixel(const u8* pixels, int k) {
  return pixels[3 * k + 2] | pixels[3 * k + 1] << 8 | pixels[3 * k] << 16;
}

TEST(Gradient, DitherPatternTakesRowsEightApart) {
  // Black to white over 64 rows: rows 0, 8, ..., 56 have 255 * j^2 / 64.
  const u32 grey[8] = {0, 3, 15, 35, 63, 99, 143, 195};
  const u8 table[64] = {0, 3, 1, 4, 2, 5, 3, 6, 7, 4, 6, 3, 5, 2, 4, 1, 2, 5, 3, 6, 4, 7,
                        5, 0, 1, 6, 0, 5, 7, 4, 6, 3, 4, 7, 5, 0, 6, 1, 7, 2, 3, 0, 2, 7,
                        1, 6, 0, 5, 6, 1, 7, 2, 0, 3, 1, 4, 5, 2, 4, 1, 3, 0, 2, 7};
  u8 pixels[192];
  FillDitherPattern(pixels, 0x000000, 0xFFFFFF, 0, 64);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(PatternPixel(pixels, k), grey[table[k]] * 0x010101) << k;
  // From row 48 on, rows beyond the client take the colour of row H.
  FillDitherPattern(pixels, 0x000000, 0xFFFFFF, 48, 64);
  const u32 late[8] = {143, 195, 255, 255, 255, 255, 255, 255};
  for (int k = 0; k < 64; ++k) EXPECT_EQ(PatternPixel(pixels, k), late[table[k]] * 0x010101) << k;
  // Blue is stored first.
  FillDitherPattern(pixels, 0x00FF0000, 0x00FF0000, 0, 8);
  EXPECT_EQ(pixels[0], 0xFF);
  EXPECT_EQ(pixels[2], 0x00);
}

struct PlacementCase {
  u32 flags;
  i32 w, x, y;
};

TEST(PicturePlacement, FlagsPlaceThePicture) {
  const PaintRect client = {0, 0, 1000, 800};
  const PlacementCase cases[] = {
      {0, 200, 0, 0},
      {0x100, 200, 400, 0},
      {0x200, 200, 800, 0},
      {0x100 | 0x200, 200, 800, 0},  // right wins
      {0x1000, 200, 0, 350},
      {0x2000, 200, 0, 700},
      {0x1000 | 0x2000, 200, 0, 700},  // bottom wins
      {0x100 | 0x1000, 200, 400, 350},
      {0x200 | 0x2000, 200, 800, 700},
      // wider than the client: -201 / 2 truncates to -100
      {0x100, 1201, -100, 0},
      {0x200, 1201, -201, 0},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.flags);
    PaintRect r = PicturePlacement(client, c.w, 100, c.flags);
    EXPECT_EQ(r.left, c.x);
    EXPECT_EQ(r.top, c.y);
    EXPECT_EQ(r.right, c.x + c.w);
    EXPECT_EQ(r.bottom, c.y + 100);
  }
}

struct PaneCase {
  const char* name;
  i32 w, h;
  bool centred, right;
  PaintRect expected;
};

void ExpectRect(const PaintRect& r, const PaintRect& e) {
  EXPECT_EQ(r.left, e.left);
  EXPECT_EQ(r.top, e.top);
  EXPECT_EQ(r.right, e.right);
  EXPECT_EQ(r.bottom, e.bottom);
}

TEST(PaneImages, HeaderImageRectangles) {
  const PaintRect header = {0, 0, 500, 60};
  const PaneCase cases[] = {
      {"top-left", 50, 40, false, false, {0, 0, 50, 40}},
      {"centred: in from the left as far as down", 50, 40, true, false, {10, 10, 60, 50}},
      {"centred and right: equal distances to top and right", 50, 40, true, true, {440, 10, 490, 50}},
      {"right", 50, 40, false, true, {450, 0, 500, 40}},
      // (60 - 81) / 2 = -10: starts above the pane, no offset from the side
      {"taller than the pane, centred", 50, 81, true, false, {0, -10, 50, 71}},
      {"taller than the pane, centred and right", 50, 81, true, true, {450, -10, 500, 71}},
  };
  for (const PaneCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRect(HeaderImageRect(header, c.w, c.h, c.centred, c.right), c.expected);
  }
}

TEST(PaneImages, SideImageRectangles) {
  const PaintRect side = {0, 0, 160, 300};
  const PaneCase cases[] = {
      {"fits", 100, 200, false, false, {0, 0, 100, 200}},
      {"larger: cut to the pane", 200, 400, false, false, {0, 0, 160, 300}},
      {"centred", 100, 200, true, false, {30, 50, 130, 250}},
      // (160 - 201) / 2 = -20, (300 - 301) / 2 = 0; not cut
      {"centred and larger", 201, 301, true, false, {-20, 0, 181, 301}},
  };
  for (const PaneCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRect(SideImageRect(side, c.w, c.h, c.centred), c.expected);
  }
}

TEST(PaneImages, EtchedDarkColourHalvesEachComponent) {
  EXPECT_EQ(EtchedDarkColour(0x808080), 0x404040u);
  EXPECT_EQ(EtchedDarkColour(0xFFFFFF), 0x7F7F7Fu);
  EXPECT_EQ(EtchedDarkColour(0x00FF8001), 0x007F4000u);  // no bit crosses a component
  EXPECT_EQ(EtchedLightColour, 0xFFFFFFu);
}

}  // namespace
