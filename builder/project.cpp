#include "builder/project.h"

#include <dirent.h>
#include <fnmatch.h>
#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "builder/appearance.h"
#include "builder/codepage.h"
#include "builder/package_writer.h"
#include "builder/texts.h"

namespace setrunc {

namespace {

struct Name {
  const char* name;
  u32 value;
};

const Name LayoutFlagNames[] = {
    {"fullscreen", LayoutFlagFullScreen},   {"gradient", LayoutFlagGradient},
    {"maximised", LayoutFlagMaximised},     {"framed_backdrop", LayoutFlagFramedBackdrop},
    {"stretch", LayoutFlagStretch},         {"tile", LayoutFlagTile},
    {"centre_h", LayoutFlagCentreH},        {"right", LayoutFlagRight},
    {"centre_v", LayoutFlagCentreV},        {"bottom", LayoutFlagBottom},
    {"silent", LayoutFlagSilent},           {"restart_question_when_silent", LayoutFlagRestartQuestionWhenSilent}};
const Name ButtonBarFlagNames[] = {{"etched_line", ButtonBarEtchedLine},
                                   {"keep_visual_styles", ButtonBarKeepVisualStyles}};
const Name GroupFlagNames[] = {
    {"full_space_count", GroupFlagFullSpaceCount}, {"folder_changeable", GroupFlagFolderChangeable},
    {"folder_to_registry", GroupFlagFolderToRegistry}, {"folder_to_ini", GroupFlagFolderToIni},
    {"append_uninstaller", GroupFlagAppendUninstaller}, {"uninstall_entry", GroupFlagUninstallEntry},
    {"launch_button", GroupFlagLaunchButton},      {"run_checkbox", GroupFlagRunCheckBox}};
const Name Group2FlagNames[] = {{"install_behind_scenes", Group2InstallBehindScenes},
                                {"no_finish_page", Group2NoFinishPage},
                                {"title_in_caption", Group2TitleInCaption}};
const Name FileFlagNames[] = {
    {"check_space", FileFlagCheckSpace},       {"compare_version", FileFlagCompareVersion},
    {"compare_language", FileFlagCompareLanguage}, {"times", FileFlagTimes},
    {"only_if_absent", FileFlagOnlyIfAbsent},   {"not_logged", FileFlagNotLogged},
    {"source_folder", FileFlagSourceFolder},   {"folder_entry", FileFlagFolderEntry},
    {"shared", FileFlagShared},                {"screen_saver", FileFlagScreenSaver},
    {"self_register", FileFlagSelfRegister},   {"start_menu_shortcut", FileFlagStartMenuShortcut},
    {"desktop_shortcut", FileFlagDesktopShortcut}, {"document", FileFlagDocument},
    {"wait", FileFlagWait},                    {"defer_run", FileFlagDeferRun}};
const Name WindowsNames[] = {{"95", OsWin95},     {"98", OsWin98},     {"me", OsWinMe},
                             {"nt4", OsWinNT4},   {"2000", OsWin2000}, {"xp", OsWinXP},
                             {"vista", OsWinVista}};
const Name OptionNames[] = {{"read_only", FileOptionReadOnly}, {"ordinary", FileOptionOrdinary}};
const Name DestinationNames[] = {{"install", DestInstallDir}, {"windows", DestWindows},
                                 {"system", DestSystem},      {"fonts", DestFonts},
                                 {"desktop", DestDesktop},    {"custom", DestCustom},
                                 {"documents", DestDocuments}, {"appdata", DestAppData}};
const Name PageNames[] = {{"welcome", PageWelcome},     {"information", PageInformation},
                          {"licence", PageLicence},     {"license", PageLicence},
                          {"folder", PageInstallFolder}, {"ready", PageReady},
                          {"installing", PageInstalling}, {"finish", PageFinish}};
const Name WindowStateNames[] = {{"normal", 0}, {"minimised", 1}, {"maximised", 2}};
const Name RootNames[] = {{"HKCR", 0}, {"HKEY_CLASSES_ROOT", 0}, {"HKCU", 1},
                          {"HKEY_CURRENT_USER", 1}, {"HKLM", 2}, {"HKEY_LOCAL_MACHINE", 2},
                          {"HKU", 3}, {"HKEY_USERS", 3}};

template <size_t N>
std::string NameList(const Name (&names)[N]) {
  std::string s;
  for (const Name& n : names) s += (s.empty() ? "" : ", ") + std::string(n.name);
  return s;
}

// Edit and static controls break lines at CR LF only.
std::string WindowsLineEnds(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

bool IsDirectory(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The first `n` bytes of a file (fewer when it is shorter or unreadable).
Bytes ReadHead(const std::string& path, size_t n) {
  Bytes head(n);
  std::ifstream in(path, std::ios::binary);
  in.read((char*)head.data(), (std::streamsize)n);
  head.resize(in ? n : (size_t)std::max<std::streamsize>(in.gcount(), 0));
  return head;
}

std::string ToLower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

// A name without "." folders: "." and "./" are the destination folder
// itself, "sub/." is "sub" (after "/" became "\\").
std::string WithoutDotFolders(const std::string& name) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\') {
      part += name[i];
      continue;
    }
    if (part != ".") parts.push_back(part);
    part.clear();
  }
  if (parts.size() == 1 && parts[0].empty()) return "";
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

// A name as Windows compares it: each folder and file name without its
// trailing dots and spaces (Windows drops them), letters in upper case.
std::string WindowsNameKey(const std::string& name) {
  std::string out, part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\') {
      part += name[i];
      continue;
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    out += Cp1252Upper(part) + (i < name.size() ? "\\" : "");
    part.clear();
  }
  return out;
}

// Whether Windows takes the file or folder name `part` for a device:
// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 (the superscript digits
// 1, 2 and 3 count too), in any case, with any extension.
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = Cp1252Upper(base);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  unsigned char digit = (unsigned char)base[3];
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

class Loader {
 public:
  Loader(std::string name, std::string baseDir, const Defines& defines)
      : name_(std::move(name)), baseDir_(std::move(baseDir)), defines_(defines) {}

  LoadedProject Load(const toml::table& root);

 private:
  std::string name_, baseDir_;
  Defines defines_;
  bool convert_ = true;  // UTF-8 to code page 1252
  std::map<std::string, std::string> projectTexts_;  // project-wide overrides
  ProductNames product_;

  ProjectContext Context() {
    ProjectContext c;
    c.name = name_;
    c.baseDir = baseDir_;
    c.defines = defines_;
    c.convert = convert_;
    c.warnings = &warnings_;
    return c;
  }
 public:
  std::vector<std::string> warnings_;

 private:
  std::vector<std::pair<std::string, const toml::node*>> projectTextNodes_;

  // "project.toml:12:1": where `node` is, for messages.
  std::string Where(const toml::node* node) const {
    std::ostringstream s;
    s << name_;
    if (node && node->source().begin.line) s << ":" << node->source().begin.line << ":" << node->source().begin.column;
    return s.str();
  }

  [[noreturn]] void Fail(const toml::node* node, const std::string& key, const std::string& msg) {
    throw BuildError(Where(node) + ": " + key + ": " + msg);
  }

  // Where each entry of the group being read got its name, for the
  // message about two entries with the same target.
  struct Naming {
    std::string key;
    const toml::node* node;
  };
  std::vector<Naming> namings_;

  void AddEntry(Group* group, const FileEntry& e, const toml::node* nameNode, const std::string& nameKey) {
    group->files.push_back(e);
    namings_.push_back({nameKey, nameNode});
  }

  static std::string Sub(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  void CheckKeys(const toml::table& t, const std::string& path,
                 const std::vector<const char*>& allowed) {
    for (auto&& [k, v] : t) {
      bool ok = false;
      for (const char* a : allowed)
        if (k.str() == a) ok = true;
      if (!ok) {
        std::string list;
        for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
        std::ostringstream s;
        s << name_ << ":" << k.source().begin.line << ":" << k.source().begin.column << ": "
          << Sub(path, std::string(k.str())) << ": unknown key (known here: " << list << ")";
        throw BuildError(s.str());
      }
    }
  }

  std::optional<std::string> RawString(const toml::table& t, const char* key,
                                       const std::string& path) {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_string()) Fail(n, Sub(path, key), "must be a string");
    return n->as_string()->get();
  }

  // A text for the setup program: converted to the target code page.
  std::string Ansi(const std::string& utf8, const toml::node* n, const std::string& key) {
    if (utf8.find('\0') != std::string::npos) Fail(n, key, "must not contain a NUL character");
    if (!convert_) return utf8;
    std::string out, bad;
    if (!Utf8ToCp1252(utf8, &out, &bad))
      Fail(n, key, "contains " + bad + ", which code page 1252 cannot hold");
    return out;
  }

  std::optional<std::string> Text(const toml::table& t, const char* key, const std::string& path) {
    auto s = RawString(t, key, path);
    if (!s) return s;
    return Ansi(*s, t.get(key), Sub(path, key));
  }

  std::optional<int64_t> Int(const toml::table& t, const char* key, const std::string& path,
                             int64_t lo, int64_t hi) {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_integer()) Fail(n, Sub(path, key), "must be an integer");
    int64_t v = n->as_integer()->get();
    if (v < lo || v > hi)
      Fail(n, Sub(path, key), "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
    return v;
  }

  std::optional<bool> Bool(const toml::table& t, const char* key, const std::string& path) {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_boolean()) Fail(n, Sub(path, key), "must be true or false");
    return n->as_boolean()->get();
  }

  template <size_t N>
  u32 Named(const toml::node* n, const std::string& key, const Name (&names)[N], const char* what) {
    if (n->is_integer()) {
      int64_t v = n->as_integer()->get();
      if (v < 0 || v > 0xFFFFFFFFll) Fail(n, key, "must lie between 0 and 0xFFFFFFFF");
      return (u32)v;
    }
    if (!n->is_string()) Fail(n, key, std::string("must be a ") + what + " name or a number");
    std::string s = n->as_string()->get();
    for (const Name& name : names)
      if (ToLower(s) == ToLower(name.name)) return name.value;
    Fail(n, key, "unknown " + std::string(what) + " '" + s + "' (known: " + NameList(names) + ")");
  }

  // A flag word: a number, or a list of flag names (and numbers) to combine.
  template <size_t N>
  std::optional<u32> Flags(const toml::table& t, const char* key, const std::string& path,
                           const Name (&names)[N], bool* asNumber = nullptr) {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    std::string k = Sub(path, key);
    if (asNumber) *asNumber = n->is_integer();
    if (n->is_integer()) return Named(n, k, names, "flag");
    if (!n->is_array()) Fail(n, k, "must be a number or a list of flag names");
    u32 v = 0;
    const toml::array& a = *n->as_array();
    for (size_t i = 0; i < a.size(); ++i)
      v |= Named(a.get(i), k + "[" + std::to_string(i) + "]", names, "flag");
    return v;
  }

  // A COLORREF: a number, "#RRGGBB" or "system".
  std::optional<u32> Colour(const toml::table& t, const char* key, const std::string& path) {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    std::string k = Sub(path, key);
    if (n->is_integer()) {
      int64_t v = n->as_integer()->get();
      if (v < 0 || v > 0xFFFFFFFFll) Fail(n, k, "must lie between 0 and 0xFFFFFFFF");
      return (u32)v;
    }
    if (n->is_string()) {
      std::string s = n->as_string()->get();
      if (ToLower(s) == "system") return SystemColour;
      if (s.size() == 7 && s[0] == '#' &&
          std::all_of(s.begin() + 1, s.end(), [](char c) { return std::isxdigit((unsigned char)c); })) {
        u32 rgb = (u32)std::stoul(s.substr(1), nullptr, 16);
        return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
      }
    }
    Fail(n, k, "must be a colour: \"#RRGGBB\", \"system\" or a COLORREF number");
  }

  // ${NAME} in a source path.
  std::string Expand(const std::string& s, const toml::node* n, const std::string& key) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
      if (s.compare(i, 2, "${") == 0) {
        size_t end = s.find('}', i + 2);
        if (end == std::string::npos) Fail(n, key, "'${' without '}'");
        std::string var = s.substr(i + 2, end - i - 2);
        auto it = defines_.find(var);
        if (it == defines_.end())
          Fail(n, key, "${" + var + "} is not defined (pass -D " + var + "=VALUE or set it in [defines])");
        out += it->second;
        i = end + 1;
      } else {
        out += s[i++];
      }
    }
    return out;
  }

  std::string Resolve(const std::string& p) {
    if (p.empty() || p[0] == '/' || baseDir_.empty()) return p;
    return baseDir_ + "/" + p;
  }

  // A source path from the project: expanded and resolved.
  std::optional<std::string> SourcePath(const toml::table& t, const char* key,
                                        const std::string& path) {
    auto s = RawString(t, key, path);
    if (!s) return s;
    std::string p = Expand(*s, t.get(key), Sub(path, key));
    if (p.empty()) Fail(t.get(key), Sub(path, key), "must not be empty");
    return Resolve(p);
  }

  // A source file checked before anything reads it (a regular file of less
  // than 4 GiB).
  void CheckSource(const std::string& file, const toml::node* n, const std::string& key) {
    try {
      CheckSourceFile(file);
    } catch (const BuildError& e) {
      Fail(n, key, e.what());
    }
  }

  Bytes ReadSource(const std::string& file, const toml::node* n, const std::string& key) {
    try {
      return ReadWholeFile(file);
    } catch (const BuildError& e) {
      Fail(n, key, e.what());
    }
  }

  Bytes Hex(const toml::node* n, const std::string& key) {
    if (!n->is_string()) Fail(n, key, "must be a string of hexadecimal digits");
    std::string s;
    for (char c : n->as_string()->get())
      if (!std::isspace((unsigned char)c)) s += c;
    if (s.size() % 2 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit((unsigned char)c); }))
      Fail(n, key, "must be pairs of hexadecimal digits");
    Bytes out;
    for (size_t i = 0; i < s.size(); i += 2) out.push_back((u8)std::stoul(s.substr(i, 2), nullptr, 16));
    return out;
  }

  // Raw bytes given as a file path (`key`) or as hexadecimal digits (`key_hex`).
  std::optional<Bytes> RawBytes(const toml::table& t, const char* key, const std::string& path) {
    std::string hexKey = std::string(key) + "_hex";
    const toml::node* hex = t.get(hexKey);
    auto file = SourcePath(t, key, path);
    if (file && hex) Fail(hex, Sub(path, hexKey), "give either '" + std::string(key) + "' or '" + hexKey + "'");
    if (file) return ReadSource(*file, t.get(key), Sub(path, key));
    if (hex) return Hex(hex, Sub(path, hexKey));
    return std::nullopt;
  }

  void ReadTexts(const toml::node* n, const std::string& path, std::map<std::string, std::string>* out) {
    if (!n->is_table()) Fail(n, path, "must be a table of \"g/n\" = \"text\"");
    for (auto&& [k, v] : *n->as_table()) {
      std::string key(k.str());
      std::string full = path + ".\"" + key + "\"";
      unsigned g, num;
      if (!ParseTextKey(key, &g, &num)) {
        std::ostringstream s;
        s << name_ << ":" << k.source().begin.line << ":" << k.source().begin.column << ": " << full
          << ": a text key is \"group/number\", group 0 to 9, number 0 to " << MaxTextNumber;
        throw BuildError(s.str());
      }
      std::string text;
      if (v.is_string()) {
        text = v.as_string()->get();
      } else if (v.is_table()) {
        CheckKeys(*v.as_table(), full, {"file"});
        auto file = SourcePath(*v.as_table(), "file", full);
        if (!file) Fail(&v, full, "a text table needs 'file'");
        Bytes b = ReadSource(*file, v.as_table()->get("file"), full + ".file");
        text.assign(b.begin(), b.end());
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
      } else {
        Fail(&v, full, "must be a string or { file = \"path\" }");
      }
      text = WindowsLineEnds(Ansi(text, &v, full));
      std::string fault = CheckTextFormat(g, num, text);
      if (!fault.empty()) Fail(&v, full, fault);
      (*out)[std::to_string(g) + "/" + std::to_string(num)] = text;
    }
  }

  static void ApplyTexts(const std::map<std::string, std::string>& texts, TextGroups* groups) {
    for (const auto& [key, text] : texts) {
      unsigned g, n;
      ParseTextKey(key, &g, &n);
      auto& list = (*groups)[g];
      if (list.size() <= n) list.resize(n + 1);
      list[n] = text;
    }
  }

  Layout ReadLayout(const toml::table& t);
  u32 ReadRunSettings(const toml::table& t, const std::string& path, u32 flags, FileEntry* entry);
  u32 ReadScreenSaver(const toml::table& t, const std::string& path, u32 flags);
  void FinishRunEntries(Group* group);
  Group ReadGroup(const toml::table& t, const std::string& path, const std::string& title);
  void ReadFiles(const toml::table& t, const std::string& path, Group* group, size_t groupIndex);
  void CheckName(const std::string& name, const toml::node* n, const std::string& key, bool folder);

  // The product's name in this group: the default folder of shortcuts.
  std::string productName_;
  // The short settings of a file table for shortcuts, fonts and the
  // registration of components ('shortcut', 'desktop_shortcut', 'font',
  // 'register'), applied to the entries from `first` on that the table made.
  void ReadIntegration(const toml::table& t, const std::string& path, Group* group, size_t first);
  struct ShortcutSettings {
    bool wanted = false;
    std::string folder, name, args, icon;
    bool hasFolder = false, hasName = false, hasArgs = false, hasIcon = false;
    u32 iconIndex = 0, window = 0;
  };
  ShortcutSettings ReadShortcut(const toml::table& t, const char* key, const std::string& path,
                                bool startMenu);
  void ApplyShortcut(const ShortcutSettings& s, FileEntry* e, bool startMenu);
};

// When a run entry starts: "install" (the end of the file phase), "finish_page"
// (the finish page opens), "after_setup" (the wizard has closed), "launch"
// (after the wizard when the finish page's check box is ticked; documents
// from the finish page's button), "none", or a phase number 0 to 7.
const Name RunPhaseNames[] = {{"none", 0},        {"install", 1}, {"finish_page", 2},
                              {"after_setup", 3}, {"launch", 4}};
// File name extensions that start as programs; a run entry of any other file
// opens as a document unless the project says otherwise.
const char* const ProgramExtensions[] = {".exe", ".com", ".bat", ".cmd", ".msi", ".scr", ".pif"};

bool StartsAsProgram(const std::string& name) {
  std::string base = ToLower(name.substr(name.find_last_of('\\') + 1));
  for (const char* extension : ProgramExtensions) {
    size_t n = std::strlen(extension);
    if (base.size() > n && base.compare(base.size() - n, n, extension) == 0) return true;
  }
  return false;
}

// `run`: a phase (name or number), or a table { when, args, wait, open,
// wait_for_restart }. Returns the flags with the run phase and the bits the
// table sets; the arguments go to string 8 of `entry`.
u32 Loader::ReadRunSettings(const toml::table& t, const std::string& path, u32 flags,
                            FileEntry* entry) {
  const toml::node* n = t.get("run");
  if (!n) return flags;
  const std::string key = Sub(path, "run");
  if (flags & FileFlagFolderEntry) Fail(n, key, "a folder entry has nothing to run");
  auto phaseOf = [&](const toml::node* value, const std::string& k) {
    u32 phase = Named(value, k, RunPhaseNames, "run phase");
    if (phase > 7) Fail(value, k, "a run phase is 0 to 7");
    return phase;
  };
  if (!n->is_table()) {
    u32 phase = phaseOf(n, key);
    flags = (flags & ~FileFlagRunPhaseMask) | (phase << FileFlagRunPhaseShift);
    // A named phase takes the kind from the file name (unless the flags say
    // "document"); a number is stored as it stands, with the flags given.
    entry->runKindFromName = n->is_string() && phase != 0 && !(flags & FileFlagDocument);
    return flags;
  }
  const toml::table& r = *n->as_table();
  CheckKeys(r, key, {"when", "args", "wait", "open", "wait_for_restart"});
  u32 phase = 4;  // after the installation, like a program the user starts
  if (const toml::node* when = r.get("when")) phase = phaseOf(when, key + ".when");
  flags = (flags & ~FileFlagRunPhaseMask) | (phase << FileFlagRunPhaseShift);
  if (auto args = Text(r, "args", key)) {
    if (t.get("run_args")) Fail(r.get("args"), key + ".args", "give either 'run.args' or 'run_args'");
    entry->strings[8] = *args;
  }
  if (auto wait = Bool(r, "wait", key)) flags = *wait ? flags | FileFlagWait : flags & ~FileFlagWait;
  if (auto defer = Bool(r, "wait_for_restart", key))
    flags = *defer ? flags | FileFlagDeferRun : flags & ~FileFlagDeferRun;
  static const Name OpenNames[] = {{"auto", 0}, {"program", 1}, {"document", 2}};
  u32 open = 0;
  if (const toml::node* o = r.get("open")) open = Named(o, key + ".open", OpenNames, "way of opening");
  if (open == 1) flags &= ~FileFlagDocument;
  if (open == 2) flags |= FileFlagDocument;
  entry->runKindFromName = phase != 0 && open == 0 && !(flags & FileFlagDocument);
  return flags;
}

// `screen_saver = true`: the file is installed as the screen saver after the
// wizard (the last such file of the group counts).
u32 Loader::ReadScreenSaver(const toml::table& t, const std::string& path, u32 flags) {
  auto v = Bool(t, "screen_saver", path);
  if (!v) return flags;
  return *v ? flags | FileFlagScreenSaver : flags & ~FileFlagScreenSaver;
}

// The document flag of run entries that follow their file names, and the
// warnings about run and screen-saver settings without effect.
void Loader::FinishRunEntries(Group* group) {
  auto warn = [this](const FileEntry& e, const std::string& text) {
    warnings_.push_back(Describe(e) + ": " + text);
  };
  const FileEntry* lastSaver = nullptr;
  size_t savers = 0;
  for (FileEntry& e : group->files) {
    if (e.runKindFromName && !StartsAsProgram(e.strings[0])) e.flags |= FileFlagDocument;
    const u32 phase = (e.flags & FileFlagRunPhaseMask) >> FileFlagRunPhaseShift;
    const bool document = e.flags & FileFlagDocument;
    if (phase == 0) {
      if (!e.strings[8].empty()) warn(e, "run arguments without 'run' have no effect");
    } else {
      if (document && !e.strings[8].empty())
        warn(e, "'" + e.strings[0] + "' opens as a document: its run arguments are not passed");
      if (document && (e.flags & FileFlagWait))
        warn(e, "'" + e.strings[0] + "' opens as a document: the setup program does not wait for it");
      if (phase >= 3 && (e.flags & FileFlagDeferRun))
        warn(e, "run phase " + std::to_string(phase) +
                    " always waits for a pending restart: 'wait_for_restart' has no effect");
      if (phase >= 5) warn(e, "run phase " + std::to_string(phase) + " is never started");
    }
    if (e.flags & FileFlagScreenSaver) {
      ++savers;
      lastSaver = &e;
      if (ToLower(e.strings[0]).size() < 4 ||
          ToLower(e.strings[0]).compare(e.strings[0].size() - 4, 4, ".scr") != 0)
        warn(e, "the screen saver '" + e.strings[0] + "' does not end in .scr");
    }
  }
  if (savers > 1)
    warn(*lastSaver, "the group has " + std::to_string(savers) +
                         " screen savers: only the last one, '" + lastSaver->strings[0] +
                         "', is installed");
}

Layout Loader::ReadLayout(const toml::table& t) {
  const std::string p = "layout";
  std::vector<const char*> keys = {"flags", "colour_a", "colour_b", "frame_width", "frame_height",
                                   "button_bar_flags", "button_bar_colour", "button_bar_height", "font"};
  keys.insert(keys.end(), AppearanceLayoutKeys.begin(), AppearanceLayoutKeys.end());
  CheckKeys(t, p, keys);
  Layout l;
  SetStandardHeader(&l);
  if (auto v = Flags(t, "flags", p, LayoutFlagNames)) l.flags = *v;
  if (auto v = Colour(t, "colour_a", p)) l.colourA = *v;
  if (auto v = Colour(t, "colour_b", p)) l.colourB = *v;
  if (auto v = Int(t, "frame_width", p, 1, 10000)) l.frameWidth = (i32)*v;
  if (auto v = Int(t, "frame_height", p, 1, 10000)) l.frameHeight = (i32)*v;
  if (auto v = Flags(t, "button_bar_flags", p, ButtonBarFlagNames)) l.buttonBarFlags = *v;
  if (auto v = Colour(t, "button_bar_colour", p)) l.buttonBarColour = *v;
  if (auto v = Int(t, "button_bar_height", p, 0, 10000)) l.buttonBarHeight = (i32)*v;
  if (const toml::node* n = t.get("font")) {
    const std::string fp = "layout.font";
    if (!n->is_table()) Fail(n, fp, "must be a table");
    const toml::table& f = *n->as_table();
    CheckKeys(f, fp, {"face", "height", "width", "escapement", "orientation", "weight", "italic",
                      "underline", "strikeout", "charset", "out_precision", "clip_precision",
                      "quality", "pitch_and_family"});
    if (auto v = Text(f, "face", fp)) {
      if (v->size() > 31) Fail(f.get("face"), fp + ".face", "a font name has at most 31 bytes");
      l.font.faceName = *v;
    }
    const int64_t lo = INT32_MIN, hi = INT32_MAX;
    if (auto v = Int(f, "height", fp, lo, hi)) l.font.height = (i32)*v;
    if (auto v = Int(f, "width", fp, lo, hi)) l.font.width = (i32)*v;
    if (auto v = Int(f, "escapement", fp, lo, hi)) l.font.escapement = (i32)*v;
    if (auto v = Int(f, "orientation", fp, lo, hi)) l.font.orientation = (i32)*v;
    if (auto v = Int(f, "weight", fp, 0, 1000)) l.font.weight = (i32)*v;
    if (auto v = Bool(f, "italic", fp)) l.font.italic = *v;
    if (auto v = Bool(f, "underline", fp)) l.font.underline = *v;
    if (auto v = Bool(f, "strikeout", fp)) l.font.strikeOut = *v;
    if (auto v = Int(f, "charset", fp, 0, 255)) l.font.charSet = (u8)*v;
    if (auto v = Int(f, "out_precision", fp, 0, 255)) l.font.outPrecision = (u8)*v;
    if (auto v = Int(f, "clip_precision", fp, 0, 255)) l.font.clipPrecision = (u8)*v;
    if (auto v = Int(f, "quality", fp, 0, 255)) l.font.quality = (u8)*v;
    if (auto v = Int(f, "pitch_and_family", fp, 0, 255)) l.font.pitchAndFamily = (u8)*v;
  }
  return l;
}

// A name relative to a destination folder: no drive, no leading backslash, no
// "..", only characters Windows allows in file names.
void Loader::CheckName(const std::string& name, const toml::node* n, const std::string& key,
                       bool folder) {
  if (name.empty()) Fail(n, key, "the file name is empty");
  if (name.size() >= 260) Fail(n, key, "the file name is longer than 259 characters");
  if (name[0] == '\\' || (name.size() > 1 && name[1] == ':'))
    Fail(n, key, "'" + name + "' must be relative to its destination folder");
  std::string part;
  std::stringstream parts(name);
  size_t count = 0, total = (size_t)std::count(name.begin(), name.end(), '\\') + 1;
  while (std::getline(parts, part, '\\')) {
    ++count;
    if (part.empty() && !(folder && count == total)) Fail(n, key, "'" + name + "' has an empty folder name");
    if (part == "..") Fail(n, key, "'" + name + "' leaves its destination folder");
    for (unsigned char c : part)
      if (c < 32 || std::strchr("<>:\"|?*", c))
        Fail(n, key, "'" + name + "' has a character Windows does not allow in file names");
    if (IsDeviceName(part))
      Fail(n, key, "'" + name + "': Windows takes '" + part + "' for a device, not a file or folder name");
  }
}

void Loader::ReadFiles(const toml::table& t, const std::string& path, Group* group,
                       size_t groupIndex) {
  CheckKeys(t, path,
            {"source", "name", "destination", "custom_folder", "flags", "windows", "run", "options",
             "start_menu_window", "desktop_window", "register_method", "icon_index",
             "start_menu_folder", "start_menu_name", "start_menu_args", "start_menu_icon",
             "desktop_name", "desktop_args", "desktop_icon", "run_args", "version", "language",
             "times", "recursive", "exclude", "state", "reserved", "screen_saver",
             "shortcut", "desktop_shortcut", "font", "register"});
  FileEntry base;
  base.origin = path;
  bool flagsAsNumber = false;
  u32 flags = 0;
  if (auto v = Flags(t, "flags", path, FileFlagNames, &flagsAsNumber)) flags = *v;
  if (!flagsAsNumber) {
    u32 windows = FileFlagWindowsMask;
    if (auto v = Flags(t, "windows", path, WindowsNames)) windows = *v;
    flags |= windows;
    flags = ReadRunSettings(t, path, flags, &base);
  } else if (t.get("windows") || t.get("run")) {
    Fail(t.get("flags"), Sub(path, "flags"), "a numeric flag word already holds 'windows' and 'run'");
  }
  u32 options = FileOptionOrdinary;
  if (auto v = Flags(t, "options", path, OptionNames)) options = *v;
  if (auto v = t.get("start_menu_window"))
    options = (options & ~FileOptionStartMenuWindowMask) | Named(v, Sub(path, "start_menu_window"), WindowStateNames, "window state");
  if (auto v = t.get("desktop_window"))
    options = (options & ~(FileOptionStartMenuWindowMask << FileOptionDesktopWindowShift)) |
              (Named(v, Sub(path, "desktop_window"), WindowStateNames, "window state") << FileOptionDesktopWindowShift);
  if (auto v = Int(t, "register_method", path, 0, 3))
    options = (options & ~FileOptionRegisterMask) | ((u32)*v << FileOptionRegisterShift);
  base.options = options;
  flags = ReadScreenSaver(t, path, flags);
  if (auto v = Int(t, "icon_index", path, 0, 0xFFFF)) base.iconIndex = (u16)*v;
  if (auto v = Int(t, "state", path, 0, 0xFFFF)) base.state = (u16)*v;
  if (auto v = Int(t, "reserved", path, 0, 0xFFFFFFFFll)) base.reserved = (u32)*v;
  static const char* stringKeys[] = {nullptr, "start_menu_folder", "start_menu_name",
                                     "start_menu_args", "start_menu_icon", "desktop_name",
                                     "desktop_args", "desktop_icon", "run_args", "custom_folder"};
  for (u32 i = 1; i < 10; ++i)
    if (auto v = Text(t, stringKeys[i], path)) base.strings[i] = *v;
  if (base.strings[EntryCustomFolderString].size() >= 260)
    Fail(t.get("custom_folder"), Sub(path, "custom_folder"), "a folder has at most 259 characters");
  if (!flagsAsNumber) {
    if (!base.strings[2].empty()) flags |= FileFlagStartMenuShortcut;
    if (!base.strings[5].empty()) flags |= FileFlagDesktopShortcut;
  }
  base.destination = t.get("custom_folder") ? DestCustom : DestInstallDir;
  if (auto v = t.get("destination")) base.destination = Named(v, Sub(path, "destination"), DestinationNames, "destination");
  if (base.destination == DestCustom && base.strings[EntryCustomFolderString].empty())
    Fail(t.get("destination"), Sub(path, "destination"), "the custom destination needs 'custom_folder'");

  // Version block.
  std::optional<std::string> version = RawString(t, "version", path);
  if (auto v = Int(t, "language", path, 0, 0xFFFFFFFFll)) {
    base.language = (u32)*v;
    if (!flagsAsNumber) flags |= FileFlagCompareLanguage;
  }
  bool versionFromFile = false;
  if (version) {
    if (!flagsAsNumber) flags |= FileFlagCompareVersion;
    if (*version == "file") {
      versionFromFile = true;
    } else {
      unsigned a, b, c, d;
      char extra;
      if (std::sscanf(version->c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 0xFFFF ||
          b > 0xFFFF || c > 0xFFFF || d > 0xFFFF)
        Fail(t.get("version"), Sub(path, "version"), "must be \"a.b.c.d\" (each 0 to 65535) or \"file\"");
      base.versionMs = (a << 16) | b;
      base.versionLs = (c << 16) | d;
    }
  }
  bool times = false;
  if (const toml::node* n = t.get("times")) {
    if (n->is_boolean()) {
      times = n->as_boolean()->get();
    } else if (n->is_date_time()) {
      const toml::date_time dt = n->as_date_time()->get();
      // Days from the civil date (proleptic Gregorian), then FILETIME.
      int y = dt.date.year, m = dt.date.month, d = dt.date.day;
      y -= m <= 2;
      int era = (y >= 0 ? y : y - 399) / 400;
      unsigned yoe = (unsigned)(y - era * 400);
      unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
      unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
      int64_t days = (int64_t)era * 146097 + doe - 719468;
      int64_t secs = days * 86400 + dt.time.hour * 3600 + dt.time.minute * 60 + dt.time.second;
      if (dt.offset) secs -= dt.offset->minutes * 60;
      uint64_t ft = (uint64_t)(secs + 11644473600ll) * 10000000ull + dt.time.nanosecond / 100;
      base.times = {ft, ft, ft};
      flags |= FileFlagTimes;
    } else {
      Fail(n, Sub(path, "times"), "must be true (the times of the source file) or a date-time");
    }
  }
  if (times) flags |= FileFlagTimes;
  base.flags = flags;

  // The files the entry stands for.
  std::optional<std::string> name = Text(t, "name", path);
  if (name) {
    std::replace(name->begin(), name->end(), '/', '\\');
    *name = WithoutDotFolders(*name);
  }
  std::optional<std::string> source = SourcePath(t, "source", path);
  const toml::node* sourceNode = t.get("source");
  const bool folderEntry = flags & FileFlagFolderEntry;
  if (!source) {
    if (!(flags & (FileFlagFolderEntry | FileFlagSourceFolder)))
      Fail(&t, path, "needs 'source' (only folder and source-folder entries go without)");
    if (!name) Fail(&t, path, "needs 'name'");
    FileEntry e = base;
    if (folderEntry && !name->empty() && name->back() != '\\') *name += '\\';
    CheckName(*name, t.get("name"), Sub(path, "name"), folderEntry);
    e.strings[0] = *name;
    e.origin = Sub(path, "name");
    e.location = Where(t.get("name"));
    if (versionFromFile) Fail(t.get("version"), Sub(path, "version"), "\"file\" needs a source");
    if (times && !base.times[0]) Fail(t.get("times"), Sub(path, "times"), "true needs a source");
    AddEntry(group, e, t.get("name"), Sub(path, "name"));
    return;
  }
  if (folderEntry) Fail(sourceNode, Sub(path, "source"), "a folder entry has no source");

  struct Found {
    std::string path, relative;
  };
  std::vector<Found> found;
  std::vector<std::string> excludes;
  if (const toml::node* n = t.get("exclude")) {
    if (!n->is_array()) Fail(n, Sub(path, "exclude"), "must be a list of patterns");
    for (auto&& p : *n->as_array()) {
      if (!p.is_string()) Fail(&p, Sub(path, "exclude"), "must be a list of patterns");
      excludes.push_back(p.as_string()->get());
    }
  }
  bool recursive = Bool(t, "recursive", path).value_or(true);
  auto excluded = [&](const std::string& relative) {
    std::string base = relative.substr(relative.find_last_of('/') + 1);
    for (const std::string& x : excludes)
      if (fnmatch(x.c_str(), relative.c_str(), FNM_PATHNAME) == 0 || fnmatch(x.c_str(), base.c_str(), 0) == 0)
        return true;
    return false;
  };
  // Walks a folder in name order, so that the package does not depend on the
  // order in which the file system lists it.
  std::set<std::pair<dev_t, ino_t>> visited;  // a folder linked into itself is walked once
  std::function<void(const std::string&, const std::string&)> walk = [&](const std::string& dir,
                                                                         const std::string& rel) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) return;
    DIR* d = opendir(dir.c_str());
    if (!d) Fail(sourceNode, Sub(path, "source"), "cannot read the folder " + dir);
    std::vector<std::string> names;
    while (dirent* ent = readdir(d))
      if (std::strcmp(ent->d_name, ".") && std::strcmp(ent->d_name, "..")) names.push_back(ent->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      std::string full = dir + "/" + n, r = rel.empty() ? n : rel + "/" + n;
      if (excluded(r)) continue;
      if (IsDirectory(full)) {
        if (recursive) walk(full, r);
      } else {
        found.push_back({full, r});
      }
    }
  };
  bool many = false;
  if (HasWildcard(*source)) {
    many = true;
    // Names are kept relative to the folder in front of the first wildcard.
    size_t wild = source->find_first_of("*?[");
    size_t cut = source->rfind('/', wild);
    std::string fixed = cut == std::string::npos ? "" : source->substr(0, cut + 1);
    glob_t g;
    int r = glob(source->c_str(), 0, nullptr, &g);
    if (r != 0 && r != GLOB_NOMATCH) Fail(sourceNode, Sub(path, "source"), "cannot search " + *source);
    std::vector<std::string> matches(g.gl_pathv, g.gl_pathv + g.gl_pathc);
    globfree(&g);
    for (const std::string& m : matches) {
      std::string rel = m.substr(fixed.size());
      if (excluded(rel)) continue;
      if (IsDirectory(m)) walk(m, rel);
      else found.push_back({m, rel});
    }
    if (found.empty()) Fail(sourceNode, Sub(path, "source"), "no file matches " + *source);
  } else if (IsDirectory(*source)) {
    many = true;
    walk(*source, "");
    if (found.empty()) Fail(sourceNode, Sub(path, "source"), "the folder " + *source + " holds no file");
  } else {
    found.push_back({*source, source->substr(source->find_last_of('/') + 1)});
  }

  const std::string sourceKey = Sub(path, "source");
  for (const Found& f : found) {
    CheckSource(f.path, sourceNode, sourceKey);
    FileEntry e = base;
    e.origin = sourceKey;
    e.location = Where(sourceNode);
    std::string target;
    if (many) {
      std::string rel = f.relative;
      std::replace(rel.begin(), rel.end(), '/', '\\');
      std::string prefix = name.value_or("");
      if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
      target = prefix + Ansi(rel, sourceNode, sourceKey);
    } else {
      target = name ? *name : Ansi(f.relative, sourceNode, sourceKey);
    }
    CheckName(target, name ? t.get("name") : sourceNode, name ? Sub(path, "name") : sourceKey, false);
    e.strings[0] = target;
    bool hasVersion = true;
    try {
      if (flags & FileFlagSourceFolder) {
        // Not packed: it lies beside the setup program. Its size still counts.
        u32 sum = 0;
        uint64_t size = 0;
        ReadInPieces(f.path, [&](const u8* p, size_t n) {
          sum = RotateAddSum(sum, p, n);
          size += n;
          return true;
        });
        e.sizeWithoutData = (u32)size;
        e.checksumWithoutData = sum;
      } else {
        e.data.kind = FileData::Path;
        e.data.path = f.path;
      }
      if (versionFromFile) hasVersion = FindFileVersionInFile(f.path, &e.versionMs, &e.versionLs);
    } catch (const BuildError& error) {
      Fail(sourceNode, sourceKey, error.what());
    }
    if (!hasVersion) Fail(t.get("version"), Sub(path, "version"), f.path + " has no version resource");
    if (times) {
      struct stat st;
      if (stat(f.path.c_str(), &st) != 0) Fail(sourceNode, Sub(path, "source"), "file not found: " + f.path);
      uint64_t ft = (uint64_t)((int64_t)st.st_mtim.tv_sec + 11644473600ll) * 10000000ull +
                    (uint64_t)st.st_mtim.tv_nsec / 100;
      e.times = {ft, ft, ft};
    }
    // A file of a folder or pattern is named by its source.
    if (name && !many) AddEntry(group, e, t.get("name"), Sub(path, "name"));
    else AddEntry(group, e, sourceNode, sourceKey);
  }
  (void)groupIndex;
}

// 'shortcut' (start menu) or 'desktop_shortcut': true for the defaults, or
// a table of the settings to change.
Loader::ShortcutSettings Loader::ReadShortcut(const toml::table& t, const char* key,
                                              const std::string& path, bool startMenu) {
  ShortcutSettings s;
  const toml::node* n = t.get(key);
  if (!n) return s;
  const std::string k = Sub(path, key);
  if (n->is_boolean()) {
    s.wanted = n->as_boolean()->get();
    return s;
  }
  if (!n->is_table()) Fail(n, k, "must be true or a table of shortcut settings");
  const toml::table& st = *n->as_table();
  if (startMenu) CheckKeys(st, k, {"folder", "name", "args", "icon", "icon_index", "window"});
  else CheckKeys(st, k, {"name", "args", "icon", "window"});
  s.wanted = true;
  if (const toml::node* f = st.get("folder")) {
    // One folder, or several: the shortcut goes into each.
    std::vector<const toml::node*> folders;
    if (f->is_array()) {
      for (auto&& item : *f->as_array()) folders.push_back(&item);
      if (folders.empty()) Fail(f, k + ".folder", "names no folder");
    } else {
      folders.push_back(f);
    }
    // The Programs folder itself (an empty name) goes first: the setup
    // program passes over an empty part at the end of the list.
    bool programs = false;
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::string fk = k + ".folder" + (f->is_array() ? "[" + std::to_string(i) + "]" : "");
      if (!folders[i]->is_string()) Fail(folders[i], fk, "must be a folder name (or a list of them)");
      std::string folder = Ansi(folders[i]->as_string()->get(), folders[i], fk);
      std::replace(folder.begin(), folder.end(), '/', '\\');
      if (folder.find(';') != std::string::npos)
        Fail(folders[i], fk, "a folder name must not contain ';' (give a list for several folders)");
      if (folder.size() >= 260) Fail(folders[i], fk, "a folder has at most 259 characters");
      if (folder.empty()) programs = true;
      else s.folder += (s.folder.empty() ? "" : ";") + folder;
    }
    if (programs && !s.folder.empty()) s.folder = ";" + s.folder;
    s.hasFolder = true;
  }
  auto text = [&](const char* name, std::string* out, bool* has) {
    if (auto v = Text(st, name, k)) {
      *out = *v;
      *has = true;
    }
  };
  text("name", &s.name, &s.hasName);
  text("args", &s.args, &s.hasArgs);
  text("icon", &s.icon, &s.hasIcon);
  if (s.hasName) {
    std::replace(s.name.begin(), s.name.end(), '/', '\\');
    CheckName(s.name, st.get("name"), k + ".name", false);
    if (s.name.find('\\') != std::string::npos)
      Fail(st.get("name"), k + ".name", "is a file name; the folder is 'folder'");
  }
  if (s.hasIcon) std::replace(s.icon.begin(), s.icon.end(), '/', '\\');
  if (auto v = Int(st, "icon_index", k, 0, 0xFFFF)) s.iconIndex = (u32)*v;
  if (const toml::node* w = st.get("window")) s.window = Named(w, k + ".window", WindowStateNames, "window state");
  return s;
}

// Fills the entry strings of one kind of shortcut. Unset settings take the
// defaults: the product's folder in the Start menu, the file's own name
// with ".lnk", and the icon of the file itself.
void Loader::ApplyShortcut(const ShortcutSettings& s, FileEntry* e, bool startMenu) {
  const std::string& file = e->strings[0];
  std::string stem = file.substr(file.find_last_of('\\') + 1);
  if (stem.find('.') != std::string::npos && stem.find_last_of('.') > 0) stem.erase(stem.find_last_of('.'));
  // The icon string is relative to the installation folder (or, for a file
  // of the source folder, to the folder of the setup program): the file's
  // own name names it only from there. Elsewhere the shell shows the
  // target's icon anyway.
  const bool ownIcon = e->destination == DestInstallDir || (e->flags & FileFlagSourceFolder);
  const std::string icon = s.hasIcon ? s.icon : ownIcon ? file : "";
  const std::string name = s.hasName ? s.name : stem + ".lnk";
  if (startMenu) {
    e->strings[1] = s.hasFolder ? s.folder : productName_;
    e->strings[2] = name;
    e->strings[3] = s.args;
    e->strings[4] = icon;
    e->iconIndex = (u16)s.iconIndex;
    e->options = (e->options & ~FileOptionStartMenuWindowMask) | s.window;
  } else {
    e->strings[5] = name;
    e->strings[6] = s.args;
    e->strings[7] = icon;
    e->options = (e->options & ~(FileOptionStartMenuWindowMask << FileOptionDesktopWindowShift)) |
                 (s.window << FileOptionDesktopWindowShift);
  }
}

void Loader::ReadIntegration(const toml::table& t, const std::string& path, Group* group,
                             size_t first) {
  const bool flagsAsNumber = t.get("flags") && t.get("flags")->is_integer();
  const size_t count = group->files.size() - first;
  auto only = [&](const char* key, std::initializer_list<const char*> others) {
    for (const char* o : others)
      if (t.get(o))
        Fail(t.get(o), Sub(path, o), std::string("give either '") + key + "' or '" + o + "'");
  };
  // Shortcuts.
  ShortcutSettings menu = ReadShortcut(t, "shortcut", path, true);
  ShortcutSettings desktop = ReadShortcut(t, "desktop_shortcut", path, false);
  if (t.get("shortcut"))
    only("shortcut", {"start_menu_folder", "start_menu_name", "start_menu_args", "start_menu_icon",
                      "icon_index", "start_menu_window"});
  if (t.get("desktop_shortcut"))
    only("desktop_shortcut", {"desktop_name", "desktop_args", "desktop_icon", "desktop_window"});
  // Component registration.
  std::optional<u32> method;
  if (const toml::node* n = t.get("register")) {
    const std::string k = Sub(path, "register");
    only("register", {"register_method"});
    static const Name methods[] = {{"entry_points", 0},
                                   {"registry_script", FileOptionRegistryScript},
                                   {"type_library", FileOptionTypeLibrary}};
    if (n->is_boolean()) {
      if (n->as_boolean()->get()) method = 0;
    } else if (n->is_string()) {
      method = Named(n, k, methods, "registration method");
    } else {
      Fail(n, k, "must be true or one of " + NameList(methods));
    }
    if (method && flagsAsNumber)
      Fail(t.get("flags"), Sub(path, "flags"), "a numeric flag word is stored as it stands; add 'self_register' to it");
  }
  // Fonts.
  bool font = false;
  if (auto v = Bool(t, "font", path)) {
    font = *v;
    if (font && t.get("destination") &&
        Named(t.get("destination"), Sub(path, "destination"), DestinationNames, "destination") != DestFonts)
      Fail(t.get("destination"), Sub(path, "destination"), "a font goes to the fonts folder ('font = true')");
    if (font && t.get("custom_folder")) only("font", {"custom_folder"});
  }
  if (!menu.wanted && !desktop.wanted && !method && !font) return;
  const toml::node* where = t.get("shortcut") ? t.get("shortcut") : t.get("desktop_shortcut");
  if ((menu.wanted || desktop.wanted) && count != 1)
    Fail(where, Sub(path, t.get("shortcut") ? "shortcut" : "desktop_shortcut"),
         "a shortcut belongs to one file; this entry stands for " + std::to_string(count));
  for (size_t i = first; i < group->files.size(); ++i) {
    FileEntry& e = group->files[i];
    if (e.flags & FileFlagFolderEntry)
      Fail(&t, path, "a folder entry has no shortcut, font or registration");
    if (font) e.destination = DestFonts;
    if (menu.wanted) {
      ApplyShortcut(menu, &e, true);
      if (!flagsAsNumber) e.flags |= FileFlagStartMenuShortcut;
    }
    if (desktop.wanted) {
      ApplyShortcut(desktop, &e, false);
      if (!flagsAsNumber) e.flags |= FileFlagDesktopShortcut;
    }
    if (method) {
      e.flags |= FileFlagSelfRegister;
      e.options = (e.options & ~FileOptionRegisterMask) | *method;
    }
    // A font the setup program cannot name is added to the running system
    // but never registered: only TrueType and OpenType files carry the name.
    if (font && e.data.kind == FileData::Path) {
      Bytes head = ReadHead(e.data.path, 4);
      static const u8 signatures[][4] = {{0, 1, 0, 0}, {'t', 'r', 'u', 'e'}, {'O', 'T', 'T', 'O'}};
      bool known = false;
      for (const auto& sig : signatures)
        if (head.size() == 4 && std::equal(head.begin(), head.end(), sig)) known = true;
      if (!known)
        warnings_.push_back(Describe(e) + ": " + e.data.path +
                            " is not a TrueType or OpenType font: Windows gets it for the session, but "
                            "it is not registered under the Fonts key");
    }
  }
}

Group Loader::ReadGroup(const toml::table& t, const std::string& path, const std::string& title) {
  CheckKeys(t, path, {"name", "second_name", "title", "flags", "flags2", "registry", "folder", "ini",
                      "pages", "texts", "registry_entries", "registry_entries_hex", "uninstaller",
                      "uninstaller_log", "uninstaller_log_hex", "file", "licence", "license",
                      "information"});
  Group g;
  namings_.clear();
  g.displayName = Text(t, "name", path);
  g.secondName = Text(t, "second_name", path);
  g.defaultFolder = Text(t, "folder", path);
  if (!g.defaultFolder) g.defaultFolder = "#Program Files#\\" + (product_.name.empty() ? title : product_.name);
  if (!g.displayName && !product_.name.empty()) g.displayName = product_.name;
  if (g.defaultFolder->size() >= 260) Fail(t.get("folder"), Sub(path, "folder"), "a folder has at most 259 characters");
  if (auto v = Flags(t, "flags", path, GroupFlagNames)) {
    if (*v > 0xFFFF) Fail(t.get("flags"), Sub(path, "flags"), "the group flags are a 16-bit word");
    g.flags = (u16)*v;
  }
  if (auto v = Flags(t, "flags2", path, Group2FlagNames)) g.flags2 = *v;
  if (const toml::node* n = t.get("registry")) {
    std::string p = Sub(path, "registry");
    if (!n->is_table()) Fail(n, p, "must be a table { root, key, value }");
    const toml::table& r = *n->as_table();
    CheckKeys(r, p, {"root", "key", "value"});
    if (const toml::node* root = r.get("root")) g.registryRoot = Named(root, p + ".root", RootNames, "registry root");
    g.registryKey = Text(r, "key", p);
    g.registryValue = Text(r, "value", p);
  }
  if (const toml::node* n = t.get("ini")) {
    std::string p = Sub(path, "ini");
    if (!n->is_table()) Fail(n, p, "must be a table { file, section, key }");
    const toml::table& r = *n->as_table();
    CheckKeys(r, p, {"file", "section", "key"});
    g.iniFile = Text(r, "file", p);
    g.iniSection = Text(r, "section", p);
    g.iniKey = Text(r, "key", p);
  }
  if (const toml::node* n = t.get("pages")) {
    std::string p = Sub(path, "pages");
    if (!n->is_array()) Fail(n, p, "must be a list of page kinds");
    const toml::array& a = *n->as_array();
    if (a.size() > PageSequenceLength - 1) Fail(n, p, "at most 11 pages");
    for (size_t i = 0; i < a.size(); ++i) {
      u32 kind = Named(a.get(i), p + "[" + std::to_string(i) + "]", PageNames, "page");
      if (kind > 10) Fail(a.get(i), p + "[" + std::to_string(i) + "]", "a page kind is 0 to 10");
      g.pages.push_back((u8)kind);
    }
  } else {
    g.pages = {PageWelcome, PageInstallFolder, PageReady, PageInstalling, PageFinish};
  }
  std::string groupTitle = title;
  if (auto v = Text(t, "title", path)) groupTitle = *v;
  // Shortcuts go into a folder named after the product, as the default
  // installation folder is.
  productName_ = product_.name.empty() ? groupTitle : product_.name;
  g.texts = DefaultTexts(groupTitle, product_.Display(groupTitle), product_.publisher);
  ApplyTexts(projectTexts_, &g.texts);
  if (const toml::node* n = t.get("texts")) {
    std::map<std::string, std::string> texts;
    ReadTexts(n, Sub(path, "texts"), &texts);
    ApplyTexts(texts, &g.texts);
  }
  ReadGroupDocuments(t, path, Context(), &g);
  g.registryEntries = RawBytes(t, "registry_entries", path);

  if (const toml::node* n = t.get("file")) {
    std::string p = Sub(path, "file");
    if (!n->is_array_of_tables()) Fail(n, p, "must be written [[group.file]]");
    const toml::array& a = *n->as_array();
    for (size_t i = 0; i < a.size(); ++i) {
      const size_t first = g.files.size();
      ReadFiles(*a.get(i)->as_table(), p + "[" + std::to_string(i) + "]", &g, 0);
      ReadIntegration(*a.get(i)->as_table(), p + "[" + std::to_string(i) + "]", &g, first);
    }
  }
  FinishRunEntries(&g);
  auto uninstaller = Text(t, "uninstaller", path);
  auto log = RawBytes(t, "uninstaller_log", path);
  if (log && !uninstaller) Fail(t.get("uninstaller_log") ? t.get("uninstaller_log") : t.get("uninstaller_log_hex"),
                                Sub(path, "uninstaller_log"), "needs 'uninstaller' (the file name of the uninstaller)");
  if (uninstaller) {
    // The uninstaller entry: its data is the start of the uninstall log,
    // closed by an end header that the setup program overwrites.
    FileEntry e;
    e.state = EntryStateUninstaller;
    e.origin = Sub(path, "uninstaller");
    e.location = Where(t.get("uninstaller"));
    std::replace(uninstaller->begin(), uninstaller->end(), '/', '\\');
    *uninstaller = WithoutDotFolders(*uninstaller);
    CheckName(*uninstaller, t.get("uninstaller"), e.origin, false);
    e.strings[0] = *uninstaller;
    e.data.kind = FileData::Inline;
    if (log) e.data.bytes = *log;
    Bytes end = EncodeRecordHeader(RecordEndOfTables, 0, 0);
    e.data.bytes.insert(e.data.bytes.end(), end.begin(), end.end());
    AddEntry(&g, e, t.get("uninstaller"), e.origin);
  }
  auto warn = [&](const char* key, const std::string& text) {
    const toml::node* n = t.get(key);
    std::ostringstream w;
    w << name_ << ":" << (n ? n->source().begin.line : t.source().begin.line) << ": " << path << ": " << text;
    warnings_.push_back(w.str());
  };
  if (g.flags & GroupFlagUninstallEntry) {
    if (!uninstaller) warn("flags", "'uninstall_entry' needs an uninstaller ('uninstaller' in the group)");
    else if (!g.displayName || g.displayName->empty()) warn("flags", "'uninstall_entry' needs the group's 'name'");
  }
  if ((g.flags & GroupFlagFolderToRegistry) && !g.registryKey)
    warn("flags", "'folder_to_registry' needs 'registry' with a key");
  if ((g.flags & GroupFlagFolderToIni) && !(g.iniFile && g.iniSection && g.iniKey))
    warn("flags", "'folder_to_ini' needs 'ini' with file, section and key");
  // Two entries for the same target would overwrite each other. Windows
  // compares names without regard to case and drops trailing dots and
  // spaces: "a.txt" and "A.TXT." are one file.
  std::map<std::string, size_t> targets;
  for (size_t i = 0; i < g.files.size(); ++i) {
    const FileEntry& e = g.files[i];
    if (e.flags & (FileFlagFolderEntry | FileFlagSourceFolder)) continue;
    std::string name = e.strings[0];
    bool relative = e.destination == DestInstallDir || e.destination == DestDocuments ||
                    e.destination == DestAppData;
    if (!relative) name = name.substr(name.find_last_of('\\') + 1);
    std::string key = std::to_string(e.destination) + "|" +
                      (e.destination == DestCustom ? WindowsNameKey(e.strings[9]) : "") + "|" +
                      WindowsNameKey(name);
    auto [it, fresh] = targets.emplace(key, i);
    if (fresh) continue;
    const FileEntry& first = g.files[it->second];
    const Naming& before = namings_[it->second];
    std::string line = before.node ? std::to_string(before.node->source().begin.line) : "?";
    std::string other = before.key + " (line " + line + ")";
    Fail(namings_[i].node, namings_[i].key,
         e.strings[0] == first.strings[0]
             ? "'" + e.strings[0] + "' is installed by " + other + " already"
             : "'" + e.strings[0] + "' is the same file on Windows as '" + first.strings[0] + "' of " + other);
  }
  return g;
}

LoadedProject Loader::Load(const toml::table& root) {
  CheckKeys(root, "", {"title", "stub", "output", "compression", "volume_size", "codepage",
                       "uninstaller", "image_table", "image_table_hex", "forced_page", "defines", "texts", "layout",
                       "group", "product", "version", "publisher", "backdrop"});
  LoadedProject out;
  Project& p = out.project;
  if (auto v = Int(root, "codepage", "", 0, 1252)) {
    if (*v != 0 && *v != 1252) Fail(root.get("codepage"), "codepage", "must be 1252 or 0 (texts as they stand)");
    convert_ = *v == 1252;
  }
  if (const toml::node* n = root.get("defines")) {
    if (!n->is_table()) Fail(n, "defines", "must be a table of NAME = \"value\"");
    for (auto&& [k, v] : *n->as_table()) {
      if (!v.is_string()) Fail(&v, "defines." + std::string(k.str()), "must be a string");
      defines_.emplace(std::string(k.str()), v.as_string()->get());  // -D wins
    }
  }
  product_ = ReadProductNames(root, Context());
  std::string title = Text(root, "title", "").value_or(product_.SetupTitle());
  out.stub = RawString(root, "stub", "").value_or("x86");
  if (out.stub != "x86" && out.stub != "x64") {
    out.stub = Expand(out.stub, root.get("stub"), "stub");
    out.stub = Resolve(out.stub);
  }
  if (auto o = RawString(root, "output", "")) out.output = Resolve(Expand(*o, root.get("output"), "output"));
  if (auto v = Int(root, "compression", "", 0, 12)) p.compressionLevel = (int)*v;
  if (const toml::node* n = root.get("volume_size")) {
    uint64_t size = 0;
    if (n->is_integer() && n->as_integer()->get() > 0) {
      size = (uint64_t)n->as_integer()->get();
    } else if (n->is_string()) {
      std::string s = n->as_string()->get();
      char* end = nullptr;
      unsigned long long v = std::strtoull(s.c_str(), &end, 10);
      std::string unit = ToLower(end ? end : "");
      uint64_t mul = unit.empty() ? 1 : unit == "k" ? 1024 : unit == "m" ? 1024 * 1024 : unit == "g" ? 1024ull * 1024 * 1024 : 0;
      if (end != s.c_str()) size = v * mul;
    }
    if (size <= VolumeLengthSize || size > 0xFFFFFFFFull)
      Fail(n, "volume_size", "must be a size in bytes (or \"1440K\", \"650M\") above 4 bytes and below 4 GB");
    p.volumeSize = size;
  }
  p.uninstallerImage = RawBytes(root, "uninstaller", "");
  p.imageTable = RawBytes(root, "image_table", "");
  if (const toml::node* n = root.get("texts")) {
    ReadTexts(n, "texts", &projectTexts_);
  }
  SetStandardHeader(&p.layout);
  if (const toml::node* n = root.get("layout")) {
    if (!n->is_table()) Fail(n, "layout", "must be a table");
    p.layout = ReadLayout(*n->as_table());
  }
  const toml::node* groups = root.get("group");
  if (!groups) throw BuildError(name_ + ": group: the project has no install group (add [[group]])");
  if (!groups->is_array_of_tables()) Fail(groups, "group", "must be written [[group]]");
  const toml::array& a = *groups->as_array();
  if (a.size() > MaxGroups) Fail(a.get(MaxGroups), "group", "a package holds at most 16 install groups");
  for (size_t i = 0; i < a.size(); ++i)
    p.groups.push_back(ReadGroup(*a.get(i)->as_table(), "group[" + std::to_string(i) + "]", title));
  ReadAppearance(root, product_, title, Context(), &p);
  if (const toml::node* n = root.get("forced_page")) {
    if (!n->is_table()) Fail(n, "forced_page", "must be a table { page, group }");
    const toml::table& f = *n->as_table();
    CheckKeys(f, "forced_page", {"page", "group"});
    ForcedPageRecord r;
    if (!f.get("page")) Fail(n, "forced_page", "needs 'page'");
    u32 page = Named(f.get("page"), "forced_page.page", PageNames, "page");
    if (page > 10) Fail(f.get("page"), "forced_page.page", "a page kind is 0 to 10");
    r.page = (u16)page;
    if (auto v = Int(f, "group", "forced_page", 0, (int64_t)p.groups.size() - 1)) r.group = (u16)*v;
    p.forcedPage = r;
  }
  return out;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

LoadedProject LoadProjectText(const std::string& text, const std::string& name,
                              const std::string& baseDir, const Defines& defines) {
  toml::table root;
  try {
    root = toml::parse(text, name);
  } catch (const toml::parse_error& e) {
    std::ostringstream s;
    s << name << ":" << e.source().begin.line << ":" << e.source().begin.column
      << ": TOML syntax error: " << e.description();
    throw BuildError(s.str());
  }
  Loader loader(name, baseDir, defines);
  LoadedProject project = loader.Load(root);
  project.warnings = loader.warnings_;
  return project;
}

LoadedProject LoadProjectFile(const std::string& path, const Defines& defines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw BuildError("cannot open the project file '" + path + "': " + std::strerror(errno));
  std::stringstream s;
  s << in.rdbuf();
  return LoadProjectText(s.str(), path, DirectoryOf(path), defines);
}

namespace {

// Looks for the VS_FIXEDFILEINFO in `data` at every fourth byte from 0 on:
// signature 0xFEEF04BD, structure version, then the file version; it is
// 32-bit aligned inside the version resource. Returns the offset behind the
// last position looked at.
size_t ScanForFileVersion(const u8* data, size_t n, bool* found, u32* ms, u32* ls) {
  size_t i = 0;
  for (; i + 16 <= n; i += 4) {
    if (ReadU32(data + i) == 0xFEEF04BDu) {
      *ms = ReadU32(data + i + 8);
      *ls = ReadU32(data + i + 12);
      *found = true;
      break;
    }
  }
  return i;
}

}  // namespace

bool FindFileVersion(const Bytes& image, u32* ms, u32* ls) {
  bool found = false;
  ScanForFileVersion(image.data(), image.size(), &found, ms, ls);
  return found;
}

bool FindFileVersionInFile(const std::string& path, u32* ms, u32* ls) {
  bool found = false;
  Bytes window;  // starts at a multiple of 4 in the file
  ReadInPieces(path, [&](const u8* p, size_t n) {
    window.insert(window.end(), p, p + n);
    size_t done = ScanForFileVersion(window.data(), window.size(), &found, ms, ls);
    window.erase(window.begin(), window.begin() + (ptrdiff_t)done);
    return !found;
  });
  return found;
}

u16 PeMachine(const Bytes& image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
  const u32 pe = ReadU32(image.data() + 0x3C);
  if (pe > image.size() || image.size() - pe < 6 || std::memcmp(image.data() + pe, "PE\0\0", 4) != 0)
    return 0;
  return ReadU16(image.data() + pe + 4);
}

std::vector<std::string> ComponentMachineWarnings(const Project& project, const Bytes& stub) {
  std::vector<std::string> warnings;
  const u16 wanted = PeMachine(stub);
  auto kind = [](u16 machine) {
    return machine == 0x14C ? std::string("32-bit") : machine == 0x8664 ? std::string("64-bit")
                                                                         : "machine " + std::to_string(machine);
  };
  for (const Group& g : project.groups) {
    for (const FileEntry& e : g.files) {
      if (!(e.flags & FileFlagSelfRegister) || (e.options & FileOptionRegisterMask) ||
          e.data.kind != FileData::Path)
        continue;
      const u16 machine = PeMachine(ReadHead(e.data.path, 4096));
      if (machine == 0)
        warnings.push_back(Describe(e) + ": " + e.data.path +
                           " is no Windows library: its entry points cannot be called, so it is "
                           "not registered");
      else if (wanted && machine != wanted)
        warnings.push_back(Describe(e) + ": " + e.data.path + " is a " + kind(machine) +
                           " library and the setup program is " + kind(wanted) +
                           ": only a setup program of the library's own kind can call its entry "
                           "points, so it is not registered (choose the stub with 'stub')");
    }
  }
  return warnings;
}

}  // namespace setrunc
