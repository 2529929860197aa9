/* The demo's component: a library that registers itself. DllRegisterServer
 * records it as the in-process server of the class "Setrun Demo Greeting"
 * (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 names the library's own
 * path); DllUnregisterServer takes that record away again. The setup
 * program calls DllRegisterServer once the library is in place. */
#include <windows.h>

static const char ClassKey[] = "CLSID\\{6A0C5E43-1F2B-4D7A-9E38-5B61C0D2A7F4}";
static const char ServerKey[] = "CLSID\\{6A0C5E43-1F2B-4D7A-9E38-5B61C0D2A7F4}\\InprocServer32";
static const char ClassName[] = "Setrun Demo Greeting";
static const char Threading[] = "Apartment";
static HINSTANCE Self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reason;
  (void)reserved;
  Self = instance;
  return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(Self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  HKEY key;
  if (RegCreateKeyA(HKEY_CLASSES_ROOT, ClassKey, &key) != ERROR_SUCCESS) return E_FAIL;
  RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)ClassName, sizeof ClassName);
  RegCloseKey(key);
  if (RegCreateKeyA(HKEY_CLASSES_ROOT, ServerKey, &key) != ERROR_SUCCESS) return E_FAIL;
  LONG set = RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)path, n + 1);
  RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, (const BYTE*)Threading, sizeof Threading);
  RegCloseKey(key);
  return set == ERROR_SUCCESS ? S_OK : E_FAIL;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ServerKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ClassKey);
  return S_OK;
}

/* The class itself is not made here: the demo shows the registration. */
__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID cls, REFIID iid, LPVOID* out) {
  (void)cls;
  (void)iid;
  if (out) *out = NULL;
  return CLASS_E_CLASSNOTAVAILABLE;
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow(void) { return S_OK; }
