// SpillStream, the state of records a conversion writes in one pass and reads back in a later
// one: kept in memory up to a limit and continued in an anonymous temporary file past it, so that
// they do not hold memory in proportion to the document. base/spill_stream.h adds its reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace quillo {

/// A byte stream appended to and read back from any offset. The bytes before `SpilledBytes()`
/// are in the temporary file, the rest in memory. Should no temporary file be available (or
/// the disk be full), everything from there on stays in memory: the records are never lost.
class SpillStream {
 public:
  static constexpr std::size_t kDefaultMemoryBytes = 1u << 20;
  static constexpr std::size_t kReadBlock = 64u << 10;

  explicit SpillStream(std::size_t memoryBytes = kDefaultMemoryBytes) : memoryBytes_(memoryBytes) {}

  /// Appends `n` bytes.
  void Append(const void* data, std::size_t n) {
    tail_.append(static_cast<const char*>(data), n);
    if (tail_.size() >= memoryBytes_ && !spillFailed_) Spill();
  }
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  /// Appends an integer or another trivially copyable value as its bytes.
  template <typename T>
  void Put(T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    Append(bytes, sizeof value);
  }
  /// Copies the `n` bytes at `offset` to `out`; false when they were never written.
  bool ReadAt(std::uint64_t offset, void* out, std::size_t n) {
    if (offset >= spilled_ && offset - spilled_ <= tail_.size() &&
        n <= tail_.size() - (offset - spilled_)) {
      if (n > 0) std::memcpy(out, tail_.data() + (offset - spilled_), n);
      return true;
    }
    return ReadSpilled(offset, out, n);
  }
  /// Bytes written so far.
  std::uint64_t Size() const { return spilled_ + tail_.size(); }
  /// Bytes that went to the temporary file.
  std::uint64_t SpilledBytes() const { return spilled_; }
  /// Once a temporary file is in use, moves the memory part there too and releases its memory
  /// (when everything has been written, before it is read back).
  void SpillRest();
  /// Forgets everything (and closes the temporary file).
  void Clear();

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  void Spill();
  bool ReadSpilled(std::uint64_t offset, void* out, std::size_t n);

  std::size_t memoryBytes_;
  std::string tail_;           ///< the bytes after the spilled ones
  std::uint64_t spilled_ = 0;  ///< bytes in the file
  bool spillFailed_ = false;   ///< no file, or it took no more: the rest stays in tail_
  std::unique_ptr<std::FILE, Closer> file_;
  std::string block_;  ///< a block of the file read last (reads go forward mostly)
  std::uint64_t blockStart_ = 0;
};

}  // namespace quillo
