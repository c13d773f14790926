// State of the log file (see frame/log.h).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

struct LogState {
  struct StreamCloser {
    void operator()(std::FILE* stream) const;
  };
  /// The open log (none between conversions). It is not a file-table entry: the log does not
  /// list itself, and a string conversion does not hand it to the caller as an output.
  std::unique_ptr<std::FILE, StreamCloser> stream;
  /// Path of this conversion's log ("" when none was asked for).
  std::string path;
  /// Names of the disk files written since the output-file counter was last reset, so that the
  /// list of a batch or wildcard run survives each conversion's reset of the settings store.
  std::vector<std::string> createdFiles;
  bool opening = false;  ///< OpenLogFile is running (its expansions may reassign OutFileName)

  /// Set by a host that spreads one run over several engines (quillocmd -j): the log is not
  /// written but kept in `collected`, one part per opening, for the host to write in input
  /// order with WriteCollectedLog. Conversions on other engines would otherwise append to one
  /// file at the same time.
  bool collect = false;
  struct Part {
    std::string path;
    bool startNew = false;  ///< this conversion would start the log anew (NewLogFile)
    std::string text;       ///< heading and list items, as they would have been written
  };
  std::vector<Part> collected;
  char* collectBuffer = nullptr;  ///< memory stream of the part being written
  std::size_t collectSize = 0;

  LogState() = default;
  LogState(const LogState&) = delete;
  LogState& operator=(const LogState&) = delete;
  ~LogState() {
    stream.reset();  // a memory stream writes its last bytes into collectBuffer as it closes
    std::free(collectBuffer);
  }
};

}  // namespace quillo
