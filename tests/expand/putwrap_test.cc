// The 80-column line writer: word wrapping at blanks, words longer than a line, line ends, the
// OutTrn line filter, and expansion into an output context.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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
  EXPECT_EQ(engine_->output.outTrnLine, "tail");
  EXPECT_EQ(SettingValue(*engine_, "OutString"), "line2\n");
  EXPECT_EQ(Finished(), "[line1\n][line2\n][tail\n]");
  EXPECT_TRUE(engine_->output.outTrnLine.empty());
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

/// The wrapping rules applied one character at a time, as a reference for PutWrap, which takes
/// whole words and runs at once where it can.
struct CharacterWrapper {
  std::string out;
  std::string pendingWord;
  int column = 0;

  void WritePending() {
    if (pendingWord.empty()) return;
    std::string_view word = pendingWord;
    if (column == 0) word.remove_prefix(1);
    out += word;
    column += static_cast<int>(word.size());
    pendingWord.clear();
  }
  void Put(std::string_view text, int wrap) {
    constexpr int kWidth = OutputContext::kLineWidth;
    for (char c : text) {
      if (c == '\n') {
        WritePending();
        out += '\n';
        column = 0;
      } else if (wrap == 1 && (c == ' ' || c == '\t')) {
        WritePending();
        pendingWord.assign(1, c);
        if (column + 1 > kWidth) {
          out += '\n';
          column = 0;
        }
      } else if (!pendingWord.empty()) {
        pendingWord += c;
        const int pending = static_cast<int>(pendingWord.size());
        if (pending > kWidth) {
          WritePending();
        } else if (column + pending > kWidth) {
          out += '\n';
          column = 0;
        }
      } else {
        out += c;
        ++column;
      }
    }
  }
};

TEST_F(PutWrapTest, PiecesAndModesMatchCharacterByCharacterRules) {
  // Words of lengths around the line width, blanks and tabs in a row, line ends, and texts that
  // end inside a word, written in pieces of any size with either mode; pieces longer than the
  // writer's buffer are among them.
  std::minstd_rand random(20240611);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const int wordLengths[] = {0, 1, 2, 3, 5, 8, 12, 40, 78, 79, 80, 81, 150, 3000};
  const char separators[] = {' ', ' ', ' ', '\t', '\n'};
  for (int round = 0; round < 60; ++round) {
    SetUp();
    std::string text;
    while (text.size() < 6000) {
      text.append(wordLengths[pick(round % 3 == 0 ? 14 : 11)], static_cast<char>('a' + pick(26)));
      text += separators[pick(5)];
    }
    CharacterWrapper expected;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t size =
          std::min<std::size_t>(1 + pick(round % 2 ? 40 : 2500), text.size() - at);
      const int wrap = pick(4) == 0 ? 0 : 1;
      const std::string_view piece = std::string_view(text).substr(at, size);
      Put(piece, wrap);
      expected.Put(piece, wrap);
      ASSERT_EQ(context_.column, expected.column) << "round " << round << " at " << at;
      ASSERT_EQ(context_.pendingWord, expected.pendingWord) << "round " << round << " at " << at;
      at += size;
    }
    expected.WritePending();
    ASSERT_EQ(Finished(), expected.out) << "round " << round;
  }
  // Line ends and words that meet a full output buffer.
  for (int size : {2047, 2048, 2049, 4096}) {
    SetUp();
    const std::string text = Repeat('x', size) + "\n" + Repeat('y', size) + " z\n";
    Put(text, 0);
    EXPECT_EQ(Finished(), text) << size;
  }
}

TEST_F(PutWrapTest, ManySmallWritesStayFast) {
  // Every output character passes through PutWrap; a large document must not take long. A disk
  // file keeps the measure to PutWrap itself (memory outputs grow in small steps).
  test::TempDir dir;
  engine_->files.memoryOutputMode = false;
  context_.Reset();
  context_.file = FileOpen(engine_->files, dir.File("big.htm"), "w");
  ASSERT_NE(context_.file, nullptr);
  const std::string word = "word ";
  for (int i = 0; i < 200000; ++i) Put(word, 1);
  for (int i = 0; i < 2000; ++i) Put(Repeat('z', 500) + "\n", 0);
  FlushContext(*engine_, context_);
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
