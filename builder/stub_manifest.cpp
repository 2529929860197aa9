// The execution level of a program's manifest (the setup program's, the
// embedded uninstaller's). The manifest is found
// the way Windows finds it: PE headers, the resource data directory, then
// type 24 (RT_MANIFEST), name 1, every language. Every offset read from the
// image is checked against the image and the resource section before use.
#include "builder/stub_manifest.h"

#include <cstring>
#include <fstream>

namespace setrunc {

namespace {

const u32 ManifestType = 24;  // RT_MANIFEST
const u32 ManifestName = 1;   // the manifest Windows reads when it starts a program
const u32 SubdirectoryBit = 0x80000000u;
const char LevelElement[] = "requestedExecutionLevel";

// A fault of the image, its text to follow the program's name: the public
// functions turn it into a BuildError that names the program.
struct ImageFault {
  std::string afterName;
};

[[noreturn]] void Damaged(const std::string& why) {
  throw ImageFault{"'s resources are damaged: " + why};
}

u16 U16At(const u8* image, size_t size, size_t at) {
  if (at > size || size - at < 2) Damaged("a header ends outside the file");
  return ReadU16(image + at);
}

u32 U32At(const u8* image, size_t size, size_t at) {
  if (at > size || size - at < 4) Damaged("a header ends outside the file");
  return ReadU32(image + at);
}

struct PeHeaders {
  size_t optional = 0;        // offset of the optional header
  size_t checksumField = 0;   // offset of its CheckSum
  size_t sections = 0;        // offset of the section table
  u16 sectionCount = 0;
  u32 resourceRva = 0, resourceSize = 0;
};

bool LooksLikePe(const u8* image, size_t size) {
  if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  size_t pe = ReadU32(image + 0x3C);
  return pe <= size && size - pe >= 4 && std::memcmp(image + pe, "PE\0\0", 4) == 0;
}

// The headers of a PE image; false when it is not one (no MZ or PE
// signature), BuildError when the headers it claims run outside it.
bool ReadHeaders(const u8* image, size_t size, PeHeaders* h) {
  if (!LooksLikePe(image, size)) return false;
  size_t pe = ReadU32(image + 0x3C);
  if (size - pe < 24) Damaged("the file header ends outside the file");
  h->sectionCount = U16At(image, size, pe + 6);
  u16 optionalSize = U16At(image, size, pe + 20);
  h->optional = pe + 24;
  u16 magic = U16At(image, size, h->optional);
  if (magic != 0x10B && magic != 0x20B) Damaged("unknown optional header 0x" + std::to_string(magic));
  h->checksumField = h->optional + 64;
  const size_t countField = h->optional + (magic == 0x10B ? 92 : 108);
  const size_t directories = countField + 4;
  if (directories > h->optional + optionalSize) Damaged("the optional header is too short");
  U32At(image, size, h->checksumField);
  u32 count = U32At(image, size, countField);
  if (count > 2 && directories + 3 * 8 <= h->optional + optionalSize) {
    h->resourceRva = U32At(image, size, directories + 2 * 8);
    h->resourceSize = U32At(image, size, directories + 2 * 8 + 4);
  }
  h->sections = h->optional + optionalSize;
  if (h->sections > size || (size - h->sections) / 40 < h->sectionCount)
    Damaged("the section table ends outside the file");
  return true;
}

// A range of the image given by its address when loaded: the file offset of
// `rva`, with `length` bytes there inside one section's data in the file.
size_t FileOffset(const u8* image, size_t size, const PeHeaders& h, u32 rva, u32 length) {
  for (u16 i = 0; i < h.sectionCount; ++i) {
    const size_t s = h.sections + (size_t)i * 40;
    u32 address = ReadU32(image + s + 12), rawSize = ReadU32(image + s + 16),
        rawOffset = ReadU32(image + s + 20);
    if (rva < address || rva - address >= rawSize) continue;
    u32 inside = rva - address;
    if (length > rawSize - inside) Damaged("a resource runs past the end of its section");
    if (rawOffset > size || size - rawOffset < rawSize) Damaged("a section ends outside the file");
    return (size_t)rawOffset + inside;
  }
  Damaged("an address lies in no section of the file");
}

// The resource directory: `base` is its file offset, `limit` its size.
struct Resources {
  const u8* image;
  size_t base, limit;
  u32 At(u32 offset) const {
    if (offset > limit || limit - offset < 4) Damaged("an entry lies outside the resource section");
    return ReadU32(image + base + offset);
  }
  // Entries of the directory at `offset`: (name or id word, data word) pairs.
  std::vector<std::pair<u32, u32>> Entries(u32 offset) const {
    At(offset + 12);
    u32 counts = At(offset + 12);
    u32 total = (counts & 0xFFFF) + (counts >> 16);
    std::vector<std::pair<u32, u32>> out;
    for (u32 i = 0; i < total; ++i) {
      u32 at = offset + 16 + i * 8;
      if (at < offset) Damaged("a directory runs past the resource section");
      out.emplace_back(At(at), At(at + 4));
    }
    return out;
  }
  u32 Subdirectory(u32 offset, u32 id) const {
    for (auto [name, data] : Entries(offset))
      if (name == id) {
        if (!(data & SubdirectoryBit)) Damaged("a resource type or name is not a directory");
        return data & ~SubdirectoryBit;
      }
    return 0;
  }
};

bool IsSpace(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(u8 c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
         c == '_' || c == '-' || c == '.';
}

// The level attribute of the requestedExecutionLevel element in the manifest
// text [text, text + n); `offset` is the text's file offset.
ManifestLevel LevelIn(const u8* text, size_t n, size_t offset) {
  const size_t nameLength = sizeof LevelElement - 1;
  for (size_t i = 0; i + 1 + nameLength <= n; ++i) {
    if (text[i] != '<' || std::memcmp(text + i + 1, LevelElement, nameLength) != 0) continue;
    size_t p = i + 1 + nameLength;
    // Attributes up to the end of the tag: name = "value".
    for (;;) {
      size_t spaces = p;
      while (p < n && IsSpace(text[p])) ++p;
      if (p >= n || text[p] == '/' || text[p] == '>') break;
      if (p == spaces) break;  // attributes are separated by white space
      size_t name = p;
      while (p < n && IsNameChar(text[p])) ++p;
      std::string attribute((const char*)text + name, p - name);
      while (p < n && IsSpace(text[p])) ++p;
      if (p >= n || text[p] != '=') break;
      ++p;
      while (p < n && IsSpace(text[p])) ++p;
      if (p >= n || (text[p] != '"' && text[p] != '\'')) break;
      char quote = (char)text[p++];
      size_t value = p;
      while (p < n && text[p] != quote && text[p] != '<') ++p;
      if (p >= n || text[p] != (u8)quote) break;
      size_t close = p++;
      if (attribute == "level") {
        size_t end = p;
        while (end < n && text[end] == ' ') ++end;
        ManifestLevel l;
        l.offset = offset + value;
        l.room = end - value;
        l.quote = quote;
        l.level.assign((const char*)text + value, close - value);
        return l;
      }
    }
    break;
  }
  throw ImageFault{"'s manifest has no requestedExecutionLevel element with a level"};
}

// The levels of the image's manifests; ImageFault when it is no PE image or
// its resources are damaged.
std::vector<ManifestLevel> LevelsOf(const u8* image, size_t size) {
  PeHeaders h;
  if (!ReadHeaders(image, size, &h)) throw ImageFault{" is not a Windows program"};
  std::vector<ManifestLevel> levels;
  if (h.resourceRva == 0 || h.resourceSize == 0) return levels;
  Resources r{image, FileOffset(image, size, h, h.resourceRva, h.resourceSize), h.resourceSize};
  u32 type = r.Subdirectory(0, ManifestType);
  if (!type) return levels;
  u32 name = r.Subdirectory(type, ManifestName);
  if (!name) return levels;
  for (auto [language, data] : r.Entries(name)) {
    (void)language;
    if (data & SubdirectoryBit) Damaged("a manifest language is a directory");
    u32 rva = r.At(data), length = r.At(data + 4);
    size_t at = FileOffset(image, size, h, rva, length);
    levels.push_back(LevelIn(image + at, length, at));
  }
  return levels;
}

}  // namespace

std::vector<ManifestLevel> FindExecutionLevels(const u8* image, size_t size, const std::string& program) {
  try {
    return LevelsOf(image, size);
  } catch (const ImageFault& fault) {
    throw BuildError(program + fault.afterName);
  }
}

const char* ExecutionLevelOf(Privileges privileges) {
  return privileges == Privileges::User ? "asInvoker" : "requireAdministrator";
}

size_t PeChecksumOffset(const u8* image, size_t size) {
  PeHeaders h;
  try {
    return ReadHeaders(image, size, &h) ? h.checksumField : 0;
  } catch (const ImageFault& fault) {
    throw BuildError("the program" + fault.afterName);
  }
}

u32 PeChecksum(const u8* image, size_t size, size_t checksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    u32 word = image[i] | (i + 1 < size ? (u32)image[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (u32)(sum + size);
}

Bytes ProgramWithPrivileges(const Bytes& stub, std::optional<Privileges> privileges, const std::string& program) {
  // Without a choice, anything that is no Windows program (the builder's
  // tests use such stand-ins) goes in as it is.
  if (!privileges && !LooksLikePe(stub.data(), stub.size())) return stub;
  std::vector<ManifestLevel> levels = FindExecutionLevels(stub.data(), stub.size(), program);
  if (levels.empty() && !privileges) return stub;
  if (levels.empty())
    throw BuildError(program + " has no manifest to hold the privileges '" +
                     std::string(*privileges == Privileges::User ? "user" : "admin") +
                     "' (build it with startup/setrun.manifest, or leave 'privileges' out)");
  const std::string wanted = ExecutionLevelOf(privileges.value_or(Privileges::Admin));
  Bytes out = stub;
  for (const ManifestLevel& l : levels) {
    if (wanted.size() + 1 > l.room)
      throw BuildError(program + "'s manifest has room for " + std::to_string(l.room - 1) +
                       " characters of level, not the " + std::to_string(wanted.size()) + " of " +
                       wanted);
    // The value, its closing quote, then spaces up to the next attribute.
    std::memcpy(out.data() + l.offset, wanted.data(), wanted.size());
    out[l.offset + wanted.size()] = (u8)l.quote;
    std::memset(out.data() + l.offset + wanted.size() + 1, ' ', l.room - wanted.size() - 1);
  }
  size_t field = PeChecksumOffset(out.data(), out.size());
  if (field && ReadU32(out.data() + field) != 0)
    WriteU32(out.data() + field, PeChecksum(out.data(), out.size(), field));
  return out;
}

Bytes StubWithPrivileges(const Bytes& stub, std::optional<Privileges> privileges) {
  return ProgramWithPrivileges(stub, privileges, "the setup program");
}

std::string DescribePrivileges(const std::string& path, size_t stubSize) {
  std::ifstream in(path, std::ios::binary);
  Bytes image(stubSize);
  if (!in.read((char*)image.data(), (std::streamsize)stubSize)) return "privileges: unknown (cannot read the setup program)\n";
  std::vector<ManifestLevel> levels;
  try {
    levels = FindExecutionLevels(image.data(), image.size());
  } catch (const BuildError& e) {
    return std::string("privileges: unknown (") + e.what() + ")\n";
  }
  if (levels.empty()) return "privileges: none declared (the setup program has no manifest)\n";
  const std::string& level = levels[0].level;
  const char* name = level == "asInvoker" ? "user" : level == "requireAdministrator" ? "admin" : "other";
  return std::string("privileges: ") + name + " (" + level + ")\n";
}

}  // namespace setrunc
