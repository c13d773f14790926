// Growable text buffer and the ASCII case-folding comparisons shared by the whole engine.
// Depends on nothing but the standard library.
#pragma once

#include <bit>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// ---- Document text the engine keeps -----------------------------------------------------------

/// What is kept of document text that the engine holds as a name, a contents entry or a link
/// target (bookmark and anchor names, heading texts, field instructions, cross-reference and link
/// targets, document information): at most this many bytes. Such values are copied, matched and
/// remembered many times over (by translation-file functions, contents lists, every page head),
/// so a single huge one would cost many times its size in memory. The document's text itself is
/// still written to the page in full; only what is kept beside it is cut.
inline constexpr std::size_t kMaxKeptText = 8192;

/// How much of `text` fits in `room` bytes without cutting a character reference ("&amp;") in
/// two: a reference that would be cut is left out whole.
inline std::size_t KeptLength(std::string_view text, std::size_t room) {
  if (text.size() <= room) return text.size();
  constexpr std::size_t kLongestReference = 12;  // "&#x10FFFF;" and the named entities
  const std::size_t amp = room == 0 ? std::string_view::npos : text.rfind('&', room - 1);
  if (amp != std::string_view::npos && room - amp < kLongestReference &&
      text.find(';', amp) >= room)
    return amp;
  return room;
}

/// Appends `text` to a kept value, which never grows beyond kMaxKeptText.
inline void AppendKept(std::string& kept, std::string_view text) {
  if (kept.size() >= kMaxKeptText) return;
  kept.append(text.substr(0, KeptLength(text, kMaxKeptText - kept.size())));
}

/// The value of hexadecimal digit `c`, -1 for any other character.
constexpr int HexDigitValue(int c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                : -1;
}

/// ASCII upper-case fold of one byte; bytes outside a-z are returned unchanged.
constexpr char FoldUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

/// Case-insensitive comparison after folding a-z to A-Z: -1, 0 or 1.
int CaseCompare(std::string_view a, std::string_view b);
/// The same, bounded to n characters (equal when the first n characters match).
int CaseCompareN(std::string_view a, std::string_view b, std::size_t n);
/// Copy with a-z folded to A-Z (the key used by case-insensitive lookups).
std::string FoldedKey(std::string_view text);
/// Eight bytes with a-z folded to A-Z at once (the other bytes, those >= 0x80 included, kept).
inline std::uint64_t FoldUpper8(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const std::uint64_t low = x & ~kHigh;  // no byte of the sums below carries into the next
  const std::uint64_t atLeastA = low + (0x80 - 'a') * kOnes;
  const std::uint64_t aboveZ = low + (0x80 - 'z' - 1) * kOnes;
  const std::uint64_t lower = atLeastA & ~aboveZ & ~x & kHigh;  // high bit of each byte a-z
  return x - (lower >> 2);                                      // 0x80 >> 2 == 'a' - 'A'
}
/// Up to eight bytes of `text` from `pos` as one word, zero-padded.
inline std::uint64_t LoadWord(std::string_view text, std::size_t pos) {
  std::uint64_t word = 0;
  const std::size_t n = text.size() - pos;
  if (n >= 8) {
    std::memcpy(&word, text.data() + pos, 8);
  } else if (text.size() >= 8) {
    // The last eight bytes, shifted so that only the n not yet read remain.
    std::memcpy(&word, text.data() + text.size() - 8, 8);
    if constexpr (std::endian::native == std::endian::little) {
      word >>= 8 * (8 - n);
    } else {
      word <<= 8 * (8 - n);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i)
      word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[pos + i])) << (8 * i);
  }
  return word;
}
/// Hash and equality for maps keyed by names that compare without ASCII case; both accept any
/// string-like key, so a lookup needs no folded copy of the name. Both work on eight bytes at a
/// time: names are looked up for every reference the expansion language resolves.
struct CaseInsensitiveHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    std::uint64_t h = 14695981039346656037ull ^ text.size();
    for (std::size_t pos = 0; pos < text.size(); pos += 8) {
      h = (h ^ FoldUpper8(LoadWord(text, pos))) * 0x9E3779B97F4A7C15ull;
      h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
  }
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t pos = 0; pos < a.size(); pos += 8) {
      const std::uint64_t x = LoadWord(a, pos);
      const std::uint64_t y = LoadWord(b, pos);
      if (x != y && FoldUpper8(x) != FoldUpper8(y)) return false;
    }
    return true;
  }
};
/// True when `a` and `b` are equal but for ASCII case. Names are mostly compared as they were
/// written: lengths first, then eight bytes at a time, folded only where they differ.
inline bool CaseEqual(std::string_view a, std::string_view b) {
  return CaseInsensitiveEqual()(a, b);
}

/// vsnprintf into a string of whatever length the text needs.
std::string FormatV(const char* format, va_list ap);

}  // namespace quillo
