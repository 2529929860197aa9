#include <gtest/gtest.h>

#include <string.h>

#include "paths/path_text.h"

TEST(SetExtension, ReplacesFromTheLastDotOfTheName) {
  char path[260] = "C:\\App\\tool.exe";
  ASSERT_TRUE(SetExtension(path, ".$$A", sizeof path));
  EXPECT_STREQ(path, "C:\\App\\tool.$$A");

  strcpy(path, "C:\\release.2\\readme");  // the dot belongs to a folder
  ASSERT_TRUE(SetExtension(path, ".$$A", sizeof path));
  EXPECT_STREQ(path, "C:\\release.2\\readme.$$A");
}

TEST(SetExtension, RefusesAResultThatDoesNotFit) {
  char path[12] = "C:\\a\\bcdef";
  EXPECT_FALSE(SetExtension(path, ".D01", sizeof path));
  EXPECT_STREQ(path, "C:\\a\\bcdef");
}

TEST(Backslashes, DriveRootsKeepTheirBackslash) {
  char root[260] = "D:\\", folder[260] = "D:\\Apps\\", empty[260] = "";
  RemoveBackslash(root);
  RemoveBackslash(folder);
  EXPECT_STREQ(root, "D:\\");
  EXPECT_STREQ(folder, "D:\\Apps");
  ASSERT_TRUE(AddBackslash(folder, sizeof folder));
  EXPECT_STREQ(folder, "D:\\Apps\\");
  ASSERT_TRUE(AddBackslash(empty, sizeof empty));
  EXPECT_STREQ(empty, "");
}
