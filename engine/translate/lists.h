// Lists: the list table and the list override table, read into the number format of every level
// of every list, and the number format of a list paragraph's level.
#pragma once

namespace quillo {
struct Engine;

namespace translate {
struct TranslateState;

/// Reads the list table (`overrides` false: the number format of each level of each list) or
/// the list override table (`overrides` true: the list each \ls number stands for, and the
/// formats of the levels it overrides, \lfolevel), from the token after the destination word to
/// the group's closing brace, and pops the group's state. Everything else in the groups (level
/// texts, indents, names) is passed over.
void ReadListTable(Engine& engine, bool overrides);
/// The number format of a list paragraph's level, as ListFormat tells the translation file:
/// "decimal", "upper-roman", "lower-roman", "upper-alpha", "lower-alpha" or "bullet"; "" for a
/// paragraph without a list override (its number text is all there is), and nullptr for one
/// whose override the document does not define (no list: Word shows no number there).
const char* ListFormatOf(const TranslateState& t);

}  // namespace translate
}  // namespace quillo
