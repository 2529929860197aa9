#include <windows.h>

#include "wizard/messages.h"

#include "package/tables.h"
#include "startup/run_state.h"

void PumpMessages(int wait) {
  MSG msg;
  for (;;) {
    if (!wait && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return;
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
      wait = 0;
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return;
  }
}

int ShowMessage(const char* text, u32 style) {
  HWND owner = (HWND)(FrameDialog ? FrameDialog : BackdropWindow);
  return MessageBoxA(owner, text, GetText(7, 0), style);
}
