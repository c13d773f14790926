// The control driven as a host drives it: properties, methods and events over the one
// process-wide engine, one conversion at a time, events that may fail or call back in.
#include "control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using quillo::Control;
using quillo::ControlBusy;
using quillo::ControlOutputRow;
using quillo::test::TempDir;

const char kSmallRtf[] = "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\pard Hello world.\\par}";

/// A document long enough for several progress reports at a step of 10.
std::string LongRtf() {
  std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}";
  for (int i = 0; i < 200; ++i) rtf += "\\pard Paragraph " + std::to_string(i) + " of text.\\par\n";
  return rtf + "}";
}

struct Event {
  int why;
  int nargs;
  std::vector<std::string> args;
};

/// Records the events fired on a control.
struct EventLog {
  std::vector<Event> callbacks;
  std::vector<std::pair<int, std::string>> completions;
  void Attach(Control& control) {
    control.callback = [this](int16_t why, int16_t nargs, const std::vector<std::string>& args) {
      callbacks.push_back({why, nargs, args});
    };
    control.translationComplete = [this](int16_t status, const std::string& name) {
      completions.emplace_back(status, name);
    };
  }
  int Progress() const {
    int n = 0;
    for (const Event& e : callbacks)
      if (e.why == 1 && !e.args.empty() && e.args[0] == "MSG_PERCENT") ++n;
    return n;
  }
};

bool HasCode(const std::vector<quillo::ControlMessage>& messages, const std::string& code) {
  for (const auto& m : messages)
    if (m.code == code) return true;
  return false;
}

// ---- Options ------------------------------------------------------------------------------

TEST(ControlOptions, SplittingRule) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"-DSplitDepth=1 'a b' \"c d\"", {"-DSplitDepth=1", "a b", "\"c d\""}},
      {"", {}},
      {"    ", {}},
      {"  -c   -x  ", {"-c", "-x"}},
      {"-T\"My title\"", {"-T\"My title\""}},
      {"'' -c", {"-c"}},                             // an empty quoted word gives no word
      {"' lead'", {" lead"}},                        // a blank inside quotes belongs to the word
      {"a\tb", {"a\tb"}},                            // only blanks separate words
      {"-o 'my file.html", {"-o", "my file.html"}},  // an open quote runs to the end
      {"it's\"x y\"", {"its\"x y\""}},
  };
  for (const Case& c : cases) EXPECT_EQ(Control::SplitOptions(c.text), c.words) << c.text;
}

TEST(ControlOptions, WordsOfOptionsAndArgumentsReachTheEngine) {
  Control control;
  control.options = "'-DProbeA=one two'";
  control.arguments = {"-DProbeB=it's \"quoted\" too"};
  ASSERT_GE(control.ConvertStrRTF(kSmallRtf, nullptr), 1);
  EXPECT_EQ(control.ExpandString("$ProbeA;"), "one two");
  EXPECT_EQ(control.ExpandString("$ProbeB;"), "it's \"quoted\" too");
}

// ---- ConvertRTF ---------------------------------------------------------------------------

TEST(ControlConvertRTF, EmptyNameReturnsMinusOneWithoutEvent) {
  Control control;
  EventLog log;
  log.Attach(control);
  control.status = 5;
  EXPECT_EQ(control.ConvertRTF(""), -1);
  EXPECT_EQ(control.status, -1);
  EXPECT_TRUE(log.completions.empty());
}

TEST(ControlConvertRTF, CompletionFiresOnceWithTheResult) {
  TempDir dir;
  std::string input = dir.File("doc.rtf");
  quillo::test::WriteFile(input, kSmallRtf);
  Control control;
  EventLog log;
  log.Attach(control);
  int statusDuringEvent = 99;
  control.translationComplete = [&](int16_t status, const std::string& name) {
    log.completions.emplace_back(status, name);
    statusDuringEvent = control.status;
  };
  int16_t result = control.ConvertRTF(input);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(control.status, 0);
  ASSERT_EQ(log.completions.size(), 1u);
  EXPECT_EQ(log.completions[0].first, 0);
  EXPECT_EQ(log.completions[0].second, input);
  EXPECT_EQ(statusDuringEvent, 0);
  ASSERT_FALSE(control.CreatedFiles().empty());
  EXPECT_EQ(control.CreatedFiles()[0], dir.File("doc.html"));
  EXPECT_NE(quillo::test::ReadFile(dir.File("doc.html")).find("Hello world."), std::string::npos);
}

TEST(ControlConvertRTF, FailuresReachStatusEventAndMessages) {
  TempDir dir;
  Control control;
  EventLog log;
  log.Attach(control);
  EXPECT_EQ(control.ConvertRTF(dir.File("missing.rtf")), 1);
  EXPECT_EQ(control.status, 1);
  ASSERT_EQ(log.completions.size(), 1u);
  EXPECT_EQ(log.completions[0].first, 1);
  EXPECT_TRUE(HasCode(control.Messages(), "MSG_CANT_OPEN"));
  EXPECT_TRUE(HasCode(Control::LastMessages(), "MSG_CANT_OPEN"));

  quillo::test::WriteFile(dir.File("doc.rtf"), kSmallRtf);
  control.options = "-Q";
  EXPECT_EQ(control.ConvertRTF(dir.File("doc.rtf")), -1);
  EXPECT_TRUE(HasCode(control.Messages(), "MSG_UNKNOWN_OPTION"));
}

TEST(ControlConvertRTF, ASetUpMessageNamesNoPositionOfThePreviousDocument) {
  TempDir dir;
  quillo::test::WriteFile(dir.File("doc.rtf"), LongRtf());
  Control control;
  ASSERT_EQ(control.ConvertRTF(dir.File("doc.rtf")), 0);
  EXPECT_EQ(control.ConvertRTF(dir.File("missing.rtf")), 1);
  ASSERT_FALSE(control.Messages().empty());
  EXPECT_EQ(control.Messages()[0].code, "MSG_CANT_OPEN");
  EXPECT_EQ(control.Messages()[0].line, 0);
  EXPECT_EQ(control.Messages()[0].position, 0);
}

TEST(ControlConvertRTF, CompletionHandlerMayStartTheNextConversion) {
  TempDir dir;
  quillo::test::WriteFile(dir.File("a.rtf"), kSmallRtf);
  Control control;
  int32_t chained = -5;
  control.translationComplete = [&](int16_t, const std::string&) {
    chained = control.ConvertStrRTF(kSmallRtf, nullptr);
  };
  EXPECT_EQ(control.ConvertRTF(dir.File("a.rtf")), 0);
  EXPECT_GE(chained, 1);
}

// ---- ConvertStrRTF and GetImageBytes ------------------------------------------------------

TEST(ControlConvertStrRTF, RowsAndBytes) {
  Control control;
  control.status = 0;
  std::vector<ControlOutputRow> rows;
  int32_t count = control.ConvertStrRTF(kSmallRtf, &rows);
  ASSERT_GE(count, 1);
  EXPECT_EQ(control.status, -1);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(rows[0].name, "-.html");
  EXPECT_EQ(rows[0].length, std::to_string(rows[0].text.size()));
  EXPECT_NE(rows[0].text.find("Hello world."), std::string::npos);

  std::vector<uint8_t> bytes = {42};
  EXPECT_EQ(control.GetImageBytes(-1, &bytes), 1);
  EXPECT_EQ(control.GetImageBytes(static_cast<int16_t>(count), &bytes), 1);
  EXPECT_EQ(bytes, std::vector<uint8_t>{42});  // unchanged
  EXPECT_EQ(control.GetImageBytes(0, &bytes), 0);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), rows[0].text);
  EXPECT_EQ(control.GetImageBytes(0, nullptr), 0);
}

TEST(ControlConvertStrRTF, PicturesComeBackWhole) {
  std::string rtf =
      quillo::test::ReadFile(std::string(QUILLO_SOURCE_DIR) + "/tests/golden/pictures.rtf");
  ASSERT_FALSE(rtf.empty());
  Control control;
  std::vector<ControlOutputRow> rows;
  int32_t count = control.ConvertStrRTF(rtf, &rows);
  ASSERT_GE(count, 2);
  bool sawPng = false;
  for (int16_t i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(control.GetImageBytes(i, &bytes), 0);
    EXPECT_EQ(std::to_string(bytes.size()), rows[static_cast<std::size_t>(i)].length);
    if (bytes.size() > 8 && bytes[0] == 0x89 && bytes[1] == 'P') {
      sawPng = true;
      EXPECT_NE(std::find(bytes.begin(), bytes.end(), 0), bytes.end());  // binary, NULs kept
    }
  }
  EXPECT_TRUE(sawPng);
}

TEST(ControlConvertStrRTF, TextAfterANulByteIsConverted) {
  // \bin data may hold NUL bytes; the text after them must still be read.
  std::string rtf = "{\\rtf1\\ansi{\\*\\junk\\bin3 a";
  rtf += '\0';
  rtf += "b} After the binary data.\\par}";
  Control control;
  std::vector<ControlOutputRow> rows;
  ASSERT_GE(control.ConvertStrRTF(rtf, &rows), 1);
  EXPECT_NE(rows[0].text.find("After the binary data."), std::string::npos);
}

TEST(ControlConvertStrRTF, MalformedTextGivesNoOutputs) {
  Control control;
  std::vector<ControlOutputRow> rows = {{"stale", "", "0"}};
  EXPECT_EQ(control.ConvertStrRTF("not rtf at all", &rows), 0);
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(HasCode(control.Messages(), "MSG_MALFORMED_RTF"));
  EXPECT_EQ(control.GetImageBytes(0, nullptr), 1);
}

// ---- Events -------------------------------------------------------------------------------

TEST(ControlEvents, CallbacksGoToTheControlGivenToInit) {
  auto receiver = std::make_unique<Control>();
  EventLog received;
  received.Attach(*receiver);
  ASSERT_EQ(receiver->Init(""), 0);

  Control converter;
  EventLog own;
  own.Attach(converter);
  converter.options = "-DPercentCallback=10";
  ASSERT_GE(converter.ConvertStrRTF(LongRtf(), nullptr), 1);
  EXPECT_GE(received.Progress(), 5);
  EXPECT_EQ(own.Progress(), 0);
  for (const Event& e : received.callbacks) EXPECT_EQ(e.nargs, static_cast<int>(e.args.size()));

  // A translation file's CallBack reaches the receiver with its reason and texts, and receives
  // an empty text back.
  converter.SetString("Why", "7");
  converter.SetString("Payload", "some text");
  received.callbacks.clear();
  EXPECT_EQ(converter.ExpandString("[$CallBack(Why,Payload)]"), "[]");
  ASSERT_EQ(received.callbacks.size(), 1u);
  EXPECT_EQ(received.callbacks[0].why, 7);
  EXPECT_EQ(received.callbacks[0].nargs, 1);
  EXPECT_EQ(received.callbacks[0].args, std::vector<std::string>{"some text"});

  // Deleting the receiver leaves the engine with no one to call: nothing is fired, no crash.
  receiver.reset();
  received.callbacks.clear();
  EXPECT_EQ(converter.ExpandString("[$CallBack(Why,Payload)]"), "[]");
  ASSERT_GE(converter.ConvertStrRTF(LongRtf(), nullptr), 1);
  EXPECT_TRUE(received.callbacks.empty());
  EXPECT_EQ(own.Progress(), 0);
}

TEST(ControlEvents, OwnCallbacksBypassTheReceiver) {
  Control receiver;
  EventLog received;
  received.Attach(receiver);
  ASSERT_EQ(receiver.Init(""), 0);
  Control converter;
  EventLog own;
  own.Attach(converter);
  converter.ownCallbacks = true;
  converter.options = "-DPercentCallback=10";
  ASSERT_GE(converter.ConvertStrRTF(LongRtf(), nullptr), 1);
  EXPECT_GE(own.Progress(), 5);
  EXPECT_EQ(received.Progress(), 0);
  // Afterwards the receiver gets the events of ordinary conversions again.
  converter.ownCallbacks = false;
  ASSERT_GE(converter.ConvertStrRTF(LongRtf(), nullptr), 1);
  EXPECT_GE(received.Progress(), 5);
}

TEST(ControlEvents, HandlerExceptionStopsTheConversionAndComesBack) {
  Control control;
  int calls = 0;
  control.callback = [&](int16_t, int16_t, const std::vector<std::string>&) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  ASSERT_EQ(control.Init(""), 0);
  control.options = "-DPercentCallback=10";
  try {
    control.ConvertStrRTF(LongRtf(), nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "handler failed");
  }
  EXPECT_EQ(calls, 1);  // later events reach no handler
  EXPECT_FALSE(Control::Busy());
  EXPECT_EQ(control.GetImageBytes(0, nullptr), 1);  // no results from a failed call

  // A file conversion: status 1, no completion event.
  TempDir dir;
  quillo::test::WriteFile(dir.File("doc.rtf"), LongRtf());
  bool completed = false;
  control.translationComplete = [&](int16_t, const std::string&) { completed = true; };
  EXPECT_THROW(control.ConvertRTF(dir.File("doc.rtf")), std::runtime_error);
  EXPECT_EQ(control.status, 1);
  EXPECT_FALSE(completed);

  // The engine is unharmed: the next conversion runs in full.
  control.callback = nullptr;
  EXPECT_EQ(control.ConvertRTF(dir.File("doc.rtf")), 0);
  EXPECT_TRUE(completed);
}

TEST(ControlEvents, HandlersMayExpandButNotConvert) {
  Control control;
  std::string refusal, outFile;
  int statusInHandler = 0;
  control.callback = [&](int16_t, int16_t, const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "MSG_PERCENT" || !refusal.empty()) return;
    statusInHandler = control.status;
    outFile = control.ExpandString("$OutFileName;");
    control.SetString("SetDuringConversion", "yes");
    try {
      control.ConvertStrRTF(kSmallRtf, nullptr);
    } catch (const ControlBusy& e) {
      refusal = e.what();
    }
  };
  ASSERT_EQ(control.Init(""), 0);
  control.options = "-DPercentCallback=10";
  control.status = 0;
  ASSERT_GE(control.ConvertStrRTF(LongRtf(), nullptr), 1);
  EXPECT_NE(refusal.find("event handler"), std::string::npos) << refusal;
  EXPECT_EQ(statusInHandler, -1);
  EXPECT_EQ(outFile, "-.html");
  EXPECT_EQ(control.ExpandString("$SetDuringConversion;"), "yes");
}

// ---- Threads ------------------------------------------------------------------------------

TEST(ControlThreads, AnotherThreadIsRefusedWhileAConversionRuns) {
  std::mutex mutex;
  std::condition_variable changed;
  bool inHandler = false, released = false;
  Control control;
  control.callback = [&](int16_t, int16_t, const std::vector<std::string>&) {
    std::unique_lock<std::mutex> lock(mutex);
    if (released) return;
    inHandler = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  };
  ASSERT_EQ(control.Init(""), 0);
  control.options = "-DPercentCallback=10";
  std::thread converter([&] { control.ConvertStrRTF(LongRtf(), nullptr); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return inHandler; });
  }
  EXPECT_TRUE(Control::Busy());
  Control other;
  EXPECT_THROW(other.ConvertStrRTF(kSmallRtf, nullptr), ControlBusy);
  EXPECT_THROW(other.ConvertRTF("whatever.rtf"), ControlBusy);
  EXPECT_THROW(other.ExpandString("$OutFileName;"), ControlBusy);
  EXPECT_THROW(other.SetString("A", "b"), ControlBusy);
  EXPECT_THROW(Control::LastMessages(), ControlBusy);
  {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
  }
  changed.notify_all();
  converter.join();
  EXPECT_FALSE(Control::Busy());
  EXPECT_GE(other.ConvertStrRTF(kSmallRtf, nullptr), 1);
}

TEST(ControlThreads, ShortCallsOfSeveralThreadsTakeTurns) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      Control control;
      std::string name = "Thread" + std::to_string(t);
      for (int i = 0; i < 200; ++i) {
        control.SetString(name, std::to_string(i));
        if (control.ExpandString("$" + name + ";") != std::to_string(i)) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// ---- Init, data folder, about -------------------------------------------------------------

TEST(ControlInit, FolderAndProgramPathsChooseTheDataFolder) {
  Control control;
  std::string data = Control::DataDirectory();
  ASSERT_FALSE(data.empty());
  EXPECT_TRUE(quillo::test::FileExists(data + "/rtf-ctrl.txt"));
  EXPECT_TRUE(quillo::test::FileExists(data + "/html.trn"));

  // A folder without library files: conversions cannot find their translation file (the
  // engine was initialised with the data folder, so Init itself succeeds).
  ASSERT_EQ(control.Init(""), 0);
  TempDir empty;
  EXPECT_EQ(control.Init(empty.path()), 0);
  EXPECT_EQ(control.ExpandString("$ProgPath;"), empty.path());
  EXPECT_EQ(control.ConvertStrRTF(kSmallRtf, nullptr), 0);
  EXPECT_TRUE(HasCode(control.Messages(), "ERR_TRAN_FILE"));

  // A program path names a file in the data folder.
  EXPECT_EQ(control.Init(data + "/quillocmd"), 0);
  EXPECT_EQ(Control::DataDirectory(), data);
  EXPECT_GE(control.ConvertStrRTF(kSmallRtf, nullptr), 1);

  std::string about = control.AboutBox();
  EXPECT_NE(about.find("Quillo"), std::string::npos);
  EXPECT_NE(about.find(Control::Version()), std::string::npos);
  EXPECT_NE(about.find(data), std::string::npos);
  EXPECT_EQ(Control::Version(), "5.0.2");
}

TEST(ControlInit, AStoppedConversionDoesNotFailInit) {
  Control control;
  // $Exit() stops the conversion and leaves the engine's stop flag set behind it.
  control.options = "-DPass1Start=$Exit(Zero)";
  control.arguments = {"-DZero=0"};
  control.ConvertStrRTF(kSmallRtf, nullptr);
  EXPECT_EQ(control.Init(""), 0);
  control.options.clear();
  control.arguments.clear();
  EXPECT_GE(control.ConvertStrRTF(kSmallRtf, nullptr), 1);
}

}  // namespace
