// The document's own tables: fonts, colours and styles read from the RTF header groups, and the
// document information collected from \info. Looked up by number during both passes.
// Depends on the tokenizer (the readers consume the header groups token by token), the message
// reporter, and the translation tables whose font, colour and style references are resolved
// against these tables when each group ends.
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtf/reader.h"
#include "rtf/tables_state.h"

namespace quillo {
struct Engine;

namespace rtf {

// ---- Table readers ------------------------------------------------------------------------------
//
// Each reader is called with the destination word as the current token. It reads up to and
// including the table's closing brace and routes that brace (RouteToken), so that the group
// handler pops the group as for any other group. When the closing brace is missing the reader
// stops at end of input (nothing is routed then). Malformed entries are reported with the
// reader's name and reading goes on; a reader never reads past the brace that closes its table.

/// Reads the font table, in either format (entries separated by ';', or one group per entry).
void ReadFontTbl(Engine& engine);
/// Reads the colour table; entries are numbered from 0 in table order.
void ReadColorTbl(Engine& engine);
/// Reads the style sheet (one group per style).
void ReadStyleSheet(Engine& engine);

// ---- Lookups ------------------------------------------------------------------------------------
//
// Pointers and references stay valid until the list they point into changes (an entry is added
// or the lists are reset).

/// The newest font of `number`, or the newest font of all for -1; nullptr when there is none.
const FontEntry* FindFont(const Engine& engine, int number);
/// The newest colour of `number`, or the newest colour of all for -1; nullptr when there is none.
const ColorTableEntry* FindColor(const Engine& engine, int number);
/// The newest style of `number`, or the newest style of all for -1; nullptr when there is none.
const StyleEntry* FindStyle(const Engine& engine, int number);
/// The newest font whose name equals `name` exactly (case counts). When the document has none, a
/// font of that name is added with a negative number below -1, one that no text of the document
/// can select.
FontEntry& FindOrAddFontByName(Engine& engine, std::string_view name);

// ---- End-of-table actions -----------------------------------------------------------------------
//
// Run by the group handler when the group of the table closes.

/// Binds the .Charsets font names and the .TMatch font names to font numbers (a name the document
/// lacks gets a font of its own, so every name resolves).
void EndFontTable(Engine& engine);
/// Matches every document colour with the nearest .Colors entry closer than MaxColorDiff (sum of
/// the component differences); a colour with none near enough gets a new .Colors entry named
/// "#rrggbb" after its components. Components are taken within 0-255.
void EndColorTable(Engine& engine);
/// Turns the .PMatch style names into the number of the first paragraph style (stylesheet order)
/// whose name, or one of its comma-separated aliases, equals the name without regard to case, and
/// each .TMatch list of character style names into the number of the first character style that
/// has one of those names. Names the stylesheet lacks get kNoStyleNumber.
void EndStyleSheet(Engine& engine);

// ---- Lifecycle and document information ---------------------------------------------------------

/// Frees the font, colour and style lists and their indexes (at each pass start). The document
/// information is kept.
void ResetDocumentTables(Engine& engine);
/// Empties the document information (at the start of each conversion).
void ResetDocumentInfo(Engine& engine);
/// Appends `text` to the document value `kind`; ignored for a kind outside the enumeration.
void AppendInfoText(Engine& engine, InfoKind kind, std::string_view text);
/// The document value `kind`; empty for a kind outside the enumeration.
std::string_view DocumentInfo(const Engine& engine, InfoKind kind);
/// Where the text of \info sub-destination `minor` goes (`textKind`) and where its tabs and line
/// breaks go (`breakKind`). False for a minor that is not an information destination.
bool InfoDestination(int minor, InfoKind& textKind, InfoKind& breakKind);

}  // namespace rtf
}  // namespace quillo
