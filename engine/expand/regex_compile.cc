// The regular-expression compiler: turns a pattern into a program of nodes (Spencer's layout,
// regex_layout.h) that the matcher in regex.cc walks.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "engine.h"
#include "expand/regex.h"
#include "expand/regex_layout.h"

namespace quillo::expand {

using namespace regex_layout;

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

}  // namespace quillo::expand
