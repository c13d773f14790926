// Literal values: document text stored with SetLiteralSetting (and sub-matches, and whatever a
// user function builds from them) is shown as it is wherever it is referenced, and never runs
// the "$Func()" calls it happens to contain.
#include <gtest/gtest.h>

#include <string>

#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/regex.h"
#include "support/test_support.h"
#include "trn/translation_file.h"

namespace quillo {
namespace {

const char kTables[] =
    ".TTag\nbold <b> </b>\n.PTag\npara <p> </p> '' '' '' '' 0 0 0 0 0 0\n"
    ".TMatch\n'' 0 Bold '' '' bold\n.PMatch\nNormal 0 para\n";

class LiteralTest : public ::testing::Test {
 protected:
  void SetUp() override {
    victim_ = dir_.File("victim.txt");
    test::WriteFile(victim_, "keep me");
    SetSetting(*engine_, "X", victim_);
  }
  std::string Expand(std::string_view text) { return StrExp(*engine_, text); }
  void ExpectNothingRan(const std::string& where) {
    EXPECT_TRUE(test::FileExists(victim_)) << where;
    EXPECT_FALSE(engine_->driver.stop) << where;
  }

  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
  std::string victim_;
};

constexpr char kHostile[] = "$Delete(X) and $Exit()";

TEST_F(LiteralTest, DocumentTextNeverRuns) {
  const std::string trn = dir_.File("f.trn");
  test::WriteFile(trn,
                  ".Version 6\n.Functions\n"
                  "Function Same\n"
                  "Function Wrap\nSet \"<$1;>\"\n"
                  "Function Keep\nSave Tmp \"$1;\"\nSet \"[$Tmp;]\"\n"
                  "Function Current\nUpper\nSet \"$0;\"\n"
                  "Function Nested\nSet \"$Wrap(1)\"\n"
                  "Function Walk\nwhile \"$0;\" \"Delete\"\nSet \"done\"\nEnd\n"
                  "Function ViaVSet\nVSet Doc\n"
                  "Function Switched\nSwitch \"$1;\"\nCase Exit\nSet \"$1;!\"\nEnd\n" +
                      std::string(kTables));
  ASSERT_EQ(LoadTranslationFile(*engine_, trn), 1);
  SetLiteralSetting(*engine_, "Doc", kHostile);
  SetSetting(*engine_, "Indirect", "{$Doc;}");

  const std::string shown = kHostile;
  struct Case {
    const char* text;
    std::string expected;
  } cases[] = {
      {"$Doc;", shown},
      {"$Indirect;", "{" + shown + "}"},
      {"$Same(Doc)", shown},
      {"$Wrap(Doc)", "<" + shown + ">"},
      {"$Wrap(Indirect)", "<{" + shown + "}>"},
      {"$Keep(Doc)", "[" + shown + "]"},
      {"$Tmp;", shown},  // what Keep saved stays literal
      {"$Current(Doc)", "$DELETE(X) AND $EXIT()"},
      {"$Nested(Doc)", "<" + shown + ">"},
      {"$Walk(Doc)", "done"},
      {"$ViaVSet()", shown},
      {"$Switched(Doc)", shown + "!"},
      {"$Compare(Doc,Doc)", "0"},
      {"$WriteFile(Doc)", shown},  // a built-in's argument
      {"$Link(Doc,Doc)", shown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Expand(c.text), c.expected) << c.text;
    ExpectNothingRan(c.text);
  }
}

TEST_F(LiteralTest, SubMatchesAreLiteral) {
  auto regex = expand::Regex::TryCompile("see (.*)");
  const std::string subject = std::string("see ") + kHostile;
  ASSERT_TRUE(regex->Match(subject.c_str()));
  engine_->expansion.currentMatch = regex.get();
  EXPECT_EQ(Expand("[$_1;]"), std::string("[") + kHostile + "]");
  EXPECT_EQ(SettingValue(*engine_, "_1"), kHostile);  // stored under its name, and readable
  engine_->expansion.currentMatch = nullptr;
  // The stored sub-match stays readable, and literal, after the match is gone.
  EXPECT_EQ(SettingValue(*engine_, "_1"), kHostile);
  EXPECT_TRUE(IsLiteralSetting(*engine_, kSettingSubMatch1));
  ExpectNothingRan("sub-match");
}

TEST_F(LiteralTest, MarkFollowsTheLastSet) {
  SetSetting(*engine_, "A", "a");
  SetSetting(*engine_, "B", "b");
  int index = SetLiteralSetting(*engine_, "Doc", "$Compare(A,B)");
  EXPECT_TRUE(IsLiteralSetting(*engine_, index));
  EXPECT_EQ(Expand("$Doc;"), "$Compare(A,B)");
  // Any later set of the name decides anew: the value is then an ordinary named string.
  SetSetting(*engine_, "doc", "$Compare(A,B)");
  EXPECT_FALSE(IsLiteralSetting(*engine_, index));
  EXPECT_EQ(Expand("$Doc;"), "-1");
  SetLiteralSetting(*engine_, "Doc", "$Compare(A,B)");
  SetUnprotected(*engine_, "Doc", "$Compare(B,A)");
  EXPECT_EQ(Expand("$Doc;"), "1");

  // A name that OverrideDefs protected keeps its value and its (missing) mark.
  SetSetting(*engine_, "OverrideDefs", "1");
  SetSetting(*engine_, "Fixed", "$Compare(A,A)");
  SetSetting(*engine_, "OverrideDefs", "0");
  SetLiteralSetting(*engine_, "Fixed", "other");
  EXPECT_EQ(Expand("$Fixed;"), "0");
  EXPECT_FALSE(IsLiteralSetting(*engine_, FindSetting(*engine_, "Fixed")));

  // The store reset forgets every mark.
  SetLiteralSetting(*engine_, "Doc", "x");
  ResetSettings(*engine_);
  EXPECT_TRUE(engine_->settings.literalIndexes.empty());
}

TEST_F(LiteralTest, LiteralReferenceExpandsToTheTextItself) {
  std::string reference = LiteralReference(*engine_, kHostile);
  EXPECT_EQ(reference.front(), '$');
  EXPECT_EQ(reference.back(), ';');
  EXPECT_EQ(Expand(reference), kHostile);
  EXPECT_NE(LiteralReference(*engine_, "b"), reference);  // a fresh name each time
  ExpectNothingRan("LiteralReference");
}

}  // namespace
}  // namespace quillo
