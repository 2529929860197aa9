// Encoding of package records and assembly of the installer: the program
// image (stub), the marker, the records, the end of tables and the file data
// area, split into data volumes when the project asks for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

// Record payloads, decoded form.
Bytes EncodeLayout(const Layout& layout);
Bytes EncodeGroupRecord(const Group& group);
// One file entry with the figures of its data stream.
struct StreamInfo {
  u32 offset = 0;  // global offset in the file data area
  u32 packed = 0;  // bytes of the zlib stream; 0 = none
  u32 size = 0;
  u32 checksum = 0;
};
Bytes EncodeEntry(const FileEntry& entry, const StreamInfo& stream);

// An 8-byte record header.
Bytes EncodeRecordHeader(u16 type, u16 flags, u32 size);
// A whole record: header and payload, compressed (u32 decoded length and a
// zlib stream) when `compress` is set.
Bytes EncodeRecord(u16 type, const Bytes& payload, bool compress, int level);

// An RFC 1950 stream of `data` at libdeflate level 0 to 12.
Bytes ZlibCompress(const u8* data, size_t size, int level);

// An open file descriptor, closed when it goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Source files. A source is a regular file (links followed) of less than
// 4 GiB: folders, FIFOs, devices and sockets are refused before anything is
// opened or read, so that nothing waits for a writer or reads for ever. The
// errors name the path; callers add where the path came from.

// The size of the source `path` once it passed those checks.
u32 CheckSourceFile(const std::string& path);
// Opens the source `path` without waiting (a FIFO put there since the
// check cannot hang the build) and checks what was opened the same way.
FileDescriptor OpenSourceFile(const std::string& path, u32* size);
// Reads `path` whole, after the checks.
Bytes ReadWholeFile(const std::string& path);
// Hands the bytes of `path` to `take` in order, in pieces of at most 1 MiB,
// until the file ends or `take` returns false. Memory stays at one piece.
void ReadInPieces(const std::string& path, const std::function<bool(const u8*, size_t)>& take);

// Creates a file of a fresh name beside `path` ("<path>.XXXXXX.part"),
// exclusively and without following links, and names it in `temporary`.
FileDescriptor CreateExclusive(const std::string& path, std::string* temporary);

// The compressed data of the file entries of all groups, in package order:
// the figures of every stream, and the data area itself in an unnamed
// temporary file, so that memory does not grow with the data.
struct PackedData {
  std::vector<std::vector<StreamInfo>> groups;  // [group][entry]
  uint64_t total = 0;                           // bytes of the data area
  uint64_t inputBytes = 0;                      // bytes of all files before compression
  FileDescriptor spool;                         // every stream made, once
  // Identical files are compressed once. The data area is the streams of
  // the spool in package order; an entry whose bytes an earlier entry has
  // already brought uses that stream (its offset lies behind the current
  // reading position, where the setup program seeks back), unless that
  // would send the setup program back into an earlier data volume: then the
  // data area holds a copy of the stream at the entry's place.
  struct Placement {
    enum Kind : u8 { Own, Shared, Copied } kind = Own;
    size_t group = 0, entry = 0;  // Shared, Copied: the first entry with the same bytes
    uint64_t spoolOffset = 0;     // Own: where its stream lies in the spool
  };
  std::vector<std::vector<Placement>> placement;       // [group][entry]
  std::vector<std::pair<uint64_t, uint64_t>> extents;  // the data area: spool ranges (offset, length)
  size_t sharedEntries = 0;  // entries whose data is another entry's stream
};
// Reads and compresses every file on all cores, in pieces of
// project.chunkSize, with at most two pieces per thread in memory. The
// spool is made in `folder` (the output's, so that copying it out stays on
// one file system). The result does not depend on the number of threads.
PackedData PackFiles(const Project& project, const std::string& folder);
// Puts a copy of the stream at the place of every shared entry whose stream
// lies in an earlier data volume than the one the setup program is reading
// when it comes to that entry (volumes are only ever opened forwards).
// Returns true when it changed the data area: the offsets, and with them the
// tables, are then to be assembled again.
bool CopyStreamsAcrossVolumes(PackedData& data, const std::vector<uint64_t>& parts);

// The installer, ready to be written: `head` is the stub followed by the
// package up to and including the data length word L0; parts[0] is the
// number of data bytes in the program file (L0), parts[k] that of volume k.
struct Installer {
  Bytes head;
  std::vector<uint64_t> parts;
  std::vector<u32> recordOffsets;  // file offsets of the record headers
};
// Checks the stub (its size and that it holds no copy of the marker where the
// setup program looks for one) and assembles the package.
Installer AssembleInstaller(const Project& project, const Bytes& stub, const PackedData& data);

// Name of data volume k of `programPath`: its extension (from the last dot of
// the file name) replaced by ".D01", ".D02", ...
std::string VolumePath(const std::string& programPath, unsigned k);

// Writes the program file and its volumes. Every file is first written under
// a fresh name beside it, created exclusively (never through a link planted
// there), and renamed when all were written, so that a failure leaves no
// half-written installer and no temporary file. Data volumes of an earlier
// build with higher numbers are removed; their paths are returned.
// `finish` (optional) is a last step on each written output file while it
// still has its temporary name (volume 0: the program file): setrunc build
// --sign signs there. It may change the file; a BuildError it throws fails
// the build like any other.
using FinishOutput =
    std::function<void(const std::string& temporary, const std::string& finalPath, unsigned volume)>;
std::vector<std::string> WriteInstaller(const Installer& installer, const PackedData& data,
                                        const std::string& programPath, const FinishOutput& finish = {});

// Everything: pack, assemble, write.
struct BuildSummary {
  size_t files = 0;
  uint64_t dataBytes = 0;
  uint64_t inputBytes = 0;
  unsigned volumes = 0;
  std::vector<std::string> removedVolumes;
};
BuildSummary BuildInstaller(const Project& project, const Bytes& stub, const std::string& programPath,
                            const FinishOutput& finish = {});

// The folder of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

}  // namespace setrunc
