#include "builder/try_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "base/records.h"
#include "builder/codepage.h"
#include "builder/inspect_json.h"
#include "builder/package_reader.h"
#include "builder/package_writer.h"

extern char** environ;

namespace setrunc {

// ---------------------------------------------------------------------------
// Registry files

namespace {

// Undoes Wine's escapes in a key name or quoted string: \\ \" \n \r \t
// \xHHHH (a UTF-16 unit, written as UTF-8) and \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  auto utf8 = [&](unsigned c) {
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x') {
      unsigned v = 0;
      size_t n = 0;
      while (n < 4 && i + 1 < s.size() && std::isxdigit((unsigned char)s[i + 1])) {
        v = v * 16 + (unsigned)std::stoi(std::string(1, s[++i]), nullptr, 16);
        ++n;
      }
      utf8(v);
    } else if (c >= '0' && c <= '7') {
      unsigned v = (unsigned)(c - '0');
      for (int n = 0; n < 2 && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7'; ++n) v = v * 8 + (unsigned)(s[++i] - '0');
      utf8(v);
    } else {
      out += c;
    }
  }
  return out;
}

// The end of a quoted string that starts at `start` (at the quote): the
// position of the closing quote, or npos.
size_t ClosingQuote(const std::string& s, size_t start) {
  for (size_t i = start + 1; i < s.size(); ++i) {
    if (s[i] == '\\') ++i;
    else if (s[i] == '"') return i;
  }
  return std::string::npos;
}

}  // namespace

void ParseWineRegistry(const std::string& text, const std::string& root, RegistrySnapshot* into) {
  std::istringstream in(text);
  std::string line, key;
  bool inKey = false;
  while (std::getline(in, line)) {
    // Continuation lines of long values end with a backslash.
    while (!line.empty() && line.back() == '\\' && line.size() >= 2 && line[line.size() - 2] != '\\') {
      std::string next;
      if (!std::getline(in, next)) break;
      line.pop_back();
      size_t from = next.find_first_not_of(' ');
      line += from == std::string::npos ? "" : next.substr(from);
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos) {
        inKey = false;
        continue;
      }
      key = root + "\\" + Unescape(line.substr(1, close - 1));
      into->keys[key];
      inKey = true;
      continue;
    }
    if (!inKey) continue;
    std::string name, data;
    if (line[0] == '@') {
      if (line.size() < 2 || line[1] != '=') continue;
      data = line.substr(2);
    } else if (line[0] == '"') {
      size_t close = ClosingQuote(line, 0);
      if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != '=') continue;
      name = Unescape(line.substr(1, close - 1));
      data = line.substr(close + 2);
    } else {
      continue;
    }
    into->keys[key][name] = data;
  }
}

std::string ShowRegistryData(const std::string& data) {
  if (!data.empty() && data[0] == '"') {
    size_t close = ClosingQuote(data, 0);
    if (close != std::string::npos) return Unescape(data.substr(1, close - 1));
  }
  if (data.compare(0, 9, "str(2):\"") == 0 || data.compare(0, 7, "str(2):") == 0) {
    size_t q = data.find('"');
    size_t close = q == std::string::npos ? q : ClosingQuote(data, q);
    if (close != std::string::npos) return Unescape(data.substr(q + 1, close - q - 1));
  }
  if (data.compare(0, 6, "dword:") == 0) {
    try {
      return std::to_string(std::stoul(data.substr(6), nullptr, 16));
    } catch (...) {
    }
  }
  return data;
}

// ---------------------------------------------------------------------------
// Differences

const char* ChangeName(Change::Kind kind) {
  switch (kind) {
    case Change::Added: return "added";
    case Change::Changed: return "changed";
    default: return "removed";
  }
}

namespace {

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower((unsigned char)s[i]) != std::tolower((unsigned char)prefix[i])) return false;
  return true;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

bool IsWineNoise(const std::string& what) {
  static const char* const noise[] = {
      "HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses",
      "HKLM\\System\\CurrentControlSet\\Enum",
      "HKLM\\System\\CurrentControlSet\\Control\\Class\\",
      "HKLM\\System\\CurrentControlSet\\Control\\Class\\",
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
      "HKLM\\Software\\Wine",
      "HKCU\\Software\\Wine",
      "HKLM\\Hardware",
      "C:\\windows\\Temp\\",
      "C:\\users\\Public\\Temp\\",
  };
  for (const char* n : noise)
    if (StartsWithNoCase(what, n)) return true;
  // Each user's temporary folder.
  if (StartsWithNoCase(what, "C:\\users\\")) {
    size_t user = what.find('\\', 9);
    if (user != std::string::npos && StartsWithNoCase(what.substr(user), "\\Temp\\")) return true;
    if (user != std::string::npos && StartsWithNoCase(what.substr(user), "\\AppData\\Local\\Temp\\")) return true;
  }
  return false;
}

std::vector<Change> DiffFiles(const FileSnapshot& before, const FileSnapshot& after) {
  std::vector<Change> out;
  for (const auto& [path, state] : after) {
    if (IsWineNoise(path)) continue;
    auto was = before.find(path);
    if (was == before.end()) out.push_back({Change::Added, path, state.size, "", ""});
    else if (was->second.size != state.size || was->second.modified != state.modified)
      out.push_back({Change::Changed, path, state.size, std::to_string(was->second.size), ""});
  }
  for (const auto& [path, state] : before)
    if (!after.count(path) && !IsWineNoise(path)) out.push_back({Change::Removed, path, state.size, "", ""});
  return out;
}

std::vector<Change> DiffRegistry(const RegistrySnapshot& before, const RegistrySnapshot& after) {
  std::vector<Change> out;
  static const std::map<std::string, std::string> none;
  for (const auto& [key, values] : after.keys) {
    if (IsWineNoise(key)) continue;
    auto was = before.keys.find(key);
    const auto& old = was == before.keys.end() ? none : was->second;
    if (was == before.keys.end() && values.empty()) out.push_back({Change::Added, key, 0, "", ""});
    for (const auto& [name, data] : values) {
      auto v = old.find(name);
      const std::string what = key + "\\[" + name + "]";
      if (v == old.end()) out.push_back({Change::Added, what, 0, "", data});
      else if (v->second != data) out.push_back({Change::Changed, what, 0, v->second, data});
    }
    for (const auto& [name, data] : old)
      if (!values.count(name)) out.push_back({Change::Removed, key + "\\[" + name + "]", 0, data, ""});
  }
  for (const auto& [key, values] : before.keys) {
    if (after.keys.count(key) || IsWineNoise(key)) continue;
    if (values.empty()) out.push_back({Change::Removed, key, 0, "", ""});
    for (const auto& [name, data] : values) out.push_back({Change::Removed, key + "\\[" + name + "]", 0, data, ""});
  }
  return out;
}

// ---------------------------------------------------------------------------
// Shell links and command lines

std::string ShortcutTarget(const std::string& b) {
  auto u16 = [&](size_t at) -> uint32_t { return at + 2 <= b.size() ? (uint8_t)b[at] | ((uint8_t)b[at + 1] << 8) : 0; };
  auto u32 = [&](size_t at) -> uint32_t { return at + 4 <= b.size() ? u16(at) | (u16(at + 2) << 16) : 0; };
  if (b.size() < 0x4C || u32(0) != 0x4C) return "";
  const uint32_t flags = u32(0x14);
  size_t at = 0x4C;
  if (flags & 0x1) at += 2 + u16(at);  // the item id list
  if (!(flags & 0x2) || at + 28 > b.size()) return "";  // no link info
  const uint32_t infoSize = u32(at), infoFlags = u32(at + 8), baseOffset = u32(at + 16);
  if (!(infoFlags & 0x1) || baseOffset >= infoSize || at + infoSize > b.size()) return "";
  std::string path;
  for (size_t i = at + baseOffset; i < at + infoSize && b[i]; ++i) path += b[i];
  return Cp1252ToUtf8(path);
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
      if (line[i] == '"') quoted = !quoted;
      else word += line[i];
    }
    out.push_back(word);
  }
  return out;
}

std::vector<std::string> UninstallCommands(const std::vector<Change>& registry) {
  std::vector<std::pair<std::string, std::string>> entries;  // key, command
  for (const Change& c : registry) {
    if (c.kind != Change::Added || c.what.find("\\CurrentVersion\\Uninstall\\") == std::string::npos) continue;
    for (const char* name : {"\\[QuietUninstallString]", "\\[UninstallString]"}) {
      if (!EndsWithNoCase(c.what, name)) continue;
      const bool quiet = std::strstr(name, "Quiet") != nullptr;
      std::string key = c.what.substr(0, c.what.size() - std::strlen(name));
      std::string command = ShowRegistryData(c.after) + (quiet ? "" : " /S");
      auto known = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
      if (known == entries.end()) entries.emplace_back(key, command);
      else if (quiet) known->second = command;
    }
  }
  std::vector<std::string> commands;
  for (const auto& e : entries)
    if (std::find(commands.begin(), commands.end(), e.second) == commands.end()) commands.push_back(e.second);
  return commands;
}

std::string ExitCodeMeaning(int code, const std::string& message) {
  if (code == 0) return "success";
  if (code == 255) return "-1: the package could not be read or the windows could not be created";
  if (code == 254) return "-2: a restart of Windows is needed to complete the installation";
  std::string meaning = "the installation failed with message " + std::to_string(code);
  if (!message.empty()) meaning += ": \"" + message + "\"";
  return meaning;
}

// ---------------------------------------------------------------------------
// The run

namespace {

struct TryError : BuildError {
  using BuildError::BuildError;
};

bool Executable(const std::string& p) { return access(p.c_str(), X_OK) == 0; }

std::string OnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::stringstream parts(path ? path : "");
  std::string dir;
  while (std::getline(parts, dir, ':'))
    if (!dir.empty() && Executable(dir + "/" + name)) return dir + "/" + name;
  return "";
}

// Wine's 64-bit loader and its server: Debian's places, else the PATH;
// SETRUNC_WINE names another loader.
struct Wine {
  std::string loader, server;
};

Wine FindWine() {
  Wine w;
  if (const char* chosen = getenv("SETRUNC_WINE"); chosen && *chosen) w.loader = chosen;
  else if (Executable("/usr/lib/wine/wine64")) w.loader = "/usr/lib/wine/wine64";
  else w.loader = OnPath("wine64");
  if (w.loader.empty()) w.loader = OnPath("wine");
  std::string folder = w.loader.substr(0, w.loader.find_last_of('/') + 1);
  if (!w.loader.empty() && Executable(folder + "wineserver")) w.server = folder + "wineserver";
  else if (Executable("/usr/lib/wine/wineserver")) w.server = "/usr/lib/wine/wineserver";
  else w.server = OnPath("wineserver");
  if (w.loader.empty() || w.server.empty())
    throw TryError("Wine is not installed (looked for /usr/lib/wine/wine64 and wine64, wine and wineserver on "
                   "the PATH; SETRUNC_WINE names a loader)");
  return w;
}

// A child process with the prefix's environment; its output goes to files.
struct Runner {
  std::vector<std::string> environment;

  // Starts argv; returns its pid.
  pid_t Start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
              const std::string& debug = "-all") const {
    std::vector<std::string> env = environment;
    env.push_back("WINEDEBUG=" + debug);
    pid_t pid = fork();
    if (pid < 0) throw TryError(std::string("cannot start Wine: ") + std::strerror(errno));
    if (pid == 0) {
      int in = open("/dev/null", O_RDONLY);
      int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      setpgid(0, 0);
      std::vector<char*> args, envp;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
      envp.push_back(nullptr);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    return pid;
  }

  // Waits for pid up to `seconds`; its exit code, or -1 when it did not end
  // in time (it is then killed).
  static int Wait(pid_t pid, int seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    for (;;) {
      pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (done < 0 && errno != EINTR) return -1;
      if (std::chrono::steady_clock::now() >= until) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  int Run(const std::vector<std::string>& argv, const std::string& log, int seconds) const {
    return Wait(Start(argv, log, log), seconds);
  }
};

uint64_t ReadAll(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return out->size();
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") RemoveTree(path + "/" + n);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// Files below drive_c as Windows paths; links are not followed.
void WalkFiles(const std::string& dir, const std::string& windows, FileSnapshot* into) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string path = dir + "/" + n;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) WalkFiles(path, windows + "\\" + n, into);
    else if (S_ISREG(st.st_mode))
      (*into)[windows + "\\" + n] = {(uint64_t)st.st_size, (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec};
  }
  closedir(d);
}

struct Snapshot {
  FileSnapshot files;
  RegistrySnapshot registry;
};

struct Report {
  int exitCode = 0;
  bool finished = true;  // ended within the time limit
  std::string meaning;
  std::vector<Change> files, registry;
  std::vector<std::pair<std::string, std::string>> shortcuts;  // path, target
  std::vector<std::string> programs;
};

class Trial {
 public:
  Trial(const TryOptions& o, std::ostream& err) : o_(o), err_(err), wine_(FindWine()) {}

  ~Trial() {
    if (!work_.empty()) {
      Server("-k");
      if (!o_.keep) RemoveTree(work_);
    }
  }

  int Run(std::ostream& out) {
    PackageInfo package = ReadPackage(o_.installer);
    const bool silent = ReadU32(package.layout->data() + LayoutFlags) & LayoutFlagSilent;
    if (o_.wizard && o_.wizardDriver.empty())
      throw TryError("--wizard needs the wizard driver (wizard_driver.exe of the 64-bit Windows build); "
                     "SETRUNC_WIZARD_DRIVER names it");
    if (o_.wizard && silent)
      throw TryError("--wizard: the package installs silently and shows no wizard; run without --wizard");
    MakePrefix();
    Snapshot before = Take();
    Report install;
    if (o_.wizard) {
      Note("installing " + o_.installer + " through its wizard");
      install = WalkWizard(package, before);
    } else {
      std::string program = SilentProgram(package, silent);
      Note("installing " + o_.installer + (silent ? "" : " (silently: a copy whose package is marked silent)"));
      install = RunProgram({wine_.loader, program}, "install", before, 300);
    }
    if (install.meaning.empty()) install.meaning = InstallMeaning(package, install);
    Snapshot installed = Take();

    // Every uninstaller the installation registered (each group of a
    // package may write its own Uninstall entry), one after the other.
    std::vector<Uninstallation> uninstalls;
    for (const std::string& command : UninstallCommands(install.registry)) {
      std::vector<std::string> words = SplitCommandLine(command);
      std::vector<std::string> argv = {wine_.loader};
      argv.insert(argv.end(), words.begin(), words.end());
      Note("uninstalling: " + command);
      const std::string name = uninstalls.empty() ? "uninstall" : "uninstall-" + std::to_string(uninstalls.size() + 1);
      Uninstallation u;
      u.command = command;
      u.run = RunProgram(argv, name, uninstalls.empty() ? installed : Take(), 300);
      u.run.meaning = UninstallMeaning(u.run);
      uninstalls.push_back(u);
    }
    // What the uninstallers left to the next start of Windows goes then.
    if (!uninstalls.empty() && installedHasPendingRenames()) {
      Note("restarting Windows (wineboot -r) for the removals left to the restart");
      wine_restarted_ = true;
      runner_.Run({wine_.loader, "wineboot", "-r"}, work_ + "/restart.log", 300);
      Server("-w", 120);
    }
    Snapshot after = Take();
    Report left;
    left.files = DiffFiles(before.files, after.files);
    left.registry = DiffRegistry(before.registry, after.registry);

    if (o_.json) WriteJson(out, install, uninstalls, left);
    else WriteText(out, install, uninstalls, left);
    bool clean = install.finished && (install.exitCode == 0 || install.exitCode == 254) && !uninstalls.empty() &&
                 left.files.empty() && left.registry.empty();
    for (const Uninstallation& u : uninstalls) clean = clean && u.run.finished && u.run.exitCode == 0;
    return clean ? 0 : 1;
  }

 private:
  const TryOptions& o_;
  std::ostream& err_;
  Wine wine_;
  Runner runner_;
  std::string work_, prefix_;
  bool wine_restarted_ = false;

  struct Uninstallation {
    std::string command;
    Report run;
  };


  void Note(const std::string& s) { err_ << "setrunc try: " << s << "\n"; }

  void Server(const char* how, int seconds = 60) {
    if (!prefix_.empty()) runner_.Run({wine_.server, how}, work_ + "/server.log", seconds);
  }

  void MakePrefix() {
    const char* tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/setrunc-try-XXXXXX";
    if (!mkdtemp(&dir[0])) throw TryError("cannot create a temporary folder: " + std::string(std::strerror(errno)));
    work_ = dir;
    prefix_ = work_ + "/prefix";
    const std::string home = work_ + "/home";
    mkdir(home.c_str(), 0700);
    // Only the prefix's own variables: a private home, so that Wine links
    // no folder of the user's and writes no menu entries there.
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      static const char* const dropped[] = {"WINE", "HOME=", "XDG_", "DISPLAY="};
      bool drop = false;
      for (const char* d : dropped) drop = drop || v.compare(0, std::strlen(d), d) == 0;
      if (!drop) runner_.environment.push_back(v);
    }
    runner_.environment.insert(runner_.environment.end(),
                               {"WINEPREFIX=" + prefix_, "WINEARCH=win64", "HOME=" + home,
                                "XDG_CONFIG_HOME=" + home + "/.config", "XDG_DATA_HOME=" + home + "/.local/share",
                                "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"});
    Note("making a Wine prefix in " + prefix_);
    const std::string log = work_ + "/boot.log";
    const std::vector<std::string> nullGraphics = {
        wine_.loader, "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"};
    bool made = runner_.Run({wine_.loader, "wineboot", "-i"}, log, 300) == 0;
    // On a busy machine the prefix's first programs may still be settling
    // when wineboot returns, and starting the next one can fail once: wait
    // for them, and try that start a second time.
    if (made) Server("-w", 120);
    made = made && (runner_.Run(nullGraphics, log, 120) == 0 || runner_.Run(nullGraphics, log, 120) == 0);
    if (!made) {
      std::string text;
      ReadAll(log, &text);
      throw TryError("Wine could not make a prefix in " + prefix_ + ":\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0));
    }
    Server("-w", 120);
    // The user folders (desktop, documents, ...) become folders of the
    // prefix instead of links to the private home.
    const std::string users = prefix_ + "/drive_c/users";
    if (DIR* d = opendir(users.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string user = users + "/" + e->d_name;
        if (std::string(e->d_name) == "." || std::string(e->d_name) == "..") continue;
        if (DIR* u = opendir(user.c_str())) {
          while (dirent* f = readdir(u)) {
            std::string p = user + "/" + f->d_name;
            struct stat st;
            if (lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(p.c_str()) == 0) mkdir(p.c_str(), 0755);
          }
          closedir(u);
        }
      }
      closedir(d);
    }
  }

  // The installer to run: itself when its package is silent, else a copy in
  // the work folder whose layout record says silent (stored, so that no
  // byte of the data moves relative to the end of the tables), with its
  // data volumes linked beside it.
  std::string SilentProgram(const PackageInfo& p, bool silent) {
    if (silent) return o_.installer;
    const RecordInfo* layout = nullptr;
    for (const RecordInfo& r : p.records)
      if (r.type == RecordLayout && r.read) layout = &r;
    if (!layout) throw TryError("the package's layout record is not among its first records");
    Bytes flagged = *p.layout;
    WriteU32(flagged.data() + LayoutFlags, ReadU32(flagged.data() + LayoutFlags) | LayoutFlagSilent);
    Bytes record = EncodeRecord(RecordLayout, flagged, false, 0);
    const uint64_t end = (uint64_t)layout->offset + RecordHeaderSize + layout->size;
    const std::string media = work_ + "/media";
    mkdir(media.c_str(), 0755);
    std::string name = o_.installer.substr(o_.installer.find_last_of('/') + 1);
    std::string path = media + "/" + name;
    // The bytes before the record, the new record, the bytes after it.
    std::ifstream in(o_.installer, std::ios::binary);
    std::ofstream copy(path, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    auto pass = [&](uint64_t n) {
      while (n && in) {
        in.read(buffer.data(), (std::streamsize)std::min<uint64_t>(n, buffer.size()));
        copy.write(buffer.data(), in.gcount());
        n -= (uint64_t)in.gcount();
      }
    };
    pass(layout->offset);
    copy.write((const char*)record.data(), (std::streamsize)record.size());
    in.seekg((std::streamoff)end);
    pass(UINT64_MAX);
    copy.close();
    if (!copy) throw TryError("cannot write the silent copy " + path);
    for (unsigned k = 1;; ++k) {
      std::string volume = VolumePath(o_.installer, k);
      if (access(volume.c_str(), F_OK) != 0) break;
      char* full = realpath(volume.c_str(), nullptr);
      if (full) symlink(full, VolumePath(path, k).c_str());
      free(full);
    }
    return path;
  }

  Snapshot Take() {
    Snapshot s;
    WalkFiles(prefix_ + "/drive_c", "C:", &s.files);
    std::string text;
    ReadAll(prefix_ + "/system.reg", &text);
    ParseWineRegistry(text, "HKLM", &s.registry);
    ReadAll(prefix_ + "/user.reg", &text);
    ParseWineRegistry(text, "HKCU", &s.registry);
    return s;
  }

  bool installedHasPendingRenames() {
    Snapshot now = Take();
    auto k = now.registry.keys.find("HKLM\\System\\CurrentControlSet\\Control\\Session Manager");
    return k != now.registry.keys.end() && k->second.count("PendingFileRenameOperations");
  }

  // The wizard walked with the test driver as a user would: Next on every
  // page, the licence accepted, the proposed folder made when the wizard
  // asks, Finish on the last page; the setup program's exit code is the one
  // the driver reports.
  Report WalkWizard(const PackageInfo& p, const Snapshot& before) {
    auto quote = [](const std::string& text) {
      std::string q = "\"";
      for (char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
      }
      return q + "\"";
    };
    char* full = realpath(o_.installer.c_str(), nullptr);
    std::string setup = full ? full : o_.installer;
    free(full);
    std::vector<std::string> steps = {"start " + quote(setup), "wizard"};
    const u8* group = p.groups[0].record.data();
    bool installed = false;
    for (u32 i = 0; i < PageSequenceLength && group[GroupPageSequence + i] != PageSequenceEnd; ++i) {
      const u8 kind = group[GroupPageSequence + i];
      if (kind == PageInstalling) {  // the engine moves on by itself
        installed = true;
        continue;
      }
      if (i) steps.push_back(installed && kind == PageFinish ? "wait-state 1 hidden" : "wait-page");
      if (kind == PageLicence) steps.push_back("click 1002");
      if (kind == PageInstallFolder) {
        steps.push_back("click 1");
        steps.push_back("answer yes");
      } else {
        steps.push_back(kind == PageFinish ? "click 2" : "click 1");
      }
    }
    steps.push_back("exit");
    const std::string results = work_ + "/wizard.txt";
    std::vector<std::string> argv = {wine_.loader, o_.wizardDriver, "-k", "-o", results};
    argv.insert(argv.end(), steps.begin(), steps.end());
    Report r = RunProgram(argv, "install", before, 300);
    std::string text;
    ReadAll(results, &text);
    size_t failed = text.find("FAIL ");
    size_t exit = text.rfind(" exit code=");
    if (failed != std::string::npos) {
      r.finished = false;
      r.meaning = "the wizard walk failed: " + text.substr(failed, text.find('\n', failed) - failed);
    } else if (exit != std::string::npos) {
      r.exitCode = std::atoi(text.c_str() + exit + 11) & 0xFF;
    } else {
      r.finished = false;
      r.meaning = "the wizard driver reported no exit code";
    }
    return r;
  }

  // Runs a Windows program, waits for it and for the programs it started
  // (up to a minute after it ended), and compares the prefix with `before`.
  Report RunProgram(const std::vector<std::string>& argv, const std::string& name, const Snapshot& before,
                    int seconds) {
    Report r;
    const std::string log = work_ + "/" + name + ".log";
    pid_t pid = runner_.Start(argv, work_ + "/" + name + ".out", log, "-all,+loaddll");
    r.exitCode = Runner::Wait(pid, seconds);
    if (r.exitCode < 0) {
      r.finished = false;
      Note(name + ": the program did not end within " + std::to_string(seconds) + " s; it was ended");
    }
    // Programs it started may still run: they get a minute.
    if (runner_.Run({wine_.server, "-w"}, work_ + "/server.log", 60) < 0) {
      Note(name + ": programs it started were still running a minute later; they were ended");
      Server("-k");
    }
    std::string text;
    ReadAll(log, &text);
    std::set<std::string> seen;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      size_t at = line.find(":loaddll:");
      size_t q = line.find("Loaded L\"");
      if (at == std::string::npos || q == std::string::npos) continue;
      size_t close = ClosingQuote(line, q + 8);
      if (close == std::string::npos) continue;
      std::string module = Unescape(line.substr(q + 9, close - q - 9));
      if (!EndsWithNoCase(module, ".exe") || IsWineProgram(module)) continue;
      if (seen.insert(module).second) r.programs.push_back(module);
    }
    // The program itself is not one it started, nor is the wizard driver
    // and the setup program it starts.
    if (!r.programs.empty()) r.programs.erase(r.programs.begin());
    auto base = [](const std::string& path) {
      std::string b = path.substr(path.find_last_of("\\/") + 1);
      std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return (char)std::tolower(c); });
      return b;
    };
    if (o_.wizard)
      r.programs.erase(std::remove_if(r.programs.begin(), r.programs.end(),
                                      [&](const std::string& m) {
                                        return base(m) == base(o_.installer) || base(m) == base(o_.wizardDriver);
                                      }),
                       r.programs.end());
    Snapshot now = Take();
    r.files = DiffFiles(before.files, now.files);
    r.registry = DiffRegistry(before.registry, now.registry);
    for (const Change& c : r.files)
      if (c.kind == Change::Added && EndsWithNoCase(c.what, ".lnk")) {
        std::string bytes;
        ReadAll(UnixPath(c.what), &bytes);
        r.shortcuts.push_back({c.what, ShortcutTarget(bytes)});
      }
    return r;
  }

  std::string UnixPath(const std::string& windows) const {
    std::string p = prefix_ + "/drive_c" + windows.substr(2);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
  }

  static bool IsWineProgram(const std::string& module) {
    static const char* const own[] = {"wineboot", "services", "winedevice", "ntoskrnl", "plugplay", "svchost",
                                      "start",    "explorer", "rpcss",      "conhost",  "winemenubuilder",
                                      "rundll32", "tabtip",   "wmplayer"};
    for (const char* folder : {"C:\\windows\\system32\\", "C:\\windows\\syswow64\\"})
      for (const char* p : own)
        if (StartsWithNoCase(module, folder) && module.size() == std::strlen(folder) + std::strlen(p) + 4 &&
            StartsWithNoCase(module.substr(std::strlen(folder)), p))
          return true;
    return false;
  }

  std::string InstallMeaning(const PackageInfo& p, const Report& r) {
    if (!r.finished) return "did not end in time";
    std::string message;
    if (r.exitCode > 0 && r.exitCode < 254 && !p.groups.empty()) {
      const Bytes& g = p.groups[0].record;
      const char* t = GroupRecordText({g.data(), (u32)g.size()}, 7, (u32)r.exitCode);
      if (t) message = Cp1252ToUtf8(t);
    }
    return ExitCodeMeaning(r.exitCode, message);
  }

  static std::string UninstallMeaning(const Report& r) {
    if (!r.finished) return "did not end in time";
    if (r.exitCode == 0) return "success";
    if (r.exitCode == 255) return "-1: failed";
    if (r.exitCode == 254) return "-2: a restart of Windows is needed to complete the removal";
    return "exit code " + std::to_string(r.exitCode);
  }

  // ------------------------------------------------------------------ output

  static std::string Code(const Report& r) { return r.finished ? std::to_string(r.exitCode) : "none"; }

  void WriteChanges(std::ostream& out, const char* title, const std::vector<Change>& changes, bool files) {
    out << "  " << title << ":" << (changes.empty() ? " none" : "") << "\n";
    for (const Change& c : changes) {
      const bool defaultValue = c.what.size() > 3 && c.what.compare(c.what.size() - 3, 3, "\\[]") == 0;
      out << "    " << ChangeName(c.kind) << " "
          << (defaultValue ? c.what.substr(0, c.what.size() - 2) + "(default)" : c.what);
      if (files && c.kind != Change::Removed) out << " (" << c.size << " bytes)";
      if (!files && c.kind != Change::Removed) out << " = " << ShowRegistryData(c.after);
      if (!files && c.kind == Change::Changed) out << " (was " << ShowRegistryData(c.before) << ")";
      out << "\n";
    }
  }

  void WriteText(std::ostream& out, const Report& install, const std::vector<Uninstallation>& uninstalls,
                 const Report& left) {
    out << "Installation of " << o_.installer << ":\n";
    out << "  exit code " << Code(install) << ": " << install.meaning << "\n";
    WriteChanges(out, "files", install.files, true);
    WriteChanges(out, "registry", install.registry, false);
    out << "  shortcuts:" << (install.shortcuts.empty() ? " none" : "") << "\n";
    for (const auto& [path, target] : install.shortcuts) out << "    " << path << " -> " << (target.empty() ? "?" : target) << "\n";
    out << "  programs started:" << (install.programs.empty() ? " none" : "") << "\n";
    for (const std::string& p : install.programs) out << "    " << p << "\n";
    out << "\nUninstallation:\n";
    if (uninstalls.empty()) out << "  no uninstaller is registered (the installation wrote no Uninstall entry)\n";
    for (const Uninstallation& u : uninstalls) {
      out << "  command " << u.command << "\n";
      out << "  exit code " << Code(u.run) << ": " << u.run.meaning << "\n";
      out << "  programs started:" << (u.run.programs.empty() ? " none" : "") << "\n";
      for (const std::string& p : u.run.programs) out << "    " << p << "\n";
    }
    if (wine_restarted_) out << "  Windows was restarted for the removals left to the restart\n";
    out << "\nLeft behind (compared with the prefix before the installation):\n";
    if (left.files.empty() && left.registry.empty()) out << "  nothing\n";
    else {
      WriteChanges(out, "files", left.files, true);
      WriteChanges(out, "registry", left.registry, false);
    }
    if (o_.keep) out << "\nThe prefix is kept in " << prefix_ << "\n";
  }

  static void JsonChanges(std::ostream& out, const std::vector<Change>& changes, bool files) {
    out << "[";
    for (size_t i = 0; i < changes.size(); ++i) {
      const Change& c = changes[i];
      out << (i ? ",\n    " : "\n    ") << "{\"change\": \"" << ChangeName(c.kind) << "\", ";
      if (files) {
        out << "\"path\": " << JsonString(c.what) << ", \"size\": " << c.size;
      } else {
        size_t bracket = c.what.rfind("\\[");
        bool value = bracket != std::string::npos && c.what.back() == ']';
        out << "\"key\": " << JsonString(value ? c.what.substr(0, bracket) : c.what) << ", \"name\": "
            << (value ? JsonString(c.what.substr(bracket + 2, c.what.size() - bracket - 3)) : "null")
            << ", \"before\": " << (c.before.empty() ? "null" : JsonString(ShowRegistryData(c.before)))
            << ", \"after\": " << (c.after.empty() ? "null" : JsonString(ShowRegistryData(c.after)));
      }
      out << "}";
    }
    out << "]";
  }

  static void JsonPrograms(std::ostream& out, const std::vector<std::string>& programs) {
    out << "[";
    for (size_t i = 0; i < programs.size(); ++i) out << (i ? ", " : "") << JsonString(programs[i]);
    out << "]";
  }

  static void JsonRun(std::ostream& out, const Report& r) {
    out << "\"exit_code\": ";
    if (r.finished) out << (r.exitCode >= 128 ? r.exitCode - 256 : r.exitCode);
    else out << "null";
    out << ", \"meaning\": " << JsonString(r.meaning) << ",\n  \"programs\": ";
    JsonPrograms(out, r.programs);
  }

  void WriteJson(std::ostream& out, const Report& install, const std::vector<Uninstallation>& uninstalls,
                 const Report& left) {
    out << "{\"format\": 1, \"installer\": " << JsonString(o_.installer) << ",\n \"install\": {";
    JsonRun(out, install);
    out << ",\n  \"files\": ";
    JsonChanges(out, install.files, true);
    out << ",\n  \"registry\": ";
    JsonChanges(out, install.registry, false);
    out << ",\n  \"shortcuts\": [";
    for (size_t i = 0; i < install.shortcuts.size(); ++i)
      out << (i ? ", " : "") << "{\"path\": " << JsonString(install.shortcuts[i].first)
          << ", \"target\": " << JsonString(install.shortcuts[i].second) << "}";
    // `uninstall` is the first run (format 1 readers), `uninstalls` every one.
    auto run = [&](const Uninstallation& u) {
      out << "{\"command\": " << JsonString(u.command) << ", ";
      JsonRun(out, u.run);
      out << ", \"restarted\": " << (wine_restarted_ ? "true" : "false") << "}";
    };
    out << "]},\n \"uninstall\": ";
    if (uninstalls.empty()) out << "null";
    else run(uninstalls[0]);
    out << ",\n \"uninstalls\": [";
    for (size_t i = 0; i < uninstalls.size(); ++i) {
      out << (i ? ",\n  " : "");
      run(uninstalls[i]);
    }
    out << "]";
    out << ",\n \"left\": {\"files\": ";
    JsonChanges(out, left.files, true);
    out << ",\n  \"registry\": ";
    JsonChanges(out, left.registry, false);
    out << "}";
    if (o_.keep) out << ",\n \"prefix\": " << JsonString(prefix_);
    out << "}\n";
  }
};

}  // namespace

int TryInstaller(const TryOptions& options, std::ostream& out, std::ostream& err) {
  Trial trial(options, err);
  return trial.Run(out);
}

}  // namespace setrunc
