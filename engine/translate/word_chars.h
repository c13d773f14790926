// Which characters of output text make words: letters and digits of any script, as a reader
// counts words, and which of them belong to a complex script. Inline, for the body text path of
// both passes (text.cc, word_fonts.cc).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/buffers.h"

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

/// True for a code point of a complex script, which word processors show at the complex-script
/// size (\afs): the right-to-left scripts (Hebrew, Arabic, Syriac, Thaana, N'Ko and their
/// presentation forms), the Indic scripts and Sinhala, Thai, Lao, Tibetan, Myanmar and Khmer.
/// Latin letters and European digits written among them are not.
inline bool ComplexCodePoint(uint32_t c) {
  if (c < 0x0590) return false;
  return c <= 0x109F ||                   // Hebrew to Myanmar
         (c >= 0x1780 && c <= 0x17FF) ||  // Khmer
         (c >= 0x19E0 && c <= 0x19FF) ||  // Khmer symbols
         (c >= 0x1CD0 && c <= 0x1CFF) ||  // Vedic extensions
         (c >= 0xA8E0 && c <= 0xA8FF) ||  // Devanagari extended
         (c >= 0xA9E0 && c <= 0xA9FF) ||  // Myanmar extended-B
         (c >= 0xAA60 && c <= 0xAA7F) ||  // Myanmar extended-A
         (c >= 0xFB1D && c <= 0xFDFF) ||  // Hebrew and Arabic presentation forms
         (c >= 0xFE70 && c <= 0xFEFE);    // Arabic presentation forms-B
}

/// The code point of numeric character reference `body` ("#N" or "#xH", without '&' and ';'),
/// or 0xFFFFFFFF when `body` is not one (a named entity, a malformed or too large number).
inline uint32_t ReferenceCodePoint(std::string_view body) {
  constexpr uint32_t kNot = 0xFFFFFFFF;
  if (body.size() < 2 || body[0] != '#') return kNot;
  uint32_t c = 0;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  const int base = hex ? 16 : 10;
  for (char d : body.substr(hex ? 2 : 1)) {
    const int v = HexDigitValue(static_cast<unsigned char>(d));
    if (v < 0 || v >= base || c > 0x10FFFF) return kNot;
    c = c * static_cast<uint32_t>(base) + static_cast<uint32_t>(v);
  }
  return c;
}

/// Whether a character reference or named entity (`body` without '&' and ';') stands for a
/// letter or digit. Named entities are letters when they name an accented or joined letter.
inline bool WordEntity(std::string_view body) {
  if (body.size() > 1 && body[0] == '#') {
    const uint32_t c = ReferenceCodePoint(body);
    return c != 0xFFFFFFFF && WordCodePoint(c);
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

/// The kind of the first letter or digit of a piece of output text: the size it is shown at.
enum class TextScript : unsigned char { kNeutral, kRegular, kComplex };

/// The script of the first letter or digit among the first characters of output text `text` (a
/// character reference counts as the character it stands for, a named entity of a letter as a
/// Latin letter); kNeutral when they hold none (blanks, punctuation, symbols).
inline TextScript ScriptOf(std::string_view text) {
  constexpr int kLooked = 16;  // pieces of text are mostly one character
  std::size_t at = 0;
  for (int n = 0; n < kLooked && at < text.size(); ++n) {
    const auto lead = static_cast<unsigned char>(text[at]);
    uint32_t c = lead;
    if (lead == '&') {
      const std::size_t end = text.substr(at, 12).find(';');
      if (end == std::string_view::npos) {
        ++at;
        continue;
      }
      const std::string_view body = text.substr(at + 1, end - 1);
      at += end + 1;
      c = ReferenceCodePoint(body);
      if (c == 0xFFFFFFFF) {
        if (WordEntity(body)) return TextScript::kRegular;
        continue;
      }
    } else if (lead < 0x80) {
      // The underscore (a rule of "____" to write on) is punctuation here.
      if (kAsciiWordChar[lead] && lead != '_') return TextScript::kRegular;
      ++at;
      continue;
    } else {
      c = DecodeAt(text, at);
      at += static_cast<std::size_t>(SequenceLength(lead));
    }
    if (WordCodePoint(c)) return ComplexCodePoint(c) ? TextScript::kComplex : TextScript::kRegular;
  }
  return TextScript::kNeutral;
}

}  // namespace quillo::translate
