#include "builder/init_project.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "builder/codepage.h"
#include "builder/model.h"

namespace setrunc {

namespace fs = std::filesystem;

namespace {

// A TOML basic string.
std::string Toml(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The folder's name as a product name the setup program can show and
// Windows can use as a folder name: characters Windows does not allow in
// names become '-', characters code page 1252 lacks '_'.
std::string ProductName(const std::string& folderName) {
  std::string name;
  for (char c : folderName) name += std::string("<>:\"/\\|?*").find(c) != std::string::npos || (unsigned char)c < 0x20 ? '-' : c;
  std::string ansi, bad;
  if (!Utf8ToCp1252(name, &ansi, &bad)) {
    std::string plain;
    for (char c : name) plain += (unsigned char)c < 0x80 ? c : '_';
    name = plain;
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name.empty() ? "Product" : name;
}

bool IsLicenceName(const std::string& file) {
  std::string stem = file.substr(0, file.find('.'));
  std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return (char)std::tolower(c); });
  return stem == "license" || stem == "licence" || stem == "copying";
}

// `path` relative to `base` when it lies below it, else absolute; with '/'.
std::string RelativeTo(const fs::path& path, const fs::path& base) {
  fs::path rel = path.lexically_relative(base);
  if (rel.empty()) return path.generic_string();
  std::string r = rel.generic_string();
  if (r == "." || r.compare(0, 2, "..") != 0) return r;
  return path.generic_string();
}

}  // namespace

StarterProject MakeStarterProject(const std::string& folderArgument, const std::string& projectPath) {
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(folderArgument, ec), ec);
  if (ec || !fs::is_directory(folder, ec)) throw BuildError("'" + folderArgument + "' is not a folder");
  const fs::path project = fs::weakly_canonical(fs::absolute(projectPath, ec), ec);
  const fs::path projectFolder = project.parent_path();

  StarterProject s;
  s.product = ProductName(folder.filename().string());
  const std::string output = s.product + "-setup.exe";
  const bool projectInside = projectFolder == folder;
  std::vector<std::string> licences;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    if (projectInside && it.depth() == 0 && (it->path() == project || name == output)) continue;
    ++s.files;
    s.bytes += (uint64_t)it->file_size(ec);
    if (it.depth() == 0 && IsLicenceName(name)) licences.push_back(name);
  }
  if (ec) throw BuildError("cannot read the folder '" + folderArgument + "': " + ec.message());
  if (s.files == 0) throw BuildError("the folder '" + folderArgument + "' holds no files to install");
  std::sort(licences.begin(), licences.end());
  // A licence the setup program cannot show (not text in code page 1252)
  // would fail the build: it is then left out, and said so.
  for (const std::string& l : licences) {
    std::ifstream in(folder / l, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), ansi, bad;
    if (Utf8ToCp1252(text, &ansi, &bad)) {
      s.licence = l;
      break;
    }
    s.skippedLicence = l;
  }

  const std::string source = RelativeTo(folder, projectFolder);
  const std::string prefix = source == "." ? "" : source + "/";
  std::string t;
  t += "# The installer of " + s.product + ", made by setrunc init. Build it with\n";
  t += "#   setrunc build " + project.filename().string() + "\n";
  t += "product = " + Toml(s.product) + "   # worked into every text, the folder and the installed-programs entry\n";
  t += "# version = \"1.0\"   # shown behind the product's name\n";
  t += "# publisher = \"Your Company\"   # named on the welcome page\n";
  t += "output = " + Toml(output) + "   # the installer to write, beside this file\n\n";
  t += "[[group]]\n";
  t += "folder = " + Toml("#Program Files#\\" + s.product) + "   # where it installs; the user may change it\n";
  if (!s.licence.empty()) t += "licence = " + Toml(prefix + s.licence) + "   # shown on the licence page\n";
  t += "\n[[group.file]]\n";
  t += "source = " + Toml(source) + "   # every file below this folder: " + std::to_string(s.files) + " files, " +
       std::to_string(s.bytes) + " bytes\n";
  t += "name = \".\"   # installed as they lie in it, into the installation folder\n";
  if (projectInside)
    t += "exclude = [" + Toml(project.filename().string()) + ", " + Toml(output) + "]   # not these\n";
  s.text = t;
  return s;
}

}  // namespace setrunc
