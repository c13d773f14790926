// The tables one translation-file load produces (see trn/translation_file.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/buffers.h"
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

}  // namespace quillo
