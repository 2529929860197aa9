#include "builder/inspect_json.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "base/records.h"
#include "builder/codepage.h"

namespace setrunc {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = (unsigned char)utf8[i];
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c == 0xC2 && i + 1 < utf8.size() && (unsigned char)utf8[i + 1] >= 0x80 &&
               (unsigned char)utf8[i + 1] < 0xA0) {
      // C1 control characters (U+0080 to U+009F), escaped like the others.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", (unsigned char)utf8[++i]);
      out += escaped;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

std::string JsonText(const char* ansi) { return ansi ? JsonString(Cp1252ToUtf8(ansi)) : "null"; }

namespace {

const char* const PageNames[] = {"welcome", "information", "licence", "folder", "ready", "installing", "finish"};

std::string PageName(u32 kind) { return kind < 7 ? PageNames[kind] : "kind " + std::to_string(kind); }

std::string Bool(bool b) { return b ? "true" : "false"; }

void WriteEntry(std::ostream& s, const u8* e) {
  const u32 flags = ReadU32(e + EntryFlags), dest = ReadU32(e + EntryDestination);
  s << "{\"name\": " << JsonText(EntryString(e, 0)) << ", \"size\": " << ReadU32(e + EntrySize)
    << ", \"packed\": " << ReadU32(e + EntryPackedSize) << ", \"data_offset\": " << ReadU32(e + EntryDataOffset)
    << ", \"checksum\": " << ReadU32(e + EntryChecksum) << ", \"flags\": " << flags
    << ", \"options\": " << ReadU32(e + EntryOptions) << ", \"destination\": " << dest
    << ", \"destination_name\": " << JsonString(DestinationName(dest))
    << ", \"folder_entry\": " << Bool(flags & FileFlagFolderEntry)
    << ", \"uninstaller\": " << Bool(ReadU16(e + EntryState) & EntryStateUninstaller)
    << ", \"run_phase\": " << ((flags & FileFlagRunPhaseMask) >> FileFlagRunPhaseShift);
  if (dest == DestCustom) s << ", \"custom_folder\": " << JsonText(EntryString(e, EntryCustomFolderString));
  if (flags & (FileFlagCompareVersion | FileFlagCompareLanguage)) {
    const u8* v = e + EntryFixedSize;
    const u32 ms = ReadU32(v + VersionBlockMs), ls = ReadU32(v + VersionBlockLs);
    s << ", \"version\": \"" << (ms >> 16) << "." << (ms & 0xFFFF) << "." << (ls >> 16) << "." << (ls & 0xFFFF)
      << "\", \"language\": " << ReadU32(v + VersionBlockLanguage);
  }
  static const char* const keys[] = {nullptr,           "start_menu_folder", "start_menu_name",
                                     "start_menu_args", "start_menu_icon",   "desktop_name",
                                     "desktop_args",    "desktop_icon",      "run_args"};
  for (u32 n = 1; n < EntryPackageStrings; ++n)
    if (*EntryString(e, n)) s << ", \"" << keys[n] << "\": " << JsonText(EntryString(e, n));
  s << "}";
}

void WriteGroup(std::ostream& s, const GroupData& g) {
  RecordView r = {g.record.data(), (u32)g.record.size()};
  s << "{\"flags\": " << ReadU16(r.data + GroupFlags) << ", \"flags2\": " << ReadU32(r.data + GroupFlags2)
    << ",\n     \"display_name\": " << JsonText(RecordText(r, GroupDisplayName))
    << ", \"second_name\": " << JsonText(RecordText(r, GroupSecondName))
    << ",\n     \"default_folder\": " << JsonText(RecordText(r, GroupDefaultFolder))
    << ",\n     \"registry\": {\"root\": " << ReadU32(r.data + GroupRegistryRoot)
    << ", \"key\": " << JsonText(RecordText(r, GroupRegistryKey))
    << ", \"value\": " << JsonText(RecordText(r, GroupRegistryValue)) << "}"
    << ",\n     \"ini\": {\"file\": " << JsonText(RecordText(r, GroupIniFile))
    << ", \"section\": " << JsonText(RecordText(r, GroupIniSection))
    << ", \"key\": " << JsonText(RecordText(r, GroupIniKey)) << "}"
    << ",\n     \"pages\": [";
  for (u32 i = 0; i < PageSequenceLength && r.data[GroupPageSequence + i] != PageSequenceEnd; ++i)
    s << (i ? ", " : "") << JsonString(PageName(r.data[GroupPageSequence + i]));
  s << "],\n     \"texts\": {";
  const char* separator = "";
  for (u32 tg = 0; tg < TextGroupCount; ++tg) {
    TextCursor cursor;
    if (!FirstText(r, tg, &cursor)) continue;
    u32 n = 0;
    for (const char* t; (t = NextText(&cursor)) != nullptr; ++n) {
      if (!*t) continue;
      s << separator << "\n       \"" << tg << "/" << n << "\": " << JsonText(t);
      separator = ",";
    }
  }
  s << "},\n     \"registry_entries_bytes\": ";
  if (g.registryEntries) s << g.registryEntries->size();
  else s << "null";
  s << ",\n     \"files\": [";
  if (g.fileList) {
    std::vector<const u8*> entries = FileEntries(*g.fileList);
    for (size_t i = 0; i < entries.size(); ++i) {
      s << (i ? ",\n       " : "\n       ");
      WriteEntry(s, entries[i]);
    }
  }
  s << "]}";
}

}  // namespace

void DescribePackageJson(const PackageInfo& p, const SignatureInfo& sig, std::ostream& s) {
  s << "{\"format\": 1,\n \"file\": " << JsonString(p.path) << ",\n \"size\": " << p.fileLength
    << ",\n \"package_offset\": " << p.packageStart << ",\n \"signature\": ";
  if (!sig.present) {
    s << "null";
  } else {
    s << "{\"offset\": " << sig.offset << ", \"size\": " << sig.size << ", \"type\": " << sig.type
      << ", \"signer\": " << JsonString(sig.signer) << ", \"issuer\": " << JsonString(sig.issuer)
      << ", \"digest\": " << JsonString(sig.digest) << ", \"problem\": "
      << (sig.problem.empty() ? "null" : JsonString(sig.problem)) << "}";
  }
  s << ",\n \"data\": {\"offset\": " << p.dataAreaOffset + 4 << ", \"length\": " << p.dataLength
    << ", \"complete\": " << Bool(DataComplete(p)) << "}";
  s << ",\n \"records\": [";
  for (size_t i = 0; i < p.records.size(); ++i) {
    const RecordInfo& r = p.records[i];
    s << (i ? ",\n   " : "\n   ") << "{\"offset\": " << r.offset << ", \"type\": " << r.type
      << ", \"name\": " << JsonString(RecordTypeName(r.type)) << ", \"flags\": " << r.flags
      << ", \"stored\": " << r.size << ", \"decoded\": ";
    if (r.read) s << r.decoded;
    else s << "null";
    s << "}";
  }
  s << "],\n \"unlisted_records\": " << p.unlistedRecords;
  if (p.forced) s << ",\n \"forced_page\": {\"page\": " << p.forcedPage << ", \"group\": " << p.forcedGroup << "}";
  const u8* l = p.layout->data();
  const u8* f = l + LayoutDialogFont;
  std::string face((const char*)f + 28, 32);
  face.resize(std::strlen(face.c_str()));
  s << ",\n \"layout\": {\"flags\": " << ReadU32(l + LayoutFlags)
    << ", \"silent\": " << Bool(ReadU32(l + LayoutFlags) & LayoutFlagSilent)
    << ", \"colour_a\": " << ReadU32(l + LayoutColourA) << ", \"colour_b\": " << ReadU32(l + LayoutColourB)
    << ", \"frame_width\": " << (i32)ReadU32(l + LayoutFrameWidth)
    << ", \"frame_height\": " << (i32)ReadU32(l + LayoutFrameHeight)
    << ",\n   \"font\": {\"face\": " << JsonText(face.c_str()) << ", \"height\": " << (i32)ReadU32(f)
    << ", \"weight\": " << (i32)ReadU32(f + 16) << "}}";
  s << ",\n \"uninstaller_bytes\": ";
  if (p.uninstaller) s << p.uninstaller->size();
  else s << "null";
  s << ",\n \"groups\": [";
  for (size_t g = 0; g < p.groups.size(); ++g) {
    s << (g ? ",\n    " : "\n    ");
    WriteGroup(s, p.groups[g]);
  }
  s << "]}\n";
}

}  // namespace setrunc
