// The records the installation appends to the uninstaller: the file log
// (type 0x1235) and the helpers its entries are built with.
#pragma once

#include "base/files.h"

// Log flags of a file log entry.
static const u8 LogFlagShared = 0x1;
static const u8 LogFlagFont = 0x2;
static const u8 LogFlagEntryPoint = 0x4;
static const u8 LogFlagUnchanged = 0x8;

// The file log splits a path into a folder and a name. A path inside the
// uninstaller's folder (compared without regard to letter case, its trailing
// backslash included) is written relative to it: "." or ".\sub"; any other
// path keeps its absolute folder. `folder` receives the folder (capacity
// `folderSize`); the name is the part of `target` after its last backslash.
void SplitLogPath(const char* target, const char* uninstallerFolder, char* folder,
                  u32 folderSize, const char** name);
// The log flags of an installed file entry.
u8 LogFlagsFor(const u8* entry);
// 1 for the entry states the file log lists.
int IsLoggedState(u32 state);

// Writes an 8-byte record header.
int WriteRecordHeader(FileHandle file, u16 type, u16 flags, u32 size);
// The bytes of one file log entry for `target`: at most this many.
static const u32 FileLogEntryMax = 2 + 4 + 520 + 2 + 520 + 1;
// Builds one file log entry into `out` (FileLogEntryMax bytes); returns its
// length.
u32 BuildFileLogEntry(u8* out, const char* target, const char* uninstallerFolder, u8 logFlags);

// The values a group's registry entries ask for in the Uninstall entry
// (records LogUninstallValues: u32 count, then per value a u32 type, REG_SZ
// (1) or REG_DWORD (4), the name as a log string and the data, a log string
// or a u32). Calls `visit` for each, in order, with the name and text
// terminated (cut to 259 and 519 bytes); stops at the first record or value
// that breaks its bounds, and passes over values of other types.
typedef void (*UninstallValueVisitor)(void* context, u32 type, const char* name,
                                      const char* text, u32 number);
void ForEachUninstallValue(const u8* entries, u32 length, UninstallValueVisitor visit,
                           void* context);
