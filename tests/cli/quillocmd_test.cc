// quillocmd run as a user runs it: exit codes, the usage text, the error-file lines and the pause.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace {

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

CommandResult Quillocmd(const std::string& arguments, const std::string& directory = ".") {
  std::string command = "cd '" + directory + "' && " QUILLO_BINARY_DIR "/bin/quillocmd " +
                        arguments + " </dev/null 2>&1";
  CommandResult run;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(QuillocmdTest, ConvertsTheSampleDocument) {
  quillo::test::TempDir dir;
  CommandResult run =
      Quillocmd("-o " + dir.File("sample.html") + " " QUILLO_SOURCE_DIR "/samples/sample.rtf");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "");
  std::string page = quillo::test::ReadFile(dir.File("sample.html"));
  EXPECT_NE(page.find("<!DOCTYPE html>"), std::string::npos);
  EXPECT_FALSE(quillo::test::FileExists(dir.File("sample_err.htm")));
}

TEST(QuillocmdTest, UsageErrorPrintsTheBannerAndFails) {
  CommandResult run = Quillocmd("-Z -D PauseOnErr=0 x.rtf");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("Don't understand option:-Z."), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Usage: Drop your RTF file onto the filter and it will convert it to "
                            "HTML\n(Info: This is Quillocmd 5.0.2 )"),
            std::string::npos)
      << run.output;
}

TEST(QuillocmdTest, FailureNamesTheErrorFileAndPausesOnlyAtATerminal) {
  quillo::test::TempDir dir;
  quillo::test::WriteFile(dir.File("bad.rtf"), "not rtf");
  CommandResult quiet = Quillocmd("-D PauseOnErr=0 bad.rtf", dir.path());
  EXPECT_EQ(quiet.exitCode, 1);
  EXPECT_NE(quiet.output.find("Quillo has found errors and is unable to continue\n"
                              "See bad_err.htm file for details\n"),
            std::string::npos)
      << quiet.output;
  EXPECT_EQ(quiet.output.find("Press Enter"), std::string::npos);
  std::string errors = quillo::test::ReadFile(dir.File("bad_err.htm"));
  EXPECT_NE(errors.find("malformed rtf file - does not begin with \"{\""), std::string::npos);
  EXPECT_NE(errors.find("</pre></body>"), std::string::npos);

  // Standard input is no terminal: nobody could answer a pause, so there is none, also with
  // PauseOnErr at its default (terminal_test.cc runs the pause on a terminal).
  CommandResult script = Quillocmd("bad.rtf", dir.path());
  EXPECT_EQ(script.exitCode, 1);
  EXPECT_EQ(script.output.find("Press Enter"), std::string::npos) << script.output;
}

// With no arguments quillocmd hands over to the desktop application beside it. The build tree
// has the real one (a server that would outlive the test), so these run a copy of quillocmd in a
// folder of their own, with the data found through RTFLIBDIR.
TEST(QuillocmdTest, NoArgumentsStartsTheDesktopApplicationBesideIt) {
  quillo::test::TempDir dir;
  std::string copy = "cp " QUILLO_BINARY_DIR "/bin/quillocmd '" + dir.path() + "/'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  std::string run = "cd '" + dir.path() +
                    "' && RTFLIBDIR=" QUILLO_BINARY_DIR "/bin ./quillocmd </dev/null >out.txt 2>&1";

  // Without the desktop application the conversion runs with no input: a usage error.
  int status = std::system(run.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  std::string output = quillo::test::ReadFile(dir.File("out.txt"));
  EXPECT_NE(output.find("No input file given."), std::string::npos) << output;

  // With one, it is started and quillocmd exits at once with 0, writing nothing.
  quillo::test::WriteFile(dir.File("quillo"), "#!/bin/sh\ntouch started\n");
  ASSERT_EQ(std::system(("chmod +x '" + dir.File("quillo") + "'").c_str()), 0);
  status = std::system(run.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  EXPECT_EQ(quillo::test::ReadFile(dir.File("out.txt")), "");
  for (int i = 0; i < 100 && !quillo::test::FileExists(dir.File("started")); ++i) usleep(20000);
  EXPECT_TRUE(quillo::test::FileExists(dir.File("started")));
}

TEST(QuillocmdTest, WildcardsConvertEachMatchingFileInOrder) {
  quillo::test::TempDir dir;
  for (const char* name : {"b.rtf", "a.rtf", "c.txt"})
    quillo::test::WriteFile(dir.File(name), "{\\rtf1 x}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 '" + dir.path() + "/*.rtf'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(quillo::test::FileExists(dir.File("a.html")));
  EXPECT_TRUE(quillo::test::FileExists(dir.File("b.html")));
  EXPECT_FALSE(quillo::test::FileExists(dir.File("c.html")));
  // A pattern that matches nothing converts nothing and is no error.
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 '" + dir.path() + "/*.none'").exitCode, 0);
}

TEST(QuillocmdTest, SeveralInputsShareTheOptions) {
  quillo::test::TempDir dir;
  quillo::test::WriteFile(dir.File("a.rtf"), "{\\rtf1 a}");
  quillo::test::WriteFile(dir.File("b.rtf"), "{\\rtf1 b}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 -T Shared a.rtf b.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(quillo::test::ReadFile(dir.File("a.html")).find("<title>Shared</title>"),
            std::string::npos);
  EXPECT_NE(quillo::test::ReadFile(dir.File("b.html")).find("<title>Shared</title>"),
            std::string::npos);
}

TEST(QuillocmdTest, VersionOption) {
  CommandResult run = Quillocmd("-V -D PauseOnErr=0");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("quillo Version 5.0.2"), std::string::npos) << run.output;
}

}  // namespace
