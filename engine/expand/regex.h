// The engine's regular expressions: a compact compiled program walked by a backtracking matcher
// (Spencer's classic design), used by translation-file directives and user-function steps.
// Matching is bounded in time and stack depth so that hostile patterns or subjects cannot hang it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;

namespace expand {

/// A compiled expression and the sub-matches of its last successful match.
class Regex {
 public:
  /// Compiles `pattern`. On a syntax error reports MSG_BAD_PROG_LOGIC and passes the error text to
  /// FatalText (which abandons the conversion) and returns nullptr should control come back.
  /// `engine` may be null (tests, one-off uses): errors then only yield nullptr.
  static std::unique_ptr<Regex> Compile(Engine* engine, std::string_view pattern);
  /// Compiles without reporting; on failure returns nullptr and, when `error` is given, the text.
  static std::unique_ptr<Regex> TryCompile(std::string_view pattern, std::string* error = nullptr);

  /// Leftmost match in the NUL-terminated `subject`; "^" matches at `subject` itself. On success the
  /// sub-match pointers point into `subject`. A match that exceeds the step budget fails.
  bool Match(const char* subject);
  /// Appends `templ` to `out` with "&" / "\0" replaced by the whole match and "\1".."\9" by the
  /// sub-matches of the last match.
  void Substitute(std::string_view templ, std::string& out) const;

  /// Sub-match n (0 = whole match) of the last match; empty when that part did not take part.
  std::string_view Group(int n) const;
  bool GroupMatched(int n) const;
  const char* GroupStart(int n) const { return start_[n]; }
  const char* GroupEnd(int n) const { return end_[n]; }

 private:
  Regex() = default;
  friend class RegexCompiler;
  friend class RegexMatcher;
  std::vector<unsigned char> program_;  // magic byte, then nodes
  const char* start_[10] = {};
  const char* end_[10] = {};
  unsigned char firstChar_ = 0;  // every match begins with this byte (0 = unknown)
  bool anchored_ = false;        // only the start of the subject can match
  int mustOffset_ = -1;          // offset of a literal every match contains, -1 = none
  int mustLength_ = 0;
};

}  // namespace expand
}  // namespace quillo
