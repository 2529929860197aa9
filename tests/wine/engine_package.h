// Install packages assembled by the engine's Windows tests: a program file
// with a real layout, group, uninstaller image, registry entries, file list
// and end of tables, and a file data area of zlib streams, optionally split
// into data volumes.
#pragma once

#include <windows.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "base/format.h"

namespace enginepkg {

typedef std::vector<u8> Bytes;

inline void Put16(Bytes& b, u16 v) {
  b.push_back((u8)v);
  b.push_back((u8)(v >> 8));
}
inline void Put32(Bytes& b, u32 v) {
  for (int i = 0; i < 4; ++i) b.push_back((u8)(v >> (8 * i)));
}
inline void Set32(Bytes& b, size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (u8)(v >> (8 * i));
}
inline void PutText(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline Bytes Header(u16 type, u16 flags, u32 size) {
  Bytes b;
  Put16(b, type);
  Put16(b, flags);
  Put32(b, size);
  return b;
}
inline Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound((uLong)data.size());
  Bytes out(size);
  compress2(out.data(), &size, data.data(), (uLong)data.size(), 6);
  out.resize(size);
  return out;
}
inline u32 Sum(const Bytes& data) { return RotateAddSum(0, data.data(), data.size()); }
inline Bytes Pattern(size_t n, u32 seed) {
  Bytes b(n);
  u32 x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = (u8)(i % 7 == 0 ? x >> 24 : 'a' + (i % 26));
  }
  return b;
}

struct File {
  std::string name;            // string 0
  Bytes data;                  // the installed bytes
  u32 flags = FileFlagWindowsMask;  // every Windows version
  u32 options = FileOptionOrdinary;
  u32 kind = DestInstallDir;
  bool uninstaller = false;    // entry state bit 1
  std::string customFolder;    // string 9 for kind 8
  u32 versionMs = 0, versionLs = 0, language = 0;  // when flags & 6
  FILETIME times[3] = {};      // when flags & 8
  // Overrides of what the entry records about its data.
  bool badChecksum = false;
  bool corruptStream = false;
  bool emptyStream = false;    // packed size 0
  u16 iconIndex = 0;
  std::string text[9];         // entry strings 1 to 8 (shortcuts, run arguments); [0] unused
};

struct Package {
  u16 groupFlags = 0;
  std::string displayName;
  u32 registryRoot = 1;
  std::string registryKey, registryValue, iniFile, iniSection, iniKey;
  std::string defaultFolder;
  std::vector<std::string> texts5 = {"", "", ""};
  std::vector<std::string> texts7;  // text 0 is the caption of every box
  Bytes uninstallerImage;
  Bytes registryEntries;
  std::vector<File> files;
  // Where the data area is cut into volumes (sizes of volume 0, 1, ...; the
  // last volume takes the rest). Empty: everything in the program file.
  std::vector<u32> volumeSizes;

  Bytes GroupRecord() const {
    Bytes b(GroupHeaderSize, 0);
    b[0] = (u8)groupFlags;
    b[1] = (u8)(groupFlags >> 8);
    auto text = [&b](u32 field, const std::string& s) {
      if (s.empty()) return;
      Set32(b, field, (u32)b.size());
      PutText(b, s);
    };
    text(GroupDisplayName, displayName);
    Set32(b, GroupRegistryRoot, registryRoot);
    text(GroupRegistryKey, registryKey);
    text(GroupRegistryValue, registryValue);
    text(GroupDefaultFolder, defaultFolder);
    text(GroupIniFile, iniFile);
    text(GroupIniSection, iniSection);
    text(GroupIniKey, iniKey);
    for (u32 i = 0; i < PageSequenceLength; ++i) b[GroupPageSequence + i] = i < 3 ? (u8)(4 + i) : 0xFF;
    auto group = [&b](u32 number, const std::vector<std::string>& texts) {
      Set32(b, GroupTextGroups + 4 * number, (u32)b.size());
      Put16(b, (u16)texts.size());
      for (const std::string& t : texts) PutText(b, t);
    };
    group(5, texts5);
    group(7, texts7);
    return b;
  }

  // The file list and the data area.
  void Build(Bytes* list, Bytes* data) const {
    Put32(*list, (u32)files.size());
    for (const File& f : files) {
      Bytes stream = f.emptyStream ? Bytes() : Deflate(f.data);
      if (f.corruptStream && stream.size() > 8) {
        for (size_t i = 2; i < stream.size() - 4; i += 3) stream[i] ^= 0x5A;
      }
      Bytes e(EntryFixedSize, 0);
      e[2] = f.uninstaller ? (u8)EntryStateUninstaller : 0;
      e[4] = (u8)f.iconIndex;
      e[5] = (u8)(f.iconIndex >> 8);
      Set32(e, EntryDataOffset, (u32)data->size());
      Set32(e, EntryPackedSize, (u32)stream.size());
      Set32(e, EntrySize, (u32)f.data.size());
      Set32(e, EntryChecksum, Sum(f.data) + (f.badChecksum ? 1 : 0));
      Set32(e, EntryFlags, f.flags);
      Set32(e, EntryOptions, f.options);
      Set32(e, EntryDestination, f.kind);
      if (f.flags & 6) {
        Put32(e, f.versionMs);
        Put32(e, f.versionLs);
        Put32(e, f.versionMs);
        Put32(e, f.versionLs);
        Put32(e, f.language);
      }
      if (f.flags & 8) {
        const u8* t = (const u8*)f.times;
        e.insert(e.end(), t, t + sizeof f.times);
      }
      PutText(e, f.name);
      for (int s = 1; s <= 8; ++s) PutText(e, f.text[s]);
      if (f.kind == DestCustom) PutText(e, f.customFolder);
      e[0] = (u8)e.size();
      e[1] = (u8)(e.size() >> 8);
      Append(*list, e);
      Append(*data, stream);
    }
  }

  // Writes the program file (and its volumes) at `path`, which ends in .exe.
  bool Write(const std::string& path) const {
    Bytes list, data;
    Build(&list, &data);
    Bytes program(1024, 0x90);
    program[0] = 'M';
    program[1] = 'Z';
    Append(program, Bytes(PackageMarker, PackageMarker + PackageMarkerLength));
    Bytes layout(LayoutHeaderSize, 0);
    Append(program, Header(RecordLayout, 0, (u32)layout.size()));
    Append(program, layout);
    if (!uninstallerImage.empty()) {
      Append(program, Header(RecordUninstaller, 0, (u32)uninstallerImage.size()));
      Append(program, uninstallerImage);
    }
    Bytes group = GroupRecord();
    Append(program, Header(RecordGroup, 0, (u32)group.size()));
    Append(program, group);
    if (!registryEntries.empty()) {
      Append(program, Header(RecordRegistryEntries, 0, (u32)registryEntries.size()));
      Append(program, registryEntries);
    }
    Append(program, Header(RecordFileList, 0, (u32)list.size()));
    Append(program, list);
    std::vector<Bytes> parts;
    size_t at = 0;
    for (u32 size : volumeSizes) {
      parts.push_back(Bytes(data.begin() + at, data.begin() + at + size));
      at += size;
    }
    parts.push_back(Bytes(data.begin() + at, data.end()));
    Append(program, Header(RecordEndOfTables, 0, (u32)parts[0].size()));
    Put32(program, (u32)parts[0].size());
    Append(program, parts[0]);
    if (!WriteAll(path, program)) return false;
    for (size_t k = 1; k < parts.size(); ++k) {
      Bytes volume;
      Put32(volume, (u32)parts[k].size());
      Append(volume, parts[k]);
      if (!WriteAll(VolumePath(path, (u32)k), volume)) return false;
    }
    return true;
  }

  static std::string VolumePath(const std::string& program, u32 k) {
    char suffix[8];
    wsprintfA(suffix, ".D%02u", k);
    return program.substr(0, program.size() - 4) + suffix;
  }

  static bool WriteAll(const std::string& path, const Bytes& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), (DWORD)bytes.size(), &done, nullptr);
    CloseHandle(f);
    return ok && done == bytes.size();
  }
};

inline Bytes ReadAll(const std::string& path) {
  Bytes b;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return b;
  DWORD size = GetFileSize(f, nullptr), done = 0;
  b.resize(size);
  if (size && !ReadFile(f, b.data(), size, &done, nullptr)) b.clear();
  CloseHandle(f);
  return b;
}

}  // namespace enginepkg
