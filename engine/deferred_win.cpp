// Commits the deferred entries (system files and self-registering
// components) after the file phase: each kept copy takes its target's place,
// or does so at the next start of Windows; then shared counts, fonts and the
// registration of components. The first entry that cannot be committed ends
// the run with code 22: the kept copies of the entries after it are deleted.
#include <windows.h>

#include "engine/engine_os.h"
#include "engine/fonts.h"
#include "engine/install.h"
#include "engine/integration_seam.h"
#include "engine/overwrite.h"
#include "engine/restart.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "base/run_state.h"

IntegrationCalls Integration;

static void Discard(const char* kept) {
  SetFileAttributesA(kept, FILE_ATTRIBUTE_NORMAL);
  RemoveFile(kept);
}

static int EntryPointComponent(const u8* entry) {
  return (ReadU32(entry + EntryFlags) & FileFlagSelfRegister) &&
         !(ReadU32(entry + EntryOptions) & FileOptionRegisterMask);
}

static void Fail(const char* kept) {
  InstallResult = CodeAccessDenied;
  SetErrorDetail(TargetPath);
  Discard(kept);
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
  const int entryPoints = EntryPointComponent(entry);
  if (PathExists(TargetPath) && FileInUse(TargetPath)) {
    if (!ReplaceAtRestart(TargetPath, kept)) {
      Fail(kept);
      return;
    }
    RestartState = 1;
    WriteU16(entry + EntryState, StateAtRestart);
  } else {
    // The file now at the target, if any, leaves the registry before it is
    // replaced.
    if (entryPoints) RegisterServer(0);
    ReplaceTarget(entry, kept);
    if (ReadU16(entry + EntryState) == StateDenied) {
      // The old file stays: it is registered again.
      if (entryPoints) RegisterServer(1);
      Fail(kept);
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
  const u32 kind = ReadU32(entry + EntryDestination);
  const int written = state == StateReplaced || state == StateNew;
  if (kind != DestInstallDir && (flags & FileFlagShared) &&
      (written || state == StateAtRestart || state == StateKept))
    IncrementSharedCount();
  if (kind == DestFonts && written) InstallFont(TargetPath);
  if ((flags & FileFlagSelfRegister) && (written || state == StateAtRestart) &&
      !RegisterComponent(entry, state == StateAtRestart ? kept : nullptr))
    Fail(kept);
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
