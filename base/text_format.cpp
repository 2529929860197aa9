#include "base/text_format.h"

// Appends one character while there is room for it and the terminator.
static inline void Put(char* out, u32 size, u32* at, char c) {
  if (*at + 1 < size) out[(*at)++] = c;
}

static void PutNumber(char* out, u32 size, u32* at, i32 number, bool isUnsigned) {
  char digits[12];
  int n = 0;
  u32 value = (u32)number;
  if (!isUnsigned && number < 0) {
    Put(out, size, at, '-');
    value = 0u - value;
  }
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) Put(out, size, at, digits[--n]);
}

void FormatText(char* out, u32 size, const char* format, const char* text, i32 number) {
  if (!out || size == 0) return;
  u32 at = 0;
  if (!text) text = "";
  for (const char* p = format ? format : ""; *p; ++p) {
    if (*p != '%') {
      Put(out, size, &at, *p);
      continue;
    }
    char c = p[1];
    if (c == '%') {
      Put(out, size, &at, '%');
      ++p;
    } else if (c == 's') {
      for (const char* s = text; *s; ++s) Put(out, size, &at, *s);
      ++p;
    } else if (c == 'd' || c == 'i' || c == 'u') {
      PutNumber(out, size, &at, number, c == 'u');
      ++p;
    } else {
      Put(out, size, &at, '%');
    }
  }
  out[at] = 0;
}
