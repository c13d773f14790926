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

#include "expand/expand_state.h"
#include "expand/memo.h"
#include "expand/program.h"
#include "output/line_writer.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace expand {
class Regex;
}

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
