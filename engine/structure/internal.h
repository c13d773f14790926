// Helpers shared by the document-structure files: settings access, traces, case-insensitive
// comparison, the file change of pass 2 and generated pages with their saved navigation.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"
#include "engine.h"

namespace quillo::structure {

/// Debug bit that switches the structure and anchor traces.
inline constexpr int kDebugStructure = 1;
/// Separator of the levels of an index entry's text.
inline constexpr char kLevelSeparator = '\x01';

inline bool Tracing(const Engine& engine) {
  return (engine.settings.mirrors.debug & kDebugStructure) != 0;
}

/// True when `text` begins with `prefix`, letters compared without regard to case (CaseEqual
/// and CaseCompare of base/buffers.h do the rest).
bool CasePrefix(std::string_view text, std::string_view prefix);

/// Heading level of .PMatch entry `matchIndex`: 0 inside a table, for special tags and for tags
/// without a level.
int LevelOfMatch(Engine& engine, int matchIndex);

/// The part of a file name made from suffix text that a heading gave: at most 32 characters of
/// letters, digits, '_', '.' and '-', without leading or trailing '-' and '.', without ".." and
/// never a directory separator. "" when nothing usable is left.
std::string SafeSuffixText(std::string_view text);

/// True when generated pages may be written: the file plan of a conversion exists and the output
/// has a name (pages are named from it; without one they would land in the working folder).
bool CanGeneratePages(Engine& engine);

/// The output extension (HtmlExt).
std::string HtmlExt(Engine& engine);

/// Finishes the current output file and opens the next ones until file `target` is open (pass 2).
/// Held paragraph-number text stays held for the new file.
void ChangeFileTo(Engine& engine, int target);

/// Sets `name` to `value` as literal text (document text, file names).
inline void SetText(Engine& engine, std::string_view name, std::string_view value) {
  SetLiteralSetting(engine, name, value);
}

/// The navigation settings a generated page replaces while it is written, and the frame target.
class SavedNavigation {
 public:
  /// Saves the settings, sets ThisFile to `thisFile` and the others to "".
  SavedNavigation(Engine& engine, std::string_view thisFile);
  ~SavedNavigation();
  SavedNavigation(const SavedNavigation&) = delete;
  SavedNavigation& operator=(const SavedNavigation&) = delete;

 private:
  Engine& engine_;
  static constexpr int kCount = 8;
  std::string values_[kCount];
};

/// Keeps the current file number for the duration of a generated page.
class CurrentFileScope {
 public:
  CurrentFileScope(Engine& engine, int number)
      : engine_(engine), saved_(engine.driver.currentFile) {
    engine.driver.currentFile = number;
  }
  ~CurrentFileScope() { engine_.driver.currentFile = saved_; }
  CurrentFileScope(const CurrentFileScope&) = delete;
  CurrentFileScope& operator=(const CurrentFileScope&) = delete;

 private:
  Engine& engine_;
  int saved_;
};

/// Opens generated page `name` for writing into `context`. Reports ERR_FILE_OPEN_FAILED and
/// returns false when it cannot be opened.
bool OpenPage(Engine& engine, OutputContext& context, const std::string& name);
/// Pops every tag of the page (writing the closings) and closes its file.
void ClosePage(Engine& engine, OutputContext& context);

/// Position in the output of `context` that the next character written will have.
long OutputPosition(const OutputContext& context);

}  // namespace quillo::structure
