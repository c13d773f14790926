// User functions of the translation file's .Functions section: binding the arguments of a call,
// running the steps (value transforms, assignments, Ifelse/Switch/while blocks, RMatch), the
// percent encoding of Encode/Decode, and MatchRepl, which writes RMatch replacements in pass 2.
// Depends on string expansion, the regex engine, the calculator and the settings store.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expand/expand.h"

namespace quillo {
struct Engine;
struct MemoEntry;
struct OutputContext;

/// Message code reported when the `while` bound is hit, and its default text.
inline constexpr char kMsgLoopLimit[] = "MSG_LOOP_LIMIT";
inline constexpr char kMsgLoopLimitText[] =
    "Loop in function $MsgParam1; stopped after $MsgParam2; iterations - the loop is left\n";

/// Index in engine.translation.functions of the user function called `name` (any case); of two
/// functions of one name the one defined last. -1 when there is none.
int FindUserFunction(const Engine& engine, std::string_view name);

/// Runs user function `index` for the call text `call` (used in traces) with the names of its
/// arguments. The argument values are evaluated in the caller's frame, in order. With a context,
/// a last Ifelse or RMatch step writes its expansion there and the result is empty. Returns the
/// function's final value (not to be expanded again).
std::string CallUserFunction(Engine& engine, int index, std::string_view call,
                             const std::vector<std::string>& argumentNames, OutputContext* context);
/// StrExp of `text` without a context, reusing the result of an earlier expansion of the same
/// text while every name it read still gives the same value. Only expansions that did nothing but
/// read names are reused; any other expansion runs every time. `used`, when given, is set to the
/// memo entry the result came from or was kept as (none when it was neither).
std::string ExpandReusing(Engine& engine, std::string_view text,
                          std::shared_ptr<const MemoEntry>* used = nullptr);

/// Percent-encodes: every byte below 32 or above 126 and every byte in `extra` becomes "%" and two
/// upper-case hexadecimal digits.
std::string Encode(std::string_view text, std::string_view extra);
/// Percent-decodes: "%" with two more characters after it becomes one byte, (first * 16 + second)
/// AND 127, each read as a base-36 digit (anything else 0); everything else is copied.
std::string Decode(std::string_view text);

/// What MatchRepl needs of the paragraph being written in pass 2.
struct ParagraphReplay {
  /// The matches recorded for the paragraph in pass 1, newest first (none: nullptr).
  const std::vector<RecordedMatch>* matches = nullptr;
  /// The paragraph text written so far; every piece offered to MatchRepl is appended.
  std::string written;
};

/// The translation layer's side of MatchRepl.
struct MatchReplHooks {
  /// Writes text "normally" (the usual text path); nullptr: PutWrap with the context's wrap flag.
  void (*writeText)(Engine&, OutputContext&, std::string_view) = nullptr;
  /// Applies the current formatting before a replacement is written; nullptr: nothing.
  void (*applyFormatting)(Engine&, OutputContext&) = nullptr;
};

/// Offers a piece of paragraph text to the recorded matches, taking them in the order they touch
/// the piece (of two starting at one place, the one first in the list). Parts of the piece outside
/// every match are written through hooks.writeText; where a match starts, the matched text is
/// stored as the literal setting MatchRepl, the match becomes current ("_0".."_9"), the formatting
/// is applied and the replacement is expanded into the context without wrapping; text inside a
/// match is not written. Returns false (writing nothing) when no match overlaps the piece: the
/// caller then writes it itself. The piece is appended to replay.written either way.
bool MatchRepl(Engine& engine, OutputContext& context, std::string_view piece,
               ParagraphReplay& replay, const MatchReplHooks& hooks = {});

}  // namespace quillo
