#include <windows.h>

#include "startup/common_ui.h"
#include "base/system_library.h"

typedef void(WINAPI* SetThemeAppPropertiesFunction)(DWORD);
typedef void(WINAPI* InitCommonControlsFunction)();

static HMODULE ThemeLibrary;
static SetThemeAppPropertiesFunction SetThemeAppPropertiesEntry;
static HMODULE ControlsLibrary;

void InitCommonUi() {
  ThemeLibrary = (HMODULE)LoadSystemLibrary("uxtheme.dll");
  SetThemeAppPropertiesEntry =
      (SetThemeAppPropertiesFunction)LibraryFunction(ThemeLibrary, "SetThemeAppProperties");
  // The common controls (the progress bar) stay loaded for the whole run.
  ControlsLibrary = (HMODULE)LoadSystemLibrary("comctl32.dll");
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
