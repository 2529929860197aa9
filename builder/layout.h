// Page layouts of the wizard: the page and control entries of the layout
// record, the built-in standard layout every project starts from, and their
// encoding and description.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"

namespace setrunc {

struct Layout;
struct LogFont;

// One control entry. `name` is the builder's name of the control (for
// messages and `inspect`); it is not stored.
struct ControlSpec {
  u16 kind = 0;
  u16 id = 0;
  u32 style = 0;
  u32 exStyle = 0;
  u32 flags = 0;
  i32 left = 0, top = 0, right = 0, bottom = 0;
  std::string name;
};

// One page entry with its two control tables. Image numbers index the wizard
// image table (0 = none).
struct PageSpec {
  u32 flags = 0;
  u32 background = SystemColour;
  u32 textColour = SystemColour;
  u32 editBackground = SystemColour;
  i32 sideWidth = 0;
  u32 sideBackground = SystemColour;
  u32 sideImage = 0;
  i32 headerHeight = 0;
  u32 headerBackground = SystemColour;
  u32 headerTextColour = SystemColour;
  u32 headerImage = 0;
  std::vector<ControlSpec> controls;        // children of the page window
  std::vector<ControlSpec> headerControls;  // children of the header pane
};

// The pages of a layout record, by page kind (slots 0 to 9 of the page table;
// slot 10 is never used), and the controls of the button bar.
struct PageLayouts {
  std::array<std::optional<PageSpec>, PageTableUsedSlots> entries;
  std::vector<ControlSpec> buttonBar;
};

// Window style bits the standard layout uses (the builder has no windows.h).
namespace win {
const u32 Child = 0x40000000, Visible = 0x10000000, TabStop = 0x00010000, Group = 0x00020000,
          VScroll = 0x00200000;
const u32 ExClientEdge = 0x200;
const u32 EsMultiline = 0x4, EsAutoVScroll = 0x40, EsAutoHScroll = 0x80, EsReadOnly = 0x800;
const u32 BsDefPushButton = 0x1, BsAutoCheckBox = 0x3, BsAutoRadioButton = 0x9;
const u32 SsRight = 0x2, SsNoPrefix = 0x80, SsEndEllipsis = 0x4000;
const u32 PbsSmooth = 0x1;
}  // namespace win

// The colours of the standard layout (COLORREF values).
struct StandardColours {
  u32 accent = 0x00C06700;       // #0067C0: side pane, emblem, backdrop gradient
  u32 page = 0x00FFFFFF;         // page, header and edit background
  u32 text = 0x001A1A1A;         // page and header text
  u32 header = 0x00FFFFFF;
};

// The standard header: frame size, font, button bar. Project keys of
// [layout] change these before the pages are laid out.
void SetStandardHeader(Layout* layout);

// The standard page of `kind` (0 to 6) without its controls: colours and
// panes. Welcome and finish have a side pane showing image `sideImage`, the
// other pages a header showing `headerImage` at its right (0 = none).
PageSpec StandardPage(unsigned kind, const StandardColours& colours, u32 sideImage, u32 headerImage);
// Lays out the standard controls of page `kind` for the frame size, the
// button bar height and the page's own side pane width and header height;
// the title and subtitle stop short of a header image `headerImageWidth`
// pixels wide (0 = none).
void LayOutStandardControls(unsigned kind, const Layout& layout, i32 headerImageWidth, PageSpec* page);
// Back, Next and Cancel at the right of the button bar.
std::vector<ControlSpec> StandardButtonBar(const Layout& layout);
// All seven standard pages and the button bar.
PageLayouts StandardPages(const Layout& layout, const StandardColours& colours, u32 sideImage,
                          u32 headerImage);
// The size of the header emblem the builder draws.
static const i32 StandardEmblemSize = 48;

// Writes a LOGFONTA (60 bytes) at `out`.
void PutLogFont(const struct LogFont& font, u8* out);

// Names of the controls of the standard layout ("browse", "progress", ...)
// and of the page kinds ("welcome", ...); 0 / -1 / "" when unknown. On the
// licence page (`pageKind` 2) 1002 and 1003 are "agree" and "disagree".
u16 ControlIdByName(const std::string& name);
const char* ControlName(u16 id, int pageKind = -1);
int PageKindByName(const std::string& name);
const char* PageKindName(unsigned kind);

// Appends the page entries and button-bar controls behind a 170-byte layout
// header in `record` and fills in the page table and the button-bar fields.
void AppendPageTables(const PageLayouts& pages, std::vector<u8>* record);

// A readable listing of the pages and controls of a decoded layout record
// (for `setrunc inspect`). Entries that do not lie inside the record are
// named as damaged, never read.
std::string DescribeLayoutPages(const u8* record, u32 length);

}  // namespace setrunc
