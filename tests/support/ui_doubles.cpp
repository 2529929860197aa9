#include "tests/support/ui_doubles.h"

#include "wizard/messages.h"

UiLog& Ui() {
  static UiLog log;
  return log;
}

void ResetUi() { Ui() = UiLog(); }

void PumpMessages(int) { ++Ui().pumps; }
void PumpWhileReading() { ++Ui().pumps; }

int ShowMessage(const char* text, u32 style) {
  Ui().messages.push_back(text);
  Ui().styles.push_back(style);
  return Ui().answer;
}
