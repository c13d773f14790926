#include "base/buffers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace quillo {

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      length_(std::exchange(other.length_, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

TextBuffer::~TextBuffer() { std::free(data_); }

void TextBuffer::Reserve(std::size_t needed) {
  if (needed <= static_cast<std::size_t>(capacity_)) return;
  // Small buffers grow in 16-byte steps; a buffer never less than doubles, so appending to large
  // outputs (pictures in memory, whole pages) stays linear instead of copying on every step.
  std::size_t grown = (needed / 16 + 1) * 16;
  std::size_t doubled = static_cast<std::size_t>(capacity_) * 2;
  if (doubled > grown) grown = doubled;
  // The int fields bound a buffer to 2 GiB; beyond that the allocation is refused like any other.
  if (grown > 0x7fffffffu) throw std::bad_alloc();
  char* block = static_cast<char*>(std::realloc(data_, grown));
  if (!block) throw std::bad_alloc();
  data_ = block;
  capacity_ = static_cast<int>(grown);
}

int TextBuffer::AppendString(std::string_view text) {
  return AppendBytes(text.data(), text.size());
}

int TextBuffer::AppendBytes(const void* bytes, std::size_t n) {
  Reserve(static_cast<std::size_t>(length_) + n + 1);
  if (n) std::memcpy(data_ + length_, bytes, n);
  length_ += static_cast<int>(n);
  data_[length_] = '\0';
  return length_;
}

int TextBuffer::AppendChar(char c) {
  Reserve(static_cast<std::size_t>(length_) + 2);
  data_[length_++] = c;
  data_[length_] = '\0';
  return length_;
}

char* TextBuffer::Release() {
  capacity_ = 0;
  length_ = 0;
  return std::exchange(data_, nullptr);
}

int CaseCompare(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(FoldUpper(a[i]));
    unsigned char y = static_cast<unsigned char>(FoldUpper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CaseCompareN(std::string_view a, std::string_view b, std::size_t n) {
  return CaseCompare(a.substr(0, n), b.substr(0, n));
}

std::string FoldedKey(std::string_view text) {
  std::string key(text);
  for (char& c : key) c = FoldUpper(c);
  return key;
}

std::string FormatV(const char* format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, ap);
  return text;
}

}  // namespace quillo
