#include "engine/uninstall_log.h"

#include <string.h>

#include "engine/install.h"
#include "base/run_state.h"

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

static int StartsWithFolder(const char* path, const char* folder) {
  size_t n = strlen(folder);
  if (n == 0 || strlen(path) < n) return 0;
  for (size_t i = 0; i < n; ++i)
    if (Lower(path[i]) != Lower(folder[i])) return 0;
  return 1;
}

void SplitLogPath(const char* target, const char* uninstallerFolder, char* folder,
                  u32 folderSize, const char** name) {
  folder[0] = 0;
  const char* rest = target;
  const char* prefix = "";
  if (uninstallerFolder && StartsWithFolder(target, uninstallerFolder)) {
    rest = target + strlen(uninstallerFolder);
    prefix = ".";
  }
  const char* last = strrchr(rest, '\\');
  *name = last ? last + 1 : rest;
  u32 at = CopyText(folder, prefix, folderSize);
  if (!last) return;
  if (*prefix) at += CopyText(folder + at, "\\", folderSize - at);
  u32 length = (u32)(last - rest);
  if (length > folderSize - 1 - at) length = folderSize - 1 - at;
  memcpy(folder + at, rest, length);
  folder[at + length] = 0;
}

u8 LogFlagsFor(const u8* entry) {
  u32 flags = ReadU32(entry + EntryFlags);
  u32 options = ReadU32(entry + EntryOptions);
  u32 kind = ReadU32(entry + EntryDestination);
  u8 log = 0;
  if (kind != DestInstallDir && (flags & FileFlagShared)) log |= LogFlagShared;
  if (kind == DestFonts) log |= LogFlagFont;
  if ((flags & FileFlagSelfRegister) && !(options & FileOptionRegisterMask))
    log |= LogFlagEntryPoint;
  if (flags & FileFlagCheckSpace) log |= LogFlagUnchanged;
  return log;
}

int IsLoggedState(u32 state) {
  return state == StateReplaced || state == StateNew || state == StateAtRestart ||
         state == StateKept;
}

int WriteRecordHeader(FileHandle file, u16 type, u16 flags, u32 size) {
  u8 header[RecordHeaderSize];
  WriteU16(header, type);
  WriteU16(header + 2, flags);
  WriteU32(header + 4, size);
  return WriteExact(file, header, RecordHeaderSize);
}

static u32 PutString(u8* out, const char* text, u32 length) {
  WriteU16(out, (u16)length);
  memcpy(out + 2, text, length);
  return 2 + length;
}

u32 BuildFileLogEntry(u8* out, const char* target, const char* uninstallerFolder, u8 logFlags) {
  char folder[TargetPathSize + 4];
  const char* name;
  SplitLogPath(target, uninstallerFolder, folder, sizeof folder, &name);
  u32 nameLength = (u32)strlen(name);
  if (nameLength > TargetPathSize) nameLength = TargetPathSize;
  u32 at = PutString(out, folder, (u32)strlen(folder));
  at += PutString(out + at, name, nameLength);
  out[at++] = logFlags;
  return at;
}

void WriteLogString(FileHandle file, const char* text) {
  u32 length = text ? (u32)strlen(text) : 0;
  if (length > 0xFFFF) length = 0xFFFF;
  u8 word[2];
  WriteU16(word, (u16)length);
  if (WriteExact(file, word, 2) == 0 && length) WriteExact(file, text, length);
}

void WriteLogFile(FileHandle file, u32 logFlags) {
  u8 entry[FileLogEntryMax];
  u32 length = BuildFileLogEntry(entry, TargetPath, UninstallerFolder, (u8)logFlags);
  WriteExact(file, entry, length);
}

// A log string at `at` of a record that ends at `end`, copied (cut) into
// `out`; 0 when it runs past the end.
static int TakeLogString(const u8* record, u32 end, u32* at, char* out, u32 size) {
  if (end - *at < 2) return 0;
  u32 n = ReadU16(record + *at);
  if (end - *at - 2 < n) return 0;
  u32 kept = n < size - 1 ? n : size - 1;
  memcpy(out, record + *at + 2, kept);
  out[kept] = 0;
  *at += 2 + n;
  return 1;
}

void ForEachUninstallValue(const u8* entries, u32 length, UninstallValueVisitor visit,
                           void* context) {
  u32 at = 0;
  while (entries && length - at >= RecordHeaderSize) {
    u16 type = ReadU16(entries + at);
    u32 size = ReadU32(entries + at + 4);
    if (size > length - at - RecordHeaderSize) return;
    u32 start = at + RecordHeaderSize, end = start + size;
    at = end;
    if (type != LogUninstallValues || size < 4) continue;
    u32 count = ReadU32(entries + start);
    u32 p = start + 4;
    for (u32 i = 0; i < count; ++i) {
      if (end - p < 4) return;
      u32 kind = ReadU32(entries + p);
      p += 4;
      char name[260], text[520];
      if (!TakeLogString(entries, end, &p, name, sizeof name)) return;
      if (kind == 4) {
        if (end - p < 4) return;
        visit(context, kind, name, "", ReadU32(entries + p));
        p += 4;
      } else if (kind == 1) {
        if (!TakeLogString(entries, end, &p, text, sizeof text)) return;
        visit(context, kind, name, text, 0);
      } else {
        return;  // the length of an unknown type's data is not known
      }
    }
  }
}
