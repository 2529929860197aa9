// Replacement at the next start of Windows, and the relaunch of the program
// from a temporary copy.
#pragma once

// Moves `source` over `target` at the next start of Windows; a null target
// deletes `source` then. 1 on success, 0 on failure.
int ReplaceAtRestart(const char* target, const char* source);
// 1 when a copy of the program was started (or, after a restart, arranged).
int Relaunch(int showCommand, int afterRestart);
