// The reader takes shortcuts: plain text runs go to the body without a token per character, and
// control words are read from the input window in one step unless they straddle its end. The
// shortcuts must never change a page. Each input here is converted three ways, and the pages
// must be equal byte for byte:
//   - from memory (the whole text is one window),
//   - from a disk file (read in blocks, so words and runs are cut at block ends),
//   - from memory with the token trace on, which makes the reader go token by token.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string GoldenDir() { return std::string(QUILLO_SOURCE_DIR) + "/tests/golden"; }

std::vector<char*> Argv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<std::string> BaseWords() {
  return {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0", "-D",
          "InputFile=input.rtf"};
}

/// The page of a string conversion; `trace` turns the token trace on.
std::string FromMemory(const std::string& rtf, bool trace) {
  std::unique_ptr<quillo::Engine> engine = quillo::test::MakeEngine();
  std::vector<std::string> words = BaseWords();
  if (trace) words.insert(words.end(), {"-D", "Debug=16384"});
  std::vector<char*> argv = Argv(words);
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  std::string page;
  for (int i = 0; i < count; ++i)
    if (outputs[i].name && std::string(outputs[i].name) == "-.html")
      page.assign(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  quillo::FreeConvertedOutputs(outputs, count);
  return page;
}

/// The page of a conversion of `rtf` written to a disk file first.
std::string FromDisk(const std::string& rtf) {
  quillo::test::TempDir dir;
  const std::string input = dir.File("input.rtf");
  // Named as a string conversion names its page, so that picture files get the same names.
  const std::string output = dir.File("-.html");
  quillo::test::WriteFile(input, rtf);
  std::unique_ptr<quillo::Engine> engine = quillo::test::MakeEngine();
  std::vector<std::string> words = BaseWords();
  words.insert(words.end(), {"-o", output, input});
  std::vector<char*> argv = Argv(words);
  quillo::ConvertFiles(*engine, static_cast<int>(words.size()), argv.data());
  return quillo::test::FileExists(output) ? quillo::test::ReadFile(output) : std::string();
}

/// "" when the pages are equal, else where they first differ, with some context.
std::string Difference(const std::string& page, const std::string& expected) {
  if (page == expected) return "";
  std::size_t at = 0;
  while (at < page.size() && at < expected.size() && page[at] == expected[at]) ++at;
  const std::size_t from = at < 80 ? 0 : at - 80;
  return "pages differ at byte " + std::to_string(at) + "\n  got:      ..." +
         page.substr(from, 160) + "\n  expected: ..." + expected.substr(from, 160);
}

void ExpectSamePages(const std::string& name, const std::string& rtf) {
  const std::string memory = FromMemory(rtf, false);
  ASSERT_FALSE(memory.empty()) << name;
  EXPECT_EQ(Difference(FromDisk(rtf), memory), "") << name << ": disk input, against memory input";
  EXPECT_EQ(Difference(FromMemory(rtf, true), memory), "")
      << name << ": token by token, against the reader's shortcuts";
}

TEST(ReadingPathsTest, GoldenInputsGiveTheSamePageEveryWay) {
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(GoldenDir())) {
    if (entry.path().extension() != ".rtf") continue;
    ++inputs;
    ExpectSamePages(entry.path().filename().string(),
                    quillo::test::ReadFile(entry.path().string()));
  }
  EXPECT_GT(inputs, 0);
}

/// A document of about 260 KB whose paragraphs vary in length, so that block ends fall inside
/// control words, parameters, escapes, runs of text and line ends. Its text holds characters the
/// output map rewrites (& < > "), escapes, \u characters with fallbacks, tabs, line breaks inside
/// the source, hidden text, small capitals, a footnote and a list paragraph.
std::string LongDocument() {
  std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times New Roman;}{\\f1 Courier New;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}\n"
      "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}}\n";
  const char* pieces[] = {
      "Plain words & more <words> \"quoted\" here. ",
      "{\\b bold run} ",
      "{\\i italic\r\nrun across a line end} ",
      "caf\\'e9 na\\u239?ve \\u8212\\'97 ",
      "{\\cf1 red text} ",
      "tab\\tafter ",
      "{\\v hidden} ",
      "{\\scaps small capitals} ",
      "long-parameter\\fs24\\fs-20\\fs24 ",
      "brace \\{ and backslash \\\\ kept ",
  };
  for (int paragraph = 0; paragraph < 1200; ++paragraph) {
    if (paragraph % 97 == 0) {
      rtf += "\\pard\\plain\\s1 Heading " + std::to_string(paragraph) + "\\par\n";
      continue;
    }
    rtf += "\\pard\\plain\\s0 ";
    const int length = 3 + (paragraph * 7) % 11;
    for (int i = 0; i < length; ++i) rtf += pieces[(paragraph + i) % 10];
    if (paragraph % 113 == 5) rtf += "{\\super\\chftn}{\\footnote\\pard\\plain \\chftn note}";
    rtf += "\\par\n";
    if (paragraph % 113 == 5)
      // A list item with a footnote that keeps the list's paragraph format: the footnote's text
      // starts with the blank that list items strip.
      rtf +=
          "{\\pntext\\'b7\\tab}\\pard\\plain\\fi-360\\li720{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}"
          "item{\\b  text}{\\super\\chftn}{\\footnote{\\b  note in a list}}\\par\n";
    if (paragraph % 50 == 7)
      rtf +=
          "{\\pntext\\'b7\\tab}\\pard\\plain\\fi-360\\li720{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}"
          "listed item\\par\n";
  }
  rtf += "}";
  return rtf;
}

TEST(ReadingPathsTest, LongDocumentGivesTheSamePageEveryWay) {
  const std::string rtf = LongDocument();
  ASSERT_GT(rtf.size(), 3u * 64 * 1024);
  ExpectSamePages("long document", rtf);
}

}  // namespace
