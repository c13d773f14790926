// The 80-column line writer (PutWrap) with its OutTrn line filter.
#include "output/line_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo {
namespace {

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
      engine.output.outTrnActive = !values[kSettingOutTrn].empty();
    } else {
      const std::string* outTrn = GetSetting(engine, "OutTrn");
      engine.output.outTrnActive = outTrn && !outTrn->empty();
    }
    filter_ = engine.output.outTrnActive;
    // OutTrn was cleared in the middle of a line: the collected part goes out unfiltered.
    if (!filter_ && !engine.output.outTrnLine.empty()) {
      std::string line = std::move(engine.output.outTrnLine);
      engine.output.outTrnLine.clear();
      Write(line);
    }
  }
  ~LineSink() { Flush(); }
  LineSink(const LineSink&) = delete;
  LineSink& operator=(const LineSink&) = delete;

  void Write(std::string_view text) {
    if (filter_) {
      engine_.output.outTrnLine.append(text);
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
  // Line end, blank and tab, found with one look-up per byte.
  static constexpr auto kEnds = [] {
    std::array<bool, 256> ends{};
    ends['\n'] = ends[' '] = ends['\t'] = true;
    return ends;
  }();
  while (i < n && !kEnds[static_cast<unsigned char>(text[i])]) ++i;
  return i;
}

/// From the break character at `i`: the words that end within `text` and fit on the line. Once
/// the next break or line end arrives such a word goes out whole, as WritePendingWord writes it, so
/// it is written now, straight from the text, and neighbouring words go out in one piece. Returns
/// where the first word that does not fit (or does not end in the text) begins, or the line end
/// that stopped the words.
std::size_t WriteFittingWords(std::string_view text, std::size_t i, OutputContext& context,
                              LineSink& sink) {
  constexpr int kWidth = OutputContext::kLineWidth;
  const std::size_t n = text.size();
  std::size_t from = i;
  std::size_t to = i;
  while (i < n && IsWrapBreak(text[i])) {
    if (context.column == 0) {
      // At the start of a line the break character is dropped: word by word.
      const std::size_t j = WordEnd(text, i + 1, true);
      if (j >= n || static_cast<int>(j - i) > kWidth) break;
      if (i + 1 != to) {
        sink.Write(text.substr(from, to - from));
        from = i + 1;
      }
      context.column += static_cast<int>(j - i - 1);
      to = i = j;
      continue;
    }
    // Behind text each word goes out with its break character, so the words that fit are the
    // text up to the first line end or, without one, up to the last break at most the rest of
    // the line away (a word must end before the text does).
    if (context.column >= kWidth) break;
    const std::size_t limit =
        std::min(n - 1, i + static_cast<std::size_t>(kWidth - context.column));
    if (limit <= i) break;
    const void* lineEnd = std::memchr(text.data() + i + 1, '\n', limit - i);
    std::size_t end;
    if (lineEnd) {
      end = static_cast<std::size_t>(static_cast<const char*>(lineEnd) - text.data());
    } else {
      end = limit;
      while (end > i && !IsWrapBreak(text[end])) --end;
    }
    context.column += static_cast<int>(end - i);
    to = i = end;
    if (!lineEnd) break;  // the next word ends beyond the line (or the text)
  }
  sink.Write(text.substr(from, to - from));
  return i;
}

}  // namespace

// ---- PutWrap ------------------------------------------------------------------------------------

void PutWrap(Engine& engine, std::string_view text, OutputContext& context, int wrap) {
  if (!context.file) {
    ReportMessage(engine, "ERR_PUTWRAP_LOGIC");
    return;
  }
  // Paragraph text held back for the paragraph-number override, and text gathered into a run, are
  // written before anything else reaches the output, so output keeps document order.
  if (engine.hooks.beforeWrite) engine.hooks.beforeWrite(engine);

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
      i = WriteFittingWords(text, i, context, sink);
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
  std::string line = std::move(engine.output.outTrnLine);
  engine.output.outTrnLine.clear();
  line.push_back('\n');
  std::string outTrn = SettingValue(engine, "OutTrn");
  if (outTrn.empty()) {
    FilePutString(file, line);
    return;
  }
  SetSetting(engine, "OutString", line);
  FilePutString(file, engine.hooks.expand ? engine.hooks.expand(engine, outTrn) : outTrn);
}

void FlushContext(Engine& engine, OutputContext& context) {
  if (!context.file) return;
  LineSink sink(engine, context.file);
  WritePendingWord(context, sink);
  sink.Flush();
  if (!engine.output.outTrnLine.empty()) OutString(engine, context.file);
}

void ResetOutput(Engine& engine) {
  engine.output.outTrnLine.clear();
  engine.output.outTrnActive = false;
}

}  // namespace quillo
