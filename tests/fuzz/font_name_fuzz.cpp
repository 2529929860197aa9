// libFuzzer target: the full name of a font from the "name" table of any
// bytes taken as a font file. The name must be terminated inside its
// buffer; every read must lie inside the file.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "engine/font_name.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
};

int ReadInput(void* source, u32 offset, void* buffer, u32 size) {
  const Input& in = *(const Input*)source;
  if (offset > in.size || size > in.size - offset) return 1;
  memcpy(buffer, in.data + offset, size);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in = {data, size};
  char name[FontNameSize + 1];
  name[FontNameSize] = 0x5A;  // a guard byte behind the buffer
  FindFontFullName(ReadInput, &in, name);
  if (memchr(name, 0, FontNameSize) == nullptr || name[FontNameSize] != 0x5A) abort();
  return 0;
}
