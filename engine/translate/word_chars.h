// Which characters of output text make words: letters and digits of any script, as a reader
// counts words. Inline, for the body text path of both passes (text.cc, word_fonts.cc).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillo::translate {

/// ASCII characters that belong to a word: digits, letters and the underscore.
inline constexpr std::array<bool, 128> kAsciiWordChar = [] {
  std::array<bool, 128> word{};
  for (int c = 0; c < 128; ++c)
    word[c] =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  return word;
}();

/// True for a code point that belongs to a word: letters and digits of any script, not
/// punctuation, symbols, blanks or private-use characters (symbol fonts).
inline bool WordCodePoint(uint32_t c) {
  if (c < 0x80) return kAsciiWordChar[c];
  if (c < 0xC0) return c == 0xAA || c == 0xB5 || c == 0xBA;
  if (c == 0xD7 || c == 0xF7) return false;
  if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) ||
      (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xFE30 && c <= 0xFE6F) ||
      (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
      (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) || c >= 0xFFF0)
    return false;
  return true;
}

/// Whether a character reference or named entity (`body` without '&' and ';') stands for a
/// letter or digit. Named entities are letters when they name an accented or joined letter.
inline bool WordEntity(std::string_view body) {
  if (body.size() > 1 && body[0] == '#') {
    uint32_t c = 0;
    const bool hex = body[1] == 'x' || body[1] == 'X';
    for (char d : body.substr(hex ? 2 : 1)) {
      int v = d >= '0' && d <= '9'          ? d - '0'
              : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
              : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                            : -1;
      if (v < 0 || c > 0x10FFFF) return false;
      c = c * (hex ? 16 : 10) + static_cast<uint32_t>(v);
    }
    return WordCodePoint(c);
  }
  static constexpr std::string_view kLetterSuffixes[] = {"acute", "grave", "circ",  "uml", "tilde",
                                                         "ring",  "cedil", "slash", "lig", "szlig",
                                                         "eth",   "thorn", "caron"};
  if (body.empty()) return false;
  for (std::string_view suffix : kLetterSuffixes)
    if (suffix.back() == body.back() && body.size() > suffix.size() && body.ends_with(suffix))
      return true;
  return false;
}

/// Length of the UTF-8 sequence led by `lead` (1 for a stray continuation byte).
inline int SequenceLength(unsigned char lead) {
  return lead < 0xC0 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

/// Decodes the UTF-8 sequence of `text` that starts at `at`; 0xFFFD for a broken one.
inline uint32_t DecodeAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return lead;
  if (lead < 0xC0) return 0xFFFD;
  const int length = SequenceLength(lead);
  if (at + length > text.size()) return 0xFFFD;
  uint32_t c = lead & (0x7F >> (length + 1));
  for (int i = 1; i < length; ++i) c = (c << 6) | (byte(at + i) & 0x3F);
  return c;
}

/// Whether the output text `text` starts (or, with `last`, ends) with a letter or digit; a
/// character reference or named entity counts as the character it stands for.
inline bool WordAtEdge(std::string_view text, bool last) {
  if (text.empty()) return false;
  if (!last) {
    if (text[0] == '&') {
      const std::size_t end = text.find(';');
      return end != std::string_view::npos && end < 12 && WordEntity(text.substr(1, end - 1));
    }
    return WordCodePoint(DecodeAt(text, 0));
  }
  if (text.back() == ';') {
    const std::size_t amp = text.rfind('&');
    if (amp != std::string_view::npos && text.size() - amp < 13)
      return WordEntity(text.substr(amp + 1, text.size() - amp - 2));
  }
  std::size_t at = text.size() - 1;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return WordCodePoint(DecodeAt(text, at));
}

}  // namespace quillo::translate
