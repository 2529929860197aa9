#include "startup/command_line.h"

#include "base/run_state.h"

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
static char Upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

const char* ReadSwitchArgument(const char* text, char* destination, u32 size) {
  u32 stored = 0;
  auto keep = [&](char c) {
    if (stored + 1 < size) destination[stored++] = c;
  };
  while (*text == ' ') ++text;
  if (*text == '"') {
    ++text;
    while (*text && *text != '"') keep(*text++);
    if (*text == '"') ++text;
  } else {
    while (*text && *text != ' ') keep(*text++);
  }
  if (size) destination[stored] = 0;
  return text;
}

void ParseCommandLine(const char* text) {
  if (!text) return;
  while (*text == ' ') ++text;
  while (*text == '-' || *text == '/') {
    char letter = Upper(text[1]);
    if (!text[1]) break;
    text += 2;
    switch (letter) {
      case 'B':
        ContinueGroup = 0;
        if (IsDigit(*text)) {
          ContinueGroup = *text++ - '0';
          if (IsDigit(*text)) ContinueGroup = ContinueGroup * 10 + (*text - '0');
        }
        break;
      case 'D':
        if (Upper(text[0]) == 'E' && Upper(text[1]) == 'L') DeleteSelfAtRestart = 1;
        break;
      case 'F':
        RegisterKeptFiles = 1;
        break;
      case 'N':
        RunAfterInstall = 0;
        break;
      case 'R':
        if (*text == ' ' || *text == 0) AcceptDamagedFiles = 1;
        break;
      case 'S':
        text = ReadSwitchArgument(text, ProgramPath, PathSize);
        break;
      case 'V':
        KeepInteractive = 1;
        break;
      default:
        break;
    }
    while (*text && *text != ' ' && *text != '-' && *text != '/') ++text;
    while (*text == ' ') ++text;
  }
}
