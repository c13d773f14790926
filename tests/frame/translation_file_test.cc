// Loads translation files written into a temporary folder. Whether a message was reported is
// observed through its action: a test sets "<code>_Action" to "panic" and expects the load to be
// abandoned (or sets "message" to let the load go on past a message that is fatal by default).
#include "trn/translation_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo {
namespace {

/// One entry in each table whose absence ends the load with ERR_MISSING_TABLE.
const char kTables[] =
    ".TTag\n"
    "bold <b> </b>\n"
    ".PTag\n"
    "para <p> </p> '' '' '' '' 0 0 0 0 0 0\n"
    ".TMatch\n"
    "'' 0 Bold '' '' bold\n"
    ".PMatch\n"
    "Normal 0 para\n";

class TranslationFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir_.File(name);
    test::WriteFile(path, text);
    return path;
  }
  /// Loads `text` as a whole translation file.
  int Load(const std::string& text) { return LoadTranslationFile(engine(), Write("t.trn", text)); }
  /// Loads ".Version 6", `text`, then the required tables.
  int LoadBody(const std::string& text) { return Load(".Version 6\n" + text + kTables); }
  void SetAction(const std::string& code, const char* action) {
    SetSetting(engine(), code + "_Action", action);
  }
  std::string Value(const char* name) { return SettingValue(engine(), name); }
  bool Defined(const char* name) { return FindSetting(engine(), name) >= 0; }
  Engine& engine() { return *engine_; }
  const TranslationTables& tables() { return engine_->translation; }

  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
};

// ---- Lines, fields and sections -----------------------------------------------------------------

TEST_F(TranslationFileTest, StringsKeepQuotedBlanksCommasAndEscapes) {
  SetAction("ERR_EXTRA_DATA", "panic");
  ASSERT_EQ(LoadBody(".Strings\n"
                     "Greeting \"Hello, big \\\"world\\\"\\n\" # trailing comment\n"
                     "Joined abc\\\n"
                     "def\n"
                     "Raw $NotExpanded;\n"),
            1);
  EXPECT_EQ(Value("Greeting"), "Hello, big \"world\"\n");
  EXPECT_EQ(Value("Joined"), "abcdef");
  EXPECT_EQ(engine().settings.values[FindSetting(engine(), "Raw")], "$NotExpanded;");
  EXPECT_EQ(Value("TransCMDVersion"), "5.0.2");
}

TEST_F(TranslationFileTest, CrlfLinesAndVeryLongLines) {
  // A value far longer than one 511-character read, and a line ended by CR LF (the carriage
  // return ends the line's fields).
  const std::string longValue(100000, 'x');
  ASSERT_EQ(LoadBody(".Strings\r\nLong " + longValue + "\nWindows yes\r\n"), 1);
  EXPECT_EQ(Value("Long"), longValue);
  EXPECT_EQ(Value("Windows"), "yes");
}

TEST_F(TranslationFileTest, IndentedSectionHeaderIsADataLine) {
  // In .Strings the indented header is just a setting named ".Colors".
  ASSERT_EQ(LoadBody(".Strings\n .Colors x\nStill strings\n"), 1);
  EXPECT_EQ(Value(".Colors"), "x");
  EXPECT_EQ(Value("Still"), "strings");
  // Before any section it is a data line without a section: fatal.
  EXPECT_THROW(Load(".Version 6\n .Strings\n"), ConversionAbandoned);
}

TEST_F(TranslationFileTest, DataLineBeforeAnySectionIsFatal) {
  EXPECT_THROW(Load(".Version 6\n# comment\nName value\n"), ConversionAbandoned);
}

TEST_F(TranslationFileTest, SectionHeadersIgnoreCase) {
  ASSERT_EQ(Load(".VERSION 6\n.strings\nA 1\n.ttag\nb <b> </b>\n.PTAG\n"
                 "p '' '' '' '' '' '' 0 0 0 0 0 0\n.tmatch\n'' 0 '' '' '' B\n.pmatch\nx 0 P\n"),
            1);
  EXPECT_EQ(Value("A"), "1");
  EXPECT_EQ(tables().version, 6);
}

TEST_F(TranslationFileTest, UnknownSectionWordIsReportedThenReadAsData) {
  EXPECT_THROW(LoadBody(".Strings\n.Bogus value\n"), ConversionAbandoned);
  SetAction("ERR_INVALID_CTRL_WORD", "message");
  ASSERT_EQ(LoadBody(".Strings\n.Bogus value\n"), 1);
  EXPECT_EQ(Value(".Bogus"), "value");
}

TEST_F(TranslationFileTest, VersionIsCheckedOnEveryDataLine) {
  EXPECT_THROW(Load(".Version 5\n.Strings\nA 1\n"), ConversionAbandoned);
  // Also a data line in a skipped branch (the header is a data line while skipping).
  EXPECT_THROW(Load(".Version 5\n#ifdef NoSuchName\n.Strings\n#endif\n"), ConversionAbandoned);
  // No data line, no version message.
  SetAction("ERR_MISSING_TABLE", "ignore");
  EXPECT_EQ(Load(".Version 5\n# nothing but comments\n\n#endif-like comment\n"), 1);
}

TEST_F(TranslationFileTest, ExtraFieldsAndMissingFields) {
  SetAction("ERR_EXTRA_DATA", "panic");
  EXPECT_THROW(LoadBody(".Strings\nA 1 2\n"), ConversionAbandoned);
  EXPECT_NO_THROW(LoadBody(".Strings\nA 1 #comment\n.Colors\nRed 255 0 0 #x y\n"));
  EXPECT_THROW(LoadBody(".Strings\nLonely\n"), ConversionAbandoned);
  EXPECT_THROW(LoadBody(".Colors\nRed 255 0\n"), ConversionAbandoned);
  EXPECT_THROW(LoadBody(".PTag\nx a b c d e f 1 2 3 4 5\n"), ConversionAbandoned);
}

TEST_F(TranslationFileTest, UnopenableFileReturnsZero) {
  EXPECT_EQ(LoadTranslationFile(engine(), dir_.File("missing.trn")), 0);
}

TEST_F(TranslationFileTest, TextAfterTheLastNewlineIsNotALine) {
  ASSERT_EQ(LoadBody(".Strings\nA 1\n"), 1);
  SetAction("ERR_MISSING_TABLE", "ignore");
  ASSERT_EQ(Load(".Version 6\n.Strings\nA 2\nB 3"), 1);
  EXPECT_EQ(Value("A"), "2");
  EXPECT_FALSE(Defined("B"));
}

TEST_F(TranslationFileTest, DebugFourTracesEveryLogicalLine) {
  engine().messages.errorFileName = dir_.File("trace_err.htm");
  SetSetting(engine(), "Debug", "4");
  const std::string path = Write("traced.trn", ".Version 6\n.Strings\n#ifdef Nope\nA 1\n#endif\n" +
                                                   std::string(5000, 'y') + " z\n" + kTables);
  ASSERT_EQ(LoadTranslationFile(engine(), path), 1);
  SetSetting(engine(), "Debug", "0");
  CloseErrorFile(engine());
  const std::string trace = test::ReadFile(dir_.File("trace_err.htm"));
  EXPECT_NE(trace.find(path + "[    2] 1+.Strings<br>"), std::string::npos) << trace;
  EXPECT_NE(trace.find(path + "[    4] 2-A 1<br>"), std::string::npos);
  // The long line is cut so that its trace stays within 4088 characters.
  const std::size_t longStart = trace.find(path + "[    6] 1+yyy");
  ASSERT_NE(longStart, std::string::npos);
  const std::size_t longEnd = trace.find("<br>", longStart);
  EXPECT_EQ(longEnd - longStart, 4087u);
}

// ---- Preprocessor -------------------------------------------------------------------------------

TEST_F(TranslationFileTest, Conditionals) {
  SetSetting(engine(), "CmdLineDefine", "1");  // as a -D option would
  struct Case {
    const char* why;
    const char* body;
    const char* choice;  // value of "Choice", "" when it stays undefined
  };
  const Case cases[] = {
      {"#ifdef of a defined name", "#ifdef cmdlinedefine\nChoice a\n#else\nChoice b\n#endif\n",
       "a"},
      {"#ifdef of an undefined name", "#ifdef Nope\nChoice a\n#else\nChoice b\n#endif\n", "b"},
      {"#ifndef", "#IFNDEF Nope\nChoice a\n#else\nChoice b\n#endif\n", "a"},
      {"#else in a skipped branch stays skipped",
       "#ifdef Nope\n#ifdef CmdLineDefine\nChoice a\n#else\nChoice b\n#endif\n#endif\n", ""},
      {"#else in a used branch",
       "#ifdef CmdLineDefine\n#ifdef Nope\nChoice a\n#else\nChoice b\n#endif\n#endif\n", "b"},
      {"#ifdef sees .Strings read so far", "Early 1\n#ifdef early\nChoice a\n#endif\n", "a"},
      {"#include in a skipped branch is a comment",
       "#ifdef Nope\n#include no-such-file.trn\n#endif\nChoice a\n", "a"},
      {"unknown directives are comments", "#define x\n#Choice z\nChoice a\n", "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SetSetting(engine(), "Choice", "");
    ASSERT_EQ(LoadBody(std::string(".Strings\n") + c.body), 1);
    EXPECT_EQ(Value("Choice"), c.choice);
  }
}

TEST_F(TranslationFileTest, UnbalancedConditionals) {
  EXPECT_THROW(LoadBody(".Strings\n#endif\n"), ConversionAbandoned);
  EXPECT_THROW(LoadBody(".Strings\n#else\n"), ConversionAbandoned);
  // A conditional still open at the end is not reported.
  SetAction("ERR_MISSING_TABLE", "ignore");
  EXPECT_EQ(Load(".Version 6\n.Strings\n#ifdef Nope\nA 1\n"), 1);
  EXPECT_FALSE(Defined("A"));
}

TEST_F(TranslationFileTest, IfmatchExpandsBothFields) {
  SetSetting(engine(), "Platform", "Linux");
  ASSERT_EQ(LoadBody(".Strings\n"
                     "#ifmatch $Platform; ^Lin\nFirst yes\n#else\nFirst no\n#endif\n"
                     "#ifmatch \"$Platform;\" \"^Win\"\nSecond yes\n#else\nSecond no\n#endif\n"),
            1);
  EXPECT_EQ(Value("First"), "yes");
  EXPECT_EQ(Value("Second"), "no");
}

TEST_F(TranslationFileTest, IncludesCarrySectionAcross) {
  const std::string inc = Write("inc.trn", ".Strings\nFromInclude 1\nTail no-newline");
  SetSetting(engine(), "IncDir", dir_.path());
  ASSERT_EQ(LoadBody(".Colors\n#include $IncDir;/inc.trn\nAfter 2\n"
                     "#cinclude no-such-file.trn\nAfterMissing 3\n"),
            1);
  EXPECT_EQ(Value("FromInclude"), "1");
  EXPECT_EQ(Value("After"), "2");  // .Strings, opened in the included file, is still current
  EXPECT_EQ(Value("AfterMissing"), "3");
  EXPECT_FALSE(Defined("Tail"));
  EXPECT_THROW(LoadBody("#include no-such-file.trn\n"), ConversionAbandoned);
}

TEST_F(TranslationFileTest, SelfIncludeEndsWithAMessage) {
  const std::string self = dir_.File("self.trn");
  const std::string text = ".Version 6\n.Strings\n#include " + self + "\nAfter 1\n" + kTables;
  test::WriteFile(self, text);
  EXPECT_THROW(LoadTranslationFile(engine(), self), ConversionAbandoned);
  SetAction("ERR_INVALID_INCLUDE", "message");
  EXPECT_EQ(LoadTranslationFile(engine(), self), 1);
  EXPECT_EQ(Value("After"), "1");
  EXPECT_EQ(tables().ttag.size(), 1u);
}

TEST_F(TranslationFileTest, IncludeNestingIsBounded) {
  // level0 includes level1 includes level2 ...: every level defines LevelN.
  constexpr int kFiles = kMaxIncludeDepth + 8;
  for (int i = 1; i < kFiles; ++i) {
    std::string text = "Level" + std::to_string(i) + " 1\n";
    if (i + 1 < kFiles) text += "#include " + dir_.File("level" + std::to_string(i + 1)) + "\n";
    Write("level" + std::to_string(i), text);
  }
  const std::string body = ".Strings\n#include " + dir_.File("level1") + "\n";
  EXPECT_THROW(LoadBody(body), ConversionAbandoned);
  SetAction("ERR_INVALID_INCLUDE", "message");
  ASSERT_EQ(LoadBody(body), 1);
  EXPECT_TRUE(Defined(("Level" + std::to_string(kMaxIncludeDepth)).c_str()));
  EXPECT_FALSE(Defined(("Level" + std::to_string(kMaxIncludeDepth + 1)).c_str()));
}

// ---- Tables -------------------------------------------------------------------------------------

TEST_F(TranslationFileTest, TMatchAttributesColoursAndKeys) {
  struct Case {
    const char* words;
    uint32_t values, mask;
  };
  const Case cases[] = {
      {"''", 0, 0},
      {"Bold", 1, 1},
      {"\"Not Bold\"", 0, 1},
      {"\"Not Not Bold\"", 1, 1},
      {"\"Bold Not Italic\"", 1, 3},
      {"\"underline NOT subscript\"", 1u << 8, (1u << 8) | (1u << 13)},
      {"\"SmallCaps AllCaps Hidden\"", 0xE0, 0xE0},
  };
  std::string body = ".Colors\nRed 255 0 0\nBlue 0 0 255\n.TTag\nt <i> </i>\n.TMatch\n";
  for (const auto& c : cases) body += std::string("Arial 12 ") + c.words + " blue Emph t\n";
  body += "'' 0 '' '' '' _LINK\n";
  ASSERT_EQ(LoadBody(body), 1);
  ASSERT_EQ(tables().tmatch.size(), std::size(cases) + 2);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TMatchEntry& e = tables().tmatch[i];
    SCOPED_TRACE(cases[i].words);
    EXPECT_EQ(e.attrValues, cases[i].values);
    EXPECT_EQ(e.attrMask, cases[i].mask);
    EXPECT_EQ(e.colorIndex, 1);
    EXPECT_EQ(e.fontName, "Arial");
    EXPECT_EQ(e.fontKey, 999);
    EXPECT_EQ(e.fontSize, 12);
    EXPECT_EQ(e.charStyleNames, "Emph");
    EXPECT_EQ(e.styleKey, 999);
    EXPECT_EQ(e.resolvedTag, 0);  // "t" comes before "bold" of the required tables
  }
  const TMatchEntry& any = tables().tmatch[std::size(cases)];
  EXPECT_EQ(any.fontKey, -1);
  EXPECT_EQ(any.styleKey, -1);
  EXPECT_EQ(any.colorIndex, -1);
  EXPECT_EQ(any.resolvedTag, kTagLink);
}

TEST_F(TranslationFileTest, TMatchReportsUnknownWordsColoursAndTags) {
  SetAction("MSG_INVALID_TXT_ATTRIB", "panic");
  EXPECT_THROW(LoadBody(".TMatch\n'' 0 Blink '' '' bold\n"), ConversionAbandoned);
  SetAction("MSG_INVALID_COLOR", "panic");
  EXPECT_THROW(LoadBody(".TMatch\n'' 0 '' Mauve '' bold\n"), ConversionAbandoned);
  EXPECT_THROW(LoadBody(".TMatch\n'' 0 '' '' '' nosuchtag\n"), ConversionAbandoned);

  // When the load goes on, an unknown word changes nothing and an unknown colour means any.
  SetAction("MSG_INVALID_TXT_ATTRIB", "ignore");
  SetAction("MSG_INVALID_COLOR", "ignore");
  ASSERT_EQ(LoadBody(".TMatch\n'' 0 \"Blink Not Italic\" Mauve '' BOLD\n"), 1);
  const TMatchEntry& e = tables().tmatch[0];
  EXPECT_EQ(e.attrValues, 0u);
  EXPECT_EQ(e.attrMask, 2u);
  EXPECT_EQ(e.colorIndex, -1);
  EXPECT_EQ(e.resolvedTag, 0);
}

TEST_F(TranslationFileTest, PMatchLevelsAndTagResolution) {
  ASSERT_EQ(LoadBody(".PTag\nhead <h1> </h1> '' '' '' '' 1 2 3 4 5 -6\n"
                     ".PMatch\n"
                     "\"Heading 1\" -3 HEAD\n"
                     "Junk 2 _discard\n"
                     "'' 0 _Literal\n"),
            1);
  ASSERT_EQ(tables().pmatch.size(), 4u);
  EXPECT_EQ(tables().pmatch[0].styleName, "Heading 1");
  EXPECT_EQ(tables().pmatch[0].styleKey, 999);
  EXPECT_EQ(tables().pmatch[0].level, 0);
  EXPECT_EQ(tables().pmatch[0].resolvedTag, 0);  // first .PTag entry of that name
  EXPECT_EQ(tables().pmatch[1].level, 2);
  EXPECT_EQ(tables().pmatch[1].resolvedTag, kTagDiscard);
  EXPECT_EQ(tables().pmatch[2].styleKey, -1);
  EXPECT_EQ(tables().pmatch[2].resolvedTag, kTagLiteral);
  EXPECT_EQ(tables().pmatch[3].resolvedTag, 1);  // "para" of the required tables

  const PTagEntry& head = tables().ptag[0];
  EXPECT_EQ(head.name, "head");
  EXPECT_EQ(head.texts[0], "<h1>");
  EXPECT_EQ(head.texts[1], "</h1>");
  EXPECT_EQ(head.texts[5], "");
  EXPECT_EQ(head.values[0], 1);
  EXPECT_EQ(head.values[5], -6);

  // An unknown .PTag name is reported and gives index 0.
  SetAction("MSG_INVALID_PTAG", "message");
  ASSERT_EQ(LoadBody(".PMatch\nBody 1 nosuch\n"), 1);
  EXPECT_EQ(tables().pmatch[0].resolvedTag, 0);
  SetAction("MSG_INVALID_PTAG", "panic");
  EXPECT_THROW(LoadBody(".PMatch\nBody 1 nosuch\n"), ConversionAbandoned);
}

TEST_F(TranslationFileTest, RMatchColorsAndCharsets) {
  ASSERT_EQ(LoadBody(".RMatch\n\"a+b\" \"[&]\"\n\"a(\" broken\n"
                     ".Colors\nRed 255 0 0\n"
                     ".Charsets\n2 Symbol symbol-map\n0 '' ansi-gen\n"),
            1);
  ASSERT_EQ(tables().rmatch.size(), 2u);
  EXPECT_NE(tables().rmatch[0].pattern, nullptr);
  EXPECT_EQ(tables().rmatch[0].replacement, "[&]");
  EXPECT_EQ(tables().rmatch[1].pattern, nullptr);  // does not compile
  ASSERT_EQ(tables().colors.size(), 1u);
  EXPECT_EQ(tables().colors[0].name, "Red");
  EXPECT_EQ(tables().colors[0].red, 255);
  ASSERT_EQ(tables().charsets.size(), 2u);
  EXPECT_EQ(tables().charsets[0].charset, 2);
  EXPECT_EQ(tables().charsets[0].fontName, "Symbol");
  EXPECT_EQ(tables().charsets[0].fontKey, 999);
  EXPECT_EQ(tables().charsets[0].mapFile, "symbol-map");
  EXPECT_EQ(tables().charsets[1].fontKey, -1);
}

TEST_F(TranslationFileTest, EndOfLoadDefaultsAndMissingTables) {
  ASSERT_EQ(LoadBody(""), 1);
  ASSERT_EQ(tables().colors.size(), 1u);
  EXPECT_EQ(tables().colors[0].name, "Black");
  ASSERT_EQ(tables().charsets.size(), 1u);
  EXPECT_EQ(tables().charsets[0].charset, 0);
  EXPECT_EQ(tables().charsets[0].fontName, "");
  EXPECT_EQ(tables().charsets[0].mapFile, "ansi-gen");

  // A missing table stops the conversion ("eof").
  EXPECT_THROW(Load(".Version 6\n.Strings\nA 1\n"), ConversionAbandoned);
  EXPECT_TRUE(engine().driver.stop);

  // With the stop flag set, nothing is checked or added after the tag resolution.
  engine().driver.stop = true;
  ASSERT_EQ(Load(".Version 6\n.Strings\nA 1\n"), 1);
  EXPECT_TRUE(tables().colors.empty());
  EXPECT_TRUE(tables().charsets.empty());
}

TEST_F(TranslationFileTest, ReloadReleasesThePreviousTables) {
  ASSERT_EQ(LoadBody(".Functions\nFunction F\nLower\n"), 1);
  ASSERT_EQ(LoadBody(".Functions\nFunction F\nLower\n"), 1);
  EXPECT_EQ(tables().functions.size(), 1u);
  EXPECT_EQ(tables().ttag.size(), 1u);
  EXPECT_EQ(tables().pmatch.size(), 1u);
}

// ---- Functions ----------------------------------------------------------------------------------

TEST_F(TranslationFileTest, StatementKeywordsAndOperands) {
  ASSERT_EQ(LoadBody(".Functions\n"
                     "Function All\n"
                     "lower\nUPPER\nEncode e\nDecode\nSub x+ s\nGsub y g\nSave n v\nSet t\n"
                     "Ifelse a '' b c\nDBPrint d\nScript s\nAnchorFile f\nRPExp \"1 2 +\"\nVSet v\n"
                     "RMatch z a r\nSwitch $1;\nCase ^a\nDefault\nEnd\nWhile $x; ''\nEnd\n"),
            1);
  ASSERT_EQ(tables().functions.size(), 1u);
  const auto& s = tables().functions[0].statements;
  const int ops[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 20};
  ASSERT_EQ(s.size(), std::size(ops));
  for (std::size_t i = 0; i < s.size(); ++i) EXPECT_EQ(s[i].op, ops[i]) << "statement " << i;
  EXPECT_FALSE(s[0].hasText1);
  EXPECT_TRUE(s[2].hasText1);
  EXPECT_EQ(s[2].text1, "e");
  EXPECT_NE(s[4].pattern, nullptr);
  EXPECT_EQ(s[4].text1, "s");
  EXPECT_EQ(s[6].text2, "v");
  EXPECT_NE(s[8].pattern, nullptr);  // empty pattern stands for "^$"
  EXPECT_EQ(s[8].text2, "b");
  EXPECT_EQ(s[8].text3, "c");
  EXPECT_TRUE(s[8].hasText3);
  EXPECT_EQ(s[12].text1, "1 2 +");
  EXPECT_EQ(s[14].text2, "r");
  EXPECT_NE(s[19].pattern, nullptr);
}

TEST_F(TranslationFileTest, SwitchBlocksAreLinked) {
  ASSERT_EQ(LoadBody(".Functions\n"
                     "Function Pick\n"
                     "Switch $1;\n"    // 0
                     "Case ^a\n"       // 1
                     "Set A\n"         // 2
                     "Case ^b\n"       // 3
                     "Set B\n"         // 4
                     "Default\n"       // 5
                     "while $n; ^$\n"  // 6
                     "Set C\n"         // 7
                     "End\n"           // 8
                     "End\n"           // 9
                     "Upper\n"),       // 10
            1);
  const auto& s = tables().functions[0].statements;
  const int jumps[] = {9, 3, -1, 5, -1, 9, 8, -1, -1, -1, -1};
  ASSERT_EQ(s.size(), std::size(jumps));
  for (std::size_t i = 0; i < s.size(); ++i) EXPECT_EQ(s[i].jump, jumps[i]) << "statement " << i;
}

TEST_F(TranslationFileTest, FunctionLineErrors) {
  const char* bodies[] = {
      "Lower\n",                                               // statement before any Function
      "Function F\nFrobnicate x\n",                            // unknown keyword
      "Function F\nSub a( x\n",                                // pattern does not compile
      "Function F\nwhile x \"[\"\n",                           // the same for while
      "Function F\nCase ^a\n",                                 // Case outside Switch
      "Function F\nSwitch x\nwhile y z\nDefault\nEnd\nEnd\n",  // Default directly in a while
      "Function F\nEnd\n",                                     // End without a block
      "Function F\nSwitch x\nFunction G\n",  // block still open at the next function
      "Function\n",                          // no name
  };
  for (const char* body : bodies)
    EXPECT_THROW(LoadBody(std::string(".Functions\n") + body), ConversionAbandoned) << body;
  // A Case pattern is not checked.
  EXPECT_NO_THROW(LoadBody(".Functions\nFunction F\nSwitch x\nCase a(\nEnd\n"));
}

// A pattern that does not compile is reported with the compiler's reason first (so the user
// learns what is wrong with it), then as the translation file's fault, for every place that
// compiles one.
TEST_F(TranslationFileTest, PatternErrorsReportTheReasonThenTheLine) {
  SetAction("ERR_INVALID_SEARCH_EXPR", "message");
  const struct {
    const char* body;
    const char* reason;
  } cases[] = {
      {".Functions\nFunction F\nSub \"(a*)*\" x\n", "*+ operand could be empty"},
      {".Functions\nFunction F\nGsub a** x\n", "nested *?+"},
      {".Functions\nFunction F\nSub *a x\n", "?+* follows nothing"},
      {".Functions\nFunction F\nwhile x [z-a]\nEnd\n", "invalid [] range"},
      {".Functions\nFunction F\nIfelse x \"(a\" y z\n", "unmatched ()"},
      {".Functions\nFunction F\nSub ((((((((((a)))))))))) x\n", "too many ()"},
      {".Functions\nFunction F\nSub [ab x\n", "unmatched []"},
      {"#ifmatch abc \"a)\"\n#endif\n", "unmatched ()"},
  };
  for (const auto& c : cases) {
    ClearRecordedMessages(engine());
    LoadBody(c.body);
    const auto& messages = engine().messages.recorded;
    ASSERT_EQ(messages.size(), 2u) << c.body;
    EXPECT_EQ(messages[0].code, "MSG_BAD_PROG_LOGIC") << c.body;
    EXPECT_EQ(messages[0].text, std::string("Bad program logic:regexp ") + c.reason) << c.body;
    EXPECT_EQ(messages[1].code, "ERR_INVALID_SEARCH_EXPR") << c.body;
  }
  // By default the second message abandons the load, after the reason was given.
  SetAction("ERR_INVALID_SEARCH_EXPR", "panic");
  ClearRecordedMessages(engine());
  EXPECT_THROW(LoadBody(".Functions\nFunction F\nSub a** x\n"), ConversionAbandoned);
  ASSERT_EQ(engine().messages.recorded.size(), 2u);
  EXPECT_EQ(engine().messages.recorded[0].text, "Bad program logic:regexp nested *?+");
}

TEST_F(TranslationFileTest, SameFunctionNameWithAndWithoutOverrideDefs) {
  const std::string body = ".Functions\nFunction Twice\nLower\nFunction twice\nUpper\nSet x\n";
  ASSERT_EQ(LoadBody(body), 1);
  ASSERT_EQ(tables().functions.size(), 2u);
  EXPECT_EQ(tables().functions[0].statements.size(), 1u);
  EXPECT_EQ(tables().functions[1].statements.size(), 2u);

  SetSetting(engine(), "OverrideDefs", "1");
  ASSERT_EQ(LoadBody(body), 1);
  ASSERT_EQ(tables().functions.size(), 1u);
  EXPECT_EQ(tables().functions[0].name, "Twice");
  ASSERT_EQ(tables().functions[0].statements.size(), 2u);
  EXPECT_EQ(tables().functions[0].statements[0].op, kOpUpper);
}

TEST_F(TranslationFileTest, BlockNestingIsBounded) {
  constexpr int kDepth = kMaxOpenBlocks + 45;
  std::string body = ".Functions\nFunction Deep\n";
  for (int i = 0; i < kDepth; ++i) body += "Switch x\n";
  for (int i = 0; i < kDepth; ++i) body += "End\n";
  body += "Switch y\nDefault\nEnd\n";
  EXPECT_THROW(LoadBody(body), ConversionAbandoned);

  SetAction("MSG_INVALID_BLOCK_NEST", "message");
  ASSERT_EQ(LoadBody(body), 1);
  const auto& s = tables().functions[0].statements;
  ASSERT_EQ(s.size(), 2u * kDepth + 3);
  // The recorded blocks still pair with their own End; the ones beyond the limit are not linked.
  EXPECT_EQ(s[0].jump, 2 * kDepth - 1);
  EXPECT_EQ(s[kMaxOpenBlocks - 1].jump, 2 * kDepth - kMaxOpenBlocks);
  EXPECT_EQ(s[kMaxOpenBlocks].jump, -1);
  // A block after the deep nest is linked normally.
  EXPECT_EQ(s[2 * kDepth].jump, 2 * kDepth + 2);
  EXPECT_EQ(s[2 * kDepth + 1].jump, 2 * kDepth + 2);
}

// ---- Speed --------------------------------------------------------------------------------------

TEST_F(TranslationFileTest, LargeFileLoadsWhole) {
  std::string body = ".Colors\n";
  for (int i = 0; i < 2000; ++i) body += "C" + std::to_string(i) + " 1 2 3\n";
  body += ".TTag\n";
  for (int i = 0; i < 2000; ++i) body += "T" + std::to_string(i) + " <x> </x>\n";
  body += ".TMatch\n";
  for (int i = 0; i < 2000; ++i)
    body += "'' 0 Bold C" + std::to_string(i) + " '' t" + std::to_string(i) + "\n";
  body += ".Strings\n";
  for (int i = 0; i < 20000; ++i) body += "S" + std::to_string(i) + " \"value, " + "x\"\n";
  ASSERT_EQ(LoadBody(body), 1);
  EXPECT_EQ(tables().tmatch[1999].colorIndex, 1999);
  EXPECT_EQ(tables().tmatch[1999].resolvedTag, 1999);  // tag names ignore case
}

}  // namespace
}  // namespace quillo
