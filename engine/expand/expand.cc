// String expansion (StrExp) and name resolution. Function calls are run by FctExpand in
// builtins.cc.
#include "expand/expand.h"

#include <algorithm>
#include <cstring>

#include "base/buffers.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/memo.h"
#include "expand/program.h"
#include "expand/regex.h"
#include "output/line_writer.h"

namespace quillo {

// ---- Nesting ------------------------------------------------------------------------------------

bool EnterExpansion(Engine& engine, char indentMark, std::string_view text) {
  ExpansionState& x = engine.expansion;
  if (x.unwinding) return false;
  if (x.depth >= ExpansionState::kMaxDepth) {
    x.unwinding = true;
    x.runawayReference = std::string(text.substr(0, 80));
    x.runawayNamed = false;
    return false;
  }
  int d = x.depth;
  if (d < ExpansionState::kIndentWidth) {
    // The indent holds one mark per level below the width, so the new mark normally goes last.
    if (static_cast<int>(x.indent.size()) == d) {
      x.indent.push_back(indentMark);
    } else {
      x.indent.resize(d + 1);
      x.indent[d] = indentMark;
    }
  }
  ++x.depth;
  ++x.memo.epoch;  // the expansion may change what built-in settings compute to
  if (x.depth > x.memo.deepestLevel) x.memo.deepestLevel = x.depth;
  return true;
}

namespace {

/// Lowers the depth and clears the indent mark of the level; returns true when a runaway
/// expansion has just unwound to the outermost level.
bool DropLevel(ExpansionState& x) {
  --x.depth;
  if (x.depth < ExpansionState::kIndentWidth) {
    const int size = static_cast<int>(x.indent.size());
    if (size == x.depth + 1) {
      x.indent.pop_back();
    } else if (size > x.depth) {
      x.indent.resize(x.depth);
    }
  }
  if (x.depth > 0 || !x.unwinding) return false;
  x.unwinding = false;
  return true;
}

}  // namespace

ExpansionLevel::~ExpansionLevel() {
  if (!entered_) return;
  ExpansionState& x = engine_.expansion;
  if (DropLevel(x)) x.runawayReference.clear();
}

void ExpansionLevel::Leave() {
  if (!entered_) return;
  entered_ = false;
  LeaveExpansion(engine_);
}

void LeaveExpansion(Engine& engine) {
  ExpansionState& x = engine.expansion;
  if (!DropLevel(x)) return;
  std::string reference = std::move(x.runawayReference);
  x.runawayReference.clear();
  if (x.depthReported) return;
  x.depthReported = true;
  if (FindSetting(engine, kMsgExpansionDepth) < 0)
    SetSetting(engine, kMsgExpansionDepth, kMsgExpansionDepthText);
  ReportMessage(engine, kMsgExpansionDepth, {ExpansionState::kMaxDepth, reference});
}

void ResetExpansion(Engine& engine) {
  // Compiled programs depend on nothing but their text, so the next conversion keeps them (each
  // engine has its own). A cache that a document filled with texts of its own is emptied, so
  // that the translation file's texts find room again.
  expand::ProgramCache programs = std::move(engine.expansion.programs);
  if (programs.size() > expand::ProgramCache::kMaxPrograms / 4 ||
      programs.bytes() > expand::ProgramCache::kMaxBytes / 4)
    programs.Clear();
  engine.expansion = ExpansionState();
  engine.expansion.programs = std::move(programs);
  ResetOutput(engine);
}

bool ExpansionTraced(const Engine& engine) {
  return (engine.settings.mirrors.debug & kDebugTraceExpansion) != 0;
}

bool ExpandsToItself(const Engine& engine, std::string_view text) {
  const ExpansionState& x = engine.expansion;
  return text.find('$') == std::string_view::npos && !ExpansionTraced(engine) && !x.unwinding &&
         x.depth < ExpansionState::kMaxDepth;
}

void ForgetCallMemo(Engine& engine) {
  ExpansionState& x = engine.expansion;
  x.memo.calls.clear();
  x.memo.texts.clear();
  x.memo.bytes = 0;
  x.memo.functionPurity.clear();
  memo::NoteEffect(x);
}

// ---- Name resolution ----------------------------------------------------------------------------

bool CurrentSubMatch(const Engine& engine, int n, std::string& text) {
  const ExpansionState& x = engine.expansion;
  if (n < 0 || n > 9) return false;
  if (x.currentParts) {
    text = (*x.currentParts)[n];
    return true;
  }
  if (x.currentMatch) {
    text = std::string(x.currentMatch->Group(n));
    return true;
  }
  return false;
}

std::string LiteralReference(Engine& engine, std::string_view text) {
  std::string name = "_Literal_" + std::to_string(++engine.expansion.literalSerial);
  SetUnprotected(engine, name, text);
  engine.settings.literalIndexes.insert(FindSetting(engine, name));
  return "$" + name + ";";
}

std::string LookupName(Engine& engine, std::string_view name) {
  bool literal = false;
  return LookupName(engine, name, literal);
}

std::string LookupName(Engine& engine, std::string_view name, bool& literal) {
  long argumentSlot = -1;
  int subMatch = -1;
  expand::ClassifyName(name, argumentSlot, subMatch);
  return ResolveName(engine, name, argumentSlot, subMatch, nullptr, literal);
}

std::string ResolveName(Engine& engine, std::string_view name, long argumentSlot, int subMatch,
                        int* settingHint, bool& literal) {
  ExpansionState& x = engine.expansion;
  literal = false;
  if (argumentSlot >= 0) {
    // "1".."n" name the arguments of the innermost user-function call, "0" its current value. A
    // slot whose value took in literal text stays literal.
    if (!x.frames.empty() && argumentSlot < static_cast<long>(x.frames.back().slots.size())) {
      // A recorded call may read its own frame (or deeper ones), which its recorded arguments
      // determine, but not the frame of a caller.
      memo::NoteEffect(x, x.frames.size());
      const FunctionFrame& frame = x.frames.back();
      literal = argumentSlot < static_cast<long>(frame.literalSlots.size()) &&
                frame.literalSlots[argumentSlot];
      if (literal) ++x.literalUses;
      return frame.slots[argumentSlot];
    }
  } else if (subMatch >= 0) {
    // A sub-match is document text: stored under its name and used as it is.
    std::string part;
    if (CurrentSubMatch(engine, subMatch, part)) {
      memo::NoteEffect(x);  // sub-matches are stored as settings, and come from outside the call
      int index = kSettingSubMatch0 + subMatch;
      SetBuiltin(engine, index, part);
      engine.settings.literalIndexes.insert(index);
      literal = true;
      ++x.literalUses;
      return part;
    }
  } else {
    // Settings are never removed during a conversion, so the index a name found stays its index;
    // the hint is still checked against the stored name, which costs less than a hash lookup.
    const std::vector<std::string>& names = engine.settings.names;
    int index = -1;
    if (settingHint && *settingHint >= 0 && *settingHint < static_cast<int>(names.size()) &&
        CaseEqual(names[*settingHint], name)) {
      index = *settingHint;
    } else {
      index = FindSetting(engine, name);
      if (settingHint) *settingHint = index;
    }
    if (index >= 0) {
      const std::string& value = GetSettingAt(engine, index);
      literal = engine.settings.literalIndexes.count(index);  // IsLiteralSetting, inline
      if (literal) ++x.literalUses;
      if (!x.memo.recordings.empty())
        memo::NoteRead(x, {std::string(name), value, literal, index, false});
      return value;
    }
  }
  // The NotDef rule: the name is defined once with the expansion of NotDef.
  SetSetting(engine, "NotDefName", name);
  std::string notDef = SettingValue(engine, "NotDef");
  std::string result = StrExp(engine, notDef);
  if (x.unwinding) return {};  // NotDef ran away: define nothing from a cut-off expansion
  SetSetting(engine, name, result);
  return result;
}

std::string ArgumentValue(Engine& engine, std::string_view name) {
  bool literal = false;
  std::string value = LookupName(engine, name, literal);
  if (literal) return value;
  return StrExp(engine, value);
}

// ---- StrExp -------------------------------------------------------------------------------------

namespace {

/// Runs the steps of `program`: literal runs are emitted, references expanded (literal values
/// emitted as they are), calls run. Emits into `context` when given, else appends to `result`.
void RunProgram(Engine& engine, const expand::Program& program, OutputContext* context,
                std::string& result) {
  auto emit = [&](std::string_view piece) {
    if (piece.empty()) return;
    if (context) {
      PutWrap(engine, piece, *context, 0);
    } else {
      result.append(piece);
    }
  };
  ExpansionState& x = engine.expansion;
  for (const expand::ProgramStep& step : program.steps()) {
    if (step.kind == expand::StepKind::kLiteral) {
      emit(step.text);
      continue;
    }
    if (x.unwinding) continue;  // a runaway expansion: references yield nothing
    if (step.kind == expand::StepKind::kCall) {
      emit(CallFunction(engine, step.text, step.function, step.arguments, context));
    } else {
      bool literal = false;
      std::string value = ResolveName(engine, step.text, step.argumentSlot, step.subMatch,
                                      &step.settingHint, literal);
      if (literal) {
        emit(value);  // document text: shown as it is, never run
      } else if (!x.unwinding) {
        if (context) {
          StrExp(engine, value, context);
        } else {
          result.append(StrExp(engine, value));
        }
      }
    }
    if (x.unwinding && !x.runawayNamed) {
      // The innermost reference that hit the bound names the runaway in the report.
      x.runawayReference = step.source;
      x.runawayNamed = true;
    }
  }
}

}  // namespace

std::string StrExp(Engine& engine, std::string_view text, OutputContext* context) {
  // A text without "$" is its own expansion; any other text runs as its compiled program, which
  // holds its own copy of the text (the text may live in the settings store, which later
  // settings can move).
  const bool plain = text.find('$') == std::string_view::npos;
  std::shared_ptr<const expand::Program> program;
  if (!plain) program = engine.expansion.programs.Get(text);
  const std::string_view source = plain ? text : std::string_view(program->source());
  ExpansionLevel level(engine, ' ', source);
  if (!level.entered()) return {};
  if (ExpansionTraced(engine))
    PrintEscaped(engine, "%sStrExp:%s\n", engine.expansion.indent.c_str(),
                 std::string(source).c_str());
  std::string result;
  if (plain) {
    if (!text.empty()) {
      if (context) {
        PutWrap(engine, std::string(text), *context, 0);  // writing may move the store
      } else {
        result.assign(text);
      }
    }
  } else {
    RunProgram(engine, *program, context, result);
  }
  level.Leave();
  return result;
}

void ExpandInto(Engine& engine, OutputContext& context, std::string_view text) {
  StrExp(engine, text, &context);
}

}  // namespace quillo
