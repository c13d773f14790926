// Growable text buffer and the ASCII case-folding comparisons shared by the whole engine.
// Depends on nothing but the standard library.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace quillo {

/// Growable NUL-terminated text. Appending n bytes to a buffer of length L needs L + n + 1 bytes;
/// when that exceeds the capacity, the capacity becomes (needed / 16 + 1) * 16, or twice the old
/// capacity when that is more. A default-constructed buffer is empty and owns no storage; once it
/// has storage, data()[length()] is always NUL. Clearing keeps the storage.
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  TextBuffer(TextBuffer&& other) noexcept;
  TextBuffer& operator=(TextBuffer&& other) noexcept;
  ~TextBuffer();

  int AppendString(std::string_view text);  ///< returns the new length
  int AppendBytes(const void* bytes, std::size_t n);
  int AppendChar(char c);
  void Clear() {
    length_ = 0;
    if (data_) data_[0] = '\0';
  }
  /// Gives up the storage to the caller (a malloc'ed block, or nullptr) and leaves the buffer
  /// empty.
  char* Release();

  const char* data() const { return data_ ? data_ : ""; }
  char* mutable_data() { return data_; }
  int length() const { return length_; }
  int capacity() const { return capacity_; }
  bool empty() const { return length_ == 0; }
  std::string_view view() const { return {data(), static_cast<std::size_t>(length_)}; }

 private:
  void Reserve(std::size_t needed);
  char* data_ = nullptr;
  int capacity_ = 0;
  int length_ = 0;
};

/// ASCII upper-case fold of one byte; bytes outside a-z are returned unchanged.
constexpr char FoldUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

/// Case-insensitive comparison after folding a-z to A-Z: -1, 0 or 1.
int CaseCompare(std::string_view a, std::string_view b);
/// The same, bounded to n characters (equal when the first n characters match).
int CaseCompareN(std::string_view a, std::string_view b, std::size_t n);
inline bool CaseEqual(std::string_view a, std::string_view b) { return CaseCompare(a, b) == 0; }
/// Copy with a-z folded to A-Z (the key used by case-insensitive lookups).
std::string FoldedKey(std::string_view text);
/// Hash and equality for maps keyed by names that compare without ASCII case; both accept any
/// string-like key, so a lookup needs no folded copy of the name.
struct CaseInsensitiveHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    std::size_t h = 14695981039346656037ull;  // FNV-1a over the folded bytes
    for (char c : text) h = (h ^ static_cast<unsigned char>(FoldUpper(c))) * 1099511628211ull;
    return h;
  }
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (FoldUpper(a[i]) != FoldUpper(b[i])) return false;
    return true;
  }
};

/// vsnprintf into a string of whatever length the text needs.
std::string FormatV(const char* format, va_list ap);

}  // namespace quillo
