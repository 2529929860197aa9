// Commands that Windows runs once at its next start: values of the RunOnce
// key named "ZPLaunch000" to "ZPLaunch099". The number is one program-wide
// counter shared by every user of this file (the restart registrations of
// components, the relaunch after a restart): it starts at 0, every name
// tried uses one number up, and names already present in the key are
// passed over.
#pragma once

#include "base/format.h"

// Numbers 0 to 99; at 100 nothing more is scheduled.
static const u32 RunOnceNames = 100;
extern u32 RunOnceCounter;

enum RunOnceResult {
  RunOnceFailed = 0,  // the key could not be opened or created, or the value not written
  RunOnceWritten = 1,
  RunOnceFull = 2,    // all 100 names are used up: nothing was written
};

// Writes `command` (REG_SZ, with its terminating NUL, as every string value
// of this program) under the next free name of the RunOnce key, opened or
// created under HKEY_LOCAL_MACHINE, or under HKEY_CURRENT_USER when that
// fails.
RunOnceResult AddRunOnceCommand(const char* command);

// Opens or creates the registry key `path` for writing under
// HKEY_LOCAL_MACHINE, or under HKEY_CURRENT_USER when that fails or
// `userOnly` is set; `key` (an HKEY*) receives it. 0 when neither opens.
int CreateMachineOrUserKey(const char* path, int userOnly, void* key);

// "ZPLaunch" followed by `number` in three digits; `out` holds 12 bytes.
// (No Windows API.)
void RunOnceValueName(char* out, u32 number);
