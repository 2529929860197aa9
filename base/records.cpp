#include "base/records.h"

const char* RecordText(RecordView record, u32 fieldOffset) {
  if (fieldOffset > record.length || record.length - fieldOffset < 4) return nullptr;
  u32 offset = ReadU32(record.data + fieldOffset);
  if (offset == 0 || offset >= record.length) return nullptr;
  if (StringLengthIn(record.data, record.length, offset) < 0) return nullptr;
  return (const char*)record.data + offset;
}

// Offset of text group `group`, or 0 when there is none or it is malformed.
static u32 TextGroupOffset(RecordView record, u32 group) {
  if (group >= TextGroupCount || record.length < GroupHeaderSize) return 0;
  u32 offset = ReadU32(record.data + GroupTextGroups + 4 * group);
  if (offset == 0 || offset >= record.length || record.length - offset < 2) return 0;
  return offset;
}

const char* GroupRecordText(RecordView record, u32 group, u32 number) {
  u32 offset = TextGroupOffset(record, group);
  if (offset == 0) return nullptr;
  u32 count = ReadU16(record.data + offset);
  if (number >= count) return nullptr;
  u32 at = offset + 2;
  for (u32 i = 0;; ++i) {
    long n = StringLengthIn(record.data, record.length, at);
    if (n < 0) return nullptr;
    if (i == number) return (const char*)record.data + at;
    at += (u32)n + 1;
  }
}

bool FirstText(RecordView record, u32 group, TextCursor* cursor) {
  u32 offset = TextGroupOffset(record, group);
  if (offset == 0) return false;
  *cursor = {record, offset + 2, ReadU16(record.data + offset)};
  return true;
}

const char* NextText(TextCursor* cursor) {
  if (cursor->left == 0) return nullptr;
  long n = StringLengthIn(cursor->record.data, cursor->record.length, cursor->at);
  if (n < 0) {
    cursor->left = 0;
    return nullptr;
  }
  const char* text = (const char*)cursor->record.data + cursor->at;
  cursor->at += (u32)n + 1;
  --cursor->left;
  return text;
}

// A text group: u16 count, then that many NUL-terminated strings.
static bool CheckTextGroup(RecordView record, u32 offset) {
  if (offset >= record.length || record.length - offset < 2) return false;
  u32 count = ReadU16(record.data + offset);
  u32 at = offset + 2;
  for (u32 i = 0; i < count; ++i) {
    long n = StringLengthIn(record.data, record.length, at);
    if (n < 0) return false;
    at += (u32)n + 1;
  }
  return true;
}

bool CheckGroupRecord(RecordView record) {
  if (record.length < GroupHeaderSize) return false;
  for (u32 i = 0; i < GroupTextFieldCount; ++i) {
    u32 offset = ReadU32(record.data + GroupTextFields[i]);
    if (offset != 0 && RecordText(record, GroupTextFields[i]) == nullptr) return false;
  }
  for (u32 g = 0; g < TextGroupCount; ++g) {
    u32 offset = ReadU32(record.data + GroupTextGroups + 4 * g);
    if (offset != 0 && !CheckTextGroup(record, offset)) return false;
  }
  return true;
}

bool CheckLayoutRecord(RecordView record) {
  if (record.length < LayoutHeaderSize) return false;
  // Page entries and button-bar controls are checked in depth by the wizard
  // when it builds a page; here each must at least start inside the record.
  for (u32 slot = 0; slot < PageTableUsedSlots; ++slot) {
    u32 offset = ReadU32(record.data + LayoutPageTable + 4 * slot);
    if (offset != 0 && offset >= record.length) return false;
  }
  u32 controls = ReadU32(record.data + LayoutButtonBarControls);
  u32 count = ReadU32(record.data + LayoutButtonBarCount);
  if (count != 0 && controls >= record.length) return false;
  return true;
}

u32 EntryStringsOffset(const u8* entry) {
  u32 flags = ReadU32(entry + EntryFlags);
  u32 offset = EntryFixedSize;
  if (flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) offset += EntryVersionBlockSize;
  if (flags & FileFlagTimes) offset += EntryFileTimesSize;
  return offset;
}

// Number of strings an entry must carry.
static u32 EntryStringCount(const u8* entry) {
  return ReadU32(entry + EntryDestination) == DestCustom ? EntryPackageStrings + 1
                                                         : EntryPackageStrings;
}

static bool CheckEntry(const u8* entry, u32 length) {
  if (length < EntryFixedSize) return false;
  u32 at = EntryStringsOffset(entry);
  if (at > length) return false;
  u32 strings = EntryStringCount(entry);
  for (u32 i = 0; i < strings; ++i) {
    long n = StringLengthIn(entry, length, at);
    if (n < 0) return false;
    at += (u32)n + 1;
  }
  return true;
}

bool CheckFileList(RecordView record) {
  if (record.length < 4) return false;
  u32 count = ReadU32(record.data);
  u32 at = 4;
  for (u32 i = 0; i < count; ++i) {
    if (record.length - at < 2) return false;
    u32 length = ReadU16(record.data + at);
    if (length < EntryFixedSize || length > record.length - at) return false;
    if (!CheckEntry(record.data + at, length)) return false;
    at += length;
  }
  return true;
}

bool CheckResolutionList(RecordView record) {
  if (record.length < 4) return false;
  i32 count = (i32)ReadU32(record.data);
  if (count <= 0) return true;
  return (u32)count <= (record.length - 4) / 8;
}

const char* EntryString(const u8* entry, u32 n) {
  u32 length = ReadU16(entry + EntryLength);
  u32 at = EntryStringsOffset(entry);
  for (u32 i = 0; at < length; ++i) {
    long len = StringLengthIn(entry, length, at);
    if (len < 0) break;
    if (i == n) return (const char*)entry + at;
    at += (u32)len + 1;
  }
  return "";
}

// BITMAPINFOHEADER fields.
enum BitmapHeaderOffset : u32 {
  BitmapHeaderSize = 0,
  BitmapWidth = 4,
  BitmapHeight = 8,
  BitmapPlanes = 12,
  BitmapBitCount = 14,
  BitmapCompression = 16,
  BitmapColoursUsed = 32,
  BitmapInfoHeaderSize = 40,
};
static const u32 BitmapFileHeaderSize = 14;

bool CheckPackedBitmap(RecordView record, u32 offset) {
  if (offset > record.length || record.length - offset < BitmapInfoHeaderSize) return false;
  const u8* header = record.data + offset;
  const u32 room = record.length - offset - BitmapInfoHeaderSize;
  const i32 width = (i32)ReadU32(header + BitmapWidth);
  const i32 height = (i32)ReadU32(header + BitmapHeight);
  const u32 bits = ReadU16(header + BitmapBitCount);
  const u32 coloursUsed = ReadU32(header + BitmapColoursUsed);
  if (ReadU32(header + BitmapHeaderSize) != BitmapInfoHeaderSize || width <= 0 || height == 0 ||
      height == (i32)0x80000000u || ReadU16(header + BitmapPlanes) != 1 ||
      ReadU32(header + BitmapCompression) != 0)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  // 64-bit sums: every factor is first bounded by the room there is.
  uint64_t table = coloursUsed ? coloursUsed : bits <= 8 ? (1u << bits) : 0;
  uint64_t row = ((uint64_t)(u32)width * bits + 31) / 32 * 4;
  uint64_t rows = height < 0 ? (uint64_t)(-(int64_t)height) : (uint64_t)height;
  if (table > room / 4 || row > room) return false;
  return row * rows <= room - table * 4;
}

bool CheckImageTable(RecordView record) {
  if (record.length < 4) return false;
  u32 count = ReadU32(record.data);
  if (count > (record.length - 4) / 4) return false;
  for (u32 i = 0; i < count; ++i) {
    u32 offset = ReadU32(record.data + 4 + 4 * i);
    if (offset != 0 && !CheckPackedBitmap(record, offset)) return false;
  }
  return true;
}

bool CheckBackdropImage(RecordView record) {
  return record.length >= BitmapFileHeaderSize && CheckPackedBitmap(record, BitmapFileHeaderSize);
}

bool CheckBackdropTitle(RecordView record) { return StringLengthIn(record.data, record.length, 0) >= 0; }

bool CheckTitleStyle(RecordView record) { return record.length >= TitleStyleSize; }

bool CheckRecord(u16 type, RecordView record) {
  switch (type) {
    case RecordLayout: return CheckLayoutRecord(record);
    case RecordImageTable: return CheckImageTable(record);
    case RecordBackdropImage: return CheckBackdropImage(record);
    case RecordBackdropTitle: return CheckBackdropTitle(record);
    case RecordFileList: return CheckFileList(record);
    case RecordTitleStyle: return CheckTitleStyle(record);
    case RecordGroup: return CheckGroupRecord(record);
    case RecordResolutionList: return CheckResolutionList(record);
    default: return true;
  }
}
