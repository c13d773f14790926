// State of the expansion language: the calls and matches in progress, the compiled texts, the
// lists and the memo of results (see expand/expand.h).
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "expand/memo.h"
#include "expand/program.h"

namespace quillo {
struct FileEntry;

namespace expand {
class Regex;
}

/// Values of one running user-function call: slot 0 is the function's current value, slots
/// 1..n its n arguments ("$1;" .. "$n;").
struct FunctionFrame {
  std::vector<std::string> slots;
  std::vector<std::string> argumentNames;  ///< the names the arguments were passed as
  /// Per slot: non-zero when the value took in literal text (document text). A literal slot is
  /// used as it is by "$n;" instead of being expanded again. Missing entries are not literal.
  std::vector<char> literalSlots;
};

/// The texts of a match's parts: [0] the whole match, [1]..[9] its subexpressions ("" when a part
/// took no part in the match).
using SubMatchTexts = std::array<std::string, 10>;

/// A match recorded by an RMatch step in the text of a pass-1 paragraph; in pass 2 MatchRepl writes
/// the replacement in place of the matched text. Offsets count bytes of the paragraph text.
struct RecordedMatch {
  std::size_t start = 0;             ///< offset of the whole match
  std::size_t end = 0;               ///< offset just after it
  std::array<long, 10> partStart{};  ///< offset of each part, -1 when it took no part
  std::array<long, 10> partEnd{};
  SubMatchTexts parts;      ///< the texts of the parts, read as "_0".."_9" while current
  std::string replacement;  ///< expanded into the output in place of the match
};

/// One list of PushList/GetListElement: a double-ended list with a reading cursor.
struct NamedList {
  std::string name;  ///< compared without regard to case
  std::deque<std::string> elements;
  long cursor = -1;  ///< index of the element under the cursor; -1 = none (walk ended, or empty)
};

struct ExpansionState {
  /// Nesting bound of StrExp/FctExpand. A named string that refers to itself, directly or through
  /// others, would otherwise recurse until the stack overflows; legitimate translation files nest
  /// a few levels deep.
  static constexpr int kMaxDepth = 200;
  /// The trace indent shows at most this many levels.
  static constexpr int kIndentWidth = 32;

  // Lives for one top-level expansion.
  int depth = 0;       ///< nested StrExp/FctExpand calls
  std::string indent;  ///< trace indent: ' ' per StrExp level, '.' per FctExpand level
  /// Set when the nesting bound is hit: every reference still being expanded yields nothing until
  /// the outermost expansion returns, which then reports the fault. This keeps a runaway
  /// expansion linear instead of exponential ("$A;" -> "$B;$B;" -> "$A;$A;" ...).
  bool unwinding = false;
  std::string runawayReference;  ///< the reference at which the bound was hit
  bool runawayNamed = false;     ///< runawayReference names the reference, not just its text

  // Lives for one conversion.
  bool depthReported = false;  ///< the depth-limit message is given once per conversion

  // Set by the callers that own them (user functions, regex replacement).
  std::vector<FunctionFrame> frames;            ///< innermost call last
  const expand::Regex* currentMatch = nullptr;  ///< the match whose "_0".."_9" are readable
  /// A recorded match whose parts "_0".."_9" name (RMatch, MatchRepl); takes precedence over
  /// currentMatch. Points at a copy owned by the setter, so a nested use of the same compiled
  /// pattern cannot change what the names read.
  const SubMatchTexts* currentParts = nullptr;
  /// Counts every use of a literal value by name resolution. A caller that sees it change while it
  /// expands a text knows the result holds literal text and keeps that result literal too (a user
  /// function's value, a Save), so document text stays inert however it is passed on.
  unsigned long literalUses = 0;
  unsigned long literalSerial = 0;  ///< numbers the names made by LiteralReference
  /// Counts calls that reach outside the expansion language (built-ins, Script, AnchorFile and
  /// RMatch steps): a translation-file load that made none can be reused (trn/translation_cache).
  unsigned long outsideCalls = 0;

  /// Bound on the `while` iterations of one outermost user-function call (nested calls share it).
  /// A loop whose condition never fails would otherwise hang the conversion; real translation
  /// files loop over a value's characters or a short list.
  static constexpr long kMaxLoopIterations = 100000;
  long loopIterations = 0;    ///< iterations since the outermost user-function call began
  bool loopLimitHit = false;  ///< the bound was hit: every `while` ends until that call returns

  // Lives for one conversion.
  expand::ProgramCache programs;  ///< compiled expansion texts, by their text
  std::vector<NamedList> lists;   ///< PushList / GetListElement, in order of creation
  /// Reused results of user-function calls and tag texts (expand/memo.h). Emptied whenever a
  /// translation file is loaded.
  MemoState memo;
  FileEntry* userFile = nullptr;  ///< CreateFile / WriteFile / CloseFile; nullptr when none open

  /// Pass 1: the collected text of the current paragraph, kept by the translation layer (nullptr
  /// outside a paragraph). RMatch steps match against it and record their matches, newest first,
  /// in paragraphMatches, which the translation layer takes into the paragraph's record.
  const std::string* paragraphText = nullptr;
  std::vector<RecordedMatch> paragraphMatches;
};

}  // namespace quillo
