// Path strings and disk-space arithmetic of the destination services. The
// Windows side (destination_win.cpp) supplies the file system.
#include "paths/destination.h"

#include <string.h>

#include "base/records.h"
#include "base/run_state.h"

int ReadOnlyWarning;

const char* BaseName(const char* name) {
  const char* slash = strrchr(name, '\\');
  return slash ? slash + 1 : name;
}

int AppendName(char* folder, const char* name) {
  size_t length = strlen(folder), nameLength = strlen(name);
  size_t separator = (length != 0 && folder[length - 1] != '\\') ? 1 : 0;
  if (length + separator + nameLength >= FilePathLimit) return 0;
  if (separator) folder[length++] = '\\';
  memcpy(folder + length, name, nameLength + 1);
  return 1;
}

void DriveRoot(char* path, u32 size) {
  if (path[0] && path[1] == ':' && path[2] == '\\') {
    path[3] = 0;
    return;
  }
  if (path[0] != '\\' || path[1] != '\\') return;
  char* server = strchr(path + 2, '\\');
  if (!server) return;
  char* share = strchr(server + 1, '\\');
  if (share) {
    share[1] = 0;
    return;
  }
  size_t length = strlen(path);
  if (length + 2 <= size) {
    path[length] = '\\';
    path[length + 1] = 0;
  }
}

u32 FolderWalkStart(const char* path) {
  u32 length = (u32)strlen(path);
  const char* from = path;
  if (path[0] == '\\' && path[1] == '\\') {
    // \\server\share\...: the share is there already; the walk starts at the
    // backslash that ends its name.
    const char* server = strchr(path + 2, '\\');
    if (!server) return length;
    from = server + 1;
  } else if (path[0] && path[1] == ':' && path[2] == '\\') {
    from = path + 3;
  } else if (path[0] == '\\') {
    // A path from the root of the current drive names no folder before its
    // first backslash.
    from = path + 1;
  }
  const char* slash = strchr(from, '\\');
  return slash ? (u32)(slash - path) : length;
}

int64_t FreeKBFromBytes(u32 high, u32 low) {
  if (high >= 1024) return -2;
  return (int64_t)high * 4194304 + low / 1024;
}

int64_t FreeKBFromClusters(u32 clusterBytes, u32 freeClusters) {
  uint64_t kb = ((uint64_t)clusterBytes * freeClusters) >> 10;
  return kb >= ((uint64_t)1 << 32) ? -2 : (int64_t)kb;
}

u32 ClusterKBFromBytes(u32 clusterBytes) {
  u32 kb = clusterBytes / 1024 + (clusterBytes % 1024 ? 1 : 0);
  return kb ? kb : 1;
}

uint64_t RoundToCluster(u32 size, u32 cluster) {
  if (cluster == 0) return size;
  u32 clusters = size / cluster + (size % cluster ? 1 : 0);
  return (uint64_t)clusters * cluster;
}

namespace {

// Walks the entries of a loaded file list, never past its end.
struct EntryWalk {
  u8* list;
  u32 length;
  u32 left;  // entries still to visit
  u32 at;    // offset of the next entry
};

EntryWalk StartWalk(u8* list, u32 length) {
  EntryWalk walk = {list, length, 0, 4};
  if (list && length >= 4) walk.left = ReadU32(list);
  return walk;
}

u8* NextEntry(EntryWalk* walk) {
  if (walk->left == 0 || walk->length - walk->at < EntryFixedSize) return nullptr;
  u32 size = ReadU16(walk->list + walk->at);
  if (size < EntryFixedSize || size > walk->length - walk->at) return nullptr;
  u8* entry = walk->list + walk->at;
  walk->at += size;
  --walk->left;
  return entry;
}

u32 ClusterBytes(u32 clusterKB) { return (clusterKB ? clusterKB : 1) * 1024u; }

}  // namespace

int CountGroupSpace(u8* fileList, u32 length, u16 groupFlags, int64_t freeKB, u32 clusterKB,
                    TargetLookup lookup, int* readOnlyWarning) {
  const u32 cluster = ClusterBytes(clusterKB);
  *readOnlyWarning = 0;
  uint64_t needed = 0, largest = 0;
  EntryWalk walk = StartWalk(fileList, length);
  while (u8* entry = NextEntry(&walk)) {
    u32 flags = ReadU32(entry + EntryFlags);
    if (flags & (FileFlagSourceFolder | FileFlagFolderEntry)) continue;
    uint64_t rounded = RoundToCluster(ReadU32(entry + EntrySize), cluster);
    if (rounded > largest) largest = rounded;
    u32 kind = ReadU32(entry + EntryDestination);
    if ((groupFlags & GroupFlagFullSpaceCount) && kind != DestFonts &&
        !(flags & FileFlagCheckSpace)) {
      needed += rounded;
      continue;
    }
    ExistingTarget target = {0, 0, 0};
    if (!lookup(entry, &target)) continue;
    if (!target.found) {
      needed += rounded;
      continue;
    }
    // Replacing a file takes only the room by which it grows.
    uint64_t existing = RoundToCluster(target.size, cluster);
    if (rounded > existing) needed += rounded - existing;
    if (kind == DestFonts)
      WriteU32(entry + EntryFlags, flags | FileFlagNotLogged);
    else if (target.readOnly)
      *readOnlyWarning = 1;
  }
  if (freeKB < 0) return 0;  // unknown, or too much to count
  // Room for one more copy of the largest file: the temporary copy beside it.
  uint64_t neededKB = (largest + needed) >> 10;
  return neededKB >= (uint64_t)freeKB ? 1 : 0;
}

uint64_t RoundedListSize(const u8* fileList, u32 length, u32 clusterKB) {
  const u32 cluster = ClusterBytes(clusterKB);
  uint64_t total = 0;
  EntryWalk walk = StartWalk(const_cast<u8*>(fileList), length);
  while (const u8* entry = NextEntry(&walk)) total += RoundToCluster(ReadU32(entry + EntrySize), cluster);
  return total;
}

void ShortenPath(char* path, u32 maxLength) {
  size_t length = strlen(path);
  if (length <= maxLength) return;
  char* first = strchr(path, '\\');
  char* last = strrchr(path, '\\');
  if (!first || last - first < 4) return;
  const size_t tail = length - (size_t)(last - path);  // the last backslash and the name
  char* cut = first + 1;
  if ((size_t)(first - path) + tail < maxLength) {
    for (char* x = strchr(first + 1, '\\'); x && x < last; x = strchr(x + 1, '\\')) {
      if (last - x < 4) break;
      if ((size_t)(x - path) + tail >= maxLength) break;
      cut = x + 1;
    }
  }
  // The cut lies at least four characters before the last backslash, so the
  // text only moves towards the start.
  memmove(cut + 3, last, tail + 1);
  memcpy(cut, "...", 3);
}
