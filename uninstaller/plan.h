// What the uninstaller removes, in which order: the decision list built from
// a read log. Portable: the Windows side carries the steps out.
#pragma once

#include "uninstaller/log.h"

enum StepKind : u8 {
  StepShortcut = 1,  // item: index of log->shortcuts
  StepFile = 2,      // item: index of log->files (folder entries have an empty name)
  StepRegistry = 3,  // item: index of log->registry
  StepFolder = 4,    // item: index of plan->folders; removed only when empty
};

struct RemovalStep {
  u8 kind;
  u32 item;
};

static const u32 FolderPathSize = 260;

struct RemovalPlan {
  RemovalStep* steps;
  u32 stepCount;
  char (*folders)[FolderPathSize];  // full paths without a trailing backslash
  u32 folderCount;
  void* block;
};

// Orders the removal: installations newest first; within one, its shortcuts,
// then its files, then its registry keys and values, each in reverse log
// order (what was made last goes first). Then the folders that may have
// become empty, deepest first, each once: the folder of every shortcut and
// `depth` folders above it, the folder of every file with a relative folder
// and each folder above it up to the uninstaller's own, and the folder of a
// file with an absolute folder. `uninstallerFolder` ends in a backslash.
// Returns 1, or 0 when memory runs out (the plan is then empty).
int BuildRemovalPlan(const UninstallLog* log, const char* uninstallerFolder, RemovalPlan* plan);
void FreeRemovalPlan(RemovalPlan* plan);

// The folder of a shortcut: where the shell saved it, else where it was
// requested. Into `out` (260 bytes); 0 when it does not fit.
int ShortcutFolder(const LoggedShortcut* shortcut, char* out);
// The full path of a shortcut file into `out` (260 bytes); 0 when it does not
// fit.
int ShortcutPath(const LoggedShortcut* shortcut, char* out);
