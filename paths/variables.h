// Folder variables ("#InstallDir#", "#Program Files#", ...) and their
// expansion in texts.
#pragma once

#include "base/format.h"

// Size of the work buffer of one expansion: an expanded text holds at most
// ExpandLimit - 1 characters; whatever would lie beyond is cut off.
static const u32 ExpandLimit = 65500;

// Expands every folder variable of `source` into `destination` (capacity
// `destinationSize`, terminator included; source may be destination). A null
// destination or a size of 0 only measures. Returns the length of the whole
// expanded text, also when it did not fit; the destination is always
// terminated (a text that does not fit is cut).
u32 ExpandVariables(char* destination, const char* source, u32 destinationSize);

// Replaces the token in `buffer` (marks included; the buffer has room for 260
// bytes) by its value, leaves a known token whose value cannot be had as it
// is, and empties the buffer for an unknown token.
void ResolveVariable(char* buffer);

// The path of shell folder `folderId` (a CSIDL number) in `buffer` (260
// bytes). Returns 1, or 0 with the buffer untouched when the folder has no
// path.
int GetShellFolder(char* buffer, int folderId);
