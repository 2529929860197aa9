#include "base/text_format.h"

// Appends one character while there is room for it and the terminator.
static inline void Put(char* out, u32 size, u32* at, char c) {
  if (*at + 1 < size) out[(*at)++] = c;
}

u32 WriteDecimal(char* out, u32 value, u32 minDigits) {
  char digits[10];
  u32 n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  while (n < minDigits && n < sizeof digits) digits[n++] = '0';
  for (u32 i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  out[n] = 0;
  return n;
}

static void PutNumber(char* out, u32 size, u32* at, i32 number, bool isUnsigned) {
  u32 value = (u32)number;
  if (!isUnsigned && number < 0) {
    Put(out, size, at, '-');
    value = 0u - value;
  }
  char digits[11];
  WriteDecimal(digits, value, 1);
  for (const char* d = digits; *d; ++d) Put(out, size, at, *d);
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
