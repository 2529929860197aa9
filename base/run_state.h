// Run-wide state: process globals that live for the whole run. Owned by the
// run flow; read across subsystems.
#pragma once

#include "base/format.h"

static const u32 PathSize = 260;
static const u32 TargetPathSize = 520;

extern char* ProgramPath;        // 260: the file the package is read from
extern u32 InstanceKey;          // rotate-and-add sum of the program's own path
extern i32 ScreenWidth, ScreenHeight;
extern u32 OsClass;              // exactly one of the Os* bits
extern int IsWinNT, IsWinNT4, IsWinNT6;
extern int HasRichEdit20;
extern int SilentMode;
extern int ForcedPageMode;
extern u16 ForcedPage;           // 0xFFFF = none
extern i32 RestartState;         // 0 none, 1 needed, 16 reboot at the end
extern i32 InstallResult;        // 0 or the number of a group-7 text
extern int UserCancelled;
extern int RunAfterInstall;      // starts at 1; /N clears it
extern i32 ContinueGroup;        // /B<n>
extern int DeleteSelfAtRestart;  // /DEL
extern int KeepInteractive;      // /V
extern int AcceptDamagedFiles;   // /R
extern int RegisterKeptFiles;    // /F
extern int PerUserInstall;       // the program runs as its user: registration goes to HKCU
extern i32 CurrentGroup;         // -1 until a group is selected
extern const u8* ScreenSaverEntry;
extern void* BackdropWindow;     // HWND
extern void* FrameDialog;        // HWND

// The page result of the wizard: 0 while a page runs, 1 Next, 2 Cancel or
// Exit, 1045 Back. The engine looks at it after every decompression.
extern int PageResult;
static const int PageResultNext = 1;
static const int PageResultCancel = 2;

// Shared buffers, allocated zero-filled at start-up and released at the end.
extern char* DataSourcePath;   // 260: path of the current data source
extern char* InstallDir;       // 260
extern char* TargetPath;       // 520
extern char* TempPath;         // 260; also the work buffer of folder detection
extern char* ErrorDetail;      // 260
extern char* UninstallerPath;  // 260
extern char* UninstallerFolder;  // 260

// Resets every run-state value to its initial value (tests use it between
// cases; a real run starts from these values).
void ResetRunState();
// Allocates the shared buffers (zero-filled). Returns 1 when all were had.
int AllocateSharedBuffers();
void ReleaseSharedBuffers();
