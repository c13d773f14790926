#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/field_scanner.h"

namespace quillo {
namespace {

std::vector<std::string> Fields(const ScannerSettings& settings, std::string_view line) {
  FieldScanner scanner(settings);
  scanner.SetLine(line);
  std::vector<std::string> fields;
  std::string field;
  // A runaway scanner must not hang the test: no line here has more than 20 fields.
  while (fields.size() < 20 && scanner.Next(field)) fields.push_back(field);
  EXPECT_FALSE(scanner.Next(field)) << "an exhausted line stays exhausted";
  return fields;
}

ScannerSettings TranslationSettings() {
  ScannerSettings s;
  s.separators = kTranslationSeparators;
  return s;
}

ScannerSettings KeepEmptySettings() {
  ScannerSettings s;
  s.separators = ",";
  s.flags = 1;
  return s;
}

struct ScanCase {
  const char* why;
  std::string line;
  std::vector<std::string> fields;
};

TEST(FieldScannerTest, DefaultSettings) {
  const std::vector<ScanCase> cases = {
      {"runs of blanks and tabs separate once", "a b \t c", {"a", "b", "c"}},
      {"leading and trailing separators give no field", "  lead trail  ", {"lead", "trail"}},
      {"empty line", "", {}},
      {"only separators", " \t ", {}},
      {"double quotes group blanks", "\"a b\" c", {"a b", "c"}},
      {"the other quote is copied inside quotes", "'it\"s' \"it's\"", {"it\"s", "it's"}},
      {"quotes inside a field join its parts", "ab\"cd ef\"gh", {"abcd efgh"}},
      {"an empty quoted field is a field", "x \"\" ''", {"x", "", ""}},
      {"an unclosed quote runs to the end", "\"abc def", {"abc def"}},
      {"escaped blank does not separate", "a\\ b c", {"a b", "c"}},
      {"escaped quotes do not quote", "\\\"q\\\" x", {"\"q\"", "x"}},
      {"escape letters are translated", "a\\nb\\tc\\rd", {"a\nb\tc\rd"}},
      {"escaped backslash", "a\\\\b", {"a\\b"}},
      {"escaped ordinary letter is copied", "\\q", {"q"}},
      {"escape inside quotes", "\"say \\\"hi\\\"\"", {"say \"hi\""}},
      {"escaped backslash does not escape the quote after it", "\"a\\\\\" b", {"a\\", "b"}},
      {"an escape at the end escapes nothing", "ab\\", {"ab"}},
      {"newline terminates", "a\nb c", {"a"}},
      {"carriage return terminates, also inside quotes", "\"a\rb\" c", {"a"}},
      {"NUL ends the line", std::string("a b\0c d", 7), {"a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Fields({}, c.line), c.fields) << c.why;
}

TEST(FieldScannerTest, TranslationFileSeparators) {
  const std::vector<ScanCase> cases = {
      {"commas and blanks mix", "a,b , c", {"a", "b", "c"}},
      {"a run of commas counts as one", "a,,,b", {"a", "b"}},
      {"quoted commas and blanks are kept", "\"x, y\",z", {"x, y", "z"}},
      {"escaped comma", "a\\,b", {"a,b"}},
      {"empty field written as quotes", "'',x", {"", "x"}},
      {"trailing comment is just more fields", "A 1 # c", {"A", "1", "#", "c"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Fields(TranslationSettings(), c.line), c.fields) << c.why;
}

TEST(FieldScannerTest, FlagOneKeepsEmptyFields) {
  const std::vector<ScanCase> cases = {
      {"adjacent separators leave an empty field", "a,,b", {"a", "", "b"}},
      {"a trailing separator leaves one empty field", "a,", {"a", ""}},
      {"a leading separator gives an empty first field", ",a", {"", "a"}},
      {"a lone separator gives two empty fields", ",", {"", ""}},
      {"a separator before a terminator", "a,\r\n", {"a", ""}},
      {"empty line has no field", "", {}},
      {"blanks are not separators here", " a ", {" a "}},
  };
  for (const auto& c : cases) EXPECT_EQ(Fields(KeepEmptySettings(), c.line), c.fields) << c.why;
}

TEST(FieldScannerTest, SettingsAndState) {
  // Escapes switched off: the backslash is an ordinary character.
  ScannerSettings noEscapes;
  noEscapes.noEscapes = true;
  EXPECT_EQ(Fields(noEscapes, "a\\nb \\\"c d\\\""), (std::vector<std::string>{"a\\nb", "\\c d\\"}));

  // Own escape letters and terminators.
  ScannerSettings custom;
  custom.escapeLetters = "x";
  custom.escapeReplacements = "#";
  custom.terminators = ";";
  EXPECT_EQ(Fields(custom, "a\\xb\\n c;d"), (std::vector<std::string>{"a#bn", "c"}));

  // A setting left empty takes the default.
  ScannerSettings empty;
  empty.separators.clear();
  empty.quotes.clear();
  empty.escapes.clear();
  FieldScanner defaults(empty);
  EXPECT_EQ(defaults.settings().separators, " \t");
  EXPECT_EQ(defaults.settings().quotes, "\"'");
  EXPECT_EQ(defaults.settings().escapes, "\\");
  EXPECT_EQ(Fields(empty, "'a b' c"), (std::vector<std::string>{"a b", "c"}));

  // Rest() shows what is still unscanned; SetLine forgets a pending empty field.
  FieldScanner scanner(KeepEmptySettings());
  std::string field;
  scanner.SetLine("one,two,three");
  ASSERT_TRUE(scanner.Next(field));
  EXPECT_EQ(scanner.Rest(), "two,three");
  scanner.SetLine("x,");
  ASSERT_TRUE(scanner.Next(field));
  scanner.SetLine("y");
  ASSERT_TRUE(scanner.Next(field));
  EXPECT_EQ(field, "y");
  EXPECT_FALSE(scanner.Next(field));
  EXPECT_EQ(field, "");
}

}  // namespace
}  // namespace quillo
