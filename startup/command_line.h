// The command-line switches: /B<n>, /DEL, /F, /N, /R, /S<path>, /V.
#pragma once

#include "base/format.h"

// Applies the switches of `text` (the command line without the program name)
// to the run state. Null or empty does nothing.
void ParseCommandLine(const char* text);
// Reads one argument (quoted or up to the next space) into `destination`
// (capacity `size`; longer arguments are cut) and returns the position after
// it.
const char* ReadSwitchArgument(const char* text, char* destination, u32 size);
