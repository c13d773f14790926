// The control-word table: which RTF control words and symbols exist and their (major, minor)
// numbers, read once per library lifetime from "rtf-ctrl.txt" through the library-file search.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo {
struct Engine;

namespace rtf {

/// Major numbers that the translation layer tests.
enum Major : int {
  kMajorVersion = 0, kMajorDefFont = 1, kMajorCharSet = 2, kMajorDestination = 3,
  kMajorFontFamily = 4, kMajorColorName = 5, kMajorSpecialChar = 6, kMajorStyleAttr = 7,
  kMajorDocAttr = 8, kMajorSectAttr = 9, kMajorTblAttr = 10, kMajorParAttr = 11,
  kMajorCharAttr = 12, kMajorPictAttr = 13, kMajorBookmarkAttr = 14, kMajorNeXTGrAttr = 15,
  kMajorProtect = 16, kMajorFieldAttr = 17, kMajorTOCAttr = 18, kMajorObjAttr = 19,
  kMajorFontAttr = 23, kMajorIgnored = 33,
};

struct CtrlWord {
  int major = 0;
  int minor = -1;
  std::string word;  ///< without the backslash
  int hash = 0;      ///< sum of the word's characters as signed 8-bit values
};

struct ControlWordTable {
  bool loaded = false;
  std::vector<CtrlWord> entries;                    ///< file order
  std::unordered_map<std::string, int> firstIndex;  ///< word -> first entry of that word
};

/// Loads the table if it is not loaded yet. 0 on success, non-zero when a message stopped the
/// conversion.
int LookupInit(Engine& engine);
/// Looks up `text` (with its leading backslash). Returns the entry, or nullptr when unknown.
const CtrlWord* Lookup(const ControlWordTable& table, std::string_view text);

}  // namespace rtf
}  // namespace quillo
