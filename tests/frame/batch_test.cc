// Batch files, wildcard runs and external scripts: the line kinds of a batch file and the scope
// of its options, the limits, batch files that name themselves, and scripts that only ever run
// what the translation file says, with document text quoted for the shell.
#include "frame/batch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "frame/driver.h"
#include "support/test_support.h"
#include "trn/translation_file.h"

namespace quillo {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kRtf = "{\\rtf1\\ansi Hello\\par}";

class BatchTest : public testing::Test {
 protected:
  std::string Program() const { return test::DataDir() + "/quillocmd"; }
  /// Writes an RTF input into the temporary folder and returns its path.
  std::string Rtf(const std::string& name) {
    WriteFile(dir.File(name), kRtf);
    return dir.File(name);
  }
  /// Writes a batch file and runs it with the data folder as program folder.
  bool Run(const std::string& lines, const std::string* input = nullptr,
           std::vector<std::string> options = {}) {
    WriteFile(dir.File("jobs.txt"), lines);
    std::vector<std::string> leading{Program()};
    leading.insert(leading.end(), options.begin(), options.end());
    return RunBatch(*engine, dir.File("jobs.txt"), leading, input);
  }
  int ConvertArgs(std::vector<std::string> words) {
    words.insert(words.begin(), Program());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return ConvertFiles(*engine, static_cast<int>(words.size()), argv.data());
  }
  TempDir dir;
  std::unique_ptr<Engine> engine = test::MakeEngine();
};

// ---- Line kinds and option scope -------------------------------------------------------------

TEST_F(BatchTest, OptionLinesApplyToTheNextConvertingLineOnly) {
  std::string one = Rtf("one.rtf"), two = Rtf("two.rtf");
  EXPECT_TRUE(
      Run("set OutFileName=" + dir.File("set.htm") + "\nfile " + one + "\nfile " + two + "\n"));
  EXPECT_TRUE(FileExists(dir.File("set.htm")));
  EXPECT_FALSE(FileExists(dir.File("one.html")));
  EXPECT_TRUE(FileExists(dir.File("two.html"))) << "the set line applied to the first file only";

  // output lines: each file its own name; of two before one file, the later wins.
  EXPECT_TRUE(Run("output " + dir.File("a.htm") + "\nfile " + one +
                  "\noutput=" + dir.File("b.htm") + "\nfile " + two + "\noutput " +
                  dir.File("x.htm") + "\noutput " + dir.File("y.htm") + "\n" + one + "\n"));
  EXPECT_TRUE(FileExists(dir.File("a.htm")));
  EXPECT_TRUE(FileExists(dir.File("b.htm")));
  EXPECT_FALSE(FileExists(dir.File("x.htm")));
  EXPECT_TRUE(FileExists(dir.File("y.htm")));
  EXPECT_EQ(engine->batch.counter, 0) << "the counter ends with the run";
  EXPECT_FALSE(engine->driver.batchRunning);
}

TEST_F(BatchTest, BlanksCommentsAndKeywordsAreReadAsWritten) {
  std::string set = Rtf("settings.rtf");
  Rtf("plain.rtf");
  Rtf("hash#name.rtf");
  EXPECT_TRUE(
      Run("# a comment line\n"
          "\n"
          "   \t  \n"
          "\t  file   " +
          set + "   \t# trailing comment\n" +             // a name beginning with set
          "file\t=\t" + dir.File("plain.rtf") + "\r\n" +  // "=" and a CRLF line end
          dir.File("hash#name.rtf#") + "\n"));            // cut at the last '#'
  EXPECT_TRUE(FileExists(dir.File("settings.html")));
  EXPECT_TRUE(FileExists(dir.File("plain.html")));
  EXPECT_TRUE(FileExists(dir.File("hash#name.html")));

  // Keywords are compared with case: "File x" names the file "File x".
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Run("File " + set + "\n"));
  testing::internal::GetCapturedStderr();
}

TEST_F(BatchTest, GoConvertsTheCurrentInputAndNeedsOne) {
  std::string in = Rtf("in.rtf");
  EXPECT_TRUE(Run("output " + dir.File("go.htm") + "\ngo\n", &in));
  EXPECT_TRUE(FileExists(dir.File("go.htm")));

  testing::internal::CaptureStderr();
  EXPECT_FALSE(Run("go\n"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Can't open \"Batch filename\""), std::string::npos) << err;
  EXPECT_FALSE(FileExists(dir.File("go.html")));
}

TEST_F(BatchTest, WildcardLinesConvertEveryMatchingFileOnce) {
  mkdir(dir.File("in").c_str(), 0700);
  Rtf("in/b.rtf");
  Rtf("in/a.rtf");
  Rtf("in/x*y.rtf");  // a listed name that is a pattern itself is not listed again
  Rtf("in/skip.txt");
  mkdir(dir.File("in/dir.rtf").c_str(), 0700);  // only regular files are converted
  EXPECT_TRUE(Run("set CreateLogFile=1\nfile " + dir.File("in/*.rtf") + "\n"));
  EXPECT_TRUE(FileExists(dir.File("in/a.html")));
  EXPECT_TRUE(FileExists(dir.File("in/b.html")));
  EXPECT_TRUE(FileExists(dir.File("in/x*y.html")));
  EXPECT_FALSE(FileExists(dir.File("in/skip.html")));
  // Each file converted once, each with the options of the lines before the pattern.
  std::string log = ReadFile(dir.File("in/quillo_log.htm"));
  std::size_t headings = 0;
  for (std::size_t p = log.find("<h3>"); p != std::string::npos; p = log.find("<h3>", p + 1))
    ++headings;
  EXPECT_EQ(headings, 3u) << log;
  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "3");

  // The same with a pattern as the last argument, outside a batch; no match converts nothing.
  engine = test::MakeEngine();
  EXPECT_EQ(ConvertArgs({"-DCreateLogFile=1", "-DNewLogFile=1", dir.File("in/*y.rtf")}), 0);
  log = ReadFile(dir.File("in/quillo_log.htm"));
  EXPECT_EQ(log.find("<h3>", log.find("<h3>") + 1), std::string::npos) << log;
  EXPECT_EQ(ConvertArgs({dir.File("in/none*.rtf")}), 0);
}

TEST_F(BatchTest, SearchLinesSetTheLibraryDirectoryOverride) {
  std::string in = Rtf("doc.rtf");
  mkdir(dir.File("lib").c_str(), 0700);
  WriteFile(dir.File("lib/mine.trn"), ReadFile(test::DataDir() + "/html.trn") +
                                          "\n.Strings\nTitlePageBodyEnd \"<p>from mine</p>\"\n");
  EXPECT_TRUE(Run("search " + dir.File("lib") + "\nset TrnFile=mine.trn\nfile " + in + "\n"));
  EXPECT_NE(ReadFile(dir.File("doc.html")).find("from mine"), std::string::npos);
  EXPECT_EQ(engine->settings.paths.libraryDirOverride, dir.File("lib")) << "stays after the run";

  // A translation file in neither the search nor the input folder is found through RTFLIBDIR.
  Run("look=\n");
  EXPECT_EQ(engine->settings.paths.libraryDirOverride, "");
  mkdir(dir.File("env").c_str(), 0700);
  WriteFile(dir.File("env/envtrn.trn"), ReadFile(test::DataDir() + "/html.trn") +
                                            "\n.Strings\nTitlePageBodyEnd \"<p>from env</p>\"\n");
  setenv("RTFLIBDIR", dir.File("env").c_str(), 1);
  bool ran = Run("-- " + dir.File("lib") + "\nset TrnFile=envtrn.trn\nfile " + in + "\n");
  unsetenv("RTFLIBDIR");
  EXPECT_TRUE(ran);
  EXPECT_NE(ReadFile(dir.File("doc.html")).find("from env"), std::string::npos);
}

TEST_F(BatchTest, OptionLinesAreBounded) {
  std::string in = Rtf("doc.rtf");
  std::string lines;
  for (int i = 1; i <= BatchState::kMaxOptionLines; ++i)
    lines += "set Opt" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  lines += "output " + dir.File("over.htm") + "\n";  // the 51st option line
  lines += "file " + in + "\n";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Run(lines));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("too many options before a file - \"output " + dir.File("over.htm")),
            std::string::npos)
      << err;
  EXPECT_TRUE(FileExists(dir.File("doc.html"))) << "the file is still converted";
  EXPECT_FALSE(FileExists(dir.File("over.htm")));
  // After a converting line there is room again.
  EXPECT_TRUE(Run(lines.substr(lines.find("set Opt2=")) + "file " + in + "\n"));
  EXPECT_TRUE(FileExists(dir.File("over.htm")));
}

// ---- Failures and pathological batch files -------------------------------------------------

TEST_F(BatchTest, BatchFilesThatNameThemselvesEndWithAMessage) {
  std::string self = dir.File("self.txt");
  WriteFile(self, "self.txt\nfile " + self + "\n-b" + self + "\n-bself.txt\ngo\n");
  WriteFile(dir.File("a.txt"), "-b" + dir.File("b.txt") + "\n");
  WriteFile(dir.File("b.txt"), "-b" + dir.File("a.txt") + "\nfile " + dir.File("a.txt") + "\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RunBatch(*engine, self, {Program()}, &self));
  EXPECT_FALSE(RunBatch(*engine, dir.File("a.txt"), {Program()}, nullptr));
  EXPECT_FALSE(RunBatch(*engine, dir.File("b.txt"), {Program()}, nullptr));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Batch file " + self + " names itself at line 2 - line skipped"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("names itself at line 3"), std::string::npos) << err;
  EXPECT_NE(err.find("names itself at line 5"), std::string::npos) << err;
  // Through another batch file: batch files do not start batch files.
  EXPECT_NE(err.find("Batch file " + dir.File("a.txt") + ", line 1: batch file " +
                     dir.File("b.txt") + " is not run from a batch file"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Batch file " + dir.File("b.txt") + ", line 1: batch file " +
                     dir.File("a.txt") + " is not run from a batch file"),
            std::string::npos)
      << err;
  EXPECT_FALSE(engine->driver.batchRunning);
}

TEST_F(BatchTest, OnlyReadableRegularFilesAreRunAsBatchFiles) {
  mkdir(dir.File("folder").c_str(), 0700);
  std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testing::internal::CaptureStderr();
  // A folder, a FIFO that no one writes to (would block) and a device that never ends.
  for (std::string name :
       {dir.File("folder"), fifo, std::string("/dev/zero"), dir.File("missing.txt")})
    EXPECT_FALSE(RunBatch(*engine, name, {Program()}, nullptr)) << name;
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Can't open \"/dev/zero\""), std::string::npos) << err;
  EXPECT_NE(err.find("Can't open \"" + dir.File("missing.txt") + "\""), std::string::npos);
}

TEST_F(BatchTest, TheBatchSwitchPassesOptionsAndRunsOncePerInput) {
  std::string in1 = Rtf("first.rtf"), in2 = Rtf("second.rtf");
  WriteFile(dir.File("jobs.txt"), "go\n");
  // Options after the switch reach every conversion; every other word is a current input.
  std::vector<std::string> args{Program(), "-b" + dir.File("jobs.txt"), "-DHtmlExt=htm", in1, in2};
  EXPECT_EQ(ConvertBatch(*engine, args), 0);
  EXPECT_TRUE(FileExists(dir.File("first.htm")));
  EXPECT_TRUE(FileExists(dir.File("second.htm")));
  // "-b" followed by the name; the batch file is found beside the input.
  WriteFile(dir.File("beside.txt"), "output " + dir.File("beside.htm") + "\ngo\n");
  EXPECT_EQ(ConvertArgs({"-b", "beside.txt", in1}), 0);
  EXPECT_TRUE(FileExists(dir.File("beside.htm")));
  // A failed conversion or a missing batch file is a failure, not a success.
  testing::internal::CaptureStderr();
  EXPECT_EQ(ConvertArgs({"-b" + dir.File("nothing.txt")}), 1);
  WriteFile(dir.File("bad.txt"), "file " + dir.File("absent.rtf") + "\n");
  EXPECT_EQ(ConvertArgs({"-b" + dir.File("bad.txt"), "-DPauseOnErr=0"}), 1);
  testing::internal::GetCapturedStderr();
}

// ---- Scripts ---------------------------------------------------------------------------------

class ScriptTest : public testing::Test {
 protected:
  void SetUp() override {
    SetSetting(*engine, "OutFileName", dir.File("doc.html"));
    engine->messages.errorFileName = dir.File("script_err.htm");
    SetSetting(*engine, "ScriptExecCmd", "/bin/sh $ScriptFile;");
  }
  /// Loads a translation file whose .Functions section is `functions`.
  void LoadFunctions(const std::string& functions) {
    std::string path = dir.File("f.trn");
    WriteFile(path, ".Version 6\n.Functions\n" + functions +
                        ".TTag\nbold <b> </b>\n.PTag\npara <p> </p> '' '' '' '' 0 0 0 0 0 0\n"
                        ".TMatch\n'' 0 Bold '' '' bold\n.PMatch\nNormal 0 para\n"
                        ".Strings\nScriptExecCmd \"/bin/sh $ScriptFile;\"\n");
    ASSERT_EQ(LoadTranslationFile(*engine, path), 1);
  }
  TempDir dir;
  std::unique_ptr<Engine> engine = test::MakeEngine();
};

TEST(ShellQuoteTest, MakesOneWordOfAnyText) {
  struct Case {
    std::string text, quoted;
  } cases[] = {
      {"", "''"},
      {"plain", "'plain'"},
      {"it's", "'it'\\''s'"},
      {"''", "''\\'''\\'''"},
      {"$(rm -rf /); `x` \"y\" \\ * ?", "'$(rm -rf /); `x` \"y\" \\ * ?'"},
      {std::string("a\0b", 3), "'ab'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShellQuote(c.text), c.quoted);
    // The shell reads each back as one word holding the text (NUL bytes aside).
    std::string command = "printf %s " + ShellQuote(c.text);
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string out;
    char block[256];
    std::size_t n;
    while ((n = fread(block, 1, sizeof block, pipe)) > 0) out.append(block, n);
    pclose(pipe);
    std::string expected = c.text;
    std::erase(expected, '\0');
    EXPECT_EQ(out, expected);
  }
}

TEST_F(ScriptTest, RunsTheScriptThroughTheCommandAndRemovesTheFile) {
  EXPECT_EQ(RunScript(*engine, "echo hello\necho \"$0\" | sed 's/.*[.]//'\n"), "hello\nsh\n");
  EXPECT_EQ(SettingValue(*engine, "ScriptFile"), dir.File("doc.sh"));
  EXPECT_FALSE(FileExists(dir.File("doc.sh")));

  // A BASE.sh that is not the engine's own is neither overwritten nor removed.
  WriteFile(dir.File("doc.sh"), "mine\n");
  EXPECT_EQ(RunScript(*engine, "echo other"), "other\n");
  EXPECT_EQ(ReadFile(dir.File("doc.sh")), "mine\n");
  std::string used = SettingValue(*engine, "ScriptFile");
  EXPECT_NE(used, dir.File("doc.sh"));
  EXPECT_EQ(used.rfind(dir.File("doc-"), 0), 0u) << used;
  EXPECT_FALSE(FileExists(used));

  // No command: nothing runs. A folder that cannot take the script file: MSG_TMP_OPEN_FAIL.
  SetSetting(*engine, "ScriptExecCmd", "");
  EXPECT_EQ(RunScript(*engine, "touch " + dir.File("ran")), "");
  EXPECT_FALSE(FileExists(dir.File("ran")));
  SetSetting(*engine, "OutFileName", dir.File("no/folder/doc.html"));
  engine->messages.errorFileName = dir.File("script_err.htm");
  EXPECT_EQ(RunScript(*engine, "echo x"), "");
  EXPECT_NE(ReadFile(dir.File("script_err.htm")).find("Open of temporary file Failed"),
            std::string::npos);
}

TEST_F(ScriptTest, TheShippedCommandRunsScriptsFromAnyFolder) {
  ASSERT_EQ(LoadTranslationFile(*engine, "html.trn"), 1);
  // The script file's name is one shell word, whatever the output folder is called.
  std::string folder = dir.File("it's a $(folder)");
  mkdir(folder.c_str(), 0700);
  SetSetting(*engine, "OutFileName", folder + "/doc.html");
  EXPECT_EQ(RunScript(*engine, "echo hi"), "hi\n");
  EXPECT_EQ(SettingValue(*engine, "ScriptFile"), folder + "/doc.sh");
  EXPECT_FALSE(FileExists(folder + "/doc.sh"));
}

TEST_F(ScriptTest, DocumentTextNeverBecomesShellSyntax) {
  std::string pwned = dir.File("pwned");
  const std::string attacks[] = {
      "$(touch " + pwned + ")",           "`touch " + pwned + "`",
      "'; touch " + pwned + "; echo '",   "x\ntouch " + pwned,
      "a' \"$(touch " + pwned + ")\" 'b",
  };
  for (const std::string& attack : attacks) {
    SetLiteralSetting(*engine, "Evil", attack);
    // In the script text, in the command line and as a sub-match-free literal argument.
    EXPECT_EQ(ExpandShellText(*engine, "echo $Evil;"), "echo " + ShellQuote(attack));
    EXPECT_EQ(
        RunScript(*engine, StrExp(*engine, "printf %s ") + ExpandShellText(*engine, "$Evil;")),
        attack);
    SetSetting(*engine, "ScriptExecCmd", "/bin/sh $ScriptFile; $Evil;");
    EXPECT_EQ(RunScript(*engine, "printf %s \"$1\""), attack);
    SetSetting(*engine, "ScriptExecCmd", "/bin/sh $ScriptFile;");
    EXPECT_FALSE(FileExists(pwned)) << attack;
    // The literal value is back as it was.
    EXPECT_EQ(SettingValue(*engine, "Evil"), attack);
  }
  // Text of the translation file itself is shell text.
  SetSetting(*engine, "Own", "echo own");
  EXPECT_EQ(ExpandShellText(*engine, "$Own;"), "echo own");
}

TEST_F(ScriptTest, TheScriptStepQuotesLiteralArguments) {
  LoadFunctions(
      "Function RunIt\n"
      "Script \"printf '%s|' $1;\"\n"
      "Function Twice\n"
      "Script \"printf %s $RunIt(1)\"\n");
  std::string pwned = dir.File("pwned");
  SetLiteralSetting(*engine, "Link", "a b; touch " + pwned);
  EXPECT_EQ(StrExp(*engine, "$RunIt(Link)"), "a b; touch " + pwned + "|");
  // A literal value reached through an argument of a calling function is quoted as well.
  SetSetting(*engine, "Words", "one two");
  EXPECT_EQ(StrExp(*engine, "$RunIt(Words)"), "one|two|");
  // A script's text cannot run a second script.
  EXPECT_EQ(StrExp(*engine, "$Twice(Link)"), "");
  EXPECT_FALSE(FileExists(pwned));
  EXPECT_EQ(engine->batch.shellTextDepth, 0);
}

}  // namespace
}  // namespace quillo
