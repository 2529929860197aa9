// The painting of the wizard's header pane, side pane and button bar in
// real windows, pixel by pixel: images of the package's image table placed by
// the page flags, sunken frames, etched lines and their colours.
#include <gtest/gtest.h>

#include "package/tables.h"
#include "tests/wine/painting_support.h"
#include "wizard/pane_painting_win.h"

using namespace painting;

namespace {

const COLORREF Untouched = RGB(1, 2, 3);
const COLORREF Grey = RGB(128, 128, 128), HalfGrey = RGB(64, 64, 64), White = RGB(255, 255, 255);

COLORREF ImagePixel(int x, int y) { return RGB(5 * x + 3, 3 * y + 7, 90); }

// A page entry: flags, side background and image, header background and
// image; 56 bytes.
Bytes PageEntry(u32 flags, u32 headerImage, u32 sideImage, COLORREF background = Grey) {
  Bytes page(56, 0);
  WriteU32(&page[0], flags);
  WriteU32(&page[20], background);
  WriteU32(&page[24], sideImage);
  WriteU32(&page[32], background);
  WriteU32(&page[40], headerImage);
  return page;
}

// An image table of the given images (empty: slot 0).
Bytes Table(const std::vector<Bytes>& images) {
  Bytes table(4 + 4 * images.size(), 0);
  WriteU32(&table[0], (u32)images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    if (images[i].empty()) continue;
    WriteU32(&table[4 + 4 * i], (u32)table.size());
    table.insert(table.end(), images[i].begin(), images[i].end());
  }
  return table;
}

class PanePainting : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA type = {};
    type.lpfnWndProc = DefWindowProcA;
    type.hInstance = GetModuleHandleA(nullptr);
    type.lpszClassName = "PaneUnderTest";
    RegisterClassA(&type);  // no background brush: nothing is erased
  }
  void TearDown() override {
    if (pane) DestroyWindow(pane);
    ImageTable = nullptr;
    ImageTableLength = 0;
    LayoutRecord = nullptr;
    LayoutLength = 0;
  }
  // A borderless pane whose client area is w x h, filled with Untouched and
  // due for painting.
  void Open(int w, int h) {
    pane = CreateWindowExA(0, "PaneUnderTest", "", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(pane, nullptr);
    HDC dc = GetDC(pane);
    HBRUSH brush = CreateSolidBrush(Untouched);
    RECT all = {0, 0, w, h};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(pane, dc);
    InvalidateRect(pane, nullptr, FALSE);
  }
  void UseTable(const Bytes& table) {
    images = table;
    ImageTable = images.data();
    ImageTableLength = (u32)images.size();
  }
  COLORREF At(int x, int y) {
    HDC dc = GetDC(pane);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(pane, dc);
    return c;
  }
  void ExpectPainted() {
    RECT update;
    EXPECT_FALSE(GetUpdateRect(pane, &update, FALSE));
  }
  HWND pane = nullptr;
  Bytes images;
};

TEST_F(PanePainting, HeaderImageCentredRightAlignedFramedWithLine) {
  UseTable(Table({{}, Dib24(40, 20, ImagePixel)}));
  Open(300, 60);
  Bytes page = PageEntry(0x100 | 0x200 | 0x400 | 0x800, 2, 0);
  PaintHeaderPane(pane, page.data());
  ExpectPainted();
  // (60 - 20) / 2 = 20 down, as far in from the right: 240, 20 to 280, 40.
  EXPECT_EQ(At(241, 21), ImagePixel(1, 1));
  EXPECT_EQ(At(278, 38), ImagePixel(38, 18));
  EXPECT_EQ(At(239, 30), Untouched);
  EXPECT_EQ(At(280, 30), Untouched);
  // The sunken frame: dark above and left, light below and right.
  EXPECT_EQ(At(240, 20), HalfGrey);
  EXPECT_EQ(At(278, 20), HalfGrey);
  EXPECT_EQ(At(240, 38), HalfGrey);
  EXPECT_EQ(At(279, 20), White);
  EXPECT_EQ(At(240, 39), White);
  EXPECT_EQ(At(279, 39), White);
  // The etched line in the bottom two rows.
  for (int x : {0, 150, 299}) {
    EXPECT_EQ(At(x, 58), HalfGrey);
    EXPECT_EQ(At(x, 59), White);
  }
  EXPECT_EQ(At(0, 57), Untouched);
}

TEST_F(PanePainting, HeaderImageTallerThanThePaneShowsItsMiddle) {
  UseTable(Table({Dib24(30, 81, ImagePixel)}));
  Open(200, 60);
  Bytes page = PageEntry(0x200, 1, 0);
  PaintHeaderPane(pane, page.data());
  // (60 - 81) / 2 = -10: the image starts 10 rows above, at the left edge.
  EXPECT_EQ(At(0, 0), ImagePixel(0, 10));
  EXPECT_EQ(At(29, 59), ImagePixel(29, 69));
  EXPECT_EQ(At(30, 0), Untouched);
  EXPECT_EQ(At(0, 59), ImagePixel(0, 69));  // no line
}

TEST_F(PanePainting, WithoutAnImageOnlyTheLine) {
  UseTable(Table({Dib24(10, 10, ImagePixel), {}}));
  for (u32 number : {0u, 2u /* empty slot */, 3u /* beyond N */}) {
    SCOPED_TRACE(number);
    Open(100, 40);
    Bytes page = PageEntry(0x100 | 0x400, number, 0);
    PaintHeaderPane(pane, page.data());
    ExpectPainted();
    EXPECT_EQ(At(0, 0), Untouched);
    EXPECT_EQ(At(50, 38), HalfGrey);
    EXPECT_EQ(At(50, 39), White);
    DestroyWindow(pane);
    pane = nullptr;
  }
  // Without a page: nothing but the validation.
  Open(100, 40);
  PaintHeaderPane(pane, nullptr);
  ExpectPainted();
  EXPECT_EQ(At(50, 39), Untouched);
}

TEST_F(PanePainting, SideImageLargerThanThePaneFramedAlongItsEdges) {
  UseTable(Table({Dib24(50, 100, ImagePixel)}));
  Open(60, 80);
  Bytes page = PageEntry(0x10 | 0x40, 0, 1, RGB(255, 129, 1));
  PaintSidePane(pane, page.data());
  ExpectPainted();
  const COLORREF dark = RGB(127, 64, 0);
  // The image from the top-left; its frame on the rectangle cut to the pane.
  EXPECT_EQ(At(1, 1), ImagePixel(1, 1));
  EXPECT_EQ(At(48, 78), ImagePixel(48, 78));
  EXPECT_EQ(At(0, 0), dark);
  EXPECT_EQ(At(0, 78), dark);
  EXPECT_EQ(At(0, 79), White);
  EXPECT_EQ(At(49, 0), White);
  EXPECT_EQ(At(50, 40), Untouched);
  // The etched line in the rightmost two columns.
  for (int y : {0, 40, 79}) {
    EXPECT_EQ(At(58, y), dark);
    EXPECT_EQ(At(59, y), White);
  }
}

TEST_F(PanePainting, SideImageCentred) {
  UseTable(Table({Dib24(20, 30, ImagePixel)}));
  Open(60, 80);
  Bytes page = PageEntry(0x20, 0, 1);
  PaintSidePane(pane, page.data());
  // (60 - 20) / 2 = 20 across, (80 - 30) / 2 = 25 down.
  EXPECT_EQ(At(20, 25), ImagePixel(0, 0));
  EXPECT_EQ(At(39, 54), ImagePixel(19, 29));
  EXPECT_EQ(At(19, 25), Untouched);
  EXPECT_EQ(At(20, 55), Untouched);
  EXPECT_EQ(At(59, 40), Untouched);  // no line
}

TEST_F(PanePainting, ButtonBarLineInTheLayoutsColour) {
  struct Case {
    u32 flags;
    COLORREF colour, dark, light;
  } cases[] = {
      {1, RGB(1, 128, 255), RGB(0, 64, 127), White},
      {1, SystemColour, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT)},
      {2, RGB(1, 128, 255), Untouched, Untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Bytes layout(LayoutHeaderSize, 0);
    WriteU32(&layout[LayoutButtonBarFlags], c.flags);
    WriteU32(&layout[LayoutButtonBarColour], c.colour);
    LayoutRecord = layout.data();
    LayoutLength = (u32)layout.size();
    Open(120, 40);
    PaintButtonBar(pane);
    ExpectPainted();
    EXPECT_EQ(At(0, 0), c.dark);
    EXPECT_EQ(At(119, 1), c.light);
    EXPECT_EQ(At(60, 2), Untouched);
    DestroyWindow(pane);
    pane = nullptr;
  }
}

// DrawPaneImage on its own: pictures stored top-down or with a colour table
// come out the same; a rectangle two pixels wide is a vertical line.
TEST(DrawPaneImage, ImagesOfEveryKindAndBothLines) {
  std::vector<COLORREF> colours = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(9, 9, 9)};
  auto index = [](int x, int y) { return (u8)((x + y) % 4); };
  Bytes indexed = Dib8(6, 5, colours, index);
  Bytes topDown = Dib24(6, 5, [&](int x, int y) { return colours[index(x, y)]; }, true);
  for (const Bytes* image : {&indexed, &topDown}) {
    Surface s(20, 20);
    RECT area = {3, 4, 9, 9}, line = {15, 0, 17, 20};
    DrawPaneImage(s.dc, image->data(), (u32)image->size(), &area, &line, Grey, 0);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(s.At(3 + x, 4 + y), colours[index(x, y)]) << x << "," << y;
    EXPECT_EQ(s.At(2, 4), Untouched);
    EXPECT_EQ(s.At(15, 7), HalfGrey);
    EXPECT_EQ(s.At(16, 19), White);
    EXPECT_EQ(s.At(14, 7), Untouched);
  }
  // A damaged image draws nothing, the line still.
  Surface s(20, 20);
  RECT area = {0, 0, 6, 5}, line = {0, 18, 20, 20};
  DrawPaneImage(s.dc, indexed.data(), (u32)indexed.size() - 1, &area, &line, Grey, 1);
  EXPECT_EQ(s.At(0, 0), Untouched);
  EXPECT_EQ(s.At(10, 18), HalfGrey);
  EXPECT_EQ(s.At(10, 19), White);
}

}  // namespace
