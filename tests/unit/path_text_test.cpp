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

TEST(WriteDecimal, PadsToTheLeastNumberOfDigits) {
  char out[11];
  EXPECT_EQ(1u, WriteDecimal(out, 0, 1));
  EXPECT_STREQ(out, "0");
  EXPECT_EQ(2u, WriteDecimal(out, 7, 2));
  EXPECT_STREQ(out, "07");
  EXPECT_EQ(3u, WriteDecimal(out, 123, 2));
  EXPECT_STREQ(out, "123");
  EXPECT_EQ(8u, WriteDecimal(out, 20261207, 1));
  EXPECT_STREQ(out, "20261207");
  EXPECT_EQ(10u, WriteDecimal(out, 0xFFFFFFFFu, 12));
  EXPECT_STREQ(out, "4294967295");
}
