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

// `count` control entries at `offset` (64 bits: an entry's offset is added
// to its own) lie inside the record. A table of no entries fits anywhere.
static bool ControlTableFits(RecordView record, uint64_t offset, u32 count) {
  return count == 0 ||
         (offset <= record.length && count <= (record.length - offset) / ControlEntrySize);
}

// The page table slot of `kind` (0 to 9) holds 0 or the offset of a 56-byte
// head inside the record; 0 when it holds neither.
static u32 PageEntryOffsetOf(RecordView layout, u32 kind) {
  if (kind >= PageTableUsedSlots || layout.length < LayoutHeaderSize) return 0;
  u32 offset = ReadU32(layout.data + LayoutPageTable + 4 * kind);
  if (offset > layout.length || layout.length - offset < PageEntrySize) return 0;
  return offset;
}

bool CheckPageEntries(RecordView layout) {
  for (u32 kind = 0; kind < PageTableUsedSlots; ++kind) {
    u32 stored = ReadU32(layout.data + LayoutPageTable + 4 * kind);
    if (stored == 0) continue;
    u32 offset = PageEntryOffsetOf(layout, kind);
    if (offset == 0) return false;
    const u8* page = layout.data + offset;
    if (!ControlTableFits(layout, (uint64_t)offset + ReadU32(page + PageEntryControls),
                          ReadU16(page + PageEntryControlCount)) ||
        !ControlTableFits(layout, (uint64_t)offset + ReadU32(page + PageEntryHeaderControls),
                          ReadU16(page + PageEntryHeaderControlCount)))
      return false;
  }
  return true;
}

bool CheckButtonBarControls(RecordView layout) {
  return ControlTableFits(layout, ReadU32(layout.data + LayoutButtonBarControls),
                          ReadU32(layout.data + LayoutButtonBarCount));
}

bool CheckLayoutRecord(RecordView record) {
  if (record.length < LayoutHeaderSize) return false;
  return CheckPageEntries(record) && CheckButtonBarControls(record);
}

const u8* LayoutPageEntry(RecordView layout, u32 kind) {
  u32 offset = layout.data ? PageEntryOffsetOf(layout, kind) : 0;
  return offset ? layout.data + offset : nullptr;
}

const u8* LayoutControls(RecordView layout, const u8* page, int header, u32* count) {
  *count = 0;
  if (!layout.data || layout.length < LayoutHeaderSize) return nullptr;
  uint64_t offset;
  u32 n;
  if (!page) {
    offset = ReadU32(layout.data + LayoutButtonBarControls);
    n = ReadU32(layout.data + LayoutButtonBarCount);
  } else {
    // A page entry handed out by LayoutPageEntry lies inside the record.
    offset = (uint64_t)(page - layout.data) +
             ReadU32(page + (header ? PageEntryHeaderControls : PageEntryControls));
    n = ReadU16(page + (header ? PageEntryHeaderControlCount : PageEntryControlCount));
  }
  if (n == 0 || !ControlTableFits(layout, offset, n)) return nullptr;
  *count = n;
  return layout.data + offset;
}

bool CheckDib(const u8* dib, u32 length, DibTableRule rule, DibInfo* info) {
  if (length < DibInfoHeaderSize || ReadU32(dib + DibHeaderSize) != DibInfoHeaderSize) return false;
  i32 width = (i32)ReadU32(dib + DibWidth), height = (i32)ReadU32(dib + DibHeight);
  u32 bits = ReadU16(dib + DibBitCount), used = ReadU32(dib + DibColoursUsed);
  if (width < 1 || width > DibLargestSide || height == 0 || height < -DibLargestSide ||
      height > DibLargestSide)
    return false;
  if (ReadU16(dib + DibPlanes) != 1 || ReadU32(dib + DibCompression) != 0) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  u32 colours;
  if (bits <= 8) {
    if (used > (1u << bits)) return false;
    colours = used ? used : 1u << bits;
  } else {
    colours = rule == DibTableAlways ? used : 0;
    if (colours > 256) return false;
  }
  u32 rows = (u32)(height < 0 ? -height : height);
  uint64_t pixelBytes = (uint64_t)(((u32)width * bits + 31) / 32 * 4) * rows;
  u32 pixels = DibInfoHeaderSize + colours * DibColourSize;
  if (pixels > length || pixelBytes > length - pixels) return false;
  if (info) *info = {width, height, bits, colours, pixels};
  return true;
}

// The image at `offset` of an image table, checked.
static bool ImageAt(RecordView table, u32 offset, RecordView* image) {
  if (offset >= table.length) return false;
  RecordView view = {table.data + offset, table.length - offset};
  if (!CheckDib(view.data, view.length, DibTableUpToEightBits, nullptr)) return false;
  if (image) *image = view;
  return true;
}

bool ImageTableImage(RecordView table, u32 number, RecordView* image) {
  if (number == 0 || table.length < ImageTableSlots) return false;
  if (number > ReadU32(table.data) || number > (table.length - 4) / ImageTableSlots) return false;
  u32 offset = ReadU32(table.data + ImageTableSlots * number);
  return offset != 0 && ImageAt(table, offset, image);
}

bool CheckImageTable(RecordView record) {
  if (record.length < 4) return false;
  u32 count = ReadU32(record.data);
  if (count > (record.length - 4) / ImageTableSlots) return false;
  for (u32 n = 1; n <= count; ++n) {
    u32 offset = ReadU32(record.data + ImageTableSlots * n);
    if (offset != 0 && !ImageAt(record, offset, nullptr)) return false;
  }
  return true;
}

bool CheckBackdropPicture(RecordView record) {
  return record.length > BitmapFileHeaderSize &&
         CheckDib(record.data + BitmapFileHeaderSize, record.length - BitmapFileHeaderSize,
                  DibTableAlways, nullptr);
}

bool CheckBackdropTitle(RecordView record) {
  return StringLengthIn(record.data, record.length, 0) >= 0;
}

bool CheckTitleStyle(RecordView record) { return record.length >= TitleStyleSize; }

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

bool CheckRecord(u16 type, RecordView record) {
  switch (type) {
    case RecordLayout: return CheckLayoutRecord(record);
    case RecordImageTable: return CheckImageTable(record);
    case RecordBackdropImage: return CheckBackdropPicture(record);
    case RecordBackdropTitle: return CheckBackdropTitle(record);
    case RecordFileList: return CheckFileList(record);
    case RecordTitleStyle: return CheckTitleStyle(record);
    case RecordGroup: return CheckGroupRecord(record);
    case RecordResolutionList: return CheckResolutionList(record);
    default: return true;
  }
}
