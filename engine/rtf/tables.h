// The document's own tables: fonts, colours and styles read from the RTF header groups, and the
// document information collected from \info. Looked up by number during both passes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtf/reader.h"

namespace quillo {
struct Engine;

namespace rtf {

struct FontEntry {
  std::string name;
  std::string altName;
  int number = -1;
  int family = 0;
  int charset = 0, pitch = 0, type = 0, codePage = 0;
};

struct ColorTableEntry {
  int number = 0;
  int red = -1, green = -1, blue = -1;  ///< -1 when the entry does not give the component
  int value = 0;                        ///< index of the matching .Colors entry
};

struct StyleEntry {
  std::string name;
  int type = 0;  ///< 0 paragraph, 1 character, 2 section
  bool additive = false;
  int number = -1;
  int basedOn = 222;
  int nextPar = -1;
  std::vector<RtfToken> tokens;  ///< the style's other control words, in order
};

/// Kinds of document information collected from \info.
enum InfoKind : int {
  kInfoTitle, kInfoSubject, kInfoAuthor, kInfoOperator, kInfoKeywords, kInfoComments,
  kInfoDocComments, kInfoVersComments, kInfoCount,
};

struct DocumentTables {
  // Lists are kept in reading order; lookups return the newest entry of a number.
  std::vector<FontEntry> fonts;
  std::vector<ColorTableEntry> colors;
  std::vector<StyleEntry> styles;
  std::string info[kInfoCount];
};

}  // namespace rtf
}  // namespace quillo
