/* Loads the library named on its command line the ordinary way, with the
   default search order: exit code 0 when it loaded. The start-up tests use it
   to show that a library placed beside a program is found. */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  return LoadLibraryA(argv[1]) ? 0 : 1;
}
