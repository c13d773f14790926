// Words whose font changes inside them (WordFontState): counted by pass 1, shown in one font by
// pass 2. Depends on the reader's position (engine.reader.charCount), the words of
// word_chars.h and the character look registry.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillo {
struct Engine;

namespace translate {

/// Pass 1: output text of one token written to the body in the current font.
void NoteWordText(Engine& engine, std::string_view text);
/// Pass 1: plain input text taken in one piece (ContinuePlainText); `before` is the reader
/// position before it, so that its byte i is at before + i + 1 as if read token by token.
void NoteWordInput(Engine& engine, std::string_view input, long before);
/// Pass 1: a line break, tab or paragraph mark ends the open word.
void EndWord(Engine& engine);
/// Pass 2: body text at or past the next record's position; shows the record's font from the
/// word's first character when the text is that character.
void ShowWordFont(Engine& engine);
/// Pass 2: how many bytes of plain input may be taken in one piece from the current position
/// without passing the first character of a word that ShowWordFont must see.
inline std::size_t PlainTextBeforeWordFont(long next, long position, std::size_t available) {
  const long room = next - position - 1;
  return room <= 0                                    ? 0
         : static_cast<std::size_t>(room) < available ? static_cast<std::size_t>(room)
                                                      : available;
}
/// Before each pass: the open word is forgotten and the first record read (there is none before
/// pass 1, whose conversion starts with no records).
void StartWordFonts(Engine& engine);

}  // namespace translate
}  // namespace quillo
