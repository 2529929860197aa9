#include "builder/shared_data.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "builder/package_writer.h"

namespace setrunc {

std::string DescribeSharedData(const PackageInfo& p) {
  std::map<std::pair<u32, u32>, bool> seen;  // (offset, packed size) of streams
  size_t entries = 0, shared = 0;
  uint64_t saved = 0, stored = 0;
  for (const GroupData& g : p.groups) {
    if (!g.fileList) continue;
    for (const u8* e : FileEntries(*g.fileList)) {
      if (ReadU32(e + EntryFlags) & (FileFlagFolderEntry | FileFlagSourceFolder)) continue;
      u32 packed = ReadU32(e + EntryPackedSize);
      if (!packed) continue;
      ++entries;
      if (seen.emplace(std::make_pair(ReadU32(e + EntryDataOffset), packed), true).second) {
        stored += packed;
      } else {
        ++shared;
        saved += packed;
      }
    }
  }
  if (!shared) return "";
  char line[200];
  std::snprintf(line, sizeof line,
                "\nIdentical files: %zu of %zu entries with data use the stream of an earlier entry;"
                " %llu bytes stored once (%.1f%% of the %llu bytes they would take)\n",
                shared, entries, (unsigned long long)saved,
                100.0 * (double)saved / (double)(stored + saved), (unsigned long long)(stored + saved));
  return line;
}

DataOrder::DataOrder(const PackageInfo& p) {
  starts_.push_back(0);
  uint64_t end = p.dataLength;
  for (unsigned k = 1;; ++k) {
    starts_.push_back(end);
    FILE* f = std::fopen(VolumePath(p.path, k).c_str(), "rb");
    if (!f) break;
    u8 word[4];
    bool ok = std::fread(word, 1, 4, f) == 4;
    std::fclose(f);
    if (!ok) break;
    end += ReadU32(word);
  }
}

size_t DataOrder::VolumeOf(uint64_t offset) const {
  return (size_t)(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
}

std::string DataOrder::Next(u32 offset, u32 packed) {
  std::string fault;
  if (reach_ && VolumeOf(offset) < VolumeOf(reach_ - 1))
    fault = "its data lies in data volume " + std::to_string(VolumeOf(offset)) +
            ", before volume " + std::to_string(VolumeOf(reach_ - 1)) +
            " which the setup program has reached for the files before it";
  reach_ = std::max<uint64_t>(reach_, (uint64_t)offset + packed);
  return fault;
}

}  // namespace setrunc
