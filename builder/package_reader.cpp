#include "builder/package_reader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "builder/codepage.h"
#include "builder/package_writer.h"
#include "base/records.h"

namespace setrunc {

namespace {

// The most a deflate stream can expand (about 1,032 to 1).
const u32 MaxDeflateRatio = 1032;

struct File {
  FILE* f = nullptr;
  explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f) std::fclose(f);
  }
  bool ReadAt(uint64_t offset, void* out, size_t n) {
    return fseeko(f, (off_t)offset, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
  }
};

std::string Hex(u32 v, int digits = 4) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", digits, v);
  return b;
}

Bytes Decode(File& file, const RecordInfo& r, u32 payloadOffset) {
  Bytes stored(r.size);
  if (r.size && !file.ReadAt(payloadOffset, stored.data(), r.size))
    throw BuildError("cannot read the record at offset " + std::to_string(r.offset));
  if (!(r.flags & RecordCompressed)) return stored;
  if (r.size < 4) throw BuildError("the compressed record at offset " + std::to_string(r.offset) + " has no length word");
  u32 decoded = ReadU32(stored.data());
  if (decoded / MaxDeflateRatio > r.size - 4)
    throw BuildError("the record at offset " + std::to_string(r.offset) + " claims " +
                     std::to_string(decoded) + " decoded bytes, more than its stream can hold");
  Bytes out(decoded);
  if (r.size == 4) return out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw BuildError("zlib cannot start");
  z.next_in = stored.data() + 4;
  z.avail_in = r.size - 4;
  z.next_out = out.data();
  z.avail_out = decoded;
  int result = inflate(&z, Z_FINISH);
  u32 produced = (u32)z.total_out;
  inflateEnd(&z);
  if (result != Z_STREAM_END || produced != decoded)
    throw BuildError("the compressed record " + Hex(r.type) + " at offset " + std::to_string(r.offset) +
                     " does not decode to its " + std::to_string(decoded) + " bytes");
  return out;
}

}  // namespace

PackageInfo ReadPackage(const std::string& path) {
  PackageInfo p;
  p.path = path;
  File file(path);
  struct stat st;
  if (!file.f || stat(path.c_str(), &st) != 0)
    throw BuildError("cannot open '" + path + "': " + std::strerror(errno));
  p.fileLength = (uint64_t)st.st_size;
  if (p.fileLength > 0xFFFFFFFFull) throw BuildError("'" + path + "' is larger than 4 GB");
  size_t window = (size_t)std::min<uint64_t>(p.fileLength, MarkerLatestEnd);
  Bytes head(window);
  if (window && !file.ReadAt(0, head.data(), window)) throw BuildError("cannot read '" + path + "'");
  bool found = false;
  for (size_t i = MarkerEarliest; i + PackageMarkerLength <= window; ++i)
    if (std::memcmp(head.data() + i, PackageMarker, PackageMarkerLength) == 0) {
      p.packageStart = (u32)(i + PackageMarkerLength);
      found = true;
      break;
    }
  if (!found) throw BuildError("'" + path + "' holds no install package (no marker between offsets 1020 and 200,000)");

  uint64_t at = p.packageStart;
  bool end = false;
  while (!end) {
    u8 raw[RecordHeaderSize];
    if (!file.ReadAt(at, raw, sizeof raw))
      throw BuildError("the record stream ends at offset " + std::to_string(at) + " without an end of tables");
    RecordInfo r;
    r.offset = (u32)at;
    r.type = ReadU16(raw);
    r.flags = ReadU16(raw + 2);
    r.size = ReadU32(raw + 4);
    r.decoded = r.size;
    uint64_t payload = at + RecordHeaderSize;
    if (r.type != RecordEndOfTables && payload + r.size > p.fileLength)
      throw BuildError("the record " + Hex(r.type) + " at offset " + std::to_string(at) + " runs past the end of the file");
    at = payload + r.size;
    if (r.size == 0 && r.type != RecordEndOfTables) {
      p.records.push_back(r);
      continue;
    }
    auto decode = [&]() {
      Bytes b = Decode(file, r, (u32)payload);
      r.decoded = (u32)b.size();
      return b;
    };
    switch (r.type) {
      case RecordLayout:
        p.layout = decode();
        if (!CheckLayoutRecord({p.layout->data(), (u32)p.layout->size()}))
          throw BuildError("the layout record at offset " + std::to_string(r.offset) + " is malformed");
        break;
      case RecordImageTable:
        p.imageTable = decode();
        break;
      case RecordUninstaller:
        p.uninstaller = decode();
        break;
      case RecordGroup: {
        if (p.groups.size() >= MaxGroups) throw BuildError("the package has more than 16 install groups");
        GroupData g;
        g.record = decode();
        if (!CheckGroupRecord({g.record.data(), (u32)g.record.size()}))
          throw BuildError("the group record at offset " + std::to_string(r.offset) + " is malformed");
        p.groups.push_back(std::move(g));
        break;
      }
      case RecordFileList:
        if (p.groups.empty()) throw BuildError("a file list comes before the first group record");
        p.groups.back().fileList = decode();
        if (!CheckFileList({p.groups.back().fileList->data(), (u32)p.groups.back().fileList->size()}))
          throw BuildError("the file list at offset " + std::to_string(r.offset) + " is malformed");
        break;
      case RecordRegistryEntries:
        if (p.groups.empty()) throw BuildError("registry entries come before the first group record");
        p.groups.back().registryEntries = decode();
        break;
      case RecordForcedPage: {
        u8 words[4];
        if (r.size < 4 || !file.ReadAt(payload, words, 4))
          throw BuildError("the forced-page record at offset " + std::to_string(r.offset) + " is short");
        p.forced = true;
        p.forcedPage = ReadU16(words);
        p.forcedGroup = ReadU16(words + 2);
        break;
      }
      case RecordEndOfTables: {
        u8 word[4];
        p.dataAreaOffset = (u32)payload;
        if (!file.ReadAt(payload, word, 4)) throw BuildError("the data length word behind the end of tables is missing");
        p.dataLength = ReadU32(word);
        end = true;
        break;
      }
      default:
        break;  // kept by other parts of the setup program, or unknown
    }
    p.records.push_back(r);
  }
  if (!p.layout) throw BuildError("the package has no layout record");
  if (p.groups.empty()) throw BuildError("the package has no install group");
  if (p.forced && p.forcedGroup >= p.groups.size())
    throw BuildError("the forced-page record names group " + std::to_string(p.forcedGroup) + ", which does not exist");
  return p;
}

std::vector<const u8*> FileEntries(const Bytes& list) {
  std::vector<const u8*> out;
  u32 count = ReadU32(list.data());
  u32 at = 4;
  for (u32 i = 0; i < count; ++i) {
    out.push_back(list.data() + at);
    at += ReadU16(list.data() + at);
  }
  return out;
}

DataArea::DataArea(const PackageInfo& package) : programPath_(package.path) {
  FILE* f = std::fopen(package.path.c_str(), "rb");
  volumes_.push_back({package.path, 0, package.dataLength, package.dataAreaOffset + 4, f});
}

DataArea::~DataArea() {
  for (Volume& v : volumes_)
    if (v.file) std::fclose(v.file);
}

uint64_t DataArea::KnownLength() const { return volumes_.back().start + volumes_.back().length; }

bool DataArea::OpenNext(std::string* error) {
  unsigned k = (unsigned)volumes_.size();
  std::string path = VolumePath(programPath_, k);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "data volume " + path + " is missing";
    return false;
  }
  u8 word[4];
  if (std::fread(word, 1, 4, f) != 4) {
    std::fclose(f);
    *error = "data volume " + path + " has no length word";
    return false;
  }
  volumes_.push_back({path, KnownLength(), ReadU32(word), 4, f});
  return true;
}

bool DataArea::Read(uint64_t offset, size_t n, u8* out, std::string* error) {
  while (n > 0) {
    while (offset >= KnownLength())
      if (!OpenNext(error)) return false;
    for (Volume& v : volumes_) {
      if (offset < v.start || offset >= v.start + v.length) continue;
      uint64_t inside = offset - v.start;
      size_t take = (size_t)std::min<uint64_t>(n, v.length - inside);
      if (!v.file || fseeko(v.file, (off_t)(v.fileOffset + inside), SEEK_SET) != 0 ||
          std::fread(out, 1, take, v.file) != take) {
        *error = v.path + " ends before the data it announces";
        return false;
      }
      out += take;
      offset += take;
      n -= take;
      break;
    }
  }
  return true;
}

std::string InflateEntry(DataArea& data, const u8* entry,
                         const std::function<void(const u8*, size_t)>& sink) {
  u32 packed = ReadU32(entry + EntryPackedSize);
  if (packed == 0) return "";
  uint64_t offset = ReadU32(entry + EntryDataOffset);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return "zlib cannot start";
  Bytes in(65536), out(65536);
  std::string error;
  int result = Z_OK;
  u32 left = packed;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (left == 0) break;
      size_t n = std::min<size_t>(left, in.size());
      if (!data.Read(offset, n, in.data(), &error)) break;
      offset += n;
      left -= (u32)n;
      z.next_in = in.data();
      z.avail_in = (uInt)n;
    }
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      error = std::string("invalid compressed data (") + (z.msg ? z.msg : "zlib error") + ")";
      break;
    }
    sink(out.data(), out.size() - z.avail_out);
  }
  if (error.empty() && result != Z_STREAM_END) error = "the compressed stream is cut short";
  if (error.empty() && (left != 0 || z.avail_in != 0)) error = "the compressed stream ends before its packed size";
  inflateEnd(&z);
  return error;
}

const char* RecordTypeName(u16 type) {
  switch (type) {
    case RecordLayout: return "layout";
    case RecordImageTable: return "wizard image table";
    case RecordBackdropImage: return "backdrop image";
    case RecordBackdropTitle: return "backdrop title";
    case RecordFileList: return "file list";
    case RecordForcedPage: return "forced page";
    case RecordTitleStyle: return "backdrop title style";
    case RecordGroup: return "group";
    case RecordUninstaller: return "uninstaller image";
    case RecordResolutionList: return "resolution list";
    case RecordRegistryEntries: return "registry entries";
    case RecordEndOfTables: return "end of tables";
    default: return "unknown";
  }
}

const char* DestinationName(u32 kind) {
  switch (kind) {
    case DestInstallDir: return "install";
    case DestWindows: return "windows";
    case DestSystem: return "system";
    case DestFonts: return "fonts";
    case DestDesktop: return "desktop";
    case DestCustom: return "custom";
    case DestDocuments: return "documents";
    case DestAppData: return "appdata";
    default: return "install (base name)";
  }
}

namespace {

std::string Quote(const char* s) {
  if (!s) return "(none)";
  std::string out = "\"";
  for (const char* c = s; *c; ++c) {
    if (*c == '\n') out += "\\n";
    else if (*c == '\r') out += "\\r";
    else if (*c == '\t') out += "\\t";
    else if (*c == '"' || *c == '\\') out += std::string("\\") + *c;
    else out += *c;
  }
  return Cp1252ToUtf8(out) + "\"";
}

const char* const PageKindNames[] = {"welcome", "information", "licence", "folder",
                                     "ready",   "installing",  "finish"};

std::string PageName(u32 kind) {
  return kind < 7 ? PageKindNames[kind] : "kind " + std::to_string(kind);
}

}  // namespace

std::string DescribePackage(const PackageInfo& p) {
  std::ostringstream s;
  s << p.path << ": " << p.fileLength << " bytes, package from offset " << p.packageStart << "\n\n";
  s << "Records:\n";
  for (const RecordInfo& r : p.records) {
    char line[160];
    std::snprintf(line, sizeof line, "  %10u  %s %-20s flags %s  stored %9u  decoded %9u\n", r.offset,
                  Hex(r.type).c_str(), RecordTypeName(r.type), Hex(r.flags, 1).c_str(), r.size, r.decoded);
    s << line;
  }
  s << "  data area: L0 = " << p.dataLength << " bytes at offset " << p.dataAreaOffset + 4 << "\n";
  if (p.forced) s << "  forced page: " << PageName(p.forcedPage) << ", group " << p.forcedGroup << "\n";

  const u8* l = p.layout->data();
  s << "\nLayout:\n"
    << "  flags " << Hex(ReadU32(l + LayoutFlags), 8) << ", colours " << Hex(ReadU32(l + LayoutColourA), 8)
    << " " << Hex(ReadU32(l + LayoutColourB), 8) << "\n"
    << "  frame " << (i32)ReadU32(l + LayoutFrameWidth) << " x " << (i32)ReadU32(l + LayoutFrameHeight)
    << ", button bar flags " << Hex(ReadU32(l + LayoutButtonBarFlags), 1) << ", colour "
    << Hex(ReadU32(l + LayoutButtonBarColour), 8) << ", height " << (i32)ReadU32(l + LayoutButtonBarHeight)
    << ", controls " << ReadU32(l + LayoutButtonBarCount) << "\n";
  const u8* f = l + LayoutDialogFont;
  char face[33] = {};
  std::memcpy(face, f + 28, 32);
  s << "  font \"" << face << "\" height " << (i32)ReadU32(f) << " weight " << (i32)ReadU32(f + 16)
    << (f[20] ? " italic" : "") << (f[21] ? " underline" : "") << (f[22] ? " strikeout" : "")
    << " charset " << (unsigned)f[23] << "\n";
  s << "  page table:";
  for (u32 i = 0; i < PageTableSlots; ++i) s << " " << ReadU32(l + LayoutPageTable + 4 * i);
  s << "\n";
  if (p.uninstaller) s << "\nUninstaller image: " << p.uninstaller->size() << " bytes\n";
  if (p.imageTable) s << "Wizard image table: " << p.imageTable->size() << " bytes\n";

  for (size_t gi = 0; gi < p.groups.size(); ++gi) {
    const GroupData& g = p.groups[gi];
    RecordView r = {g.record.data(), (u32)g.record.size()};
    s << "\nGroup " << gi << ":\n";
    s << "  flags " << Hex(ReadU16(r.data + GroupFlags)) << ", second flags " << Hex(ReadU32(r.data + GroupFlags2), 8) << "\n";
    s << "  display name " << Quote(RecordText(r, GroupDisplayName)) << ", second name "
      << Quote(RecordText(r, GroupSecondName)) << "\n";
    s << "  default folder " << Quote(RecordText(r, GroupDefaultFolder)) << "\n";
    s << "  registry root " << ReadU32(r.data + GroupRegistryRoot) << ", key " << Quote(RecordText(r, GroupRegistryKey))
      << ", value " << Quote(RecordText(r, GroupRegistryValue)) << "\n";
    s << "  INI file " << Quote(RecordText(r, GroupIniFile)) << ", section " << Quote(RecordText(r, GroupIniSection))
      << ", key " << Quote(RecordText(r, GroupIniKey)) << "\n";
    s << "  pages:";
    for (u32 i = 0; i < PageSequenceLength && r.data[GroupPageSequence + i] != PageSequenceEnd; ++i)
      s << " " << PageName(r.data[GroupPageSequence + i]);
    s << "\n  texts:\n";
    for (u32 tg = 0; tg < TextGroupCount; ++tg)
      for (u32 n = 0;; ++n) {
        const char* t = GroupRecordText(r, tg, n);
        if (!t) break;
        if (*t) s << "    " << tg << "/" << n << " " << Quote(t) << "\n";
      }
    if (g.registryEntries) s << "  registry entries: " << g.registryEntries->size() << " bytes\n";
    if (!g.fileList) {
      s << "  no file list\n";
      continue;
    }
    std::vector<const u8*> entries = FileEntries(*g.fileList);
    s << "  files: " << entries.size() << "\n";
    for (size_t i = 0; i < entries.size(); ++i) {
      const u8* e = entries[i];
      u32 flags = ReadU32(e + EntryFlags);
      u32 dest = ReadU32(e + EntryDestination);
      s << "    [" << i << "] " << Quote(EntryString(e, 0)) << (ReadU16(e + EntryState) & EntryStateUninstaller ? " (uninstaller)" : "")
        << "\n        size " << ReadU32(e + EntrySize) << ", packed " << ReadU32(e + EntryPackedSize) << " at "
        << ReadU32(e + EntryDataOffset) << ", checksum " << Hex(ReadU32(e + EntryChecksum), 8) << "\n"
        << "        flags " << Hex(flags, 8) << ", options " << Hex(ReadU32(e + EntryOptions), 8) << ", destination "
        << dest << " (" << DestinationName(dest) << ")";
      if (dest == DestCustom) s << " " << Quote(EntryString(e, EntryCustomFolderString));
      s << ", state " << ReadU16(e + EntryState) << ", icon " << ReadU16(e + EntryIconIndex) << "\n";
      if (flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) {
        const u8* v = e + EntryFixedSize;
        u32 ms = ReadU32(v + VersionBlockMs), ls = ReadU32(v + VersionBlockLs);
        s << "        version " << (ms >> 16) << "." << (ms & 0xFFFF) << "." << (ls >> 16) << "." << (ls & 0xFFFF)
          << ", language " << Hex(ReadU32(v + VersionBlockLanguage)) << "\n";
      }
      static const char* labels[] = {nullptr, "start-menu folder", "start-menu name", "start-menu arguments",
                                     "start-menu icon", "desktop name", "desktop arguments", "desktop icon",
                                     "run arguments"};
      for (u32 n = 1; n < EntryPackageStrings; ++n)
        if (*EntryString(e, n)) s << "        " << labels[n] << " " << Quote(EntryString(e, n)) << "\n";
    }
  }
  return s.str();
}

}  // namespace setrunc
