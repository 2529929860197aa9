// The structural checks of bitmaps inside package records and the lookup of
// wizard images by number.
#include <gtest/gtest.h>

#include <functional>

#include "base/records.h"
#include "tests/support/package_bytes.h"

using namespace pkgbytes;

namespace {

struct DibCase {
  const char* name;
  Bytes dib;
  DibTableRule rule;
  bool passes;
  u32 pixelsOffset;  // when it passes
};

Bytes Changed(Bytes b, const std::function<void(Bytes&)>& change) {
  change(b);
  return b;
}

TEST(Dib, ChecksEveryPartOfTheBitmap) {
  const DibTableRule pane = DibTableUpToEightBits, file = DibTableAlways;
  const Bytes eight = Dib(4, 3, 8);  // 256 colours, rows of 4 bytes
  const DibCase cases[] = {
      {"1 bit", Dib(9, 2, 1), pane, true, 48},
      {"4 bits, 3 colours", Dib(3, 3, 4, 3), pane, true, 52},
      {"8 bits", eight, pane, true, 40 + 1024},
      {"16 bits", Dib(3, 1, 16), pane, true, 40},
      {"24 bits, top-down", Dib(5, -7, 24), pane, true, 40},
      {"32 bits", Dib(1, 1, 32), pane, true, 40},
      {"largest sides", Changed(Dib(1, 1, 1), [](Bytes& b) { SetU32(b, 4, 32767); SetU32(b, 8, (u32)-1); b.resize(48 + 4096); }), pane, true, 48},
      // A bitmap file keeps the colours used before the rows at any depth.
      {"24 bits with colours used, wizard image", Changed(Dib(2, 2, 24), [](Bytes& b) { SetU32(b, 32, 2); b.resize(b.size() + 8); }), pane, true, 40},
      {"24 bits with colours used, bitmap file", Changed(Dib(2, 2, 24), [](Bytes& b) { SetU32(b, 32, 2); b.resize(b.size() + 8); }), file, true, 48},
      {"24 bits with colours used beyond the end", Changed(Dib(2, 2, 24), [](Bytes& b) { SetU32(b, 32, 2); }), file, false, 0},
      {"header cut short", Bytes(eight.begin(), eight.begin() + 39), pane, false, 0},
      {"colour table cut short", Bytes(eight.begin(), eight.begin() + 40 + 1000), pane, false, 0},
      {"last pixel row one byte short", Bytes(eight.begin(), eight.end() - 1), pane, false, 0},
      {"another header size", Changed(eight, [](Bytes& b) { SetU32(b, 0, 108); }), pane, false, 0},
      {"width 0", Changed(eight, [](Bytes& b) { SetU32(b, 4, 0); }), pane, false, 0},
      {"negative width", Changed(eight, [](Bytes& b) { SetU32(b, 4, (u32)-4); }), pane, false, 0},
      {"width 32768", Changed(eight, [](Bytes& b) { SetU32(b, 4, 32768); b.resize(40 + 1024 + 32768 * 3); }), pane, false, 0},
      {"height 0", Changed(eight, [](Bytes& b) { SetU32(b, 8, 0); }), pane, false, 0},
      {"height -32768", Changed(eight, [](Bytes& b) { SetU32(b, 8, (u32)-32768); }), pane, false, 0},
      {"rows beyond the end", Changed(eight, [](Bytes& b) { SetU32(b, 8, 32767); }), pane, false, 0},
      {"sides whose rows need almost 4 GB", Changed(Dib(1, 1, 32), [](Bytes& b) { SetU32(b, 4, 32767); SetU32(b, 8, 32767); }), pane, false, 0},
      {"two planes", Changed(eight, [](Bytes& b) { SetU16(b, 12, 2); }), pane, false, 0},
      {"compressed rows", Changed(eight, [](Bytes& b) { SetU32(b, 16, 1); }), pane, false, 0},
      {"colour masks", Changed(Dib(2, 2, 32), [](Bytes& b) { SetU32(b, 16, 3); }), pane, false, 0},
      {"2 bits per pixel", Changed(eight, [](Bytes& b) { SetU16(b, 14, 2); }), pane, false, 0},
      {"more colours than the depth has", Changed(eight, [](Bytes& b) { SetU32(b, 32, 257); b.resize(b.size() + 4); }), pane, false, 0},
  };
  for (const DibCase& c : cases) {
    SCOPED_TRACE(c.name);
    DibInfo info = {};
    ASSERT_EQ(CheckDib(c.dib.data(), (u32)c.dib.size(), c.rule, &info), c.passes);
    if (c.passes) EXPECT_EQ(info.pixelsOffset, c.pixelsOffset);
  }
  DibInfo info;
  ASSERT_TRUE(CheckDib(Dib(5, -7, 24).data(), 40 + 7 * 16, pane, &info));
  EXPECT_EQ(info.width, 5);
  EXPECT_EQ(info.height, -7);
  EXPECT_EQ(info.bitCount, 24u);
  EXPECT_EQ(info.colours, 0u);
}

TEST(ImageTable, FindsImagesByNumber) {
  Bytes table = ImageTablePayload({Dib(2, 2, 8), {}, Dib(1, 1, 24)});
  RecordView view = {table.data(), (u32)table.size()}, image;
  ASSERT_TRUE(CheckImageTable(view));
  ASSERT_TRUE(ImageTableImage(view, 1, &image));
  EXPECT_EQ(image.data, table.data() + 16);
  EXPECT_EQ(image.length, table.size() - 16);
  ASSERT_TRUE(ImageTableImage(view, 3, &image));
  EXPECT_EQ(image.length, 40u + 4);
  for (u32 number : {0u, 2u, 4u, 0xFFFFFFFFu}) EXPECT_FALSE(ImageTableImage(view, number, &image)) << number;

  // The count claims more slots than the table holds: no number reads beyond.
  SetU32(table, 0, 1000);
  view = {table.data(), (u32)table.size()};
  EXPECT_FALSE(CheckImageTable(view));
  EXPECT_FALSE(ImageTableImage(view, 300, &image));  // its slot would lie beyond the end
  EXPECT_FALSE(ImageTableImage(view, 1000, &image));
  EXPECT_TRUE(ImageTableImage(view, 1, &image));
  EXPECT_FALSE(ImageTableImage({table.data(), 3}, 1, &image));
}

TEST(PictureRecords, TitleAndStyle) {
  Bytes title = Text("Title");
  EXPECT_TRUE(CheckBackdropTitle({title.data(), (u32)title.size()}));
  EXPECT_FALSE(CheckBackdropTitle({title.data(), (u32)title.size() - 1}));
  Bytes style = TitleStylePayload(0, 0);
  EXPECT_TRUE(CheckTitleStyle({style.data(), 72}));
  EXPECT_FALSE(CheckTitleStyle({style.data(), 71}));
  Bytes picture = PicturePayload(Dib(3, 3, 24));
  EXPECT_TRUE(CheckBackdropPicture({picture.data(), (u32)picture.size()}));
  EXPECT_FALSE(CheckBackdropPicture({picture.data(), (u32)picture.size() - 1}));
  EXPECT_FALSE(CheckBackdropPicture({picture.data(), 14}));
}

}  // namespace
