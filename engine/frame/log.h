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

#include "frame/log_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

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
