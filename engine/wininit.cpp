#include "engine/wininit.h"

#include <string.h>

int MarkWininitDelete(char* text, u32 length, const char* shortSource) {
  u32 sourceLength = (u32)strlen(shortSource);
  u32 lineLength = 4 + sourceLength;  // "xyz=" and the source
  if (length < lineLength) return 0;
  for (u32 at = 0; at + lineLength <= length; ++at) {
    if (memcmp(text + at, "xyz=", 4) != 0) continue;
    if (memcmp(text + at + 4, shortSource, sourceLength) != 0) continue;
    // The key starts its line and the source ends it: a longer path that
    // merely begins with this one is another line.
    if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r') continue;
    u32 end = at + lineLength;
    if (end < length && text[end] != '\r' && text[end] != '\n') continue;
    memcpy(text + at, "NUL", 3);
    return 1;
  }
  return 0;
}
