// The memo of expansion results: ReuseResults=0 turns it off, a kept result is used while the
// names it read are unchanged and dropped when one changes, and the tables stay within their
// bounds whatever the number of distinct texts.
#include "expand/memo.h"

#include <gtest/gtest.h>

#include <string>

#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/functions.h"
#include "support/test_support.h"

namespace quillo {
namespace {

TEST(MemoTest, KeepsTextResultsUnlessSwitchedOff) {
  for (const char* setting : {"1", "0"}) {
    auto engine = test::MakeEngine();
    SetSetting(*engine, "ReuseResults", setting);
    SetSetting(*engine, "A", "<b>");
    const bool on = std::string(setting) == "1";
    // The entry a result was kept as, then came from (none with the memo off).
    for (int round = 0; round < 2; ++round) {
      std::shared_ptr<const MemoEntry> used;
      EXPECT_EQ(ExpandReusing(*engine, "$A;x", &used), "<b>x");
      EXPECT_EQ(used != nullptr, on) << setting;
      if (used) {
        EXPECT_EQ(used->result, "<b>x");
      }
    }
    EXPECT_EQ(engine->expansion.memo.texts.size(), on ? 1u : 0u) << setting;
    // A changed name is seen at once, with the memo or without.
    SetSetting(*engine, "A", "<i>");
    EXPECT_EQ(ExpandReusing(*engine, "$A;x"), "<i>x") << setting;
  }
}

TEST(MemoTest, ComputedNamesAreReadAfreshByEveryLookup) {
  // RtfParam is computed from the reader's token at each read. The memo keeps one result per
  // value; a look-up checks each against the current value, computed once per look-up however
  // many kept results read it, and never against a value of an earlier look-up.
  auto engine = test::MakeEngine();
  for (int round = 0; round < 3; ++round) {
    for (int param : {5, 7, -2}) {
      engine->reader.token.param = param;
      const std::string expected = "[" + std::to_string(param) + "][" + std::to_string(param) + "]";
      EXPECT_EQ(ExpandReusing(*engine, "[$RtfParam;][$RtfParam;]"), expected)
          << "round " << round << ", param " << param;
    }
  }
  const auto& lists = engine->expansion.memo.texts;
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists.begin()->second.entries.size(), 3u);
  EXPECT_GE(lists.begin()->second.hits, 6u);
}

TEST(MemoTest, ResultWithAnEffectIsNeverKept) {
  auto engine = test::MakeEngine();
  // Undefined names are defined by the NotDef rule: a write, which a reuse would skip.
  EXPECT_EQ(ExpandReusing(*engine, "$Undefined;"), "");
  EXPECT_TRUE(engine->expansion.memo.texts.empty());
}

TEST(MemoTest, StaysWithinItsBounds) {
  auto engine = test::MakeEngine();
  SetSetting(*engine, "A", "a");
  for (std::size_t i = 0; i < MemoState::kMaxKeys + 500; ++i)
    ExpandReusing(*engine, "$A;" + std::to_string(i));
  EXPECT_EQ(engine->expansion.memo.texts.size(), MemoState::kMaxKeys);
  EXPECT_LE(engine->expansion.memo.bytes, MemoState::kMaxBytes);
  // Large values: the byte budget empties the tables instead of growing past it.
  const std::string big(1 << 20, 'x');
  for (int i = 0; i < 40; ++i) {
    SetSetting(*engine, "Big" + std::to_string(i), big);
    ExpandReusing(*engine, "$Big" + std::to_string(i) + ";");
    EXPECT_LE(engine->expansion.memo.bytes, MemoState::kMaxBytes);
  }
}

}  // namespace
}  // namespace quillo
