#include "builder/uninstall_records.h"

#include <algorithm>

#include "builder/package_writer.h"
#include "builder/stub_manifest.h"

namespace setrunc {

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char DefaultUninstallerName[] = "Uninstall.exe";

void U16(Bytes& out, u16 v) {
  out.push_back((u8)v);
  out.push_back((u8)(v >> 8));
}
void U32(Bytes& out, u32 v) {
  for (int i = 0; i < 4; ++i) out.push_back((u8)(v >> (8 * i)));
}
void LogString(Bytes& out, const std::string& text) {
  if (text.size() > 0xFFFF) throw BuildError("a text of the uninstall log has more than 65,535 bytes");
  U16(out, (u16)text.size());
  out.insert(out.end(), text.begin(), text.end());
}
void Record(Bytes& out, u16 type, const Bytes& payload) {
  Bytes header = EncodeRecordHeader(type, 0, (u32)payload.size());
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), payload.begin(), payload.end());
}

std::string Lower(std::string s) {
  for (char& c : s) c = (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

}  // namespace

Bytes UninstallerTextsRecord(const std::string& name) {
  std::vector<std::string> texts = {
      name + " Uninstall",
      "Remove " + name + " and all of its components from this computer?",
      "Removing " + name,
      name + " was removed from this computer.",
      "These files were not removed: they were changed since the installation, could not be "
      "removed, or were not installed by it:",
      "Some files are in use. They will be removed when Windows starts again.",
      "The uninstall information of " + name + " is damaged or incomplete. Nothing was removed."};
  Bytes payload;
  U32(payload, (u32)texts.size());
  for (const std::string& t : texts) LogString(payload, t);
  Bytes out;
  Record(out, LogTexts, payload);
  return out;
}

void ApplyDefaultUninstaller(Project* project, const std::vector<GroupUninstallDefaults>& defaults,
                             const std::string& publisher, const std::string& version,
                             const Bytes& image) {
  // It runs with the privileges the setup program asks for: a per-user
  // product's uninstaller as the invoker, any other as administrator.
  project->uninstallerImage = ProgramWithPrivileges(image, project->privileges, "the uninstaller");
  for (size_t g = 0; g < project->groups.size() && g < defaults.size(); ++g) {
    Group& group = project->groups[g];
    const GroupUninstallDefaults& d = defaults[g];
    if (!d.wanted) continue;
    auto entry = std::find_if(group.files.begin(), group.files.end(),
                              [](const FileEntry& e) { return (e.state & EntryStateUninstaller) != 0; });
    if (entry == group.files.end()) {
      for (const FileEntry& e : group.files)
        if (e.destination == DestInstallDir && Lower(e.strings[0]) == Lower(DefaultUninstallerName))
          throw BuildError(Describe(e) + ": '" + e.strings[0] +
                           "' is the name of the uninstaller; name the uninstaller otherwise "
                           "(uninstaller = \"Remove.exe\" in the group) or leave it out "
                           "(uninstaller = false)");
      FileEntry u;
      u.state = EntryStateUninstaller;
      u.origin = "group[" + std::to_string(g) + "].uninstaller (the default)";
      u.strings[0] = DefaultUninstallerName;
      u.data.kind = FileData::Inline;
      Bytes end = EncodeRecordHeader(RecordEndOfTables, 0, 0);
      u.data.bytes = end;
      group.files.push_back(u);
      entry = group.files.end() - 1;
    }
    if (!d.flagsGiven) group.flags |= GroupFlagUninstallEntry;
    if (!group.displayName || group.displayName->empty()) group.displayName = d.title;
    // The texts go in front of whatever log records the project gives.
    Bytes texts = UninstallerTextsRecord(*group.displayName);
    Bytes& log = entry->data.bytes;
    log.insert(log.begin(), texts.begin(), texts.end());
    UninstallInfo info;
    info.uninstallerName = entry->strings[0];
    info.publisher = publisher;
    info.version = version;
    group.uninstall = info;
  }
}

Bytes UninstallRecords(const Group& group, const std::vector<StreamInfo>& streams) {
  Bytes out;
  if (!group.uninstall) return out;
  const UninstallInfo& info = *group.uninstall;
  const std::string uninstaller = "#InstallDir#\\" + info.uninstallerName;

  uint64_t bytes = 0;
  Bytes checks;
  u32 checked = 0;
  for (size_t i = 0; i < group.files.size() && i < streams.size(); ++i) {
    const FileEntry& e = group.files[i];
    if (e.state & EntryStateUninstaller) continue;
    if (e.flags & (FileFlagFolderEntry | FileFlagSourceFolder)) continue;
    bytes += streams[i].size;
    LogString(checks, e.strings[0]);
    U32(checks, streams[i].size);
    U32(checks, streams[i].checksum);
    ++checked;
  }

  Bytes values;
  u32 count = 0;
  auto text = [&](const char* name, const std::string& data) {
    U32(values, 1);  // REG_SZ
    LogString(values, name);
    LogString(values, data);
    ++count;
  };
  auto number = [&](const char* name, u32 data) {
    U32(values, 4);  // REG_DWORD
    LogString(values, name);
    U32(values, data);
    ++count;
  };
  text("DisplayIcon", uninstaller);
  if (!info.publisher.empty()) text("Publisher", info.publisher);
  if (!info.version.empty()) text("DisplayVersion", info.version);
  text("QuietUninstallString", "\"" + uninstaller + "\" /S");
  number("EstimatedSize", (u32)std::min<uint64_t>((bytes + 1023) / 1024, 0xFFFFFFFFu));
  number("NoModify", 1);
  number("NoRepair", 1);
  Bytes payload;
  U32(payload, count);
  payload.insert(payload.end(), values.begin(), values.end());
  Record(out, LogUninstallValues, payload);

  // The Uninstall key: under HKLM, or under HKCU where the setup program
  // could not write HKLM.
  if (group.displayName && !group.displayName->empty()) {
    for (u32 root : {2u, 1u}) {
      Bytes key;
      U32(key, root);
      LogString(key, UninstallKey + *group.displayName);
      Record(out, LogRegistryKey, key);
    }
  }
  if ((group.flags & GroupFlagFolderToRegistry) && group.registryKey && !group.registryKey->empty()) {
    Bytes value;
    U32(value, group.registryRoot <= 3 ? group.registryRoot : 1);
    LogString(value, *group.registryKey);
    LogString(value, group.registryValue.value_or(""));
    Record(out, LogRegistryValue, value);
  }
  Bytes list;
  U32(list, checked);
  list.insert(list.end(), checks.begin(), checks.end());
  Record(out, LogFileChecks, list);
  return out;
}

}  // namespace setrunc
