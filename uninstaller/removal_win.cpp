#include "uninstaller/removal.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "base/files.h"
#include "base/guarded_call.h"
#include "base/system_library.h"
#include "engine/uninstall_log.h"

static const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
static const char FontsKeyNT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
static const char FontsKey9x[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// Appends a line to a growing text. 0 when memory runs out.
static int AppendLine(char** text, u32* length, u32* capacity, const char* line) {
  u32 n = (u32)strlen(line);
  if (*length + n + 3 > *capacity) {
    u32 grown = (*capacity ? *capacity * 2 : 1024) + n + 3;
    char* block = nullptr;
    if (!AllocBlock(grown, &block)) return 0;
    if (*text) memcpy(block, *text, *length + 1);
    FreeBlock(text);
    *text = block;
    *capacity = grown;
  }
  memcpy(*text + *length, line, n);
  memcpy(*text + *length + n, "\r\n", 3);
  *length += n + 2;
  return 1;
}

// Whether `line` is one of the lines of `text`, compared as Windows compares
// names.
static int HasLine(const char* text, const char* line) {
  u32 n = (u32)strlen(line);
  for (const char* p = text; p && *p;) {
    const char* end = strstr(p, "\r\n");
    if (!end) break;
    if ((u32)(end - p) == n && CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, p, (int)n, line,
                                              (int)n) == CSTR_EQUAL)
      return 1;
    p = end + 2;
  }
  return 0;
}

static void Keep(RemovalResult* r, const char* path) {
  if (HasLine(r->kept, path)) return;
  ++r->keptCount;
  AppendLine(&r->kept, &r->keptLength, &r->keptCapacity, path);
}

void FreeRemovalResult(RemovalResult* result) {
  FreeBlock(&result->kept);
  FreeBlock(&result->later);
  memset(result, 0, sizeof *result);
}

// Deletes a file now, or at the next start of Windows when it is in use.
// 0 when neither is possible.
static int DeleteNowOrLater(const char* path, RemovalResult* r) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 1;  // gone already
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path)) return 1;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 1;
  if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    r->restartNeeded = 1;
    AppendLine(&r->later, &r->laterLength, &r->laterCapacity, path);
    return 1;
  }
  return 0;
}

// Size and checksum of a file's contents; 0 when it cannot be read.
static int MeasureFile(const char* path, u32* size, u32* checksum) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  static u8 buffer[32768];
  u32 total = 0, sum = 0;
  int ok = 1;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) { ok = 0; break; }
    if (got == 0) break;
    sum = RotateAddSum(sum, buffer, got);
    total += got;
  }
  CloseHandle(file);
  *size = total;
  *checksum = sum;
  return ok;
}

// The SharedDLLs count of a shared file goes down by one. Returns 1 when no
// other installation counts it any more (its value is then gone).
static int ReleaseSharedFile(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 1;
  DWORD count = 0, type = 0, size = sizeof count;
  int last = 1;
  if (RegQueryValueExA(key, path, nullptr, &type, (BYTE*)&count, &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof count && count > 1) {
    --count;
    RegSetValueExA(key, path, 0, REG_DWORD, (const BYTE*)&count, sizeof count);
    last = 0;
  } else {
    RegDeleteValueA(key, path);
  }
  RegCloseKey(key);
  return last;
}

// The component unregisters itself through its own entry point, called
// under the exception guard: a library that crashes inside it ends only its
// own call. Returns 0 when it did (its registration may be left; the file
// stays, and the library is not run again, not even to unload it), 1
// otherwise, also when it does not load or has no such entry point.
static int Unregister(const char* path) {
  UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // By its full path; the libraries it needs are looked for beside it.
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  int completed = 1;
  if (library) {
    GuardedProc entry = (GuardedProc)LibraryFunction(library, "DllUnregisterServer");
    if (entry) completed = CallGuarded(entry);
    if (completed) FreeLibrary(library);
  }
  SetErrorMode(mode);
  return completed;
}

// The font leaves the running system and the Fonts key: every value that
// names the file (by its name or its full path) goes.
static void RemoveFont(const char* path, const char* name) {
  RemoveFontResourceA(path);
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  const char* keyPath = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? FontsKeyNT : FontsKey9x;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    for (DWORD i = 0;;) {
      char value[520], data[520];
      DWORD valueSize = sizeof value, dataSize = sizeof data - 1, type = 0;
      LONG status = RegEnumValueA(key, i, value, &valueSize, nullptr, &type, (BYTE*)data, &dataSize);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS || type != REG_SZ) { ++i; continue; }
      data[dataSize] = 0;
      if (lstrcmpiA(data, name) == 0 || lstrcmpiA(data, path) == 0)
        RegDeleteValueA(key, value);  // the next value moves into place i
      else
        ++i;
    }
    RegCloseKey(key);
  }
  DWORD_PTR ignored;
  SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

static void RemoveFileStep(const UninstallLog* log, const LoggedFile* file,
                           const char* uninstallerFolder, RemovalResult* r) {
  if (file->name.length == 0) return;  // a folder entry: its folder is a folder step
  char path[520];
  if (!LoggedFilePath(file, uninstallerFolder, path, 260)) return;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if ((file->flags & LogFlagShared) && !ReleaseSharedFile(path)) return;  // still counted
  u32 size = 0, checksum = 0;
  int check = MeasureFile(path, &size, &checksum) ? CompareWithLog(log, file, size, checksum)
                                                  : CheckChanged;  // cannot tell: it stays
  if (check == CheckChanged) {
    Keep(r, path);
    return;
  }
  if ((file->flags & LogFlagEntryPoint) && !Unregister(path)) {
    Keep(r, path);
    return;
  }
  if (file->flags & LogFlagFont) {
    const char* slash = strrchr(path, '\\');
    RemoveFont(path, slash ? slash + 1 : path);
  }
  if (!DeleteNowOrLater(path, r)) Keep(r, path);
}

static HKEY RootKey(u32 root) {
  switch (root) {
    case 0: return HKEY_CLASSES_ROOT;
    case 2: return HKEY_LOCAL_MACHINE;
    case 3: return HKEY_USERS;
    default: return HKEY_CURRENT_USER;
  }
}

// Removes a key with everything below it (at most 32 levels deep). Returns
// 1 when the key is gone.
static int DeleteKeyTree(HKEY parent, const char* path, int levels) {
  HKEY key;
  if (levels > 0 && RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    char child[256];
    DWORD size = sizeof child;
    // A subkey that cannot go would be found first again: stop there.
    while (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           DeleteKeyTree(key, child, levels - 1))
      size = sizeof child;
    RegCloseKey(key);
  }
  return RegDeleteKeyA(parent, path) == ERROR_SUCCESS;
}

static int KeyIsEmpty(HKEY root, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD subkeys = 1, values = 1;
  LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

static void RemoveRegistryStep(const LoggedRegistry* entry) {
  char key[520], value[520];
  if (entry->key.length >= sizeof key || entry->value.length >= sizeof value) return;
  memcpy(key, entry->key.text, entry->key.length);
  key[entry->key.length] = 0;
  HKEY root = RootKey(entry->root);
  if (!entry->isValue) {
    DeleteKeyTree(root, key, 32);
    return;
  }
  memcpy(value, entry->value.text, entry->value.length);
  value[entry->value.length] = 0;
  HKEY handle;
  if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
  RegDeleteValueA(handle, value);
  RegCloseKey(handle);
  // The key, and the keys above it that it leaves empty, go too; never a
  // key of the first level (such as Software).
  while (strchr(key, '\\') && KeyIsEmpty(root, key)) {
    RegDeleteKeyA(root, key);
    *strrchr(key, '\\') = 0;
  }
}

// Folders of the system and the user that stay even when empty.
static int IsProtectedFolder(const char* path) {
  static const int folders[] = {
      CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_STARTUP, CSIDL_COMMON_PROGRAMS,
      CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_FONTS,
      CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
      CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PERSONAL, CSIDL_APPDATA,
      CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PROFILE, CSIDL_COMMON_DOCUMENTS};
  char special[MAX_PATH];
  for (u32 i = 0; i < sizeof folders / sizeof folders[0]; ++i) {
    special[0] = 0;
    if (SHGetSpecialFolderPathA(nullptr, special, folders[i], FALSE) && lstrcmpiA(special, path) == 0)
      return 1;
  }
  return 0;
}

void RemoveStep(const UninstallLog* log, const RemovalPlan* plan, const RemovalStep* step,
                const char* uninstallerFolder, RemovalResult* result) {
  char path[520];
  switch (step->kind) {
    case StepShortcut:
      if (ShortcutPath(&log->shortcuts[step->item], path) && !DeleteNowOrLater(path, result))
        Keep(result, path);
      break;
    case StepFile:
      RemoveFileStep(log, &log->files[step->item], uninstallerFolder, result);
      break;
    case StepRegistry:
      RemoveRegistryStep(&log->registry[step->item]);
      break;
    case StepFolder: {
      const char* folder = plan->folders[step->item];
      if (!IsProtectedFolder(folder)) RemoveDirectoryA(folder);
      break;
    }
  }
}

void RemoveAtRestart(const RemovalPlan* plan, const char* selfPath) {
  MoveFileExA(selfPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  char own[FolderPathSize];
  CopyText(own, selfPath, sizeof own);
  char* slash = strrchr(own, '\\');
  if (slash) *slash = 0;
  for (u32 i = 0; i < plan->stepCount; ++i) {
    const RemovalStep& s = plan->steps[i];
    if (s.kind != StepFolder) continue;
    const char* folder = plan->folders[s.item];
    if (lstrcmpiA(folder, own) != 0 && GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES &&
        !IsProtectedFolder(folder))
      MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  // The uninstaller's own folder (the installation folder) last: the
  // folders below it go first.
  if (slash && strchr(own, '\\') && !IsProtectedFolder(own))
    MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void DescribeStep(const UninstallLog* log, const RemovalPlan* plan, const RemovalStep* step,
                  const char* uninstallerFolder, char* out) {
  out[0] = 0;
  switch (step->kind) {
    case StepShortcut: ShortcutPath(&log->shortcuts[step->item], out); break;
    case StepFile: LoggedFilePath(&log->files[step->item], uninstallerFolder, out, 260); break;
    case StepRegistry: {
      const LogText& k = log->registry[step->item].key;
      u32 n = k.length < 259 ? k.length : 259;
      memcpy(out, k.text, n);
      out[n] = 0;
      break;
    }
    case StepFolder: CopyText(out, plan->folders[step->item], 260); break;
  }
}

void NameLeftFiles(const RemovalPlan* plan, const char* selfPath, RemovalResult* result) {
  for (u32 i = 0; i < plan->stepCount; ++i) {
    const RemovalStep& s = plan->steps[i];
    if (s.kind != StepFolder) continue;
    const char* folder = plan->folders[s.item];
    if (IsProtectedFolder(folder)) continue;
    char pattern[FolderPathSize + 4];
    u32 n = CopyText(pattern, folder, FolderPathSize);
    CopyText(pattern + n, "\\*", sizeof pattern - n);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const char* name = found.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      char path[2 * FolderPathSize];
      u32 at = CopyText(path, folder, sizeof path);
      at += CopyText(path + at, "\\", sizeof path - at);
      CopyText(path + at, name, sizeof path - at);
      // A folder of the plan is looked into on its own.
      int planned = 0;
      for (u32 k = 0; k < plan->folderCount && !planned; ++k)
        planned = lstrcmpiA(plan->folders[k], path) == 0;
      if (planned || lstrcmpiA(path, selfPath) == 0 || HasLine(result->later, path)) continue;
      Keep(result, path);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
}
