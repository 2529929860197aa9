/* Holds a file open from another process, the way a running program holds
 * its own files, until the test lets go.
 *   hold_file <path> <none|read> <ready-file> <release-file> [<wait-for>]
 * Opens <path> for reading with no sharing or with read sharing, then creates
 * <ready-file> (holding "held" or "failed") and waits until <release-file>
 * exists, at most two minutes. With <wait-for>, it first writes "waiting" to
 * <ready-file> and waits (at most two minutes) until that path exists, and
 * takes hold at once when it does.
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
  DWORD share = lstrcmpiA(argv[2], "read") == 0 ? FILE_SHARE_READ : 0;
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
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (held == INVALID_HANDLE_VALUE) {
    WriteMark(argv[3], "failed");
    return 1;
  }
  WriteMark(argv[3], "held");
  DWORD start = GetTickCount();
  while (GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES &&
         GetTickCount() - start < 120000)
    Sleep(20);
  CloseHandle(held);
  return 0;
}
