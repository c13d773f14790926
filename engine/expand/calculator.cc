// The stack calculator (RPExp). All arithmetic is done in double precision; the integer
// conversions ("%", "I" and the "%d" result) saturate at the int range, so no input reaches
// undefined behaviour (INT_MIN % -1, out-of-range casts of huge or NaN values).
#include "expand/calculator.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/field_scanner.h"
#include "base/messages.h"
#include "engine.h"
#include "expand/expand.h"

namespace quillo {
namespace {

/// The result of a division or remainder by zero.
constexpr double kDivideByZeroResult = 2147483647.0;

/// Truncates toward zero into the int range (NaN reads as 0).
int TruncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

bool IsBinaryOperator(char c) {
  switch (c) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case '<':
    case '>':
    case '=':
      return true;
    default:
      return false;
  }
}

std::string Format(const char* format, double value) {
  char text[32];
  int size = std::snprintf(text, sizeof text, format, value);
  if (size >= 0 && static_cast<std::size_t>(size) < sizeof text) return std::string(text, size);
  // Very large magnitudes print with many digits: measure first.
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, format, value);
  return out;
}

}  // namespace

double ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  const std::size_t start = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0;
  // An exponent counts only when digits follow it.
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && text[j] >= '0' && text[j] <= '9') {
      while (j < n && text[j] >= '0' && text[j] <= '9') ++j;
      i = j;
    }
  }
  std::string_view number = text.substr(start, i - start);
  // A whole number of up to 15 digits is exactly representable: no strtod needed.
  const bool negative = !number.empty() && number[0] == '-';
  std::string_view digitsOnly =
      number.substr(!number.empty() && (number[0] == '-' || number[0] == '+'));
  if (digitsOnly.size() <= 15 &&
      digitsOnly.find_first_not_of("0123456789") == std::string_view::npos) {
    long long whole = 0;
    for (char c : digitsOnly) whole = whole * 10 + (c - '0');
    const double value = static_cast<double>(whole);
    return negative ? -value : value;
  }
  return std::strtod(std::string(number).c_str(), nullptr);
}

std::string RPExp(Engine& engine, std::string_view expression) {
  const std::string source(expression);  // the unexpanded text, named in every message
  std::string expanded = StrExp(engine, source);

  // A scanner of its own: whatever line the translation-file reader is splitting is untouched.
  FieldScanner scanner;
  scanner.SetLine(expanded);

  std::array<double, kCalculatorStackSize> stack{};
  int top = 0;  // number of entries
  bool integerResult = false;
  for (std::string token; scanner.Next(token);) {
    integerResult = false;
    if (token.size() == 1 && (IsBinaryOperator(token[0]) || token[0] == 'I')) {
      const char op = token[0];
      if (op == 'I') {
        if (top < 1) {
          ReportMessage(engine, "MSG_STACK_UNDERFLOW", {source});
          continue;
        }
        stack[top - 1] = std::isnan(stack[top - 1]) ? 0 : std::trunc(stack[top - 1]);
        integerResult = true;
        continue;
      }
      if (top < 2) {
        ReportMessage(engine, "MSG_STACK_UNDERFLOW", {source});
        continue;
      }
      const double a = stack[top - 2];
      const double b = stack[top - 1];
      double result = 0;
      switch (op) {
        case '+':
          result = a + b;
          break;
        case '-':
          result = a - b;
          break;
        case '*':
          result = a * b;
          break;
        case '/':
          if (b == 0) {
            ReportMessage(engine, "MSG_DIVIDE_0", {source});
            result = kDivideByZeroResult;
          } else {
            result = a / b;
          }
          break;
        case '%': {
          // In 64 bits the one overflowing int case, INT_MIN % -1, is simply 0.
          const long long ia = TruncateToInt(a);
          const long long ib = TruncateToInt(b);
          if (ib == 0) {
            ReportMessage(engine, "MSG_MOD_0", {source});
            result = kDivideByZeroResult;
          } else {
            result = static_cast<double>(ia % ib);
          }
          break;
        }
        case '<':
          result = a < b ? 1 : 0;
          break;
        case '>':
          result = a > b ? 1 : 0;
          break;
        default:  // '='
          result = a == b ? 1 : 0;
          break;
      }
      --top;
      stack[top - 1] = result;
      continue;
    }
    if (top >= kCalculatorStackSize) {
      ReportMessage(engine, "MSG_STACK_OVERFLOW", {source});
      continue;
    }
    stack[top++] = ReadDecimal(token);
  }
  if (top != 1) ReportMessage(engine, "MSG_STACK_INVALID", {top, source});

  const double bottom = top > 0 ? stack[0] : 0;
  if (integerResult) return std::to_string(TruncateToInt(bottom));
  return Format("%f", bottom);
}

}  // namespace quillo
