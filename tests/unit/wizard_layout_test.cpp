// The wizard's reading of the layout record (page entries, their control
// tables, the button bar's controls: damaged ones refused at load, never read
// outside the record) and the finish page's failure text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/records.h"
#include "base/run_state.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "tests/support/package_bytes.h"
#include "wizard/messages.h"

using namespace pkgbytes;

namespace {

// A layout record written out with literal offsets: the 170-byte header,
// then for page kinds 0 and 3 a 56-byte page entry followed by `pageControls`
// page controls and one header control (32 bytes each), then the button
// bar's three controls.
struct LayoutBytes {
  Bytes b;
  size_t welcome = 0, folder = 0, bar = 0;

  explicit LayoutBytes(uint16_t pageControls = 2) {
    b.assign(170, 0);
    welcome = AddPage(0, pageControls);
    folder = AddPage(3, pageControls);
    bar = b.size();
    SetU32(b, 92, 3);
    SetU32(b, 96, (uint32_t)bar);
    for (uint16_t id : {1045, 1, 2}) AddControl(3, id);
  }
  size_t AddPage(int kind, uint16_t controls) {
    size_t at = b.size();
    SetU32(b, 126 + 4 * kind, (uint32_t)at);
    b.resize(at + 56, 0);
    SetU16(b, at + 44, controls);
    SetU16(b, at + 46, 1);
    SetU32(b, at + 48, 56);
    SetU32(b, at + 52, 56 + 32u * controls);
    for (uint16_t i = 0; i < controls; ++i) AddControl(1, (uint16_t)(1000 + i));
    AddControl(15, 1046);
    return at;
  }
  void AddControl(uint16_t kind, uint16_t id) {
    size_t at = b.size();
    b.resize(at + 32, 0);
    SetU16(b, at, kind);
    SetU16(b, at + 2, id);
  }
  RecordView View() const { return {b.data(), (u32)b.size()}; }
};

TEST(WizardLayout, PageEntriesAndControlTablesAreFoundInsideTheRecord) {
  LayoutBytes layout;
  RecordView view = layout.View();
  ASSERT_TRUE(CheckLayoutRecord(view));
  EXPECT_EQ(LayoutPageEntry(view, 0), layout.b.data() + layout.welcome);
  EXPECT_EQ(LayoutPageEntry(view, 3), layout.b.data() + layout.folder);
  // No entry: a kind the table leaves empty, kind 10 (never used) and beyond.
  for (u32 kind : {1u, 6u, 9u, 10u, 0xFFu, 0xFFFFu}) EXPECT_EQ(LayoutPageEntry(view, kind), nullptr) << kind;
  u32 count = 99;
  const u8* controls = LayoutControls(view, LayoutPageEntry(view, 3), 0, &count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(controls, layout.b.data() + layout.folder + 56);
  EXPECT_EQ(ReadU16(controls + 32 + 2), 1001u);
  controls = LayoutControls(view, LayoutPageEntry(view, 3), 1, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ReadU16(controls + 2), 1046u);
  controls = LayoutControls(view, nullptr, 0, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(controls, layout.b.data() + layout.bar);
  // A page without controls.
  LayoutBytes bare(0);
  EXPECT_TRUE(CheckLayoutRecord(bare.View()));
  EXPECT_EQ(LayoutControls(bare.View(), LayoutPageEntry(bare.View(), 0), 0, &count), nullptr);
  EXPECT_EQ(count, 0u);
}

// Every damage makes the record unreadable at load (the run then ends with
// -1); the accessors, asked anyway, hand out nothing outside the record.
TEST(WizardLayout, DamagedPageEntriesAndControlTablesAreRefused) {
  struct Damage {
    const char* what;
    void (*apply)(LayoutBytes&);
  };
  const Damage damages[] = {
      {"page entry beyond the record", [](LayoutBytes& l) { SetU32(l.b, 126 + 4 * 3, 100000); }},
      {"page entry cut short by the record's end",
       [](LayoutBytes& l) { SetU32(l.b, 126 + 4 * 3, (uint32_t)l.b.size() - 40); }},
      {"page entry in the last slot used, 9, beyond the record",
       [](LayoutBytes& l) { SetU32(l.b, 126 + 4 * 9, 0xFFFFFFF0u); }},
      {"page controls beyond the record", [](LayoutBytes& l) { SetU32(l.b, l.folder + 48, 0x10000); }},
      {"page controls offset wrapping around",
       [](LayoutBytes& l) { SetU32(l.b, l.folder + 48, 0xFFFFFFF0u); }},
      {"more page controls than the record holds", [](LayoutBytes& l) { SetU16(l.b, l.welcome + 44, 0xFFFF); }},
      {"header controls running past the end", [](LayoutBytes& l) { SetU32(l.b, l.folder + 52, (uint32_t)(l.b.size() - l.folder - 16)); }},
      {"button bar count larger than the record", [](LayoutBytes& l) { SetU32(l.b, 92, 0x08000001u); }},
      {"button bar controls beyond the record", [](LayoutBytes& l) { SetU32(l.b, 96, (uint32_t)l.b.size()); }},
      {"button bar cut by one byte", [](LayoutBytes& l) { l.b.pop_back(); }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    LayoutBytes layout;
    d.apply(layout);
    RecordView view = layout.View();
    EXPECT_FALSE(CheckLayoutRecord(view));
    for (u32 kind = 0; kind < 10; ++kind) {
      const u8* page = LayoutPageEntry(view, kind);
      if (!page) continue;
      EXPECT_LE(page + 56, view.data + view.length);
      for (int header = 0; header < 2; ++header) {
        u32 count;
        const u8* c = LayoutControls(view, page, header, &count);
        if (c) EXPECT_LE(c + 32 * (size_t)count, view.data + view.length);
      }
    }
    u32 count;
    const u8* bar = LayoutControls(view, nullptr, 0, &count);
    if (bar) EXPECT_LE(bar + 32 * (size_t)count, view.data + view.length);
  }
  // The header alone (no pages, no button bar) is a layout.
  Bytes header(170, 0);
  EXPECT_TRUE(CheckLayoutRecord({header.data(), (u32)header.size()}));
  EXPECT_FALSE(CheckLayoutRecord({header.data(), 169}));
}

// A group record whose text groups 6 and 7 hold the given texts.
Bytes GroupWithTexts(const std::vector<std::string>& six, const std::vector<std::string>& seven) {
  Bytes record(102, 0);
  for (int g : {6, 7}) {
    SetU32(record, 62 + 4 * g, (uint32_t)record.size());
    const std::vector<std::string>& texts = g == 6 ? six : seven;
    PutU16(record, (uint16_t)texts.size());
    for (const std::string& t : texts) PutText(record, t);
  }
  return record;
}

TEST(WizardTexts, FailureTextNamesTheReason) {
  ResetRunState();
  ASSERT_TRUE(AllocateSharedBuffers());
  std::vector<std::string> seven(32, "");
  seven[15] = "Not completed.";
  seven[18] = "Cannot read %s.";
  seven[22] = "In use: %s%%";  // a percent sign as the text writes it
  seven[12] = "No memory 100%";  // no %s: copied as it stands
  seven[31] = "Damaged data.";
  Bytes record = GroupWithTexts({"", "", "", "", "", "Failed: %s"}, seven);
  CurrentGroupRecord = {record.data(), (u32)record.size()};
  struct Case {
    i32 result;
    const char* detail;
    u32 status;
    const char* expected;
  } cases[] = {
      {15, "ignored", 0, "Not completed."},
      {18, "C:\\A\\b.dll", 0, "Failed: Cannot read C:\\A\\b.dll."},
      {22, "x.exe", 0, "Failed: In use: x.exe%"},
      {12, "x.exe", 0, "Failed: No memory 100%"},
      {31, "C:\\A\\b.dll", 0x11FD, "Failed: C:\\A\\b.dll: Damaged data. (error 11FD)"},
      {31, "", 0x31FB, "Failed: Damaged data. (error 31FB)"},
      {31, "data.bin", 0x5, "Failed: data.bin: Damaged data. (error 0005)"},
      {31, "data.bin", 0x123456, "Failed: data.bin: Damaged data. (error 123456)"},
      {31, "data.bin", 0, "Failed: data.bin: Damaged data."},
      {99, "x", 0, "Failed: "},  // a code without a text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    InstallResult = c.result;
    CopyText(ErrorDetail, c.detail, PathSize);
    InflateStatusWord = c.status;
    char text[64];
    FormatFailureText(text, sizeof text);
    EXPECT_STREQ(text, c.expected);
  }
  // A long reason is cut to the buffer, and stays terminated.
  std::string longName(300, 'n');
  InstallResult = 18;
  CopyText(ErrorDetail, longName.c_str(), PathSize);
  char small[24];
  FormatFailureText(small, sizeof small);
  EXPECT_STREQ(small, "Failed: Cannot read nnn");
  InflateStatusWord = 0;
  CurrentGroupRecord = {nullptr, 0};
  ReleaseSharedBuffers();
  ResetRunState();
}

}  // namespace
