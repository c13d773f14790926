// Font, colour and style tables: the three header readers on well-formed and malformed groups,
// the lookups by number and name, the end-of-table bindings of the translation tables, and the
// document information. Every reader is fed from memory through the installed destination
// callback, with the document body after the table, so each case also checks that the reader
// stops at the table's own closing brace and routes it.
#include "rtf/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo::rtf {
namespace {

constexpr const char* kTableMessages[] = {"ERR_FORMAT_ERROR", "ERR_MISSING_BRACE",
                                          "ERR_MISSING_FONT_NUM", "ERR_MALFORMED_ENTRY"};

/// Group tokens routed after a reader returns land here: the reader must route the table's
/// closing brace and nothing else. The depth field is the only state the callback can reach.
void CountGroup(Engine& engine) {
  engine.reader.groupDepth += engine.reader.token.major == 0 ? 1 : -1;
}

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileEntry* table = FileOpen(engine().files, test::DataDir() + "/rtf-ctrl.txt", "r");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(LookupInitFrom(engine(), table), 0);
    engine().messages.errorFileName = dir_.File("errors.html");
    engine().messages.discardPrinted = false;
    // Table errors are fatal by default; let them go on as plain messages that list their code
    // and reader name, one line each.
    for (const char* code : kTableMessages) {
      SetSetting(engine(), std::string(code) + "_Action", "message");
      SetSetting(engine(), code, std::string(code) + " $MsgParam1;\n");
    }
  }

  /// Starts the reader on `text`, with every list empty.
  void Feed(std::string text) {
    input_ = std::move(text);
    FileEntry* entry =
        FileOpenText(engine().files, "-.rtf", input_.data(), static_cast<long>(input_.size()));
    ASSERT_NE(entry, nullptr);
    engine().reader.input = entry;
    engine().reader.inputSize = static_cast<long>(input_.size());
    ReaderInit(engine());
    SetClassCallback(engine(), kClassGroup, CountGroup);
  }

  /// Reads up to the first destination word and routes it, so that the installed table reader
  /// runs. Returns the text that follows the table up to end of input (closing braces show as
  /// '}'), which must be the document body untouched.
  std::string ReadTable() {
    while (GetToken(engine()) != kClassEOF) {
      const RtfToken& token = engine().reader.token;
      if (token.tokClass == kClassControl && token.major == kMajorDestination) break;
    }
    engine().reader.groupDepth = 0;
    RouteToken(engine());
    routed_ = engine().reader.groupDepth;
    std::string rest;
    while (GetToken(engine()) != kClassEOF) {
      const RtfToken& token = engine().reader.token;
      if (token.tokClass == kClassText) rest.push_back(static_cast<char>(token.major));
      if (token.tokClass == kClassGroup) rest.push_back(token.major == 0 ? '{' : '}');
    }
    return rest;
  }

  /// The messages reported since the last call, one "CODE reader" line each.
  std::string TakeMessages() {
    const std::string all = test::ReadFile(dir_.File("errors.html"));
    const std::size_t body = all.find("<pre>\n");
    const std::string messages = body == std::string::npos ? "" : all.substr(body + 6);
    const std::string fresh = messages.substr(std::min(consumed_, messages.size()));
    consumed_ = messages.size();
    return fresh;
  }

  /// "number:name" of every font in reading order, separated by '|'.
  std::string Fonts() {
    std::string out;
    for (const FontEntry& font : engine().tables.fonts)
      out += (out.empty() ? "" : "|") + std::to_string(font.number) + ":" + font.name;
    return out;
  }
  /// "number:red,green,blue" of every colour in reading order, separated by '|'.
  std::string Colors() {
    std::string out;
    for (const ColorTableEntry& c : engine().tables.colors)
      out += (out.empty() ? "" : "|") + std::to_string(c.number) + ":" + std::to_string(c.red) +
             "," + std::to_string(c.green) + "," + std::to_string(c.blue);
    return out;
  }
  /// "number:type:name" of every style in reading order, separated by '|'.
  std::string Styles() {
    std::string out;
    for (const StyleEntry& s : engine().tables.styles)
      out += (out.empty() ? "" : "|") + std::to_string(s.number) + ":" + std::to_string(s.type) +
             ":" + s.name;
    return out;
  }

  // Lookups that show a missing entry as a value no entry has, so a failed lookup fails the check
  // instead of the test.
  std::string FontName(int number) {
    const FontEntry* font = FindFont(engine(), number);
    return font ? font->name : "<no font>";
  }
  std::string StyleName(int number) {
    const StyleEntry* style = FindStyle(engine(), number);
    return style ? style->name : "<no style>";
  }
  int ColorRed(int number) {
    const ColorTableEntry* color = FindColor(engine(), number);
    return color ? color->red : -999;
  }

  void AddColor(const std::string& name, int red, int green, int blue) {
    ColorEntry color;
    color.name = name;
    color.red = red;
    color.green = green;
    color.blue = blue;
    engine().translation.colors.push_back(color);
  }

  Engine& engine() { return *engine_; }
  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
  std::string input_;
  int routed_ = 0;            ///< group tokens routed by the reader: -1 = one closing brace
  std::size_t consumed_ = 0;  ///< length of the error-file text TakeMessages has handed out
};

// ---- Font table ---------------------------------------------------------------------------------

TEST_F(TablesTest, FontTableFormatsGiveTheSameFonts) {
  const char* cases[] = {
      R"({\fonttbl\f0\froman Times;\f1\fswiss Arial;})",
      R"({\fonttbl{\f0\froman Times;}{\f1\fswiss Arial;}})",
      "{\\fonttbl\r\n{\\f0\\froman Times;}\r\n{\\f1\\fswiss Arial;}\r\n}",
      R"({\fonttbl {\f0\froman Times;} {\f1\fswiss Arial;} })",
      // Nested groups before and after the name, attribute words of the font-attribute major.
      R"({\fonttbl{\f0\froman\fcharset0\fprq2{\*\panose 02020603050405020304}Times{\*\falt T};})"
      R"({\f1\fswiss\fcharset0{\*\fname Arial;}Arial;}})",
      // Blanks around the name are not part of it.
      R"({\fonttbl{\f0\froman  Times  ;}{\f1\fswiss Arial ;}})",
      // Entries that lack their ';'.
      R"({\fonttbl{\f0\froman Times}{\f1\fswiss Arial}})",
      R"({\fonttbl\f0\froman Times\f1\fswiss Arial;})",
  };
  for (const char* table : cases) {
    SCOPED_TRACE(table);
    Feed(std::string("{\\rtf1") + table + "Body\\par}");
    EXPECT_EQ(ReadTable(), "Body}");
    EXPECT_EQ(routed_, -1);
    EXPECT_EQ(Fonts(), "0:Times|1:Arial");
    ASSERT_NE(FindFont(engine(), 0), nullptr);
    ASSERT_NE(FindFont(engine(), 1), nullptr);
    EXPECT_EQ(FindFont(engine(), 0)->family, 1);
    EXPECT_EQ(FindFont(engine(), 1)->family, 2);
    // The alternative name of {\*\falt} is kept.
    EXPECT_EQ(FindFont(engine(), 0)->altName,
              std::string(table).find("falt") != std::string::npos ? "T" : "");
    EXPECT_EQ(TakeMessages(), "");
  }
}

TEST_F(TablesTest, FontNames) {
  struct Case {
    std::string table;
    std::string name;
  } cases[] = {
      {R"({\fonttbl{\f0 Times{\*\falt T};}})", "Times"},
      // A word interrupting the name ends it; the rest of the entry is passed over.
      {R"({\fonttbl{\f0 Times\b New;}})", "Times"},
      // Raw bytes, hexadecimal escapes included.
      {R"({\fonttbl{\f0\fnil\fcharset134 \'cb\'ce\'cc\'e5;}})", "\xcb\xce\xcc\xe5"},
      {R"({\fonttbl{\f0 ;}})", ""},
      {R"({\fonttbl{\f0}})", ""},
      {"{\\fonttbl{\\f0 " + std::string(1500, 'x') + ";}}", std::string(1023, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    Feed("{\\rtf1" + c.table + "Body}");
    EXPECT_EQ(ReadTable(), "Body}");
    ASSERT_EQ(engine().tables.fonts.size(), 1u);
    EXPECT_EQ(engine().tables.fonts[0].name, c.name);
    EXPECT_EQ(engine().tables.fonts[0].number, 0);
    EXPECT_EQ(TakeMessages(), "");
  }
}

TEST_F(TablesTest, MissingFontNumberIsReportedForTheLastEntry) {
  Feed(R"({\rtf1{\fonttbl{\f0 Times;}{\fswiss Arial;}}Body})");
  EXPECT_EQ(ReadTable(), "Body}");
  EXPECT_EQ(Fonts(), "0:Times|-1:Arial");
  EXPECT_EQ(TakeMessages(), "ERR_MISSING_FONT_NUM ReadFontTbl\n");
  // A font without a number is not found by number, but is the newest font.
  EXPECT_EQ(FontName(-1), "Arial");

  Feed(R"({\rtf1{\fonttbl{\fswiss Arial;}{\f0 Times;}}Body})");
  EXPECT_EQ(ReadTable(), "Body}");
  EXPECT_EQ(TakeMessages(), "");
}

TEST_F(TablesTest, MalformedFontTablesEndCleanly) {
  struct Case {
    const char* name;
    std::string input;
    std::string fonts;
    std::string messages;
    std::string rest;  ///< what follows the table; the closing brace is routed unless truncated
    bool truncated;
  } cases[] = {
      {"no format", R"({\rtf1{\fonttbl Times;}Body})", "", "ERR_FORMAT_ERROR ReadFontTbl\n",
       "Body}", false},
      {"format found late", R"({\rtf1{\fonttbl\froman\f0 Times;}Body})", "0:Times",
       "ERR_FORMAT_ERROR ReadFontTbl\n", "Body}", false},
      {"entry without its brace", R"({\rtf1{\fonttbl{\f0 Times;}\f1 Arial;}Body})",
       "0:Times|1:Arial", "ERR_MISSING_BRACE ReadFontTbl\n", "Body}", false},
      {"two entries in one group", R"({\rtf1{\fonttbl{\f0 Times;\f1 Arial;}}Body})",
       "0:Times|1:Arial", "ERR_MISSING_BRACE ReadFontTbl\n", "Body}", false},
      {"mixed formats", R"({\rtf1{\fonttbl\f0 Times;{\f1 Arial;}}Body})", "0:Times|1:Arial", "",
       "Body}", false},
      {"empty table", R"({\rtf1{\fonttbl}Body})", "", "", "Body}", false},
      // Unicode names: the name keeps the raw fallback byte and the entry ends cleanly.
      {"unicode name", R"({\rtf1{\fonttbl{\f2\fnil \u23435?\u20307?;}{\f3 Arial;}}Body})",
       "2:?|3:Arial", "", "Body}", false},
      {"truncated in a name", R"({\rtf1{\fonttbl{\f0 Times;}{\f1 Ari)", "0:Times|1:Ari", "", "",
       true},
      {"truncated after an entry", R"({\rtf1{\fonttbl{\f0 Times;})", "0:Times", "", "", true},
      {"truncated in a nested group", R"({\rtf1{\fonttbl{\f0 Times{\*\falt T)", "0:Times", "", "",
       true},
      {"truncated after the word", R"({\rtf1{\fonttbl)", "", "", "", true},
      {"truncated without a number", R"({\rtf1{\fonttbl{\fswiss Ari)", "-1:Ari",
       "ERR_MISSING_FONT_NUM ReadFontTbl\n", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.input);
    EXPECT_EQ(ReadTable(), c.rest);
    EXPECT_EQ(routed_, c.truncated ? 0 : -1);
    EXPECT_EQ(Fonts(), c.fonts);
    EXPECT_EQ(TakeMessages(), c.messages);
  }
}

TEST_F(TablesTest, AFontTableWithoutItsClosingBraceEndsWhereTheDocumentGoesOn) {
  // The document's first word after the entries ends the table and is routed as the document's:
  // the text that follows is the document's, not font names, and nothing fatal is reported.
  Feed(R"({\rtf1{\fonttbl{\f0 Verdana;} \viewkind4\pard Body}{\f1 Arial;}})");
  EXPECT_EQ(ReadTable(), "Body}{Arial;}}");
  EXPECT_EQ(routed_, 0);
  EXPECT_EQ(Fonts(), "0:Verdana");
  EXPECT_EQ(TakeMessages(), "");
  // Words that belong to font entries still make an entry without its braces.
  Feed(R"({\rtf1{\fonttbl{\f0 Times;}\froman\f1 Georgia;}Body})");
  EXPECT_EQ(ReadTable(), "Body}");
  EXPECT_EQ(Fonts(), "0:Times|1:Georgia");
  EXPECT_EQ(TakeMessages(), "ERR_MISSING_BRACE ReadFontTbl\n");
}

TEST_F(TablesTest, FontErrorsAreFatalByDefault) {
  SetSetting(engine(), "ERR_MISSING_BRACE_Action", "panic");
  Feed(R"({\rtf1{\fonttbl{\f0 Times;}\f1 Arial;}Body})");
  EXPECT_THROW(ReadTable(), ConversionAbandoned);
}

TEST_F(TablesTest, FontLookups) {
  Feed(R"({\rtf1{\fonttbl{\f0 A;}{\f3 B;}{\f0 C;}}})");
  ReadTable();
  // The newest font of a number wins.
  EXPECT_EQ(FontName(0), "C");
  EXPECT_EQ(FontName(3), "B");
  EXPECT_EQ(FontName(-1), "C");
  EXPECT_EQ(FindFont(engine(), 7), nullptr);

  // By name: exact and case-sensitive. A font the engine adds gets a number below -1, which no
  // \f in the text can select (the document may well use numbers it never defined).
  EXPECT_EQ(FindOrAddFontByName(engine(), "B").number, 3);
  EXPECT_EQ(FindOrAddFontByName(engine(), "A").number, 0);
  EXPECT_EQ(FindOrAddFontByName(engine(), "Symbol").number, -2);
  EXPECT_EQ(FindOrAddFontByName(engine(), "Symbol").number, -2);
  EXPECT_EQ(FindOrAddFontByName(engine(), "symbol").number, -3);
  EXPECT_EQ(FontName(-2), "Symbol");
  EXPECT_EQ(FontName(-1), "symbol");
  EXPECT_EQ(FindFont(engine(), 4), nullptr);
  EXPECT_EQ(engine().tables.fonts.size(), 5u);

  // The count starts again with the next document; the largest number there is changes nothing.
  ResetDocumentTables(engine());
  EXPECT_EQ(FindFont(engine(), -1), nullptr);
  EXPECT_EQ(FindOrAddFontByName(engine(), "Arial").number, -2);
  Feed("{\\rtf1{\\fonttbl{\\f2147483647 Max;}}}");
  ReadTable();
  EXPECT_EQ(FontName(2147483647), "Max");
  EXPECT_EQ(FindOrAddFontByName(engine(), "Arial").number, -2);
  EXPECT_EQ(FindOrAddFontByName(engine(), "Courier").number, -3);

  // A negative number in the table is no number text can select.
  Feed(R"({\rtf1{\fonttbl{\f-2 Neg;}}})");
  ReadTable();
  EXPECT_EQ(FindFont(engine(), -2), nullptr);
  EXPECT_EQ(FindOrAddFontByName(engine(), "Neg").number, -1);
}

TEST_F(TablesTest, ReaderInitInstallsTheTableReaders) {
  Feed("");
  EXPECT_EQ(GetDestinationCallback(engine(), dest::kFontTbl), ReadFontTbl);
  EXPECT_EQ(GetDestinationCallback(engine(), dest::kColorTbl), ReadColorTbl);
  EXPECT_EQ(GetDestinationCallback(engine(), dest::kStyleSheet), ReadStyleSheet);
}

TEST_F(TablesTest, ReaderInitFreesTheListsButNotTheInformation) {
  Feed(R"({\rtf1{\fonttbl{\f0 Times;}}})");
  ReadTable();
  AppendInfoText(engine(), kInfoTitle, "Title");
  ASSERT_EQ(engine().tables.fonts.size(), 1u);
  Feed("{\\rtf1}");
  EXPECT_TRUE(engine().tables.fonts.empty());
  EXPECT_EQ(FindFont(engine(), 0), nullptr);
  EXPECT_EQ(DocumentInfo(engine(), kInfoTitle), "Title");
  ResetDocumentInfo(engine());
  EXPECT_EQ(DocumentInfo(engine(), kInfoTitle), "");
}

// ---- Colour table -------------------------------------------------------------------------------

TEST_F(TablesTest, ColorTables) {
  struct Case {
    const char* name;
    std::string input;
    std::string colors;
    std::string messages;
    std::string rest;
  } cases[] = {
      {"automatic and red", R"({\rtf1{\colortbl;\red255\green0\blue0;}Body})",
       "0:-1,-1,-1|1:255,0,0", "", "Body}"},
      {"partial entry", R"({\rtf1{\colortbl\green9;}Body})", "0:-1,9,-1", "", "Body}"},
      {"blanks and line ends", "{\\rtf1{\\colortbl ;\r\n\\red1\\green2\\blue3; }Body}",
       "0:-1,-1,-1|1:1,2,3", "", "Body}"},
      {"last entry without its ';'", R"({\rtf1{\colortbl;\red255\green0\blue0}Body})",
       "0:-1,-1,-1|1:255,0,0", "ERR_MALFORMED_ENTRY ReadColorTbl\n", "Body}"},
      {"stray text", R"({\rtf1{\colortbl;\red1 x;\red2;}Body})",
       "0:-1,-1,-1|1:1,-1,-1|2:-1,-1,-1|3:2,-1,-1", "ERR_MALFORMED_ENTRY ReadColorTbl\n", "Body}"},
      {"nested group", R"({\rtf1{\colortbl;{\*\x 1;}\red3;}Body})",
       "0:-1,-1,-1|1:-1,-1,-1|2:3,-1,-1", "ERR_MALFORMED_ENTRY ReadColorTbl\n", "Body}"},
      {"empty table", R"({\rtf1{\colortbl}Body})", "", "", "Body}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.input);
    EXPECT_EQ(ReadTable(), c.rest);
    EXPECT_EQ(routed_, -1);
    EXPECT_EQ(Colors(), c.colors);
    EXPECT_EQ(TakeMessages(), c.messages);
  }

  for (const char* truncated : {R"({\rtf1{\colortbl;\red255)", R"({\rtf1{\colortbl;{\*\x)"}) {
    SCOPED_TRACE(truncated);
    Feed(truncated);
    EXPECT_EQ(ReadTable(), "");
    EXPECT_EQ(routed_, 0);
  }
}

TEST_F(TablesTest, ColorLookupsTakeTheNewestTable) {
  Feed(R"({\rtf1{\colortbl;\red1;}{\colortbl\red7;}Body})");
  std::string rest;
  while (GetToken(engine()) != kClassEOF) {
    const RtfToken& token = engine().reader.token;
    if (token.tokClass == kClassControl && token.major == kMajorDestination) RouteToken(engine());
    if (token.tokClass == kClassText) rest.push_back(static_cast<char>(token.major));
  }
  EXPECT_EQ(rest, "Body");
  EXPECT_EQ(Colors(), "0:-1,-1,-1|1:1,-1,-1|0:7,-1,-1");
  EXPECT_EQ(ColorRed(0), 7);
  EXPECT_EQ(ColorRed(1), 1);
  EXPECT_EQ(FindColor(engine(), 2), nullptr);
  EXPECT_EQ(ColorRed(-1), 7);
}

TEST_F(TablesTest, ColorMatching) {
  AddColor("black", 0, 0, 0);
  AddColor("blue", 0, 0, 255);
  struct Case {
    int red, green, blue;
    int value;          ///< expected .Colors index
    const char* added;  ///< name of the entry added for it, or nullptr
  } cases[] = {
      {0, 0, 127, 0, nullptr},       // 127 from black: near enough
      {0, 0, 128, 1, nullptr},       // 128 from black, 127 from blue
      {0, 64, 64, 2, "#004040"},     // 128 from black, 255 from blue: a new entry
      {-1, -1, -1, 0, nullptr},      // automatic: taken as black
      {200, 0, 0, 3, "#c80000"},     // nothing near
      {210, 0, 0, 3, nullptr},       // near the entry just added
      {999, -5, 300, 4, "#ff00ff"},  // components are taken within 0-255
  };

  engine().tables.colors.clear();
  for (int i = 0; i < 7; ++i) {
    ColorTableEntry entry;
    entry.number = i;
    entry.red = cases[i].red;
    entry.green = cases[i].green;
    entry.blue = cases[i].blue;
    engine().tables.colors.push_back(entry);
  }
  EndColorTable(engine());
  std::vector<std::string> added;
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(engine().tables.colors[i].value, cases[i].value);
    if (cases[i].added) added.push_back(cases[i].added);
  }
  ASSERT_EQ(engine().translation.colors.size(), 2 + added.size());
  for (std::size_t i = 0; i < added.size(); ++i)
    EXPECT_EQ(engine().translation.colors[2 + i].name, added[i]);
  EXPECT_EQ(engine().translation.colors[3].red, 200);

  // Pass 2 matches the same colours again and finds the entries pass 1 added.
  EndColorTable(engine());
  EXPECT_EQ(engine().translation.colors.size(), 2 + added.size());
  for (int i = 0; i < 7; ++i) EXPECT_EQ(engine().tables.colors[i].value, cases[i].value);
}

TEST_F(TablesTest, ColorMatchingTiesAndLimit) {
  AddColor("first", 0, 0, 0);
  AddColor("second", 0, 0, 100);
  ColorTableEntry entry;
  entry.red = 0;
  entry.green = 0;
  entry.blue = 50;
  engine().tables.colors.push_back(entry);
  EndColorTable(engine());
  EXPECT_EQ(engine().tables.colors[0].value, 0);  // equal distance: the earlier entry

  SetSetting(engine(), "MaxColorDiff", "1");
  EndColorTable(engine());
  EXPECT_EQ(engine().tables.colors[0].value, 2);
  EXPECT_EQ(engine().translation.colors[2].name, "#000032");

  SetSetting(engine(), "MaxColorDiff", "0");  // nothing is near enough, not even itself
  EndColorTable(engine());
  EXPECT_EQ(engine().tables.colors[0].value, 3);
}

TEST_F(TablesTest, ManyColorsMatchQuickly) {
  // Every colour distinct and the limit at 1: each one is added, and each search must stay local.
  SetSetting(engine(), "MaxColorDiff", "1");
  std::string table = "{\\rtf1{\\colortbl;";
  for (int i = 0; i < 30000; ++i)
    table += "\\red" + std::to_string(i % 256) + "\\green" + std::to_string(i / 256) + "\\blue7;";
  table += "}}";
  Feed(table);
  const auto start = std::chrono::steady_clock::now();
  ReadTable();
  EndColorTable(engine());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(engine().tables.colors.size(), 30001u);
  EXPECT_EQ(engine().translation.colors.size(), 30001u);
  EXPECT_EQ(engine().tables.colors[300].value, 300);
}

// ---- Style sheet --------------------------------------------------------------------------------

TEST_F(TablesTest, StyleSheetEntries) {
  struct Case {
    const char* name;
    std::string input;
    std::string styles;
    std::string messages;
  } cases[] = {
      {"paragraph style", R"({\rtf1{\stylesheet{\s1 heading 1 ;}}Body})", "1:0:heading 1", ""},
      {"no name, no ';'", R"({\rtf1{\stylesheet{\fs20}}Body})", "0:0:Normal", ""},
      {"no name", R"({\rtf1{\stylesheet{\fs20;}}Body})", "0:0:", ""},
      {"name without ';'", R"({\rtf1{\stylesheet{\s3 Quote}}Body})", "3:0:Quote", ""},
      {"kinds",
       R"({\rtf1{\stylesheet{\s0 Normal;}{\*\cs10 \additive Default Font;}{\ds2 Sec;}}Body})",
       "0:0:Normal|10:1:Default Font|2:2:Sec", ""},
      {"negative number", R"({\rtf1{\stylesheet{\s-4 Odd;}}Body})", "0:0:Odd", ""},
      {"blanks between entries", "{\\rtf1{\\stylesheet\r\n{\\s1 A;}\r\n {\\s2 B;} }Body}",
       "1:0:A|2:0:B", ""},
      {"nested group", R"({\rtf1{\stylesheet{\s1{\*\keycode \shift\ctrl n}Key;}}Body})", "1:0:Key",
       ""},
      {"style without its brace", R"({\rtf1{\stylesheet{\s1 A;}\s2 B;}Body})", "1:0:A|2:0:B",
       "ERR_MISSING_BRACE ReadStyleSheet\n"},
      {"two styles in one group", R"({\rtf1{\stylesheet{\s1 A;\s2 B;}}Body})", "1:0:A|2:0:B",
       "ERR_MISSING_BRACE ReadStyleSheet\n"},
      {"empty", R"({\rtf1{\stylesheet}Body})", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.input);
    EXPECT_EQ(ReadTable(), "Body}");
    EXPECT_EQ(routed_, -1);
    EXPECT_EQ(Styles(), c.styles);
    EXPECT_EQ(TakeMessages(), c.messages);
  }

  for (const char* truncated : {R"({\rtf1{\stylesheet{\s1 Head)", R"({\rtf1{\stylesheet{\s1 A;})",
                                R"({\rtf1{\stylesheet{\s1{\*\keycode)"}) {
    SCOPED_TRACE(truncated);
    Feed(truncated);
    EXPECT_EQ(ReadTable(), "");
    EXPECT_EQ(routed_, 0);
    ASSERT_EQ(engine().tables.styles.size(), 1u);
    EXPECT_EQ(engine().tables.styles[0].number, 1);
  }
}

TEST_F(TablesTest, StyleAttributesAndTokens) {
  Feed(R"({\rtf1{\stylesheet{\s2\sbasedon1\snext0\ql\fs24\b heading 2;}{\s3 Plain;}}})");
  ReadTable();
  const StyleEntry* style = FindStyle(engine(), 2);
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->basedOn, 1);
  EXPECT_EQ(style->nextPar, 0);
  EXPECT_FALSE(style->additive);
  ASSERT_EQ(style->tokens.size(), 3u);
  const struct {
    int major, minor, param;
    const char* text;
  } expected[] = {{kMajorParAttr, 11, kNoParam, "\\ql"},
                  {kMajorCharAttr, chr::kFontSize, 24, "\\fs24"},
                  {kMajorCharAttr, chr::kBold, kNoParam, "\\b"}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(style->tokens[i].tokClass, kClassControl);
    EXPECT_EQ(style->tokens[i].major, expected[i].major);
    EXPECT_EQ(style->tokens[i].minor, expected[i].minor);
    EXPECT_EQ(style->tokens[i].param, expected[i].param);
    EXPECT_EQ(style->tokens[i].text, expected[i].text);
  }
  // Defaults: based on 222, the next style is the style itself.
  style = FindStyle(engine(), 3);
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->basedOn, 222);
  EXPECT_EQ(style->nextPar, 3);
  EXPECT_TRUE(style->tokens.empty());
}

TEST_F(TablesTest, StyleLookupsTakeTheNewest) {
  Feed(R"({\rtf1{\stylesheet{\s1 A;}{\s2 B;}{\s1 C;}}})");
  ReadTable();
  EXPECT_EQ(StyleName(1), "C");
  EXPECT_EQ(StyleName(2), "B");
  EXPECT_EQ(StyleName(-1), "C");
  EXPECT_EQ(FindStyle(engine(), 9), nullptr);
}

// ---- End-of-table bindings ----------------------------------------------------------------------

TEST_F(TablesTest, StyleNamesOfTheTagTablesBecomeNumbers) {
  auto& pmatch = engine().translation.pmatch;
  for (const char* name : {"Heading 1", "h2", "heading 2,h2", "Missing", "", "Strong", "Normal"}) {
    PMatchEntry entry;
    entry.styleName = name;
    entry.styleKey = entry.styleName.empty() ? -1 : 999;
    pmatch.push_back(entry);
  }
  auto& tmatch = engine().translation.tmatch;
  for (const char* names : {"Emphasis,Strong", "strong", "Nope", "", "heading 1,Emphasis"}) {
    TMatchEntry entry;
    entry.charStyleNames = names;
    entry.styleKey = entry.charStyleNames.empty() ? -1 : 999;
    tmatch.push_back(entry);
  }

  Feed(R"({\rtf1{\stylesheet{\s0 Normal;}{\s1 heading 1;}{\s2 heading 2,h2;})"
       R"({\*\cs10 \additive Strong;}{\*\cs11 \additive Emphasis;}{\s5 HEADING 1;}}})");
  ReadTable();
  EndStyleSheet(engine());
  const int expectedP[] = {1, 2, 2, kNoStyleNumber, -1, kNoStyleNumber, 0};
  for (std::size_t i = 0; i < pmatch.size(); ++i) {
    SCOPED_TRACE(pmatch[i].styleName);
    EXPECT_EQ(pmatch[i].styleKey, expectedP[i]);
  }
  // The first character style of the stylesheet whose name is in the list.
  const int expectedT[] = {10, 10, kNoStyleNumber, -1, 11};
  for (std::size_t i = 0; i < tmatch.size(); ++i) {
    SCOPED_TRACE(tmatch[i].charStyleNames);
    EXPECT_EQ(tmatch[i].styleKey, expectedT[i]);
  }
}

TEST_F(TablesTest, FontNamesOfTheTagTablesBecomeNumbers) {
  auto& tmatch = engine().translation.tmatch;
  for (const char* name : {"Arial", "Courier New", "", "Courier New"}) {
    TMatchEntry entry;
    entry.fontName = name;
    entry.fontKey = entry.fontName.empty() ? -1 : 999;
    tmatch.push_back(entry);
  }
  auto& charsets = engine().translation.charsets;
  for (const char* name : {"Symbol", ""}) {
    CharsetEntry entry;
    entry.charset = 2;
    entry.fontName = name;
    entry.fontKey = entry.fontName.empty() ? -1 : kPendingFontNumber;
    charsets.push_back(entry);
  }

  Feed(R"({\rtf1{\fonttbl{\f0 Times;}{\f4 Arial;}{\f7 Symbol;}}})");
  ReadTable();
  EndFontTable(engine());
  EXPECT_EQ(tmatch[0].fontKey, 4);
  EXPECT_EQ(tmatch[1].fontKey, -2);  // added to the document's fonts, out of the text's reach
  EXPECT_EQ(tmatch[2].fontKey, -1);
  EXPECT_EQ(tmatch[3].fontKey, -2);
  EXPECT_EQ(charsets[0].fontKey, 7);
  EXPECT_EQ(charsets[1].fontKey, -1);
  EXPECT_EQ(FontName(-2), "Courier New");
}

// ---- Document information -----------------------------------------------------------------------

TEST_F(TablesTest, DocumentInformation) {
  const struct {
    int minor;
    InfoKind text, breaks;
  } routes[] = {{dest::kTitle, kInfoTitle, kInfoTitle},
                {dest::kSubject, kInfoSubject, kInfoSubject},
                {dest::kAuthor, kInfoAuthor, kInfoAuthor},
                {dest::kOperator, kInfoOperator, kInfoOperator},
                {dest::kKeywords, kInfoKeywords, kInfoKeywords},
                {dest::kComment, kInfoComments, kInfoComments},
                {dest::kDocComment, kInfoDocComments, kInfoDocComments},
                {dest::kVersComment, kInfoDocComments, kInfoVersComments}};
  for (const auto& route : routes) {
    InfoKind text = kInfoCount, breaks = kInfoCount;
    ASSERT_TRUE(InfoDestination(route.minor, text, breaks)) << route.minor;
    EXPECT_EQ(text, route.text);
    EXPECT_EQ(breaks, route.breaks);
  }
  InfoKind text = kInfoCount, breaks = kInfoCount;
  EXPECT_FALSE(InfoDestination(dest::kInfo, text, breaks));
  EXPECT_FALSE(InfoDestination(17, text, breaks));

  AppendInfoText(engine(), kInfoAuthor, "Ada ");
  AppendInfoText(engine(), kInfoAuthor, "Lovelace");
  AppendInfoText(engine(), kInfoCount, "ignored");
  AppendInfoText(engine(), static_cast<InfoKind>(-1), "ignored");
  EXPECT_EQ(DocumentInfo(engine(), kInfoAuthor), "Ada Lovelace");
  EXPECT_EQ(DocumentInfo(engine(), kInfoCount), "");
  ResetDocumentTables(engine());
  EXPECT_EQ(DocumentInfo(engine(), kInfoAuthor), "Ada Lovelace");
  ResetDocumentInfo(engine());
  EXPECT_EQ(DocumentInfo(engine(), kInfoAuthor), "");
}

// ---- Pathological inputs ------------------------------------------------------------------------

TEST_F(TablesTest, PathologicalTablesEndQuickly) {
  const auto start = std::chrono::steady_clock::now();

  // Thousands of fonts and styles: reading, lookups and the end-of-table bindings stay linear.
  std::string fonts = "{\\rtf1{\\fonttbl";
  std::string styles = "{\\rtf1{\\stylesheet";
  for (int i = 0; i < 20000; ++i) {
    fonts += "{\\f" + std::to_string(i) + "\\fswiss{\\*\\panose 0}Font " + std::to_string(i) + ";}";
    styles += "{\\s" + std::to_string(i) + "\\fs20 Style " + std::to_string(i) + ";}";
  }
  for (int i = 0; i < 200; ++i) {
    PMatchEntry p;
    p.styleName = "style " + std::to_string(i * 97);
    engine().translation.pmatch.push_back(p);
    TMatchEntry t;
    t.fontName = "Font " + std::to_string(i * 89);
    engine().translation.tmatch.push_back(t);
  }
  Feed(fonts + "}Body}");
  EXPECT_EQ(ReadTable(), "Body}");
  EndFontTable(engine());
  EXPECT_EQ(engine().tables.fonts.size(), 20000u);
  EXPECT_EQ(FontName(12345), "Font 12345");
  EXPECT_EQ(engine().translation.tmatch[100].fontKey, 8900);
  Feed(styles + "}Body}");
  EXPECT_EQ(ReadTable(), "Body}");
  EndStyleSheet(engine());
  EXPECT_EQ(StyleName(19999), "Style 19999");
  EXPECT_EQ(engine().translation.pmatch[100].styleKey, 9700);

  // Deep nesting inside an entry is counted, not recursed into; unbalanced braces end at the end
  // of input.
  const std::string deep(100000, '{'), undeep(100000, '}');
  Feed("{\\rtf1{\\fonttbl{\\f0 A" + deep + undeep + ";}}Body}");
  EXPECT_EQ(ReadTable(), "Body}");
  EXPECT_EQ(Fonts(), "0:A");
  Feed("{\\rtf1{\\stylesheet{\\s1" + deep + undeep + "B;}}Body}");
  EXPECT_EQ(ReadTable(), "Body}");
  EXPECT_EQ(Styles(), "1:0:B");
  for (const char* word : {"fonttbl", "colortbl", "stylesheet"}) {
    Feed(std::string("{\\rtf1{\\") + word + deep);
    EXPECT_EQ(ReadTable(), "");
    Feed(std::string("{\\rtf1{\\") + word + undeep);
    EXPECT_EQ(ReadTable(), std::string(undeep.size() - 1, '}'));
  }

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace quillo::rtf
