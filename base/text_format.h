// Text formatting: the safe formatting of package texts for message boxes.
// No Windows API.
#pragma once

#include "base/format.h"

// Formats a text taken from the package into `out` (capacity `size`, always
// terminated, cut when too long). Every %s receives `text` (null counts as
// empty), every %d, %i or %u receives `number`, %% gives one percent sign;
// any other percent sequence is copied as it stands. Package texts are data:
// they never decide what is read from the argument list.
void FormatText(char* out, u32 size, const char* format, const char* text, i32 number);

// Writes `value` in decimal digits, with leading zeros up to `minDigits`
// (at most 10), and a terminator. `out` needs room for 11 bytes. Returns the
// number of digits written.
u32 WriteDecimal(char* out, u32 value, u32 minDigits);
