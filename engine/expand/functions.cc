// User functions: the call (argument binding in a FunctionFrame), the step interpreter with its
// run-time block stack, percent encoding, and MatchRepl for the matches RMatch steps record.
#include "expand/functions.h"

#include <algorithm>

#include "base/buffers.h"
#include "base/hooks.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/calculator.h"
#include "expand/expand.h"
#include "expand/functions_state.h"
#include "expand/memo.h"
#include "expand/regex.h"
#include "output/line_writer.h"

namespace quillo {
namespace {

/// Trace names of the step codes; code 7 ("function") is no step.
constexpr const char* kTraceNames[] = {
    "",       "lower",  "upper",  "encode",  "decode", "sub",        "gsub",  "function",
    "save",   "set",    "ifelse", "dbprint", "script", "anchorfile", "rpexp", "vset",
    "rmatch", "switch", "case",   "default", "end",    "while",
};

const char* TraceName(int op) {
  constexpr int kCount = static_cast<int>(sizeof kTraceNames / sizeof kTraceNames[0]);
  return op >= 0 && op < kCount ? kTraceNames[op] : "?";
}

/// Bound of the run-time block stack of one call. The loader links at most 255 open blocks and a
/// well-formed function pops what it pushes; the bound only stops functions whose jump indexes
/// were not made by the loader from growing the stack.
constexpr std::size_t kMaxRunBlocks = 4096;

constexpr char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
constexpr char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

/// A base-36 digit as Decode reads it: letters fold to upper case; anything else is 0.
constexpr int DigitValue(char c) {
  c = ToUpperAscii(c);
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 0;
}

bool Matches(FunctionStatement& statement, const std::string& subject) {
  return statement.pattern && statement.pattern->Match(subject.data(), subject.size());
}

/// Makes a set of sub-match texts current for its lifetime, restoring the previous match after
/// (also when a fatal message unwinds through it).
class CurrentPartsScope {
 public:
  CurrentPartsScope(Engine& engine, const SubMatchTexts* parts)
      : x_(engine.expansion), parts_(x_.currentParts), match_(x_.currentMatch) {
    x_.currentParts = parts;
  }
  ~CurrentPartsScope() {
    x_.currentParts = parts_;
    x_.currentMatch = match_;
  }
  CurrentPartsScope(const CurrentPartsScope&) = delete;
  CurrentPartsScope& operator=(const CurrentPartsScope&) = delete;

 private:
  ExpansionState& x_;
  const SubMatchTexts* parts_;
  const expand::Regex* match_;
};

/// True when setting `name` is refused or protects it (OverrideDefs): such a Save cannot be
/// replayed as a plain set.
bool SaveIsProtected(const Engine& engine, std::string_view name) {
  const SettingsStore& store = engine.settings;
  if (store.mirrors.overrideDefs != 0) return true;
  return !store.protectedKeys.empty() && store.protectedKeys.count(FoldedKey(name)) != 0;
}

/// Sets a named string for a Save step (or the replay of one). A value that took in document text
/// stays inert wherever the name is referenced later. Calls being recorded take the Save as an
/// event when it sets a translation-file string and no protection can refuse it; any other Save
/// (of a built-in setting, which has further effects) spoils them.
void SaveString(Engine& engine, const std::string& name, const std::string& value, bool literal) {
  ExpansionState& x = engine.expansion;
  const bool replayable = !x.memo.recordings.empty() && !SaveIsProtected(engine, name) &&
                          (engine.settings.mirrors.debug & 2) == 0;
  x.memo.replayableWrite = replayable;
  const int index =
      literal ? SetLiteralSetting(engine, name, value) : SetSetting(engine, name, value);
  x.memo.replayableWrite = false;
  if (!replayable) return;
  if (index < kSettingCount) {
    memo::NoteEffect(x);
    return;
  }
  memo::NoteRead(x, {name, value, literal, index, true});
}

/// Holds the FunctionFrame of one call on the frame stack. The outermost call also owns the
/// `while` budget, which is renewed when it returns.
class FrameScope {
 public:
  FrameScope(Engine& engine, FunctionFrame frame) : x_(engine.expansion) {
    x_.frames.push_back(std::move(frame));
    index_ = x_.frames.size() - 1;
  }
  ~FrameScope() {
    x_.frames.resize(index_);
    if (index_ == 0) {
      x_.loopIterations = 0;
      x_.loopLimitHit = false;
    }
  }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
  FunctionFrame& frame() { return x_.frames[index_]; }

 private:
  ExpansionState& x_;
  std::size_t index_ = 0;
};

/// One running user-function call.
class FunctionRun {
 public:
  FunctionRun(Engine& engine, int function, OutputContext* context, FrameScope& frame)
      : engine_(engine), function_(function), context_(context), frame_(frame) {
    const FunctionFrame& f = frame.frame();
    if (f.slots.size() > 1) {
      value_ = f.slots[1];
      literal_ = f.literalSlots.size() > 1 && f.literalSlots[1];
    }
  }

  /// Runs the steps; returns the final value. `literal` tells whether it holds literal text.
  std::string Run(bool& literal) {
    const bool trace = ExpansionTraced(engine_);
    int pc = 0;
    while (pc >= 0 && pc < StepCount()) {
      if (engine_.expansion.unwinding) break;  // a runaway expansion: nothing more is computed
      FunctionFrame& f = frame_.frame();
      f.slots[0] = value_;
      f.literalSlots[0] = literal_;
      FunctionStatement& step = Step(pc);
      if (trace)
        PrintEscaped(engine_, "%sFctExpand:step=%d,tr=%20s,in=%.256s\n",
                     engine_.expansion.indent.c_str(), pc, TraceName(step.op), value_.c_str());
      // The last Ifelse or RMatch writes straight into the caller's output.
      OutputContext* stream = pc == StepCount() - 1 && !trace ? context_ : nullptr;
      pc = Execute(pc, step, stream);
    }
    literal = literal_;
    return value_;
  }

 private:
  int StepCount() const {
    return static_cast<int>(engine_.translation.functions[function_].statements.size());
  }
  FunctionStatement& Step(int pc) {
    return engine_.translation.functions[function_].statements[pc];
  }
  /// A block jump made by the loader always points forward inside the function.
  bool ValidJump(int from, int to) const { return to > from && to < StepCount(); }

  /// Expands `text` without a context; `literal` is set when the result took in literal text.
  std::string Expand(std::string_view text, bool& literal) {
    unsigned long before = engine_.expansion.literalUses;
    std::string result = StrExp(engine_, text);
    literal = engine_.expansion.literalUses != before;
    return result;
  }
  /// Expands `text` into the new current value (into `stream` when given: the value is then empty).
  void SetValue(std::string_view text, OutputContext* stream) {
    if (stream) {
      StrExp(engine_, text, stream);
      value_.clear();
      literal_ = false;
    } else {
      value_ = Expand(text, literal_);
    }
  }

  void Push(int index) {
    if (blocks_.size() < kMaxRunBlocks) blocks_.push_back(index);
  }
  /// Continues after the index on top of the block stack (after the End of a case, or at the
  /// `while` of a loop body); with an empty stack simply at the next step.
  int PopAndContinue(int pc) {
    if (blocks_.empty()) return pc + 1;
    int target = blocks_.back();
    blocks_.pop_back();
    return target + 1;
  }

  int Execute(int pc, FunctionStatement& step, OutputContext* stream) {
    switch (step.op) {
      case kOpLower:
        std::transform(value_.begin(), value_.end(), value_.begin(), ToLowerAscii);
        return pc + 1;
      case kOpUpper:
        std::transform(value_.begin(), value_.end(), value_.begin(), ToUpperAscii);
        return pc + 1;
      case kOpEncode:
        value_ = Encode(value_, step.text1);
        return pc + 1;
      case kOpDecode:
        value_ = Decode(value_);
        return pc + 1;
      case kOpSub:
        Substitute(step, false);
        return pc + 1;
      case kOpGsub:
        Substitute(step, true);
        return pc + 1;
      case kOpSave:
        Save(pc, step);
        return pc + 1;
      case kOpSet:
        value_ = Expand(step.text1, literal_);
        return pc + 1;
      case kOpVSet:
        value_ = LookupName(engine_, step.text1, literal_);
        return pc + 1;
      case kOpIfelse: {
        bool ignored = false;
        std::string subject = Expand(step.text1, ignored);
        SetValue(Matches(step, subject) ? step.text2 : step.text3, stream);
        return pc + 1;
      }
      case kOpDBPrint: {
        std::string text = StrExp(engine_, step.text1);
        ReportMessage(engine_, "MSG_PASS_THROUGH", {text});
        return pc + 1;
      }
      case kOpScript: {
        ++engine_.expansion.outsideCalls;
        // Literal values enter the script quoted for the shell (see RunScriptStep).
        value_ =
            engine_.hooks.runScript ? engine_.hooks.runScript(engine_, step.text1) : std::string();
        literal_ = true;  // text from outside the translation file
        return pc + 1;
      }
      case kOpAnchorFile: {
        ++engine_.expansion.outsideCalls;
        bool ignored = false;
        std::string anchor = Expand(step.text1, ignored);
        value_.clear();
        if (engine_.driver.pass == 2 && !anchor.empty() && anchor[0] == '#')
          value_ = engine_.hooks.anchorFile
                       ? engine_.hooks.anchorFile(engine_, std::string_view(anchor).substr(1))
                       : std::string();
        literal_ = true;  // a file name built from heading text
        return pc + 1;
      }
      case kOpRPExp:
        value_ = RPExp(engine_, step.text1);
        literal_ = false;
        return pc + 1;
      case kOpRMatch:
        ++engine_.expansion.outsideCalls;
        RecordMatch(step, stream);
        return pc + 1;
      case kOpSwitch:
        return Switch(pc, step);
      case kOpCase:
      case kOpDefault:
      case kOpEnd:
        return PopAndContinue(pc);
      case kOpWhile:
        return While(pc, step);
      default:
        return pc + 1;  // no such step (the loader never makes one)
    }
  }

  void Substitute(FunctionStatement& step, bool global) {
    if (!step.pattern) return;
    expand::Regex& pattern = *step.pattern;
    const char* base = value_.data();
    const std::size_t n = value_.size();
    std::string out;
    std::size_t pos = 0;
    bool matched = false;
    while (pos <= n && pattern.Match(base + pos, n - pos)) {
      matched = true;
      std::size_t start = pattern.GroupStart(0) - base;
      std::size_t end = pattern.GroupEnd(0) - base;
      out.append(value_, pos, start - pos);
      pattern.Substitute(step.text1, out);
      if (!global) {
        pos = end;
        break;
      }
      if (end == start) {
        // An empty match would be found again at the same place: the byte after it is kept and
        // the next search starts behind it.
        if (end < n) out.push_back(value_[end]);
        pos = end + 1;
      } else {
        pos = end;
      }
    }
    if (!matched) return;
    if (pos < n) out.append(value_, pos, std::string::npos);
    value_ = std::move(out);
  }

  void Save(int pc, const FunctionStatement& step) {
    std::string name;
    if (!step.text1.empty() && step.text1[0] == '&') {
      // Assignment through an argument: the named string whose name was passed as argument k.
      long k = std::atol(step.text1.c_str() + 1);
      const FunctionFrame& f = frame_.frame();
      long arguments = static_cast<long>(f.slots.size()) - 1;
      if (k < 1 || k > arguments || k > static_cast<long>(f.argumentNames.size())) {
        ReportMessage(
            engine_, "MSG_INDEX_RANGE",
            {engine_.expansion.indent, pc, static_cast<int>(std::clamp(k, -1L, 999999L))});
        return;
      }
      name = f.argumentNames[k - 1];
    } else {
      name = StrExp(engine_, step.text1);
    }
    bool literal = false;
    std::string value = Expand(step.text2, literal);
    SaveString(engine_, name, value, literal);
  }

  void RecordMatch(FunctionStatement& step, OutputContext* stream) {
    ExpansionState& x = engine_.expansion;
    if (engine_.driver.pass != 1 || !x.paragraphText || x.paragraphText->empty() || !step.pattern)
      return;
    const std::string text = *x.paragraphText;  // the action may change the paragraph
    expand::Regex& pattern = *step.pattern;
    if (!pattern.Match(text.data(), text.size())) return;
    RecordedMatch match;
    match.start = pattern.GroupStart(0) - text.data();
    match.end = pattern.GroupEnd(0) - text.data();
    for (int i = 0; i < 10; ++i) {
      if (pattern.GroupMatched(i)) {
        match.partStart[i] = pattern.GroupStart(i) - text.data();
        match.partEnd[i] = pattern.GroupEnd(i) - text.data();
        match.parts[i] = std::string(pattern.Group(i));
      } else {
        match.partStart[i] = match.partEnd[i] = -1;
      }
    }
    match.replacement = step.text2;
    const SubMatchTexts parts = match.parts;  // the list may grow while the action runs
    x.paragraphMatches.insert(x.paragraphMatches.begin(), std::move(match));
    CurrentPartsScope current(engine_, &parts);
    if (stream) {
      StrExp(engine_, step.text1, stream);
    } else {
      StrExp(engine_, step.text1);
    }
  }

  int Switch(int pc, const FunctionStatement& step) {
    const int end = step.jump;
    if (!ValidJump(pc, end)) return StepCount();  // not linked by the loader: stop
    Push(end);
    const std::string subject = StrExp(engine_, step.text1);
    // Walk the Case/Default chain; every link points forward, so the walk ends.
    int k = pc + 1;
    while (k < StepCount()) {
      FunctionStatement& candidate = Step(k);
      switch (candidate.op) {
        case kOpCase:
          if (Matches(candidate, subject)) return k + 1;
          if (!ValidJump(k, candidate.jump)) return StepCount();
          k = candidate.jump;
          break;
        case kOpDefault:
          return k + 1;
        case kOpEnd:
          return PopAndContinue(k);
        default:
          return k;  // steps before the first Case run as they come
      }
    }
    return StepCount();
  }

  int While(int pc, FunctionStatement& step) {
    ExpansionState& x = engine_.expansion;
    Push(pc - 1);  // the loop's End pops this and continues at the while again
    value_ = Expand(step.text1, literal_);
    bool again = !x.loopLimitHit && Matches(step, value_);
    if (again && ++x.loopIterations > ExpansionState::kMaxLoopIterations) {
      x.loopLimitHit = true;
      again = false;
      if (FindSetting(engine_, kMsgLoopLimit) < 0)
        SetSetting(engine_, kMsgLoopLimit, kMsgLoopLimitText);
      ReportMessage(engine_, kMsgLoopLimit,
                    {engine_.translation.functions[function_].name,
                     static_cast<int>(ExpansionState::kMaxLoopIterations)});
    }
    if (again) return pc + 1;
    if (!blocks_.empty()) blocks_.pop_back();
    if (!ValidJump(pc, step.jump)) return StepCount();
    return step.jump + 1;
  }

  Engine& engine_;
  int function_;
  OutputContext* context_;
  FrameScope& frame_;
  std::string value_;     ///< V, the current value
  bool literal_ = false;  ///< V holds literal text
  std::vector<int> blocks_;
};

}  // namespace

int FindUserFunction(const Engine& engine, std::string_view name) {
  const auto& index = engine.translation.functionIndex;
  auto found = index.find(name);
  return found == index.end() ? -1 : found->second;
}

namespace {

std::string EvaluateUserFunction(Engine& engine, int index,
                                 const std::vector<std::string>& argumentNames, bool& literal);
std::string RunUserFunction(Engine& engine, int index, std::string_view call,
                            const std::vector<std::string>& argumentNames, OutputContext* context);

/// Steps that only compute the value from the names they read, or save a named string. The texts
/// of the steps may still call or reference anything; that is watched while a call runs (see
/// MemoRecording).
bool ReplayableSteps(const UserFunction& function) {
  for (const FunctionStatement& step : function.statements) {
    switch (step.op) {
      case kOpLower:
      case kOpUpper:
      case kOpEncode:
      case kOpDecode:
      case kOpSub:
      case kOpGsub:
      case kOpSet:
      case kOpVSet:
      case kOpSave:
      case kOpRPExp:
      case kOpIfelse:
      case kOpSwitch:
      case kOpCase:
      case kOpDefault:
      case kOpEnd:
        break;
      default:
        return false;
    }
  }
  return true;
}

/// Whether calls of function `index` with these arguments may be reused: the function's steps are
/// replayable, nothing traces, OverrideDefs is off, and no argument names a function frame or
/// sub-match (their values depend on the caller, not on named strings).
bool Reusable(Engine& engine, int index, const std::vector<std::string>& argumentNames) {
  ExpansionState& x = engine.expansion;
  if (ExpansionTraced(engine) || x.unwinding || engine.settings.mirrors.overrideDefs != 0)
    return false;
  if (x.memo.functionPurity.size() != engine.translation.functions.size())
    x.memo.functionPurity.assign(engine.translation.functions.size(), -1);
  signed char& pure = x.memo.functionPurity[index];
  if (pure < 0) pure = ReplayableSteps(engine.translation.functions[index]) ? 1 : 0;
  if (pure == 0) return false;
  for (const std::string& name : argumentNames) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name[0] == '_') return false;
  }
  return true;
}

/// Sets again, in order, what a reused call set.
void ReplaySaves(Engine& engine, const MemoEntry& entry) {
  for (const MemoEvent& event : entry.events)
    if (event.write) SaveString(engine, event.name, event.value, event.literal);
}

}  // namespace

std::string CallUserFunction(Engine& engine, int index, std::string_view call,
                             const std::vector<std::string>& argumentNames,
                             OutputContext* context) {
  if (index < 0 || index >= static_cast<int>(engine.translation.functions.size())) return {};
  ExpansionState& x = engine.expansion;
  if (!Reusable(engine, index, argumentNames)) {
    memo::NoteEffect(x);  // its effects cannot be replayed
    return RunUserFunction(engine, index, call, argumentNames, context);
  }

  // A reusable call gives its value; written into a context, the value goes there as the last
  // step would have streamed it.
  auto deliver = [&](const std::string& result, bool literal) -> std::string {
    if (context) {
      if (!result.empty()) PutWrap(engine, result, *context, 0);
      return {};
    }
    if (literal) ++x.literalUses;
    return result;
  };

  std::string key = std::to_string(index);
  for (const std::string& name : argumentNames) {
    key.push_back('\0');
    key.append(name);
  }
  bool literal = false;
  std::shared_ptr<const MemoEntry> entry;
  switch (memo::Lookup(engine, x.memo.calls, key, entry)) {
    case memo::Reuse::kOff:
      memo::NoteEffect(x);
      return RunUserFunction(engine, index, call, argumentNames, context);
    case memo::Reuse::kHit:
      ReplaySaves(engine, *entry);
      return deliver(entry->result, entry->resultLiteral);
    case memo::Reuse::kSkip: {
      std::string result = EvaluateUserFunction(engine, index, argumentNames, literal);
      return deliver(result, literal);
    }
    case memo::Reuse::kRecord:
      break;
  }
  std::string result = memo::Record(engine, x.memo.calls, key, literal, [&](bool& literalResult) {
    return EvaluateUserFunction(engine, index, argumentNames, literalResult);
  });
  return deliver(result, literal);
}

std::string ExpandReusing(Engine& engine, std::string_view text,
                          std::shared_ptr<const MemoEntry>* used) {
  ExpansionState& x = engine.expansion;
  std::shared_ptr<const MemoEntry> entry;
  switch (memo::Lookup(engine, x.memo.texts, text, entry)) {
    case memo::Reuse::kHit:
      ReplaySaves(engine, *entry);
      if (used) *used = entry;
      return entry->result;
    case memo::Reuse::kOff:
    case memo::Reuse::kSkip:
      return StrExp(engine, text);
    case memo::Reuse::kRecord:
      break;
  }
  // The text may live in the settings store, which the expansion can move: keep a copy.
  const std::string copy(text);
  bool literal = false;
  return memo::Record(
      engine, x.memo.texts, copy, literal, [&](bool&) { return StrExp(engine, copy); }, used);
}

namespace {

/// The frame of a call: its arguments evaluated in the caller's frame ("$1;" as an argument is
/// the caller's first), traced when `trace` is set.
FunctionFrame BindArguments(Engine& engine, const std::vector<std::string>& argumentNames,
                            bool trace) {
  ExpansionState& x = engine.expansion;
  FunctionFrame frame;
  frame.slots.emplace_back();
  frame.literalSlots.push_back(0);
  for (const std::string& name : argumentNames) {
    unsigned long before = x.literalUses;
    std::string value = ArgumentValue(engine, name);
    frame.literalSlots.push_back(x.literalUses != before);
    if (trace)
      PrintEscaped(engine, "%sFctExpand:Arg%d=%.256s\n", x.indent.c_str(),
                   static_cast<int>(frame.slots.size()), value.c_str());
    frame.slots.push_back(std::move(value));
    frame.argumentNames.push_back(name);
  }
  return frame;
}

/// The arguments (in the caller's frame) and the steps of a call, without a context.
std::string EvaluateUserFunction(Engine& engine, int index,
                                 const std::vector<std::string>& argumentNames, bool& literal) {
  FrameScope scope(engine, BindArguments(engine, argumentNames, false));
  FunctionRun run(engine, index, nullptr, scope);
  return run.Run(literal);
}

/// A call as it is made without reuse: arguments, steps (the last one streaming into `context`
/// when given), trace.
std::string RunUserFunction(Engine& engine, int index, std::string_view call,
                            const std::vector<std::string>& argumentNames, OutputContext* context) {
  ExpansionState& x = engine.expansion;
  const bool trace = ExpansionTraced(engine);

  FunctionFrame frame = BindArguments(engine, argumentNames, trace);

  std::string result;
  bool literal = false;
  {
    FrameScope scope(engine, std::move(frame));
    FunctionRun run(engine, index, context, scope);
    result = run.Run(literal);
  }
  // A result that holds document text counts as a use of literal text for whoever expands it.
  if (literal) ++x.literalUses;
  if (trace) {
    std::string callText(call);
    PrintEscaped(engine, "%sFctExpand:%s,return=%.256s\n", x.indent.c_str(), callText.c_str(),
                 result.c_str());
  }
  return result;
}

}  // namespace

std::string Encode(std::string_view text, std::string_view extra) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte > 126 || extra.find(c) != std::string_view::npos) {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(
          static_cast<char>((DigitValue(text[i + 1]) * 16 + DigitValue(text[i + 2])) & 127));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool MatchRepl(Engine& engine, OutputContext& context, std::string_view piece,
               ParagraphReplay& replay, const MatchReplHooks& hooks) {
  auto writeNormally = [&](std::string_view text) {
    if (text.empty()) return;
    if (hooks.writeText) {
      hooks.writeText(engine, context, text);
    } else {
      PutWrap(engine, text, context, context.wrap);
    }
  };
  const std::size_t base = replay.written.size();  // paragraph offset of the piece
  const std::size_t n = piece.size();
  bool handled = false;
  std::size_t pos = 0;  // offset in the piece of what is not yet dealt with
  if (replay.matches) {
    while (pos < n) {
      // The match that touches the rest of the piece first; of two starting at the same place
      // the one recorded first in the list (the newest).
      const RecordedMatch* match = nullptr;
      for (const RecordedMatch& candidate : *replay.matches) {
        if (candidate.end > candidate.start && candidate.start < base + n &&
            candidate.end > base + pos &&
            (!match || std::max(candidate.start, base + pos) < std::max(match->start, base + pos)))
          match = &candidate;
      }
      if (!match) break;
      handled = true;
      if (match->start > base + pos) {
        writeNormally(piece.substr(pos, match->start - base - pos));
        pos = match->start - base;
      }
      const std::size_t matchEnd = match->end;
      if (match->start == base + pos) {
        // Copies: the expansion may reach code that changes the paragraph's records.
        const SubMatchTexts parts = match->parts;
        const std::string replacement = match->replacement;
        SetLiteralSetting(engine, "MatchRepl", parts[0]);
        CurrentPartsScope current(engine, &parts);
        if (hooks.applyFormatting) hooks.applyFormatting(engine, context);
        StrExp(engine, replacement, &context);
      }
      // The rest of the match is not written; every pass moves past one match end.
      pos = std::min(n, matchEnd - base);
    }
    if (handled && pos < n) writeNormally(piece.substr(pos));
  }
  replay.written.append(piece);
  return handled;
}

}  // namespace quillo
