// User functions loaded from small translation files: every step type, the Switch/Case/Default
// and while blocks, Save through an argument, the streaming of a last Ifelse, the bounds on loops
// and recursion, RMatch recording in pass 1 and MatchRepl in pass 2.
#include "expand/functions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file_table.h"
#include "base/settings.h"
#include "engine.h"
#include "support/test_support.h"
#include "trn/translation_file.h"

namespace quillo {
namespace {

const char kTables[] =
    ".TTag\nbold <b> </b>\n.PTag\npara <p> </p> '' '' '' '' 0 0 0 0 0 0\n"
    ".TMatch\n'' 0 Bold '' '' bold\n.PMatch\nNormal 0 para\n";

class FunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_->messages.errorFileName = dir_.File("fn_err.htm"); }
  /// Loads a translation file made of `functions` (the lines of the .Functions section).
  void LoadFunctions(const std::string& functions) {
    const std::string path = dir_.File("f.trn");
    test::WriteFile(path, ".Version 6\n.Functions\n" + functions + kTables);
    ASSERT_EQ(LoadTranslationFile(*engine_, path), 1);
  }
  void Set(const char* name, const std::string& value) { SetSetting(*engine_, name, value); }
  std::string Value(const char* name) { return SettingValue(*engine_, name); }
  std::string Expand(std::string_view text) { return StrExp(*engine_, text); }
  /// Error-file text written since the last call.
  std::string NewMessages() {
    const std::string& name = engine_->messages.errorFileName;
    std::string all = test::FileExists(name) ? test::ReadFile(name) : std::string();
    std::string fresh = all.substr(std::min(seen_, all.size()));
    seen_ = all.size();
    return fresh;
  }
  /// A memory output channel.
  OutputContext MemoryContext() {
    engine_->files.memoryOutputMode = true;
    OutputContext context;
    context.file = FileOpen(engine_->files, "out" + std::to_string(++outputs_), "w");
    context.wrap = 0;
    return context;
  }

  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
  std::size_t seen_ = 0;
  int outputs_ = 0;
};

TEST_F(FunctionsTest, EachStepTransformsTheValue) {
  struct Case {
    const char* steps;     ///< the function's lines after "Function F"
    const char* argument;  ///< value of the argument A
    const char* expected;  ///< result of $F(A)
  } cases[] = {
      {"", "as given", "as given"},
      {"Lower\n", "MiXeD 1\xC9", "mixed 1\xC9"},  // ASCII letters only
      {"Upper\n", "MiXeD", "MIXED"},
      {"Encode \"&\"\n", "a b\t&\x7f\x80", "a b%09%26%7F%80"},
      {"Encode \" \"\n", "a b", "a%20b"},
      {"Decode\n", "a%20b%2x%4", "a bA%4"},  // "x" reads as 33; a trailing "%4" is copied
      {"Decode\n", "%ff%GG", "\x7f\x10"},    // always 7-bit; G is 16
      {"Sub \"b+\" \"<&>\"\n", "abbcbb", "a<bb>cbb"},
      {"Sub \"(b+)c\" \"[\\\\1]\"\n", "abbcd", "a[bb]d"},
      {"Sub \"z\" \"y\"\n", "abc", "abc"},
      {"Gsub \"b+\" \"<&>\"\n", "abbcbb", "a<bb>c<bb>"},
      {"Gsub \"^a\" \"x\"\n", "aaa", "xxx"},   // every search starts a new subject
      {"Gsub \"x*\" \"-\"\n", "ab", "-a-b-"},  // empty matches advance by one byte
      {"Gsub \"z\" \"y\"\n", "abc", "abc"},
      {"Set \"<$1;|$0;>\"\n", "v", "<v|v>"},
      {"VSet Ref\n", "v", "$A;"},  // the stored value, not expanded
      {"Ifelse \"$1;\" \"^y\" yes no\n", "yak", "yes"},
      {"Ifelse \"$1;\" \"^y\" yes no\n", "cat", "no"},
      {"Ifelse \"$1;\" \"\" empty full\n", "", "empty"},  // an empty pattern is "^$"
      {"RPExp \"$1; 2 *\"\n", "21", "42.000000"},
      {"DBPrint \"trace\"\n", "kept", "kept"},
      {"Script \"echo hi\"\n", "x", ""},  // nothing is run from here
      {"AnchorFile \"#a\"\n", "x", ""},   // pass 1: no file
      {"Lower\nSet \"$0;!\"\nUpper\n", "Ab", "AB!"},
  };
  for (const Case& c : cases) {
    LoadFunctions(std::string("Function F\n") + c.steps);
    Set("A", c.argument);
    Set("Ref", "$A;");
    EXPECT_EQ(Expand("$F(A)"), c.expected) << c.steps;
  }
  EXPECT_NE(NewMessages().find("trace"), std::string::npos) << "DBPrint reports its text";
  LoadFunctions("Function F\n");
  EXPECT_EQ(Expand("[$F()]"), "[]");  // no argument: the value starts empty
}

TEST_F(FunctionsTest, EncodeAndDecode) {
  EXPECT_EQ(Encode("a b", ""), "a b");
  EXPECT_EQ(Encode("\t", ""), "%09");
  EXPECT_EQ(Encode("x&y", "&"), "x%26y");
  EXPECT_EQ(Encode(std::string("\0", 1), ""), "%00");
  EXPECT_EQ(Decode("%4"), "%4");
  EXPECT_EQ(Decode("ab%"), "ab%");
  EXPECT_EQ(Decode("%41%42"), "AB");
  EXPECT_EQ(Decode("%a1"), "!");  // lower case folds: 10*16+1 = 161, AND 127 = 33
  EXPECT_EQ(Decode(Encode("a\tb&c", "&")), "a\tb&c");
}

TEST_F(FunctionsTest, SaveAssignsNamedStringsAndArguments) {
  LoadFunctions(
      "Function Direct\nSave \"Out$1;\" \"<$1;>\"\n"
      "Function Through\nSave &1 \"new $2;\"\n"
      "Function Beyond\nSave &2 \"never\"\n"
      "Function Zero\nSave &0 \"never\"\n");
  Set("A", "1");
  EXPECT_EQ(Expand("$Direct(A)"), "1");  // V stays
  EXPECT_EQ(Value("Out1"), "<1>");

  Set("X", "old");
  Set("B", "b");
  Expand("$Through(X,B)");
  EXPECT_EQ(Value("X"), "new b");

  NewMessages();
  Set("Y", "old");
  Expand("$Beyond(Y)");
  EXPECT_EQ(Value("Y"), "old");
  EXPECT_NE(NewMessages().find("Argument Index (2)"), std::string::npos);
  Expand("$Zero(Y)");
  EXPECT_NE(NewMessages().find("Argument Index (0)"), std::string::npos);
}

TEST_F(FunctionsTest, SwitchRunsOneCase) {
  LoadFunctions(
      "Function S\n"
      "Switch \"$1;\"\n"
      "Case \"^a\"\nSet \"A\"\n"
      "Case \"^b\"\nSet \"B\"\n"
      "Case \"^b\"\nSet \"second b\"\n"
      "Default\nSet \"D\"\n"
      "End\n"
      "Set \"$0;.\"\n"
      "Function NoDefault\n"
      "Switch \"$1;\"\n"
      "Case a\nSet \"A\"\n"
      "End\n"
      "Upper\n"
      "Function Before\n"
      "Switch \"$1;\"\n"
      "Set \"first\"\n"
      "Case x\nSet \"$0;+x\"\n"
      "End\n");
  struct Case {
    const char* call;
    const char* expected;
  } cases[] = {
      {"$S(A)", "A."},        {"$S(B)", "B."},           // two matching cases: only the first
      {"$S(Z)", "D."},        {"$NoDefault(Z)", "ZED"},  // no case, no default: after End
      {"$NoDefault(A)", "A"}, {"$Before(X)", "first"},   // a step before the first Case runs
  };
  Set("A", "apple");
  Set("B", "berry");
  Set("Z", "zed");
  Set("X", "x");
  for (const Case& c : cases) EXPECT_EQ(Expand(c.call), c.expected) << c.call;
}

TEST_F(FunctionsTest, WhileLoops) {
  LoadFunctions(
      "Function Count\n"
      "Save N 0\n"
      "while \"$N;\" \"^[0-4]$\"\n"
      "RPExp \"$N; 1 + I\"\n"
      "Save N \"$0;\"\n"
      "End\n"
      "Set \"n=$N;\"\n"
      "Function Never\n"
      "while \"stop\" \"^go$\"\n"
      "Set \"body ran\"\n"
      "End\n"
      "Function InCase\n"
      "Switch \"$1;\"\n"
      "Case a\n"
      "Save N 0\n"
      "while \"$N;\" \"^[0-2]$\"\n"
      "RPExp \"$N; 1 + I\"\n"
      "Save N \"$0;\"\n"
      "End\n"
      "Set \"looped $N;\"\n"
      "Case b\n"
      "Set \"wrong case\"\n"
      "End\n");
  EXPECT_EQ(Expand("$Count()"), "n=5");
  EXPECT_EQ(Expand("$Never()"), "stop");  // V is the while text; no body step ran
  Set("A", "a");
  EXPECT_EQ(Expand("$InCase(A)"), "looped 3");
}

TEST_F(FunctionsTest, EndlessLoopIsBounded) {
  LoadFunctions(
      "Function Forever\nwhile \"x\" \"x\"\nEnd\nSet \"out\"\n"
      "Function Twice\nSet \"$Forever()$Forever()\"\n");
  NewMessages();
  EXPECT_EQ(Expand("$Forever()"), "out");
  EXPECT_NE(NewMessages().find("Loop in function Forever stopped after 100000"), std::string::npos);
  // The budget belongs to the outermost call: nested calls share it, a new call gets it anew.
  EXPECT_EQ(Expand("$Twice()"), "outout");
  EXPECT_EQ(Expand("$Forever()"), "out");
  EXPECT_EQ(engine_->expansion.loopIterations, 0);
}

TEST_F(FunctionsTest, RecursionIsBounded) {
  LoadFunctions(
      "Function Self\nSet \"a$Self(1)\"\n"
      "Function Fan\nSet \"$Fan(1)$Fan(1)$Fan(1)\"\n");
  std::string result = Expand("$Self(X)");
  EXPECT_LT(result.size(), 201u);
  EXPECT_NE(NewMessages().find("Expansion nested too deeply"), std::string::npos);
  Expand("$Fan(X)");  // three calls per level would be exponential without the unwinding
  EXPECT_EQ(engine_->expansion.depth, 0);
  EXPECT_TRUE(engine_->expansion.frames.empty());
}

TEST_F(FunctionsTest, WhichFunctionIsCalled) {
  LoadFunctions(
      "Function Twice\nSet \"first\"\n"
      "Function twice\nSet \"second\"\n"
      "Function Compare\nSet \"mine\"\n");
  EXPECT_EQ(Expand("$TWICE()"), "second");  // the last defined, any case
  EXPECT_EQ(Expand("$compare(A,B)"), "mine");
  EXPECT_EQ(FindUserFunction(*engine_, "tWiCe"), 1);
  EXPECT_EQ(FindUserFunction(*engine_, "Missing"), -1);
}

TEST_F(FunctionsTest, ArgumentsAreBoundInTheCallersFrame) {
  LoadFunctions(
      "Function Outer\nSet \"$Inner(2,1)\"\n"
      "Function Inner\nSet \"$1;/$2;\"\n");
  Set("P", "p");
  Set("Q", "q");
  EXPECT_EQ(Expand("$Outer(P,Q)"), "q/p");
  EXPECT_TRUE(engine_->expansion.frames.empty());
}

TEST_F(FunctionsTest, LastIfelseStreamsIntoTheOutput) {
  LoadFunctions(
      "Function Pick\nIfelse \"$1;\" \"^y\" \"<yes $1;>\" \"<no>\"\n"
      "Function NotLast\nIfelse \"$1;\" \"^y\" \"<yes>\" \"<no>\"\nSet \"$0;!\"\n");
  Set("Y", "yes");
  OutputContext context = MemoryContext();
  StrExp(*engine_, "[$Pick(Y)][$NotLast(Y)]", &context);
  EXPECT_EQ(context.file->output.view(), "[<yes yes>][<yes>!]");
  // Without a context the value is returned: the same text.
  EXPECT_EQ(Expand("[$Pick(Y)][$NotLast(Y)]"), "[<yes yes>][<yes>!]");
  // Called with a context, the streaming function itself yields nothing.
  EXPECT_EQ(FctExpand(*engine_, "Pick(Y", &context), "");
}

// Calls of functions that only compute are reused while the names they read keep their values.
TEST_F(FunctionsTest, ReusedCallsFollowTheNamesTheyRead) {
  LoadFunctions(
      "Function Colour\nIfelse \"$Rgb;\" \"^$\" \"\" \"<span $Cls;>\"\n"
      "Function Outer\nSet \"[$Colour()]\"\n"
      "Function Arg\nSet \"$1;/$1;\"\n");
  Set("Rgb", "");
  Set("Cls", "c1");
  EXPECT_EQ(Expand("$Colour()"), "");
  EXPECT_EQ(Expand("$Colour()"), "");
  Set("Rgb", "#ff0000");
  EXPECT_EQ(Expand("$Colour()"), "<span c1>");
  Set("Cls", "c2");  // read only on the coloured path
  EXPECT_EQ(Expand("$Colour()"), "<span c2>");
  EXPECT_EQ(Expand("$Outer()"), "[<span c2>]");
  Set("Cls", "c3");  // a name read by a nested call is a name the outer call read
  EXPECT_EQ(Expand("$Outer()"), "[<span c3>]");
  Set("Rgb", "");
  EXPECT_EQ(Expand("$Colour()$Outer()"), "[]");
  // Arguments are names: their values are part of what the call read.
  Set("A", "one");
  EXPECT_EQ(Expand("$Arg(A)"), "one/one");
  Set("A", "two");
  EXPECT_EQ(Expand("$Arg(A)"), "two/two");
  // A name whose value holds a reference is followed there too.
  Set("B", "$A;!");
  EXPECT_EQ(Expand("$Arg(B)"), "two!/two!");
  Set("A", "three");
  EXPECT_EQ(Expand("$Arg(B)"), "three!/three!");
}

TEST_F(FunctionsTest, ReusedTextsFollowTheNamesTheyRead) {
  LoadFunctions("Function Count\nRPExp \"$N; 1 + I\"\nSave N \"$0;\"\n");
  Set("A", "a");
  Set("B", "$A;b");
  EXPECT_EQ(ExpandReusing(*engine_, "<$B;>"), "<ab>");
  EXPECT_EQ(ExpandReusing(*engine_, "<$B;>"), "<ab>");
  Set("A", "x");
  EXPECT_EQ(ExpandReusing(*engine_, "<$B;>"), "<xb>");
  // A text with an effect is expanded every time.
  Set("N", "0");
  ExpandReusing(*engine_, "$Count()");
  ExpandReusing(*engine_, "$Count()");
  EXPECT_EQ(Value("N"), "2");
  // Document text stays document text.
  SetLiteralSetting(*engine_, "Doc", "$Count()");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ExpandReusing(*engine_, "[$Doc;]"), "[$Count()]");
  EXPECT_EQ(Value("N"), "2");
}

TEST_F(FunctionsTest, CallsWithEffectsRunEveryTime) {
  LoadFunctions(
      "Function Count\nRPExp \"$N; 1 + I\"\nSave N \"$0;\"\n"
      "Function Shows\nSet \"$Count()\"\n"
      "Function Caller\nSet \"$Inner(1)\"\n"
      "Function Inner\nSet \"<$1;>\"\n");
  Set("N", "0");
  Expand("$Count()$Count()");
  EXPECT_EQ(Value("N"), "2");
  // A function that only computes but calls one with effects is not reused either.
  EXPECT_EQ(Expand("$Shows()"), "3");
  EXPECT_EQ(Expand("$Shows()"), "4");
  EXPECT_EQ(Value("N"), "4");
  // Nor one whose argument names the caller's frame.
  Set("P", "p");
  Set("Q", "q");
  LoadFunctions(
      "Function Caller\nSet \"$Inner(1)\"\n"
      "Function Inner\nSet \"<$1;>\"\n");
  EXPECT_EQ(Expand("$Caller(P)"), "<p>");
  EXPECT_EQ(Expand("$Caller(Q)"), "<q>");
}

// A call that sets strings of the translation file's own is reused too: it sets them again.
TEST_F(FunctionsTest, ReusedCallsSetTheirStringsAgain) {
  LoadFunctions(
      "Function Mark\nSave Last \"$1;\"\nSave Seen \"$Last;$Last;\"\nSet \"<$Seen;>\"\n"
      "Function Guarded\nSave Prot \"new\"\nSet \"$Prot;\"\n");
  Set("A", "a");
  for (int i = 0; i < 3; ++i) {
    Set("Last", "other");
    Set("Seen", "other");
    // Last and Seen are read after the call set them: their outside values do not matter.
    EXPECT_EQ(Expand("$Mark(A)"), "<aa>") << "call " << i;
    EXPECT_EQ(Value("Last"), "a");
    EXPECT_EQ(Value("Seen"), "aa");
  }
  Set("A", "b");
  EXPECT_EQ(Expand("$Mark(A)"), "<bb>");
  EXPECT_EQ(Value("Seen"), "bb");
  // A protected string is not set, so what the call reads back is what it holds.
  Set("OverrideDefs", "1");
  Set("Prot", "old");
  Set("OverrideDefs", "0");
  EXPECT_EQ(Expand("$Guarded()"), "old");
  SetUnprotected(*engine_, "Prot", "changed");
  EXPECT_EQ(Expand("$Guarded()"), "changed");
}

TEST_F(FunctionsTest, ReusedResultsKeepDocumentTextInert) {
  LoadFunctions("Function Show\nSet \"[$Doc;]\"\nFunction Wrap\nSave W \"$Show()\"\n");
  SetLiteralSetting(*engine_, "Doc", "$Exit()");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Expand("$Show()"), "[$Exit()]");
    Expand("$Wrap()");
    EXPECT_TRUE(IsLiteralSetting(*engine_, FindSetting(*engine_, "W"))) << "call " << i;
    EXPECT_EQ(Expand("$W;"), "[$Exit()]");
  }
}

TEST_F(FunctionsTest, ReusedCallsStreamLikeFreshOnes) {
  LoadFunctions("Function Pick\nIfelse \"$1;\" \"^y\" \"<yes $1;>\" \"<no>\"\n");
  Set("Y", "yes");
  Set("N", "no");
  OutputContext context = MemoryContext();
  for (int i = 0; i < 3; ++i) StrExp(*engine_, "[$Pick(Y)][$Pick(N)]", &context);
  EXPECT_EQ(context.file->output.view(), "[<yes yes>][<no>][<yes yes>][<no>][<yes yes>][<no>]");
  EXPECT_EQ(FctExpand(*engine_, "Pick(Y", &context), "");
}

TEST_F(FunctionsTest, TraceLinesOfACall) {
  LoadFunctions("Function Up\nUpper\n");
  Set("A", "abc");
  Set("Debug", "16");
  Expand("$Up(A)");
  Set("Debug", "0");
  std::string trace = NewMessages();
  EXPECT_NE(trace.find("FctExpand:Arg1=abc"), std::string::npos) << trace;
  EXPECT_NE(trace.find("FctExpand:step=0,tr=               upper,in=abc"), std::string::npos);
  EXPECT_NE(trace.find("FctExpand:Up(A,return=ABC"), std::string::npos);
}

TEST_F(FunctionsTest, RMatchRecordsAndMatchReplReplaces) {
  LoadFunctions(
      "Function Mark\n"
      "RMatch \"Fig ([0-9]+)\" \"$Seen(_1)\" \"<a href=f$_1;>$MatchRepl;</a>\"\n"
      "Set \"v\"\n"
      "Function Seen\nSave Got \"$1;\"\n");
  // Pass 1: the paragraph's text is matched and the match recorded.
  const std::string paragraph = "see Fig 12 here";
  engine_->driver.pass = 1;
  engine_->expansion.paragraphText = &paragraph;
  EXPECT_EQ(Expand("$Mark()"), "v");
  ASSERT_EQ(engine_->expansion.paragraphMatches.size(), 1u);
  const RecordedMatch& match = engine_->expansion.paragraphMatches[0];
  EXPECT_EQ(match.start, 4u);
  EXPECT_EQ(match.end, 10u);
  EXPECT_EQ(match.parts[1], "12");
  EXPECT_EQ(match.partStart[1], 8);
  EXPECT_EQ(match.partStart[2], -1);
  EXPECT_EQ(Value("Got"), "12");                        // the action ran with the match current
  EXPECT_EQ(engine_->expansion.currentParts, nullptr);  // cleared after the action

  // No paragraph text, or pass 2: nothing is recorded.
  engine_->expansion.paragraphText = nullptr;
  Expand("$Mark()");
  engine_->driver.pass = 2;
  engine_->expansion.paragraphText = &paragraph;
  Expand("$Mark()");
  EXPECT_EQ(engine_->expansion.paragraphMatches.size(), 1u);

  // Pass 2: pieces of the paragraph are offered to MatchRepl.
  std::vector<RecordedMatch> matches = engine_->expansion.paragraphMatches;
  ParagraphReplay replay;
  replay.matches = &matches;
  OutputContext context = MemoryContext();
  std::string normal;
  for (std::string_view piece : {"see F", "ig", " 1", "2 here"}) {
    if (!MatchRepl(*engine_, context, piece, replay)) PutWrap(*engine_, piece, context, 0);
  }
  EXPECT_EQ(context.file->output.view(), "see <a href=f12>Fig 12</a> here");
  EXPECT_EQ(replay.written, paragraph);
  EXPECT_TRUE(IsLiteralSetting(*engine_, FindSetting(*engine_, "MatchRepl")));

  // A piece that no match touches is left to the caller.
  ParagraphReplay other;
  other.matches = &matches;
  EXPECT_FALSE(MatchRepl(*engine_, context, "see ", other));
}

TEST_F(FunctionsTest, MatchReplUsesTheWritersHooks) {
  std::vector<RecordedMatch> matches(2);
  matches[0].start = 2;  // newest first
  matches[0].end = 3;
  matches[0].parts[0] = "c";
  matches[0].replacement = "[C]";
  matches[1].start = 0;
  matches[1].end = 1;
  matches[1].parts[0] = "a";
  matches[1].replacement = "[$_0;]";
  ParagraphReplay replay;
  replay.matches = &matches;
  MatchReplHooks hooks;
  hooks.writeText = [](Engine& engine, OutputContext& context, std::string_view text) {
    PutWrap(engine, "(" + std::string(text) + ")", context, 0);
  };
  hooks.applyFormatting = [](Engine& engine, OutputContext& context) {
    PutWrap(engine, "*", context, 0);
  };
  OutputContext context = MemoryContext();
  EXPECT_TRUE(MatchRepl(*engine_, context, "abcd", replay, hooks));
  EXPECT_EQ(context.file->output.view(), "*[a](b)*[C](d)");
}

}  // namespace
}  // namespace quillo
