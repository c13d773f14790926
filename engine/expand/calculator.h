// The stack calculator of the RPExp step: reverse Polish arithmetic on doubles over an operand
// stack of bounded size. Depends on string expansion (the expression is expanded first), the
// translation-file field scanner (tokens) and the message reporter.
#pragma once

#include <string>
#include <string_view>

namespace quillo {
struct Engine;

/// Operand stack size of the calculator: a 65th push is refused with MSG_STACK_OVERFLOW.
inline constexpr int kCalculatorStackSize = 64;

/// Expands `expression` and evaluates it in reverse Polish notation. Tokens are separated by
/// blanks; "+ - * / % < > =" are binary operators, "I" truncates the top to an integer; every
/// other token is a number. Returns the bottom entry of the stack, printed "%d" when the last token
/// was "I" and "%f" otherwise ("0" in that format when the stack ends empty). Faults are reported
/// (MSG_STACK_UNDERFLOW, MSG_STACK_OVERFLOW, MSG_DIVIDE_0, MSG_MOD_0, MSG_STACK_INVALID) with the
/// unexpanded expression, and evaluation goes on.
std::string RPExp(Engine& engine, std::string_view expression);

/// Reads the number at the start of `text` the way the calculator does: optional leading blanks, a
/// sign, digits, a decimal point and digits, an exponent. Text that begins with no number reads as
/// 0. Hexadecimal, "inf" and "nan" are not numbers here.
double ReadDecimal(std::string_view text);

}  // namespace quillo
