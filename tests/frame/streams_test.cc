// The engine as a Unix host drives it: inputs that cannot be read twice, the page on standard
// output, pages that do not reach the disk whole, the system's reason and the input in message
// records, a run that goes on after a failed input, the progress hook, and where an installed
// copy finds its data.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "base/data_folders.h"
#include "base/message_lines.h"
#include "base/settings.h"
#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kRtf = "{\\rtf1\\ansi Hello\\par}";

class EngineStreamsTest : public testing::Test {
 protected:
  int Convert(std::vector<std::string> words) {
    words.insert(words.begin(), test::DataDir() + "/quillocmd");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return ConvertFiles(*engine, static_cast<int>(words.size()), argv.data());
  }
  const std::vector<MessageRecord>& Records() const { return engine->messages.recorded; }

  std::unique_ptr<Engine> engine = test::MakeEngine();
  TempDir dir;
};

TEST_F(EngineStreamsTest, AnOutputNameOfDashWritesThePageToStandardOutput) {
  WriteFile(dir.File("doc.rtf"), "{\\rtf1\\ansi Text{\\footnote\\pard A note.}\\par}");
  testing::internal::CaptureStdout();
  int rc = Convert({"-o", "-", dir.File("doc.rtf")});
  std::string page = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_NE(page.find("<p>Text"), std::string::npos) << page;
  EXPECT_NE(page.find("A note."), std::string::npos);  // footnotes collected in memory
  // Other files keep the names they would have had: the base is the input's.
  EXPECT_EQ(engine->settings.paths.baseName, dir.File("doc"));
  EXPECT_TRUE(engine->settings.paths.standardOutput);
  EXPECT_EQ(engine->messages.errorFileName, "");  // messages go to standard error
  EXPECT_FALSE(FileExists(dir.File("doc.html")));
  EXPECT_FALSE(FileExists(dir.File("doc.tmp")));
  // Standard output is no file of the run.
  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "");

  // An error file named on purpose is still written.
  testing::internal::CaptureStdout();
  Convert({"-o", "-", "-D", "ErrorFileName=" + dir.File("errors.htm"), "-D", "TrnFile=none.trn",
           dir.File("doc.rtf")});
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(FileExists(dir.File("errors.htm")));

  // The next conversion writes to a file again.
  EXPECT_EQ(Convert({dir.File("doc.rtf")}), 0);
  EXPECT_FALSE(engine->settings.paths.standardOutput);
  EXPECT_TRUE(FileExists(dir.File("doc.html")));
}

TEST_F(EngineStreamsTest, APipeIsReadWholeAndConvertedLikeAFile) {
  std::string pipe = dir.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // The writer runs in a process of its own, so that opening the pipe does not block here.
  std::string command = "cat >'" + pipe + "' <<'EOF' &\n" + kRtf + "\nEOF\n";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Convert({"-o", dir.File("pipe.html"), pipe}), 0);
  EXPECT_NE(ReadFile(dir.File("pipe.html")).find("<p>Hello</p>"), std::string::npos);
  EXPECT_TRUE(engine->driver.inputText.empty());  // released with the input
}

TEST_F(EngineStreamsTest, InputsThatAreNoDocumentsCarryTheReason) {
  mkdir(dir.File("folder").c_str(), 0755);
  struct Case {
    std::string input;
    int error;
  } cases[] = {
      {dir.File("missing.rtf"), ENOENT},
      {dir.File("folder"), EISDIR},
      {"/dev/null", EINVAL},  // a device may never end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert({c.input}), 1) << c.input;
    ASSERT_EQ(Records().size(), 1u) << c.input;
    EXPECT_EQ(Records()[0].code, "MSG_CANT_OPEN");
    EXPECT_EQ(Records()[0].systemError, c.error) << c.input;
  }
  // A reason belongs to the message about that file only.
  WriteFile(dir.File("bad.rtf"), "no rtf");
  EXPECT_EQ(Convert({dir.File("bad.rtf")}), 1);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].code, "MSG_MALFORMED_RTF");
  EXPECT_EQ(Records()[0].systemError, 0);
  EXPECT_EQ(Records()[0].input, dir.File("bad.rtf"));
}

TEST_F(EngineStreamsTest, APageThatDoesNotReachTheDiskFailsTheConversion) {
  WriteFile(dir.File("doc.rtf"), kRtf);
  // The page goes to a full disk; its companions (error file, footnotes) stay in the folder.
  ASSERT_EQ(symlink("/dev/full", dir.File("page.html").c_str()), 0);
  EXPECT_EQ(Convert({"-o", dir.File("page.html"), dir.File("doc.rtf")}), 1);
  ASSERT_FALSE(Records().empty());
  const MessageRecord& record = Records().back();
  EXPECT_EQ(record.code, "ERR_FILE_WRITE_FAILED");
  EXPECT_EQ(record.systemError, ENOSPC);
  EXPECT_NE(
      FormatMessageRecord(record).find("ERR_FILE_WRITE_FAILED: Write of " + dir.File("page.html") +
                                       " Failed: No space left on device\n"),
      std::string::npos)
      << FormatMessageRecord(record);
}

TEST_F(EngineStreamsTest, MessagesAfterAnInputDoNotPointIntoIt) {
  WriteFile(dir.File("doc.rtf"), "{\\rtf1\\ansi\n\nHello\\par}");
  EXPECT_EQ(Convert({dir.File("doc.rtf")}), 0);
  EXPECT_EQ(Convert({dir.File("missing.rtf")}), 1);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].line, 0);
  EXPECT_EQ(Records()[0].position, 0);
}

TEST_F(EngineStreamsTest, KeepGoingConvertsTheRestAndTalliesTheFailures) {
  WriteFile(dir.File("a.rtf"), kRtf);
  WriteFile(dir.File("b.rtf"), "broken");
  WriteFile(dir.File("c.rtf"), kRtf);
  std::vector<std::string> inputs{dir.File("a.rtf"), dir.File("missing.rtf"), dir.File("b.rtf"),
                                  dir.File("c.rtf")};

  EXPECT_EQ(Convert(inputs), 1);
  EXPECT_FALSE(FileExists(dir.File("c.html")));  // stopped at the first failure
  EXPECT_EQ(engine->driver.tally.converted, 1);
  EXPECT_EQ(engine->driver.tally.failed, 1);

  engine->driver.keepGoing = true;
  EXPECT_EQ(Convert(inputs), 1);
  EXPECT_TRUE(FileExists(dir.File("c.html")));
  EXPECT_EQ(engine->driver.tally.converted, 2);
  EXPECT_EQ(engine->driver.tally.failed, 2);
  EXPECT_EQ(engine->driver.tally.failedInputs,
            (std::vector<std::string>{dir.File("missing.rtf"), dir.File("b.rtf")}));
  // The messages of every input are kept, each with its input.
  ASSERT_EQ(Records().size(), 2u);
  EXPECT_EQ(Records()[1].input, dir.File("b.rtf"));

  // A pattern goes on the same way; -V and usage errors still end the run at once.
  EXPECT_EQ(Convert({dir.File("*.rtf")}), 1);
  EXPECT_EQ(engine->driver.tally.converted, 2);
  EXPECT_EQ(engine->driver.tally.failed, 1);
  EXPECT_EQ(Convert({"-Z", dir.File("a.rtf"), dir.File("c.rtf")}), -1);
  EXPECT_EQ(Convert({"-V", dir.File("a.rtf")}), 1);
  EXPECT_EQ(engine->driver.tally.failed, 0);
}

void RecordProgress(int percent, void* data) {
  static_cast<std::vector<int>*>(data)->push_back(percent);
}

TEST_F(EngineStreamsTest, TheProgressHookHearsBothPasses) {
  std::string document = "{\\rtf1\\ansi ";
  for (int i = 0; i < 20000; ++i) document += "word {\\b bold}\\par\n";
  WriteFile(dir.File("long.rtf"), document + "}");
  std::vector<int> percents;
  engine->driver.progressHook = RecordProgress;
  engine->driver.progressHookData = &percents;
  EXPECT_EQ(Convert({dir.File("long.rtf")}), 0);
  ASSERT_GE(percents.size(), 10u);
  for (std::size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);
  EXPECT_LT(percents.front(), 50);  // pass 1
  EXPECT_GE(percents.back(), 90);   // pass 2
  EXPECT_LE(percents.back(), 100);
  // The hook is no message: nothing reaches the error file or the records.
  EXPECT_TRUE(Records().empty());
}

// ---- Installed data ----------------------------------------------------------------------------

/// Sets an environment variable for the life of the object (unset: nullptr).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(DataFoldersTest, BesideTheProgramThenTheXdgFolders) {
  // This test program lives in <build>/bin, so an installation would keep its data in
  // <build>/share/quillo.
  const std::string beside = std::string(QUILLO_BINARY_DIR) + "/share/quillo";
  struct Case {
    const char* xdg;  // nullptr: unset
    std::vector<std::string> after;
  } cases[] = {
      {nullptr, {"/usr/local/share/quillo", "/usr/share/quillo"}},
      {"", {"/usr/local/share/quillo", "/usr/share/quillo"}},
      {"/opt/a/:relative/b:/opt/c::/opt/a", {"/opt/a/quillo", "/opt/c/quillo"}},
      {"/", {"/quillo"}},
  };
  for (const Case& c : cases) {
    ScopedEnv env("XDG_DATA_DIRS", c.xdg);
    std::vector<std::string> folders = InstalledDataFolders();
    SCOPED_TRACE(c.xdg ? c.xdg : "(unset)");
    ASSERT_GE(folders.size(), 1 + c.after.size());
    EXPECT_EQ(folders[0], beside);
    for (std::size_t i = 0; i < c.after.size(); ++i) EXPECT_EQ(folders[1 + i], c.after[i]);
    for (const std::string& folder : folders) {
      EXPECT_EQ(folder.find("/.."), std::string::npos) << folder;
      EXPECT_TRUE(folder.size() == 1 || folder.back() != '/') << folder;
    }
  }
}

TEST(DataFoldersTest, TheLibrarySearchEndsWithTheInstalledFolders) {
  auto engine = test::MakeEngine();
  ScopedEnv env("XDG_DATA_DIRS", "/opt/x");
  std::vector<std::string> candidates = LibraryFileCandidates(*engine, "html.trn");
  ASSERT_GE(candidates.size(), 3u);
  auto at = [&](const std::string& path) {
    for (std::size_t i = 0; i < candidates.size(); ++i)
      if (candidates[i] == path) return static_cast<long>(i);
    return -1L;
  };
  long libdir = at("LIBDIR/html.trn");
  long beside = at(std::string(QUILLO_BINARY_DIR) + "/share/quillo/html.trn");
  long xdg = at("/opt/x/quillo/html.trn");
  EXPECT_GE(libdir, 0);
  EXPECT_GT(beside, libdir);
  EXPECT_GT(xdg, beside);
}

TEST(DataFoldersTest, TheFolderInUseHoldsTheControlWordTable) {
  auto engine = test::MakeEngine();
  TempDir empty;
  TempDir data;
  WriteFile(data.File("rtf-ctrl.txt"), "");
  {
    ScopedEnv env("RTFLIBDIR", data.path().c_str());
    EXPECT_EQ(DataFolderInUse(*engine), data.path());
  }
  {
    // A RTFLIBDIR without the table is passed over: the program's folder has it.
    ScopedEnv env("RTFLIBDIR", empty.path().c_str());
    EXPECT_EQ(DataFolderInUse(*engine), test::DataDir());
  }
  // Nothing beside the program or in RTFLIBDIR: the XDG data folders are next.
  engine->settings.paths.programDirectory = empty.path();
  TempDir xdgData;
  mkdir(xdgData.File("quillo").c_str(), 0755);
  WriteFile(xdgData.File("quillo/rtf-ctrl.txt"), "");
  ScopedEnv noLibDir("RTFLIBDIR", nullptr);
  ScopedEnv xdg("XDG_DATA_DIRS", xdgData.path().c_str());
  EXPECT_EQ(DataFolderInUse(*engine), xdgData.File("quillo"));
}

}  // namespace
}  // namespace quillo
