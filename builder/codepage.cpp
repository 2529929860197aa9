#include "builder/codepage.h"

#include <cstdint>

namespace setrunc {

namespace {

// Code points of bytes 0x80 to 0x9F in code page 1252 (0 = unused).
const uint16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

bool Utf8ToCp1252(const std::string& utf8, std::string* out, std::string* bad) {
  out->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      n = 4;
    } else {
      *bad = "an invalid UTF-8 byte";
      return false;
    }
    if (i + n > utf8.size()) {
      *bad = "a truncated UTF-8 character";
      return false;
    }
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = (unsigned char)utf8[i + k];
      if ((d & 0xC0) != 0x80) {
        *bad = "an invalid UTF-8 sequence";
        return false;
      }
      cp = (cp << 6) | (d & 0x3F);
    }
    std::string character = utf8.substr(i, n);
    i += n;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out->push_back((char)cp);
      continue;
    }
    bool found = false;
    for (int k = 0; k < 32; ++k)
      if (HighControls[k] == cp) {
        out->push_back((char)(0x80 + k));
        found = true;
        break;
      }
    if (!found) {
      *bad = "'" + character + "'";
      return false;
    }
  }
  return true;
}

std::string Cp1252ToUtf8(const std::string& ansi) {
  std::string out;
  for (unsigned char c : ansi) {
    uint32_t cp = c;
    if (c >= 0x80 && c < 0xA0) cp = HighControls[c - 0x80] ? HighControls[c - 0x80] : 0xFFFD;
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | (cp >> 6));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xE0 | (cp >> 12));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string Cp1252Upper(std::string text) {
  for (char& ch : text) {
    unsigned char c = (unsigned char)ch;
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
    else if (c == 0x9A || c == 0x9C || c == 0x9E) c -= 0x10;  // s, oe, z with caron / ligature
    else if (c == 0xFF) c = 0x9F;                             // y with diaeresis
    ch = (char)c;
  }
  return text;
}

}  // namespace setrunc
