// The package as the builder holds it before encoding: every field of every
// record, already resolved (texts in the target code page, sources found).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/format.h"
#include "builder/layout.h"

namespace setrunc {

// A failure the user has to fix (bad project, missing file, ...). The text is
// shown as it stands.
struct BuildError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Bytes = std::vector<u8>;

struct LogFont {
  i32 height = -11;
  i32 width = 0;
  i32 escapement = 0;
  i32 orientation = 0;
  i32 weight = 400;
  u8 italic = 0;
  u8 underline = 0;
  u8 strikeOut = 0;
  u8 charSet = 0;
  u8 outPrecision = 0;
  u8 clipPrecision = 0;
  u8 quality = 0;
  u8 pitchAndFamily = 0;
  std::string faceName = "Tahoma";  // at most 31 bytes
};

struct Layout {
  u32 flags = 0;
  u32 colourA = 0x00804000;  // COLORREF 0x00BBGGRR
  u32 colourB = 0x00000000;
  i32 frameWidth = 497;
  i32 frameHeight = 360;
  u32 buttonBarFlags = ButtonBarEtchedLine;
  LogFont font;
  u32 buttonBarColour = SystemColour;
  i32 buttonBarHeight = 47;
  // Page entries and button-bar controls (none: the page table stays empty).
  PageLayouts pages;
};

// Where the data of a file entry comes from.
struct FileData {
  enum Kind { None, Path, Inline } kind = None;
  std::string path;  // Path: read when the package is built
  Bytes bytes;       // Inline
};

struct FileEntry {
  u16 state = 0;  // EntryStateUninstaller for the uninstaller entry
  u16 iconIndex = 0;
  u32 flags = FileFlagWindowsMask;
  u32 options = FileOptionOrdinary;
  u32 destination = DestInstallDir;
  u32 reserved = 0;
  // Version block (written when flags & (CompareVersion | CompareLanguage)).
  u32 versionMs = 0, versionLs = 0, language = 0;
  // File times as FILETIME values (written when flags & FileFlagTimes):
  // creation, last access, last write.
  std::array<uint64_t, 3> times{};
  // Entry strings 0 to 8, and 9 for the custom destination folder.
  std::array<std::string, 10> strings;
  FileData data;
  // Size and checksum to store when there is no data (source-folder entries
  // may name a file that is not packed). Ignored when data is given.
  u32 sizeWithoutData = 0;
  u32 checksumWithoutData = 0;
  std::string origin;    // the key that defined the entry: "group[0].file[2].source"
  std::string location;  // where that key is: "project.toml:12:1"; empty outside a project
  // A run entry whose document flag the builder takes from the file name's
  // extension (programs start, other files open as documents).
  bool runKindFromName = false;
};

// How messages name an entry: "project.toml:12:1: group[0].file[2].source".
inline std::string Describe(const FileEntry& e) {
  return e.location.empty() ? e.origin : e.location + ": " + e.origin;
}

// The values and records of the embedded uninstaller (uninstall_records.h).
struct UninstallInfo {
  std::string uninstallerName;  // entry string 0 of the uninstaller entry
  std::string publisher, version;
};

struct Group {
  u16 flags = GroupFlagFolderChangeable;
  u32 flags2 = 0;
  std::optional<std::string> displayName;
  std::optional<std::string> secondName;
  u32 registryRoot = 2;
  std::optional<std::string> registryKey;
  std::optional<std::string> registryValue;
  std::optional<std::string> defaultFolder;
  std::optional<std::string> iniFile, iniSection, iniKey;
  std::vector<u8> pages;  // page kinds, at most 11 (the end mark is added)
  std::array<std::vector<std::string>, TextGroupCount> texts;
  std::optional<Bytes> registryEntries;  // raw log records
  std::vector<FileEntry> files;
  // Set for the embedded uninstaller: its records follow the registry
  // entries.
  std::optional<UninstallInfo> uninstall;
};

struct ForcedPageRecord {
  u16 page = 0;
  u16 group = 0;
};

// One variant of the backdrop picture: a bitmap file (BITMAPFILEHEADER and
// packed bitmap) and the screen size it is meant for.
struct BackdropPicture {
  i32 screenWidth = 0, screenHeight = 0;
  Bytes bitmapFile;
};

// Who the setup program runs as: elevated, for installations for the whole
// machine (requireAdministrator), or as the user who starts it, for a
// per-user installation (asInvoker).
enum class Privileges { Admin, User };

struct Project {
  Layout layout;
  // Written into the stub's manifest; none given: Admin, where the stub has one.
  std::optional<Privileges> privileges;
  std::optional<Bytes> imageTable;
  std::optional<Bytes> uninstallerImage;
  std::vector<Group> groups;
  std::optional<ForcedPageRecord> forcedPage;
  int compressionLevel = 9;  // 0 to 12
  // Largest size of each output file (the program and every data volume);
  // 0 = everything in the program file.
  uint64_t volumeSize = 0;
  unsigned threads = 0;  // 0 = one per core
  // Files are compressed in pieces of this size, in parallel; a larger file
  // is still one stream. The output depends on it, so it is fixed outside
  // tests: files up to this size are compressed in one call.
  size_t chunkSize = 8u << 20;
  // The backdrop: picture variants (written behind a resolution list), the
  // title and its style (72 bytes: shadow, colour, alignment, LOGFONTA).
  std::vector<BackdropPicture> backdropPictures;
  std::optional<std::string> backdropTitle;
  std::optional<Bytes> titleStyle;
  // Files with the same bytes are stored once.
  bool shareIdenticalFiles = true;
  // Told, on the building thread, how many of the files' bytes are
  // compressed so far, of how many (optional; setrunc's progress line).
  std::function<void(uint64_t done, uint64_t total)> progress;
};

}  // namespace setrunc
