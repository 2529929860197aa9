#include <windows.h>

#include "base/files.h"

FileHandle OpenExisting(const char* path, int mode) {
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ;
  if (mode == OpenWrite) {
    access = GENERIC_WRITE;
    share = 0;
  } else if (mode == OpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  }
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle CreateAlways(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

FileHandle CreateNew(const char* path, int* exists) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  *exists = file == INVALID_HANDLE_VALUE &&
            (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
  return file;
}

int ReadExact(FileHandle file, void* buffer, u32 n) {
  DWORD done = 0;
  if (!ReadFile(file, buffer, n, &done, nullptr)) return 1;
  return done == n ? 0 : 1;
}

int WriteExact(FileHandle file, const void* buffer, u32 n) {
  DWORD done = 0;
  if (!WriteFile(file, buffer, n, &done, nullptr)) return 2;
  return done == n ? 0 : 3;
}

u32 TellFile(FileHandle file) { return SetFilePointer(file, 0, nullptr, FILE_CURRENT); }
u32 SeekFile(FileHandle file, u32 position) {
  // Positions are unsigned: without a high part SetFilePointer would take one
  // of 2 GB or more as a negative distance and fail.
  LONG high = 0;
  return SetFilePointer(file, (LONG)position, &high, FILE_BEGIN);
}
u32 SeekRelative(FileHandle file, i32 delta) {
  return SetFilePointer(file, delta, nullptr, FILE_CURRENT);
}
u32 SeekFromEnd(FileHandle file, i32 delta) {
  return SetFilePointer(file, delta, nullptr, FILE_END);
}
u32 FileLength(FileHandle file) { return GetFileSize(file, nullptr); }
void CloseFile(FileHandle file) { CloseHandle(file); }

static int Allocate(u32 size, void* out, DWORD flags) {
  HANDLE heap = GetProcessHeap();
  void* block = HeapAlloc(heap, flags, size);
  if (!block) {
    HeapCompact(heap, 0);
    block = HeapAlloc(heap, flags, size);
  }
  *(void**)out = block;
  return block ? 1 : 0;
}

int AllocBlock(u32 size, void* out) { return Allocate(size, out, 0); }
int AllocZeroed(u32 size, void* out) { return Allocate(size, out, HEAP_ZERO_MEMORY); }

void FreeBlock(void* variable) {
  void** slot = (void**)variable;
  if (*slot) HeapFree(GetProcessHeap(), 0, *slot);
  *slot = nullptr;
}
