// The program layout shared by the regular-expression compiler (regex_compile.cc) and matcher
// (regex.cc): opcodes, node header and the walks over nodes.
#pragma once

#include <string_view>

namespace quillo::expand::regex_layout {

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

inline bool IsRepeatOperator(char c) { return c == '*' || c == '+' || c == '?'; }

inline int NextNode(const unsigned char* program, int node) {
  const int offset = (program[node + 1] << 8) | program[node + 2];
  if (offset == 0) return kNone;
  return program[node] == kBack ? node - offset : node + offset;
}

inline int OperandOf(int node) { return node + kNodeHeader; }

inline int LiteralLength(const unsigned char* program, int node) {
  return (program[node + 3] << 8) | program[node + 4];
}

inline const unsigned char* LiteralBytes(const unsigned char* program, int node) {
  return program + node + 5;
}

inline bool InSet(const unsigned char* set, unsigned char c) {
  return (set[c >> 3] >> (c & 7)) & 1;
}

/// Size of the node at `node` including its operand (a kBranch/kStar/kPlus operand is a node of
/// its own and not counted).
inline int NodeSize(const unsigned char* program, int node) {
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

}  // namespace quillo::expand::regex_layout
