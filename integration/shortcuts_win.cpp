#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <string.h>

#include "engine/install.h"
#include "engine/uninstall_log.h"
#include "integration/shortcut_log.h"
#include "integration/shortcuts.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "paths/path_text.h"
#include "paths/variables.h"
#include "base/run_state.h"

// The shell link object and the interfaces asked of it; spelt out here so
// that the program carries no GUID library.
static const GUID ClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID IidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID IidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

static const int ShellFolderPrograms = 2;   // CSIDL_PROGRAMS
static const int ShellFolderDesktop = 16;   // CSIDL_DESKTOPDIRECTORY
static const char DesktopSpec[] = "#Desktop#";

long CreateShellLink(char* savedPath, const char* target, char* linkPath, const char* arguments,
                     const char* iconPath, u32 iconIndex, u32 windowState) {
  savedPath[0] = 0;
  IShellLinkA* link = nullptr;
  HRESULT result = CoCreateInstance(ClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, IidShellLinkA,
                                    (void**)&link);
  if (FAILED(result)) return result;
  link->SetPath(target);
  // The target's folder is the working folder; a drive root keeps its
  // backslash.
  char folder[PathSize];
  CopyText(folder, target, sizeof folder);
  if (char* last = strrchr(folder, '\\')) {
    last[last == folder + 2 && folder[1] == ':' ? 1 : 0] = 0;
    link->SetWorkingDirectory(folder);
  }
  if (arguments[0]) link->SetArguments(arguments);
  if (iconIndex || iconPath[0]) link->SetIconLocation(iconPath[0] ? iconPath : target, (int)iconIndex);
  link->SetShowCmd(ShowCommandFor(windowState));
  IPersistFile* file = nullptr;
  result = link->QueryInterface(IidPersistFile, (void**)&file);
  if (FAILED(result)) {
    link->Release();
    return result;
  }
  WCHAR wide[PathSize];
  if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, PathSize)) wide[0] = 0;
  wide[PathSize - 1] = 0;
  result = file->Save(wide, TRUE);
  if (FAILED(result)) {
    file->Release();
    link->Release();
    return result;
  }
  LPOLESTR saved = nullptr;
  const int named = SUCCEEDED(file->GetCurFile(&saved)) && saved && saved[0];
  if (named && WideCharToMultiByte(CP_ACP, 0, saved, -1, savedPath, PathSize, nullptr, nullptr)) {
    savedPath[PathSize - 1] = 0;
    TakeSavedExtension(linkPath, savedPath);
  } else {
    savedPath[0] = 0;
  }
  if (saved) CoTaskMemFree(saved);
  file->Release();
  link->Release();
  if (!named && GetFileAttributesA(linkPath) == INVALID_FILE_ATTRIBUTES && EndsInLnk(linkPath)) {
    // Older shells save a link to a program that runs in a DOS box as .pif.
    SwapLinkExtension(linkPath, ".pif");
    if (GetFileAttributesA(linkPath) == INVALID_FILE_ATTRIBUTES) SwapLinkExtension(linkPath, ".lnk");
  }
  return result;
}

// Appends a backslash and `name` to the path in `buffer` (PathSize bytes);
// 0 when the result would not fit.
static int Append(char* buffer, const char* name) {
  if (!AddBackslash(buffer, PathSize)) return 0;
  u32 length = (u32)strlen(buffer);
  return CopyText(buffer + length, name, PathSize - length) == strlen(name);
}

int CreateShortcut(const char* target, const char* folderSpec, const char* fileName,
                   const char* arguments, const char* iconPath, u32 iconIndex, u32 windowState,
                   FileHandle logFile) {
  const FolderSpec spec = SplitFolderSpec(folderSpec);
  const u8 depth = FolderDepth(spec.subfolder);
  char folder[PathSize];
  if (!GetShellFolder(folder, spec.desktop ? ShellFolderDesktop : ShellFolderPrograms)) return 0;
  if (spec.subfolder[0] && !Append(folder, spec.subfolder)) return 0;
  RemoveBackslash(folder);
  if (!SetCurrentDirectoryA(folder)) {
    char chain[PathSize];
    CopyText(chain, folder, sizeof chain);
    if (AddBackslash(chain, sizeof chain)) CreateFolderChain(chain);
    if (!SetCurrentDirectoryA(folder)) return 0;
  }
  char linkPath[PathSize];
  CopyText(linkPath, folder, sizeof linkPath);
  if (!Append(linkPath, fileName)) return 0;
  char saved[PathSize];
  if (CreateShellLink(saved, target, linkPath, arguments, iconPath, iconIndex, windowState) < 0)
    return 0;
  if (logFile == InvalidFile) return 1;
  char actual[PathSize];
  actual[0] = 0;
  if (IsWinNT6) ActualFolder(saved, linkPath, actual, sizeof actual);
  const char* name = strrchr(linkPath, '\\');
  u8 item[ShortcutItemMax];
  u32 length = BuildShortcutItem(item, depth, folder, actual, name ? name + 1 : linkPath);
  WriteExact(logFile, item, length);
  return 1;
}

// The arguments of a shortcut with their folder variables expanded, in a
// block of their exact size (released by the caller), or the text itself
// when no block can be had.
static char* ExpandedArguments(const char* text, char** block) {
  *block = nullptr;
  if (!text[0]) return (char*)text;
  u32 length = ExpandVariables(nullptr, text, ExpandLimit);
  if (!AllocBlock(length + 1, block)) return (char*)text;
  ExpandVariables(*block, text, length + 1);
  return *block;
}

// The icon file of a shortcut: empty for an empty icon string, otherwise
// the string below the installation folder (or, for a file that belongs in
// the source folder, below the folder of the program file). Icon strings
// are not expanded.
static void IconPath(const char* icon, u32 flags, char* path) {
  path[0] = 0;
  if (!icon[0]) return;
  if (flags & FileFlagSourceFolder) {
    CopyText(path, ProgramPath, PathSize);
    char* last = strrchr(path, '\\');
    if (last) *last = 0;
  } else {
    CopyText(path, InstallDir, PathSize);
  }
  if (!Append(path, icon)) path[0] = 0;
}

// The shortcuts of one kind for one entry; returns how many were recorded.
static u32 ShortcutsOfOneKind(const char* target, const char* specs, const char* name,
                         const char* arguments, const char* icon, u32 flags, u32 iconIndex,
                         u32 windowState, FileHandle logFile) {
  char* block;
  const char* expanded = ExpandedArguments(arguments, &block);
  char iconPath[PathSize];
  IconPath(icon, flags, iconPath);
  const FileHandle log = (flags & FileFlagNotLogged) ? InvalidFile : logFile;
  u32 recorded = 0;
  const char* next = specs;
  int first = 1, tooLong;
  char part[PathSize];
  while (NextFolderPart(&next, &first, part, sizeof part, &tooLong)) {
    if (tooLong) continue;
    if (CreateShortcut(target, part, name, expanded, iconPath, iconIndex, windowState, log) &&
        log != InvalidFile)
      ++recorded;
  }
  FreeBlock(&block);
  return recorded;
}

void CreateShortcuts(FileHandle logFile) {
  u32 count = 0, start = 0;
  int started = 0;
  u8* entry = FirstEntry();
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry)) {
    const u32 flags = ReadU32(entry + EntryFlags);
    if (!(flags & OsClass)) continue;
    const char* menuName = EntryString(entry, 2);
    const char* desktopName = EntryString(entry, 5);
    if (!menuName[0] && !desktopName[0]) continue;
    ResolveTargetPath(entry);
    // A target the engine refused (too long) gets no shortcut.
    char target[PathSize];
    target[0] = 0;
    if (strlen(TargetPath) < sizeof target) CopyText(target, TargetPath, sizeof target);
    if (logFile != InvalidFile && !started) {
      start = TellFile(logFile);
      u8 countWord[4] = {0, 0, 0, 0};
      WriteRecordHeader(logFile, LogShortcuts, 0, 0);
      WriteExact(logFile, countWord, 4);
      started = 1;
    }
    if (!target[0]) continue;
    const u32 options = ReadU32(entry + EntryOptions);
    if (menuName[0])
      count += ShortcutsOfOneKind(target, EntryString(entry, 1), menuName, EntryString(entry, 3),
                             EntryString(entry, 4), flags, ReadU16(entry + EntryIconIndex),
                             options & FileOptionStartMenuWindowMask, logFile);
    if (desktopName[0])
      count += ShortcutsOfOneKind(target, DesktopSpec, desktopName, EntryString(entry, 6),
                             EntryString(entry, 7), flags, 0,
                             (options >> FileOptionDesktopWindowShift) & FileOptionStartMenuWindowMask,
                             logFile);
  }
  if (!started) return;
  const u32 end = TellFile(logFile);
  SeekFile(logFile, start);
  WriteRecordHeader(logFile, LogShortcuts, 0, end - start - RecordHeaderSize);
  u8 countWord[4];
  WriteU32(countWord, count);
  WriteExact(logFile, countWord, 4);
  SeekFile(logFile, end);
}
