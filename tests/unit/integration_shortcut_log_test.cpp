// The text rules of the shortcuts: folder specifications and their depth,
// the ";"-separated folder list, window states, the extension the shell
// saved a link under, the actual folder, and an item of the shortcut record
// byte by byte.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "integration/shortcut_log.h"

namespace {

std::vector<std::string> Parts(const char* list) {
  std::vector<std::string> parts;
  const char* next = list;
  int first = 1, tooLong = 0;
  char part[16];
  while (NextFolderPart(&next, &first, part, sizeof part, &tooLong))
    parts.push_back(tooLong ? "<too long>" : part);
  return parts;
}

}  // namespace

TEST(ShortcutLog, FolderSpecificationsAndDepths) {
  struct Case {
    const char* spec;
    int desktop;
    const char* subfolder;
    int depth;
  } cases[] = {
      {"Tools", 0, "Tools", 0},
      {"Tools\\Extra", 0, "Tools\\Extra", 1},
      {"", 0, "", 0},
      {"#Desktop#", 1, "", 0},
      {"#desktop#\\Tools", 1, "Tools", 0},
      {"#DESKTOP#Tools\\A\\B", 1, "Tools\\A\\B", 2},
      {"#Desktop", 0, "#Desktop", 0},
      {"Start #Desktop#", 0, "Start #Desktop#", 0},
  };
  for (const Case& c : cases) {
    FolderSpec split = SplitFolderSpec(c.spec);
    EXPECT_EQ(split.desktop, c.desktop) << c.spec;
    EXPECT_STREQ(split.subfolder, c.subfolder) << c.spec;
    EXPECT_EQ(FolderDepth(split.subfolder), c.depth) << c.spec;
  }
}

TEST(ShortcutLog, FolderListParts) {
  typedef std::vector<std::string> List;
  EXPECT_EQ(Parts("Tools;Tools\\Extra"), List({"Tools", "Tools\\Extra"}));
  EXPECT_EQ(Parts("A;"), List({"A"}));
  EXPECT_EQ(Parts(""), List({""}));
  EXPECT_EQ(Parts(";A"), List({"", "A"}));
  EXPECT_EQ(Parts("A;;B"), List({"A", "", "B"}));
  EXPECT_EQ(Parts("A;;"), List({"A", ""}));
  EXPECT_EQ(Parts("A;0123456789abcdefX;B"), List({"A", "<too long>", "B"}));
}

TEST(ShortcutLog, WindowStates) {
  EXPECT_EQ(ShowCommandFor(0), 1);
  EXPECT_EQ(ShowCommandFor(1), 7);
  EXPECT_EQ(ShowCommandFor(2), 3);
  EXPECT_EQ(ShowCommandFor(3), 1);
}

TEST(ShortcutLog, SavedExtension) {
  struct Case {
    const char* link;
    const char* saved;
    const char* result;
  } cases[] = {
      {"C:\\M\\App.lnk", "C:\\M\\App.pif", "C:\\M\\App.pif"},
      {"C:\\M\\App.lnk", "C:\\M\\App.lnk", "C:\\M\\App.lnk"},
      {"C:\\M\\App.lnk", "C:\\M\\App.url2", "C:\\M\\App.lnk"},  // longer: kept
      {"C:\\M\\App.lnk", "C:\\M\\App", "C:\\M\\App.lnk"},        // saved has none
      {"C:\\M\\App", "C:\\M\\App.pif", "C:\\M\\App"},            // link has none
      {"C:\\M.d\\App", "C:\\M.d\\App.pif", "C:\\M.d\\App"},      // a dot in a folder is no extension
      {"C:\\M\\App.lnk", "C:\\M\\App.p", "C:\\M\\App.p"},
  };
  for (const Case& c : cases) {
    char link[64];
    strcpy(link, c.link);
    TakeSavedExtension(link, c.saved);
    EXPECT_STREQ(link, c.result) << c.link << " saved as " << c.saved;
  }
  char path[] = "C:\\M\\App.LNK";
  EXPECT_TRUE(EndsInLnk(path));
  SwapLinkExtension(path, ".pif");
  EXPECT_STREQ(path, "C:\\M\\App.pif");
  EXPECT_FALSE(EndsInLnk(path));
  EXPECT_FALSE(EndsInLnk("lnk"));
}

TEST(ShortcutLog, ActualFolder) {
  struct Case {
    const char* saved;
    const char* link;
    const char* actual;
  } cases[] = {
      {"", "C:\\Menu\\App.lnk", ""},
      {"C:\\Menu\\App.lnk", "C:\\Menu\\App.lnk", ""},
      {"c:\\menu\\app.LNK", "C:\\Menu\\App.lnk", ""},
      {"C:\\Users\\Me\\Menu\\App.lnk", "C:\\Menu\\App.lnk", "C:\\Users\\Me\\Menu"},
      {"C:\\Other\\app.lnk", "C:\\Menu\\App.lnk", "C:\\Other"},
      {"C:\\Other\\Else.lnk", "C:\\Menu\\App.lnk", ""},  // another name
      {"App.lnk", "C:\\Menu\\App.lnk", ""},                // not longer than the name
  };
  for (const Case& c : cases) {
    char actual[64] = "junk";
    ActualFolder(c.saved, c.link, actual, sizeof actual);
    EXPECT_STREQ(actual, c.actual) << c.saved;
  }
  char small[4] = "x";
  ActualFolder("C:\\Users\\App.lnk", "C:\\Menu\\App.lnk", small, sizeof small);
  EXPECT_STREQ(small, "");  // does not fit: left empty
}

TEST(ShortcutLog, ItemBytes) {
  u8 item[ShortcutItemMax];
  u32 length = BuildShortcutItem(item, 1, "C:\\Menu\\Tools\\Extra", "", "App.lnk");
  const std::vector<u8> expected = {1, 19, 0, 'C', ':', '\\', 'M', 'e', 'n', 'u', '\\', 'T',
                                    'o', 'o', 'l', 's', '\\', 'E', 'x', 't', 'r', 'a', 0, 0,
                                    7, 0, 'A', 'p', 'p', '.', 'l', 'n', 'k'};
  EXPECT_EQ(std::vector<u8>(item, item + length), expected);
  length = BuildShortcutItem(item, 0, "D", "E:\\X", "N");
  EXPECT_EQ(std::vector<u8>(item, item + length),
            std::vector<u8>({0, 1, 0, 'D', 4, 0, 'E', ':', '\\', 'X', 1, 0, 'N'}));
  // Texts are cut to 259 bytes: an item never exceeds its maximum.
  std::string huge(1000, 'h');
  EXPECT_EQ(BuildShortcutItem(item, 0, huge.c_str(), huge.c_str(), huge.c_str()), ShortcutItemMax);
}
