// The native test installation of the seams: stand-ins for the wizard's
// message boxes, pump and progress display that record what was asked, so
// that tests can check it, and the engine's own volume opener for the
// package reader. Connected before the first test runs and again by ResetUi.
#pragma once

#include <string>
#include <vector>

struct UiLog {
  int pumps = 0;                  // PumpWhileReading calls
  std::vector<std::string> messages;  // texts shown by ShowMessage
  std::vector<unsigned> styles;
  int answer = 6;                 // what ShowMessage answers (IDYES)
};

UiLog& Ui();
// Clears the log and connects the stand-ins (again).
void ResetUi();
// Connects the stand-ins and the volume opener to the seams, as startup
// connects the real providers.
void ConnectTestSeams();
