// The file installation loop: preparing, and one file entry per call.
#include <windows.h>
#include <string.h>

#include "engine/data_source.h"
#include "engine/engine_os.h"
#include "engine/fonts.h"
#include "engine/install.h"
#include "engine/integration_seam.h"
#include "engine/overwrite.h"
#include "engine/restart.h"
#include "engine/temp_name.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "base/run_state.h"
#include "base/user_interface.h"

// The file cursor: the entry InstallNextFile takes next and the index of the
// entry it took last (-1 before the first).
static u8* Cursor;
static i32 CursorIndex = -1;

static u32 EntryFlagsOf(const u8* entry) { return ReadU32(entry + EntryFlags); }
static u16 StateOf(const u8* entry) { return ReadU16(entry + EntryState); }
static void SetState(u8* entry, u16 state) { WriteU16(entry + EntryState, state); }

// 1 when something exists at TargetPath. A file that another program holds
// open without sharing exists too: an install-only-if-absent file must not
// replace it.
static int TargetPresent() { return PathExists(TargetPath); }

// 1 when the existing file at `path` holds the entry's bytes, judged by size
// and checksum. A file that cannot be read, or has another size, differs.
static int SameAsEntry(const char* path, const u8* entry) {
  FileHandle file = OpenExisting(path, OpenRead);
  if (file == InvalidFile) return 0;
  int same = FileLength(file) == ReadU32(entry + EntrySize) &&
             FileChecksum(file) == ReadU32(entry + EntryChecksum);
  CloseFile(file);
  return same;
}

// 1 when the file ends with the end header of a completed uninstaller.
static int IsCompletedUninstaller(const char* path) {
  FileHandle file = OpenExisting(path, OpenRead);
  if (file == InvalidFile) return 0;
  int completed = 0;
  u32 length = FileLength(file);
  u8 header[RecordHeaderSize];
  if (length != 0xFFFFFFFFu && length >= RecordHeaderSize) {
    SeekFile(file, length - RecordHeaderSize);
    completed = ReadExact(file, header, RecordHeaderSize) == 0 &&
                ReadU16(header) == RecordEndOfTables &&
                (ReadU16(header + 2) & RecordCompletedLog) != 0;
  }
  CloseFile(file);
  return completed;
}

int PrepareInstallation() {
  DiscardKeptCopies();  // a table sized for this file list
  Cursor = FirstEntry();
  CursorIndex = -1;
  InstallResult = 0;
  VolumeNumber = 0;
  UninstallerPath[0] = 0;
  UninstallerFolder[0] = 0;
  if (!FolderChecked) {
    int result = PrepareInstallDir();
    if (result) {
      InstallResult = result;
      return 0;
    }
    if (CheckDiskSpace()) {
      InstallResult = CodeNoSpace;
      return 0;
    }
    FolderChecked = 1;
  }
  // Ask the version and language questions before anything is written.
  u8* entry = Cursor;
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry)) {
    u32 flags = EntryFlagsOf(entry);
    if ((flags & (FileFlagSourceFolder | FileFlagFolderEntry)) ||
        (StateOf(entry) & EntryStateUninstaller))
      continue;
    int inUse = ResolveTargetPath(entry);
    if (inUse == TargetTooLong || !TargetPath[0]) continue;
    if ((flags & FileFlagOnlyIfAbsent) && TargetPresent()) continue;
    if (inUse == 1 && SameAsEntry(TargetPath, entry)) continue;
    if ((flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) &&
        !KeepExistingByVersion(entry))
      WriteU32(entry + EntryFlags, flags | FileFlagOnlyIfAbsent);
  }
  CopyText(DataSourcePath, ProgramPath, PathSize);
  DataSource = OpenExisting(DataSourcePath, OpenRead);
  ForgetReadAhead();
  u8 word[4];
  if (DataSource != InvalidFile &&
      (SeekFile(DataSource, DataAreaOffset) != DataAreaOffset || ReadExact(DataSource, word, 4))) {
    CloseFile(DataSource);
    DataSource = InvalidFile;
  }
  if (DataSource == InvalidFile) {
    InstallResult = CodeNoDataSource;
    SetErrorDetail(DataSourcePath);
    return 0;
  }
  // Positioned at the first data byte, in volume 0.
  VolumeLength = VolumeBytesLeft = ReadU32(word);
  VolumeBase = 0;
  EngineBusy = 1;
  return 1;
}

// The user left during a decompression (Cancel, or the pump saw WM_QUIT).
// The installation counts as abandoned so that nothing of it is registered.
static void NoteCancel() {
  if (InstallResult == 0) InstallResult = CodeAbandoned;
}

static void SetFileTimes(FileHandle file, const u8* entry) {
  u32 at = EntryFixedSize;
  if (EntryFlagsOf(entry) & (FileFlagCompareVersion | FileFlagCompareLanguage))
    at += EntryVersionBlockSize;
  FILETIME times[3];
  memcpy(times, entry + at, sizeof times);
  SetFileTime((HANDLE)file, &times[0], &times[1], &times[2]);
}

// Creates the copy where no file of that name stands, with write access, no
// sharing, and the right to rename it: the finished copy is put in place
// through this handle. Where that right is not granted, it is created
// without it and put in place by name.
static FileHandle CreateCopy(const char* path, int* exists) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  *exists = file == INVALID_HANDLE_VALUE &&
            (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
  if (file == INVALID_HANDLE_VALUE && !*exists) return CreateNew(path, exists);
  return file;
}

// FILE_RENAME_INFO with room for a whole target path.
struct RenameRequest {
  DWORD replaceIfExists;
  HANDLE rootDirectory;
  DWORD nameBytes;
  WCHAR name[TargetPathSize];
};
typedef BOOL(WINAPI* SetFileInfoFn)(HANDLE, int, void*, DWORD);
static const int FileRenameInfoClass = 3;

// Renames the finished copy, still open through `copy`, to TargetPath where
// no file or folder of that name stands. Through the handle it is one
// request; by name the copy would be opened, renamed and closed again. 1
// when the copy is in place; 0 when it is not (the name is taken, or this
// Windows has no rename through a handle), and the copy is untouched.
static int RenameOpenCopy(FileHandle copy) {
  static SetFileInfoFn setFileInfo;
  static int looked;
  if (!looked) {
    looked = 1;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel) setFileInfo = (SetFileInfoFn)(void*)GetProcAddress(kernel, "SetFileInformationByHandle");
  }
  if (!setFileInfo) return 0;
  RenameRequest request;
  int length = MultiByteToWideChar(CP_ACP, 0, TargetPath, -1, request.name, TargetPathSize);
  if (length <= 1) return 0;
  request.replaceIfExists = FALSE;
  request.rootDirectory = nullptr;
  request.nameBytes = (DWORD)(length - 1) * sizeof(WCHAR);
  return setFileInfo((HANDLE)copy, FileRenameInfoClass, &request, sizeof request) ? 1 : 0;
}

static void AddReadOnly(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(path, attributes | FILE_ATTRIBUTE_READONLY);
}

// Decompresses the entry's data into `output`. 1 on success; 0 stops the run
// (InstallResult set unless the user cancelled).
static int WriteData(FileHandle output, const u8* entry, u32* written, u32* checksum) {
  const char* name = EntryString(entry, 0);
  u32 packed = ReadU32(entry + EntryPackedSize);
  int status = InflateOk;
  if (written) *written = 0;
  if (checksum) *checksum = 0;
  // An empty stream reads nothing, so it needs no volume either.
  if (packed) {
    int seek = SeekFileData(ReadU32(entry + EntryDataOffset));
    if (seek) {
      InstallResult = seek;
      if (seek == CodeReadError) SetErrorDetail(name);
      return 0;
    }
    status = InflateToFile(output, &DataSource, packed, written, checksum);
  }
  if (PageResult == PageResultCancel) {
    NoteCancel();
    return 0;
  }
  if (status != InflateOk) {
    InstallResult = MapInflateError(status, name);
    return 0;
  }
  return 1;
}

// floor(part * 100 / whole) for part <= whole, exact in 32-bit arithmetic:
// the 32-bit program would otherwise divide 64-bit numbers with the compiler's
// runtime routines (about 1.3 KB of the program file). Each step keeps
// i * part = q * whole + r with r < whole.
static u32 PercentOf(u32 part, u32 whole) {
  u32 q = 0, r = 0;
  for (int i = 0; i < 100; ++i) {
    if (r >= whole - part) {
      r -= whole - part;
      ++q;
    } else {
      r += part;
    }
  }
  return q;
}

int InstallNextFile() {
  TempPath[0] = 0;
  int result = 0;
  FileHandle output = InvalidFile;
  u8* entry = nullptr;
  u32 index = 0;
  int inUse = 0, isUninstaller = 0;
  for (;;) {
    ++CursorIndex;
    if (CursorIndex < 0 || (u32)CursorIndex >= FileCount || !Cursor) goto end;
    entry = Cursor;
    index = (u32)CursorIndex;
    Cursor = NextEntry(entry);
    isUninstaller = (StateOf(entry) & EntryStateUninstaller) != 0;
    SetState(entry, StateNone);
    inUse = ResolveTargetPath(entry);
    if (inUse == TargetTooLong) {
      InstallResult = CodeCannotCreate;  // ErrorDetail holds the path's start
      goto end;
    }
    if (!TargetPath[0]) continue;
    if (isUninstaller) {
      // Without the uninstaller program there is no uninstaller to write.
      if (!UninstallerImage || !UninstallerLength) goto progress;
      CopyText(UninstallerPath, TargetPath, PathSize);
      CopyText(UninstallerFolder, TargetPath, PathSize);
      char* last = strrchr(UninstallerFolder, '\\');
      if (last) last[1] = 0;
      else UninstallerFolder[0] = 0;
      u16 groupFlags = ReadU16(CurrentGroupRecord.data + GroupFlags);
      if ((groupFlags & GroupFlagAppendUninstaller) && IsCompletedUninstaller(TargetPath))
        continue;
    }
    break;
  }
  {
    const u32 flags = EntryFlagsOf(entry);
    const u32 options = ReadU32(entry + EntryOptions);
    const u32 kind = ReadU32(entry + EntryDestination);
    if ((flags & FileFlagSourceFolder) || !(flags & OsClass)) goto progress;
    if (flags & FileFlagFolderEntry) {
      CreateFolderChain(TargetPath);
      goto progress;
    }
    // Keep or write.
    InstallResult = 0;
    int keep = 0;
    if ((flags & FileFlagOnlyIfAbsent) && TargetPresent()) keep = 1;
    else if (inUse && SameAsEntry(TargetPath, entry)) keep = 1;
    if (keep) {
      SetState(entry, StateKept);
      goto done;
    }

    if (*GetText(5, 2)) ShowCurrentFile(TargetPath);
    CreateFolderChain(TargetPath);
    if (!FirstTempName(TempPath, TargetPath)) {
      InstallResult = CodeCannotCreate;
      SetErrorDetail(TargetPath);
      goto end;
    }
    // Files named like the copy are never touched: the copy is created only
    // where no file stands, and the next name is tried where one does (when
    // the names run out, it cannot be created).
    for (int exists = 0;;) {
      output = CreateCopy(TempPath, &exists);
      if (output != InvalidFile || !exists || !NextTempName(TempPath)) break;
    }
    if (output == InvalidFile) {
      InstallResult = CodeCannotCreate;
      SetErrorDetail(TempPath);
      TempPath[0] = 0;
      goto end;
    }
    if (isUninstaller) {
      if (WriteExact(output, UninstallerImage, UninstallerLength)) {
        InstallResult = CodeWriteError;
        SetErrorDetail(EntryString(entry, 0));
        goto end;
      }
      // The packaged start of the log follows the program, uncounted.
      if (!WriteData(output, entry, nullptr, nullptr)) goto end;
    } else {
      u32 written = 0, checksum = 0;
      if (!WriteData(output, entry, &written, &checksum)) goto end;
      if (flags & FileFlagTimes) SetFileTimes(output, entry);
      if ((written != ReadU32(entry + EntrySize) || checksum != ReadU32(entry + EntryChecksum)) &&
          !ConfirmDataError())
        goto end;
    }
    // The copy is complete. Where nothing stands at the target (the usual
    // case), it goes into place through its own handle; otherwise it is
    // closed and the rules for existing files decide.
    const int deferred = kind == DestSystem || (flags & FileFlagSelfRegister);
    const int ordinary = !deferred && !inUse && kind != DestFonts;
    const int placed = ordinary && RenameOpenCopy(output);
    CloseFile(output);
    output = InvalidFile;
    // An existing font leaves the system before its file is replaced; only
    // then does it show whether the file is still in use.
    if (kind == DestFonts && PathExists(TargetPath)) {
      RemoveFont(TargetPath);
      inUse = FileInUse(TargetPath);
    }

    if (placed) {
      SetState(entry, StateNew);
    } else if (deferred) {
      if (!SetKeptCopy(index, TempPath)) {
        InstallResult = CodeNoMemory;
        SetErrorDetail(EntryString(entry, 0));
        goto end;
      }
      SetState(entry, StateDeferred);
    } else if (inUse) {
      if (ReplaceAtRestart(TargetPath, TempPath)) {
        RestartState = 1;
        SetState(entry, StateAtRestart);
      } else {
        SetState(entry, StateDenied);
      }
    } else if (ordinary) {
      ReplaceExistingTarget(entry, TempPath);  // the rename above was refused
    } else {
      ReplaceTarget(entry, TempPath);
    }
    if (StateOf(entry) == StateDenied) {
      InstallResult = CodeAccessDenied;
      SetErrorDetail(TargetPath);
      goto end;
    }
    if (!deferred && (options & FileOptionReadOnly))
      AddReadOnly(StateOf(entry) == StateAtRestart ? TempPath : TargetPath);
  }
done:
  {
    // The copy is in place, scheduled or kept back: it must not be deleted.
    TempPath[0] = 0;
    if (isUninstaller) SetState(entry, StateNone);
    const u32 flags = EntryFlagsOf(entry);
    const u32 kind = ReadU32(entry + EntryDestination);
    const u16 state = StateOf(entry);
    const int placed = state == StateReplaced || state == StateNew || state == StateAtRestart;
    if (kind != DestInstallDir && (flags & FileFlagShared) && (placed || state == StateKept))
      IncrementSharedCount();
    if (kind == DestFonts && (state == StateReplaced || state == StateNew)) InstallFont(TargetPath);
    // Deferred components are registered when they are committed; a kept
    // one only with /F.
    if ((flags & FileFlagSelfRegister) && (placed || (RegisterKeptFiles && state == StateKept)))
      RegisterComponent(entry, nullptr);
    if (flags & FileFlagScreenSaver) ScreenSaverEntry = entry;
  }
progress:
  ShowProgress(PercentOf(index + 1, FileCount));
  result = 1;
end:
  if (output != InvalidFile) CloseFile(output);
  if (result == 0 && TempPath[0]) {
    SetFileAttributesA(TempPath, FILE_ATTRIBUTE_NORMAL);
    RemoveFile(TempPath);
  }
  return result;
}
