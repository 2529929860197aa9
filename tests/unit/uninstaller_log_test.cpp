// The uninstaller's portable part: reading the log appended to its file, the
// check of changed files, and the order of the removal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uninstaller/log.h"
#include "uninstaller/plan.h"

namespace {

using Bytes = std::vector<u8>;

void U16(Bytes& b, u16 v) { b.push_back((u8)v); b.push_back((u8)(v >> 8)); }
void U32(Bytes& b, u32 v) { for (int i = 0; i < 4; ++i) b.push_back((u8)(v >> (8 * i))); }
void Str(Bytes& b, const std::string& s) { U16(b, (u16)s.size()); b.insert(b.end(), s.begin(), s.end()); }
void Rec(Bytes& b, u16 type, const Bytes& payload, u16 flags = 0) {
  U16(b, type); U16(b, flags); U32(b, (u32)payload.size());
  b.insert(b.end(), payload.begin(), payload.end());
}

struct F { std::string folder, name; u8 flags; };
Bytes Files(const std::vector<F>& files) {
  Bytes p; U32(p, (u32)files.size());
  for (const F& f : files) { Str(p, f.folder); Str(p, f.name); p.push_back(f.flags); }
  return p;
}
struct S { u8 depth; std::string folder, actual, name; };
Bytes Shortcuts(const std::vector<S>& items) {
  Bytes p; U32(p, (u32)items.size());
  for (const S& s : items) { p.push_back(s.depth); Str(p, s.folder); Str(p, s.actual); Str(p, s.name); }
  return p;
}
Bytes Key(u32 root, const std::string& key) { Bytes p; U32(p, root); Str(p, key); return p; }
Bytes Value(u32 root, const std::string& key, const std::string& value) {
  Bytes p = Key(root, key); Str(p, value); return p;
}
struct C { std::string name; u32 size, checksum; };
Bytes Checks(const std::vector<C>& checks) {
  Bytes p; U32(p, (u32)checks.size());
  for (const C& c : checks) { Str(p, c.name); U32(p, c.size); U32(p, c.checksum); }
  return p;
}
Bytes End(u16 flags = RecordCompletedLog) { Bytes b; Rec(b, RecordEndOfTables, {}, flags); return b; }
Bytes operator+(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

// Two installations appended to one uninstaller, as the builder and the
// setup program write them.
Bytes TwoInstallations() {
  Bytes log;
  Bytes texts; U32(texts, 2); Str(texts, "Tool Uninstall"); Str(texts, "Remove Tool?");
  Rec(log, LogTexts, texts);
  Rec(log, LogFiles, Files({{".", "tool.exe", 0}, {".\\docs", "a.txt", 0},
                            {"C:\\windows\\system32", "shared.dll", 0x1}, {".\\data", "", 0}}));
  Rec(log, LogShortcuts, Shortcuts({{1, "C:\\Start\\Programs\\Tool\\Extra", "", "Tool.lnk"}}));
  Rec(log, LogUninstallValues, {0, 0, 0, 0});
  Rec(log, LogRegistryKey, Key(2, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool"));
  Rec(log, LogRegistryValue, Value(1, "Software\\Tool", "Path"));
  Rec(log, LogFileChecks, Checks({{"tool.exe", 10, 100}, {"docs\\a.txt", 3, 30}, {"shared.dll", 5, 50}}));
  Rec(log, 0x4242, {1, 2, 3});  // a record of a later version is passed over
  Rec(log, LogFiles, Files({{".", "patch.dll", 0x4}}));
  Rec(log, LogFileChecks, Checks({{"patch.dll", 7, 70}}));
  return log + End();
}

struct Read {
  UninstallLog log;
  int status;
  explicit Read(const Bytes& b) { status = ReadUninstallLog(b.data(), (u32)b.size(), &log); }
  ~Read() { FreeUninstallLog(&log); }
};

std::string Text(LogText t) { return std::string(t.text, t.length); }

TEST(UninstallLog, ReadsEveryRecordOfEveryInstallation) {
  Bytes bytes = TwoInstallations();
  Read r(bytes);
  ASSERT_EQ(r.status, LogReadable);
  EXPECT_EQ(r.log.installations, 2u);
  ASSERT_EQ(r.log.fileCount, 5u);
  EXPECT_EQ(Text(r.log.files[1].folder), ".\\docs");
  EXPECT_EQ(Text(r.log.files[2].name), "shared.dll");
  EXPECT_EQ(r.log.files[2].flags, 0x1);
  EXPECT_EQ(r.log.files[3].installation, 0u);
  EXPECT_EQ(r.log.files[4].installation, 1u);
  ASSERT_EQ(r.log.shortcutCount, 1u);
  EXPECT_EQ(r.log.shortcuts[0].depth, 1);
  ASSERT_EQ(r.log.registryCount, 2u);
  EXPECT_EQ(r.log.registry[0].root, 2u);
  EXPECT_EQ(r.log.registry[1].isValue, 1);
  EXPECT_EQ(Text(r.log.registry[1].value), "Path");
  EXPECT_EQ(r.log.checkCount, 4u);
  EXPECT_EQ(Text(r.log.texts[TextTitle]), "Tool Uninstall");
  EXPECT_EQ(r.log.texts[TextDone].length, 0u);
}

// Whatever is wrong, nothing is readable: the uninstaller removes nothing.
TEST(UninstallLog, DamagedOrIncompleteLogsAreRefused) {
  Bytes filesOnly; Rec(filesOnly, LogFiles, Files({{".", "a", 0}}));
  struct Case { const char* what; Bytes log; int status; };
  Bytes compressed; Rec(compressed, LogFiles, Files({{".", "a", 0}}), RecordCompressed);
  Bytes longRecord = filesOnly; longRecord[4] = 200;
  Bytes shortRecord = filesOnly; shortRecord[4] -= 1;
  Bytes texts; Rec(texts, LogTexts, {0, 0, 0, 0});
  const Case cases[] = {
      {"empty", {}, LogDamaged},
      {"installation never finished", filesOnly + End(0), LogIncomplete},
      {"packaged start only", texts + End(0), LogIncomplete},
      {"no file log", texts + End(), LogIncomplete},
      {"no end header", filesOnly, LogDamaged},
      {"bytes behind the end", filesOnly + End() + Bytes{0}, LogDamaged},
      {"end header with a size", filesOnly + Bytes{0x7F, 0x7F, 2, 0, 1, 0, 0, 0, 9}, LogDamaged},
      {"record past the end", longRecord + End(), LogDamaged},
      {"entry past its record", shortRecord + End(), LogDamaged},
      {"compressed record", compressed + End(), LogDamaged},
      {"step up", [] { Bytes b; Rec(b, LogFiles, Files({{".\\..\\..", "a", 0}})); return b; }() + End(), LogDamaged},
      {"relative without .\\", [] { Bytes b; Rec(b, LogFiles, Files({{"sub", "a", 0}})); return b; }() + End(), LogDamaged},
      {"name with a folder", [] { Bytes b; Rec(b, LogFiles, Files({{".", "x\\a", 0}})); return b; }() + End(), LogDamaged},
      {"terminator in a name", [] { Bytes b; Rec(b, LogFiles, Files({{".", std::string("a\0b", 3), 0}})); return b; }() + End(), LogDamaged},
      {"relative shortcut folder", filesOnly + [] { Bytes b; Rec(b, LogShortcuts, Shortcuts({{0, ".", "", "a.lnk"}})); return b; }() + End(), LogDamaged},
      {"unknown root", filesOnly + [] { Bytes b; Rec(b, LogRegistryKey, Key(7, "Software\\X")); return b; }() + End(), LogDamaged},
      {"key naming its parent", filesOnly + [] { Bytes b; Rec(b, LogRegistryKey, Key(2, "Software\\")); return b; }() + End(), LogDamaged},
      {"empty key", filesOnly + [] { Bytes b; Rec(b, LogRegistryValue, Value(2, "", "v")); return b; }() + End(), LogDamaged},
      {"key with bytes left", filesOnly + [] { Bytes b; Rec(b, LogRegistryKey, Key(2, "Software\\X") + Bytes{0}); return b; }() + End(), LogDamaged},
  };
  for (const Case& c : cases) {
    Read r(c.log);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.log.fileCount, 0u) << c.what;
  }
  // Every log cut short is refused.
  Bytes whole = TwoInstallations();
  for (size_t n = 0; n < whole.size(); ++n) {
    Bytes cut(whole.begin(), whole.begin() + n);
    Read r(cut);
    EXPECT_NE(r.status, LogReadable) << n;
  }
}

TEST(UninstallLog, ThePathsOfLoggedFiles) {
  LoggedFile f;
  struct Case { const char* folder; const char* name; const char* path; };
  const Case cases[] = {
      {".", "a.txt", "C:\\Tool\\a.txt"},
      {".\\docs\\en", "b.txt", "C:\\Tool\\docs\\en\\b.txt"},
      {"C:\\windows\\fonts", "c.ttf", "C:\\windows\\fonts\\c.ttf"},
      {"C:\\", "d.ini", "C:\\d.ini"},
  };
  char out[260];
  for (const Case& c : cases) {
    f.folder = {c.folder, (u32)strlen(c.folder)};
    f.name = {c.name, (u32)strlen(c.name)};
    EXPECT_EQ(LoggedFilePath(&f, "C:\\Tool\\", out, sizeof out), strlen(c.path));
    EXPECT_STREQ(out, c.path);
  }
  std::string longName(252, 'x');  // 8 + 252 bytes leave no room for the terminator
  f.folder = {".", 1};
  f.name = {longName.c_str(), (u32)longName.size()};
  EXPECT_EQ(LoggedFilePath(&f, "C:\\Tool\\", out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
}

TEST(UninstallLog, ChangedFilesAreFoundBySizeAndChecksum) {
  Bytes log;
  Rec(log, LogFiles, Files({{".", "tool.exe", 0}, {".\\docs", "a.txt", 0}, {".\\other", "a.txt", 0},
                            {".", "free.txt", 0}, {"C:\\windows\\system32", "x.dll", 0}}));
  // Two entries of x.dll for different Windows versions: either is right.
  Rec(log, LogFileChecks, Checks({{"tool.exe", 10, 100}, {"DOCS\\A.TXT", 3, 30},
                                  {"x.dll", 1, 1}, {"x.dll", 2, 2}}));
  Bytes bytes = log + End();
  Read r(bytes);
  ASSERT_EQ(r.status, LogReadable);
  const LoggedFile* f = r.log.files;
  struct Case { const LoggedFile* file; u32 size, checksum; int expected; };
  const Case cases[] = {
      {&f[0], 10, 100, CheckSame},    {&f[0], 10, 101, CheckChanged}, {&f[0], 11, 100, CheckChanged},
      {&f[1], 3, 30, CheckSame},      // the folder of the check ends the logged folder
      {&f[2], 3, 30, CheckUnknown},   // .\other\a.txt is not docs\a.txt
      {&f[3], 0, 0, CheckUnknown},    // no check names it
      {&f[4], 2, 2, CheckSame},       {&f[4], 1, 1, CheckSame}, {&f[4], 3, 3, CheckChanged},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(CompareWithLog(&r.log, cases[i].file, cases[i].size, cases[i].checksum), cases[i].expected) << i;
}

std::string Describe(const UninstallLog& log, const RemovalPlan& plan, const RemovalStep& s) {
  char path[520];
  switch (s.kind) {
    case StepShortcut: ShortcutPath(&log.shortcuts[s.item], path); return "link " + std::string(path);
    case StepFile: LoggedFilePath(&log.files[s.item], "C:\\Tool\\", path, sizeof path); return "file " + std::string(path);
    case StepRegistry: return (log.registry[s.item].isValue ? "value " : "key ") + Text(log.registry[s.item].key);
    default: return "folder " + std::string(plan.folders[s.item]);
  }
}

TEST(RemovalPlan, NewestInstallationFirstThenFoldersDeepestFirst) {
  Bytes bytes = TwoInstallations();
  Read r(bytes);
  ASSERT_EQ(r.status, LogReadable);
  RemovalPlan plan;
  ASSERT_EQ(BuildRemovalPlan(&r.log, "C:\\Tool\\", &plan), 1);
  std::vector<std::string> steps;
  for (u32 i = 0; i < plan.stepCount; ++i) steps.push_back(Describe(r.log, plan, plan.steps[i]));
  const std::vector<std::string> expected = {
      "file C:\\Tool\\patch.dll",
      "link C:\\Start\\Programs\\Tool\\Extra\\Tool.lnk",
      "file C:\\Tool\\data\\",
      "file C:\\windows\\system32\\shared.dll",
      "file C:\\Tool\\docs\\a.txt",
      "file C:\\Tool\\tool.exe",
      "value Software\\Tool",
      "key Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool",
      "folder C:\\Start\\Programs\\Tool\\Extra",
      "folder C:\\Start\\Programs\\Tool",
      "folder C:\\Tool\\docs",
      "folder C:\\windows\\system32",
      "folder C:\\Tool\\data",
      "folder C:\\Tool",
  };
  EXPECT_EQ(steps, expected);
  FreeRemovalPlan(&plan);
}

TEST(RemovalPlan, ShortcutsSavedElsewhereAreRemovedThere) {
  Bytes log;
  Rec(log, LogFiles, Files({}));
  Rec(log, LogShortcuts, Shortcuts({{0, "C:\\Desktop", "C:\\Users\\Desktop", "A.pif"}}));
  Bytes bytes = log + End();
  Read r(bytes);
  ASSERT_EQ(r.status, LogReadable);
  char path[260];
  ASSERT_EQ(ShortcutPath(&r.log.shortcuts[0], path), 1);
  EXPECT_STREQ(path, "C:\\Users\\Desktop\\A.pif");
}

// A minimal program image: headers, two sections, maybe a signature.
Bytes Image(u32 signatureAt, u32 signatureSize) {
  Bytes b(0x400, 0);
  b[0] = 'M'; b[1] = 'Z';
  b[0x3C] = 0x80;
  memcpy(&b[0x80], "PE\0\0", 4);
  b[0x86] = 2;     // sections
  b[0x94] = 0xE0;  // optional header size (PE32)
  b[0x98] = 0x0B; b[0x99] = 0x01;
  u32 dirs = 0x98 + 96;
  auto put = [&](u32 at, u32 v) { for (int i = 0; i < 4; ++i) b[at + i] = (u8)(v >> (8 * i)); };
  put(dirs + 4 * 8, signatureAt);
  put(dirs + 4 * 8 + 4, signatureSize);
  u32 table = 0x98 + 0xE0;
  put(table + 16, 0x200); put(table + 20, 0x200);
  put(table + 40 + 16, 0x100); put(table + 40 + 20, 0x300);
  return b;
}

TEST(UninstallLog, TheLogStartsWhereTheImageEnds) {
  Bytes plain = Image(0, 0);
  EXPECT_EQ(ImageEnd(plain.data(), (u32)plain.size()), 0x400u);
  Bytes signedImage = Image(0x400, 0x80);
  signedImage.resize(0x500);
  EXPECT_EQ(ImageEnd(signedImage.data(), (u32)signedImage.size()), 0x480u);
  Bytes cut = Image(0, 0);
  cut.resize(0x3F0);  // the second section's data is not all there
  EXPECT_EQ(ImageEnd(cut.data(), (u32)cut.size()), 0u);
  Bytes notImage = plain;
  notImage[0x80] = 'X';
  EXPECT_EQ(ImageEnd(notImage.data(), (u32)notImage.size()), 0u);
}

}  // namespace
