// setrunc inspect, verify and extract on hostile installers: what they
// print, their exit codes and what ends up on disk.
#include <sys/stat.h>
#include <sys/wait.h>

#include <sstream>

#include "builder/package_reader.h"
#include "builder/reader_commands.h"
#include "tests/builder/builder_support.h"
#include "tests/support/malformed_packages.h"

using builder_test::Exists;
using builder_test::ReadFile;
using builder_test::TempDir;
using builder_test::WriteFile;
namespace pb = pkgbytes;
using pb::Bytes;

namespace {

struct Outcome {
  int code;
  std::string out, err;
  bool Says(const std::string& text) const { return out.find(text) != std::string::npos || err.find(text) != std::string::npos; }
};

// The setrunc program, optionally under a command such as prlimit.
Outcome Setrunc(const TempDir& dir, const std::string& arguments, const std::string& prefix = "") {
  std::string command = prefix + " " + SETRUNC_PATH + " " + arguments + " >'" + (dir / "stdout") + "' 2>'" +
                        (dir / "stderr") + "'";
  int status = std::system(command.c_str());
  Bytes out = ReadFile(dir / "stdout"), err = ReadFile(dir / "stderr");
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
          std::string(err.begin(), err.end())};
}

// The same commands in this process.
Outcome RunHere(const std::string& command, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = setrunc::RunReaderCommand(command, args, out, err);
  return {code, out.str(), err.str()};
}

// A one-group installer assembled byte by byte: each added file gets its own
// stream in the data area unless it is given one.
struct Installer {
  Bytes area;
  std::vector<Bytes> entries;
  std::vector<Bytes> before;  // records in front of the group record

  // An entry whose stream holds `content` (or the stream of `shared`).
  pb::EntrySpec File(const std::string& name, const Bytes& content) {
    Bytes z = pb::Deflate(content);
    pb::EntrySpec e;
    e.dataOffset = (uint32_t)area.size();
    e.packedSize = (uint32_t)z.size();
    e.size = (uint32_t)content.size();
    e.checksum = pb::RotateAdd(content.data(), content.size());
    e.strings[0] = name;
    pb::Append(area, z);
    return e;
  }
  pb::EntrySpec Stream(const std::string& name, const Bytes& stream, uint32_t size, uint32_t checksum) {
    pb::EntrySpec e;
    e.dataOffset = (uint32_t)area.size();
    e.packedSize = (uint32_t)stream.size();
    e.size = size;
    e.checksum = checksum;
    e.strings[0] = name;
    pb::Append(area, stream);
    return e;
  }
  void Add(const pb::EntrySpec& e) { entries.push_back(pb::EntryBytes(e)); }
  void Add(const std::string& name, const Bytes& content) { Add(File(name, content)); }

  Bytes Program(const pb::GroupSpec& group = pb::NoticeGroup("C:\\App")) const {
    std::vector<Bytes> records = {pb::SampleLayout()};
    for (const Bytes& r : before) records.push_back(r);
    records.push_back(pb::Stored(pb::TypeGroup, pb::GroupPayload(group)));
    records.push_back(pb::Stored(pb::TypeFileList, pb::FileListPayload(entries)));
    records.push_back(pb::EndOfTables(area));
    return pb::Program(4096, records);
  }
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class ReaderCommand : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Write(const Bytes& program, const std::string& name = "setup.exe") {
    WriteFile(dir / name, program);
    return dir / name;
  }
};

// Each way out says why.
TEST_F(ReaderCommand, EveryExitPathExplainsItself) {
  std::system(("mkfifo '" + (dir / "fifo") + "'").c_str());
  WriteFile(dir / "plain.exe", Bytes(5000, 'x'));
  struct Case {
    const char* arguments;
    int code;
    const char* says;
  } cases[] = {
      {"inspect", 2, "setrunc inspect: no installer given (see setrunc inspect --help)"},
      {"verify a b", 2, "setrunc verify: more than one installer given"},
      {"extract SETUP", 2, "setrunc extract: no output folder given (-o FOLDER)"},
      {"verify --fast x", 2, "setrunc verify: unknown option --fast"},
      {"verify DIR/missing.exe", 1, "missing.exe': No such file or directory"},
      {"inspect DIR", 1, "' is not a file"},
      {"verify DIR/fifo", 1, "fifo' is not a file"},
      {"inspect DIR/plain.exe", 1, "plain.exe' holds no install package"},
  };
  for (const Case& c : cases) {
    std::string arguments = c.arguments;
    for (size_t at; (at = arguments.find("DIR")) != std::string::npos;) arguments.replace(at, 3, dir.path());
    Outcome r = Setrunc(dir, arguments);
    EXPECT_EQ(r.code, c.code) << c.arguments;
    EXPECT_TRUE(r.Says(c.says)) << c.arguments << "\n" << r.err;
  }
}

// ---------------------------------------------------------------------------
// Every package the setup program refuses, verify refuses too.

class ReaderAndLoader : public builder_test::LoaderTest {
 protected:
  TempDir dir;
};

TEST_F(ReaderAndLoader, VerifyRefusesWhatTheSetupProgramRefuses) {
  for (const pb::Malformed& m : pb::MalformedPackages()) {
    SCOPED_TRACE(m.name);
    WriteFile(dir / "setup.exe", pb::Program(4096, m.records));
    FreePackage();
    EXPECT_EQ(Load(dir / "setup.exe"), 0);
    Outcome r = RunHere("verify", {dir / "setup.exe"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("setrunc: "), std::string::npos) << r.err;
  }
}

// The reasons for the new rules, as verify states them.
TEST_F(ReaderCommand, VerifyNamesTheRecordTheSetupProgramWouldRefuse) {
  Bytes shortTitle = pb::Compressed(pb::TypeBackdropTitle, pb::Text("Title"));
  pb::SetU32(shortTitle, 8, 7);
  Bytes badList;
  pb::PutU32(badList, 2);
  struct Case {
    Bytes record;
    const char* says;
  } cases[] = {
      {pb::Stored(pb::TypeBackdropTitle, Text("no end")), "backdrop title record (0x1438) at offset 4144 is malformed: its text does not end"},
      {pb::Stored(pb::TypeTitleStyle, Bytes(40, 1)), "backdrop title style record (0x143D) at offset 4144 is malformed: it is shorter than 72 bytes"},
      {pb::Stored(pb::TypeImageTable, pb::ImageTablePayload({Bytes(50, 1)})), "wizard image table record (0x1436) at offset 4144 is malformed: an image lies outside"},
      {pb::Stored(pb::TypeResolutionList, badList), "resolution list record (0x1444) at offset 4144 is malformed: it counts more sizes"},
      {shortTitle, "backdrop title record (0x1438) at offset 4144 decodes to 6 bytes, not the 7 it states"},
  };
  for (const Case& c : cases) {
    Installer in;
    in.before = {c.record};
    Outcome r = RunHere("verify", {Write(in.Program())});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.Says(c.says)) << r.err;
  }
  // Backdrop images are read only where a resolution list counts them.
  Installer in;
  in.before = {pb::Stored(pb::TypeBackdropImage, Text("not read")),
               pb::Stored(pb::TypeResolutionList, pb::ResolutionPayload({{800, 600}})),
               pb::Stored(pb::TypeBackdropImage, pb::BackdropPayload(pb::PackedBitmap(8, 8, 24))),
               pb::Stored(pb::TypeBackdropImage, Text("not read either"))};
  Outcome r = RunHere("verify", {Write(in.Program())});
  EXPECT_EQ(r.code, 0) << r.err;
  in.before[2] = pb::Stored(pb::TypeBackdropImage, pb::PackedBitmap(8, 8, 24));  // no file header
  r = RunHere("verify", {Write(in.Program())});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("backdrop image record (0x1437)")) << r.err;
}

// ---------------------------------------------------------------------------
// Memory: what a record states is checked before anything is taken for it.

TEST_F(ReaderCommand, ClaimedLengthsTakeNoMemory) {
  const std::string limit = "prlimit --as=" + std::to_string(64 << 20);
  Bytes huge = pb::CompressedWithZeros(pb::TypeGroup, pb::GroupPayload(pb::NoticeGroup("C:\\Huge")), 1u << 30);
  Outcome r = Setrunc(dir, "verify '" + Write(pb::Program(4096, {pb::SampleLayout(), huge, huge, huge, pb::EndOfTables({})})) + "'", limit);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("the group record (0x143E) at offset 4144 needs 1073742")) << r.err;
  EXPECT_TRUE(r.Says("more than the 134217728 bytes the setup program allows")) << r.err;

  Bytes noise = builder_test::Noise(120 * 1024, 3);
  Bytes record = pb::Compressed(pb::TypeUninstaller, noise, 0);
  pb::SetU32(record, 8, 120u << 20);
  Installer in;
  in.before = {record};
  r = Setrunc(dir, "verify '" + Write(in.Program()) + "'", limit);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("uninstaller image record (0x143F) at offset 4144 decodes to 122880 bytes, not the 125829120 it states")) << r.err;

  // Together: the third record of 48 MiB would take the tables beyond.
  Bytes large = pb::CompressedWithZeros(pb::TypeGroup, pb::GroupPayload(pb::NoticeGroup("C:\\Large")), 48u << 20);
  r = Setrunc(dir, "inspect '" + Write(pb::Program(4096, {pb::SampleLayout(), large, large, large, pb::EndOfTables({})})) + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("bytes of the records before it, the tables would hold more than the 134217728")) << r.err;
}

// ---------------------------------------------------------------------------
// File data: each entry stops at its declared size, and extract checks like
// verify.

TEST_F(ReaderCommand, AnEntryStopsAtItsSizeAndExtractChecksLikeVerify) {
  Installer in;
  in.Add("first.txt", Text("first"));
  pb::EntrySpec big = in.Stream("big.txt", pb::DeflateWithZeros({}, 100u << 20), 10, 0);
  in.Add(big);
  pb::EntrySpec sum = in.File("sum.txt", Text("checked"));
  sum.checksum ^= 1;
  in.Add(sum);
  pb::EntrySpec shorter = in.File("short.txt", Text("short"));
  shorter.size = 6;
  in.Add(shorter);
  in.Add("last.txt", Text("last"));
  std::string setup = Write(in.Program());

  Outcome r = Setrunc(dir, "verify '" + setup + "'");
  EXPECT_EQ(r.code, 1);
  for (const char* says : {"group 0 file 1 \"big.txt\": more data than its 10 bytes",
                           "group 0 file 2 \"sum.txt\": wrong checksum",
                           "group 0 file 3 \"short.txt\": 5 bytes instead of 6", ": 3 faults"})
    EXPECT_TRUE(r.Says(says)) << says << "\n" << r.err;

  r = Setrunc(dir, "extract '" + setup + "' -o '" + (dir / "x") + "'");
  EXPECT_EQ(r.code, 1);
  for (const char* says : {"group 0 file 1 \"big.txt\": more data than its 10 bytes; not written",
                           "group 0 file 2 \"sum.txt\": wrong checksum; not written",
                           "group 0 file 3 \"short.txt\": 5 bytes instead of 6; not written",
                           "writing 5 files, 32 bytes, to", "2 files written to", "3 entries not extracted"})
    EXPECT_TRUE(r.Says(says)) << says << "\n" << r.out << r.err;
  EXPECT_EQ(ReadFile(dir / "x/first.txt"), Text("first"));
  EXPECT_EQ(ReadFile(dir / "x/last.txt"), Text("last"));
  for (const char* absent : {"x/big.txt", "x/sum.txt", "x/short.txt"}) EXPECT_FALSE(Exists(dir / absent)) << absent;
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + (dir / "x") + "' | grep setrunc)\"").c_str()), 0);
}

TEST_F(ReaderCommand, SharedAndOverlappingStreams) {
  Installer in;
  Bytes content = Text("shared content");
  pb::EntrySpec one = in.File("one.txt", content);
  pb::EntrySpec two = one, wrong = one, overlap = one;
  two.strings[0] = "two.txt";
  wrong.strings[0] = "wrong.txt";
  wrong.size = 3;
  overlap.strings[0] = "overlap.txt";
  overlap.dataOffset += 1;
  for (const pb::EntrySpec& e : {one, two, wrong, overlap}) in.Add(e);
  std::string setup = Write(in.Program());
  Outcome r = Setrunc(dir, "verify '" + setup + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("group 0 file 2 \"wrong.txt\": more data than its 3 bytes")) << r.err;
  EXPECT_TRUE(r.Says("group 0 file 3 \"overlap.txt\": its data overlaps that of group 0 file 0 \"one.txt\"")) << r.err;
  EXPECT_TRUE(r.Says(": 2 faults")) << r.err;
  r = Setrunc(dir, "extract '" + setup + "' -o '" + (dir / "x") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFile(dir / "x/one.txt"), content);
  EXPECT_EQ(ReadFile(dir / "x/two.txt"), content);
  EXPECT_FALSE(Exists(dir / "x/wrong.txt"));
  EXPECT_FALSE(Exists(dir / "x/overlap.txt"));
}

TEST_F(ReaderCommand, TheUninstallerProgramIsWrittenOnce) {
  Installer in;
  in.before = {pb::Stored(pb::TypeUninstaller, Text("MZprogram"))};
  for (const char* name : {"uninst.exe", "again.exe"}) {
    pb::EntrySpec e = in.File(name, Text("LOG"));
    e.state = 2;
    in.Add(e);
  }
  Outcome r = Setrunc(dir, "extract '" + Write(in.Program()) + "' -o '" + (dir / "x") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.Says("writing 2 files, 15 bytes")) << r.out;
  EXPECT_EQ(ReadFile(dir / "x/uninst.exe"), Text("MZprogramLOG"));
  EXPECT_EQ(ReadFile(dir / "x/again.exe"), Text("LOG"));
  EXPECT_TRUE(r.Says("group 0 file 1 \"again.exe\": written without the uninstaller program, which is in")) << r.out;
}

// Names with control characters: escaped wherever they are printed, refused
// as file names; folder entries are created; one file's failure leaves the
// others written.
TEST_F(ReaderCommand, NamesAreEscapedRefusedOrReportedOneByOne) {
  pb::GroupSpec group = pb::NoticeGroup("C:\\App");
  group.displayName = "App\x1b]0;title\x07";
  group.texts[7][0] = "Setup\x1b[2J";
  Installer in;
  in.Add("good.txt", Text("good"));
  in.Add("bad\x1b[31m.txt", Text("bad"));
  in.Add(std::string(300, 'n') + ".txt", Text("long"));
  pb::EntrySpec folder;
  folder.flags = 0x200;
  folder.strings[0] = "docs\\inner\\";
  in.Add(folder);
  in.Add("sub\\after.txt", Text("after"));
  std::string setup = Write(in.Program(group));

  Outcome r = Setrunc(dir, "inspect '" + setup + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.Says("display name \"App\\x1B]0;title\\x07\"")) << r.out;
  EXPECT_TRUE(r.Says("7/0 \"Setup\\x1B[2J\"")) << r.out;
  EXPECT_TRUE(r.Says("\"bad\\x1B[31m.txt\"")) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

  r = Setrunc(dir, "extract '" + setup + "' -o '" + (dir / "x") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("group 0 file 1 \"bad\\x1B[31m.txt\": refused: its name holds control characters")) << r.err;
  EXPECT_TRUE(r.Says("group 0 file 2 \"nnnn")) << r.err;
  EXPECT_TRUE(r.Says("File name too long")) << r.err;
  EXPECT_TRUE(r.Says("2 entries not extracted")) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "x/good.txt"), Text("good"));
  EXPECT_EQ(ReadFile(dir / "x/sub/after.txt"), Text("after"));
  struct stat st;
  EXPECT_TRUE(stat((dir / "x/docs/inner").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  EXPECT_EQ(std::system(("test $(ls -A '" + (dir / "x") + "' | wc -l) -eq 3").c_str()), 0);
}

// ---------------------------------------------------------------------------
// Work that must stay in proportion to the input. These tests assert
// outcomes only; they carry a 20-second ctest timeout (builder.cmake), so
// that work growing with the square of the input, or with the entries rather
// than the data, shows as a timeout.

// 5,000 entries of 1,000 MiB each on one 64 MiB stream: the stream is
// inflated once for all of them, and extract refuses for want of space.
TEST(ReaderScale, ManyEntriesOnOneStream) {
  TempDir dir;
  Installer in;
  pb::EntrySpec e = in.Stream("f", pb::DeflateWithZeros({}, 64u << 20), 1000u << 20, 0);
  for (int i = 0; i < 5000; ++i) {
    e.strings[0] = "f" + std::to_string(i);
    in.Add(e);
  }
  WriteFile(dir / "setup.exe", in.Program());
  Outcome r = Setrunc(dir, "verify '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("group 0 file 4999 \"f4999\": 67108864 bytes instead of 1048576000")) << r.err.substr(0, 500);
  EXPECT_TRUE(r.Says(": 5000 faults")) << r.err.substr(r.err.size() - 200);
  r = Setrunc(dir, "extract '" + (dir / "setup.exe") + "' -o '" + (dir / "x") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.Says("writing 5000 files, 5242880000000 bytes, to")) << r.out;
  EXPECT_TRUE(r.Says("x: the files take 5242880000000 bytes, but only ")) << r.err;
  EXPECT_TRUE(r.Says("bytes are free there; nothing was written")) << r.err;
  EXPECT_FALSE(Exists(dir / "x"));
}

// 2 x 65,535 texts: inspect walks each text group once.
TEST(ReaderScale, InspectReadsEveryTextOnce) {
  TempDir dir;
  pb::GroupSpec group = pb::NoticeGroup("C:\\App");
  std::vector<std::string> texts;
  for (int n = 0; n < 65535; ++n) texts.push_back("text number " + std::to_string(n));
  group.SetTexts(7, texts);
  group.SetTexts(8, texts);
  Installer in;
  WriteFile(dir / "setup.exe", in.Program(group));
  Outcome r = Setrunc(dir, "inspect '" + (dir / "setup.exe") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.Says("    7/65534 \"text number 65534\"\n    8/0 \"text number 0\"\n"));
  EXPECT_TRUE(r.Says("    8/65534 \"text number 65534\"\n"));
}

}  // namespace
