// Files stored once for several entries: what inspect reports about them,
// and the check verify makes of the order in which the setup program reads
// the data.
#pragma once

#include <string>
#include <vector>

#include "builder/package_reader.h"

namespace setrunc {

// One line about the entries that use the stream of an earlier entry and
// the bytes that saves; empty when there are none.
std::string DescribeSharedData(const PackageInfo& package);

// The data as the setup program reads it for one install group: forwards
// through the data volumes, seeking back only inside the volume it reads
// (earlier volumes are closed). Volume boundaries come from L0 and the
// length words of the volumes beside the installer.
class DataOrder {
 public:
  explicit DataOrder(const PackageInfo& package);
  // The next entry of the group, in file-list order: "" when the setup
  // program can reach its data from where the entries before it left it,
  // else why not.
  std::string Next(u32 offset, u32 packed);

 private:
  size_t VolumeOf(uint64_t offset) const;
  std::vector<uint64_t> starts_;  // global offset of the first data byte of each volume
  uint64_t reach_ = 0;            // the end of the data read so far
};

}  // namespace setrunc
