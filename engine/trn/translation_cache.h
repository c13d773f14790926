// Reuse of translation-file loads. Reading html.trn and its includes costs more than converting a
// short document, and a host (a server, the string interface) converts with the same file again
// and again. A load is kept when it depended only on the settings it started from and the files
// it read: it raised no message, called nothing outside the expansion language and read no value
// that changes between conversions. A later load of the same name reuses it only when the
// settings are again the same and every file still resolves to the same unchanged file; it then
// gets the same tables and settings as a fresh read would give. Each engine keeps its own loads.
#pragma once

#include <string_view>

#include "trn/translation_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace trn {

/// Deep copy of `tables` (compiled patterns included).
TranslationTables CloneTables(const TranslationTables& tables);

/// Gives the engine the tables and settings of a kept load of `name` when one is still valid;
/// false when the file must be read.
bool ReuseLoad(Engine& engine, std::string_view name);

/// Watches one load from its start to Keep: the settings it starts from, the files it opens and
/// whether it did anything that keeps it from being reused.
class LoadWatch {
 public:
  LoadWatch(Engine& engine, std::string_view name);
  ~LoadWatch();
  LoadWatch(const LoadWatch&) = delete;
  LoadWatch& operator=(const LoadWatch&) = delete;

  /// The load opened `file` for `requested` (nullptr: the name was not found).
  void NoteFile(std::string_view requested, const FileEntry* file);
  /// The load ended with `result` (1 = read): keeps it when it can be reused.
  void Keep(int result);

 private:
  Engine& engine_;
  bool watching_ = false;
  CachedLoad load_;
  bool usable_ = true;
  unsigned long reportsBefore_ = 0, outsideCallsBefore_ = 0, literalSerialBefore_ = 0;
};

}  // namespace trn
}  // namespace quillo
