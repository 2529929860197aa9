// Project files: what each key becomes, and the messages for faulty projects.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <string.h>
#include <unistd.h>

#include "builder/codepage.h"
#include "builder/project.h"
#include "builder/texts.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;
using setrunc::BuildError;
using setrunc::LoadedProject;

namespace {

class ProjectFile : public ::testing::Test {
 protected:
  TempDir dir;
  setrunc::Defines defines;

  LoadedProject Load(const std::string& text) {
    return setrunc::LoadProjectText(text, "demo.toml", dir.path(), defines);
  }
  // The message of the error the project raises ("" when it loads).
  std::string Error(const std::string& text) {
    try {
      Load(text);
    } catch (const BuildError& e) {
      return e.what();
    }
    return "";
  }
  // A project of one group whose files have these [[group.file]] bodies.
  static std::string Files(const std::vector<std::string>& bodies) {
    std::string text = "[[group]]\n";
    for (const std::string& b : bodies) text += "[[group.file]]\n" + b;
    return text;
  }
};

TEST_F(ProjectFile, AFewLinesMakeACompleteInstaller) {
  WriteFile(dir / "app.exe", "program");
  LoadedProject p = Load(
      "title = \"Tool\"\n"
      "[[group]]\n"
      "[[group.file]]\n"
      "source = \"app.exe\"\n");
  EXPECT_EQ(p.stub, "x86");
  ASSERT_EQ(p.project.groups.size(), 1u);
  const setrunc::Group& g = p.project.groups[0];
  EXPECT_EQ(*g.defaultFolder, "#Program Files#\\Tool");
  EXPECT_EQ(g.texts[7][0], "Tool");
  EXPECT_EQ(g.texts[7].size(), 33u);
  EXPECT_EQ(g.pages, (std::vector<u8>{PageWelcome, PageInstallFolder, PageReady, PageInstalling, PageFinish}));
  ASSERT_EQ(g.files.size(), 1u);
  const setrunc::FileEntry& e = g.files[0];
  EXPECT_EQ(e.strings[0], "app.exe");
  EXPECT_EQ(e.flags, FileFlagWindowsMask);  // installed on every Windows version
  EXPECT_EQ(e.options, FileOptionOrdinary);
  EXPECT_EQ(e.destination, (u32)DestInstallDir);
  EXPECT_EQ(e.data.path, dir / "app.exe");
}

TEST_F(ProjectFile, EveryKeyReachesItsField) {
  WriteFile(dir / "a.dll", "dll");
  WriteFile(dir / "licence.txt", "Terms \xE2\x82\xAC\nline two\r\n");
  WriteFile(dir / "uninst.exe", "MZuninstaller");
  LoadedProject p = Load(R"(
title = "Caf\u00e9"
stub = "x64"
compression = 3
volume_size = "1440K"
uninstaller = "uninst.exe"
image_table_hex = "01 02 03"
forced_page = { page = "ready", group = 1 }
texts = { "8/2" = "Quit" }
[layout]
flags = ["fullscreen", "gradient", "silent"]
colour_a = "#102030"
colour_b = 0x00123456
frame_width = 600
frame_height = 400
button_bar_flags = ["etched_line", "keep_visual_styles"]
button_bar_colour = "system"
button_bar_height = 40
font = { face = "Verdana", height = -12, weight = 700, italic = true, charset = 1 }
[[group]]
name = "Main"
second_name = "Main 2"
flags = ["folder_changeable", "uninstall_entry", "folder_to_registry"]
flags2 = ["no_finish_page", 0x100]
registry = { root = "HKCU", key = "Software\\Caf\u00e9", value = "Dir" }
folder = "C:\\Caf\u00e9"
ini = { file = "a.ini", section = "S", key = "K" }
pages = ["welcome", "licence", 3, "finish"]
texts = { "2/2" = { file = "licence.txt" }, "9/1" = "extra" }
registry_entries_hex = "3712000010000000"
uninstaller = "Uninstall.exe"
uninstaller_log_hex = "AABB"
[[group.file]]
source = "a.dll"
name = "sys/a.dll"
destination = "system"
flags = ["shared", "self_register", "check_space"]
windows = ["xp", "vista"]
run = 2
options = ["read_only"]
start_menu_window = "maximised"
desktop_window = "minimised"
register_method = 2
icon_index = 4
start_menu_folder = "Vendor"
start_menu_name = "A.lnk"
start_menu_args = "-a"
start_menu_icon = "a.ico"
desktop_name = "A desk.lnk"
desktop_args = "-d"
desktop_icon = "d.ico"
run_args = "/s"
version = "1.2.3.4"
language = 0x409
times = 2020-01-01T00:00:00Z
[[group.file]]
name = "data\\logs"
flags = ["folder_entry"]
[[group.file]]
source = "a.dll"
name = "b.dll"
custom_folder = "#Windows#\\x"
flags = 0x000FE401
[[group]]
)");
  const setrunc::Project& pr = p.project;
  EXPECT_EQ(p.stub, "x64");
  EXPECT_EQ(pr.compressionLevel, 3);
  EXPECT_EQ(pr.volumeSize, 1440u * 1024);
  EXPECT_EQ(*pr.uninstallerImage, Bytes({'M', 'Z', 'u', 'n', 'i', 'n', 's', 't', 'a', 'l', 'l', 'e', 'r'}));
  EXPECT_EQ(*pr.imageTable, Bytes({1, 2, 3}));
  ASSERT_TRUE(pr.forcedPage);
  EXPECT_EQ(pr.forcedPage->page, PageReady);
  EXPECT_EQ(pr.forcedPage->group, 1);
  EXPECT_EQ(pr.layout.flags, LayoutFlagFullScreen | LayoutFlagGradient | LayoutFlagSilent);
  EXPECT_EQ(pr.layout.colourA, 0x00302010u);  // #RRGGBB becomes 0x00BBGGRR
  EXPECT_EQ(pr.layout.colourB, 0x00123456u);
  EXPECT_EQ(pr.layout.frameWidth, 600);
  EXPECT_EQ(pr.layout.frameHeight, 400);
  EXPECT_EQ(pr.layout.buttonBarFlags, 3u);
  EXPECT_EQ(pr.layout.buttonBarColour, SystemColour);
  EXPECT_EQ(pr.layout.buttonBarHeight, 40);
  EXPECT_EQ(pr.layout.font.faceName, "Verdana");
  EXPECT_EQ(pr.layout.font.height, -12);
  EXPECT_EQ(pr.layout.font.weight, 700);
  EXPECT_EQ(pr.layout.font.italic, 1);
  EXPECT_EQ(pr.layout.font.charSet, 1);

  ASSERT_EQ(pr.groups.size(), 2u);
  const setrunc::Group& g = pr.groups[0];
  EXPECT_EQ(*g.displayName, "Main");
  EXPECT_EQ(*g.secondName, "Main 2");
  EXPECT_EQ(g.flags, GroupFlagFolderChangeable | GroupFlagUninstallEntry | GroupFlagFolderToRegistry);
  EXPECT_EQ(g.flags2, Group2NoFinishPage | 0x100u);
  EXPECT_EQ(g.registryRoot, 1u);
  EXPECT_EQ(*g.registryKey, "Software\\Caf\xE9");  // code page 1252
  EXPECT_EQ(*g.registryValue, "Dir");
  EXPECT_EQ(*g.defaultFolder, "C:\\Caf\xE9");
  EXPECT_EQ(*g.iniFile, "a.ini");
  EXPECT_EQ(*g.iniSection, "S");
  EXPECT_EQ(*g.iniKey, "K");
  EXPECT_EQ(g.pages, (std::vector<u8>{PageWelcome, PageLicence, PageInstallFolder, PageFinish}));
  EXPECT_EQ(g.texts[2][2], "Terms \x80\r\nline two\r\n");  // line ends become CR LF
  EXPECT_EQ(g.texts[9], (std::vector<std::string>{"", "extra"}));
  EXPECT_EQ(g.texts[8][2], "Quit");  // project-wide text
  EXPECT_EQ(g.texts[7][0], "Caf\xE9");
  EXPECT_EQ(pr.groups[1].texts[8][2], "Quit");
  EXPECT_EQ(*g.registryEntries, Bytes({0x37, 0x12, 0, 0, 0x10, 0, 0, 0}));

  ASSERT_EQ(g.files.size(), 4u);
  const setrunc::FileEntry& a = g.files[0];
  EXPECT_EQ(a.strings[0], "sys\\a.dll");
  EXPECT_EQ(a.destination, (u32)DestSystem);
  EXPECT_EQ(a.flags, FileFlagShared | FileFlagSelfRegister | FileFlagCheckSpace | OsWinXP | OsWinVista |
                         (2u << FileFlagRunPhaseShift) | FileFlagStartMenuShortcut | FileFlagDesktopShortcut |
                         FileFlagCompareVersion | FileFlagCompareLanguage | FileFlagTimes);
  EXPECT_EQ(a.options, FileOptionReadOnly | 2u | (1u << 2) | (2u << 13));
  EXPECT_EQ(a.iconIndex, 4);
  const char* strings[] = {"sys\\a.dll", "Vendor", "A.lnk", "-a", "a.ico", "A desk.lnk", "-d", "d.ico", "/s"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(a.strings[i], strings[i]) << i;
  EXPECT_EQ(a.versionMs, 0x00010002u);
  EXPECT_EQ(a.versionLs, 0x00030004u);
  EXPECT_EQ(a.language, 0x409u);
  EXPECT_EQ(a.times[2], 132223104000000000ull);  // 2020-01-01 as a FILETIME

  EXPECT_EQ(g.files[1].strings[0], "data\\logs\\");
  EXPECT_EQ(g.files[1].data.kind, setrunc::FileData::None);
  EXPECT_EQ(g.files[2].flags, 0x000FE401u);  // a number is taken as it stands
  EXPECT_EQ(g.files[2].destination, (u32)DestCustom);
  EXPECT_EQ(g.files[2].strings[9], "#Windows#\\x");

  const setrunc::FileEntry& u = g.files[3];  // the uninstaller entry comes last
  EXPECT_EQ(u.state, EntryStateUninstaller);
  EXPECT_EQ(u.strings[0], "Uninstall.exe");
  EXPECT_EQ(u.data.bytes, Bytes({0xAA, 0xBB, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ProjectFile, FoldersAndPatternsAddFilesInNameOrder) {
  std::system(("mkdir -p '" + (dir / "docs/b/c") + "'").c_str());
  WriteFile(dir / "docs/z.txt", "z");
  WriteFile(dir / "docs/a.txt", "a");
  WriteFile(dir / "docs/skip.tmp", "t");
  WriteFile(dir / "docs/b/c/deep.txt", "d");
  WriteFile(dir / "docs/b/one.md", "1");
  ASSERT_EQ(symlink("..", (dir / "docs/b/c/loop").c_str()), 0);  // walked once, not for ever
  LoadedProject p = Load(
      "[[group]]\n"
      "[[group.file]]\nsource = \"docs\"\nname = \"help\"\nexclude = [\"*.tmp\"]\n"
      "[[group.file]]\nsource = \"docs/b/*.md\"\n"
      "[[group.file]]\nsource = \"docs\"\nname = \"flat\"\nrecursive = false\nexclude = [\"*.tmp\"]\n");
  std::vector<std::string> names;
  for (const auto& e : p.project.groups[0].files) names.push_back(e.strings[0]);
  EXPECT_EQ(names, (std::vector<std::string>{"help\\a.txt", "help\\b\\c\\deep.txt", "help\\b\\one.md",
                                             "help\\z.txt", "one.md", "flat\\a.txt", "flat\\z.txt"}));
}

TEST_F(ProjectFile, TimesAndSizesComeFromTheSources) {
  WriteFile(dir / "t.txt", "twelve bytes");
  struct timespec times[2] = {{1700000000, 500}, {1600000000, 1200}};  // access, modification
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "t.txt").c_str(), times, 0), 0);
  LoadedProject p = Load(
      "[[group]]\n"
      "[[group.file]]\nsource = \"t.txt\"\ntimes = true\n"
      "[[group.file]]\nsource = \"t.txt\"\nname = \"beside.txt\"\nflags = [\"source_folder\"]\n");
  const setrunc::FileEntry& e = p.project.groups[0].files[0];
  EXPECT_TRUE(e.flags & FileFlagTimes);
  const uint64_t filetime = (1600000000ull + 11644473600ull) * 10000000ull + 12;  // the modification time
  EXPECT_EQ(e.times[0], filetime);
  EXPECT_EQ(e.times[2], filetime);
  const setrunc::FileEntry& beside = p.project.groups[0].files[1];
  EXPECT_EQ(beside.data.kind, setrunc::FileData::None);  // not packed
  EXPECT_EQ(beside.sizeWithoutData, 12u);
  EXPECT_EQ(beside.checksumWithoutData, RotateAddSum(0, (const u8*)"twelve bytes", 12));
}

TEST_F(ProjectFile, DefinesFillSourcePaths) {
  WriteFile(dir / "built.exe", "x");
  const std::string project =
      "[defines]\nBIN = \"missing\"\n[[group]]\n[[group.file]]\nsource = \"${BIN}/built.exe\"\n";
  EXPECT_NE(Error(project).find("file not found"), std::string::npos);
  defines["BIN"] = dir.path();  // the command line wins over [defines]
  EXPECT_EQ(Load(project).project.groups[0].files[0].strings[0], "built.exe");
  std::string e = Error("[[group]]\n[[group.file]]\nsource = \"${NOPE}/a\"\n");
  EXPECT_NE(e.find("demo.toml:3:"), std::string::npos) << e;
  EXPECT_NE(e.find("${NOPE} is not defined"), std::string::npos) << e;
}

TEST_F(ProjectFile, ErrorsNameFileLineAndKey) {
  struct Case {
    std::string text, where, what;
  };
  WriteFile(dir / "a.txt", "a");
  const Case cases[] = {
      {"title = \"x\"\n[[group]\n", "demo.toml:2:", "TOML syntax error"},
      {"title = \"x\"\ncolour = 1\n[[group]]\n", "demo.toml:2:1: colour:", "unknown key"},
      {"[[group]]\nname = 1\n", "demo.toml:2:", "group[0].name: must be a string"},
      {"[[group]]\n[[group.file]]\nsource = \"a.txt\"\ndestination = \"moon\"\n", "demo.toml:4:",
       "group[0].file[0].destination: unknown destination 'moon'"},
      {"[[group]]\n[[group.file]]\nsource = \"a.txt\"\nflagz = []\n", "demo.toml:4:1:",
       "group[0].file[0].flagz: unknown key"},
      {"[[group]]\n\n[[group.file]]\nsource = \"gone.txt\"\n", "demo.toml:4:", "file not found: " + (dir / "gone.txt")},
      {"[[group]]\ntexts = { \"7/28\" = \"disk %s\" }\n", "demo.toml:2:", "group[0].texts.\"7/28\": may hold only a %d"},
      {"[[group]]\ntexts = { \"7/x\" = \"a\" }\n", "demo.toml:2:", "a text key is \"group/number\""},
      {"[layout]\nframe_width = -5\n[[group]]\n", "demo.toml:2:", "layout.frame_width: must lie between"},
      {"[[group]]\n[[group.file]]\nsource = \"a.txt\"\nname = \"..\\\\evil.txt\"\n", "demo.toml:4:",
       "leaves its destination folder"},
      {"[[group]]\n[[group.file]]\nsource = \"a.txt\"\n[[group.file]]\nsource = \"a.txt\"\nname = \"A.TXT\"\n",
       "demo.toml:6:8: group[0].file[1].name:", "'A.TXT' is the same file on Windows as 'a.txt' of group[0].file[0].source (line 3)"},
      {"[[group]]\nname = \"\xE4\xB8\xAD\"\n", "demo.toml:2:", "code page 1252 cannot hold"},
      {"title = \"x\"\n", "demo.toml: group:", "no install group"},
      {"forced_page = { page = \"ready\", group = 2 }\n[[group]]\n", "demo.toml:1:", "forced_page.group"},
      {"[[group]]\npages = [\"welcome\", \"bogus\"]\n", "demo.toml:2:", "group[0].pages[1]: unknown page"},
      {"[[group]]\n[[group.file]]\nname = \"x.txt\"\n", "demo.toml:2:", "needs 'source'"},
      {"volume_size = \"12Q\"\n[[group]]\n", "demo.toml:1:", "volume_size"},
  };
  for (const Case& c : cases) {
    std::string e = Error(c.text);
    EXPECT_EQ(e.rfind(c.where, 0), 0u) << "message: " << e << "\nexpected it to start with " << c.where;
    EXPECT_NE(e.find(c.what), std::string::npos) << "message: " << e << "\nexpected: " << c.what;
  }
}

TEST_F(ProjectFile, SourcesAreCheckedBeforeAnythingReadsThem) {
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir / "socket").c_str());
  ASSERT_EQ(bind(listener, (const sockaddr*)&address, sizeof address), 0);
  close(listener);
  WriteFile(dir / "huge", "");
  ASSERT_EQ(truncate((dir / "huge").c_str(), 4294967296), 0);  // sparse: nothing is written
  std::system(("mkdir -p '" + (dir / "folder") + "'").c_str());
  struct Case {
    std::string text, message;
  };
  const std::string at = "demo.toml:3:10: group[0].file[0].source: ";
  const Case cases[] = {
      {Files({"source = \"fifo\"\n"}), at + "'" + (dir / "fifo") + "' is a FIFO, not a file"},
      {Files({"source = \"/dev/zero\"\n"}), at + "'/dev/zero' is a device, not a file"},
      {Files({"source = \"socket\"\n"}), at + "'" + (dir / "socket") + "' is a socket, not a file"},
      {Files({"source = \"huge\"\n"}),
       at + "'" + (dir / "huge") + "' has 4294967296 bytes; a package holds files of less than 4 GiB"},
      {Files({"source = \"f*\"\n"}), at + "'" + (dir / "fifo") + "' is a FIFO, not a file"},
      {Files({"source = \"fifo\"\nflags = [\"source_folder\"]\n"}), at + "'" + (dir / "fifo") + "' is a FIFO, not a file"},
      {"[[group]]\ntexts = { \"2/2\" = { file = \"socket\" } }\n",
       "demo.toml:2:28: group[0].texts.\"2/2\".file: '" + (dir / "socket") + "' is a socket, not a file"},
      {"uninstaller = \"folder\"\n[[group]]\n", "demo.toml:1:15: uninstaller: '" + (dir / "folder") + "' is a folder, not a file"},
  };
  for (const Case& c : cases) EXPECT_EQ(Error(c.text), c.message) << c.text;
  // One byte less is the largest file a package holds.
  ASSERT_EQ(truncate((dir / "huge").c_str(), 4294967295), 0);
  EXPECT_EQ(Error(Files({"source = \"huge\"\n"})), "");
}

TEST_F(ProjectFile, SourcesThatChangeBeforeTheBuildAreNamedWithTheirKey) {
  WriteFile(dir / "a.txt", "a");
  WriteFile(dir / "b.txt", "b");
  LoadedProject p = Load(Files({"source = \"a.txt\"\n", "source = \"b.txt\"\n"}));
  struct Case {
    const char* change;
    std::string message;
  };
  const std::string at = "demo.toml:5:10: group[0].file[1].source: ";
  const Case cases[] = {
      {"", at + "file not found: " + (dir / "b.txt")},
      {"mkdir", at + "'" + (dir / "b.txt") + "' is a folder, not a file"},
  };
  for (const Case& c : cases) {
    std::system(("rm -rf '" + (dir / "b.txt") + "'").c_str());
    if (*c.change) std::system(("mkdir '" + (dir / "b.txt") + "'").c_str());
    try {
      setrunc::BuildInstaller(p.project, DummyStub(), dir / "setup.exe");
      ADD_FAILURE() << "built without " << (dir / "b.txt");
    } catch (const BuildError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST_F(ProjectFile, NamesAreComparedAndCheckedAsWindowsDoes) {
  WriteFile(dir / "a.txt", "a");
  auto twoNames = [&](const std::string& first, const std::string& second) {
    return Error(Files({"source = \"a.txt\"\nname = \"" + first + "\"\n",
                        "source = \"a.txt\"\nname = \"" + second + "\"\n"}));
  };
  struct Twins {
    std::string first, second, shownFirst, shownSecond;
  };
  const Twins same[] = {
      {"a.txt", "A.TXT", "a.txt", "A.TXT"},
      {"a.txt", "a.txt.", "a.txt", "a.txt."},
      {"a.txt", "a.txt .", "a.txt", "a.txt ."},
      {"docs/a.txt", "DOCS./a.txt", "docs\\a.txt", "DOCS.\\a.txt"},
      {"\u00e9t\u00e9.txt", "\u00c9T\u00c9.TXT", "\xE9t\xE9.txt", "\xC9T\xC9.TXT"},  // code page 1252
  };
  for (const Twins& t : same)
    EXPECT_EQ(twoNames(t.first, t.second),
              "demo.toml:7:8: group[0].file[1].name: '" + t.shownSecond + "' is the same file on Windows as '" +
                  t.shownFirst + "' of group[0].file[0].name (line 4)");
  EXPECT_EQ(twoNames("a.txt", "a.txt"),
            "demo.toml:7:8: group[0].file[1].name: 'a.txt' is installed by group[0].file[0].name (line 4) already");
  for (const char* other : {"a.txt.bak", "a txt", ".a.txt", "b/a.txt"}) EXPECT_EQ(twoNames("a.txt", other), "") << other;

  // Two files of one folder that Linux tells apart.
  std::system(("mkdir -p '" + (dir / "docs") + "'").c_str());
  WriteFile(dir / "docs/Read.me", "1");
  WriteFile(dir / "docs/read.ME", "2");
  EXPECT_EQ(Error(Files({"source = \"docs\"\n"})),
            "demo.toml:3:10: group[0].file[0].source: 'read.ME' is the same file on Windows as 'Read.me' of "
            "group[0].file[0].source (line 3)");

  // Device names, in any case and with any extension, as a file or a folder.
  struct Device {
    std::string name, shown, part;
  };
  const Device devices[] = {{"CON", "CON", "CON"},           {"nul.txt", "nul.txt", "nul.txt"},
                            {"Com1.log", "Com1.log", "Com1.log"}, {"LPT9", "LPT9", "LPT9"},
                            {"aux/readme.txt", "aux\\readme.txt", "aux"}, {"PRN .tar.gz", "PRN .tar.gz", "PRN .tar.gz"},
                            {"com\u00b9", "com\xB9", "com\xB9"}};
  for (const Device& d : devices)
    EXPECT_EQ(Error(Files({"source = \"a.txt\"\nname = \"" + d.name + "\"\n"})),
              "demo.toml:4:8: group[0].file[0].name: '" + d.shown + "': Windows takes '" + d.part +
                  "' for a device, not a file or folder name");
  for (const char* fine : {"CONSOLE.txt", "COM0", "com10.txt", "nul_.txt", "LPT", "my.con"})
    EXPECT_EQ(Error(Files({"source = \"a.txt\"\nname = \"" + std::string(fine) + "\"\n"})), "") << fine;
}

TEST_F(ProjectFile, DotFoldersInNamesAreTheFolderItself) {
  std::system(("mkdir -p '" + (dir / "docs/sub") + "'").c_str());
  WriteFile(dir / "docs/a.txt", "a");
  WriteFile(dir / "docs/sub/b.txt", "b");
  struct Case {
    std::string body;
    std::vector<std::string> names;
  };
  const std::vector<std::string> top = {"a.txt", "sub\\b.txt"}, inX = {"x\\a.txt", "x\\sub\\b.txt"};
  const Case cases[] = {
      {"source = \"docs\"\nname = \".\"\n", top},
      {"source = \"docs\"\nname = \"./\"\n", top},
      {"source = \"docs\"\nname = \".\\\\\"\n", top},
      {"source = \"docs\"\nname = \"x/.\"\n", inX},
      {"source = \"docs\"\nname = \"./x/./\"\n", inX},
      {"source = \"docs/a.txt\"\nname = \"./sub/./a.txt\"\n", {"sub\\a.txt"}},
      {"name = \"logs/.\"\nflags = [\"folder_entry\"]\n", {"logs\\"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    LoadedProject p = Load(Files({c.body}));
    for (const auto& e : p.project.groups[0].files) names.push_back(e.strings[0]);
    EXPECT_EQ(names, c.names) << c.body;
  }
  EXPECT_EQ(Error(Files({"source = \"docs/a.txt\"\nname = \".\"\n"})),
            "demo.toml:4:8: group[0].file[0].name: the file name is empty");
}

TEST_F(ProjectFile, SettingsWithoutEffectAreWarnedAbout) {
  LoadedProject p = Load(
      "[[group]]\n"
      "flags = [\"uninstall_entry\", \"folder_to_registry\", \"folder_to_ini\"]\n"
      "ini = { file = \"a.ini\" }\n");
  ASSERT_EQ(p.warnings.size(), 3u);
  EXPECT_NE(p.warnings[0].find("demo.toml:2: group[0]: 'uninstall_entry' needs an uninstaller"), std::string::npos)
      << p.warnings[0];
  EXPECT_NE(p.warnings[1].find("'folder_to_registry' needs"), std::string::npos);
  EXPECT_NE(p.warnings[2].find("'folder_to_ini' needs"), std::string::npos);
  WriteFile(dir / "u.exe", "MZ");
  p = Load(
      "uninstaller = \"u.exe\"\n[[group]]\nname = \"App\"\nflags = [\"uninstall_entry\"]\n"
      "uninstaller = \"Uninstall.exe\"\n");
  EXPECT_TRUE(p.warnings.empty());
}

// Run entries: a phase by name or number, or a table; the kind follows the
// file name unless the project says otherwise; the screen saver.
TEST_F(ProjectFile, RunAndScreenSaverSettings) {
  std::system(("mkdir -p '" + (dir / "docs") + "'").c_str());
  for (const char* name : {"tool.exe", "Setup.MSI", "readme.txt", "docs/a.htm", "docs/b.htm", "s.scr"})
    WriteFile(dir / name, "x");
  LoadedProject p = Load(Files({
      "source = \"tool.exe\"\nrun = \"launch\"\n",
      "source = \"readme.txt\"\nrun = \"after_setup\"\n",
      "source = \"Setup.MSI\"\nrun = { when = \"install\", args = \"/qb\", wait = true, "
      "wait_for_restart = true }\n",
      "source = \"readme.txt\"\nname = \"r2.txt\"\nrun = { open = \"program\" }\n",
      "source = \"tool.exe\"\nname = \"t2.exe\"\nrun = { when = 2, open = \"document\" }\n",
      "source = \"docs/*.htm\"\nname = \"docs\"\nrun = \"finish_page\"\n",
      "source = \"readme.txt\"\nname = \"r3.txt\"\nrun = 3\n",
      "source = \"s.scr\"\nscreen_saver = true\n",
  }));
  const auto& files = p.project.groups[0].files;
  ASSERT_EQ(files.size(), 9u);
  const u32 os = FileFlagWindowsMask;
  auto phase = [](u32 n) { return n << FileFlagRunPhaseShift; };
  EXPECT_EQ(files[0].flags, os | phase(4));
  EXPECT_EQ(files[1].flags, os | phase(3) | FileFlagDocument);
  EXPECT_EQ(files[2].flags, os | phase(1) | FileFlagWait | FileFlagDeferRun);
  EXPECT_EQ(files[2].strings[8], "/qb");
  EXPECT_EQ(files[3].flags, os | phase(4));  // a table runs at "launch" by default
  EXPECT_EQ(files[4].flags, os | phase(2) | FileFlagDocument);
  EXPECT_EQ(files[5].flags, os | phase(2) | FileFlagDocument);
  EXPECT_EQ(files[6].flags, os | phase(2) | FileFlagDocument);
  EXPECT_EQ(files[7].flags, os | phase(3));  // a number is stored as it stands
  EXPECT_EQ(files[8].flags, os | FileFlagScreenSaver);
  EXPECT_TRUE(p.warnings.empty()) << p.warnings[0];

  struct Case {
    std::string body, what;
  } errors[] = {
      {"name = \"d\"\nflags = [\"folder_entry\"]\nrun = \"launch\"\n", "a folder entry has nothing to run"},
      {"source = \"tool.exe\"\nrun = \"sometime\"\n", "unknown run phase 'sometime'"},
      {"source = \"tool.exe\"\nrun = 8\n", "a run phase is 0 to 7"},
      {"source = \"tool.exe\"\nrun = { when = \"launch\", args = \"a\" }\nrun_args = \"b\"\n",
       "give either 'run.args' or 'run_args'"},
      {"source = \"tool.exe\"\nrun = { open = \"shell\" }\n", "unknown way of opening 'shell'"},
      {"source = \"tool.exe\"\nrun = { at = 1 }\n", "group[0].file[0].run.at: unknown key"},
      {"source = \"tool.exe\"\nscreen_saver = \"yes\"\n", "screen_saver: must be true or false"},
  };
  for (const Case& c : errors) {
    std::string e = Error(Files({c.body}));
    EXPECT_NE(e.find(c.what), std::string::npos) << "message: " << e << "\nexpected: " << c.what;
  }

  p = Load(Files({
      "source = \"readme.txt\"\nrun = { args = \"-x\", wait = true }\n",
      "source = \"tool.exe\"\nrun = { when = \"after_setup\", wait_for_restart = true }\n",
      "source = \"tool.exe\"\nname = \"t2.exe\"\nrun_args = \"-y\"\nscreen_saver = true\n",
      "source = \"s.scr\"\nscreen_saver = true\n",
  }));
  const char* warned[] = {"its run arguments are not passed", "does not wait for it",
                          "run phase 3 always waits for a pending restart",
                          "run arguments without 'run' have no effect", "'t2.exe' does not end in .scr",
                          "2 screen savers: only the last one, 's.scr', is installed"};
  ASSERT_EQ(p.warnings.size(), 6u);
  for (size_t i = 0; i < 6; ++i)
    EXPECT_NE(p.warnings[i].find(warned[i]), std::string::npos) << p.warnings[i];
  EXPECT_EQ(p.warnings[0].rfind("demo.toml:3:10: group[0].file[0].source: ", 0), 0u) << p.warnings[0];
}

TEST_F(ProjectFile, ProjectFileFromDiskResolvesAgainstItsFolder) {
  std::system(("mkdir -p '" + (dir / "proj/files") + "'").c_str());
  WriteFile(dir / "proj/files/r.txt", "r");
  WriteFile(dir / "proj/p.toml", "output = \"out/setup.exe\"\n[[group]]\n[[group.file]]\nsource = \"files/r.txt\"\n");
  LoadedProject p = setrunc::LoadProjectFile(dir / "proj/p.toml", {});
  EXPECT_EQ(p.output, dir / "proj/out/setup.exe");
  EXPECT_EQ(p.project.groups[0].files[0].data.path, dir / "proj/files/r.txt");
  EXPECT_THROW(setrunc::LoadProjectFile(dir / "none.toml", {}), BuildError);
}

TEST_F(ProjectFile, ShortcutsFontsAndComponentsWithTheirDefaults) {
  WriteFile(dir / "tool.exe", "MZ");
  WriteFile(dir / "sans.ttf", Bytes{0, 1, 0, 0, 9});
  WriteFile(dir / "ext.dll", "MZ");
  WriteFile(dir / "types.tlb", "MSFT");
  LoadedProject p = Load(R"(
title = "Tool"
[[group]]
[[group.file]]
source = "tool.exe"
name = "bin/tool.exe"
shortcut = true
desktop_shortcut = { name = "Run Tool.lnk", args = "--home #InstallDir#", window = "maximised" }
[[group.file]]
source = "tool.exe"
name = "other.exe"
destination = "windows"
shortcut = { folder = ["Tool/Extras", ""], name = "Other.lnk", icon = "icons/o.ico", icon_index = 2, window = "minimised" }
[[group.file]]
source = "sans.ttf"
font = true
[[group.file]]
source = "ext.dll"
register = true
[[group.file]]
source = "types.tlb"
register = "type_library"
)");
  EXPECT_TRUE(p.warnings.empty()) << p.warnings[0];
  const auto& f = p.project.groups[0].files;
  // A program's shortcut: in the product's folder, named after the program,
  // with the program's own icon.
  EXPECT_EQ(f[0].strings[1], "Tool");
  EXPECT_EQ(f[0].strings[2], "tool.lnk");
  EXPECT_EQ(f[0].strings[3], "");
  EXPECT_EQ(f[0].strings[4], "bin\\tool.exe");
  EXPECT_EQ(f[0].iconIndex, 0);
  EXPECT_EQ(f[0].strings[5], "Run Tool.lnk");
  EXPECT_EQ(f[0].strings[6], "--home #InstallDir#");
  EXPECT_EQ(f[0].strings[7], "bin\\tool.exe");
  EXPECT_EQ(f[0].options, FileOptionOrdinary | (2u << FileOptionDesktopWindowShift));
  EXPECT_EQ(f[0].flags & (FileFlagStartMenuShortcut | FileFlagDesktopShortcut),
            FileFlagStartMenuShortcut | FileFlagDesktopShortcut);
  // The Programs folder itself first (an empty part at the end is dropped);
  // outside the installation folder no icon string of the file's own.
  EXPECT_EQ(f[1].strings[1], ";Tool\\Extras");
  EXPECT_EQ(f[1].strings[2], "Other.lnk");
  EXPECT_EQ(f[1].strings[4], "icons\\o.ico");
  EXPECT_EQ(f[1].iconIndex, 2);
  EXPECT_EQ(f[1].options & FileOptionStartMenuWindowMask, 1u);
  EXPECT_EQ(f[1].strings[5], "");
  EXPECT_EQ(f[2].destination, (u32)DestFonts);
  EXPECT_EQ(f[3].flags & FileFlagSelfRegister, FileFlagSelfRegister);
  EXPECT_EQ(f[3].options & FileOptionRegisterMask, 0u);
  EXPECT_EQ(f[4].options & FileOptionRegisterMask, FileOptionTypeLibrary);
  p = Load(Files({"source = \"tool.exe\"\nshortcut = { folder = \"\" }\n"}));
  EXPECT_EQ(p.project.groups[0].files[0].strings[1], "");  // the Programs folder itself
  // With a product name, the folder is the product's (not its setup title).
  p = Load("product = \"Tool Pro\"\nversion = \"2.1\"\n[[group]]\n[[group.file]]\n"
           "source = \"tool.exe\"\nshortcut = true\n");
  EXPECT_EQ(p.project.groups[0].files[0].strings[1], "Tool Pro");
}

TEST_F(ProjectFile, ShortcutFontAndRegistrationMistakes) {
  WriteFile(dir / "a.exe", "MZ");
  WriteFile(dir / "b.exe", "MZ");
  WriteFile(dir / "readme.txt", "text");
  struct Case {
    std::string body, message;
  } cases[] = {
      {"source = \"a.exe\"\nshortcut = true\nstart_menu_name = \"A.lnk\"\n",
       "demo.toml:5:19: group[0].file[0].start_menu_name: give either 'shortcut' or 'start_menu_name'"},
      {"source = \"a.exe\"\ndesktop_shortcut = true\ndesktop_window = \"normal\"\n",
       "give either 'desktop_shortcut' or 'desktop_window'"},
      {"source = \"*.exe\"\nshortcut = true\n",
       "group[0].file[0].shortcut: a shortcut belongs to one file; this entry stands for 2"},
      {"source = \"a.exe\"\nshortcut = { folder = \"A;B\" }\n", "must not contain ';'"},
      {"source = \"a.exe\"\nshortcut = { name = \"x\\\\y.lnk\" }\n", "is a file name; the folder is 'folder'"},
      {"source = \"a.exe\"\nshortcut = { colour = 1 }\n", "shortcut.colour: unknown key"},
      {"source = \"a.exe\"\ndesktop_shortcut = { folder = \"x\" }\n", "desktop_shortcut.folder: unknown key"},
      {"source = \"a.exe\"\nshortcut = 3\n", "must be true or a table of shortcut settings"},
      {"source = \"a.exe\"\nregister = \"magic\"\n", "unknown registration method 'magic'"},
      {"source = \"a.exe\"\nregister = true\nregister_method = 1\n", "give either 'register' or 'register_method'"},
      {"source = \"a.exe\"\nflags = 4096\nregister = true\n", "a numeric flag word is stored as it stands"},
      {"source = \"a.exe\"\nfont = true\ndestination = \"system\"\n", "a font goes to the fonts folder"},
      {"name = \"logs\"\nflags = [\"folder_entry\"]\nshortcut = true\n", "a folder entry has no shortcut"},
  };
  for (const Case& c : cases) {
    std::string error = Error(Files({c.body}));
    EXPECT_NE(error.find(c.message), std::string::npos) << c.body << "\n" << error;
  }
  // A font the setup program cannot name is only warned about.
  LoadedProject p = Load(Files({"source = \"readme.txt\"\nfont = true\n"}));
  ASSERT_EQ(p.warnings.size(), 1u);
  EXPECT_NE(p.warnings[0].find("is not a TrueType or OpenType font"), std::string::npos) << p.warnings[0];
}

TEST_F(ProjectFile, ComponentsForAnotherProcessorAreWarnedAbout) {
  // A library's header: "MZ", the PE header's offset at 0x3C, "PE\0\0" and
  // the machine.
  auto image = [](u16 machine) {
    Bytes b(0x100, 0);
    b[0] = 'M';
    b[1] = 'Z';
    WriteU32(&b[0x3C], 0x80);
    memcpy(&b[0x80], "PE\0\0", 4);
    WriteU16(&b[0x84], machine);
    return b;
  };
  WriteFile(dir / "x86.dll", image(0x14C));
  WriteFile(dir / "x64.dll", image(0x8664));
  WriteFile(dir / "plain.dll", "not a library");
  WriteFile(dir / "script.reg", "REGEDIT4");
  LoadedProject p = Load(Files({"source = \"x86.dll\"\nregister = true\n",
                                "source = \"x64.dll\"\nregister = true\n",
                                "source = \"plain.dll\"\nflags = [\"self_register\"]\n",
                                "source = \"script.reg\"\nregister = \"registry_script\"\n"}));
  EXPECT_EQ(setrunc::PeMachine(image(0x8664)), 0x8664);
  EXPECT_EQ(setrunc::PeMachine(Bytes(0x100, 0)), 0);
  std::vector<std::string> w = setrunc::ComponentMachineWarnings(p.project, image(0x14C));
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0].find("group[0].file[1].source: " + (dir / "x64.dll") +
                      " is a 64-bit library and the setup program is 32-bit"),
            std::string::npos) << w[0];
  EXPECT_NE(w[1].find("plain.dll is no Windows library"), std::string::npos) << w[1];
  w = setrunc::ComponentMachineWarnings(p.project, image(0x8664));
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0].find("x86.dll is a 32-bit library and the setup program is 64-bit"),
            std::string::npos) << w[0];
}

TEST(CodePage, Utf8BecomesWindows1252) {
  std::string out, bad;
  ASSERT_TRUE(setrunc::Utf8ToCp1252("A\xC3\xA9\xE2\x82\xAC\xC5\xB8\xC2\xA0", &out, &bad));
  EXPECT_EQ(out, "A\xE9\x80\x9F\xA0");
  EXPECT_EQ(setrunc::Cp1252ToUtf8(out), "A\xC3\xA9\xE2\x82\xAC\xC5\xB8\xC2\xA0");
  EXPECT_FALSE(setrunc::Utf8ToCp1252("\xE4\xB8\xAD", &out, &bad));  // not in the code page
  EXPECT_FALSE(setrunc::Utf8ToCp1252("\xC2\x81", &out, &bad));      // unused position 0x81
  EXPECT_FALSE(setrunc::Utf8ToCp1252("\xC3", &out, &bad));          // cut short
  EXPECT_FALSE(setrunc::Utf8ToCp1252("\xFF", &out, &bad));
}

TEST(TextFormats, OnlyTheArgumentsTheSetupProgramPasses) {
  using setrunc::CheckTextFormat;
  EXPECT_EQ(CheckTextFormat(7, 28, "Insert disk %d, please"), "");
  EXPECT_NE(CheckTextFormat(7, 28, "Insert disk %s"), "");
  EXPECT_NE(CheckTextFormat(7, 28, "Disk %d of %d"), "");
  EXPECT_EQ(CheckTextFormat(3, 8, "%d MB (100%%)"), "");
  EXPECT_EQ(CheckTextFormat(4, 3, "Into %s."), "");
  EXPECT_NE(CheckTextFormat(4, 3, "Into %s or %s."), "");
  EXPECT_NE(CheckTextFormat(6, 5, "Failed: %d"), "");
  EXPECT_NE(CheckTextFormat(7, 32, "%n"), "");
  EXPECT_NE(CheckTextFormat(7, 32, "100%"), "");
  // Result messages are formats only when they hold "%s".
  EXPECT_EQ(CheckTextFormat(7, 18, "Damaged: 100% sure"), "");
  EXPECT_EQ(CheckTextFormat(7, 18, "Damaged: %s"), "");
  EXPECT_NE(CheckTextFormat(7, 18, "%s: %s"), "");
  EXPECT_EQ(CheckTextFormat(0, 2, "%s %d %n"), "");  // never formatted
}

TEST(TextKeys, GroupSlashNumber) {
  unsigned g = 99, n = 99;
  EXPECT_TRUE(setrunc::ParseTextKey("7/31", &g, &n));
  EXPECT_EQ(g, 7u);
  EXPECT_EQ(n, 31u);
  for (const char* bad : {"10/1", "7/", "/3", "7-3", "a/b", "7/1000", "07/1x"})
    EXPECT_FALSE(setrunc::ParseTextKey(bad, &g, &n)) << bad;
}

TEST(FileVersion, ReadFromTheFixedFileInfo) {
  Bytes image(64, 0);
  WriteU32(&image[20], 0xFEEF04BDu);
  WriteU32(&image[28], 0x00050006u);
  WriteU32(&image[32], 0x00070008u);
  u32 ms = 0, ls = 0;
  ASSERT_TRUE(setrunc::FindFileVersion(image, &ms, &ls));
  EXPECT_EQ(ms, 0x00050006u);
  EXPECT_EQ(ls, 0x00070008u);
  EXPECT_FALSE(setrunc::FindFileVersion(Bytes(64, 0), &ms, &ls));
}

}  // namespace
