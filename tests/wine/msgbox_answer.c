/* Answers the message boxes of a test: waits for each box with the given
 * caption, writes its text to a file, and presses the given buttons in turn.
 *   msgbox_answer <caption> <ids> <text-file> [<copy-from> <copy-to>]
 * <ids> lists the buttons to press, comma-separated (1 OK, 2 Cancel, 6 Yes,
 * 7 No), one per box. With the two paths, the file is copied before the
 * first button is pressed (a disk that is "inserted" while the prompt shows).
 * Exit code: 0 when every box was answered, 1 when one did not appear within
 * 60 seconds. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static HWND FindBox(const char* caption, DWORD timeout) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND box = FindWindowA("#32770", caption);
    if (box && IsWindowVisible(box)) return box;
    if (GetTickCount() - start > timeout) return NULL;
    Sleep(20);
  }
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* ids = argv[2];
  FILE* log = fopen(argv[3], "wb");
  int first = 1;
  while (*ids) {
    int id = atoi(ids);
    while (*ids && *ids != ',') ++ids;
    if (*ids == ',') ++ids;
    HWND box = FindBox(argv[1], 60000);
    if (!box) {
      if (log) fclose(log);
      return 1;
    }
    Sleep(50);
    char text[1024] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    if (log) {
      fprintf(log, "%s\n", text);
      fflush(log);
    }
    if (first && argc >= 6) CopyFileA(argv[4], argv[5], FALSE);
    first = 0;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    while (IsWindow(box)) Sleep(20);
  }
  if (log) fclose(log);
  return 0;
}
