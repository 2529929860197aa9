#include "integration/shortcut_log.h"

#include <string.h>

#include "paths/path_text.h"

static const char DesktopMark[] = "#Desktop#";
static const u32 DesktopMarkLength = sizeof DesktopMark - 1;

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

static int SameText(const char* a, const char* b, u32 n) {
  for (u32 i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(b[i])) return 0;
  return 1;
}

FolderSpec SplitFolderSpec(const char* spec) {
  FolderSpec split = {0, spec};
  if (strlen(spec) >= DesktopMarkLength && SameText(spec, DesktopMark, DesktopMarkLength)) {
    split.desktop = 1;
    split.subfolder = spec + DesktopMarkLength;
    if (*split.subfolder == '\\') ++split.subfolder;
  }
  return split;
}

u8 FolderDepth(const char* subfolder) {
  u32 depth = 0;
  for (; *subfolder; ++subfolder)
    if (*subfolder == '\\') ++depth;
  return (u8)(depth > 255 ? 255 : depth);
}

int NextFolderPart(const char** next, int* first, char* part, u32 size, int* tooLong) {
  const char* at = *next;
  *tooLong = 0;
  // Past the end, or at the empty end behind a closing ";".
  if (!at || (!*at && !*first)) return 0;
  *first = 0;
  const char* end = strchr(at, ';');
  u32 length = end ? (u32)(end - at) : (u32)strlen(at);
  *next = end ? end + 1 : nullptr;
  if (length >= size) {
    *tooLong = 1;
    length = 0;
  }
  memcpy(part, at, length);
  part[length] = 0;
  return 1;
}

int ShowCommandFor(u32 windowState) {
  switch (windowState & 3) {
    case 1: return 7;  // SW_SHOWMINNOACTIVE
    case 2: return 3;  // SW_SHOWMAXIMIZED
    default: return 1;  // SW_SHOWNORMAL
  }
}

void TakeSavedExtension(char* linkPath, const char* savedPath) {
  char* mine = (char*)FileExtension(linkPath);
  const char* saved = FileExtension(savedPath);
  if (!*mine || !*saved || strlen(saved) > strlen(mine)) return;
  memcpy(mine, saved, strlen(saved) + 1);
}

int EndsInLnk(const char* path) {
  u32 length = (u32)strlen(path);
  return length >= 4 && SameText(path + length - 4, ".lnk", 4);
}

void SwapLinkExtension(char* path, const char* extension) {
  u32 length = (u32)strlen(path);
  if (length >= 4) memcpy(path + length - 4, extension, 4);
}

void ActualFolder(const char* savedPath, const char* linkPath, char* actual, u32 size) {
  actual[0] = 0;
  const u32 savedLength = (u32)strlen(savedPath);
  if (!savedLength) return;
  if (savedLength == strlen(linkPath) && SameText(savedPath, linkPath, savedLength)) return;
  const char* name = strrchr(linkPath, '\\');
  name = name ? name + 1 : linkPath;
  const u32 nameLength = (u32)strlen(name);
  if (savedLength <= nameLength) return;
  if (!SameText(savedPath + savedLength - nameLength, name, nameLength)) return;
  // Without the name and the separator in front of it.
  u32 length = savedLength - nameLength;
  if (length) --length;
  if (length >= size) return;
  memcpy(actual, savedPath, length);
  actual[length] = 0;
}

static u32 PutLogString(u8* out, const char* text) {
  u32 length = (u32)strlen(text);
  if (length > 259) length = 259;
  WriteU16(out, (u16)length);
  memcpy(out + 2, text, length);
  return 2 + length;
}

u32 BuildShortcutItem(u8* out, u8 depth, const char* folder, const char* actualFolder,
                      const char* name) {
  u32 at = 0;
  out[at++] = depth;
  at += PutLogString(out + at, folder);
  at += PutLogString(out + at, actualFolder);
  at += PutLogString(out + at, name);
  return at;
}
