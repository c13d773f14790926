// quillocmd with a batch file: the switch in both spellings, options passed on, exit codes, and
// a batch file that names itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/run_quillocmd.h"
#include "support/test_support.h"

namespace {

using quillo::test::FileExists;
using quillo::test::ReadFile;
using quillo::test::TempDir;
using quillo::test::WriteFile;

using quillo::test::CommandResult;
using quillo::test::Quillocmd;

TEST(QuillocmdBatchTest, ConvertsTheFilesOfABatchFile) {
  TempDir dir;
  WriteFile(dir.File("one.rtf"), "{\\rtf1 one\\par}");
  WriteFile(dir.File("two.rtf"), "{\\rtf1 two\\par}");
  WriteFile(dir.File("jobs.txt"),
            "# two pages and a log\nset Title=Batch\noutput a.htm\nfile one.rtf\ntwo.rtf\n");
  CommandResult run = Quillocmd("-bjobs.txt -D PauseOnErr=0 -DCreateLogFile=1", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "");
  EXPECT_NE(ReadFile(dir.File("a.htm")).find("<title>Batch</title>"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.File("two.html")).find("<title>Batch</title>"), std::string::npos);
  std::string log = ReadFile(dir.File("quillo_log.htm"));
  EXPECT_NE(log.find("<li>(write) <a href=\"file://" + dir.File("a.htm") + "\">"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("<li>(write) <a href=\"file://" + dir.File("two.html") + "\">"),
            std::string::npos)
      << log;
}

TEST(QuillocmdBatchTest, SeparateNameAndCurrentInputs) {
  TempDir dir;
  WriteFile(dir.File("in.rtf"), "{\\rtf1 in\\par}");
  WriteFile(dir.File("go.txt"), "output from-go.htm\ngo\n");
  CommandResult run = Quillocmd("-b go.txt -D PauseOnErr=0 in.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(FileExists(dir.File("from-go.htm")));
}

TEST(QuillocmdBatchTest, FailuresAreReportedAndEndWithCodeOne) {
  TempDir dir;
  CommandResult missing = Quillocmd("-bnone.txt -D PauseOnErr=0", dir.path());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("Can't open \"none.txt\""), std::string::npos) << missing.output;

  CommandResult bare = Quillocmd("-b", dir.path());
  EXPECT_EQ(bare.exitCode, 1);
  EXPECT_NE(bare.output.find("Parameter required for -b option."), std::string::npos)
      << bare.output;

  WriteFile(dir.File("self.txt"), "self.txt\n-bself.txt\nfile ./self.txt\n");
  auto start = std::chrono::steady_clock::now();
  CommandResult self = Quillocmd("-bself.txt -D PauseOnErr=0", dir.path());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(self.exitCode, 1);
  EXPECT_NE(self.output.find("Batch file self.txt names itself at line 1 - line skipped\n"),
            std::string::npos)
      << self.output;
  EXPECT_NE(self.output.find("names itself at line 3"), std::string::npos) << self.output;
  EXPECT_EQ(self.output.find("Press Enter"), std::string::npos);
}

}  // namespace
