// quillocmd run as a user runs it: exit codes, the usage text, the error-file lines and the pause.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/run_quillocmd.h"
#include "support/test_support.h"

namespace {

using quillo::test::CommandResult;
using quillo::test::Quillocmd;

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

// ---- Output names --------------------------------------------------------------------------

// An output that would replace the input being converted is refused: the input survives and the
// command fails with a message that says why. Also when the two names differ but are one file.
TEST(QuillocmdTest, OutputThatIsTheInputIsRefused) {
  quillo::test::TempDir dir;
  const std::string rtf = "{\\rtf1 keep me}";
  quillo::test::WriteFile(dir.File("self.rtf"), rtf);
  ASSERT_EQ(symlink(dir.File("self.rtf").c_str(), dir.File("link.rtf").c_str()), 0);
  const struct {
    const char* output;
    const char* errorFile;
  } cases[] = {
      {"self.rtf", "self_err.htm"}, {"./self.rtf", "self_err.htm"}, {"link.rtf", "link_err.htm"}};
  for (const auto& [output, errorFile] : cases) {
    CommandResult run =
        Quillocmd(std::string("-D PauseOnErr=0 -o ") + output + " self.rtf", dir.path());
    EXPECT_EQ(run.exitCode, 1) << output;
    EXPECT_EQ(quillo::test::ReadFile(dir.File("self.rtf")), rtf) << output;
    std::string errors = quillo::test::ReadFile(dir.File(errorFile));
    EXPECT_NE(errors.find("is the input being converted: it is not written over"),
              std::string::npos)
        << output << "\n"
        << errors << run.output;
  }
}

// Several inputs with one output name: the first conversion's page stays, the second is refused
// with a message, and the command fails.
TEST(QuillocmdTest, OneOutputForSeveralInputsIsNotOverwritten) {
  quillo::test::TempDir dir;
  quillo::test::WriteFile(dir.File("a.rtf"), "{\\rtf1 first}");
  quillo::test::WriteFile(dir.File("b.rtf"), "{\\rtf1 second}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 -o one.html a.rtf b.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 1) << run.output;
  const std::string page = quillo::test::ReadFile(dir.File("one.html"));
  EXPECT_NE(page.find("first"), std::string::npos);
  EXPECT_EQ(page.find("second"), std::string::npos);
  EXPECT_NE(quillo::test::ReadFile(dir.File("one_err.htm"))
                .find("one.html was already written by this run: it is not written over"),
            std::string::npos);
  // A new run may write it again.
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 -o one.html b.rtf", dir.path()).exitCode, 0);
  EXPECT_NE(quillo::test::ReadFile(dir.File("one.html")).find("second"), std::string::npos);

  // The first conversion's error file is its own too: the second neither overwrites nor
  // removes it, and says what it has to say on standard error.
  quillo::test::WriteFile(dir.File("a.rtf"),
                          "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"javascript:x\"}"
                          "{\\fldrslt first}}}");
  run = Quillocmd("-D PauseOnErr=0 -o one.html a.rtf b.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  const std::string errors = quillo::test::ReadFile(dir.File("one_err.htm"));
  EXPECT_NE(errors.find("javascript:x"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("already written"), std::string::npos) << errors;
  EXPECT_NE(run.output.find("one.html was already written by this run"), std::string::npos)
      << run.output;
}

// An output name that is a folder means the input's name in that folder.
TEST(QuillocmdTest, OutputFolderTakesTheInputName) {
  quillo::test::TempDir dir;
  quillo::test::WriteFile(dir.File("report.rtf"), "{\\rtf1 text}");
  ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("existing").c_str(), 0755), 0);
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 -o out/ report.rtf", dir.path()).exitCode, 0);
  EXPECT_TRUE(quillo::test::FileExists(dir.File("out/report.html")));
  EXPECT_FALSE(quillo::test::FileExists(dir.File("out/.html")));
  EXPECT_EQ(Quillocmd("-D PauseOnErr=0 -o existing report.rtf", dir.path()).exitCode, 0);
  EXPECT_TRUE(quillo::test::FileExists(dir.File("existing/report.html")));
}

// A file name is a name: "$Delete(TrnFile)" in it is never run, in the page's name, the error
// file's or the contents page's.
TEST(QuillocmdTest, FileNamesAreNeverExpanded) {
  quillo::test::TempDir dir;
  const std::string trn = dir.File("mine.trn");
  quillo::test::WriteFile(trn, quillo::test::ReadFile(quillo::test::DataDir() + "/html.trn"));
  const std::string name = "doc$Delete(TrnFile)$Exit().rtf";
  quillo::test::WriteFile(dir.File(name),
                          "{\\rtf1\\ansi{\\stylesheet{\\s1 heading 1;}}"
                          "\\pard\\s1 Head\\par\\pard text\\f99\\par}");
  CommandResult run = Quillocmd(
      "-D PauseOnErr=0 -c -D TrnFile=" + trn + " 'doc$Delete(TrnFile)$Exit().rtf'", dir.path());
  EXPECT_TRUE(quillo::test::FileExists(trn)) << "the translation file was deleted";
  EXPECT_TRUE(quillo::test::FileExists(dir.File("doc$Delete(TrnFile)$Exit().html"))) << run.output;
  EXPECT_TRUE(quillo::test::FileExists(dir.File("doc$Delete(TrnFile)$Exit()-Contents.html")));
  // So does -o, and the batch file's output lines.
  run =
      Quillocmd("-D PauseOnErr=0 -D TrnFile=" + trn + " -o '$Delete(TrnFile).html' '" + name + "'",
                dir.path());
  EXPECT_TRUE(quillo::test::FileExists(trn));
  EXPECT_TRUE(quillo::test::FileExists(dir.File("$Delete(TrnFile).html"))) << run.output;
  quillo::test::WriteFile(
      dir.File("list.bat"),
      "set TrnFile=" + trn + "\noutput $Delete(TrnFile)-b.html\n" + name + "\n");
  run = Quillocmd("-b list.bat -D PauseOnErr=0", dir.path());
  EXPECT_TRUE(quillo::test::FileExists(trn));
  EXPECT_TRUE(quillo::test::FileExists(dir.File("$Delete(TrnFile)-b.html"))) << run.output;
}

// A file name is never markup either: the links and frame names made from it stay inside their
// attributes on every page (contents, split pages, index, frames).
TEST(QuillocmdTest, FileNamesNeverEndAnAttribute) {
  quillo::test::TempDir dir;
  const std::string name = "q\"x onclick=y";
  quillo::test::WriteFile(dir.File(name + ".rtf"),
                          "{\\rtf1\\ansi{\\stylesheet{\\s1 heading 1;}}\\pard\\s1 Head\\par"
                          "\\pard text{\\xe{entry}}\\par\\pard\\s1 Two\\par\\pard more\\par}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 -c -x -F -h 1 '" + name + ".rtf'", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  int pages = 0;
  FILE* ls = popen(("ls '" + dir.path() + "'").c_str(), "r");
  char line[1024];
  while (fgets(line, sizeof line, ls)) {
    std::string file(line);
    file.pop_back();
    if (file.size() < 5 || file.compare(file.size() - 5, 5, ".html") != 0) continue;
    ++pages;
    const std::string page = quillo::test::ReadFile(dir.File(file));
    EXPECT_EQ(page.find("q\"x"), std::string::npos) << file << "\n" << page;
    EXPECT_EQ(page.find(" onclick=y"), std::string::npos) << file;
  }
  pclose(ls);
  EXPECT_GE(pages, 5);
}

// ---- Untrusted documents -------------------------------------------------------------------

// A translation file sent along with a document is used by default (users keep theirs beside
// their documents); in safe mode it is not, and what deletes, creates or runs is refused.
TEST(QuillocmdTest, SafeModeIgnoresCompanionFilesAndRefusesFileBuiltins) {
  quillo::test::TempDir dir;
  const std::string victim = dir.File("victim.txt");
  quillo::test::WriteFile(victim, "precious");
  quillo::test::WriteFile(dir.File("doc.rtf"), "{\\rtf1\\ansi text\\par}");
  // The companion: the shipped file with a hook that deletes, writes and runs.
  quillo::test::WriteFile(dir.File("html.trn"),
                          quillo::test::ReadFile(quillo::test::DataDir() + "/html.trn") +
                              "\n.Functions\nFunction Evil\nScript \"echo ran > " +
                              dir.File("ran.txt") + "\"\n.Strings\nVictim \"" + victim +
                              "\"\nMade \"" + dir.File("made.txt") +
                              "\"\nPass1Start \"$Delete(Victim)$CreateFile(Made)$Evil()\"\n");
  CommandResult trusting = Quillocmd("-D PauseOnErr=0 doc.rtf", dir.path());
  EXPECT_EQ(trusting.exitCode, 0) << trusting.output;
  EXPECT_FALSE(quillo::test::FileExists(victim)) << "the companion file was not used";

  quillo::test::WriteFile(victim, "precious");
  std::remove(dir.File("made.txt").c_str());
  std::remove(dir.File("ran.txt").c_str());
  CommandResult safe = Quillocmd("-D PauseOnErr=0 -D SafeMode=1 doc.rtf", dir.path());
  EXPECT_EQ(safe.exitCode, 0) << safe.output;
  EXPECT_TRUE(quillo::test::FileExists(victim));
  EXPECT_FALSE(quillo::test::FileExists(dir.File("made.txt")));
  EXPECT_FALSE(quillo::test::FileExists(dir.File("ran.txt")));
  EXPECT_NE(quillo::test::ReadFile(dir.File("doc.html")).find("text"), std::string::npos);

  // In safe mode the same built-ins from the trusted translation file are refused too, and a
  // translation file cannot turn safe mode off.
  const std::string trusted = dir.File("trusted/mine.trn");
  ASSERT_EQ(mkdir(dir.File("trusted").c_str(), 0755), 0);
  quillo::test::WriteFile(trusted, quillo::test::ReadFile(quillo::test::DataDir() + "/html.trn") +
                                       "\n.Strings\nSafeMode \"0\"\nVictim \"" + victim +
                                       "\"\nPass1Start \"$Delete(Victim)\"\n");
  safe = Quillocmd("-D PauseOnErr=0 -D SafeMode=1 -D TrnFile=" + trusted + " doc.rtf", dir.path());
  EXPECT_TRUE(quillo::test::FileExists(victim));
  EXPECT_NE(quillo::test::ReadFile(dir.File("doc_err.htm")).find("Safe mode: Delete is not run"),
            std::string::npos);
}

// The footnote collection file is created afresh: an existing file or a symbolic link of the
// name it once had is neither truncated nor followed, and no temporary file is left behind.
TEST(QuillocmdTest, FootnoteTemporaryFileNeverReplacesAFile) {
  quillo::test::TempDir dir;
  const std::string victim = dir.File("victim.txt");
  quillo::test::WriteFile(victim, "precious");
  ASSERT_EQ(symlink(victim.c_str(), dir.File("doc.tmp").c_str()), 0);
  quillo::test::WriteFile(
      dir.File("doc.rtf"),
      "{\\rtf1\\ansi text{\\super\\chftn}{\\footnote\\pard\\plain{\\super\\chftn} "
      "A note.}\\par}");
  CommandResult run = Quillocmd("-D PauseOnErr=0 doc.rtf", dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(quillo::test::ReadFile(victim), "precious");
  EXPECT_NE(quillo::test::ReadFile(dir.File("doc.html")).find("A note."), std::string::npos);
  // Only the inputs, the page, the victim and its link are there.
  std::string listing;
  FILE* ls = popen(("ls -A '" + dir.path() + "'").c_str(), "r");
  char buffer[1024];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, ls)) > 0) listing.append(buffer, n);
  pclose(ls);
  EXPECT_EQ(listing, "doc.html\ndoc.rtf\ndoc.tmp\nvictim.txt\n");
}

}  // namespace
