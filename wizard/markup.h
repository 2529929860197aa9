// The markup of formatted texts: "<b>", "<i>", "<u>", "<s>", "<link=...>",
// "<fontsize=...>" and five colours, taken out of a text and turned into
// formatting runs and a link list. No Windows API: the rich-text side is in
// formatted_text_win.cpp.
#pragma once

#include "base/format.h"

// One tag pair of the markup with the character formatting it stands for (a
// CHARFORMAT dwMask bit, and the COLORREF of the colour rows).
struct MarkupTag {
  const char* opening;  // lower case; matched without regard to letter case
  const char* closing;
  u32 mask;
  u32 colour;
};

static const u32 MarkupTagCount = 11;
static const u32 MarkupRowLink = 4;      // "<link=" target ">"
static const u32 MarkupRowFontSize = 5;  // "<fontsize=" points ">"
static const u32 MarkupMaskColour = 0x40000000;
// Tags are tried in this order, each row's opening tag before its closing tag.
extern const MarkupTag MarkupTags[MarkupTagCount];

// Font sizes beyond this many points are taken as this size (the largest a
// rich-text control shows); the digits of a size can thus never overflow.
static const u32 MarkupMaxFontSize = 1638;

// One formatting span: tag row, start and end (exclusive) character
// positions, and the font size value current when the run was recorded (read
// only for the font size row).
struct MarkupRun {
  u32 row;
  u32 start;
  u32 end;
  u32 size;
};

// A link list is one block: `LinkEntry`s in text order, ended by an entry
// whose start is LinkListEnd, followed by the targets' texts. `target` is the
// byte offset of the entry's NUL-terminated target from the block's start.
struct LinkEntry {
  u32 start;
  u32 target;
};
static const u32 LinkListEnd = 0xFFFFFFFF;

struct ParsedMarkup {
  const char* plain;  // the text without its tags, terminated
  u32 plainLength;
  u32 positions;  // the plain text's length in positions
  const MarkupRun* runs;  // in the order recorded
  u32 runCount;
  void* links;  // the link list (null when the text has none); owned here
                // until handed on, then set to null by the new owner
  u32 linkCount;
  void* block;  // runs and plain text
};

// Parses `text` (null counts as empty). Positions count characters of the
// plain text; with `crLfIsOneCharacter` a CR LF or CR CR LF in the plain text
// counts as one position, as controls that keep a line break as one
// character count them. Texts of 256 MB and more are refused. Returns 1, or 0 when memory
// could not be had (nothing is then allocated). Memory follows the text: the
// run and link storage is exactly what the text needs.
int ParseMarkup(const char* text, int crLfIsOneCharacter, ParsedMarkup* out);
// Releases what ParseMarkup allocated (the link list unless handed on).
void FreeParsedMarkup(ParsedMarkup* parsed);

// The target of the first link of `list` that starts at `start`, or null.
const char* FindLinkInList(const void* list, u32 start);
