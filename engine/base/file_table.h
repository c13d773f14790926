// The file table: every file the engine reads or writes, on disk or in memory, is opened by name
// through it. In memory-output mode (string conversions) files opened for writing become buffers
// that the end-of-conversion sweep hands to the caller. Also the path helpers.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffers.h"
#include "base/file_table_state.h"
#include "quillo/quillo.h"

namespace quillo {
struct Engine;

/// Starts a run: no file written by an earlier run is protected any more.
void BeginFileRun(FileTable& table);
/// The conversion reads `entry` (a disk file): no output may replace it until the sweep.
void ProtectInput(FileTable& table, const FileEntry* entry);
/// True when `name` is a file an earlier conversion of the run wrote (nothing of this run may
/// replace or remove it).
bool WrittenByRun(const FileTable& table, const std::string& name);
/// Reports why `name` could not be opened for writing: MSG_OUTPUT_IS_INPUT or
/// MSG_ALREADY_WRITTEN when FileOpen refused it, then ERR_FILE_OPEN_FAILED (fatal by default).
void ReportOpenFailure(Engine& engine, std::string_view name);
/// Creates a temporary disk file beside `base` ("BASE-XXXXXX.tmp", read and write) with exclusive
/// creation: an existing file or a symbolic link of that name is never opened, truncated or
/// followed. In memory-output mode it is a memory output named BASE.tmp. nullptr on failure.
FileEntry* FileCreateTemporary(FileTable& table, const std::string& base);

/// The name that stands for standard input as an input name and for standard output as an
/// output name (OutFileName).
inline constexpr char kStandardStreamName[] = "-";
/// Name of the file-table entry of standard output (what messages about it name).
inline constexpr char kStandardOutputEntry[] = "/dev/stdout";

/// Opens `name` (exact comparison with the names in the table). An open entry of that name is
/// returned as it is; a closed one is reopened. In memory-output mode a mode beginning with 'w' or
/// 'a' makes a memory output. Returns nullptr when a disk open fails (nothing is left in the
/// table). A disk file opened for writing ('w') that is the input being read, or that an earlier
/// conversion of the run wrote, is refused (nullptr; `refusal` says why).
FileEntry* FileOpen(FileTable& table, std::string_view name, const char* mode);
/// Registers `text` (length `size`, read in place, not copied) as a memory input named `name`.
FileEntry* FileOpenText(FileTable& table, std::string_view name, const char* text, long size);
/// Opens the process's standard output for writing, as the entry named kStandardOutputEntry.
FileEntry* FileOpenStandardOutput(FileTable& table);
/// Opens a memory output named `name` whatever the mode of the table (a file conversion drops it
/// at the sweep). An entry of that name that is open is returned as it is.
FileEntry* FileOpenMemory(FileTable& table, std::string_view name);
void FileClose(FileEntry* entry);
/// The stamp of open `entry`; false when it is no plain disk file (a memory file, a standard
/// stream), whose contents no stamp can vouch for.
bool StampFile(const FileEntry* entry, FileStamp& stamp);
/// Closes like FileClose and says whether everything written reached the file: false, with errno
/// set (also in the table's lastError), when a write, the flush or the close failed.
bool FileCloseChecked(FileTable& table, FileEntry* entry);

// Writing: memory outputs append; disk files pass through; anything else is refused
// (-1 from put-char/put-string, 0 from write).
int FilePutChar(FileEntry* entry, int c);
std::size_t FileWrite(FileEntry* entry, const void* bytes, std::size_t size, std::size_t count);
int FilePutString(FileEntry* entry, std::string_view text);

// Reading: disk files and memory inputs; memory outputs and missing entries give -1 (0 for
// FileRead, false for FileReadLine).
/// The refilling path of FileGetChar, taken when the window is used up.
int FileGetCharSlow(FileEntry* entry);
inline int FileGetChar(FileEntry* entry) {
  if (entry && entry->next < entry->end) return static_cast<unsigned char>(*entry->next++);
  return FileGetCharSlow(entry);
}
/// The bytes already read ahead at the read position, without reading more: may be empty before
/// the end of the input. Moving past some of them is FileSkipBuffered.
inline std::string_view FileBuffered(const FileEntry* entry) {
  if (!entry || entry->next >= entry->end) return {};
  return std::string_view(entry->next, static_cast<std::size_t>(entry->end - entry->next));
}
/// Moves the read position over `count` bytes of FileBuffered (no more than it gave).
inline void FileSkipBuffered(FileEntry* entry, std::size_t count) { entry->next += count; }
std::size_t FileRead(FileEntry* entry, void* bytes, std::size_t size, std::size_t count);
/// Reads up to and including a newline, or at most `size` - 1 characters, into `line` (replacing
/// its contents). Returns false at the end of the input.
bool FileReadLine(FileEntry* entry, std::string& line, std::size_t size);
int FileUngetChar(FileEntry* entry, int c);
long FileTell(FileEntry* entry);
/// whence 0/1/2 as fseek. On a memory input a target outside 0..size keeps the old position and
/// returns 1; 0 on success.
int FileSeek(FileEntry* entry, long offset, int whence);
void FileFlush(FileEntry* entry);
/// Frees the entry's slot; deletes a disk file from the disk, releases a memory output's buffer.
int FileRemove(FileEntry* entry);

/// End of conversion: closes and forgets every entry, numbers the disk files written
/// (OutputFileList<n>, OutputFileListCount) and, unless `discard`, hands the memory outputs that
/// received data to the caller as a malloc'ed array (*count records; nullptr and 0 otherwise).
ConvertedOutput* FileSweep(Engine& engine, bool discard, int* count);

// Paths ('/' separates directories).
/// Text after the last '/', the whole path when it has none.
std::string_view BaseName(std::string_view path);
/// Everything before the last '/', "" when there is none.
std::string_view DirectoryPart(std::string_view path);
bool IsRelativePath(std::string_view path);

}  // namespace quillo
