#include "builder/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "builder/model.h"

namespace setrunc {

namespace {

// The standard layout is drawn for 96 DPI with "Segoe UI" 9 pt (a line of
// text is about 16 pixels high). Every text box leaves a few pixels over that
// for the wider and taller fonts a system without Segoe UI substitutes.
const i32 Margin = 24;         // left and right edge of the page contents
const i32 HeaderHeight = 68;
const i32 HeaderImageSize = StandardEmblemSize;
const i32 SideWidth = 164;
const i32 ButtonWidth = 88, ButtonHeight = 26;

const u32 Label = win::Child | win::Visible | win::EsMultiline | win::EsReadOnly;
const u32 InputBox = win::Child | win::Visible | win::TabStop | win::VScroll | win::EsMultiline |
                     win::EsReadOnly | win::EsAutoVScroll;
const u32 Plain = win::Child | win::Visible | win::SsNoPrefix;
const u32 Button = win::Child | win::Visible | win::TabStop;

ControlSpec Make(u16 kind, u16 id, u32 style, i32 left, i32 top, i32 right, i32 bottom,
                 u32 exStyle = 0, u32 flags = 0) {
  ControlSpec c;
  c.kind = kind;
  c.id = id;
  c.style = style;
  c.exStyle = exStyle;
  c.flags = flags;
  c.left = left;
  c.top = top;
  c.right = right;
  c.bottom = bottom;
  c.name = ControlName(id);
  return c;
}

ControlSpec RichLabel(u16 id, i32 left, i32 top, i32 right, i32 bottom) {
  return Make(ControlRichText, id, Label, left, top, right, bottom);
}

// A scrolling rich-text box that takes focus (licence, information).
ControlSpec RichBox(u16 id, i32 left, i32 top, i32 right, i32 bottom) {
  return Make(ControlRichText, id, InputBox, left, top, right, bottom, win::ExClientEdge,
              ControlFlagInputBox);
}

}  // namespace

void SetStandardHeader(Layout* l) {
  l->frameWidth = 560;
  l->frameHeight = 420;
  l->buttonBarHeight = 48;
  l->buttonBarFlags = ButtonBarEtchedLine | ButtonBarKeepVisualStyles;
  l->buttonBarColour = SystemColour;
  LogFont f;
  f.faceName = "Segoe UI";
  f.height = -12;  // 9 pt at 96 DPI
  f.weight = 400;
  f.charSet = 1;            // DEFAULT_CHARSET
  f.quality = 5;            // CLEARTYPE_QUALITY
  f.pitchAndFamily = 0x22;  // VARIABLE_PITCH | FF_SWISS: a sans-serif stands in
  l->font = f;
}

PageSpec StandardPage(unsigned kind, const StandardColours& c, u32 sideImage, u32 headerImage) {
  PageSpec p;
  p.background = c.page;
  p.textColour = c.text;
  p.editBackground = c.page;
  if (kind == PageWelcome || kind == PageFinish) {
    // A side pane with its image at the left, no header.
    p.sideWidth = SideWidth;
    p.sideBackground = c.accent;
    p.sideImage = sideImage;
  } else {
    // The title and subtitle in a header with the header image at its right.
    p.headerHeight = HeaderHeight;
    p.headerBackground = c.header;
    p.headerTextColour = c.text;
    p.headerImage = headerImage;
    p.flags = PageFlagHeaderLine | PageFlagHeaderImageCentredV | PageFlagHeaderImageRight;
  }
  return p;
}

void LayOutStandardControls(unsigned kind, const Layout& l, i32 headerImageWidth, PageSpec* page) {
  // The page window's size; x runs from Margin to right.
  const i32 pw = l.frameWidth - page->sideWidth;
  const i32 ph = l.frameHeight - l.buttonBarHeight - page->headerHeight;
  const i32 right = pw - Margin;
  page->controls.clear();
  page->headerControls.clear();
  if (page->headerHeight > 0) {
    // Title and subtitle stop short of a right-aligned header image.
    i32 textRight = pw - Margin;
    if (headerImageWidth > 0) {
      i32 gap = std::max(0, (page->headerHeight - HeaderImageSize) / 2);
      textRight = std::min(textRight, pw - headerImageWidth - gap - 16);
    }
    const i32 h = page->headerHeight;
    page->headerControls = {RichLabel(ControlIdPageTitle, Margin, h * 10 / 68, textRight, h * 30 / 68),
                            RichLabel(ControlIdPageSubtitle, Margin, h * 30 / 68, textRight, h * 64 / 68)};
  }
  std::vector<ControlSpec>& c = page->controls;
  switch (kind) {
    case PageWelcome:
      c = {RichLabel(ControlIdText0, Margin, 24, right, 84), RichLabel(ControlIdText1, Margin, 96, right, 150),
           RichLabel(ControlIdText2, Margin, 158, right, 212),
           RichLabel(ControlIdText3, Margin, ph - 58, right, ph - 22)};
      break;
    case PageInformation:
      c = {RichBox(ControlIdText0, Margin, 14, right, ph - 14)};
      break;
    case PageLicence:
      c = {RichBox(ControlIdText0, Margin, 14, right, ph - 92),
           RichLabel(ControlIdText1, Margin, ph - 86, right, ph - 64),
           Make(ControlRadioButton, ControlIdText2, Button | win::Group | win::BsAutoRadioButton, Margin,
                ph - 60, right, ph - 38),
           Make(ControlRadioButton, ControlIdText3, win::Child | win::Visible | win::BsAutoRadioButton,
                Margin, ph - 36, right, ph - 14)};
      c[2].name = ControlName(ControlIdText2, PageLicence);
      c[3].name = ControlName(ControlIdText3, PageLicence);
      break;
    case PageInstallFolder: {
      const i32 browseLeft = right - 40;
      c = {RichLabel(ControlIdText0, Margin, 14, right, 50),
           RichLabel(ControlIdText1, Margin, 58, right, 94),
           Make(ControlEdit, ControlIdFolder, Button | win::EsAutoHScroll, Margin, 102, browseLeft - 8, 126,
                win::ExClientEdge),
           Make(ControlPushButton, ControlIdBrowse, Button, browseLeft, 101, right, 127),
           RichLabel(ControlIdText2, Margin, 138, right, 174),
           RichLabel(ControlIdText3, Margin, 178, right, 214),
           Make(ControlStatic, ControlIdSpaceNeededLabel, Plain, Margin, ph - 60, Margin + 168, ph - 40),
           Make(ControlStatic, ControlIdSpaceNeeded, Plain, Margin + 172, ph - 60, Margin + 340, ph - 40),
           Make(ControlStatic, ControlIdSpaceFreeLabel, Plain, Margin, ph - 36, Margin + 168, ph - 16),
           Make(ControlStatic, ControlIdSpaceFree, Plain, Margin + 172, ph - 36, Margin + 340, ph - 16)};
      break;
    }
    case PageReady:
      c = {RichLabel(ControlIdText0, Margin, 14, right, 50), RichLabel(ControlIdText1, Margin, 58, right, 130),
           RichLabel(ControlIdText2, Margin, 138, right, 210),
           RichLabel(ControlIdText3, Margin, ph - 50, right, ph - 14)};
      break;
    case PageInstalling:
      c = {RichLabel(ControlIdText0, Margin, 14, right, 50),
           Make(ControlStatic, ControlIdCurrentFile, Plain | win::SsEndEllipsis, Margin, 62, right, 82),
           Make(ControlProgressBar, ControlIdProgressBar, win::Child | win::Visible | win::PbsSmooth, Margin,
                88, right - 60, 106),
           Make(ControlStatic, ControlIdPercent, Plain | win::SsRight, right - 52, 87, right, 107),
           RichLabel(ControlIdText1, Margin, 122, right, 158)};
      break;
    case PageFinish:
      // Control 1003 is left out: the finish page empties it in every case.
      // The run-after-setup box moves up to the launch button's top when that
      // button is not shown.
      c = {RichLabel(ControlIdText0, Margin, 24, right, 84), RichLabel(ControlIdText1, Margin, 96, right, 150),
           RichLabel(ControlIdText2, Margin, 158, right, 212),
           Make(ControlPushButton, ControlIdLaunch, Button, Margin, 226, Margin + 240, 252),
           Make(ControlCheckBox, ControlIdRunAfter, Button | win::BsAutoCheckBox, Margin, 262, right, 284)};
      break;
    default:
      break;
  }
}

std::vector<ControlSpec> StandardButtonBar(const Layout& l) {
  // Back and Next side by side at the right, Cancel apart from them.
  const i32 top = (l.buttonBarHeight - ButtonHeight) / 2;
  const i32 cancel = l.frameWidth - 16 - ButtonWidth, next = cancel - 12 - ButtonWidth,
            back = next - 8 - ButtonWidth;
  return {Make(ControlPushButton, ControlIdBack, Button, back, top, back + ButtonWidth, top + ButtonHeight),
          Make(ControlPushButton, ControlIdNext, Button | win::BsDefPushButton, next, top,
               next + ButtonWidth, top + ButtonHeight),
          Make(ControlPushButton, ControlIdCancel, Button, cancel, top, cancel + ButtonWidth,
               top + ButtonHeight)};
}

PageLayouts StandardPages(const Layout& l, const StandardColours& c, u32 sideImage, u32 headerImage) {
  PageLayouts out;
  for (unsigned kind = 0; kind <= PageFinish; ++kind) {
    PageSpec page = StandardPage(kind, c, sideImage, headerImage);
    LayOutStandardControls(kind, l, headerImage ? HeaderImageSize : 0, &page);
    out.entries[kind] = page;
  }
  out.buttonBar = StandardButtonBar(l);
  return out;
}

namespace {

struct IdName {
  const char* name;
  u16 id;
};
// The first name of an id is the one shown.
const IdName ControlNames[] = {
    {"next", ControlIdNext},           {"cancel", ControlIdCancel},
    {"back", ControlIdBack},           {"title", ControlIdPageTitle},
    {"subtitle", ControlIdPageSubtitle}, {"text2", ControlIdText0},
    {"text3", ControlIdText1},         {"text4", ControlIdText2},
    {"text5", ControlIdText3},         {"agree", ControlIdText2},
    {"disagree", ControlIdText3},      {"folder", ControlIdFolder},
    {"browse", ControlIdBrowse},       {"current_file", ControlIdCurrentFile},
    {"progress", ControlIdProgressBar}, {"percent", ControlIdPercent},
    {"progress_group", ControlIdProgressGroup}, {"launch", ControlIdLaunch},
    {"run_after", ControlIdRunAfter},  {"space_needed", ControlIdSpaceNeeded},
    {"space_needed_label", ControlIdSpaceNeededLabel},
    {"space_free_label", ControlIdSpaceFreeLabel}, {"space_free", ControlIdSpaceFree}};

const char* const PageNames[] = {"welcome", "information", "licence", "folder",
                                 "ready",   "installing",  "finish"};

}  // namespace

u16 ControlIdByName(const std::string& name) {
  for (const IdName& n : ControlNames)
    if (name == n.name) return n.id;
  return 0;
}

const char* ControlName(u16 id, int pageKind) {
  if (pageKind == PageLicence && id == ControlIdText2) return "agree";
  if (pageKind == PageLicence && id == ControlIdText3) return "disagree";
  for (const IdName& n : ControlNames)
    if (id == n.id) return n.name;
  return "";
}

int PageKindByName(const std::string& name) {
  for (unsigned k = 0; k < sizeof PageNames / sizeof *PageNames; ++k)
    if (name == PageNames[k]) return (int)k;
  if (name == "license") return PageLicence;
  return -1;
}

const char* PageKindName(unsigned kind) {
  return kind < sizeof PageNames / sizeof *PageNames ? PageNames[kind] : "";
}

void PutLogFont(const LogFont& font, u8* f) {
  if (font.faceName.size() > 31)
    throw BuildError("the font name '" + font.faceName + "' is longer than 31 bytes");
  if (font.faceName.find('\0') != std::string::npos)
    throw BuildError("the font name contains a NUL character");
  std::memset(f, 0, LogFontSize);
  WriteU32(f + 0, (u32)font.height);
  WriteU32(f + 4, (u32)font.width);
  WriteU32(f + 8, (u32)font.escapement);
  WriteU32(f + 12, (u32)font.orientation);
  WriteU32(f + 16, (u32)font.weight);
  f[20] = font.italic;
  f[21] = font.underline;
  f[22] = font.strikeOut;
  f[23] = font.charSet;
  f[24] = font.outPrecision;
  f[25] = font.clipPrecision;
  f[26] = font.quality;
  f[27] = font.pitchAndFamily;
  std::memcpy(f + 28, font.faceName.data(), font.faceName.size());
}

namespace {

void PutControls(const std::vector<ControlSpec>& controls, std::vector<u8>* out) {
  for (const ControlSpec& c : controls) {
    size_t at = out->size();
    out->resize(at + ControlEntrySize);
    u8* p = out->data() + at;
    WriteU16(p + ControlEntryKind, c.kind);
    WriteU16(p + ControlEntryId, c.id);
    WriteU32(p + ControlEntryStyle, c.style);
    WriteU32(p + ControlEntryExStyle, c.exStyle);
    WriteU32(p + ControlEntryFlags, c.flags);
    WriteU32(p + ControlEntryLeft, (u32)c.left);
    WriteU32(p + ControlEntryTop, (u32)c.top);
    WriteU32(p + ControlEntryRight, (u32)c.right);
    WriteU32(p + ControlEntryBottom, (u32)c.bottom);
  }
}

u32 Offset(const std::vector<u8>& record) {
  if (record.size() > 0xFFFFFFF0u) throw BuildError("the layout record is larger than 4 GB");
  return (u32)record.size();
}

}  // namespace

void AppendPageTables(const PageLayouts& layouts, std::vector<u8>* record) {
  if (record->size() < LayoutHeaderSize) throw BuildError("internal error: no layout header");
  for (unsigned kind = 0; kind < layouts.entries.size(); ++kind) {
    const std::optional<PageSpec>& page = layouts.entries[kind];
    if (!page) continue;
    if (page->controls.size() > 0xFFFF || page->headerControls.size() > 0xFFFF)
      throw BuildError(std::string("page ") + PageKindName(kind) + " has more than 65,535 controls");
    const u32 entry = Offset(*record);
    WriteU32(record->data() + LayoutPageTable + 4 * kind, entry);
    record->resize(entry + PageEntrySize);
    u8* p = record->data() + entry;
    WriteU32(p + PageEntryFlags, page->flags);
    WriteU32(p + PageEntryBackground, page->background);
    WriteU32(p + PageEntryTextColour, page->textColour);
    WriteU32(p + PageEntryEditBackground, page->editBackground);
    WriteU32(p + PageEntrySideWidth, (u32)page->sideWidth);
    WriteU32(p + PageEntrySideBackground, page->sideBackground);
    WriteU32(p + PageEntrySideImage, page->sideImage);
    WriteU32(p + PageEntryHeaderHeight, (u32)page->headerHeight);
    WriteU32(p + PageEntryHeaderBackground, page->headerBackground);
    WriteU32(p + PageEntryHeaderTextColour, page->headerTextColour);
    WriteU32(p + PageEntryHeaderImage, page->headerImage);
    WriteU16(p + PageEntryControlCount, (u16)page->controls.size());
    WriteU16(p + PageEntryHeaderControlCount, (u16)page->headerControls.size());
    WriteU32(p + PageEntryControls, PageEntrySize);
    WriteU32(p + PageEntryHeaderControls,
             PageEntrySize + (u32)page->controls.size() * ControlEntrySize);
    PutControls(page->controls, record);
    PutControls(page->headerControls, record);
  }
  if (!layouts.buttonBar.empty()) {
    WriteU32(record->data() + LayoutButtonBarCount, (u32)layouts.buttonBar.size());
    WriteU32(record->data() + LayoutButtonBarControls, Offset(*record));
    PutControls(layouts.buttonBar, record);
  }
}

namespace {

std::string Colour(u32 c) {
  if (c == SystemColour) return "system";
  char s[16];
  std::snprintf(s, sizeof s, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return s;
}

std::string Hex(u32 v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%X", v);
  return s;
}

const char* KindName(u16 kind) {
  switch (kind) {
    case ControlStatic: return "static";
    case ControlEdit: return "edit";
    case ControlPushButton: return "button";
    case ControlCheckBox: return "check box";
    case ControlRadioButton: return "radio button";
    case ControlGroupBox: return "group box";
    case ControlProgressBar: return "progress bar";
    case ControlRichText: return "rich text";
    default: return "not created";
  }
}

// Lists `count` control entries at `offset`, or names the table as damaged.
void DescribeControls(std::ostringstream& s, const u8* record, u32 length, uint64_t offset,
                      u32 count, const char* indent, int pageKind) {
  if (offset > length || (uint64_t)count * ControlEntrySize > length - offset) {
    s << indent << "(" << count << " controls at offset " << offset
      << ": the table does not lie inside the record)\n";
    return;
  }
  for (u32 i = 0; i < count; ++i) {
    const u8* c = record + offset + (uint64_t)i * ControlEntrySize;
    u16 kind = ReadU16(c + ControlEntryKind), id = ReadU16(c + ControlEntryId);
    i32 l = (i32)ReadU32(c + ControlEntryLeft), t = (i32)ReadU32(c + ControlEntryTop);
    i32 r = (i32)ReadU32(c + ControlEntryRight), b = (i32)ReadU32(c + ControlEntryBottom);
    s << indent << id;
    const char* name = ControlName(id, pageKind);
    if (*name) s << " " << name;
    s << ": " << KindName(kind) << " (kind " << kind << ") at " << l << "," << t << " size " << r - l
      << "x" << b - t << ", style " << Hex(ReadU32(c + ControlEntryStyle));
    if (u32 ex = ReadU32(c + ControlEntryExStyle)) s << ", ex style " << Hex(ex);
    if (u32 f = ReadU32(c + ControlEntryFlags)) s << ", flags " << Hex(f) << (f & ControlFlagInputBox ? " (input box)" : "");
    s << "\n";
  }
}

}  // namespace

std::string DescribeLayoutPages(const u8* record, u32 length) {
  std::ostringstream s;
  if (length < LayoutHeaderSize) return "";
  s << "layout pages:\n";
  bool any = false;
  for (u32 kind = 0; kind < PageTableUsedSlots; ++kind) {
    u32 at = ReadU32(record + LayoutPageTable + 4 * kind);
    if (!at) continue;
    any = true;
    s << "  " << kind;
    if (*PageKindName(kind)) s << " " << PageKindName(kind);
    if (at > length || length - at < PageEntrySize) {
      s << ": entry at offset " << at << " does not lie inside the record\n";
      continue;
    }
    const u8* p = record + at;
    i32 side = (i32)ReadU32(p + PageEntrySideWidth), header = (i32)ReadU32(p + PageEntryHeaderHeight);
    s << " (offset " << at << "): flags " << Hex(ReadU32(p + PageEntryFlags)) << ", background "
      << Colour(ReadU32(p + PageEntryBackground)) << ", text " << Colour(ReadU32(p + PageEntryTextColour))
      << ", edit background " << Colour(ReadU32(p + PageEntryEditBackground)) << "\n";
    if (side)
      s << "    side pane: width " << side << ", background " << Colour(ReadU32(p + PageEntrySideBackground))
        << ", image " << ReadU32(p + PageEntrySideImage) << "\n";
    if (header)
      s << "    header: height " << header << ", background "
        << Colour(ReadU32(p + PageEntryHeaderBackground)) << ", text "
        << Colour(ReadU32(p + PageEntryHeaderTextColour)) << ", image "
        << ReadU32(p + PageEntryHeaderImage) << "\n";
    u32 count = ReadU16(p + PageEntryControlCount), headerCount = ReadU16(p + PageEntryHeaderControlCount);
    s << "    page controls (" << count << "):\n";
    DescribeControls(s, record, length, (uint64_t)at + ReadU32(p + PageEntryControls), count, "      ",
                     (int)kind);
    if (headerCount) {
      s << "    header controls (" << headerCount << "):\n";
      DescribeControls(s, record, length, (uint64_t)at + ReadU32(p + PageEntryHeaderControls),
                       headerCount, "      ", (int)kind);
    }
  }
  if (!any) s << "  none\n";
  u32 barCount = ReadU32(record + LayoutButtonBarCount);
  s << "button bar controls (" << barCount << "):\n";
  if (barCount)
    DescribeControls(s, record, length, ReadU32(record + LayoutButtonBarControls), barCount, "  ", -1);
  return s.str();
}

}  // namespace setrunc
