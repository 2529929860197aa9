// Overwrite and version rules: whether an existing file may be replaced, how
// a new file takes its place, and the shared-file counts.
#pragma once

#include "base/format.h"

// 1: the packaged file may replace the existing one at TargetPath; 0: keep it.
int KeepExistingByVersion(const u8* entry);
// Puts tempPath in TargetPath's place; leaves the entry state 23, 25, 27 or
// 500. An existing file is moved aside first and deleted only once the copy
// stands in its place; when the copy cannot be put there, it goes back
// (state 27). A moved-aside file that cannot be deleted is deleted at the
// next start of Windows (RestartState 1).
void ReplaceTarget(u8* entry, const char* tempPath);
// The same, when renaming tempPath to TargetPath has just failed (a file or
// folder of that name stands there, or stood there a moment ago).
void ReplaceExistingTarget(u8* entry, const char* tempPath);
// The fallback for a target that cannot be removed.
void CompareWithTarget(u8* entry, const char* tempPath);
// Adds one to the SharedDLLs count of TargetPath.
void IncrementSharedCount();

