// Shared helpers of the document-structure files and the life cycle of their state.
#include "structure/structure.h"

#include "base/buffers.h"
#include "base/file_table.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "output/line_writer.h"
#include "structure/internal.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::structure {

namespace {

/// The navigation settings a generated page saves; _TARGET_ last, since it is not cleared.
constexpr const char* kNavigationNames[] = {"ThisFile",  "NextFile",    "PrevFile",  "ParentFile",
                                            "NextFileH", "ParentFileH", "PrevFileH", "_TARGET_"};

}  // namespace

bool CasePrefix(std::string_view text, std::string_view prefix) {
  return prefix.size() <= text.size() && CaseEqual(text.substr(0, prefix.size()), prefix);
}

int LevelOfMatch(Engine& engine, int matchIndex) {
  if (engine.translate.cur.par.inTable) return 0;
  const auto& pmatch = engine.translation.pmatch;
  if (matchIndex < 0 || matchIndex >= static_cast<int>(pmatch.size())) return 0;
  const int tag = pmatch[matchIndex].resolvedTag;
  // A paragraph in a special text state (_Discard, _Literal ...) has no tag and so no level.
  if (tag < 0 || tag >= kTagCapture) return 0;
  const auto& ptags = engine.translation.ptag;
  if (tag >= static_cast<int>(ptags.size())) return 0;
  const int level = ptags[tag].values[4];
  return level > 0 ? level : 0;
}

bool CanGeneratePages(Engine& engine) {
  return engine.structure.resolved && !SettingValue(engine, "OutFileName").empty() &&
         !engine.settings.paths.baseName.empty();
}

std::string HtmlExt(Engine& engine) { return SettingValue(engine, "HtmlExt"); }

void ChangeFileTo(Engine& engine, int target) {
  StructureState& s = engine.structure;
  translate::TranslateState& t = engine.translate;
  if (engine.driver.pass != 2 || s.changingFile) return;
  struct Flag {
    bool& changing;
    int& suspended;
    Flag(bool& c, int& r) : changing(c), suspended(r) {
      changing = true;
      ++suspended;
    }
    ~Flag() {
      changing = false;
      --suspended;
    }
  } flag(s.changingFile, t.releaseSuspended);
  // Each change advances by one file; the loop only matters when an item skipped a file.
  while (engine.driver.outputOpen && engine.driver.currentFile < target &&
         engine.driver.currentFile + 1 < s.fileCount)
    if (engine.hooks.changeOutputFile) engine.hooks.changeOutputFile(engine);
}

SavedNavigation::SavedNavigation(Engine& engine, std::string_view thisFile) : engine_(engine) {
  for (int i = 0; i < kCount; ++i) values_[i] = SettingValue(engine, kNavigationNames[i]);
  SetText(engine, "ThisFile", thisFile);
  for (int i = 1; i < kCount - 1; ++i) SetText(engine, kNavigationNames[i], "");
}

SavedNavigation::~SavedNavigation() {
  for (int i = 0; i < kCount; ++i) SetLiteralSetting(engine_, kNavigationNames[i], values_[i]);
}

bool OpenPage(Engine& engine, OutputContext& context, const std::string& name) {
  context.Reset();
  context.file = FileOpen(engine.files, name, "w");
  if (!context.file) {
    ReportOpenFailure(engine, name);
    return false;
  }
  return true;
}

void ClosePage(Engine& engine, OutputContext& context) {
  if (!context.file) return;
  translate::PopAllTags(engine, context);
  FlushContext(engine, context);
  FileClose(context.file);
  context.file = nullptr;
}

long OutputPosition(const OutputContext& context) {
  FileEntry* file = context.file;
  if (!file) return -1;
  long written = file->kind == FileKind::kMemoryOutput ? static_cast<long>(file->output.length())
                                                       : FileTell(file);
  // Characters the line writer still holds come next, whatever break they end up with.
  return written < 0 ? -1 : written + context.pending;
}

void ResetStructure(Engine& engine) { engine.structure = StructureState(); }

int NumFiles(const Engine& engine) { return engine.structure.fileCount; }

bool ComputedValue(const Engine& engine, int builtinIndex, std::string& out) {
  switch (builtinIndex) {
    case kSettingNumFiles:
      out = std::to_string(NumFiles(engine));
      return true;
    case kSettingParNumber:
      out = std::to_string(ParNumber(engine));
      return true;
    case kSettingNumIndexEntries:
      out = std::to_string(NumIndexEntries(engine));
      return true;
    default:
      return false;
  }
}

int NumIndexEntries(const Engine& engine) {
  return static_cast<int>(engine.structure.entries.size());
}

}  // namespace quillo::structure
