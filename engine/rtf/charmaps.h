// Character set maps (input byte -> standard character) and the output map (standard character ->
// output text), read from the map files named by the translation file's .Charsets entries and by
// the OutMap setting. Depends on the file table, the library-file search, the line scanner and the
// message reporter.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtf/charmaps_state.h"

namespace quillo {
struct Engine;
struct CharsetEntry;

namespace rtf {

// ---- Standard characters ------------------------------------------------------------------------

/// Makes sure "rtfSC_nothing" is a standard character and forgets the current character set entry.
/// Called by the reader's initialisation before each conversion. The name list is kept, and so are
/// the loaded maps of the .Charsets entries and the output map (which the driver re-reads).
void ResetCharMaps(Engine& engine);

/// Index of the standard character `name`, adding it at the end of the list when `add` is set and
/// it is new. Returns -1 when the name is unknown and not added, or when it is empty (an empty
/// name is never a standard character).
int StandardCharIndex(Engine& engine, std::string_view name, bool add);
/// Name of the standard character `index`; "" for an index outside the list.
std::string_view StandardCharName(const Engine& engine, int index);
/// Index of "rtfSC_nothing", adding the name first if the list does not have it yet.
int NothingCharIndex(Engine& engine);

// ---- Character set maps -------------------------------------------------------------------------

/// Reads one character set map file (library-file search). Returns nullptr when the file cannot
/// be opened; malformed lines are reported (ERR_UNKNOWN_CHAR, ERR_MALFORMED_CHARSET,
/// ERR_CHAR_VALUE_HIGH) and skipped. Slots no line names stay the nothing character.
std::shared_ptr<CharsetMap> RTFReadCharSetMap(Engine& engine, std::string_view fileName);

/// Makes a .Charsets entry current: the first entry of charset number `charset` (256 and above
/// count as 1) whose font number is -1 or `font`; the last entry when none matches. Does nothing
/// when the translation file has no entries.
void SelectCharset(Engine& engine, int charset, int font);

/// The current .Charsets entry with its map loaded, or nullptr when there are no entries. When no
/// entry has been selected yet, the one that charset 0 with no particular font selects becomes
/// current. A map file that cannot be read is reported once (ERR_READ_CHAR_SET_MAP) and the entry
/// gets a map in which every slot is the nothing character.
CharsetEntry* CurrentCharsetEntry(Engine& engine);

/// Standard-character index of input byte `byte` (0-255) in the current character set; the nothing
/// character for anything outside 0-255 or when no map is available.
/// The map of the current character set (loaded on first use); nullptr without charsets.
const CharsetMap* CurrentCharsetMap(Engine& engine);
/// For each byte: true when it is ASCII plain text (rtf::IsPlainText) and `map` gives it a
/// standard character whose output text is the byte itself (most letters and digits in HTML);
/// false for every byte from 0x80 on. Cached until a map or the output map changes.
const std::array<bool, 256>& UnchangedPlainText(Engine& engine, const CharsetMap& map);
int MapCharToStandard(Engine& engine, int byte);
/// Standard-character index of special slot `offset` (0-9, see SpecialChar) in the current
/// character set; the nothing character for any other offset.
int MapSpecialChar(Engine& engine, int offset);
/// Points byte slot `byte` of the current character set's map at standard character `index`, so
/// that a byte reported once as unmapped is translated without a second report. Ignored for a
/// byte outside 0-255 or when there is no current map.
void SetCurrentCharsetSlot(Engine& engine, int byte, int index);

/// Gives every .Charsets entry that names a font the number `fontNumber` returns for that name.
void BindCharsetFonts(Engine& engine, const std::function<int(std::string_view)>& fontNumber);
/// Run when the font table group ends: binds the entries' font names through the font table
/// (which creates a font of that name when the document has none).
void BindCharsetFonts(Engine& engine);

// ---- Output map ---------------------------------------------------------------------------------

/// Reads the output map `fileName` (library-file search) into engine.charMaps.outputMap, dropping
/// every existing entry first when `clear` is set. Returns 1 when the file was read, 0 when it
/// could not be opened (the map is then cleared but otherwise untouched). Malformed lines are
/// reported (MSG_UNKNOWN_CHAR, MSG_MALFORMED_OUTPUT) and skipped; a later line for a name replaces
/// the text of an earlier one.
int RTFReadOutputMap(Engine& engine, std::string_view fileName, bool clear);

/// Output text of standard character `index`, or nullptr when it has none (no line of the output
/// map named it, or the index lies beyond the map). The pointer is valid until the output map
/// changes.
const char* OutputText(const Engine& engine, int index);
/// The same as a string (its length known), or nullptr.
const std::string* OutputTextString(const Engine& engine, int index);
/// Stores `text` as the output text of standard character `index` (>= 0), growing the output map
/// to the number of names as needed.
void SetOutputText(Engine& engine, int index, std::string_view text);

}  // namespace rtf
}  // namespace quillo
