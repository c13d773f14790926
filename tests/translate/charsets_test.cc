// Text beyond one byte: Unicode escapes with their fallback text, document code pages and
// double-byte fonts.
#include <gtest/gtest.h>

#include "translate/translate_fixture.h"

namespace quillo::test {
namespace {

using CharsetsTest = TranslateTest;

constexpr char kCharsets[] = R"(.Charsets
0 "" ansi-gen
1 "" mac-gen
204 "" cp1251
238 "" cp1250
0 "" ansi-gen
)";

std::string Tables() { return std::string(kSimpleTables) + kCharsets; }

TEST_F(CharsetsTest, UnicodeEscapesAndTheirFallbackText) {
  struct Case {
    const char* body;
    const char* text;
  };
  const Case cases[] = {
      {"\\u1046?x", "&#1046;x"},
      {"\\u233?", "&eacute;"},
      {"\\u233e", "&eacute;"},               // the fallback letter is skipped
      {"\\uc0\\u233 e", "&eacute;e"},        // \uc0: no fallback text
      {"{\\uc2\\u233 xy}z", "&eacute;z"},    // \uc2 skips two, inside its group only
      {"{\\uc2\\u233 x}y", "&eacute;y"},     // a group end stops the skipping
      {"{\\uc2 a}\\u233 xy", "a&eacute;y"},  // outside the group \uc is 1 again
      {"\\u233\\'e9z", "&eacute;z"},         // a hex escape is one fallback character
      {"\\u8220\\ldblquote x", "&ldquo;x"},  // so is a character word
      {"\\u233\\b x", "&eacute;<b>x</b>"},   // any other word ends the fallback
      {"\\u-223?", "&#65313;"},              // negative: N + 65536
      {"\\u-10179?\\u-8704?", "&#128512;"},  // a surrogate pair is one character
      {"\\u60?", "&lt;"},                    // through the output map
      {"\\u-10179?x", "&#65533;x"},          // a lone first half
      {"\\u-8704?x", "&#65533;x"},           // a lone second half
      // Characters no markup language accepts never reach the page: controls carry no text,
      // C1 controls are the Windows-1252 characters mis-encoded documents mean by them, and
      // non-characters become the replacement character.
      {"a\\u1?b\\u11?c\\u127?d", "abcd"},
      {"a\\'01b\\'0bc\\'1fd", "abcd"},
      {"\\u150?\\u128?\\u129?x", "&ndash;&euro;x"},
      {"\\u-2?\\u-1?x", "&#65533;&#65533;x"},
      {"a\\u9?b", "a&#9;b"},  // tab stays
  };
  for (const Case& c : cases) {
    Conversion result = Convert(Tables(), std::string("{\\rtf1\\ansi ") + c.body + "}");
    EXPECT_EQ(result.page, std::string("<p>") + c.text + "</p>\n") << c.body;
  }
}

TEST_F(CharsetsTest, BmpOnlyReplacesCharactersBeyondU0000FFFF) {
  const std::string doc = "{\\rtf1\\ansi \\u-10179?\\u-8704? \\u20320? \\u-3?}";
  EXPECT_EQ(Convert(Tables(), doc).page, "<p>&#128512; &#20320; &#65533;</p>\n");
  EXPECT_EQ(Convert(Tables(), doc, {"-D", "BmpOnly=1"}).page,
            "<p>&#65533; &#20320; &#65533;</p>\n");
  EXPECT_EQ(Convert(Tables(), doc, {"-D", "BmpOnly=0"}).page,
            "<p>&#128512; &#20320; &#65533;</p>\n");
}

TEST_F(CharsetsTest, CyrillicCodePageDocument) {
  const char* kHello = "&#1055;&#1088;&#1080;&#1074;&#1077;&#1090;";  // Привет
  // The document code page alone, and a font that names the Cyrillic charset.
  for (const char* fonts : {"{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}",
                            "{\\fonttbl{\\f0\\fswiss\\fcharset204 Arial;}}"}) {
    Conversion result = Convert(Tables(), std::string("{\\rtf1\\ansi\\ansicpg1251\\deff0") + fonts +
                                              "\\f0 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 ok}");
    EXPECT_EQ(result.page, std::string("<p>") + kHello + " ok</p>\n") << fonts;
    EXPECT_EQ(result.errors, "");
  }
  // A Cyrillic font in a Western document; text in other fonts stays Western.
  Conversion result =
      Convert(Tables(),
              "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}{\\f1\\fcharset204 Arial;}}"
              "\\f1 \\'cf\\f0 \\'e9{\\f1 \\'cf}\\'e9}");
  EXPECT_EQ(result.page, "<p>&#1055;&eacute;&#1055;&eacute;</p>\n");
}

TEST_F(CharsetsTest, CentralEuropeanCodePage) {
  Conversion result =
      Convert(Tables(), "{\\rtf1\\ansi\\ansicpg1250\\deff0{\\fonttbl{\\f0 Arial;}}\\'9a\\'e8}");
  EXPECT_EQ(result.page, "<p>&scaron;&#269;</p>\n");
}

TEST_F(CharsetsTest, ShiftJisPairsDecodeToOneCharacter) {
  const std::string head =
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}{\\f1\\fnil\\fcharset128 MS Mincho;}}";
  struct Case {
    std::string body;
    const char* text;
  };
  const Case cases[] = {
      {"\\f1 \\'93\\'fa\\'96\\'7b", "&#26085;&#26412;"},  // 日本: the trail byte 7b is a '{'
      {"\\f1 \x93\xfa", "&#26085;"},                      // raw bytes
      {"\\f1 A\\'b1B", "A&#65393;B"},                     // a single-byte katakana
      {"{\\f1 \\'93\\'fa}\\'e9", "&#26085;&eacute;"},     // the Western font comes back
      {"\\f1 \\'93\\par", "&#65533;"},                    // a lead byte without its trail
  };
  for (const Case& c : cases) {
    Conversion result = Convert(Tables(), head + c.body + "}");
    EXPECT_EQ(result.page, std::string("<p>") + c.text + "</p>\n") << c.body;
  }
}

// The optional hyphen is the standard character "softhyphen": written as the output map says,
// and not at all by a map (a plain-text or user output language) that has no entry for it.
TEST_F(CharsetsTest, OptionalHyphenGoesThroughTheOutputMap) {
  const std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}ab\\-cd\\par}";
  Conversion html = Convert(Tables(), rtf);
  EXPECT_EQ(html.page, "<p>ab&shy;cd</p>\n");

  const std::string plainMap = dir_.File("plain-map.txt");
  WriteFile(plainMap, "rtfSC_a \"a\"\nrtfSC_b \"b\"\nrtfSC_c \"c\"\nrtfSC_d \"d\"\n");
  Conversion plain = Convert(Tables(), rtf, {"-D", "OutMap=" + plainMap});
  EXPECT_EQ(plain.page, "<p>abcd</p>\n");
  EXPECT_EQ(plain.page.find("&#173;"), std::string::npos);

  const std::string markedMap = dir_.File("marked-map.txt");
  WriteFile(markedMap,
            "rtfSC_a \"a\"\nrtfSC_b \"b\"\nrtfSC_c \"c\"\nrtfSC_d \"d\"\n"
            "rtfSC_softhyphen \"<shy/>\"\n");
  Conversion marked = Convert(Tables(), rtf, {"-D", "OutMap=" + markedMap});
  EXPECT_EQ(marked.page, "<p>ab<shy/>cd</p>\n");
}

}  // namespace
}  // namespace quillo::test
