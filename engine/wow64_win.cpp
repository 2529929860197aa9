#include <windows.h>
#include <string.h>

#include "engine/wow64.h"
#include "base/files.h"
#include "base/run_state.h"
#include "base/system_library.h"

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

int RunningUnderWow64() {
#ifdef _WIN64
  return 0;
#else
  // Looked up at run time: systems before Windows XP SP2 lack both calls.
  typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
  IsWow64ProcessFunction isWow64 = (IsWow64ProcessFunction)LibraryFunction(
      GetModuleHandleA("kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
#endif
}

void PathForEveryProgram(char* path, u32 size) {
  if (!RunningUnderWow64()) return;
  typedef UINT(WINAPI * GetSystemWow64DirectoryFunction)(LPSTR, UINT);
  GetSystemWow64DirectoryFunction wow64Directory = (GetSystemWow64DirectoryFunction)LibraryFunction(
      GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA");
  char system[PathSize], real[PathSize];
  UINT systemLength = GetSystemDirectoryA(system, PathSize);
  UINT realLength = wow64Directory ? wow64Directory(real, PathSize) : 0;
  if (systemLength == 0 || systemLength >= PathSize || realLength == 0 || realLength >= PathSize)
    return;
  // The folder itself or a path below it, letter case aside.
  for (UINT i = 0; i < systemLength; ++i)
    if (!path[i] || Lower(path[i]) != Lower(system[i])) return;
  if (path[systemLength] != 0 && path[systemLength] != '\\') return;
  const u32 rest = (u32)strlen(path + systemLength);
  if (realLength + rest + 1 > size) return;
  memmove(path + realLength, path + systemLength, rest + 1);
  memcpy(path, real, realLength);
}
