// What a vendor's release needs from setrunc: signing (the command run on
// the finished file, the certificate table named by inspect and verify),
// inspect --json, init, and the pieces of try that need no Wine.
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include "builder/sign_command.h"
#include "builder/try_run.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;

namespace {

struct Outcome {
  int code;
  std::string out, err;
};

class Release : public ::testing::Test {
 protected:
  TempDir dir;

  Outcome Run(const std::string& command) {
    int status = std::system(("(" + command + ") >'" + (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'").c_str());
    Bytes out = ReadFile(dir / "stdout"), err = ReadFile(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
  }
  Outcome Setrunc(const std::string& arguments) { return Run(std::string(SETRUNC_PATH) + " " + arguments); }

  // A stub with a PE header (no sections): room for a security directory.
  static Bytes PeStub() {
    Bytes stub = DummyStub();
    const u32 pe = 0x80, optional = pe + 24;
    stub[0x3C] = (u8)pe;
    std::memcpy(&stub[pe], "PE\0\0", 4);
    stub[pe + 4] = 0x4C, stub[pe + 5] = 0x01;  // i386
    stub[pe + 20] = 0xE0;                      // size of the optional header
    stub[optional] = 0x0B, stub[optional + 1] = 0x01;
    stub[optional + 92] = 16;  // data directories
    return stub;
  }
  static const u32 SecurityDirectory = 0x80 + 24 + 96 + 4 * 8;

  std::string Build(const Bytes& stub, const std::string& extra = "") {
    std::system(("mkdir -p '" + (dir / "src") + "'").c_str());
    WriteFile(dir / "src/readme.txt", "Read me.\r\n");
    WriteFile(dir / "src/data.bin", Noise(30000, 3));
    WriteFile(dir / "stub.exe", stub);
    WriteFile(dir / "p.toml", "title = \"Demo \xC3\xA9\"\nstub = \"stub.exe\"\n[[group]]\nname = \"Demo\"\n"
                              "uninstaller = false\npages = [\"welcome\", \"finish\"]\n[[group.file]]\nsource = \"src\"\nname = \".\"\n");
    Outcome r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + (dir / "setup.exe") + "' " + extra);
    EXPECT_EQ(r.code, 0) << r.err;
    return dir / "setup.exe";
  }

  // Selected fields of inspect --json, read by Python's JSON parser.
  std::string JsonFields(const std::string& installer, const std::string& expression) {
    Outcome r = Setrunc("inspect --json '" + installer + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    WriteFile(dir / "j.json", r.out);
    r = Run("python3 -c 'import json,sys; d=json.load(open(sys.argv[1], encoding=\"utf-8\")); print(" + expression +
            ")' '" + (dir / "j.json") + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    return r.out;
  }
};

TEST_F(Release, InspectJsonHoldsTheDocumentedFields) {
  std::string setup = Build(DummyStub());
  EXPECT_EQ(JsonFields(setup, "d[\"format\"], d[\"signature\"], d[\"layout\"][\"silent\"], d[\"data\"][\"complete\"], "
                              "d[\"records\"][0][\"name\"], d[\"records\"][-1][\"name\"], d[\"uninstaller_bytes\"]"),
            "1 None False True layout end of tables None\n");
  const std::string group = "d[\"groups\"][0]";
  EXPECT_EQ(JsonFields(setup, group + "[\"display_name\"], " + group + "[\"pages\"], " + group + "[\"texts\"][\"7/0\"], " +
                                  group + "[\"texts\"][\"8/1\"]"),
            "Demo ['welcome', 'finish'] Demo \xC3\xA9 Next >\n");
  EXPECT_EQ(JsonFields(setup, "[(f[\"name\"], f[\"size\"], f[\"destination_name\"], f[\"folder_entry\"]) for f in " +
                                  group + "[\"files\"]]"),
            "[('data.bin', 30000, 'install', False), ('readme.txt', 10, 'install', False)]\n");
  EXPECT_EQ(Setrunc("inspect --json --bogus '" + setup + "'").code, 2);
}

TEST_F(Release, SignCommandRunsOnTheFinishedFileBeforeItIsPutInPlace) {
  // {in} and {out}: the command writes a new file, which is installed.
  std::string setup = Build(DummyStub(), "--sign 'cp {in} {out} && printf SIGNED >>{out}'");
  Outcome r = Run("tail -c 6 '" + setup + "'");
  EXPECT_EQ(r.out, "SIGNED");
  r = Setrunc("verify '" + setup + "'");
  EXPECT_EQ(r.code, 0) << r.err;

  // A failing command fails the build: the earlier installer stays, nothing
  // else is left in the folder.
  Bytes before = ReadFile(setup);
  r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + setup + "' --sign 'echo no key >&2; false {file}'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no key"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("signing '" + setup + "': the command ended with exit code 1"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(setup), before);
  r = Run("LC_ALL=C ls -A '" + dir.path() + "'");
  EXPECT_EQ(r.out, "p.toml\nsetup.exe\nsrc\nstderr\nstdout\nstub.exe\n");

  // A command that names no file is refused before anything is built.
  r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + (dir / "other.exe") + "' --sign 'signtool sign'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("names no file"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "other.exe"));
}

TEST_F(Release, EachDataVolumeCanBeSignedToo) {
  std::string setup = Build(DummyStub(), "--sign-volumes 'cp {file} {name}.copy'");
  EXPECT_FALSE(Exists(dir / "setup.D01"));  // one file: no volume, nothing signed
  WriteFile(dir / "p.toml", "stub = \"stub.exe\"\nvolume_size = 14000\ncompression = 0\n"
                            "[[group]]\nuninstaller = false\n[[group.file]]\nsource = \"src\"\n");
  Outcome r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + setup + "' --sign-volumes 'cp {file} {name}.copy'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Exists(dir / "setup.D02"));
  for (const char* volume : {"setup.D01", "setup.D02"})
    EXPECT_EQ(ReadFile(dir / (std::string(volume) + ".copy")), ReadFile(dir / volume)) << volume;
  EXPECT_FALSE(Exists(dir / "setup.exe.copy"));
}

TEST(SignCommand, PlaceholdersBecomeQuotedPaths) {
  EXPECT_EQ(setrunc::ExpandSignCommand("sign {file}", "/a b/it's.exe", ""), "sign '/a b/it'\\''s.exe'");
  EXPECT_EQ(setrunc::ExpandSignCommand("s -in {in} -out {out} -n {name}", "x.part", "y/x.exe", "x.exe"),
            "s -in 'x.part' -out 'y/x.exe' -n 'x.exe'");
  EXPECT_THROW(setrunc::ExpandSignCommand("s -in {in}", "x", "y"), setrunc::BuildError);
}

TEST_F(Release, ACertificateTableIsNamedNotIgnored) {
  std::string setup = Build(PeStub());
  Outcome r = Setrunc("inspect '" + setup + "'");
  EXPECT_NE(r.out.find("Signature: not signed"), std::string::npos) << r.out;

  // A table that is no signature, appended and named as a signing tool does.
  Bytes file = ReadFile(setup);
  const u32 offset = (u32)file.size();
  const u8 table[16] = {16, 0, 0, 0, 0x00, 0x02, 0x02, 0x00, 'n', 'o', 't', ' ', 'd', 'e', 'r', '!'};
  file.insert(file.end(), table, table + sizeof table);
  WriteU32(&file[SecurityDirectory], offset);
  WriteU32(&file[SecurityDirectory + 4], sizeof table);
  WriteFile(setup, file);
  r = Setrunc("inspect '" + setup + "'");
  EXPECT_NE(r.out.find("Signature: Authenticode signature, 16 bytes at offset " + std::to_string(offset) +
                       " (the certificate is not a readable PKCS #7 signature)"),
            std::string::npos)
      << r.out;
  r = Setrunc("verify '" + setup + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("signature: the certificate is not a readable PKCS #7 signature"), std::string::npos) << r.err;

  // A directory that points past the end of the file.
  WriteU32(&file[SecurityDirectory + 4], 4096);
  WriteFile(setup, file);
  r = Setrunc("verify '" + setup + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("outside the file"), std::string::npos) << r.err;
}

TEST_F(Release, ProgressStaysOffWhenStandardErrorIsNoTerminalOrWithQuiet) {
  WriteFile(dir / "big.bin", Noise(12u << 20, 5));
  WriteFile(dir / "stub.exe", DummyStub());
  WriteFile(dir / "p.toml", "stub = \"stub.exe\"\ncompression = 12\n[[group]]\n[[group.file]]\nsource = \"big.bin\"\n");
  Outcome r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + (dir / "s.exe") + "' -j 1");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  // On a terminal, -q keeps it quiet all the same.
  r = Run("script -qec \"" + std::string(SETRUNC_PATH) + " build '" + (dir / "p.toml") + "' -o '" + (dir / "s.exe") +
          "' -j 1 -q\" /dev/null");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out + r.err, "");
}

TEST_F(Release, InitWritesAProjectThatBuilds) {
  const std::string product = dir / "Tool Kit";
  std::system(("mkdir -p '" + product + "/docs'").c_str());
  WriteFile(product + "/tool.exe", Noise(5000, 1));
  WriteFile(product + "/docs/guide.txt", "Guide\n");
  WriteFile(product + "/LICENSE.txt", "Use it \xC2\xA9 well.\n");
  WriteFile(dir / "stub.exe", DummyStub());
  Outcome r = Run("cd '" + dir.path() + "' && " + SETRUNC_PATH + " init 'Tool Kit' -o kit.toml");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "kit.toml: Tool Kit, 3 files (5022 bytes), licence page from LICENSE.txt\n");
  Bytes text = ReadFile(dir / "kit.toml");
  EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 16);
  r = Setrunc("build '" + (dir / "kit.toml") + "' --stub '" + (dir / "stub.exe") + "' -q");
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string setup = dir / "Tool Kit-setup.exe";
  const std::string group = "d[\"groups\"][0]";
  EXPECT_EQ(JsonFields(setup, group + "[\"display_name\"], " + group + "[\"default_folder\"], " + group +
                                  "[\"pages\"], sorted(f[\"name\"] for f in " + group + "[\"files\"]), " + group +
                                  "[\"texts\"][\"2/2\"]"),
            "Tool Kit #Program Files#\\Tool Kit ['welcome', 'licence', 'folder', 'ready', 'installing', 'finish'] "
            "['LICENSE.txt', 'Uninstall.exe', 'docs\\\\guide.txt', 'tool.exe'] Use it \xC2\xA9 well.\r\n\n");

  // Run again: the project is not overwritten. In the folder itself, the
  // project and the installer are left out of the files.
  r = Run("cd '" + dir.path() + "' && " + SETRUNC_PATH + " init 'Tool Kit' -o kit.toml");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("'kit.toml' exists"), std::string::npos) << r.err;
  r = Run("cd '" + product + "' && " + SETRUNC_PATH + " init && " + SETRUNC_PATH + " build project.toml --stub '" +
          (dir / "stub.exe") + "' -q && " + SETRUNC_PATH + " build project.toml --stub '" + (dir / "stub.exe") + "' -q");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(JsonFields(product + "/Tool Kit-setup.exe", "len(" + group + "[\"files\"])"), "4\n");  // with the uninstaller

  r = Setrunc("init '" + (dir / "nothing") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// setrunc try without Wine: registry files, differences, links, commands

TEST(Try, RegistryDifferencesLeaveWineBookkeepingOut) {
  const std::string before =
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Vendor\\\\Tool] 1700000000\n#time=1d\n\"Path\"=\"C:\\\\Old\"\n\"Gone\"=dword:00000001\n\n"
      "[Software\\\\Wine\\\\Fonts] 1700000000\n\"Cache\"=\"1\"\n";
  const std::string after =
      "[Software\\\\Vendor\\\\Tool] 1700000099\n\"Path\"=\"C:\\\\New \\\"x\\\"\"\n@=\"default\"\n"
      "\"Bin\"=hex:01,02,\\\n  03,04\n\n[Software\\\\Vendor\\\\Empty] 1\n\n"
      "[Software\\\\Wine\\\\Fonts] 1700000099\n\"Cache\"=\"2\"\n";
  setrunc::RegistrySnapshot a, b;
  setrunc::ParseWineRegistry(before, "HKLM", &a);
  setrunc::ParseWineRegistry(after, "HKLM", &b);
  std::string diff;
  for (const setrunc::Change& c : setrunc::DiffRegistry(a, b))
    diff += std::string(setrunc::ChangeName(c.kind)) + " " + c.what + " " + setrunc::ShowRegistryData(c.before) +
            " -> " + setrunc::ShowRegistryData(c.after) + "\n";
  EXPECT_EQ(diff,
            "added HKLM\\Software\\Vendor\\Empty  -> \n"
            "added HKLM\\Software\\Vendor\\Tool\\[]  -> default\n"
            "added HKLM\\Software\\Vendor\\Tool\\[Bin]  -> hex:01,02,03,04\n"
            "changed HKLM\\Software\\Vendor\\Tool\\[Path] C:\\Old -> C:\\New \"x\"\n"
            "removed HKLM\\Software\\Vendor\\Tool\\[Gone] 1 -> \n");
}

TEST(Try, FileDifferences) {
  setrunc::FileSnapshot a = {{"C:\\keep.txt", {3, 1}}, {"C:\\edit.txt", {3, 1}}, {"C:\\gone.txt", {5, 1}}};
  setrunc::FileSnapshot b = {{"C:\\keep.txt", {3, 1}}, {"C:\\edit.txt", {3, 2}}, {"C:\\new.txt", {7, 1}},
                             {"C:\\windows\\Temp\\x.tmp", {1, 1}}, {"C:\\users\\me\\Temp\\y.tmp", {1, 1}}};
  std::string diff;
  for (const setrunc::Change& c : setrunc::DiffFiles(a, b))
    diff += std::string(setrunc::ChangeName(c.kind)) + " " + c.what + " " + std::to_string(c.size) + "\n";
  EXPECT_EQ(diff, "changed C:\\edit.txt 3\nadded C:\\new.txt 7\nremoved C:\\gone.txt 5\n");
}

TEST(Try, ShortcutTargetsAndCommandLines) {
  // A shell link with an item id list and link info holding a local path.
  std::string lnk(0x4C, '\0');
  lnk[0] = 0x4C;
  lnk[0x14] = 0x03;                                 // item id list, link info
  lnk += std::string("\x02\x00\xAA\xBB", 4);        // an id list of 2 bytes
  const std::string path = "C:\\Program Files\\Tool\\tool.exe";
  std::string info(28, '\0');
  const u32 size = (u32)(28 + path.size() + 1);
  info[0] = (char)size;
  info[8] = 1;    // a local base path
  info[16] = 28;  // at this offset
  lnk += info + path + std::string(1, '\0');
  EXPECT_EQ(setrunc::ShortcutTarget(lnk), path);
  EXPECT_EQ(setrunc::ShortcutTarget(lnk.substr(0, 0x50)), "");
  EXPECT_EQ(setrunc::ShortcutTarget("not a link"), "");

  EXPECT_EQ(setrunc::SplitCommandLine("\"C:\\Program Files\\T\\Uninstall.exe\" /S  x"),
            (std::vector<std::string>{"C:\\Program Files\\T\\Uninstall.exe", "/S", "x"}));
  EXPECT_EQ(setrunc::ExitCodeMeaning(255, ""), "-1: the package could not be read or the windows could not be created");
  EXPECT_EQ(setrunc::ExitCodeMeaning(15, "Setup was cancelled."),
            "the installation failed with message 15: \"Setup was cancelled.\"");
}

// Every Uninstall entry an installation adds is run: its quiet command, else
// its command with /S; two entries naming one uninstaller run it once.
TEST(Try, EveryUninstallEntryIsRunOnce) {
  const std::string entries = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  auto added = [](const std::string& what, const std::string& data) {
    setrunc::Change c;
    c.kind = setrunc::Change::Added;
    c.what = what;
    c.after = "\"" + data + "\"";
    return c;
  };
  const std::vector<setrunc::Change> registry = {
      added(entries + "Tool\\[DisplayName]", "Tool"),
      added(entries + "Tool\\[QuietUninstallString]", "\\\"C:\\\\Tool\\\\Uninstall.exe\\\" /S"),
      added(entries + "Tool\\[UninstallString]", "C:\\\\Tool\\\\Uninstall.exe"),
      added(entries + "Tool Extras\\[UninstallString]", "C:\\\\Tool\\\\Extras\\\\Uninstall.exe"),
      added(entries + "Tool Twice\\[QuietUninstallString]", "\\\"C:\\\\Tool\\\\Uninstall.exe\\\" /S"),
      added("HKLM\\Software\\Tool\\[UninstallString]", "C:\\\\Elsewhere.exe"),
  };
  EXPECT_EQ(setrunc::UninstallCommands(registry),
            (std::vector<std::string>{"\"C:\\Tool\\Uninstall.exe\" /S", "C:\\Tool\\Extras\\Uninstall.exe /S"}));
  setrunc::Change removed = added(entries + "Old\\[UninstallString]", "C:\\\\Old.exe");
  removed.kind = setrunc::Change::Removed;
  EXPECT_TRUE(setrunc::UninstallCommands({removed}).empty());
}

}  // namespace
