#include <windows.h>

#include "startup/privileges.h"

int ManifestRunsAsInvoker() {
  // The manifest Windows itself reads: type 24 (RT_MANIFEST), name 1.
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  if (!found) return 0;
  DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  const char* text = loaded ? (const char*)LockResource(loaded) : nullptr;
  if (!text) return 0;
  // setrunc writes the level with the quotes of the program's own manifest.
  static const char level[] = "level=\"asInvoker\"";
  const DWORD length = sizeof level - 1;
  for (DWORD i = 0; i + length <= size; ++i) {
    DWORD k = 0;
    while (k < length && text[i + k] == level[k]) ++k;
    if (k == length) return 1;
  }
  return 0;
}
