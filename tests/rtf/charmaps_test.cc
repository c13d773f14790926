// Character set maps, the output map and the choice of the current .Charsets entry. Map files are
// written into a temporary folder and read by absolute name; the shipped maps come from the data
// folder. The fixture lets the map messages (fatal by default) go on as plain messages, gives each
// a text that lists its code and parameters, and reads them back from the error file.
#include "rtf/charmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo::rtf {
namespace {

/// The messages of the map readers and the number of parameters each is reported with.
struct MapMessage {
  const char* code;
  int params;
};
constexpr MapMessage kMapMessages[] = {{"ERR_UNKNOWN_CHAR", 2},    {"ERR_MALFORMED_CHARSET", 2},
                                       {"ERR_CHAR_VALUE_HIGH", 4}, {"ERR_READ_CHAR_SET_MAP", 1},
                                       {"MSG_UNKNOWN_CHAR", 2},    {"MSG_MALFORMED_OUTPUT", 2}};

constexpr const char* kShippedMaps[] = {"ansi-gen", "mac-gen", "pc-gen", "pca-gen", "symbol",
                                        "cp1250",   "cp1251",  "cp1253", "cp1254",  "cp1255",
                                        "cp1256",   "cp1257",  "cp1258", "cp874"};

class CharMapsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine().messages.errorFileName = dir_.File("errors.html");
    engine().messages.discardPrinted = false;
    SetMapMessageActions("message");
    // "CODE p1|p2...": the code and the parameters of every report, one line each.
    for (const MapMessage& message : kMapMessages) {
      std::string text = std::string(message.code) + " ";
      for (int n = 1; n <= message.params; ++n)
        text += (n > 1 ? "|$MsgParam" : "$MsgParam") + std::to_string(n) + ";";
      SetSetting(engine(), message.code, text + "\n");
    }
    ResetCharMaps(engine());
  }

  void SetMapMessageActions(const char* action) {
    for (const MapMessage& message : kMapMessages)
      SetSetting(engine(), std::string(message.code) + "_Action", action);
  }
  /// The messages reported since the last call, one "CODE p1|p2..." line each.
  std::string TakeMessages() {
    const std::string all = test::ReadFile(dir_.File("errors.html"));
    const std::size_t body = all.find("<pre>\n");
    const std::string messages = body == std::string::npos ? "" : all.substr(body + 6);
    const std::string fresh = messages.substr(std::min(consumed_, messages.size()));
    consumed_ = messages.size();
    return fresh;
  }
  std::string WriteMap(const std::string& text, const std::string& name = "map.txt") {
    const std::string path = dir_.File(name);
    test::WriteFile(path, text);
    return path;
  }
  std::shared_ptr<CharsetMap> ReadMap(const std::string& text) {
    return RTFReadCharSetMap(engine(), WriteMap(text));
  }
  int Index(const std::string& name) { return StandardCharIndex(engine(), name, false); }
  int Nothing() { return NothingCharIndex(engine()); }
  /// Number of byte slots (0-255) that are not the nothing character.
  int MappedBytes(const CharsetMap& map) {
    int count = 0;
    for (int i = 0; i < CharsetMap::kByteSlots; ++i) count += map.slots[i] != Nothing();
    return count;
  }
  /// Output text of the standard character of `byte` in the current character set, "" if none.
  std::string TextOfByte(int byte) {
    const char* text = OutputText(engine(), MapCharToStandard(engine(), byte));
    return text ? text : "";
  }
  void AddCharset(int charset, const std::string& fontName, int fontKey,
                  const std::string& mapFile) {
    CharsetEntry entry;
    entry.charset = charset;
    entry.fontName = fontName;
    entry.fontKey = fontKey;
    entry.mapFile = mapFile;
    engine().translation.charsets.push_back(std::move(entry));
  }

  Engine& engine() { return *engine_; }
  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
  std::size_t consumed_ = 0;  ///< length of the error-file text TakeMessages has handed out
};

// ---- Standard characters ------------------------------------------------------------------------

TEST_F(CharMapsTest, StandardNamesAreAddedInOrderAndNeverLost) {
  const int nothing = Nothing();
  EXPECT_EQ(StandardCharName(engine(), nothing), "rtfSC_nothing");
  EXPECT_EQ(Index("rtfSC_test_one"), -1);
  const int one = StandardCharIndex(engine(), "rtfSC_test_one", true);
  const int two = StandardCharIndex(engine(), "rtfSC_test_two", true);
  EXPECT_EQ(two, one + 1);
  EXPECT_EQ(StandardCharIndex(engine(), "rtfSC_test_one", true), one);
  EXPECT_EQ(Index("rtfSC_test_two"), two);
  EXPECT_EQ(StandardCharIndex(engine(), "", true), -1);
  EXPECT_EQ(StandardCharName(engine(), -1), "");
  EXPECT_EQ(StandardCharName(engine(), two + 1), "");

  ResetCharMaps(engine());  // next conversion: names and their indexes stay
  EXPECT_EQ(Nothing(), nothing);
  EXPECT_EQ(Index("rtfSC_test_one"), one);
  EXPECT_EQ(StandardCharName(engine(), two), "rtfSC_test_two");
}

// ---- Character set map files --------------------------------------------------------------------

TEST_F(CharMapsTest, CodesOfEveryFormMapTheirByte) {
  struct Case {
    std::string line;
    std::string name;
    int byte;
  };
  const std::vector<Case> cases = {
      {"A A", "A", 65},
      {"A 65", "A", 65},
      {"A 0x41", "A", 65},
      {"A 0X41", "A", 65},
      {"A 0x041", "A", 65},
      {"rtfSC_bullet 0x95", "rtfSC_bullet", 149},
      {"top 0xfF", "top", 255},
      {"zero 0", "zero", 48},  // a single character is the character, not a number
      {"zero 00", "zero", 0},
      {"rtfSC_quotedbl '\"'", "rtfSC_quotedbl", 34},
      {"rtfSC_space \" \"", "rtfSC_space", 32},
      {"rtfSC_backslash \\", "rtfSC_backslash", 92},  // no escapes in map files
      {"\"quoted name\"\t0x61", "quoted name", 97},
      {"high \xE9", "high", 0xE9},
      {"  indented   0x20   trailing words ignored", "indented", 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto map = ReadMap(c.line + "\n");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(TakeMessages(), "");
    ASSERT_GE(Index(c.name), 0);
    EXPECT_EQ(map->slots[c.byte], Index(c.name));
    EXPECT_EQ(MappedBytes(*map), 1);
    for (int offset = 0; offset < CharsetMap::kSpecialSlots; ++offset)
      EXPECT_EQ(map->slots[CharsetMap::kByteSlots + offset], Nothing());
  }
}

TEST_F(CharMapsTest, SpecialNamesFillTheirSpecialSlots) {
  for (int offset = 0; offset < CharsetMap::kSpecialSlots; ++offset) {
    const std::string special(kSpecialCharNames[offset]);
    SCOPED_TRACE(special);
    auto map = ReadMap("my_char " + special + "\n");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->slots[CharsetMap::kByteSlots + offset], Index("my_char"));
    EXPECT_EQ(MappedBytes(*map), 0);
  }
  auto map = ReadMap("rtfSC_bullet rtfSC_bullet\nrtfSC_bullet 0x95\n");
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->slots[CharsetMap::kByteSlots + kSpecialBullet], Index("rtfSC_bullet"));
  EXPECT_EQ(map->slots[149], Index("rtfSC_bullet"));
}

TEST_F(CharMapsTest, MalformedLinesAreReportedSkippedAndReadingGoesOn) {
  struct Case {
    std::string line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"A 300", "ERR_CHAR_VALUE_HIGH RTFReadCharSetMap|300|A|255"},
      {"A 256", "ERR_CHAR_VALUE_HIGH RTFReadCharSetMap|256|A|255"},
      {"A 0x100", "ERR_CHAR_VALUE_HIGH RTFReadCharSetMap|256|A|255"},
      // Held at the ceiling instead of overflowing.
      {"A 99999999999999999999999", "ERR_CHAR_VALUE_HIGH RTFReadCharSetMap|2147483647|A|255"},
      {"A 0xFFFFFFFFFFFFFFFFFFFF", "ERR_CHAR_VALUE_HIGH RTFReadCharSetMap|2147483647|A|255"},
      {"A", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A   \t ", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A 0x", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A 0xG1", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A 12z", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A 1a", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A -1", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"A ''", "ERR_MALFORMED_CHARSET RTFReadCharSetMap|A"},
      {"'' 0x41", "ERR_UNKNOWN_CHAR RTFReadCharSetMap|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto map = ReadMap(c.line + "\nB 0x42\n");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(TakeMessages(), c.message + "\n");
    EXPECT_EQ(map->slots[0x42], Index("B"));  // the next line is still read
    EXPECT_EQ(MappedBytes(*map), 1);
  }
}

TEST_F(CharMapsTest, CommentsBlankLinesLineEndsAndOverlongLines) {
  const std::string overlong = "Z 0x5A" + std::string(1100, ' ') + "tail 0x20";
  auto map = ReadMap(
      "# comment 0x41\n"
      "\n"
      "   \t \n"
      "C 0x43\r\n"
      " # 0x23\n" +  // only a '#' in the first column makes a comment
      overlong +
      "\n" + "D 0x44");  // last line without a newline
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(TakeMessages(), "");
  EXPECT_EQ(map->slots[0x41], Nothing());
  EXPECT_EQ(map->slots[0x43], Index("C"));
  EXPECT_EQ(map->slots[0x23], Index("#"));
  EXPECT_EQ(map->slots[0x5A], Index("Z"));
  EXPECT_EQ(map->slots[0x20], Nothing());  // the cut-off rest of the long line is not a line
  EXPECT_EQ(map->slots[0x44], Index("D"));
  EXPECT_EQ(MappedBytes(*map), 4);
}

TEST_F(CharMapsTest, MissingMapFileGivesNothing) {
  EXPECT_EQ(RTFReadCharSetMap(engine(), dir_.File("no-such-map")), nullptr);
  EXPECT_EQ(TakeMessages(), "");
}

TEST_F(CharMapsTest, FatalMapMessageStillClosesTheFile) {
  SetMapMessageActions("panic");
  const std::string path = WriteMap("A 300\n");
  EXPECT_THROW(RTFReadCharSetMap(engine(), path), ConversionAbandoned);
  for (const auto& entry : engine().files.entries) {
    if (entry && entry->name == path) {
      EXPECT_NE(entry->state, FileState::kOpen);
    }
  }
}

// ---- Current character set ----------------------------------------------------------------------

TEST_F(CharMapsTest, MapsAreLoadedOnFirstUse) {
  AddCharset(0, "", -1, WriteMap("A 0x41\nrtfSC_bullet rtfSC_bullet\n"));
  EXPECT_EQ(engine().translation.charsets[0].map, nullptr);
  SelectCharset(engine(), 0, 0);
  EXPECT_EQ(engine().translation.charsets[0].map, nullptr);
  const int mapped = MapCharToStandard(engine(), 'A');  // loads the map, which adds "A"
  ASSERT_NE(engine().translation.charsets[0].map, nullptr);
  EXPECT_EQ(mapped, Index("A"));
  EXPECT_EQ(MapSpecialChar(engine(), kSpecialBullet), Index("rtfSC_bullet"));
  EXPECT_EQ(MapCharToStandard(engine(), 'B'), Nothing());

  for (int byte : {-1, 256, 100000}) EXPECT_EQ(MapCharToStandard(engine(), byte), Nothing());
  for (int offset : {-1, 10, 266}) EXPECT_EQ(MapSpecialChar(engine(), offset), Nothing());

  // A byte reported once as unmapped can be given its own standard character.
  const int own = StandardCharIndex(engine(), "Cs0&#66;", true);
  SetCurrentCharsetSlot(engine(), 'B', own);
  EXPECT_EQ(MapCharToStandard(engine(), 'B'), own);
  SetCurrentCharsetSlot(engine(), 256, own);  // ignored
  EXPECT_EQ(TakeMessages(), "");
}

TEST_F(CharMapsTest, UnreadableMapIsReportedOnceAndMapsNothing) {
  AddCharset(0, "", -1, "no-such-map-file");
  EXPECT_EQ(MapCharToStandard(engine(), 'A'), Nothing());
  EXPECT_EQ(TakeMessages(), "ERR_READ_CHAR_SET_MAP no-such-map-file\n");
  EXPECT_EQ(MapCharToStandard(engine(), 'B'), Nothing());
  EXPECT_EQ(MapSpecialChar(engine(), kSpecialEmDash), Nothing());
  EXPECT_EQ(TakeMessages(), "");

  // Also when the message abandons the conversion, it comes once for the entry.
  AddCharset(1, "", -1, "another-missing-map");
  SelectCharset(engine(), 1, -1);
  SetMapMessageActions("panic");
  EXPECT_THROW(MapCharToStandard(engine(), 'A'), ConversionAbandoned);
  EXPECT_EQ(MapCharToStandard(engine(), 'A'), Nothing());
}

TEST_F(CharMapsTest, NoEntriesMapNothing) {
  engine().translation.charsets.clear();
  SelectCharset(engine(), 0, -1);
  EXPECT_EQ(CurrentCharsetEntry(engine()), nullptr);
  EXPECT_EQ(MapCharToStandard(engine(), 'A'), Nothing());
  EXPECT_EQ(MapSpecialChar(engine(), 0), Nothing());
}

TEST_F(CharMapsTest, SelectCharsetPrefersFontSpecificEntries) {
  constexpr int kSymbolFont = 7;
  AddCharset(2, "Symbol", kSymbolFont, "symbol");  // font number set as the font table would
  AddCharset(2, "", -1, "pc-gen");
  AddCharset(1, "", 3, "mac-gen");
  AddCharset(0, "", -1, "ansi-gen");
  struct Case {
    int charset, font, expected;
  };
  const Case cases[] = {
      {2, kSymbolFont, 0}, {2, 3, 1},   {2, -1, 1},  {0, kSymbolFont, 3},
      {0, -1, 3},          {1, 3, 2},   {1, 4, 3},                 // no match: the last entry
      {77, -1, 3},         {-5, -1, 3}, {255, 3, 3}, {256, 3, 2},  // 256 and above are read as 1
      {999, 3, 2},         {256, 4, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "charset " << c.charset << " font " << c.font);
    engine().charMaps.currentCharset = -1;
    SelectCharset(engine(), c.charset, c.font);
    EXPECT_EQ(engine().charMaps.currentCharset, c.expected);
  }

  ASSERT_EQ(RTFReadOutputMap(engine(), "html-mapv4.txt", true), 1);
  SelectCharset(engine(), 2, kSymbolFont);
  EXPECT_EQ(TextOfByte('a'), "&alpha;");
  SelectCharset(engine(), 2, 3);
  EXPECT_EQ(TextOfByte('a'), "a");
  EXPECT_EQ(TakeMessages(), "");
}

TEST_F(CharMapsTest, UnknownFontSelectsTheLastEntry) {
  AddCharset(2, "Symbol", 7, "symbol");
  AddCharset(0, "", -1, "ansi-gen");
  SelectCharset(engine(), 2, 7);
  EXPECT_EQ(engine().charMaps.currentCharset, 0);
  // \f5: the current charset number (2) with font 5 has no entry.
  SelectCharset(engine(), engine().translation.charsets[0].charset, 5);
  EXPECT_EQ(engine().charMaps.currentCharset, 1);
}

TEST_F(CharMapsTest, TextBeforeAnyCharsetWordIsReadAsAnsi) {
  AddCharset(2, "", -1, "symbol");
  AddCharset(0, "Symbol", 7, "symbol");
  AddCharset(0, "", -1, "ansi-gen");
  ResetCharMaps(engine());
  CharsetEntry* entry = CurrentCharsetEntry(engine());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->mapFile, "ansi-gen");
  EXPECT_EQ(engine().charMaps.currentCharset, 2);
  // An index left over from a longer table is not trusted either.
  engine().charMaps.currentCharset = 40;
  EXPECT_EQ(CurrentCharsetEntry(engine())->mapFile, "ansi-gen");
}

TEST_F(CharMapsTest, BindCharsetFontsSetsNamedEntriesOnly) {
  AddCharset(2, "Symbol", kPendingFontNumber, "symbol");
  AddCharset(2, "", -1, "pc-gen");
  AddCharset(0, "Wingdings", kPendingFontNumber, "ansi-gen");
  BindCharsetFonts(engine(), [](std::string_view name) { return name == "Symbol" ? 3 : 12; });
  EXPECT_EQ(engine().translation.charsets[0].fontKey, 3);
  EXPECT_EQ(engine().translation.charsets[1].fontKey, -1);
  EXPECT_EQ(engine().translation.charsets[2].fontKey, 12);
}

// ---- Output map ---------------------------------------------------------------------------------

TEST_F(CharMapsTest, OutputMapLinesAndReplacement) {
  const std::string path = WriteMap(
      "# name text\n"
      "rtfSC_amp &amp;\n"
      "spaced \"a b\"\n"
      "slash \\n\n"
      "later first\n"
      "later second\n"
      "malformed\n"
      "'' empty-name\n"
      "empty ''\n");
  ASSERT_EQ(RTFReadOutputMap(engine(), path, true), 1);
  EXPECT_STREQ(OutputText(engine(), Index("rtfSC_amp")), "&amp;");
  EXPECT_STREQ(OutputText(engine(), Index("spaced")), "a b");
  EXPECT_STREQ(OutputText(engine(), Index("slash")), "\\n");
  EXPECT_STREQ(OutputText(engine(), Index("later")), "second");
  EXPECT_STREQ(OutputText(engine(), Index("empty")), "");
  EXPECT_EQ(OutputText(engine(), Index("malformed")), nullptr);
  EXPECT_EQ(OutputText(engine(), Nothing()), nullptr);
  EXPECT_EQ(OutputText(engine(), -1), nullptr);
  EXPECT_EQ(OutputText(engine(), 1 << 20), nullptr);
  EXPECT_EQ(TakeMessages(),
            "MSG_MALFORMED_OUTPUT RTFReadOutputMap|malformed\n"
            "MSG_UNKNOWN_CHAR RTFReadOutputMap|\n");
  EXPECT_EQ(engine().charMaps.outputMap.size(), engine().charMaps.standardNames.size());

  ASSERT_EQ(RTFReadOutputMap(engine(), WriteMap("again\n", "bad.txt"), false), 1);
  EXPECT_EQ(TakeMessages(), "MSG_MALFORMED_OUTPUT RTFReadOutputMap|again\n");
}

TEST_F(CharMapsTest, OutputMapClearFlag) {
  ASSERT_EQ(RTFReadOutputMap(engine(), WriteMap("one 1\n", "a.txt"), true), 1);
  ASSERT_EQ(RTFReadOutputMap(engine(), WriteMap("two 2\n", "b.txt"), false), 1);
  EXPECT_STREQ(OutputText(engine(), Index("one")), "1");
  EXPECT_STREQ(OutputText(engine(), Index("two")), "2");
  ASSERT_EQ(RTFReadOutputMap(engine(), dir_.File("b.txt"), true), 1);
  EXPECT_EQ(OutputText(engine(), Index("one")), nullptr);
  EXPECT_STREQ(OutputText(engine(), Index("two")), "2");

  EXPECT_EQ(RTFReadOutputMap(engine(), dir_.File("missing.txt"), false), 0);
  EXPECT_STREQ(OutputText(engine(), Index("two")), "2");
  EXPECT_EQ(RTFReadOutputMap(engine(), dir_.File("missing.txt"), true), 0);
  EXPECT_EQ(OutputText(engine(), Index("two")), nullptr);
  EXPECT_TRUE(engine().charMaps.outputMap.empty());

  // Names added after the map was read lie beyond it until a text is stored for them.
  const int late = StandardCharIndex(engine(), "late_name", true);
  EXPECT_EQ(OutputText(engine(), late), nullptr);
  SetOutputText(engine(), late, "&#66;");
  EXPECT_STREQ(OutputText(engine(), late), "&#66;");
}

// ---- Shipped data -------------------------------------------------------------------------------

TEST_F(CharMapsTest, ShippedMapsLoadCleanlyAndAreCoveredByTheOutputMap) {
  SetMapMessageActions("panic");  // any message would abandon
  ASSERT_EQ(RTFReadOutputMap(engine(), "html-mapv4.txt", true), 1);
  for (const char* name : kShippedMaps) {
    SCOPED_TRACE(name);
    std::shared_ptr<CharsetMap> map;
    ASSERT_NO_THROW(map = RTFReadCharSetMap(engine(), name));
    ASSERT_NE(map, nullptr);
    EXPECT_GE(MappedBytes(*map), 150);
    for (int slot = 0; slot < CharsetMap::kSlots; ++slot) {
      if (map->slots[slot] == Nothing()) continue;
      const char* text = OutputText(engine(), map->slots[slot]);
      ASSERT_NE(text, nullptr) << "slot " << slot << " "
                               << StandardCharName(engine(), map->slots[slot]);
      for (const char* c = text; *c; ++c)
        EXPECT_LT(static_cast<unsigned char>(*c), 0x80) << "raw byte in the text of slot " << slot;
    }
    for (int offset = 0; offset < CharsetMap::kSpecialSlots; ++offset)
      EXPECT_EQ(map->slots[CharsetMap::kByteSlots + offset],
                Index(std::string(kSpecialCharNames[offset])));
  }
}

TEST_F(CharMapsTest, ShippedDataSpotChecks) {
  ASSERT_EQ(RTFReadOutputMap(engine(), "html-mapv4.txt", true), 1);
  struct Case {
    const char* map;
    int byte;
    const char* text;
  };
  const Case cases[] = {
      {"ansi-gen", 0xE9, "&eacute;"}, {"ansi-gen", 0x80, "&euro;"}, {"ansi-gen", 0x93, "&ldquo;"},
      {"ansi-gen", 0x95, "&bull;"},   {"ansi-gen", '<', "&lt;"},    {"ansi-gen", '&', "&amp;"},
      {"ansi-gen", '"', "&quot;"},    {"ansi-gen", 'A', "A"},       {"ansi-gen", ' ', " "},
      {"ansi-gen", '\'', "'"},        {"ansi-gen", 0xA0, "&nbsp;"}, {"ansi-gen", 0x9F, "&Yuml;"},
      {"ansi-gen", 0x81, ""},         {"cp1251", 0xC0, "&#1040;"},  {"cp1251", 0xFF, "&#1103;"},
      {"cp1253", 0xC1, "&Alpha;"},    {"cp1250", 0x8A, "&Scaron;"}, {"mac-gen", 0x8E, "&eacute;"},
      {"pc-gen", 0x82, "&eacute;"},   {"pc-gen", 0xE1, "&szlig;"},  {"pca-gen", 0x90, "&Eacute;"},
      {"symbol", 'a', "&alpha;"},     {"symbol", 'W', "&Omega;"},   {"symbol", 0xA5, "&infin;"},
      {"symbol", '1', "1"},           {"cp1255", 0xE0, "&#1488;"},  {"cp874", 0xA1, "&#3585;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.map << " byte " << c.byte);
    auto map = RTFReadCharSetMap(engine(), c.map);
    ASSERT_NE(map, nullptr);
    const char* text = OutputText(engine(), map->slots[c.byte]);
    EXPECT_EQ(std::string(text ? text : ""), c.text);
  }

  AddCharset(0, "", -1, "ansi-gen");
  struct Special {
    int offset;
    const char* text;
  };
  const Special specials[] = {
      {kSpecialBullet, "&bull;"},           {kSpecialEmDash, "&mdash;"},
      {kSpecialEnDash, "&ndash;"},          {kSpecialNoBreakSpace, "&nbsp;"},
      {kSpecialQuoteDoubleLeft, "&ldquo;"}, {kSpecialQuoteDoubleRight, "&rdquo;"},
      {kSpecialQuoteLeft, "&lsquo;"},       {kSpecialQuoteRight, "&rsquo;"},
      {kSpecialNoBreakHyphen, "&#8209;"},   {kSpecialNewline, "&#10;"},
  };
  for (const Special& s : specials)
    EXPECT_STREQ(OutputText(engine(), MapSpecialChar(engine(), s.offset)), s.text) << s.offset;
  EXPECT_EQ(TakeMessages(), "");
}

}  // namespace
}  // namespace quillo::rtf
