// Function calls of the expansion language: FctExpand splits the call text into the function name
// and argument names and runs the built-in of that name. Arguments are names of named strings,
// evaluated lazily, in order, as a built-in asks for them.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "expand/expand.h"
#include "frame/buffers.h"
#include "frame/messages.h"
#include "frame/settings.h"

namespace quillo {
namespace {

constexpr bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

/// Reads a text as an integer the way atoi does (leading blanks, a sign, digits; anything after is
/// ignored), clamped to the int range instead of overflowing.
int ReadInt(std::string_view text) {
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

/// The name tokens of a call text ("Name(a,b" -> "Name", "a", "b"): runs of [A-Za-z0-9_]. Anything
/// else separates tokens, so empty arguments vanish.
class CallArguments {
 public:
  explicit CallArguments(std::string_view call) : call_(call) {}

  /// The next token, or false when the call text is exhausted.
  bool NextToken(std::string_view& token) {
    while (pos_ < call_.size() && !IsTokenChar(call_[pos_])) ++pos_;
    if (pos_ == call_.size()) return false;
    std::size_t start = pos_;
    while (pos_ < call_.size() && IsTokenChar(call_[pos_])) ++pos_;
    token = last_ = call_.substr(start, pos_ - start);
    return true;
  }
  /// The value of the next argument (its named string, expanded), or false when none is left.
  bool NextValue(Engine& engine, std::string& value) {
    std::string_view token;
    if (!NextToken(token)) return false;
    value = ArgumentValue(engine, token);
    return true;
  }
  /// The last token read (the function's own name before any argument).
  std::string_view last() const { return last_; }

 private:
  std::string_view call_;
  std::size_t pos_ = 0;
  std::string_view last_;
};

// ---- Built-ins ----------------------------------------------------------------------------------

using BuiltinFunction = std::string (*)(Engine&, CallArguments&, OutputContext*);

/// CallBack(id, a1..an): hands (id as integer, n, the n values) to the host callback and yields the
/// text it returns. Without a registered callback the result is the value of id; with no argument
/// at all nothing is called and the result is empty.
std::string CallBack(Engine& engine, CallArguments& args, OutputContext*) {
  std::string id;
  if (!args.NextValue(engine, id)) return {};
  QuilloCallback callback = engine.library.callback;
  if (!callback) return id;
  std::vector<std::string> values;
  for (std::string value; args.NextValue(engine, value);) values.push_back(std::move(value));
  std::vector<char*> argv;
  argv.reserve(values.size());
  for (std::string& value : values) argv.push_back(value.data());
  char* returned =
      callback(ReadInt(id), static_cast<int>(argv.size()), argv.empty() ? nullptr : argv.data());
  if (!returned) return {};
  std::string result(returned);
  std::free(returned);  // the host hands over a malloc'ed block
  return result;
}

/// Exit(code): stops the conversion at the reader loop's next check; a code reading as -1 also
/// reports ERR_EXIT. Yields the last name token read (the argument's, else "Exit" as written).
std::string Exit(Engine& engine, CallArguments& args, OutputContext*) {
  engine.driver.stop = true;
  std::string code;
  if (args.NextValue(engine, code) && ReadInt(code) == -1) ReportMessage(engine, "ERR_EXIT");
  return std::string(args.last());
}

/// Context(): where in the document we are, framed by MSG_ERROR_PLACE_START and _END.
std::string Context(Engine& engine, CallArguments&, OutputContext*) {
  // The most recent input characters shown; the reader keeps a ring of one more.
  constexpr std::size_t kRecentShown = 62;
  std::string result;
  if (const std::string* start = GetSetting(engine, "MSG_ERROR_PLACE_START"))
    result = StrExp(engine, *start);
  std::string_view recent = engine.reader.recentInput;
  if (recent.size() > kRecentShown) recent.remove_prefix(recent.size() - kRecentShown);
  result.append(recent);
  result.push_back('\n');
  if (const std::string* end = GetSetting(engine, "MSG_ERROR_PLACE_END"))
    result.append(StrExp(engine, *end));
  return result;
}

struct Builtin {
  std::string_view name;
  BuiltinFunction run;
};

constexpr Builtin kBuiltins[] = {
    {"CallBack", CallBack},
    {"Exit", Exit},
    {"Context", Context},
};

bool IsUserFunction(const Engine& engine, std::string_view name) {
  for (const UserFunction& function : engine.translation.functions)
    if (CaseEqual(function.name, name)) return true;
  return false;
}

}  // namespace

std::string FctExpand(Engine& engine, std::string_view call, OutputContext* context) {
  const std::string copy(call);
  ExpansionLevel level(engine, '.', copy);
  if (!level.entered()) return {};
  if (engine.settings.mirrors.debug & 16)
    PrintEscaped(engine, "%sFctExpand:%s\n", engine.expansion.indent.c_str(), copy.c_str());

  std::string result;
  CallArguments args(copy);
  std::string_view name;
  if (args.NextToken(name)) {
    const Builtin* builtin = nullptr;
    for (const Builtin& candidate : kBuiltins)
      if (CaseEqual(candidate.name, name)) builtin = &candidate;
    if (IsUserFunction(engine, name)) {
      // User functions take precedence over built-ins; running them comes with the function
      // interpreter, until then the call is reported like an unknown one.
      ReportMessage(engine, "MSG_INVALID_FUNC", {name});
    } else if (builtin) {
      result = builtin->run(engine, args, context);
    } else {
      ReportMessage(engine, "MSG_INVALID_FUNC", {name});
    }
  }
  level.Leave();
  return result;
}

}  // namespace quillo
