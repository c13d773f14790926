// State of batch conversion (see frame/batch.h).
#pragma once

#include <cstddef>

namespace quillo {
struct Engine;
struct FileEntry;

struct BatchState {
  /// Conversions started by the current batch or wildcard run; 0 outside one. The log reads it:
  /// only the first conversion of a run may start a new log.
  int counter = 0;
  /// Nesting of ExpandShellText. While a script's text or command line is being built, a Script
  /// step does not run another script (its output would enter the command unquoted).
  int shellTextDepth = 0;

  /// "output" and "set" lines that may stand between two converting lines. Each adds one word
  /// to the batch argument vector; the bound keeps a runaway batch file from growing it.
  static constexpr int kMaxOptionLines = 50;
  /// Longest batch line read at once; a longer line goes on as the next line.
  static constexpr std::size_t kMaxLineLength = 255;
  /// Output of one script that is kept. A script that never stops writing would otherwise take
  /// all memory; the rest of its output is dropped (and the script ends on a broken pipe).
  static constexpr std::size_t kMaxScriptOutput = 16u << 20;
  /// Words of a script command run without the command interpreter.
  static constexpr int kMaxCommandWords = 255;
};

}  // namespace quillo
