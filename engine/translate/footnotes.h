// Footnotes and anchors: footnote text gathered per output file and linked both ways, bookmarks
// written as named anchors. The footnote text goes to the footnote output (a temporary file the
// driver appends to each output file behind FNSep); the marks in the text and in front of each
// footnote link to each other by number.
#pragma once

#include <string_view>

#include "translate/footnotes_state.h"

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// \footnote begins: the footnote takes its number (when no mark took one for it), text goes to
/// the footnote output, and the footnote's own wrapper ("$_footnote_start_;") opens there.
void FootnoteStart(Engine& engine);
/// The footnote group ends: its markup is closed and the state machine of its tables reset.
void FootnoteEnd(Engine& engine);
/// \chftn: the footnote mark `number`. In pass 2 the mark in the main text links to its footnote
/// and the mark in the footnote links back; elsewhere it is plain text.
void FootnoteMark(Engine& engine, std::string_view number);
/// Entering the _FootNote text state in `context`: opens the footnote reference (kind 14).
void EnterFootnoteState(Engine& engine, OutputContext& context);
/// Leaving the _FootNote text state: closes the footnote reference.
void LeaveFootnoteState(Engine& engine, OutputContext& context);
/// Restarts the numbering (each pass; only pass 2 numbers).
void ResetFootnotes(Engine& engine);

}  // namespace translate
}  // namespace quillo
