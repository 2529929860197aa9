// The rules of the run phases and the command lines of programs and
// documents; no Windows API.
#include "engine/run_entries.h"

#include <string.h>

#include "package/tables.h"
#include "base/run_state.h"

static u32 RunPhaseOf(u32 flags) { return flags & FileFlagRunPhaseMask; }

int RunEntryDue(u32 flags, u32 phase, int kind, int afterInstall, i32 restartState) {
  const int document = (flags & FileFlagDocument) != 0;
  if (kind == RunKindPrograms && document) return 0;
  if (kind == RunKindDocuments && !document) return 0;
  if (phase == 0 || RunPhaseOf(flags) != phase) return 0;
  const int deferred = (flags & FileFlagDeferRun) != 0;
  if (phase == RunPhaseValue(1) || phase == RunPhaseValue(2)) {
    if (afterInstall) return !(restartState != 0 && deferred);
    return deferred;
  }
  if (phase == RunPhaseValue(3) || (phase == RunPhaseValue(4) && !document))
    return !(afterInstall && restartState != 0);
  return 1;
}

int WaitsForRestart(u32 flags) {
  const u32 phase = RunPhaseOf(flags);
  if (phase == RunPhaseValue(1) || phase == RunPhaseValue(2)) return (flags & FileFlagDeferRun) != 0;
  return phase >= RunPhaseValue(3);
}

int HasDeferredRuns() {
  if (CurrentGroup < 0 || (u32)CurrentGroup >= GroupCount) return 0;
  const GroupTables& group = Groups[CurrentGroup];
  const u8* list = group.fileList;
  const u32 length = group.fileListLength;
  if (!list || length < 4) return 0;
  const u32 count = ReadU32(list);
  u32 at = 4;
  for (u32 i = 0; i < count; ++i) {
    if (length - at < EntryFixedSize) break;
    const u8* entry = list + at;
    const u32 entryLength = ReadU16(entry + EntryLength);
    if (entryLength < EntryFixedSize || entryLength > length - at) break;
    if (WaitsForRestart(ReadU32(entry + EntryFlags))) return 1;
    at += entryLength;
  }
  return 0;
}

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

// 1 when `text` begins with `prefix` (lower case), letter case ignored.
static int StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (LowerAscii(*text) != *prefix) return 0;
  return 1;
}

int IsMsiPackage(const char* path) {
  const size_t length = strlen(path);
  return length > 4 && StartsWithIgnoringCase(path + length - 4, ".msi");
}

// Appends `text` to `out` at `*at`, as far as `size` allows; counts it whole.
static void Put(char* out, u32 size, u32* at, const char* text) {
  for (; *text; ++text, ++*at)
    if (out && *at + 1 < size) out[*at] = *text;
}

static void Terminate(char* out, u32 size, u32 at) {
  if (out && size) out[at < size ? at : size - 1] = 0;
}

// `lead`, then `path` in quotation marks, then a blank and `arguments` when
// there are any; measured whole, written as far as `size` allows.
static u32 FormatQuotedWithArguments(char* out, u32 size, const char* lead, const char* path,
                                     const char* arguments) {
  u32 at = 0;
  Put(out, size, &at, lead);
  Put(out, size, &at, "\"");
  Put(out, size, &at, path);
  Put(out, size, &at, "\"");
  if (arguments && *arguments) {
    Put(out, size, &at, " ");
    Put(out, size, &at, arguments);
  }
  Terminate(out, size, at);
  return at;
}

u32 FormatProgramCommand(char* out, u32 size, const char* program, const char* arguments) {
  return FormatQuotedWithArguments(out, size, "", program, arguments);
}

u32 FormatMsiArguments(char* out, u32 size, const char* package, const char* arguments) {
  return FormatQuotedWithArguments(out, size, "/i ", package, arguments);
}

int FormatAssociationCommand(char* out, u32 size, const char* command, const char* path) {
  if (size == 0) return 0;
  // The command up to its placeholder: "%1" in quotation marks, else %1.
  size_t keep = strlen(command);
  const char* quoted = strstr(command, "\"%1\"");
  const char* bare = quoted ? quoted : strstr(command, "%1");
  if (bare) keep = (size_t)(bare - command);
  const size_t pathLength = strlen(path);
  if (keep + 1 + pathLength + 1 > size) {
    out[0] = 0;
    return 0;
  }
  memcpy(out, command, keep);
  out[keep] = ' ';
  memcpy(out + keep + 1, path, pathLength + 1);
  return 1;
}

void DocumentFolder(char* out, u32 size, const char* path) {
  if (size == 0) return;
  out[0] = 0;
  if (StartsWithIgnoringCase(path, "http://") || StartsWithIgnoringCase(path, "https://")) return;
  const char* slash = strrchr(path, '\\');
  if (!slash) return;
  const size_t length = (size_t)(slash - path);
  if (length + 1 > size) return;
  memcpy(out, path, length);
  out[length] = 0;
}

