// quillocmd's command line read into the engine's option words: long options, "--", "-", the
// batch switch, options after the last input, and the usage errors that end the run with 2.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quillo::cli::CommandLine;
using quillo::cli::ParseCommandLine;

std::vector<std::string> Words(std::initializer_list<const char*> words) {
  return std::vector<std::string>(words.begin(), words.end());
}

/// The engine's words after entry 0, joined by blanks.
std::string EngineWords(const CommandLine& line) {
  std::string joined;
  for (std::size_t i = 1; i < line.engineWords.size(); ++i)
    joined += (i > 1 ? " " : "") + line.engineWords[i];
  return joined;
}

constexpr const char* kOnePage =
    "-DSplitDepth=0 -DGenContents=0 -DGenIndex=0 -DGenFrames=0 -DNoGraphics=1";

TEST(CommandLineTest, LongOptionsBecomeTheShortWordsTheEngineReads) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  } cases[] = {
      {Words({"--output", "out.html", "a.rtf"}), "-o out.html a.rtf"},
      {Words({"--output=out.html", "a.rtf"}), "-o out.html a.rtf"},
      {Words({"--title", "Annual report", "a.rtf"}), "-T Annual report a.rtf"},
      {Words({"--title=A=B", "a.rtf"}), "-T A=B a.rtf"},
      {Words({"--define", "Debug=2", "--define=Flag", "a.rtf"}), "-D Debug=2 -D Flag a.rtf"},
      {Words({"--split", "2", "--contents", "--index", "--frames", "a.rtf"}),
       "-h 2 -c -x -F a.rtf"},
      {Words({"--trn", "docbook.trn", "a.rtf"}), "-D TrnFile=docbook.trn a.rtf"},
      {Words({"--safe", "a.rtf"}), "-D SafeMode=1 a.rtf"},
      // Program options leave no word behind.
      {Words({"--quiet", "--verbose", "--keep-going", "a.rtf"}), "a.rtf"},
      // A value is the next word, whatever it begins with.
      {Words({"--title", "--help", "a.rtf"}), "-T --help a.rtf"},
      // The batch switch goes first, where the engine looks for it.
      {Words({"-c", "--batch", "jobs.txt", "a.rtf"}), "-b jobs.txt -c a.rtf"},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.words, "/opt/q/bin/quillocmd");
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(line.error, "");
    ASSERT_FALSE(line.engineWords.empty());
    EXPECT_EQ(line.engineWords[0], "/opt/q/bin/quillocmd");
    EXPECT_EQ(EngineWords(line), c.expected);
  }
}

TEST(CommandLineTest, ShortOptionsAndTheirParametersPassUnchanged) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  } cases[] = {
      {Words({"-c", "-x", "-o", "--odd", "a.rtf", "-T", "b", "b.rtf"}),
       "-c -x -o --odd a.rtf -T b b.rtf"},
      {Words({"-Z", "a.rtf"}), "-Z a.rtf"},  // the engine reports unknown short options
      {Words({"-h", "2", "-DTitle=x", "a.rtf"}), "-h 2 -DTitle=x a.rtf"},
      {Words({"-bjobs.txt", "a.rtf", "-c"}), "-b jobs.txt a.rtf -c"},  // a batch keeps its order
      // The batch switch goes first, where the engine looks for it, as --batch does.
      {Words({"-c", "-D", "X=1", "-b", "jobs.txt", "a.rtf"}), "-b jobs.txt -c -D X=1 a.rtf"},
      {Words({"-D"}), "-D"},  // the engine reports the missing parameter
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.words, "quillocmd");
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(EngineWords(line), c.expected);
  }
}

TEST(CommandLineTest, OptionsAfterTheLastInputApplyToEveryInput) {
  // Without the move the engine would convert a.rtf and then fail for want of an input.
  EXPECT_EQ(EngineWords(ParseCommandLine(Words({"a.rtf", "-o", "x.html"}), "q")),
            "-o x.html a.rtf");
  // Options between inputs keep applying from there on.
  EXPECT_EQ(EngineWords(ParseCommandLine(Words({"a.rtf", "-c", "b.rtf", "--index"}), "q")),
            "-x a.rtf -c b.rtf");
}

TEST(CommandLineTest, DoubleDashEndsTheOptions) {
  CommandLine line = ParseCommandLine(Words({"-c", "--", "-odd.rtf", "--help", "b.rtf"}), "q");
  EXPECT_EQ(line.error, "");
  EXPECT_FALSE(line.help);
  EXPECT_EQ(EngineWords(line), "-c ./-odd.rtf ./--help b.rtf");
  EXPECT_EQ(line.inputs, Words({"./-odd.rtf", "./--help", "b.rtf"}));
}

TEST(CommandLineTest, ProgramOptionsAreNoted) {
  CommandLine line =
      ParseCommandLine(Words({"--keep-going", "--verbose", "-G", "a.rtf", "b.rtf"}), "q");
  EXPECT_TRUE(line.keepGoing);
  EXPECT_TRUE(line.verbose);
  EXPECT_FALSE(line.quiet);
  EXPECT_TRUE(line.noGraphics);
  EXPECT_FALSE(line.pageToStandardOutput);
  // The later of --quiet and --verbose wins.
  EXPECT_TRUE(ParseCommandLine(Words({"--verbose", "--quiet", "a.rtf"}), "q").quiet);
  EXPECT_FALSE(ParseCommandLine(Words({"--verbose", "--quiet", "a.rtf"}), "q").verbose);
  EXPECT_TRUE(ParseCommandLine(Words({"a.rtf", "--help", "--bogus"}), "q").help);
  EXPECT_TRUE(ParseCommandLine(Words({"--version"}), "q").version);
}

TEST(CommandLineTest, StandardStreams) {
  struct Case {
    std::vector<std::string> words;
    bool toStandardOutput;
    std::string expected;
  } cases[] = {
      {Words({"-"}), true, std::string(kOnePage) + " -"},
      {Words({"-", "-o", "page.html"}), false, "-o page.html -"},
      {Words({"-o", "-", "a.rtf"}), true, std::string(kOnePage) + " -o - a.rtf"},
      {Words({"-o-", "a.rtf"}), true, std::string(kOnePage) + " -o- a.rtf"},
      {Words({"--output=-", "a.rtf"}), true, std::string(kOnePage) + " -o - a.rtf"},
      {Words({"-D", "outfilename=-", "a.rtf"}), true,
       std::string(kOnePage) + " -D outfilename=- a.rtf"},
      {Words({"-G", "-"}), true, std::string(kOnePage) + " -G -"},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.words, "q");
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.pageToStandardOutput, c.toStandardOutput);
    EXPECT_EQ(EngineWords(line), c.expected);
  }
}

TEST(CommandLineTest, UsageErrorsOfTheLongOptions) {
  struct Case {
    std::vector<std::string> words;
    std::string error;
  } cases[] = {
      {Words({"--bogus", "a.rtf"}), "unknown option '--bogus'"},
      {Words({"--outpu", "x", "a.rtf"}), "unknown option '--outpu'"},  // no abbreviations
      {Words({"a.rtf", "--output"}), "option '--output' needs a value"},
      {Words({"--output=", "a.rtf"}), "option '--output' needs a value that is not empty"},
      {Words({"--quiet=yes", "a.rtf"}), "option '--quiet' takes no value"},
      {Words({"--define", "=1", "a.rtf"}), "option '--define' needs NAME=VALUE, not '=1'"},
      {Words({"--split", "two", "a.rtf"}),
       "option '--split' needs a heading depth (a number), not 'two'"},
      {Words({"--batch", "a.txt", "--batch", "b.txt"}), "only one batch file can be given"},
      {Words({"-", "-"}), "standard input ('-') can be read only once"},
      {Words({"-o", "-", "--split", "2", "a.rtf"}),
       "--split writes more than one page, which cannot go to standard output: name an output "
       "file with -o FILE"},
      {Words({"-c", "-"}),
       "-c writes more than one page, which cannot go to standard output: name an output file "
       "with -o FILE"},
      {Words({"-o", "-", "a.rtf", "b.rtf"}), "only one input can be written to standard output"},
      {Words({"-o", "-", "*.rtf"}), "only one input can be written to standard output"},
      {Words({"-bjobs.txt", "-o", "-"}), "a batch run cannot write to standard output"},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.words, "q");
    EXPECT_EQ(line.error, c.error);
    EXPECT_TRUE(line.engineWords.empty()) << c.error;
  }
}

}  // namespace
