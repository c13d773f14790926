// quillocmd -j and -r: a run over several inputs on several engines must leave what the same run
// on one engine leaves (every output byte, the error files, the log, the messages and their
// order, the exit code), and stop or go on after a failure as the one-engine run does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "cli/run_quillocmd.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quillo::test::ReadFile;
using quillo::test::TempDir;
using quillo::test::WriteFile;

using quillo::test::CommandResult;
using quillo::test::Quillocmd;

/// Every file under `dir` (relative name -> bytes), with the folder's own path and the log's
/// clock times taken out (two runs are compared, in two folders, seconds apart).
std::map<std::string, std::string> Tree(const fs::path& dir, const std::string& folder) {
  static const std::regex clock("[0-9]{2}/[0-9]{2}/[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}");
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string text = ReadFile(entry.path().string());
    for (std::size_t at; (at = text.find(dir.string())) != std::string::npos;)
      text.replace(at, dir.string().size(), "DIR");
    for (std::size_t at; (at = text.find(folder + "/")) != std::string::npos;)
      text.replace(at, folder.size() + 1, "DIR/");
    files[fs::relative(entry.path(), dir).string()] = std::regex_replace(text, clock, "TIME");
  }
  return files;
}

/// The output without the summary line (its time and job count differ between runs) and with
/// the folder names made equal.
std::string Report(std::string output, const std::string& folder) {
  static const std::regex summary("quillocmd: [0-9]+ files \\(.*\\n");
  for (std::size_t at; (at = output.find(folder + "/")) != std::string::npos;)
    output.replace(at, folder.size() + 1, "DIR/");
  return std::regex_replace(output, summary, "");
}

/// A tree of documents: good ones of several sizes, a broken one, one in a subfolder, a file
/// that is no RTF by name.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  for (int i = 0; i < 12; ++i) {
    std::string body;
    for (int p = 0; p <= i * 20; ++p)
      body += "\\pard {\\b Paragraph} " + std::to_string(p) + " of document " + std::to_string(i) +
              ".\\par\n";
    WriteFile((root / ("doc" + std::to_string(i) + ".rtf")).string(),
              "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}" + body + "}");
  }
  WriteFile((root / "sub" / "broken.rtf").string(), "this is not RTF");
  WriteFile((root / "sub" / "deeper" / "LOUD.RTF").string(), "{\\rtf1 upper case name\\par}");
  WriteFile((root / "sub" / "notes.txt").string(), "not converted");
  for (const char* golden : {"footnotes", "pictures", "tables-spans", "headings"})
    fs::copy_file(fs::path(QUILLO_SOURCE_DIR) / "tests" / "golden" / (std::string(golden) + ".rtf"),
                  root / "sub" / (std::string(golden) + ".rtf"));
}

TEST(QuillocmdParallelTest, DirectoryRunsGiveTheOneEngineRunsResults) {
  TempDir temp;
  const fs::path serial = fs::path(temp.path()) / "serial";
  const fs::path parallel = fs::path(temp.path()) / "parallel";
  MakeTree(serial);
  MakeTree(parallel);
  const std::string options =
      "-D PauseOnErr=0 -DCreateLogFile=1 -DNewLogFile=1 --keep-going --verbose -r ";
  CommandResult one = Quillocmd(options + "-j 1 serial", temp.path());
  CommandResult three = Quillocmd(options + "-j 3 parallel", temp.path());
  EXPECT_EQ(one.exitCode, 1) << one.output;  // the broken document
  EXPECT_EQ(three.exitCode, one.exitCode) << three.output;
  EXPECT_EQ(Report(three.output, "parallel"), Report(one.output, "serial"));
  EXPECT_NE(one.output.find("1 of 18 inputs failed: serial/sub/broken.rtf"), std::string::npos)
      << one.output;
  EXPECT_NE(three.output.find("quillocmd: 18 files ("), std::string::npos) << three.output;
  EXPECT_NE(three.output.find("with 3 jobs; 1 failed"), std::string::npos) << three.output;
  std::map<std::string, std::string> expected = Tree(serial, "serial"),
                                     got = Tree(parallel, "parallel");
  EXPECT_TRUE(expected.count("sub/deeper/LOUD.html"));
  EXPECT_FALSE(expected.count("sub/notes.html"));
  EXPECT_TRUE(expected.count("quillo_log.htm"));
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [name, bytes] : expected) EXPECT_EQ(got[name], bytes) << name;
}

TEST(QuillocmdParallelTest, PatternRunsGiveTheOneEngineRunsResults) {
  TempDir temp;
  for (const char* folder : {"serial", "parallel"}) MakeTree(fs::path(temp.path()) / folder);
  CommandResult one =
      Quillocmd("-D PauseOnErr=0 -DCreateLogFile=1 -j 1 'serial/doc*.rtf'", temp.path());
  CommandResult two =
      Quillocmd("-D PauseOnErr=0 -DCreateLogFile=1 -j 2 'parallel/doc*.rtf'", temp.path());
  EXPECT_EQ(one.exitCode, 0) << one.output;
  EXPECT_EQ(two.exitCode, 0) << two.output;
  EXPECT_EQ(Report(two.output, "parallel"), Report(one.output, "serial"));
  EXPECT_EQ(Tree(fs::path(temp.path()) / "parallel", "parallel"),
            Tree(fs::path(temp.path()) / "serial", "serial"));
}

TEST(QuillocmdParallelTest, WithoutKeepGoingNoInputAfterAFailureStarts) {
  TempDir temp;
  WriteFile(temp.File("a.rtf"), "{\\rtf1 first\\par}");
  WriteFile(temp.File("b.rtf"), "broken");
  for (int i = 0; i < 40; ++i)
    WriteFile(temp.File("z" + std::to_string(100 + i) + ".rtf"), "{\\rtf1 later\\par}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 -j 2 a.rtf b.rtf z*.rtf", temp.path());
  // A pattern among other inputs keeps the run on one engine, which stops at b.rtf.
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_TRUE(quillo::test::FileExists(temp.File("a.html")));
  CommandResult files = Quillocmd("-D PauseOnErr=0 -j 2 a.rtf b.rtf z1*.rtf", temp.path());
  EXPECT_EQ(files.exitCode, 1);

  TempDir named;
  WriteFile(named.File("a.rtf"), "{\\rtf1 first\\par}");
  WriteFile(named.File("b.rtf"), "broken");
  std::string inputs = "a.rtf b.rtf";
  std::string body;
  for (int p = 0; p < 2000; ++p) body += "\\pard {\\i Later} paragraph.\\par\n";
  for (int i = 0; i < 40; ++i) {
    std::string name = "z" + std::to_string(100 + i) + ".rtf";
    WriteFile(named.File(name), "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}" + body + "}");
    inputs += " " + name;
  }
  CommandResult stop = Quillocmd("-D PauseOnErr=0 -j 2 " + inputs, named.path());
  EXPECT_EQ(stop.exitCode, 1) << stop.output;
  EXPECT_TRUE(quillo::test::FileExists(named.File("a.html")));
  EXPECT_NE(stop.output.find("b.rtf"), std::string::npos) << stop.output;
  // The inputs after the failure that had not started when it was known never start.
  int later = 0;
  for (int i = 0; i < 40; ++i)
    later += quillo::test::FileExists(named.File("z" + std::to_string(100 + i) + ".html"));
  EXPECT_LT(later, 40) << stop.output;
}

TEST(QuillocmdParallelTest, InputsWritingTheSamePagesTakeTurnsAndNeverOverwrite) {
  TempDir temp;
  WriteFile(temp.File("same.rtf"), "{\\rtf1 from lower case\\par}");
  WriteFile(temp.File("same.RTF"), "{\\rtf1 from upper case\\par}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 -j 2 same.rtf ./same.RTF", temp.path());
  EXPECT_NE(run.output.find("more than one input writes the pages of ./same"), std::string::npos)
      << run.output;
  // One after another, as on one engine: the run never writes over a page it wrote, so the
  // later input fails and the first input's page stays.
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("MSG_ALREADY_WRITTEN"), std::string::npos) << run.output;
  EXPECT_NE(ReadFile(temp.File("same.html")).find("from lower case"), std::string::npos);
}

// A batch file's lines are converted apart too: each with the options of the lines before it,
// the translation file found through its "search" line, a failed line stopping none after it,
// and everything left as the one-engine run leaves it.
TEST(QuillocmdParallelTest, BatchRunsGiveTheOneEngineRunsResults) {
  TempDir temp;
  std::map<std::string, CommandResult> runs;
  for (const char* folder : {"serial", "parallel"}) {
    const fs::path root = fs::path(temp.path()) / folder;
    MakeTree(root);
    fs::create_directories(root / "trn");
    fs::copy_file(fs::path(QUILLO_BINARY_DIR) / "bin" / "html.trn", root / "trn" / "mine.trn");
    const std::string f = std::string(folder) + "/";
    WriteFile((root / "run.bat").string(),
              "set SplitDepth=1\noutput " + f + "first.htm\nfile " + f + "sub/headings.rtf\n" + f +
                  "doc1.rtf   # a comment\nfile " + f + "sub/*.rtf\nsearch " + f +
                  "trn\nset TrnFile=mine.trn\nfile " + f + "doc1?.rtf\n");
    runs[folder] = Quillocmd(std::string("-D PauseOnErr=0 -DCreateLogFile=1 --verbose -j ") +
                                 (folder[0] == 's' ? "1" : "2") + " -b " + f + "run.bat",
                             temp.path());
  }
  const CommandResult &one = runs["serial"], &two = runs["parallel"];
  EXPECT_EQ(one.exitCode, 1) << one.output;  // sub/broken.rtf
  EXPECT_EQ(two.exitCode, one.exitCode) << two.output;
  EXPECT_EQ(Report(two.output, "parallel"), Report(one.output, "serial"));
  EXPECT_NE(two.output.find("with 2 jobs; 1 failed"), std::string::npos) << two.output;
  const auto expected = Tree(fs::path(temp.path()) / "serial", "serial");
  EXPECT_TRUE(expected.count("first.htm"));   // split at level 1: more pages beside it
  EXPECT_TRUE(expected.count("doc11.html"));  // converted after the failed line
  EXPECT_EQ(Tree(fs::path(temp.path()) / "parallel", "parallel"), expected);
}

TEST(QuillocmdParallelTest, JobsAndRecursiveOptions) {
  TempDir temp;
  for (const char* bad : {"-j 0", "-j x", "--jobs=", "-j 9999", "-j"}) {
    CommandResult run = Quillocmd(std::string(bad) + " a.rtf", temp.path());
    EXPECT_EQ(run.exitCode, 2) << bad << ": " << run.output;
  }
  WriteFile(temp.File("a.rtf"), "{\\rtf1 a\\par}");
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 -j2 --jobs 2 a.rtf", temp.path()).exitCode, 0);
  // Without -r a directory is no input the converter can read.
  fs::create_directories(temp.File("folder"));
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 folder", temp.path()).exitCode, 1);
  CommandResult empty = Quillocmd("-D PauseOnErr=0 -r folder", temp.path());
  EXPECT_NE(empty.output.find("no .rtf file under folder"), std::string::npos) << empty.output;
}

}  // namespace
