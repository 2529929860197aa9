// Overwrite and version rules.
#include <windows.h>
#include <string.h>

#include "engine/install.h"
#include "engine/overwrite.h"
#include "engine/restart.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "base/system_library.h"
#include "base/text_format.h"
#include "base/user_interface.h"

static const u32 MessageBufferSize = 2048;
static const u32 CompareBufferSize = 16384;
static const u32 CompareChunk = 8192;
static const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The version library, loaded from the system folder when first needed (it
// is not imported: a library of that name beside the program is never used).
typedef DWORD(WINAPI* VersionSizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* VersionInfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);
static VersionSizeFn VersionSize;
static VersionInfoFn VersionInfo;
static VersionQueryFn VersionQuery;

static int LoadVersionLibrary() {
  if (VersionSize && VersionInfo && VersionQuery) return 1;
  void* library = LoadSystemLibrary("version.dll");
  if (!library) return 0;
  VersionSize = (VersionSizeFn)LibraryFunction(library, "GetFileVersionInfoSizeA");
  VersionInfo = (VersionInfoFn)LibraryFunction(library, "GetFileVersionInfoA");
  VersionQuery = (VersionQueryFn)LibraryFunction(library, "VerQueryValueA");
  return VersionSize && VersionInfo && VersionQuery;
}

// Asks a replace question about TargetPath, No being the default.
static int AskReplace(char* buffer, u32 textNumber) {
  FormatText(buffer, MessageBufferSize, GetText(7, textNumber), TargetPath, 0);
  return ShowMessage(buffer, StyleQuestionNo) == AnswerYes;
}

// The version and language questions about one existing file.
static int JudgeVersions(const u8* entry, u8* block, char* buffer) {
  u32 flags = ReadU32(entry + EntryFlags);
  if (flags & FileFlagCompareVersion) {
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (VersionQuery(block, "\\", (LPVOID*)&info, &length) && info &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
      u32 packagedMs = ReadU32(entry + EntryFixedSize);
      u32 packagedLs = ReadU32(entry + EntryFixedSize + 4);
      bool newer = info->dwFileVersionMS > packagedMs ||
                   (info->dwFileVersionMS == packagedMs && info->dwFileVersionLS > packagedLs);
      if (newer) {
        if (!*GetText(7, 29) || SilentMode) return 0;
        if (!AskReplace(buffer, 29)) return 0;
      }
    }
  }
  if (!SilentMode && (flags & FileFlagCompareLanguage)) {
    u16* translation = nullptr;
    UINT length = 0;
    if (VersionQuery(block, "\\VarFileInfo\\Translation", (LPVOID*)&translation, &length) &&
        translation && length >= 4) {
      u32 packagedLanguage = ReadU32(entry + EntryFixedSize + 16);
      if (packagedLanguage != (u32)translation[0] && !AskReplace(buffer, 30)) return 0;
    }
  }
  return 1;
}

int KeepExistingByVersion(const u8* entry) {
  int answer = 1;
  char* buffer = nullptr;
  if (!AllocBlock(MessageBufferSize, &buffer)) return 1;
  DWORD ignored = 0;
  DWORD size = LoadVersionLibrary() ? VersionSize(TargetPath, &ignored) : 0;
  u8* block = nullptr;
  if (size && AllocBlock(size, &block)) {
    if (VersionInfo(TargetPath, 0, size, block)) answer = JudgeVersions(entry, block, buffer);
    FreeBlock(&block);
  }
  FreeBlock(&buffer);
  return answer;
}

static void SetState(u8* entry, u16 state) { WriteU16(entry + EntryState, state); }

// 1 when the two open files hold the same `size` bytes.
static int SameContents(FileHandle a, FileHandle b, u32 size) {
  u8* buffer = nullptr;
  if (!AllocBlock(CompareBufferSize, &buffer)) return 0;
  int same = 1;
  while (size && same) {
    u32 chunk = size < CompareChunk ? size : CompareChunk;
    if (ReadExact(a, buffer, chunk) || ReadExact(b, buffer + CompareChunk, chunk) ||
        memcmp(buffer, buffer + CompareChunk, chunk) != 0)
      same = 0;
    size -= chunk;
  }
  FreeBlock(&buffer);
  return same;
}

void CompareWithTarget(u8* entry, const char* tempPath) {
  int identical = 0;
  FileHandle target = OpenExisting(TargetPath, OpenRead);
  if (target != InvalidFile) {
    u32 size = ReadU32(entry + EntrySize);
    if (FileLength(target) == size) {
      FileHandle copy = OpenExisting(tempPath, OpenRead);
      if (copy != InvalidFile) {
        identical = SameContents(target, copy, size);
        CloseFile(copy);
      }
    }
    CloseFile(target);
  }
  if (identical) {
    // The locked file already has the right contents.
    DeleteFileA(tempPath);
    SetState(entry, StateReplaced);
  } else if (ReplaceAtRestart(TargetPath, tempPath)) {
    RestartState = 1;
    SetState(entry, StateAtRestart);
  }
}

static int IsLockedError(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

void ReplaceTarget(u8* entry, const char* tempPath) {
  // Where no file stands yet, the rename alone puts the copy in place (it
  // fails on any name that is taken, a folder included).
  if (MoveFileA(tempPath, TargetPath)) {
    SetState(entry, StateNew);
    return;
  }
  SetState(entry, StateDenied);
  DWORD attributes = GetFileAttributesA(TargetPath);
  DWORD lookupError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
  // A folder of that name can be neither replaced now nor moved over later.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(TargetPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(TargetPath)) {
      // The target is gone: a copy that cannot be renamed leaves the state 27.
      if (MoveFileA(tempPath, TargetPath)) {
        SetFileAttributesA(TargetPath, GetFileAttributesA(TargetPath) | FILE_ATTRIBUTE_READONLY);
        SetState(entry, StateReplaced);
      }
      return;
    }
    SetFileAttributesA(TargetPath, attributes);
    CompareWithTarget(entry, tempPath);
    return;
  }
  int replaced = 1;
  if (lookupError == ERROR_FILE_NOT_FOUND) {
    // Nothing to delete: the copy is renamed into a free place.
    replaced = 0;
  } else if (!DeleteFileA(TargetPath)) {
    if (IsLockedError(GetLastError())) {
      CompareWithTarget(entry, tempPath);
      return;
    }
    replaced = 0;
  }
  if (MoveFileA(tempPath, TargetPath)) SetState(entry, replaced ? StateReplaced : StateNew);
}

void IncrementSharedCount() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  DWORD count = 0, type = 0, size = sizeof count;
  if (RegQueryValueExA(key, TargetPath, nullptr, &type, (BYTE*)&count, &size) == ERROR_SUCCESS &&
      size == sizeof count) {
    ++count;
  } else {
    count = 1;
    type = REG_DWORD;
    size = sizeof count;
  }
  RegSetValueExA(key, TargetPath, 0, type, (const BYTE*)&count, size);
  RegCloseKey(key);
}
