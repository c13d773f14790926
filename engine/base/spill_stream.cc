// SpillStream (see base/spill_stream.h).
#include "base/spill_stream.h"

#include <unistd.h>

#include <algorithm>

namespace quillo {

/// Moves the memory part to the end of the file (made on first need). Should the file not take
/// it all, the file is cut back to what it held and the memory part stays, with everything after
/// it.
void SpillStream::Spill() {
  if (!file_) {
    file_.reset(std::tmpfile());
    if (!file_) {
      spillFailed_ = true;
      return;
    }
  }
  std::FILE* file = file_.get();
  if (std::fseek(file, static_cast<long>(spilled_), SEEK_SET) == 0 &&
      std::fwrite(tail_.data(), 1, tail_.size(), file) == tail_.size() && std::fflush(file) == 0) {
    spilled_ += tail_.size();
    tail_.clear();
    return;
  }
  std::fflush(file);
  if (ftruncate(fileno(file), static_cast<off_t>(spilled_)) != 0) {
    // The tail cannot be cut: bytes past spilled_ are never read, so they do no harm.
  }
  spillFailed_ = true;
}

void SpillStream::SpillRest() {
  if (!file_ || spillFailed_ || tail_.empty()) return;
  Spill();
  if (tail_.empty()) tail_.shrink_to_fit();
}

/// ReadAt for bytes that begin in the file: read through a block of it.
bool SpillStream::ReadSpilled(std::uint64_t offset, void* out, std::size_t n) {
  if (offset + n > Size()) return false;
  char* to = static_cast<char*>(out);
  while (n > 0 && offset < spilled_) {
    if (offset < blockStart_ || offset >= blockStart_ + block_.size()) {
      const std::uint64_t left = spilled_ - offset;
      block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, left)));
      blockStart_ = offset;
      const ssize_t got =
          pread(fileno(file_.get()), block_.data(), block_.size(), static_cast<off_t>(offset));
      if (got <= 0) {
        block_.clear();
        return false;
      }
      block_.resize(static_cast<std::size_t>(got));
    }
    const std::size_t at = static_cast<std::size_t>(offset - blockStart_);
    const std::size_t take = std::min(n, block_.size() - at);
    std::memcpy(to, block_.data() + at, take);
    to += take;
    offset += take;
    n -= take;
  }
  if (n > 0) std::memcpy(to, tail_.data() + (offset - spilled_), n);
  return true;
}

void SpillStream::Clear() {
  tail_.clear();
  tail_.shrink_to_fit();
  block_.clear();
  block_.shrink_to_fit();
  blockStart_ = 0;
  spilled_ = 0;
  spillFailed_ = false;
  file_.reset();
}

}  // namespace quillo
