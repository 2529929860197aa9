// Programs and documents that the current group starts: the run entries of
// the file list, by run phase, and the two ways of starting something.
#pragma once

#include "base/format.h"

// What RunEntries starts.
enum RunKind {
  RunKindAll = 0,        // programs and documents
  RunKindPrograms = 1,   // entries without the document flag
  RunKindDocuments = 2,  // entries with it
};

// The run phase of a flag word as RunEntries takes it (phase x 0x1000000).
static const u32 RunPhaseStep = 0x1000000;
static inline u32 RunPhaseValue(u32 phase) { return phase * RunPhaseStep; }

// Starts the run entries of one run phase (phase = run phase x 0x1000000) of
// the current group, in file-list order; `kind` is a RunKind. `afterInstall`
// is 1 during and right after the installation, 0 in the continuation run
// after a restart (which runs what had to wait for it). Does nothing in
// forced-page mode. Entries that cannot be started are skipped silently.
void RunEntries(u32 phase, int kind, int afterInstall);
// 1 when a run entry of the current group must wait until after the restart
// (see WaitsForRestart), else 0.
int HasDeferredRuns();

// Starts `path` (quoted on the command line) with `arguments` (may be null
// or empty). With `wait`, returns only when the program has ended; meanwhile
// the message queue is looked at but no message is taken out, so no window
// of this program is painted or answers input. 1 when the program started.
int RunProgram(const char* path, const char* arguments, int wait);
// Opens `path` (a file or a web address) with the program the system
// associates with it. When the shell cannot, the opening command registered
// for `extension` (with its dot; empty: none) is run with the path.
void OpenDocument(const char* path, const char* extension);

// ---------------------------------------------------------------------------
// The rules and texts behind the functions above (no Windows API).

// 1 when an entry with `flags` runs in RunEntries(phase, kind, afterInstall)
// while the restart state is `restartState`:
// - phases 1 and 2: during the installation an entry with the defer flag
//   waits while a restart is pending; after the restart only such entries run;
// - phase 3 and programs of phase 4: only when no restart is pending, or
//   after the restart;
// - documents of phase 4 and phases 5 to 7: always.
int RunEntryDue(u32 flags, u32 phase, int kind, int afterInstall, i32 restartState);
// 1 when an entry with `flags` has to wait for the continuation run after a
// restart: run phase 1 or 2 with the defer flag, or run phase 3 to 7.
int WaitsForRestart(u32 flags);

// 1 when `path` names a Windows Installer package (ends in ".msi", letter
// case ignored, and is longer than the extension).
int IsMsiPackage(const char* path);
// The command line that starts `program`: the program in quotation marks,
// then a blank and `arguments` when there are any. Writes at most `size`
// bytes (always terminated when size > 0) and returns the whole length, so
// that a null `out` measures.
u32 FormatProgramCommand(char* out, u32 size, const char* program, const char* arguments);
// The Windows Installer's arguments for installing `package`: /i, a blank,
// the package in quotation marks, then a blank and `arguments` when there
// are any. Same contract as FormatProgramCommand.
u32 FormatMsiArguments(char* out, u32 size, const char* package, const char* arguments);
// The command of an association that opens `path`: `command` cut where its
// "%1" (or "%1" in quotation marks) stands, then a blank and `path`.
// Returns 0 (and an empty text) when it does not fit `size` bytes.
int FormatAssociationCommand(char* out, u32 size, const char* command, const char* path);
// The folder a document is opened in: `path` up to its last backslash; none
// (empty) for a web address (http:// or https://) or a path without one.
void DocumentFolder(char* out, u32 size, const char* path);
