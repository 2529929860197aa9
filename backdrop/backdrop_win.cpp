// The backdrop window: creation of the backdrop and the wizard's frame, and
// the backdrop's window procedure.
#include "backdrop/backdrop.h"

#include "backdrop/painting_win.h"
#include "base/run_state.h"
#include "package/tables.h"

DLGPROC FrameProcedure;

static const WORD BackdropIcon = 800;
static const WORD WindowedFrameTemplate = 112;
static const WORD FullScreenFrameTemplate = 113;
static const DWORD FramedBackdropStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;  // 0x02CF0000
static const DWORD BareBackdropStyle = WS_POPUP | WS_CLIPCHILDREN;               // 0x82000000
static const DWORD WindowedBackdropStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // 0x00CA0000

// The control that had the keyboard focus when the backdrop was last
// deactivated (a message box opened, another program was chosen).
static HWND SavedFocus;

static LRESULT CALLBACK BackdropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND frame = (HWND)FrameDialog;
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) SavedFocus = focus;
      }
      break;
    case WM_SETFOCUS:
      // Activated again, the focus goes back to the wizard's control (Enter
      // and Escape work after a question), not to the backdrop itself.
      if (SavedFocus && IsWindow(SavedFocus) && IsChild(window, SavedFocus)) SetFocus(SavedFocus);
      else if (frame) SetFocus(frame);
      return 0;
    case WM_PAINT:
      if (!(LayoutFlagsValue() & LayoutFlagFullScreen) || IsIconic(window)) break;
      PaintBackdrop(window, {LayoutRecord, LayoutLength}, {BackdropImage, BackdropImageLength},
                    (const char*)BackdropTitle, {TitleStyle, TitleStyleLength});
      if (frame) RedrawWindow(frame, nullptr, nullptr, RDW_FRAME);
      return 0;
    case WM_ACTIVATEAPP:
      // The frame's caption follows the application's activation.
      if (frame) PostMessageA(frame, WM_NCACTIVATE, wParam, 0);
      break;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MAXIMIZE:
        case SC_RESTORE:
          if (frame) ShowWindow(frame, SW_SHOWNORMAL);
          break;
        case SC_CLOSE:
          // The close box is the wizard's Cancel, on every page: the frame
          // hands it to the button bar as its own close box does.
          if (frame) PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
          else PageResult = PageResultCancel;
          return 0;
      }
      break;
    case WM_NCDESTROY:
      // Ends the last message loop of the run.
      PostQuitMessage(0);
      break;
    case InstanceProbeMessage:
      if (wParam == InstanceProbeWParam && lParam == (LPARAM)InstanceProbeLParam)
        return (LRESULT)InstanceKey;
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int RegisterBackdropClass() {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = BackdropProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hIcon = LoadIconA(windowClass.hInstance, MAKEINTRESOURCEA(BackdropIcon));
  windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);  // nothing is erased
  windowClass.lpszClassName = BackdropClassName;
  return RegisterClassA(&windowClass) != 0;
}

int CreateMainWindows() {
  const u32 flags = LayoutFlagsValue();
  const int fullScreen = (flags & LayoutFlagFullScreen) != 0;
  DWORD style;
  RECT r = {0, 0, ScreenWidth, ScreenHeight};
  if (fullScreen) {
    style = flags & LayoutFlagFramedBackdrop ? FramedBackdropStyle : BareBackdropStyle;
    if (flags & LayoutFlagMaximised) style |= WS_MAXIMIZE;
  } else {
    // A window whose client area is the frame's size, in the screen's middle.
    style = WindowedBackdropStyle;
    r.right = ToDisplay((int)ReadU32(LayoutRecord + LayoutFrameWidth));
    r.bottom = ToDisplay((int)ReadU32(LayoutRecord + LayoutFrameHeight));
    AdjustWindowRectEx(&r, style, FALSE, 0);
    // Sums of package values wrap (u32) rather than overflow.
    int dx = (int)((u32)ScreenWidth - ((u32)r.right - (u32)r.left)) / 2;
    int dy = (int)((u32)ScreenHeight - ((u32)r.bottom - (u32)r.top)) / 2;
    OffsetRect(&r, dx > 0 ? dx : 0, dy > 0 ? dy : 0);
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND backdrop = CreateWindowExA(0, BackdropClassName, GetText(7, 0), style, r.left, r.top,
                                  (int)((u32)r.right - (u32)r.left), (int)((u32)r.bottom - (u32)r.top),
                                  nullptr, nullptr, instance, nullptr);
  if (!backdrop) return 0;
  BackdropWindow = backdrop;
  HWND frame = CreateDialogParamA(
      instance, MAKEINTRESOURCEA(fullScreen ? FullScreenFrameTemplate : WindowedFrameTemplate),
      backdrop, FrameProcedure, 0);
  if (!frame) {
    DestroyWindow(backdrop);
    BackdropWindow = nullptr;
    return 0;
  }
  FrameDialog = frame;
  ShowWindow(backdrop, SW_SHOWNORMAL);
  UpdateWindow(backdrop);
  // Windows keeps an owned popup above its owner; Wine leaves one that was
  // shown before its owner below it.
  if (fullScreen) SetWindowPos(frame, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  return 1;
}
