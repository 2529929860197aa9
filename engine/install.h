// The file installation loop and the finishing step.
#pragma once

#include "base/files.h"

int PrepareInstallation();   // 1 or 0 (InstallResult says why)
int InstallNextFile();       // 1: one entry dealt with; 0: none left or stopped
void FinishInstallation();
void AbortInstallation();
// Seam: the wizard's move to its finish page, which the finishing step makes
// unless a page is forced or the user cancelled. Connected by startup; null
// (no wizard) moves nothing.
extern void (*MoveToFinishPage)();
int SeekFileData(u32 offset);  // 0, or 15 when the user gave up at the disk prompt
u32 FileChecksum(FileHandle file);

// Set by PrepareInstallation once the data source is open; cleared by the
// finishing step and by the abort.
extern int EngineBusy;
// Set when the installation folder passed the folder and space checks; the
// install folder page clears it when it opens and sets it when it accepts.
extern int FolderChecked;

// Result codes: each is the number of the group-7 text that explains it.
enum InstallCode : i32 {
  CodeNoSpace = 11,
  CodeNoMemory = 12,
  CodeAbandoned = 15,
  CodeNoDataSource = 16,
  CodeCannotCreate = 17,
  CodeReadError = 18,
  CodeWriteError = 19,
  CodeDamaged = 21,
  CodeAccessDenied = 22,
  CodeInvalidData = 31,
};

// Entry states (offset 2 of a file entry at run time).
enum EntryStateValue : u16 {
  StateNone = 0,
  StateReplaced = 23,
  StateNew = 25,
  StateDenied = 27,
  StateAtRestart = 500,
  StateKept = 501,
  StateDeferred = 502,
};

// Copies `text` into ErrorDetail (cut to its 260 bytes); null empties it.
void SetErrorDetail(const char* text);
// Maps a decompressor status to a result code and puts `name` into
// ErrorDetail.
i32 MapInflateError(int status, const char* name);
// A file whose size or checksum is wrong: 1 keep it (the user agreed, or /R),
// 0 stop (code 21 set, TargetPath as detail).
int ConfirmDataError();

// Temporary copies kept back for deferred entries, one slot per file entry
// of the current group (the entry's own kept-copy field stays 0: a pointer
// does not fit its 32 bits).
const char* KeptCopy(u32 index);    // null when the entry has none
int SetKeptCopy(u32 index, const char* path);  // 1, or 0 out of memory
void ReleaseKeptCopy(u32 index);    // frees the path, the file stays
// Deletes every kept copy's file and releases the table.
void DiscardKeptCopies();
// Commits the deferred entries: each kept copy takes its target's place (or
// does so at the next start of Windows); may set InstallResult to 22.
void CommitDeferredEntries();

// The uninstall log.
void WriteLogFile(FileHandle file, u32 logFlags);  // one entry for TargetPath
void WriteLogString(FileHandle file, const char* text);

// The current group's file entries, changeable at run time (states, flags):
// the first entry (null when there is none) and the one after `entry`. The
// loader checked that every entry lies inside the file list.
u8* FirstEntry();
u8* NextEntry(u8* entry);
