// Formatting tags: the tag stack, the choice of paragraph entries and text tags, the paragraph
// number override and the format registries.
#include "translate/tags.h"

#include <gtest/gtest.h>

#include "base/file_table.h"
#include "translate/translate.h"
#include "translate/translate_fixture.h"
#include "trn/translation_file.h"

namespace quillo::test {
namespace {

using TagsTest = TranslateTest;

TEST_F(TagsTest, PopTagsRemovesByType) {
  struct Case {
    int kind;
    int type;
    const char* written;  ///< closing texts written, in order
    size_t left;          ///< entries left on the stack
  };
  // Stack, bottom to top: page(1) par(12) par(12) text(13) anchor(15).
  const Case cases[] = {
      {12, 0, "</a></t></p2>", 2},       // above the newest paragraph tag and the tag itself
      {12, 1, "</a></t>", 3},            // only above it
      {12, 2, "</a></t>", 3},            // likewise, and silent when missing
      {12, 3, "</a></t></p2></p1>", 1},  // also the paragraph tags directly below
      {1, 0, "</a></t></p2></p1></page>", 0},
      {15, 0, "</a>", 4},
      {9, 2, "", 5},  // not on the stack: nothing happens
  };
  engine_->files.memoryOutputMode = true;
  for (const Case& c : cases) {
    OutputContext context;
    context.file = FileOpen(engine_->files, "tags-" + std::to_string(&c - cases), "w");
    ASSERT_NE(context.file, nullptr);
    translate::PushTag(*engine_, context, translate::kTagPage, translate::kEndExpandedNow, 0,
                       "<page>", "</page>");
    translate::PushTag(*engine_, context, translate::kTagParagraph, translate::kEndExpandedNow, 0,
                       "<p1>", "</p1>");
    translate::PushTag(*engine_, context, translate::kTagParagraph, translate::kEndExpandedNow, 1,
                       "<p2>", "</p2>");
    translate::PushTag(*engine_, context, translate::kTagText, translate::kEndExpandedNow, 0, "<t>",
                       "</t>");
    translate::PushTag(*engine_, context, translate::kTagAnchor, translate::kEndExpandedNow, 0,
                       "<a>", "</a>");
    context.file->output.Clear();
    auto found = translate::PopTags(*engine_, static_cast<translate::TagKind>(c.kind), context,
                                    static_cast<translate::PopMode>(c.type));
    FlushContext(*engine_, context);
    EXPECT_EQ(std::string(context.file->output.view()), c.written) << c.kind << "/" << c.type;
    EXPECT_EQ(context.tagStack.size(), c.left) << c.kind << "/" << c.type;
    EXPECT_EQ(found.has_value(), c.kind != 9);
    if (c.kind == 12) {
      EXPECT_EQ(found->value, 1);  // the newest entry of the kind is found
    }
  }
}

TEST_F(TagsTest, PopTagsOfAMissingKindReportsOnlyForTypesZeroAndOne) {
  engine_->files.memoryOutputMode = true;
  OutputContext context;
  context.file = FileOpen(engine_->files, "missing", "w");
  SetSetting(*engine_, "MSG_TAG_NOT_FOUND_Action", "panic");  // makes the report visible
  EXPECT_NO_THROW(
      translate::PopTags(*engine_, translate::kTagParagraph, context, translate::kPopAboveIfOpen));
  EXPECT_NO_THROW(
      translate::PopTags(*engine_, translate::kTagParagraph, context, translate::kPopRunIfOpen));
  EXPECT_THROW(
      translate::PopTags(*engine_, translate::kTagParagraph, context, translate::kPopEntry),
      ConversionAbandoned);
  EXPECT_THROW(
      translate::PopTags(*engine_, translate::kTagParagraph, context, translate::kPopAbove),
      ConversionAbandoned);
}

TEST_F(TagsTest, ModeOneEndsAreExpandedWhenPopped) {
  engine_->files.memoryOutputMode = true;
  OutputContext context;
  context.file = FileOpen(engine_->files, "modes", "w");
  SetSetting(*engine_, "Closer", "first");
  translate::PushTag(*engine_, context, translate::kTagParagraph, translate::kEndExpandedNow, 0, "",
                     "[$Closer;]");
  translate::PushTag(*engine_, context, translate::kTagParagraph, translate::kEndExpandedWhenPopped,
                     0, "", "[$Closer;]");
  SetSetting(*engine_, "Closer", "later");
  translate::PopAllTags(*engine_, context);
  FlushContext(*engine_, context);
  EXPECT_EQ(std::string(context.file->output.view()), "[later][first]");
}

constexpr char kStyles[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}"
    "{\\s2 List Bullet;}{\\s3 Body Text;}{\\s4 Quote;}}";

constexpr char kParagraphTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "[tab]" "</p>\n<p>" "<br>" 1 0 0 0 0 0
Head1 "<h1>" "</h1>\n" "" "" "</h1>\n<h1>" "" 1 0 0 0 1 0
Para "<div>" "</div>\n" "" "" "|" "" 1 1 0 0 0 0
Item "<li>" "</li>" "" "" "</li><li>" "" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
.PMatch
Normal 0 Normal
"heading 1" 0 Head1
"List Bullet" 1 Item
"Body Text" 0 Normal
)";

TEST_F(TagsTest, ParagraphEntriesFollowStylesAndLevels) {
  struct Case {
    const char* body;
    const char* page;
  };
  const Case cases[] = {
      {"\\pard\\s1 Title\\par\\pard Body\\par", "<h1>Title</h1>\n<p>Body</p>\n"},
      // A style without an entry uses entry 0; two paragraphs of one entry share its tag.
      {"\\pard\\s4 Quoted\\par\\pard Next\\par", "<p>Quoted</p>\n<p>Next</p>\n"},
      {"\\pard\\s1 A\\par\\pard\\s3 B\\par", "<h1>A</h1>\n<p>B</p>\n"},
  };
  for (const Case& c : cases) {
    Conversion result = Convert(kParagraphTables, std::string(kStyles) + c.body + "}");
    EXPECT_EQ(result.page, c.page) << c.body;
  }
}

TEST_F(TagsTest, NestedLevelsKeepTheEnclosingTagOpen) {
  std::string tables = kParagraphTables;
  tables += ".PMatch\n\"Quote\" 0 Para\n";
  Conversion result = Convert(tables, std::string(kStyles) +
                                          "\\pard\\s4 a\\par\\pard\\s2 b\\par\\pard\\s2 c\\par"
                                          "\\pard\\s4 d\\par}");
  EXPECT_EQ(result.page, "<div>a<li>b</li><li>c</li>|d</div>\n");
}

TEST_F(TagsTest, MergePMatchSharesTagsOfEqualLevelAndTag) {
  std::string doc = std::string(kStyles) + "\\pard a\\par\\pard\\s3 b\\par}";
  std::string tables = kParagraphTables;
  for (auto& [merge, page] : {std::pair<const char*, const char*>{"0", "<p>a</p>\n<p>b</p>\n"},
                              {"1", "<p>a</p>\n<p>b</p>\n"}}) {
    Conversion result = Convert(tables, doc, {"-D", std::string("MergePMatch=") + merge});
    EXPECT_EQ(result.page, page) << merge;
  }
  // With a visible break string the difference shows: one tag, or two.
  std::string marked = kParagraphTables;
  const std::string breakString = "\"</p>\\n<p>\"";
  marked.replace(marked.find(breakString), breakString.size(), "\"|\"");
  EXPECT_EQ(Convert(marked, doc, {"-D", "MergePMatch=1"}).page, "<p>a|b</p>\n");
  EXPECT_EQ(Convert(marked, doc, {"-D", "MergePMatch=0"}).page, "<p>a</p>\n<p>b</p>\n");
}

TEST_F(TagsTest, MatchNameForcesAnEntryAndReadsBack) {
  std::string trn = dir_.File("direct.trn");
  WriteFile(trn, std::string(kBaseTrn) + kParagraphTables);
  ASSERT_EQ(LoadTranslationFile(*engine_, trn), 1);
  EXPECT_EQ(translate::ChooseParagraphEntry(*engine_), 0);
  SetSetting(*engine_, "MatchName", "heading 1");
  EXPECT_EQ(translate::ChooseParagraphEntry(*engine_), 1);
  EXPECT_EQ(SettingValue(*engine_, "MatchName"), "heading 1");
  EXPECT_EQ(SettingValue(*engine_, "NestLevel"), "0");
  SetSetting(*engine_, "MSG_INVALID_MATCHNAME_Action", "panic");
  EXPECT_THROW(SetSetting(*engine_, "MatchName", "Heading 1"), ConversionAbandoned);  // case counts
}

TEST_F(TagsTest, TextTagsOpenInTableOrderAndCloseFromTheFirstMismatch) {
  constexpr char kTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "" "</p>\n<p>" "" 1 0 0 0 0 0
Bare "" "\n" "" "" "\n" "" 0 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
Italic "<i>" "</i>"
Under "<u>" "</u>"
BoldOnly "<bo>" "</bo>"
Red "<red>" "</red>"
.TMatch
"" 0 Bold "" "" Bold
"" 0 Italic "" "" Italic
"" 0 Underline "" "" Under
"" 0 "Outline Not Italic" "" "" BoldOnly
"" 0 "" Red "" Red
.PMatch
Normal 0 Normal
Bare 0 Bare
)";
  struct Case {
    const char* body;
    const char* page;
  };
  const Case cases[] = {
      {"\\b\\i\\ul x\\i0 y", "<p><b><i><u>x</u></i><u>y</u></b></p>\n"},
      {"{\\outl a}{\\outl\\i b}", "<p><bo>a</bo><i>b</i></p>\n"},
      {"\\cf1 r\\cf0 k", "<p><red>r</red>k</p>\n"},
  };
  const std::string head =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\colortbl;\\red255\\green0\\blue0;}";
  for (const Case& c : cases) {
    Conversion result = Convert(kTables, head + c.body + "}");
    EXPECT_EQ(result.page, c.page) << c.body;
  }
  // A paragraph tag whose text-tags flag is 0 opens no text tags.
  Conversion bare =
      Convert(kTables, head + "{\\stylesheet{\\s0 Normal;}{\\s1 Bare;}}\\pard\\s1\\b x}");
  EXPECT_EQ(bare.page, "x\n");
}

TEST_F(TagsTest, ParagraphNumberTextCanChooseTheEntry) {
  constexpr char kTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "[tab]" "</p>\n<p>" "" 1 0 0 0 0 0
List "<li>" "</li>\n" "" " " "</li>\n<li>" "" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
.PMatch
Normal 0 Normal
"List Number" 0 List
.Functions
Function PNOverrideFunction
Ifelse "$1;" "^[0-9]" "List Number" ""
)";
  const std::string doc =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}"
      "\\pard{\\listtext\\b 1.\\tab}Item one\\par\\pard Plain\\par}";
  Conversion result = Convert(kTables, doc);
  // The number's tab belongs to the number text and is written in its format.
  EXPECT_EQ(result.page, "<li><b>1. </b>Item one</li>\n<p>Plain</p>\n");
  Conversion off = Convert(kTables, doc, {"-D", "PNOverrideFlag=0"});
  EXPECT_EQ(off.page, "<p><b>1.[tab]</b>Item one</p>\n<p>Plain</p>\n");
}

TEST_F(TagsTest, FormatRegistriesNumberDistinctFormats) {
  std::string tables = kSimpleTables;
  tables +=
      ".Strings\nCharFmtEntry \"[c$CharFmtIdx;:$Bold;]\"\nParFmtEntry \"[p$ParFmtIdx;:$PAlign;]\"\n"
      "TitlePageEnd \"$CharFmts;$ParFmts;[end]\"\n";
  Conversion result = Convert(
      tables, "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}a{\\b b}{\\b c}\\par\\pard\\qc d\\par}");
  EXPECT_NE(result.raw.find("[c0:0][c1:1][p0:0][p1:3]"), std::string::npos) << result.raw;
}

// CharLookRule gives back what the look's entry gave when the look was registered, also for a
// look met again after others and for looks whose entry gave nothing; bold does not make a look.
TEST_F(TagsTest, CharLookRuleIsTheEntryOfTheCurrentLook) {
  std::string tables = kSimpleTables;
  tables +=
      ".TTag\nLook \"{$CharLookRule;}\" \"\"\n"
      ".TMatch\n\"\" 0 \"\" \"\" \"\" Look\n"
      ".Strings\nCharLookEntry \"$LookName()\"\nTitlePageEnd \"|$CharLooks;[end]\"\n"
      ".Functions\nFunction LookName\nIfelse \"$TextRGB;\" \"^#ff0000$\" \"red\" \"\"\n";
  Conversion result = Convert(tables,
                              "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}"
                              "{\\colortbl;\\red255\\green0\\blue0;}"
                              "a{\\cf1 b}{\\b c}{\\cf1\\b d}\\par}");
  EXPECT_NE(result.raw.find("{}a{red}b<b>{}c{red}d</b>"), std::string::npos) << result.raw;
  EXPECT_NE(result.raw.find("|red[end]"), std::string::npos) << result.raw;
}

// A text tag's expansion that reads nothing but the format's and look's numbers and rule is kept
// per format and look and given again; one that reads anything else (here the paragraph's
// alignment, which neither number holds) is expanded afresh, so that it follows what it read.
// With the memo of results off nothing is kept, and the pages are the same.
TEST_F(TagsTest, TextTagTextsAreKeptPerFormatOnlyWhenTheyReadNothingElse) {
  struct Case {
    const char* start;
    const char* page;
    bool kept;
  };
  const Case cases[] = {
      {"{$CharLookIdx;:$CharFmtIdx;}", "<p>{0:0}a{1:1}b{0:0}c{1:1}d</p>\n<p>{0:0}e{1:1}f</p>\n",
       true},
      {"{$CharLookIdx;:$PAlign;}", "<p>{0:0}a{1:0}b{0:0}c{1:0}d</p>\n<p>{0:3}e{1:3}f</p>\n", false},
  };
  const std::string doc =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\colortbl;\\red255\\green0\\blue0;}"
      "a{\\cf1 b}c{\\cf1 d}\\par\\pard\\qc e{\\cf1 f}\\par}";
  for (const Case& c : cases) {
    std::string tables = kSimpleTables;
    tables +=
        std::string(".TTag\nLook \"") + c.start + "\" \"\"\n.TMatch\n\"\" 0 \"\" \"\" \"\" Look\n";
    for (const char* reuse : {"1", "0"}) {
      Conversion result = Convert(tables, doc, {"-D", std::string("ReuseResults=") + reuse});
      EXPECT_EQ(result.page, c.page) << c.start << " ReuseResults=" << reuse;
      EXPECT_EQ(!engine_->translate.tagTexts.empty(), c.kept && reuse[0] == '1')
          << c.start << " ReuseResults=" << reuse;
    }
  }  // A long text (a font name of the document could make one) is not kept.
  const std::string padding(300, 'x');
  std::string tables = kSimpleTables;
  tables +=
      ".TTag\nLook \"{$CharLookIdx;" + padding + "}\" \"\"\n.TMatch\n\"\" 0 \"\" \"\" \"\" Look\n";
  Conversion result = Convert(tables, doc);
  EXPECT_NE(result.page.find("{1" + padding + "}b"), std::string::npos);
  EXPECT_TRUE(engine_->translate.tagTexts.empty());
}

}  // namespace
}  // namespace quillo::test
