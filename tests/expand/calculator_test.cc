// The RPExp stack calculator: every operator, the integer flag, and each fault with the value the
// calculation goes on with. Messages are observed in the error file.
#include "expand/calculator.h"

#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "support/test_support.h"

namespace quillo {
namespace {

class CalculatorTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_->messages.errorFileName = dir_.File("calc_err.htm"); }
  /// Error-file text written since the last call.
  std::string NewMessages() {
    std::string all = test::FileExists(engine_->messages.errorFileName)
                          ? test::ReadFile(engine_->messages.errorFileName)
                          : std::string();
    std::string fresh = all.substr(std::min(seen_, all.size()));
    seen_ = all.size();
    return fresh;
  }

  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
  std::size_t seen_ = 0;
};

TEST_F(CalculatorTest, OperatorsAndFaults) {
  SetSetting(*engine_, "W", "7");
  struct Case {
    const char* expression;
    const char* result;
    const char* message;  ///< a text the error file must gain, "" for none
  } cases[] = {
      {"7 2 -", "5.000000", ""},
      {"7 2 - I", "5", ""},
      {"7 2 %", "1.000000", ""},  // the flag comes only from "I"
      {"7 2 +", "9.000000", ""},
      {"7 2 *", "14.000000", ""},
      {"7 2 /", "3.500000", ""},
      {"7 2 <", "0.000000", ""},
      {"7 2 >", "1.000000", ""},
      {"2 2 =", "1.000000", ""},
      {"$W; 2 * I", "14", ""},  // the expression is expanded first
      {"3 I 2 *", "6.000000", ""},
      {"-4 1 +", "-3.000000", ""},  // "-4" is a number, not the operator
      {"-7 2 %", "-1.000000", ""},  // the remainder takes the sign of a
      {"7.9 -2.5 %", "1.000000", ""},
      {"-2147483648 -1 %", "0.000000", ""},   // no overflow trap
      {"1e300 1e300 * I", "2147483647", ""},  // saturates instead of overflowing the int
      {"-1e300 1e300 * I", "-2147483648", ""},
      {"abc 2 +", "2.000000", ""},  // text that begins with no number reads as 0
      {"1.5e1x", "15.000000", ""},
      {"0x10", "0.000000", ""},  // no hexadecimal
      {"inf", "0.000000", ""},
      {"1 0 /", "2147483647.000000", "Divide by Zero in 1 0 /"},
      {"5 0.5 %", "2147483647.000000", "Mod by Zero in 5 0.5 %"},
      {"1 2", "1.000000", "Incorrect number of values (2) left on stack 1 2"},
      {"", "0.000000", "Incorrect number of values (0) left on stack"},
      {"I", "0.000000", "Stack Underflow on I"},  // "I" that did not act sets no flag
      {"4 +", "4.000000", "Stack Underflow on 4 +"},
  };
  NewMessages();
  for (const Case& c : cases) {
    EXPECT_EQ(RPExp(*engine_, c.expression), c.result) << c.expression;
    std::string messages = NewMessages();
    if (*c.message) {
      EXPECT_NE(messages.find(c.message), std::string::npos) << c.expression << ": " << messages;
    } else {
      EXPECT_EQ(messages, "") << c.expression;
    }
  }
}

TEST_F(CalculatorTest, StackHoldsSixtyFourEntries) {
  std::string expression;
  for (int i = 0; i < 64; ++i) expression += "1 ";
  for (int i = 0; i < 63; ++i) expression += "+ ";
  NewMessages();
  EXPECT_EQ(RPExp(*engine_, expression), "64.000000");
  EXPECT_EQ(NewMessages(), "");

  // The 65th number is dropped with a message; the sum goes on without it.
  expression = std::string(65 * 2, ' ');
  for (int i = 0; i < 65; ++i) expression[i * 2] = '1';
  for (int i = 0; i < 63; ++i) expression += " +";
  EXPECT_EQ(RPExp(*engine_, expression), "64.000000");
  EXPECT_NE(NewMessages().find("Stack Overflow on"), std::string::npos);
}

TEST_F(CalculatorTest, ReadDecimal) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"  12", 12}, {"+3.5", 3.5}, {"-.5", -0.5}, {"2e3", 2000}, {"2e", 2},  {"2e+", 2},
      {".", 0},     {"-", 0},      {"nan", 0},    {"1,5", 1},    {"7px", 7}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(ReadDecimal(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace quillo
