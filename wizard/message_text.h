// Texts of message boxes: the safe formatting of package texts, and the page
// result that the engine and the pumps share. No Windows API.
#pragma once

#include "package/format.h"

// The page result of the wizard: 0 while a page runs, 1 Next, 2 Cancel or
// Exit, 1045 Back. The engine looks at it after every decompression.
extern int PageResult;
static const int PageResultNext = 1;
static const int PageResultCancel = 2;

// Formats a text taken from the package into `out` (capacity `size`, always
// terminated, cut when too long). Every %s receives `text` (null counts as
// empty), every %d, %i or %u receives `number`, %% gives one percent sign;
// any other percent sequence is copied as it stands. Package texts are data:
// they never decide what is read from the argument list.
void FormatText(char* out, u32 size, const char* format, const char* text, i32 number);
