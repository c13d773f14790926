// The C interface driven as a host would drive it: one process-wide engine, results read back by
// index, options as a text, the host callback.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
