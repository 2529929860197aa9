// Message boxes, progress and the message pump.
#pragma once

#include "package/format.h"

// Handles pending window messages; with `wait` non-zero blocks until at least
// one message has arrived.
void PumpMessages(int wait);
// A message box owned by the frame dialog (or the backdrop window) with the
// setup title as caption; returns the MessageBoxA result.
int ShowMessage(const char* text, u32 style);

static const u32 StyleQuestion = 0x24;     // MB_YESNO | MB_ICONQUESTION
static const u32 StyleInformation = 0x40;  // MB_ICONINFORMATION
static const u32 StyleDiskPrompt = 0x41;   // MB_OKCANCEL | MB_ICONINFORMATION
static const int AnswerYes = 6;            // IDYES
static const int AnswerOk = 1;             // IDOK
