// The markup of formatted texts: plain text, runs and links.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "wizard/markup.h"

namespace {

const char* const RowNames[MarkupTagCount] = {"b",    "i",     "u",   "s",     "link", "size",
                                              "black", "white", "red", "green", "blue"};

// A parse result in one line: runs as name@start-end (the font size row with
// its value), links as start=target.
struct Parsed {
  std::string plain;
  std::string runs;
  std::string links;
};

Parsed Parse(const char* text, int crLfIsOneCharacter = 0) {
  ParsedMarkup parsed;
  EXPECT_EQ(1, ParseMarkup(text, crLfIsOneCharacter, &parsed));
  Parsed result;
  result.plain.assign(parsed.plain, parsed.plainLength);
  EXPECT_EQ(result.plain.size(), strlen(parsed.plain));
  for (u32 i = 0; i < parsed.runCount; ++i) {
    const MarkupRun& run = parsed.runs[i];
    if (!result.runs.empty()) result.runs += ' ';
    result.runs += RowNames[run.row];
    if (run.row == MarkupRowFontSize) result.runs += "(" + std::to_string(run.size) + ")";
    result.runs += "@" + std::to_string(run.start) + "-" + std::to_string(run.end);
  }
  u32 links = 0;
  if (parsed.links) {
    const LinkEntry* e = (const LinkEntry*)parsed.links;
    for (; e->start != LinkListEnd; ++e, ++links) {
      if (!result.links.empty()) result.links += ' ';
      result.links += std::to_string(e->start) + "=" + ((const char*)parsed.links + e->target);
    }
  }
  EXPECT_EQ(parsed.linkCount, links);
  FreeParsedMarkup(&parsed);
  EXPECT_EQ(nullptr, parsed.links);
  return result;
}

struct Case {
  const char* text;
  const char* plain;
  const char* runs;
  const char* links;
};

void Check(const Case* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    Parsed p = Parse(cases[i].text);
    EXPECT_EQ(cases[i].plain, p.plain) << cases[i].text;
    EXPECT_EQ(cases[i].runs, p.runs) << cases[i].text;
    EXPECT_EQ(cases[i].links, p.links) << cases[i].text;
  }
}

TEST(Markup, RunsOfEveryTag) {
  const Case cases[] = {
      {"", "", "", ""},
      {"no tags at all", "no tags at all", "", ""},
      {"a<b>bold</b>c", "aboldc", "b@1-5", ""},
      {"<i>x</i><u>y</u><s>z</s>", "xyz", "i@0-1 u@1-2 s@2-3", ""},
      {"<black>k</black><white>w</white><red>r</red><green>g</green><blue>b</blue>", "kwrgb",
       "black@0-1 white@1-2 red@2-3 green@3-4 blue@4-5", ""},
      // Letter case does not matter.
      {"<B>x</b><RED>y</Red>", "xy", "b@0-1 red@1-2", ""},
      // Runs stay in the order recorded: inner ones close first.
      {"<b>a<red>b</red>c</b>", "abc", "red@1-2 b@0-3", ""},
      {"<b>a<i>b</b>c</i>", "abc", "b@0-2 i@1-3", ""},
      // A second opening inside an open row changes nothing; the first
      // closing ends the run and a further one stays as typed.
      {"<b>a<b>b</b>c</b>", "abc</b>", "b@0-2", ""},
      // Opened again after closing: a new run.
      {"<u>a</u>b<u>c</u>", "abc", "u@0-1 u@2-3", ""},
      {"<b></b>x", "x", "b@0-0", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, UnclosedTagsRunToTheEndInRowOrder) {
  const Case cases[] = {
      {"x<b>yz", "xyz", "b@1-3", ""},
      {"<red>a<b>b", "ab", "b@1-2 red@0-2", ""},
      {"<i>a</i><i>b", "ab", "i@0-1 i@1-2", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, WhatIsNoTagStaysAsTyped) {
  const Case cases[] = {
      {"a < b", "a < b", "", ""},
      {"1<2 and <c> <bold> <link <fontsize 12>", "1<2 and <c> <bold> <link <fontsize 12>", "", ""},
      {"a</b>b</link>c</font>", "a</b>b</link>c</font>", "", ""},
      {"<<b>x</b>", "<x", "b@1-2", ""},
      {"ends in <", "ends in <", "", ""},
      {"<", "<", "", ""},
      {"</", "</", "", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, FontSizeTakesOnlyDigits) {
  const Case cases[] = {
      {"<fontsize=12>x</font>", "x", "size(12)@0-1", ""},
      {"<FontSize=1a2>x</FONT>", "x", "size(12)@0-1", ""},
      {"<fontsize= 9 pt>x</font>", "x", "size(9)@0-1", ""},
      {"<fontsize=>x</font>", "x", "size(0)@0-1", ""},
      // The value current at the closing tag; the open position stays.
      {"<fontsize=8>a<fontsize=20>b</font>", "ab", "size(20)@0-2", ""},
      {"<fontsize=10>a</font><b>b", "ab", "size(10)@0-1 b@1-2", ""},
      // Digits beyond any font size do not overflow.
      {"<fontsize=99999999999999999999>x</font>", "x", "size(1638)@0-1", ""},
      {"<fontsize=4294967297>x</font>", "x", "size(1638)@0-1", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, Links) {
  const Case cases[] = {
      {"See <link=http://example.org/>the site</link>.", "See the site.", "link@4-12",
       "4=http://example.org/"},
      {"<link=#InstallDir#\\a.txt>A</link> and <LINK=b.htm><b>B</b></LINK>", "A and B",
       "link@0-1 b@6-7 link@6-7", "0=#InstallDir#\\a.txt 6=b.htm"},
      // The argument runs to the next ">", whatever it holds.
      {"<link=a<b>x</link>", "x", "link@0-1", "0=a<b"},
      // An empty argument makes a run but no link.
      {"<link=>x</link>", "x", "link@0-1", ""},
      // A link with no text cannot be clicked and would shadow the next one.
      {"<link=a></link><link=b>x</link>", "x", "link@0-0 link@0-1", "0=b"},
      // Opened twice: the first position stays, the last target counts.
      {"<link=a>x<link=b>y</link>", "xy", "link@0-2", "0=b"},
      // Never closed: a run to the end but no link.
      {"<link=a>x", "x", "link@0-1", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, TextEndingInsideATag) {
  const Case cases[] = {
      {"ab<link=http://example", "ab", "link@2-2", ""},
      {"ab<fontsize=12", "ab", "size(12)@2-2", ""},
      {"<b>ab<link=", "ab", "b@0-2 link@2-2", ""},
  };
  Check(cases, sizeof cases / sizeof *cases);
}

TEST(Markup, LineBreaksCountAsOneCharacterWhenAsked) {
  const char* text = "a\r\n<b>b</b>\r\n\r\n<link=t>c</link>\n\rd";
  Parsed twice = Parse(text, 0);
  Parsed once = Parse(text, 1);
  EXPECT_EQ("a\r\nb\r\n\r\nc\n\rd", once.plain);
  EXPECT_EQ(twice.plain, once.plain);
  EXPECT_EQ("b@3-4 link@8-9", twice.runs);
  EXPECT_EQ("8=t", twice.links);
  EXPECT_EQ("b@2-3 link@5-6", once.runs);
  EXPECT_EQ("5=t", once.links);
  // A pair split by a tag is still one line break in the plain text.
  EXPECT_EQ("b@2-3", Parse("a\r<b>\nx</b>", 1).runs);
  // CR CR LF is one line break too.
  EXPECT_EQ("b@2-3", Parse("a\r\r\n<b>b</b>", 1).runs);
  EXPECT_EQ("b@3-4", Parse("a\r\r\r\n<b>b</b>", 1).runs);
  // A link whose text went into such a break gives way to the next one.
  Parsed merged = Parse("\r<link=a>\r</link>\n<link=b>x</link>", 1);
  EXPECT_EQ("link@1-2 link@1-2", merged.runs);
  EXPECT_EQ("1=b", merged.links);
}

TEST(Markup, StorageFollowsTheText) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "<b>x</b><link=t" + std::to_string(i % 10) + ">y</link>";
  ParsedMarkup parsed;
  ASSERT_EQ(1, ParseMarkup(text.c_str(), 0, &parsed));
  EXPECT_EQ(40000u, parsed.plainLength);
  EXPECT_EQ(40000u, parsed.runCount);
  EXPECT_EQ(20000u, parsed.linkCount);
  EXPECT_STREQ("t1", FindLinkInList(parsed.links, 3));
  EXPECT_STREQ("t9", FindLinkInList(parsed.links, 39999));
  FreeParsedMarkup(&parsed);
  // A null text is empty.
  ASSERT_EQ(1, ParseMarkup(nullptr, 0, &parsed));
  EXPECT_STREQ("", parsed.plain);
  EXPECT_EQ(0u, parsed.runCount);
  FreeParsedMarkup(&parsed);
}

TEST(Markup, FindLinkInList) {
  ParsedMarkup parsed;
  ASSERT_EQ(1, ParseMarkup("<link=one>1</link> <link=two>22</link>", 0, &parsed));
  EXPECT_STREQ("one", FindLinkInList(parsed.links, 0));
  EXPECT_STREQ("two", FindLinkInList(parsed.links, 2));
  EXPECT_EQ(nullptr, FindLinkInList(parsed.links, 1));
  EXPECT_EQ(nullptr, FindLinkInList(parsed.links, LinkListEnd));
  EXPECT_EQ(nullptr, FindLinkInList(nullptr, 0));
  FreeParsedMarkup(&parsed);
}

}  // namespace
