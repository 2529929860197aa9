#include "base/files.h"

u32 CopyText(char* destination, const char* source, u32 size) {
  u32 n = 0;
  if (size == 0) return 0;
  while (n + 1 < size && source[n]) {
    destination[n] = source[n];
    ++n;
  }
  destination[n] = 0;
  return n;
}
