// Compiling expansion texts into steps, their serialized form for tests, and the program cache.
#include "expand/program.h"

#include <algorithm>

namespace quillo::expand {
namespace {

constexpr bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

constexpr bool IsArgumentChar(char c) { return IsNameChar(c) || c == ','; }

/// A reference found in a text: [dollar, end) is "$Name;" or "$Name(args)".
struct Reference {
  std::size_t dollar = 0;
  std::size_t end = 0;
  bool call = false;
};

/// Finds the first reference at or after `pos`. Only the first "$" is considered: when it begins no
/// well-formed reference there is none at all, and the rest of the text is literal.
bool FindReference(std::string_view text, std::size_t pos, Reference& ref) {
  std::size_t dollar = text.find('$', pos);
  if (dollar == std::string_view::npos) return false;
  std::size_t i = dollar + 1;
  while (i < text.size() && IsNameChar(text[i])) ++i;
  if (i == dollar + 1 || i == text.size()) return false;
  if (text[i] == ';') {
    ref = {dollar, i + 1, false};
    return true;
  }
  if (text[i] != '(') return false;
  ++i;
  while (i < text.size() && IsArgumentChar(text[i])) ++i;
  if (i == text.size() || text[i] != ')') return false;
  ref = {dollar, i + 1, true};
  return true;
}

/// Reads the leading decimal digits of `name` as a number, saturating well above any slot count.
/// Returns -1 when the name does not begin with a digit.
long LeadingNumber(std::string_view name) {
  if (name.empty() || name[0] < '0' || name[0] > '9') return -1;
  long n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') break;
    n = std::min(n * 10 + (c - '0'), 1000000000L);
  }
  return n;
}

ProgramStep ReferenceStep(std::string_view name, std::string_view source) {
  ProgramStep step;
  step.kind = StepKind::kReference;
  step.text = std::string(name);
  step.source = std::string(source);
  ClassifyName(name, step.argumentSlot, step.subMatch);
  return step;
}

ProgramStep CallStep(std::string_view call, std::string_view source) {
  ProgramStep step;
  step.kind = StepKind::kCall;
  step.text = std::string(call);
  step.source = std::string(source);
  SplitCall(call, step.function, step.arguments);
  return step;
}

}  // namespace

void ClassifyName(std::string_view name, long& argumentSlot, int& subMatch) {
  argumentSlot = -1;
  subMatch = -1;
  const long n = LeadingNumber(name);
  if (n > 0 || name == "0") {
    argumentSlot = n;
  } else if (name.size() == 2 && name[0] == '_' && name[1] >= '0' && name[1] <= '9') {
    subMatch = name[1] - '0';
  }
}

void SplitCall(std::string_view call, std::string& function, std::vector<std::string>& arguments) {
  function.clear();
  arguments.clear();
  std::size_t pos = 0;
  bool first = true;
  while (pos < call.size()) {
    while (pos < call.size() && !IsNameChar(call[pos])) ++pos;
    if (pos == call.size()) break;
    const std::size_t start = pos;
    while (pos < call.size() && IsNameChar(call[pos])) ++pos;
    std::string token(call.substr(start, pos - start));
    if (first) {
      function = std::move(token);
      first = false;
    } else {
      arguments.push_back(std::move(token));
    }
  }
}

Program Program::Compile(std::string_view text) {
  Program program;
  program.source_ = std::string(text);
  std::string_view rest = text;
  Reference ref;
  while (!rest.empty() && FindReference(rest, 0, ref)) {
    if (ref.dollar > 0) {
      ProgramStep literal;
      literal.text = std::string(rest.substr(0, ref.dollar));
      program.steps_.push_back(std::move(literal));
    }
    // The name (and for a call the "(" and argument list), without "$" and the closing ";" or ")".
    const std::string_view body = rest.substr(ref.dollar + 1, ref.end - ref.dollar - 2);
    const std::string_view source = rest.substr(ref.dollar, ref.end - ref.dollar);
    program.steps_.push_back(ref.call ? CallStep(body, source) : ReferenceStep(body, source));
    rest.remove_prefix(ref.end);
  }
  if (!rest.empty()) {
    ProgramStep literal;
    literal.text = std::string(rest);
    program.steps_.push_back(std::move(literal));
  }
  return program;
}

std::string Program::Serialize() const {
  std::string out;
  for (const ProgramStep& step : steps_) {
    if (!out.empty()) out.push_back(' ');
    switch (step.kind) {
      case StepKind::kLiteral:
        out += "\"" + step.text + "\"";
        break;
      case StepKind::kReference:
        out += "$" + step.text + ";";
        break;
      case StepKind::kCall: {
        out += "$" + step.function + "(";
        for (std::size_t i = 0; i < step.arguments.size(); ++i)
          out += (i ? "," : "") + step.arguments[i];
        out += ")";
        break;
      }
    }
  }
  return out;
}

/// The slot of a text: where it lies and how long it is.
std::shared_ptr<const Program>& ProgramCache::RecentSlot(std::string_view text) {
  const auto at = reinterpret_cast<std::uintptr_t>(text.data());
  return recent_[((at >> 4) ^ (at >> 12) ^ text.size()) % kRecentSlots];
}

std::shared_ptr<const Program> ProgramCache::Get(std::string_view text) {
  std::shared_ptr<const Program>& slot = RecentSlot(text);
  if (slot && slot->source() == text) return slot;
  auto found = programs_.find(text);
  if (found != programs_.end()) {
    slot = found->second;
    return found->second;
  }
  auto program = std::make_shared<const Program>(Program::Compile(text));
  if (programs_.size() < kMaxPrograms && bytes_ + text.size() <= kMaxBytes) {
    bytes_ += text.size();
    programs_.emplace(std::string(text), program);
    slot = program;
  }
  return program;
}

}  // namespace quillo::expand
