// Path string operations that need no Windows API.
#pragma once

#include "base/format.h"
#include "base/text_format.h"  // WriteDecimal

// Replaces the extension of `path` (from its last dot, unless a backslash
// follows that dot) by `extension`, which brings its own dot; appends it
// otherwise. Returns 0 and leaves `path` unchanged when the result would not
// fit `size` bytes.
int SetExtension(char* path, const char* extension, u32 size);
// Appends a backslash unless the path is empty or already ends in one.
// Returns 0 when it would not fit `size` bytes.
int AddBackslash(char* path, u32 size);
// Removes one trailing backslash from a path longer than three characters
// (a drive root such as C:\ keeps it).
void RemoveBackslash(char* path);
// The extension of the file name at the end of `path` (from the last dot of
// its last part, dot included), or "" (the end of `path`) when the name has
// none.
const char* FileExtension(const char* path);
