// Questions and notices in message boxes, and the texts of failures, taken
// from the package's texts.
#include "base/files.h"
#include "base/run_state.h"
#include "base/text_format.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "wizard/messages.h"

int AskAndNotify(u32 questionNumber, u32 noticeNumber) {
  const char* question = GetText(7, questionNumber);
  if (*question && ShowMessage(question, StyleQuestion) != AnswerYes) return 0;
  if (noticeNumber != 0) {
    const char* notice = GetText(7, noticeNumber);
    if (*notice) ShowMessage(notice, StyleInformation);
  }
  return 1;
}

static int HoldsTextPlace(const char* text) {
  for (; *text; ++text)
    if (text[0] == '%' && text[1] == 's') return 1;
  return 0;
}

void FormatErrorText(char* buffer, u32 size, u32 number) {
  const char* text = GetText(7, number);
  if (HoldsTextPlace(text)) FormatText(buffer, size, text, ErrorDetail, 0);
  else CopyText(buffer, text, size);
}

// Appends `text` to the text in `buffer` (`size` bytes), cut to fit.
static void Append(char* buffer, u32 size, const char* text) {
  u32 at = 0;
  while (buffer[at]) ++at;
  CopyText(buffer + at, text, size - at);
}

void FormatFailureText(char* buffer, u32 size) {
  buffer[0] = 0;
  if (InstallResult == CodeAbandoned) {
    CopyText(buffer, GetText(7, CodeAbandoned), size);
    return;
  }
  char reason[FailureReasonSize];
  reason[0] = 0;
  if (InstallResult == CodeInvalidData) {
    // The damaged file, the message, and the decompressor's status.
    const char* detail = ErrorDetail ? ErrorDetail : "";
    CopyText(reason, detail, sizeof reason);
    if (*detail) Append(reason, sizeof reason, ": ");
    u32 at = 0;
    while (reason[at]) ++at;
    FormatErrorText(reason + at, sizeof reason - at, CodeInvalidData);
    if (InflateStatusWord) {
      char status[16] = " (error ";
      u32 digits = 4;
      while (digits < 8 && (InflateStatusWord >> (4 * digits))) ++digits;
      for (u32 i = 0; i < digits; ++i)
        status[8 + i] = "0123456789ABCDEF"[(InflateStatusWord >> (4 * (digits - 1 - i))) & 0xF];
      status[8 + digits] = ')';
      status[9 + digits] = 0;
      Append(reason, sizeof reason, status);
    }
  } else {
    FormatErrorText(reason, sizeof reason, (u32)InstallResult);
  }
  FormatText(buffer, size, GetText(6, 5), reason, 0);
}
