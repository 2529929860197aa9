/* The baseline of the start-up benchmark: a trivial Windows program that
 * shows one window with one line of text (a static control, id 1000) and
 * waits for messages. */
#include <windows.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous, (void)commandLine, (void)show;
  WNDCLASSA c;
  ZeroMemory(&c, sizeof c);
  c.lpfnWndProc = WindowProc;
  c.hInstance = instance;
  c.hCursor = LoadCursor(NULL, IDC_ARROW);
  c.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  c.lpszClassName = "TrivialWindow";
  if (!RegisterClassA(&c)) return 1;
  HWND window = CreateWindowExA(0, "TrivialWindow", "Trivial", WS_OVERLAPPEDWINDOW, 100, 100, 500, 360, NULL,
                                NULL, instance, NULL);
  if (!window) return 1;
  CreateWindowExA(0, "STATIC", "Hello.", WS_CHILD | WS_VISIBLE, 20, 20, 200, 20, window, (HMENU)1000, instance,
                  NULL);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  MSG m;
  while (GetMessageA(&m, NULL, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return 0;
}
