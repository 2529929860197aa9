// Writes the seed corpus of the package and reader fuzz targets: packages
// assembled byte by byte (tests/support/package_bytes.h), preceded by the
// targets' option byte and without the program image (the targets add it):
// valid ones, hostile shapes that setrunc's reader must bound, and the
// malformed packages the loader's tests refuse.
//   setrun_fuzz_seeds <folder>
#include <stdio.h>

#include <string>

#include "tests/support/malformed_packages.h"

using namespace pkgbytes;

namespace {

int written = 0, attempted = 0;
std::string folder;

void Seed(const char* name, uint8_t options, const std::vector<Bytes>& records) {
  Bytes b{options};
  Append(b, Marker());
  for (const Bytes& r : records) Append(b, r);
  ++attempted;
  std::string path = folder + "/" + name;
  if (WriteAll(path, b)) ++written;
  else fprintf(stderr, "cannot write %s\n", path.c_str());
}

Bytes FileData(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = (i % 7) ? (uint8_t)('a' + i % 13) : (uint8_t)(seed >> 24);
  }
  return b;
}

// A file list whose entries point at the streams in `area`, and the area.
void FilesAndData(int count, Bytes* list, Bytes* area, bool custom = false) {
  std::vector<Bytes> entries;
  for (int i = 0; i < count; ++i) {
    Bytes content = FileData(200 + 150 * i, (uint32_t)i + 1);
    Bytes z = Deflate(content);
    EntrySpec e;
    e.dataOffset = (uint32_t)area->size();
    e.packedSize = (uint32_t)z.size();
    e.size = (uint32_t)content.size();
    e.checksum = RotateAdd(content.data(), content.size());
    e.flags = i == 1 ? 0x2 | 0x8 : (i == 2 ? 0x1 : 0);
    e.strings[0] = "bin\\file" + std::to_string(i) + ".dat";
    e.strings[2] = i == 0 ? "Shortcut" : "";
    if (custom && i == count - 1) {
      e.destination = 8;
      e.strings.push_back("#InstallDir#\\extra");
    }
    entries.push_back(EntryBytes(e));
    Append(*area, z);
  }
  *list = FileListPayload(entries);
}

GroupSpec Group(const std::string& folderName) {
  GroupSpec g;
  g.defaultFolder = folderName;
  g.registryKey = "Software\\Example";
  UsualTexts(g);
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  folder = argv[1];

  Bytes list, area;
  FilesAndData(3, &list, &area);
  // The typical single-group package.
  Seed("typical", 0, {Compressed(TypeLayout, LayoutPayload(0x2 | 0x4)),
                      Stored(TypeImageTable, ImageTablePayload({PackedBitmap(4, 4, 8), {}, PackedBitmap(3, 2, 24)})),
                      Compressed(TypeUninstaller, FileData(3000, 9)),
                      Stored(TypeGroup, GroupPayload(Group("#ProgramFiles#\\Example"))),
                      Stored(TypeRegistryEntries, Bytes(24, 0x11)), Compressed(TypeFileList, list),
                      EndOfTables(area)});
  Seed("typical-memory", 0x10, {Stored(TypeLayout, LayoutPayload(0)),
                                Compressed(TypeGroup, GroupPayload(Group("C:\\Example"))),
                                Stored(TypeFileList, list), EndOfTables(area)});

  // Two groups, a forced page and the backdrop records.
  Bytes list2, area2;
  FilesAndData(2, &list2, &area2, true);
  GroupSpec parent = Group("#parent#");
  parent.texts[7][31] = "The package is incomplete.";
  Seed("two-groups-forced", 2,
       {Compressed(TypeLayout, LayoutPayload(0x2 | 0x4000)), Stored(TypeBackdropTitle, Text("Example")),
        Stored(TypeTitleStyle, TitleStylePayload(0, 0xFFFFFF, 1)), Stored(TypeGroup, GroupPayload(Group("C:\\A"))),
        Stored(TypeFileList, list), Compressed(TypeGroup, GroupPayload(parent)),
        Compressed(TypeFileList, list2), Stored(TypeRegistryEntries, Bytes(8, 0x22)),
        ForcedPageRecord(5, 1), EndOfTables(area)});
  Seed("backdrop-variants", 4 << 0,
       {Stored(TypeLayout, LayoutPayload(0x2 | 0x20)), Stored(TypeBackdropImage, Bytes(20, 0x30)),
        Stored(TypeResolutionList, ResolutionPayload({{800, 600}, {1024, 768}, {1280, 1024}})),
        Stored(TypeBackdropImage, BackdropPayload(PackedBitmap(8, 6, 4, 0x31))),
        Compressed(TypeBackdropImage, BackdropPayload(PackedBitmap(10, 8, 24, 0x32))),
        Stored(TypeBackdropImage, BackdropPayload(PackedBitmap(13, -2, 32, 0x33))),
        Stored(TypeGroup, GroupPayload(Group("C:\\B"))),
        EndOfTables({})});
  // A continuation run: the file ends right after the data length word.
  Seed("continuation", 1, {Stored(TypeLayout, LayoutPayload(0x2)), Stored(TypeImageTable, Bytes(16, 1)),
                           Stored(TypeResolutionList, ResolutionPayload({{640, 480}})),
                           Stored(TypeBackdropImage, Bytes(8, 2)),
                           Stored(TypeGroup, GroupPayload(Group("C:\\C"))), Stored(TypeFileList, list),
                           EndOfTables((uint32_t)area.size(), {})});
  // Records the loader steps over: empty ones and unknown types.
  Seed("skipped-records", 0, {Header(TypeFileList, 0, 0), Stored(TypeSkipped1439, Bytes(10, 3)),
                              Stored(TypeLayout, LayoutPayload(0)), Header(TypeGroup, 0, 0),
                              Stored(TypeSkipped143C, Bytes(5, 4)), Stored(TypeGroup, GroupPayload(Group("C:\\D"))),
                              Stored(TypeSkipped1440, Bytes(7, 5)), Header(TypeEnd, 0, 0), Bytes{0, 0, 0, 0}});
  // The file data continues in data volume 1 (the target writes the last
  // quarter of the input as setup.D01): the first stream crosses into it.
  {
    Bytes content = FileData(5000, 3);
    Bytes z = Deflate(content);
    EntrySpec e;
    e.packedSize = (uint32_t)z.size();
    e.size = (uint32_t)content.size();
    e.checksum = RotateAdd(content.data(), content.size());
    Bytes volumeList = FileListPayload({EntryBytes(e)});
    std::vector<Bytes> records = {Stored(TypeLayout, LayoutPayload(0)),
                                  Stored(TypeGroup, GroupPayload(Group("C:\\V"))),
                                  Stored(TypeFileList, volumeList)};
    Bytes tables{0x20};
    Append(tables, Marker());
    for (const Bytes& r : records) Append(tables, r);
    // Sizes: 1 + tables + 12 + k in the program file, 4 + (z - k) in the
    // volume, which must be the last quarter: (total - 1) / 4 bytes.
    const size_t fixed = tables.size() + 12;  // end header and length word
    size_t k = 0;
    for (; k < z.size(); ++k) {
      size_t total = fixed + k + 4 + (z.size() - k);
      if ((total - 1) / 4 == 4 + (z.size() - k)) break;
    }
    if (k < z.size() && k > 0) {
      Bytes b = tables;
      Append(b, EndOfTables((uint32_t)k, Bytes(z.begin(), z.begin() + k)));
      PutU32(b, (uint32_t)(z.size() - k));
      b.insert(b.end(), z.begin() + k, z.end());
      ++attempted;
      if (WriteAll(folder + "/data-volume", b)) ++written;
    }
  }
  // Many small groups.
  std::vector<Bytes> many = {Stored(TypeLayout, LayoutPayload(0))};
  for (int i = 0; i < 16; ++i) {
    GroupSpec g;
    g.defaultFolder = "C:\\G" + std::to_string(i);
    g.SetTexts(7, {"t", "m"});
    many.push_back(Stored(TypeGroup, GroupPayload(g)));
    if (i % 3 == 0) many.push_back(Stored(TypeFileList, list));
  }
  many.push_back(EndOfTables({}));
  Seed("sixteen-groups", 0, many);

  // Shapes whose cost setrunc's reader must bound: many entries on one
  // stream of 8 KB that inflates to 8 MiB, each declaring 1,000 MiB; a
  // record stating 64 MiB whose stream ends after 70 KB.
  {
    Bytes stream = DeflateWithZeros(Bytes(), 8u << 20);
    std::vector<Bytes> entries;
    for (int i = 0; i < 40; ++i) {
      EntrySpec e;
      e.packedSize = (uint32_t)stream.size();
      e.size = 1000u << 20;
      e.strings[0] = "f" + std::to_string(i);
      entries.push_back(EntryBytes(e));
    }
    Seed("shared-stream", 0, {Stored(TypeLayout, LayoutPayload(0)), Stored(TypeGroup, GroupPayload(Group("C:\\S"))),
                              Stored(TypeFileList, FileListPayload(entries)), EndOfTables(stream)});
    Bytes claim = Compressed(TypeUninstaller, FileData(70000, 5), 0);
    SetU32(claim, 8, 64u << 20);
    Seed("stated-length", 0, {Stored(TypeLayout, LayoutPayload(0)), claim,
                              Stored(TypeGroup, GroupPayload(Group("C:\\L"))), EndOfTables({})});
  }
  int n = 0;
  for (const Malformed& m : MalformedPackages()) Seed(("malformed-" + std::to_string(n++)).c_str(), 0, m.records);

  printf("%d seeds written to %s\n", written, folder.c_str());
  return written == attempted ? 0 : 1;
}
