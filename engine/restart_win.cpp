// Moves and deletions at the next start of Windows.
#include <windows.h>

#include "engine/restart.h"
#include "engine/wininit.h"
#include "engine/wow64.h"
#include "base/files.h"
#include "paths/path_text.h"
#include "base/run_state.h"

static const char RenameSection[] = "Rename";

static void ClearReadOnly(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// The short form of a path; the path itself when it has none.
static void ShortPath(const char* path, char* out) {
  DWORD n = GetShortPathNameA(path, out, PathSize);
  if (n == 0 || n >= PathSize) CopyText(out, path, PathSize);
}

// Turns the placeholder line of `shortSource` into a NUL= line.
static void MarkDeleteLine(const char* iniPath, const char* shortSource) {
  FileHandle file = OpenExisting(iniPath, OpenReadWrite);
  if (file == InvalidFile) return;
  u32 size = FileLength(file);
  char* text = nullptr;
  if (size != 0xFFFFFFFFu && size < 0x1000000u && AllocBlock(size + 512, &text)) {
    if (ReadExact(file, text, size) == 0 && MarkWininitDelete(text, size, shortSource)) {
      SeekFile(file, 0);
      WriteExact(file, text, size);
    }
    FreeBlock(&text);
  }
  CloseFile(file);
}

int ReplaceAtRestart(const char* target, const char* source) {
  if (target) ClearReadOnly(target);
  if (IsWinNT) {
    DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (target ? MOVEFILE_REPLACE_EXISTING : 0);
    // The system moves the files at its next start, as a 64-bit program on
    // 64-bit Windows: a 32-bit program names the places the files really
    // have (its system folder is SysWOW64).
    char realSource[PathSize], realTarget[PathSize];
    CopyText(realSource, source, PathSize);
    PathForEveryProgram(realSource, PathSize);
    if (target) {
      CopyText(realTarget, target, PathSize);
      PathForEveryProgram(realTarget, PathSize);
    }
    return MoveFileExA(realSource, target ? realTarget : nullptr, flags) ? 1 : 0;
  }
  char shortSource[PathSize], shortTarget[PathSize], iniPath[PathSize + 16];
  ShortPath(source, shortSource);
  UINT n = GetWindowsDirectoryA(iniPath, PathSize);
  if (n == 0 || n >= PathSize) iniPath[0] = 0;
  AddBackslash(iniPath, sizeof iniPath);
  u32 at = (u32)lstrlenA(iniPath);
  CopyText(iniPath + at, "WININIT.INI", sizeof iniPath - at);
  if (target) {
    ShortPath(target, shortTarget);
    WritePrivateProfileStringA(RenameSection, shortTarget, shortSource, iniPath);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath);
    return 1;
  }
  WritePrivateProfileStringA(RenameSection, WininitPlaceholder, shortSource, iniPath);
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath);
  MarkDeleteLine(iniPath, shortSource);
  return 1;
}
