// The few file-system calls of the engine that the file primitives lack.
// Windows builds use the Win32 API; native builds (unit tests) use POSIX.
#pragma once

// Deletes a file; 1 on success.
int RemoveFile(const char* path);
// 1 when a file or folder of that name exists (nothing is opened).
int PathExists(const char* path);
// Looks the path up so that the system notices a changed disk; no result.
void TouchPath(const char* path);
