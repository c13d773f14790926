// Compiled expansion texts: what a text compiles to (through Serialize), how names are
// classified, the bounds of the program cache, and that a reference resolves its setting once
// yet still follows a name whose index changed.
#include "expand/program.h"

#include <gtest/gtest.h>

#include <string>

#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "support/test_support.h"

namespace quillo::expand {
namespace {

TEST(ProgramTest, CompilesTextsIntoSteps) {
  struct Case {
    const char* text;
    const char* steps;
  };
  const Case cases[] = {
      {"", ""},
      {"plain <b>markup</b>", "\"plain <b>markup</b>\""},
      {"$A;", "$A;"},
      {"<p>$A;</p>", "\"<p>\" $A; \"</p>\""},
      {"$A;$B;", "$A; $B;"},
      {"$F()", "$F()"},
      {"x$F(a,b)y", "\"x\" $F(a,b) \"y\""},
      // Empty arguments vanish: "(" and "," only separate names.
      {"$F(a,,b,)", "$F(a,b)"},
      {"$F(,", "\"$F(,\""},
      // The first "$" that begins no reference makes the rest literal, references included.
      {"a$ $B;", "\"a$ $B;\""},
      {"$A;b$-$C;", "$A; \"b$-$C;\""},
      {"$A", "\"$A\""},
      {"$A(b;", "\"$A(b;\""},
      {"$A(b c)", "\"$A(b c)\""},
      {"$$A;", "\"$$A;\""},
      {"$_0;$12;$0;", "$_0; $12; $0;"},
      {"$A;;", "$A; \";\""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Program::Compile(c.text).Serialize(), c.steps) << "text: " << c.text;
}

TEST(ProgramTest, KeepsTheSourceOfEveryReference) {
  Program program = Program::Compile("a$B;c$F(x,y)d");
  ASSERT_EQ(program.steps().size(), 5u);
  EXPECT_EQ(program.steps()[1].source, "$B;");
  EXPECT_EQ(program.steps()[3].source, "$F(x,y)");
  EXPECT_EQ(program.steps()[3].text, "F(x,y");
  EXPECT_EQ(program.source(), "a$B;c$F(x,y)d");
}

TEST(ProgramTest, ClassifiesNames) {
  struct Case {
    const char* name;
    long slot;
    int subMatch;
  };
  const Case cases[] = {
      {"0", 0, -1},
      {"1", 1, -1},
      {"12", 12, -1},
      {"2x", 2, -1},
      {"00", -1, -1},  // no digit above zero and not "0": a named setting
      {"_3", -1, 3},
      {"_35", -1, -1},
      {"_x", -1, -1},
      {"Name", -1, -1},
      {"99999999999999", 1000000000, -1},
  };
  for (const Case& c : cases) {
    long slot = 0;
    int subMatch = 0;
    ClassifyName(c.name, slot, subMatch);
    EXPECT_EQ(slot, c.slot) << c.name;
    EXPECT_EQ(subMatch, c.subMatch) << c.name;
  }
}

TEST(ProgramTest, CacheSharesProgramsAndStaysBounded) {
  ProgramCache cache;
  auto first = cache.Get("$A;");
  EXPECT_EQ(cache.Get("$A;").get(), first.get());
  EXPECT_EQ(cache.size(), 1u);
  for (std::size_t i = 0; i < ProgramCache::kMaxPrograms + 100; ++i)
    cache.Get("$A" + std::to_string(i) + ";");
  EXPECT_EQ(cache.size(), ProgramCache::kMaxPrograms);
  // A text beyond the bound is still compiled for its use.
  EXPECT_EQ(cache.Get("$Beyond;")->Serialize(), "$Beyond;");
  cache.Clear();
  EXPECT_EQ(first->Serialize(), "$A;");  // held programs outlive the cache's entries
  const std::string big(ProgramCache::kMaxBytes + 1, '$');
  cache.Get(big);
  EXPECT_EQ(cache.size(), 0u);
}

TEST(ProgramTest, TextsFromOneBufferGetTheirOwnPrograms) {
  // A text expanded again from the same place is mostly the same text, but not always: the
  // program given is that of the text as it is now.
  ProgramCache cache;
  std::string buffer = "$A;";
  const auto a = cache.Get(buffer);
  buffer[1] = 'B';
  EXPECT_EQ(cache.Get(buffer)->Serialize(), "$B;");
  buffer[1] = 'A';
  EXPECT_EQ(cache.Get(buffer).get(), a.get());
  cache.Clear();
  EXPECT_EQ(cache.Get(buffer)->Serialize(), "$A;");
  EXPECT_EQ(cache.size(), 1u);  // kept anew, not given from before the clear
}

TEST(ProgramTest, ReferenceFollowsItsNameAcrossEngines) {
  // One compiled text in two engines whose stores give its name different indexes: the hint
  // the first engine left is checked against the name, never trusted blindly.
  auto program = std::make_shared<const Program>(Program::Compile("$Zeta;"));
  const ProgramStep& step = program->steps()[0];
  auto first = test::MakeEngine();
  SetSetting(*first, "Zeta", "one");
  bool literal = false;
  EXPECT_EQ(
      ResolveName(*first, step.text, step.argumentSlot, step.subMatch, &step.settingHint, literal),
      "one");
  auto second = test::MakeEngine();
  SetSetting(*second, "Alpha", "x");
  SetSetting(*second, "zeta", "two");
  EXPECT_EQ(
      ResolveName(*second, step.text, step.argumentSlot, step.subMatch, &step.settingHint, literal),
      "two");
  EXPECT_EQ(step.settingHint, FindSetting(*second, "Zeta"));
}

TEST(ProgramTest, ProgramsOutliveTheConversionUnlessADocumentFilledThem) {
  // The next conversion of the engine keeps the compiled texts, and its names (at other store
  // indexes now) are read afresh; a cache filled beyond a quarter of its bound starts empty.
  auto engine = test::MakeEngine();
  SetSetting(*engine, "Zeta", "one");
  EXPECT_EQ(StrExp(*engine, "[$Zeta;]"), "[one]");
  const auto kept = engine->expansion.programs.Get("[$Zeta;]");
  ResetExpansion(*engine);
  ResetSettings(*engine);
  SetSetting(*engine, "Alpha", "x");
  SetSetting(*engine, "Zeta", "two");
  EXPECT_EQ(engine->expansion.programs.Get("[$Zeta;]").get(), kept.get());
  EXPECT_EQ(StrExp(*engine, "[$Zeta;]"), "[two]");
  for (std::size_t i = 0; i <= ProgramCache::kMaxPrograms / 4; ++i)
    engine->expansion.programs.Get("$A" + std::to_string(i) + ";");
  ResetExpansion(*engine);
  EXPECT_EQ(engine->expansion.programs.size(), 0u);
}

TEST(ProgramTest, SplitsCalls) {
  std::string function;
  std::vector<std::string> arguments;
  SplitCall("Pick(a,,b", function, arguments);
  EXPECT_EQ(function, "Pick");
  EXPECT_EQ(arguments, (std::vector<std::string>{"a", "b"}));
  SplitCall("(,", function, arguments);
  EXPECT_EQ(function, "");
  EXPECT_TRUE(arguments.empty());
}

}  // namespace
}  // namespace quillo::expand
