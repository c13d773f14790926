// Output channels: the line writer's state per channel and for the engine (see
// output/line_writer.h).
#pragma once

#include <string>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

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

struct OutputState {
  std::string outTrnLine;     ///< line collected while OutTrn is non-empty
  bool outTrnActive = false;  ///< OutTrn was non-empty at the start of the last PutWrap call
};

}  // namespace quillo
