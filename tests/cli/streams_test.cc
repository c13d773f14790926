// quillocmd as a Unix tool, run from outside with its standard streams apart: standard input and
// output, messages on standard error, exit codes, the long options, --keep-going, --quiet and
// --verbose.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using quillo::test::FileExists;
using quillo::test::ReadFile;
using quillo::test::TempDir;
using quillo::test::WriteFile;

struct RunResult {
  int exitCode = -1;
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

/// Runs `command` through /bin/sh in `directory` with standard output and standard error kept
/// apart. `command` names the program as $Q; standard input is empty unless `input` is given.
RunResult Shell(const std::string& command, const std::string& directory,
                const std::string& input = "") {
  TempDir streams;
  WriteFile(streams.File("in"), input);
  std::string line = "cd '" + directory + "' && Q=" QUILLO_BINARY_DIR "/bin/quillocmd; " + command +
                     " <'" + streams.File("in") + "' >'" + streams.File("out") + "' 2>'" +
                     streams.File("err") + "'";
  int status = std::system(line.c_str());
  RunResult run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(streams.File("out"));
  run.err = ReadFile(streams.File("err"));
  return run;
}

RunResult Quillocmd(const std::string& arguments, const std::string& directory,
                    const std::string& input = "") {
  return Shell("$Q " + arguments, directory, input);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

/// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Golden(const std::string& name) {
  return ReadFile(std::string(QUILLO_SOURCE_DIR) + "/tests/golden/" + name);
}

constexpr const char* kHello = "{\\rtf1 hello\\par}";
constexpr const char* kHelloPage = "<p>hello</p>";

// ---- Standard input and standard output ------------------------------------------------------

TEST(QuillocmdStreamsTest, StandardInputToStandardOutput) {
  TempDir dir;
  for (const char* arguments : {"-", "- -o -", "-o - -", "--output=- -"}) {
    RunResult run = Quillocmd(arguments, dir.path(), kHello);
    SCOPED_TRACE(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, kHelloPage)) << run.out;
    EXPECT_TRUE(Contains(run.out, "</html>"));
    EXPECT_EQ(run.err, "");
  }
  // A filter leaves nothing behind: no page, error file or footnote file.
  EXPECT_TRUE(Listing(dir.path()).empty());
}

TEST(QuillocmdStreamsTest, StandardInputToAFileAndAFileToStandardOutput) {
  TempDir dir;
  RunResult toFile = Quillocmd("- -o page.html", dir.path(), kHello);
  EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_TRUE(Contains(ReadFile(dir.File("page.html")), kHelloPage));

  // The page on standard output is the page the file conversion writes, footnotes included,
  // and the footnotes' collection leaves no file.
  WriteFile(dir.File("notes.rtf"), Golden("footnotes.rtf"));
  RunResult toOutput = Quillocmd("-o - notes.rtf", dir.path());
  EXPECT_EQ(toOutput.exitCode, 0) << toOutput.err;
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"notes.rtf", "page.html"}));
  ASSERT_EQ(Quillocmd("notes.rtf", dir.path()).exitCode, 0);
  EXPECT_EQ(toOutput.out, ReadFile(dir.File("notes.html")));
  EXPECT_TRUE(Contains(toOutput.out, "class=\"footnotes\""));
}

TEST(QuillocmdStreamsTest, PipesAreReadWhole) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), kHello);
  // A named pipe (and so a process substitution) is read like standard input.
  RunResult run =
      Shell("mkfifo pipe && (cat doc.rtf > pipe &) && $Q pipe -o pipe.html", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(Contains(ReadFile(dir.File("pipe.html")), kHelloPage));
}

TEST(QuillocmdStreamsTest, PicturesAreLeftOutOfAPageOnStandardOutput) {
  TempDir dir;
  WriteFile(dir.File("pictures.rtf"), Golden("pictures.rtf"));
  RunResult run = Quillocmd("-o - pictures.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_FALSE(Contains(run.out, "<img"));
  EXPECT_TRUE(Contains(run.err, "pictures were left out: the page went to standard output"))
      << run.err;
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"pictures.rtf"});
  // Asked for no pictures, nobody needs to be told.
  EXPECT_EQ(Quillocmd("-G -o - pictures.rtf", dir.path()).err, "");
}

TEST(QuillocmdStreamsTest, APageThatCannotBeWrittenWholeFailsTheConversion) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), kHello);
  RunResult run = Shell("($Q -o - doc.rtf >/dev/full)", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.err,
                       "ERR_FILE_WRITE_FAILED: Write of /dev/stdout Failed: No space "
                       "left on device"))
      << run.err;
}

// ---- Messages on standard error ---------------------------------------------------------------

TEST(QuillocmdStreamsTest, FailuresReachStandardErrorAsPlainLines) {
  TempDir dir;
  WriteFile(dir.File("bad.rtf"), "not rtf <script>");
  WriteFile(dir.File("doc.rtf"), kHello);
  mkdir(dir.File("folder").c_str(), 0755);
  struct Case {
    std::string arguments;
    std::vector<std::string> lines;  // each expected on standard error
  } cases[] = {
      {"bad.rtf",
       {"quillocmd: bad.rtf:1:1: MSG_MALFORMED_RTF: malformed rtf file - does not begin with "
        "\"{\"\n",
        "Quillo has found errors and is unable to continue\nSee bad_err.htm file for details\n"}},
      {"missing.rtf",
       {"quillocmd: MSG_CANT_OPEN: Can't open \"missing.rtf\": No such file or directory\n"}},
      {"folder", {"quillocmd: MSG_CANT_OPEN: Can't open \"folder\": Is a directory\n"}},
      {"-o nowhere/doc.html doc.rtf",
       {"quillocmd: doc.rtf: ERR_FILE_OPEN_FAILED: Open of nowhere/doc.html Failed: No such "
        "file or directory\n"}},
      {"-D TrnFile=none.trn doc.rtf",
       {"quillocmd: doc.rtf: ERR_TRAN_FILE: Cannot read Translation File none.trn\n"}},
  };
  for (const Case& c : cases) {
    RunResult run = Quillocmd(c.arguments, dir.path());
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    for (const std::string& line : c.lines) EXPECT_TRUE(Contains(run.err, line)) << run.err;
    EXPECT_FALSE(Contains(run.err, "Press Enter"));  // standard input is no terminal
    EXPECT_FALSE(Contains(run.err, "&quot;"));       // plain text, not the error file's HTML
  }
}

TEST(QuillocmdStreamsTest, WarningsOfASuccessfulConversionUnlessQuiet) {
  TempDir dir;
  WriteFile(dir.File("levels.rtf"),
            "{\\rtf1{\\stylesheet{\\s1 heading 1;}{\\s3 heading 3;}}"
            "\\pard\\s1 A\\par\\pard\\s3 B\\par}");
  RunResult run = Quillocmd("levels.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err,
            "quillocmd: levels.rtf:1:75: MSG_INVALID_LEVELS: Warning: level 1 heading followed by "
            "level 3 heading\nquillocmd:   (at \"A\")\n");
  EXPECT_TRUE(FileExists(dir.File("levels_err.htm")));

  RunResult quiet = Quillocmd("--quiet levels.rtf", dir.path());
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.err, "");
  // Errors are still shown.
  RunResult failed = Quillocmd("--quiet missing.rtf", dir.path());
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_TRUE(Contains(failed.err, "Can't open \"missing.rtf\"")) << failed.err;
}

TEST(QuillocmdStreamsTest, MessagesCannotDriveTheTerminal) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), kHello);
  // The name of a translation file that is not there comes back in the message.
  RunResult run = Shell("$Q -D \"TrnFile=$(printf '\\033[31mred.trn')\" doc.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(Contains(run.err, "\x1b")) << run.err;
  EXPECT_TRUE(Contains(run.err, "?[31mred.trn")) << run.err;
}

TEST(QuillocmdStreamsTest, VerboseListsTheFilesWritten) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), "{\\rtf1{\\stylesheet{\\s1 heading 1;}}\\pard\\s1 A\\par}");
  RunResult run = Quillocmd("--verbose -c doc.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "quillocmd: wrote doc.html\nquillocmd: wrote doc-Contents.html\n");
}

TEST(QuillocmdStreamsTest, NoProgressBarInPipes) {
  TempDir dir;
  std::string document = "{\\rtf1\\ansi ";
  while (document.size() < (5u << 20)) document += "Words of a paragraph, over and over.\\par\n";
  WriteFile(dir.File("big.rtf"), document + "}");
  RunResult run = Quillocmd("big.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");  // terminal_test.cc shows the bar on a terminal
}

// ---- Several inputs -------------------------------------------------------------------------

TEST(QuillocmdStreamsTest, KeepGoingConvertsEveryInputItCan) {
  TempDir dir;
  WriteFile(dir.File("a.rtf"), kHello);
  WriteFile(dir.File("b.rtf"), "broken");
  WriteFile(dir.File("c.rtf"), kHello);

  // Without it the run stops at the first failure, as it always did.
  RunResult stops = Quillocmd("a.rtf missing.rtf c.rtf", dir.path());
  EXPECT_EQ(stops.exitCode, 1);
  EXPECT_TRUE(FileExists(dir.File("a.html")));
  EXPECT_FALSE(FileExists(dir.File("c.html")));

  RunResult run = Quillocmd("--keep-going a.rtf missing.rtf b.rtf c.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(FileExists(dir.File("c.html")));
  EXPECT_TRUE(Contains(run.err, "Can't open \"missing.rtf\""));
  EXPECT_TRUE(Contains(run.err, "b.rtf:1:1: MSG_MALFORMED_RTF"));
  EXPECT_TRUE(Contains(run.err, "quillocmd: 2 of 4 inputs failed: missing.rtf, b.rtf\n"))
      << run.err;

  // A pattern goes on the same way.
  std::filesystem::remove(dir.File("c.html"));
  RunResult pattern = Quillocmd("--keep-going --quiet '" + dir.path() + "/*.rtf'", "/");
  EXPECT_EQ(pattern.exitCode, 1);
  EXPECT_TRUE(FileExists(dir.File("c.html")));
  EXPECT_TRUE(Contains(pattern.err, "1 of 3 inputs failed: " + dir.File("b.rtf"))) << pattern.err;

  // All converted: exit 0 and nothing to say.
  RunResult fine = Quillocmd("--keep-going a.rtf c.rtf", dir.path());
  EXPECT_EQ(fine.exitCode, 0);
  EXPECT_EQ(fine.err, "");
}

TEST(QuillocmdStreamsTest, ABatchRunEndsWithASummaryOfItsFailures) {
  TempDir dir;
  WriteFile(dir.File("a.rtf"), kHello);
  WriteFile(dir.File("jobs.txt"), "a.rtf\nmissing.rtf\n");
  RunResult run = Quillocmd("--batch jobs.txt", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(FileExists(dir.File("a.html")));
  EXPECT_TRUE(Contains(run.err, "quillocmd: 1 of 2 inputs failed: missing.rtf\n")) << run.err;
}

// ---- Options -------------------------------------------------------------------------------

TEST(QuillocmdStreamsTest, HelpAndVersionGoToStandardOutput) {
  TempDir dir;
  RunResult help = Quillocmd("--help", dir.path());
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(help.out.rfind("Usage: quillocmd [OPTION]... FILE...\n", 0) == 0) << help.out;
  for (const char* option : {"--output", "--title", "--define", "--split", "--contents", "--index",
                             "--frames", "--batch", "--trn", "--quiet", "--verbose", "--keep-going",
                             "--safe", "--help", "--version", "PauseOnErr=0", "Exit status"})
    EXPECT_TRUE(Contains(help.out, option)) << option;
  // One line per option; nothing wider than a terminal.
  for (std::size_t start = 0, end; start < help.out.size(); start = end + 1) {
    end = help.out.find('\n', start);
    EXPECT_LE(end - start, 80u) << help.out.substr(start, end - start);
  }

  RunResult version = Quillocmd("--version", dir.path());
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.err, "");
  EXPECT_TRUE(version.out.rfind("quillocmd (Quillo) 5.0.2\nData folder: /", 0) == 0) << version.out;

  // -V keeps its old meaning: the version as a message, and a failure exit.
  RunResult shortV = Quillocmd("-V -D PauseOnErr=0", dir.path());
  EXPECT_EQ(shortV.exitCode, 1);
  EXPECT_TRUE(Contains(shortV.err, "quillo Version 5.0.2")) << shortV.err;
}

TEST(QuillocmdStreamsTest, UsageErrorsOfTheLongOptionsExitWithTwo) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), kHello);
  for (const char* arguments : {"--bogus doc.rtf", "doc.rtf --output", "--split x doc.rtf",
                                "-o - --contents doc.rtf", "- -"}) {
    RunResult run = Quillocmd(arguments, dir.path(), kHello);
    SCOPED_TRACE(arguments);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Contains(run.err, "Try 'quillocmd --help' for more information.\n")) << run.err;
  }
  // Nothing was converted.
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"doc.rtf"});
  // Errors of the short options are the converter's, as before: exit 1 with the usage text.
  RunResult shortError = Quillocmd("-Z doc.rtf", dir.path());
  EXPECT_EQ(shortError.exitCode, 1);
  EXPECT_TRUE(Contains(shortError.err, "MSG_UNKNOWN_OPTION: Don't understand option:-Z.\n"));
  EXPECT_TRUE(Contains(shortError.err, "Usage: Drop your RTF file onto the filter"));
  EXPECT_TRUE(Contains(shortError.err, "-D PauseOnErr=0 turns that off"));
}

TEST(QuillocmdStreamsTest, LongOptionsDoWhatTheirShortFormsDo) {
  TempDir dir;
  WriteFile(dir.File("book.rtf"), Golden("headings.rtf"));
  RunResult run = Quillocmd(
      "book.rtf --output out.html --title 'A & B' --split 1 --contents --index "
      "--define ShortFileDigits=3",
      dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::string page = ReadFile(dir.File("out.html"));
  EXPECT_TRUE(Contains(page, "<title>A &amp; B</title>")) << page;
  EXPECT_TRUE(FileExists(dir.File("out-Contents.html")));
  std::vector<std::string> files = Listing(dir.path());
  EXPECT_GT(files.size(), 3u);  // split into pages beside the contents page

  TempDir frames;
  WriteFile(frames.File("book.rtf"), Golden("headings.rtf"));
  EXPECT_EQ(Quillocmd("--frames book.rtf", frames.path()).exitCode, 0);
  EXPECT_TRUE(FileExists(frames.File("book-FContents.html")));
}

TEST(QuillocmdStreamsTest, OptionsAfterTheInput) {
  TempDir dir;
  WriteFile(dir.File("doc.rtf"), kHello);
  // The engine alone would convert doc.rtf to doc.html and then fail for want of an input.
  RunResult run = Quillocmd("doc.rtf -o page.html", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"doc.rtf", "page.html"}));
}

// The worked example of docs/translation-files.md, run as its readers will run it.
TEST(QuillocmdStreamsTest, TheTranslationFileGuideExampleWorks) {
  std::string guide = ReadFile(std::string(QUILLO_SOURCE_DIR) + "/docs/translation-files.md");
  std::size_t start = guide.find("```\n.Version 6");
  ASSERT_NE(start, std::string::npos);
  start += 4;
  std::size_t end = guide.find("```", start);
  TempDir dir;
  WriteFile(dir.File("md.trn"), guide.substr(start, end - start));
  WriteFile(dir.File("report.rtf"),
            "{\\rtf1{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}{\\s2 List Bullet;}}"
            "\\pard\\s1 Results\\par"
            "\\pard\\s0 One {\\b bold} word.\\par"
            "\\pard\\s0 Second {\\i paragraph}.\\par"
            "\\pard\\s2 *\\tab first\\par"
            "\\pard\\s2 *\\tab second\\par}");
  RunResult run = Quillocmd("--trn md.trn -D HtmlExt=md report.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(dir.File("report.md")),
            "<!-- report.rtf -->\n\n# Results\n\nOne **bold** word.\n\nSecond _paragraph_.\n\n"
            "- first\n- second\n");
}

}  // namespace
