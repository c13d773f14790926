// Character set maps and the output map: the standard-character name list, the map-file readers,
// the choice of the current .Charsets entry and the byte and special-character lookups.
#include "rtf/charmaps.h"

#include <algorithm>
#include <utility>

#include "base/field_scanner.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "rtf/reader.h"
#include "rtf/tables.h"

namespace quillo::rtf {

namespace {

/// Map files: fields separated by blanks and tabs, quotes group, and no escapes, so that a code
/// or output text such as "\" is taken literally.
ScannerSettings MapScannerSettings() {
  ScannerSettings settings;
  settings.separators = " \t";
  settings.quotes = "\"'";
  settings.noEscapes = true;
  return settings;
}

/// Closes a library file however the reader is left (a reported message may abandon the
/// conversion).
class FileCloser {
 public:
  explicit FileCloser(FileEntry* entry) : entry_(entry) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() { FileClose(entry_); }

 private:
  FileEntry* entry_;
};

/// A map file being read, as the place of the messages its lines raise.
struct MapFilePlace final : MessageSource {
  std::string name;
  long line = 0;
  std::string SourceName() const override { return name; }
  long SourceLine() const override { return line; }
};

/// Calls `onLine` with every data line of `entry`: comment lines (first character '#') and lines
/// without a first field are skipped. The first field goes in `name`; the scanner is left after it
/// so the callback can ask for the second.
/// Messages raised meanwhile carry the map file and the line.
template <typename OnLine>
void ForEachMapLine(Engine& engine, FileEntry* entry, std::string_view fileName, OnLine&& onLine) {
  FieldScanner scanner(MapScannerSettings());
  MapFilePlace place;
  place.name.assign(fileName);
  MessageSourceScope scope(engine.messages, &place);
  std::string line, name;
  while (FileReadLine(entry, line, kMapLineSize)) {
    ++place.line;
    const bool complete = !line.empty() && line.back() == '\n';
    if (!complete && line.size() >= static_cast<std::size_t>(kMapLineSize - 1)) {
      // Overlong line: keep its first part, drop the rest up to the end of the line.
      std::string rest;
      while (FileReadLine(entry, rest, kMapLineSize) && (rest.empty() || rest.back() != '\n')) {
      }
    }
    if (line.empty() || line[0] == '#') continue;
    scanner.SetLine(line);
    if (!scanner.Next(name)) continue;
    onLine(name, scanner);
  }
}

/// Value of a hexadecimal digit, -1 for any other character.
constexpr int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Codes beyond this are held at it: large enough to be reported as too high, small enough that
/// no count of digits can overflow the arithmetic.
constexpr long kCodeCeiling = 0x7fffffffL;

/// Byte value of a code field that is not a special name: a single character stands for itself,
/// "0x"/"0X" introduces hexadecimal digits, anything else is decimal. Returns false when the digits
/// are missing or include a character that is not a digit of the base.
bool ParseCode(std::string_view code, long& value) {
  if (code.size() == 1) {
    value = static_cast<unsigned char>(code[0]);
    return true;
  }
  int base = 10;
  if (code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X')) {
    base = 16;
    code.remove_prefix(2);
  }
  if (code.empty()) return false;
  value = 0;
  for (char c : code) {
    const int digit = DigitValue(c);
    if (digit < 0 || digit >= base) return false;
    value = value * base + digit;
    if (value > kCodeCeiling) value = kCodeCeiling;
  }
  return true;
}

/// Offset of `name` among the special names, -1 when it is not one of them.
int SpecialOffset(std::string_view name) {
  for (int i = 0; i < CharsetMap::kSpecialSlots; ++i)
    if (kSpecialCharNames[i] == name) return i;
  return -1;
}

std::shared_ptr<CharsetMap> NothingMap(Engine& engine) {
  auto map = std::make_shared<CharsetMap>();
  map->slots.fill(NothingCharIndex(engine));
  ++engine.charMaps.generation;
  return map;
}

/// The current entry's map, loading it on first use.
CharsetMap* CurrentMap(Engine& engine) {
  CharsetEntry* entry = CurrentCharsetEntry(engine);
  return entry ? entry->map.get() : nullptr;
}

}  // namespace

// ---- Standard characters ------------------------------------------------------------------------

void ResetCharMaps(Engine& engine) {
  NothingCharIndex(engine);
  engine.charMaps.currentCharset = -1;
}

int StandardCharIndex(Engine& engine, std::string_view name, bool add) {
  if (name.empty()) return -1;
  CharMapState& maps = engine.charMaps;
  std::string key(name);
  if (auto found = maps.standardIndex.find(key); found != maps.standardIndex.end())
    return found->second;
  if (!add) return -1;
  const int index = static_cast<int>(maps.standardNames.size());
  maps.standardNames.push_back(key);
  maps.standardIndex.emplace(std::move(key), index);
  return index;
}

std::string_view StandardCharName(const Engine& engine, int index) {
  const auto& names = engine.charMaps.standardNames;
  if (index < 0 || index >= static_cast<int>(names.size())) return {};
  return names[index];
}

int NothingCharIndex(Engine& engine) {
  CharMapState& maps = engine.charMaps;
  if (maps.nothingIndex < 0) maps.nothingIndex = StandardCharIndex(engine, kNothingName, true);
  return maps.nothingIndex;
}

// ---- Kept map files -----------------------------------------------------------------------------

namespace {

/// The kept read of `name` when the library search still finds the same unchanged file (`file`,
/// just opened for it), else nullptr.
const KeptMapFile* KeptRead(Engine& engine, std::string_view name, const FileEntry* file,
                            bool output) {
  FileStamp stamp;
  if (!StampFile(file, stamp)) return nullptr;
  for (const KeptMapFile& kept : engine.charMaps.kept)
    if (kept.name == name && (kept.charset == nullptr) == output && kept.stamp == stamp)
      return &kept;
  return nullptr;
}

/// Keeps a read of `name` from `file` that raised no message (reports counts the messages
/// before it); the oldest kept read goes when there are too many.
void KeepRead(Engine& engine, std::string_view name, const FileEntry* file, unsigned long reports,
              KeptMapFile read) {
  if (engine.messages.reportCount != reports || !StampFile(file, read.stamp)) return;
  read.name.assign(name);
  auto& kept = engine.charMaps.kept;
  for (auto it = kept.begin(); it != kept.end(); ++it) {
    if (it->name == read.name && (it->charset == nullptr) == (read.charset == nullptr)) {
      kept.erase(it);  // an older read of a file that has changed since
      break;
    }
  }
  if (kept.size() >= CharMapState::kMaxKeptMaps) kept.erase(kept.begin());
  kept.push_back(std::move(read));
}

}  // namespace

// ---- Character set maps -------------------------------------------------------------------------

std::shared_ptr<CharsetMap> RTFReadCharSetMap(Engine& engine, std::string_view fileName) {
  FileEntry* file = OpenLibraryFile(engine, fileName, "r");
  if (!file) return nullptr;
  FileCloser closer(file);
  if (const KeptMapFile* kept = KeptRead(engine, fileName, file, false)) {
    ++engine.charMaps.generation;
    return std::make_shared<CharsetMap>(*kept->charset);
  }
  const unsigned long reports = engine.messages.reportCount;

  std::shared_ptr<CharsetMap> map = NothingMap(engine);
  std::string code;
  ForEachMapLine(engine, file, fileName, [&](const std::string& name, FieldScanner& scanner) {
    const int index = StandardCharIndex(engine, name, true);
    if (index < 0) {
      ReportMessage(engine, "ERR_UNKNOWN_CHAR", {"RTFReadCharSetMap", name});
      return;
    }
    if (!scanner.Next(code)) {
      ReportMessage(engine, "ERR_MALFORMED_CHARSET", {"RTFReadCharSetMap", name});
      return;
    }
    if (const int special = SpecialOffset(code); special >= 0) {
      map->slots[CharsetMap::kByteSlots + special] = index;
      return;
    }
    long value = 0;
    if (!ParseCode(code, value)) {
      ReportMessage(engine, "ERR_MALFORMED_CHARSET", {"RTFReadCharSetMap", name});
      return;
    }
    if (value >= CharsetMap::kByteSlots) {
      ReportMessage(
          engine, "ERR_CHAR_VALUE_HIGH",
          {"RTFReadCharSetMap", static_cast<int>(value), name, CharsetMap::kByteSlots - 1});
      return;
    }
    map->slots[value] = index;
  });
  ++engine.charMaps.generation;
  KeptMapFile read;
  read.charset = std::make_shared<const CharsetMap>(*map);
  KeepRead(engine, fileName, file, reports, std::move(read));
  return map;
}

void SelectCharset(Engine& engine, int charset, int font) {
  const std::vector<CharsetEntry>& entries = engine.translation.charsets;
  if (entries.empty()) return;
  // A charset number of 256 or more is read as 1 (Mac).
  if (charset >= 256) charset = 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const CharsetEntry& entry = entries[i];
    if (entry.charset == charset && (entry.fontKey == -1 || entry.fontKey == font)) {
      engine.charMaps.currentCharset = static_cast<int>(i);
      return;
    }
  }
  engine.charMaps.currentCharset = static_cast<int>(entries.size()) - 1;
}

namespace {

/// CurrentCharsetEntry when the entry still has to be chosen or its map read (or there is none).
[[gnu::noinline]] CharsetEntry* SettleCurrentCharsetEntry(Engine& engine) {
  std::vector<CharsetEntry>& entries = engine.translation.charsets;
  if (entries.empty()) return nullptr;
  int& current = engine.charMaps.currentCharset;
  // Text before any character set word (or after the translation file was reloaded) is read as
  // ANSI, the RTF default.
  if (current < 0 || current >= static_cast<int>(entries.size())) SelectCharset(engine, 0, -1);
  CharsetEntry& entry = entries[current];
  if (!entry.map) {
    entry.map = RTFReadCharSetMap(engine, entry.mapFile);
    if (!entry.map) {
      // Give the entry its empty map before reporting, so that the report comes once per entry
      // even when the message abandons the conversion.
      entry.map = NothingMap(engine);
      ReportMessage(engine, "ERR_READ_CHAR_SET_MAP", {entry.mapFile});
    }
  }
  return &entry;
}

}  // namespace

CharsetEntry* CurrentCharsetEntry(Engine& engine) {
  // Asked for every text character: the settled case is a few loads, the rest is out of line.
  std::vector<CharsetEntry>& entries = engine.translation.charsets;
  const int current = engine.charMaps.currentCharset;
  if (current >= 0 && current < static_cast<int>(entries.size()) && entries[current].map)
    return &entries[current];
  return SettleCurrentCharsetEntry(engine);
}

const CharsetMap* CurrentCharsetMap(Engine& engine) { return CurrentMap(engine); }

const std::array<bool, 256>& UnchangedPlainText(Engine& engine, const CharsetMap& map) {
  CharMapState& maps = engine.charMaps;
  if (maps.identityMap == &map && maps.identityGeneration == maps.generation) return maps.identity;
  const int nothing = NothingCharIndex(engine);
  for (int byte = 0; byte < 128; ++byte) {
    const int index = map.slots[byte];
    const std::string* text = index == nothing ? nullptr : OutputTextString(engine, index);
    maps.identity[byte] = IsPlainText(static_cast<unsigned char>(byte)) && text &&
                          text->size() == 1 && (*text)[0] == static_cast<char>(byte);
  }
  maps.identityMap = &map;
  maps.identityGeneration = maps.generation;
  return maps.identity;
}

int MapCharToStandard(Engine& engine, int byte) {
  CharsetMap* map = CurrentMap(engine);
  if (!map || byte < 0 || byte >= CharsetMap::kByteSlots) return NothingCharIndex(engine);
  return map->slots[byte];
}

int MapSpecialChar(Engine& engine, int offset) {
  CharsetMap* map = CurrentMap(engine);
  if (!map || offset < 0 || offset >= CharsetMap::kSpecialSlots) return NothingCharIndex(engine);
  return map->slots[CharsetMap::kByteSlots + offset];
}

void SetCurrentCharsetSlot(Engine& engine, int byte, int index) {
  CharsetMap* map = CurrentMap(engine);
  if (!map || byte < 0 || byte >= CharsetMap::kByteSlots) return;
  map->slots[byte] = index;
  ++engine.charMaps.generation;
}

void BindCharsetFonts(Engine& engine, const std::function<int(std::string_view)>& fontNumber) {
  for (CharsetEntry& entry : engine.translation.charsets)
    if (!entry.fontName.empty()) entry.fontKey = fontNumber(entry.fontName);
}

void BindCharsetFonts(Engine& engine) {
  // A font the document lacks is added to its font table with the next free number, so the entry
  // is bound to a number that no text of the document uses.
  BindCharsetFonts(engine, [&engine](std::string_view name) {
    return FindOrAddFontByName(engine, name).number;
  });
}

// ---- Output map ---------------------------------------------------------------------------------

int RTFReadOutputMap(Engine& engine, std::string_view fileName, bool clear) {
  if (clear) engine.charMaps.outputMap.clear();
  ++engine.charMaps.generation;
  FileEntry* file = OpenLibraryFile(engine, fileName, "r");
  if (!file) return 0;
  FileCloser closer(file);
  // A whole map read into an empty one is kept (and reused) as a whole.
  if (clear) {
    if (const KeptMapFile* kept = KeptRead(engine, fileName, file, true)) {
      engine.charMaps.outputMap = kept->outputMap;
      return 1;
    }
  }
  const unsigned long reports = engine.messages.reportCount;

  std::string text;
  ForEachMapLine(engine, file, fileName, [&](const std::string& name, FieldScanner& scanner) {
    const int index = StandardCharIndex(engine, name, true);
    if (index < 0) {
      ReportMessage(engine, "MSG_UNKNOWN_CHAR", {"RTFReadOutputMap", name});
      return;
    }
    if (!scanner.Next(text)) {
      ReportMessage(engine, "MSG_MALFORMED_OUTPUT", {"RTFReadOutputMap", name});
      return;
    }
    SetOutputText(engine, index, text);
  });
  if (clear) {
    KeptMapFile read;
    read.outputMap = engine.charMaps.outputMap;
    KeepRead(engine, fileName, file, reports, std::move(read));
  }
  return 1;
}

const char* OutputText(const Engine& engine, int index) {
  const auto& map = engine.charMaps.outputMap;
  if (index < 0 || index >= static_cast<int>(map.size()) || !map[index]) return nullptr;
  return map[index]->c_str();
}

const std::string* OutputTextString(const Engine& engine, int index) {
  const auto& map = engine.charMaps.outputMap;
  if (index < 0 || index >= static_cast<int>(map.size()) || !map[index]) return nullptr;
  return &*map[index];
}

void SetOutputText(Engine& engine, int index, std::string_view text) {
  if (index < 0) return;
  auto& map = engine.charMaps.outputMap;
  const std::size_t names = engine.charMaps.standardNames.size();
  if (map.size() <= static_cast<std::size_t>(index))
    map.resize(std::max(names, static_cast<std::size_t>(index) + 1));
  map[index] = std::string(text);
  ++engine.charMaps.generation;
}

}  // namespace quillo::rtf
