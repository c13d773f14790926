// String expansion (StrExp), name resolution, and the 80-column line writer (PutWrap) with its
// OutTrn line filter. Function calls are run by FctExpand in builtins.cc.
#include "expand/expand.h"

#include <algorithm>
#include <cstring>

#include "engine.h"
#include "expand/regex.h"
#include "frame/file_table.h"
#include "frame/messages.h"
#include "frame/settings.h"
#include "translate/translate.h"

namespace quillo {
namespace {

constexpr bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

constexpr bool IsArgumentChar(char c) { return IsNameChar(c) || c == ','; }

// ---- Reference scanning -------------------------------------------------------------------------

/// A reference found in a text: [dollar, end) is "$Name;" or "$Name(args)".
struct Reference {
  std::size_t dollar = 0;
  std::size_t end = 0;
  bool call = false;
};

/// Finds the first reference at or after `pos`. Only the first "$" is considered: when it begins no
/// well-formed reference there is none at all, and the rest of the text is literal.
bool FindReference(std::string_view text, std::size_t pos, Reference& ref) {
  std::size_t dollar = text.find('$', pos);
  if (dollar == std::string_view::npos) return false;
  std::size_t i = dollar + 1;
  while (i < text.size() && IsNameChar(text[i])) ++i;
  if (i == dollar + 1 || i == text.size()) return false;
  if (text[i] == ';') {
    ref = {dollar, i + 1, false};
    return true;
  }
  if (text[i] != '(') return false;
  ++i;
  while (i < text.size() && IsArgumentChar(text[i])) ++i;
  if (i == text.size() || text[i] != ')') return false;
  ref = {dollar, i + 1, true};
  return true;
}

// ---- Output sink of one PutWrap call ------------------------------------------------------------

/// Collects the characters of one PutWrap call. Without OutTrn they are gathered and written to the
/// file in few writes; with OutTrn they go to the process-wide line and every line end runs
/// OutString.
class LineSink {
 public:
  LineSink(Engine& engine, FileEntry* file) : engine_(engine), file_(file) {
    // One look at OutTrn per call, by its fixed position in the store (every output character
    // passes through here, so a lookup by name per call would show).
    const std::vector<std::string>& values = engine.settings.values;
    if (kSettingOutTrn < static_cast<int>(values.size())) {
      engine.expansion.outTrnActive = !values[kSettingOutTrn].empty();
    } else {
      const std::string* outTrn = GetSetting(engine, "OutTrn");
      engine.expansion.outTrnActive = outTrn && !outTrn->empty();
    }
    filter_ = engine.expansion.outTrnActive;
    // OutTrn was cleared in the middle of a line: the collected part goes out unfiltered.
    if (!filter_ && !engine.expansion.outTrnLine.empty()) {
      std::string line = std::move(engine.expansion.outTrnLine);
      engine.expansion.outTrnLine.clear();
      Write(line);
    }
  }
  ~LineSink() { Flush(); }
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;

  void Write(std::string_view text) {
    if (filter_) {
      engine_.expansion.outTrnLine.append(text);
    } else if (text.size() <= kBufferSize - used_) {
      std::memcpy(buffer_ + used_, text.data(), text.size());
      used_ += text.size();
    } else {
      Flush();
      if (text.size() >= kBufferSize) {
        FilePutString(file_, text);
      } else {
        std::memcpy(buffer_, text.data(), text.size());
        used_ = text.size();
      }
    }
  }
  void EndLine() {
    if (filter_) {
      OutString(engine_, file_);
    } else {
      if (used_ == kBufferSize) Flush();
      buffer_[used_++] = '\n';
    }
  }
  void Flush() {
    if (used_ != 0) FilePutString(file_, std::string_view(buffer_, used_));
    used_ = 0;
  }

 private:
  // Most calls write a few words; the buffer lives on the stack so a call allocates nothing, and
  // longer output goes to the file in pieces of this size.
  static constexpr std::size_t kBufferSize = 2048;
  Engine& engine_;
  FileEntry* file_;
  bool filter_ = false;
  std::size_t used_ = 0;
  char buffer_[kBufferSize];
};

/// Writes the pending word of the context: with its break character when the line already has
/// text, without it at the start of a line (a blank at a wrap point does not begin the next line).
void WritePendingWord(OutputContext& context, LineSink& sink) {
  if (context.pending <= 0) return;
  std::string_view word = context.pendingWord;
  if (context.column == 0) word.remove_prefix(1);
  sink.Write(word);
  context.column += static_cast<int>(word.size());
  context.pendingWord.clear();
  context.pending = 0;
}

constexpr bool IsWrapBreak(char c) { return c == ' ' || c == '\t'; }

/// End of the word characters of `text` from `i` on: the next line end or, when wrapping, the next
/// blank or tab (or the end of the text).
std::size_t WordEnd(std::string_view text, std::size_t i, bool wrapping) {
  const std::size_t n = text.size();
  if (!wrapping) {
    const void* found = i < n ? std::memchr(text.data() + i, '\n', n - i) : nullptr;
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : n;
  }
  while (i < n && text[i] != '\n' && !IsWrapBreak(text[i])) ++i;
  return i;
}

/// Reads the leading decimal digits of `name` as a number, saturating well above any slot count.
/// Returns -1 when the name does not begin with a digit.
long LeadingNumber(std::string_view name) {
  if (name.empty() || name[0] < '0' || name[0] > '9') return -1;
  long n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') break;
    n = std::min(n * 10 + (c - '0'), 1000000000L);
  }
  return n;
}

}  // namespace

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
  if (x.depth > x.deepestLevel) x.deepestLevel = x.depth;
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

void ResetExpansion(Engine& engine) { engine.expansion = ExpansionState(); }

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
  x.memo.clear();
  x.textMemo.clear();
  x.functionPurity.clear();
  SpoilRecordings(x);
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
  ExpansionState& x = engine.expansion;
  literal = false;
  long n = LeadingNumber(name);
  if (n > 0 || name == "0") {
    // "1".."n" name the arguments of the innermost user-function call, "0" its current value. A
    // slot whose value took in literal text stays literal.
    if (!x.frames.empty() && n < static_cast<long>(x.frames.back().slots.size())) {
      // A recorded call may read its own frame (or deeper ones), which its recorded arguments
      // determine, but not the frame of a caller.
      for (MemoRecording* recording : x.recordings)
        if (x.frames.size() <= recording->frameDepth) recording->spoiled = true;
      const FunctionFrame& frame = x.frames.back();
      literal = n < static_cast<long>(frame.literalSlots.size()) && frame.literalSlots[n];
      if (literal) ++x.literalUses;
      return frame.slots[n];
    }
  } else if (name.size() == 2 && name[0] == '_' && name[1] >= '0' && name[1] <= '9') {
    // A sub-match is document text: stored under its name and used as it is.
    std::string part;
    if (CurrentSubMatch(engine, name[1] - '0', part)) {
      SpoilRecordings(x);  // sub-matches are stored as settings, and come from outside the call
      int index = kSettingSubMatch0 + (name[1] - '0');
      SetBuiltin(engine, index, part);
      engine.settings.literalIndexes.insert(index);
      literal = true;
      ++x.literalUses;
      return part;
    }
  } else {
    int index = FindSetting(engine, name);
    if (index >= 0) {
      const std::string& value = GetSettingAt(engine, index);
      literal = IsLiteralSetting(engine, index);
      if (literal) ++x.literalUses;
      for (MemoRecording* recording : x.recordings)
        recording->events.push_back({std::string(name), value, literal, index, false});
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

namespace {

/// StrExp of a text the caller hands over (a value already copied out of the store).
std::string ExpandOwned(Engine& engine, std::string&& owned, OutputContext* context);

}  // namespace

std::string ArgumentValue(Engine& engine, std::string_view name) {
  bool literal = false;
  std::string value = LookupName(engine, name, literal);
  if (literal) return value;
  return ExpandOwned(engine, std::move(value), nullptr);
}

// ---- StrExp -------------------------------------------------------------------------------------

std::string StrExp(Engine& engine, std::string_view text, OutputContext* context) {
  // The text may live in the settings store, which later settings can move: work on a copy.
  return ExpandOwned(engine, std::string(text), context);
}

namespace {

std::string ExpandOwned(Engine& engine, std::string&& owned, OutputContext* context) {
  const std::string& copy = owned;  // the caller's own copy, alive for the whole call
  ExpansionLevel level(engine, ' ', copy);
  if (!level.entered()) return {};
  if (ExpansionTraced(engine))
    PrintEscaped(engine, "%sStrExp:%s\n", engine.expansion.indent.c_str(), copy.c_str());

  std::string result;
  auto emit = [&](std::string_view piece) {
    if (piece.empty()) return;
    if (context) {
      PutWrap(engine, piece, *context, 0);
    } else {
      result.append(piece);
    }
  };

  std::string_view rest = copy;
  Reference ref;
  while (!rest.empty() && FindReference(rest, 0, ref)) {
    if (rest[ref.dollar] != '$' || (rest[ref.end - 1] != ';' && rest[ref.end - 1] != ')')) {
      ReportMessage(engine, "ERR_REXEX_BUG", {copy});
      break;  // should the report not be fatal, the rest stays literal
    }
    emit(rest.substr(0, ref.dollar));
    // The name (and for a call the "(" and argument list), without "$" and the closing ";" or ")".
    std::string_view body = rest.substr(ref.dollar + 1, ref.end - ref.dollar - 2);
    rest.remove_prefix(ref.end);
    if (engine.expansion.unwinding) continue;  // a runaway expansion: references yield nothing
    if (ref.call) {
      emit(FctExpand(engine, body, context));
    } else {
      bool literal = false;
      std::string value = LookupName(engine, body, literal);
      if (literal) {
        emit(value);  // document text: shown as it is, never run
      } else if (!engine.expansion.unwinding) {
        if (context) {
          ExpandOwned(engine, std::move(value), context);
        } else {
          result.append(ExpandOwned(engine, std::move(value), nullptr));
        }
      }
    }
    if (engine.expansion.unwinding && !engine.expansion.runawayNamed) {
      // The innermost reference that hit the bound names the runaway in the report.
      engine.expansion.runawayReference = "$" + std::string(body) + (ref.call ? ")" : ";");
      engine.expansion.runawayNamed = true;
    }
  }
  emit(rest);
  level.Leave();
  return result;
}

}  // namespace

void ExpandInto(Engine& engine, OutputContext& context, std::string_view text) {
  StrExp(engine, text, &context);
}

// ---- PutWrap ------------------------------------------------------------------------------------

void PutWrap(Engine& engine, std::string_view text, OutputContext& context, int wrap) {
  if (!context.file) {
    ReportMessage(engine, "ERR_PUTWRAP_LOGIC");
    return;
  }
  // Paragraph text held back for the paragraph-number override, and text gathered into a run, are
  // written before anything else reaches the output, so output keeps document order.
  translate::ReleaseHeldText(engine);
  SpoilRecordings(engine.expansion);

  constexpr int kWidth = OutputContext::kLineWidth;
  const bool wrapping = wrap == 1;
  LineSink sink(engine, context.file);
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    char c = text[i];
    if (c == '\n') {
      WritePendingWord(context, sink);
      sink.EndLine();
      context.column = 0;
      ++i;
    } else if (wrapping && IsWrapBreak(c)) {
      WritePendingWord(context, sink);
      // A break character whose word ends within this text and fits on the line: once the next
      // break or line end arrives the word goes out whole, as WritePendingWord writes it, so it
      // is written now, straight from the text. Neighbouring words go out in one piece.
      std::size_t from = i;
      std::size_t to = i;
      std::size_t j = 0;
      while (i < n && IsWrapBreak(text[i]) && (j = WordEnd(text, i + 1, true)) < n &&
             context.column + static_cast<int>(j - i) <= kWidth) {
        const std::size_t start = context.column == 0 ? i + 1 : i;
        if (start != to) {
          sink.Write(text.substr(from, to - from));
          from = start;
        }
        context.column += static_cast<int>(j - start);
        to = i = j;
      }
      sink.Write(text.substr(from, to - from));
      if (i < n && IsWrapBreak(text[i])) {
        context.pendingWord.assign(1, text[i]);
        context.pending = 1;
        if (context.column + 1 > kWidth) {
          sink.EndLine();
          context.column = 0;  // the break character is dropped when the word is written
        }
        ++i;
      }
    } else {
      const std::size_t j = WordEnd(text, i + 1, wrapping);
      const int length = static_cast<int>(j - i);
      if (context.pending == 0) {
        // No pending word: the run up to the next line end or break character goes out as it is.
        sink.Write(text.substr(i, j - i));
        context.column += length;
        i = j;
      } else if (context.column + context.pending + length <= kWidth) {
        // The whole run fits on the line behind the pending word, so none of the checks below
        // would act on any of its characters: it joins the word in one piece.
        context.pendingWord.append(text.data() + i, j - i);
        context.pending += length;
        i = j;
      } else {
        // The line fills within the run: character by character until the word has been
        // written; what is left of the run is then handled as a run without a pending word.
        for (; i < j && context.pending > 0; ++i) {
          context.pendingWord.push_back(text[i]);
          ++context.pending;
          if (context.pending > kWidth) {
            WritePendingWord(context, sink);  // a word longer than a line is never split
          } else if (context.column + context.pending > kWidth) {
            sink.EndLine();
            context.column = 0;
          }
        }
      }
    }
  }
}

void OutString(Engine& engine, FileEntry* file) {
  // Taken out first: expanding OutTrn may write other output through PutWrap.
  std::string line = std::move(engine.expansion.outTrnLine);
  engine.expansion.outTrnLine.clear();
  line.push_back('\n');
  std::string outTrn = SettingValue(engine, "OutTrn");
  if (outTrn.empty()) {
    FilePutString(file, line);
    return;
  }
  SetSetting(engine, "OutString", line);
  FilePutString(file, StrExp(engine, outTrn));
}

void FlushContext(Engine& engine, OutputContext& context) {
  if (!context.file) return;
  LineSink sink(engine, context.file);
  WritePendingWord(context, sink);
  sink.Flush();
  if (!engine.expansion.outTrnLine.empty()) OutString(engine, context.file);
}

}  // namespace quillo
