// Destination paths of file entries, folder checks and creation, free space.
#pragma once

#include "base/format.h"

// Longest path the file calls take, terminator included. Every path this
// module hands out is shorter; a longer one is refused, never cut.
static const u32 FilePathLimit = 260;

// ResolveTargetPath's result for a destination too long for the file calls:
// TargetPath is left empty and ErrorDetail holds the start of the refused
// path. The file must not be installed (the engine stops with text 17).
static const int TargetTooLong = 2;

// Resolves the destination of a file entry into TargetPath. Returns 0, the
// in-use result 1 (the target exists and is in use; kinds 2 and 3 only), or
// TargetTooLong.
int ResolveTargetPath(const u8* entry);
// 1 when the file exists and cannot be opened for reading and writing.
int FileInUse(const char* path);
// Creates the folders of `path` up to its last backslash: 0, 1 when one cannot
// be created or entered, -1 when memory ran out.
int CreateFolderChain(const char* path);
// Free space available to the caller on the drive of `path`, in KB; -1 when
// it cannot be determined, -2 when it is 4 TiB or more. `clusterKB`
// (optional) receives the cluster size in KB, rounded up; 1 when unknown.
int64_t GetFreeSpaceKB(const char* path, u32* clusterKB);
// 1 when the current group does not fit into the free space of InstallDir's
// drive, else 0. Marks font entries whose file exists with FileFlagNotLogged
// and sets ReadOnlyWarning.
int CheckDiskSpace();
// The figures of the directory page, in MB: the free space of InstallDir's
// drive (0 when unknown) and the space all files of the current group take,
// each rounded up to the cluster size. Returns 1 when the free space was too
// large to count (*freeMB is then 4,194,304, i.e. 4 TiB), else 0.
int SpaceFigures(u32* freeMB, u32* neededMB);
// 0, 5 (empty or cannot be created) or -1 (the user declined to create it).
int PrepareInstallDir();
// Shortens a path in place for display ("..." for middle folders).
void ShortenPath(char* path, u32 maxLength);
// Turns `path` (capacity `size`) into its full form against the current
// folder, so that it names the same file after the current folder changes.
// Returns 0 and empties it when the full form cannot be made or does not fit:
// a cut path could name another file.
int MakeFullPath(char* path, u32 size);

// Set by CheckDiskSpace: an existing target other than a font is read-only.
extern int ReadOnlyWarning;

// ---------------------------------------------------------------------------
// The arithmetic and string work behind the functions above (no Windows API).

// The part of `name` after its last backslash (all of it when there is none).
const char* BaseName(const char* name);
// Appends a backslash (unless `folder` is empty or ends in one) and `name` to
// `folder`, which has room for TargetPathSize bytes. Returns 0, with
// `folder` unchanged, when the path would not be shorter than FilePathLimit.
int AppendName(char* folder, const char* name);
// Cuts a path to the root of its drive: X:\ for a path that begins with a
// drive letter, colon and backslash, \\server\share\ for a network path (the
// backslash added when there is room); any other path stays as it is.
void DriveRoot(char* path, u32 size);
// Where the walk of CreateFolderChain starts in `path` (cut after its last
// backslash): the index of the first backslash that ends a folder to create.
u32 FolderWalkStart(const char* path);

// Free space in KB from the 64-bit byte count of GetDiskFreeSpaceExA (-2 at
// 4 TiB and above), and from the cluster figures of GetDiskFreeSpaceA.
int64_t FreeKBFromBytes(u32 high, u32 low);
int64_t FreeKBFromClusters(u32 clusterBytes, u32 freeClusters);
// A cluster size in bytes as whole KB, rounded up (at least 1).
u32 ClusterKBFromBytes(u32 clusterBytes);
// `size` raised to the next multiple of `cluster` bytes.
uint64_t RoundToCluster(u32 size, u32 cluster);

// What CheckDiskSpace learns about an entry's target on the disk.
struct ExistingTarget {
  int found;     // the target exists
  u32 size;      // its size (low 32 bits)
  int readOnly;  // it has the read-only attribute
};
// Looks up the target of `entry`: 0 when the entry has no target to look at
// (its path is empty or refused), else 1 with `target` filled.
typedef int (*TargetLookup)(const u8* entry, ExistingTarget* target);

// The space check over a loaded file list (u32 count, then the entries;
// `length` bytes). 1 when the files do not fit `freeKB` (-1 and -2 always
// fit). Sets FileFlagNotLogged on font entries whose target exists and
// *readOnlyWarning when another existing target is read-only.
int CountGroupSpace(u8* fileList, u32 length, u16 groupFlags, int64_t freeKB, u32 clusterKB,
                    TargetLookup lookup, int* readOnlyWarning);
// The sum of the sizes of all entries of a file list, each rounded up to the
// cluster size.
uint64_t RoundedListSize(const u8* fileList, u32 length, u32 clusterKB);
