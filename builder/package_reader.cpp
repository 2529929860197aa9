#include "builder/package_reader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "builder/codepage.h"
#include "builder/package_writer.h"
#include "base/records.h"

namespace setrunc {

namespace {

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

std::string Name(const RecordInfo& r) {
  return "the " + std::string(RecordTypeName(r.type)) + " record (" + Hex(r.type) + ") at offset " +
         std::to_string(r.offset);
}

// The record stream read the way the setup program's loader reads it: the
// same records decoded, the same checks, the same table slots (a second
// record of a kind replaces the first) and the same limit on what the slots
// hold together.
class TableReader {
 public:
  TableReader(File& file, PackageInfo& p) : file_(file), p_(p) {}

  void Run() {
    uint64_t at = p_.packageStart;
    for (bool end = false; !end;) {
      u8 raw[RecordHeaderSize];
      if (!file_.ReadAt(at, raw, sizeof raw))
        throw BuildError("the record stream ends at offset " + std::to_string(at) + " without an end of tables");
      RecordInfo r;
      r.offset = (u32)at;
      r.type = ReadU16(raw);
      r.flags = ReadU16(raw + 2);
      r.size = ReadU32(raw + 4);
      const uint64_t payload = at + RecordHeaderSize;
      if (r.type != RecordEndOfTables && payload + r.size > p_.fileLength)
        throw BuildError(Name(r) + " runs past the end of the file");
      at = payload + r.size;
      if (r.size != 0 || r.type == RecordEndOfTables) end = Handle(r, payload);
      if (p_.records.size() < MaxListedRecords) p_.records.push_back(r);
      else ++p_.unlistedRecords;
    }
    if (!p_.layout) throw BuildError("the package has no layout record");
    if (p_.groups.empty()) throw BuildError("the package has no install group");
    if (p_.forced && p_.forcedGroup >= p_.groups.size())
      throw BuildError("the forced-page record names group " + std::to_string(p_.forcedGroup) +
                       ", which does not exist");
  }

 private:
  File& file_;
  PackageInfo& p_;
  u32 variantsLeft_ = 0;     // backdrop images after the last resolution list that can be shown
  uint64_t backdropHeld_ = 0;  // the largest of them: the setup program keeps one

  static uint64_t SizeOf(const std::optional<Bytes>& b) { return b ? b->size() : 0; }

  // Bytes the setup program's tables hold at most at this point.
  uint64_t Held() const {
    uint64_t held = SizeOf(p_.layout) + SizeOf(p_.imageTable) + SizeOf(p_.uninstaller) +
                    SizeOf(p_.backdropTitle) + SizeOf(p_.titleStyle) + backdropHeld_;
    for (const GroupData& g : p_.groups) held += g.record.size() + SizeOf(g.fileList) + SizeOf(g.registryEntries);
    return held;
  }

  // Decodes a payload as ReadRecordPayload does and applies the record's
  // check. `replaced` is what the slot held before: it no longer counts.
  Bytes Read(RecordInfo& r, uint64_t payload, uint64_t replaced) {
    const uint64_t held = Held() - replaced;
    Bytes out = (r.flags & RecordCompressed) ? Inflate(r, payload, held) : Stored(r, payload, held);
    r.decoded = (u32)out.size();
    r.read = true;
    if (!CheckRecord(r.type, {out.data(), (u32)out.size()}))
      throw BuildError(Name(r) + " is malformed: " + Fault(r.type));
    return out;
  }

  static const char* Fault(u16 type) {
    switch (type) {
      case RecordImageTable: return "an image lies outside the record or is not an uncompressed bitmap";
      case RecordBackdropImage: return "the bitmap lies outside the record or is not an uncompressed bitmap";
      case RecordBackdropTitle: return "its text does not end inside the record";
      case RecordTitleStyle: return "it is shorter than 72 bytes";
      case RecordResolutionList: return "it counts more sizes than it holds";
      default: return "an offset, count or text lies outside the record";
    }
  }

  void CheckRoom(const RecordInfo& r, uint64_t held, u32 length) {
    if (held + length > MaxTableBytes)
      throw BuildError(Name(r) + " needs " + std::to_string(length) + " bytes; with the " + std::to_string(held) +
                       " bytes of the records before it, the tables would hold more than the " +
                       std::to_string(MaxTableBytes) + " bytes the setup program allows");
  }

  Bytes Stored(const RecordInfo& r, uint64_t payload, uint64_t held) {
    CheckRoom(r, held, r.size);
    Bytes out(r.size);
    if (r.size && !file_.ReadAt(payload, out.data(), r.size)) throw BuildError("cannot read " + Name(r));
    return out;
  }

  // The output grows with what the stream produces; the stated length only
  // bounds it.
  Bytes Inflate(const RecordInfo& r, uint64_t payload, uint64_t held) {
    if (r.size < 4) throw BuildError(Name(r) + " is compressed but has no length word");
    u8 word[4];
    if (!file_.ReadAt(payload, word, 4)) throw BuildError("cannot read " + Name(r));
    const u32 stated = ReadU32(word);
    const u32 stored = r.size - 4;
    if (stated / MaxDeflateRatio > stored)
      throw BuildError(Name(r) + " states " + std::to_string(stated) + " decoded bytes, more than its " +
                       std::to_string(stored) + "-byte stream can produce");
    CheckRoom(r, held, stated);
    Bytes out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw BuildError("zlib cannot start");
    Bytes in(65536), piece(65536);
    uint64_t inputAt = payload + 4;
    u32 left = stored;
    int result = Z_OK;
    std::string fault;
    while (result != Z_STREAM_END && fault.empty()) {
      if (z.avail_in == 0) {
        if (left == 0) break;
        size_t n = std::min<size_t>(left, in.size());
        if (!file_.ReadAt(inputAt, in.data(), n)) {
          fault = "cannot be read";
          break;
        }
        inputAt += n;
        left -= (u32)n;
        z.next_in = in.data();
        z.avail_in = (uInt)n;
      }
      z.next_out = piece.data();
      z.avail_out = (uInt)piece.size();
      result = inflate(&z, Z_NO_FLUSH);
      size_t produced = piece.size() - z.avail_out;
      if (out.size() + produced > stated) {
        fault = "decodes to more than the " + std::to_string(stated) + " bytes it states";
      } else {
        // Doubling, but never beyond the stated length.
        if (out.size() + produced > out.capacity())
          out.reserve(std::min<size_t>(stated, std::max<size_t>(out.capacity() * 2, out.size() + produced)));
        out.insert(out.end(), piece.data(), piece.data() + produced);
      }
      if (result != Z_OK && result != Z_STREAM_END && fault.empty())
        fault = std::string("does not decode (") + (z.msg ? z.msg : "zlib error " + std::to_string(result)) + ")";
    }
    inflateEnd(&z);
    if (fault.empty() && stored != 0 && result != Z_STREAM_END) fault = "does not decode (its stream is cut short)";
    if (fault.empty() && out.size() != stated)
      fault = "decodes to " + std::to_string(out.size()) + " bytes, not the " + std::to_string(stated) + " it states";
    if (!fault.empty()) throw BuildError(Name(r) + " " + fault);
    return out;
  }

  GroupData& CurrentGroup(const RecordInfo& r) {
    if (p_.groups.empty()) throw BuildError(Name(r) + " comes before the first group record");
    return p_.groups.back();
  }

  // Takes in one record; true at the end of tables.
  bool Handle(RecordInfo& r, uint64_t payload) {
    switch (r.type) {
      case RecordLayout:
        p_.layout = Read(r, payload, SizeOf(p_.layout));
        break;
      case RecordImageTable:
        p_.imageTable = Read(r, payload, SizeOf(p_.imageTable));
        break;
      case RecordBackdropImage:
        // Only the images counted by a resolution list can be shown; the
        // setup program does not read the others.
        if (variantsLeft_ == 0) break;
        --variantsLeft_;
        p_.backdropVariants.push_back((u32)Read(r, payload, backdropHeld_).size());
        backdropHeld_ = std::max<uint64_t>(backdropHeld_, p_.backdropVariants.back());
        break;
      case RecordBackdropTitle:
        p_.backdropTitle = Read(r, payload, SizeOf(p_.backdropTitle));
        break;
      case RecordTitleStyle:
        p_.titleStyle = Read(r, payload, SizeOf(p_.titleStyle));
        break;
      case RecordUninstaller:
        p_.uninstaller = Read(r, payload, SizeOf(p_.uninstaller));
        break;
      case RecordGroup: {
        if (p_.groups.size() >= MaxGroups) throw BuildError("the package has more than 16 install groups");
        GroupData g;
        g.record = Read(r, payload, 0);
        p_.groups.push_back(std::move(g));
        break;
      }
      case RecordFileList: {
        GroupData& g = CurrentGroup(r);
        g.fileList = Read(r, payload, SizeOf(g.fileList));
        break;
      }
      case RecordRegistryEntries: {
        GroupData& g = CurrentGroup(r);
        g.registryEntries = Read(r, payload, SizeOf(g.registryEntries));
        break;
      }
      case RecordResolutionList: {
        Bytes list = Read(r, payload, 0);
        i32 count = (i32)ReadU32(list.data());
        variantsLeft_ = count > 0 ? (u32)count : 0;
        break;
      }
      case RecordForcedPage: {
        u8 words[4];
        if (r.size < 4 || !file_.ReadAt(payload, words, 4)) throw BuildError(Name(r) + " is short");
        r.read = true;
        r.decoded = 4;
        p_.forced = true;
        p_.forcedPage = ReadU16(words);
        p_.forcedGroup = ReadU16(words + 2);
        break;
      }
      case RecordEndOfTables: {
        u8 word[4];
        p_.dataAreaOffset = (u32)payload;
        if (!file_.ReadAt(payload, word, 4)) throw BuildError("the data length word behind the end of tables is missing");
        p_.dataLength = ReadU32(word);
        r.read = true;
        r.decoded = 4;
        return true;
      }
      default:
        break;  // not read by the setup program
    }
    return false;
  }
};

}  // namespace

PackageInfo ReadPackage(const std::string& path) {
  PackageInfo p;
  p.path = path;
  // Anything but a regular file (a folder, a FIFO that would block) is
  // refused before it is opened.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw BuildError("cannot open '" + path + "': " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw BuildError("'" + path + "' is not a file");
  File file(path);
  if (!file.f) throw BuildError("cannot open '" + path + "': " + std::strerror(errno));
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
  TableReader(file, p).Run();
  return p;
}

bool DataComplete(const PackageInfo& p) {
  return p.forced || p.fileLength >= (uint64_t)p.dataAreaOffset + 4 + p.dataLength;
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
  if (!missing_.empty()) {
    *error = missing_;
    return false;
  }
  if (!OpenVolume(error)) missing_ = *error;
  return missing_.empty();
}

bool DataArea::OpenVolume(std::string* error) {
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

StreamResult InflateStream(DataArea& data, u32 offset, u32 packed, uint64_t limit,
                           const std::function<void(const u8*, size_t)>& sink) {
  StreamResult r;
  if (packed == 0) return r;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    r.error = "zlib cannot start";
    return r;
  }
  Bytes in(65536), out(65536);
  uint64_t at = offset;
  u32 left = packed;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (left == 0) break;
      size_t n = std::min<size_t>(left, in.size());
      if (!data.Read(at, n, in.data(), &r.error)) break;
      at += n;
      left -= (u32)n;
      z.next_in = in.data();
      z.avail_in = (uInt)n;
    }
    // One byte beyond the limit is room enough to learn that there is more.
    z.next_out = out.data();
    z.avail_out = (uInt)std::min<uint64_t>(out.size(), limit - r.produced + 1);
    const uInt room = z.avail_out;
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      r.error = std::string("invalid compressed data (") + (z.msg ? z.msg : "zlib error") + ")";
      break;
    }
    size_t n = room - z.avail_out;
    if (r.produced + n > limit) {
      n = (size_t)(limit - r.produced);
      r.more = true;
    }
    r.checksum = RotateAddSum(r.checksum, out.data(), n);
    r.produced += n;
    if (sink && n) sink(out.data(), n);
    if (r.more) break;
  }
  if (r.error.empty() && !r.more) {
    if (result != Z_STREAM_END) r.error = "the compressed stream is cut short";
    else if (left != 0 || z.avail_in != 0) r.error = "the compressed stream ends before its packed size";
  }
  inflateEnd(&z);
  return r;
}

StreamResult InflateEntry(DataArea& data, const u8* entry, const std::function<void(const u8*, size_t)>& sink) {
  return InflateStream(data, ReadU32(entry + EntryDataOffset), ReadU32(entry + EntryPackedSize),
                       ReadU32(entry + EntrySize), sink);
}

std::string JudgeEntry(const StreamResult& r, const u8* entry) {
  const u32 size = ReadU32(entry + EntrySize);
  if (!r.error.empty()) return r.error;
  // A stream shared by entries of several sizes is inflated up to the
  // largest: more than this entry's size is more than it declares.
  if (r.more || r.produced > size) return "more data than its " + std::to_string(size) + " bytes";
  if (r.produced != size) return std::to_string(r.produced) + " bytes instead of " + std::to_string(size);
  if (r.checksum != ReadU32(entry + EntryChecksum)) return "wrong checksum";
  return "";
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

// Bytes that are control characters in code page 1252: C0, DEL and the five
// unassigned bytes, which Windows maps to C1 controls.
bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

}  // namespace

bool HasControlCharacters(const char* s) {
  for (const unsigned char* c = (const unsigned char*)s; *c; ++c)
    if (IsControl(*c)) return true;
  return false;
}

std::string Printable(const char* s, bool quoted) {
  if (!s) return "(none)";
  std::string out;
  for (const unsigned char* c = (const unsigned char*)s; *c; ++c) {
    if (quoted && (*c == '"' || *c == '\\')) {
      out += '\\';
      out += (char)*c;
    } else if (*c == '\n') {
      out += "\\n";
    } else if (*c == '\r') {
      out += "\\r";
    } else if (*c == '\t') {
      out += "\\t";
    } else if (IsControl(*c)) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", *c);
      out += b;
    } else {
      out += (char)*c;
    }
  }
  out = Cp1252ToUtf8(out);
  return quoted ? "\"" + out + "\"" : out;
}

namespace {

std::string Quote(const char* s) { return Printable(s, true); }

const char* const PageKindNames[] = {"welcome", "information", "licence", "folder",
                                     "ready",   "installing",  "finish"};

std::string PageName(u32 kind) {
  return kind < 7 ? PageKindNames[kind] : "kind " + std::to_string(kind);
}

// A fixed-size text field (a LOGFONTA face name) that may lack its NUL.
std::string FixedText(const u8* field, size_t size) {
  std::string s((const char*)field, size);
  return Quote(s.c_str());
}

}  // namespace

std::string DescribePackage(const PackageInfo& p) {
  std::ostringstream s;
  DescribePackage(p, s);
  return s.str();
}

void DescribePackage(const PackageInfo& p, std::ostream& s) {
  s << p.path << ": " << p.fileLength << " bytes, package from offset " << p.packageStart << "\n\n";
  s << "Records:\n";
  for (const RecordInfo& r : p.records) {
    char line[160];
    char decoded[16] = "not read";
    if (r.read) std::snprintf(decoded, sizeof decoded, "%9u", r.decoded);
    std::snprintf(line, sizeof line, "  %10u  %s %-20s flags %s  stored %9u  decoded %s\n", r.offset,
                  Hex(r.type).c_str(), RecordTypeName(r.type), Hex(r.flags, 1).c_str(), r.size, decoded);
    s << line;
  }
  if (p.unlistedRecords) s << "  ... and " << p.unlistedRecords << " more records\n";
  s << "  data area: L0 = " << p.dataLength << " bytes at offset " << p.dataAreaOffset + 4
    << (DataComplete(p) ? "" : " (the file ends before it)") << "\n";
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
  s << "  font " << FixedText(f + 28, 32) << " height " << (i32)ReadU32(f) << " weight " << (i32)ReadU32(f + 16)
    << (f[20] ? " italic" : "") << (f[21] ? " underline" : "") << (f[22] ? " strikeout" : "")
    << " charset " << (unsigned)f[23] << "\n";
  s << "  page table:";
  for (u32 i = 0; i < PageTableSlots; ++i) s << " " << ReadU32(l + LayoutPageTable + 4 * i);
  s << "\n";
  if (p.uninstaller) s << "\nUninstaller image: " << p.uninstaller->size() << " bytes\n";
  if (p.imageTable) s << "Wizard image table: " << ReadU32(p.imageTable->data()) << " images, " << p.imageTable->size() << " bytes\n";
  if (!p.backdropVariants.empty()) {
    s << "Backdrop images:";
    for (u32 size : p.backdropVariants) s << " " << size;
    s << " bytes\n";
  }
  if (p.backdropTitle) s << "Backdrop title: " << Quote((const char*)p.backdropTitle->data()) << "\n";
  if (p.titleStyle) {
    const u8* t = p.titleStyle->data();
    s << "Backdrop title style: shadow " << Hex(ReadU32(t), 8) << ", text " << Hex(ReadU32(t + 4), 8)
      << (ReadU32(t + 8) ? ", right-aligned" : ", left-aligned") << ", font " << FixedText(t + 12 + 28, 32) << "\n";
  }

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
    // Each text group is walked once, text after text.
    for (u32 tg = 0; tg < TextGroupCount; ++tg) {
      TextCursor cursor;
      if (!FirstText(r, tg, &cursor)) continue;
      u32 n = 0;
      for (const char* t; (t = NextText(&cursor)) != nullptr; ++n)
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
}

}  // namespace setrunc
