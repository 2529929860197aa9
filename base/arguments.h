// The arguments of a program: its command line without the program name.
// No Windows API.
#pragma once

// The part of `line` (as GetCommandLineA gives it) after the program name:
// a name in double quotes runs to the closing quote (an unclosed quote
// takes the whole line), any other name to the first space or tab; the
// white space after the name is skipped. Never null.
const char* ArgumentsOf(const char* line);

// The same for a writable line (WinMain takes its arguments as char*).
inline char* ArgumentsOf(char* line) { return (char*)ArgumentsOf((const char*)line); }
