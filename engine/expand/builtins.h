// What a built-in function of the expansion language is given and how it is registered. The
// language's own built-ins are in builtins.cc; layers above add theirs through
// LayerHooks::builtins (base/hooks_state.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "expand/expand.h"

namespace quillo::expand {

/// Reads a text as an integer the way atoi does (leading blanks, a sign, digits; anything after is
/// ignored), clamped to the int range instead of overflowing.
inline int ReadInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<int>(value);
}

/// The argument names of a call, read in order as a built-in asks for them.
class CallArguments {
 public:
  CallArguments(const std::string& function, const std::vector<std::string>& arguments)
      : arguments_(arguments), last_(function) {}

  /// The next argument name, or false when none is left.
  bool NextToken(std::string_view& token) {
    if (next_ == arguments_.size()) return false;
    token = last_ = arguments_[next_++];
    return true;
  }
  /// The value of the next argument (its named string, expanded), or false when none is left.
  bool NextValue(Engine& engine, std::string& value) {
    std::string_view token;
    if (!NextToken(token)) return false;
    value = ArgumentValue(engine, token);
    return true;
  }
  /// The value of the next argument, or `fallback` when none is left.
  std::string ValueOr(Engine& engine, std::string_view fallback) {
    std::string value;
    if (!NextValue(engine, value)) value.assign(fallback.data(), fallback.size());
    return value;
  }
  /// The value of the next argument, also telling whether it took in literal (document) text.
  bool NextValue(Engine& engine, std::string& value, bool& literal) {
    unsigned long before = engine.expansion.literalUses;
    if (!NextValue(engine, value)) return false;
    literal = engine.expansion.literalUses != before;
    return true;
  }
  /// The last token read (the function's own name before any argument).
  std::string_view last() const { return last_; }

 private:
  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
  std::string_view last_;
};

using BuiltinFunction = std::string (*)(Engine&, CallArguments&, OutputContext*);

struct BuiltinEntry {
  std::string_view name;
  BuiltinFunction run;
  bool traceResult;  ///< the result is traced (Compare, NCompare)
};

}  // namespace quillo::expand
