#include "base/run_state.h"

#include "base/files.h"

char* ProgramPath;
u32 InstanceKey;
i32 ScreenWidth, ScreenHeight;
u32 OsClass = OsWin95;
int IsWinNT, IsWinNT4, IsWinNT6;
int HasRichEdit20;
int SilentMode;
int ForcedPageMode;
u16 ForcedPage = 0xFFFF;
i32 RestartState;
i32 InstallResult;
int UserCancelled;
int RunAfterInstall = 1;
i32 ContinueGroup;
int DeleteSelfAtRestart;
int KeepInteractive;
int AcceptDamagedFiles;
int RegisterKeptFiles;
int PerUserInstall;
i32 CurrentGroup = -1;
const u8* ScreenSaverEntry;
void* BackdropWindow;
void* FrameDialog;
int PageResult;

char* DataSourcePath;
char* InstallDir;
char* TargetPath;
char* TempPath;
char* ErrorDetail;
char* UninstallerPath;
char* UninstallerFolder;

void ResetRunState() {
  InstanceKey = 0;
  ScreenWidth = ScreenHeight = 0;
  OsClass = OsWin95;
  IsWinNT = IsWinNT4 = IsWinNT6 = 0;
  HasRichEdit20 = 0;
  SilentMode = ForcedPageMode = 0;
  ForcedPage = 0xFFFF;
  RestartState = InstallResult = 0;
  UserCancelled = 0;
  RunAfterInstall = 1;
  ContinueGroup = 0;
  DeleteSelfAtRestart = KeepInteractive = AcceptDamagedFiles = RegisterKeptFiles = 0;
  PerUserInstall = 0;
  CurrentGroup = -1;
  ScreenSaverEntry = nullptr;
  BackdropWindow = FrameDialog = nullptr;
  PageResult = 0;
}

struct SharedBuffer {
  char** variable;
  u32 size;
};

static const SharedBuffer SharedBuffers[] = {
    {&DataSourcePath, PathSize}, {&InstallDir, PathSize},      {&TargetPath, TargetPathSize},
    {&TempPath, PathSize},    {&ErrorDetail, PathSize},     {&UninstallerPath, PathSize},
    {&UninstallerFolder, PathSize},
};

int AllocateSharedBuffers() {
  int all = 1;
  for (const SharedBuffer& b : SharedBuffers)
    if (!*b.variable && !AllocZeroed(b.size, b.variable)) all = 0;
  return all;
}

void ReleaseSharedBuffers() {
  for (const SharedBuffer& b : SharedBuffers) FreeBlock(b.variable);
}
