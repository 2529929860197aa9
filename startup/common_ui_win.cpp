#include <windows.h>

#include "startup/common_ui.h"
#include "base/system_library.h"

typedef void(WINAPI* SetThemeAppPropertiesFunction)(DWORD);
typedef void(WINAPI* InitCommonControlsFunction)();

static HMODULE ThemeLibrary;
static SetThemeAppPropertiesFunction SetThemeAppPropertiesEntry;
static HMODULE ControlsLibrary;

// The common controls of the program's manifest (version 6, which draws
// with the visual style) when the activation context names them: that name
// resolves to the side-by-side store, never to a search of folders. Without
// a manifest (or before Windows XP), version 5 from the system folder.
static HMODULE LoadCommonControls() {
  typedef BOOL(WINAPI * FindSectionFunction)(DWORD, const GUID*, ULONG, LPCSTR,
                                             PACTCTX_SECTION_KEYED_DATA);
  FindSectionFunction find = (FindSectionFunction)LibraryFunction(
      GetModuleHandleA("kernel32.dll"), "FindActCtxSectionStringA");
  ACTCTX_SECTION_KEYED_DATA redirection;
  ZeroMemory(&redirection, sizeof redirection);
  redirection.cbSize = sizeof redirection;
  if (find && find(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, "comctl32.dll",
                   &redirection))
    return LoadLibraryExA("comctl32.dll", nullptr, 0);  // as LoadLibraryA, one import less
  return (HMODULE)LoadSystemLibrary("comctl32.dll");
}

void InitCommonUi() {
  ThemeLibrary = (HMODULE)LoadSystemLibrary("uxtheme.dll");
  SetThemeAppPropertiesEntry =
      (SetThemeAppPropertiesFunction)LibraryFunction(ThemeLibrary, "SetThemeAppProperties");
  // The common controls (the progress bar) stay loaded for the whole run.
  ControlsLibrary = LoadCommonControls();
  InitCommonControlsFunction init =
      (InitCommonControlsFunction)LibraryFunction(ControlsLibrary, "InitCommonControls");
  if (init) init();
}

void LimitThemes() {
  if (SetThemeAppPropertiesEntry) SetThemeAppPropertiesEntry(1);  // STAP_ALLOW_NONCLIENT
}

void ReleaseCommonUi() {
  SetThemeAppPropertiesEntry = nullptr;
  if (ThemeLibrary) FreeLibrary(ThemeLibrary);
  ThemeLibrary = nullptr;
  if (ControlsLibrary) FreeLibrary(ControlsLibrary);
  ControlsLibrary = nullptr;
}
