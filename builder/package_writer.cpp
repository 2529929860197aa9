#include "builder/package_writer.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <thread>

#include "builder/backdrop.h"
#include "builder/images.h"
#include "builder/texts.h"
#include "base/records.h"

namespace setrunc {

namespace {

// resize and memcpy: GCC 12 warns wrongly about vector::insert of a range.
void Append(Bytes& out, const u8* p, size_t n) {
  if (!n) return;
  size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, p, n);
}
void Append(Bytes& out, const Bytes& more) { Append(out, more.data(), more.size()); }

void PutU16(Bytes& out, u16 v) {
  out.push_back((u8)v);
  out.push_back((u8)(v >> 8));
}
void PutU32(Bytes& out, u32 v) {
  for (int i = 0; i < 4; ++i) out.push_back((u8)(v >> (8 * i)));
}
void PutString(Bytes& out, const std::string& s) {
  size_t at = out.size();
  out.resize(at + s.size() + 1);
  if (!s.empty()) std::memcpy(out.data() + at, s.data(), s.size());
}
void CheckNoNul(const std::string& s, const std::string& what) {
  if (s.find('\0') != std::string::npos) throw BuildError(what + " contains a NUL character");
}

std::string GroupName(size_t index) { return "group " + std::to_string(index + 1); }

}  // namespace

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  struct stat st;
  if (!in || stat(path.c_str(), &st) != 0)
    throw BuildError("cannot open '" + path + "': " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw BuildError("'" + path + "' is a folder, not a file");
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw BuildError("cannot read '" + path + "'");
  return data;
}

Bytes EncodeLayout(const Layout& l) {
  Bytes out(LayoutHeaderSize, 0);
  u8* p = out.data();
  WriteU32(p + LayoutFlags, l.flags);
  WriteU32(p + LayoutColourA, l.colourA);
  WriteU32(p + LayoutColourB, l.colourB);
  WriteU32(p + LayoutFrameWidth, (u32)l.frameWidth);
  WriteU32(p + LayoutFrameHeight, (u32)l.frameHeight);
  WriteU32(p + LayoutButtonBarFlags, l.buttonBarFlags);
  try {
    PutLogFont(l.font, p + LayoutDialogFont);
  } catch (const BuildError& e) {
    throw BuildError(std::string("the dialog font: ") + e.what());
  }
  WriteU32(p + LayoutButtonBarColour, l.buttonBarColour);
  WriteU32(p + LayoutButtonBarHeight, (u32)l.buttonBarHeight);
  AppendPageTables(l.pages, &out);
  return out;
}

Bytes EncodeGroupRecord(const Group& g) {
  Bytes out(GroupHeaderSize, 0);
  WriteU16(out.data() + GroupFlags, g.flags);
  WriteU32(out.data() + GroupFlags2, g.flags2);
  WriteU32(out.data() + GroupRegistryRoot, g.registryRoot);
  if (g.pages.size() > PageSequenceLength - 1)
    throw BuildError("a page sequence holds at most " + std::to_string(PageSequenceLength - 1) +
                     " pages");
  std::memset(out.data() + GroupPageSequence, PageSequenceEnd, PageSequenceLength);
  for (size_t i = 0; i < g.pages.size(); ++i) {
    if (g.pages[i] == PageSequenceEnd) throw BuildError("page kind 255 ends the page sequence");
    out[GroupPageSequence + i] = g.pages[i];
  }
  const std::pair<u32, const std::optional<std::string>*> fields[] = {
      {GroupDisplayName, &g.displayName},   {GroupSecondName, &g.secondName},
      {GroupRegistryKey, &g.registryKey},   {GroupRegistryValue, &g.registryValue},
      {GroupDefaultFolder, &g.defaultFolder}, {GroupIniFile, &g.iniFile},
      {GroupIniSection, &g.iniSection},     {GroupIniKey, &g.iniKey}};
  for (const auto& [offset, value] : fields) {
    if (!*value) continue;
    CheckNoNul(**value, "a group field");
    WriteU32(out.data() + offset, (u32)out.size());
    PutString(out, **value);
  }
  for (u32 group = 0; group < TextGroupCount; ++group) {
    const std::vector<std::string>& texts = g.texts[group];
    if (texts.empty()) continue;
    if (texts.size() > 0xFFFF) throw BuildError("too many texts in one text group");
    WriteU32(out.data() + GroupTextGroups + 4 * group, (u32)out.size());
    PutU16(out, (u16)texts.size());
    for (size_t n = 0; n < texts.size(); ++n) {
      std::string key = std::to_string(group) + "/" + std::to_string(n);
      CheckNoNul(texts[n], "text " + key);
      std::string fault = CheckTextFormat(group, (unsigned)n, texts[n]);
      if (!fault.empty()) throw BuildError("text " + key + " \"" + texts[n] + "\" " + fault);
      PutString(out, texts[n]);
    }
  }
  return out;
}

Bytes EncodeEntry(const FileEntry& e, const StreamInfo& s) {
  Bytes out(EntryFixedSize, 0);
  u8* p = out.data();
  WriteU16(p + EntryState, e.state);
  WriteU16(p + EntryIconIndex, e.iconIndex);
  WriteU32(p + EntryDataOffset, s.offset);
  WriteU32(p + EntryPackedSize, s.packed);
  WriteU32(p + EntryKeptCopy, 0);
  WriteU32(p + EntrySize, s.size);
  WriteU32(p + EntryChecksum, s.checksum);
  WriteU32(p + EntryFlags, e.flags);
  WriteU32(p + EntryOptions, e.options);
  WriteU32(p + EntryDestination, e.destination);
  WriteU32(p + EntryReserved, e.reserved);
  if (e.flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) {
    size_t at = out.size();
    out.resize(at + EntryVersionBlockSize);
    u8* block = out.data() + at;
    WriteU32(block + VersionBlockMs, e.versionMs);
    WriteU32(block + VersionBlockLs, e.versionLs);
    WriteU32(block + VersionBlockSecondMs, e.versionMs);
    WriteU32(block + VersionBlockSecondLs, e.versionLs);
    WriteU32(block + VersionBlockLanguage, e.language);
  }
  if (e.flags & FileFlagTimes) {
    for (uint64_t t : e.times) {
      PutU32(out, (u32)t);
      PutU32(out, (u32)(t >> 32));
    }
  }
  u32 strings = e.destination == DestCustom ? EntryPackageStrings + 1 : EntryPackageStrings;
  for (u32 i = 0; i < strings; ++i) {
    CheckNoNul(e.strings[i], "entry string " + std::to_string(i) + " of " + e.origin);
    PutString(out, e.strings[i]);
  }
  if (out.size() > EntryMaxLength)
    throw BuildError("the entry of " + e.origin + " is longer than 65,535 bytes");
  WriteU16(out.data() + EntryLength, (u16)out.size());
  return out;
}

Bytes EncodeRecordHeader(u16 type, u16 flags, u32 size) {
  Bytes out;
  PutU16(out, type);
  PutU16(out, flags);
  PutU32(out, size);
  return out;
}

Bytes ZlibCompress(const u8* data, size_t size, int level) {
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
      libdeflate_alloc_compressor(level), libdeflate_free_compressor);
  if (!c) throw BuildError("cannot set up compression level " + std::to_string(level));
  Bytes out(libdeflate_zlib_compress_bound(c.get(), size));
  size_t n = libdeflate_zlib_compress(c.get(), data, size, out.data(), out.size());
  if (n == 0) throw BuildError("compression failed");
  out.resize(n);
  return out;
}

Bytes EncodeRecord(u16 type, const Bytes& payload, bool compress, int level) {
  // An empty payload is stored: a record of size 0 is stepped over, which is
  // what an empty record means.
  if (payload.empty()) compress = false;
  Bytes body;
  if (compress) {
    PutU32(body, (u32)payload.size());
    Bytes stream = ZlibCompress(payload.data(), payload.size(), level);
    Append(body, stream);
  } else {
    body = payload;
  }
  if (body.size() > 0xFFFFFFF0u) throw BuildError("a record is larger than 4 GB");
  Bytes out = EncodeRecordHeader(type, compress ? RecordCompressed : 0, (u32)body.size());
  Append(out, body);
  return out;
}

PackedData PackFiles(const Project& project) {
  struct Job {
    size_t group, entry;
    const FileEntry* e;
  };
  std::vector<Job> jobs;
  PackedData packed;
  packed.groups.resize(project.groups.size());
  for (size_t g = 0; g < project.groups.size(); ++g) {
    packed.groups[g].resize(project.groups[g].files.size());
    for (size_t i = 0; i < project.groups[g].files.size(); ++i)
      jobs.push_back({g, i, &project.groups[g].files[i]});
  }
  std::vector<std::exception_ptr> failures(jobs.size());
  std::atomic<size_t> next{0};
  auto work = [&]() {
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
        libdeflate_alloc_compressor(project.compressionLevel), libdeflate_free_compressor);
    for (size_t j; (j = next++) < jobs.size();) {
      try {
        if (!c) throw BuildError("cannot set up compression");
        const FileEntry& e = *jobs[j].e;
        PackedStream& out = packed.groups[jobs[j].group][jobs[j].entry];
        if (e.data.kind == FileData::None) {
          out.info.size = e.sizeWithoutData;
          out.info.checksum = e.checksumWithoutData;
          continue;
        }
        Bytes read;
        if (e.data.kind == FileData::Path) {
          try {
            read = ReadWholeFile(e.data.path);
          } catch (const BuildError& error) {
            throw BuildError(std::string(error.what()) + " (source of " + e.origin + ")");
          }
        }
        const Bytes& content = e.data.kind == FileData::Path ? read : e.data.bytes;
        if (content.size() > 0xFFFFFFFFu)
          throw BuildError(e.origin + ": files of 4 GB or more cannot be packed");
        out.info.size = (u32)content.size();
        out.info.checksum = RotateAddSum(0, content.data(), content.size());
        if (content.empty()) continue;  // packed size 0: nothing to inflate
        out.stream.resize(libdeflate_zlib_compress_bound(c.get(), content.size()));
        size_t n = libdeflate_zlib_compress(c.get(), content.data(), content.size(),
                                            out.stream.data(), out.stream.size());
        if (n == 0) throw BuildError(e.origin + ": compression failed");
        out.stream.resize(n);
        out.stream.shrink_to_fit();
      } catch (...) {
        failures[j] = std::current_exception();
      }
    }
  };
  unsigned threads = project.threads ? project.threads : std::thread::hardware_concurrency();
  threads = std::max(1u, std::min<unsigned>(threads, (unsigned)std::max<size_t>(jobs.size(), 1)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& f : failures)
    if (f) std::rethrow_exception(f);  // the first failure in package order

  // Offsets in package order: the setup program reads the streams of a group
  // front to back and never goes back to an earlier volume.
  uint64_t at = 0;
  for (auto& group : packed.groups)
    for (PackedStream& s : group) {
      s.info.packed = (u32)s.stream.size();
      s.info.offset = (u32)at;
      at += s.stream.size();
      if (at > 0xFFFFFFFFu) throw BuildError("the compressed data exceeds 4 GB");
    }
  packed.total = at;
  // An entry without data points into data that exists: the setup program
  // seeks to the offset of every entry, and an offset behind the last byte
  // would send it looking for a data volume that is not there.
  for (auto& group : packed.groups)
    for (PackedStream& s : group)
      if (s.info.packed == 0) s.info.offset = at ? (u32)std::min<uint64_t>(s.info.offset, at - 1) : 0;
  return packed;
}

namespace {

// Where the setup program finds the marker in a file that starts with
// `head`: the offset of the first match, or -1.
long FindMarkerLikeTheLoader(const Bytes& head) {
  size_t end = std::min<size_t>(head.size(), MarkerLatestEnd);
  for (size_t p = MarkerEarliest; p + PackageMarkerLength <= end; ++p)
    if (std::memcmp(head.data() + p, PackageMarker, PackageMarkerLength) == 0) return (long)p;
  return -1;
}

void CheckStub(const Bytes& stub) {
  if (stub.size() < MarkerEarliest)
    throw BuildError("the stub has " + std::to_string(stub.size()) +
                     " bytes; it must have at least " + std::to_string(MarkerEarliest) +
                     " (the setup program looks for its package from offset " +
                     std::to_string(MarkerEarliest) + " on)");
  if (stub.size() + PackageMarkerLength > MarkerLatestEnd)
    throw BuildError("the stub has " + std::to_string(stub.size()) +
                     " bytes; the package marker behind it must end within the first " +
                     std::to_string(MarkerLatestEnd) + " bytes, so the stub may have at most " +
                     std::to_string(MarkerLatestEnd - PackageMarkerLength));
  long found = FindMarkerLikeTheLoader(stub);
  if (found >= 0)
    throw BuildError("the stub contains the package marker \"wwgT)H\" at offset " +
                     std::to_string(found) +
                     "; the setup program would take that copy for the start of its package");
}

}  // namespace

Installer AssembleInstaller(const Project& project, const Bytes& stub, const PackedData& data) {
  CheckStub(stub);
  if (project.groups.empty()) throw BuildError("the project has no install group");
  if (project.groups.size() > MaxGroups)
    throw BuildError("a package holds at most 16 install groups, the project has " +
                     std::to_string(project.groups.size()));
  if (project.compressionLevel < 0 || project.compressionLevel > 12)
    throw BuildError("the compression level must be 0 to 12");
  Installer out;
  Bytes& head = out.head;
  head = stub;
  Append(head, PackageMarker, PackageMarkerLength);
  const int level = project.compressionLevel;
  auto add = [&](const Bytes& record) {
    out.recordOffsets.push_back((u32)head.size());
    Append(head, record);
  };

  Bytes layout = EncodeLayout(project.layout);
  if (!CheckLayoutRecord({layout.data(), (u32)layout.size()}))
    throw BuildError("internal error: the layout record fails its check");
  add(EncodeRecord(RecordLayout, layout, true, level));
  if (project.imageTable)
    add(EncodeRecord(RecordImageTable, *project.imageTable, true, PictureCompressionLevel(level)));
  for (const Bytes& record : EncodeBackdropRecords(project, level)) add(record);
  if (project.uninstallerImage)
    add(EncodeRecord(RecordUninstaller, *project.uninstallerImage, true, level));

  bool needsUninstaller = false;
  for (size_t g = 0; g < project.groups.size(); ++g) {
    const Group& group = project.groups[g];
    Bytes record;
    try {
      record = EncodeGroupRecord(group);
    } catch (const BuildError& e) {
      throw BuildError(GroupName(g) + ": " + e.what());
    }
    if (!CheckGroupRecord({record.data(), (u32)record.size()}))
      throw BuildError("internal error: the record of " + GroupName(g) + " fails its check");
    add(EncodeRecord(RecordGroup, record, true, level));
    if (group.registryEntries)
      add(EncodeRecord(RecordRegistryEntries, *group.registryEntries, true, level));
    Bytes list;
    PutU32(list, (u32)group.files.size());
    for (size_t i = 0; i < group.files.size(); ++i) {
      const FileEntry& e = group.files[i];
      if (e.state & EntryStateUninstaller) needsUninstaller = true;
      if (e.destination == DestCustom && e.strings[EntryCustomFolderString].empty())
        throw BuildError(e.origin + ": the custom destination needs a folder");
      Bytes entry = EncodeEntry(e, data.groups[g][i].info);
      Append(list, entry);
    }
    if (!CheckFileList({list.data(), (u32)list.size()}))
      throw BuildError("internal error: the file list of " + GroupName(g) + " fails its check");
    add(EncodeRecord(RecordFileList, list, true, level));
  }
  if (needsUninstaller && !project.uninstallerImage)
    throw BuildError("an uninstaller entry needs the uninstaller program (key 'uninstaller')");
  if (project.forcedPage) {
    if (project.forcedPage->group >= project.groups.size())
      throw BuildError("the forced page names group " +
                       std::to_string(project.forcedPage->group) + ", but there are only " +
                       std::to_string(project.groups.size()) + " groups (counted from 0)");
    if (project.forcedPage->page > 10) throw BuildError("the forced page must be a page kind 0 to 10");
    // Never compressed: the setup program reads the two words directly.
    Bytes words;
    PutU16(words, project.forcedPage->page);
    PutU16(words, project.forcedPage->group);
    add(EncodeRecord(RecordForcedPage, words, false, level));
  }

  // Split the data area: the program file holds what fits its volume size,
  // each data volume (u32 length, then data) the same.
  uint64_t total = data.total;
  uint64_t first = total;
  const uint64_t headSize = head.size() + RecordHeaderSize + 4;
  if (project.volumeSize) {
    if (headSize > project.volumeSize)
      throw BuildError("the program and its tables take " + std::to_string(headSize) +
                       " bytes, more than the volume size " +
                       std::to_string(project.volumeSize));
    if (project.volumeSize <= VolumeLengthSize)
      throw BuildError("the volume size must be larger than 4 bytes");
    first = std::min<uint64_t>(total, project.volumeSize - headSize);
  }
  out.recordOffsets.push_back((u32)head.size());
  Bytes end = EncodeRecordHeader(RecordEndOfTables, 0, (u32)first);
  Append(head, end);
  PutU32(head, (u32)first);
  if (FindMarkerLikeTheLoader(head) != (long)stub.size())
    throw BuildError("internal error: the marker is not found where it was written");

  std::vector<uint64_t> sizes{first};
  for (uint64_t left = total - first; left;) {
    uint64_t n = std::min<uint64_t>(left, project.volumeSize - VolumeLengthSize);
    sizes.push_back(n);
    left -= n;
  }
  out.parts.resize(sizes.size());
  for (size_t k = 0; k < sizes.size(); ++k) out.parts[k].reserve(sizes[k]);
  size_t part = 0;
  for (const auto& group : data.groups)
    for (const PackedStream& s : group) {
      size_t at = 0;
      while (at < s.stream.size()) {
        while (out.parts[part].size() == sizes[part]) ++part;
        size_t n = std::min<size_t>(s.stream.size() - at, sizes[part] - out.parts[part].size());
        Append(out.parts[part], s.stream.data() + at, n);
        at += n;
      }
    }
  return out;
}

std::string VolumePath(const std::string& programPath, unsigned k) {
  char extension[16];
  std::snprintf(extension, sizeof extension, ".D%02u", k);
  size_t slash = programPath.find_last_of("/\\");
  size_t dot = programPath.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    return programPath.substr(0, dot) + extension;
  return programPath + extension;
}

namespace {

void WriteFileBytes(const std::string& path, const std::vector<const Bytes*>& pieces) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::string final = path.substr(0, path.size() - 5);  // without ".part"
    throw BuildError("cannot create '" + final + "': " + std::strerror(errno));
  }
  for (const Bytes* b : pieces) out.write((const char*)b->data(), (std::streamsize)b->size());
  out.close();
  if (!out) throw BuildError("cannot write '" + path + "'");
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> WriteInstaller(const Installer& installer,
                                        const std::string& programPath) {
  std::vector<std::pair<std::string, std::string>> written;  // temporary, final
  auto discard = [&]() {
    for (auto& w : written) std::remove(w.first.c_str());
  };
  try {
    std::string temp = programPath + ".part";
    written.push_back({temp, programPath});
    WriteFileBytes(temp, {&installer.head, &installer.parts[0]});
    std::vector<Bytes> words(installer.parts.size());
    for (size_t k = 1; k < installer.parts.size(); ++k) {
      std::string path = VolumePath(programPath, (unsigned)k);
      if (path == programPath)
        throw BuildError("the output name '" + programPath + "' is the name of a data volume");
      PutU32(words[k], (u32)installer.parts[k].size());
      written.push_back({path + ".part", path});
      WriteFileBytes(path + ".part", {&words[k], &installer.parts[k]});
    }
  } catch (...) {
    discard();
    throw;
  }
  for (auto& w : written) {
    if (std::rename(w.first.c_str(), w.second.c_str()) != 0) {
      std::string reason = std::strerror(errno);
      discard();
      throw BuildError("cannot write '" + w.second + "': " + reason);
    }
  }
  // Volumes left from an earlier, larger build would never be read but
  // would make the set look bigger than it is.
  std::vector<std::string> removed;
  for (unsigned k = (unsigned)installer.parts.size();; ++k) {
    std::string path = VolumePath(programPath, k);
    if (!Exists(path)) break;
    if (std::remove(path.c_str()) == 0) removed.push_back(path);
    else break;
  }
  return removed;
}

BuildSummary BuildInstaller(const Project& project, const Bytes& stub,
                            const std::string& programPath) {
  PackedData data = PackFiles(project);
  Installer installer = AssembleInstaller(project, stub, data);
  BuildSummary summary;
  for (size_t g = 0; g < project.groups.size(); ++g)
    for (size_t i = 0; i < project.groups[g].files.size(); ++i) {
      ++summary.files;
      summary.inputBytes += data.groups[g][i].info.size;
    }
  summary.dataBytes = data.total;
  summary.volumes = (unsigned)installer.parts.size() - 1;
  summary.removedVolumes = WriteInstaller(installer, programPath);
  return summary;
}

}  // namespace setrunc
