#include <windows.h>

#include "engine/engine_os.h"

int RemoveFile(const char* path) { return DeleteFileA(path) ? 1 : 0; }

int PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void TouchPath(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}
