#include <windows.h>

#include "base/system_library.h"

#include "base/files.h"

void* LoadSystemLibrary(const char* name) {
  if (!name || !name[0]) return nullptr;
  for (const char* p = name; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') return nullptr;
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH - 1) return nullptr;
  if (path[length - 1] != '\\') path[length++] = '\\';
  u32 wanted = 0;
  while (name[wanted]) ++wanted;
  if (CopyText(path + length, name, MAX_PATH - length) != wanted) return nullptr;
  // The libraries it depends on are looked for in the system folder first.
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

LibraryProc LibraryFunction(void* module, const char* name) {
  if (!module) return nullptr;
  return (LibraryProc)GetProcAddress((HMODULE)module, name);
}

void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  // Present on current systems (and on older ones with their security
  // updates): every later library load, including those made by system
  // libraries on the program's behalf, searches the system folder only.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
  SetDefaultDllDirectoriesFunction setDefault =
      (SetDefaultDllDirectoriesFunction)LibraryFunction(kernel, "SetDefaultDllDirectories");
  if (setDefault) setDefault(0x800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  // An empty library folder takes the current folder out of the search.
  typedef BOOL(WINAPI * SetDllDirectoryFunction)(LPCSTR);
  SetDllDirectoryFunction setDirectory =
      (SetDllDirectoryFunction)LibraryFunction(kernel, "SetDllDirectoryA");
  if (setDirectory) setDirectory("");
}
