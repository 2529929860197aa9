// The standard layout as bytes of the layout record, and the default texts
// every page of it shows.
#include <set>

#include "builder/layout.h"
#include "builder/project.h"
#include "builder/texts.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;

namespace {

struct Rect {
  i32 left, top, right, bottom;
};

struct Control {
  u16 kind, id;
  u32 style, flags;
  Rect r;
};

// The control entries of a table, read at fixed offsets of the format.
std::vector<Control> ReadControls(const Bytes& record, u32 offset, u32 count) {
  std::vector<Control> out;
  EXPECT_LE((uint64_t)offset + (uint64_t)count * 32, record.size());
  if ((uint64_t)offset + (uint64_t)count * 32 > record.size()) return out;
  for (u32 i = 0; i < count; ++i) {
    const u8* c = record.data() + offset + 32 * i;
    out.push_back({ReadU16(c), ReadU16(c + 2), ReadU32(c + 4), ReadU32(c + 12),
                   {(i32)ReadU32(c + 16), (i32)ReadU32(c + 20), (i32)ReadU32(c + 24), (i32)ReadU32(c + 28)}});
  }
  return out;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Every control lies inside its pane, has a size, and covers no other one.
void CheckPane(const std::vector<Control>& controls, i32 width, i32 height, const std::string& what) {
  for (size_t i = 0; i < controls.size(); ++i) {
    const Rect& r = controls[i].r;
    std::string name = what + " control " + std::to_string(controls[i].id);
    EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height)
        << name << " lies outside its " << width << "x" << height << " pane";
    EXPECT_TRUE(r.right > r.left && r.bottom > r.top) << name << " has no size";
    for (size_t j = 0; j < i; ++j)
      EXPECT_FALSE(Overlap(r, controls[j].r)) << name << " overlaps control " << controls[j].id;
  }
}

std::set<u16> Ids(const std::vector<Control>& controls) {
  std::set<u16> ids;
  for (const Control& c : controls) ids.insert(c.id);
  return ids;
}

setrunc::LoadedProject LoadText(const TempDir& dir, const std::string& text) {
  return setrunc::LoadProjectText(text, "layout.toml", dir.path(), {});
}

class StandardLayout : public ::testing::TestWithParam<const char*> {
 protected:
  TempDir dir;
};

// The ids each page kind works with (the page procedures look them up).
const std::set<u16> PageIds[7] = {
    {1000, 1001, 1002, 1003},
    {1000},
    {1000, 1001, 1002, 1003},
    {1000, 1001, 1002, 1003, 1004, 1005, 1016, 1017, 1018, 1019},
    {1000, 1001, 1002, 1003},
    {1000, 1001, 1008, 1009, 1010},
    {1000, 1001, 1002, 1014, 1015},
};

TEST_P(StandardLayout, EveryPageIsCompleteAndFitsItsPanes) {
  setrunc::LoadedProject p = LoadText(dir, std::string("[layout]\n") + GetParam() + "\n[[group]]\n");
  const setrunc::Layout& layout = p.project.layout;
  Bytes record = setrunc::EncodeLayout(layout);
  const i32 width = (i32)ReadU32(&record[12]), height = (i32)ReadU32(&record[16]);
  const i32 bar = (i32)ReadU32(&record[88]);
  EXPECT_EQ(width, layout.frameWidth);
  EXPECT_STREQ((const char*)&record[24 + 28], "Segoe UI");

  // The first page entry follows the 170-byte header; its page controls
  // follow its 56 bytes.
  EXPECT_EQ(ReadU32(&record[126]), 170u);
  for (u32 kind = 0; kind < 11; ++kind) {
    u32 at = ReadU32(&record[126 + 4 * kind]);
    if (kind > 6) {
      EXPECT_EQ(at, 0u) << kind;
      continue;
    }
    ASSERT_NE(at, 0u) << kind;
    ASSERT_LE(at + 56, record.size());
    const u8* page = &record[at];
    const i32 side = (i32)ReadU32(page + 16), header = (i32)ReadU32(page + 28);
    EXPECT_EQ(ReadU32(page + 48), 56u);
    std::vector<Control> controls = ReadControls(record, at + ReadU32(page + 48), ReadU16(page + 44));
    std::vector<Control> headerControls =
        ReadControls(record, at + ReadU32(page + 52), ReadU16(page + 46));
    std::string name = std::string(GetParam()) + " page " + std::to_string(kind);
    CheckPane(controls, width - side, height - bar - header, name);
    CheckPane(headerControls, width - side, header, name + " header");
    EXPECT_EQ(Ids(controls), PageIds[kind]) << name;
    // Welcome and finish show the side pane, the others the header with the
    // title and subtitle.
    bool sidePage = kind == PageWelcome || kind == PageFinish;
    EXPECT_EQ(side > 0, sidePage) << name;
    EXPECT_EQ(header > 0, !sidePage) << name;
    if (!sidePage) {
      EXPECT_EQ(Ids(headerControls), (std::set<u16>{1046, 1047})) << name;
    }
    for (const Control& c : controls) {
      // A text box that scrolls must take focus: the input-box flag.
      if (c.kind == ControlRichText && (c.style & 0x00200000)) {
        EXPECT_EQ(c.flags, ControlFlagInputBox) << name << " control " << c.id;
      }
    }
  }
  u32 count = ReadU32(&record[92]);
  std::vector<Control> buttons = ReadControls(record, ReadU32(&record[96]), count);
  CheckPane(buttons, width, bar, std::string(GetParam()) + " button bar");
  EXPECT_EQ(Ids(buttons), (std::set<u16>{1, 2, 1045}));
  EXPECT_EQ(ReadU32(&record[20]), ButtonBarEtchedLine | ButtonBarKeepVisualStyles);
}

INSTANTIATE_TEST_SUITE_P(Modes, StandardLayout,
                         ::testing::Values("", "flags = [\"fullscreen\", \"gradient\"]",
                                           "frame_width = 640\nframe_height = 480\nbutton_bar_height = 56"));

TEST(DefaultTexts, EveryTextTheWizardShowsIsThere) {
  setrunc::TextGroups t = setrunc::DefaultTexts("Tool 1.4 Setup", "Tool 1.4", "Example Ltd");
  // Left empty on purpose: the information and licence texts come from the
  // project, 1/3 would relabel Next, 3/4, 3/5, 4/4 and 5/3 are spare lines,
  // 6/9 would ask for a restart every time, 8/4 is not used.
  const std::set<std::string> empty = {"1/2", "1/3", "2/2", "3/4", "3/5", "4/4", "5/3", "6/9", "8/4"};
  const char* used[] = {
      "0/2", "0/3", "0/4", "0/5", "1/0", "1/1", "2/0", "2/1", "2/3", "2/4", "2/5", "3/0", "3/1",
      "3/2", "3/3", "3/6", "3/7", "3/8", "4/0", "4/1", "4/2", "4/3", "4/5", "5/0", "5/1", "5/2",
      "6/2", "6/3", "6/4", "6/5", "6/6", "6/7", "6/8", "7/0", "7/1", "7/4", "7/5", "7/6", "7/7",
      "7/11", "7/12", "7/13", "7/14", "7/15", "7/16", "7/17", "7/18", "7/19", "7/21", "7/22",
      "7/28", "7/29", "7/30", "7/31", "7/32", "8/0", "8/1", "8/2", "8/3", "8/5", "8/6"};
  for (const char* key : used) {
    unsigned g, n;
    ASSERT_TRUE(setrunc::ParseTextKey(key, &g, &n));
    ASSERT_LT(n, t[g].size()) << key;
    EXPECT_FALSE(t[g][n].empty()) << key;
  }
  for (const std::string& key : empty) {
    unsigned g, n;
    ASSERT_TRUE(setrunc::ParseTextKey(key, &g, &n));
    EXPECT_EQ(t[g][n], "") << key;
  }
  EXPECT_EQ(t[7][0], "Tool 1.4 Setup");
  EXPECT_NE(t[0][2].find("Tool 1.4"), std::string::npos);
  EXPECT_NE(t[0][3].find("by Example Ltd"), std::string::npos);
}

}  // namespace

namespace {

TEST(DescribeLayout, ListsPagesAndControlsAndNamesDamagedEntries) {
  TempDir dir;
  Bytes record = setrunc::EncodeLayout(LoadText(dir, "[[group]]\n").project.layout);
  std::string text = setrunc::DescribeLayoutPages(record.data(), (u32)record.size());
  for (const char* expected :
       {"0 welcome (offset 170)", "side pane: width 164, background #0067C0, image 1",
        "header: height 68, background #FFFFFF, text #1A1A1A, image 2",
        "1005 browse: button (kind 3) at 496,101 size 40x26", "1002 agree: radio button",
        "button bar controls (3):", "1 next: button (kind 3)"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  // A page entry and a control table that leave the record are named, not read.
  WriteU32(&record[126 + 4 * 6], (u32)record.size() - 10);
  WriteU16(&record[ReadU32(&record[126 + 4 * 5]) + 44], 60000);
  text = setrunc::DescribeLayoutPages(record.data(), (u32)record.size());
  EXPECT_NE(text.find("6 finish: entry at offset"), std::string::npos) << text;
  EXPECT_NE(text.find("(60000 controls at offset"), std::string::npos) << text;
}

}  // namespace
