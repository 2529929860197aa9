// The uninstaller that setrunc embeds by default: its log start, and the
// records of a group's registry entries that give the Uninstall entry its
// values and tell the uninstaller what to remove and what to check.
#pragma once

#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

struct StreamInfo;

// What the loader leaves for ApplyDefaultUninstaller, per group.
struct GroupUninstallDefaults {
  bool wanted = true;       // no `uninstaller = false` in the group
  bool flagsGiven = false;  // the group names its flags: they stay as written
  std::string title;        // the group's setup title (already in the code page)
};

// When the project names no uninstaller program: `image`, with the
// project's privileges written into its manifest (ProgramWithPrivileges),
// becomes the uninstaller, every group that does not say `uninstaller = false` gets an
// uninstaller entry (`Uninstall.exe` unless the group names one), the
// Uninstall entry (unless the group's flags are written out) named by the
// group's name or title, the uninstaller's texts in front of its log, and
// the Uninstall values and removal records (`Group::uninstall`).
void ApplyDefaultUninstaller(Project* project, const std::vector<GroupUninstallDefaults>& defaults,
                             const std::string& publisher, const std::string& version,
                             const Bytes& image);

// The records the builder adds to a group's registry entries for the
// embedded uninstaller: the Uninstall values (icon, publisher, version, size,
// the silent uninstall command), the Uninstall key under HKLM and HKCU, the
// installation folder's value, and the size and checksum of every packed
// file. `streams` are the group's entries' figures, in file-list order.
Bytes UninstallRecords(const Group& group, const std::vector<StreamInfo>& streams);

// The uninstaller's texts record (LogTexts) for a product name.
Bytes UninstallerTextsRecord(const std::string& name);

}  // namespace setrunc
