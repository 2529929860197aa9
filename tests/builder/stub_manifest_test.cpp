// The privileges of a project: the execution level in the manifest of the
// setup program and of the uninstaller it embeds, found through the
// resource directory and rewritten in place, and the per-user defaults of
// the project file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "builder/package_reader.h"
#include "builder/package_writer.h"
#include "builder/project.h"
#include "builder/stub_manifest.h"
#include "builder/uninstall_records.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;
using setrunc::BuildError;
using setrunc::FindExecutionLevels;
using setrunc::Privileges;
using setrunc::StubWithPrivileges;

namespace {

// The setup programs this build knows (none: the tests that need them skip).
std::vector<std::string> RealStubs() {
  std::vector<std::string> stubs;
  for (const char* path : {SETRUN_STUB_X86, SETRUN_STUB_X64})
    if (path[0] && Exists(path)) stubs.push_back(path);
  return stubs;
}

// The uninstallers of this build, in the order of RealStubs' processors:
// (setup program, uninstaller) pairs where both are built.
std::vector<std::pair<std::string, std::string>> RealPairs() {
  std::vector<std::pair<std::string, std::string>> pairs;
  const char* stubs[] = {SETRUN_STUB_X86, SETRUN_STUB_X64};
  const char* uninstallers[] = {SETRUN_UNINSTALLER_X86, SETRUN_UNINSTALLER_X64};
  for (int i = 0; i < 2; ++i)
    if (stubs[i][0] && uninstallers[i][0] && Exists(stubs[i]) && Exists(uninstallers[i]))
      pairs.emplace_back(stubs[i], uninstallers[i]);
  return pairs;
}

std::string ReadFileText(const std::string& path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

std::string ErrorOf(const Bytes& stub, std::optional<Privileges> privileges) {
  try {
    StubWithPrivileges(stub, privileges);
  } catch (const BuildError& e) {
    return e.what();
  }
  return "";
}

std::string Level(const Bytes& image) {
  auto levels = FindExecutionLevels(image.data(), image.size());
  return levels.size() == 1 ? levels[0].level : "(" + std::to_string(levels.size()) + " manifests)";
}

// Offsets of the PE header fields the damaged cases change.
struct Fields {
  size_t pe, sectionCount, resourceSize;
};
Fields FieldsOf(const Bytes& image) {
  size_t pe = ReadU32(image.data() + 0x3C);
  size_t optional = pe + 24;
  size_t directories = optional + (ReadU16(image.data() + optional) == 0x10B ? 96 : 112);
  return {pe, pe + 6, directories + 2 * 8 + 4};
}

TEST(StubManifest, BothBuildsAskForAdministratorAndTakeEitherLevelInPlace) {
  auto stubs = RealStubs();
  if (stubs.empty()) GTEST_SKIP() << "no setup program built";
  // The uninstaller carries the same manifest.
  for (const auto& pair : RealPairs()) stubs.push_back(pair.second);
  for (const std::string& path : stubs) {
    SCOPED_TRACE(path);
    const Bytes built = ReadFile(path);
    auto levels = FindExecutionLevels(built.data(), built.size());
    ASSERT_EQ(1u, levels.size());
    EXPECT_EQ("requireAdministrator", levels[0].level);
    // The wizard scales its layout itself: Windows must not stretch it.
    EXPECT_NE(std::string::npos,
              std::string(built.begin(), built.end())
                  .find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
                        "true</dpiAware>"));

    Bytes user = StubWithPrivileges(built, Privileges::User);
    ASSERT_EQ(built.size(), user.size());
    EXPECT_EQ("asInvoker", Level(user));
    // Only the level's room changed (the value, its quote, then spaces) and
    // the checksum the linker wrote, which stays right.
    const size_t field = setrunc::PeChecksumOffset(built.data(), built.size());
    for (size_t i = 0; i < built.size(); ++i) {
      if (user[i] != built[i]) {
        ASSERT_TRUE((i >= levels[0].offset && i < levels[0].offset + levels[0].room) ||
                    (i >= field && i < field + 4))
            << "byte " << i;
      }
    }
    EXPECT_EQ(setrunc::PeChecksum(built.data(), built.size(), field), ReadU32(built.data() + field));
    EXPECT_EQ(setrunc::PeChecksum(user.data(), user.size(), field), ReadU32(user.data() + field));
    EXPECT_EQ("asInvoker\"" + std::string(12, ' ') + "uiAccess",
              std::string((const char*)user.data() + levels[0].offset, 30));

    // Back to administrator, explicitly or by default: the program as built.
    EXPECT_EQ(built, StubWithPrivileges(user, Privileges::Admin));
    EXPECT_EQ(built, StubWithPrivileges(user, std::nullopt));
  }
}

// The sum itself, against a value worked out by hand, and no checksum where
// the stub has none.
TEST(StubManifest, TheChecksumIsTheWordSumPlusTheLengthAndOnlyKeptWhereSet) {
  // Words 0x0201, 0x0403, 0x0009 (an odd end); the field at 4 is left out;
  // then the length, 9.
  const u8 bytes[] = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 9};
  EXPECT_EQ(0x0201u + 0x0403u + 0x0009u + 9u, setrunc::PeChecksum(bytes, 9, 4));
  const u8 carry[] = {0xFF, 0xFF, 0x02, 0x00};  // 0xFFFF + 2 folds to 2
  EXPECT_EQ(2u + 4u, setrunc::PeChecksum(carry, 4, 100));

  auto stubs = RealStubs();
  if (stubs.empty()) GTEST_SKIP() << "no setup program built";
  Bytes stub = ReadFile(stubs[0]);
  size_t field = setrunc::PeChecksumOffset(stub.data(), stub.size());
  ASSERT_NE(0u, field);
  WriteU32(stub.data() + field, 0);
  EXPECT_EQ(0u, ReadU32(StubWithPrivileges(stub, Privileges::User).data() + field)) << "none is added";
}

TEST(StubManifest, StubsWithoutRoomOrManifestOrSoundHeadersAreRefused) {
  // A stand-in that is no Windows program goes in unchanged unless a level
  // is asked for.
  const Bytes dummy = DummyStub();
  EXPECT_EQ(dummy, StubWithPrivileges(dummy, std::nullopt));
  EXPECT_EQ("the setup program is not a Windows program", ErrorOf(dummy, Privileges::User));

  auto stubs = RealStubs();
  if (stubs.empty()) GTEST_SKIP() << "no setup program built";
  const Bytes built = ReadFile(stubs[0]);
  const Fields f = FieldsOf(built);
  auto levels = FindExecutionLevels(built.data(), built.size());
  ASSERT_EQ(1u, levels.size());

  // No resources at all: nothing to rewrite.
  Bytes bare = built;
  WriteU32(bare.data() + f.resourceSize - 4, 0);
  WriteU32(bare.data() + f.resourceSize, 0);
  EXPECT_EQ(bare, StubWithPrivileges(bare, std::nullopt));
  EXPECT_NE(std::string::npos, ErrorOf(bare, Privileges::Admin).find("has no manifest"));

  // A manifest written with the short level leaves no room for the long one.
  Bytes narrow = built;
  const std::string shortLevel = "asInvoker\" uiAccess=\"false\"/>";
  std::string rest((const char*)built.data() + levels[0].offset, 64);
  size_t tagEnd = rest.find("/>") + 2;
  ASSERT_GT(tagEnd, shortLevel.size());
  std::string replacement = shortLevel + std::string(tagEnd - shortLevel.size(), ' ');
  std::copy(replacement.begin(), replacement.end(), narrow.begin() + (ptrdiff_t)levels[0].offset);
  EXPECT_EQ("asInvoker", Level(narrow));
  EXPECT_NE(std::string::npos, ErrorOf(narrow, Privileges::Admin).find("has room for 10 characters"));
  EXPECT_EQ("asInvoker", Level(StubWithPrivileges(narrow, Privileges::User)));

  struct Damage {
    const char* what;
    size_t offset;
    u32 value;
    const char* message;
  };
  const Damage damages[] = {
      {"PE header beyond the file", 0x3C, (u32)built.size(), "not a Windows program"},
      {"too many sections", f.sectionCount, 0xFFFF, "the section table ends outside the file"},
      {"resource directory larger than its section", f.resourceSize, 0x7FFFFFF0,
       "runs past the end of its section"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    Bytes damaged = built;
    if (d.offset == f.sectionCount) {
      damaged[d.offset] = 0xFF;
      damaged[d.offset + 1] = 0xFF;
    } else {
      WriteU32(damaged.data() + d.offset, d.value);
    }
    std::string error = ErrorOf(damaged, Privileges::User);
    EXPECT_NE(std::string::npos, error.find(d.message)) << error;
  }
}

// A rewritten installer signs and verifies like any other program.
TEST(StubManifest, ARewrittenInstallerSignsAndVerifies) {
  auto stubs = RealStubs();
  if (stubs.empty()) GTEST_SKIP() << "no setup program built";
  if (std::system("osslsigncode --version >/dev/null 2>&1 && openssl version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "osslsigncode or openssl is not installed";
  TempDir dir;
  std::string keys = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=setrun-test -keyout '" +
                     dir / "key.pem" + "' -out '" + dir / "cert.pem" + "' >/dev/null 2>&1";
  ASSERT_EQ(0, std::system(keys.c_str()));
  for (const std::string& path : stubs) {
    SCOPED_TRACE(path);
    auto loaded = setrunc::LoadProjectText("privileges = \"user\"\n[[group]]\n", "demo.toml", dir.path(), {});
    setrunc::BuildInstaller(loaded.project, ReadFile(path), dir / "setup.exe");
    std::string sign = "osslsigncode sign -certs '" + dir / "cert.pem" + "' -key '" + dir / "key.pem" +
                       "' -in '" + dir / "setup.exe" + "' -out '" + dir / "signed.exe" + "' >'" +
                       dir / "sign.log" + "' 2>&1";
    ASSERT_EQ(0, std::system(sign.c_str())) << ReadFileText(dir / "sign.log");
    std::string verify = "osslsigncode verify -CAfile '" + dir / "cert.pem" + "' -in '" + dir / "signed.exe" +
                         "' >'" + dir / "verify.log" + "' 2>&1";
    EXPECT_EQ(0, std::system(verify.c_str())) << ReadFileText(dir / "verify.log");
    EXPECT_EQ("asInvoker", Level(ReadFile(dir / "signed.exe")));
    std::remove((dir / "signed.exe").c_str());
  }
}

// The uninstaller that setrunc embeds asks for the level the setup program
// asks for, read back from the built installer's package.
TEST(StubManifest, TheEmbeddedUninstallerTakesTheProjectsLevel) {
  auto pairs = RealPairs();
  if (pairs.empty()) GTEST_SKIP() << "no setup program and uninstaller built";
  TempDir dir;
  WriteFile(dir / "a.txt", "a");
  const struct {
    const char* line;
    const char* level;
  } rows[] = {{"", "requireAdministrator"},
              {"privileges = \"admin\"\n", "requireAdministrator"},
              {"privileges = \"user\"\n", "asInvoker"}};
  for (const auto& [stub, uninstaller] : pairs) {
    for (const auto& row : rows) {
      SCOPED_TRACE(stub + " " + row.line);
      auto loaded = setrunc::LoadProjectText(
          std::string("product = \"Tool\"\n") + row.line + "[[group]]\n[[group.file]]\nsource = \"a.txt\"\n",
          "demo.toml", dir.path(), {});
      ASSERT_FALSE(loaded.uninstallerGiven);
      setrunc::ApplyDefaultUninstaller(&loaded.project, loaded.groupDefaults, loaded.publisher,
                                       loaded.version, ReadFile(uninstaller));
      setrunc::BuildInstaller(loaded.project, ReadFile(stub), dir / "setup.exe");
      setrunc::PackageInfo package = setrunc::ReadPackage(dir / "setup.exe");
      ASSERT_TRUE(package.uninstaller);
      EXPECT_EQ(row.level, Level(*package.uninstaller));
      EXPECT_EQ(row.level, Level(ReadFile(dir / "setup.exe")));
    }
  }
  // An uninstaller without a manifest (a stand-in) cannot take a level.
  auto loaded = setrunc::LoadProjectText("privileges = \"user\"\n[[group]]\n", "demo.toml", dir.path(), {});
  try {
    setrunc::ApplyDefaultUninstaller(&loaded.project, loaded.groupDefaults, "", "", DummyStub());
    FAIL() << "no error";
  } catch (const BuildError& e) {
    EXPECT_EQ(std::string("the uninstaller is not a Windows program"), e.what());
  }
}

class PrivilegesKey : public ::testing::Test {
 protected:
  TempDir dir;
  setrunc::LoadedProject Load(const std::string& text) {
    return setrunc::LoadProjectText("title = \"Tool\"\n" + text, "demo.toml", dir.path(), {});
  }
};

TEST_F(PrivilegesKey, UserProjectsDefaultToTheUsersOwnPlaces) {
  const char* groups =
      "[[group]]\n"
      "[[group]]\n"
      "folder = \"#AppData#\\\\Tool\"\n"
      "registry = { root = \"HKLM\", key = \"Software\\\\Tool\" }\n";
  auto machine = Load(groups);
  EXPECT_FALSE(machine.project.privileges.has_value());
  EXPECT_EQ("#Program Files#\\Tool", *machine.project.groups[0].defaultFolder);
  EXPECT_EQ(2u, machine.project.groups[0].registryRoot);

  auto user = Load(std::string("privileges = \"user\"\n") + groups);
  EXPECT_EQ(Privileges::User, *user.project.privileges);
  EXPECT_EQ("#LocalAppData#\\Programs\\Tool", *user.project.groups[0].defaultFolder);
  EXPECT_EQ(1u, user.project.groups[0].registryRoot);  // HKCU
  // What the project says itself stays.
  EXPECT_EQ("#AppData#\\Tool", *user.project.groups[1].defaultFolder);
  EXPECT_EQ(2u, user.project.groups[1].registryRoot);

  EXPECT_EQ(Privileges::Admin, *Load(std::string("privileges = \"admin\"\n") + groups).project.privileges);
  try {
    Load("privileges = \"root\"\n[[group]]\n");
    FAIL() << "no error";
  } catch (const BuildError& e) {
    EXPECT_EQ(0u, std::string(e.what()).find("demo.toml:2:14: privileges: must be \"admin\"")) << e.what();
  }
}

}  // namespace
