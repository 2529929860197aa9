// The relaunch of the program from a copy in the temporary folder: started
// at once, or by a RunOnce command after the restart.
#include <windows.h>
#include <string.h>

#include "engine/engine_os.h"
#include "engine/relaunch.h"
#include "engine/restart.h"
#include "engine/run_once.h"
#include "package/tables.h"
#include "paths/path_text.h"
#include "base/run_state.h"

static const char CopyPattern[] = "_inst%d.exe";
static const u32 TempFileTries = 998;
static const u32 CopyChunk = 32768;
// A relaunch command: two paths, their quotation marks and the switches.
static const u32 RelaunchCommandSize = 2 * PathSize + 32;

// `pattern` with `number` in place of its "%d", appended to `out` (size
// bytes in all). 0 when it does not fit.
static int AppendNumbered(char* out, u32 size, const char* pattern, u32 number) {
  u32 at = (u32)strlen(out);
  for (const char* p = pattern; *p; ++p) {
    char digits[11];
    const char* piece = digits;
    if (p[0] == '%' && p[1] == 'd') {
      WriteDecimal(digits, number, 1);
      ++p;
    } else {
      digits[0] = *p;
      digits[1] = 0;
    }
    for (; *piece; ++piece) {
      if (at + 1 >= size) return 0;
      out[at++] = *piece;
    }
  }
  out[at] = 0;
  return 1;
}

FileHandle CreateTempFile(char* buffer, const char* pattern) {
  for (u32 i = 1; i <= TempFileTries; ++i) {
    DWORD n = GetTempPathA(PathSize, buffer);
    if (n == 0 || n >= PathSize || !AddBackslash(buffer, PathSize) ||
        !AppendNumbered(buffer, PathSize, pattern, i))
      break;
    int exists = 0;
    FileHandle file = CreateNew(buffer, &exists);
    if (file != InvalidFile) return file;
  }
  buffer[0] = 0;
  return InvalidFile;
}

// Copies the first `length` bytes of `from` to `to`; 1 when all were copied.
static int CopyStart(FileHandle from, FileHandle to, u32 length) {
  u8* chunk = nullptr;
  if (!AllocBlock(CopyChunk, &chunk)) return 0;
  SeekFile(from, 0);
  int copied = 1;
  for (u32 done = 0; copied && done < length;) {
    u32 n = length - done < CopyChunk ? length - done : CopyChunk;
    copied = ReadExact(from, chunk, n) == 0 && WriteExact(to, chunk, n) == 0;
    done += n;
  }
  FreeBlock(&chunk);
  return copied;
}

// Starts the copy (TempPath) with the program file named for its package and
// data; 1 when it started.
static int StartCopy(int showCommand) {
  char command[RelaunchCommandSize];
  if (!FormatMediaRelaunch(command, sizeof command, TempPath, ProgramPath)) return 0;
  return WinExec(command, (UINT)showCommand) > 31;
}

// Has Windows start the copy (TempPath) after the restart for the programs
// of the current group that wait for it; 1 when the RunOnce value stands.
static int ScheduleCopy() {
  char command[RelaunchCommandSize];
  if (CurrentGroup < 0 ||
      !FormatRestartRelaunch(command, sizeof command, TempPath, (u32)CurrentGroup + 1,
                             RunAfterInstall))
    return 0;
  return AddRunOnceCommand(command) == RunOnceWritten;
}

int Relaunch(int showCommand, int afterRestart) {
  FileHandle copy = CreateTempFile(TempPath, CopyPattern);
  if (copy == InvalidFile) return 0;
  int made = 0;
  FileHandle program = OpenExisting(ProgramPath, OpenRead);
  if (program != InvalidFile) {
    // After the installation the package has been read: the copy ends with
    // its data length word. Before, the record headers say where that is.
    u32 length = afterRestart ? (DataAreaOffset ? DataAreaOffset + 4 : 0)
                              : ProgramCopyLength(program);
    made = length != 0 && CopyStart(program, copy, length);
    CloseFile(program);
  }
  CloseFile(copy);
  int arranged = made && (afterRestart ? ScheduleCopy() : StartCopy(showCommand));
  // A copy that is not used is not left behind.
  if (!arranged) RemoveFile(TempPath);
  return arranged;
}
