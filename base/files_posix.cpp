// Native build of the file and memory primitives, for unit tests, fuzzing and
// benchmarks of the portable code.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/files.h"

static int Fd(FileHandle file) { return (int)(intptr_t)file; }

FileHandle OpenExisting(const char* path, int mode) {
  int flags = mode == OpenWrite ? O_WRONLY : mode == OpenReadWrite ? O_RDWR : O_RDONLY;
  int fd = open(path, flags);
  return fd < 0 ? InvalidFile : (FileHandle)(intptr_t)fd;
}

FileHandle CreateAlways(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return fd < 0 ? InvalidFile : (FileHandle)(intptr_t)fd;
}

FileHandle CreateNew(const char* path, int* exists) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  *exists = fd < 0 && errno == EEXIST;
  return fd < 0 ? InvalidFile : (FileHandle)(intptr_t)fd;
}

int ReadExact(FileHandle file, void* buffer, u32 n) {
  u8* at = (u8*)buffer;
  while (n > 0) {
    ssize_t got = read(Fd(file), at, n);
    if (got <= 0) return 1;
    at += got;
    n -= (u32)got;
  }
  return 0;
}

int WriteExact(FileHandle file, const void* buffer, u32 n) {
  ssize_t done = write(Fd(file), buffer, n);
  if (done < 0) return 2;
  return (u32)done == n ? 0 : 3;
}

u32 TellFile(FileHandle file) { return (u32)lseek(Fd(file), 0, SEEK_CUR); }
u32 SeekFile(FileHandle file, u32 position) { return (u32)lseek(Fd(file), position, SEEK_SET); }
u32 SeekRelative(FileHandle file, i32 delta) { return (u32)lseek(Fd(file), delta, SEEK_CUR); }
u32 SeekFromEnd(FileHandle file, i32 delta) { return (u32)lseek(Fd(file), delta, SEEK_END); }
u32 FileLength(FileHandle file) {
  struct stat st;
  return fstat(Fd(file), &st) == 0 ? (u32)st.st_size : 0xFFFFFFFFu;
}
void CloseFile(FileHandle file) { close(Fd(file)); }

int AllocBlock(u32 size, void* out) {
  void* block = malloc(size ? size : 1);
  *(void**)out = block;
  return block ? 1 : 0;
}

int AllocZeroed(u32 size, void* out) {
  void* block = calloc(1, size ? size : 1);
  *(void**)out = block;
  return block ? 1 : 0;
}

void FreeBlock(void* variable) {
  void** slot = (void**)variable;
  free(*slot);
  *slot = nullptr;
}
