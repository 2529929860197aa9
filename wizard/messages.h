// Message boxes, progress and the message pump.
#pragma once

#include "package/format.h"

// Handles pending window messages; with `wait` non-zero blocks until at least
// one message has arrived.
void PumpMessages(int wait);
// The package reader's pump: PumpMessages(0), at most once per
// QueueLookIntervalMs (InstallWithoutPage drains the queue as seldom), since
// looking at the queue costs far more than reading 4,096 bytes.
void PumpWhileReading();
static const u32 QueueLookIntervalMs = 10;
// A message box owned by the frame dialog (or the backdrop window) with the
// setup title as caption; returns the MessageBoxA result.
int ShowMessage(const char* text, u32 style);

static const u32 StyleQuestion = 0x24;     // MB_YESNO | MB_ICONQUESTION
static const u32 StyleInformation = 0x40;  // MB_ICONINFORMATION
static const u32 StyleDiskPrompt = 0x41;   // MB_OKCANCEL | MB_ICONINFORMATION
static const u32 StyleQuestionNo = 0x124;  // MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
static const int AnswerYes = 6;            // IDYES
static const int AnswerOk = 1;             // IDOK

// Windows offered each message before it is dispatched, after the frame
// dialog: the current page, the button bar, the header pane and the side
// pane (null entries are skipped). Kept by the wizard.
static const int PumpPaneCount = 4;
extern void* PumpPanes[PumpPaneCount];

// Runs a whole installation without a page (silent and behind-the-scenes).
void InstallWithoutPage();
// Asks text 7/questionNumber (empty = Yes), then shows 7/noticeNumber.
int AskAndNotify(u32 questionNumber, u32 noticeNumber);
// Attaches the installing page (its progress bar is control 1009); null
// detaches it. While nothing is attached the two calls below do nothing.
void AttachProgress(void* page);
void ShowProgress(u32 percent);
void ShowCurrentFile(const char* path);
