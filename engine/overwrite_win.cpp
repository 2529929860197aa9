// Overwrite and version rules.
#include <windows.h>
#include <string.h>

#include "engine/engine_os.h"
#include "engine/install.h"
#include "engine/overwrite.h"
#include "engine/restart.h"
#include "engine/temp_name.h"
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

// MoveTargetAside's answer when every temporary name beside the target is
// taken.
static const DWORD NoFreeName = ERROR_FILE_EXISTS;

// Moves the file at TargetPath to a free temporary name beside it (never
// the copy's own name), left in `aside`. Returns 0 when it was moved, else
// the error of the move, or NoFreeName.
static DWORD MoveTargetAside(const char* tempPath, char* aside) {
  if (!FirstTempName(aside, TargetPath)) return NoFreeName;
  for (;;) {
    if (strcmp(aside, tempPath) != 0) {
      if (MoveFileA(TargetPath, aside)) return 0;
      const DWORD error = GetLastError();
      // A name that is taken (a file waiting for its deletion included) is
      // passed over; any other failure is the target's own.
      if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && !PathExists(aside))
        return error;
    }
    if (!NextTempName(aside)) return NoFreeName;
  }
}

// The file moved aside has served its purpose. One that cannot be deleted
// now (a running program's image can be renamed, not deleted) goes at the
// next start of Windows, which is then needed as for any file in use.
static void DeleteMovedAside(const char* aside) {
  if (RemoveFile(aside)) return;
  if (ReplaceAtRestart(nullptr, aside)) RestartState = 1;
}

void ReplaceTarget(u8* entry, const char* tempPath) {
  // Where no file stands yet, the rename alone puts the copy in place (it
  // fails on any name that is taken, a folder included).
  if (MoveFileA(tempPath, TargetPath)) {
    SetState(entry, StateNew);
    return;
  }
  ReplaceExistingTarget(entry, tempPath);
}

void ReplaceExistingTarget(u8* entry, const char* tempPath) {
  SetState(entry, StateDenied);
  DWORD attributes = GetFileAttributesA(TargetPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      // Nothing stands there (any more): the copy is renamed into a free place.
      if (MoveFileA(tempPath, TargetPath)) SetState(entry, StateNew);
      return;
    }
    attributes = 0;  // a file that may not be looked at: moving it decides
  }
  // A folder of that name can be neither replaced now nor moved over later.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) SetFileAttributesA(TargetPath, attributes & ~FILE_ATTRIBUTE_READONLY);
  // The existing file is kept under another name until the copy stands in
  // its place: deleting it first would lose it when the rename then fails
  // (a file held open with delete sharing lets the deletion through but
  // keeps its name until it is closed).
  char aside[PathSize];
  const DWORD error = MoveTargetAside(tempPath, aside);
  if (error) {
    if (readOnly) SetFileAttributesA(TargetPath, attributes);
    if (IsLockedError(error)) {
      CompareWithTarget(entry, tempPath);
    } else if (error == ERROR_FILE_NOT_FOUND && MoveFileA(tempPath, TargetPath)) {
      SetState(entry, StateNew);  // it went in the meantime
    }
    return;
  }
  if (!MoveFileA(tempPath, TargetPath)) {
    // The existing file goes back; the state stays 27. Should even that
    // fail, it stays under the other name rather than being deleted.
    if (MoveFileA(aside, TargetPath) && readOnly) SetFileAttributesA(TargetPath, attributes);
    return;
  }
  if (readOnly)
    SetFileAttributesA(TargetPath, GetFileAttributesA(TargetPath) | FILE_ATTRIBUTE_READONLY);
  SetState(entry, StateReplaced);
  DeleteMovedAside(aside);
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
