// String expansion: `$Name;` references and `$Func(args)` calls in named strings, and the
// 80-column line writer through which every output text passes. Depends on the settings store
// (name lookup), the message reporter and the file table (PutWrap's output).
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "expand/memo.h"
#include "expand/program.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace expand {
class Regex;
}

/// One entry of an output channel's tag stack: the closing text is written when it is popped.
struct TagEntry {
  int kind = 0;  ///< 1 page, 2 page body, 3 table ... 12 paragraph tag, 13 text tag, 15 anchor
  int mode = 0;
  int value = 0;
  std::string endText;  ///< expanded when popped
};

/// One output channel (main output, footnote file, generated pages).
struct OutputContext {
  static constexpr int kLineWidth = 80;
  /// Break character (blank or tab) followed by the word characters not yet written. Its size
  /// always equals `pending`.
  std::string pendingWord;
  FileEntry* file = nullptr;
  int wrap = 1;     ///< 1 = wrap at blanks
  int pending = 0;  ///< characters held in pendingWord, break character included
  int column = 0;   ///< characters written on the current line
  std::vector<TagEntry> tagStack;
  int paragraphTag = -1;
  int specialState = 0;
  int charFormat = -1;
  void Reset() { *this = OutputContext(); }
};

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
  std::string outTrnLine;      ///< line collected while OutTrn is non-empty
  bool outTrnActive = false;   ///< OutTrn was non-empty at the start of the last PutWrap call

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

/// Message code reported when the nesting bound is hit, and its default text.
inline constexpr char kMsgExpansionDepth[] = "MSG_EXPANSION_DEPTH";
inline constexpr char kMsgExpansionDepthText[] =
    "Expansion nested too deeply (over $MsgParam1; levels) at \"$MsgParam2;\" - the reference is "
    "left empty\n";

/// Debug bit that traces every StrExp and FctExpand (and so every user-function step).
inline constexpr int kDebugTraceExpansion = 16;
/// True when the expansion trace is on.
bool ExpansionTraced(const Engine& engine);
/// True when expanding `text` gives `text` itself with no other effect: it holds no "$" (so no
/// reference), the expansion trace is off and no runaway expansion is unwinding or at the nesting
/// bound. Callers with texts that are mostly plain markup use it to spare them the expander.
bool ExpandsToItself(const Engine& engine, std::string_view text);

/// Forgets all per-conversion expansion state (called at a conversion's set-up).
void ResetExpansion(Engine& engine);
/// Forgets the reused user-function results (the functions are about to change).
void ForgetCallMemo(Engine& engine);
/// Expands `text`. Without a context returns the expansion; with one writes it there (through
/// PutWrap with wrap 0) and returns "". Literal text, string references (expanded again) and
/// function results (not expanded again) are emitted in order. A "$" that begins no well-formed
/// reference makes it and the rest of the text literal.
std::string StrExp(Engine& engine, std::string_view text, OutputContext* context = nullptr);
/// StrExp into a context, result discarded.
void ExpandInto(Engine& engine, OutputContext& context, std::string_view text);
/// Runs a function call: `call` is the name, "(" and the argument list without ")". Returns the
/// result text, which the caller emits without expanding it again.
std::string FctExpand(Engine& engine, std::string_view call, OutputContext* context);
/// FctExpand of a call already split into the function name and its argument names (`call` is
/// the call text, for traces and the runaway report).
std::string CallFunction(Engine& engine, std::string_view call, const std::string& function,
                         const std::vector<std::string>& arguments, OutputContext* context);
/// Writes text to the context, wrapping at blanks at 80 columns when `wrap` is 1. Reports
/// ERR_PUTWRAP_LOGIC (fatal by default) when the context has no file.
void PutWrap(Engine& engine, std::string_view text, OutputContext& context, int wrap);
/// Writes any pending word and the OutTrn line of the context (end of an output file).
void FlushContext(Engine& engine, OutputContext& context);
/// Line end while OutTrn is non-empty: stores the collected line plus a line feed as the named
/// string OutString, expands OutTrn and writes the result to `file`; empties the line.
void OutString(Engine& engine, FileEntry* file);

/// The value a name stands for in a reference or as an argument name (not yet expanded): an
/// argument of the innermost user-function call for "1".."n", the function's current value for
/// "0", a sub-match of the current match for "_0".."_9", else the named setting. An undefined
/// name is stored in NotDefName, NotDef is expanded, and the name is defined with the result.
std::string LookupName(Engine& engine, std::string_view name);
/// LookupName that also tells whether the value is literal text: a setting marked by
/// SetLiteralSetting, or a sub-match "_0".."_9". A literal value is used as it is, never expanded.
std::string LookupName(Engine& engine, std::string_view name, bool& literal);
/// LookupName of a name already classified (expand::ClassifyName). `settingHint`, when given,
/// holds the store index the name found last and is updated: a reference resolves its name once.
std::string ResolveName(Engine& engine, std::string_view name, long argumentSlot, int subMatch,
                        int* settingHint, bool& literal);
/// Value of the named setting `name`, expanded unless it is literal (the argument value of a
/// built-in or of a user-function call).
std::string ArgumentValue(Engine& engine, std::string_view name);
/// Stores `text` as a literal setting under a fresh engine-made name and returns a reference to it
/// ("$name;"), which expands to `text` unchanged. For handing literal text to code that expands
/// what it is given (a tag's start and end texts, say).
std::string LiteralReference(Engine& engine, std::string_view text);
/// Text of sub-match `n` (0..9) of the current match (currentParts, else currentMatch). False when
/// no match is current.
bool CurrentSubMatch(const Engine& engine, int n, std::string& text);

// Nesting bookkeeping shared by StrExp and FctExpand.
/// Enters one nesting level for `text`, marking the trace indent with `indentMark`. Returns false
/// (and enters nothing) when the expansion is unwinding or the bound is hit; the caller then yields
/// nothing.
bool EnterExpansion(Engine& engine, char indentMark, std::string_view text);
/// Leaves the level entered by EnterExpansion; the outermost level reports a runaway expansion.
void LeaveExpansion(Engine& engine);

/// One nesting level held for the duration of a StrExp or FctExpand call. A fatal message thrown
/// while it is held still leaves the level (quietly), so an abandoned conversion leaves no depth
/// behind for later expansions.
class ExpansionLevel {
 public:
  ExpansionLevel(Engine& engine, char indentMark, std::string_view text)
      : engine_(engine), entered_(EnterExpansion(engine, indentMark, text)) {}
  ~ExpansionLevel();
  ExpansionLevel(const ExpansionLevel&) = delete;
  ExpansionLevel& operator=(const ExpansionLevel&) = delete;
  /// False when the level could not be entered: the caller yields nothing.
  bool entered() const { return entered_; }
  /// Leaves normally (LeaveExpansion).
  void Leave();

 private:
  Engine& engine_;
  bool entered_;
};

}  // namespace quillo
