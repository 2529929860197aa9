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
bool CheckGroupRecord(RecordView record);
bool CheckFileList(RecordView record);
bool CheckResolutionList(RecordView record);
// Wizard image table: u32 count, that many u32 offsets, at each nonzero one a
// packed bitmap (CheckPackedBitmap).
bool CheckImageTable(RecordView record);
// Backdrop image: a 14-byte bitmap file header, then a packed bitmap.
bool CheckBackdropImage(RecordView record);
// Backdrop title: a string that ends inside the record.
bool CheckBackdropTitle(RecordView record);
// Backdrop title style: shadow colour, text colour, alignment, LOGFONTA.
static const u32 TitleStyleSize = 72;
bool CheckTitleStyle(RecordView record);
// A packed device-independent bitmap at `offset`: a 40-byte
// BITMAPINFOHEADER of an uncompressed 1, 4, 8, 16, 24 or 32-bit image, its
// colour table (biClrUsed entries, or 2^bits for 8 bits and fewer) and its
// pixel rows, all inside the record. Whatever way a painter finds the pixels
// (with or without a table behind a header of more than 8 bits), they lie
// inside the record.
bool CheckPackedBitmap(RecordView record, u32 offset);

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

// File entries (file list record, behind its u32 count).
u32 EntryStringsOffset(const u8* entry);
// String n (0 to 9) of a checked entry; "" when the entry has no such string.
const char* EntryString(const u8* entry, u32 n);
