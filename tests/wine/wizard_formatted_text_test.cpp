// Formatted texts in real controls: the plain text, the character formatting
// the control reports back, links, labels and the notification handler.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "wizard/formatted_text.h"
#include "wizard/markup.h"

namespace {

struct Opened {
  std::string path;
  std::string extension;
};
std::vector<Opened> OpenedTargets;

void RecordOpening(const char* path, const char* extension) {
  OpenedTargets.push_back({path, extension});
}

int SelectionChanges;
HWND ColouredParent;

// The parent passes notifications to the common handler, as every wizard
// dialog procedure does.
LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) {
    if (((NMHDR*)lParam)->code == EN_SELCHANGE) SelectionChanges++;
    return HandleCommonNotify(window, message, wParam, lParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string WindowsFolder() {
  char path[MAX_PATH];
  GetWindowsDirectoryA(path, MAX_PATH);
  return path;
}

class FormattedText : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(nullptr, LoadLibraryA("riched20.dll"));
    ASSERT_NE(nullptr, LoadLibraryA("riched32.dll"));
    WNDCLASSA type = {};
    type.lpfnWndProc = ParentProcedure;
    type.hInstance = GetModuleHandleA(nullptr);
    type.lpszClassName = "FormattedTextParent";
    RegisterClassA(&type);
  }
  void SetUp() override {
    parent = CreateWindowExA(0, "FormattedTextParent", "", WS_POPUP, 0, 0, 500, 400, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, parent);
    OpenLinkTarget = RecordOpening;
    OpenedTargets.clear();
    SelectionChanges = 0;
  }
  void TearDown() override {
    ClearLinks();
    DestroyWindow(parent);
    TextColourForParent = nullptr;
  }
  HWND Control(const char* type, DWORD style = ES_MULTILINE | ES_READONLY) {
    HWND control = CreateWindowExA(0, type, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 400, 200,
                                   parent, (HMENU)(INT_PTR)(1000 + ++controls), nullptr, nullptr);
    EXPECT_NE(nullptr, control) << type;
    // The wizard gives every control its dialog font (the system font is bold).
    SendMessageA(control, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
    return control;
  }
  static std::string Text(HWND control) {
    char text[1000] = "";
    GetWindowTextA(control, text, sizeof text);
    return text;
  }
  // The formatting of the one character at `position`.
  static CHARFORMATA FormatAt(HWND control, LONG position) {
    SendMessageA(control, EM_SETSEL, position, position + 1);
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(control, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&format);
    return format;
  }
  static void Click(HWND control, LONG start, LONG end, UINT mouse = WM_LBUTTONUP) {
    ENLINK link = {};
    link.nmhdr.hwndFrom = control;
    link.nmhdr.idFrom = GetDlgCtrlID(control);
    link.nmhdr.code = EN_LINK;
    link.msg = mouse;
    link.chrg.cpMin = start;
    link.chrg.cpMax = end;
    EXPECT_EQ(0, HandleCommonNotify(GetParent(control), WM_NOTIFY, link.nmhdr.idFrom,
                                    (LPARAM)&link));
  }

  HWND parent = nullptr;
  int controls = 0;
};

TEST_F(FormattedText, RichTextControlsTakeEveryTagAsFormatting) {
  HWND rich = Control("RichEdit20A");
  SetFormattedText(rich, "Plain <b>B</b><i>I</i><u>U</u><s>S</s><red>R</red><blue>L</blue>"
                         "<fontsize=12>F</font>\r\n<green>G</green><B><I>X</I></B>");
  // Each run changes its own attribute only; after the line break the control
  // counts one character for CR LF.
  struct Expected {
    LONG position;
    DWORD effects;
    COLORREF colour;  // CLR_INVALID: the control's own colour
    LONG height;      // 0: not the font size run
  } expected[] = {
      {0, 0, CLR_INVALID, 0},
      {6, CFE_BOLD, CLR_INVALID, 0},
      {7, CFE_ITALIC, CLR_INVALID, 0},
      {8, CFE_UNDERLINE, CLR_INVALID, 0},
      {9, CFE_STRIKEOUT, CLR_INVALID, 0},
      {10, 0, 0x0000FF, 0},
      {11, 0, 0xFF0000, 0},
      {12, 0, CLR_INVALID, 240},
      {14, 0, 0x00FF00, 0},
      {15, CFE_BOLD | CFE_ITALIC, CLR_INVALID, 0},
  };
  const DWORD styles = CFE_BOLD | CFE_ITALIC | CFE_UNDERLINE | CFE_STRIKEOUT;
  CHARFORMATA plain = FormatAt(rich, 0);
  for (const Expected& e : expected) {
    CHARFORMATA format = FormatAt(rich, e.position);
    EXPECT_EQ(e.effects, format.dwEffects & styles) << e.position;
    if (e.colour == CLR_INVALID) EXPECT_TRUE(format.dwEffects & CFE_AUTOCOLOR) << e.position;
    else EXPECT_EQ(e.colour, format.crTextColor) << e.position;
    EXPECT_EQ(e.height ? e.height : plain.yHeight, format.yHeight) << e.position;
  }
  EXPECT_EQ("Plain BIUSRLF\r\nGX", Text(rich));
  // Nothing stays selected.
  CHARRANGE selection;
  SendMessageA(rich, EM_SETSEL, 3, 3);
  SetFormattedText(rich, "<b>x</b>");
  SendMessageA(rich, EM_EXGETSEL, 0, (LPARAM)&selection);
  EXPECT_EQ(selection.cpMin, selection.cpMax);
}

TEST_F(FormattedText, PositionsFollowTheControlsLineBreaks) {
  // Version 2 keeps CR CR LF as one character too, version 1 CR LF as two.
  HWND version2 = Control("RichEdit20A");
  SetFormattedText(version2, "a\r\r\n<b>b</b>c");
  EXPECT_EQ(CFE_BOLD, FormatAt(version2, 2).dwEffects & CFE_BOLD);
  EXPECT_EQ(0u, FormatAt(version2, 3).dwEffects & CFE_BOLD);
  HWND version1 = Control("RICHEDIT");
  SetFormattedText(version1, "a\r\n<b>b</b>c");
  EXPECT_EQ(CFE_BOLD, FormatAt(version1, 3).dwEffects & CFE_BOLD);
  EXPECT_EQ(0u, FormatAt(version1, 4).dwEffects & CFE_BOLD);
}

TEST_F(FormattedText, OtherControlsShowThePlainText) {
  HWND label = Control("STATIC", 0);
  SetFormattedText(label, "<b>Ready</b> to <link=x.txt>install</link> <blue>now</blue> < 5");
  EXPECT_EQ("Ready to install now < 5", Text(label));
  EXPECT_EQ(nullptr, FindLinkTarget(label, 9));
  SetFormattedText(label, nullptr);
  EXPECT_EQ("", Text(label));
  SetFormattedText(nullptr, "<b>x</b>");
}

TEST_F(FormattedText, RichTextLabels) {
  // A read-only label without scrolling or links is disabled; selections in
  // it are collapsed by the parent's handler, but not while it is formatted.
  HWND label = Control("RichEdit20A");
  HWND box = Control("RichEdit20A", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL);
  SendMessageA(label, EM_SETEVENTMASK, 0, ENM_SELCHANGE | ENM_LINK);
  for (HWND control : {label, box}) SetFormattedText(control, "Welcome to <b>Setup</b>");
  EXPECT_FALSE(IsWindowEnabled(label));
  EXPECT_TRUE(IsWindowEnabled(box));
  EXPECT_EQ(ENM_SELCHANGE | ENM_LINK, SendMessageA(label, EM_GETEVENTMASK, 0, 0));
  SendMessageA(label, EM_SETSEL, 0, 7);
  EXPECT_GT(SelectionChanges, 0);
  CHARRANGE selection;
  SendMessageA(label, EM_EXGETSEL, 0, (LPARAM)&selection);
  EXPECT_EQ(selection.cpMin, selection.cpMax);
  SendMessageA(label, EM_SETEVENTMASK, 0, 0);
  EXPECT_EQ(CFE_BOLD, FormatAt(label, 11).dwEffects & CFE_BOLD);
  // With a link the label is enabled again, so that the link can be clicked.
  SetFormattedText(label, "See <link=a.txt>this</link>");
  EXPECT_TRUE(IsWindowEnabled(label));
}

TEST_F(FormattedText, DefaultColourComesFromTheParent) {
  ColouredParent = parent;
  TextColourForParent = [](void* window) -> u32 {
    return window == ColouredParent ? 0x123456 : NoDefaultColour;
  };
  HWND rich = Control("RichEdit20A");
  SetFormattedText(rich, "text <red>red</red>");
  EXPECT_EQ(0x123456u, FormatAt(rich, 0).crTextColor);
  EXPECT_EQ(0x0000FFu, FormatAt(rich, 5).crTextColor);
  EXPECT_FALSE(FormatAt(rich, 0).dwEffects & CFE_AUTOCOLOR);
}

TEST_F(FormattedText, ClickedLinksOpenTheirTargets) {
  HWND rich = Control("RichEdit20A");
  SetFormattedText(rich, "Read <link=#Windows#\\notes.txt>the notes</link>\r\n"
                         "or <link=http://example.org/>the site</link>, www.example.com");
  EXPECT_TRUE(FormatAt(rich, 5).dwEffects & CFE_LINK);
  EXPECT_STREQ("#Windows#\\notes.txt", FindLinkTarget(rich, 5));
  EXPECT_STREQ("http://example.org/", FindLinkTarget(rich, 18));
  EXPECT_EQ(nullptr, FindLinkTarget(rich, 6));
  Click(rich, 5, 14);
  Click(rich, 18, 26);
  Click(rich, 18, 26, WM_LBUTTONDOWN);
  // An address the control found itself: its own text is the target.
  Click(rich, 28, 43);
  ASSERT_EQ(3u, OpenedTargets.size());
  EXPECT_EQ(WindowsFolder() + "\\notes.txt", OpenedTargets[0].path);
  EXPECT_EQ(".txt", OpenedTargets[0].extension);
  EXPECT_EQ("http://example.org/", OpenedTargets[1].path);
  EXPECT_EQ(".htm", OpenedTargets[1].extension);
  EXPECT_EQ("www.example.com", OpenedTargets[2].path);
  EXPECT_EQ(".com", OpenedTargets[2].extension);
  // Nothing to open, or not a rich-text control: nothing happens.
  Click(rich, 60, 60);
  HWND label = Control("STATIC", 0);
  SetWindowTextA(label, "http://example.org/");
  Click(label, 0, 19);
  EXPECT_EQ(3u, OpenedTargets.size());
}

TEST_F(FormattedText, TheRegistryServesFiftyControls) {
  auto list = [](const char* target) {
    ParsedMarkup parsed;
    EXPECT_EQ(1, ParseMarkup((std::string("<link=") + target + ">x</link>").c_str(), 1, &parsed));
    void* links = parsed.links;
    parsed.links = nullptr;
    FreeParsedMarkup(&parsed);
    return links;
  };
  auto control = [](int i) { return (void*)(INT_PTR)(0x10000 + i); };
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(1, RegisterLinks(control(i), list(("t" + std::to_string(i)).c_str())));
  EXPECT_EQ(0, RegisterLinks(control(50), list("t50")));
  EXPECT_STREQ("t0", FindLinkTarget(control(0), 0));
  EXPECT_STREQ("t49", FindLinkTarget(control(49), 0));
  EXPECT_EQ(nullptr, FindLinkTarget(control(50), 0));
  // A control registered again has its list replaced, also when full.
  EXPECT_EQ(1, RegisterLinks(control(7), list("new")));
  EXPECT_STREQ("new", FindLinkTarget(control(7), 0));
  ClearLinks();
  EXPECT_EQ(nullptr, FindLinkTarget(control(0), 0));
  EXPECT_EQ(1, RegisterLinks(control(50), list("t50")));
  EXPECT_STREQ("t50", FindLinkTarget(control(50), 0));
  // A text set again replaces the control's links.
  HWND rich = Control("RichEdit20A");
  SetFormattedText(rich, "<link=first>x</link>");
  SetFormattedText(rich, "<link=second>y</link>");
  EXPECT_STREQ("second", FindLinkTarget(rich, 0));
}

}  // namespace
