// The file table's entries and state (see base/file_table.h).
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffers.h"

namespace quillo {
struct Engine;
struct FileEntry;

enum class FileKind { kMemoryInput = 0, kMemoryOutput = 1, kDisk = 2 };
enum class FileState { kFree = 0, kOpen = 1, kClosed = 2 };

/// One file of the table. Entries are never moved while the table lives, so pointers to them stay
/// valid until the sweep at the end of the conversion.
struct FileEntry {
  std::string name;
  FileKind kind = FileKind::kDisk;
  FileState state = FileState::kFree;
  std::string access;           ///< open mode ("w", "r", "rb"...), disk files only
  std::FILE* stream = nullptr;  ///< disk files
  /// The stream is the process's standard output: it is flushed instead of closed, and it is no
  /// file of the log or the created-files list.
  bool standardStream = false;
  int writeError = 0;  ///< errno of the first write that failed; 0 while every write went through
  TextBuffer output;   ///< memory outputs
  const char* input = nullptr;  ///< memory inputs: the caller's text, read in place
  long inputSize = 0;

  // Read window. Reads go through [next, end): a memory input's window is its whole text; a disk
  // file opened read-only ("r", "rb") reads its stream in blocks into `readBuffer`, whose first
  // byte is kept free so that one character can always be pushed back. `windowOffset` is the
  // input offset of `windowBase[0]`. Other disk files read through their stream directly.
  const char* next = nullptr;
  const char* end = nullptr;
  const char* windowBase = nullptr;
  long windowOffset = 0;
  std::unique_ptr<char[]> readBuffer;
};

/// What the file system says of an open disk file: enough to tell that a file read earlier (a
/// translation file, a map) is still the same file with the same contents (base/file_table.h,
/// StampFile).
struct FileStamp {
  std::string path;  ///< the name it was opened under
  unsigned long long device = 0, inode = 0;
  long long size = 0, modifiedNs = 0, changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

/// A disk file as the system knows it (device and inode): two names of one file compare equal.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

/// Why the last FileOpen refused to write a file that exists.
enum class WriteRefusal { kNone = 0, kInput, kWrittenByRun };

struct FileTable {
  std::vector<std::unique_ptr<FileEntry>> entries;
  bool memoryOutputMode = false;  ///< set for string conversions
  int outputFileCounter = 0;      ///< numbers the OutputFileList<n> settings
  /// errno of the last open or write of a file that failed (0 after a successful open). The
  /// message reporter hands it on with the message about that file (MessageRecord::systemError).
  int lastError = 0;

  // Files no write may replace. A conversion never writes over the input it is reading, nor over
  // a file an earlier conversion of the same run (one command line, one batch) wrote: several
  // inputs with one output name would otherwise leave only the last one's page, silently.
  bool haveInput = false;          ///< `input` is set while a disk input is being converted
  FileIdentity input;              ///< the disk file being converted
  std::set<FileIdentity> written;  ///< files written by earlier conversions of this run
  /// Files written by the current conversion, with their names; the sweep keeps in `written`
  /// those that are still there (a removed file's inode may go to another file).
  std::map<FileIdentity, std::string> writtenNow;
  WriteRefusal refusal = WriteRefusal::kNone;  ///< why the last FileOpen failed, if it refused
};

}  // namespace quillo
