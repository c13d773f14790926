// The regular-expression engine: compiles a pattern into a program of nodes (Spencer's layout) and
// matches it with a backtracking walk whose choice points live on a heap stack, so that neither
// the subject length nor the pattern can exhaust the call stack. A step budget and a memo of
// failed (alternative, position) pairs keep hostile patterns from running for exponential time.
#include "expand/regex.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/messages.h"
#include "engine.h"

namespace quillo::expand {
namespace {

// ---------------------------------------------------------------------------------------------
// Program layout
//
// Byte 0 is kMagic. Every node is an opcode byte, a two-byte offset to the next node (high byte
// first; 0 = no next node; a kBack node's offset points backwards) and an operand:
//   kExactly: two-byte length (high byte first), then the literal bytes;
//   kAnyOf, kAnyBut: a 32-byte bitmap of the set;
//   kBranch: the first node of its alternative; the next node is the following alternative's
//            kBranch, or the node after the whole alternation;
//   kStar, kPlus: the one-character-wide node that repeats.

constexpr unsigned char kMagic = 0x9C;

enum Op : unsigned char {
  kEnd = 0,      // end of the program: a match
  kBol = 1,      // beginning of the subject
  kEol = 2,      // end of the subject
  kAny = 3,      // any one character
  kAnyOf = 4,    // one character of the set
  kAnyBut = 5,   // one character not in the set
  kBranch = 6,   // an alternative; the next kBranch holds the following one
  kBack = 7,     // jump back to a loop head
  kExactly = 8,  // literal run
  kNothing = 9,  // matches the empty string
  kStar = 10,    // one-character operand, zero or more times, greedy
  kPlus = 11,    // one-character operand, one or more times, greedy
  kOpen = 20,    // kOpen + n: start of subexpression n
  kClose = 30,   // kClose + n: end of subexpression n
};

constexpr int kNodeHeader = 3;
constexpr int kSetBytes = 32;
constexpr int kGroupCount = 10;  // the whole match and subexpressions 1..9

// Next-node offsets are 16 bits wide (and signed in the classic layout), so a program must stay
// below this size.
constexpr size_t kMaxProgram = 32767;

// Flags passed up while compiling.
constexpr int kHasWidth = 1;  // never matches the empty string
constexpr int kSimple = 2;    // exactly one character wide, so kStar/kPlus can count it
constexpr int kSpStart = 4;   // begins with a "*" or "+" piece

constexpr int kNone = -1;  // no node
constexpr int kDummy = 0;  // node handle while measuring (offset 0 is the magic byte)

constexpr std::string_view kMeta = "^$.[()|?+*\\";

bool IsRepeatOperator(char c) { return c == '*' || c == '+' || c == '?'; }

int NextNode(const unsigned char* program, int node) {
  const int offset = (program[node + 1] << 8) | program[node + 2];
  if (offset == 0) return kNone;
  return program[node] == kBack ? node - offset : node + offset;
}

int OperandOf(int node) { return node + kNodeHeader; }

int LiteralLength(const unsigned char* program, int node) {
  return (program[node + 3] << 8) | program[node + 4];
}

const unsigned char* LiteralBytes(const unsigned char* program, int node) {
  return program + node + 5;
}

bool InSet(const unsigned char* set, unsigned char c) { return (set[c >> 3] >> (c & 7)) & 1; }

/// Size of the node at `node` including its operand (a kBranch/kStar/kPlus operand is a node of
/// its own and not counted).
int NodeSize(const unsigned char* program, int node) {
  switch (program[node]) {
    case kExactly:
      return kNodeHeader + 2 + LiteralLength(program, node);
    case kAnyOf:
    case kAnyBut:
      return kNodeHeader + kSetBytes;
    default:
      return kNodeHeader;
  }
}

struct CompileError {
  const char* text;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Compiler
//
// A recursive-descent parser that runs twice: the first run only measures the program, the second
// writes it into storage of exactly that size. Recursion follows parentheses only, and at most 9
// can be open, so its depth is bounded whatever the pattern.

class RegexCompiler {
 public:
  RegexCompiler(std::string_view pattern, std::vector<unsigned char>* program)
      : pattern_(pattern), program_(program), measuring_(program == nullptr) {}

  /// Parses the whole pattern; returns the flags of the top level. Throws CompileError.
  int Run() {
    Byte(kMagic);
    int flags = 0;
    Reg(false, &flags);
    return flags;
  }
  size_t size() const { return measuring_ ? size_ : program_->size(); }

 private:
  [[noreturn]] static void Fail(const char* text) { throw CompileError{text}; }
  char Peek() const { return pos_ < pattern_.size() ? pattern_[pos_] : '\0'; }

  int Reg(bool paren, int* flagp);
  int Branch(int* flagp);
  int Piece(int* flagp);
  int Atom(int* flagp);
  int Set(int* flagp);

  int Node(int op);
  void Byte(unsigned char b);
  void Insert(int op, int operand);
  int Next(int node) const {
    return measuring_ || node == kDummy ? kNone : NextNode(program_->data(), node);
  }
  void Tail(int node, int target);
  void OperandTail(int node, int target);

  std::string_view pattern_;
  size_t pos_ = 0;
  std::vector<unsigned char>* program_;  // null while measuring
  bool measuring_;
  size_t size_ = 0;  // program size counted while measuring
  int groups_ = 1;   // next subexpression number
};

int RegexCompiler::Node(int op) {
  if (measuring_) {
    size_ += kNodeHeader;
    return kDummy;
  }
  const int at = static_cast<int>(program_->size());
  program_->push_back(static_cast<unsigned char>(op));
  program_->push_back(0);
  program_->push_back(0);
  return at;
}

void RegexCompiler::Byte(unsigned char b) {
  if (measuring_) {
    ++size_;
  } else {
    program_->push_back(b);
  }
}

// Puts a node of `op` in front of the operand at `operand`, moving the operand up.
void RegexCompiler::Insert(int op, int operand) {
  if (measuring_) {
    size_ += kNodeHeader;
    return;
  }
  const unsigned char node[kNodeHeader] = {static_cast<unsigned char>(op), 0, 0};
  program_->insert(program_->begin() + operand, node, node + kNodeHeader);
}

// Sets the next pointer of the last node of the chain that starts at `node`.
void RegexCompiler::Tail(int node, int target) {
  if (measuring_ || node == kDummy) return;
  int scan = node;
  for (int next = Next(scan); next != kNone; next = Next(scan)) scan = next;
  unsigned char* program = program_->data();
  const int offset = program[scan] == kBack ? scan - target : target - scan;
  // The measured size is below kMaxProgram, so every offset fits; anything else is a fault here.
  if (offset < 0 || offset > 0xFFFF) Fail("internal disaster");
  program[scan + 1] = static_cast<unsigned char>(offset >> 8);
  program[scan + 2] = static_cast<unsigned char>(offset & 0xFF);
}

// Tail() on the operand of a kBranch node; nothing for other nodes.
void RegexCompiler::OperandTail(int node, int target) {
  if (measuring_ || node == kDummy || node == kNone || (*program_)[node] != kBranch) return;
  Tail(OperandOf(node), target);
}

// expression: branch ("|" branch)*, optionally in parentheses.
int RegexCompiler::Reg(bool paren, int* flagp) {
  *flagp = kHasWidth;
  int ret = kNone;
  int group = 0;
  if (paren) {
    if (groups_ >= kGroupCount) Fail("too many ()");
    group = groups_++;
    ret = Node(kOpen + group);
  }

  int flags = 0;
  int branch = Branch(&flags);
  int last = branch;  // the last kBranch of the chain, whose next pointer is still open
  if (ret != kNone) {
    Tail(ret, branch);
  } else {
    ret = branch;
  }
  if (!(flags & kHasWidth)) *flagp &= ~kHasWidth;
  *flagp |= flags & kSpStart;
  while (Peek() == '|') {
    ++pos_;
    branch = Branch(&flags);
    Tail(last, branch);
    last = branch;
    if (!(flags & kHasWidth)) *flagp &= ~kHasWidth;
    *flagp |= flags & kSpStart;
  }

  const int ender = Node(paren ? kClose + group : kEnd);
  Tail(last, ender);
  // Every alternative continues after the whole alternation.
  for (int scan = ret; scan != kNone; scan = Next(scan)) OperandTail(scan, ender);

  if (paren) {
    if (Peek() != ')') Fail("unmatched ()");
    ++pos_;
  } else if (pos_ < pattern_.size()) {
    Fail(Peek() == ')' ? "unmatched ()" : "junk on end");
  }
  return ret;
}

// branch: piece*, written as a kBranch node followed by the pieces.
int RegexCompiler::Branch(int* flagp) {
  *flagp = 0;
  const int ret = Node(kBranch);
  int chain = kNone;
  while (pos_ < pattern_.size() && Peek() != '|' && Peek() != ')') {
    int flags = 0;
    const int latest = Piece(&flags);
    *flagp |= flags & kHasWidth;
    if (chain == kNone) {
      *flagp |= flags & kSpStart;
    } else {
      Tail(chain, latest);
    }
    chain = latest;
  }
  if (chain == kNone) Node(kNothing);  // an empty branch matches the empty string
  return ret;
}

// piece: atom, optionally followed by "*", "+" or "?".
int RegexCompiler::Piece(int* flagp) {
  int flags = 0;
  const int ret = Atom(&flags);
  const char op = Peek();
  if (!IsRepeatOperator(op)) {
    *flagp = flags;
    return ret;
  }
  // Repeating something that can match nothing would loop without progress.
  if (!(flags & kHasWidth) && op != '?') Fail("*+ operand could be empty");
  *flagp = op == '+' ? (kHasWidth | kSpStart) : op == '*' ? kSpStart : 0;

  if (op == '*' && (flags & kSimple)) {
    Insert(kStar, ret);
  } else if (op == '*') {
    // x* becomes a loop: BRANCH(x BACK->loop) BRANCH(NOTHING).
    Insert(kBranch, ret);
    OperandTail(ret, Node(kBack));
    OperandTail(ret, ret);
    Tail(ret, Node(kBranch));
    Tail(ret, Node(kNothing));
  } else if (op == '+' && (flags & kSimple)) {
    Insert(kPlus, ret);
  } else if (op == '+') {
    // x+ becomes x followed by a loop back to it: x BRANCH(BACK->x) BRANCH(NOTHING).
    const int next = Node(kBranch);
    Tail(ret, next);
    Tail(Node(kBack), ret);
    Tail(next, Node(kBranch));
    Tail(ret, Node(kNothing));
  } else {
    // x? becomes BRANCH(x) BRANCH(NOTHING).
    Insert(kBranch, ret);
    Tail(ret, Node(kBranch));
    const int next = Node(kNothing);
    Tail(ret, next);
    OperandTail(ret, next);
  }
  ++pos_;
  if (IsRepeatOperator(Peek())) Fail("nested *?+");
  return ret;
}

int RegexCompiler::Atom(int* flagp) {
  *flagp = 0;
  const char c = Peek();
  ++pos_;
  switch (c) {
    case '^':
      return Node(kBol);
    case '$':
      return Node(kEol);
    case '.':
      *flagp |= kHasWidth | kSimple;
      return Node(kAny);
    case '[':
      return Set(flagp);
    case '(': {
      int flags = 0;
      const int ret = Reg(true, &flags);
      *flagp |= flags & (kHasWidth | kSpStart);
      return ret;
    }
    case '\0':
    case '|':
    case ')':
      Fail("internal urp");  // Branch() stops before these
    case '?':
    case '+':
    case '*':
      Fail("?+* follows nothing");
    case '\\': {
      if (pos_ >= pattern_.size()) Fail("trailing \\");
      const int ret = Node(kExactly);
      Byte(0);
      Byte(1);
      Byte(static_cast<unsigned char>(pattern_[pos_++]));
      *flagp |= kHasWidth | kSimple;
      return ret;
    }
    default: {
      --pos_;
      size_t length = 0;
      while (pos_ + length < pattern_.size() && kMeta.find(pattern_[pos_ + length]) == kMeta.npos) {
        ++length;
      }
      if (length == 0) Fail("internal disaster");
      // A run before "*", "+" or "?" leaves its last character to the operator.
      if (length > 1 && pos_ + length < pattern_.size() &&
          IsRepeatOperator(pattern_[pos_ + length])) {
        --length;
      }
      *flagp |= kHasWidth;
      if (length == 1) *flagp |= kSimple;
      const int ret = Node(kExactly);
      // A run longer than 0xFFFF bytes makes the program too big, which the measuring pass
      // reports before anything is written.
      Byte(static_cast<unsigned char>((length >> 8) & 0xFF));
      Byte(static_cast<unsigned char>(length & 0xFF));
      for (size_t i = 0; i < length; ++i) Byte(static_cast<unsigned char>(pattern_[pos_ + i]));
      pos_ += length;
      return ret;
    }
  }
}

// set: after "[": optional "^", then members up to "]". A "]" or "-" first is literal, as is a
// "-" last; "a-z" is a range whose start is the character written before the "-".
int RegexCompiler::Set(int* flagp) {
  unsigned char bits[kSetBytes] = {};
  auto add = [&bits](unsigned c) { bits[c >> 3] |= static_cast<unsigned char>(1u << (c & 7)); };
  auto at = [this](size_t i) { return static_cast<unsigned char>(pattern_[i]); };

  int op = kAnyOf;
  if (Peek() == '^') {
    op = kAnyBut;
    ++pos_;
  }
  if (Peek() == ']' || Peek() == '-') add(at(pos_++));
  while (pos_ < pattern_.size() && Peek() != ']') {
    if (Peek() != '-') {
      add(at(pos_++));
      continue;
    }
    ++pos_;
    if (pos_ >= pattern_.size() || Peek() == ']') {
      add('-');
      continue;
    }
    const unsigned first = at(pos_ - 2);
    const unsigned last = at(pos_);
    if (first > last) Fail("invalid [] range");
    for (unsigned member = first; member <= last; ++member) add(member);
    ++pos_;
  }
  if (Peek() != ']') Fail("unmatched []");
  ++pos_;

  const int ret = Node(op);
  for (unsigned char b : bits) Byte(b);
  *flagp |= kHasWidth | kSimple;
  return ret;
}

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

// ---------------------------------------------------------------------------------------------
// Regex

namespace {

/// Reads a pattern made only of branches "^literal$" (literal bytes and "\c" escapes, no other
/// operator) into the literals. False for any other pattern.
bool ReadExactLiterals(std::string_view pattern, std::vector<std::string>& literals) {
  literals.clear();
  std::size_t i = 0;
  while (true) {
    if (i >= pattern.size() || pattern[i] != '^') return false;
    ++i;
    std::string literal;
    while (true) {
      if (i >= pattern.size()) return false;  // no closing "$"
      const char c = pattern[i];
      if (c == '$') {
        ++i;
        break;
      }
      if (c == '\\') {
        if (i + 1 >= pattern.size()) return false;
        literal.push_back(pattern[i + 1]);
        i += 2;
        continue;
      }
      if (kMeta.find(c) != kMeta.npos) return false;
      literal.push_back(c);
      ++i;
    }
    literals.push_back(std::move(literal));
    if (i == pattern.size()) return true;
    if (pattern[i] != '|') return false;
    ++i;
  }
}

}  // namespace

std::unique_ptr<Regex> Regex::TryCompile(std::string_view pattern, std::string* error) {
  const char* failure = nullptr;
  std::unique_ptr<Regex> regex;
  try {
    if (pattern.data() == nullptr) throw CompileError{"NULL argument"};
    // Patterns are C strings: the text ends at a NUL byte.
    pattern = pattern.substr(0, pattern.find('\0'));

    RegexCompiler measure(pattern, nullptr);
    measure.Run();
    if (measure.size() >= kMaxProgram) throw CompileError{"regexp too big"};

    regex.reset(new Regex());
    std::vector<unsigned char>& program = regex->program_;
    program.reserve(measure.size());
    RegexCompiler write(pattern, &program);
    const int flags = write.Run();
    if (program.size() != measure.size()) throw CompileError{"internal disaster"};

    // Optimisation data, only for a single top-level alternative.
    const unsigned char* code = program.data();
    const int next = NextNode(code, 1);
    if (next != kNone && code[next] == kEnd) {
      int scan = OperandOf(1);
      if (code[scan] == kExactly) {
        regex->firstChar_ = LiteralBytes(code, scan)[0];
      } else if (code[scan] == kBol) {
        regex->anchored_ = true;
      }
      if (flags & kSpStart) {
        // Every node on the top-level chain must match, so its longest literal (the last of equal
        // length) is in every match.
        for (; scan != kNone; scan = NextNode(code, scan)) {
          if (code[scan] == kExactly && LiteralLength(code, scan) >= regex->mustLength_) {
            regex->mustOffset_ = scan + 5;
            regex->mustLength_ = LiteralLength(code, scan);
          }
        }
      }
    }

    // Every node that opens a choice (a kBranch with alternatives, a kStar or kPlus) gets a memo
    // row.
    regex->memoSlot_.assign(program.size(), -1);
    for (int node = 1; node < static_cast<int>(program.size()); node += NodeSize(code, node)) {
      const int following = NextNode(code, node);
      const bool choice =
          code[node] == kStar || code[node] == kPlus ||
          (code[node] == kBranch && following != kNone && code[following] == kBranch);
      if (choice) regex->memoSlot_[node] = static_cast<int16_t>(regex->memoSlots_++);
    }

    regex->exactOnly_ = ReadExactLiterals(pattern, regex->exactTexts_);

    // A pattern that begins with a repeated character lets the search skip start positions.
    const int only = NextNode(code, 1);
    if (only != kNone && code[only] == kEnd &&
        (code[OperandOf(1)] == kStar || code[OperandOf(1)] == kPlus)) {
      regex->leadingRepeat_ = OperandOf(1);
    }
  } catch (const CompileError& e) {
    failure = e.text;
  } catch (const std::bad_alloc&) {
    failure = "out of space";
  }
  if (failure != nullptr) {
    if (error != nullptr) *error = failure;
    return nullptr;
  }
  return regex;
}

std::unique_ptr<Regex> Regex::Compile(Engine* engine, std::string_view pattern) {
  std::string error;
  std::unique_ptr<Regex> regex = TryCompile(pattern, &error);
  if (regex == nullptr) {
    if (engine != nullptr) {
      // The reason is the message's parameter; the fatal text adds where the reader was.
      ReportMessage(*engine, "MSG_BAD_PROG_LOGIC", {error});
      FatalText(*engine, "%s", "");
    }
    return nullptr;
  }
  regex->engine_ = engine;
  return regex;
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
