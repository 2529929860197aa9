#include <windows.h>
#include <oleauto.h>
#include <string.h>

#include "engine/install.h"
#include "engine/run_entries.h"
#include "engine/run_once.h"
#include "engine/wow64.h"
#include "base/guarded_call.h"
#include "integration/self_register.h"
#include "base/files.h"
#include "base/run_state.h"
#include "base/system_library.h"

void CallRegisterServer(int registerIt) {
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // By its full path; the libraries it needs are looked for beside it.
  HMODULE library = LoadLibraryExA(TargetPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library) {
    GuardedProc entry = (GuardedProc)LibraryFunction(
        library, registerIt ? "DllRegisterServer" : "DllUnregisterServer");
    if (entry) CallGuarded(entry);
    FreeLibrary(library);
  }
  SetErrorMode(previousMode);
}

// Runs `program` with `option` and the quoted `path` and waits until it has
// ended (RunProgram: the wait does not take messages out of the queue, so
// the wizard does not repaint meanwhile).
static void RunAndWait(const char* program, const char* option, const char* path) {
  char arguments[PathSize + 16];
  u32 at = CopyText(arguments, option, sizeof arguments);
  at += CopyText(arguments + at, " \"", sizeof arguments - at);
  at += CopyText(arguments + at, path, sizeof arguments - at);
  CopyText(arguments + at, "\"", sizeof arguments - at);
  RunProgram(program, arguments, 1);
}

// Registers the type library at `path` through oleaut32's LoadTypeLibEx;
// 0 when the library or the call is missing or the registration fails.
static int RegisterTypeLibrary(const char* path) {
  typedef HRESULT(WINAPI * LoadTypeLibExFunction)(LPCOLESTR, REGKIND, ITypeLib**);
  void* oleaut = LoadSystemLibrary("oleaut32.dll");
  LoadTypeLibExFunction load = (LoadTypeLibExFunction)LibraryFunction(oleaut, "LoadTypeLibEx");
  int registered = 0;
  WCHAR wide[PathSize];
  if (load && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, PathSize)) {
    ITypeLib* library = nullptr;
    if (SUCCEEDED(load(wide, REGKIND_REGISTER, &library)) && library) {
      library->Release();
      registered = 1;
    }
  }
  if (oleaut) FreeLibrary((HMODULE)oleaut);
  return registered;
}

// Leaves the command `program` `option` "<target>" in the RunOnce key for
// the next start of Windows. Windows runs it from a 64-bit process on
// 64-bit Windows: a 32-bit setup program there names the target as every
// program sees it (a file of its system folder lies in SysWOW64) and the
// 32-bit regsvr32 by its full path. For an entry-point library the file
// still at the target is unregistered once the command is written. 0 when
// it could not be written.
static int RegisterAtNextStart(const char* program, const char* option, int entryPoints) {
  char path[PathSize], registrar[PathSize];
  CopyText(path, TargetPath, sizeof path);
  PathForEveryProgram(path, sizeof path);
  UINT length;
  if (entryPoints && RunningUnderWow64() && (length = GetSystemDirectoryA(registrar, PathSize)) &&
      length + sizeof "\\regsvr32.exe" <= PathSize) {
    CopyText(registrar + length, "\\regsvr32.exe", PathSize - length);
    PathForEveryProgram(registrar, sizeof registrar);
  } else {
    CopyText(registrar, program, sizeof registrar);
  }
  char command[2 * PathSize + 16];
  const int quote = strchr(registrar, ' ') != nullptr;
  u32 at = 0;
  if (quote) command[at++] = '"';
  at += CopyText(command + at, registrar, sizeof command - at);
  if (quote) command[at++] = '"';
  command[at++] = ' ';
  at += CopyText(command + at, option, sizeof command - at);
  at += CopyText(command + at, " \"", sizeof command - at);
  at += CopyText(command + at, path, sizeof command - at);
  CopyText(command + at, "\"", sizeof command - at);
  switch (AddRunOnceCommand(command)) {
    case RunOnceFailed: return 0;
    case RunOnceWritten:
      if (entryPoints) CallRegisterServer(0);
      return 1;
    default:  // every name taken: nothing is scheduled
      return 1;
  }
}

int SelfRegister(u8* entry, const char* keptCopy) {
  const u32 options = ReadU32(entry + EntryOptions);
  const u16 state = ReadU16(entry + EntryState);
  // The new file: under its temporary name while it waits for the restart.
  const char* file = TargetPath;
  if (state == StateAtRestart)
    file = keptCopy && keptCopy[0] ? keptCopy : TempPath[0] ? TempPath : TargetPath;
  const char* program = "regsvr32";
  const char* option = "/s";
  if (options & FileOptionRegistryScript) {
    RunAndWait("regedit", "-s", file);
    return 1;
  }
  if (options & FileOptionTypeLibrary) {
    if (RegisterTypeLibrary(file)) return 1;
    if (state != StateAtRestart) {
      RunAndWait("regtlib", "-q", TargetPath);
      return 1;
    }
    program = "regtlib";
    option = "-q";
  }
  const int entryPoints = !(options & (FileOptionRegistryScript | FileOptionTypeLibrary));
  switch (state) {
    case StateReplaced:
    case StateNew:
    case StateKept:
      if (entryPoints) CallRegisterServer(1);
      return 1;
    case StateAtRestart:
      return RegisterAtNextStart(program, option, entryPoints);
    default:
      return 1;
  }
}
