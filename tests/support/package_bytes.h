// Test-only assembly of install packages, byte by byte.
//
// Every value here is written out as a literal from the package layout
// (record types, field offsets, flag bits), deliberately without the
// definitions in base/format.h: a misunderstanding shared by the reader and
// those definitions must not pass the tests. Header-only, so that the unit
// tests, the fuzz seed generator and the benchmarks can all use it.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

namespace pkgbytes {

typedef std::vector<uint8_t> Bytes;

// Record types.
enum : uint16_t {
  TypeLayout = 0x1435,
  TypeImageTable = 0x1436,
  TypeBackdropImage = 0x1437,
  TypeBackdropTitle = 0x1438,
  TypeSkipped1439 = 0x1439,
  TypeFileList = 0x143A,
  TypeForcedPage = 0x143B,
  TypeSkipped143C = 0x143C,
  TypeTitleStyle = 0x143D,
  TypeGroup = 0x143E,
  TypeUninstaller = 0x143F,
  TypeSkipped1440 = 0x1440,
  TypeResolutionList = 0x1444,
  TypeRegistryEntries = 0x1445,
  TypeEnd = 0x7F7F,
};

inline void PutU8(Bytes& b, uint8_t v) { b.push_back(v); }
inline void PutU16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
inline void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}
inline void PutI32(Bytes& b, int32_t v) { PutU32(b, (uint32_t)v); }
// The text and its terminating NUL.
inline void PutText(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline void SetU16(Bytes& b, size_t at, uint16_t v) {
  b.at(at) = (uint8_t)v;
  b.at(at + 1) = (uint8_t)(v >> 8);
}
inline void SetU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = (uint8_t)(v >> (8 * i));
}
inline uint32_t GetU32(const Bytes& b, size_t at) {
  return (uint32_t)b.at(at) | ((uint32_t)b.at(at + 1) << 8) | ((uint32_t)b.at(at + 2) << 16) |
         ((uint32_t)b.at(at + 3) << 24);
}
inline Bytes Text(const std::string& s) {
  Bytes b;
  PutText(b, s);
  return b;
}

// The checksum of file data, computed independently of the reader:
// s = (s rotated left by 1 bit) + byte, from 0.
inline uint32_t RotateAdd(const uint8_t* data, size_t n, uint32_t s = 0) {
  for (size_t i = 0; i < n; ++i) s = ((s << 1) | (s >> 31)) + data[i];
  return s;
}

// A zlib stream (RFC 1950) of `data`.
inline Bytes Deflate(const Bytes& data, int level = 9) {
  uLongf size = compressBound((uLong)data.size());
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), (uLong)data.size(), level) != Z_OK) out.clear();
  else out.resize(size);
  return out;
}

// ---------------------------------------------------------------------------
// Container

// "wwgT)H"
inline Bytes Marker() { return Bytes{0x77, 0x77, 0x67, 0x54, 0x29, 0x48}; }

// A stand-in for the program image in front of the package: `size` bytes that
// never contain the marker.
inline Bytes Stub(size_t size) {
  Bytes b(size, 0x90);
  if (size >= 2) {
    b[0] = 'M';
    b[1] = 'Z';
  }
  return b;
}

// 8-byte record header: u16 type, u16 flags, u32 size.
inline Bytes Header(uint16_t type, uint16_t flags, uint32_t size) {
  Bytes b;
  PutU16(b, type);
  PutU16(b, flags);
  PutU32(b, size);
  return b;
}

// A record with a stored payload.
inline Bytes Stored(uint16_t type, const Bytes& payload, uint16_t flags = 0) {
  Bytes b = Header(type, flags, (uint32_t)payload.size());
  Append(b, payload);
  return b;
}

// A record with a compressed payload: flags bit 0, u32 decoded length, then
// the zlib stream.
inline Bytes Compressed(uint16_t type, const Bytes& payload, int level = 9) {
  Bytes z = Deflate(payload, level);
  Bytes b = Header(type, 0x1, (uint32_t)(z.size() + 4));
  PutU32(b, (uint32_t)payload.size());
  Append(b, z);
  return b;
}

// End of tables: header (its size field normally repeats L0), u32 L0, data.
inline Bytes EndOfTables(uint32_t dataLength, const Bytes& data) {
  Bytes b = Header(TypeEnd, 0, dataLength);
  PutU32(b, dataLength);
  Append(b, data);
  return b;
}
inline Bytes EndOfTables(const Bytes& data) { return EndOfTables((uint32_t)data.size(), data); }

// Forced-page record: u16 page, u16 group, read without looking at flags.
inline Bytes ForcedPageRecord(uint16_t page, uint16_t group, uint16_t flags = 0) {
  Bytes b = Header(TypeForcedPage, flags, 4);
  PutU16(b, page);
  PutU16(b, group);
  return b;
}

// Resolution list: u32 count, then (i32 width, i32 height) pairs.
inline Bytes ResolutionPayload(const std::vector<std::pair<int32_t, int32_t>>& sizes) {
  Bytes b;
  PutU32(b, (uint32_t)sizes.size());
  for (const auto& s : sizes) {
    PutI32(b, s.first);
    PutI32(b, s.second);
  }
  return b;
}

// A zlib stream of `head` followed by `zeros` zero bytes (a multiple of
// 1 MiB), made without compressing the zeros one by one: one deflate block
// of 1 MiB of zeros, ended by a full flush so that it stands on its own, is
// repeated, and the Adler-32 sum of the zeros is worked out. About 1 KB of
// stream per MiB, the most deflate gives.
inline Bytes DeflateWithZeros(const Bytes& head, uint64_t zeros) {
  z_stream z = {};
  Bytes out = {0x78, 0xDA}, piece(1 << 21);
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return Bytes();
  auto run = [&](const Bytes& in, int flush) {
    z.next_in = (Bytef*)in.data();
    z.avail_in = (uInt)in.size();
    z.next_out = piece.data();
    z.avail_out = (uInt)piece.size();
    deflate(&z, flush);
    return Bytes(piece.begin(), piece.begin() + (piece.size() - z.avail_out));
  };
  Append(out, run(head, Z_FULL_FLUSH));
  Bytes block = run(Bytes(1 << 20, 0), Z_FULL_FLUSH);
  for (uint64_t n = 0; n < zeros >> 20; ++n) Append(out, block);
  Append(out, run(Bytes(), Z_FINISH));
  deflateEnd(&z);
  uLong sum = adler32(1, head.data(), (uInt)head.size());
  uint64_t a = sum & 0xFFFF, b = sum >> 16;
  b = (b + (zeros % 65521) * a) % 65521;
  for (int i = 3; i >= 0; --i) out.push_back((uint8_t)((((b << 16) | a) >> (8 * i)) & 0xFF));
  return out;
}

// A compressed record whose payload is `head` and `zeros` zero bytes.
inline Bytes CompressedWithZeros(uint16_t type, const Bytes& head, uint64_t zeros) {
  Bytes z = DeflateWithZeros(head, zeros);
  Bytes b = Header(type, 0x1, (uint32_t)(z.size() + 4));
  PutU32(b, (uint32_t)(head.size() + zeros));
  Append(b, z);
  return b;
}

// ---------------------------------------------------------------------------
// Pictures: a packed bitmap is a 40-byte BITMAPINFOHEADER (40, width, height,
// 1 plane, bits, compression 0 at 16, image size at 20, colours used at 32),
// the colour table (2^bits entries of 4 bytes up to 8 bits) and the pixel
// rows, each padded to 4 bytes.
inline Bytes PackedBitmap(int32_t width, int32_t height, uint16_t bits, uint8_t fill = 0x55) {
  Bytes b(40, 0);
  size_t row = ((size_t)width * bits + 31) / 32 * 4;
  size_t rows = (size_t)(height < 0 ? -height : height);
  SetU32(b, 0, 40);
  SetU32(b, 4, (uint32_t)width);
  SetU32(b, 8, (uint32_t)height);
  SetU16(b, 12, 1);
  SetU16(b, 14, bits);
  SetU32(b, 20, (uint32_t)(row * rows));
  b.resize(40 + (bits <= 8 ? (4u << bits) : 0), 0x10);
  b.resize(b.size() + row * rows, fill);
  return b;
}

// Wizard image table: u32 count, that many u32 offsets (0 = no image), then
// the bitmaps. An empty bitmap here stands for "no image".
inline Bytes ImageTablePayload(const std::vector<Bytes>& images) {
  Bytes b;
  PutU32(b, (uint32_t)images.size());
  size_t at = 4 + 4 * images.size();
  for (const Bytes& image : images) {
    PutU32(b, image.empty() ? 0 : (uint32_t)at);
    at += image.size();
  }
  for (const Bytes& image : images) Append(b, image);
  return b;
}

// Backdrop image: a 14-byte bitmap file header ("BM", file size, 0, offset
// of the pixels), then the packed bitmap.
inline Bytes BackdropPayload(const Bytes& bitmap) {
  Bytes b = {'B', 'M'};
  PutU32(b, (uint32_t)(14 + bitmap.size()));
  PutU32(b, 0);
  PutU32(b, 14 + 40);
  Append(b, bitmap);
  return b;
}

// Title style: u32 shadow colour, u32 text colour, u32 alignment, then a
// 60-byte LOGFONTA (height at 0, face name at 28): 72 bytes.
inline Bytes TitleStylePayload(uint32_t shadow, uint32_t text, uint32_t right, const std::string& face = "Arial") {
  Bytes b(72, 0);
  SetU32(b, 0, shadow);
  SetU32(b, 4, text);
  SetU32(b, 8, right);
  SetU32(b, 12, (uint32_t)-24);
  for (size_t i = 0; i < face.size() && i < 31; ++i) b[12 + 28 + i] = (uint8_t)face[i];
  return b;
}

// ---------------------------------------------------------------------------
// Layout record header: 170 bytes, flags at 0, page table (11 x u32) at 126.
inline Bytes LayoutPayload(uint32_t flags, size_t extra = 0) {
  Bytes b(170 + extra, 0);
  SetU32(b, 0, flags);
  SetU32(b, 4, 0x00FF0000);   // colour A
  SetU32(b, 8, 0x00000000);   // colour B
  SetU32(b, 12, 500);         // frame width
  SetU32(b, 16, 360);         // frame height
  SetU32(b, 84, 0xFFFFFFFF);  // button bar colour: system
  SetU32(b, 88, 48);          // button bar height
  return b;
}

// ---------------------------------------------------------------------------
// Group record: a 102-byte header, then its strings and text groups.
//   0 u16 flags, 2 u32 flags 2, 6 text display name, 10 u32, 14 text second
//   name, 18 u32 registry root, 22 text key, 26 text value name, 30 text
//   default folder, 34 u32, 38/42/46 text INI file/section/key, 50 page
//   sequence (12 bytes, 0xFF-ended), 62 ten u32 text-group offsets.
struct GroupSpec {
  uint16_t flags = 0x22;
  uint32_t flags2 = 0;
  std::string displayName = "Example";
  std::string defaultFolder;  // empty: no field
  std::string registryKey;    // empty: no field
  std::vector<uint8_t> pages = {0, 3, 4, 5, 6};
  bool hasGroup[10] = {};
  std::vector<std::string> texts[10];

  void SetTexts(int group, std::vector<std::string> list) {
    hasGroup[group] = true;
    texts[group] = std::move(list);
  }
};

inline Bytes TextGroup(const std::vector<std::string>& texts) {
  Bytes b;
  PutU16(b, (uint16_t)texts.size());
  for (const std::string& t : texts) PutText(b, t);
  return b;
}

inline Bytes GroupPayload(const GroupSpec& g) {
  Bytes b(102, 0);
  SetU16(b, 0, g.flags);
  SetU32(b, 2, g.flags2);
  auto text = [&b](size_t field, const std::string& s) {
    SetU32(b, field, (uint32_t)b.size());
    PutText(b, s);
  };
  text(6, g.displayName);
  if (!g.registryKey.empty()) text(22, g.registryKey);
  if (!g.defaultFolder.empty()) text(30, g.defaultFolder);
  for (size_t i = 0; i < 12; ++i) b[50 + i] = i < g.pages.size() ? g.pages[i] : 0xFF;
  for (int t = 0; t < 10; ++t) {
    if (!g.hasGroup[t]) continue;
    SetU32(b, 62 + 4 * t, (uint32_t)b.size());
    Append(b, TextGroup(g.texts[t]));
  }
  return b;
}

// The usual texts: 6, 4, 6, 9, 6, 4, 10, 33, 7 and 0 texts in groups 0 to 9,
// each reading "g/n".
inline void UsualTexts(GroupSpec& g) {
  static const int counts[10] = {6, 4, 6, 9, 6, 4, 10, 33, 7, 0};
  for (int t = 0; t < 10; ++t) {
    std::vector<std::string> list;
    for (int n = 0; n < counts[t]; ++n) list.push_back(std::to_string(t) + "/" + std::to_string(n));
    g.SetTexts(t, list);
  }
}

// ---------------------------------------------------------------------------
// File list: u32 count, then entries. An entry: 0 u16 length, 2 u16 state,
// 4 u16 icon, 6 u32 data offset, 10 u32 packed size, 14 u32 kept copy,
// 18 u32 size, 22 u32 checksum, 26 u32 flags, 30 u32 options, 34 u32
// destination, 38 u32 reserved; a 20-byte version block when flags & 6, 24
// bytes of file times when flags & 8; then strings 0 to 8 (and 9 for the
// custom destination 8).
struct EntrySpec {
  uint16_t state = 0;
  uint32_t dataOffset = 0, packedSize = 0, size = 0, checksum = 0;
  uint32_t flags = 0, options = 0x80000000u, destination = 0;
  std::vector<std::string> strings = {"file.txt", "", "", "", "", "", "", "", ""};
};

inline Bytes EntryBytes(const EntrySpec& e) {
  Bytes b(42, 0);
  SetU16(b, 2, e.state);
  SetU32(b, 6, e.dataOffset);
  SetU32(b, 10, e.packedSize);
  SetU32(b, 18, e.size);
  SetU32(b, 22, e.checksum);
  SetU32(b, 26, e.flags);
  SetU32(b, 30, e.options);
  SetU32(b, 34, e.destination);
  if (e.flags & 0x6) b.resize(b.size() + 20, 0xAB);
  if (e.flags & 0x8) b.resize(b.size() + 24, 0xCD);
  for (const std::string& s : e.strings) PutText(b, s);
  SetU16(b, 0, (uint16_t)b.size());
  return b;
}

inline Bytes FileListPayload(const std::vector<Bytes>& entries) {
  Bytes b;
  PutU32(b, (uint32_t)entries.size());
  for (const Bytes& e : entries) Append(b, e);
  return b;
}

// ---------------------------------------------------------------------------
// A whole program file: stub, marker, records.
inline Bytes Program(size_t stubSize, const std::vector<Bytes>& records) {
  Bytes b = Stub(stubSize);
  Append(b, Marker());
  for (const Bytes& r : records) Append(b, r);
  return b;
}

// A small, complete single-group package: layout, group, file list, end of
// tables with `data`.
inline std::vector<Bytes> MinimalRecords(const Bytes& data = Bytes{1, 2, 3, 4}) {
  GroupSpec g;
  g.defaultFolder = "C:\\Example";
  UsualTexts(g);
  EntrySpec e;
  e.packedSize = (uint32_t)data.size();
  return {Compressed(TypeLayout, LayoutPayload(0x2)), Stored(TypeGroup, GroupPayload(g)),
          Stored(TypeFileList, FileListPayload({EntryBytes(e)})), EndOfTables(data)};
}

inline bool WriteAll(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

inline Bytes ReadAll(const std::string& path) {
  Bytes b;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return b;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
  fclose(f);
  return b;
}

}  // namespace pkgbytes

// ---------------------------------------------------------------------------
// The reader's process state, reset between test cases. Only the tests and
// the fuzz target use this part (inline: nothing is emitted unless called).
#include <stdlib.h>
#include <unistd.h>

#include "engine/data_source.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"

namespace pkgbytes {

// Releases the package tables and returns every run and reader value to its
// starting state; the shared buffers are (re)allocated zero-filled.
inline void ResetReader(char* programPath) {
  FreePackage();
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
  VolumeNumber = VolumeLength = VolumeBase = VolumeBytesLeft = 0;
  ResetRunState();
  ReleaseSharedBuffers();
  AllocateSharedBuffers();
  ProgramPath = programPath;
  PumpCountdown = 0;
  InflateStatusWord = 0;
}

// A private folder under /tmp (no dots in its path, so that volume
// extensions replace the program's own), removed with its files.
struct TempFolder {
  std::string path;
  std::vector<std::string> files;
  TempFolder() {
    char name[] = "/tmp/setrun-reader-XXXXXX";
    if (mkdtemp(name)) path = name;
  }
  ~TempFolder() {
    for (const std::string& f : files) unlink(f.c_str());
    rmdir(path.c_str());
  }
  std::string File(const std::string& name) {
    std::string full = path + "/" + name;
    files.push_back(full);
    return full;
  }
};


// The program file of a test case in a private folder, with the reader
// pointed at it: StartReader before the case, FinishReader after it.
struct ReaderProgram {
  TempFolder dir;
  std::string program;
  char programPath[260] = {};

  void StartReader() {
    program = dir.File("setup.exe");
    snprintf(programPath, sizeof programPath, "%s", program.c_str());
    ResetReader(programPath);
  }
  void FinishReader() {
    ResetReader(programPath);
    ReleaseSharedBuffers();
    ProgramPath = nullptr;
  }
};

}  // namespace pkgbytes
