// Reading a built installer back: the record stream, the tables and the file
// data across data volumes (setrunc inspect, verify and extract). The reader
// takes in the records the setup program reads, by the same rules
// (package/records.h), so that a package it accepts is one the setup program
// accepts, and holds no more memory for them than the setup program may.
#pragma once

#include <cstdio>
#include <functional>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

struct RecordInfo {
  u32 offset = 0;  // file offset of the header
  u16 type = 0, flags = 0;
  u32 size = 0;     // stored payload bytes
  u32 decoded = 0;  // decoded payload bytes (when read)
  bool read = false;  // decoded and checked; false: stepped over, as the setup program does
};

struct GroupData {
  Bytes record;
  std::optional<Bytes> fileList;
  std::optional<Bytes> registryEntries;
};

struct PackageInfo {
  std::string path;
  u32 packageStart = 0;  // offset of the first record header
  std::vector<RecordInfo> records;  // the first MaxListedRecords of them
  uint64_t unlistedRecords = 0;     // records beyond those
  std::optional<Bytes> layout, imageTable, uninstaller, backdropTitle, titleStyle;
  std::vector<u32> backdropVariants;  // decoded sizes of the backdrop images that can be shown
  std::vector<GroupData> groups;
  bool forced = false;
  u16 forcedPage = 0, forcedGroup = 0;
  u32 dataAreaOffset = 0;  // offset of the data length word L0
  u32 dataLength = 0;      // L0
  uint64_t fileLength = 0;
};
static const size_t MaxListedRecords = 100000;

// Reads the package of an installer; a damaged or missing package, or one the
// setup program would refuse to load, throws BuildError with the reason.
PackageInfo ReadPackage(const std::string& path);

// True when the program file holds the whole file data area (or the package
// needs none, having a forced page).
bool DataComplete(const PackageInfo& package);

// The entries of a checked file list.
std::vector<const u8*> FileEntries(const Bytes& fileList);

// The file data area: global offsets over the program file and its volumes.
class DataArea {
 public:
  explicit DataArea(const PackageInfo& package);
  ~DataArea();
  DataArea(const DataArea&) = delete;
  DataArea& operator=(const DataArea&) = delete;
  // Reads n bytes at global offset `offset`; false with a reason on failure.
  bool Read(uint64_t offset, size_t n, u8* out, std::string* error);
  uint64_t KnownLength() const;  // data bytes of the volumes opened so far
  unsigned VolumesOpened() const { return (unsigned)volumes_.size() - 1; }

 private:
  struct Volume {
    std::string path;
    uint64_t start;  // global offset of its first data byte
    u32 length;
    u32 fileOffset;  // file offset of its first data byte
    FILE* file;
  };
  bool OpenNext(std::string* error);
  bool OpenVolume(std::string* error);
  std::string programPath_;
  std::vector<Volume> volumes_;
  std::string missing_;  // why the next volume cannot be opened, once tried
};

// What one data stream gave.
struct StreamResult {
  std::string error;     // empty when the stream ended cleanly or reached the limit
  uint64_t produced = 0; // bytes produced, at most the limit
  u32 checksum = 0;      // rotate-and-add sum of those bytes
  bool more = false;     // the stream had more to give than the limit
};

// Inflates `packed` bytes at data offset `offset`, producing at most `limit`
// bytes; `sink` (optional) receives them in pieces. The work is bounded by
// the packed bytes read and the limit, whatever the stream claims.
StreamResult InflateStream(DataArea& data, u32 offset, u32 packed, uint64_t limit,
                           const std::function<void(const u8*, size_t)>& sink);

// The stream of an entry, stopped right after its declared size.
StreamResult InflateEntry(DataArea& data, const u8* entry,
                          const std::function<void(const u8*, size_t)>& sink);

// Measures a stream result against an entry's size and checksum, as the
// setup program does: an empty string when they agree, else the fault.
std::string JudgeEntry(const StreamResult& result, const u8* entry);

// Descriptions for humans.
const char* RecordTypeName(u16 type);
const char* DestinationName(u32 kind);
// A package string for a terminal: code page 1252 made UTF-8, control
// characters written as \xHH; `quoted` also escapes the quote and backslash
// and adds the quotes.
std::string Printable(const char* s, bool quoted = false);
// True when the string holds a character that is a control character in
// code page 1252.
bool HasControlCharacters(const char* s);
// setrunc inspect: written out as it goes, however long the package's lists.
void DescribePackage(const PackageInfo& package, std::ostream& out);
std::string DescribePackage(const PackageInfo& package);

}  // namespace setrunc
