#include <sys/stat.h>
#include <unistd.h>

#include "engine/engine_os.h"

int RemoveFile(const char* path) { return unlink(path) == 0 ? 1 : 0; }

int PathExists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? 1 : 0;
}

void TouchPath(const char*) {}
