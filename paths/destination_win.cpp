// Destination paths, folders and free space on Windows.
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <winver.h>

#include "package/tables.h"
#include "paths/destination.h"
#include "paths/path_text.h"
#include "paths/variables.h"
#include "base/run_state.h"
#include "base/system_library.h"
#include "base/user_interface.h"

namespace {

typedef DWORD(WINAPI* VerFindFileProc)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT, LPSTR, PUINT);
typedef BOOL(WINAPI* FreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// Kind 2: the folder the version library recommends for a shared file, in
// TargetPath (which holds the installation folder on entry). Returns 1 when
// the library reports the file in use.
int SharedFileFolder(const char* baseName) {
  char* work = nullptr;
  if (!AllocZeroed(3 * PathSize, &work)) {
    GetSystemDirectoryA(TargetPath, PathSize);
    return 0;
  }
  char* recommended = work;
  char* current = work + PathSize;
  char* windows = work + 2 * PathSize;
  RemoveBackslash(TargetPath);
  GetWindowsDirectoryA(windows, PathSize);
  int inUse = 0;
  // Loaded from the system folder by its full path, never from the folder
  // the setup program runs from.
  HMODULE library = (HMODULE)LoadSystemLibrary("version.dll");
  if (library) {
    VerFindFileProc find = (VerFindFileProc)LibraryFunction(library, "VerFindFileA");
    if (find) {
      UINT currentLength = PathSize, recommendedLength = PathSize;
      DWORD result = find(VFFF_ISSHAREDFILE, baseName, windows, TargetPath, current,
                          &currentLength, recommended, &recommendedLength);
      inUse = (result & VFF_FILEINUSE) ? 1 : 0;
    }
    FreeLibrary(library);
  }
  recommended[PathSize - 1] = 0;
  if (recommended[0])
    CopyText(TargetPath, recommended, PathSize);
  else
    GetSystemDirectoryA(TargetPath, PathSize);
  FreeBlock(&work);
  return inUse;
}

// A destination too long for the file calls: nothing may be written to a
// cut path, so TargetPath is emptied and the start of the path is kept for
// the failure text.
int RefuseTarget(const char* name) {
  if (ErrorDetail) {
    u32 length = CopyText(ErrorDetail, TargetPath, PathSize);
    if (length && length + 1 < PathSize && TargetPath[length - 1] != '\\')
      ErrorDetail[length++] = '\\', ErrorDetail[length] = 0;
    CopyText(ErrorDetail + length, name, PathSize - length);
  }
  TargetPath[0] = 0;
  return TargetTooLong;
}

// Enters a folder, creating it first when it cannot be entered.
int EnterOrCreate(const char* folder) {
  if (SetCurrentDirectoryA(folder)) return 1;
  return CreateDirectoryA(folder, nullptr) && SetCurrentDirectoryA(folder);
}

GroupTables* CurrentTables() {
  if (CurrentGroup < 0 || (u32)CurrentGroup >= GroupCount) return nullptr;
  return &Groups[CurrentGroup];
}

// Set by PrepareInstallDir when it has just created the installation
// folder, for the space check that follows it (and only that one): that
// check takes every target inside the folder for a new file without
// looking, since nothing of this installation stands there yet. Should
// another program put a file there meanwhile, the check counts that file
// in full instead of its growth, asking for more space rather than less;
// the installation itself never relies on the guess (the copy is created
// only where no file stands, and renamed only onto a free name).
char CreatedInstallDir[PathSize];

// 1 when `path` lies inside the installation folder that PrepareInstallDir
// has just created (and InstallDir still names it).
int InsideCreatedInstallDir(const char* path) {
  size_t length = strlen(CreatedInstallDir);
  return length > 3 && CreatedInstallDir[length - 1] == '\\' &&
         strcmp(CreatedInstallDir, InstallDir) == 0 && strncmp(path, InstallDir, length) == 0;
}

int LookUpTarget(const u8* entry, ExistingTarget* target) {
  if (ResolveTargetPath(entry) == TargetTooLong || !TargetPath[0]) return 0;
  if (InsideCreatedInstallDir(TargetPath)) return 1;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(TargetPath, &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    target->found = 1;
    target->size = found.nFileSizeLow;
    target->readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 1 : 0;
  }
  return 1;
}

}  // namespace

int ResolveTargetPath(const u8* entry) {
  CopyText(TargetPath, InstallDir, TargetPathSize);
  const char* name = EntryString(entry, 0);
  if (ReadU32(entry + EntryFlags) & FileFlagSourceFolder) {
    // The file lies beside the program file and is not copied.
    CopyText(TargetPath, ProgramPath, TargetPathSize);
    char* slash = strrchr(TargetPath, '\\');
    if (slash)
      slash[1] = 0;
    else
      TargetPath[0] = 0;
    return AppendName(TargetPath, name) ? 0 : RefuseTarget(name);
  }
  const char* appended = BaseName(name);
  int inUse = 0, testInUse = 0;
  switch (ReadU32(entry + EntryDestination)) {
    case DestInstallDir:
      appended = name;
      break;
    case DestWindows:
      GetWindowsDirectoryA(TargetPath, PathSize);
      break;
    case DestSystem:
      inUse = SharedFileFolder(appended);
      testInUse = !inUse;
      break;
    case DestFonts:
      GetShellFolder(TargetPath, CSIDL_FONTS);
      testInUse = 1;
      break;
    case DestDesktop:
      GetShellFolder(TargetPath, CSIDL_DESKTOPDIRECTORY);
      break;
    case DestCustom:
      // An empty folder leaves the bare name, relative to the current folder.
      if (ExpandVariables(TargetPath, EntryString(entry, EntryCustomFolderString), PathSize) >=
          PathSize)
        return RefuseTarget(appended);
      break;
    case DestDocuments:
      GetShellFolder(TargetPath, CSIDL_PERSONAL);
      appended = name;
      break;
    case DestAppData:
      GetShellFolder(TargetPath, CSIDL_APPDATA);
      appended = name;
      break;
    default:
      break;
  }
  if (!AppendName(TargetPath, appended)) return RefuseTarget(appended);
  if (testInUse) inUse = FileInUse(TargetPath);
  return inUse;
}

int FileInUse(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    // Absent, unless the file is there but may not even be looked at.
    return GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) return 1;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const int inUse = file == INVALID_HANDLE_VALUE ? 1 : 0;
  if (!inUse) CloseHandle(file);
  if (readOnly) SetFileAttributesA(path, attributes);
  return inUse;
}

int MakeFullPath(char* path, u32 size) {
  char full[FilePathLimit];
  // The answer counts the terminator only when the path does not fit.
  DWORD length = path[0] ? GetFullPathNameA(path, sizeof full, full, nullptr) : 0;
  if (length == 0 || length >= sizeof full || length >= size) {
    if (size) path[0] = 0;
    return 0;
  }
  CopyText(path, full, size);
  return 1;
}

// The length of the current folder with its backslash when `folder` (a full
// path ending in a backslash) is that folder or lies inside it, else 0. The
// current folder is known without a file-system call and, being held open
// by the process, cannot have been removed: it and every folder above it
// exist.
static u32 CurrentFolderPart(const char* folder) {
  char current[PathSize];
  DWORD length = GetCurrentDirectoryA(PathSize, current);
  if (length == 0 || length >= PathSize - 1) return 0;
  length = AddBackslash(current, PathSize) ? (DWORD)strlen(current) : 0;
  return length && strncmp(current, folder, length) == 0 ? length : 0;
}

int CreateFolderChain(const char* path) {
  u32 length = (u32)strlen(path);
  char* copy = nullptr;
  char* folder = nullptr;
  if (!AllocBlock(length + 4, &copy) || !AllocZeroed(PathSize, &folder)) {
    FreeBlock(&copy);
    return -1;
  }
  memcpy(copy, path, length + 1);
  // Whatever follows the last backslash (a file name, or a last folder name
  // without its backslash) is not created; a path without any backslash is
  // a bare file name and needs no folder.
  int result = 0;
  char* last = strrchr(copy, '\\');
  if (last) {
    last[1] = 0;
    // Entering each folder moves the current folder along, so the walk
    // needs the full path from the start.
    char full[PathSize];
    DWORD fullLength = GetFullPathNameA(copy, PathSize, full, nullptr);
    if (fullLength == 0 || fullLength >= PathSize) {
      result = 1;
    } else if (CurrentFolderPart(full) == fullLength || SetCurrentDirectoryA(full)) {
      // The whole chain exists: entering its last folder is the walk's end
      // state, reached with one lookup instead of one per folder, or none
      // when the files before were made in the same folder.
    } else {
      u32 start = FolderWalkStart(full);
      // The folders down to the current one exist: the walk goes on from
      // there (a subfolder of the folder the files before went to).
      u32 known = CurrentFolderPart(full);
      const char* next = known > start + 1 ? strchr(full + known, '\\') : nullptr;
      if (next) start = (u32)(next - full);
      if (!full[start]) {
        // A drive root or share alone.
        CopyText(folder, full, PathSize);
        RemoveBackslash(folder);
        if (!EnterOrCreate(folder)) result = 1;
      }
      for (const char* slash = full[start] ? full + start : nullptr; slash;
           slash = strchr(slash + 1, '\\')) {
        u32 end = (u32)(slash - full);
        memcpy(folder, full, end);
        folder[end] = 0;
        if (!EnterOrCreate(folder)) {
          result = 1;
          break;
        }
      }
    }
  }
  FreeBlock(&copy);
  FreeBlock(&folder);
  return result;
}

int64_t GetFreeSpaceKB(const char* path, u32* clusterKB) {
  if (clusterKB) *clusterKB = 1;
  if (!path || !path[0]) return -1;
  char root[PathSize];
  CopyText(root, path, PathSize);
  DriveRoot(root, PathSize);
  const bool network = root[0] == '\\' && root[1] == '\\';

  int64_t result = -1;
  // Kernel32 is loaded in every process: no reference to take or drop.
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  if (kernel) {
    FreeSpaceExProc freeSpaceEx =
        (FreeSpaceExProc)(void*)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
    if (freeSpaceEx) {
      char query[PathSize];
      CopyText(query, root, PathSize);
      if (network)
        AddBackslash(query, PathSize);
      else
        RemoveBackslash(query);
      ULARGE_INTEGER available, total, totalFree;
      if (freeSpaceEx(query, &available, &total, &totalFree))
        result = FreeKBFromBytes(available.HighPart, available.LowPart);
    }
  }
  if (result != -1 && !clusterKB) return result;

  // The cluster size, and the free space where the call above is missing.
  if (!network && root[0] && root[1] == ':') {
    root[2] = '\\';
    root[3] = 0;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    return result;
  u32 clusterBytes = (u32)(sectorsPerCluster * bytesPerSector);
  if (result == -1) result = FreeKBFromClusters(clusterBytes, freeClusters);
  if (clusterKB) *clusterKB = ClusterKBFromBytes(clusterBytes);
  return result;
}

int CheckDiskSpace() {
  u32 clusterKB = 1;
  int64_t freeKB = GetFreeSpaceKB(InstallDir, &clusterKB);
  GroupTables* group = CurrentTables();
  if (!group) {
    ReadOnlyWarning = 0;
    CreatedInstallDir[0] = 0;
    return 0;
  }
  u16 groupFlags = (group->record && group->recordLength >= 2) ? ReadU16(group->record) : 0;
  int result = CountGroupSpace(group->fileList, group->fileListLength, groupFlags, freeKB, clusterKB,
                               LookUpTarget, &ReadOnlyWarning);
  CreatedInstallDir[0] = 0;
  return result;
}

int SpaceFigures(u32* freeMB, u32* neededMB) {
  u32 clusterKB = 1;
  int64_t freeKB = GetFreeSpaceKB(InstallDir, &clusterKB);
  int tooLarge = 0;
  if (freeKB == -2) {
    *freeMB = 4194304;
    tooLarge = 1;
  } else {
    if (freeKB < 0) freeKB = 0;
    *freeMB = (u32)((freeKB + 1023) >> 10);
  }
  GroupTables* group = CurrentTables();
  uint64_t total = group ? RoundedListSize(group->fileList, group->fileListLength, clusterKB) : 0;
  uint64_t megabytes = (total + 1048575) >> 20;
  *neededMB = megabytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : (u32)megabytes;
  return tooLarge;
}

int PrepareInstallDir() {
  RemoveBackslash(InstallDir);
  if (!InstallDir[0]) return 5;
  DWORD length = GetFullPathNameA(InstallDir, PathSize, TargetPath, nullptr);
  // The engine appends a backslash and names to the folder: one that leaves
  // no room for them cannot be used.
  if (length >= PathSize - 1) return 5;
  if (length && TargetPath[0]) CopyText(InstallDir, TargetPath, PathSize);
  if (strlen(InstallDir) >= PathSize - 1) return 5;
  CreatedInstallDir[0] = 0;
  if (SetCurrentDirectoryA(InstallDir)) {
    AddBackslash(InstallDir, PathSize);
    return 0;
  }
  const char* question = GetText(7, 6);
  if (!SilentMode && question[0] && ShowMessage(question, StyleQuestion) != AnswerYes) return -1;
  AddBackslash(InstallDir, PathSize);
  if (ForcedPageMode) return 0;
  CreateFolderChain(InstallDir);
  RemoveBackslash(InstallDir);
  if (!SetCurrentDirectoryA(InstallDir)) return 5;
  AddBackslash(InstallDir, PathSize);
  CopyText(CreatedInstallDir, InstallDir, PathSize);
  return 0;
}
