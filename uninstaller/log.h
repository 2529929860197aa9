// The uninstall log as the uninstaller reads it from the end of its own file:
// the packaged log start (texts), then per installation a file log record, a
// shortcut record and the group's registry entries, up to the end header
// that marks the log complete. Portable: no Windows API.
#pragma once

#include "base/format.h"

// A string inside the log bytes: not terminated, never longer than 65,535.
struct LogText {
  const char* text;
  u32 length;
};

// Installations are numbered in log order from 0; records in front of the
// first file log record (the packaged log start) belong to installation 0.
struct LoggedFile {
  LogText folder;  // absolute, or "." / ".\sub" relative to the uninstaller
  LogText name;
  u32 installation;
  u8 flags;  // LogFlag* of engine/uninstall_log.h (shared, font, entry point, unchanged)
};

struct LoggedShortcut {
  LogText folder;        // where the shortcut was requested
  LogText actualFolder;  // where the shell saved it, when that differs; else empty
  LogText name;
  u32 installation;
  u8 depth;  // backslashes of the requested subfolder
};

struct LoggedRegistry {
  LogText key;
  LogText value;  // LogRegistryValue only
  u32 installation;
  u32 root;       // 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS
  u8 isValue;     // 1: remove one value (and the key when it is left empty); 0: the key
};

// Size and checksum of a packaged file, named by its path below its
// destination folder (entry string 0), as installed.
struct LoggedCheck {
  LogText name;
  u32 installation;
  u32 size;
  u32 checksum;
};

// Texts of the uninstaller (record LogTexts); missing ones have defaults.
enum UninstallerText : u32 {
  TextTitle = 0,         // caption of every window and message
  TextConfirm = 1,       // the question before anything is removed
  TextRemoving = 2,      // above the progress bar
  TextDone = 3,          // everything was removed
  TextKept = 4,          // followed by the files that stayed, one a line
  TextRestart = 5,       // files in use go at the next start of Windows
  TextDamaged = 6,       // the log cannot be used; nothing was removed
  UninstallerTextCount = 7
};

struct UninstallLog {
  u32 installations;  // file log records
  LoggedFile* files;
  u32 fileCount;
  LoggedShortcut* shortcuts;
  u32 shortcutCount;
  LoggedRegistry* registry;
  u32 registryCount;
  LoggedCheck* checks;
  u32 checkCount;
  LogText texts[UninstallerTextCount];  // length 0: not given
  void* block;  // owns the arrays
};

enum LogStatus : int {
  LogReadable = 0,
  LogIncomplete = 1,  // no end header marking a completed log, or no file log
  LogDamaged = 2,     // a record breaks its bounds or holds what no log holds
  LogNoMemory = 3,
};

// The most log bytes the uninstaller takes on.
static const u32 MaxLogBytes = 64u << 20;

// Where the Windows program image of `file` ends (its last section's data,
// or its signature when that lies behind), so that the log starts there.
// 0 when the bytes are not a program image or its headers break their bounds.
u32 ImageEnd(const u8* file, u32 length);

// Reads the log of `length` bytes at `log` (from the end of the image to the
// end of the file) into `out`, whose arrays point into `log`: the bytes must
// outlive it. On any status but LogReadable `out` holds nothing.
int ReadUninstallLog(const u8* log, u32 length, UninstallLog* out);
void FreeUninstallLog(UninstallLog* log);

// The full path of a logged file: a relative folder is taken against
// `uninstallerFolder` (ending in a backslash). Returns its length, or 0 when
// it does not fit `size` bytes.
u32 LoggedFilePath(const LoggedFile* file, const char* uninstallerFolder, char* out, u32 size);

// Whether the file on disk, of `size` bytes and checksum `checksum`, is as
// the installation left it: CheckSame when a check of its installation names
// it with that size and checksum, CheckChanged when checks name it but none
// matches, CheckUnknown when no check names it.
enum FileCheck : int { CheckUnknown = 0, CheckSame = 1, CheckChanged = 2 };
int CompareWithLog(const UninstallLog* log, const LoggedFile* file, u32 size, u32 checksum);

// Case-insensitive comparison of ASCII letters, as Windows compares names.
int SameText(const char* a, u32 aLength, const char* b, u32 bLength);
