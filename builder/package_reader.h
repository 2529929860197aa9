// Reading a built installer back: the record stream, the tables and the file
// data across data volumes (setrunc inspect, verify and extract).
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

struct RecordInfo {
  u32 offset = 0;  // file offset of the header
  u16 type = 0, flags = 0;
  u32 size = 0;     // stored payload bytes
  u32 decoded = 0;  // decoded payload bytes
};

struct GroupData {
  Bytes record;
  std::optional<Bytes> fileList;
  std::optional<Bytes> registryEntries;
};

struct PackageInfo {
  std::string path;
  u32 packageStart = 0;  // offset of the first record header
  std::vector<RecordInfo> records;
  std::optional<Bytes> layout, imageTable, uninstaller;
  std::vector<GroupData> groups;
  bool forced = false;
  u16 forcedPage = 0, forcedGroup = 0;
  u32 dataAreaOffset = 0;  // offset of the data length word L0
  u32 dataLength = 0;      // L0
  uint64_t fileLength = 0;
};

// Reads the package of an installer; a damaged or missing package throws
// BuildError with the reason.
PackageInfo ReadPackage(const std::string& path);

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
  std::string programPath_;
  std::vector<Volume> volumes_;
};

// Inflates the stream of an entry; `sink` receives the output in pieces.
// Returns an empty string or the fault.
std::string InflateEntry(DataArea& data, const u8* entry,
                         const std::function<void(const u8*, size_t)>& sink);

// Descriptions for humans.
const char* RecordTypeName(u16 type);
const char* DestinationName(u32 kind);
std::string DescribePackage(const PackageInfo& package);  // setrunc inspect

}  // namespace setrunc
