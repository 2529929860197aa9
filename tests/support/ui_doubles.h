// Native stand-ins for the window-message services the portable code calls:
// they record what was asked so that tests can check it.
#pragma once

#include <string>
#include <vector>

struct UiLog {
  int pumps = 0;                  // PumpMessages calls
  std::vector<std::string> messages;  // texts shown by ShowMessage
  std::vector<unsigned> styles;
  int answer = 6;                 // what ShowMessage answers (IDYES)
};

UiLog& Ui();
void ResetUi();
