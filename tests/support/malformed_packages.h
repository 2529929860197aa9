// Install packages the setup program must refuse to load, one fault each,
// assembled byte by byte: the loader's unit tests and the builder's reader
// tests run over the same list (whatever the setup program refuses, setrunc
// verify refuses too).
#pragma once

#include <functional>

#include "tests/support/package_bytes.h"

namespace pkgbytes {

inline GroupSpec NoticeGroup(const std::string& folder, const std::string& notice = "Data missing") {
  GroupSpec g;
  g.defaultFolder = folder;
  UsualTexts(g);
  g.texts[7][31] = notice;
  return g;
}
inline Bytes SampleLayout() { return Compressed(TypeLayout, LayoutPayload(0x2)); }
inline Bytes SampleGroup(const std::string& folder) { return Stored(TypeGroup, GroupPayload(NoticeGroup(folder))); }
inline Bytes SampleFileList(uint32_t entries) {
  std::vector<Bytes> list;
  for (uint32_t i = 0; i < entries; ++i) {
    EntrySpec e;
    e.strings[0] = "f" + std::to_string(i);
    list.push_back(EntryBytes(e));
  }
  return Stored(TypeFileList, FileListPayload(list));
}

struct Malformed {
  const char* name;
  std::vector<Bytes> records;
};

inline std::vector<Malformed> MalformedPackages() {
  std::vector<Malformed> list;
  const Bytes layout = SampleLayout();
  const Bytes group = SampleGroup("C:\\One");
  const Bytes end = EndOfTables({});
  list.push_back({"no layout", {group, end}});
  list.push_back({"no group", {layout, end}});
  list.push_back({"file list before the first group", {layout, SampleFileList(1), group, end}});
  list.push_back({"registry entries before the first group",
                  {layout, Stored(TypeRegistryEntries, Bytes(4, 0)), group, end}});
  list.push_back({"no end of tables", {layout, group}});

  auto groupWith = [&](const std::function<void(Bytes&)>& change) {
    Bytes payload = GroupPayload(NoticeGroup("C:\\One"));
    change(payload);
    return Stored(TypeGroup, payload);
  };
  list.push_back({"group record shorter than its header", {layout, Stored(TypeGroup, Bytes(101, 0)), end}});
  for (uint32_t field : {6u, 14u, 22u, 26u, 30u, 38u, 42u, 46u}) {
    list.push_back({"text field at the record end", {layout, groupWith([field](Bytes& p) { SetU32(p, field, (uint32_t)p.size()); }), end}});
    list.push_back({"text field beyond the record", {layout, groupWith([field](Bytes& p) { SetU32(p, field, 0xFFFFFFF0u); }), end}});
  }
  list.push_back({"text field whose string runs to the end",
                  {layout, groupWith([](Bytes& p) { p.push_back('x'); SetU32(p, 6, (uint32_t)p.size() - 1); }), end}});
  for (int t = 0; t < 10; ++t) {
    list.push_back({"text group beyond the record", {layout, groupWith([t](Bytes& p) { SetU32(p, 62 + 4 * t, (uint32_t)p.size() + 1); }), end}});
    list.push_back({"text group with one byte of count", {layout, groupWith([t](Bytes& p) { p.push_back(9); SetU32(p, 62 + 4 * t, (uint32_t)p.size() - 1); }), end}});
  }
  list.push_back({"text group counting more texts than it has",
                  {layout, groupWith([](Bytes& p) {
                     uint32_t at = GetU32(p, 62 + 4 * 9);  // group 9: the last one stored
                     SetU16(p, at, 1);
                   }), end}});

  list.push_back({"layout shorter than its header", {Stored(TypeLayout, Bytes(169, 0)), group, end}});
  Bytes badPage = LayoutPayload(0);
  SetU32(badPage, 126 + 4 * 3, 170);
  list.push_back({"page entry beyond the layout", {Stored(TypeLayout, badPage), group, end}});
  Bytes badBar = LayoutPayload(0);
  SetU32(badBar, 92, 2);
  SetU32(badBar, 96, 5000);
  list.push_back({"button bar beyond the layout", {Stored(TypeLayout, badBar), group, end}});

  auto listWith = [](const std::function<void(Bytes&)>& change) {
    EntrySpec e;
    Bytes payload = FileListPayload({EntryBytes(e), EntryBytes(e)});
    change(payload);
    return Stored(TypeFileList, payload);
  };
  list.push_back({"file list without its count", {layout, group, Stored(TypeFileList, Bytes(3, 0)), end}});
  list.push_back({"more entries counted than stored", {layout, group, listWith([](Bytes& p) { SetU32(p, 0, 3); }), end}});
  list.push_back({"entry overrunning the list", {layout, group, listWith([](Bytes& p) { p.pop_back(); }), end}});
  list.push_back({"entry length beyond the list", {layout, group, listWith([](Bytes& p) { SetU16(p, 4, 0xFFFF); }), end}});
  list.push_back({"entry shorter than its fixed part", {layout, group, listWith([](Bytes& p) { SetU16(p, 4, 41); }), end}});
  list.push_back({"entry length zero", {layout, group, listWith([](Bytes& p) { SetU16(p, 4, 0); }), end}});
  list.push_back({"entry count with one byte of entry", {layout, group, Stored(TypeFileList, Bytes{1, 0, 0, 0, 60}), end}});
  {
    EntrySpec e;
    e.strings.pop_back();  // eight strings
    list.push_back({"entry with a missing string", {layout, group, Stored(TypeFileList, FileListPayload({EntryBytes(e)})), end}});
    EntrySpec custom;
    custom.destination = 8;  // needs string 9
    list.push_back({"custom destination without its folder", {layout, group, Stored(TypeFileList, FileListPayload({EntryBytes(custom)})), end}});
    EntrySpec versioned;
    versioned.flags = 0x2 | 0x8;
    Bytes v = EntryBytes(versioned);
    v.resize(80);  // the strings would begin at offset 86
    SetU16(v, 0, 80);
    list.push_back({"entry strings beyond a short entry", {layout, group, Stored(TypeFileList, FileListPayload({v})), end}});
  }

  Bytes overCount;
  PutU32(overCount, 3);
  PutI32(overCount, 800);
  PutI32(overCount, 600);
  list.push_back({"resolution list counting more pairs than it has", {layout, Stored(TypeResolutionList, overCount), group, end}});
  list.push_back({"resolution list without its count", {layout, Stored(TypeResolutionList, Bytes{1, 0}), group, end}});

  Bytes huge = Header(TypeBackdropTitle, 1, 14);
  PutU32(huge, 0xFFFFFFF0u);
  Append(huge, Deflate(Bytes{1, 2, 3}));
  huge.resize(8 + 14, 0);
  list.push_back({"compressed payload claiming 4 GB", {layout, huge, group, end}});
  Bytes corrupt = Compressed(TypeBackdropTitle, Bytes(300, 'a'));
  corrupt[14] ^= 0xFF;
  list.push_back({"compressed payload that does not decode", {layout, corrupt, group, end}});
  Bytes tooLong = Compressed(TypeBackdropTitle, Bytes(300, 'a'));
  SetU32(tooLong, 8, 299);
  list.push_back({"compressed payload longer than stated", {layout, tooLong, group, end}});
  list.push_back({"compressed payload without its length word", {layout, Stored(TypeTitleStyle, Bytes{1, 2, 3}, 1), group, end}});
  list.push_back({"payload beyond the end of the file", {layout, group, Header(TypeUninstaller, 0, 1000)}});
  list.push_back({"size field wrapping round", {layout, group, Header(TypeUninstaller, 0, 0xFFFFFFF0u), end}});
  list.push_back({"file ending inside a header", {layout, group, Bytes{0x7F, 0x7F, 0, 0}}});
  list.push_back({"file ending inside the data length", {layout, group, Bytes{0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 1, 0}}});
  list.push_back({"forced-page record cut short", {layout, group, Bytes{0x3B, 0x14, 0, 0, 4, 0, 0, 0, 1, 0, 0}}});

  Bytes shortStream = Compressed(TypeUninstaller, Bytes(300, 'a'));
  SetU32(shortStream, 8, 301);
  list.push_back({"compressed payload shorter than stated", {layout, shortStream, group, end}});
  Bytes noStream = Header(TypeUninstaller, 1, 4);
  PutU32(noStream, 12);
  list.push_back({"compressed payload stating bytes without a stream", {layout, noStream, group, end}});
  // 129 MiB stated, with stream bytes enough to make that possible: refused
  // before the stream is looked at.
  Bytes beyond = Header(TypeUninstaller, 1, 4 + 132000);
  PutU32(beyond, 129u << 20);
  beyond.resize(beyond.size() + 132000, 0);
  list.push_back({"tables beyond 128 MiB", {layout, beyond, group, end}});

  auto tableWith = [&](const std::function<void(Bytes&)>& change) {
    Bytes table = ImageTablePayload({PackedBitmap(4, 3, 8), {}, PackedBitmap(5, 2, 24)});
    change(table);
    return std::vector<Bytes>{layout, Stored(TypeImageTable, table), group, end};
  };
  list.push_back({"image table without its count", {layout, Stored(TypeImageTable, Bytes(3, 0)), group, end}});
  list.push_back({"image table counting more offsets than it has", tableWith([](Bytes& t) { t.resize(12); })});
  list.push_back({"image beyond the table", tableWith([](Bytes& t) { SetU32(t, 8, (uint32_t)t.size()); })});
  list.push_back({"image with its pixel rows beyond the table", tableWith([](Bytes& t) { t.pop_back(); })});
  list.push_back({"image with its colour table beyond the table",
                  tableWith([](Bytes& t) { SetU32(t, 16 + 32, 0x40000000u); })});
  list.push_back({"run-length encoded image", tableWith([](Bytes& t) { SetU32(t, 16 + 16, 1); })});
  list.push_back({"image of 2 bits per pixel", tableWith([](Bytes& t) { SetU16(t, 16 + 14, 2); })});
  list.push_back({"image 0 pixels wide", tableWith([](Bytes& t) { SetU32(t, 16 + 4, 0); })});
  list.push_back({"image of 2^31 rows", tableWith([](Bytes& t) { SetU32(t, 16 + 8, 0x80000000u); })});
  list.push_back({"image whose header states another size", tableWith([](Bytes& t) { SetU32(t, 16, 12); })});
  const Bytes oneSize = Stored(TypeResolutionList, ResolutionPayload({{1024, 768}}));
  Bytes cutPicture = BackdropPayload(PackedBitmap(16, 16, 4));
  cutPicture.resize(cutPicture.size() - 8);
  list.push_back({"backdrop picture cut short", {layout, oneSize, Stored(TypeBackdropImage, cutPicture), group, end}});
  list.push_back({"backdrop picture without its file header",
                  {layout, oneSize, Stored(TypeBackdropImage, Bytes(10, 'B')), group, end}});
  list.push_back({"backdrop title without its end", {layout, Stored(TypeBackdropTitle, Bytes{'a', 'b'}), group, end}});
  list.push_back({"title style shorter than 72 bytes",
                  {layout, Stored(TypeTitleStyle, Bytes(71, 0)), group, end}});
  return list;
}

}  // namespace pkgbytes
