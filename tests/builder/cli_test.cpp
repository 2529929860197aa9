// The setrunc command: build, inspect, verify and extract as a user runs them.
#include <sys/wait.h>

#include "builder/package_reader.h"
#include "builder/shared_data.h"
#include "builder/texts.h"
#include "tests/builder/builder_support.h"

using namespace builder_test;

namespace {

struct Outcome {
  int code;
  std::string out, err;
};

class Command : public ::testing::Test {
 protected:
  TempDir dir;

  Outcome Setrunc(const std::string& arguments) {
    std::string command = std::string(SETRUNC_PATH) + " " + arguments + " >'" + (dir / "stdout") + "' 2>'" +
                          (dir / "stderr") + "'";
    int status = std::system(command.c_str());
    Bytes out = ReadFile(dir / "stdout"), err = ReadFile(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
  }

  // A project with a few files and a dummy stub (and no embedded
  // uninstaller: the counts below are the project's files).
  std::string MakeProject(const std::string& extra = "") {
    std::system(("mkdir -p '" + (dir / "src/sub") + "'").c_str());
    WriteFile(dir / "src/readme.txt", "Read me.\r\n");
    WriteFile(dir / "src/sub/data.bin", Noise(40000, 7));
    WriteFile(dir / "src/empty.txt", "");
    WriteFile(dir / "stub.exe", DummyStub());
    WriteFile(dir / "p.toml", "title = \"Demo\"\nstub = \"stub.exe\"\n" + extra +
                                  "[[group]]\nuninstaller = false\n[[group.file]]\nsource = \"src\"\n");
    return dir / "p.toml";
  }
};

// A project that names no uninstaller gets setrun's own, for the processor
// of the setup program, as the entry Uninstall.exe.
TEST_F(Command, AProjectWithoutUninstallerGetsTheEmbeddedOne) {
  WriteFile(dir / "a.txt", "a");
  WriteFile(dir / "stub.exe", DummyStub());
  WriteFile(dir / "p.toml", "title = \"Tool\"\nstub = \"stub.exe\"\n[[group]]\n[[group.file]]\nsource = \"a.txt\"\n");
  Outcome r = Setrunc("build '" + (dir / "p.toml") + "' -o '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  r = Setrunc("inspect '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* expected : {"Uninstaller image: ", "\"Uninstall.exe\" (uninstaller)", "0x1445 registry entries"})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

TEST_F(Command, EveryCommandExplainsItself) {
  for (const char* command : {"--help", "build --help", "inspect --help", "verify --help", "extract --help"}) {
    Outcome r = Setrunc(command);
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_NE(r.out.find("usage: setrunc"), std::string::npos) << command;
  }
  Outcome r = Setrunc("frobnicate");
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("unknown command"), std::string::npos);
  r = Setrunc("build");
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("no project file"), std::string::npos);
}

TEST_F(Command, BuildInspectVerifyExtract) {
  std::string project = MakeProject();
  Outcome r = Setrunc("build '" + project + "' -o '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("3 files"), std::string::npos) << r.out;

  r = Setrunc("inspect '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* expected : {"0x1435 layout", "0x143E group", "0x143A file list", "0x7F7F end of tables",
                               "\"sub\\\\data.bin\"", "7/0 \"Demo\"", "8/1 \"Next >\"", "size 40000"})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;

  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("3 files in 1 group verified"), std::string::npos) << r.out;

  r = Setrunc("extract '" + (dir / "setup.exe") + "' -o '" + (dir / "x") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "x/readme.txt"), ReadFile(dir / "src/readme.txt"));
  EXPECT_EQ(ReadFile(dir / "x/sub/data.bin"), Noise(40000, 7));
  EXPECT_TRUE(Exists(dir / "x/empty.txt"));
}

TEST_F(Command, VerifyNamesTheDamagedFile) {
  Outcome r = Setrunc("build '" + MakeProject() + "' -o '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  setrunc::PackageInfo p = setrunc::ReadPackage(dir / "setup.exe");
  const u8* data = setrunc::FileEntries(*p.groups[0].fileList)[2];  // sub\data.bin
  ASSERT_STREQ(EntryString(data, 0), "sub\\data.bin");
  Bytes image = ReadFile(dir / "setup.exe");
  image[p.dataAreaOffset + 4 + ReadU32(data + EntryDataOffset) + 3000] ^= 0x55;
  WriteFile(dir / "setup.exe", image);
  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("\"sub\\data.bin\""), std::string::npos) << r.err;

  // A cut-off installer is incomplete.
  image.resize(image.size() - 100);
  WriteFile(dir / "setup.exe", image);
  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("ends before"), std::string::npos) << r.err;
}

TEST_F(Command, VerifyFollowsDataVolumesAndMissesALostOne) {
  Outcome r = Setrunc("build '" + MakeProject("volume_size = 20000\n") + "' -o '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("data volumes"), std::string::npos) << r.out;
  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  std::remove((dir / "setup.D02").c_str());
  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("setup.D02 is missing"), std::string::npos) << r.err;
}

TEST_F(Command, ExtractRefusesNamesThatLeaveTheFolder) {
  setrunc::Project p;
  setrunc::Group g;
  g.texts = setrunc::DefaultTexts("x");
  for (const char* name : {"..\\escape.txt", "\\rooted.txt", "C:\\drive.txt", "fine.txt"}) {
    setrunc::FileEntry e;
    e.strings[0] = name;
    e.data.kind = setrunc::FileData::Inline;
    e.data.bytes = {'x'};
    g.files.push_back(e);
  }
  p.groups.push_back(g);
  setrunc::BuildInstaller(p, DummyStub(), dir / "bad.exe");
  std::system(("mkdir -p '" + (dir / "out/inner") + "'").c_str());
  Outcome r = Setrunc("extract '" + (dir / "bad.exe") + "' -o '" + (dir / "out/inner") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("refused"), std::string::npos);
  EXPECT_FALSE(Exists(dir / "out/escape.txt"));
  EXPECT_FALSE(Exists("/rooted.txt"));
  EXPECT_TRUE(Exists(dir / "out/inner/fine.txt"));
}

TEST_F(Command, BuildReportsProblemsClearly) {
  std::string project = MakeProject();
  Outcome r = Setrunc("build '" + project + "'");  // no output
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no output"), std::string::npos) << r.err;

  r = Setrunc("build '" + project + "' -o '" + (dir / "s.exe") + "' --stub x64");
  if (r.code != 0) {  // unless setrunc was built with a 64-bit setup program
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("64-bit stub is missing"), std::string::npos) << r.err;
  }

  WriteFile(dir / "bad.toml", "title = \"x\"\n[[group]]\nflags = [\"no_such_flag\"]\n");
  r = Setrunc("build '" + (dir / "bad.toml") + "' -o '" + (dir / "s.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find((dir / "bad.toml") + ":3:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("group[0].flags[0]: unknown flag 'no_such_flag'"), std::string::npos) << r.err;

  // -D fills ${NAME} in source paths.
  WriteFile(dir / "d.toml", "stub = \"stub.exe\"\n[[group]]\n[[group.file]]\nsource = \"${SRC}/readme.txt\"\n");
  r = Setrunc("build '" + (dir / "d.toml") + "' -o '" + (dir / "d.exe") + "' -D SRC=src");
  EXPECT_EQ(r.code, 0) << r.err;
  r = Setrunc("build '" + (dir / "d.toml") + "' -o '" + (dir / "d.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("${SRC} is not defined"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Identical files: inspect tells what storing them once saved, verify
// accepts entries that share a stream, and refuses data the setup program
// could only reach by going back to an earlier data volume.
TEST_F(Command, IdenticalFilesAreReportedAndTheirOrderChecked) {
  std::string project = MakeProject("volume_size = 20000\n");
  WriteFile(dir / "src/sub/copy.bin", Noise(40000, 7));  // the bytes of sub/data.bin
  WriteFile(dir / "src/a.txt", Noise(9000, 8));
  WriteFile(dir / "src/b.txt", Noise(9000, 8));
  Outcome r = Setrunc("build '" + project + "' -o '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  r = Setrunc("inspect '" + (dir / "setup.exe") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Identical files: 1 of 5 entries with data use the stream of an earlier entry"),
            std::string::npos) << r.out;
  r = Setrunc("verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("6 files in 1 group verified"), std::string::npos) << r.out;

  // What the setup program reaches, entry after entry: volume 0 ends at L0.
  setrunc::PackageInfo p = setrunc::ReadPackage(dir / "setup.exe");
  ASSERT_GT(p.dataLength, 100u);
  setrunc::DataOrder order(p);
  EXPECT_EQ(order.Next(0, 50), "");
  EXPECT_EQ(order.Next(10, 20), "");  // back inside volume 0
  EXPECT_EQ(order.Next(p.dataLength, 10), "");  // on into volume 1
  EXPECT_NE(order.Next(10, 20).find("lies in data volume 0, before volume 1"), std::string::npos);
}

// The reader behind inspect, verify and extract meets damaged installers:
// it must report, never read outside what it loaded. Records are stored
// uncompressed here so that the damage reaches their fields.
TEST(Reader, DamagedInstallersAreReportedNotTrusted) {
  TempDir dir;
  setrunc::Group g;
  g.texts = setrunc::DefaultTexts("x");
  g.displayName = "App";
  g.registryKey = "Software\\App";
  Bytes list = {3, 0, 0, 0};
  Bytes data;
  for (unsigned i = 0; i < 3; ++i) {
    setrunc::FileEntry e;
    e.strings[0] = "f" + std::to_string(i);
    e.flags |= i == 1 ? FileFlagCompareVersion | FileFlagTimes : 0;
    e.destination = i == 2 ? DestCustom : DestInstallDir;
    e.strings[9] = "#Windows#";
    Bytes content = Noise(3000, i, true);
    Bytes stream = setrunc::ZlibCompress(content.data(), content.size(), 6);
    setrunc::StreamInfo info{(u32)data.size(), (u32)stream.size(), 3000,
                             RotateAddSum(0, content.data(), content.size())};
    data.insert(data.end(), stream.begin(), stream.end());
    Bytes entry = setrunc::EncodeEntry(e, info);
    list.insert(list.end(), entry.begin(), entry.end());
  }
  Bytes good = DummyStub();
  good.insert(good.end(), PackageMarker, PackageMarker + PackageMarkerLength);
  for (const Bytes& r : {setrunc::EncodeRecord(RecordLayout, setrunc::EncodeLayout({}), false, 0),
                         setrunc::EncodeRecord(RecordGroup, setrunc::EncodeGroupRecord(g), false, 0),
                         setrunc::EncodeRecord(RecordFileList, list, false, 0),
                         setrunc::EncodeRecordHeader(RecordEndOfTables, 0, (u32)data.size())})
    good.insert(good.end(), r.begin(), r.end());
  for (int i = 0; i < 4; ++i) good.push_back((u8)(data.size() >> (8 * i)));
  good.insert(good.end(), data.begin(), data.end());
  WriteFile(dir / "good.exe", good);
  ASSERT_NO_THROW(setrunc::DescribePackage(setrunc::ReadPackage(dir / "good.exe")));

  std::mt19937 random(1);
  int reported = 0, read = 0;
  for (int round = 0; round < 500; ++round) {
    Bytes bad = good;
    for (int n = 0; n < 1 + round % 4; ++n) {
      size_t at = 2054 + random() % (bad.size() - 2054);
      bad[at] = (u8)random();
    }
    if (round % 10 == 0) bad.resize(2054 + random() % (bad.size() - 2054));
    WriteFile(dir / "bad.exe", bad);
    try {
      setrunc::PackageInfo info = setrunc::ReadPackage(dir / "bad.exe");
      setrunc::DescribePackage(info);
      setrunc::DataArea area(info);
      for (const auto& group : info.groups)
        if (group.fileList)
          for (const u8* e : setrunc::FileEntries(*group.fileList))
            setrunc::InflateEntry(area, e, [](const u8*, size_t) {});
      ++read;
    } catch (const setrunc::BuildError&) {
      ++reported;
    }
  }
  EXPECT_GT(reported, 0);
  EXPECT_GT(read, 0);
}

}  // namespace
