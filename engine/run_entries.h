// Programs and documents that the current group starts.
#pragma once

#include "base/format.h"

// Starts the run entries of one run phase (phase = run phase x 0x1000000);
// kind 0 all, 1 programs only.
void RunEntries(u32 phase, int kind, int afterInstall);
// 1 when a run entry of the current group must wait until after the restart.
int HasDeferredRuns();
