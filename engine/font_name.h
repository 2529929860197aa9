// The full name of a TrueType font, read from the font file's "name" table:
// the name under which the font is registered with Windows.
#pragma once

#include "base/format.h"

// Size of the name buffer: a name holds at most FontNameSize - 1 bytes.
static const u32 FontNameSize = 520;

// Reads `size` bytes at `offset` of a font file into `buffer`: 0 when all
// were read, nonzero otherwise (beyond the end of the file, read failure).
typedef int (*FontReadAt)(void* source, u32 offset, void* buffer, u32 size);

// Looks for the "name" table among the first 40 table records (and no more
// than the offset table counts) and takes the last Macintosh-platform record
// of name id 4 (the full font name), whatever its encoding and language.
// `name` (FontNameSize bytes) receives it, cut to FontNameSize - 1 bytes, or
// an empty text when the file has none. A record whose text cannot be read
// is passed over. All offsets are checked: nothing is read for a table or
// string that would lie beyond 4 GB.
void FindFontFullName(FontReadAt read, void* source, char* name);

// The same for the font file at `path`; an empty name when it cannot be
// opened.
void ReadFontName(const char* path, char* name);
