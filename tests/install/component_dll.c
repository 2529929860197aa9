/* A self-registering component for the registration tests. Its entry
 * points keep their record under HKCU\Software\SetrunTest\Components, in
 * values named after the library's own file name:
 *   "<name>"          the version of the registered library; set by
 *                     DllRegisterServer, deleted by DllUnregisterServer;
 *   "<name>.history"  every call in turn: "+<version>" for a registration,
 *                     "-<version>" for a removal.
 * COMPONENT_VERSION names the build (1, 2). Built with COMPONENT_FAULT,
 * both entry points write their history and then fail with an access
 * violation that they do not handle. */
#include <windows.h>

#define STRINGIFY2(x) #x
#define STRINGIFY(x) STRINGIFY2(x)
static const char Version[] = STRINGIFY(COMPONENT_VERSION);
static const char Key[] = "Software\\SetrunTest\\Components";
static HINSTANCE Self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reason;
  (void)reserved;
  Self = instance;
  return TRUE;
}

/* The library's file name, and the same followed by ".history". */
static void Names(char* name, char* history) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(Self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) path[0] = 0;
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  lstrcpynA(name, base, MAX_PATH);
  lstrcpynA(history, base, MAX_PATH);
  lstrcatA(history, ".history");
}

static void Record(char sign, int set) {
  char name[MAX_PATH], history[MAX_PATH + 16], text[1024];
  Names(name, history);
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, Key, &key) != ERROR_SUCCESS) return;
  DWORD size = sizeof text - 16, type = 0;
  if (RegQueryValueExA(key, history, NULL, &type, (BYTE*)text, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0)
    text[0] = 0;
  else
    text[size - 1] = 0;
  int length = lstrlenA(text);
  if (length) text[length++] = ' ';
  text[length++] = sign;
  lstrcpyA(text + length, Version);
  RegSetValueExA(key, history, 0, REG_SZ, (const BYTE*)text, lstrlenA(text) + 1);
  if (set)
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)Version, lstrlenA(Version) + 1);
  else
    RegDeleteValueA(key, name);
  RegCloseKey(key);
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) {
  Record('+', 1);
#ifdef COMPONENT_FAULT
  *(volatile int*)(INT_PTR)16 = 1;
#endif
  return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
  Record('-', 0);
#ifdef COMPONENT_FAULT
  *(volatile int*)(INT_PTR)16 = 1;
#endif
  return S_OK;
}
