// The wizard's windows: the frame dialog with its header pane, side pane and
// button bar, controls built from the layout record's control entries, one
// page window at a time, the walk through the page sequence, and the restart
// question.
#include <windows.h>
#include <richedit.h>

#include "backdrop/painting_win.h"
#include "base/run_state.h"
#include "engine/install.h"
#include "package/tables.h"
#include "wizard/formatted_text.h"
#include "wizard/messages.h"
#include "wizard/pages_win.h"
#include "wizard/pane_painting_win.h"
#include "wizard/wizard.h"

// Resources of the program.
static const WORD PageTemplate = 112;  // also the button bar and the windowed frame
static const WORD PaneTemplate = 132;
static const WORD RestartTemplate = 131;
static const DWORD FullScreenFrameStyle = 0x80C80080;  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME

// The wizard's windows live in the pump's list (PumpPanes): the message pump
// offers each message to them.
enum { PanePage, PaneBar, PaneHeader, PaneSide };
static HWND Pane(int which) { return (HWND)PumpPanes[which]; }

int CurrentPageKind = -1;
int SequencePosition;
HFONT DialogFont;
static HWND Next, Cancel;
static u32 ButtonMask;
static HBRUSH HeaderBrush, SideBrush, BarBrush, PageBrush, EditBrush;
// The installation of this run completed (its finishing step succeeded).
static int Installed;

HWND NextButton() { return Next; }
HWND CancelButton() { return Cancel; }
HWND ButtonBar() { return Pane(PaneBar); }

static RecordView Layout() { return {LayoutRecord, LayoutLength}; }
// A field of the layout record's header (the loader checked its size).
// Sizes and positions are taken as u32 and reach the window calls as int:
// any package value wraps there, none overflows a signed sum here.
static u32 LayoutValue(u32 offset) { return ReadU32(LayoutRecord + offset); }

// The width or height of a rectangle, wrapping like the sums above.
static int Extent(LONG from, LONG to) { return (int)((u32)to - (u32)from); }

// A size or position of the layout header, in pixels of the display.
static int LayoutPixels(u32 offset) { return ToDisplay((int)LayoutValue(offset)); }

const u8* CurrentPageEntry() {
  return CurrentPageKind < 0 ? nullptr : LayoutPageEntry(Layout(), (u32)CurrentPageKind);
}

static u32 PageValue(const u8* page, u32 offset) { return ReadU32(page + offset); }
static int PagePixels(const u8* page, u32 offset) { return ToDisplay((int)PageValue(page, offset)); }

// The frame's height above the button bar, in pixels of the display.
static int ContentHeight() {
  return Extent(LayoutPixels(LayoutButtonBarHeight), LayoutPixels(LayoutFrameHeight));
}

static HBRUSH ColourBrush(u32 colour, int systemColour) {
  return CreateSolidBrush(colour == SystemColour ? GetSysColor(systemColour) : colour);
}

static void DeleteBrush(HBRUSH* brush) {
  if (*brush) DeleteObject(*brush);
  *brush = nullptr;
}

// WM_CTLCOLOR* of a pane or page: the default colours when both are the
// system's, otherwise the package's colours and the pane's brush. A text
// colour of its own on the system's background gets that background behind
// the text too (`systemBackground`), as the brush has it.
static INT_PTR ControlColours(WPARAM dc, u32 text, u32 background, HBRUSH brush,
                              int systemBackground = COLOR_BTNFACE) {
  if (text == SystemColour && background == SystemColour) return 0;
  if (text != SystemColour) SetTextColor((HDC)dc, text);
  SetBkColor((HDC)dc, background != SystemColour ? background : GetSysColor(systemBackground));
  return (INT_PTR)brush;
}

static int IsControlColour(UINT message) {
  return message == WM_CTLCOLORMSGBOX || message == WM_CTLCOLORBTN ||
         message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC;
}

// The default text colour of rich-text controls on the header pane and the
// page window.
static u32 TextColourOf(void* parent) {
  const u8* page = CurrentPageEntry();
  if (!page) return NoDefaultColour;
  if (parent && parent == Pane(PaneHeader)) return PageValue(page, PageEntryHeaderTextColour);
  if (parent && parent == Pane(PanePage)) return PageValue(page, PageEntryTextColour);
  return NoDefaultColour;
}

// --- Controls ---------------------------------------------------------------

// A rich-text label (ENM_SELCHANGE in its event mask) takes no focus; a
// disabled one paints with its normal colours.
static LRESULT CALLBACK RichTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC previous = (WNDPROC)GetWindowLongPtrA(window, GWLP_USERDATA);
  if (!previous) return 0;
  if (message == WM_SETFOCUS && (SendMessageA(window, EM_GETEVENTMASK, 0, 0) & ENM_SELCHANGE))
    return 0;
  if ((message == WM_PAINT || message == WM_ERASEBKGND) && !IsWindowEnabled(window)) {
    EnableWindow(window, TRUE);
    LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
    EnableWindow(window, FALSE);
    if (message == WM_PAINT) ValidateRect(window, nullptr);
    return result;
  }
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

// Window classes by control kind; kinds without one create nothing.
static const char* ControlClass(u32 kind) {
  switch (kind) {
    case ControlStatic: return "STATIC";
    case ControlEdit: return "EDIT";
    case ControlPushButton:
    case ControlCheckBox:
    case ControlRadioButton:
    case ControlGroupBox: return "BUTTON";
    case ControlProgressBar: return "msctls_progress32";
    case ControlRichText: return HasRichEdit20 ? "RichEdit20A" : "RICHEDIT";
  }
  return nullptr;
}

// Creates `count` control entries as children of `parent`; an entry whose
// window cannot be created is skipped.
static void CreateControls(HWND parent, u32 count, const u8* entries, u32 background,
                           u32 editBackground) {
  for (u32 i = 0; i < count; ++i) {
    const u8* entry = entries + i * ControlEntrySize;
    const u32 kind = ReadU16(entry + ControlEntryKind);
    const char* windowClass = ControlClass(kind);
    if (!windowClass) continue;
    // Each edge scaled on its own: controls that touch at 96 DPI still do.
    int edges[4];
    for (int e = 0; e < 4; ++e) edges[e] = ToDisplay((int)ReadU32(entry + ControlEntryLeft + 4 * e));
    HWND control = CreateWindowExA(
        ReadU32(entry + ControlEntryExStyle), windowClass, "", ReadU32(entry + ControlEntryStyle),
        edges[0], edges[1], Extent(edges[0], edges[2]), Extent(edges[1], edges[3]), parent,
        (HMENU)(uintptr_t)ReadU16(entry + ControlEntryId), GetModuleHandleA(nullptr), nullptr);
    if (!control) continue;
    if (DialogFont) SendMessageA(control, WM_SETFONT, (WPARAM)DialogFont, FALSE);
    if (kind != ControlRichText) continue;
    SetWindowLongPtrA(control, GWLP_USERDATA, GetWindowLongPtrA(control, GWLP_WNDPROC));
    SetWindowLongPtrA(control, GWLP_WNDPROC, (LONG_PTR)RichTextProc);
    const int inputBox = ReadU32(entry + ControlEntryFlags) & ControlFlagInputBox;
    u32 colour = inputBox ? editBackground : background;
    if (colour == SystemColour && !inputBox) colour = GetSysColor(COLOR_BTNFACE);
    if (colour != SystemColour) SendMessageA(control, EM_SETBKGNDCOLOR, 0, colour);
    LPARAM events = 0;
    if (HasRichEdit20) {
      SendMessageA(control, EM_AUTOURLDETECT, TRUE, 0);
      events = ENM_LINK;
    }
    // ENM_SELCHANGE marks a read-only label (see RichTextProc).
    if (!inputBox) events |= ENM_SELCHANGE;
    SendMessageA(control, EM_SETEVENTMASK, 0, events);
  }
}

// Creates the control table of `page` (or of the button bar when `page` is
// null; `header` chooses the page's header table).
static void CreateControlTable(HWND parent, const u8* page, int header, u32 background,
                               u32 editBackground) {
  u32 count;
  const u8* entries = LayoutControls(Layout(), page, header, &count);
  CreateControls(parent, count, entries, background, editBackground);
}

// Destroys every child of `window`, first child first; null is ignored.
static void DestroyChildren(HWND window) {
  if (!window) return;
  for (HWND child; (child = GetWindow(window, GW_CHILD)) != nullptr;) DestroyWindow(child);
}

void SetFontOnChildren(HWND window, HFONT font) {
  if (!window || !font) return;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageA(child, WM_SETFONT, (WPARAM)font, FALSE);
}

// --- Buttons ------------------------------------------------------------------

INT_PTR VetoCommand(HWND window) {
  SetWindowLongPtrA(window, DWLP_MSGRESULT, 1);
  return TRUE;
}

void SetButtonMask(u32 mask) {
  ButtonMask = mask;
  EnableWindow(GetDlgItem(ButtonBar(), ControlIdBack), (mask & ButtonBack) != 0);
  EnableWindow(Next, (mask & ButtonNext) != 0);
  EnableWindow(Cancel, (mask & ButtonCancel) != 0);
}

void SetButtonLabel(u32 button, u32 number) {
  int id = button == ButtonBack ? ControlIdBack
           : button == ButtonNext ? ControlIdNext
           : button == ButtonCancel ? ControlIdCancel : 0;
  if (id) SetDlgItemTextA(ButtonBar(), id, GetText(8, number));
}

void LabelButtons() {
  SetButtonLabel(ButtonBack, 0);
  SetButtonLabel(ButtonNext, 1);
  SetButtonLabel(ButtonCancel, 2);
}

// The button bar's commands, after the page window had its say.
static void ButtonBarCommand(HWND bar, WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  // A disabled button cannot be pressed, whatever sent the command (the
  // Enter key sends Next even while the licence page keeps it disabled).
  HWND button = GetDlgItem(bar, id);
  if (button && !IsWindowEnabled(button)) return;
  HWND page = Pane(PanePage);
  if (page && SendMessageA(page, WM_COMMAND, wParam, lParam)) return;
  if (id == ControlIdNext || id == ControlIdBack) {
    PageResult = id;
  } else if (id == ControlIdCancel) {
    if (ButtonMask & QuietExit) {
      PageResult = PageResultCancel;
    } else if (AskAndNotify(14, 15)) {
      PageResult = PageResultCancel;
      UserCancelled = 1;
    }
  }
}

// --- Frame, panes, button bar ---------------------------------------------------

// Both panes: hidden until a page has them; painted from the current page
// entry; coloured by its header or side pane colours.
static INT_PTR PaneProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int side) {
  const u8* page = CurrentPageEntry();
  if (message == WM_INITDIALOG) {
    ShowWindow(window, SW_HIDE);
    return TRUE;
  }
  if (message == WM_PAINT) {
    if (side) PaintSidePane(window, page);
    else PaintHeaderPane(window, page);
    return TRUE;
  }
  if (IsControlColour(message)) {
    if (!page) return 0;
    if (side) return ControlColours(wParam, SystemColour, PageValue(page, PageEntrySideBackground), SideBrush);
    return ControlColours(wParam, PageValue(page, PageEntryHeaderTextColour),
                          PageValue(page, PageEntryHeaderBackground), HeaderBrush);
  }
  if (message == WM_NCDESTROY) {
    DeleteBrush(side ? &SideBrush : &HeaderBrush);
    PumpPanes[side ? PaneSide : PaneHeader] = nullptr;
    return 0;
  }
  return HandleCommonNotify(window, message, wParam, lParam);
}

static INT_PTR CALLBACK HeaderPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PaneProcedure(window, message, wParam, lParam, 0);
}

static INT_PTR CALLBACK SidePaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PaneProcedure(window, message, wParam, lParam, 1);
}

static INT_PTR CALLBACK ButtonBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const u32 colour = LayoutValue(LayoutButtonBarColour);
  switch (message) {
    case WM_INITDIALOG: {
      PumpPanes[PaneBar] = window;
      BarBrush = ColourBrush(colour, COLOR_BTNFACE);
      CreateControlTable(window, nullptr, 0, colour, SystemColour);
      LabelButtons();
      Next = GetDlgItem(window, ControlIdNext);
      Cancel = GetDlgItem(window, ControlIdCancel);
      const int height = LayoutPixels(LayoutButtonBarHeight);
      SetWindowPos(window, nullptr, 0, Extent(height, LayoutPixels(LayoutFrameHeight)),
                   LayoutPixels(LayoutFrameWidth), height, SWP_NOZORDER);
      return TRUE;
    }
    case WM_PAINT:
      PaintButtonBar(window);
      return TRUE;
    case WM_COMMAND:
      ButtonBarCommand(window, wParam, lParam);
      // A command sent from another thread (not a posted click) ends a page
      // too: the page runner's pump waits for a posted message.
      if (PageResult) PostMessageA(window, WM_NULL, 0, 0);
      return TRUE;
    case WM_NCDESTROY:
      DeleteBrush(&BarBrush);
      PumpPanes[PaneBar] = nullptr;
      Next = Cancel = nullptr;
      return 0;
  }
  if (IsControlColour(message)) return ControlColours(wParam, SystemColour, colour, BarBrush);
  return HandleCommonNotify(window, message, wParam, lParam);
}

// The frame's position on one axis in full-screen mode: centred on the
// screen, kept inside the backdrop, never before its edge.
static int FramePosition(int screen, int size, int backdrop) {
  int at = screen / 2 - size / 2;
  const int room = (int)((u32)backdrop - (u32)size);
  if (at > room) at = room;
  return at < 0 ? 0 : at;
}

INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      FrameDialog = window;
      RECT r = {0, 0, LayoutPixels(LayoutFrameWidth), LayoutPixels(LayoutFrameHeight)};
      int x = 0, y = 0;
      if (LayoutFlagsValue() & LayoutFlagFullScreen) {
        RECT backdrop;
        GetWindowRect((HWND)BackdropWindow, &backdrop);
        AdjustWindowRectEx(&r, FullScreenFrameStyle, FALSE, 0);
        x = FramePosition(ScreenWidth, Extent(r.left, r.right), Extent(backdrop.left, backdrop.right));
        y = FramePosition(ScreenHeight, Extent(r.top, r.bottom), Extent(backdrop.top, backdrop.bottom));
      }
      SetWindowPos(window, nullptr, x, y, Extent(r.left, r.right), Extent(r.top, r.bottom),
                   SWP_NOZORDER);
      DialogFont = CreatePackageFont(LayoutRecord + LayoutDialogFont);
      SetWindowTextA(window, GetText(7, 0));
      HINSTANCE instance = GetModuleHandleA(nullptr);
      PumpPanes[PaneHeader] =
          CreateDialogParamA(instance, MAKEINTRESOURCEA(PaneTemplate), window, HeaderPaneProc, 0);
      PumpPanes[PaneSide] =
          CreateDialogParamA(instance, MAKEINTRESOURCEA(PaneTemplate), window, SidePaneProc, 0);
      CreateDialogParamA(instance, MAKEINTRESOURCEA(PageTemplate), window, ButtonBarProc, 0);
      TextColourForParent = TextColourOf;
      PostMessageA(window, WM_NCACTIVATE, TRUE, 0);
      return TRUE;
    }
    case WM_NCDESTROY:
      if (DialogFont) DeleteObject(DialogFont);
      DialogFont = nullptr;
      return 0;
    case WM_COMMAND:
      PostMessageA(ButtonBar(), WM_COMMAND, wParam, lParam);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        ShowWindow((HWND)BackdropWindow, SW_MINIMIZE);
      } else if ((wParam & 0xFFF0) == SC_CLOSE) {
        // The close box is the Cancel button.
        if (ButtonBar()) PostMessageA(ButtonBar(), WM_COMMAND, ControlIdCancel, 0);
        else PageResult = PageResultCancel;
      } else {
        break;
      }
      SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
      return TRUE;
  }
  return HandleCommonNotify(window, message, wParam, lParam);
}

// --- Pages ------------------------------------------------------------------------

INT_PTR PageBaseProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const u8* page = CurrentPageEntry();
  if (!page) return HandleCommonNotify(window, message, wParam, lParam);
  const u32 background = PageValue(page, PageEntryBackground);
  const u32 edit = PageValue(page, PageEntryEditBackground);
  const u32 text = PageValue(page, PageEntryTextColour);
  switch (message) {
    case WM_INITDIALOG: {
      PageBrush = ColourBrush(background, COLOR_BTNFACE);
      EditBrush = ColourBrush(edit, COLOR_WINDOW);
      PumpPanes[PanePage] = window;
      CreateControlTable(window, page, 0, background, edit);
      const int x = PagePixels(page, PageEntrySideWidth), y = PagePixels(page, PageEntryHeaderHeight);
      SetWindowPos(window, nullptr, x, y, Extent(x, LayoutPixels(LayoutFrameWidth)),
                   Extent(y, ContentHeight()), SWP_NOZORDER);
      return TRUE;
    }
    case WM_CTLCOLOREDIT:
      return ControlColours(wParam, text, edit, EditBrush, COLOR_WINDOW);
    case WM_NCDESTROY:
      DeleteBrush(&PageBrush);
      DeleteBrush(&EditBrush);
      PumpPanes[PanePage] = nullptr;
      AttachProgress(nullptr);
      return 0;
  }
  if (IsControlColour(message)) return ControlColours(wParam, text, background, PageBrush);
  return HandleCommonNotify(window, message, wParam, lParam);
}

// Shows a pane at (x, 0) with the given size and draws it with its
// children at once.
static void ShowPane(HWND pane, int x, int width, int height) {
  SetWindowPos(pane, nullptr, x, 0, width, height, SWP_NOZORDER | SWP_SHOWWINDOW);
  RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// Header: the page's header controls with its title (bold unless it brings
// its own markup) and subtitle.
static void ShowHeader(const u8* page, int sideWidth) {
  HWND header = Pane(PaneHeader);
  // Rebuilt without drawing: nothing half-built shows (and nothing looking
  // at the windows from outside finds the pane without its title).
  SendMessageA(header, WM_SETREDRAW, FALSE, 0);
  DeleteBrush(&HeaderBrush);
  DestroyChildren(header);
  const int height = PagePixels(page, PageEntryHeaderHeight);
  if (!height) {
    SendMessageA(header, WM_SETREDRAW, TRUE, 0);
    ShowWindow(header, SW_HIDE);
    return;
  }
  const u32 colour = PageValue(page, PageEntryHeaderBackground);
  HeaderBrush = ColourBrush(colour, COLOR_BTNFACE);
  CreateControlTable(header, page, 1, colour, SystemColour);
  const char* title = GetText((u32)CurrentPageKind, 0);
  char* bold = nullptr;
  if (title[0] != '<' && AllocBlock(lstrlenA(title) + 8, &bold)) {
    lstrcpyA(bold, "<b>");
    lstrcatA(bold, title);
    lstrcatA(bold, "</b>");
    title = bold;
  }
  SetFormattedText(GetDlgItem(header, ControlIdPageTitle), title);
  FreeBlock(&bold);
  SetFormattedText(GetDlgItem(header, ControlIdPageSubtitle), GetText((u32)CurrentPageKind, 1));
  SendMessageA(header, WM_SETREDRAW, TRUE, 0);
  ShowPane(header, sideWidth, Extent(sideWidth, LayoutPixels(LayoutFrameWidth)), height);
}

static void ShowSidePane(const u8* page, int width) {
  HWND side = Pane(PaneSide);
  DeleteBrush(&SideBrush);
  if (!width) {
    ShowWindow(side, SW_HIDE);
    return;
  }
  SideBrush = ColourBrush(PageValue(page, PageEntrySideBackground), COLOR_BTNFACE);
  ShowPane(side, 0, width, ContentHeight());
}

// Shows the current page (its entry exists) with `procedure` and returns its
// result: 1 Next, 2 Cancel, 1045 Back. While the engine is busy the page's
// installation steps run between pumped messages.
static int RunPage(DLGPROC procedure) {
  const u8* page = CurrentPageEntry();
  // The links of the previous page (and header) go before this page's
  // header texts register theirs.
  ClearLinks();
  const int sideWidth = PagePixels(page, PageEntrySideWidth);
  ShowHeader(page, sideWidth);
  ShowSidePane(page, sideWidth);
  PageResult = 0;
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(PageTemplate),
                                   (HWND)FrameDialog, procedure, 0);
  if (!window) return PageResultCancel;
  int seenBusy = 0;
  while (!PageResult) {
    PumpMessages(!EngineBusy);
    if (PageResult || !EngineBusy) continue;
    if (!seenBusy) {
      seenBusy = 1;
      RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    if (!InstallNextFile()) {
      FinishInstallation();
      Installed = InstallResult == 0;
    }
  }
  DestroyWindow(window);
  return PageResult;
}

// --- The page sequence ---------------------------------------------------------

static const int PageResultBack = ControlIdBack;
static const u32 NoPage = 0xFFFF;

// The page kind at sequence position `at` (PageSequenceEnd past the end).
static u32 SequenceKind(int at) {
  if (at < 0 || (u32)at >= PageSequenceLength || !CurrentGroupRecord.data) return PageSequenceEnd;
  return CurrentGroupRecord.data[GroupPageSequence + at];
}

int JumpToPage(u32 kind) {
  for (int i = 0; SequenceKind(i) != PageSequenceEnd; ++i) {
    if (SequenceKind(i) != kind) continue;
    SequencePosition = i - 1;
    PageResult = PageResultNext;
    return 0;
  }
  return 255;
}

void JumpToFinishPage() { JumpToPage(PageFinish); }

void RunWizard() {
  const u32 flags2 = CurrentGroupRecord.data ? ReadU32(CurrentGroupRecord.data + GroupFlags2) : 0;
  u32 next = ForcedPage;
  // A page kind without a page entry is passed over in the direction the
  // wizard was going (forward at the start of the sequence).
  int move = PageResultNext;
  for (;;) {
    const u32 kind = next != NoPage ? next : SequenceKind(SequencePosition);
    if (kind == PageSequenceEnd) break;
    CurrentPageKind = (int)kind;
    if (kind <= PageFinish && CurrentPageEntry()) move = RunPage(PageProcedures[kind]);
    else if (move == PageResultBack && SequencePosition == 0) move = PageResultNext;
    if (ForcedPage != NoPage) break;
    if (move == PageResultNext) {
      const int shown = CurrentPageKind;
      const u32 following = SequenceKind(++SequencePosition);
      if (following == PageSequenceEnd) break;
      if (following == PageFinish && shown != PageInstalling &&
          (flags2 & Group2InstallBehindScenes) && InstallResult == 0) {
        // The finishing step's move to the finish page is this one.
        const int finish = SequencePosition;
        InstallWithoutPage();
        Installed = InstallResult == 0;
        SequencePosition = finish;
        PageResult = 0;
      }
      if (following == PageFinish && (flags2 & Group2NoFinishPage) && InstallResult == 0) break;
    } else if (move == PageResultCancel) {
      break;
    } else if (move == PageResultBack && SequencePosition > 0) {
      --SequencePosition;
    }
    next = NoPage;
  }
  if (ForcedPage == NoPage) CurrentPageKind = -1;
  // Leaving before the installation completed is not a success.
  if (UserCancelled && !Installed && InstallResult == 0) InstallResult = CodeAbandoned;
}

// --- Restart question ------------------------------------------------------------

static INT_PTR CALLBACK RestartQuestionProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetFontOnChildren(window, DialogFont);
    SetWindowTextA(window, GetText(7, 0));
    SetDlgItemTextA(window, IDOK, GetText(8, 6));
    SetDlgItemTextA(window, IDCANCEL, GetText(8, 2));
    SetFormattedText(GetDlgItem(window, 1000), GetText(6, 8));
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  return HandleCommonNotify(window, message, wParam, lParam);
}

int AskRestart() {
  return (int)DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(RestartTemplate),
                              (HWND)FrameDialog, RestartQuestionProc, 0);
}
