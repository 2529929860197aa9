// The "Rename" section of WININIT.INI, which the 9x family of Windows works
// through at its next start: lines destination=source of short paths, and
// NUL=source for a file to delete.
#pragma once

#include "base/format.h"

// The key a delete line is written under first: the profile functions keep
// one value per key, so the line is written with this placeholder and then
// renamed to NUL in the file itself.
static const char WininitPlaceholder[] = "xyz";

// Finds the first line "xyz=" + shortSource in the `length` bytes of `text`
// (the source must end the line) and turns its key into "NUL". Returns 1 when
// a line was changed.
int MarkWininitDelete(char* text, u32 length, const char* shortSource);
