// The log file and the created-files list: when a log is opened, created anew or appended, what
// each conversion writes into it, and the OutputFileList names a conversion or a batch publishes.
#include "frame/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/file_table.h"
#include "base/settings.h"
#include "engine.h"
#include "frame/batch.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kRtf = "{\\rtf1\\ansi Hello\\par}";
constexpr const char* kHeaderStart =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n<html>\n<!-\n"
    "This document was created by Quillo 5.0\n";
constexpr const char* kHeaderEnd =
    "-->\n<title>Quillo log file</title>\n<head><body>\n<h2>Quillo Log File</h2>\n";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class LogTest : public testing::Test {
 protected:
  /// Runs the argument-vector conversion with the source tree's data folder as program folder.
  int Convert(std::vector<std::string> words) {
    words.insert(words.begin(), test::DataDir() + "/quillocmd");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return ConvertFiles(*engine, static_cast<int>(words.size()), argv.data());
  }
  std::string Rtf(const std::string& name) {
    WriteFile(dir.File(name), kRtf);
    return dir.File(name);
  }
  TempDir dir;
  std::unique_ptr<Engine> engine = test::MakeEngine();
};

// ---- Opening -------------------------------------------------------------------------------

TEST_F(LogTest, OnlyExactlyOneOrTrueAsksForALog) {
  for (const char* value : {"TRUE", "yes", "2", " 1", ""}) {
    std::string in = Rtf("doc.rtf");
    ASSERT_EQ(Convert({"-DCreateLogFile=" + std::string(value), in}), 0) << value;
    EXPECT_FALSE(FileExists(dir.File(kDefaultLogName))) << value;
    EXPECT_EQ(engine->log.path, "") << value;
  }
  ASSERT_EQ(Convert({"-DCreateLogFile=true", dir.File("doc.rtf")}), 0);
  EXPECT_TRUE(FileExists(dir.File(kDefaultLogName)));
  EXPECT_EQ(SettingValue(*engine, "LogFileUsed"), dir.File(kDefaultLogName));
  EXPECT_FALSE(engine->log.stream) << "the sweep closes the log";
}

TEST_F(LogTest, NewLogHasTheHeaderAndEachConversionAppendsItsList) {
  std::string in = Rtf("doc.rtf");
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DNewLogFile=1", in}), 0);
  std::string log = ReadFile(dir.File(kDefaultLogName));
  ASSERT_EQ(log.rfind(kHeaderStart, 0), 0u) << log;
  EXPECT_NE(log.find(kHeaderEnd), std::string::npos);
  EXPECT_NE(log.find("<h3>" + dir.File("doc.html") + " ("), std::string::npos) << log;
  EXPECT_NE(log.find("<li>(read) <a href=\"file://" + in + "\">" + in + "</a></li>\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("<li>(write) <a href=\"file://" + dir.File("doc.html") + "\">"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.substr(log.size() - 6), "</ul>\n");
  EXPECT_EQ(log.find("</html>"), std::string::npos) << "the log is never closed with end tags";

  // Without NewLogFile the next conversion appends; with it (outside a batch) it starts anew.
  ASSERT_EQ(Convert({"-DCreateLogFile=1", in}), 0);
  std::string appended = ReadFile(dir.File(kDefaultLogName));
  EXPECT_EQ(Count(appended, "<h2>Quillo Log File</h2>"), 1u);
  EXPECT_EQ(Count(appended, "<h3>"), 2u);
  EXPECT_EQ(Count(appended, "<ul>\n"), 2u);
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DNewLogFile=true", in}), 0);
  EXPECT_EQ(Count(ReadFile(dir.File(kDefaultLogName)), "<h3>"), 1u);
}

TEST_F(LogTest, LogFileNameAndTheDefaultBesideTheOutput) {
  std::string in = Rtf("doc.rtf");
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DLogFileName=" + dir.File("my.log.htm"), in}), 0);
  EXPECT_TRUE(FileExists(dir.File("my.log.htm")));
  EXPECT_FALSE(FileExists(dir.File(kDefaultLogName)));
  EXPECT_EQ(SettingValue(*engine, "LogFileUsed"), dir.File("my.log.htm"));

  // An output name without a directory puts the log in the working directory.
  char saved[4096];
  ASSERT_TRUE(getcwd(saved, sizeof saved));
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  int rc = Convert({"-DCreateLogFile=1", "-DOutFileName=plain.html", "doc.rtf"});
  std::string used = SettingValue(*engine, "LogFileUsed");
  std::string log = ReadFile(kDefaultLogName);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(used, "./quillo_log.htm");
  // Relative names are linked through the working directory.
  EXPECT_NE(log.find("<li>(read) <a href=\"file://" + in + "\">"), std::string::npos) << log;
  EXPECT_NE(log.find("<li>(write) <a href=\"file://" + dir.File("plain.html") + "\">"),
            std::string::npos)
      << log;
}

TEST_F(LogTest, ALogThatCannotBeOpenedIsReportedAndTheConversionGoesOn) {
  std::string in = Rtf("doc.rtf");
  std::string missing = dir.File("no/such/folder/log.htm");
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DLogFileName=" + missing, in}), 0);
  EXPECT_TRUE(FileExists(dir.File("doc.html")));
  EXPECT_EQ(SettingValue(*engine, "LogFileUsed"), missing);
  EXPECT_NE(ReadFile(dir.File("doc_err.htm")).find("Can not create/open log file \"" + missing),
            std::string::npos);
}

TEST_F(LogTest, FileNamesAreEscapedAndHrefFixRewritesTheLink) {
  // A name made from heading text may hold anything; the log stays well-formed HTML.
  std::string in = Rtf("a&b<c>\"d\".rtf");
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DNewLogFile=1", in}), 0);
  std::string log = ReadFile(dir.File(kDefaultLogName));
  EXPECT_NE(log.find(dir.File("a&amp;b&lt;c&gt;&quot;d&quot;.rtf") + "</a>"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("a&b<c>"), std::string::npos) << log;

  // The shipped HrefFix turns backslashes into slashes: a name holding one shows it.
  engine = test::MakeEngine();
  std::string odd = Rtf("back\\slash.rtf");
  ASSERT_EQ(Convert({"-DCreateLogFile=1", "-DNewLogFile=1", odd}), 0);
  log = ReadFile(dir.File(kDefaultLogName));
  EXPECT_NE(log.find("<a href=\"file://" + dir.File("back/slash.rtf") + "\">" +
                     dir.File("back\\slash.rtf") + "</a>"),
            std::string::npos)
      << log;
}

TEST_F(LogTest, FileLinkIsAbsolute) {
  EXPECT_EQ(FileLink("/a/b c.html"), "file:///a/b c.html");
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  EXPECT_EQ(FileLink("x.html"), "file://" + std::string(cwd) + "/x.html");
}

// ---- Created-files list --------------------------------------------------------------------

TEST_F(LogTest, WrittenDiskFilesAreListedInOrderAndTheListIsLiteral) {
  FileTable& files = engine->files;
  files.memoryOutputMode = false;
  // "$Exit()" in a name must stay text when the list is read.
  std::string names[] = {dir.File("one.html"), dir.File("$Exit().html"), dir.File("three.html")};
  FileOpen(files, names[0], "w");
  FileOpen(files, dir.File("in.rtf"), "w");  // one entry however often it is opened
  FileClose(FileOpen(files, dir.File("in.rtf"), "w"));
  FileOpen(files, names[1], "wb");
  FileOpen(files, dir.File("append.txt"), "a");
  FileOpen(files, names[2], "w");
  int count = 0;
  FileSweep(*engine, true, &count);
  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "4");
  EXPECT_EQ(StrExp(*engine, "$OutputFileList1;"), names[0]);
  EXPECT_EQ(StrExp(*engine, "$OutputFileList2;"), dir.File("in.rtf"));
  EXPECT_EQ(StrExp(*engine, "$OutputFileList3;"), names[1]);
  EXPECT_EQ(StrExp(*engine, "$OutputFileList4;"), names[2]);
  EXPECT_FALSE(engine->driver.stop);
}

TEST_F(LogTest, MemoryOutputsAreNotListed) {
  engine->files.memoryOutputMode = true;
  FileOpen(engine->files, "-.html", "w");
  int count = 0;
  ConvertedOutput* outputs = FileSweep(*engine, false, &count);
  FreeConvertedOutputs(outputs, count);
  EXPECT_EQ(FindSetting(*engine, "OutputFileListCount"), -1);
}

TEST_F(LogTest, ABatchAppendsToOneLogAndAccumulatesTheCreatedFiles) {
  Rtf("one.rtf");
  Rtf("two.rtf");
  WriteFile(dir.File("jobs.txt"),
            "file " + dir.File("one.rtf") + "\nfile " + dir.File("two.rtf") + "\n");
  // A log left from before is started anew by the first conversion of the batch only.
  WriteFile(dir.File(kDefaultLogName), "old log\n");
  std::vector<std::string> leading{test::DataDir() + "/quillocmd", "-DCreateLogFile=1",
                                   "-DNewLogFile=1"};
  EXPECT_TRUE(RunBatch(*engine, dir.File("jobs.txt"), leading, nullptr));
  std::string log = ReadFile(dir.File(kDefaultLogName));
  EXPECT_EQ(log.find("old log"), std::string::npos);
  EXPECT_EQ(Count(log, "<h2>Quillo Log File</h2>"), 1u) << log;
  EXPECT_EQ(Count(log, "<h3>"), 2u) << log;
  EXPECT_LT(log.find("<h3>" + dir.File("one.html")), log.find("<h3>" + dir.File("two.html")));

  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "2");
  EXPECT_EQ(SettingValue(*engine, "OutputFileList1"), dir.File("one.html"));
  EXPECT_EQ(SettingValue(*engine, "OutputFileList2"), dir.File("two.html"));

  // One batch switch with two inputs is one run: the second input's conversion appends.
  WriteFile(dir.File("go.txt"), "go\n");
  std::vector<std::string> args{test::DataDir() + "/quillocmd",
                                "-b" + dir.File("go.txt"),
                                "-DCreateLogFile=1",
                                "-DNewLogFile=1",
                                dir.File("one.rtf"),
                                dir.File("two.rtf")};
  EXPECT_EQ(ConvertBatch(*engine, args), 0);
  log = ReadFile(dir.File(kDefaultLogName));
  EXPECT_EQ(Count(log, "<h3>"), 2u) << log;

  // The next argument-vector conversion starts the list again.
  ASSERT_EQ(Convert({dir.File("two.rtf")}), 0);
  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "1");
  EXPECT_EQ(SettingValue(*engine, "OutputFileList1"), dir.File("two.html"));
}

}  // namespace
}  // namespace quillo
