// The tables one translation-file load produces (see trn/translation_file.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/buffers.h"
#include "base/file_table_state.h"
#include "base/settings_state.h"
#include "expand/functions_state.h"
#include "expand/regex.h"
#include "rtf/charmaps_state.h"

namespace quillo {
/// Special tag codes: a resolved tag at or above 9992 selects a text state instead of a tag.
enum SpecialTag : int {
  kTagCapture = 9992,
  kTagLink = 9993,
  kTagFootNote = 9994,
  kTagHot = 9995,
  kTagHRef = 9996,
  kTagName = 9997,
  kTagDiscard = 9998,
  kTagLiteral = 9999,
};

/// Where a table entry was read: an index into TranslationTables::files and the line in that
/// file. Names checked at the end of the load are reported at their own line.
struct EntryPlace {
  int file = 0;
  int line = 0;
};

struct TMatchEntry {
  int colorIndex = -1;
  std::string fontName;
  int fontKey = -1;
  int fontSize = 0;
  std::string charStyleNames;
  int styleKey = -1;
  uint32_t attrValues = 0;
  uint32_t attrMask = 0;
  int resolvedTag = 0;
  std::string tagName;
  EntryPlace place;
};

struct PMatchEntry {
  std::string styleName;
  int styleKey = -1;
  int level = 0;
  int resolvedTag = 0;
  std::string tagName;
  EntryPlace place;
};

struct RMatchEntry {
  std::unique_ptr<expand::Regex> pattern;  ///< nullptr when the pattern did not compile
  std::string replacement;
};

struct TTagEntry {
  std::string name, start, end;
};

struct PTagEntry {
  std::string name;
  std::string texts[6];  ///< start, end, first-tab, tab, break, line-break
  int values[6] = {};
};

struct ColorEntry {
  std::string name;
  int red = 0, green = 0, blue = 0;
};

/// Everything one translation-file load produces; read-only during the passes.
struct TranslationTables {
  std::vector<TMatchEntry> tmatch;
  std::vector<PMatchEntry> pmatch;
  std::vector<RMatchEntry> rmatch;
  std::vector<TTagEntry> ttag;
  std::vector<PTagEntry> ptag;
  std::vector<ColorEntry> colors;
  std::vector<CharsetEntry> charsets;
  std::vector<UserFunction> functions;
  /// Function name -> the last function of that name (the one a call runs), without ASCII case.
  std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual> functionIndex;
  int version = 0;
  std::string fileName;            ///< name of the loaded file
  std::vector<std::string> files;  ///< every file read (the loaded one and its includes), in order
};

/// A file a load asked for, as it was then: where the library search found it and what the file
/// system said of it (a name it did not find has `found` false).
struct LoadedFileStamp {
  std::string requested;  ///< the name as the load asked for it
  bool found = false;
  FileStamp stamp;  ///< when found
  bool operator==(const LoadedFileStamp&) const = default;
};

/// One finished load kept for reuse: the settings it started from and ended with, the tables it
/// made and every file it read. Reused only while the settings are the same (the start time
/// aside, which it did not read) and every file still resolves to the same unchanged file.
struct CachedLoad {
  std::string name;  ///< the translation file's name as the conversion gave it
  std::vector<LoadedFileStamp> files;
  SettingsStore before, after;
  TranslationTables tables;  ///< as the load left them, before any document touched them
  unsigned long uses = 0;    ///< for replacing the least used when the cache is full
};

/// Loads kept by one engine (each engine has its own, so no locking). Small: a host converts with
/// one or two translation files.
struct TranslationCache {
  static constexpr std::size_t kMaxLoads = 4;
  std::vector<CachedLoad> loads;
  bool enabled = true;  ///< tests turn it off to compare with fresh loads
};

}  // namespace quillo
