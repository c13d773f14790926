// Words of text and the font they are shown in (word_fonts.h).
#include "translate/word_fonts.h"

#include "base/spill_stream.h"
#include "engine.h"
#include "translate/tags.h"
#include "translate/translate.h"
#include "translate/word_chars.h"

namespace quillo::translate {

namespace {

/// The character of output text `text` at `at` (a reference or entity, or a UTF-8 sequence):
/// its length in bytes, and in `word` whether it belongs to a word.
std::size_t CharacterAt(std::string_view text, std::size_t at, bool& word) {
  if (text[at] == '&') {
    const std::size_t end = text.substr(at, 12).find(';');
    if (end != std::string_view::npos) {
      word = WordEntity(text.substr(at + 1, end - 1));
      return end + 1;
    }
  }
  word = WordCodePoint(DecodeAt(text, at));
  const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
  return at + length <= text.size() ? length : text.size() - at;
}

void OpenWord(TranslateState& t, long start) {
  WordFontState& w = t.wordFont;
  w.start = start;
  w.channel = t.cur.channel;
  w.used = 0;
}

/// Counts `n` characters of the open word in `font`.
void Count(WordFontState& w, int font, long n) {
  if (w.used > 0 && w.fonts[w.used - 1] == font) {
    w.counts[w.used - 1] += n;
    return;
  }
  for (int i = 0; i < w.used; ++i) {
    if (w.fonts[i] == font) {
      w.counts[i] += n;
      return;
    }
  }
  if (w.used == WordFontState::kFonts) return;
  w.fonts[w.used] = font;
  w.counts[w.used] = n;
  ++w.used;
}

/// Pass 2: the next record, or none.
void Advance(Engine& engine) {
  TranslateState& t = engine.translate;
  WordFontState& w = t.wordFont;
  w.next = WordFontState::kNone;
  if (w.readOffset >= t.wordFontRecords.Size()) return;
  SpillReader in(t.wordFontRecords, w.readOffset);
  const long next = in.Take<long>();
  const int font = in.Take<int>();
  if (!in.ok()) return;
  w.next = next;
  w.nextFont = font;
  w.readOffset = in.offset();
}

}  // namespace

// ---- Pass 1: counting
// ----------------------------------------------------------------------------------

void NoteWordText(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  WordFontState& w = t.wordFont;
  if (w.start >= 0 && w.channel != t.cur.channel) EndWord(engine);
  // Every character of one token stands at the token's position.
  const long position = engine.reader.charCount;
  const int font = t.cur.chr.font;
  if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80) {
    // One ASCII character, the commonest piece.
    if (!kAsciiWordChar[static_cast<unsigned char>(text[0])]) {
      EndWord(engine);
    } else {
      if (w.start < 0) OpenWord(t, position);
      Count(w, font, 1);
    }
    return;
  }
  for (std::size_t at = 0; at < text.size();) {
    bool word = false;
    at += CharacterAt(text, at, word);
    if (!word) {
      EndWord(engine);
      continue;
    }
    if (w.start < 0) OpenWord(t, position);
    Count(w, font, 1);
  }
}

void NoteWordInput(Engine& engine, std::string_view input, long before) {
  TranslateState& t = engine.translate;
  WordFontState& w = t.wordFont;
  if (w.start >= 0 && w.channel != t.cur.channel) EndWord(engine);
  const int font = t.cur.chr.font;
  // Plain input is ASCII, a character a byte: only the word it starts with and the word it ends
  // with are looked at, so the cost does not grow with the text between them.
  const auto word = [&](std::size_t i) {
    return kAsciiWordChar[static_cast<unsigned char>(input[i]) & 0x7F];
  };
  const std::size_t n = input.size();
  std::size_t first = 0;
  if (w.start >= 0) {
    while (first < n && word(first)) ++first;
    if (first > 0) Count(w, font, static_cast<long>(first));
    if (first == n) return;
    EndWord(engine);
  }
  // No word is open before `first`: one may open after the last character that is not a letter
  // or digit (or at the start).
  std::size_t last = n;
  while (last > first && word(last - 1)) --last;
  if (last == n) return;
  OpenWord(t, before + static_cast<long>(last) + 1);
  Count(w, font, static_cast<long>(n - last));
}

void EndWord(Engine& engine) {
  TranslateState& t = engine.translate;
  WordFontState& w = t.wordFont;
  if (w.start < 0) return;
  int best = 0;
  for (int i = 1; i < w.used; ++i)
    if (w.counts[i] > w.counts[best]) best = i;
  const long start = w.start;
  w.start = -1;
  if (best == 0) return;
  t.wordFontRecords.Put<long>(start);
  t.wordFontRecords.Put<int>(w.fonts[best]);
  // Pass 2 shows the font only in a look that is on the page: the look of the word's end, which
  // is the word's own but for the font when only the font changes inside it.
  const int held = t.heldFont;
  const int current = t.charLooks.current;
  t.heldFont = w.fonts[best];
  CharLookIdx(engine);
  t.heldFont = held;
  t.charLooks.current = current;
}

// ---- Pass 2: showing
// -----------------------------------------------------------------------------------

void ShowWordFont(Engine& engine) {
  TranslateState& t = engine.translate;
  WordFontState& w = t.wordFont;
  const long position = engine.reader.charCount;
  while (w.next < position) Advance(engine);
  if (w.next != position) return;
  const int font = w.nextFont;
  Advance(engine);
  if (font == t.cur.chr.font) return;
  const int held = t.heldFont;
  t.heldFont = font;
  if (!CharLookKnown(engine)) {
    t.heldFont = held;
    return;
  }
  t.stateChanged = true;
}

void StartWordFonts(Engine& engine) {
  engine.translate.wordFont = WordFontState();
  Advance(engine);
}

}  // namespace quillo::translate
