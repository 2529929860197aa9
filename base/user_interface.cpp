// The user interface seam: what is connected, and the forwarding calls.
#include "base/user_interface.h"

static UserInterface Connected;

void ConnectUserInterface(const UserInterface& connected) { Connected = connected; }

int ShowMessage(const char* text, u32 style) {
  return Connected.showMessage ? Connected.showMessage(text, style) : 0;
}

void PumpWhileReading() {
  if (Connected.pumpWhileReading) Connected.pumpWhileReading();
}

void ShowProgress(u32 percent) {
  if (Connected.showProgress) Connected.showProgress(percent);
}

void ShowCurrentFile(const char* path) {
  if (Connected.showCurrentFile) Connected.showCurrentFile(path);
}
