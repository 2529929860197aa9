#include "engine/temp_name.h"

#include <string.h>

#include "base/files.h"
#include "paths/path_text.h"
#include "base/run_state.h"

int FirstTempName(char* tempPath, const char* target) {
  if (strlen(target) >= PathSize) return 0;
  CopyText(tempPath, target, PathSize);
  if (!SetExtension(tempPath, ".$$A", PathSize)) {
    tempPath[0] = 0;
    return 0;
  }
  return 1;
}

int NextTempName(char* tempPath) {
  size_t n = strlen(tempPath);
  if (n == 0 || tempPath[n - 1] >= LastTempLetter) return 0;
  ++tempPath[n - 1];
  return 1;
}
