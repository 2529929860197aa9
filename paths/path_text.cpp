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

