// Fonts: the resource of the running system, the Fonts key, the broadcast.
#include <windows.h>
#include <string.h>

#include "engine/font_name.h"
#include "engine/fonts.h"
#include "base/files.h"
#include "base/run_state.h"

static const char FontsKeyNT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
static const char FontsKey9x[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
static const char TrueTypeSuffix[] = " (TrueType)";
// A window that does not take the broadcast within this time is passed
// over: a hung program elsewhere must not hold up the installation.
static const UINT BroadcastTimeout = 5000;

// The Fonts value name of the font at `path` ("<full name> (TrueType)") in
// `name` (FontNameSize + the suffix); 0 when the font has no full name.
static int FontValueName(const char* path, char* name) {
  ReadFontName(path, name);
  if (!name[0]) return 0;
  u32 length = (u32)strlen(name);
  memcpy(name + length, TrueTypeSuffix, sizeof TrueTypeSuffix);
  return 1;
}

// The Fonts key of the platform family, opened for setting and deleting
// values (64-bit Windows keeps one for 32-bit and 64-bit programs alike).
static HKEY OpenFontsKey() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, IsWinNT ? FontsKeyNT : FontsKey9x, 0, KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

static void BroadcastFontChange() {
  SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, BroadcastTimeout,
                      nullptr);
}

void InstallFont(const char* path) {
  char name[FontNameSize + sizeof TrueTypeSuffix];
  const int named = FontValueName(path, name);
  AddFontResourceA(path);
  if (named) {
    if (HKEY key = OpenFontsKey()) {
      const char* file = strrchr(path, '\\');
      file = file ? file + 1 : path;
      RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)file, (DWORD)strlen(file) + 1);
      RegCloseKey(key);
    }
  }
  BroadcastFontChange();
}

void RemoveFont(const char* path) {
  char name[FontNameSize + sizeof TrueTypeSuffix];
  const int named = FontValueName(path, name);
  RemoveFontResourceA(path);
  if (named) {
    if (HKEY key = OpenFontsKey()) {
      RegDeleteValueA(key, name);
      RegCloseKey(key);
    }
  }
  BroadcastFontChange();
}
