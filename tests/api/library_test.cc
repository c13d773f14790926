// The C interface driven as a host would drive it: one process-wide engine, results read back by
// index, options as a text, the host callback.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "quillo/quillo.h"
#include "support/test_support.h"

namespace {

const char kSmallRtf[] = "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\pard Hello world.\\par}";

std::string ProgramPath() { return quillo::test::DataDir() + "/quillocmd"; }

/// Expands `text` through the interface and returns it ("" for a null result).
std::string Expand(const char* text) {
  char* result = QuilloExpandString(text);
  std::string s = result ? result : "";
  std::free(result);
  return s;
}

struct CallbackLog {
  std::vector<std::vector<std::string>> calls;  // why, then argv
};
CallbackLog* activeLog = nullptr;

char* RecordingCallback(int why, int argc, char** argv) {
  std::vector<std::string> call{std::to_string(why)};
  for (int i = 0; i < argc; ++i) call.emplace_back(argv[i]);
  activeLog->calls.push_back(call);
  return nullptr;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QuilloInit(ProgramPath().c_str()), 0);
    QuilloSetCallback(nullptr);
  }
  void TearDown() override {
    QuilloSetCallback(nullptr);
    QuilloSetOptions(nullptr);
    activeLog = nullptr;
  }
};

TEST_F(LibraryTest, OutOfRangeResultsAndNullArguments) {
  ASSERT_GE(QuilloConvertStrRTF2(kSmallRtf), 1);
  int count = QuilloConvertStrRTF2(kSmallRtf);
  EXPECT_EQ(QuilloGetString(-1), nullptr);
  EXPECT_EQ(QuilloGetString(count), nullptr);
  EXPECT_EQ(QuilloGetFilename(count), nullptr);
  EXPECT_EQ(QuilloGetLength(-1), 0);
  EXPECT_EQ(QuilloGetLength(count), 0);
  EXPECT_EQ(QuilloSetString(nullptr, "x"), 1);
  EXPECT_EQ(QuilloSetString("QuilloNullProbe", nullptr), 1);
  EXPECT_EQ(Expand("$QuilloNullProbe;"), "");
  EXPECT_EQ(QuilloExpandString(nullptr), nullptr);
  EXPECT_EQ(QuilloSetOptions(nullptr), 0);
  QuilloFreeResults(nullptr, 0);
}

TEST_F(LibraryTest, StringConversionReturnsTheDocumentUnderDashDotHtml) {
  int count = -5;
  ConvertedOutput* out = QuilloConvertStrRTF(kSmallRtf, 0, nullptr, &count);
  ASSERT_NE(out, nullptr);
  ASSERT_GE(count, 1);
  bool found = false;
  for (int i = 0; i < count; ++i) {
    if (std::string(out[i].name) == "-.html") {
      found = true;
      std::string page(out[i].data, out[i].length);
      EXPECT_NE(page.find("<html"), std::string::npos) << page;
      EXPECT_NE(page.find("</html>"), std::string::npos) << page;
    }
    EXPECT_NE(std::string(out[i].name), "-..tmp");  // the footnote scratch file is not a result
  }
  EXPECT_TRUE(found);
  QuilloFreeResults(out, count);

  // The same through the stored result set.
  int stored = QuilloConvertStrRTF2(kSmallRtf);
  ASSERT_GE(stored, 1);
  EXPECT_STREQ(QuilloGetFilename(0), "-.html");
  EXPECT_EQ(QuilloGetLength(0), static_cast<int>(std::strlen(QuilloGetString(0))));
}

TEST_F(LibraryTest, StoredOptionsAreSplitIntoWords) {
  // Single quotes group and vanish; double quotes group and stay; blanks between words collapse.
  QuilloSetOptions("  -D 'Probe=a b'   -D Flag -D Quoted=\"x y\"  ");
  ASSERT_GE(QuilloConvertStrRTF2(kSmallRtf), 1);
  EXPECT_EQ(Expand("$Probe;"), "a b");
  EXPECT_EQ(Expand("$Flag;"), "1");
  EXPECT_EQ(Expand("$Quoted;"), "\"x y\"");

  // An empty or blank options text gives no words; QuilloInit forgets stored options.
  QuilloSetOptions("   ");
  EXPECT_GE(QuilloConvertStrRTF2(kSmallRtf), 1);
  QuilloSetOptions("-Q");
  ASSERT_EQ(QuilloInit(nullptr), 0);
  EXPECT_GE(QuilloConvertStrRTF2(kSmallRtf), 1);  // -Q would have been an unknown option
}

TEST_F(LibraryTest, TooManyStoredOptionWordsAreDroppedNotOverrun) {
  std::string options;
  for (int i = 0; i < 100; ++i) options += "-D W" + std::to_string(i) + "=v ";
  QuilloSetOptions(options.c_str());
  EXPECT_GE(QuilloConvertStrRTF2(kSmallRtf), 1);
  EXPECT_EQ(Expand("$W0;"), "v");
  EXPECT_EQ(Expand("$W99;"), "");
}

TEST_F(LibraryTest, FileConversionWritesBesideTheInput) {
  quillo::test::TempDir dir;
  std::string input = dir.File("report");  // no extension: report.html
  quillo::test::WriteFile(input, kSmallRtf);
  EXPECT_EQ(QuilloConvertRTF(input.c_str(), 0, nullptr), 0);
  EXPECT_TRUE(quillo::test::FileExists(dir.File("report.html")));
  EXPECT_FALSE(quillo::test::FileExists(dir.File("report_err.htm")));  // nothing to report

  std::string mixed = dir.File("Report.Rtf");  // only .rtf and .RTF are dropped
  quillo::test::WriteFile(mixed, kSmallRtf);
  EXPECT_EQ(QuilloConvertRTF(mixed.c_str(), 0, nullptr), 0);
  EXPECT_TRUE(quillo::test::FileExists(dir.File("Report.Rtf.html")));
  EXPECT_EQ(Expand("$OutputFileListCount;"), "1");
}

TEST_F(LibraryTest, BadInputFailsCleanly) {
  quillo::test::TempDir dir;
  char opt0[] = "-D", opt1[] = "PauseOnErr=0";
  char* argv[] = {opt0, opt1};
  EXPECT_EQ(QuilloConvertRTF(dir.File("missing.rtf").c_str(), 2, argv), 1);
  char bad[] = "-Z";
  char* badv[] = {bad};
  EXPECT_EQ(QuilloConvertRTF(dir.File("missing.rtf").c_str(), 1, badv), -1);
  // Not RTF at all: malformed start.
  int count = -5;
  EXPECT_EQ(QuilloConvertStrRTF("plain text", 0, nullptr, &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Expand("$errCode;"), "");
  // Binary garbage and truncated RTF end cleanly too.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 7919) % 255 + 1));
  garbage[0] = '{';
  ConvertedOutput* out = QuilloConvertStrRTF(garbage.c_str(), 0, nullptr, &count);
  QuilloFreeResults(out, count);
  out = QuilloConvertStrRTF("{\\rtf1{\\b unclosed", 0, nullptr, &count);
  QuilloFreeResults(out, count);
}

// A conversion stopped by $Exit() or by a message whose action is "eof" stops only itself: a
// host lives on, and its next conversion of every kind runs as if the stop had never been. Right
// after the stop QuilloInit still says so (1).
TEST_F(LibraryTest, StoppedConversionDoesNotStopTheNextOne) {
  quillo::test::TempDir dir;
  const std::string input = dir.File("doc.rtf");
  quillo::test::WriteFile(input, "{\\rtf1\\ansi Some text.\\par}");
  const std::string page = dir.File("doc.html");
  // The stops: Exit() and an "eof" message, each raised inside nested expansions.
  const std::vector<std::vector<std::string>> stops = {
      {"-D", "Outer=[$Inner;]", "-D", "Inner=($Exit())", "-D", "Pass1Start=$Outer;"},
      {"-D", "MSG_INVALID_FUNC_Action=eof", "-D", "Outer=[$Inner;]", "-D",
       "Inner=($NoSuchFunction())", "-D", "Pass1Start=$Outer;"},
  };
  int noOptionsCount = 0;
  ConvertedOutput* baseline = QuilloConvertStrRTF(kSmallRtf, 0, nullptr, &noOptionsCount);
  ASSERT_NE(baseline, nullptr);
  const std::string baselinePage(baseline[0].data, baseline[0].length);
  QuilloFreeResults(baseline, noOptionsCount);

  for (const auto& stop : stops) {
    std::vector<std::string> words = stop;
    words.insert(words.end(), {"-D", "PauseOnErr=0"});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    const int argc = static_cast<int>(argv.size());

    // A file conversion.
    std::remove(page.c_str());
    QuilloConvertRTF(input.c_str(), argc, argv.data());
    EXPECT_FALSE(quillo::test::FileExists(page)) << stop[1];
    EXPECT_EQ(QuilloInit(ProgramPath().c_str()), 1) << stop[1];
    EXPECT_EQ(QuilloConvertRTF(input.c_str(), 0, nullptr), 0) << stop[1];
    EXPECT_NE(quillo::test::ReadFile(page).find("Some text."), std::string::npos) << stop[1];

    // A string conversion.
    int count = -5;
    ConvertedOutput* out = QuilloConvertStrRTF(kSmallRtf, argc, argv.data(), &count);
    QuilloFreeResults(out, count);
    EXPECT_EQ(QuilloInit(ProgramPath().c_str()), 1) << stop[1];
    out = QuilloConvertStrRTF(kSmallRtf, 0, nullptr, &count);
    ASSERT_NE(out, nullptr) << stop[1];
    ASSERT_EQ(count, noOptionsCount);
    // Nothing of the stopped conversion is left to change the next one's page.
    EXPECT_EQ(std::string(out[0].data, out[0].length), baselinePage) << stop[1];
    QuilloFreeResults(out, count);
    EXPECT_EQ(Expand("$errCode;"), "");

    // A batch run, and the stored-options conversion ("2").
    const std::string batch = dir.File("run.bat");
    std::string lines;
    for (std::size_t i = 0; i + 1 < stop.size(); i += 2) lines += "set " + stop[i + 1] + "\n";
    quillo::test::WriteFile(batch, lines + input + "\n");
    std::remove(page.c_str());
    const std::string flag = "-b" + batch;
    QuilloConvertRTF(flag.c_str(), 0, nullptr);
    EXPECT_FALSE(quillo::test::FileExists(page)) << stop[1];
    EXPECT_EQ(QuilloInit(ProgramPath().c_str()), 1) << stop[1];
    quillo::test::WriteFile(batch, input + "\n");
    EXPECT_EQ(QuilloConvertRTF(flag.c_str(), 0, nullptr), 0) << stop[1];
    EXPECT_NE(quillo::test::ReadFile(page).find("Some text."), std::string::npos) << stop[1];

    QuilloConvertStrRTF2("{\\rtf1 $Exit()}");  // document text never stops anything
    EXPECT_EQ(QuilloInit(ProgramPath().c_str()), 0);
    std::string options;
    for (std::size_t i = 0; i + 1 < stop.size(); i += 2) options += "-D '" + stop[i + 1] + "' ";
    QuilloSetOptions(options.c_str());
    QuilloConvertRTF2(input.c_str());
    EXPECT_EQ(QuilloInit(ProgramPath().c_str()), 1) << stop[1];
    QuilloSetOptions(nullptr);
    EXPECT_GE(QuilloConvertStrRTF2(kSmallRtf), 1) << stop[1];

    // The engine's own bookkeeping is back at rest.
    const quillo::Engine& engine = quillo::GlobalEngine();
    EXPECT_FALSE(engine.driver.stop);
    EXPECT_FALSE(engine.driver.batchRunning);
    EXPECT_EQ(engine.expansion.depth, 0);
    EXPECT_FALSE(engine.expansion.unwinding);
    EXPECT_TRUE(engine.expansion.frames.empty());
    EXPECT_TRUE(engine.expansion.memo.recordings.empty());
    EXPECT_EQ(engine.messages.inReport, 0);
    EXPECT_EQ(engine.batch.shellTextDepth, 0);
  }
}

// A user file a conversion opened (CreateFile) goes with that conversion's files: writing to it
// afterwards, between conversions, writes nowhere (it used to write through a freed entry).
TEST_F(LibraryTest, UserFileOfAConversionIsGoneAfterIt) {
  quillo::test::TempDir dir;
  const std::string made = dir.File("made.txt");
  std::string define = "Made=" + made;
  char d[] = "-D", start[] = "Pass1Start=$CreateFile(Made)";
  char* argv[] = {d, define.data(), d, start};
  const std::string input = dir.File("doc.rtf");
  quillo::test::WriteFile(input, kSmallRtf);
  EXPECT_EQ(QuilloConvertRTF(input.c_str(), 4, argv), 0);
  EXPECT_TRUE(quillo::test::FileExists(made));
  EXPECT_EQ(quillo::GlobalEngine().expansion.userFile, nullptr);
  QuilloSetString("Text", "late");
  EXPECT_EQ(Expand("$WriteFile(Text,Text)"), "late");
  EXPECT_EQ(quillo::test::ReadFile(made), "");
}

TEST_F(LibraryTest, ProgressReachesTheCallbackAndNothingElse) {
  CallbackLog log;
  activeLog = &log;
  QuilloSetCallback(RecordingCallback);
  std::string rtf = "{\\rtf1\\ansi ";
  for (int i = 0; i < 2000; ++i) rtf += "Some text in a paragraph.\\par\n";
  rtf += "}";
  char d[] = "-D", step[] = "PercentCallback=10", unknown[] = "MSG_CANT_OPEN_Action=message";
  char* argv[] = {d, step, d, unknown};
  int count = 0;
  ConvertedOutput* out = QuilloConvertStrRTF(rtf.c_str(), 4, argv, &count);
  QuilloFreeResults(out, count);
  std::vector<std::string> percents;
  for (auto& call : log.calls) {
    ASSERT_GE(call.size(), 3u);
    EXPECT_EQ(call[0], "1");
    EXPECT_EQ(call[1], "MSG_PERCENT");
    percents.push_back(call[2]);
  }
  // Four reports in pass 1 and five in pass 2; 100 itself never.
  EXPECT_EQ(percents.size(), 9u);
  for (auto& p : percents) EXPECT_LT(std::atoi(p.c_str()), 100);
}

TEST_F(LibraryTest, VersionAndTheMessagesOfTheLastConversion) {
  EXPECT_STREQ(QuilloVersion(), QUILLO_VERSION);
  EXPECT_STREQ(QuilloVersion(), "5.0.2");

  quillo::test::TempDir dir;
  std::string missing = dir.File("missing.rtf");
  testing::internal::CaptureStderr();
  EXPECT_EQ(QuilloConvertRTF(missing.c_str(), 0, nullptr), 1);
  testing::internal::GetCapturedStderr();
  const char* messages = QuilloLastMessages();
  ASSERT_NE(messages, nullptr);
  EXPECT_EQ(std::string(messages),
            "MSG_CANT_OPEN: Can't open \"" + missing + "\": No such file or directory\n");

  // The text stays as it was until the next call, whatever the engine does meanwhile.
  std::string kept = messages;
  int count = 0;
  ConvertedOutput* results = QuilloConvertStrRTF(kSmallRtf, 0, nullptr, &count);
  QuilloFreeResults(results, count);
  EXPECT_EQ(std::string(messages), kept);
  // A conversion without messages leaves none.
  EXPECT_STREQ(QuilloLastMessages(), "");
  // A string conversion has no input name, but the place in the text is given.
  results = QuilloConvertStrRTF("no rtf", 0, nullptr, &count);
  QuilloFreeResults(results, count);
  EXPECT_STREQ(QuilloLastMessages(),
               "1:1: MSG_MALFORMED_RTF: malformed rtf file - does not begin with \"{\"\n");
}

TEST_F(LibraryTest, StandardCallForwardersAreExportedUnderDecoratedNames) {
  void* lib = dlopen(QUILLO_BINARY_DIR "/lib/libquillo.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  const char* names[] = {"_QuilloInitVB@4",
                         "_QuilloSetOptionsVB@4",
                         "_QuilloSetStringVB@8",
                         "_QuilloConvertRTFVB@4",
                         "_QuilloConvertStrRTFVB@4",
                         "_QuilloGetLengthVB@4",
                         "_QuilloGetFilenameVB@4",
                         "_QuilloGetStringVB@4",
                         "_QuilloExpandStringVB@4",
                         "QuilloInit",
                         "QuilloFreeResults",
                         "QuilloSysFreeString",
                         "QuilloVersion",
                         "QuilloLastMessages"};
  for (const char* name : names) EXPECT_NE(dlsym(lib, name), nullptr) << name;
  EXPECT_EQ(dlsym(lib, "_ZN6quillo12GlobalEngineEv"), nullptr);  // internals stay hidden

  using InitFn = int (*)(const char*);
  using ConvertFn = int (*)(const char*);
  using GetFn = char* (*)(int);
  using FreeFn = void (*)(char*);
  using LenFn = uint32_t (*)(char*);
  auto init = reinterpret_cast<InitFn>(dlsym(lib, "_QuilloInitVB@4"));
  auto convert = reinterpret_cast<ConvertFn>(dlsym(lib, "_QuilloConvertStrRTFVB@4"));
  auto getName = reinterpret_cast<GetFn>(dlsym(lib, "_QuilloGetFilenameVB@4"));
  auto freeBstr = reinterpret_cast<FreeFn>(dlsym(lib, "QuilloSysFreeString"));
  auto byteLen = reinterpret_cast<LenFn>(dlsym(lib, "QuilloSysStringByteLen"));
  ASSERT_EQ(init(ProgramPath().c_str()), 0);
  ASSERT_GE(convert(kSmallRtf), 1);
  char* name = getName(0);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "-.html");
  EXPECT_EQ(byteLen(name), 2u * 6u);  // sized for six wide characters
  freeBstr(name);
  EXPECT_EQ(getName(99), nullptr);
  dlclose(lib);
}

}  // namespace
