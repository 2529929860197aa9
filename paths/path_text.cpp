#include "paths/path_text.h"

#include <string.h>

int SetExtension(char* path, const char* extension, u32 size) {
  size_t length = strlen(path);
  size_t keep = length;
  const char* dot = strrchr(path, '.');
  if (dot && !strchr(dot, '\\')) keep = (size_t)(dot - path);
  size_t extensionLength = strlen(extension);
  if (keep + extensionLength + 1 > size) return 0;
  memcpy(path + keep, extension, extensionLength + 1);
  return 1;
}

const char* FileExtension(const char* path) {
  const char* slash = strrchr(path, '\\');
  const char* name = slash ? slash + 1 : path;
  const char* dot = strrchr(name, '.');
  return dot ? dot : name + strlen(name);
}

int AddBackslash(char* path, u32 size) {
  size_t length = strlen(path);
  if (length == 0 || path[length - 1] == '\\') return 1;
  if (length + 2 > size) return 0;
  path[length] = '\\';
  path[length + 1] = 0;
  return 1;
}

void RemoveBackslash(char* path) {
  size_t length = strlen(path);
  if (length > 3 && path[length - 1] == '\\') path[length - 1] = 0;
}

u32 WriteDecimal(char* out, u32 value, u32 minDigits) {
  char digits[10];
  u32 n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  while (n < minDigits && n < sizeof digits) digits[n++] = '0';
  for (u32 i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  out[n] = 0;
  return n;
}
