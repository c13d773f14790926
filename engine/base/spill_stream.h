// SpillStream (base/spill_stream_state.h) and SpillReader, which reads one forward value by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/spill_stream_state.h"

namespace quillo {

/// Reads a SpillStream forward from an offset, value by value.
class SpillReader {
 public:
  SpillReader(SpillStream& stream, std::uint64_t offset) : stream_(stream), offset_(offset) {}
  /// False once a read went past the end (then every value read is 0).
  bool ok() const { return ok_; }
  std::uint64_t offset() const { return offset_; }
  template <typename T>
  T Take() {
    T value{};
    char bytes[sizeof value];
    if (ok_ && stream_.ReadAt(offset_, bytes, sizeof value)) {
      std::memcpy(&value, bytes, sizeof value);
      offset_ += sizeof value;
    } else {
      ok_ = false;
    }
    return value;
  }
  void TakeBytes(std::string& out, std::size_t n) {
    out.resize(n);
    if (n == 0) return;
    if (ok_ && stream_.ReadAt(offset_, out.data(), n)) {
      offset_ += n;
    } else {
      ok_ = false;
      out.clear();
    }
  }

 private:
  SpillStream& stream_;
  std::uint64_t offset_;
  bool ok_ = true;
};

}  // namespace quillo
