// String expansion: `$Name;` references and `$Func(args)` calls in named strings, and the
// 80-column line writer through which every output text passes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

/// One entry of an output channel's tag stack: the closing text is written when it is popped.
struct TagEntry {
  int kind = 0;   ///< 1 page, 2 page body, 3 table ... 12 paragraph tag, 13 text tag, 15 anchor
  int mode = 0;
  int value = 0;
  std::string endText;  ///< expanded when popped
};

/// One output channel (main output, footnote file, generated pages).
struct OutputContext {
  static constexpr int kLineWidth = 80;
  std::string pendingWord;  ///< break character then the word characters not yet written
  FileEntry* file = nullptr;
  int wrap = 1;             ///< 1 = wrap at blanks
  int pending = 0;          ///< characters held in pendingWord
  int column = 0;           ///< characters written on the current line
  std::vector<TagEntry> tagStack;
  int paragraphTag = -1;
  int specialState = 0;
  int charFormat = -1;
  void Reset() { *this = OutputContext(); }
};

struct ExpansionState {
  int depth = 0;               ///< nested StrExp/FctExpand calls
  std::string indent;          ///< trace indent
  std::string outTrnLine;      ///< line collected while OutTrn is non-empty
  bool depthReported = false;  ///< the depth-limit message is given once per conversion
};

/// Expands `text`. Without a context returns the expansion; with one writes it there (through
/// PutWrap with wrap 0) and returns "".
std::string StrExp(Engine& engine, std::string_view text, OutputContext* context = nullptr);
/// StrExp into a context, result discarded.
void ExpandInto(Engine& engine, OutputContext& context, std::string_view text);
/// Runs a function call: `call` is the name, "(" and the argument list without ")".
std::string FctExpand(Engine& engine, std::string_view call, OutputContext* context);
/// Writes text to the context, wrapping at blanks at 80 columns when `wrap` is 1.
void PutWrap(Engine& engine, std::string_view text, OutputContext& context, int wrap);
/// Writes any pending word and the OutTrn line of the context (end of an output file).
void FlushContext(Engine& engine, OutputContext& context);

}  // namespace quillo
