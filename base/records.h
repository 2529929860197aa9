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

// Walks the texts of one text group in order, each string once.
struct TextCursor {
  RecordView record;
  u32 at;    // offset of the next text
  u32 left;  // texts still to come
};
// Starts at text 0 of text group `group`; false when the record has no such
// group.
bool FirstText(RecordView record, u32 group, TextCursor* cursor);
// The next text, or null at the end of the group (or where a text does not
// end inside the record).
const char* NextText(TextCursor* cursor);

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
// Pictures: every image of the table passes CheckDib; the backdrop picture is
// a 14-byte file header and a bitmap that passes it; the title ends inside
// its record; the title style holds its 72 bytes.
bool CheckImageTable(RecordView record);
bool CheckBackdropPicture(RecordView record);
bool CheckBackdropTitle(RecordView record);
bool CheckTitleStyle(RecordView record);

// A device-independent bitmap as checked inside its record.
struct DibInfo {
  i32 width;
  i32 height;        // as stored; negative when the rows are stored top-down
  u32 bitCount;
  u32 colours;       // entries of the colour table
  u32 pixelsOffset;  // of the first pixel row, from the start of the bitmap
};

// Where the colour table of a bitmap with more than 8 bits per pixel ends:
// wizard images have none, bitmap files (backdrop pictures) keep biClrUsed
// entries there.
enum DibTableRule { DibTableUpToEightBits, DibTableAlways };

// Checks the bitmap of `length` bytes at `dib`: a 40-byte info header, one
// plane, 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed rows, a width of
// 1 to 32767 and a height of 1 to 32767 either way up, and a colour table
// and pixel rows that end inside the `length` bytes. Fills `info` (may be
// null) when the bitmap passes.
bool CheckDib(const u8* dib, u32 length, DibTableRule rule, DibInfo* info);

// Image `number` (1 to N) of a wizard image table: the bytes from the image
// to the end of the record. False when the number is 0 or beyond N, its slot
// is empty or the image fails CheckDib.
bool ImageTableImage(RecordView table, u32 number, RecordView* image);

// The one rule, by record type, that a decoded record must pass to be kept by
// the loader. The setup program and the package reader of the builder both
// apply it, so they accept the same packages. Types without a structure of
// their own (uninstaller image, registry entries, unknown types) pass.
bool CheckRecord(u16 type, RecordView record);

// The most the package tables may hold at one time, in bytes: the decoded
// records the loader keeps (and the resolution list while it is read). A
// record that would take the tables beyond it makes the package unreadable.
// The length a compressed record states is tested against it before any
// memory is taken; the block then grows with the bytes the stream produces.
static const u32 MaxTableBytes = 128u << 20;
// The most a deflate stream can expand: about 1,032 output bytes per input
// byte. A stated length beyond that cannot be produced by the stream.
static const u32 MaxDeflateRatio = 1032;

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
