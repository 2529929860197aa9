/* The demo program: a console program that prints one line and counts its
 * runs in HKEY_CURRENT_USER\Software\Setrun Demo (value Runs), so that a
 * start by the setup program leaves a trace. */
#include <windows.h>

static void CountRun(void) {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Setrun Demo", &key) != ERROR_SUCCESS) return;
  DWORD runs = 0, size = sizeof runs, type = 0;
  if (RegQueryValueExA(key, "Runs", NULL, &type, (BYTE*)&runs, &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    runs = 0;
  ++runs;
  RegSetValueExA(key, "Runs", 0, REG_DWORD, (const BYTE*)&runs, sizeof runs);
  RegCloseKey(key);
}

int main(void) {
  static const char line[] = "Hello from the setrun demo.\r\n";
  DWORD written;
  CountRun();
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, NULL);
  return 0;
}
