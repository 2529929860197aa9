// The page procedures: welcome, information, licence, install folder, ready,
// installing and finish, with their common initialisation and the folder
// browser.
#include <windows.h>
#include <shlobj.h>

#include "base/files.h"
#include "base/run_state.h"
#include "base/text_format.h"
#include "engine/install.h"
#include "engine/run_entries.h"
#include "package/tables.h"
#include "paths/destination.h"
#include "paths/path_text.h"
#include "wizard/formatted_text.h"
#include "wizard/messages.h"
#include "wizard/pages_win.h"

static const u32 CaptionSize = 1024;
static const u32 FigureSize = 100;
static const u32 ReadyTextSize = 1024;
static const u32 FinishTextSize = 2048;

static u32 GroupFlagsValue() {
  return CurrentGroupRecord.data ? ReadU16(CurrentGroupRecord.data + GroupFlags) : 0;
}

static const char* PageText(u32 number) { return GetText((u32)CurrentPageKind, number); }

static void SetText(HWND page, int id, const char* text) {
  SetFormattedText(GetDlgItem(page, id), text);
}

static void ShowControl(HWND page, int id, int show) {
  ShowWindow(GetDlgItem(page, id), show ? SW_SHOW : SW_HIDE);
}

// Common initialisation of every page: captions, the texts of controls 1000
// to 1003, the button labels and the button mask. (The link registry was
// emptied when the page began.)
static void InitPageCommon(HWND page, u32 buttonMask) {
  HWND backdrop = (HWND)BackdropWindow;
  const char* setupTitle = GetText(7, 0);
  const char* title = PageText(0);
  SetWindowTextA(backdrop, setupTitle);
  const int titleInCaption =
      CurrentGroupRecord.data && (ReadU32(CurrentGroupRecord.data + GroupFlags2) & Group2TitleInCaption);
  if (*title) {
    if (LayoutFlagsValue() & LayoutFlagFullScreen) {
      SetWindowTextA((HWND)FrameDialog, titleInCaption ? title : setupTitle);
    } else if (titleInCaption) {
      char caption[CaptionSize];
      u32 at = CopyText(caption, setupTitle, CaptionSize);
      at += CopyText(caption + at, " - ", CaptionSize - at);
      CopyText(caption + at, title, CaptionSize - at);
      SetWindowTextA(backdrop, caption);
    }
  }
  for (u32 i = 0; i < 4; ++i) SetText(page, ControlIdText0 + i, PageText(2 + i));
  LabelButtons();
  if (ForcedPage != 0xFFFF) buttonMask |= QuietExit;
  if (SequencePosition <= 0) buttonMask &= ~ButtonBack;
  SetButtonMask(buttonMask);
}

// WM_INITDIALOG of every page: the base procedure's, then the common one.
static void StartPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, u32 buttonMask) {
  PageBaseProcedure(page, message, wParam, lParam);
  InitPageCommon(page, buttonMask);
}

// Focus on a window, and FALSE for WM_INITDIALOG: the focus stays there.
static INT_PTR FocusOn(HWND window) {
  SetFocus(window);
  return FALSE;
}

static INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_INITDIALOG) return PageBaseProcedure(page, message, wParam, lParam);
  StartPage(page, message, wParam, lParam, ButtonBack | ButtonNext | ButtonCancel);
  return FocusOn(NextButton());
}

static INT_PTR CALLBACK InformationPageProc(HWND page, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message != WM_INITDIALOG) return PageBaseProcedure(page, message, wParam, lParam);
  StartPage(page, message, wParam, lParam, ButtonBack | ButtonNext | ButtonCancel);
  if (*GetText(1, 3)) SetWindowTextA(NextButton(), GetText(1, 3));
  return FocusOn(NextButton());
}

// Next is enabled by the agree button (1002) and disabled by the disagree
// button (1003); leaving with Next is the agreement.
static INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    StartPage(page, message, wParam, lParam, ButtonBack | ButtonCancel);
    CheckRadioButton(page, ControlIdText2, ControlIdText3, ControlIdText3);
    return FocusOn(CancelButton());
  }
  if (message == WM_COMMAND &&
      (LOWORD(wParam) == ControlIdText2 || LOWORD(wParam) == ControlIdText3))
    EnableWindow(NextButton(), LOWORD(wParam) == ControlIdText2);
  return PageBaseProcedure(page, message, wParam, lParam);
}

// The free and the needed space in MB, each in text 3/8, into controls 1019
// and 1016.
static void ShowSpaceFigures(HWND page) {
  u32 freeMB, neededMB;
  SpaceFigures(&freeMB, &neededMB);
  char figure[FigureSize];
  FormatText(figure, FigureSize, GetText(3, 8), nullptr, (i32)freeMB);
  SetText(page, ControlIdSpaceFree, figure);
  FormatText(figure, FigureSize, GetText(3, 8), nullptr, (i32)neededMB);
  SetText(page, ControlIdSpaceNeeded, figure);
}

// InstallDir without its trailing backslash into the folder edit box.
static void ShowInstallDir(HWND page) {
  RemoveBackslash(InstallDir);
  SetDlgItemTextA(page, ControlIdFolder, InstallDir);
  AddBackslash(InstallDir, PathSize);
}

static void ReadInstallDir(HWND page) { GetDlgItemTextA(page, ControlIdFolder, InstallDir, PathSize); }

static int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  const char* path = (const char*)data;
  if (message == BFFM_INITIALIZED) {
    // An existing folder (one that can be entered) is preselected.
    int exists = path[0] && SetCurrentDirectoryA(path);
    if (exists) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, (LPARAM)path);
    SendMessageA(dialog, BFFM_ENABLEOK, 0, exists);
  } else if (message == BFFM_SELCHANGED) {
    char chosen[MAX_PATH];
    SendMessageA(dialog, BFFM_ENABLEOK, 0,
                 SHGetPathFromIDListA((LPCITEMIDLIST)lParam, chosen) && chosen[0]);
  }
  return 0;
}

// The shell's folder browser, starting at `path` (260 bytes), which receives
// the chosen folder. 1 when the user chose one.
static int BrowseForFolder(HWND owner, char* path) {
  IMalloc* shellMemory;
  if (FAILED(SHGetMalloc(&shellMemory))) return 0;
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.pszDisplayName = path;
  browse.lpszTitle = GetText(7, 1);
  browse.ulFlags = BIF_NEWDIALOGSTYLE;
  browse.lpfn = BrowseCallback;
  browse.lParam = (LPARAM)path;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
  int result = 0;
  if (chosen) {
    result = SHGetPathFromIDListA(chosen, path) != 0;
    shellMemory->Free(chosen);
  }
  shellMemory->Release();
  return result;
}

// Next: the folder is made whole (and created when the user agrees) and the
// free space checked; 0 to go on, 1 to stay on the page.
static int AcceptFolder(HWND page) {
  ReadInstallDir(page);
  int problem = PrepareInstallDir();
  if (problem) {
    if (problem != -1) ShowMessage(GetText(7, (u32)problem), StyleInformation);
    return 1;
  }
  SetText(page, ControlIdText1, GetText(7, 4));
  SetText(page, ControlIdText2, "");
  SetText(page, ControlIdText3, "");
  int tooSmall = CheckDiskSpace();
  for (u32 i = 1; i < 4; ++i) SetText(page, ControlIdText0 + i, GetText(3, 2 + i));
  if (tooSmall && ShowMessage(GetText(7, 11), StyleQuestion) != AnswerYes) return 1;
  FolderChecked = 1;
  return 0;
}

static INT_PTR CALLBACK FolderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    StartPage(page, message, wParam, lParam, ButtonBack | ButtonNext | ButtonCancel);
    ShowInstallDir(page);
    FolderChecked = 0;
    SetText(page, ControlIdSpaceNeededLabel, GetText(3, 6));
    SetText(page, ControlIdSpaceFreeLabel, GetText(3, 7));
    ShowSpaceFigures(page);
    SetDlgItemTextA(page, ControlIdBrowse, "...");
    HWND edit = GetDlgItem(page, ControlIdFolder);
    if (!(GroupFlagsValue() & GroupFlagFolderChangeable)) {
      SendMessageA(edit, EM_SETREADONLY, TRUE, 0);
      EnableWindow(GetDlgItem(page, ControlIdBrowse), FALSE);
      return FocusOn(NextButton());
    }
    return FocusOn(InstallDir[0] ? NextButton() : edit);
  }
  const int id = LOWORD(wParam);
  if (message == WM_COMMAND && (ForcedPage == 0xFFFF || id == ControlIdFolder || id == ControlIdBrowse)) {
    if (id == ControlIdBrowse && HIWORD(wParam) == BN_CLICKED) {
      ReadInstallDir(page);
      char path[PathSize];
      CopyText(path, InstallDir, PathSize);
      if (BrowseForFolder(page, path)) {
        CopyText(InstallDir, path, PathSize);
        RemoveBackslash(InstallDir);
        SetDlgItemTextA(page, ControlIdFolder, InstallDir);
      }
    } else if (id == ControlIdFolder) {
      char typed[PathSize];
      GetDlgItemTextA(page, ControlIdFolder, typed, PathSize);
      if (lstrcmpiA(typed, InstallDir)) {
        CopyText(InstallDir, typed, PathSize);
        ShowSpaceFigures(page);
      }
    } else if (id == ControlIdNext && AcceptFolder(page)) {
      return VetoCommand(page);
    }
  }
  return PageBaseProcedure(page, message, wParam, lParam);
}

static INT_PTR CALLBACK ReadyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    StartPage(page, message, wParam, lParam, ButtonBack | ButtonNext | ButtonCancel);
    char text[ReadyTextSize];
    RemoveBackslash(InstallDir);
    FormatText(text, ReadyTextSize, GetText(4, 3), InstallDir, 0);
    AddBackslash(InstallDir, PathSize);
    SetText(page, ControlIdText1, text);
    SetButtonLabel(ButtonNext, 3);
    return FocusOn(NextButton());
  }
  // The last space check found read-only files among the targets.
  if (message == WM_COMMAND && LOWORD(wParam) == ControlIdNext && ReadOnlyWarning &&
      *GetText(7, 7) && ShowMessage(GetText(7, 7), StyleQuestion) != AnswerYes)
    return VetoCommand(page);
  return PageBaseProcedure(page, message, wParam, lParam);
}

// The installation runs while this page is shown (the page runner drives
// it); the finishing step ends the page with the move to the finish page.
static INT_PTR CALLBACK InstallingPageProc(HWND page, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    StartPage(page, message, wParam, lParam, ButtonCancel);
    AttachProgress(page);
    SetButtonLabel(ButtonCancel, 5);
    FocusOn(CancelButton());
    if (ForcedPage == 0xFFFF && !PrepareInstallation()) PageResult = PageResultNext;
    return FALSE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == ControlIdCancel && ForcedPage == 0xFFFF) {
    if (AskAndNotify(13, 15)) {
      // Nothing of this installation is finished or registered; a
      // decompression under way stops at once.
      PageResult = PageResultCancel;
      AbortInstallation();
      UserCancelled = 1;
    }
    return VetoCommand(page);
  }
  return PageBaseProcedure(page, message, wParam, lParam);
}

// The finish page after a failed installation: the reason in control 1000,
// stretched over 1001 and 1002.
static void ShowFailure(HWND page) {
  HWND text = GetDlgItem(page, ControlIdText0);
  HWND below = GetDlgItem(page, ControlIdText2);
  ShowControl(page, ControlIdText1, 0);
  ShowControl(page, ControlIdText2, 0);
  RECT r, last;
  if (text && below && GetWindowRect(text, &r) && GetWindowRect(below, &last))
    SetWindowPos(text, nullptr, 0, 0, r.right - r.left, last.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER);
  char failure[FinishTextSize];
  FormatFailureText(failure, FinishTextSize);
  SetFormattedText(text, failure);
  UserCancelled = 1;
}

static int AnyEntryDenied() {
  u8* entry = FirstEntry();
  for (u32 i = 0; i < FileCount && entry; ++i, entry = NextEntry(entry))
    if (ReadU16(entry + EntryState) == StateDenied) return 1;
  return 0;
}

static void ShowSuccess(HWND page) {
  const u32 flags = GroupFlagsValue();
  int launch = (flags & GroupFlagLaunchButton) && *GetText(6, 6);
  if (launch) {
    SetDlgItemTextA(page, ControlIdLaunch, GetText(6, 6));
    ShowControl(page, ControlIdLaunch, 1);
  }
  if (RestartState == 0 && (flags & GroupFlagRunCheckBox) && *GetText(6, 7)) {
    HWND box = GetDlgItem(page, ControlIdRunAfter);
    SetDlgItemTextA(page, ControlIdRunAfter, GetText(6, 7));
    ShowWindow(box, SW_SHOW);
    RECT button;
    if (!launch && !*GetText(6, 3)) {
      // The box takes the launch button's place.
      if (GetWindowRect(GetDlgItem(page, ControlIdLaunch), &button)) {
        RECT r;
        GetWindowRect(box, &r);
        POINT at = {r.left, button.top};
        ScreenToClient(page, &at);
        SetWindowPos(box, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      }
      SetText(page, ControlIdText1, GetText(6, 4));
      SetText(page, ControlIdText2, "");
    }
  }
  RunEntries(RunPhaseValue(2), RunKindAll, 1);
}

static INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    // Only a successful installation asks for the restart the package wants.
    if (*GetText(6, 9) && InstallResult == 0) RestartState = 1;
    StartPage(page, message, wParam, lParam, ButtonCancel | QuietExit);
    HWND next = NextButton(), cancel = CancelButton();
    ShowWindow(GetDlgItem(ButtonBar(), ControlIdBack), SW_HIDE);
    ShowWindow(next, SW_HIDE);
    if ((GetWindowLongA(next, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      SendMessageA(next, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
      SendMessageA(cancel, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    }
    SetText(page, ControlIdText3, "");
    ShowControl(page, ControlIdLaunch, 0);
    CheckDlgButton(page, ControlIdRunAfter, RunAfterInstall ? BST_CHECKED : BST_UNCHECKED);
    ShowControl(page, ControlIdRunAfter, 0);
    if (InstallResult == 0 && AnyEntryDenied()) InstallResult = CodeAccessDenied;
    if (InstallResult == 0) ShowSuccess(page);
    else ShowFailure(page);
    return FocusOn(cancel);
  }
  if (message == WM_COMMAND) {
    switch (LOWORD(wParam)) {
      case ControlIdNext:
      case ControlIdCancel:
        PageResult = PageResultCancel;
        break;
      case ControlIdLaunch:
        RunEntries(RunPhaseValue(4), RunKindDocuments, 1);
        break;
      case ControlIdRunAfter:
        RunAfterInstall = IsDlgButtonChecked(page, ControlIdRunAfter) == BST_CHECKED;
        break;
      default:
        return PageBaseProcedure(page, message, wParam, lParam);
    }
    return VetoCommand(page);
  }
  return PageBaseProcedure(page, message, wParam, lParam);
}

const DLGPROC PageProcedures[7] = {WelcomePageProc, InformationPageProc, LicencePageProc,
                                   FolderPageProc,  ReadyPageProc,       InstallingPageProc,
                                   FinishPageProc};
