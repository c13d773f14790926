// The token handlers: group scoping, control words, the end of the document, stray braces,
// skipped destinations, special characters and unmapped bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "translate/translate_fixture.h"

namespace quillo::test {
namespace {

using GroupsTest = TranslateTest;

constexpr char kHead[] = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}{\\f1 Arial;}}";

std::string Doc(const std::string& body) { return std::string(kHead) + body + "\\par}"; }

TEST_F(GroupsTest, CharacterAttributesFollowGroupsAndWords) {
  struct Case {
    const char* body;
    const char* page;
  };
  const Case cases[] = {
      // Each group restores the attributes on its closing brace.
      {"{\\b bold}{\\i italic}", "<p><b>bold</b><i>italic</i></p>\n"},
      // Switching italic off keeps bold on.
      {"\\b\\i x\\i0 y", "<p><b><i>x</i>y</b></p>\n"},
      {"\\b bold\\b0  plain", "<p><b>bold</b> plain</p>\n"},
      {"{\\b\\i both}after", "<p><b><i>both</i></b>after</p>\n"},
      {"\\b x\\plain y", "<p><b>x</b>y</p>\n"},
      // Hidden text is dropped through the _Discard tag of .TMatch.
      {"a{\\v hidden}b", "<p>ab</p>\n"},
      {"one\\par two", "<p>one</p>\n<p>two</p>\n"},
      {"a\\tab b\\line c", "<p>a[tab]b<br>c</p>\n"},
      {"\\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote\\~x",
       "<p>&mdash;&ndash;&bull;&lsquo;&rsquo;&ldquo;&rdquo;&nbsp;x</p>\n"},
      {"\\'e9\\{\\}\\\\", "<p>&eacute;{}\\</p>\n"},
      {"<&>", "<p>&lt;&amp;&gt;</p>\n"},
  };
  for (const Case& c : cases) {
    Conversion result = Convert(kSimpleTables, Doc(c.body));
    EXPECT_TRUE(result.converted) << c.body;
    EXPECT_EQ(result.page, c.page) << c.body;
  }
}

TEST_F(GroupsTest, FontSizeIsHalfPointsRoundedDown) {
  std::string tables = kSimpleTables;
  tables += ".TTag\nSized \"<s $FontSize;>\" \"</s>\"\n.TMatch\n\"\" 0 Underline \"\" \"\" Sized\n";
  Conversion result = Convert(tables, Doc("{\\fs23\\ul x}{\\fs24\\ul y}"), {"-D", "FontScale=1"});
  EXPECT_EQ(result.page, "<p><s 11>x</s><s 12>y</s></p>\n");
}

TEST_F(GroupsTest, ComplexScriptTextTakesTheSizeGivenAfterRtlch) {
  std::string tables = kSimpleTables;
  tables += ".TTag\nSized \"<s $FontSize;>\" \"</s>\"\n.TMatch\n\"\" 0 Underline \"\" \"\" Sized\n";
  struct Case {
    const char* body;
    const char* page;
  };
  const Case cases[] = {
      // A left-to-right run: \afs after \rtlch is the Hebrew size; digits and Latin letters
      // keep \fs, blanks and punctuation the size of the text before them.
      {"\\ul\\rtlch\\afs32\\ltrch\\fs20 \\u1513?\\u1500?, 17 ab",
       "<p><s 16>&#1513;&#1500;, </s><s 10>17 ab</s></p>\n"},
      // A right-to-left run: the size after \rtlch is the Hebrew one, whichever word gives it.
      {"\\ul\\ltrch\\afs24\\rtlch\\fs20 \\u1513? 25", "<p><s 10>&#1513; </s><s 12>25</s></p>\n"},
      // No direction word: \fs for Latin text, \afs for the complex script.
      {"\\ul\\fs20\\afs32 a\\u1575?", "<p><s 10>a</s><s 16>&#1575;</s></p>\n"},
      // A blank after a run of Hebrew goes with the text of the next run.
      {"\\ul\\fs20\\afs32 {\\f1 \\u1513?} a", "<p><s 16>&#1513;</s><s 10> a</s></p>\n"},
      // A rule of underscores to write on is punctuation, not Latin text.
      {"\\ul\\fs20\\afs32 \\u1513?__ a", "<p><s 16>&#1513;__ </s><s 10>a</s></p>\n"},
      // \plain resets \afs to 12 points; Thai has that size under any \fs.
      {"\\ul\\afs40\\plain\\ul\\fs40 ab \\u3585?", "<p><s 20>ab </s><s 12>&#3585;</s></p>\n"},
      // A group takes back its direction word: \fs after it sets the Latin size again.
      {"\\ul{\\rtlch\\fs40 \\u1513?}\\fs30 x", "<p><s 20>&#1513;</s><s 15>x</s></p>\n"},
      // Sizes that agree leave the text in one element, whatever its script.
      {"\\ul\\fs20\\afs20 a\\u1513?1", "<p><s 10>a&#1513;1</s></p>\n"},
  };
  for (const Case& c : cases) {
    Conversion result = Convert(tables, Doc(c.body), {"-D", "FontScale=1"});
    EXPECT_EQ(result.page, c.page) << c.body;
  }
}

TEST_F(GroupsTest, TextAfterTheDocumentsClosingBraceIsNeverRead) {
  Conversion result = Convert(kSimpleTables, Doc("inside") + "ZZTAIL{\\b ZZGROUP}}}}");
  EXPECT_EQ(result.page, "<p>inside</p>\n");
  EXPECT_EQ(result.errors.find("Popped"), std::string::npos);
}

TEST_F(GroupsTest, UnknownWordsAfterStarSkipTheirGroupOthersAreIgnored) {
  Conversion result =
      Convert(kSimpleTables, Doc("{\\*\\unknownword hidden}{\\unknownword shown}"
                                 "{\\header head}{\\*\\listtable{\\leveltext x}}{\\*\\bkmkstart bm}"
                                 "{\\pict\\wmetafile8 0102}{\\*\\generator gen;}end"));
  EXPECT_EQ(result.page, "<p>shownend</p>\n");
}

TEST_F(GroupsTest, ClosingBraceWithoutGroupIsReportedAndConversionGoesOn) {
  // \* before an unknown word at the document level skips to the document's closing brace, so
  // the braces after it close groups that are not open.
  Conversion result = Convert(kSimpleTables, "{\\rtf1 a\\*\\zz b}c}d}e");
  EXPECT_TRUE(result.converted);
  EXPECT_EQ(result.page, "<p>acde</p>\n");
  EXPECT_EQ(Count(result.errors, "Input State Stack Popped too many times"), 2);
}

TEST_F(GroupsTest, AMillionStrayBracesAreReportedWithACount) {
  std::string rtf = "{\\rtf1 a\\*\\zz b}" + std::string(1000000, '}') + "tail";
  Conversion result = Convert(kSimpleTables, rtf);
  EXPECT_EQ(result.page, "<p>atail</p>\n");
  EXPECT_EQ(Count(result.errors, "Input State Stack Popped too many times\n"), 10);
  EXPECT_NE(result.errors.find("999990 more times"), std::string::npos) << result.errors;
}

TEST_F(GroupsTest, DeepNestingNeedsNoRecursion) {
  std::string rtf =
      "{\\rtf1 " + std::string(100000, '{') + "\\b deep" + std::string(100000, '}') + " out}";
  Conversion result = Convert(kSimpleTables, rtf);
  EXPECT_EQ(result.page, "<p><b>deep</b> out</p>\n");
  EXPECT_EQ(result.errors, "");
}

TEST_F(GroupsTest, UnmappedByteIsWrittenAsReferenceAndReportedOnce) {
  // A Western map without byte 0x80.
  std::ifstream in(DataDir() + "/ansi-gen");
  std::stringstream map;
  for (std::string line; std::getline(in, line);)
    if (line.find("0x80") == std::string::npos) map << line << "\n";
  std::string mapFile = dir_.File("no-euro");
  WriteFile(mapFile, map.str());
  std::string tables = std::string(kSimpleTables) + ".Charsets\n0 \"\" " + mapFile + "\n";
  Conversion result = Convert(tables, Doc("\\'80 and \\'80 and \\'e9"));
  // The byte's own reference would name a C1 control, which no page may hold: it is read as the
  // Windows-1252 character instead.
  EXPECT_EQ(result.page, "<p>&#8364; and &#8364; and &eacute;</p>\n");
  EXPECT_EQ(Count(result.errors, "No input translation"), 1) << result.errors;
}

TEST_F(GroupsTest, DocumentValuesAreReadable) {
  std::string tables = kSimpleTables;
  tables += ".Strings\nTitlePageEnd \"[$rtfTitle;|$Author;|$Subject;][end]\"\n";
  Conversion result = Convert(
      tables, std::string(kHead) + "{\\info{\\title The Title}{\\author Ann}{\\subject S}}x}");
  EXPECT_NE(result.raw.find("[The Title|Ann|S]"), std::string::npos) << result.raw;
  EXPECT_EQ(Count(result.page, "The Title"), 1);  // the information text is not body text
}

}  // namespace
}  // namespace quillo::test
