// Bounds-checked readers of decoded package records. Records keep their
// offsets; a field is reached through the record and its offset, so the same
// code is right on 32-bit and 64-bit builds. The loader checks every record
// once with the Check* functions; the readers below check again, cheaply, so
// that no caller can read outside a record.
#pragma once

#include "base/format.h"

// A decoded record and its length.
struct RecordView {
  const u8* data;
  u32 length;
};

// The text at a text field (a u32 offset from the record start, 0 = none).
// Returns null when the field is 0, lies outside the record or its string does
// not end inside the record.
const char* RecordText(RecordView record, u32 fieldOffset);

// Text `number` of text group `group` (0 to 9) of a group record, or null.
const char* GroupRecordText(RecordView record, u32 group, u32 number);

// Structural checks applied when a record is loaded: every offset, count and
// string end must lie inside the record.
bool CheckLayoutRecord(RecordView record);
bool CheckGroupRecord(RecordView record);
bool CheckFileList(RecordView record);
bool CheckResolutionList(RecordView record);

// File entries (file list record, behind its u32 count).
u32 EntryStringsOffset(const u8* entry);
// String n (0 to 9) of a checked entry; "" when the entry has no such string.
const char* EntryString(const u8* entry, u32 n);
