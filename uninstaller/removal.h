// The Windows side of the uninstaller: carrying out the steps of a removal
// plan against the file system, the registry and the shell.
#pragma once

#include "uninstaller/plan.h"

// What a removal left: the caller names kept files and asks for a restart.
struct RemovalResult {
  u32 restartNeeded;  // something goes at the next start of Windows
  u32 keptCount;      // files that stayed: changed since, or not removable
  char* kept;         // their paths, one a line ("\r\n"), owned
  u32 keptLength;
  u32 keptCapacity;
  char* later;        // paths that go at the next start, one a line, owned
  u32 laterLength;
  u32 laterCapacity;
};

// Carries out one step. `uninstallerFolder` ends in a backslash.
void RemoveStep(const UninstallLog* log, const RemovalPlan* plan, const RemovalStep* step,
                const char* uninstallerFolder, RemovalResult* result);
// The uninstaller's own file goes at the next start of Windows (a running
// program cannot delete itself), then the folders of the plan that are
// still there (when they are empty by then), and last the uninstaller's own
// folder.
void RemoveAtRestart(const RemovalPlan* plan, const char* selfPath);
void FreeRemovalResult(RemovalResult* result);
// Names (as kept) what is left in the folders of the plan that were not
// removed: files the log does not list, and folders holding them. The
// uninstaller itself, files that go at the next start and folders of the
// system are passed over.
void NameLeftFiles(const RemovalPlan* plan, const char* selfPath, RemovalResult* result);
// Text shown for a step in the progress window, into `out` (260 bytes).
void DescribeStep(const UninstallLog* log, const RemovalPlan* plan, const RemovalStep* step,
                  const char* uninstallerFolder, char* out);
