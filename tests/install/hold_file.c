/* Holds a file open from another process, the way a running program holds
 * its own files, until the test lets go.
 *   hold_file <path> <none|read|delete|load> <ready-file> <release-file> [<wait-for>]
 * Opens <path> for reading with no sharing, with read sharing, or with read
 * and delete sharing (as a virus scanner or an indexer does: others may
 * delete or rename the file while it is held), or loads it as a library (as
 * a running program holds its libraries: renaming is allowed, deleting is
 * not). Then it creates <ready-file> (holding "held" or "failed") and waits
 * until <release-file> exists, at most two minutes. With <wait-for>, it
 * first writes "waiting" to <ready-file> and waits (at most two minutes)
 * until that path exists, and takes hold at once when it does.
 * Exit code 0 when the file was held. */
#include <windows.h>

static void WriteMark(const char* path, const char* text) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(h, text, lstrlenA(text), &written, NULL);
  CloseHandle(h);
}

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  DWORD share = 0;
  if (lstrcmpiA(argv[2], "read") == 0) share = FILE_SHARE_READ;
  if (lstrcmpiA(argv[2], "delete") == 0) share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  int load = lstrcmpiA(argv[2], "load") == 0;
  if (argc > 5) {
    WriteMark(argv[3], "waiting");
    DWORD start = GetTickCount();
    while (GetFileAttributesA(argv[5]) == INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount() - start > 120000) {
        WriteMark(argv[3], "failed");
        return 1;
      }
      Sleep(1);
    }
  }
  HMODULE library = load ? LoadLibraryA(argv[1]) : NULL;
  HANDLE held = load ? INVALID_HANDLE_VALUE
                     : CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
  if (load ? library == NULL : held == INVALID_HANDLE_VALUE) {
    WriteMark(argv[3], "failed");
    return 1;
  }
  WriteMark(argv[3], "held");
  DWORD start = GetTickCount();
  while (GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES &&
         GetTickCount() - start < 120000)
    Sleep(20);
  if (library) FreeLibrary(library);
  else CloseHandle(held);
  return 0;
}
