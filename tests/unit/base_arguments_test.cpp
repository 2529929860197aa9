// The arguments behind the program name, as both programs take them from
// their command line.
#include <gtest/gtest.h>

#include <string>

#include "base/arguments.h"

namespace {

TEST(ArgumentsOf, SkipsTheProgramNameQuotedOrNot) {
  struct Case {
    const char* line;
    const char* arguments;
  };
  const Case cases[] = {
      {"setup.exe /S", "/S"},
      {"C:\\Tools\\setup.exe", ""},
      {"\"C:\\Program Files\\Tool\\Uninstall.exe\" /S", "/S"},
      {"\"C:\\Program Files\\Tool\\Uninstall.exe\"", ""},
      // The quoted name ends at its quote, even without a space after it.
      {"\"C:\\a b\\setup.exe\"/D=C:\\x", "/D=C:\\x"},
      // Spaces and tabs before the arguments go; those inside them stay.
      {"setup.exe \t  /S  /D=C:\\Program Files\\Tool ", "/S  /D=C:\\Program Files\\Tool "},
      {"setup.exe\t\"quoted argument\"", "\"quoted argument\""},
      {"\"C:\\x\\y.exe\" \"C:\\a b\\log.txt\"", "\"C:\\a b\\log.txt\""},
      // An unclosed quote takes the whole line; an empty line has none.
      {"\"C:\\unclosed setup.exe /S", ""},
      {"\"\" /S", "/S"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(c.arguments), ArgumentsOf(c.line)) << c.line;

  char writable[] = "setup.exe /S";
  EXPECT_EQ(writable + 10, ArgumentsOf(writable));
}

}  // namespace
