// The document's font, colour and style tables and its information (see rtf/tables.h).
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtf/reader_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

struct FontEntry {
  std::string name;     ///< raw bytes of the name, blanks trimmed; empty when the entry has none
  std::string altName;  ///< raw bytes of the alternative name ({\*\falt ...}), blanks trimmed
  int number = -1;      ///< the \f number; -1 until seen
  int family = 0;       ///< minor of the family word (\fnil 0 ... \fbidi 7)
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

/// Style types.
enum StyleType : int { kParagraphStyle = 0, kCharacterStyle = 1, kSectionStyle = 2 };

/// Kinds of document information collected from \info.
enum InfoKind : int {
  kInfoTitle,
  kInfoSubject,
  kInfoAuthor,
  kInfoOperator,
  kInfoKeywords,
  kInfoComments,
  kInfoDocComments,
  kInfoVersComments,
  kInfoCount,
};

/// Style key given to a .PMatch or .TMatch style name that the document's stylesheet does not
/// have. No paragraph or character style can carry it (the tokenizer keeps parameters within
/// -INT_MAX..INT_MAX), so such an entry matches no text; -1 would mean "any style" instead.
inline constexpr int kNoStyleNumber = INT_MIN;

/// Longest font or style name kept, in bytes; the rest of a longer name is dropped.
inline constexpr std::size_t kMaxTableNameLength = 1023;

struct DocumentTables {
  // Pass lifetime (freed by ResetDocumentTables at each pass start). Lists are kept in reading
  // order, so the newest entry is the last; lookups return the newest entry of a number.
  std::vector<FontEntry> fonts;
  std::vector<ColorTableEntry> colors;
  std::vector<StyleEntry> styles;
  // Indexes over the lists, kept up to date as entries are completed: number -> position of the
  // newest entry of that number (entries whose number was never given are not indexed), and, for
  // fonts, name -> position of the newest font of that name.
  std::unordered_map<int, std::size_t> fontByNumber;
  std::unordered_map<std::string, std::size_t> fontByName;
  std::unordered_map<int, std::size_t> colorByNumber;
  std::unordered_map<int, std::size_t> styleByNumber;
  int engineFonts = 0;  ///< fonts the engine added to the list (numbered -2, -3...)

  // Conversion lifetime (emptied by ResetDocumentInfo): collected in pass 1, read in pass 2.
  std::string info[kInfoCount];
};

}  // namespace rtf
}  // namespace quillo
