// The parts of the run flow that need no Windows API.
#include "startup/run_flow.h"

#include "base/run_state.h"

PlatformClass ClassifyPlatform(int known, u32 platformId, u32 major, u32 minor) {
  PlatformClass c = {OsWin95, 0, 0, 0};
  if (!known) return c;
  if (platformId == 1) {  // the 9x family
    if (major > 4 || (major == 4 && minor >= 90)) c.osClass = OsWinMe;
    else if (major == 4 && minor >= 1) c.osClass = OsWin98;
  } else if (platformId == 2) {  // the NT family
    c.isWinNT = 1;
    if (major < 5) {
      c.osClass = OsWinNT4;
      c.isWinNT4 = major == 4;
    } else if (major == 5) {
      c.osClass = minor == 0 ? OsWin2000 : OsWinXP;
    } else {
      c.osClass = OsWinVista;
      c.isWinNT6 = 1;
    }
  }
  return c;
}

u32 ProgramInstanceKey(const char* path) {
  u32 n = 0;
  while (path[n]) ++n;
  return RotateAddSum(0, (const u8*)path, n);
}

int RunExitCode(int result, i32 installResult, i32 restartState) {
  int code = result != 0 ? result : installResult;
  return restartState != 0 ? ExitRestartNeeded : code;
}

void CutToDriveRoot(char* path) {
  if (path[0] && path[0] != '\\' && path[1] == ':' && path[2]) path[3] = 0;
}

// Appends `text` at `*at`; 0 when it does not fit with its terminator.
static int AppendText(char* out, u32 size, u32* at, const char* text) {
  for (; *text; ++text) {
    if (*at + 1 >= size) return 0;
    out[(*at)++] = *text;
  }
  out[*at] = 0;
  return 1;
}

int FormatScreenSaverCommand(char* command, u32 size, const char* systemFolder,
                             const char* target) {
  if (size == 0) return 0;
  command[0] = 0;
  u32 at = 0, folderLength = 0;
  while (systemFolder[folderLength]) ++folderLength;
  const char* separator = folderLength && systemFolder[folderLength - 1] == '\\' ? "" : "\\";
  if (!systemFolder[0] || !target[0] || !AppendText(command, size, &at, "\"") ||
      !AppendText(command, size, &at, systemFolder) ||
      !AppendText(command, size, &at, separator) ||
      !AppendText(command, size, &at, "rundll32.exe\" desk.cpl,InstallScreenSaver ") ||
      !AppendText(command, size, &at, target)) {
    command[0] = 0;
    return 0;
  }
  return 1;
}
