// The values of the folder variables on this machine.
#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "base/files.h"
#include "paths/path_text.h"
#include "paths/variables.h"
#include "base/run_state.h"

namespace {

enum Variable {
  VarWindows,
  VarSystem,
  VarCommonFiles,
  VarProgramFiles,
  VarMyDocuments,
  VarAppData,
  VarLocalAppData,
  VarUserDir,
  VarInstallDir,
  VarSourceDir,
  VarDate,
  VariableCount
};

const char* const VariableNames[VariableCount] = {
    "#Windows#",  "#System#",  "#CommonFiles#",   "#Program Files#",
    "#MyDocuments#", "#AppData#", "#LocalAppData#", "#UserDir#",
    "#InstallDir#", "#SourceDir#", "#Date#"};

const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// Letter case is compared the ASCII way, whatever the user's locale.
bool SameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = (char)(x + 32);
    if (y >= 'A' && y <= 'Z') y = (char)(y + 32);
    if (x != y) return false;
    if (!x) return true;
  }
}

// Appends `text` to the path in `buffer` (PathSize bytes). 0, with the
// buffer unchanged, when it would not fit.
int AppendText(char* buffer, const char* text) {
  size_t length = strlen(buffer), extra = strlen(text);
  if (length + extra + 1 > PathSize) return 0;
  memcpy(buffer + length, text, extra + 1);
  return 1;
}

// A string value of the current-version key into `value` (PathSize bytes),
// terminated even when the registry holds it without its terminator.
int ReadValue(HKEY key, const char* name, char* value) {
  DWORD size = PathSize;
  if (RegQueryValueExA(key, name, nullptr, nullptr, (BYTE*)value, &size) != ERROR_SUCCESS)
    return 0;
  value[size < PathSize ? size : PathSize - 1] = 0;
  return 1;
}

// The Windows folder, a backslash and "Application Data".
void WindowsApplicationData(char* buffer) {
  char value[PathSize];
  UINT length = GetWindowsDirectoryA(value, PathSize);
  if (length == 0 || length >= PathSize) return;
  if (AddBackslash(value, PathSize) && AppendText(value, "Application Data"))
    CopyText(buffer, value, PathSize);
}

void ResolveProgramFiles(char* buffer, bool common) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return;
  char value[PathSize];
  if (common && ReadValue(key, "CommonFilesDir", value)) {
    CopyText(buffer, value, PathSize);
  } else if (ReadValue(key, "ProgramFilesDir", value)) {
    // Without a value of its own the common folder lies below the programs
    // folder; a result too long for a path leaves the variable as it is.
    if (!common || (AddBackslash(value, PathSize) && AppendText(value, "Common Files")))
      CopyText(buffer, value, PathSize);
  }
  RegCloseKey(key);
}

void ResolveLocalAppData(char* buffer) {
  if (GetShellFolder(buffer, CSIDL_LOCAL_APPDATA)) return;
  if (GetShellFolder(buffer, CSIDL_APPDATA)) {
    if (!IsWinNT) return;
    char* slash = strrchr(buffer, '\\');
    if (!slash) {
      CopyText(buffer, "c:\\", PathSize);
      return;
    }
    char value[PathSize];
    CopyText(value, buffer, PathSize);
    value[slash - buffer] = 0;
    if (AppendText(value, "\\Local Settings\\Application Data")) CopyText(buffer, value, PathSize);
    return;
  }
  if (!IsWinNT) WindowsApplicationData(buffer);
}

void ResolveUserDir(char* buffer) {
  if (GetShellFolder(buffer, CSIDL_PROFILE)) return;
  if (!IsWinNT) {
    GetWindowsDirectoryA(buffer, PathSize);
    return;
  }
  GetShellFolder(buffer, CSIDL_APPDATA);
  char* slash = strrchr(buffer, '\\');
  if (slash)
    *slash = 0;
  else
    CopyText(buffer, "c:\\", PathSize);
}

// year * 10000 + month * 100 + day in decimal digits.
void WriteDate(char* buffer) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  WriteDecimal(buffer, (u32)now.wYear * 10000u + (u32)now.wMonth * 100u + now.wDay, 1);
}

}  // namespace

int GetShellFolder(char* buffer, int folderId) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &list)) || !list) return 0;
  // The conversion goes through a buffer of its own so that a failure leaves
  // the caller's text as it was.
  char path[MAX_PATH];
  path[0] = 0;
  int found = SHGetPathFromIDListA(list, path) ? 1 : 0;
  if (found) CopyText(buffer, path, PathSize);
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(list);
    allocator->Release();
  }
  return found;
}

void ResolveVariable(char* buffer) {
  int variable = 0;
  while (variable < VariableCount && !SameName(buffer, VariableNames[variable])) ++variable;
  switch (variable) {
    case VarWindows:
      GetWindowsDirectoryA(buffer, PathSize);
      break;
    case VarSystem:
      GetSystemDirectoryA(buffer, PathSize);
      break;
    case VarCommonFiles:
      ResolveProgramFiles(buffer, true);
      break;
    case VarProgramFiles:
      ResolveProgramFiles(buffer, false);
      break;
    case VarMyDocuments:
      GetShellFolder(buffer, CSIDL_PERSONAL);
      break;
    case VarAppData:
      if (!GetShellFolder(buffer, CSIDL_APPDATA) && !IsWinNT) WindowsApplicationData(buffer);
      break;
    case VarLocalAppData:
      ResolveLocalAppData(buffer);
      break;
    case VarUserDir:
      ResolveUserDir(buffer);
      break;
    case VarInstallDir:
      CopyText(buffer, InstallDir ? InstallDir : "", PathSize);
      break;
    case VarSourceDir: {
      CopyText(buffer, ProgramPath ? ProgramPath : "", PathSize);
      char* slash = strrchr(buffer, '\\');
      if (slash) *slash = 0;
      break;
    }
    case VarDate:
      WriteDate(buffer);
      break;
    default:
      buffer[0] = 0;
      return;
  }
  if (buffer[0]) RemoveBackslash(buffer);
}
