// The full name of a TrueType font from its "name" table: crafted font
// files for each rule, and a real font from Debian's fonts when installed.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/font_name.h"

namespace {

typedef std::vector<u8> Bytes;

void Big16(Bytes& b, size_t at, u32 v) {
  b[at] = (u8)(v >> 8);
  b[at + 1] = (u8)v;
}
void Big32(Bytes& b, size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (u8)(v >> (24 - 8 * i));
}

struct NameRecord {
  u16 platform, nameId;
  std::string text;
  u32 offsetShift = 0;  // added to the record's string offset (beyond the data)
};

// A font file: the offset table, `tables` table records of which the one at
// `nameAt` (or none when it is -1) is "name", then the name table.
Bytes Font(const std::vector<NameRecord>& records, u32 tables = 3, int nameAt = 1,
           u32 nameOffsetOverride = 0) {
  Bytes b(12 + 16 * tables, 0);
  Big32(b, 0, 0x00010000);
  Big16(b, 4, tables);
  const u32 nameTable = (u32)b.size();
  for (u32 i = 0; i < tables; ++i) {
    const char* tag = (int)i == nameAt ? "name" : "glyf";
    memcpy(&b[12 + 16 * i], tag, 4);
    Big32(b, 12 + 16 * i + 8, nameOffsetOverride ? nameOffsetOverride : nameTable);
  }
  const u32 stringsAt = 6 + 12 * (u32)records.size();
  b.resize(b.size() + stringsAt, 0);
  Big16(b, nameTable + 2, (u32)records.size());
  Big16(b, nameTable + 4, stringsAt);
  std::string strings;
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t at = nameTable + 6 + 12 * i;
    Big16(b, at, records[i].platform);
    Big16(b, at + 6, records[i].nameId);
    Big16(b, at + 8, (u32)records[i].text.size());
    Big16(b, at + 10, (u32)strings.size() + records[i].offsetShift);
    strings += records[i].text;
  }
  b.insert(b.end(), strings.begin(), strings.end());
  return b;
}

// A font file in memory; `high` (when given) stands at offset `highAt`, as
// far into a file as 32 bits reach.
struct Memory {
  const Bytes* bytes;
  const Bytes* high;
  u32 highAt;
};

int ReadMemory(void* source, u32 offset, void* buffer, u32 size) {
  const Memory& m = *(Memory*)source;
  const Bytes* b = m.bytes;
  if (m.high && offset >= m.highAt) {
    b = m.high;
    offset -= m.highAt;
  }
  if (offset > b->size() || size > b->size() - offset) return 1;
  memcpy(buffer, b->data() + offset, size);
  return 0;
}

std::string NameOf(const Bytes& font) {
  Memory m = {&font, nullptr, 0};
  char name[FontNameSize];
  memset(name, 'x', sizeof name);
  FindFontFullName(ReadMemory, &m, name);
  return name;
}

}  // namespace

TEST(FontName, TakesTheLastMacintoshFullName) {
  const std::string mac = "Code Font";
  struct Case {
    const char* what;
    Bytes font;
    std::string expected;
  } cases[] = {
      {"one Macintosh full name", Font({{1, 4, mac}}), mac},
      {"only Windows records: no name", Font({{3, 4, std::string("\0C\0o", 4)}, {3, 1, "x"}}), ""},
      {"other name ids are passed over", Font({{1, 1, "Family"}, {1, 4, mac}, {1, 2, "Regular"}}), mac},
      {"the last matching record wins", Font({{1, 4, "First"}, {3, 4, "W"}, {1, 4, "Second"}}), "Second"},
      {"no name table among the records", Font({{1, 4, mac}}, 3, -1), ""},
      {"no tables at all", Font({{1, 4, mac}}, 0, -1), ""},
      {"name table as record 40", Font({{1, 4, mac}}, 41, 39), mac},
      {"name table beyond the 40th record", Font({{1, 4, mac}}, 41, 40), ""},
      {"a text beyond the file is passed over", Font({{1, 4, "Good"}, {1, 4, "Lost", 5000}}), "Good"},
      {"an empty full name", Font({{1, 4, ""}}), ""},
      {"the name table beyond the file", Font({{1, 4, mac}}, 3, 1, 0xFFFFFFF0u), ""},
      {"a file shorter than its offset table", Bytes(7, 0), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NameOf(c.font), c.expected) << c.what;
}

TEST(FontName, CutsALongNameToTheBuffer) {
  const std::string longName(700, 'N');
  EXPECT_EQ(NameOf(Font({{1, 4, longName}})), std::string(FontNameSize - 1, 'N'));
}

TEST(FontName, TextsBeyondFourGigabytesAreNotRead) {
  // The name table near the end of the 32-bit range: its texts would start
  // beyond 4 GB. Wrapped around, the offset would read the start of the
  // file as a name.
  const u32 at = 0xFFFFFFF0u;
  Bytes font = Font({}, 1, 0, at);
  Bytes table(6 + 12, 0);
  Big16(table, 2, 1);       // one record
  Big16(table, 4, 0x20);    // texts at 0x1_0000_0010
  Big16(table, 6, 1);       // Macintosh
  Big16(table, 6 + 6, 4);   // full name
  Big16(table, 6 + 8, 4);   // 4 bytes at text offset 0
  Memory m = {&font, &table, at};
  char name[FontNameSize];
  FindFontFullName(ReadMemory, &m, name);
  EXPECT_STREQ(name, "");
}

TEST(FontName, ReadsAFontFile) {
  char path[] = "/tmp/setrun-font-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  Bytes font = Font({{1, 4, "File Font"}});
  ASSERT_EQ(write(fd, font.data(), font.size()), (ssize_t)font.size());
  close(fd);
  char name[FontNameSize];
  ReadFontName(path, name);
  EXPECT_STREQ(name, "File Font");
  unlink(path);
  ReadFontName(path, name);  // gone: no name
  EXPECT_STREQ(name, "");
}

TEST(FontName, DebianDejaVuSans) {
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (access(path, R_OK) != 0) GTEST_SKIP() << path << " is not installed (fonts-dejavu-core)";
  char name[FontNameSize];
  ReadFontName(path, name);
  EXPECT_STREQ(name, "DejaVu Sans");
}
