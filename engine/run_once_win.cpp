#include <windows.h>
#include <string.h>

#include "engine/run_once.h"

u32 RunOnceCounter;

static const char RunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

int CreateMachineOrUserKey(const char* path, int userOnly, void* key) {
  HKEY* out = (HKEY*)key;
  return (!userOnly && RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, out, nullptr) == ERROR_SUCCESS) ||
         RegCreateKeyA(HKEY_CURRENT_USER, path, out) == ERROR_SUCCESS;
}

RunOnceResult AddRunOnceCommand(const char* command) {
  HKEY key;
  if (!CreateMachineOrUserKey(RunOnceKey, 0, &key)) return RunOnceFailed;
  RunOnceResult result = RunOnceFull;
  while (RunOnceCounter < RunOnceNames) {
    char name[12];
    RunOnceValueName(name, RunOnceCounter++);
    // Any answer but "not found" (also a value too long for a buffer) means
    // the name is taken.
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
      continue;
    result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)command,
                            (DWORD)strlen(command) + 1) == ERROR_SUCCESS
                 ? RunOnceWritten
                 : RunOnceFailed;
    break;
  }
  RegCloseKey(key);
  return result;
}
