// What a program carrying the setup program's manifest sees, for the
// installation tests. Built with startup/manifest.rc and the setup program's
// own start-up code.
//   manifest_probe level FILE   the execution level in FILE's manifest,
//                               read the way Windows reads it (resource
//                               type 24, name 1): "level=asInvoker"
//   manifest_probe self         this process: the Windows version it is
//                               told, its platform class, the common
//                               controls the setup program's start-up code
//                               loads, and whether it runs as its user
// Output on standard output, one "name=value" a line; exit code 0 when the
// question could be answered.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "startup/common_ui.h"
#include "startup/privileges.h"
#include "startup/run_flow.h"

static int PrintLevel(const char* path) {
  HMODULE file = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!file) return 2;
  HRSRC found = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  HGLOBAL loaded = found ? LoadResource(file, found) : nullptr;
  const char* text = loaded ? (const char*)LockResource(loaded) : nullptr;
  if (!text) {
    printf("level=none\n");
    return 0;
  }
  DWORD size = SizeofResource(file, found);
  static const char attribute[] = "level=\"";
  for (DWORD i = 0; i + sizeof attribute <= size; ++i) {
    if (memcmp(text + i, attribute, sizeof attribute - 1) != 0) continue;
    DWORD start = i + sizeof attribute - 1, end = start;
    while (end < size && text[end] != '"') ++end;
    printf("level=%.*s\n", (int)(end - start), text + start);
    return 0;
  }
  printf("level=missing\n");
  return 0;
}

typedef struct {
  DWORD cbSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformID;
} ControlsVersion;
typedef HRESULT(WINAPI* DllGetVersionFunction)(ControlsVersion*);

static int PrintSelf() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
  PlatformClass c = ClassifyPlatform(known, version.dwPlatformId, version.dwMajorVersion,
                                     version.dwMinorVersion);
  printf("version=%lu.%lu\nplatform=%lu\nclass=0x%lx\nnt=%d\nnt6=%d\n", version.dwMajorVersion,
         version.dwMinorVersion, version.dwPlatformId, (unsigned long)c.osClass, c.isWinNT,
         c.isWinNT6);
  InitCommonUi();
  // The name resolves as the setup program's own loads do: through the
  // manifest's common controls when they were loaded.
  HMODULE controls = GetModuleHandleA("comctl32.dll");
  char path[MAX_PATH] = "";
  if (controls) GetModuleFileNameA(controls, path, MAX_PATH);
  ControlsVersion v;
  memset(&v, 0, sizeof v);
  v.cbSize = sizeof v;
  DllGetVersionFunction get =
      controls ? (DllGetVersionFunction)(void*)GetProcAddress(controls, "DllGetVersion") : nullptr;
  if (get) get(&v);
  printf("comctl32=%s\ncomctl32_version=%lu.%lu\nas_invoker=%d\n", path, v.dwMajorVersion,
         v.dwMinorVersion, ManifestRunsAsInvoker());
  ReleaseCommonUi();
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "level") == 0) return PrintLevel(argv[2]);
  if (argc == 2 && strcmp(argv[1], "self") == 0) return PrintSelf();
  return 2;
}
