// Texts in the project file are UTF-8; the setup program shows single-byte
// ANSI texts. The conversion to Windows code page 1252 (Western European).
#pragma once

#include <string>

namespace setrunc {

// Converts UTF-8 to code page 1252. Returns false (and the offending
// character in `bad`) when a character has no place in the code page or the
// input is not UTF-8.
bool Utf8ToCp1252(const std::string& utf8, std::string* out, std::string* bad);

// The other way, for showing package texts on a UTF-8 terminal.
std::string Cp1252ToUtf8(const std::string& ansi);

// The letters of a code page 1252 text in upper case, as Windows compares
// file names.
std::string Cp1252Upper(std::string text);

}  // namespace setrunc
