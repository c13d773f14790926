#include "base/file_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo {

namespace {

/// The entry to use for `name`: an existing one of that name, else the last free slot, else a new
/// entry at the end of the table.
FileEntry* FindSlot(FileTable& table, std::string_view name, bool* existing) {
  FileEntry* freeSlot = nullptr;
  for (auto& entry : table.entries) {
    if (entry->state == FileState::kFree) {
      freeSlot = entry.get();
    } else if (entry->name == name) {
      *existing = true;
      return entry.get();
    }
  }
  *existing = false;
  if (freeSlot) return freeSlot;
  table.entries.push_back(std::make_unique<FileEntry>());
  return table.entries.back().get();
}

/// Ends the stream of a disk entry: closes it, or only flushes standard output. Returns the
/// result of fclose (or fflush), 0 on success.
int EndStream(FileEntry* entry) {
  if (!entry->stream) return 0;
  std::FILE* stream = entry->stream;
  entry->stream = nullptr;
  if (entry->standardStream) return std::fflush(stream);
  return std::fclose(stream);
}

void ResetEntry(FileEntry* entry) {
  entry->name.clear();
  entry->access.clear();
  entry->stream = nullptr;
  entry->standardStream = false;
  entry->writeError = 0;
  entry->output = TextBuffer();
  entry->input = nullptr;
  entry->inputSize = 0;
  entry->next = entry->end = entry->windowBase = nullptr;
  entry->windowOffset = 0;
  entry->readBuffer.reset();
  entry->state = FileState::kFree;
}

/// Size of the blocks a read-only disk file is read in.
constexpr std::size_t kReadBlock = 64 * 1024;

/// A disk file read through its own window (opened read-only).
bool IsWindowedDisk(const FileEntry* entry) {
  return entry && entry->state == FileState::kOpen && entry->kind == FileKind::kDisk &&
         entry->stream && entry->readBuffer;
}

/// Read position of a memory input or a windowed disk file.
long WindowPosition(const FileEntry* entry) {
  return entry->windowOffset + static_cast<long>(entry->next - entry->windowBase);
}

/// Empties the window of a windowed disk file whose stream now stands at `offset`.
void RestartWindow(FileEntry* entry, long offset) {
  entry->windowBase = entry->readBuffer.get() + 1;
  entry->next = entry->end = entry->windowBase;
  entry->windowOffset = offset;
}

/// Reads the next block of a windowed disk file whose window is used up. The last byte of the old
/// window moves in front of the new one, so that it can still be pushed back. False at the end.
bool Refill(FileEntry* entry) {
  char* base = entry->readBuffer.get() + 1;
  if (entry->end > entry->windowBase) base[-1] = entry->end[-1];
  entry->windowOffset += static_cast<long>(entry->end - entry->windowBase);
  const std::size_t got = std::fread(base, 1, kReadBlock, entry->stream);
  entry->windowBase = entry->next = base;
  entry->end = base + got;
  return got > 0;
}

bool IsMemoryInput(const FileEntry* entry) {
  return entry && entry->state == FileState::kOpen && entry->kind == FileKind::kMemoryInput;
}

bool IsOpenDisk(const FileEntry* entry) {
  return entry && entry->state == FileState::kOpen && entry->kind == FileKind::kDisk &&
         entry->stream;
}

/// Keeps the reason of the first failed write of a disk file for FileCloseChecked.
void NoteWriteError(FileEntry* entry) {
  if (entry->writeError == 0) entry->writeError = errno ? errno : EIO;
}

bool IsMemoryOutput(const FileEntry* entry) {
  return entry && entry->state == FileState::kOpen && entry->kind == FileKind::kMemoryOutput;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

/// Why writing (truncating) the existing disk file `name` is refused, kNone when it may be.
WriteRefusal RefusalFor(const FileTable& table, const std::string& name) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return WriteRefusal::kNone;  // nothing there to replace
  const FileIdentity identity = IdentityOf(st);
  if (table.haveInput && identity == table.input) return WriteRefusal::kInput;
  if (table.written.count(identity)) return WriteRefusal::kWrittenByRun;
  return WriteRefusal::kNone;
}

/// Remembers a disk file the current conversion opened for writing.
void NoteWritten(FileTable& table, const FileEntry* entry) {
  struct stat st;
  if (entry->stream && fstat(fileno(entry->stream), &st) == 0)
    table.writtenNow[IdentityOf(st)] = entry->name;
}

}  // namespace

bool WrittenByRun(const FileTable& table, const std::string& name) {
  return RefusalFor(table, name) == WriteRefusal::kWrittenByRun;
}

void BeginFileRun(FileTable& table) {
  table.written.clear();
  table.writtenNow.clear();
}

void ProtectInput(FileTable& table, const FileEntry* entry) {
  struct stat st;
  table.haveInput = entry && entry->kind == FileKind::kDisk && entry->stream &&
                    fstat(fileno(entry->stream), &st) == 0;
  if (table.haveInput) table.input = IdentityOf(st);
}

void ReportOpenFailure(Engine& engine, std::string_view name) {
  const WriteRefusal refusal = engine.files.refusal;
  engine.files.refusal = WriteRefusal::kNone;
  if (refusal == WriteRefusal::kInput) ReportMessage(engine, "MSG_OUTPUT_IS_INPUT", {name});
  if (refusal == WriteRefusal::kWrittenByRun) ReportMessage(engine, "MSG_ALREADY_WRITTEN", {name});
  ReportMessage(engine, "ERR_FILE_OPEN_FAILED", {name});
}

FileEntry* FileCreateTemporary(FileTable& table, const std::string& base) {
  if (table.memoryOutputMode) return FileOpen(table, base + ".tmp", "w+");
  std::string name = base + "-XXXXXX.tmp";
  // mkostemps creates with O_CREAT | O_EXCL: a name that exists, a dangling or live symbolic
  // link included, is never opened.
  const int fd = mkostemps(name.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    table.lastError = errno;
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, "w+");
  if (!stream) {
    close(fd);
    unlink(name.c_str());
    return nullptr;
  }
  bool existing = false;
  FileEntry* entry = FindSlot(table, name, &existing);
  ResetEntry(entry);
  entry->name = name;
  entry->kind = FileKind::kDisk;
  entry->access = "w+";
  entry->stream = stream;
  entry->state = FileState::kOpen;
  return entry;
}

FileEntry* FileOpen(FileTable& table, std::string_view name, const char* mode) {
  table.refusal = WriteRefusal::kNone;
  bool existing = false;
  FileEntry* entry = FindSlot(table, name, &existing);
  bool writing = mode && (mode[0] == 'w' || mode[0] == 'a');
  if (existing && entry->state == FileState::kOpen) {
    // The name is open for reading (the input, say): writing it would replace what is being read.
    if (writing && entry->kind == FileKind::kDisk && !entry->access.empty() &&
        entry->access[0] == 'r') {
      table.refusal = WriteRefusal::kInput;
      return nullptr;
    }
    return entry;
  }
  if (existing) {
    // A closed entry is reused: a memory output keeps collecting into the same buffer when it
    // is opened for appending, and starts again when opened for writing.
    if (entry->kind == FileKind::kMemoryOutput && table.memoryOutputMode && writing) {
      if (mode[0] == 'w') entry->output.Clear();
      entry->state = FileState::kOpen;
      return entry;
    }
    if (entry->kind == FileKind::kMemoryOutput) entry->output = TextBuffer();
  }
  entry->name.assign(name);
  entry->next = entry->end = entry->windowBase = nullptr;
  entry->windowOffset = 0;
  entry->readBuffer.reset();
  if (table.memoryOutputMode && writing) {
    entry->kind = FileKind::kMemoryOutput;
    entry->output = TextBuffer();
    entry->state = FileState::kOpen;
    return entry;
  }
  entry->kind = FileKind::kDisk;
  entry->access = mode ? mode : "r";
  entry->standardStream = false;
  if (entry->access[0] == 'w') {
    table.refusal = RefusalFor(table, entry->name);
    if (table.refusal != WriteRefusal::kNone) {
      table.lastError = 0;
      ResetEntry(entry);
      return nullptr;
    }
  }
  entry->stream = std::fopen(entry->name.c_str(), entry->access.c_str());
  if (!entry->stream) {
    table.lastError = errno;
    ResetEntry(entry);
    return nullptr;
  }
  table.lastError = 0;
  if (writing) NoteWritten(table, entry);
  if (entry->access[0] == 'r' && entry->access.find('+') == std::string::npos) {
    // Left uninitialised: only bytes a read or a push-back wrote are ever looked at, and clearing
    // 64 KB for every library file opened was a good part of a small conversion's fixed cost.
    entry->readBuffer = std::make_unique_for_overwrite<char[]>(kReadBlock + 1);
    RestartWindow(entry, 0);
  }
  entry->state = FileState::kOpen;
  return entry;
}

FileEntry* FileOpenText(FileTable& table, std::string_view name, const char* text, long size) {
  bool existing = false;
  FileEntry* entry = FindSlot(table, name, &existing);
  if (existing && entry->kind == FileKind::kDisk) EndStream(entry);
  ResetEntry(entry);
  entry->name.assign(name);
  entry->kind = FileKind::kMemoryInput;
  entry->input = text ? text : "";
  entry->inputSize = text ? size : 0;
  entry->windowBase = entry->next = entry->input;
  entry->end = entry->input + entry->inputSize;
  entry->windowOffset = 0;
  entry->state = FileState::kOpen;
  return entry;
}

FileEntry* FileOpenStandardOutput(FileTable& table) {
  bool existing = false;
  FileEntry* entry = FindSlot(table, kStandardOutputEntry, &existing);
  if (existing && entry->state == FileState::kOpen) return entry;
  if (existing && entry->kind == FileKind::kDisk) EndStream(entry);
  ResetEntry(entry);
  entry->name = kStandardOutputEntry;
  entry->kind = FileKind::kDisk;
  entry->access = "w";
  entry->stream = stdout;
  entry->standardStream = true;
  entry->state = FileState::kOpen;
  return entry;
}

FileEntry* FileOpenMemory(FileTable& table, std::string_view name) {
  bool existing = false;
  FileEntry* entry = FindSlot(table, name, &existing);
  if (existing && entry->state == FileState::kOpen) return entry;
  if (existing && entry->kind == FileKind::kDisk) EndStream(entry);
  ResetEntry(entry);
  entry->name.assign(name);
  entry->kind = FileKind::kMemoryOutput;
  entry->state = FileState::kOpen;
  return entry;
}

void FileClose(FileEntry* entry) {
  if (!entry || entry->state != FileState::kOpen) return;
  entry->state = FileState::kClosed;
  entry->next = entry->end = nullptr;
  if (entry->kind == FileKind::kDisk) EndStream(entry);
}

bool FileCloseChecked(FileTable& table, FileEntry* entry) {
  if (!entry || entry->state != FileState::kOpen) return true;
  int error = entry->writeError;
  if (entry->kind == FileKind::kDisk && entry->stream && std::fflush(entry->stream) != 0 && !error)
    error = errno ? errno : EIO;
  entry->state = FileState::kClosed;
  entry->next = entry->end = nullptr;
  if (entry->kind == FileKind::kDisk && EndStream(entry) != 0 && !error)
    error = errno ? errno : EIO;
  entry->writeError = 0;
  if (error == 0) return true;
  table.lastError = error;
  errno = error;
  return false;
}

int FilePutChar(FileEntry* entry, int c) {
  if (IsMemoryOutput(entry)) {
    entry->output.AppendChar(static_cast<char>(c));
    return 1;
  }
  if (IsOpenDisk(entry)) {
    int written = std::fputc(c, entry->stream);
    if (written == EOF) NoteWriteError(entry);
    return written;
  }
  return -1;
}

std::size_t FileWrite(FileEntry* entry, const void* bytes, std::size_t size, std::size_t count) {
  if (IsMemoryOutput(entry)) {
    entry->output.AppendBytes(bytes, size * count);
    return size * count;
  }
  if (IsOpenDisk(entry)) {
    std::size_t written = std::fwrite(bytes, size, count, entry->stream);
    if (written != count && size != 0) NoteWriteError(entry);
    return written;
  }
  return 0;
}

int FilePutString(FileEntry* entry, std::string_view text) {
  if (IsMemoryOutput(entry)) {
    entry->output.AppendString(text);
    return 1;
  }
  if (IsOpenDisk(entry)) {
    // A stream belongs to one engine and is used by one thread; the line writer calls this for
    // every piece of output, so the stream lock is skipped where the library allows it.
#if defined(__GLIBC__)
    const std::size_t written = fwrite_unlocked(text.data(), 1, text.size(), entry->stream);
#else
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), entry->stream);
#endif
    if (written == text.size()) return 1;
    NoteWriteError(entry);
    return -1;
  }
  return -1;
}

int FileGetCharSlow(FileEntry* entry) {
  // A memory input's window is its whole text, so only disk files read on.
  if (IsWindowedDisk(entry)) return Refill(entry) ? static_cast<unsigned char>(*entry->next++) : -1;
  if (IsOpenDisk(entry)) return getc_unlocked(entry->stream);
  return -1;
}

std::size_t FileRead(FileEntry* entry, void* bytes, std::size_t size, std::size_t count) {
  if (IsMemoryInput(entry) || IsWindowedDisk(entry)) {
    const std::size_t wanted = size * count;
    const std::size_t buffered = static_cast<std::size_t>(entry->end - entry->next);
    std::size_t n = wanted < buffered ? wanted : buffered;
    std::memcpy(bytes, entry->next, n);
    entry->next += n;
    if (n < wanted && IsWindowedDisk(entry)) {
      // The rest comes straight from the stream; the window restarts behind it.
      const long streamAt = entry->windowOffset + static_cast<long>(entry->end - entry->windowBase);
      const std::size_t got =
          std::fread(static_cast<char*>(bytes) + n, 1, wanted - n, entry->stream);
      RestartWindow(entry, streamAt + static_cast<long>(got));
      n += got;
    }
    return size ? n / size : 0;
  }
  if (IsOpenDisk(entry)) return std::fread(bytes, size, count, entry->stream);
  return 0;
}

bool FileReadLine(FileEntry* entry, std::string& line, std::size_t size) {
  line.clear();
  if (size < 2) return false;
  if (IsMemoryInput(entry) || IsOpenDisk(entry)) {
    while (line.size() < size - 1) {
      int c = FileGetChar(entry);
      if (c < 0) break;
      line.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    return !line.empty();
  }
  return false;
}

int FileUngetChar(FileEntry* entry, int c) {
  if (IsMemoryInput(entry)) {
    if (entry->next <= entry->windowBase) return -1;
    --entry->next;
    return c;
  }
  if (IsWindowedDisk(entry)) {
    if (c < 0 || entry->next <= entry->readBuffer.get()) return -1;
    char* slot = entry->readBuffer.get() + (entry->next - entry->readBuffer.get()) - 1;
    *slot = static_cast<char>(c);
    entry->next = slot;
    return c;
  }
  if (IsOpenDisk(entry)) return std::ungetc(c, entry->stream);
  return -1;
}

long FileTell(FileEntry* entry) {
  if (IsMemoryInput(entry) || IsWindowedDisk(entry)) return WindowPosition(entry);
  if (IsOpenDisk(entry)) return std::ftell(entry->stream);
  return -1;
}

int FileSeek(FileEntry* entry, long offset, int whence) {
  if (IsMemoryInput(entry)) {
    long target;
    switch (whence) {
      case 0:
        target = offset;
        break;
      case 1:
        target = WindowPosition(entry) + offset;
        break;
      case 2:
        target = entry->inputSize - offset;
        break;
      default:
        return 1;
    }
    if (target < 0 || target > entry->inputSize) return 1;
    entry->next = entry->windowBase + target;
    return 0;
  }
  if (IsWindowedDisk(entry)) {
    if (whence == 0 || whence == 1) {
      const long target = whence == 0 ? offset : WindowPosition(entry) + offset;
      const long windowSize = static_cast<long>(entry->end - entry->windowBase);
      if (target >= entry->windowOffset && target <= entry->windowOffset + windowSize) {
        entry->next = entry->windowBase + (target - entry->windowOffset);
        return 0;
      }
      if (target < 0 || std::fseek(entry->stream, target, SEEK_SET) != 0) return 1;
      RestartWindow(entry, target);
      return 0;
    }
    if (std::fseek(entry->stream, offset, whence) != 0) return 1;
    RestartWindow(entry, std::ftell(entry->stream));
    return 0;
  }
  if (IsOpenDisk(entry)) return std::fseek(entry->stream, offset, whence) == 0 ? 0 : 1;
  return 1;
}

void FileFlush(FileEntry* entry) {
  if (IsOpenDisk(entry)) std::fflush(entry->stream);
}

int FileRemove(FileEntry* entry) {
  if (!entry || entry->state == FileState::kFree) return 1;
  if (entry->kind == FileKind::kDisk) {
    // Standard output is only let go: there is no file of that name to delete.
    const bool standardStream = entry->standardStream;
    EndStream(entry);
    std::string name = entry->name;
    ResetEntry(entry);
    if (!standardStream) std::remove(name.c_str());
    return 0;
  }
  if (entry->kind == FileKind::kMemoryOutput) {
    bool hadStorage = entry->output.capacity() != 0;
    ResetEntry(entry);
    return hadStorage ? 1 : 0;
  }
  return 1;
}

ConvertedOutput* FileSweep(Engine& engine, bool discard, int* count) {
  FileTable& table = engine.files;
  int outputs = 0;
  if (!discard) {
    for (auto& entry : table.entries) {
      if (entry->state != FileState::kFree && entry->kind == FileKind::kMemoryOutput &&
          entry->output.capacity() != 0) {
        ++outputs;
      }
    }
  }
  ConvertedOutput* results = nullptr;
  if (outputs > 0) {
    results = static_cast<ConvertedOutput*>(std::calloc(outputs, sizeof(ConvertedOutput)));
    if (!results) throw std::bad_alloc();
  }
  // The log lists every disk file read or written (its HrefFix may still open files).
  if (engine.hooks.beforeSweep) engine.hooks.beforeSweep(engine);
  int slot = 0;
  for (auto& entry : table.entries) {
    if (entry->state == FileState::kFree) continue;
    if (engine.hooks.sweptFile) engine.hooks.sweptFile(engine, *entry);
    if (entry->kind == FileKind::kMemoryOutput && !discard && entry->output.capacity() != 0) {
      ConvertedOutput& out = results[slot++];
      out.length = entry->output.length();
      out.data = entry->output.Release();
      out.name = strdup(entry->name.c_str());
      if (!out.name) throw std::bad_alloc();
    } else if (entry->kind == FileKind::kDisk) {
      EndStream(entry.get());
    }
    ResetEntry(entry.get());
  }
  table.entries.clear();
  // What this conversion wrote (and left in place) is protected for the rest of the run.
  for (const auto& [identity, name] : table.writtenNow) {
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && IdentityOf(st) == identity) table.written.insert(identity);
  }
  table.writtenNow.clear();
  table.haveInput = false;
  if (engine.hooks.afterSweep) engine.hooks.afterSweep(engine);
  if (count) *count = slot;
  return results;
}

std::string_view BaseName(std::string_view path) {
  auto p = path.rfind('/');
  return p == std::string_view::npos ? path : path.substr(p + 1);
}

std::string_view DirectoryPart(std::string_view path) {
  auto p = path.rfind('/');
  return p == std::string_view::npos ? std::string_view() : path.substr(0, p);
}

bool IsRelativePath(std::string_view path) { return path.empty() || path[0] != '/'; }

bool StampFile(const FileEntry* entry, FileStamp& stamp) {
  stamp = FileStamp{};
  if (!entry || entry->kind != FileKind::kDisk || !entry->stream || entry->standardStream)
    return false;
  struct stat st;
  if (fstat(fileno(entry->stream), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp.path = entry->name;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modifiedNs = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
  stamp.changedNs = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
  return true;
}

}  // namespace quillo
