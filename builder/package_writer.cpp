#include "builder/package_writer.h"
#include "builder/uninstall_records.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "builder/backdrop.h"
#include "builder/images.h"
#include "builder/stub_manifest.h"
#include "builder/texts.h"
#include "base/records.h"

namespace setrunc {

namespace {

// resize and memcpy: GCC 12 warns wrongly about vector::insert of a range.
void Append(Bytes& out, const u8* p, size_t n) {
  if (!n) return;
  size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, p, n);
}
void Append(Bytes& out, const Bytes& more) { Append(out, more.data(), more.size()); }

void PutU16(Bytes& out, u16 v) {
  out.push_back((u8)v);
  out.push_back((u8)(v >> 8));
}
void PutU32(Bytes& out, u32 v) {
  for (int i = 0; i < 4; ++i) out.push_back((u8)(v >> (8 * i)));
}
void PutString(Bytes& out, const std::string& s) {
  size_t at = out.size();
  out.resize(at + s.size() + 1);
  if (!s.empty()) std::memcpy(out.data() + at, s.data(), s.size());
}
void CheckNoNul(const std::string& s, const std::string& what) {
  if (s.find('\0') != std::string::npos) throw BuildError(what + " contains a NUL character");
}

std::string GroupName(size_t index) { return "group " + std::to_string(index + 1); }

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) close(fd_);
}

namespace {

const uint64_t MaxSourceSize = 0xFFFFFFFFull;  // the size field is a u32
const size_t PieceSize = 1u << 20;

std::string Reason() { return std::strerror(errno); }

// Why the file `st` describes cannot be a source, or "".
std::string SourceFault(const std::string& path, const struct stat& st) {
  const char* kind = S_ISREG(st.st_mode)                          ? nullptr
                     : S_ISDIR(st.st_mode)                        ? "a folder"
                     : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                     : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                     : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                  : "something other";
  if (kind) return "'" + path + "' is " + kind + ", not a file";
  if ((uint64_t)st.st_size > MaxSourceSize)
    return "'" + path + "' has " + std::to_string((uint64_t)st.st_size) +
           " bytes; a package holds files of less than 4 GiB";
  return "";
}

[[noreturn]] void OpenFailed(const std::string& path) {
  if (errno == ENOENT) throw BuildError("file not found: " + path);
  throw BuildError("cannot open '" + path + "': " + Reason());
}

// Reads exactly `n` bytes at `offset`; a file that ends sooner was cut
// since it was measured.
void ReadExactly(int fd, const std::string& path, uint64_t offset, u8* out, size_t n) {
  while (n) {
    ssize_t r = pread(fd, out, n, (off_t)offset);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw BuildError("cannot read '" + path + "': " + Reason());
    if (r == 0) throw BuildError("'" + path + "' became shorter while it was read");
    out += r;
    n -= (size_t)r;
    offset += (uint64_t)r;
  }
}

void WriteAll(int fd, const u8* data, size_t n, const std::string& what) {
  while (n) {
    ssize_t r = write(fd, data, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw BuildError("cannot write " + what + ": " + Reason());
    data += r;
    n -= (size_t)r;
  }
}

}  // namespace

u32 CheckSourceFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) OpenFailed(path);
  std::string fault = SourceFault(path, st);
  if (!fault.empty()) throw BuildError(fault);
  return (u32)st.st_size;
}

FileDescriptor OpenSourceFile(const std::string& path, u32* size) {
  // Checked before opening: opening a device can have effects of its own.
  CheckSourceFile(path);
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) OpenFailed(path);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) throw BuildError("cannot read '" + path + "': " + Reason());
  std::string fault = SourceFault(path, st);
  if (!fault.empty()) throw BuildError(fault);
  *size = (u32)st.st_size;
  return fd;
}

Bytes ReadWholeFile(const std::string& path) {
  u32 size;
  FileDescriptor fd = OpenSourceFile(path, &size);
  Bytes data(size);
  ReadExactly(fd.get(), path, 0, data.data(), size);
  return data;
}

void ReadInPieces(const std::string& path, const std::function<bool(const u8*, size_t)>& take) {
  u32 size;
  FileDescriptor fd = OpenSourceFile(path, &size);
  Bytes piece(std::min<size_t>(size, PieceSize));
  for (uint64_t at = 0; at < size;) {
    size_t n = (size_t)std::min<uint64_t>(piece.size(), size - at);
    ReadExactly(fd.get(), path, at, piece.data(), n);
    at += n;
    if (!take(piece.data(), n)) return;
  }
}

Bytes EncodeLayout(const Layout& l) {
  Bytes out(LayoutHeaderSize, 0);
  u8* p = out.data();
  WriteU32(p + LayoutFlags, l.flags);
  WriteU32(p + LayoutColourA, l.colourA);
  WriteU32(p + LayoutColourB, l.colourB);
  WriteU32(p + LayoutFrameWidth, (u32)l.frameWidth);
  WriteU32(p + LayoutFrameHeight, (u32)l.frameHeight);
  WriteU32(p + LayoutButtonBarFlags, l.buttonBarFlags);
  try {
    PutLogFont(l.font, p + LayoutDialogFont);
  } catch (const BuildError& e) {
    throw BuildError(std::string("the dialog font: ") + e.what());
  }
  WriteU32(p + LayoutButtonBarColour, l.buttonBarColour);
  WriteU32(p + LayoutButtonBarHeight, (u32)l.buttonBarHeight);
  AppendPageTables(l.pages, &out);
  return out;
}

Bytes EncodeGroupRecord(const Group& g) {
  Bytes out(GroupHeaderSize, 0);
  WriteU16(out.data() + GroupFlags, g.flags);
  WriteU32(out.data() + GroupFlags2, g.flags2);
  WriteU32(out.data() + GroupRegistryRoot, g.registryRoot);
  if (g.pages.size() > PageSequenceLength - 1)
    throw BuildError("a page sequence holds at most " + std::to_string(PageSequenceLength - 1) +
                     " pages");
  std::memset(out.data() + GroupPageSequence, PageSequenceEnd, PageSequenceLength);
  for (size_t i = 0; i < g.pages.size(); ++i) {
    if (g.pages[i] == PageSequenceEnd) throw BuildError("page kind 255 ends the page sequence");
    out[GroupPageSequence + i] = g.pages[i];
  }
  const std::pair<u32, const std::optional<std::string>*> fields[] = {
      {GroupDisplayName, &g.displayName},   {GroupSecondName, &g.secondName},
      {GroupRegistryKey, &g.registryKey},   {GroupRegistryValue, &g.registryValue},
      {GroupDefaultFolder, &g.defaultFolder}, {GroupIniFile, &g.iniFile},
      {GroupIniSection, &g.iniSection},     {GroupIniKey, &g.iniKey}};
  for (const auto& [offset, value] : fields) {
    if (!*value) continue;
    CheckNoNul(**value, "a group field");
    WriteU32(out.data() + offset, (u32)out.size());
    PutString(out, **value);
  }
  for (u32 group = 0; group < TextGroupCount; ++group) {
    const std::vector<std::string>& texts = g.texts[group];
    if (texts.empty()) continue;
    if (texts.size() > 0xFFFF) throw BuildError("too many texts in one text group");
    WriteU32(out.data() + GroupTextGroups + 4 * group, (u32)out.size());
    PutU16(out, (u16)texts.size());
    for (size_t n = 0; n < texts.size(); ++n) {
      std::string key = std::to_string(group) + "/" + std::to_string(n);
      CheckNoNul(texts[n], "text " + key);
      std::string fault = CheckTextFormat(group, (unsigned)n, texts[n]);
      if (!fault.empty()) throw BuildError("text " + key + " \"" + texts[n] + "\" " + fault);
      PutString(out, texts[n]);
    }
  }
  return out;
}

Bytes EncodeEntry(const FileEntry& e, const StreamInfo& s) {
  Bytes out(EntryFixedSize, 0);
  u8* p = out.data();
  WriteU16(p + EntryState, e.state);
  WriteU16(p + EntryIconIndex, e.iconIndex);
  WriteU32(p + EntryDataOffset, s.offset);
  WriteU32(p + EntryPackedSize, s.packed);
  WriteU32(p + EntryKeptCopy, 0);
  WriteU32(p + EntrySize, s.size);
  WriteU32(p + EntryChecksum, s.checksum);
  WriteU32(p + EntryFlags, e.flags);
  WriteU32(p + EntryOptions, e.options);
  WriteU32(p + EntryDestination, e.destination);
  WriteU32(p + EntryReserved, e.reserved);
  if (e.flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) {
    size_t at = out.size();
    out.resize(at + EntryVersionBlockSize);
    u8* block = out.data() + at;
    WriteU32(block + VersionBlockMs, e.versionMs);
    WriteU32(block + VersionBlockLs, e.versionLs);
    WriteU32(block + VersionBlockSecondMs, e.versionMs);
    WriteU32(block + VersionBlockSecondLs, e.versionLs);
    WriteU32(block + VersionBlockLanguage, e.language);
  }
  if (e.flags & FileFlagTimes) {
    for (uint64_t t : e.times) {
      PutU32(out, (u32)t);
      PutU32(out, (u32)(t >> 32));
    }
  }
  u32 strings = e.destination == DestCustom ? EntryPackageStrings + 1 : EntryPackageStrings;
  for (u32 i = 0; i < strings; ++i) {
    CheckNoNul(e.strings[i], Describe(e) + ": entry string " + std::to_string(i));
    PutString(out, e.strings[i]);
  }
  if (out.size() > EntryMaxLength)
    throw BuildError(Describe(e) + ": the entry of '" + e.strings[0] + "' is longer than 65,535 bytes");
  WriteU16(out.data() + EntryLength, (u16)out.size());
  return out;
}

Bytes EncodeRecordHeader(u16 type, u16 flags, u32 size) {
  Bytes out;
  PutU16(out, type);
  PutU16(out, flags);
  PutU32(out, size);
  return out;
}

Bytes ZlibCompress(const u8* data, size_t size, int level) {
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
      libdeflate_alloc_compressor(level), libdeflate_free_compressor);
  if (!c) throw BuildError("cannot set up compression level " + std::to_string(level));
  Bytes out(libdeflate_zlib_compress_bound(c.get(), size));
  size_t n = libdeflate_zlib_compress(c.get(), data, size, out.data(), out.size());
  if (n == 0) throw BuildError("compression failed");
  out.resize(n);
  return out;
}

Bytes EncodeRecord(u16 type, const Bytes& payload, bool compress, int level) {
  // An empty payload is stored: a record of size 0 is stepped over, which is
  // what an empty record means.
  if (payload.empty()) compress = false;
  Bytes body;
  if (compress) {
    PutU32(body, (u32)payload.size());
    Bytes stream = ZlibCompress(payload.data(), payload.size(), level);
    Append(body, stream);
  } else {
    body = payload;
  }
  if (body.size() > 0xFFFFFFF0u) throw BuildError("a record is larger than 4 GB");
  Bytes out = EncodeRecordHeader(type, compress ? RecordCompressed : 0, (u32)body.size());
  Append(out, body);
  return out;
}

namespace {

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

Compressor NewCompressor(int level) {
  return Compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor);
}

// A block of memory that grows and is never filled in advance: pages count
// only once something is written to them.
class Buffer {
 public:
  u8* Reserve(size_t n) {
    if (n > capacity_) {
      data_.reset(new u8[n]);
      capacity_ = n;
    }
    return data_.get();
  }
  u8* data() const { return data_.get(); }

 private:
  std::unique_ptr<u8[]> data_;
  size_t capacity_ = 0;
};

// zlib's inflate, used to find block boundaries in raw deflate data.
class BlockFinder {
 public:
  BlockFinder() : ready_(inflateInit2(&z_, -15) == Z_OK) {}
  ~BlockFinder() {
    if (ready_) inflateEnd(&z_);
  }
  BlockFinder(const BlockFinder&) = delete;
  BlockFinder& operator=(const BlockFinder&) = delete;

  // In the raw deflate data `data`: the bit at which its final block begins
  // and the number of padding bits behind that block's end. With Z_BLOCK,
  // inflate stops behind every block and reports the bits it left unused in
  // the last byte it took.
  void FindFinalBlock(const u8* data, size_t n, uint64_t* headerBit, unsigned* padding) {
    if (!ready_) throw BuildError("cannot set up zlib's inflate");
    inflateReset(&z_);
    z_.next_in = const_cast<u8*>(data);
    z_.avail_in = (uInt)n;
    uint64_t header = 0;  // the first block starts at bit 0
    for (;;) {
      z_.next_out = scratch_;
      z_.avail_out = sizeof scratch_;
      int r = inflate(&z_, Z_BLOCK);
      if (r != Z_OK && r != Z_BUF_ERROR) break;
      if (z_.data_type & 128) {  // behind a block
        unsigned unused = (unsigned)z_.data_type & 7;
        if (z_.data_type & 64) {  // ... the final one
          if (z_.avail_in != 0) break;
          *headerBit = header;
          *padding = unused;
          return;
        }
        header = (uint64_t)(n - z_.avail_in) * 8 - unused;
      } else if (r == Z_BUF_ERROR && z_.avail_in == 0) {
        break;
      }
    }
    throw BuildError("internal error: the compressed data of a piece cannot be joined to the next");
  }

 private:
  z_stream z_{};
  bool ready_;
  u8 scratch_[1 << 16];
};

// A file entry with data.
struct Job {
  size_t group, entry;
  const FileEntry* e;
  u32 size;
};

// A piece of one file, compressed on its own. A file of one piece is one
// zlib stream as libdeflate makes it; the pieces of a larger file are raw
// deflate data joined into one stream: the zlib header in front of the
// first, every final-block bit but the last cleared and an empty stored
// block behind each piece that does not end on a byte boundary (so that the
// next starts on one), the Adler-32 of the whole file behind the last.
struct Piece {
  size_t job;
  uint64_t offset;  // in the file
  size_t length;
  bool first, last;
};

// A piece in memory between reading and writing.
struct Slot {
  Buffer input, output;
  const u8* data = nullptr;  // the piece's bytes (in `input` or the entry)
  size_t packed = 0;         // bytes in `output`
  bool done = false;
  std::exception_ptr failure;
};

// Reads and compresses piece `p` into `slot`.
void CompressPiece(const Piece& p, const Job& job, const Bytes& zlibHeader, libdeflate_compressor* c,
                   BlockFinder& finder, Slot& slot) {
  const FileEntry& e = *job.e;
  try {
    if (!c) throw BuildError("cannot set up compression");
    if (e.data.kind == FileData::Path) {
      u32 size;
      FileDescriptor fd = OpenSourceFile(e.data.path, &size);
      if (size != job.size)
        throw BuildError("'" + e.data.path + "' changed while the installer was being built");
      u8* in = slot.input.Reserve(p.length);
      ReadExactly(fd.get(), e.data.path, p.offset, in, p.length);
      slot.data = in;
    } else {
      slot.data = e.data.bytes.data() + p.offset;
    }
    if (p.first && p.last) {
      size_t bound = libdeflate_zlib_compress_bound(c, p.length);
      slot.packed = libdeflate_zlib_compress(c, slot.data, p.length, slot.output.Reserve(bound), bound);
      if (slot.packed == 0) throw BuildError("compression failed");
      return;
    }
    const size_t bound = libdeflate_deflate_compress_bound(c, p.length);
    u8* out = slot.output.Reserve(zlibHeader.size() + bound + 5);
    size_t at = 0;
    if (p.first) {
      std::memcpy(out, zlibHeader.data(), zlibHeader.size());
      at = zlibHeader.size();
    }
    size_t n = libdeflate_deflate_compress(c, slot.data, p.length, out + at, bound);
    if (n == 0) throw BuildError("compression failed");
    if (!p.last) {
      uint64_t header;
      unsigned padding;
      finder.FindFinalBlock(out + at, n, &header, &padding);
      out[at + header / 8] &= (u8) ~(1u << (header % 8));
      // The padding bits are zero: from three on they hold the header of a
      // stored block, otherwise one more zero byte completes it.
      if (padding) {
        static const u8 empty[] = {0, 0, 0xFF, 0xFF};
        if (padding < 3) out[at + n++] = 0;
        std::memcpy(out + at + n, empty, sizeof empty);
        n += sizeof empty;
      }
    }
    slot.packed = at + n;
  } catch (const BuildError& error) {
    throw BuildError(Describe(e) + ": " + error.what());
  }
}

// An unnamed file in `folder` for the data area: it vanishes with the
// process, whatever happens.
FileDescriptor CreateSpool(const std::string& folder) {
  FileDescriptor fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.get() >= 0) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    throw BuildError("cannot create a temporary file in '" + folder + "': " + Reason());
  std::string path;
  fd = CreateExclusive(folder + "/setrunc-data", &path);
  unlink(path.c_str());
  return fd;
}

// The bytes of an entry with data, in pieces, to `take` (false stops).
void ReadEntryData(const FileEntry& e, const std::function<bool(const u8*, size_t)>& take) {
  if (e.data.kind == FileData::Path) {
    ReadInPieces(e.data.path, take);
  } else {
    for (size_t at = 0; at < e.data.bytes.size(); at += PieceSize)
      if (!take(e.data.bytes.data() + at, std::min(PieceSize, e.data.bytes.size() - at))) return;
  }
}

// A fingerprint of an entry's bytes: CRC-32 and Adler-32. Equal
// fingerprints are only candidates: the bytes are compared before sharing.
uint64_t Fingerprint(const FileEntry& e) {
  u32 crc = 0, adler = 1;
  ReadEntryData(e, [&](const u8* p, size_t n) {
    crc = libdeflate_crc32(crc, p, n);
    adler = libdeflate_adler32(adler, p, n);
    return true;
  });
  return ((uint64_t)crc << 32) | adler;
}

// 1 when the two entries hold the same bytes (their sizes are equal).
bool SameBytes(const FileEntry& a, const FileEntry& b) {
  if (a.data.kind == FileData::Inline && b.data.kind == FileData::Inline)
    return a.data.bytes == b.data.bytes;
  if (b.data.kind == FileData::Inline) return SameBytes(b, a);
  // b comes from a file: a is compared with it piece by piece.
  if (a.data.kind == FileData::Inline) {
    size_t at = 0;
    bool same = true;
    ReadEntryData(b, [&](const u8* p, size_t n) {
      same = at + n <= a.data.bytes.size() && std::memcmp(a.data.bytes.data() + at, p, n) == 0;
      at += n;
      return same;
    });
    return same && at == a.data.bytes.size();
  }
  u32 sizeA, sizeB;
  FileDescriptor fa = OpenSourceFile(a.data.path, &sizeA), fb = OpenSourceFile(b.data.path, &sizeB);
  if (sizeA != sizeB) return false;
  Bytes pa(std::min<size_t>(sizeA, PieceSize)), pb(pa.size());
  for (uint64_t at = 0; at < sizeA;) {
    size_t n = (size_t)std::min<uint64_t>(pa.size(), sizeA - at);
    ReadExactly(fa.get(), a.data.path, at, pa.data(), n);
    ReadExactly(fb.get(), b.data.path, at, pb.data(), n);
    if (std::memcmp(pa.data(), pb.data(), n) != 0) return false;
    at += n;
  }
  return true;
}

// Marks every entry whose bytes equal those of an earlier entry (in package
// order) as sharing that entry's stream. Only files of equal size are read
// for it.
void FindIdenticalFiles(const std::vector<Job>& candidates,
                        std::vector<std::vector<PackedData::Placement>>& placement) {
  std::map<u32, std::vector<const Job*>> bySize;
  for (const Job& job : candidates) bySize[job.size].push_back(&job);
  for (auto& [size, jobs] : bySize) {
    if (jobs.size() < 2) continue;
    // Same size, same fingerprint: the first in package order is the one
    // that is stored; candidates appear in package order.
    std::map<uint64_t, std::vector<const Job*>> byPrint;
    for (const Job* job : jobs) {
      try {
        byPrint[Fingerprint(*job->e)].push_back(job);
      } catch (const BuildError& error) {
        throw BuildError(Describe(*job->e) + ": " + error.what());
      }
    }
    for (auto& [print, same] : byPrint) {
      std::vector<const Job*> stored;  // distinct contents of this fingerprint
      for (const Job* job : same) {
        const Job* match = nullptr;
        for (const Job* first : stored) {
          try {
            if (SameBytes(*first->e, *job->e)) match = first;
          } catch (const BuildError& error) {
            throw BuildError(Describe(*job->e) + ": " + error.what());
          }
          if (match) break;
        }
        if (!match) {
          stored.push_back(job);
          continue;
        }
        PackedData::Placement& pl = placement[job->group][job->entry];
        pl.kind = PackedData::Placement::Shared;
        pl.group = match->group;
        pl.entry = match->entry;
      }
    }
  }
}

// Lays the data area out from the spool in package order (see Placement)
// and gives every entry its offset in it.
void LayOutData(PackedData& d) {
  using Placement = PackedData::Placement;
  d.extents.clear();
  uint64_t at = 0;
  // Where the latest instance of each stored content lies, by its first entry.
  std::map<std::pair<size_t, size_t>, u32> latest;
  auto place = [&](uint64_t spoolOffset, u32 packed) {
    if (!d.extents.empty() && d.extents.back().first + d.extents.back().second == spoolOffset)
      d.extents.back().second += packed;
    else
      d.extents.push_back({spoolOffset, packed});
    at += packed;
    if (at > 0xFFFFFFFFu) throw BuildError("the compressed data exceeds 4 GB");
  };
  for (size_t g = 0; g < d.groups.size(); ++g)
    for (size_t i = 0; i < d.groups[g].size(); ++i) {
      StreamInfo& s = d.groups[g][i];
      const Placement& pl = d.placement[g][i];
      if (!s.packed) continue;
      if (pl.kind == Placement::Own) {
        s.offset = (u32)at;
        latest[{g, i}] = s.offset;
        place(pl.spoolOffset, s.packed);
      } else if (pl.kind == Placement::Copied) {
        s.offset = (u32)at;
        latest[{pl.group, pl.entry}] = s.offset;
        place(d.placement[pl.group][pl.entry].spoolOffset, s.packed);
      } else {
        s.offset = latest.at({pl.group, pl.entry});
      }
    }
  d.total = at;
  // An entry without data points into data that exists: the setup program
  // seeks to the offset of every entry, and an offset behind the last byte
  // would send it looking for a data volume that is not there. It points
  // where the data placed before it ends, so offsets never go back.
  uint64_t end = 0;
  for (size_t g = 0; g < d.groups.size(); ++g)
    for (size_t i = 0; i < d.groups[g].size(); ++i) {
      StreamInfo& s = d.groups[g][i];
      if (!s.packed) s.offset = at ? (u32)std::min<uint64_t>(end, at - 1) : 0;
      else if (d.placement[g][i].kind != Placement::Shared) end = (uint64_t)s.offset + s.packed;
    }
}

}  // namespace

FileDescriptor CreateExclusive(const std::string& path, std::string* temporary) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = path + ".";
    for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
    name += ".part";
    int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *temporary = name;
      return FileDescriptor(fd);
    }
    if (errno != EEXIST) break;
  }
  throw BuildError("cannot create a file beside '" + path + "': " + Reason());
}

PackedData PackFiles(const Project& project, const std::string& folder) {
  PackedData packed;
  packed.groups.resize(project.groups.size());
  packed.placement.resize(project.groups.size());
  std::vector<Job> candidates, jobs;
  std::vector<Piece> pieces;
  const size_t chunk = std::max<size_t>(project.chunkSize, 1);
  for (size_t g = 0; g < project.groups.size(); ++g) {
    packed.groups[g].resize(project.groups[g].files.size());
    packed.placement[g].resize(project.groups[g].files.size());
    for (size_t i = 0; i < project.groups[g].files.size(); ++i) {
      const FileEntry& e = project.groups[g].files[i];
      StreamInfo& info = packed.groups[g][i];
      if (e.data.kind == FileData::None) {
        info.size = e.sizeWithoutData;
        info.checksum = e.checksumWithoutData;
        continue;
      }
      u32 size;
      if (e.data.kind == FileData::Path) {
        try {
          size = CheckSourceFile(e.data.path);
        } catch (const BuildError& error) {
          throw BuildError(Describe(e) + ": " + error.what());
        }
      } else {
        if (e.data.bytes.size() > MaxSourceSize)
          throw BuildError(Describe(e) + ": a package holds files of less than 4 GiB");
        size = (u32)e.data.bytes.size();
      }
      packed.inputBytes += size;
      if (size == 0) continue;  // packed size 0: nothing to inflate
      candidates.push_back({g, i, &e, size});
    }
  }
  if (project.shareIdenticalFiles) FindIdenticalFiles(candidates, packed.placement);
  for (const Job& job : candidates) {
    if (packed.placement[job.group][job.entry].kind != PackedData::Placement::Own) {
      ++packed.sharedEntries;
      continue;
    }
    jobs.push_back(job);
    for (uint64_t at = 0; at < job.size; at += chunk)
      pieces.push_back({jobs.size() - 1, at, (size_t)std::min<uint64_t>(chunk, job.size - at), at == 0,
                        at + chunk >= job.size});
  }
  packed.spool = CreateSpool(folder);
  const Bytes empty = ZlibCompress((const u8*)"", 0, project.compressionLevel);
  const Bytes zlibHeader(empty.begin(), empty.begin() + 2);  // the same as for one piece

  // Workers take the pieces in order, at most `window` ahead of the writer
  // (this thread), which puts them into the spool in order.
  unsigned threads = project.threads ? project.threads : std::thread::hardware_concurrency();
  threads = std::max(1u, std::min<unsigned>(threads, (unsigned)std::max<size_t>(pieces.size(), 1)));
  const size_t window = 2 * (size_t)threads;
  std::vector<Slot> slots(window);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0, written = 0;
  bool stop = false;
  auto work = [&]() {
    Compressor c = NewCompressor(project.compressionLevel);
    BlockFinder finder;
    for (;;) {
      size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || next >= pieces.size() || next < written + window; });
        if (stop || next >= pieces.size()) return;
        i = next++;
      }
      Slot& slot = slots[i % window];
      try {
        CompressPiece(pieces[i], jobs[pieces[i].job], zlibHeader, c.get(), finder, slot);
      } catch (...) {
        slot.failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        slot.done = true;
      }
      changed.notify_all();
    }
  };
  // Stops and joins the workers however this function is left.
  struct Pool {
    std::vector<std::thread> threads;
    std::function<void()> halt;
    ~Pool() {
      halt();
      for (std::thread& t : threads) t.join();
    }
  } pool{{}, [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
  }};
  for (unsigned t = 0; t < threads && !pieces.empty(); ++t) pool.threads.emplace_back(work);

  uint64_t at = 0;  // bytes in the spool
  u32 checksum = 0, adler = 1;
  uint64_t toCompress = 0, compressed = 0;
  for (const Piece& p : pieces) toCompress += p.length;
  for (size_t i = 0; i < pieces.size(); ++i) {
    Slot& slot = slots[i % window];
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return slot.done; });
    }
    if (slot.failure) std::rethrow_exception(slot.failure);  // the first failure in package order
    const Piece& p = pieces[i];
    const Job& job = jobs[p.job];
    StreamInfo& info = packed.groups[job.group][job.entry];
    if (p.first) {
      info.offset = (u32)at;
      packed.placement[job.group][job.entry].spoolOffset = at;
      checksum = 0;
      adler = 1;
    }
    checksum = RotateAddSum(checksum, slot.data, p.length);
    const bool joined = !(p.first && p.last);
    if (joined) adler = libdeflate_adler32(adler, slot.data, p.length);
    WriteAll(packed.spool.get(), slot.output.data(), slot.packed, "a temporary file in '" + folder + "'");
    at += slot.packed;
    if (p.last) {
      if (joined) {
        const u8 trailer[4] = {(u8)(adler >> 24), (u8)(adler >> 16), (u8)(adler >> 8), (u8)adler};
        WriteAll(packed.spool.get(), trailer, sizeof trailer, "a temporary file in '" + folder + "'");
        at += sizeof trailer;
      }
      info.size = job.size;
      info.checksum = checksum;
      info.packed = (u32)std::min<uint64_t>(at - info.offset, 0xFFFFFFFFu);
    }
    if (at > 0xFFFFFFFFu) throw BuildError("the compressed data exceeds 4 GB");
    {
      std::lock_guard<std::mutex> lock(mutex);
      slot.done = false;
      ++written;
    }
    changed.notify_all();
    compressed += p.length;
    if (project.progress) project.progress(compressed, toCompress);
  }
  // Entries with the bytes of an earlier one take its figures.
  for (size_t g = 0; g < packed.groups.size(); ++g)
    for (size_t i = 0; i < packed.groups[g].size(); ++i) {
      const PackedData::Placement& pl = packed.placement[g][i];
      if (pl.kind != PackedData::Placement::Own) packed.groups[g][i] = packed.groups[pl.group][pl.entry];
    }
  LayOutData(packed);
  return packed;
}

bool CopyStreamsAcrossVolumes(PackedData& data, const std::vector<uint64_t>& parts) {
  using Placement = PackedData::Placement;
  if (parts.size() < 2) return false;
  // starts[k]: the global offset of the first data byte of volume k.
  std::vector<uint64_t> starts(1, 0);
  for (size_t k = 0; k + 1 < parts.size(); ++k) starts.push_back(starts.back() + parts[k]);
  auto volumeOf = [&](uint64_t offset) {
    return (size_t)(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
  };
  bool changed = false;
  uint64_t at = 0;  // where the data placed before the entry ends
  for (size_t g = 0; g < data.groups.size(); ++g)
    for (size_t i = 0; i < data.groups[g].size(); ++i) {
      const StreamInfo& s = data.groups[g][i];
      Placement& pl = data.placement[g][i];
      if (!s.packed) continue;
      // The setup program has read no further than `at` when it comes to
      // this entry, so it is in the volume of byte at - 1 at the most.
      if (pl.kind == Placement::Shared && at && volumeOf(s.offset) != volumeOf(at - 1)) {
        pl.kind = Placement::Copied;
        --data.sharedEntries;
        changed = true;
        LayOutData(data);  // the entries behind this one move
      }
      if (pl.kind != Placement::Shared) at += s.packed;
    }
  return changed;
}

namespace {

// Where the setup program finds the marker in a file that starts with
// `head`: the offset of the first match, or -1.
long FindMarkerLikeTheLoader(const Bytes& head) {
  size_t end = std::min<size_t>(head.size(), MarkerLatestEnd);
  for (size_t p = MarkerEarliest; p + PackageMarkerLength <= end; ++p)
    if (std::memcmp(head.data() + p, PackageMarker, PackageMarkerLength) == 0) return (long)p;
  return -1;
}

void CheckStub(const Bytes& stub) {
  if (stub.size() < MarkerEarliest)
    throw BuildError("the stub has " + std::to_string(stub.size()) +
                     " bytes; it must have at least " + std::to_string(MarkerEarliest) +
                     " (the setup program looks for its package from offset " +
                     std::to_string(MarkerEarliest) + " on)");
  if (stub.size() + PackageMarkerLength > MarkerLatestEnd)
    throw BuildError("the stub has " + std::to_string(stub.size()) +
                     " bytes; the package marker behind it must end within the first " +
                     std::to_string(MarkerLatestEnd) + " bytes, so the stub may have at most " +
                     std::to_string(MarkerLatestEnd - PackageMarkerLength));
  long found = FindMarkerLikeTheLoader(stub);
  if (found >= 0)
    throw BuildError("the stub contains the package marker \"wwgT)H\" at offset " +
                     std::to_string(found) +
                     "; the setup program would take that copy for the start of its package");
}

}  // namespace

Installer AssembleInstaller(const Project& project, const Bytes& stub, const PackedData& data) {
  CheckStub(stub);
  if (project.groups.empty()) throw BuildError("the project has no install group");
  if (project.groups.size() > MaxGroups)
    throw BuildError("a package holds at most 16 install groups, the project has " +
                     std::to_string(project.groups.size()));
  if (project.compressionLevel < 0 || project.compressionLevel > 12)
    throw BuildError("the compression level must be 0 to 12");
  Installer out;
  Bytes& head = out.head;
  head = stub;
  Append(head, PackageMarker, PackageMarkerLength);
  const int level = project.compressionLevel;
  auto add = [&](const Bytes& record) {
    out.recordOffsets.push_back((u32)head.size());
    Append(head, record);
  };

  Bytes layout = EncodeLayout(project.layout);
  if (!CheckLayoutRecord({layout.data(), (u32)layout.size()}))
    throw BuildError("internal error: the layout record fails its check");
  add(EncodeRecord(RecordLayout, layout, true, level));
  if (project.imageTable)
    add(EncodeRecord(RecordImageTable, *project.imageTable, true, PictureCompressionLevel(level)));
  for (const Bytes& record : EncodeBackdropRecords(project, level)) add(record);
  if (project.uninstallerImage)
    add(EncodeRecord(RecordUninstaller, *project.uninstallerImage, true, level));

  bool needsUninstaller = false;
  for (size_t g = 0; g < project.groups.size(); ++g) {
    const Group& group = project.groups[g];
    Bytes record;
    try {
      record = EncodeGroupRecord(group);
    } catch (const BuildError& e) {
      throw BuildError(GroupName(g) + ": " + e.what());
    }
    if (!CheckGroupRecord({record.data(), (u32)record.size()}))
      throw BuildError("internal error: the record of " + GroupName(g) + " fails its check");
    add(EncodeRecord(RecordGroup, record, true, level));
    Bytes registry = group.registryEntries.value_or(Bytes());
    if (group.uninstall) Append(registry, UninstallRecords(group, data.groups[g]));
    if (group.registryEntries || group.uninstall)
      add(EncodeRecord(RecordRegistryEntries, registry, true, level));
    Bytes list;
    PutU32(list, (u32)group.files.size());
    for (size_t i = 0; i < group.files.size(); ++i) {
      const FileEntry& e = group.files[i];
      if (e.state & EntryStateUninstaller) needsUninstaller = true;
      if (e.destination == DestCustom && e.strings[EntryCustomFolderString].empty())
        throw BuildError(Describe(e) + ": the custom destination needs a folder");
      Bytes entry = EncodeEntry(e, data.groups[g][i]);
      Append(list, entry);
    }
    if (!CheckFileList({list.data(), (u32)list.size()}))
      throw BuildError("internal error: the file list of " + GroupName(g) + " fails its check");
    add(EncodeRecord(RecordFileList, list, true, level));
  }
  if (needsUninstaller && !project.uninstallerImage)
    throw BuildError("an uninstaller entry needs the uninstaller program (key 'uninstaller')");
  if (project.forcedPage) {
    if (project.forcedPage->group >= project.groups.size())
      throw BuildError("the forced page names group " +
                       std::to_string(project.forcedPage->group) + ", but there are only " +
                       std::to_string(project.groups.size()) + " groups (counted from 0)");
    if (project.forcedPage->page > 10) throw BuildError("the forced page must be a page kind 0 to 10");
    // Never compressed: the setup program reads the two words directly.
    Bytes words;
    PutU16(words, project.forcedPage->page);
    PutU16(words, project.forcedPage->group);
    add(EncodeRecord(RecordForcedPage, words, false, level));
  }

  // Split the data area: the program file holds what fits its volume size,
  // each data volume (u32 length, then data) the same.
  uint64_t total = data.total;
  uint64_t first = total;
  const uint64_t headSize = head.size() + RecordHeaderSize + 4;
  if (project.volumeSize) {
    if (headSize > project.volumeSize)
      throw BuildError("the program and its tables take " + std::to_string(headSize) +
                       " bytes, more than the volume size " +
                       std::to_string(project.volumeSize));
    if (project.volumeSize <= VolumeLengthSize)
      throw BuildError("the volume size must be larger than 4 bytes");
    first = std::min<uint64_t>(total, project.volumeSize - headSize);
  }
  out.recordOffsets.push_back((u32)head.size());
  Bytes end = EncodeRecordHeader(RecordEndOfTables, 0, (u32)first);
  Append(head, end);
  PutU32(head, (u32)first);
  if (FindMarkerLikeTheLoader(head) != (long)stub.size())
    throw BuildError("internal error: the marker is not found where it was written");

  out.parts = {first};
  for (uint64_t left = total - first; left;) {
    uint64_t n = std::min<uint64_t>(left, project.volumeSize - VolumeLengthSize);
    out.parts.push_back(n);
    left -= n;
  }
  return out;
}

std::string VolumePath(const std::string& programPath, unsigned k) {
  char extension[16];
  std::snprintf(extension, sizeof extension, ".D%02u", k);
  size_t slash = programPath.find_last_of("/\\");
  size_t dot = programPath.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    return programPath.substr(0, dot) + extension;
  return programPath + extension;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// Copies `n` bytes from offset `at` of `from` to the position of `to`: in
// the kernel where it can, through a buffer where it cannot.
void CopyRange(int from, uint64_t at, uint64_t n, int to, const std::string& what) {
  off_t offset = (off_t)at;
  while (n) {
    ssize_t r = copy_file_range(from, &offset, to, nullptr, (size_t)std::min<uint64_t>(n, 1u << 30), 0);
    if (r > 0) {
      n -= (uint64_t)r;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
        errno == EBADF)
      break;
    throw BuildError("cannot write " + what + ": " + Reason());
  }
  Bytes buffer(std::min<uint64_t>(n, PieceSize));
  while (n) {
    size_t chunk = (size_t)std::min<uint64_t>(n, buffer.size());
    ReadExactly(from, "the temporary data", (uint64_t)offset, buffer.data(), chunk);
    WriteAll(to, buffer.data(), chunk, what);
    offset += (off_t)chunk;
    n -= chunk;
  }
}

// Copies bytes `at` to `at` + `n` of the data area to the position of `to`.
void CopyData(const PackedData& data, uint64_t at, uint64_t n, int to, const std::string& what) {
  if (data.extents.empty()) return CopyRange(data.spool.get(), at, n, to, what);
  uint64_t start = 0;  // of the extent in the data area
  for (const auto& [spoolOffset, length] : data.extents) {
    if (!n) break;
    if (at < start + length) {
      uint64_t skip = at - start, take = std::min<uint64_t>(n, length - skip);
      CopyRange(data.spool.get(), spoolOffset + skip, take, to, what);
      at += take;
      n -= take;
    }
    start += length;
  }
  if (n) throw BuildError("internal error: the data area is shorter than its volumes");
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> WriteInstaller(const Installer& installer, const PackedData& data,
                                        const std::string& programPath, const FinishOutput& finish) {
  struct Output {
    std::string temporary, path;
  };
  std::vector<Output> outputs;
  auto discard = [&]() {
    for (const Output& o : outputs) unlink(o.temporary.c_str());
  };
  try {
    uint64_t at = 0;
    for (size_t k = 0; k < installer.parts.size(); ++k) {
      std::string path = k ? VolumePath(programPath, (unsigned)k) : programPath;
      if (k && path == programPath)
        throw BuildError("the output name '" + programPath + "' is the name of a data volume");
      Output o{"", path};
      FileDescriptor fd = CreateExclusive(path, &o.temporary);
      outputs.push_back(o);
      const std::string what = "'" + path + "'";
      if (k == 0) {
        WriteAll(fd.get(), installer.head.data(), installer.head.size(), what);
      } else {
        Bytes length;
        PutU32(length, (u32)installer.parts[k]);
        WriteAll(fd.get(), length.data(), length.size(), what);
      }
      CopyData(data, at, installer.parts[k], fd.get(), what);
      at += installer.parts[k];
      if (close(fd.release()) != 0) throw BuildError("cannot write " + what + ": " + Reason());
    }
    if (finish)
      for (size_t k = 0; k < outputs.size(); ++k) finish(outputs[k].temporary, outputs[k].path, (unsigned)k);
  } catch (...) {
    discard();
    throw;
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (std::rename(outputs[i].temporary.c_str(), outputs[i].path.c_str()) != 0) {
      std::string reason = Reason();
      for (size_t j = i; j < outputs.size(); ++j) unlink(outputs[j].temporary.c_str());
      throw BuildError("cannot write '" + outputs[i].path + "': " + reason);
    }
  }
  // Volumes left from an earlier, larger build would never be read but
  // would make the set look bigger than it is.
  std::vector<std::string> removed;
  for (unsigned k = (unsigned)installer.parts.size();; ++k) {
    std::string path = VolumePath(programPath, k);
    if (!Exists(path)) break;
    if (std::remove(path.c_str()) == 0) removed.push_back(path);
    else break;
  }
  return removed;
}

BuildSummary BuildInstaller(const Project& project, const Bytes& givenStub, const std::string& programPath,
                            const FinishOutput& finish) {
  const Bytes stub = StubWithPrivileges(givenStub, project.privileges);
  CheckStub(stub);  // before the files are compressed
  PackedData data = PackFiles(project, FolderOf(programPath));
  Installer installer = AssembleInstaller(project, stub, data);
  // Each round copies at least one shared stream, so this ends.
  while (CopyStreamsAcrossVolumes(data, installer.parts)) installer = AssembleInstaller(project, stub, data);
  BuildSummary summary;
  for (const Group& group : project.groups) summary.files += group.files.size();
  summary.inputBytes = data.inputBytes;
  summary.dataBytes = data.total;
  summary.volumes = (unsigned)installer.parts.size() - 1;
  summary.removedVolumes = WriteInstaller(installer, data, programPath, finish);
  return summary;
}

}  // namespace setrunc
