// A 32-bit setup program on 64-bit Windows: the system redirects its system
// folder (to SysWOW64) and its HKLM\Software keys (to Wow6432Node). What it
// hands to other programs (RunOnce commands, run at the next start by the
// system) must name the files it means in a form every program reads alike.
#pragma once

#include "base/format.h"

// 1 for a 32-bit program on 64-bit Windows, 0 otherwise (also on systems
// that do not know WOW64).
int RunningUnderWow64();
// Under WOW64, a path inside the system folder as this program sees it
// (C:\Windows\system32\x.dll) becomes the path of the file it really is
// (C:\Windows\SysWOW64\x.dll), which 64-bit programs see too; `path` has
// room for `size` bytes and stays unchanged when the result would not fit.
// Anywhere else the path stays as it is.
void PathForEveryProgram(char* path, u32 size);
