// Encoding of package records and assembly of the installer: the program
// image (stub), the marker, the records, the end of tables and the file data
// area, split into data volumes when the project asks for it.
#pragma once

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

// The compressed data of the file entries of all groups, in package order.
struct PackedStream {
  StreamInfo info;
  Bytes stream;
};
struct PackedData {
  std::vector<std::vector<PackedStream>> groups;  // [group][entry]
  uint64_t total = 0;                             // bytes of the data area
};
// Reads and compresses every file, on all cores; the result does not depend
// on the number of threads.
PackedData PackFiles(const Project& project);

// The installer, ready to be written: `head` is the stub followed by the
// package up to and including the data length word L0; `parts[0]` is the
// data in the program file (L0 bytes), `parts[k]` the data of volume k.
struct Installer {
  Bytes head;
  std::vector<Bytes> parts;
  std::vector<u32> recordOffsets;  // file offsets of the record headers
};
// Checks the stub (its size and that it holds no copy of the marker where the
// setup program looks for one) and assembles the package.
Installer AssembleInstaller(const Project& project, const Bytes& stub, const PackedData& data);

// Name of data volume k of `programPath`: its extension (from the last dot of
// the file name) replaced by ".D01", ".D02", ...
std::string VolumePath(const std::string& programPath, unsigned k);

// Writes the program file and its volumes. Every file is written under a
// temporary name first and renamed when all were written, so that a failure
// leaves no half-written installer. Data volumes of an earlier build with
// higher numbers are removed; their paths are returned.
std::vector<std::string> WriteInstaller(const Installer& installer,
                                        const std::string& programPath);

// Everything: pack, assemble, write.
struct BuildSummary {
  size_t files = 0;
  uint64_t dataBytes = 0;
  uint64_t inputBytes = 0;
  unsigned volumes = 0;
  std::vector<std::string> removedVolumes;
};
BuildSummary BuildInstaller(const Project& project, const Bytes& stub,
                            const std::string& programPath);

Bytes ReadWholeFile(const std::string& path);

}  // namespace setrunc
