// The 80-column line writer: word wrapping at blanks, words longer than a line, line ends, the
// OutTrn line filter, and expansion into an output context.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine.h"
#include "expand/expand.h"
#include "support/test_support.h"

namespace quillo {
namespace {

std::string Repeat(char c, int n) { return std::string(n, c); }

class PutWrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = test::MakeEngine();
    engine_->files.memoryOutputMode = true;
    context_.Reset();
    context_.file = FileOpen(engine_->files, "out.htm", "w");
    ASSERT_NE(context_.file, nullptr);
  }
  void Put(std::string_view text, int wrap) { PutWrap(*engine_, text, context_, wrap); }
  /// Everything written so far, after writing the pending word.
  std::string Finished() {
    FlushContext(*engine_, context_);
    return Written();
  }
  std::string Written() const { return std::string(context_.file->output.view()); }
  void Set(std::string_view name, std::string_view value) { SetSetting(*engine_, name, value); }

  std::unique_ptr<Engine> engine_;
  OutputContext context_;
};

TEST_F(PutWrapTest, Wrapping) {
  const std::string nineWords = [] {
    std::string s;
    for (int i = 0; i < 9; ++i) s += (i ? " " : "") + std::string("123456789");
    return s;
  }();
  const std::string eightWords = nineWords.substr(0, 79);
  struct Case {
    const char* what;
    int wrap;
    std::string text;
    std::string expected;
  } cases[] = {
      {"short text", 1, "hello world", "hello world"},
      {"wrap 0 writes as it stands", 0, Repeat('a', 60) + " " + Repeat('b', 60) + " c",
       Repeat('a', 60) + " " + Repeat('b', 60) + " c"},
      {"the word that passes column 80 starts the next line", 1, nineWords,
       eightWords + "\n123456789"},
      {"a blank at the wrap point does not begin the next line", 1, Repeat('x', 80) + " next",
       Repeat('x', 80) + "\nnext"},
      {"a word longer than a line is written whole", 1, "a " + Repeat('b', 100) + " c",
       "a\n" + Repeat('b', 100) + "\nc"},
      {"a word of exactly 80 characters", 1, "a " + Repeat('b', 80) + " c",
       "a\n" + Repeat('b', 80) + "\nc"},
      {"a newline resets the column", 1, Repeat('x', 70) + "\n" + Repeat('y', 70) + " z",
       Repeat('x', 70) + "\n" + Repeat('y', 70) + " z"},
      {"without the newline the same text wraps", 1, Repeat('x', 70) + " " + Repeat('y', 70),
       Repeat('x', 70) + "\n" + Repeat('y', 70)},
      {"a newline writes the pending word with its blank", 1, "ab cd\nef", "ab cd\nef"},
      {"a tab is a break character", 1, "ab\tcd", "ab\tcd"},
      {"blanks in a row are kept inside a line", 1, "a  b", "a  b"},
      {"a blank at the start of a line is dropped", 1, " a", "a"},
      {"wrap 0 leaves blanks at the start", 0, " a", " a"},
      {"newlines only", 1, "\n\n", "\n\n"},
      {"empty text", 1, "", ""},
  };
  for (const Case& c : cases) {
    SetUp();
    Put(c.text, c.wrap);
    EXPECT_EQ(Finished(), c.expected) << c.what;
  }
}

TEST_F(PutWrapTest, StateCarriesAcrossCalls) {
  Put(Repeat('x', 60), 1);
  EXPECT_EQ(context_.column, 60);
  Put(" " + Repeat('y', 30), 1);
  EXPECT_EQ(Written(), Repeat('x', 60) + "\n");  // the y word is still pending
  EXPECT_EQ(context_.pending, 31);
  EXPECT_EQ(context_.pendingWord, " " + Repeat('y', 30));
  EXPECT_EQ(Finished(), Repeat('x', 60) + "\n" + Repeat('y', 30));
  EXPECT_EQ(context_.pending, 0);
  EXPECT_EQ(context_.column, 30);
}

TEST_F(PutWrapTest, UnwrappedTextCompletesAPendingWord) {
  Put("ab cd", 1);
  // A tag written without wrapping continues the pending word, blanks included.
  Put("</p> x", 0);
  EXPECT_EQ(Written(), "ab");
  Put("\n", 0);
  EXPECT_EQ(Written(), "ab cd</p> x\n");
}

TEST_F(PutWrapTest, OutTrnRewritesEveryLine) {
  Set("OutTrn", "[$OutString;]");
  Put("line1\nline2\ntail", 0);
  EXPECT_EQ(Written(), "[line1\n][line2\n]");
  EXPECT_EQ(engine_->expansion.outTrnLine, "tail");
  EXPECT_EQ(SettingValue(*engine_, "OutString"), "line2\n");
  EXPECT_EQ(Finished(), "[line1\n][line2\n][tail\n]");
  EXPECT_TRUE(engine_->expansion.outTrnLine.empty());
}

TEST_F(PutWrapTest, OutTrnSeesWrappedLines) {
  Set("OutTrn", "<$OutString;>");
  Put(Repeat('x', 80) + " next", 1);
  EXPECT_EQ(Finished(), "<" + Repeat('x', 80) + "\n><next\n>");
}

TEST_F(PutWrapTest, OutTrnClearedInTheMiddleOfALine) {
  Set("OutTrn", "[$OutString;]");
  Put("abc", 0);
  Set("OutTrn", "");
  Put("def\n", 0);
  EXPECT_EQ(Finished(), "abcdef\n");
}

TEST_F(PutWrapTest, ExpansionIntoAContext) {
  Set("Page", "hello $Who;, $Tail;");
  Set("Who", "world");
  Set("Tail", "bye\n");
  ExpandInto(*engine_, context_, "<$Page;>");
  EXPECT_EQ(Finished(), "<hello world, bye\n>");
  // Expansion into a context writes without wrapping.
  SetUp();
  Set("Long", Repeat('a', 70) + " " + Repeat('b', 70));
  StrExp(*engine_, "$Long;", &context_);
  EXPECT_EQ(Finished(), Repeat('a', 70) + " " + Repeat('b', 70));
}

TEST_F(PutWrapTest, RunawayExpansionIntoAContextEnds) {
  Set("Self", "x$Self;");
  StrExp(*engine_, "[$Self;]", &context_);
  std::string out = Finished();
  EXPECT_EQ(out.front(), '[');
  EXPECT_EQ(out.back(), ']');
  EXPECT_EQ(engine_->expansion.depth, 0);
}

TEST_F(PutWrapTest, MissingFileIsALogicError) {
  OutputContext noFile;
  // Silenced, the call writes nothing and does not crash.
  Set("ERR_PUTWRAP_LOGIC_Action", "ignore");
  PutWrap(*engine_, "text", noFile, 1);
  FlushContext(*engine_, noFile);
  // By default the fault abandons the conversion.
  Set("ERR_PUTWRAP_LOGIC_Action", "panic");
  EXPECT_THROW(PutWrap(*engine_, "text", noFile, 1), ConversionAbandoned);
}

TEST_F(PutWrapTest, ManySmallWritesStayFast) {
  // Every output character passes through PutWrap; a large document must not take long. A disk
  // file keeps the measure to PutWrap itself (memory outputs grow in small steps).
  test::TempDir dir;
  engine_->files.memoryOutputMode = false;
  context_.Reset();
  context_.file = FileOpen(engine_->files, dir.File("big.htm"), "w");
  ASSERT_NE(context_.file, nullptr);
  auto started = std::chrono::steady_clock::now();
  const std::string word = "word ";
  for (int i = 0; i < 200000; ++i) Put(word, 1);
  for (int i = 0; i < 2000; ++i) Put(Repeat('z', 500) + "\n", 0);
  FlushContext(*engine_, context_);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  FileClose(context_.file);
  std::string out = test::ReadFile(dir.File("big.htm"));
  std::size_t letters = 0;
  for (char c : out) letters += c != ' ' && c != '\n';
  EXPECT_EQ(letters, 200000u * 4 + 2000u * 500);
  // Sixteen words fill 79 columns; the seventeenth goes to the next line.
  EXPECT_EQ(out.substr(0, 81),
            "word word word word word word word word word word word word word word word word\nw");
}

}  // namespace
}  // namespace quillo
