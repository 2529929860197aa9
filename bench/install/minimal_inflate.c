/* Baseline of the installation benchmark: the least a program must do to
 * install the files of a package. It reads a list of streams (file offset,
 * packed size, size, name) made from `setrunc inspect`, inflates each stream
 * of the installer with zlib and writes the file under an output folder,
 * creating folders on the way. No checks, no temporary copies, no registry.
 *   minimal_inflate <setup.exe> <list> <output-folder>
 * Exit code 0 when every file was written. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#define CHUNK 65536

static unsigned char in[CHUNK], out[CHUNK];

static void CreateFolders(char* path) {
  for (char* p = path + 3; *p; ++p) {
    if (*p != '\\') continue;
    *p = 0;
    CreateDirectoryA(path, NULL);
    *p = '\\';
  }
}

static int Inflate(HANDLE from, unsigned long long at, unsigned long packed, HANDLE to) {
  LARGE_INTEGER pos;
  pos.QuadPart = (LONGLONG)at;
  if (!SetFilePointerEx(from, pos, NULL, FILE_BEGIN)) return 0;
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return 0;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      DWORD want = packed < CHUNK ? packed : CHUNK, got = 0;
      if (want == 0 || !ReadFile(from, in, want, &got, NULL) || got != want) break;
      packed -= got;
      z.next_in = in;
      z.avail_in = got;
    }
    z.next_out = out;
    z.avail_out = CHUNK;
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) break;
    DWORD n = CHUNK - z.avail_out, written;
    if (n && (!WriteFile(to, out, n, &written, NULL) || written != n)) break;
  }
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  HANDLE from = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  FILE* list = fopen(argv[2], "r");
  if (from == INVALID_HANDLE_VALUE || !list) return 1;
  char line[1024], path[MAX_PATH + 1];
  int failed = 0;
  while (fgets(line, sizeof line, list)) {
    unsigned long long at;
    unsigned long packed, size;
    int used = 0;
    if (sscanf(line, "%llu %lu %lu %n", &at, &packed, &size, &used) < 3) continue;
    char* name = line + used;
    name[strcspn(name, "\r\n")] = 0;
    if (snprintf(path, sizeof path, "%s\\%s", argv[3], name) >= (int)sizeof path) return 1;
    CreateFolders(path);
    HANDLE to = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (to == INVALID_HANDLE_VALUE) return 1;
    if (packed && !Inflate(from, at, packed, to)) failed = 1;
    CloseHandle(to);
  }
  fclose(list);
  CloseHandle(from);
  return failed;
}
