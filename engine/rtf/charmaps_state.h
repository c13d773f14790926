// Character-set maps, the output map and their state (see rtf/charmaps.h).
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file_table_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// One loaded character set map: 256 byte slots and 10 special slots (bullet, dashes, quotes...),
/// each holding a standard-character index. Every slot starts as the nothing character.
struct CharsetMap {
  static constexpr int kByteSlots = 256;
  static constexpr int kSpecialSlots = 10;
  static constexpr int kSlots = kByteSlots + kSpecialSlots;
  std::array<int, kSlots> slots{};
};

/// One .Charsets entry of the translation file: which map file reads the bytes of a character
/// set (and font); the map itself is loaded when text of that set first arrives.
struct CharsetEntry {
  int charset = 0;
  std::string fontName;
  int fontKey = -1;
  std::string mapFile;
  std::shared_ptr<CharsetMap> map;  ///< none until the map is loaded
};

namespace rtf {

/// Offsets of the special slots (slot = 256 + offset): characters that RTF writes as control words.
enum SpecialChar : int {
  kSpecialBullet = 0,
  kSpecialEmDash = 1,
  kSpecialEnDash = 2,
  kSpecialNewline = 3,
  kSpecialNoBreakHyphen = 4,
  kSpecialNoBreakSpace = 5,
  kSpecialQuoteDoubleLeft = 6,
  kSpecialQuoteDoubleRight = 7,
  kSpecialQuoteLeft = 8,
  kSpecialQuoteRight = 9,
};

/// Standard-character names of the special slots, by offset. In a character set map file one of
/// these as the code fills the special slot instead of a byte slot.
inline constexpr std::string_view kSpecialCharNames[CharsetMap::kSpecialSlots] = {
    "rtfSC_bullet",      "rtfSC_emdash",     "rtfSC_endash",       "rtfSC_newline",
    "rtfSC_nobrkhyphen", "rtfSC_nobrkspace", "rtfSC_quotedblleft", "rtfSC_quotedblright",
    "rtfSC_quoteleft",   "rtfSC_quoteright"};

/// The standard character that stands for "no mapping".
inline constexpr std::string_view kNothingName = "rtfSC_nothing";

/// Font number of a .Charsets entry whose font name has not been looked up in the font table yet.
inline constexpr int kPendingFontNumber = 999;

/// Map files are read in lines of at most this many characters (the terminating NUL included); the
/// rest of a longer line is skipped, so that it cannot be taken for a line of its own.
inline constexpr int kMapLineSize = 1024;

/// A map file read before, kept for the next conversions of the engine: reading the output map
/// costs more than converting a short document. Reused while the library search finds the same
/// unchanged file; kept only when reading it raised no message. Standard-character names are
/// never removed, so the indexes the read gave stay right.
struct KeptMapFile {
  std::string name;  ///< as asked for
  FileStamp stamp;
  std::vector<std::optional<std::string>> outputMap;  ///< an output map: what the read stored
  std::shared_ptr<const CharsetMap> charset;          ///< a character set map
};

struct CharMapState {
  static constexpr std::size_t kMaxKeptMaps = 16;
  std::vector<KeptMapFile> kept;  ///< engine lifetime
  // Library lifetime: the standard-character names are only ever added to, never removed, so an
  // index once handed out stays valid for the life of the engine.
  std::vector<std::string> standardNames;              ///< index = standard-character index
  std::unordered_map<std::string, int> standardIndex;  ///< name -> index, for O(1) lookup
  int nothingIndex = -1;                               ///< index of "rtfSC_nothing"

  // Conversion lifetime: cleared and re-read at each conversion's set-up (RTFReadOutputMap with
  // the clear flag). Indexed by standard-character index; an empty slot has no output text. The
  // vector grows to the number of names when an entry is stored, so it may be shorter than the
  // name list.
  std::vector<std::optional<std::string>> outputMap;

  /// Counts every change of a map's slots or of the output map; caches built from them compare it.
  unsigned long generation = 0;
  /// Which ASCII bytes the map in `identityMap` writes as themselves, as of `identityGeneration`
  /// (bytes from 0x80 on: never, so that a scan needs no range check).
  const CharsetMap* identityMap = nullptr;
  unsigned long identityGeneration = ~0ul;
  std::array<bool, 256> identity{};

  // Group state: index into engine.translation.charsets of the current entry, -1 before one is
  // selected. The group handler saves it with the other group values and restores it on '}'.
  int currentCharset = -1;
};

}  // namespace rtf
}  // namespace quillo
