#include "uninstaller/log.h"

#include <string.h>

#include "base/files.h"

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

int SameText(const char* a, u32 aLength, const char* b, u32 bLength) {
  if (aLength != bLength) return 0;
  for (u32 i = 0; i < aLength; ++i)
    if (Lower(a[i]) != Lower(b[i])) return 0;
  return 1;
}

u32 ImageEnd(const u8* file, u32 length) {
  if (length < 0x40 || file[0] != 'M' || file[1] != 'Z') return 0;
  u32 pe = ReadU32(file + 0x3C);
  if (pe > length || length - pe < 24 || memcmp(file + pe, "PE\0\0", 4) != 0) return 0;
  u32 sections = ReadU16(file + pe + 6);
  u32 optionalSize = ReadU16(file + pe + 20);
  u32 optional = pe + 24;
  if (length - optional < optionalSize) return 0;
  u32 table = optional + optionalSize;
  if ((length - table) / 40 < sections) return 0;
  u32 end = table + sections * 40;
  for (u32 i = 0; i < sections; ++i) {
    const u8* s = file + table + i * 40;
    u32 size = ReadU32(s + 16), at = ReadU32(s + 20);
    if (size == 0) continue;
    if (at > length || size > length - at) return 0;
    if (at + size > end) end = at + size;
  }
  // A signature (the security directory, a file offset) lies behind the
  // sections.
  if (optionalSize >= 2) {
    u16 magic = ReadU16(file + optional);
    u32 directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
    if (directories && optionalSize >= directories + 5 * 8) {
      const u8* security = file + optional + directories + 4 * 8;
      u32 at = ReadU32(security), size = ReadU32(security + 4);
      if (size) {
        if (at > length || size > length - at) return 0;
        if (at + size > end) end = at + size;
      }
    }
  }
  return end;
}

namespace {

struct Cursor {
  const u8* p;
  u32 left;
  int bad;
};

u32 TakeU32(Cursor* c) {
  if (c->left < 4) { c->bad = 1; return 0; }
  u32 v = ReadU32(c->p);
  c->p += 4;
  c->left -= 4;
  return v;
}

u8 TakeU8(Cursor* c) {
  if (c->left < 1) { c->bad = 1; return 0; }
  u8 v = *c->p;
  ++c->p;
  --c->left;
  return v;
}

LogText TakeText(Cursor* c) {
  LogText t = {"", 0};
  if (c->left < 2) { c->bad = 1; return t; }
  u32 n = ReadU16(c->p);
  if (c->left - 2 < n) { c->bad = 1; return t; }
  t.text = (const char*)c->p + 2;
  t.length = n;
  if (memchr(t.text, 0, n)) c->bad = 1;  // a log string holds no terminator
  c->p += 2 + n;
  c->left -= 2 + n;
  return t;
}

int IsSeparator(char c) { return c == '\\' || c == '/'; }

// No component of the text is "..".
int WithoutParentSteps(LogText t) {
  u32 start = 0;
  for (u32 i = 0; i <= t.length; ++i) {
    if (i < t.length && !IsSeparator(t.text[i])) continue;
    if (i - start == 2 && t.text[start] == '.' && t.text[start + 1] == '.') return 0;
    start = i + 1;
  }
  return 1;
}

int IsAbsolute(LogText t) {
  if (t.length >= 3 && ((t.text[0] | 0x20) >= 'a' && (t.text[0] | 0x20) <= 'z') &&
      t.text[1] == ':' && t.text[2] == '\\')
    return 1;
  return t.length >= 3 && t.text[0] == '\\' && t.text[1] == '\\' && !IsSeparator(t.text[2]);
}

// "." or ".\sub", or an absolute folder; never a step up.
int ValidFileFolder(LogText t) {
  if (!WithoutParentSteps(t)) return 0;
  if (t.length == 1 && t.text[0] == '.') return 1;
  if (t.length > 2 && t.text[0] == '.' && t.text[1] == '\\') return !IsSeparator(t.text[2]);
  return IsAbsolute(t);
}

// A file or shortcut name: no folder in it, not "." or "..".
int ValidName(LogText t, int emptyAllowed) {
  if (t.length == 0) return emptyAllowed;
  for (u32 i = 0; i < t.length; ++i)
    if (IsSeparator(t.text[i]) || t.text[i] == ':') return 0;
  return !(t.text[0] == '.' && (t.length == 1 || (t.length == 2 && t.text[1] == '.')));
}

// A registry key path: components separated by single backslashes, none
// empty (a trailing backslash could name the parent key).
int ValidKey(LogText t) {
  if (t.length == 0 || t.text[0] == '\\' || t.text[t.length - 1] == '\\') return 0;
  for (u32 i = 1; i < t.length; ++i)
    if (t.text[i] == '\\' && t.text[i - 1] == '\\') return 0;
  return 1;
}

struct Counts {
  u32 files, shortcuts, registry, checks;
};

// One walk over the records: counts (out == null) or fills. Returns a
// LogStatus.
int Walk(const u8* log, u32 length, Counts* counts, UninstallLog* out) {
  Counts n = {0, 0, 0, 0};
  u32 at = 0, installation = 0;
  int seenFiles = 0;
  for (;;) {
    if (length - at < RecordHeaderSize) return LogDamaged;
    const u8* header = log + at;
    u16 type = ReadU16(header), flags = ReadU16(header + 2);
    u32 size = ReadU32(header + 4);
    if (type == RecordEndOfTables) {
      if (!(flags & RecordCompletedLog)) return LogIncomplete;
      if (size != 0 || length - at != RecordHeaderSize) return LogDamaged;
      break;
    }
    if (size > length - at - RecordHeaderSize) return LogDamaged;
    Cursor c = {header + RecordHeaderSize, size, 0};
    int known = 1;
    switch (type) {
      case LogFiles: {
        if (seenFiles) ++installation;
        seenFiles = 1;
        u32 count = TakeU32(&c);
        for (u32 i = 0; i < count && !c.bad; ++i) {
          LoggedFile f;
          f.folder = TakeText(&c);
          f.name = TakeText(&c);
          f.flags = TakeU8(&c);
          f.installation = installation;
          if (c.bad || !ValidFileFolder(f.folder) || !ValidName(f.name, 1)) return LogDamaged;
          if (out) out->files[n.files] = f;
          ++n.files;
        }
        break;
      }
      case LogShortcuts: {
        u32 count = TakeU32(&c);
        for (u32 i = 0; i < count && !c.bad; ++i) {
          LoggedShortcut s;
          s.depth = TakeU8(&c);
          s.folder = TakeText(&c);
          s.actualFolder = TakeText(&c);
          s.name = TakeText(&c);
          s.installation = installation;
          if (c.bad || !IsAbsolute(s.folder) || !WithoutParentSteps(s.folder) ||
              (s.actualFolder.length &&
               (!IsAbsolute(s.actualFolder) || !WithoutParentSteps(s.actualFolder))) ||
              !ValidName(s.name, 0))
            return LogDamaged;
          if (out) out->shortcuts[n.shortcuts] = s;
          ++n.shortcuts;
        }
        break;
      }
      case LogRegistryKey:
      case LogRegistryValue: {
        LoggedRegistry r;
        r.root = TakeU32(&c);
        r.key = TakeText(&c);
        r.isValue = type == LogRegistryValue;
        r.value.text = "";
        r.value.length = 0;
        if (r.isValue) r.value = TakeText(&c);
        r.installation = installation;
        if (c.bad || r.root > 3 || !ValidKey(r.key)) return LogDamaged;
        if (out) out->registry[n.registry] = r;
        ++n.registry;
        break;
      }
      case LogFileChecks: {
        u32 count = TakeU32(&c);
        for (u32 i = 0; i < count && !c.bad; ++i) {
          LoggedCheck k;
          k.name = TakeText(&c);
          k.size = TakeU32(&c);
          k.checksum = TakeU32(&c);
          k.installation = installation;
          if (c.bad || k.name.length == 0) return LogDamaged;
          if (out) out->checks[n.checks] = k;
          ++n.checks;
        }
        break;
      }
      case LogTexts: {
        u32 count = TakeU32(&c);
        for (u32 i = 0; i < count && !c.bad; ++i) {
          LogText t = TakeText(&c);
          if (out && i < UninstallerTextCount && !c.bad) out->texts[i] = t;
        }
        break;
      }
      case LogUninstallValues:  // the setup program's; nothing to undo beyond the key
      default:
        known = 0;  // records of later versions are passed over
        break;
    }
    if (known && (c.bad || c.left != 0 || (flags & RecordCompressed))) return LogDamaged;
    at += RecordHeaderSize + size;
  }
  if (!seenFiles) return LogIncomplete;
  if (counts) *counts = n;
  if (out) out->installations = installation + 1;
  return LogReadable;
}

}  // namespace

int ReadUninstallLog(const u8* log, u32 length, UninstallLog* out) {
  memset(out, 0, sizeof *out);
  if (length > MaxLogBytes) return LogDamaged;
  Counts n;
  int status = Walk(log, length, &n, nullptr);
  if (status != LogReadable) return status;
  // Every item takes at least 5 bytes of the log, so these sums stay far
  // below 4 GB for a log of at most 64 MiB.
  u32 bytes = n.files * (u32)sizeof(LoggedFile) + n.shortcuts * (u32)sizeof(LoggedShortcut) +
              n.registry * (u32)sizeof(LoggedRegistry) + n.checks * (u32)sizeof(LoggedCheck);
  u8* block = nullptr;
  if (!AllocZeroed(bytes ? bytes : 1, &block)) return LogNoMemory;
  out->block = block;
  out->files = (LoggedFile*)block;
  out->shortcuts = (LoggedShortcut*)(out->files + n.files);
  out->registry = (LoggedRegistry*)(out->shortcuts + n.shortcuts);
  out->checks = (LoggedCheck*)(out->registry + n.registry);
  out->fileCount = n.files;
  out->shortcutCount = n.shortcuts;
  out->registryCount = n.registry;
  out->checkCount = n.checks;
  Walk(log, length, nullptr, out);
  return LogReadable;
}

void FreeUninstallLog(UninstallLog* log) {
  FreeBlock(&log->block);
  memset(log, 0, sizeof *log);
}

static u32 Put(char* out, u32 at, u32 size, const char* text, u32 length) {
  if (at == 0xFFFFFFFFu || length >= size - at) return 0xFFFFFFFFu;
  memcpy(out + at, text, length);
  return at + length;
}

u32 LoggedFilePath(const LoggedFile* file, const char* uninstallerFolder, char* out, u32 size) {
  if (size == 0) return 0;
  u32 at = 0;
  LogText folder = file->folder;
  if (folder.length && folder.text[0] == '.') {
    at = Put(out, at, size, uninstallerFolder, (u32)strlen(uninstallerFolder));
    // "." is the folder itself; ".\sub" a folder below it.
    if (folder.length > 2) at = Put(out, at, size, folder.text + 2, folder.length - 2);
    else folder.length = 0;
  } else {
    at = Put(out, at, size, folder.text, folder.length);
  }
  if (at != 0xFFFFFFFFu && at && out[at - 1] != '\\') at = Put(out, at, size, "\\", 1);
  at = Put(out, at, size, file->name.text, file->name.length);
  if (at == 0xFFFFFFFFu) {
    out[0] = 0;
    return 0;
  }
  out[at] = 0;
  return at;
}

// The check names the file when it is the end of the file's path below
// a folder boundary: "docs\a.txt" names ".\docs\a.txt" and "C:\X\docs\a.txt".
static int CheckNames(const LoggedCheck* check, const LoggedFile* file) {
  u32 n = check->name.length;
  const char* name = check->name.text;
  // The name part must match the logged name.
  u32 nameStart = n;
  while (nameStart && name[nameStart - 1] != '\\') --nameStart;
  if (!SameText(name + nameStart, n - nameStart, file->name.text, file->name.length)) return 0;
  if (nameStart == 0) return 1;
  // The folders in front of it must end the logged folder.
  u32 folders = nameStart - 1;  // without the backslash
  const LogText& f = file->folder;
  if (f.length < folders) return 0;
  if (!SameText(name, folders, f.text + f.length - folders, folders)) return 0;
  return f.length == folders || f.text[f.length - folders - 1] == '\\';
}

int CompareWithLog(const UninstallLog* log, const LoggedFile* file, u32 size, u32 checksum) {
  int named = 0;
  for (u32 i = 0; i < log->checkCount; ++i) {
    const LoggedCheck* k = &log->checks[i];
    if (k->installation != file->installation || !CheckNames(k, file)) continue;
    // Entries for other Windows versions may share a name: any of them may
    // be the one installed.
    if (k->size == size && k->checksum == checksum) return CheckSame;
    named = 1;
  }
  return named ? CheckChanged : CheckUnknown;
}
