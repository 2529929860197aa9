// The backdrop's painting in memory device contexts, pixel by pixel: solid
// and gradient backgrounds (banded and dithered), the picture tiled,
// stretched and placed by every flag, the title and its shadow, the
// off-screen copy, and the palette of an 8-bit picture.
#include <gtest/gtest.h>

#include "backdrop/gradient.h"
#include "backdrop/painting_win.h"
#include "tests/wine/painting_support.h"

using namespace painting;

namespace {

const COLORREF Untouched = RGB(1, 2, 3);

Bytes Layout(u32 flags, COLORREF a, COLORREF b = 0) {
  Bytes layout(LayoutHeaderSize, 0);
  WriteU32(&layout[LayoutFlags], flags);
  WriteU32(&layout[LayoutColourA], a);
  WriteU32(&layout[LayoutColourB], b);
  return layout;
}
RecordView View(const Bytes& b) { return {b.data(), (u32)b.size()}; }

// Pixel (x, y) of the test picture: every pixel its own colour.
COLORREF PicturePixel(int x, int y) { return RGB(40 * x + 10, 50 * y + 20, 200); }

TEST(BackdropBackground, SolidColourFillsThePaintRectangleOnly) {
  Surface s(100, 80);
  Bytes layout = Layout(LayoutFlagFullScreen, RGB(0x99, 0x66, 0x33));
  RECT client = {0, 0, 100, 80}, paint = {10, 20, 50, 40};
  PaintBackground(s.dc, View(layout), &client, &paint, 0);
  EXPECT_EQ(s.At(10, 20), RGB(0x99, 0x66, 0x33));
  EXPECT_EQ(s.At(49, 39), RGB(0x99, 0x66, 0x33));
  EXPECT_EQ(s.At(9, 20), Untouched);
  EXPECT_EQ(s.At(50, 39), Untouched);
  EXPECT_EQ(s.At(49, 40), Untouched);
  // The system colour of a backdrop is the desktop's.
  Bytes system = Layout(LayoutFlagFullScreen, SystemColour);
  PaintBackground(s.dc, View(system), &client, &client, 0);
  EXPECT_EQ(s.At(99, 79), GetSysColor(COLOR_BACKGROUND));
}

TEST(BackdropBackground, BandedGradientPaintsEachRowInItsColour) {
  Surface s(16, 768);
  Bytes layout = Layout(LayoutFlagGradient, 0x000000, 0xFFFFFF);
  RECT client = {0, 0, 16, 768};
  PaintBackground(s.dc, View(layout), &client, &client, 1);
  EXPECT_EQ(s.At(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(s.At(7, 384), RGB(0x3F, 0x3F, 0x3F));
  for (int y = 0; y < 768; ++y)
    for (int x : {0, 15}) ASSERT_EQ(s.At(x, y), GradientColour(0, 0xFFFFFF, y, 768)) << x << "," << y;

  // Within a paint rectangle, only its columns and rows (and the row at its
  // bottom edge) are painted.
  s.Fill(Untouched);
  RECT paint = {4, 100, 12, 200};
  PaintBackground(s.dc, View(layout), &client, &paint, 1);
  EXPECT_EQ(s.At(4, 100), GradientColour(0, 0xFFFFFF, 100, 768));
  EXPECT_EQ(s.At(11, 200), GradientColour(0, 0xFFFFFF, 200, 768));
  EXPECT_EQ(s.At(3, 150), Untouched);
  EXPECT_EQ(s.At(12, 150), Untouched);
  EXPECT_EQ(s.At(4, 99), Untouched);
  EXPECT_EQ(s.At(4, 201), Untouched);
}

// The colour the dithered method gives pixel (x, y) of a client `height`
// rows high: the 8 x 8 pattern of its strip, whose first stored row is the
// strip's bottom row.
COLORREF DitheredPixel(u32 a, u32 b, int x, int y, int height) {
  const int strip = y - y % 8, storedRow = 7 - y % 8;
  const int row = strip + 8 * DitherTable[8 * storedRow + x % 8];
  return GradientColour(a, b, row < height ? row : height, height);
}

TEST(BackdropBackground, DitheredGradientFillsEveryStripWithItsPattern) {
  struct Case {
    int width, height;
    u32 a, b;
  } cases[] = {{24, 64, 0x000000, 0xFFFFFF}, {37, 100, 0x00804000, 0x000020FF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    Surface s(c.width, c.height);
    Bytes layout = Layout(LayoutFlagGradient, c.a, c.b);
    RECT client = {0, 0, c.width, c.height}, paint = {5, 5, 6, 6};
    // The whole client area, whatever the paint rectangle.
    PaintBackground(s.dc, View(layout), &client, &paint, 0);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        ASSERT_EQ(s.At(x, y), DitheredPixel(c.a, c.b, x, y, c.height)) << x << "," << y;
  }
}

struct PlacementCase {
  u32 flags;
  int x, y;
};

TEST(BackdropPicture, PlacedOneToOneByTheFlags) {
  const int w = 4, h = 3;
  Bytes picture = Dib24(w, h, PicturePixel);
  Bytes topDown = Dib24(w, h, PicturePixel, true);
  const PlacementCase cases[] = {
      {0, 0, 0},
      {LayoutFlagCentreH, 18, 0},
      {LayoutFlagRight, 36, 0},
      {LayoutFlagCentreH | LayoutFlagRight, 36, 0},
      {LayoutFlagCentreV, 0, 13},
      {LayoutFlagBottom, 0, 27},
      {LayoutFlagCentreV | LayoutFlagBottom, 0, 27},
      {LayoutFlagCentreH | LayoutFlagCentreV, 18, 13},
      {LayoutFlagRight | LayoutFlagBottom, 36, 27},
  };
  RECT client = {0, 0, 40, 30};
  for (const Bytes* dib : {&picture, &topDown}) {
    for (const PlacementCase& c : cases) {
      SCOPED_TRACE(testing::Message() << "flags " << c.flags << (dib == &topDown ? " top-down" : ""));
      Surface s(40, 30);
      DrawBackdropPicture(s.dc, dib->data(), (u32)dib->size(), &client, c.flags);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(s.At(c.x + x, c.y + y), PicturePixel(x, y)) << x << "," << y;
      if (c.x > 0) EXPECT_EQ(s.At(c.x - 1, c.y), Untouched);
      if (c.y + h < 30) EXPECT_EQ(s.At(c.x, c.y + h), Untouched);
    }
  }
}

TEST(BackdropPicture, TilesOverTheWholeClientArea) {
  Bytes picture = Dib24(4, 3, PicturePixel);
  Surface s(10, 7);
  RECT client = {0, 0, 10, 7};
  DrawBackdropPicture(s.dc, picture.data(), (u32)picture.size(), &client,
                      LayoutFlagTile | LayoutFlagStretch | LayoutFlagRight);  // tile wins
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(s.At(x, y), PicturePixel(x % 4, y % 3)) << x << "," << y;
}

TEST(BackdropPicture, StretchesOverTheClientArea) {
  // Four quarters of one colour each, stretched ten times.
  const COLORREF quarter[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};
  Bytes picture = Dib24(4, 4, [&](int x, int y) { return quarter[(y / 2) * 2 + x / 2]; });
  Surface s(40, 40);
  RECT client = {0, 0, 40, 40};
  SetStretchBltMode(s.dc, COLORONCOLOR);
  DrawBackdropPicture(s.dc, picture.data(), (u32)picture.size(), &client, LayoutFlagStretch);
  EXPECT_EQ(s.At(2, 2), quarter[0]);
  EXPECT_EQ(s.At(37, 2), quarter[1]);
  EXPECT_EQ(s.At(2, 37), quarter[2]);
  EXPECT_EQ(s.At(37, 37), quarter[3]);
  EXPECT_EQ(GetStretchBltMode(s.dc), COLORONCOLOR);  // put back

  // The client's own size: a plain copy.
  Surface same(4, 4);
  RECT small = {0, 0, 4, 4};
  DrawBackdropPicture(same.dc, picture.data(), (u32)picture.size(), &small, LayoutFlagStretch);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(same.At(x, y), quarter[(y / 2) * 2 + x / 2]);
}

TEST(BackdropPicture, DamagedPictureDrawsNothing) {
  Bytes picture = Dib24(4, 3, PicturePixel);
  Surface s(10, 10);
  RECT client = {0, 0, 10, 10};
  DrawBackdropPicture(s.dc, picture.data(), (u32)picture.size() - 1, &client, 0);
  DrawBackdropPicture(s.dc, nullptr, 0, &client, 0);
  EXPECT_EQ(s.At(0, 0), Untouched);
}

// A title style: shadow, text colour, alignment, a bold unsmoothed font.
Bytes TitleStyle(COLORREF shadow, COLORREF text, u32 alignment) {
  Bytes style(TitleStyleSize, 0);
  WriteU32(&style[TitleShadowColour], shadow);
  WriteU32(&style[TitleTextColour], text);
  WriteU32(&style[TitleAlignment], alignment);
  LOGFONTA font = {};
  font.lfHeight = -32;
  font.lfWeight = FW_BOLD;
  font.lfQuality = NONANTIALIASED_QUALITY;
  strcpy(font.lfFaceName, "Arial");
  memcpy(&style[TitleFont], &font, sizeof font);
  return style;
}

// The smallest rectangle around the pixels of one colour.
RECT Extent(Surface& s, COLORREF colour) {
  RECT r = {s.width, s.height, -1, -1};
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (s.At(x, y) == colour) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x);
        r.bottom = std::max<LONG>(r.bottom, y);
      }
  return r;
}

TEST(BackdropTitle, TextAtTenWithItsShadowFourFurther) {
  const COLORREF shadow = RGB(255, 0, 0), text = RGB(0, 0, 255);
  Bytes style = TitleStyle(shadow, text, 0);
  Surface s(300, 100, RGB(255, 255, 255));
  DrawBackdropTitle(s.dc, "Setup", View(style));
  RECT shadowArea = Extent(s, shadow), textArea = Extent(s, text);
  ASSERT_GE(shadowArea.right, 0) << "no pixel of the shadow colour";
  ASSERT_GE(textArea.right, 0) << "no pixel of the text colour";
  EXPECT_GE(textArea.left, 10);
  EXPECT_GE(textArea.top, 10);
  EXPECT_LT(textArea.left, 20);
  // The text covers the shadow's upper left; its lower right shows 4 further.
  EXPECT_EQ(shadowArea.right, textArea.right + 4);
  EXPECT_EQ(shadowArea.bottom, textArea.bottom + 4);
  EXPECT_EQ(GetBkMode(s.dc), TRANSPARENT);
}

TEST(BackdropTitle, RightAlignedEndsAtTheScreensRightEdge) {
  const int screen = GetSystemMetrics(SM_CXSCREEN);
  Bytes style = TitleStyle(RGB(255, 0, 0), RGB(0, 0, 255), 1);
  Surface s(screen, 60, RGB(255, 255, 255));
  DrawBackdropTitle(s.dc, "Setup", View(style));
  RECT shadowArea = Extent(s, RGB(255, 0, 0));
  ASSERT_GE(shadowArea.right, 0);
  EXPECT_LT(shadowArea.right, screen - 14);
  EXPECT_GT(shadowArea.left, screen - 14 - 200);
}

TEST(BackdropTitle, NothingWithoutTitleOrStyle) {
  Bytes style = TitleStyle(RGB(255, 0, 0), RGB(0, 0, 255), 0);
  Surface s(200, 60, RGB(255, 255, 255));
  DrawBackdropTitle(s.dc, "", View(style));
  DrawBackdropTitle(s.dc, nullptr, View(style));
  DrawBackdropTitle(s.dc, "Setup", {style.data(), TitleStyleSize - 1});
  EXPECT_EQ(Extent(s, RGB(255, 255, 255)).right, 199);
  EXPECT_EQ(Extent(s, RGB(255, 0, 0)).right, -1);
}

// The whole backdrop into a target: the same pixels as the three layers
// drawn straight, and only the paint rectangle copied.
TEST(Backdrop, DrawsOffScreenAndCopiesThePaintRectangle) {
  Bytes layout = Layout(LayoutFlagFullScreen | LayoutFlagGradient | LayoutFlagCentreH | LayoutFlagBottom,
                        0x00804000, 0x00000000);
  Bytes file = BitmapFile(Dib24(30, 20, PicturePixel));
  Bytes style = TitleStyle(RGB(255, 0, 0), RGB(255, 255, 255), 0);
  RECT client = {0, 0, 160, 120}, paint = {0, 0, 160, 120};
  Surface direct(160, 120), whole(160, 120), part(160, 120);
  PaintBackground(direct.dc, View(layout), &client, &paint, 0);
  DrawBackdropPicture(direct.dc, file.data() + 14, (u32)file.size() - 14, &client, ReadU32(layout.data()));
  DrawBackdropTitle(direct.dc, "Title", View(style));
  DrawBackdrop(whole.dc, &client, &paint, View(layout), View(file), "Title", View(style));
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) ASSERT_EQ(whole.At(x, y), direct.At(x, y)) << x << "," << y;
  EXPECT_EQ(whole.At(65, 119), PicturePixel(0, 19));  // the picture at the bottom, centred

  RECT some = {20, 30, 60, 50};
  DrawBackdrop(part.dc, &client, &some, View(layout), View(file), "Title", View(style));
  EXPECT_EQ(part.At(20, 30), direct.At(20, 30));
  EXPECT_EQ(part.At(59, 49), direct.At(59, 49));
  EXPECT_EQ(part.At(19, 30), Untouched);
  EXPECT_EQ(part.At(60, 49), Untouched);
  EXPECT_EQ(part.At(20, 50), Untouched);
}

TEST(Backdrop, PaintBackdropValidatesTheWindow) {
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  Bytes layout = Layout(LayoutFlagFullScreen | LayoutFlagGradient, 0x00804000);
  InvalidateRect(window, nullptr, FALSE);
  PaintBackdrop(window, View(layout), {nullptr, 0}, nullptr, {nullptr, 0});
  RECT update;
  EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
  DestroyWindow(window);
}

TEST(Palette, FromAnEightBitPictureRestBlack) {
  std::vector<COLORREF> table;
  for (int i = 0; i < 16; ++i) table.push_back(RGB(16 * i, 255 - i, i));
  Bytes dib = Dib8(4, 4, table, [](int x, int y) { return (u8)(4 * y + x); });
  Surface s(4, 4);
  HPALETTE palette = PaletteFromImage(s.dc, dib.data(), (u32)dib.size());
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY entries[256];
  ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256u);
  for (int i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    COLORREF expected = i < 16 ? table[i] : RGB(0, 0, 0);
    EXPECT_EQ(RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue), expected);
    // The static colours' places are kept (this display has no palette).
    EXPECT_EQ(entries[i].peFlags, (i < 10 || i >= 246) ? PC_NOCOLLAPSE : 0);
  }
  DeleteObject(palette);

  // Only 8-bit pictures have a palette.
  Bytes deep = Dib24(2, 2, PicturePixel);
  EXPECT_EQ(PaletteFromImage(s.dc, deep.data(), (u32)deep.size()), nullptr);
  EXPECT_EQ(PaletteFromImage(s.dc, dib.data(), 40 + 16 * 4), nullptr);  // rows missing
}

TEST(FillSolid, FillsExactlyTheRectangle) {
  Surface s(10, 10);
  FillSolid(s.dc, 2, 3, 4, 1, RGB(9, 8, 7));
  EXPECT_EQ(s.At(2, 3), RGB(9, 8, 7));
  EXPECT_EQ(s.At(5, 3), RGB(9, 8, 7));
  EXPECT_EQ(s.At(6, 3), Untouched);
  EXPECT_EQ(s.At(2, 4), Untouched);
  EXPECT_EQ(s.At(1, 3), Untouched);
}

}  // namespace
