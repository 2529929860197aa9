// The text work behind the shortcuts (no Windows API): folder
// specifications, window states, the extension the shell saved a link
// under, and the items of the shortcut record of the uninstall log.
#pragma once

#include "base/format.h"

// A folder specification of a shortcut: "#Desktop#" at its start (letter
// case aside) means the desktop, and the nine characters and one backslash
// right after them are dropped; anything else lies below the Programs
// folder of the Start menu. `subfolder` points into `spec`.
struct FolderSpec {
  int desktop;
  const char* subfolder;
};
FolderSpec SplitFolderSpec(const char* spec);
// The depth recorded for the uninstaller: the backslashes of the subfolder.
u8 FolderDepth(const char* subfolder);

// The parts of a ";"-separated list of folder specifications, in turn: an
// empty list is one empty part (the Programs folder itself); an empty part
// left by a closing ";" is not taken. `*next` starts at the list and moves
// on; each call copies the next part into `part` (capacity `size`) and
// returns 1, or 0 when no part is left. A part too long for `part` is
// handed out empty with *tooLong set, so that the caller can pass it over.
int NextFolderPart(const char** next, int* first, char* part, u32 size, int* tooLong);

// The show command of a window state (bits of the entry's options): 1 gives
// SW_SHOWMINNOACTIVE (7), 2 SW_SHOWMAXIMIZED (3), 0 and 3 SW_SHOWNORMAL (1).
int ShowCommandFor(u32 windowState);

// When the shell reports the link as saved under another extension (both
// names have one, and the saved one is not longer), the link path takes it
// over in place.
void TakeSavedExtension(char* linkPath, const char* savedPath);
// 1 when `path` ends in ".lnk" (letter case aside).
int EndsInLnk(const char* path);
// Replaces the last four characters of a path that ends in ".lnk" or ".pif"
// by `extension` (".lnk" or ".pif").
void SwapLinkExtension(char* path, const char* extension);

// The folder where the shell actually saved the link, when it reports
// another place than the one asked for (`savedPath` differs from
// `linkPath`, letter case aside, and ends in the link's file name): the
// saved path without the file name and its separator. Otherwise empty.
// `actual` has room for `size` bytes (a longer folder is left empty).
void ActualFolder(const char* savedPath, const char* linkPath, char* actual, u32 size);

// One item of the shortcut record: the depth byte, then the folder, the
// actual folder and the name as log strings (u16 length, then the bytes
// without terminator; a length of 0 is followed by nothing). Writes at most
// ShortcutItemMax bytes to `out` for texts of up to 259 bytes each (longer
// ones are cut); returns the length.
static const u32 ShortcutItemMax = 1 + 3 * (2 + 259);
u32 BuildShortcutItem(u8* out, u8 depth, const char* folder, const char* actualFolder,
                      const char* name);
