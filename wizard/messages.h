// Message boxes, progress and the message pump.
#pragma once

#include "base/user_interface.h"

// Handles pending window messages; with `wait` non-zero blocks until at least
// one message has arrived.
void PumpMessages(int wait);

// The wizard's side of the user interface seam (base/user_interface.h),
// connected by startup. The reading pump: PumpMessages(0), at most once per
// QueueLookIntervalMs (InstallWithoutPage drains the queue as seldom), since
// looking at the queue costs far more than reading 4,096 bytes.
void WizardPumpWhileReading();
static const u32 QueueLookIntervalMs = 10;
// A message box owned by the frame dialog (or the backdrop window) with the
// setup title as caption; returns the MessageBoxA result.
int WizardShowMessage(const char* text, u32 style);
// The installing page's percentage and current file (see AttachProgress).
void WizardShowProgress(u32 percent);
void WizardShowCurrentFile(const char* path);

// Windows offered each message before it is dispatched, after the frame
// dialog: the current page, the button bar, the header pane and the side
// pane (null entries are skipped). Kept by the wizard.
static const int PumpPaneCount = 4;
extern void* PumpPanes[PumpPaneCount];

// Runs a whole installation without a page (silent and behind-the-scenes).
void InstallWithoutPage();
// Asks text 7/questionNumber (empty = Yes), then shows 7/noticeNumber.
int AskAndNotify(u32 questionNumber, u32 noticeNumber);
// Text 7/number into `buffer` (`size` bytes, always terminated); a text
// holding "%s" gets ErrorDetail in its place.
void FormatErrorText(char* buffer, u32 size, u32 number);
// The finish page's text after a failed installation (InstallResult not 0):
// 7/15 for an installation the user stopped; otherwise 6/5 with the reason
// in its place, which is FormatErrorText of the result, and for damaged data
// (31) ErrorDetail, ": ", the message and " (error XXXX)" with the
// decompressor's status word when it is set.
static const u32 FailureReasonSize = 2048;
void FormatFailureText(char* buffer, u32 size);
// Attaches the installing page (its progress bar is control 1009); null
// detaches it. While nothing is attached WizardShowProgress and
// WizardShowCurrentFile do nothing.
void AttachProgress(void* page);
