// How an installer looks: images converted to the bitmaps the setup program
// draws, the project keys of the layout, the pages and the backdrop, and the
// ten-line project.
#include <stb_image_write.h>

#include "builder/backdrop.h"
#include "builder/images.h"
#include "builder/project.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;
using setrunc::BuildError;
using setrunc::LoadedProject;

namespace {

Bytes Png(int w, int h, const std::vector<u8>& rgba) {
  Bytes out;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        Bytes* b = (Bytes*)context;
        b->insert(b->end(), (u8*)data, (u8*)data + size);
      },
      &out, w, h, 4, rgba.data(), w * 4);
  return out;
}

// A 2 x 2 picture: red, green / blue, transparent white.
Bytes SmallPng() {
  return Png(2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 0});
}

// A 2 x 1 24-bit BMP file, rows bottom-up, blue-green-red.
Bytes SmallBmp() {
  Bytes b = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
             40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0,
             0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
             1, 2, 3, 4, 5, 6, 0, 0};
  return b;
}

Bytes Header(u32 width, u32 height, u32 imageSize) {
  Bytes h(40, 0);
  WriteU32(&h[0], 40);
  WriteU32(&h[4], width);
  WriteU32(&h[8], height);
  WriteU16(&h[12], 1);
  WriteU16(&h[14], 24);
  WriteU32(&h[20], imageSize);
  WriteU32(&h[24], 3780);
  WriteU32(&h[28], 3780);
  return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Images, PngAndBmpBecomeBottomUpBitmaps) {
  // Transparent pixels take the background colour 0x00102030 (red 0x30).
  Bytes fromPng = setrunc::PackedBitmap(setrunc::DecodeImage(SmallPng(), 0x00102030));
  EXPECT_EQ(fromPng, Concat(Header(2, 2, 16), {255, 0, 0, 0x10, 0x20, 0x30, 0, 0,  // bottom row
                                               0, 0, 255, 0, 255, 0, 0, 0}));
  Bytes fromBmp = setrunc::PackedBitmap(setrunc::DecodeImage(SmallBmp(), SystemColour));
  EXPECT_EQ(fromBmp, Concat(Header(2, 1, 8), {1, 2, 3, 4, 5, 6, 0, 0}));
  // The backdrop picture is a bitmap file: 14-byte header in front.
  Bytes file = setrunc::BitmapFile(setrunc::DecodeImage(SmallBmp(), SystemColour));
  EXPECT_EQ(file, Concat({'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}, fromBmp));
}

class Appearance : public ::testing::Test {
 protected:
  TempDir dir;
  LoadedProject Load(const std::string& text) {
    return setrunc::LoadProjectText(text, "look.toml", dir.path(), {});
  }
  std::string Error(const std::string& text) {
    try {
      Load(text);
    } catch (const BuildError& e) {
      return e.what();
    }
    return "";
  }
  const setrunc::ControlSpec* Find(const std::vector<setrunc::ControlSpec>& controls, u16 id) {
    for (const setrunc::ControlSpec& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  }
};

TEST_F(Appearance, TenLinesMakeACompleteInstaller) {
  WriteFile(dir / "licence.txt", "\xEF\xBB\xBFTerms\nof use \xE2\x82\xAC");
  WriteFile(dir / "tool.exe", "MZ");
  LoadedProject p = Load(R"(product = "Tool"
version = "1.4"
publisher = "Example Ltd"
[[group]]
licence = "licence.txt"
[[group.file]]
source = "tool.exe"
)");
  const setrunc::Group& g = p.project.groups[0];
  EXPECT_EQ(g.texts[7][0], "Tool 1.4 Setup");
  EXPECT_EQ(*g.defaultFolder, "#Program Files#\\Tool");
  EXPECT_EQ(*g.displayName, "Tool");
  EXPECT_EQ(g.texts[2][2], "Terms\r\nof use \x80");
  EXPECT_EQ(g.pages, (std::vector<u8>{PageWelcome, PageLicence, PageInstallFolder, PageReady, PageInstalling,
                                      PageFinish}));
  // The side banner and the header emblem, drawn in the accent colour.
  ASSERT_TRUE(p.project.imageTable);
  const Bytes& table = *p.project.imageTable;
  ASSERT_EQ(ReadU32(&table[0]), 2u);
  const setrunc::PageSpec& welcome = *p.project.layout.pages.entries[PageWelcome];
  const setrunc::PageSpec& folder = *p.project.layout.pages.entries[PageInstallFolder];
  const u8* side = &table[ReadU32(&table[4 * welcome.sideImage])];
  const u8* emblem = &table[ReadU32(&table[4 * folder.headerImage])];
  EXPECT_EQ(ReadU32(side + 4), 164u);
  EXPECT_EQ(ReadU32(side + 8), 420u - 48u);
  EXPECT_EQ(ReadU32(emblem + 4), 48u);
  EXPECT_EQ(p.project.layout.flags & LayoutFlagFullScreen, 0u);
  EXPECT_FALSE(p.project.backdropTitle);  // a windowed backdrop shows no title
}

TEST_F(Appearance, PicturesArePackedAlsoWhenFilesAreStored) {
  LoadedProject p = Load("compression = 0\n[[group]]\n");
  setrunc::Installer installer =
      setrunc::AssembleInstaller(p.project, DummyStub(), setrunc::PackFiles(p.project, dir.path()));
  bool found = false;
  for (u32 at : installer.recordOffsets) {
    if (ReadU16(&installer.head[at]) != RecordImageTable) continue;
    found = true;
    EXPECT_EQ(ReadU16(&installer.head[at + 2]), RecordCompressed);
    EXPECT_LT(ReadU32(&installer.head[at + 4]), 20000u);  // 190 KB of bitmaps
  }
  EXPECT_TRUE(found);
}

TEST_F(Appearance, ProjectsMoveChangeAddAndRemoveControls) {
  WriteFile(dir / "logo.png", SmallPng());
  LoadedProject p = Load(R"(
[layout]
accent = "#2E7D32"
header_image = "logo.png"
[layout.pages.all]
header_colour = "#F3F8F3"
[layout.pages.welcome]
side_image = false
flags = ["side_line"]
[layout.pages.folder.controls.browse]
rect = [400, 101, 536, 127]
[layout.pages.folder.controls.folder]
right = 392
[layout.pages.folder.controls.space_free]
remove = true
[layout.pages.installing.controls.progress_group]
kind = "group_box"
rect = [12, 56, 548, 116]
[layout.pages.ready.controls.subtitle]
move = [0, 4]
[layout.buttons.back]
move = [-10, 0]
[[group]]
)");
  const setrunc::Layout& l = p.project.layout;
  const setrunc::PageSpec& folder = *l.pages.entries[PageInstallFolder];
  EXPECT_EQ(folder.headerBackground, 0x00F3F8F3u);
  const setrunc::ControlSpec* browse = Find(folder.controls, ControlIdBrowse);
  ASSERT_TRUE(browse);
  EXPECT_EQ(browse->left, 400);
  EXPECT_EQ(browse->right, 536);
  EXPECT_EQ(Find(folder.controls, ControlIdFolder)->right, 392);
  EXPECT_FALSE(Find(folder.controls, ControlIdSpaceFree));
  // The title stops short of the 2-pixel wide header image, not of the 48-pixel emblem.
  EXPECT_GT(Find(folder.headerControls, ControlIdPageTitle)->right, 560 - 48 - 24);
  const setrunc::ControlSpec* group = Find(l.pages.entries[PageInstalling]->controls, ControlIdProgressGroup);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->kind, ControlGroupBox);
  EXPECT_EQ(group->style, 0x50000007u);
  const setrunc::ControlSpec* subtitle = Find(l.pages.entries[PageReady]->headerControls, ControlIdPageSubtitle);
  EXPECT_EQ(subtitle->top, 34);
  EXPECT_EQ(Find(l.pages.entries[PageInformation]->headerControls, ControlIdPageSubtitle)->top, 30);
  EXPECT_EQ(l.pages.entries[PageWelcome]->sideImage, 0u);
  EXPECT_EQ(l.pages.entries[PageWelcome]->flags, PageFlagSideLine);
  EXPECT_EQ(l.pages.entries[PageWelcome]->sideBackground, 0x00327D2Eu);
  // One image in the table: the logo, laid over the header colour, shared by
  // the five header pages (the finish page's side banner is the only other).
  ASSERT_TRUE(p.project.imageTable);
  EXPECT_EQ(ReadU32(&(*p.project.imageTable)[0]), 2u);
  EXPECT_EQ(folder.headerImage, l.pages.entries[PageReady]->headerImage);
  EXPECT_EQ(l.pages.entries[PageInstallFolder]->controls.size(), 9u);
  EXPECT_EQ(l.pages.entries[PageInstalling]->controls.size(), 6u);
  EXPECT_EQ(Find(l.pages.buttonBar, ControlIdBack)->left, 250);
}

TEST_F(Appearance, MistakesNameTheFileLineAndKey) {
  Bytes png = SmallPng();
  WriteFile(dir / "broken.png", Bytes(png.begin(), png.begin() + 40));
  WriteFile(dir / "notes.txt", "not a picture");
  struct Case {
    std::string project, where, message;
  } cases[] = {
      {"[layout]\nheader_image = \"broken.png\"\n[[group]]\n", "look.toml:2:16: layout.header_image: ",
       "broken.png is damaged"},
      {"[layout.pages.finish]\nside_image = \"notes.txt\"\n[[group]]\n", "look.toml:2:14: layout.pages.finish.side_image: ",
       "notes.txt is not a PNG or BMP file"},
      {"[backdrop]\npicture = \"missing.png\"\n[[group]]\n", "look.toml:2:11: backdrop.picture: ", "missing.png"},
      {"[layout.pages.folder.controls.browse]\nright = 900\n[[group]]\n", "look.toml:1:1: layout.pages.folder: ",
       "control 1005 (browse) at 496,101 to 900,127 does not fit into the page of 560 x 304 pixels"},
      {"[layout.pages.folder.controls.gadget]\nkind = \"static\"\n[[group]]\n",
       "look.toml:1:1: layout.pages.folder.controls.gadget: ", "give its 'id'"},
      {"[layout.pages.ready.controls.1234]\nstyle = 1\n[[group]]\n", "look.toml:1:1: layout.pages.ready.controls.1234: ",
       "needs 'kind' and its position"},
      {"[layout.pages.ready.controls.percent]\nremove = true\n[[group]]\n", "layout.pages.ready.controls.percent: ",
       "no such control here to remove"},
      {"[backdrop]\nplacement = \"middle\"\n[[group]]\n", "look.toml:2:13: backdrop.placement: ", "unknown placement"},
      {"version = \"1.0\"\n[[group]]\n", "look.toml:1:11: version: ", "needs 'product'"},
      {"[[group]]\nlicence = \"l.txt\"\ntexts = { \"2/2\" = \"x\" }\n", "look.toml:2:11: group[0].licence: ",
       "given twice"},
  };
  for (const Case& c : cases) {
    std::string error = Error(c.project);
    EXPECT_NE(error.find(c.where), std::string::npos) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST_F(Appearance, FullScreenBackdropWithPicturesAndTitle) {
  WriteFile(dir / "logo.bmp", SmallBmp());
  LoadedProject p = Load(R"(product = "Tool"
[layout]
flags = ["fullscreen"]
accent = "#204080"
[backdrop]
picture = { file = "logo.bmp", screens = [[1024, 768], [1920, 1080]] }
placement = "bottom_right"
title_align = "right"
title_font = { face = "Segoe UI Light", height = -44 }
[[group]]
)");
  const setrunc::Project& pr = p.project;
  // Accent gradient, the placement bits, and the two scaled variants.
  EXPECT_EQ(pr.layout.flags, LayoutFlagFullScreen | LayoutFlagGradient | LayoutFlagRight | LayoutFlagBottom);
  EXPECT_EQ(pr.layout.colourA, 0x00733A1Du);
  ASSERT_EQ(pr.backdropPictures.size(), 2u);
  EXPECT_EQ(pr.backdropPictures[1].screenWidth, 1920);
  EXPECT_EQ(ReadU32(&pr.backdropPictures[1].bitmapFile[14 + 4]), 1920u);
  EXPECT_EQ(ReadU32(&pr.backdropPictures[1].bitmapFile[14 + 8]), 1080u);
  ASSERT_TRUE(pr.backdropTitle);
  EXPECT_EQ(*pr.backdropTitle, "Tool");
  ASSERT_TRUE(pr.titleStyle);
  EXPECT_EQ(ReadU32(&(*pr.titleStyle)[4]), 0x00FFFFFFu);
  EXPECT_EQ(ReadU32(&(*pr.titleStyle)[8]), 1u);
  EXPECT_EQ((i32)ReadU32(&(*pr.titleStyle)[12]), -44);
  EXPECT_STREQ((const char*)&(*pr.titleStyle)[12 + 28], "Segoe UI Light");

  // In the package: the resolution list, then one record per variant, the
  // title and the style, all read back by the setup program's own loader.
  std::vector<Bytes> records = setrunc::EncodeBackdropRecords(pr, 0);
  ASSERT_EQ(records.size(), 5u);
  const u16 types[] = {RecordResolutionList, RecordBackdropImage, RecordBackdropImage, RecordBackdropTitle,
                       RecordTitleStyle};
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(ReadU16(&records[i][0]), types[i]) << i;
}

TEST_F(Appearance, TransparentPixelsTakeTheGradientBehindThem) {
  // Black to white over 768 rows: row 384 is a quarter of the way.
  EXPECT_EQ(setrunc::GradientRow(0, 0x00FFFFFF, 0, 768), 0u);
  EXPECT_EQ(setrunc::GradientRow(0, 0x00FFFFFF, 384, 768), 0x003F3F3Fu);
  EXPECT_EQ(setrunc::GradientRow(0, 0x00FFFFFF, 768, 768), 0x00FFFFFFu);
  // The 2 x 2 picture at the bottom of a 4-row screen covers rows 2 and 3;
  // its transparent pixel (bottom right) lies on row 3: 9/16 of the way.
  WriteFile(dir / "logo.png", SmallPng());
  LoadedProject p = Load(R"(
[layout]
flags = ["fullscreen"]
[backdrop]
colours = ["#000000", "#FFFFFF"]
pictures = [{ file = "logo.png", screen = [4, 4] }]
placement = "bottom"
title = false
[[group]]
)");
  ASSERT_EQ(p.project.backdropPictures.size(), 1u);
  const Bytes& file = p.project.backdropPictures[0].bitmapFile;
  const u8* bottomRow = &file[14 + 40];
  EXPECT_EQ(Bytes(bottomRow, bottomRow + 6), Bytes({255, 0, 0, 143, 143, 143}));
  EXPECT_FALSE(p.project.backdropTitle);
}

}  // namespace

namespace {

TEST(Examples, TheMinimalAndTheCustomProjectBuild) {
  const std::string root = SETRUN_SOURCE_DIR "/examples/";
  TempDir dir;
  for (const char* name : {"minimal", "custom"}) {
    LoadedProject p = setrunc::LoadProjectFile(root + name + "/project.toml", {});
    EXPECT_TRUE(p.warnings.empty()) << name << ": " << p.warnings[0];
    setrunc::BuildInstaller(p.project, DummyStub(), dir / "setup.exe");
    EXPECT_EQ(p.project.groups[0].pages.front(), PageWelcome);
  }
  // Ten lines, blank lines included.
  std::ifstream minimal(root + "minimal/project.toml");
  int lines = 0;
  for (std::string line; std::getline(minimal, line);) ++lines;
  EXPECT_LE(lines, 10);
}

}  // namespace
