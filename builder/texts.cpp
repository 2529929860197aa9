#include "builder/texts.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace setrunc {

TextGroups DefaultTexts(const std::string& title) {
  const std::string& t = title;
  TextGroups g;
  g[PageWelcome] = {
      "Welcome",
      "Setup of " + t,
      "Welcome to the setup of " + t + ".",
      "This wizard installs " + t + " on your computer.",
      "Please close all other programs before you go on.",
      "Click Next to continue, or Cancel to leave the setup.",
  };
  g[PageInformation] = {
      "Information",
      "Please read the following information.",
      "",
      "",  // the Next label of this page when not empty
  };
  g[PageLicence] = {
      "Licence agreement",
      "Please read the licence agreement.",
      "",
      "Do you accept the terms of the licence agreement?",
      "I accept the agreement",
      "I do not accept the agreement",
  };
  g[PageInstallFolder] = {
      "Installation folder",
      "Where should " + t + " be installed?",
      "Setup will install " + t + " into the following folder.",
      "To install into another folder, type its path or click the button to choose one.",
      "",
      "",
      "Space needed:",
      "Space available:",
      "%d MB",
  };
  g[PageReady] = {
      "Ready to install",
      "Setup is ready to install " + t + ".",
      "Click Install to begin the installation.",
      t + " will be installed into %s.",
      "",
      "",
  };
  g[PageInstalling] = {
      "Installing",
      "Please wait while " + t + " is installed.",
      "Installing:",
      "",
  };
  g[PageFinish] = {
      "Setup complete",
      t + " has been installed.",
      "Setup has finished installing " + t + " on your computer.",
      "Click Cancel to leave the setup.",
      "",
      "The installation did not complete: %s",
      "Start " + t,
      "Start " + t + " now",
      "Your computer must be restarted to complete the installation. Restart now?",
      "",  // any text here asks for a restart after every installation
  };
  std::vector<std::string>& m = g[7];
  m.assign(33, "");
  m[0] = t;
  m[1] = "Choose the installation folder";
  m[4] = "Checking the installation folder...";
  m[5] = "The installation folder is not valid or cannot be created.";
  m[6] = "The installation folder does not exist. Do you want to create it?";
  m[7] = "Some files to be replaced are write-protected. Replace them anyway?";
  // 11 is both the question on the folder page and the message of result 11.
  m[11] = "There is not enough free disk space for the installation. Continue anyway?";
  m[12] = "There is not enough memory to unpack %s.";
  m[13] = "Do you want to stop the installation?";
  m[14] = "Do you want to leave the setup? " + t + " has not been installed yet.";
  m[15] = "The installation was not completed.";
  m[16] = "The setup data %s cannot be opened.";
  m[17] = "The file %s cannot be created.";
  m[18] = "The file %s is damaged or cannot be read.";
  m[19] = "The file %s cannot be written.";
  m[21] = "The file %s was not installed correctly.";
  m[22] = "The file %s is in use and cannot be replaced.";
  m[28] = "Please insert disk %d.";
  m[29] = "The existing file %s is newer than the one to be installed. Replace it anyway?";
  m[30] = "The existing file %s is in another language. Replace it anyway?";
  // Shown as it stands when the package is incomplete, and as the reason of
  // result 31 behind the name of the file: no %s.
  m[31] = "The setup data is incomplete or damaged.";
  m[32] = "The file %s is damaged. Do you want to keep it anyway?";
  g[8] = {"< Back", "Next >", "Cancel", "Install", "", "Cancel", "Restart now"};
  return g;
}

bool ParseTextKey(const std::string& key, unsigned* group, unsigned* number) {
  size_t slash = key.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 >= key.size()) return false;
  auto digits = [](const std::string& s) {
    if (s.empty() || s.size() > 3) return false;
    for (char c : s)
      if (!std::isdigit((unsigned char)c)) return false;
    return true;
  };
  std::string g = key.substr(0, slash), n = key.substr(slash + 1);
  if (!digits(g) || !digits(n)) return false;
  unsigned gv = (unsigned)std::atoi(g.c_str()), nv = (unsigned)std::atoi(n.c_str());
  if (gv >= TextGroupCount || nv > MaxTextNumber) return false;
  *group = gv;
  *number = nv;
  return true;
}

namespace {

// The conversions of a printf format, by their type letter; '!' stands for a
// lone % at the end of the text.
std::string Conversions(const std::string& text) {
  std::string types;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    if (j < text.size() && text[j] == '%') {
      i = j;
      continue;
    }
    while (j < text.size() && std::strchr("-+ #0", text[j])) ++j;
    while (j < text.size() && (std::isdigit((unsigned char)text[j]) || text[j] == '.')) ++j;
    while (j < text.size() && std::strchr("hlI", text[j])) ++j;
    if (j >= text.size()) {
      types += '!';
      break;
    }
    types += text[j];
    i = j;
  }
  return types;
}

bool IsIntegerType(char c) { return c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X'; }

}  // namespace

std::string CheckTextFormat(unsigned group, unsigned number, const std::string& text) {
  enum { None, OneString, OneNumber, StringIfAny } rule = None;
  if (group == 3 && number == 8) rule = OneNumber;
  else if ((group == 4 && number == 3) || (group == 6 && number == 5)) rule = OneString;
  else if (group == 7 && number == 28) rule = OneNumber;
  else if (group == 7 && (number == 29 || number == 30 || number == 32)) rule = OneString;
  else if (group == 7 && number != 0) rule = StringIfAny;
  if (rule == None) return "";
  std::string types = Conversions(text);
  if (rule == StringIfAny) {
    // Such a text is used as a format only when it contains "%s".
    if (text.find("%s") == std::string::npos) return "";
    rule = OneString;
  }
  if (types.size() > 1)
    return "may hold at most one printf conversion (the setup program passes one argument)";
  if (types.empty()) return "";
  char c = types[0];
  if (c == '!') return "ends with a lone % (write %% for a percent sign)";
  if (rule == OneString && c != 's')
    return std::string("may hold only a %s conversion, not %") + c;
  if (rule == OneNumber && !IsIntegerType(c))
    return std::string("may hold only a %d conversion, not %") + c;
  return "";
}

}  // namespace setrunc
