// The control-word table: which RTF control words and symbols exist and their (major, minor)
// numbers, read once per library lifetime from "rtf-ctrl.txt" through the library-file search.
// Depends on the file table, the settings store (library search) and the message reporter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtf/control_words_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

/// Loads the table if it is not loaded yet. 0 on success, non-zero when a message stopped the
/// conversion.
int LookupInit(Engine& engine);
/// Loading steps of LookupInit on a file that is already open (nullptr: it could not be opened,
/// which reports ERR_NO_RTF_CTRL). Closes the file. Replaces any table loaded before.
int LookupInitFrom(Engine& engine, FileEntry* file);
/// Looks up `text` (with its leading backslash). Returns the entry, or nullptr when unknown.
/// Case-sensitive; the first entry of a word in file order wins.
const CtrlWord* Lookup(const ControlWordTable& table, std::string_view text);
/// The entry of control word `letters` (without the backslash); nullptr when the table does not
/// have it. The reader's fast path, which has the letters already; `readable` is how many bytes
/// may be read from letters.data() (the rest of the read window), which lets the lookup load the
/// word's head in one step.
inline const CtrlWord* LookupLetters(const ControlWordTable& table, std::string_view letters,
                                     std::size_t readable = 0) {
  const int index = table.firstIndex.Find(table.entries, letters, readable);
  return index < 0 ? nullptr : &table.entries[index];
}
/// Sum of the characters of `word` taken as signed 8-bit values.
int WordHashSum(std::string_view word);

}  // namespace rtf
}  // namespace quillo
