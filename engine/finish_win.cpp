// The finishing step: the uninstaller's log, the shortcuts, the Uninstall
// entry and the install-folder records.
#include <windows.h>
#include <string.h>

#include "engine/data_source.h"
#include "engine/install.h"
#include "engine/integration_seam.h"
#include "engine/run_entries.h"
#include "engine/run_once.h"
#include "engine/uninstall_log.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "paths/path_text.h"
#include "paths/variables.h"
#include "base/run_state.h"

void (*MoveToFinishPage)();

static const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

static u16 CurrentGroupFlags() {
  return CurrentGroupRecord.data ? ReadU16(CurrentGroupRecord.data + GroupFlags) : 0;
}

static const char* GroupText(u32 field) {
  const char* text = RecordText(CurrentGroupRecord, field);
  return text && *text ? text : nullptr;
}

// Writes the file log record over the end header that closes the file: the
// packaged start of the log, or the log of an earlier installation that this
// one is appended to.
static void WriteFileLog(FileHandle file) {
  u32 end = SeekFromEnd(file, 0);
  if (end == 0xFFFFFFFFu) return;
  u8 header[RecordHeaderSize];
  int endsWithHeader = 0;
  if (end >= RecordHeaderSize) {
    SeekFile(file, end - RecordHeaderSize);
    endsWithHeader = ReadExact(file, header, RecordHeaderSize) == 0 &&
                     ReadU16(header) == RecordEndOfTables;
    SeekFile(file, end);
  }
  // A file without an end header keeps all its bytes: the record goes behind
  // them.
  if (!endsWithHeader) {
    memset(header, 0, sizeof header);
    if (WriteExact(file, header, RecordHeaderSize)) return;
    end += RecordHeaderSize;
  }
  const u32 start = end;  // B: the count and the entries start here
  u8 word[4];
  WriteU32(word, 0);
  if (WriteExact(file, word, 4)) return;
  AddBackslash(InstallDir, PathSize);
  u32 count = 0;
  u8* entry = FirstEntry();
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry)) {
    ResolveTargetPath(entry);
    if (!TargetPath[0]) continue;
    u32 flags = ReadU32(entry + EntryFlags);
    if (flags & FileFlagFolderEntry) {
      WriteLogFile(file, 0);
      ++count;
    } else if (IsLoggedState(ReadU16(entry + EntryState)) && !(flags & FileFlagNotLogged)) {
      WriteLogFile(file, LogFlagsFor(entry));
      ++count;
    }
  }
  u32 finish = TellFile(file);
  SeekFile(file, start - RecordHeaderSize);
  WriteRecordHeader(file, LogFiles, 0, finish - start);
  WriteU32(word, count);
  WriteExact(file, word, 4);
  SeekFile(file, finish);
}

static void SetString(HKEY key, const char* name, const char* value) {
  RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
}

// A value the package asks for in the Uninstall entry: texts with folder
// variables expanded ("#InstallDir#\Uninstall.exe" for the icon).
static void SetUninstallValue(void* key, u32 type, const char* name, const char* text, u32 number) {
  if (type == REG_DWORD) {
    DWORD value = number;
    RegSetValueExA((HKEY)key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    return;
  }
  char expanded[2 * PathSize];
  ExpandVariables(expanded, text, sizeof expanded);
  // "#InstallDir#\name": a folder that ends in a backslash (a drive root)
  // gives two; one is dropped (not at the start of a network path).
  char* to = expanded;
  char previous = 0;
  for (const char* from = expanded; *from; previous = *from++)
    if (!(from > expanded + 1 && *from == '\\' && previous == '\\')) *to++ = *from;
  *to = 0;
  SetString((HKEY)key, name, expanded);
}

static void WriteUninstallEntry() {
  const char* name = GroupText(GroupDisplayName);
  if (!name || !(CurrentGroupFlags() & GroupFlagUninstallEntry)) return;
  char key[sizeof UninstallKey + PathSize];
  u32 at = CopyText(key, UninstallKey, sizeof key);
  if (strlen(name) >= sizeof key - at) return;  // no registry key is that long
  CopyText(key + at, name, sizeof key - at);
  // For the machine, or for its user when the machine's key cannot be
  // written; a per-user installation registers with its user only.
  HKEY handle;
  if (!CreateMachineOrUserKey(key, PerUserInstall, &handle)) return;
  SetString(handle, "DisplayName", name);
  SetString(handle, "UninstallString", UninstallerPath);
  const GroupTables& group = Groups[CurrentGroup];
  ForEachUninstallValue(group.registryEntries, group.registryLength, SetUninstallValue, handle);
  RegCloseKey(handle);
}

static void CompleteUninstaller() {
  FileHandle file = OpenExisting(UninstallerPath, OpenReadWrite);
  if (file != InvalidFile) WriteFileLog(file);
  // The shortcuts are created either way; without the file nothing of them
  // is recorded.
  MakeShortcuts(file);
  WriteUninstallEntry();
  if (file == InvalidFile) return;
  const GroupTables& group = Groups[CurrentGroup];
  if (group.registryEntries && group.registryLength)
    WriteExact(file, group.registryEntries, group.registryLength);
  WriteRecordHeader(file, RecordEndOfTables, RecordCompletedLog, 0);
  CloseFile(file);
}

static void RecordInstallFolder() {
  RemoveBackslash(InstallDir);
  const u16 flags = CurrentGroupFlags();
  const char* keyPath = GroupText(GroupRegistryKey);
  if ((flags & GroupFlagFolderToRegistry) && keyPath) {
    HKEY key;
    if (RegCreateKeyA((HKEY)GroupRegistryRootKey(CurrentGroupRecord), keyPath, &key) ==
        ERROR_SUCCESS) {
      SetString(key, RecordText(CurrentGroupRecord, GroupRegistryValue), InstallDir);
      RegCloseKey(key);
    }
  }
  const char* file = GroupText(GroupIniFile);
  const char* section = GroupText(GroupIniSection);
  const char* iniKey = GroupText(GroupIniKey);
  if ((flags & GroupFlagFolderToIni) && file && section && iniKey) {
    WritePrivateProfileStringA(section, iniKey, InstallDir, file);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
  }
  AddBackslash(InstallDir, PathSize);
}

void FinishInstallation() {
  // After an abort the busy flag is clear: nothing of that installation is
  // committed or registered, whatever the result says.
  if (!EngineBusy && InstallResult == 0) InstallResult = CodeAbandoned;
  if (InstallResult == 0) CommitDeferredEntries();
  DiscardKeptCopies();
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
  if (InstallResult == 0 && CurrentGroup >= 0 && CurrentGroupRecord.data) {
    // Without an uninstaller there is no log, but still the shortcuts.
    if (UninstallerPath[0]) CompleteUninstaller();
    else MakeShortcuts(InvalidFile);
    if (!ForcedPageMode) RecordInstallFolder();
    // The programs and documents of the end of the file phase.
    RunEntries(RunPhaseValue(1), RunKindAll, 1);
  }
  // After a Cancel (the installing page's, or the pump's quit) the page
  // result stays the Cancel's: the wizard ends instead of moving on.
  if (ForcedPage == 0xFFFF && PageResult != PageResultCancel && MoveToFinishPage)
    MoveToFinishPage();
  EngineBusy = 0;
}
