// Expansion of folder variables in texts. The values come from
// ResolveVariable; this file only cuts the text into plain runs and tokens.
#include <string.h>

#include "base/files.h"
#include "paths/variables.h"
#include "base/run_state.h"

namespace {

// The text being built: at most ExpandLimit - 1 characters, always
// terminated (the buffer was zero-filled and is only ever appended to).
struct Output {
  char* buffer;
  u32 length;
};

void Append(Output* out, const char* text, u32 count) {
  u32 room = ExpandLimit - 1 - out->length;
  if (count > room) count = room;
  memcpy(out->buffer + out->length, text, count);
  out->length += count;
  out->buffer[out->length] = 0;
}

// Copies `length` characters of `text` into the destination, cut to its size
// and terminated.
void Deliver(char* destination, u32 size, const char* text, u32 length) {
  if (!destination || size == 0) return;
  u32 count = length < size ? length : size - 1;
  if (destination != text) memmove(destination, text, count);
  destination[count] = 0;
}

}  // namespace

u32 ExpandVariables(char* destination, const char* source, u32 destinationSize) {
  char* work = nullptr;
  if (!AllocZeroed(ExpandLimit, &work)) {
    // No room to expand: the text goes on as it stands.
    u32 length = (u32)strlen(source);
    Deliver(destination, destinationSize, source, length);
    return length;
  }
  Output out = {work, 0};
  const char* at = source;
  for (;;) {
    const char* open = strchr(at, '#');
    const char* close = open ? strchr(open + 1, '#') : nullptr;
    if (!close) {
      // No token left: the rest of the text, a lone mark included, stays.
      Append(&out, at, (u32)strlen(at));
      break;
    }
    Append(&out, at, (u32)(open - at));
    // The token is resolved apart from the text so that its value always has
    // its 260 bytes, wherever the text has got to. A token too long for that
    // buffer names no variable and vanishes like any unknown one.
    u32 tokenLength = (u32)(close - open) + 1;
    if (tokenLength < PathSize) {
      char value[PathSize];
      memcpy(value, open, tokenLength);
      value[tokenLength] = 0;
      ResolveVariable(value);
      value[PathSize - 1] = 0;
      Append(&out, value, (u32)strlen(value));
    }
    at = close + 1;
  }
  u32 length = out.length;
  Deliver(destination, destinationSize, work, length);
  FreeBlock(&work);
  return length;
}
