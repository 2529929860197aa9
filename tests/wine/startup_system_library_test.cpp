// Libraries loaded from the system folder, and the common controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "startup/common_ui.h"
#include "base/system_library.h"

namespace {

std::string SystemFolder() {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder, length);
}

std::string ModulePath(void* module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA((HMODULE)module, path, MAX_PATH);
  return path;
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolder) {
  void* module = LoadSystemLibrary("version.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(0, lstrcmpiA((SystemFolder() + "\\version.dll").c_str(), ModulePath(module).c_str()))
      << ModulePath(module);
  EXPECT_NE(nullptr, LibraryFunction(module, "GetFileVersionInfoA"));
  EXPECT_EQ(nullptr, LibraryFunction(module, "NoSuchFunction"));
  FreeLibrary((HMODULE)module);
  // Names are not case-sensitive.
  module = LoadSystemLibrary("RICHED20.DLL");
  EXPECT_NE(nullptr, module);
  if (module) FreeLibrary((HMODULE)module);
}

TEST(LoadSystemLibrary, OnlyPlainFileNames) {
  EXPECT_EQ(nullptr, LoadSystemLibrary(nullptr));
  EXPECT_EQ(nullptr, LoadSystemLibrary(""));
  EXPECT_EQ(nullptr, LoadSystemLibrary("no-such-library.dll"));
  // Paths could leave the system folder.
  EXPECT_EQ(nullptr, LoadSystemLibrary("..\\system32\\version.dll"));
  EXPECT_EQ(nullptr, LoadSystemLibrary("drivers/../version.dll"));
  EXPECT_EQ(nullptr, LoadSystemLibrary((SystemFolder() + "\\version.dll").c_str()));
  EXPECT_EQ(nullptr, LoadSystemLibrary("C:version.dll"));
  // A name that does not fit behind the folder is refused, not cut.
  std::string longName = std::string(MAX_PATH, 'v') + ".dll";
  EXPECT_EQ(nullptr, LoadSystemLibrary(longName.c_str()));
  std::string cutToVersion = std::string(MAX_PATH - SystemFolder().size() - 12, 'v');
  EXPECT_EQ(nullptr, LoadSystemLibrary((cutToVersion + "version.dll").c_str()));
}

TEST(LibraryFunction, WithoutModuleThereIsNoFunction) {
  EXPECT_EQ(nullptr, LibraryFunction(nullptr, "GetTickCount"));
  EXPECT_NE(nullptr, LibraryFunction(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
}

TEST(CommonUi, RegistersTheCommonControlClasses) {
  InitCommonUi();
  WNDCLASSEXA info;
  info.cbSize = sizeof info;
  EXPECT_TRUE(GetClassInfoExA(nullptr, "msctls_progress32", &info));
  HMODULE controls = GetModuleHandleA("comctl32.dll");
  ASSERT_NE(nullptr, controls);
  EXPECT_EQ(0, lstrcmpiA((SystemFolder() + "\\comctl32.dll").c_str(), ModulePath(controls).c_str()));
  EXPECT_NE(nullptr, GetModuleHandleA("uxtheme.dll"));
  LimitThemes();
  ReleaseCommonUi();
  // Releasing twice, or limiting themes after the release, does nothing.
  ReleaseCommonUi();
  LimitThemes();
}

}  // namespace
