// Commits the deferred entries (system files and self-registering
// components) after the file phase: each kept copy takes its target's place,
// or does so at the next start of Windows. Registration of components and
// fonts is added by their own subsystems.
#include <windows.h>

#include "engine/engine_os.h"
#include "engine/install.h"
#include "engine/overwrite.h"
#include "engine/restart.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "base/run_state.h"

static void Discard(const char* kept) {
  SetFileAttributesA(kept, FILE_ATTRIBUTE_NORMAL);
  RemoveFile(kept);
}

static void CommitOne(u8* entry, const char* kept) {
  if (InstallResult != 0) {
    Discard(kept);
    return;
  }
  ResolveTargetPath(entry);
  if (!TargetPath[0]) {
    Discard(kept);
    return;
  }
  if (PathExists(TargetPath) && FileInUse(TargetPath)) {
    if (!ReplaceAtRestart(TargetPath, kept)) {
      InstallResult = CodeAccessDenied;
      SetErrorDetail(TargetPath);
      Discard(kept);
      return;
    }
    RestartState = 1;
    WriteU16(entry + EntryState, StateAtRestart);
  } else {
    ReplaceTarget(entry, kept);
    if (ReadU16(entry + EntryState) == StateDenied) {
      InstallResult = CodeAccessDenied;
      SetErrorDetail(TargetPath);
      Discard(kept);
      return;
    }
  }
  const u16 state = ReadU16(entry + EntryState);
  if (ReadU32(entry + EntryOptions) & FileOptionReadOnly) {
    const char* path = state == StateAtRestart ? kept : TargetPath;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesA(path, attributes | FILE_ATTRIBUTE_READONLY);
  }
  const u32 flags = ReadU32(entry + EntryFlags);
  if (ReadU32(entry + EntryDestination) != DestInstallDir && (flags & FileFlagShared) &&
      (state == StateReplaced || state == StateNew || state == StateAtRestart ||
       state == StateKept))
    IncrementSharedCount();
}

void CommitDeferredEntries() {
  u8* entry = FirstEntry();
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry)) {
    const char* kept = KeptCopy(i);
    if (!kept) continue;
    CommitOne(entry, kept);
    ReleaseKeptCopy(i);
  }
}
