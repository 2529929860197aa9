/* A stand-in with the setup wizard's window structure, for testing the test
 * driver: a top-level window of class "SetrunClass" captioned with the setup
 * title; the frame dialog (a child of it, or with /full a captioned popup it
 * owns) holding the header pane (1046 rich-text title, 1047 subtitle), an
 * empty side pane and the button bar (1 Next, 2 Cancel, 1045 Back); one page
 * window at a time, created anew for every page:
 *   Welcome  1000 text
 *   Details  1000 edit (Next is disabled while it is empty), 1002 check box,
 *            1003 read-only rich edit
 *   Finish   1000 text naming what was typed and chosen
 * Cancel (and the close boxes) asks a Yes/No question; Yes shows a notice and
 * ends with 15. Next on the Finish page ends with 0, or 3 when the check box
 * was checked; with /restart a restart question (buttons 1 and 2, text 1000)
 * comes first, and its button 1 ends the program with -2. */
#include <windows.h>
#include <stdio.h>

#define TITLE "Stand-in Setup"
static const COLORREF kBackdropColour = RGB(0, 96, 160);

static HINSTANCE instance;
static HWND backdrop, frame, header, side, bar, page;
static int page_number, full_screen, ask_restart, extras;
static char name[128];

/* An empty dialog template: every control is created at run time. */
static DLGTEMPLATE* EmptyTemplate(DWORD style) {
  static WORD words[16];
  DLGTEMPLATE* t = (DLGTEMPLATE*)words;
  ZeroMemory(words, sizeof words);
  t->style = style;
  t->cx = 200;
  t->cy = 100;
  return t;   /* no menu, default class, no title: the zeros that follow */
}

static HWND Control(HWND parent, const char* cls, int id, DWORD style, int x, int y, int w, int h,
                    const char* text) {
  return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         (HMENU)(INT_PTR)id, instance, NULL);
}

static INT_PTR CALLBACK PaneProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)w, (void)message, (void)wparam, (void)lparam;
  return message == WM_INITDIALOG;
}

static INT_PTR CALLBACK PageProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  if (message == WM_COMMAND && LOWORD(wparam) == 1000 && HIWORD(wparam) == EN_CHANGE) {
    GetWindowTextA((HWND)lparam, name, sizeof name);
    EnableWindow(GetDlgItem(bar, 1), name[0] != 0);
  } else if (message == WM_COMMAND && LOWORD(wparam) == 1002) {
    extras = IsDlgButtonChecked(w, 1002) == BST_CHECKED;
  }
  return message == WM_INITDIALOG;
}

static void ShowPage(int number) {
  static const char* const titles[] = {"Welcome", "Details", "Finish"};
  if (page) DestroyWindow(page);
  page_number = number;
  SetWindowTextA(GetDlgItem(header, 1046), titles[number]);
  SetWindowTextA(GetDlgItem(header, 1047), number == 1 ? "Tell us who you are." : "");
  page = CreateDialogIndirectParamA(instance, EmptyTemplate(WS_CHILD | DS_CONTROL), frame, PageProc, 0);
  SetWindowPos(page, NULL, 120, 60, 380, 240, SWP_NOZORDER);
  if (number == 0) {
    Control(page, "STATIC", 1000, 0, 10, 10, 360, 40, "Welcome to the stand-in.");
  } else if (number == 1) {
    Control(page, "EDIT", 1000, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 200, 24, name);
    Control(page, "BUTTON", 1002, BS_AUTOCHECKBOX | WS_TABSTOP, 10, 50, 200, 20, "Add extras");
    CheckDlgButton(page, 1002, extras ? BST_CHECKED : BST_UNCHECKED);
    Control(page, "RichEdit20A", 1003, ES_MULTILINE | ES_READONLY, 10, 80, 360, 60,
            "Rich text line one\r\nline two");
  } else {
    char text[256];
    snprintf(text, sizeof text, "Name: %s, extras: %s", name, extras ? "yes" : "no");
    Control(page, "STATIC", 1000, 0, 10, 10, 360, 40, text);
  }
  EnableWindow(GetDlgItem(bar, 1045), number > 0);
  EnableWindow(GetDlgItem(bar, 1), number != 1 || name[0]);
  SetWindowTextA(GetDlgItem(bar, 1), number == 2 ? "Finish" : "Next >");
  ShowWindow(page, SW_SHOW);
}

static INT_PTR CALLBACK RestartProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  if (message == WM_INITDIALOG) {
    SetWindowTextA(w, TITLE);
    SetWindowPos(w, NULL, 0, 0, 360, 150, SWP_NOMOVE | SWP_NOZORDER);
    Control(w, "STATIC", 1000, 0, 10, 10, 330, 40, "Restart the computer now?");
    Control(w, "BUTTON", 1, BS_DEFPUSHBUTTON | WS_TABSTOP, 40, 70, 120, 26, "Restart now");
    Control(w, "BUTTON", 2, WS_TABSTOP, 200, 70, 100, 26, "Later");
    SetFocus(GetDlgItem(w, 1));
    return FALSE;
  }
  if (message == WM_COMMAND && (LOWORD(wparam) == 1 || LOWORD(wparam) == 2)) {
    EndDialog(w, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

static void Finish(void) {
  int code = extras ? 3 : 0;
  if (ask_restart &&
      DialogBoxIndirectParamA(instance, EmptyTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER),
                              frame, RestartProc, 0) == 1)
    code = -2;
  PostQuitMessage(code);
}

static INT_PTR CALLBACK BarProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  if (message == WM_INITDIALOG) return TRUE;
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wparam)) {
    case 1:
      if (page_number == 2) Finish();
      else ShowPage(page_number + 1);
      break;
    case 1045:
      if (page_number > 0) ShowPage(page_number - 1);
      break;
    case 2:
      if (MessageBoxA(frame, "Do you want to stop the setup?", TITLE, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        MessageBoxA(frame, "The setup did not complete.", TITLE, MB_ICONINFORMATION);
        PostQuitMessage(15);
      }
      break;
  }
  (void)w;
  return TRUE;
}

static INT_PTR CALLBACK FrameProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  (void)lparam;
  if (message == WM_INITDIALOG) {
    frame = w;
    if (full_screen) SetWindowTextA(w, TITLE);
    RECT r = {0, 0, 500, 340};
    if (full_screen) AdjustWindowRectEx(&r, GetWindowLongA(w, GWL_STYLE), FALSE, 0);
    SetWindowPos(w, NULL, full_screen ? 200 : 0, full_screen ? 150 : 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER);
    header = CreateDialogIndirectParamA(instance, EmptyTemplate(WS_CHILD | DS_CONTROL), w, PaneProc, 0);
    SetWindowPos(header, NULL, 120, 0, 380, 60, SWP_NOZORDER);
    Control(header, "RichEdit20A", 1046, ES_READONLY, 10, 8, 360, 22, "");
    Control(header, "STATIC", 1047, 0, 20, 32, 350, 20, "");
    side = CreateDialogIndirectParamA(instance, EmptyTemplate(WS_CHILD | DS_CONTROL), w, PaneProc, 0);
    SetWindowPos(side, NULL, 0, 0, 120, 300, SWP_NOZORDER);
    bar = CreateDialogIndirectParamA(instance, EmptyTemplate(WS_CHILD | DS_CONTROL), w, BarProc, 0);
    SetWindowPos(bar, NULL, 0, 300, 500, 40, SWP_NOZORDER);
    Control(bar, "BUTTON", 1045, WS_TABSTOP, 230, 8, 80, 24, "< Back");
    Control(bar, "BUTTON", 1, BS_DEFPUSHBUTTON | WS_TABSTOP, 315, 8, 80, 24, "Next >");
    Control(bar, "BUTTON", 2, WS_TABSTOP, 410, 8, 80, 24, "Cancel");
    ShowWindow(header, SW_SHOW);
    ShowWindow(side, SW_SHOW);
    ShowWindow(bar, SW_SHOW);
    return TRUE;
  }
  if (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_CLOSE) {
    PostMessageA(bar, WM_COMMAND, 2, 0);
    SetWindowLongPtrA(w, DWLP_MSGRESULT, 0);
    return TRUE;
  }
  return FALSE;
}

static LRESULT CALLBACK BackdropProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_CLOSE) {
    PostMessageA(bar, WM_COMMAND, 2, 0);
    return 0;
  }
  return DefWindowProcA(w, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE self, HINSTANCE previous, LPSTR command_line, int show) {
  (void)previous, (void)show;
  instance = self;
  full_screen = strstr(command_line, "/full") != NULL;
  ask_restart = strstr(command_line, "/restart") != NULL;
  LoadLibraryA("riched20.dll");
  WNDCLASSA cls;
  ZeroMemory(&cls, sizeof cls);
  cls.lpfnWndProc = BackdropProc;
  cls.hInstance = self;
  cls.hCursor = LoadCursor(NULL, IDC_ARROW);
  cls.hbrBackground = CreateSolidBrush(kBackdropColour);
  cls.lpszClassName = "SetrunClass";
  if (!RegisterClassA(&cls)) return 1;
  if (full_screen) {
    backdrop = CreateWindowExA(0, "SetrunClass", TITLE, WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                               GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL, self, NULL);
  } else {
    RECT r = {0, 0, 500, 340};
    AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0);
    backdrop = CreateWindowExA(0, "SetrunClass", TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 100, 80,
                               r.right - r.left, r.bottom - r.top, NULL, NULL, self, NULL);
  }
  if (!backdrop) return 1;
  DWORD frame_style = full_screen ? WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
                                  : WS_CHILD | WS_VISIBLE | DS_CONTROL;
  if (!CreateDialogIndirectParamA(self, EmptyTemplate(frame_style), backdrop, FrameProc, 0)) return 1;
  ShowWindow(backdrop, SW_SHOWNORMAL);
  UpdateWindow(backdrop);
  /* Windows keeps owned windows above their owner; Wine leaves a popup that
   * was shown before its owner below it until something raises it. */
  if (full_screen) SetWindowPos(frame, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowPage(0);
  MSG m;
  while (GetMessageA(&m, NULL, 0, 0) > 0) {
    if (IsDialogMessageA(frame, &m) || (page && IsDialogMessageA(page, &m)) || IsDialogMessageA(bar, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return (int)m.wParam;
}
