// Expansion of folder variables, with the variable values supplied by the
// test (the values themselves come from the registry and the shell and are
// tested under Wine).
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "paths/variables.h"

namespace {

// Token (as written in the text) -> value. A token not listed is unknown.
std::map<std::string, std::string>& Values() {
  static std::map<std::string, std::string> values;
  return values;
}
std::vector<std::string>& Resolved() {
  static std::vector<std::string> tokens;
  return tokens;
}

class ExpandVariablesTest : public testing::Test {
 protected:
  void SetUp() override {
    Values() = {{"#InstallDir#", "D:\\Apps"},
                {"#Windows#", "C:\\Windows"},
                {"#Hash#", "C:\\A#Windows#B"},
                {"#Known#", "#Known#"}};  // a value that cannot be had
    Resolved().clear();
  }
  std::string Expand(const char* text, u32* length = nullptr) {
    std::vector<char> out(ExpandLimit + 16, '?');
    u32 n = ExpandVariables(out.data(), text, (u32)out.size());
    if (length) *length = n;
    return out.data();
  }
};

}  // namespace

// The double of the registry and shell side: works in place on the 260-byte
// buffer like the real one.
void ResolveVariable(char* buffer) {
  Resolved().push_back(buffer);
  auto found = Values().find(buffer);
  if (found == Values().end()) {
    buffer[0] = 0;
    return;
  }
  ASSERT_LT(found->second.size(), 260u);
  strcpy(buffer, found->second.c_str());
}

TEST_F(ExpandVariablesTest, PlainTextAndLoneMarksStayAsTheyAre) {
  u32 length = 0;
  EXPECT_EQ(Expand("C:\\Program\\tool.exe", &length), "C:\\Program\\tool.exe");
  EXPECT_EQ(length, 19u);
  EXPECT_EQ(Expand("abc#def", &length), "abc#def");
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(Expand("#InstallDir#\\x#", &length), "D:\\Apps\\x#");
  EXPECT_EQ(Expand(""), "");
  EXPECT_TRUE(Resolved() == std::vector<std::string>{"#InstallDir#"});
}

TEST_F(ExpandVariablesTest, UnknownTokensVanish) {
  EXPECT_EQ(Expand("a#b#c#d"), "ac#d");
  EXPECT_EQ(Expand("##"), "");
  EXPECT_EQ(Expand("x##y"), "xy");
  EXPECT_EQ(Expand("#Nothing#\\tool"), "\\tool");
}

TEST_F(ExpandVariablesTest, TokensAreReplacedByTheirValues) {
  EXPECT_EQ(Expand("#InstallDir#\\bin;#Windows#"), "D:\\Apps\\bin;C:\\Windows");
  // Two tokens back to back: scanning goes on after the closing mark.
  EXPECT_EQ(Expand("#InstallDir##Windows#"), "D:\\AppsC:\\Windows");
  // A known variable without a value stays as its token.
  EXPECT_EQ(Expand("#Known#\\x"), "#Known#\\x");
}

TEST_F(ExpandVariablesTest, ValuesAreNeverScannedAgain) {
  EXPECT_EQ(Expand("#Hash#\\x"), "C:\\A#Windows#B\\x");
  EXPECT_EQ(Resolved().size(), 1u);
}

TEST_F(ExpandVariablesTest, ANullDestinationOrSizeZeroOnlyMeasures) {
  EXPECT_EQ(ExpandVariables(nullptr, "#InstallDir#\\bin", ExpandLimit), 11u);
  char untouched[8] = "keep";
  EXPECT_EQ(ExpandVariables(untouched, "#InstallDir#\\bin", 0), 11u);
  EXPECT_STREQ(untouched, "keep");
}

TEST_F(ExpandVariablesTest, TheTwoCallPatternGivesTheWholeText) {
  const char* text = "#Windows#\\#InstallDir#\\readme.txt";
  u32 length = ExpandVariables(nullptr, text, ExpandLimit);
  std::vector<char> buffer(length + 1, '?');
  EXPECT_EQ(ExpandVariables(buffer.data(), text, length + 1), length);
  EXPECT_STREQ(buffer.data(), "C:\\Windows\\D:\\Apps\\readme.txt");
}

TEST_F(ExpandVariablesTest, TextThatDoesNotFitIsCutAndTerminated) {
  char small[8];
  memset(small, '?', sizeof small);
  EXPECT_EQ(ExpandVariables(small, "#InstallDir#\\bin\\tool.exe", 6), 20u);
  EXPECT_STREQ(small, "D:\\Ap");
  EXPECT_EQ(small[6], '?');  // nothing beyond the size is written
  // Exactly fitting.
  EXPECT_EQ(ExpandVariables(small, "#InstallDir#", 8), 7u);
  EXPECT_STREQ(small, "D:\\Apps");
  // Size 1 leaves an empty text.
  EXPECT_EQ(ExpandVariables(small, "abc", 1), 3u);
  EXPECT_STREQ(small, "");
}

TEST_F(ExpandVariablesTest, ExpandsInPlace) {
  char path[260] = "#InstallDir#\\sub\\#Nothing#file.txt";
  EXPECT_EQ(ExpandVariables(path, path, sizeof path), 20u);
  EXPECT_STREQ(path, "D:\\Apps\\sub\\file.txt");
  // In place and cut: the source is read whole before the result is written.
  char shortPath[10] = "#Windows#";
  EXPECT_EQ(ExpandVariables(shortPath, shortPath, sizeof shortPath), 10u);
  EXPECT_STREQ(shortPath, "C:\\Window");
}

TEST_F(ExpandVariablesTest, ExpansionStopsAtTheWorkBufferLimit) {
  // Plain text longer than the work buffer.
  std::string plain(ExpandLimit + 100, 'x');
  std::vector<char> out(ExpandLimit + 200, '?');
  u32 length = ExpandVariables(out.data(), plain.c_str(), (u32)out.size());
  EXPECT_EQ(length, ExpandLimit - 1);
  EXPECT_EQ(strlen(out.data()), ExpandLimit - 1);

  // Values that together pass the limit, one token reaching over it.
  Values()["#Long#"] = std::string(259, 'v');
  std::string tokens;
  for (int i = 0; i < 300; ++i) tokens += "#Long#";
  EXPECT_EQ(ExpandVariables(nullptr, tokens.c_str(), 0), ExpandLimit - 1);
  length = ExpandVariables(out.data(), tokens.c_str(), (u32)out.size());
  EXPECT_EQ(length, ExpandLimit - 1);
  EXPECT_EQ(std::string(out.data()), std::string(ExpandLimit - 1, 'v'));
}

TEST_F(ExpandVariablesTest, ATokenTooLongForAValueBufferVanishes) {
  std::string text = "a#" + std::string(400, 'n') + "#b";
  EXPECT_EQ(Expand(text.c_str()), "ab");
  EXPECT_TRUE(Resolved().empty());
  // The longest token that still reaches the resolver.
  std::string longest = "#" + std::string(257, 'n') + "#";
  EXPECT_EQ(Expand(longest.c_str()), "");
  EXPECT_EQ(Resolved().size(), 1u);
}
