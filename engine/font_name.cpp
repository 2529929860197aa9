#include "engine/font_name.h"

#include <string.h>

#include "base/files.h"

// TrueType numbers are big-endian.
static u16 Big16(const u8* p) { return (u16)((p[0] << 8) | p[1]); }
static u32 Big32(const u8* p) {
  return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | (u32)p[3];
}

// a + b, or 0 when the sum does not fit 32 bits.
static int Add(u32 a, u32 b, u32* sum) {
  if (b > 0xFFFFFFFFu - a) return 0;
  *sum = a + b;
  return 1;
}

static const u32 OffsetTableSize = 12;
static const u32 TableRecordSize = 16;
static const u32 MaxTableRecords = 40;
static const u32 NameHeaderSize = 6;
static const u32 NameRecordSize = 12;
static const u16 PlatformMacintosh = 1;
static const u16 NameIdFullName = 4;

void FindFontFullName(FontReadAt read, void* source, char* name) {
  name[0] = 0;
  u8 header[OffsetTableSize];
  if (read(source, 0, header, sizeof header)) return;
  u32 tables = Big16(header + 4);
  if (tables > MaxTableRecords) tables = MaxTableRecords;
  u32 nameTable = 0;
  int found = 0;
  for (u32 i = 0; i < tables && !found; ++i) {
    u8 record[TableRecordSize];
    if (read(source, OffsetTableSize + i * TableRecordSize, record, sizeof record)) return;
    if (memcmp(record, "name", 4) == 0) {
      nameTable = Big32(record + 8);
      found = 1;
    }
  }
  if (!found) return;
  u8 nameHeader[NameHeaderSize];
  if (read(source, nameTable, nameHeader, sizeof nameHeader)) return;
  const u32 count = Big16(nameHeader + 2);
  u32 strings;  // where the texts of the name table start
  if (!Add(nameTable, Big16(nameHeader + 4), &strings)) return;
  for (u32 i = 0; i < count; ++i) {
    // count < 65536: the records' offsets fit 20 bits.
    u32 at;
    if (!Add(nameTable, NameHeaderSize + i * NameRecordSize, &at)) return;
    u8 record[NameRecordSize];
    if (read(source, at, record, sizeof record)) return;
    if (Big16(record) != PlatformMacintosh || Big16(record + 6) != NameIdFullName) continue;
    u32 length = Big16(record + 8), text;
    if (!Add(strings, Big16(record + 10), &text)) continue;
    if (length > FontNameSize - 1) length = FontNameSize - 1;
    char taken[FontNameSize];
    if (length && read(source, text, taken, length)) continue;
    memcpy(name, taken, length);
    name[length] = 0;
  }
}

static int ReadFileAt(void* source, u32 offset, void* buffer, u32 size) {
  FileHandle file = (FileHandle)source;
  if (SeekFile(file, offset) != offset) return 1;
  return ReadExact(file, buffer, size);
}

void ReadFontName(const char* path, char* name) {
  name[0] = 0;
  FileHandle file = OpenExisting(path, OpenRead);
  if (file == InvalidFile) return;
  FindFontFullName(ReadFileAt, file, name);
  CloseFile(file);
}
