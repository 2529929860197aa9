#include "builder/texts.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace setrunc {

TextGroups DefaultTexts(const std::string& title) { return DefaultTexts(title, title, ""); }

TextGroups DefaultTexts(const std::string& title, const std::string& product,
                        const std::string& publisher) {
  const std::string& p = product;
  // Headings of the pages with a side pane: the page title is not shown there.
  auto heading = [](const std::string& text) { return "<fontsize=12><b>" + text + "</b></font>"; };
  TextGroups g;
  g[PageWelcome] = {
      "Welcome",
      "Setup of " + p,
      heading("Welcome to the setup of " + p),
      "This wizard installs " + p + (publisher.empty() ? "" : " by " + publisher) + " on your computer.",
      "Please close all other programs before you continue.",
      "Click Next to continue, or Close to leave Setup.",
  };
  g[PageInformation] = {
      "Information",
      "Please read the following information before you continue.",
      "",  // the information text
      "",  // the Next label of this page when not empty
  };
  g[PageLicence] = {
      "Licence agreement",
      "Please read the following licence agreement carefully.",
      "",  // the licence text
      "Do you accept all the terms of the licence agreement?",
      "I accept the agreement",
      "I do not accept the agreement",
  };
  g[PageInstallFolder] = {
      "Installation folder",
      "Where should " + p + " be installed?",
      "Setup will install " + p + " into the following folder.",
      "To continue, click Next. To choose another folder, type its path or click the button beside it.",
      "",
      "",
      "Space required:",
      "Space available:",
      "%d MB",
  };
  g[PageReady] = {
      "Ready to install",
      "Setup is ready to install " + p + " on your computer.",
      "Setup will install " + p + " with the following settings.",
      "<b>Installation folder</b>\r\n%s",
      "",
      "Click Install to start the installation, or Back to change the settings.",
  };
  g[PageInstalling] = {
      "Installing",
      "Please wait while Setup installs " + p + " on your computer.",
      "Setup is copying the files. This may take a few minutes.",
      "",
  };
  g[PageFinish] = {
      "Setup complete",
      p + " has been installed.",
      heading("Completing the setup of " + p),
      "Setup has finished installing " + p + " on your computer.",
      "Click Close to leave Setup.",
      "<b>" + p + " has not been installed.</b>\r\n\r\n%s",
      "Start " + p,
      "Start " + p + " when Setup closes",
      "Your computer must be restarted to complete the installation of " + p +
          ". Do you want to restart it now?",
      "",  // any text here asks for a restart after every installation
  };
  std::vector<std::string>& m = g[7];
  m.assign(33, "");
  m[0] = title;
  m[1] = "Choose the folder to install " + p + " into.";
  m[4] = "Checking the installation folder...";
  m[5] = "The installation folder is not valid or cannot be created. Please choose another folder.";
  m[6] = "The installation folder does not exist yet. Do you want to create it?";
  m[7] = "Some of the files to be replaced are write-protected. Do you want to replace them anyway?";
  // 11 is both the question on the folder page and the message of result 11.
  m[11] = "There is not enough free disk space for the installation. Do you want to continue anyway?";
  m[12] = "There is not enough memory to unpack %s.";
  m[13] = "Do you want to stop the installation?";
  m[14] = "Setup is not complete. If you leave now, " + p +
          " will not be installed.\r\n\r\nDo you want to leave Setup?";
  m[15] = "The installation of " + p + " was not completed.";
  m[16] = "Setup cannot open its data in %s.";
  m[17] = "The file %s cannot be created.";
  m[18] = "The data of %s is damaged or cannot be read.";
  m[19] = "The file %s cannot be written. The disk may be full.";
  m[21] = "The file %s is damaged and was not installed.";
  m[22] = "The file %s is in use and cannot be replaced. Close the program that uses it and run Setup again.";
  m[28] = "Please insert disk %d and click OK.";
  m[29] = "A newer version of %s is already installed. Do you want to replace it with the older one?";
  m[30] = "The file %s on your computer is in another language. Do you want to replace it?";
  // Shown as it stands when the package is incomplete, and as the reason of
  // result 31 behind the name of the file: no %s.
  m[31] = "The setup data is incomplete or damaged.";
  m[32] = "The file %s is damaged. Do you want to keep it anyway?";
  // 8/2 is the only button of the finish page and the second button of the
  // restart question as well as Cancel on the other pages: "Close" fits all.
  g[8] = {"< Back", "Next >", "Close", "Install", "", "Cancel", "Restart now"};
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
