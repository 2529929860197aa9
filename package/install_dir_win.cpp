// The default installation folder of an install group, with the detection of
// an earlier installation through the registry or an INI file.
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "package/reader_seam.h"
#include "package/tables.h"
#include "base/run_state.h"

void* GroupRegistryRootKey(RecordView groupRecord) {
  switch (ReadU32(groupRecord.data + GroupRegistryRoot)) {
    case 0: return HKEY_CLASSES_ROOT;
    case 2: return HKEY_LOCAL_MACHINE;
    case 3: return HKEY_USERS;
    default: return HKEY_CURRENT_USER;
  }
}

// Reads the folder of an earlier installation from the registry into `work`
// (260 bytes). Only string values count; anything else reads as nothing.
static void ReadRegistryFolder(RecordView record, char* work) {
  const char* key = RecordText(record, GroupRegistryKey);
  if (!key) return;
  HKEY handle;
  if (RegOpenKeyExA((HKEY)GroupRegistryRootKey(record), key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return;
  DWORD type = 0, size = PathSize;
  LONG result = RegQueryValueExA(handle, RecordText(record, GroupRegistryValue), nullptr, &type,
                                 (BYTE*)work, &size);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    work[0] = 0;
    return;
  }
  // A value stored without its terminator is terminated here.
  work[size < PathSize ? size : PathSize - 1] = 0;
}

// Keeps the text between a leading double quote and the next one.
static void StripQuotes(char* text) {
  if (text[0] != '"') return;
  char* close = strchr(text + 1, '"');
  if (!close) return;
  size_t length = (size_t)(close - text - 1);
  memmove(text, text + 1, length);
  text[length] = 0;
}

// Tests `text` as a folder by entering it; a path to a file is cut to its
// folder. Returns 0 and empties the text when neither is a folder.
static int TestFolder(char* text) {
  if (SetCurrentDirectoryA(text)) return 1;
  char* slash = strrchr(text, '\\');
  if (slash && strchr(slash, '.')) {
    *slash = 0;
    if (SetCurrentDirectoryA(text)) return 1;
  }
  text[0] = 0;
  return 0;
}

void DetectInstallDir(RecordView record) {
  char* work = TempPath;
  work[0] = 0;
  const char* folder = RecordText(record, GroupDefaultFolder);
  const bool parentRule = folder && _stricmp(folder, "#parent#") == 0;
  if (folder && !parentRule) CopyText(InstallDir, folder, PathSize);

  ReadRegistryFolder(record, work);
  const char* iniFile = RecordText(record, GroupIniFile);
  const char* iniSection = RecordText(record, GroupIniSection);
  const char* iniKey = RecordText(record, GroupIniKey);
  if (!work[0] && iniFile && iniSection && iniKey)
    GetPrivateProfileStringA(iniSection, iniKey, InstallDir, work, PathSize, iniFile);

  if (work[0]) {
    StripQuotes(work);
    if (TestFolder(work) && work[0]) {
      if (parentRule) {
        char* slash = strrchr(work, '\\');
        if (slash) *slash = 0;
      }
      CopyText(InstallDir, work, PathSize);
      if (InstallDir[0]) CorrectPathCase(InstallDir);
    }
  }
  if (Reader.expandVariables) Reader.expandVariables(InstallDir, InstallDir, PathSize);
}

// Appends "\" and `component` to `result` (capacity PathSize), then replaces
// the component by the name stored on disk. 0 when it does not exist or the
// result would not fit.
static int AppendStoredName(char* result, const char* component, size_t componentLength,
                            bool lastComponent) {
  size_t length = strlen(result);
  if (length + 1 + componentLength + 1 > PathSize) return 0;
  result[length] = '\\';
  memcpy(result + length + 1, component, componentLength);
  result[length + 1 + componentLength] = 0;
  if (lastComponent) {
    size_t total = strlen(result);
    if (total > 3 && result[total - 1] == '\\') result[total - 1] = 0;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(result, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  if (componentLength == 0) return 1;
  size_t nameLength = strlen(found.cFileName);
  if (length + 1 + nameLength + 1 > PathSize) return 0;
  memcpy(result + length + 1, found.cFileName, nameLength + 1);
  return 1;
}

void CorrectPathCase(char* path) {
  // Wildcards would be matched as patterns and replaced by another name.
  if (strpbrk(path, "*?")) return;
  char drive[_MAX_DRIVE];
  _splitpath(path, drive, nullptr, nullptr, nullptr);
  char result[PathSize];
  CopyText(result, drive, PathSize);
  const char* rest = path + strlen(drive);
  while (*rest == '\\') ++rest;
  for (;;) {
    const char* slash = strchr(rest, '\\');
    if (!slash) break;
    if (!AppendStoredName(result, rest, (size_t)(slash - rest), false)) return;
    rest = slash + 1;
  }
  if (!AppendStoredName(result, rest, strlen(rest), true)) return;
  CopyText(path, result, PathSize);
}
