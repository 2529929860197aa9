#include "builder/reader_commands.h"
#include "builder/shared_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "builder/codepage.h"
#include "builder/inspect_json.h"
#include "builder/layout.h"
#include "builder/signature.h"
#include "builder/package_reader.h"
#include "builder/stub_manifest.h"
#include "base/records.h"

namespace setrunc {

namespace {

const char* const InspectHelp =
    "usage: setrunc inspect SETUP.exe [--json]\n"
    "\n"
    "Lists the records of the package (type, flags, stored and decoded size,\n"
    "offset), the layout header, every install group with its fields and texts,\n"
    "the file entries and the signature. Control characters in package texts are\n"
    "shown as \\xHH.\n"
    "\n"
    "  --json   the same as one JSON object (its fields: builder/README.md)\n";

const char* const VerifyHelp =
    "usage: setrunc verify SETUP.exe\n"
    "\n"
    "Reads the package as the setup program does (every record it reads is\n"
    "decoded and checked), then inflates the data of every file entry (following\n"
    "the data volumes) up to its declared size and checks its size and checksum.\n"
    "A signed installer's signature must lie behind the package data and sign\n"
    "the file as it is. Exits with 1 and names each damaged file on any fault.\n";

const char* const ExtractHelp =
    "usage: setrunc extract SETUP.exe -o FOLDER\n"
    "\n"
    "Writes the files of the package into FOLDER, each under its entry name\n"
    "(backslashes become folders), and creates the folders of folder entries.\n"
    "With several install groups each goes into FOLDER/group<N>; files for other\n"
    "destinations than the installation folder go into a subfolder named after\n"
    "the destination ({windows}, {fonts}, ...). The uninstaller program is\n"
    "written once, in front of the first uninstaller entry.\n"
    "\n"
    "Before writing, the total size is stated and compared with the free space\n"
    "of FOLDER. Each file is checked like verify does; a damaged file, a name\n"
    "that would leave FOLDER or holds control characters, or a file that cannot\n"
    "be created is reported and left out, the others are written (exit code 1).\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

std::string OnePath(const std::vector<std::string>& args, std::string* output, bool wantOutput,
                    bool* json = nullptr) {
  std::string path;
  for (size_t i = 0; i < args.size(); ++i) {
    if (json && args[i] == "--json") {
      *json = true;
    } else if (wantOutput && (args[i] == "-o" || args[i] == "--output")) {
      if (i + 1 >= args.size()) throw UsageError("option " + args[i] + " needs a value");
      *output = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError("unknown option " + args[i]);
    } else if (path.empty()) {
      path = args[i];
    } else {
      throw UsageError("more than one installer given");
    }
  }
  if (path.empty()) throw UsageError("no installer given");
  return path;
}

std::string Label(size_t group, size_t index, const u8* e) {
  return "group " + std::to_string(group) + " file " + std::to_string(index) + " \"" +
         Printable(EntryString(e, 0)) + "\"";
}

// ---------------------------------------------------------------------------
// The data streams of a package

// A file entry that carries data.
struct DataItem {
  const u8* entry;
  u32 group, index;
  i32 stream;  // index into the streams, -1 when it has none (packed size 0)
};

// One data stream, however many entries point at it: it is inflated at most
// once for all of them, up to the largest size one of them declares.
struct Stream {
  u32 offset = 0, packed = 0;
  u32 limit = 0;      // the largest size an entry declares for it
  u32 entries = 0;    // entries that point at it
  u32 first = 0;      // the first of them (an index into the items)
  i32 overlaps = -1;  // a stream it overlaps: it is not inflated at all
  std::unique_ptr<StreamResult> result;  // kept for streams that entries share
};

// Streams that overlap cannot come from a builder; they are refused without
// being inflated, so that the streams that are inflated lie side by side and
// the work stays bounded by the data area itself (a deflate stream gives at
// most about 1,032 bytes per byte it reads). Memory: a few words per entry.
struct DataPlan {
  std::vector<DataItem> items;
  std::vector<Stream> streams;

  explicit DataPlan(const PackageInfo& p) {
    for (size_t g = 0; g < p.groups.size(); ++g) {
      if (!p.groups[g].fileList) continue;
      std::vector<const u8*> entries = FileEntries(*p.groups[g].fileList);
      for (size_t i = 0; i < entries.size(); ++i)
        if (!(ReadU32(entries[i] + EntryFlags) & (FileFlagFolderEntry | FileFlagSourceFolder)))
          items.push_back({entries[i], (u32)g, (u32)i, -1});
    }
    // The streams in the order of their place in the data area.
    std::vector<u32> order;
    for (u32 i = 0; i < items.size(); ++i)
      if (Packed(i) != 0) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return Place(a) < Place(b); });
    uint64_t reach = 0;
    i32 reacher = -1;
    for (u32 i : order) {
      if (streams.empty() || Place(streams.back().first) != Place(i)) {
        Stream s;
        s.offset = Place(i).first;
        s.packed = Place(i).second;
        s.first = i;
        if (s.offset < reach) s.overlaps = reacher;
        const uint64_t end = (uint64_t)s.offset + s.packed;
        streams.push_back(std::move(s));
        if (end > reach) {
          reach = end;
          reacher = (i32)streams.size() - 1;
        }
      }
      Stream& s = streams.back();
      s.limit = std::max(s.limit, ReadU32(items[i].entry + EntrySize));
      ++s.entries;
      items[i].stream = (i32)streams.size() - 1;
    }
  }

  u32 Packed(u32 item) const { return ReadU32(items[item].entry + EntryPackedSize); }
  std::pair<u32, u32> Place(u32 item) const { return {ReadU32(items[item].entry + EntryDataOffset), Packed(item)}; }

  std::string LabelOf(u32 item) const { return Label(items[item].group, items[item].index, items[item].entry); }

  const Stream* StreamOf(const DataItem& item) const {
    return item.stream < 0 ? nullptr : &streams[(size_t)item.stream];
  }

  // The fault of an entry, or "": judged from one inflation of its stream.
  std::string Fault(DataArea& data, const DataItem& item) {
    if (item.stream < 0) return JudgeEntry(StreamResult(), item.entry);
    Stream& s = streams[(size_t)item.stream];
    if (s.overlaps >= 0) return "its data overlaps that of " + LabelOf(streams[(size_t)s.overlaps].first);
    if (s.entries == 1) return JudgeEntry(InflateStream(data, s.offset, s.packed, s.limit, nullptr), item.entry);
    if (!s.result) s.result.reset(new StreamResult(InflateStream(data, s.offset, s.packed, s.limit, nullptr)));
    return JudgeEntry(*s.result, item.entry);
  }
};

// ---------------------------------------------------------------------------

int Inspect(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
  bool json = false;
  PackageInfo p = ReadPackage(OnePath(args, nullptr, false, &json));
  SignatureInfo signature = ReadSignature(p.path, p.fileLength);
  if (json) {
    DescribePackageJson(p, signature, out);
    return 0;
  }
  DescribePackage(p, out);
  if (p.layout) out << DescribeLayoutPages(p.layout->data(), (u32)p.layout->size());
  out << "\nSetup program:\n  " << DescribePrivileges(p.path, p.packageStart);
  out << DescribeSharedData(p);
  out << "\nSignature: " << DescribeSignature(signature);
  if (!signature.problem.empty()) out << " (" << signature.problem << ")";
  out << "\n";
  return 0;
}

// The signature's faults, or "": it lies behind the package data (which it
// then covers), ends the file (nothing unsigned follows it) and signs the
// file as it is.
std::string SignatureFault(const PackageInfo& p, const SignatureInfo& s) {
  if (!s.problem.empty()) return s.problem;
  const uint64_t dataEnd = (uint64_t)p.dataAreaOffset + 4 + p.dataLength;
  if (s.offset < dataEnd)
    return "the signature's certificate table (offset " + std::to_string(s.offset) +
           ") lies inside the package data, which ends at " + std::to_string(dataEnd);
  if ((uint64_t)s.offset + s.size != p.fileLength)
    return std::to_string(p.fileLength - s.offset - s.size) +
           " bytes follow the certificate table; the signature does not cover them";
  return "";
}

int Verify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PackageInfo p = ReadPackage(OnePath(args, nullptr, false));
  DataArea data(p);
  DataPlan plan(p);
  int faults = 0;
  auto fault = [&](const std::string& what) {
    err << "setrunc: " << p.path << ": " << what << "\n";
    ++faults;
  };
  if (!DataComplete(p)) fault("the file ends before its " + std::to_string(p.dataLength) + " bytes of data");
  const SignatureInfo signature = CheckSignature(p.path, p.fileLength);
  if (signature.present) {
    std::string problem = SignatureFault(p, signature);
    if (!problem.empty()) fault("signature: " + problem);
  }
  // Each group's data as the setup program reads it, in file-list order.
  std::vector<DataOrder> orders(p.groups.size(), DataOrder(p));
  // The items are in package order, group by group.
  for (const DataItem& item : plan.items) {
    const std::string label = Label(item.group, item.index, item.entry);
    std::string unreachable = orders[item.group].Next(ReadU32(item.entry + EntryDataOffset),
                                                      ReadU32(item.entry + EntryPackedSize));
    if (!unreachable.empty()) fault(label + ": " + unreachable);
    std::string problem = plan.Fault(data, item);
    if (!problem.empty()) fault(label + ": " + problem);
  }
  if (faults) {
    err << "setrunc: " << p.path << ": " << faults << " fault" << (faults > 1 ? "s" : "") << "\n";
    return 1;
  }
  out << p.path << ": " << plan.items.size() << " files in " << p.groups.size() << " group"
      << (p.groups.size() > 1 ? "s" : "") << " verified";
  if (data.VolumesOpened()) out << " (" << data.VolumesOpened() << " data volumes)";
  out << "\n";
  if (signature.present) out << "signature: " << DescribeSignature(signature) << "; it signs this file\n";
  return 0;
}

// ---------------------------------------------------------------------------
// Extraction

// The relative path (UTF-8, '/' separated) of a package name below the
// extraction folder, or a reason to refuse it.
struct Relative {
  std::string path;
  std::string refusal;
};

Relative SafeRelative(const std::string& name) {
  if (HasControlCharacters(name.c_str())) return {"", "its name holds control characters"};
  if (!name.empty() && (name[0] == '\\' || name[0] == '/' || (name.size() > 1 && name[1] == ':')))
    return {"", "the name leaves the folder"};
  std::string out, part;
  for (size_t i = 0; i <= name.size(); ++i) {
    char c = i < name.size() ? name[i] : '\\';
    if (c == '\\' || c == '/') {
      if (part == "..") return {"", "the name leaves the folder"};
      if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
      part.clear();
    } else {
      part += c;
    }
  }
  if (out.empty()) return {"", "the name is empty"};
  return {Cp1252ToUtf8(out), ""};
}

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates `path` and the folders above it; "" or the reason it failed.
std::string MakeFolders(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "";  // the usual case
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') {
      std::string p = path.substr(0, i);
      if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      if (mkdir(p.c_str(), 0755) != 0) return "cannot create the folder " + p + ": " + std::strerror(errno);
    }
  return "";
}

// Free bytes of the file system that holds `folder` (or would hold it).
uint64_t FreeSpace(std::string folder) {
  struct statvfs vfs;
  for (;;) {
    if (statvfs(folder.c_str(), &vfs) == 0) return (uint64_t)vfs.f_bavail * vfs.f_frsize;
    std::string up = Parent(folder);
    if (up == folder) return UINT64_MAX;  // nothing to measure: let the writes tell
    folder = up;
  }
}

// One entry as extraction sees it.
struct Planned {
  size_t group, index;
  const u8* entry;
  bool folder;           // a folder entry
  std::string target;    // where it goes
  std::string refusal;
  int item = -1;         // its index in the data plan
};

class Extractor {
 public:
  Extractor(const PackageInfo& p, const std::string& folder, std::ostream& out, std::ostream& err)
      : p_(p), folder_(folder), out_(out), err_(err), data_(p), plan_(p) {}

  int Run() {
    // Two walks over the entries, each planned as it comes: the first
    // counts, the second writes.
    uint64_t total = 0;
    size_t files = 0;
    bool uninstaller = false;
    ForEachEntry([&](const Planned& e) {
      if (e.folder || !e.refusal.empty()) return;
      ++files;
      total += ReadU32(e.entry + EntrySize);
      if (IsUninstaller(e.entry) && p_.uninstaller && !uninstaller) {
        total += p_.uninstaller->size();
        uninstaller = true;
      }
    });
    out_ << "writing " << files << " files, " << total << " bytes, to " << folder_ << "\n";
    uint64_t room = FreeSpace(folder_);
    if (total > room)
      throw BuildError(folder_ + ": the files take " + std::to_string(total) + " bytes, but only " +
                       std::to_string(room) + " bytes are free there; nothing was written");
    std::string made = MakeFolders(folder_);
    if (!made.empty()) throw BuildError(made);
    ForEachEntry([&](const Planned& e) { Extract(e); });
    out_ << written_ << " files written to " << folder_ << "\n";
    if (faults_) {
      err_ << "setrunc: " << p_.path << ": " << faults_ << " entr" << (faults_ > 1 ? "ies" : "y")
           << " not extracted\n";
      return 1;
    }
    return 0;
  }

 private:
  const PackageInfo& p_;
  const std::string folder_;
  std::ostream& out_;
  std::ostream& err_;
  DataArea data_;
  DataPlan plan_;
  int faults_ = 0, written_ = 0;
  std::string uninstallerAt_;  // where the uninstaller program was written

  static bool IsUninstaller(const u8* e) { return (ReadU16(e + EntryState) & EntryStateUninstaller) != 0; }

  void Fault(const Planned& e, const std::string& what) {
    err_ << "setrunc: " << Label(e.group, e.index, e.entry) << ": " << what << "\n";
    ++faults_;
  }

  template <typename Visit>
  void ForEachEntry(const Visit& visit) {
    size_t item = 0;
    for (size_t g = 0; g < p_.groups.size(); ++g) {
      if (!p_.groups[g].fileList) continue;
      std::string base = p_.groups.size() > 1 ? folder_ + "/group" + std::to_string(g) : folder_;
      std::vector<const u8*> entries = FileEntries(*p_.groups[g].fileList);
      for (size_t i = 0; i < entries.size(); ++i) {
        const u8* e = entries[i];
        const u32 flags = ReadU32(e + EntryFlags), dest = ReadU32(e + EntryDestination);
        if (flags & FileFlagSourceFolder) continue;  // its file is not in the package
        Planned planned{g, i, e, (flags & FileFlagFolderEntry) != 0, "", "", -1};
        std::string name = EntryString(e, 0);
        // A folder entry stands for the folder its name lies in.
        if (planned.folder) {
          size_t cut = name.find_last_of('\\');
          if (cut == std::string::npos) continue;  // the installation folder itself
          name.resize(cut);
        } else {
          planned.item = (int)item++;
        }
        Relative rel = SafeRelative(name);
        planned.refusal = rel.refusal;
        if (dest != DestInstallDir) {
          bool named = dest <= DestHighestKind && dest != 4 && dest != 6 && dest != 7;
          rel.path = "{" + (named ? std::string(DestinationName(dest)) : "kind" + std::to_string(dest)) + "}/" + rel.path;
        }
        planned.target = base + "/" + rel.path;
        visit(planned);
      }
    }
  }

  void Extract(const Planned& e) {
    if (!e.refusal.empty()) return Fault(e, "refused: " + e.refusal);
    if (e.folder) {
      std::string made = MakeFolders(e.target);
      if (!made.empty()) Fault(e, made);
      return;
    }
    const DataItem& item = plan_.items[(size_t)e.item];
    // A stream that several entries share, or that overlaps another, is
    // judged once before anything is written for it.
    const Stream* s = plan_.StreamOf(item);
    if (s && (s->overlaps >= 0 || s->entries > 1)) {
      std::string problem = plan_.Fault(data_, item);
      if (!problem.empty()) return Fault(e, problem + "; not written");
    }
    std::string made = MakeFolders(Parent(e.target));
    if (!made.empty()) return Fault(e, made);
    // Written under a fresh temporary name beside the target and renamed
    // when complete and right: a damaged file leaves nothing behind.
    std::string temp = Parent(e.target) + "/.setrunc-XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) return Fault(e, "cannot create a file in " + Parent(e.target) + ": " + std::strerror(errno));
    fchmod(fd, 0644);
    std::string writeError;
    auto write = [&](const u8* b, size_t n) {
      while (n > 0 && writeError.empty()) {
        ssize_t done = ::write(fd, b, n);
        if (done < 0) writeError = std::strerror(errno);
        else b += done, n -= (size_t)done;
      }
    };
    const bool uninstaller = IsUninstaller(e.entry) && p_.uninstaller;
    const bool withProgram = uninstaller && uninstallerAt_.empty();
    if (withProgram) write(p_.uninstaller->data(), p_.uninstaller->size());
    StreamResult r = InflateEntry(data_, e.entry, write);
    std::string problem = JudgeEntry(r, e.entry);
    if (close(fd) != 0 && writeError.empty()) writeError = std::strerror(errno);
    if (problem.empty() && !writeError.empty()) problem = "cannot write " + e.target + ": " + writeError;
    if (problem.empty() && rename(temp.c_str(), e.target.c_str()) != 0)
      problem = "cannot create " + e.target + ": " + std::strerror(errno);
    if (!problem.empty()) {
      unlink(temp.c_str());
      return Fault(e, problem + (problem.compare(0, 7, "cannot ") == 0 ? "" : "; not written"));
    }
    ++written_;
    if (withProgram) {
      uninstallerAt_ = e.target;
    } else if (uninstaller) {
      out_ << Label(e.group, e.index, e.entry) << ": written without the uninstaller program, which is in "
           << uninstallerAt_ << "\n";
    }
  }
};

int Extract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string folder;
  std::string installer = OnePath(args, &folder, true);
  if (folder.empty()) throw UsageError("no output folder given (-o FOLDER)");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  PackageInfo p = ReadPackage(installer);
  return Extractor(p, folder, out, err).Run();
}

}  // namespace

bool IsReaderCommand(const std::string& command) {
  return command == "inspect" || command == "verify" || command == "extract";
}

int RunReaderCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err) {
  try {
    const char* help = command == "inspect" ? InspectHelp : command == "verify" ? VerifyHelp : ExtractHelp;
    if (IsReaderCommand(command) && WantsHelp(args)) {
      out << help;
      return 0;
    }
    if (command == "inspect") return Inspect(args, out, err);
    if (command == "verify") return Verify(args, out, err);
    if (command == "extract") return Extract(args, out, err);
    err << "setrunc: unknown command '" << command << "'\n";
    return 2;
  } catch (const UsageError& e) {
    err << "setrunc " << command << ": " << e.what() << " (see setrunc " << command << " --help)\n";
    return 2;
  } catch (const BuildError& e) {
    err << "setrunc: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace setrunc
