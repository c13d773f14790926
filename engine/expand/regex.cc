// The regular-expression matcher: walks a compiled program (regex_compile.cc, regex_layout.h)
// with a backtracking walk whose choice points live on a heap stack, so that neither the subject
// length nor the pattern can exhaust the call stack. A step budget and a memo of failed
// (alternative, position) pairs keep hostile patterns from running for exponential time.
#include "expand/regex.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/messages.h"
#include "engine.h"
#include "expand/regex_layout.h"

namespace quillo::expand {

using namespace regex_layout;

// ---------------------------------------------------------------------------------------------
// Matcher
//
// Walks the program for one start position at a time. Choice points (the remaining alternatives
// of a kBranch, the shorter runs of a kStar/kPlus), saved capture pointers and "mark failed"
// records go on Regex::choices_, so the walk needs constant C stack whatever the subject.

class RegexMatcher {
 public:
  enum class Outcome { kMatch, kNoMatch, kGiveUp };

  RegexMatcher(Regex& regex, const char* begin, const char* end)
      : regex_(regex), program_(regex.program_.data()), begin_(begin), end_(end) {
    const long long length = static_cast<long long>(end - begin) + 1;
    // The budget bounds the time of one Match: generous enough that any ordinary pattern finishes
    // on any ordinary subject, small enough that a pathological one gives up within a second or
    // so instead of hanging the conversion.
    budget_ = std::max(Regex::kMinStepBudget, Regex::kStepsPerSubjectByte * length);
    // Pending choices take memory; allow a few per subject byte (a loop like "(a|b)*" keeps about
    // three per iteration) and stop a runaway before it exhausts memory.
    choiceLimit_ = std::max<size_t>(kMinChoices, kChoicesPerSubjectByte * length);
    // Remembering failed (alternative, position) pairs makes nested loops such as "(a|aa)*b" or
    // "(a+)+b" linear, but costs a bitmap; it is switched on only once a search runs long.
    memoThreshold_ = kMemoStepsPerSubjectByte * length + kMemoMinSteps;
    memoStride_ = static_cast<size_t>(length);
  }

  Outcome TryAt(const char* start);
  /// Length of the run of the kStar/kPlus node `node`'s character from `pos` on.
  size_t RunLength(int node, const char* pos) { return Repeat(OperandOf(node), pos); }

 private:
  static constexpr size_t kMinChoices = size_t{1} << 20;
  static constexpr size_t kChoicesPerSubjectByte = 6;
  static constexpr long long kMemoMinSteps = 100'000;
  static constexpr long long kMemoStepsPerSubjectByte = 8;
  // The memo bitmap may not exceed 64 Mbit (8 MB); beyond that the step budget alone applies.
  static constexpr size_t kMaxMemoBits = size_t{1} << 26;

  enum Kind : uint32_t { kAlternative = 0, kStarRetry = 1, kRestore = 2, kMarkFailed = 3 };

  bool Push(Kind kind, int node, const char* pos, size_t extra = 0) {
    if (regex_.choices_.size() >= choiceLimit_) return false;
    regex_.choices_.push_back({pos,
                               (static_cast<uint32_t>(kind) << 16) | static_cast<uint32_t>(node),
                               static_cast<uint32_t>(extra)});
    return true;
  }
  bool CanStart(int node, const char* pos) const;
  int ViableAlternative(int branch, const char* pos) const;
  size_t Repeat(int operand, const char* pos);
  bool Settle(int next, const char* save, size_t min, size_t* count);
  bool Backtrack(int* node, const char** pos);
  void EnableMemo();
  bool MemoFailed(int slot, const char* pos) const {
    const size_t bit = static_cast<size_t>(slot) * memoStride_ + static_cast<size_t>(pos - begin_);
    return (regex_.memo_[bit >> 6] >> (bit & 63)) & 1;
  }
  // At a memoised node: *ok becomes false when this (node, position) is known to fail; otherwise
  // a record is pushed that marks it failed once the walk backtracks past it. False when the
  // backtracking stack is full.
  bool EnterMemo(int node, const char* pos, bool* ok) {
    const int slot = regex_.memoSlot_[node];
    if (slot < 0) return true;
    if (MemoFailed(slot, pos)) {
      *ok = false;
      return true;
    }
    return Push(kMarkFailed, slot, pos);
  }
  void MemoMark(int slot, const char* pos) {
    const size_t bit = static_cast<size_t>(slot) * memoStride_ + static_cast<size_t>(pos - begin_);
    regex_.memo_[bit >> 6] |= uint64_t{1} << (bit & 63);
  }

  Regex& regex_;
  const unsigned char* program_;
  const char* begin_;  // "^" matches here
  const char* end_;    // "$" matches here
  long long steps_ = 0;
  long long budget_ = 0;
  size_t choiceLimit_ = 0;
  long long memoThreshold_ = 0;
  size_t memoStride_ = 0;
  bool memoTried_ = false;
  bool memoOn_ = false;
  bool gaveUp_ = false;
  const char* captures_[2 * kGroupCount] = {};  // starts 0..9, then ends 0..9
};

// Whether the node at `node` could match at `pos` (a quick look at its first character).
bool RegexMatcher::CanStart(int node, const char* pos) const {
  switch (program_[node]) {
    case kExactly:
      return pos != end_ && static_cast<unsigned char>(*pos) == LiteralBytes(program_, node)[0];
    case kAny:
      return pos != end_;
    case kAnyOf:
    case kAnyBut:
      return pos != end_ && InSet(program_ + OperandOf(node), static_cast<unsigned char>(*pos)) ==
                                (program_[node] == kAnyOf);
    case kPlus:
      return CanStart(OperandOf(node), pos);
    case kBol:
      return pos == begin_;
    case kEol:
      return pos == end_;
    default:
      return true;
  }
}

// The first alternative, from the kBranch at `branch` on, that could match at `pos`.
int RegexMatcher::ViableAlternative(int branch, const char* pos) const {
  for (int scan = branch; scan != kNone && program_[scan] == kBranch;
       scan = NextNode(program_, scan)) {
    if (CanStart(OperandOf(scan), pos)) return scan;
  }
  return kNone;
}

// How many times the one-character node at `operand` matches from `pos` on.
size_t RegexMatcher::Repeat(int operand, const char* pos) {
  const char* scan = pos;
  switch (program_[operand]) {
    case kAny:
      scan = end_;
      break;
    case kExactly: {
      const char c = static_cast<char>(LiteralBytes(program_, operand)[0]);
      while (scan != end_ && *scan == c) ++scan;
      break;
    }
    case kAnyOf:
    case kAnyBut: {
      const unsigned char* set = program_ + OperandOf(operand);
      const bool inside = program_[operand] == kAnyOf;
      while (scan != end_ && InSet(set, static_cast<unsigned char>(*scan)) == inside) ++scan;
      break;
    }
    default:
      regex_.Fail("internal foulup");
      return 0;
  }
  const size_t count = static_cast<size_t>(scan - pos);
  steps_ += static_cast<long long>(count);
  return count;
}

// Lowers *count to the longest run (not below `min`) after which the node at `next` can start:
// a literal that follows a star must begin right after the run. False when no run qualifies.
bool RegexMatcher::Settle(int next, const char* save, size_t min, size_t* count) {
  if (*count < min) return false;
  if (program_[next] != kExactly) return true;
  const char c = static_cast<char>(LiteralBytes(program_, next)[0]);
  size_t n = *count;
  for (;;) {
    if (save + n != end_ && save[n] == c) break;
    if (n == min) {
      steps_ += static_cast<long long>(*count - n);
      return false;
    }
    --n;
  }
  steps_ += static_cast<long long>(*count - n);
  *count = n;
  return true;
}

void RegexMatcher::EnableMemo() {
  memoTried_ = true;
  if (regex_.memoSlots_ == 0) return;
  const size_t bits = static_cast<size_t>(regex_.memoSlots_) * memoStride_;
  if (bits / memoStride_ != static_cast<size_t>(regex_.memoSlots_) || bits > kMaxMemoBits) return;
  regex_.memo_.assign((bits + 63) / 64, 0);
  memoOn_ = true;
}

// Resumes at the most recent choice point; false when none is left (or the stack limit is hit,
// which sets gaveUp_).
bool RegexMatcher::Backtrack(int* node, const char** pos) {
  auto& choices = regex_.choices_;
  while (!choices.empty()) {
    const Regex::Choice choice = choices.back();
    choices.pop_back();
    const int target = static_cast<int>(choice.tag & 0xFFFF);
    switch (static_cast<Kind>(choice.tag >> 16)) {
      case kRestore:
        captures_[target] = choice.pos;
        break;
      case kMarkFailed:
        // Everything that could follow this alternation at this position has failed.
        MemoMark(target, choice.pos);
        break;
      case kAlternative: {
        const int rest = ViableAlternative(NextNode(program_, target), choice.pos);
        if (rest != kNone && !Push(kAlternative, rest, choice.pos)) {
          gaveUp_ = true;
          return false;
        }
        *node = OperandOf(target);
        *pos = choice.pos;
        return true;
      }
      case kStarRetry: {
        const size_t min = program_[target] == kPlus ? 1 : 0;
        const int next = NextNode(program_, target);
        size_t count = choice.extra - 1;
        if (!Settle(next, choice.pos, min, &count)) break;
        if (count > min && !Push(kStarRetry, target, choice.pos, count)) {
          gaveUp_ = true;
          return false;
        }
        *node = next;
        *pos = choice.pos + count;
        return true;
      }
    }
  }
  return false;
}

RegexMatcher::Outcome RegexMatcher::TryAt(const char* start) {
  std::fill(std::begin(captures_), std::end(captures_), nullptr);
  regex_.choices_.clear();
  int node = 1;  // the first kBranch
  const char* pos = start;

  for (;;) {
    if (++steps_ > budget_) return Outcome::kGiveUp;
    if (steps_ > memoThreshold_ && !memoTried_) EnableMemo();

    bool ok = true;
    const unsigned op = program_[node];
    switch (op) {
      case kEnd:
        captures_[0] = start;
        captures_[kGroupCount] = pos;
        for (int i = 0; i < kGroupCount; ++i) {
          regex_.start_[i] = captures_[i];
          regex_.end_[i] = captures_[kGroupCount + i];
        }
        return Outcome::kMatch;
      case kBol:
        ok = pos == begin_;
        break;
      case kEol:
        ok = pos == end_;
        break;
      case kAny:
        ok = pos != end_;
        if (ok) ++pos;
        break;
      case kAnyOf:
      case kAnyBut:
        ok = pos != end_ &&
             InSet(program_ + OperandOf(node), static_cast<unsigned char>(*pos)) == (op == kAnyOf);
        if (ok) ++pos;
        break;
      case kExactly: {
        const size_t length = static_cast<size_t>(LiteralLength(program_, node));
        ok = static_cast<size_t>(end_ - pos) >= length &&
             std::memcmp(pos, LiteralBytes(program_, node), length) == 0;
        if (ok) pos += length;
        break;
      }
      case kNothing:
      case kBack:
        break;
      case kBranch: {
        const int next = NextNode(program_, node);
        if (next == kNone || program_[next] != kBranch) {  // a single alternative: no choice
          node = OperandOf(node);
          continue;
        }
        if (memoOn_ && !EnterMemo(node, pos, &ok)) return Outcome::kGiveUp;
        if (!ok) break;
        const int first = ViableAlternative(node, pos);
        if (first == kNone) {
          ok = false;
          break;
        }
        const int rest = ViableAlternative(NextNode(program_, first), pos);
        if (rest != kNone && !Push(kAlternative, rest, pos)) return Outcome::kGiveUp;
        node = OperandOf(first);
        continue;
      }
      case kStar:
      case kPlus: {
        if (memoOn_ && !EnterMemo(node, pos, &ok)) return Outcome::kGiveUp;
        if (!ok) break;
        const size_t min = op == kPlus ? 1 : 0;
        const int next = NextNode(program_, node);
        size_t count = Repeat(OperandOf(node), pos);
        if (next == kNone || !Settle(next, pos, min, &count)) {
          ok = false;
          break;
        }
        // Shorter runs are tried later, longest first.
        if (count > min && !Push(kStarRetry, node, pos, count)) return Outcome::kGiveUp;
        pos += count;
        node = next;
        continue;
      }
      default: {
        int slot = -1;
        if (op >= kOpen && op < kOpen + kGroupCount) {
          slot = static_cast<int>(op - kOpen);
        } else if (op >= kClose && op < kClose + kGroupCount) {
          slot = kGroupCount + static_cast<int>(op - kClose);
        } else {
          regex_.Fail("memory corruption");
          return Outcome::kNoMatch;
        }
        // The last pass through a group's parentheses on the successful path is what is
        // recorded; the old pointer comes back if the walk backtracks over this point.
        if (!regex_.choices_.empty() && !Push(kRestore, slot, captures_[slot])) {
          return Outcome::kGiveUp;
        }
        captures_[slot] = pos;
        break;
      }
    }

    if (ok) {
      node = NextNode(program_, node);
      if (node == kNone) {
        regex_.Fail("corrupted pointers");
        return Outcome::kNoMatch;
      }
      continue;
    }
    if (!Backtrack(&node, &pos)) return gaveUp_ ? Outcome::kGiveUp : Outcome::kNoMatch;
  }
}

void Regex::Fail(const char* text) const {
  if (engine_ == nullptr) return;
  ReportMessage(*engine_, "MSG_BAD_PROG_LOGIC", {text});
  FatalText(*engine_, "%s", "");
}

std::string_view Regex::RequiredLiteral() const {
  if (mustOffset_ < 0) return {};
  return {reinterpret_cast<const char*>(program_.data() + mustOffset_),
          static_cast<size_t>(mustLength_)};
}

bool Regex::Match(const char* subject) {
  if (subject == nullptr) {
    std::fill(std::begin(start_), std::end(start_), nullptr);
    std::fill(std::begin(end_), std::end(end_), nullptr);
    Fail("NULL parameter");
    return false;
  }
  return Search(subject, std::strlen(subject), false);
}

bool Regex::Match(const char* subject, size_t length) {
  if (subject == nullptr) return Match(nullptr);
  return Search(subject, length, true);
}

bool Regex::Search(const char* subject, size_t length, bool counted) {
  std::fill(std::begin(start_), std::end(start_), nullptr);
  std::fill(std::begin(end_), std::end(end_), nullptr);
  limitReached_ = false;
  countedSubject_ = counted;
  if (program_.empty() || program_[0] != kMagic) {
    Fail("corrupted program");
    return false;
  }
  // Subject offsets are kept in 32 bits on the backtracking stack.
  if (length >= 0x7FFFFFFF) {
    limitReached_ = true;
    return false;
  }
  const std::string_view text(subject, length);
  if (exactOnly_) {
    // Every branch spans the whole subject: the match is the subject or there is none.
    for (const std::string& literal : exactTexts_) {
      if (text == literal) {
        start_[0] = subject;
        end_[0] = subject + length;
        return true;
      }
    }
    return false;
  }
  if (mustLength_ > 0 && text.find(RequiredLiteral()) == std::string_view::npos) return false;

  const char* const end = subject + length;
  RegexMatcher matcher(*this, subject, end);
  auto outcome = RegexMatcher::Outcome::kNoMatch;
  if (anchored_) {
    outcome = matcher.TryAt(subject);
  } else if (firstChar_ != 0) {
    const char* scan = subject;
    while (scan != end) {
      scan = static_cast<const char*>(std::memchr(scan, firstChar_, end - scan));
      if (scan == nullptr) break;
      outcome = matcher.TryAt(scan);
      if (outcome != RegexMatcher::Outcome::kNoMatch) break;
      ++scan;
    }
  } else {
    for (const char* scan = subject;; ++scan) {
      outcome = matcher.TryAt(scan);
      if (outcome != RegexMatcher::Outcome::kNoMatch || scan == end) break;
      if (leadingRepeat_ >= 0) {
        // The pattern begins with x* or x+ and failed here after a run of n characters x: a start
        // inside that run would only retry a subset of the same continuations, so skip it.
        scan += matcher.RunLength(leadingRepeat_, scan);
        if (scan == end) break;
      }
    }
  }
  choices_.clear();
  if (outcome == RegexMatcher::Outcome::kGiveUp) limitReached_ = true;
  return outcome == RegexMatcher::Outcome::kMatch;
}

void Regex::Substitute(std::string_view templ, std::string& out) const {
  if (templ.data() == nullptr) {
    Fail("NULL parm to regsub");
    return;
  }
  if (program_.empty() || program_[0] != kMagic) {
    Fail("damaged regexp fed to regsub");
    return;
  }
  const size_t mark = out.size();
  for (size_t i = 0; i < templ.size(); ++i) {
    char c = templ[i];
    int group = -1;
    if (c == '&') {
      group = 0;
    } else if (c == '\\' && i + 1 < templ.size() && templ[i + 1] >= '0' && templ[i + 1] <= '9') {
      group = templ[++i] - '0';
    }
    if (group < 0) {
      if (c == '\\' && i + 1 < templ.size() && (templ[i + 1] == '\\' || templ[i + 1] == '&')) {
        c = templ[++i];
      }
      out.push_back(c);
      continue;
    }
    if (start_[group] == nullptr || end_[group] == nullptr) continue;
    const size_t length = static_cast<size_t>(end_[group] - start_[group]);
    // A NUL inside a part of a C-string subject means the subject changed after the match.
    if (!countedSubject_ && std::memchr(start_[group], '\0', length) != nullptr) {
      out.resize(mark);
      Fail("damaged match string");
      return;
    }
    out.append(start_[group], length);
  }
}

std::string_view Regex::Group(int n) const {
  if (!GroupMatched(n)) return {};
  return {start_[n], static_cast<size_t>(end_[n] - start_[n])};
}

bool Regex::GroupMatched(int n) const {
  return n >= 0 && n < kGroupCount && start_[n] != nullptr && end_[n] != nullptr;
}

}  // namespace quillo::expand
