// The user interface as the layers below the wizard reach it: message boxes,
// the pump while package data is read, and the progress display. The wizard
// provides them; startup connects them (ConnectUserInterface) before the
// package is read, so the package reader, the paths and the engine ask the
// user without including the wizard. Tests connect stand-ins.
#pragma once

#include "base/format.h"

struct UserInterface {
  // A message box with the setup title as caption, owned by the frame dialog
  // (or the backdrop window); returns the MessageBoxA result.
  int (*showMessage)(const char* text, u32 style);
  // Lets pending window messages through during long reads and
  // installations; may return at once when the queue was looked at lately.
  void (*pumpWhileReading)();
  // The installing page's progress bar (percent, at most 100) and current
  // file; nothing while no page shows them.
  void (*showProgress)(u32 percent);
  void (*showCurrentFile)(const char* path);
};

// Hands in the user interface for the rest of the run. An entry left null
// does nothing (a message box then answers 0, which is neither Yes nor OK).
void ConnectUserInterface(const UserInterface& connected);

// The calls of the layers below, forwarded to what is connected.
int ShowMessage(const char* text, u32 style);
void PumpWhileReading();
void ShowProgress(u32 percent);
void ShowCurrentFile(const char* path);

static const u32 StyleQuestion = 0x24;     // MB_YESNO | MB_ICONQUESTION
static const u32 StyleInformation = 0x40;  // MB_ICONINFORMATION
static const u32 StyleDiskPrompt = 0x41;   // MB_OKCANCEL | MB_ICONINFORMATION
static const u32 StyleQuestionNo = 0x124;  // MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
static const int AnswerYes = 6;            // IDYES
static const int AnswerOk = 1;             // IDOK
