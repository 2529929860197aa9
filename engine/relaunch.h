// The relaunch of the program from a copy of itself in the temporary folder:
// at once (started from removable media) or after the restart through the
// RunOnce key (run entries that wait for the restart; engine/run_once.h).
#pragma once

#include "base/files.h"

// Creates a new file in the temporary folder named by `pattern` with the
// first free number from 1 to 998 in place of its "%d" (a name that exists
// is never reused). The path is left in `buffer` (PathSize bytes). Returns
// the open handle (write access, no sharing), or InvalidFile.
FileHandle CreateTempFile(char* buffer, const char* pattern);

// ---------------------------------------------------------------------------
// The parts that need no Windows API.

// How many bytes of the program file the copy takes when the package has not
// been read: everything up to and including the data length word behind the
// end of the tables. 0 when the package cannot be found or walked.
u32 ProgramCopyLength(FileHandle file);
// The command line of the copy started from removable media: the copy in
// quotation marks, /S with the original program in quotation marks, /DEL.
// The command line of the copy run after the restart: the copy in quotation
// marks, /B with the group number (1 to 99), /DEL, and /N unless the programs
// to start after the installation are to run. Both write at most `size`
// bytes and return 0 (with an empty text) when the command does not fit.
int FormatMediaRelaunch(char* out, u32 size, const char* copy, const char* program);
int FormatRestartRelaunch(char* out, u32 size, const char* copy, u32 group, int runAfterInstall);
