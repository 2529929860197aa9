// Shortcuts, self-registering components and fonts under Wine: link files
// where the shell folders are, read back through the shell, and their
// record in the uninstall log byte by byte; components registered through a
// test library's entry points (unregistered before they are replaced, at
// the next start when locked), a registry script, a type library, the code
// 22 rules of the deferred commit; a real TrueType font installed, named,
// registered and replaced.
#include "tests/wine/engine_fixture.h"

#include <oleauto.h>
#include <shlobj.h>
#include <string.h>

#include "engine/run_once.h"
#include "integration/shortcuts.h"

using namespace enginetest;

namespace {

const char ComponentsKey[] = "Software\\SetrunTest\\Components";
const char RunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char FontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::string HereFile(const std::string& name) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir = self;
  return dir.substr(0, dir.rfind('\\') + 1) + name;
}

std::string UnixFile(const char* path) {
  std::string windows = "Z:";
  for (const char* p = path; *p; ++p) windows += *p == '/' ? '\\' : *p;
  return windows;
}

std::string RegText(HKEY root, const char* key, const std::string& name) {
  HKEY handle;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<none>";
  char value[1024] = "";
  DWORD size = sizeof value - 1, type = 0;
  LONG r = RegQueryValueExA(handle, name.c_str(), nullptr, &type, (BYTE*)value, &size);
  RegCloseKey(handle);
  if (r != ERROR_SUCCESS || type != REG_SZ) return "<none>";
  return value;
}

void RegDelete(HKEY root, const char* key, const std::string& name) {
  HKEY handle;
  if (RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return;
  RegDeleteValueA(handle, name.c_str());
  RegCloseKey(handle);
}

void RegSet(HKEY root, const char* key, const std::string& name, const std::string& value) {
  HKEY handle;
  if (RegCreateKeyA(root, key, &handle) != ERROR_SUCCESS) return;
  RegSetValueExA(handle, name.c_str(), 0, REG_SZ, (const BYTE*)value.c_str(),
                 (DWORD)value.size() + 1);
  RegCloseKey(handle);
}

std::string ShellFolder(int id) {
  char path[MAX_PATH] = "";
  SHGetSpecialFolderPathA(nullptr, path, id, FALSE);
  return path;
}

// What a link file says, read from its bytes (the shell link format: a
// 76-byte header, the item list, the location block with the target's
// local path, then the counted strings).
struct Link {
  bool loaded = false;
  std::string target, arguments, folder, icon;
  int iconIndex = -1, show = -1;
};

Link ReadLink(const std::string& path) {
  Link link;
  const Bytes b = ReadAll(path);
  if (b.size() < 76 || ReadU32(b.data()) != 76) return link;
  const u32 flags = ReadU32(b.data() + 20);
  link.iconIndex = (int)ReadU32(b.data() + 56);
  link.show = (int)ReadU32(b.data() + 60);
  size_t at = 76;
  if (flags & 0x1) at += 2 + ReadU16(b.data() + at);  // item list
  if (flags & 0x2) {                                    // location block
    if (at + 28 > b.size()) return link;
    const u8* info = b.data() + at;
    if (ReadU32(info + 8) & 1) {  // a local path, and what follows it
      link.target = (const char*)info + ReadU32(info + 16);
      link.target += (const char*)info + ReadU32(info + 24);
    }
    at += ReadU32(info);
  }
  const bool unicode = (flags & 0x80) != 0;
  auto text = [&](u32 bit, std::string* out) {
    if (!(flags & bit) || at + 2 > b.size()) return;
    const u32 count = ReadU16(b.data() + at);
    at += 2;
    for (u32 i = 0; i < count && at < b.size(); ++i, at += unicode ? 2 : 1)
      out->push_back((char)b[at]);
    // Wine counts a terminator that the format does not have.
    while (!out->empty() && out->back() == 0) out->pop_back();
  };
  std::string name, relative;
  text(0x4, &name);
  text(0x8, &relative);
  text(0x10, &link.folder);
  text(0x20, &link.arguments);
  text(0x40, &link.icon);
  link.loaded = at <= b.size();
  return link;
}

Bytes ShortcutItem(u8 depth, const std::string& folder, const std::string& name) {
  Bytes b{depth};
  for (const std::string& s : {folder, std::string(), name}) {
    enginepkg::Put16(b, (u16)s.size());
    b.insert(b.end(), s.begin(), s.end());
  }
  return b;
}

File FileFrom(const std::string& name, const std::string& source) {
  File f;
  f.name = name;
  f.data = ReadAll(source);
  return f;
}

}  // namespace

class IntegrationTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    CoInitialize(nullptr);
    unique_ = std::to_string(GetTickCount() % 1000000);
    RunOnceCounter = 0;
  }
  void TearDown() override {
    for (const std::string& v : values_) RegDelete(HKEY_CURRENT_USER, ComponentsKey, v);
    EngineTest::TearDown();
    CoUninitialize();
  }

  // Loads the package, installs every entry and runs the finishing step.
  void Install(int registerKept = 0) {
    Load();
    RegisterKeptFiles = registerKept;
    ASSERT_GE(InstallAll(), 0);
    FinishInstallation();
  }
  // A component (a build of tests/install/component_dll.c) named `name`.
  File Component(const std::string& name, const char* build) {
    File f = FileFrom(name, HereFile(build));
    EXPECT_FALSE(f.data.empty()) << build << " is missing beside the test";
    f.flags |= FileFlagSelfRegister;
    values_.push_back(name);
    values_.push_back(name + ".history");
    return f;
  }
  std::string History(const std::string& name) {
    return RegText(HKEY_CURRENT_USER, ComponentsKey, name + ".history");
  }

  std::string unique_;
  std::vector<std::string> values_;
};

TEST_F(IntegrationTest, ShortcutsWhereTheShellFoldersAreAndTheirRecord) {
  const std::string group = "Setrun " + unique_;
  File app = MakeFile("app.exe", 100, 1);
  app.text[1] = group + ";" + group + "\\Extra";
  app.text[2] = "App.lnk";
  app.text[3] = "--dir \"#InstallDir#\"";
  app.text[4] = "app.ico";
  app.iconIndex = 3;
  app.text[5] = "App " + unique_ + ".lnk";
  app.text[6] = "-d";
  app.options |= 1 | (2 << FileOptionDesktopWindowShift);  // minimised, maximised
  File tool = MakeFile("tool.exe", 100, 2);
  tool.text[1] = "#desktop#\\" + group;
  tool.text[2] = "Tool.lnk";
  tool.options |= 3;  // normal
  tool.flags |= FileFlagNotLogged;  // made, not recorded
  File other = MakeFile("other.exe", 100, 3);
  other.flags = OsWin95;  // another Windows version: no shortcut
  other.text[1] = group;
  other.text[2] = "Other.lnk";
  File readme = MakeFile("readme.txt", 100, 4);
  readme.text[2] = "Readme " + unique_ + ".lnk";  // directly in Programs
  pkg_.files = {app, tool, other, readme};
  Load();
  IsWinNT6 = 1;
  ASSERT_EQ(InstallAll(), 4);

  const std::string programs = ShellFolder(CSIDL_PROGRAMS);
  const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
  ASSERT_FALSE(programs.empty());
  ASSERT_FALSE(desktop.empty());
  const std::string logPath = dir_ + "\\log.bin";
  ASSERT_TRUE(Package::WriteAll(logPath, Bytes{'H', 'E', 'A', 'D'}));
  FileHandle log = OpenExisting(logPath.c_str(), OpenReadWrite);
  ASSERT_NE(log, InvalidFile);
  SeekFromEnd(log, 0);
  CreateShortcuts(log);
  CloseFile(log);

  Link menu = ReadLink(programs + "\\" + group + "\\App.lnk");
  ASSERT_TRUE(menu.loaded);
  EXPECT_EQ(menu.target, In("app.exe"));
  EXPECT_EQ(menu.arguments, "--dir \"" + install_ + "\"");
  EXPECT_EQ(menu.folder, install_);
  EXPECT_EQ(menu.icon, In("app.ico"));
  EXPECT_EQ(menu.iconIndex, 3);
  EXPECT_EQ(menu.show, SW_SHOWMINNOACTIVE);
  EXPECT_TRUE(ReadLink(programs + "\\" + group + "\\Extra\\App.lnk").loaded);
  Link onDesktop = ReadLink(desktop + "\\App " + unique_ + ".lnk");
  ASSERT_TRUE(onDesktop.loaded);
  EXPECT_EQ(onDesktop.target, In("app.exe"));
  EXPECT_EQ(onDesktop.arguments, "-d");
  EXPECT_EQ(onDesktop.icon, "");  // no icon file: the shell shows the target's
  EXPECT_EQ(onDesktop.show, SW_SHOWMAXIMIZED);
  Link toolLink = ReadLink(desktop + "\\" + group + "\\Tool.lnk");
  ASSERT_TRUE(toolLink.loaded);
  EXPECT_EQ(toolLink.show, SW_SHOWNORMAL);
  EXPECT_FALSE(Exists(programs + "\\" + group + "\\Other.lnk"));
  EXPECT_EQ(ReadLink(programs + "\\Readme " + unique_ + ".lnk").target, In("readme.txt"));

  // The record: four items (the tool's shortcut is not recorded), in list
  // order, each with its depth, its folder and no actual folder (the shell
  // saved where it was asked to).
  Bytes items;
  enginepkg::Append(items, ShortcutItem(0, programs + "\\" + group, "App.lnk"));
  enginepkg::Append(items, ShortcutItem(1, programs + "\\" + group + "\\Extra", "App.lnk"));
  enginepkg::Append(items, ShortcutItem(0, desktop, "App " + unique_ + ".lnk"));
  enginepkg::Append(items, ShortcutItem(0, programs, "Readme " + unique_ + ".lnk"));
  Bytes expected{'H', 'E', 'A', 'D'};
  enginepkg::Append(expected, enginepkg::Header(LogShortcuts, 0, 4 + (u32)items.size()));
  enginepkg::Put32(expected, 4);
  enginepkg::Append(expected, items);
  EXPECT_EQ(ReadAll(logPath), expected);

  // Without a log the shortcuts are made all the same.
  DeleteFileA((programs + "\\" + group + "\\App.lnk").c_str());
  CreateShortcuts(InvalidFile);
  EXPECT_TRUE(Exists(programs + "\\" + group + "\\App.lnk"));

  RemoveTree(programs + "\\" + group);
  RemoveTree(desktop + "\\" + group);
  DeleteFileA((desktop + "\\App " + unique_ + ".lnk").c_str());
  DeleteFileA((programs + "\\Readme " + unique_ + ".lnk").c_str());
}

TEST_F(IntegrationTest, EntryPointsRegisterAndUnregisterBeforeReplacement) {
  const std::string name = "comp" + unique_ + ".dll";
  pkg_.files = {Component(name, "component_1.dll")};
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateNew);
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, ComponentsKey, name), "1");
  EXPECT_EQ(History(name), "+1");

  pkg_.files = {Component(name, "component_2.dll")};
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateReplaced);
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, ComponentsKey, name), "2");
  EXPECT_EQ(History(name), "+1 -1 +2");
}

TEST_F(IntegrationTest, AFailingOrForeignLibraryEndsOnlyItsOwnRegistration) {
  const std::string fault = "fault" + unique_ + ".dll", after = "after" + unique_ + ".dll";
  const std::string foreign = "foreign" + unique_ + ".dll";
  File notALibrary = MakeFile("text" + unique_ + ".dll", 300, 7);
  notALibrary.flags |= FileFlagSelfRegister;
  pkg_.files = {Component(fault, "component_fault.dll"), notALibrary};
  // A library of the other processor, when the other build is at hand.
  const std::string other = UnixFile(SETRUN_OTHER_BUILD "/component_1.dll");
  const bool haveForeign = Exists(other);
  if (haveForeign) pkg_.files.push_back(FileFrom(foreign, other));
  if (haveForeign) pkg_.files.back().flags |= FileFlagSelfRegister;
  values_.push_back(foreign + ".history");
  pkg_.files.push_back(Component(after, "component_1.dll"));
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(History(fault), "+9");  // it ran, then failed inside
  EXPECT_EQ(History(after), "+1");
  EXPECT_EQ(History(foreign), "<none>");
  if (!haveForeign) GTEST_SKIP() << other << " is missing: build both Windows builds";
}

TEST_F(IntegrationTest, ALockedComponentIsRegisteredAtTheNextStart) {
  const std::string name = "locked" + unique_ + ".dll";
  pkg_.files = {Component(name, "component_1.dll")};
  Install();
  ASSERT_EQ(History(name), "+1");
  // The RunOnce names 000 and 001 are taken: the command goes to 002.
  std::vector<std::string> created;
  for (const char* taken : {"ZPLaunch000", "ZPLaunch001"})
    if (RegText(HKEY_LOCAL_MACHINE, RunOnceKey, taken) == "<none>") {
      RegSet(HKEY_LOCAL_MACHINE, RunOnceKey, taken, "rem taken");
      created.push_back(taken);
    }
  const bool free002 = RegText(HKEY_LOCAL_MACHINE, RunOnceKey, "ZPLaunch002") == "<none>";
  HMODULE held = LoadLibraryA(In(name).c_str());
  ASSERT_NE(held, nullptr);
  pkg_.files = {Component(name, "component_2.dll")};
  Install();
  FreeLibrary(held);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateAtRestart);
  EXPECT_EQ(RestartState, 1);
  // The old library left the registry at once; the new one registers at the
  // next start.
  EXPECT_EQ(History(name), "+1 -1");
  EXPECT_EQ(RunOnceCounter, 3u);
  std::string registrar = "regsvr32";
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
    char folder[MAX_PATH];
    GetSystemWow64DirectoryA(folder, MAX_PATH);
    registrar = std::string(folder) + "\\regsvr32.exe";
  }
  if (free002) {
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, RunOnceKey, "ZPLaunch002"),
              registrar + " /s \"" + In(name) + "\"");
    created.push_back("ZPLaunch002");
  }
  for (const std::string& v : created) RegDelete(HKEY_LOCAL_MACHINE, RunOnceKey, v);
}

TEST_F(IntegrationTest, AnEntryThatCannotBeCommittedEndsTheRunWithCode22) {
  const std::string first = "first" + unique_ + ".dll", stuck = "stuck" + unique_ + ".dll";
  const std::string later = "later" + unique_ + ".dll";
  pkg_.files = {Component(first, "component_1.dll"), Component(stuck, "component_2.dll"),
                Component(later, "component_1.dll")};
  Load();
  CreateDirectoryA(install_.c_str(), nullptr);
  // An older build stands at the second target; its new copy vanishes
  // before the commit, so the target cannot be replaced (state 27).
  ASSERT_TRUE(CopyFileA(HereFile("component_1.dll").c_str(), In(stuck).c_str(), FALSE));
  ASSERT_EQ(InstallAll(), 3);
  ASSERT_TRUE(KeptCopy(1) && KeptCopy(2));
  const std::string laterCopy = KeptCopy(2);
  ASSERT_TRUE(DeleteFileA(KeptCopy(1)));
  FinishInstallation();
  EXPECT_EQ(InstallResult, CodeAccessDenied);
  EXPECT_STREQ(ErrorDetail, In(stuck).c_str());
  EXPECT_EQ(State(0), StateNew);  // committed before: stays committed
  EXPECT_EQ(History(first), "+1");
  EXPECT_EQ(State(1), StateDenied);
  EXPECT_EQ(History(stuck), "-1 +1");  // the old build registered again
  EXPECT_EQ(ReadAll(In(stuck)), ReadAll(HereFile("component_1.dll")));
  EXPECT_FALSE(Exists(In(later)));  // neither put in place nor registered
  EXPECT_FALSE(Exists(laterCopy));
  EXPECT_EQ(History(later), "<none>");
  EXPECT_EQ(KeptCopy(2), nullptr);
}

TEST_F(IntegrationTest, AKeptComponentIsRegisteredOnlyWithSwitchF) {
  const std::string name = "kept" + unique_ + ".dll";
  File kept = Component(name, "component_1.dll");
  kept.flags |= FileFlagOnlyIfAbsent;
  pkg_.files = {kept};
  CreateDirectoryA(install_.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(HereFile("component_2.dll").c_str(), In(name).c_str(), FALSE));
  Install();
  EXPECT_EQ(State(0), StateKept);
  EXPECT_EQ(History(name), "<none>");
  Install(1);
  EXPECT_EQ(State(0), StateKept);
  EXPECT_EQ(History(name), "+2");  // the library that stays
}

TEST_F(IntegrationTest, RegistryScriptsAndTypeLibraries) {
  const std::string scriptKey = "Software\\SetrunTest\\Script" + unique_;
  auto script = [&](const char* value) {
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + scriptKey + "]\r\n\"Value\"=\"" +
                       value + "\"\r\n\r\n";
    File f;
    f.name = "settings.reg";
    f.data.assign(text.begin(), text.end());
    f.flags |= FileFlagSelfRegister;
    f.options |= FileOptionRegistryScript;
    return f;
  };
  // A type library made here, with a GUID of this run.
  GUID guid = {0x5e7a0000u + (u32)(GetTickCount() & 0xFFFF), 0x1234, 0x5678,
               {1, 2, 3, 4, 5, 6, 7, 8}};
  const std::string made = dir_ + "\\made.tlb";
  {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, made.c_str(), -1, wide, MAX_PATH);
    ICreateTypeLib2* create = nullptr;
    ASSERT_EQ(CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, wide, &create), S_OK);
    create->SetGuid(guid);
    create->SetName((LPOLESTR)L"SetrunTestLibrary");
    create->SetVersion(1, 0);
    ASSERT_EQ(create->SaveAllChanges(), S_OK);
    create->Release();
  }
  File types = FileFrom("types.tlb", made);
  types.flags |= FileFlagSelfRegister;
  types.options |= FileOptionTypeLibrary;
  File broken = MakeFile("broken.tlb", 200, 9);  // registers neither way: no error
  broken.flags |= FileFlagSelfRegister;
  broken.options |= FileOptionTypeLibrary;
  pkg_.files = {script("first"), types, broken};
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, scriptKey.c_str(), "Value"), "first");
  BSTR registered = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(guid, 1, 0, LOCALE_NEUTRAL, &registered), S_OK);
  char path[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, registered, -1, path, MAX_PATH, nullptr, nullptr);
  SysFreeString(registered);
  const char* registeredPath = strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
  EXPECT_EQ(lstrcmpiA(registeredPath, In("types.tlb").c_str()), 0) << path;
  UnRegisterTypeLib(guid, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);

  // A script that is in use waits for the next start, but is imported at
  // once from its new copy.
  HANDLE held = CreateFileA(In("settings.reg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  pkg_.files = {script("second")};
  Install();
  CloseHandle(held);
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateAtRestart);
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, scriptKey.c_str(), "Value"), "second");
  RegDeleteKeyA(HKEY_CURRENT_USER, scriptKey.c_str());
}

TEST_F(IntegrationTest, FontsAreNamedRegisteredAndReplaced) {
  const std::string sans = UnixFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  const std::string serif = UnixFile("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf");
  if (!Exists(sans) || !Exists(serif)) GTEST_SKIP() << "fonts-dejavu-core is not installed";
  // Wine registers the fonts of the host under their names: those values
  // are put back afterwards.
  struct Restore {
    std::string sans = RegText(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)");
    std::string serif = RegText(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Serif (TrueType)");
    ~Restore() {
      RegDelete(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)");
      RegDelete(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Serif (TrueType)");
      if (sans != "<none>") RegSet(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)", sans);
      if (serif != "<none>") RegSet(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Serif (TrueType)", serif);
    }
  } restore;
  RegDelete(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)");
  RegDelete(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Serif (TrueType)");
  const std::string name = "setrun" + unique_ + ".ttf";
  File font = FileFrom(name, sans);
  font.kind = DestFonts;
  pkg_.files = {font};
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateNew);
  const std::string fonts = ShellFolder(CSIDL_FONTS);
  EXPECT_EQ(ReadAll(fonts + "\\" + name), font.data);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)"), name);

  // Another font under the same file name: the old one leaves first.
  File replacement = FileFrom(name, serif);
  replacement.kind = DestFonts;
  pkg_.files = {replacement};
  Install();
  EXPECT_EQ(InstallResult, 0);
  EXPECT_EQ(State(0), StateReplaced);
  EXPECT_EQ(ReadAll(fonts + "\\" + name), replacement.data);
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Sans (TrueType)"), "<none>");
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, FontsKey, "DejaVu Serif (TrueType)"), name);

  RemoveFontResourceA((fonts + "\\" + name).c_str());
  DeleteFileA((fonts + "\\" + name).c_str());
}
