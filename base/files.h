// File and memory primitives used by every subsystem. They report failure by
// value and never show a message. The Windows build uses the Win32 file API;
// the native build (unit tests, fuzzing, benchmarks) uses POSIX calls with the
// same contracts.
#pragma once

#include "base/format.h"

typedef void* FileHandle;
#define InvalidFile ((FileHandle)(intptr_t)-1)

enum OpenMode {
  OpenRead = 0,       // read, others may read
  OpenWrite = 1,      // write, no sharing
  OpenReadWrite = 2,  // read and write, others may read
};

FileHandle OpenExisting(const char* path, int mode);
FileHandle CreateAlways(const char* path);
// Creates a file that must not exist yet (write access, no sharing). On
// failure *exists tells whether a file of that name was in the way.
FileHandle CreateNew(const char* path, int* exists);
// 0 when exactly n bytes were read; 1 on failure or a short read.
int ReadExact(FileHandle file, void* buffer, u32 n);
// 0 when n bytes were written; 3 on a short write; 2 on failure.
int WriteExact(FileHandle file, const void* buffer, u32 n);
u32 TellFile(FileHandle file);
u32 SeekFile(FileHandle file, u32 position);
u32 SeekRelative(FileHandle file, i32 delta);
u32 SeekFromEnd(FileHandle file, i32 delta);
u32 FileLength(FileHandle file);
void CloseFile(FileHandle file);

// Allocation: on failure the heap is compacted and the allocation tried once
// more. The pointer (null on failure) is stored through `out`; returns 1 or 0.
int AllocBlock(u32 size, void* out);
int AllocZeroed(u32 size, void* out);
// Releases the block the variable points to (if any) and clears the variable.
void FreeBlock(void* variable);

// Bounded string copy: copies at most size - 1 bytes and always terminates
// (size > 0). Returns the length stored.
u32 CopyText(char* destination, const char* source, u32 size);
