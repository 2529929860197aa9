// The uninstaller program: reads the log appended to its own file, asks,
// removes what the log lists with a progress window, and ends with an exit
// code (README, "The uninstaller").
#include <windows.h>
#include <string.h>

#include "base/arguments.h"
#include "base/files.h"
#include "base/system_library.h"
#include "uninstaller/log.h"
#include "uninstaller/plan.h"
#include "uninstaller/removal.h"

enum ExitCode : int {
  ExitRemoved = 0,
  ExitDeclined = 1,
  ExitFilesKept = 2,
  ExitUnreadable = -1,
  ExitRestartNeeded = -2,
};

static const char* const DefaultTexts[UninstallerTextCount] = {
    "Uninstall",
    "Remove this program and all of its components from this computer?",
    "Removing",
    "The program was removed from this computer.",
    "These files were not removed: they were changed since the installation, could not be removed, or were not installed by it:",
    "Some files are in use. They will be removed when Windows starts again.",
    "The uninstall information is damaged or incomplete. Nothing was removed.",
};

static char Texts[UninstallerTextCount][512];

static void LoadTexts(const UninstallLog* log) {
  for (u32 i = 0; i < UninstallerTextCount; ++i) {
    const LogText* t = log ? &log->texts[i] : nullptr;
    if (t && t->length && t->length < sizeof Texts[i]) {
      memcpy(Texts[i], t->text, t->length);
      Texts[i][t->length] = 0;
    } else {
      CopyText(Texts[i], DefaultTexts[i], sizeof Texts[i]);
    }
  }
}

// ---------------------------------------------------------------- progress

static HWND ProgressWindow, ProgressText;
static u32 ProgressDone, ProgressTotal;
static int DisplayDpi = 96;

// The window is laid out in pixels at 96 DPI; the program is DPI-aware (its
// manifest says so), so it scales them to the display itself.
static int Px(int pixels) { return MulDiv(pixels, DisplayDpi, 96); }

static LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT r;
    GetClientRect(window, &r);
    RECT bar = {Px(12), r.bottom - Px(34), r.right - Px(12), r.bottom - Px(14)};
    FrameRect(dc, &bar, (HBRUSH)GetStockObject(GRAY_BRUSH));
    InflateRect(&bar, -2, -2);
    if (ProgressTotal) bar.right = bar.left + (LONG)((uint64_t)(bar.right - bar.left) * ProgressDone / ProgressTotal);
    FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_CLOSE) return 0;  // the removal runs to its end
  return DefWindowProcA(window, message, w, l);
}

static void PumpMessages() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

static void OpenProgress(u32 total) {
  ProgressTotal = total;
  WNDCLASSA c;
  memset(&c, 0, sizeof c);
  c.lpfnWndProc = ProgressProc;
  c.hInstance = GetModuleHandleA(nullptr);
  c.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_WAIT);
  c.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  c.lpszClassName = "SetrunUninstall";
  c.hIcon = LoadIconA(c.hInstance, MAKEINTRESOURCEA(1));
  RegisterClassA(&c);
  HDC screen = GetDC(nullptr);
  if (screen) {
    DisplayDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  if (DisplayDpi < 96) DisplayDpi = 96;
  int width = Px(440), height = Px(130);
  ProgressWindow = CreateWindowExA(0, c.lpszClassName, Texts[TextTitle],
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                   (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                   (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                   nullptr, nullptr, c.hInstance, nullptr);
  if (!ProgressWindow) return;
  HWND label = CreateWindowExA(0, "STATIC", Texts[TextRemoving], WS_CHILD | WS_VISIBLE, Px(12), Px(10),
                               width - Px(30), Px(18), ProgressWindow, nullptr, c.hInstance, nullptr);
  ProgressText = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS, Px(12), Px(30),
                                 width - Px(30), Px(18), ProgressWindow, nullptr, c.hInstance, nullptr);
  HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
  SendMessageA(label, WM_SETFONT, (WPARAM)font, 0);
  SendMessageA(ProgressText, WM_SETFONT, (WPARAM)font, 0);
  PumpMessages();
}

static void ShowStep(const char* what) {
  ++ProgressDone;
  if (!ProgressWindow) return;
  SetWindowTextA(ProgressText, what);
  InvalidateRect(ProgressWindow, nullptr, FALSE);
  PumpMessages();
}

// ---------------------------------------------------------------- run

static int IsSilent(const char* arguments) {
  for (const char* p = arguments; *p; ++p)
    if ((*p == '/' || *p == '-') && (p[1] == 'S' || p[1] == 's') &&
        (p[2] == 0 || p[2] == ' ' || p[2] == '\t') && (p == arguments || p[-1] == ' ' || p[-1] == '\t'))
      return 1;
  return 0;
}

// In a silent run the kept files go to standard output, when there is one.
static void Report(int silent, const char* text, UINT icon) {
  if (!silent) {
    MessageBoxA(ProgressWindow, text, Texts[TextTitle], MB_OK | icon | MB_SETFOREGROUND);
    return;
  }
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(out, text, (DWORD)strlen(text), &written, nullptr);
  WriteFile(out, "\r\n", 2, &written, nullptr);
}

// Reads the program's own file whole: the image and the log behind it.
static int ReadOwnFile(const char* path, u8** bytes, u32* length) {
  FileHandle file = OpenExisting(path, OpenRead);
  if (file == InvalidFile) return 0;
  u32 n = FileLength(file);
  int ok = n != 0xFFFFFFFFu && n <= MaxLogBytes + (16u << 20) && AllocBlock(n + 1, bytes) &&
           ReadExact(file, *bytes, n) == 0;
  CloseFile(file);
  *length = n;
  return ok;
}

static int Uninstall(const char* arguments) {
  // The uninstaller runs from the installation folder, which a per-user
  // product's user can write to: libraries come from the system folder only.
  RestrictLibrarySearch();
  const int silent = IsSilent(arguments);
  char self[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ExitUnreadable;
  self[n] = 0;
  char folder[MAX_PATH + 1];
  CopyText(folder, self, sizeof folder);
  *(strrchr(folder, '\\') + 1) = 0;

  u8* bytes = nullptr;
  u32 length = 0;
  UninstallLog log;
  memset(&log, 0, sizeof log);
  int status = LogDamaged;
  if (ReadOwnFile(self, &bytes, &length)) {
    u32 start = ImageEnd(bytes, length);
    if (start) status = ReadUninstallLog(bytes + start, length - start, &log);
  }
  LoadTexts(status == LogReadable ? &log : nullptr);
  if (status != LogReadable) {
    Report(silent, Texts[TextDamaged], MB_ICONERROR);
    FreeBlock(&bytes);
    return ExitUnreadable;
  }
  if (!silent && MessageBoxA(nullptr, Texts[TextConfirm], Texts[TextTitle],
                             MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES) {
    FreeUninstallLog(&log);
    FreeBlock(&bytes);
    return ExitDeclined;
  }
  RemovalPlan plan;
  if (!BuildRemovalPlan(&log, folder, &plan)) {
    Report(silent, Texts[TextDamaged], MB_ICONERROR);
    FreeUninstallLog(&log);
    FreeBlock(&bytes);
    return ExitUnreadable;
  }
  if (!silent) OpenProgress(plan.stepCount);
  RemovalResult result;
  memset(&result, 0, sizeof result);
  char what[520];
  for (u32 i = 0; i < plan.stepCount; ++i) {
    DescribeStep(&log, &plan, &plan.steps[i], folder, what);
    ShowStep(what);
    RemoveStep(&log, &plan, &plan.steps[i], folder, &result);
  }
  NameLeftFiles(&plan, self, &result);
  RemoveAtRestart(&plan, self);

  int code = ExitRemoved;
  if (result.keptCount) {
    code = ExitFilesKept;
    u32 size = (u32)strlen(Texts[TextKept]) + 4 + result.keptLength;
    char* text = nullptr;
    if (AllocBlock(size, &text)) {
      u32 at = CopyText(text, Texts[TextKept], size);
      at += CopyText(text + at, "\r\n\r\n", size - at);
      CopyText(text + at, result.kept, size - at);
      Report(silent, text, MB_ICONWARNING);
      FreeBlock(&text);
    }
  } else if (result.restartNeeded) {
    code = ExitRestartNeeded;
    if (!silent) Report(silent, Texts[TextRestart], MB_ICONINFORMATION);
  } else if (!silent) {
    Report(silent, Texts[TextDone], MB_ICONINFORMATION);
  }
  if (ProgressWindow) DestroyWindow(ProgressWindow);
  FreeRemovalResult(&result);
  FreeRemovalPlan(&plan);
  FreeUninstallLog(&log);
  FreeBlock(&bytes);
  return code;
}

// Own entry point, without the C runtime's start-up code (as the setup
// program).
extern "C" __attribute__((force_align_arg_pointer)) void UninstallEntry() {
  ExitProcess((UINT)Uninstall(ArgumentsOf(GetCommandLineA())));
}
