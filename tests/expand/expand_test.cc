// String expansion: reference scanning, name resolution, the NotDef rule, the built-ins CallBack,
// Exit and Context, and the nesting bound that stops self-referencing named strings.
#include "expand/expand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "expand/regex.h"
#include "support/test_support.h"

namespace quillo {
namespace {

// The host callback is a plain function pointer without user data, so what it sees is recorded
// here; every test that registers it resets the record first.
struct CallbackRecord {
  int calls = 0;
  int why = 0;
  int argc = -1;
  bool argvNull = false;
  std::vector<std::string> argv;
  const char* reply = nullptr;                     ///< returned (as a malloc'ed copy) when not null
  std::vector<std::vector<std::string>> messages;  ///< argv of every why = 1 call
  const Engine* engine = nullptr;
  std::string indentSeen;
};
CallbackRecord record;

char* RecordingCallback(int why, int argc, char** argv) {
  ++record.calls;
  record.why = why;
  record.argc = argc;
  record.argvNull = argv == nullptr;
  record.argv.assign(argv, argv + (argv ? argc : 0));
  if (why == 1) record.messages.push_back(record.argv);
  if (record.engine) record.indentSeen = record.engine->expansion.indent;
  return record.reply ? strdup(record.reply) : nullptr;
}

class ExpandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record = CallbackRecord();
    engine_ = test::MakeEngine();
    record.engine = engine_.get();
  }
  void Set(const char* name, const char* value) { SetSetting(*engine_, name, value); }
  std::string Expand(std::string_view text) { return StrExp(*engine_, text); }
  std::string Value(const char* name) {
    const std::string* v = GetSetting(*engine_, name);
    return v ? *v : "<undefined>";
  }
  bool Defined(const char* name) { return GetSetting(*engine_, name) != nullptr; }
  void UseCallback() { engine_->library.callback = RecordingCallback; }
  /// Messages arrive at the callback when errCallback is "true".
  void ReportMessagesToCallback() {
    UseCallback();
    Set("errCallback", "true");
  }
  bool MessageSeen(const char* code) {
    for (const auto& argv : record.messages)
      if (!argv.empty() && argv[0] == code) return true;
    return false;
  }

  std::unique_ptr<Engine> engine_;
};

TEST_F(ExpandTest, ReferenceForms) {
  Set("Name", "value");
  Set("Other", "2nd");
  Set("Outer", "<$Name;>");
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"plain text", "plain text"},
      {"", ""},
      {"$Name;", "value"},
      {"a$Name;b$Other;c", "avalueb2ndc"},
      {"$name;", "value"},     // names ignore case
      {"$Outer;", "<value>"},  // a named string's value is expanded again
      {"$Name;$", "value$"},
      {"x$", "x$"},
      // A "$" that begins no reference makes everything after it literal, later references too.
      {"$1 $Name;", "$1 $Name;"},
      {"$Name ;", "$Name ;"},
      {"$;", "$;"},
      {"$F(a b)", "$F(a b)"},
      {"$$Name;", "$$Name;"},
      {"$Name", "$Name"},
      {"$Name(;", "$Name(;"},
      {"$Na-me;", "$Na-me;"},
      {"$Caf\xe9;", "$Caf\xe9;"},  // bytes above 0x7f are no name characters
      {"$F(a$Name;)", "$F(a$Name;)"},
      {"$F((a))", "$F((a))"},
      {"$Name;$Other $Name;", "value$Other $Name;"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.text), c.expected) << "text: " << c.text;
}

TEST_F(ExpandTest, UndefinedNameIsDefinedEmpty) {
  EXPECT_FALSE(Defined("Nowhere"));
  EXPECT_EQ(Expand("[$Nowhere;]"), "[]");
  EXPECT_EQ(Value("Nowhere"), "");
  EXPECT_EQ(Value("NotDefName"), "Nowhere");
}

TEST_F(ExpandTest, NotDefFillsInTheNameOnce) {
  Set("NotDef", "{$NotDefName; undefined}");
  EXPECT_EQ(Expand("$Missing;"), "{Missing undefined}");
  EXPECT_EQ(Value("Missing"), "{Missing undefined}");
  // The second reference reads the stored text; NotDef is not expanded again.
  Set("NotDef", "changed");
  Set("NotDefName", "something else");
  EXPECT_EQ(Expand("$Missing;"), "{Missing undefined}");
  EXPECT_EQ(Value("NotDefName"), "something else");
}

TEST_F(ExpandTest, FunctionArgumentsOfTheInnermostFrame) {
  Set("Name", "value");
  // Outside any user-function call digit names are undefined.
  EXPECT_EQ(Expand("[$1;][$0;]"), "[][]");

  engine_->expansion.frames.push_back({{"outer0", "outer1"}, {"A"}, {}});
  engine_->expansion.frames.push_back({{"current", "first", "$Name;"}, {"X", "Y"}, {}});
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"$0;", "current"},
      {"$1;", "first"},
      {"$2;", "value"},  // an argument's value is expanded like any value
      {"$1abc;", "first"},
      {"$01;", "first"},
      {"[$3;]", "[]"},  // beyond the arguments: undefined
      {"[$99999999999999999999;]", "[]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.text), c.expected) << "text: " << c.text;
  // "00" is no argument: it is an ordinary name of the store.
  Set("00", "store");
  EXPECT_EQ(Expand("$00;"), "store");
}

TEST_F(ExpandTest, SubMatchesOfTheCurrentMatch) {
  Set("NotDef", "none");
  EXPECT_EQ(Expand("$_1;"), "none");  // no current match: undefined

  auto regex = expand::Regex::TryCompile("(b+)(x*)");
  ASSERT_NE(regex, nullptr);
  ASSERT_TRUE(regex->Match("abbc"));
  engine_->expansion.currentMatch = regex.get();
  EXPECT_EQ(Expand("$_0;|$_1;|$_2;"), "bb|bb|");
}

TEST_F(ExpandTest, CallBackPassesArgumentValuesAndInsertsTheReply) {
  UseCallback();
  Set("Why", "3");
  Set("Name", "value");
  Set("Two", "two");
  record.reply = "<reply>";
  EXPECT_EQ(Expand("a$CallBack(Why,Name,,Two)b"), "a<reply>b");
  EXPECT_EQ(record.calls, 1);
  EXPECT_EQ(record.why, 3);
  EXPECT_EQ(record.argc, 2);  // the empty argument vanished
  EXPECT_EQ(record.argv, (std::vector<std::string>{"value", "two"}));

  // The reply is emitted as it is: a reference in it is not expanded again.
  record.reply = "$Name;";
  EXPECT_EQ(Expand("$callback(Why,Two)"), "$Name;");

  record.reply = nullptr;
  EXPECT_EQ(Expand("[$CallBack(Why,Two)]"), "[]");
}

TEST_F(ExpandTest, CallBackEdgeCases) {
  Set("Why", "7x");
  // Without a registered callback the result is the value of the first argument.
  EXPECT_EQ(Expand("$CallBack(Why,Name)"), "7x");

  UseCallback();
  record.reply = "r";
  // No arguments at all: nothing is called.
  EXPECT_EQ(Expand("[$CallBack()]"), "[]");
  EXPECT_EQ(record.calls, 0);
  // Only the identifier: no texts, and argv is null.
  EXPECT_EQ(Expand("$CallBack(Why)"), "r");
  EXPECT_EQ(record.calls, 1);
  EXPECT_EQ(record.why, 7);
  EXPECT_EQ(record.argc, 0);
  EXPECT_TRUE(record.argvNull);
  // An identifier that reads as no number is 0; a huge one is clamped, not overflowed.
  Set("Why", "abc");
  Expand("$CallBack(Why)");
  EXPECT_EQ(record.why, 0);
  Set("Why", "99999999999999999999");
  Expand("$CallBack(Why)");
  EXPECT_EQ(record.why, 2147483647);
}

TEST_F(ExpandTest, ExitSetsTheStopFlagAndYieldsTheLastToken) {
  Set("Code", "0");
  EXPECT_FALSE(engine_->driver.stop);
  EXPECT_EQ(Expand("$Exit()"), "Exit");
  EXPECT_TRUE(engine_->driver.stop);
  engine_->driver.stop = false;
  EXPECT_EQ(Expand("$exit(Code)"), "Code");
  EXPECT_TRUE(engine_->driver.stop);
}

TEST_F(ExpandTest, ExitWithMinusOneReportsErrExit) {
  ReportMessagesToCallback();
  Set("ERR_EXIT_Action", "message");
  Set("Code", "-1");
  Expand("$Exit(Code)");
  EXPECT_TRUE(engine_->driver.stop);
  EXPECT_TRUE(MessageSeen("ERR_EXIT"));
}

TEST_F(ExpandTest, ContextShowsTheRecentInputInOrderAndAsText) {
  Set("MSG_ERROR_PLACE_START", "<start>");
  Set("MSG_ERROR_PLACE_END", "<end>");
  // Characters go into the reader's ring as the reader stores them.
  auto feed = [&](const std::string& text) {
    rtf::ReaderState& reader = engine_->reader;
    for (char c : text)
      reader.recentInput[reader.recentInputCount++ & (rtf::kRecentInputRing - 1)] = c;
  };
  feed("some text");
  EXPECT_EQ(Expand("$Context()"), "<start>some text\n<end>");
  // Only the last 62 characters are shown, oldest first, also after the ring has wrapped.
  feed(std::string(38, 'a') + std::string(60, 'b') + "yz");
  EXPECT_EQ(Expand("$Context()"), "<start>" + std::string(60, 'b') + "yz\n<end>");
  // Document text is shown as text in the HTML error file, never as markup.
  feed("<script>alert(1)</script>&\"");
  EXPECT_EQ(Expand("$Context()"), "<start>" + std::string(33, 'b') +
                                      "yz&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;\n<end>");
}

TEST_F(ExpandTest, UnknownFunctionsYieldNothingAndAreReported) {
  ReportMessagesToCallback();
  EXPECT_EQ(Expand("a$NoSuchFunction(x)b"), "ab");
  EXPECT_TRUE(MessageSeen("MSG_INVALID_FUNC"));
  record.messages.clear();
  EXPECT_EQ(Expand("a$_(,)b"), "ab");
  EXPECT_TRUE(MessageSeen("MSG_INVALID_FUNC"));
  // A call text without any name token yields nothing and reports nothing.
  record.messages.clear();
  EXPECT_EQ(FctExpand(*engine_, "(,", nullptr), "");
  EXPECT_FALSE(MessageSeen("MSG_INVALID_FUNC"));
}

TEST_F(ExpandTest, UserFunctionsHideBuiltins) {
  UseCallback();
  Set("Why", "1");
  UserFunction function;
  function.name = "CALLBACK";
  engine_->translation.functionIndex["CALLBACK"] = 0;
  engine_->translation.functions.push_back(std::move(function));
  record.reply = "from host";
  // A function without steps yields its first argument's value.
  EXPECT_EQ(Expand("[$CallBack(Why)]"), "[1]");
  EXPECT_EQ(record.argc, -1) << "the built-in must not run";
}

TEST_F(ExpandTest, TraceIndentFollowsTheNesting) {
  UseCallback();
  // Forty nested references, then a call: the indent shows 32 levels at most.
  for (int i = 0; i < 40; ++i)
    Set(("L" + std::to_string(i)).c_str(), ("$L" + std::to_string(i + 1) + ";").c_str());
  Set("L40", "$CallBack(Why)");
  Set("Why", "5");
  Expand("$L0;");
  ASSERT_EQ(record.calls, 1);
  EXPECT_EQ(record.indentSeen, std::string(32, ' '));

  Set("Two", "$CallBack(Why)");
  Expand("$Two;");
  EXPECT_EQ(record.indentSeen, "  .");  // StrExp, StrExp of the value, FctExpand
  EXPECT_EQ(engine_->expansion.depth, 0);
  EXPECT_EQ(engine_->expansion.indent, "");
}

TEST_F(ExpandTest, TraceLinesWithDebugBit16) {
  Set("Fn", "$CallBack(Why)");
  Set("Debug", "16");
  ::testing::internal::CaptureStderr();
  Expand("$Fn;");
  Set("Debug", "0");
  std::string trace = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find(" StrExp:$Fn;"), std::string::npos) << trace;
  EXPECT_NE(trace.find("  StrExp:$CallBack(Why)"), std::string::npos) << trace;
  EXPECT_NE(trace.find("  .FctExpand:CallBack(Why"), std::string::npos) << trace;
}

// ---- Runaway expansions -------------------------------------------------------------------------

TEST_F(ExpandTest, SelfReferencingStringsEndCleanly) {
  Set("Self", "x$Self;");
  Set("A", "$B;");
  Set("B", "$A;");
  // Each level doubles the work: without the unwinding this would never finish.
  Set("Twice", "$Twice;$Twice;");
  Set("C", "$D;$D;$D;");
  Set("D", "$C;$C;$C;");
  Set("Name", "value");
  std::string self = Expand("$Self;");
  EXPECT_GT(self.size(), 100u);
  EXPECT_LE(self.size(), static_cast<std::size_t>(ExpansionState::kMaxDepth));
  EXPECT_EQ(self.find_first_not_of('x'), std::string::npos);
  EXPECT_EQ(Expand("[$A;]"), "[]");
  EXPECT_EQ(Expand("[$Twice;]"), "[]");
  EXPECT_EQ(Expand("[$C;]"), "[]");
  // Expansion works normally afterwards.
  EXPECT_EQ(engine_->expansion.depth, 0);
  EXPECT_FALSE(engine_->expansion.unwinding);
  EXPECT_EQ(Expand("$Name;"), "value");
}

TEST_F(ExpandTest, RunawayIsReportedOncePerConversion) {
  ReportMessagesToCallback();
  Set("A", "$B;");
  Set("B", "$A;");
  Expand("$A;");
  EXPECT_TRUE(engine_->expansion.depthReported);
  ASSERT_TRUE(MessageSeen(kMsgExpansionDepth));
  for (const auto& argv : record.messages) {
    if (argv[0] != kMsgExpansionDepth) continue;
    ASSERT_EQ(argv.size(), 3u);
    EXPECT_EQ(argv[1], "200");
    EXPECT_TRUE(argv[2] == "&#36;A;" || argv[2] == "&#36;B;") << argv[2];
  }
  EXPECT_EQ(Value(kMsgExpansionDepth), kMsgExpansionDepthText);
  record.messages.clear();
  Expand("$B;");
  EXPECT_FALSE(MessageSeen(kMsgExpansionDepth));
  ResetExpansion(*engine_);
  Expand("$B;");
  EXPECT_TRUE(MessageSeen(kMsgExpansionDepth));
}

TEST_F(ExpandTest, RunawayNotDefDefinesNothing) {
  // NotDef refers to an undefined name, which applies NotDef again, and so on.
  Set("NotDef", "$Other;");
  EXPECT_EQ(Expand("[$Missing;]"), "[]");
  EXPECT_FALSE(Defined("Missing"));
  EXPECT_EQ(engine_->expansion.depth, 0);
}

TEST_F(ExpandTest, DeepButFiniteNestingIsExpandedFully) {
  for (int i = 0; i < 150; ++i)
    Set(("N" + std::to_string(i)).c_str(), ("-$N" + std::to_string(i + 1) + ";").c_str());
  Set("N150", "end");
  EXPECT_EQ(Expand("$N0;"), std::string(150, '-') + "end");
  EXPECT_FALSE(engine_->expansion.depthReported);
}

TEST_F(ExpandTest, FatalMessageInsideExpansionLeavesNoDepthBehind) {
  Set("MSG_INVALID_FUNC_Action", "panic");
  Set("Inner", "$NoSuchFunction()");
  Set("Outer", "$Inner;");
  Set("Name", "value");
  EXPECT_THROW(Expand("$Outer;"), ConversionAbandoned);
  EXPECT_EQ(engine_->expansion.depth, 0);
  EXPECT_EQ(engine_->expansion.indent, "");
  EXPECT_EQ(Expand("$Name;"), "value");
}

}  // namespace
}  // namespace quillo
