// Starting the run entries of the file list: programs (".msi" packages
// through the Windows Installer) and documents.
#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "engine/install.h"
#include "engine/run_entries.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "paths/path_text.h"
#include "paths/variables.h"
#include "base/run_state.h"

// The longest command line CreateProcessA takes, terminator included.
static const u32 CommandLineLimit = 32768;
// How long one wait for a started program lasts before the message queue is
// looked at again.
static const DWORD WaitSlice = 100;

// The process of `path` with `arguments`, started in the path's folder when
// `enterFolder` is set and the path has one (otherwise in the current
// folder); null when it could not be started. The thread handle is closed at
// once.
static HANDLE StartProcess(const char* path, const char* arguments, int enterFolder) {
  const u32 length = FormatProgramCommand(nullptr, 0, path, arguments);
  // Too long for any program: never started with a cut command line.
  if (length >= CommandLineLimit) return nullptr;
  char* command = nullptr;
  if (!AllocBlock(length + 1, &command)) return nullptr;
  FormatProgramCommand(command, length + 1, path, arguments);
  char previous[PathSize];
  DWORD kept = GetCurrentDirectoryA(PathSize, previous);
  char folder[TargetPathSize];
  CopyText(folder, path, sizeof folder);
  char* slash = strrchr(folder, '\\');
  if (enterFolder && slash) {
    // A drive root keeps its backslash.
    slash[slash > folder && slash[-1] == ':' ? 1 : 0] = 0;
    SetCurrentDirectoryA(folder);
  }
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                                nullptr, nullptr, &startup, &process);
  if (kept > 0 && kept < PathSize) SetCurrentDirectoryA(previous);
  FreeBlock(&command);
  if (!started) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

static int RunProcess(const char* path, const char* arguments, int wait, int enterFolder) {
  HANDLE process = StartProcess(path, arguments, enterFolder);
  if (!process) return 0;
  if (wait) {
    // Waits in slices and looks at the queue in between, so that the
    // system does not take this program for hung; no message is taken out.
    MSG message;
    while (WaitForSingleObject(process, WaitSlice) == WAIT_TIMEOUT)
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(process);
  return 1;
}

int RunProgram(const char* path, const char* arguments, int wait) {
  return RunProcess(path, arguments, wait, 1);
}

// The default value of `subKey` under `root` in `buffer` (PathSize bytes).
// 0 when the key opened (the value may still be empty), else the error.
static LONG ReadDefaultValue(HKEY root, const char* subKey, char* buffer) {
  buffer[0] = 0;
  HKEY key;
  LONG result = RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key);
  if (result != ERROR_SUCCESS) return result;
  LONG size = (LONG)PathSize;
  if (RegQueryValueA(key, nullptr, buffer, &size) != ERROR_SUCCESS) buffer[0] = 0;
  buffer[PathSize - 1] = 0;
  RegCloseKey(key);
  return 0;
}

void OpenDocument(const char* path, const char* extension) {
  if (!path || !*path) return;
  char folder[TargetPathSize];
  DocumentFolder(folder, sizeof folder, path);
  HINSTANCE opened =
      ShellExecuteA(nullptr, "open", path, nullptr, folder[0] ? folder : nullptr, SW_SHOW);
  if ((INT_PTR)opened > 32) return;
  // The opening command of the type the extension names.
  if (!extension || !*extension) return;
  char type[PathSize];
  if (ReadDefaultValue(HKEY_CLASSES_ROOT, extension, type) != 0 || !type[0]) return;
  static const char OpenCommand[] = "\\shell\\open\\command";
  char key[PathSize + sizeof OpenCommand];
  u32 at = CopyText(key, type, sizeof key);
  CopyText(key + at, OpenCommand, sizeof key - at);
  char command[PathSize];
  if (ReadDefaultValue(HKEY_CLASSES_ROOT, key, command) != 0 || !command[0]) return;
  char line[PathSize + TargetPathSize + 2];
  if (FormatAssociationCommand(line, sizeof line, command, path)) WinExec(line, SW_SHOW);
}

// Opens the entry's target (in TargetPath) as a document, by its short path.
static void OpenEntryDocument() {
  if (GetFileAttributesA(TargetPath) == INVALID_FILE_ATTRIBUTES) return;
  char shortPath[PathSize];
  DWORD n = GetShortPathNameA(TargetPath, shortPath, PathSize);
  if (n == 0 || n >= PathSize) CopyText(shortPath, TargetPath, PathSize);
  OpenDocument(shortPath, FileExtension(TargetPath));
}

// Starts the entry's target (in TargetPath) in the installation folder with
// the entry's arguments; a Windows Installer package through msiexec.
static void StartEntryProgram(const u8* entry, int wait) {
  char previous[PathSize];
  DWORD kept = GetCurrentDirectoryA(PathSize, previous);
  char folder[PathSize];
  CopyText(folder, InstallDir, PathSize);
  RemoveBackslash(folder);
  SetCurrentDirectoryA(folder);

  const char* stored = EntryString(entry, 8);
  char* arguments = nullptr;
  if (*stored) {
    u32 length = ExpandVariables(nullptr, stored, ExpandLimit);
    if (length >= ExpandLimit) length = ExpandLimit - 1;
    if (AllocBlock(length + 1, &arguments)) ExpandVariables(arguments, stored, length + 1);
  }
  if (*stored && !arguments) {
    // Without its arguments the program would do something else.
  } else if (IsMsiPackage(TargetPath)) {
    // The Windows Installer of the system folder, never a program of that
    // name in the current folder or beside the setup program. It runs in
    // the installation folder.
    char installer[PathSize];
    UINT n = GetSystemDirectoryA(installer, PathSize);
    u32 length = FormatMsiArguments(nullptr, 0, TargetPath, arguments);
    char* command = nullptr;
    if (n > 0 && n < PathSize && AppendName(installer, "msiexec.exe") &&
        AllocBlock(length + 1, &command)) {
      FormatMsiArguments(command, length + 1, TargetPath, arguments);
      RunProcess(installer, command, wait, 0);
      FreeBlock(&command);
    }
  } else {
    RunProgram(TargetPath, arguments, wait);
  }
  FreeBlock(&arguments);
  if (kept > 0 && kept < PathSize) SetCurrentDirectoryA(previous);
}

void RunEntries(u32 phase, int kind, int afterInstall) {
  if (ForcedPageMode) return;
  u8* entry = FirstEntry();
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry)) {
    const u32 flags = ReadU32(entry + EntryFlags);
    if (!RunEntryDue(flags, phase, kind, afterInstall, RestartState)) continue;
    ResolveTargetPath(entry);
    if (!TargetPath[0]) continue;
    if (flags & FileFlagDocument) OpenEntryDocument();
    else StartEntryProgram(entry, (flags & FileFlagWait) != 0);
  }
}
