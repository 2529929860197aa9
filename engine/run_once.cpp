// The names of the RunOnce values; no Windows API.
#include "engine/run_once.h"

#include <string.h>

#include "paths/path_text.h"

static const char RunOnceStem[] = "ZPLaunch";

void RunOnceValueName(char* out, u32 number) {
  const u32 stem = sizeof RunOnceStem - 1;
  memcpy(out, RunOnceStem, stem);
  WriteDecimal(out + stem, number % 1000, 3);
}
