// The engine's regular expressions: a compact compiled program walked by a backtracking matcher
// (Spencer's classic design), used by translation-file directives and user-function steps.
// Matching is bounded in time and stack depth so that hostile patterns or subjects cannot hang it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expand/program.h"

namespace quillo {
struct Engine;

namespace expand {

/// A compiled expression and the sub-matches of its last successful match.
///
/// Syntax (bytes, case-sensitive): branches separated by "|"; pieces are an atom optionally
/// followed by "*", "+" or "?"; atoms are "(...)" (subexpressions 1..9, numbered by their opening
/// parenthesis), ".", "^", "$", "[set]", "[^set]", "\c" (c literally) or a run of literal bytes.
/// A pattern ends at its first NUL byte.
class Regex {
 public:
  /// Compiles `pattern`. On a syntax error reports MSG_BAD_PROG_LOGIC with the error text, calls
  /// FatalText (which abandons the conversion) and returns nullptr should control come back.
  /// `engine` may be null (tests, one-off uses): errors then only yield nullptr. A pattern whose
  /// data pointer is null (a default-constructed view) is the error "NULL argument"; an empty
  /// pattern matches the empty string everywhere.
  static std::unique_ptr<Regex> Compile(Engine* engine, std::string_view pattern);
  /// Compiles without reporting; on failure returns nullptr and, when `error` is given, the text.
  static std::unique_ptr<Regex> TryCompile(std::string_view pattern, std::string* error = nullptr);

  /// Leftmost match in the NUL-terminated `subject`; "^" matches at `subject` itself. On success
  /// the sub-match pointers point into `subject`. A match that exceeds the step budget fails.
  bool Match(const char* subject);
  /// Leftmost match in the first `length` bytes at `subject` ("$" matches at subject + length; NUL
  /// bytes inside are ordinary characters). Lets callers that match repeatedly on the rest of one
  /// text (Gsub) avoid measuring it again each time.
  bool Match(const char* subject, size_t length);
  /// Appends `templ` to `out` with "&" / "\0" replaced by the whole match and "\1".."\9" by the
  /// sub-matches of the last match. "\\" gives "\", "\&" gives "&"; a "\" before any other
  /// character is kept together with it. The subject of the last match must still be alive.
  void Substitute(std::string_view templ, std::string& out) const;

  /// Sub-match n (0 = whole match) of the last match; empty when that part did not take part.
  std::string_view Group(int n) const;
  bool GroupMatched(int n) const;
  const char* GroupStart(int n) const { return start_[n]; }
  const char* GroupEnd(int n) const { return end_[n]; }

  /// True when the last Match gave up because it hit the step budget or the backtracking limit
  /// (its result was then "no match", whatever the true answer).
  bool LimitReached() const { return limitReached_; }

  // Compile-time optimisation data, exposed for tests and diagnostics.
  /// Every match begins with this byte; 0 = no such hint.
  unsigned char FirstChar() const { return firstChar_; }
  /// Only the start of the subject can match.
  bool Anchored() const { return anchored_; }
  /// A literal every match contains (empty = none).
  std::string_view RequiredLiteral() const;
  /// The compiled program: the magic byte 0x9C, then the nodes.
  const std::vector<unsigned char>& Program() const { return program_; }

  /// Matching gives up after max(kMinStepBudget, kStepsPerSubjectByte * (subject length + 1))
  /// steps of the matcher.
  static constexpr long long kMinStepBudget = 10'000'000;
  static constexpr long long kStepsPerSubjectByte = 50;

 private:
  Regex() = default;
  friend class RegexCompiler;
  friend class RegexMatcher;

  /// One entry of the matcher's backtracking stack (kept on the heap, reused between matches).
  struct Choice {
    const char* pos;  // subject position (or the saved capture pointer)
    uint32_t tag;     // kind << 16 | program offset (or capture slot / memo slot)
    uint32_t extra;   // repetition count of a star retry
  };

  bool Search(const char* subject, size_t length, bool counted);
  void Fail(const char* text) const;

  std::vector<unsigned char> program_;  // magic byte, then nodes
  const char* start_[10] = {};
  const char* end_[10] = {};
  unsigned char firstChar_ = 0;  // every match begins with this byte (0 = unknown)
  bool anchored_ = false;        // only the start of the subject can match
  int mustOffset_ = -1;          // offset of a literal every match contains, -1 = none
  int mustLength_ = 0;
  int leadingRepeat_ = -1;  // offset of a kStar/kPlus that begins every match, -1 = none

  /// Set when the pattern is a choice of whole-subject literals ("^abc$|^$"): matching is then
  /// a comparison with each of exactTexts_, and a match always covers the whole subject.
  bool exactOnly_ = false;
  std::vector<std::string> exactTexts_;

  Engine* engine_ = nullptr;       // where run-time faults are reported (null: silent)
  bool limitReached_ = false;      // the last match hit a bound
  bool countedSubject_ = false;    // the last subject came with a length (may hold NULs)
  std::vector<int16_t> memoSlot_;  // per program offset: memo row of a choice BRANCH, or -1
  int memoSlots_ = 0;              // number of memo rows
  std::vector<Choice> choices_;    // backtracking stack, reused between matches
  std::vector<uint64_t> memo_;     // failed (BRANCH, position) pairs, reused between matches
};

}  // namespace expand
}  // namespace quillo
