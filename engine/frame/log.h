// The log file: an HTML page to which each conversion adds a heading and links to every disk file
// it read or wrote; and the created-files list (OutputFileList<n>, OutputFileListCount) that the
// end-of-conversion sweep publishes. Depends on the settings store, string expansion, the message
// reporter and the file table.
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

/// Name of the log file when LogFileName is empty, in the directory of the output.
inline constexpr char kDefaultLogName[] = "quillo_log.htm";

/// Opens the log when CreateLogFile asks for one (exactly "1" or "true") and none is open: a new
/// log with its header when NewLogFile asks for one and at most one file of the current batch has
/// been started (or when the file does not exist yet), else the existing log for appending. Writes
/// the conversion's heading and sets LogFileUsed to the path, also when the open failed
/// (MSG_NO_LOGFILE). Called whenever the output names are derived anew.
void OpenLogFile(Engine& engine);
/// "file://" + the absolute path of `name` (relative names are taken from the working directory).
std::string FileLink(std::string_view name);
/// Writes one list item per disk file of the file table (in table order) while the log is open.
/// `$HrefFix(_LINK_)` may rewrite each link when the translation file defines HrefFix.
void WriteLogFileLines(Engine& engine);
/// Counts a disk file opened for writing into the created-files list (no effect for other files).
void RecordCreatedFile(Engine& engine, const FileEntry& entry);
/// Sets OutputFileList1..n and OutputFileListCount from the list (nothing while it is empty).
void PublishCreatedFiles(Engine& engine);
/// Ends the list of the current conversion and closes the log (nothing when none is open).
void CloseLogFile(Engine& engine);
/// Writes a part collected by an engine in collect mode to its log as the engine would have:
/// a new log (with its header) when the part starts one or the file does not exist yet, else
/// appended. False when the file could not be written.
bool WriteCollectedLog(const LogState::Part& part);

}  // namespace quillo
