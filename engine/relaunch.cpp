// The command lines and the length of the program's relaunch copy; no
// Windows API.
#include "engine/relaunch.h"

#include <string.h>

#include "package/tables.h"
#include "paths/path_text.h"

u32 ProgramCopyLength(FileHandle file) {
  u32 position;
  if (!FindPackageStart(file, &position)) return 0;
  const u32 length = FileLength(file);
  SeekFile(file, position);
  for (;;) {
    u8 raw[RecordHeaderSize];
    if (ReadExact(file, raw, RecordHeaderSize)) return 0;
    position += RecordHeaderSize;
    const u16 type = ReadU16(raw);
    const u32 size = ReadU32(raw + 4);
    if (type == RecordEndOfTables) break;
    if (size == 0) continue;
    // A payload must end inside the file.
    if (size > length - position) return 0;
    position += size;
    SeekFile(file, position);
  }
  // The data length word must be there too.
  if (length - position < 4) return 0;
  return position + 4;
}

// Appends the texts of `parts` (up to a null) to `out`; 0 and an empty text
// when they do not fit `size` bytes.
static int Join(char* out, u32 size, const char* const* parts) {
  if (size == 0) return 0;
  u32 at = 0;
  for (; *parts; ++parts) {
    const size_t n = strlen(*parts);
    if (n >= size - at) {
      out[0] = 0;
      return 0;
    }
    memcpy(out + at, *parts, n);
    at += (u32)n;
  }
  out[at] = 0;
  return 1;
}

int FormatMediaRelaunch(char* out, u32 size, const char* copy, const char* program) {
  const char* parts[] = {"\"", copy, "\" /S\"", program, "\" /DEL", nullptr};
  return Join(out, size, parts);
}

int FormatRestartRelaunch(char* out, u32 size, const char* copy, u32 group, int runAfterInstall) {
  char number[11];
  WriteDecimal(number, group, 1);
  const char* parts[] = {"\"", copy, "\" /B", number, " /DEL",
                         runAfterInstall ? "" : " /N", nullptr};
  return Join(out, size, parts);
}
