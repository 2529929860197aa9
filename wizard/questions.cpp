// Questions and notices in message boxes, taken from the package's texts.
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
