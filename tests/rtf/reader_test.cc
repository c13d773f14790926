// Tokenizer tests: token-level cases, line counting, unget, routing and group skipping, and
// pathological inputs that must end cleanly and quickly.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo::rtf {
namespace {

struct Tok {
  int cls;
  int major;
  int minor;
  int param;
  std::string text;
};

bool operator==(const Tok& a, const Tok& b) {
  return a.cls == b.cls && a.major == b.major && a.minor == b.minor && a.param == b.param &&
         a.text == b.text;
}

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "{" << t.cls << "," << t.major << "," << t.minor << "," << t.param << ",\"" << t.text
            << "\"}";
}

/// An engine with the shipped control-word table and the reader set up on an in-memory input.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = test::MakeEngine();
    FileEntry* table = FileOpen(engine_->files, test::DataDir() + "/rtf-ctrl.txt", "r");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(LookupInitFrom(*engine_, table), 0);
  }

  void Feed(std::string text) {
    input_ = std::move(text);
    FileEntry* entry =
        FileOpenText(engine_->files, "-.rtf", input_.data(), static_cast<long>(input_.size()));
    ASSERT_NE(entry, nullptr);
    engine_->reader.input = entry;
    engine_->reader.inputSize = static_cast<long>(input_.size());
    ReaderInit(*engine_);
  }

  Tok Next() {
    GetToken(*engine_);
    const RtfToken& t = engine_->reader.token;
    return {t.tokClass, t.major, t.tokClass == kClassText ? 0 : t.minor, t.param, t.text};
  }

  /// All tokens up to (not including) end of input; stops after `limit` tokens.
  std::vector<Tok> All(std::size_t limit = 1000) {
    std::vector<Tok> tokens;
    while (tokens.size() < limit) {
      Tok t = Next();
      if (t.cls == kClassEOF) break;
      tokens.push_back(t);
    }
    return tokens;
  }

  std::unique_ptr<Engine> engine_;
  std::string input_;
};

constexpr int kNo = kNoParam;
Tok Text(char c) { return {kClassText, static_cast<unsigned char>(c), 0, kNo, std::string(1, c)}; }

TEST_F(ReaderTest, TokenCases) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<Tok> expected;
  };
  const std::vector<Case> cases = {
      {"blank delimiter is consumed", "\\par x", {{3, 6, 28, kNo, "\\par"}, Text('x')}},
      {"only one blank is consumed", "\\par  x", {{3, 6, 28, kNo, "\\par"}, Text(' '), Text('x')}},
      {"two words in a row", "\\par\\par", {{3, 6, 28, kNo, "\\par"}, {3, 6, 28, kNo, "\\par"}}},
      {"zero parameter", "\\b0 x", {{3, 12, 1, 0, "\\b0"}, Text('x')}},
      {"no parameter", "\\b x", {{3, 12, 1, kNo, "\\b"}, Text('x')}},
      {"negative parameter", "\\li-360 x", {{3, 11, 16, -360, "\\li-360"}, Text('x')}},
      {"lone minus is consumed", "\\li-x", {{3, 11, 16, kNo, "\\li-"}, Text('x')}},
      {"other delimiter is pushed back", "\\b{", {{3, 12, 1, kNo, "\\b"}, {1, 0, 12, kNo, "{"}}},
      {"hex escape", "\\'e9", {{2, 233, 0, kNo, "\\'e9"}}},
      {"hex escape in capitals", "\\'E9", {{2, 233, 0, kNo, "\\'E9"}}},
      {"escaped brace is text", "\\{\\}", {{2, '{', 0, kNo, "\\{"}, {2, '}', 0, kNo, "\\}"}}},
      {"escaped backslash and colon",
       "\\\\\\:",
       {{2, '\\', 0, kNo, "\\\\"}, {2, ':', 0, kNo, "\\:"}}},
      {"literal tab", "\t", {{3, 6, 37, kNo, "\t"}}},
      {"tab word", "\\tab", {{3, 6, 37, kNo, "\\tab"}}},
      {"backslash-LF is a paragraph", "\\\nx", {{3, 6, 28, kNo, "\\\n"}, Text('x')}},
      {"backslash-CR is a paragraph", "\\\r", {{3, 6, 28, kNo, "\\\r"}}},
      {"control symbols",
       "\\*\\~\\-\\_\\|",
       {{3, 6, 52, kNo, "\\*"},
        {3, 6, 49, kNo, "\\~"},
        {3, 6, 50, kNo, "\\-"},
        {3, 6, 51, kNo, "\\_"},
        {3, 6, 47, kNo, "\\|"}}},
      {"lookup is case-sensitive", "\\PAR x", {{0, 0, 0, kNo, "\\PAR"}, Text('x')}},
      {"groups", "{}", {{1, 0, 0, kNo, "{"}, {1, 1, 0, kNo, "}"}}},
      {"NUL, CR and LF text is skipped",
       std::string("a\r\nb\0c\n", 7),
       {Text('a'), Text('b'), Text('c')}},
      {"backslash at end of input", "a\\", {Text('a'), {0, 'a', 0, kNo, "\\"}}},
      {"hex escape cut by end of input", "\\'e", {{0, 0, 0, kNo, "\\'e"}}},
      {"binary data is skipped", "\\bin4 ABCDx", {{3, 13, 21, 4, "\\bin4"}, Text('x')}},
      {"binary data after CR LF", "\\bin2\r\n{}x", {{3, 13, 21, 2, "\\bin2"}, Text('x')}},
      {"binary data right after the digits", "\\bin3ABCx", {{3, 13, 21, 3, "\\bin3"}, Text('x')}},
      {"empty binary data", "\\bin0 x", {{3, 13, 21, 0, "\\bin0"}, Text('x')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.input);
    std::vector<Tok> tokens = All();
    // Unknown and text tokens carry left-over numbers that nobody reads; compare what matters.
    ASSERT_EQ(tokens.size(), c.expected.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      Tok got = tokens[i];
      Tok want = c.expected[i];
      if (want.cls != kClassControl) got.minor = want.minor;
      if (want.cls == kClassUnknown) got.major = want.major;
      EXPECT_EQ(got, want) << "token " << i;
    }
  }
}

TEST_F(ReaderTest, TextMinorIsTheMappedCharacter) {
  Feed("\\'41z");
  EXPECT_EQ(GetToken(*engine_), kClassText);
  EXPECT_EQ(engine_->reader.token.minor, RTFMapChar(*engine_, 0x41));
  GetToken(*engine_);
  EXPECT_EQ(engine_->reader.token.minor, RTFMapChar(*engine_, 'z'));
}

TEST_F(ReaderTest, LineAndPositionCounting) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::pair<long, int>> where;  // line and position of each token
  };
  const std::vector<Case> cases = {
      {"first character is line 1 position 1", "ab", {{1, 1}, {1, 2}}},
      {"CR LF counts once", "a\r\nb", {{1, 1}, {2, 1}}},
      {"lone CR", "a\rb", {{1, 1}, {2, 1}}},
      {"lone LF", "a\nb", {{1, 1}, {2, 1}}},
      {"mixed line ends", "a\r\nb\rc\nd\n\re", {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {6, 1}}},
      {"control word position is its delimiter", "\\par x", {{1, 5}, {1, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.input);
    for (auto [line, position] : c.where) {
      ASSERT_NE(GetToken(*engine_), kClassEOF);
      EXPECT_EQ(engine_->reader.lineNumber, line);
      EXPECT_EQ(engine_->reader.linePosition, position);
    }
    EXPECT_EQ(GetToken(*engine_), kClassEOF);
  }
}

TEST_F(ReaderTest, CharacterCountFollowsBinarySkip) {
  Feed("\\bin3 abc{");
  GetToken(*engine_);
  GetToken(*engine_);
  EXPECT_TRUE(CheckCM(*engine_, kClassGroup, 0));
  EXPECT_EQ(engine_->reader.charCount, 10);
}

TEST_F(ReaderTest, UngetReturnsTheSameTokenOnce) {
  Feed("\\li-360 x");
  GetToken(*engine_);
  UngetToken(*engine_);
  EXPECT_EQ(Next(), (Tok{3, 11, 16, -360, "\\li-360"}));
  EXPECT_EQ(Next(), Text('x'));
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
}

// ERR_UNGET_2 is a "panic" message by default, which abandons the conversion; the save is made
// before the report, so the token is still there afterwards.
TEST_F(ReaderTest, SecondUngetReports) {
  Feed("ab");
  GetToken(*engine_);
  UngetToken(*engine_);
  EXPECT_THROW(UngetToken(*engine_), ConversionAbandoned);
  EXPECT_EQ(Next(), Text('a'));
  EXPECT_EQ(Next(), Text('b'));
}

TEST_F(ReaderTest, UngetBeforeAnyTokenKeepsReading) {
  SetSetting(*engine_, "ERR_NO_UNGET_TOKEN_Action", "message");
  Feed("a");
  UngetToken(*engine_);
  EXPECT_EQ(Next(), Text('a'));
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
}

TEST_F(ReaderTest, SkipGroupStopsAtTheClosingBrace) {
  Feed("{\\*\\foo {a}{b}}x");
  EXPECT_EQ(GetToken(*engine_), kClassGroup);
  EXPECT_EQ(GetToken(*engine_), kClassControl);
  EXPECT_EQ(GetToken(*engine_), kClassUnknown);
  SkipGroup(*engine_);
  EXPECT_TRUE(CheckCM(*engine_, kClassGroup, 1));
  EXPECT_EQ(Next(), Text('x'));
}

TEST_F(ReaderTest, SkipGroupHonoursPushedBackTokenAndBinaryData) {
  // The pushed-back '{' counts as the first token of the skip; \bin data holding braces is
  // skipped as data, not counted as groups.
  Feed("{\\*\\foo {\\bin3 }}}a}}x");
  GetToken(*engine_);
  GetToken(*engine_);
  GetToken(*engine_);
  GetToken(*engine_);  // '{'
  UngetToken(*engine_);
  SkipGroup(*engine_);
  EXPECT_TRUE(CheckCM(*engine_, kClassGroup, 1));
  EXPECT_EQ(Next(), Text('x'));
}

void WatchNothing(Engine&) {}

TEST_F(ReaderTest, SkippedTextRunsEndWhereTokenByTokenReadingEnds) {
  // A skipped group's text is passed over a run at a time, unless something watches every token
  // (a read hook): both ways end at the same place, line, column, recent input and next token.
  std::string group = "{\\*\\foo ";
  for (int line = 0; line < 40; ++line) {
    group +=
        std::string(static_cast<std::size_t>(20 + 7 * line), static_cast<char>('a' + line % 26));
    group += line % 3 == 0 ? "\n" : line % 3 == 1 ? "\r" : "\r\n";
    group += line % 4 ? "\\'41 {b}\tc\xE9" : " \\par";
  }
  group += "}x";
  struct After {
    long chars, line;
    int column;
    std::string recent;
    Tok next;
  };
  auto skip = [&](bool watched) {
    Feed(group);
    if (watched) SetReadHook(*engine_, WatchNothing);
    for (int i = 0; i < 3; ++i) GetToken(*engine_);  // '{', \*, \foo
    SkipGroup(*engine_);
    EXPECT_TRUE(CheckCM(*engine_, kClassGroup, 1));
    const ReaderState& reader = engine_->reader;
    After after{
        reader.charCount, reader.lineNumber, reader.linePosition, RecentInput(*engine_), {}};
    after.next = Next();
    return after;
  };
  const After runs = skip(false);
  const After tokens = skip(true);
  EXPECT_EQ(runs.chars, tokens.chars);
  EXPECT_EQ(runs.line, tokens.line);
  EXPECT_EQ(runs.line, 41);
  EXPECT_EQ(runs.column, tokens.column);
  EXPECT_EQ(runs.recent, tokens.recent);
  EXPECT_EQ(runs.next, Text('x'));
  EXPECT_EQ(tokens.next, Text('x'));
}

// Routing records what each callback saw. Callbacks are plain function pointers, so the record
// lives in a test-local variable reached through this pointer.
std::vector<std::string>* gRouted = nullptr;
void RecordGroup(Engine& e) { gRouted->push_back("G" + e.reader.token.text); }
void RecordText(Engine& e) { gRouted->push_back("T" + e.reader.token.text); }
void RecordControl(Engine& e) { gRouted->push_back("C" + e.reader.token.text); }
void RecordUnknown(Engine& e) { gRouted->push_back("U" + e.reader.token.text); }
void RecordDestination(Engine& e) { gRouted->push_back("D" + e.reader.token.text); }

TEST_F(ReaderTest, RoutingByClassAndDestination) {
  std::vector<std::string> routed;
  gRouted = &routed;
  Feed("{\\info {\\title x}}{\\footnote a\\foo}{\\pict \\bin1 }}{\\field b}");
  SetClassCallback(*engine_, kClassGroup, RecordGroup);
  SetClassCallback(*engine_, kClassText, RecordText);
  SetClassCallback(*engine_, kClassControl, RecordControl);
  SetClassCallback(*engine_, kClassUnknown, RecordUnknown);
  SetDestinationCallback(*engine_, dest::kField, RecordDestination);
  ReadDocument(*engine_);
  gRouted = nullptr;
  // \info and \pict are skipped by the default readers, which route their closing brace;
  // \footnote has no destination callback and reaches the control callback.
  const std::vector<std::string> expected = {"G{", "G}", "G{", "C\\footnote", "Ta", "U\\foo", "G}",
                                             "G{", "G}", "G{", "D\\field",    "Tb", "G}"};
  EXPECT_EQ(routed, expected);
}

TEST_F(ReaderTest, CallbackSlotsIgnoreOutOfRangeIndexes) {
  Feed("");
  SetClassCallback(*engine_, 5, RecordText);
  SetClassCallback(*engine_, -1, RecordText);
  SetDestinationCallback(*engine_, kMaxDestination, RecordText);
  EXPECT_EQ(GetClassCallback(*engine_, 5), nullptr);
  EXPECT_EQ(GetClassCallback(*engine_, -1), nullptr);
  EXPECT_EQ(GetDestinationCallback(*engine_, kMaxDestination), nullptr);
  EXPECT_EQ(GetDestinationCallback(*engine_, -3), nullptr);
  // The defaults installed by ReaderInit (the table readers of 0, 6 and 7 are tested with them).
  for (int minor : {10, 44, 45})
    EXPECT_EQ(GetDestinationCallback(*engine_, minor), SkipGroupAndRoute) << minor;
  EXPECT_EQ(GetDestinationCallback(*engine_, dest::kFootnote), nullptr);
}

TEST_F(ReaderTest, RecentInputKeepsTheLast62Characters) {
  std::string text;
  for (int i = 0; i < 200; ++i) text.push_back(static_cast<char>('a' + i % 26));
  Feed(text);
  All(1000);
  EXPECT_EQ(RecentInput(*engine_), text.substr(200 - kRecentInputLength));
  Feed("short");
  All();
  EXPECT_EQ(RecentInput(*engine_), "short");
}

// Tokens read from the window store their bytes in the ring eight at a time: whatever mix of
// token lengths and line ends went before, the ring shows exactly the characters read.
TEST_F(ReaderTest, RecentInputIsWhatWasReadAfterEveryToken) {
  std::string text;
  const char* pieces[] = {"{\\pard\\plain\\s1",   "\\fs24 ", "ab", "\\'e9",  "}",
                          "\\listoverridetable7", "\r\n",    "x",  "\\b0\n", "\\u233?",
                          "{\\*\\cs10 ",          "\\par\r"};
  for (int i = 0; i < 300; ++i) text += pieces[(i * 7) % 12];
  Feed(text);
  int tokens = 0;
  while (Next().cls != kClassEOF) {
    // A word at the very end reads one character more, the end of the input, which the ring
    // does not store.
    const auto read = std::min(static_cast<std::size_t>(engine_->reader.charCount), text.size());
    const std::size_t shown = std::min<std::size_t>(read, kRecentInputLength);
    ASSERT_EQ(RecentInput(*engine_), text.substr(read - shown, shown)) << "token " << tokens;
    ++tokens;
  }
  EXPECT_EQ(tokens, 450);  // 18 tokens for every 12 pieces; line ends make none
  EXPECT_GE(static_cast<std::size_t>(engine_->reader.charCount), text.size());
}

// The traces go through PrintEscaped, which shows each line end as "<br>"; without an error file
// the print sink is standard error.
TEST_F(ReaderTest, TokenTraceFormats) {
  engine_->settings.mirrors.debug = kDebugTokens;
  Feed("{\\b ab}" + std::string(100, 'x') + "{");
  testing::internal::CaptureStderr();
  GetToken(*engine_);
  RouteToken(*engine_);
  engine_->reader.groupDepth = 32;  // shown as the first 32 mod 30 digits
  for (int i = 0; i < 4; ++i) {
    GetToken(*engine_);
    RouteToken(*engine_);
  }
  engine_->reader.groupDepth = 0;
  ReadDocument(*engine_);
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find("       1,   1,       1t::{,1,0,0,-1000000<br>"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("       1,   4,       4t:12:\\b,3,12,1,-1000000<br>"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("       1,   7,       7T:12:ab<br>"), std::string::npos) << trace;
  // The text line is flushed before the brace that ends it is printed.
  EXPECT_LT(trace.find("T:12:ab<br>"), trace.find("       1,   7,       7t:12:},1,1,"));
  // 100 text characters make a line of 79 and one of 21, the second flushed by the '{'.
  EXPECT_NE(trace.find("T::" + std::string(79, 'x') + "<br>"), std::string::npos) << trace;
  EXPECT_NE(trace.find("T::" + std::string(21, 'x') + "<br>"), std::string::npos) << trace;
}

TEST_F(ReaderTest, SkipTrace) {
  engine_->settings.mirrors.debug = kDebugSkippedGroups;
  Feed("{\\*\\foo a}");
  for (int i = 0; i < 3; ++i) GetToken(*engine_);
  testing::internal::CaptureStderr();
  SkipGroup(*engine_);
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Skipping:\\foo<br>", 0), 0u);
}

// ---- Pathological inputs ------------------------------------------------------------------------

class Timer {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

TEST_F(ReaderTest, HugeControlWordIsCutButConsumed) {
  Feed("\\" + std::string(100000, 'w') + "12 x");
  Tok t = Next();
  EXPECT_EQ(t.cls, kClassUnknown);
  EXPECT_EQ(t.text.size(), static_cast<std::size_t>(kTokenTextSize - 1));
  EXPECT_EQ(t.param, 12);
  EXPECT_EQ(Next(), Text('x'));
}

TEST_F(ReaderTest, HugeParametersSaturate) {
  Feed("\\li123456789012345678901234567890 \\li-99999999999999999999 \\li2147483647 x");
  EXPECT_EQ(Next().param, INT_MAX);
  EXPECT_EQ(Next().param, -INT_MAX);
  EXPECT_EQ(Next().param, INT_MAX);
  EXPECT_EQ(Next(), Text('x'));
  // A parameter longer than the text buffer: the digits are consumed, the text stays bounded.
  Feed("\\li" + std::string(5000, '9') + " y");
  Tok t = Next();
  EXPECT_EQ(t.param, INT_MAX);
  EXPECT_LE(t.text.size(), static_cast<std::size_t>(kTokenTextSize - 1));
  EXPECT_EQ(Next(), Text('y'));
}

TEST_F(ReaderTest, BinaryCountsOutsideTheInput) {
  Feed("\\bin999999999 abc");
  EXPECT_EQ(Next().param, 999999999);
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
  Feed("\\bin2147483647999 abc");
  Next();
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
  // A negative count never moves backwards.
  Feed("ab\\bin-5 x");
  std::vector<Tok> tokens = All();
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[3], Text('x'));
}

TEST_F(ReaderTest, DeepNestingAndManyClosingBraces) {
  Timer timer;
  Feed(std::string(100000, '{'));
  EXPECT_EQ(All(200000).size(), 100000u);
  Feed(std::string(1000000, '}'));
  EXPECT_EQ(All(2000000).size(), 1000000u);
  // Skipping a group nested 100,000 deep is a count, not a recursion.
  Feed("{\\*\\foo " + std::string(100000, '{') + std::string(100001, '}') + "x");
  GetToken(*engine_);
  GetToken(*engine_);
  GetToken(*engine_);
  SkipGroup(*engine_);
  EXPECT_EQ(Next(), Text('x'));
  EXPECT_LT(timer.Seconds(), 10.0);
}

TEST_F(ReaderTest, GarbageInputEndsCleanly) {
  // Bytes from a fixed linear congruential sequence, rich in backslashes, quotes and digits.
  std::string garbage;
  unsigned state = 12345;
  const char interesting[] = "\\'{}-0123456789abinBIN \r\n\t";
  for (int i = 0; i < 1 << 20; ++i) {
    state = state * 1103515245u + 12345u;
    unsigned r = state >> 16;
    garbage.push_back(r % 3 == 0 ? static_cast<char>(r >> 8)
                                 : interesting[(r >> 4) % (sizeof(interesting) - 1)]);
  }
  Timer timer;
  Feed(garbage);
  std::size_t count = All(garbage.size() + 1).size();
  EXPECT_LE(count, garbage.size());
  EXPECT_EQ(GetToken(*engine_), kClassEOF);
  EXPECT_LT(timer.Seconds(), 10.0);
}

}  // namespace
}  // namespace quillo::rtf
