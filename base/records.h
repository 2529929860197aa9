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
// Parts of the layout check: every page table slot of kinds 0 to 9 is 0 or
// the offset of a 56-byte page entry whose page and header control tables lie
// inside the record; the button bar's control table lies inside it.
bool CheckPageEntries(RecordView layout);
bool CheckButtonBarControls(RecordView layout);
bool CheckGroupRecord(RecordView record);
bool CheckFileList(RecordView record);
bool CheckResolutionList(RecordView record);

// The layout record's page entries and control tables, each checked again
// against the record. The page entry of page kind `kind` (0 to 9), or null
// when the package has none.
const u8* LayoutPageEntry(RecordView layout, u32 kind);
// The control entries (ControlEntrySize bytes each) of a page entry from
// LayoutPageEntry (`header` 0: the page window's, 1: the header pane's), or
// with a null `page` the button bar's. Null and a count of 0 when there are
// none or they do not lie inside the record.
const u8* LayoutControls(RecordView layout, const u8* page, int header, u32* count);

// File entries (file list record, behind its u32 count).
u32 EntryStringsOffset(const u8* entry);
// String n (0 to 9) of a checked entry; "" when the entry has no such string.
const char* EntryString(const u8* entry, u32 n);
