/* The demo program: a console program that prints one line. */
#include <windows.h>

int main(void) {
  static const char line[] = "Hello from the setrun demo.\r\n";
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, NULL);
  return 0;
}
