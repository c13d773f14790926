// The translation layer: the token handlers of both passes, the RTF state that groups scope, and
// the way text, special characters and paragraph ends reach the output. Sits on the reader
// (rtf/reader.h) and the document tables (rtf/tables.h); writes through string expansion
// (expand/expand.h) and the formatting tags of tags.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "expand/functions.h"
#include "translate/translate_state.h"

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// The colour of colour-table entry `number` as 0xRRGGBB; -1 for the "automatic" entry (no
/// components) and for numbers the table does not have.
int TableColorRgb(Engine& engine, int number);
/// "#rrggbb" in lower-case hexadecimal.
void HexColor(int red, int green, int blue, std::string& out);

/// The font the page shows for the current text: the held font inside a word, else the current.
inline int ShownFont(const TranslateState& t) {
  return t.heldFont >= 0 ? t.heldFont : t.cur.chr.font;
}

/// The size in points the page shows for the current text: the complex-script size for
/// complex-script text, else the size of \fs.
inline int ShownSize(const TranslateState& t) {
  return t.complexText ? t.cur.chr.complexSize : t.cur.chr.fontSize;
}

// ---- Driver interface
// -----------------------------------------------------------------------------

/// Installs the four class callbacks and takes the destinations the control handler reads
/// itself away from the reader's default readers. Called before each pass.
void InstallHandlers(Engine& engine);
/// Forgets everything of the previous conversion (set-up).
void ResetConversion(Engine& engine);
/// Resets the group, paragraph and document state for a new pass. At the switch to pass 2 it
/// also reports the stray braces that pass 1 counted beyond the reported ones.
void ResetPass(Engine& engine);
/// Resets the formatting state of both channels for a newly opened output file.
void StartOutputFile(Engine& engine);
/// End of an output file: writes pending text, leaves the special text states and closes the
/// text and paragraph tags of both channels, so the footnote text can be merged.
void FinishOutputFormatting(Engine& engine);
/// Pops every remaining entry of `context`'s stack, writing each closing text.
void PopAllTags(Engine& engine, OutputContext& context);
/// Releases paragraph-number text that is being held back and writes gathered body text. Every
/// writer of output calls this first so that text keeps its order.
void ReleaseHeldText(Engine& engine);

// ---- Group state
// ----------------------------------------------------------------------------------

/// Saves the current group state ('{').
void PushGroupState(Engine& engine);
/// Restores the state saved by the matching '{'. A pop without a saved state is counted and
/// reported (MSG_STACK_POP_ERR) and changes nothing.
void PopGroupState(Engine& engine);

// ---- Text
// ------------------------------------------------------------------------------------------

/// Output text of standard character `index` read from input byte `byte` (-1 for characters
/// that came from a control word). Unmapped bytes get a numeric reference and are reported once.
std::string_view OutputChar(Engine& engine, int index, int byte);
/// Output text of Unicode code point `codePoint`: the output map's text when a standard
/// character of that code point has one, else its numeric reference (NumericReference). With the
/// setting BmpOnly at "1", characters beyond U+FFFF are written as U+FFFD.
std::string_view UnicodeOutput(Engine& engine, int codePoint, std::string& scratch);
/// The code point written for `codePoint`, or -1 when nothing is. Code points that no markup
/// language accepts as characters never reach an output: control characters other than tab,
/// line feed and carriage return, and DEL, give -1 (they carry no text); the C1 controls
/// 0x80-0x9F are read as the Windows-1252 characters they stand for in mis-encoded documents
/// (as browsers read them), -1 where that code page has none; surrogates, U+FFFE, U+FFFF and
/// values beyond U+10FFFF give the replacement character U+FFFD.
int WritableCodePoint(int codePoint);
/// The numeric character reference "&#N;" of WritableCodePoint(`codePoint`), "" when that is -1.
std::string_view NumericReference(int codePoint, std::string& scratch);

// ---- Computed settings
// -----------------------------------------------------------------------------

/// The value of computed built-in setting `builtinIndex` that reads translation state (PAlign,
/// indents, font and attribute names, styles, colours, format registries, NestLevel, MatchName,
/// document information). Returns false for every other index (those the structure layer
/// computes among them).
bool ComputedValue(Engine& engine, int builtinIndex, std::string& out);
/// Assigning MatchName: forces the .PMatch entry of that style name (exact, case counts) for the
/// current paragraph and returns its index; an unknown name reports MSG_INVALID_MATCHNAME. An
/// empty value does nothing. -1 when no entry was selected.
int AssignMatchName(Engine& engine, std::string_view value);

/// The current channel's state. Defined here (a template only so that the body can use Engine,
/// which is complete wherever it is called) because the text path asks for it per character.
template <typename EngineT>
requires std::is_same_v<EngineT, Engine>
inline ChannelState& CurrentChannel(EngineT& engine) {
  TranslateState& t = engine.translate;
  return t.channels[t.cur.channel == kFootnoteChannel ? kFootnoteChannel : kMainChannel];
}

}  // namespace translate
}  // namespace quillo
