// Reuse of translation-file loads (see trn/translation_cache.h).
#include "trn/translation_cache.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "base/file_table.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo::trn {

namespace {

/// `to` becomes a copy of `from`, in the storage `to` already has where it can.
void AssignPattern(std::unique_ptr<expand::Regex>& to, const std::unique_ptr<expand::Regex>& from) {
  if (!from)
    to.reset();
  else if (to)
    *to = *from;
  else
    to = std::make_unique<expand::Regex>(*from);
}

/// `to` becomes a copy of `from`, compiled patterns included. A reused load gives an engine the
/// same tables conversion after conversion: assigned into the strings and vectors the engine
/// holds, they are copied without allocating and freeing them all again.
void AssignTables(TranslationTables& to, const TranslationTables& from) {
  to.tmatch = from.tmatch;
  to.pmatch = from.pmatch;
  to.rmatch.resize(from.rmatch.size());
  for (std::size_t i = 0; i < from.rmatch.size(); ++i) {
    AssignPattern(to.rmatch[i].pattern, from.rmatch[i].pattern);
    to.rmatch[i].replacement = from.rmatch[i].replacement;
  }
  to.ttag = from.ttag;
  to.ptag = from.ptag;
  to.colors = from.colors;
  to.charsets = from.charsets;
  to.functions.resize(from.functions.size());
  for (std::size_t f = 0; f < from.functions.size(); ++f) {
    UserFunction& function = to.functions[f];
    const UserFunction& source = from.functions[f];
    function.name = source.name;
    function.statements.resize(source.statements.size());
    for (std::size_t i = 0; i < source.statements.size(); ++i) {
      FunctionStatement& statement = function.statements[i];
      const FunctionStatement& original = source.statements[i];
      statement.op = original.op;
      AssignPattern(statement.pattern, original.pattern);
      statement.text1 = original.text1;
      statement.text2 = original.text2;
      statement.text3 = original.text3;
      statement.hasText1 = original.hasText1;
      statement.hasText2 = original.hasText2;
      statement.hasText3 = original.hasText3;
      statement.jump = original.jump;
    }
  }
  to.functionIndex = from.functionIndex;
  to.version = from.version;
  to.fileName = from.fileName;
  to.files = from.files;
}

/// The stamp of `file`, opened for `requested`; false when it is no plain disk file (a memory
/// file, standard input), whose contents no stamp can vouch for.
bool StampOf(std::string_view requested, const FileEntry* file, LoadedFileStamp& stamp) {
  stamp = LoadedFileStamp{};
  stamp.requested.assign(requested);
  if (!file) return true;
  stamp.found = true;
  return StampFile(file, stamp.stamp);
}

/// The library search finds the same unchanged file for `kept.requested` (or still none).
bool StillTheSame(Engine& engine, const LoadedFileStamp& kept) {
  FileEntry* file = OpenLibraryFile(engine, kept.requested, "r");
  LoadedFileStamp now;
  const bool stamped = StampOf(kept.requested, file, now);
  FileClose(file);
  return stamped && now == kept;
}

/// The settings whose values change from one conversion to the next: the start time and the
/// names of the input and of the outputs. A load that neither read nor set them is the same for
/// every document; one that did is not kept.
std::array<int, 4> VolatileIndexes(const Engine& engine) {
  return {FindSetting(engine, "StartTimeUTC"), FindSetting(engine, "InputFile"),
          FindSetting(engine, "OutFileName"), FindSetting(engine, "ErrorFileName")};
}

/// The paths a load leaves alone when it does not touch the volatile settings: the output's base
/// name and the input's folder (the files found through it are checked one by one).
void TakeDocumentPaths(OutputNames& paths, const OutputNames& from) {
  paths.baseName = from.baseName;
  paths.baseFileName = from.baseFileName;
  paths.inputDirectory = from.inputDirectory;
}

/// The two stores hold the same settings, those of the document (`watch`'s volatile indexes and
/// the document's paths) aside.
bool SameSettings(const SettingsStore& a, const SettingsStore& b, const SettingsWatch& watch) {
  if (a.names != b.names || a.values.size() != b.values.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i)
    if (!watch.IsVolatile(static_cast<int>(i)) && a.values[i] != b.values[i]) return false;
  OutputNames paths = a.paths;
  TakeDocumentPaths(paths, b.paths);
  return a.protectedKeys == b.protectedKeys && a.literalIndexes == b.literalIndexes &&
         a.mirrors == b.mirrors && paths == b.paths && a.safeMode == b.safeMode &&
         a.saveText == b.saveText && a.saveTextStr == b.saveTextStr;
}

}  // namespace

TranslationTables CloneTables(const TranslationTables& tables) {
  TranslationTables copy;
  AssignTables(copy, tables);
  return copy;
}

bool ReuseLoad(Engine& engine, std::string_view name) {
  TranslationCache& cache = engine.translationCache;
  if (!cache.enabled || engine.settings.mirrors.debug != 0) return false;
  SettingsWatch document;
  document.volatileIndexes = VolatileIndexes(engine);
  for (auto it = cache.loads.begin(); it != cache.loads.end(); ++it) {
    CachedLoad& load = *it;
    if (load.name != name || !SameSettings(load.before, engine.settings, document)) continue;
    bool same = true;
    for (const LoadedFileStamp& file : load.files)
      if (!(same = StillTheSame(engine, file))) break;
    if (!same) {
      cache.loads.erase(it);  // a file changed (or another one is found now): read it again
      return false;
    }
    // The load neither read nor set the document's settings: their current values stay. The
    // rest is assigned into the engine's own storage (see AssignTables).
    std::array<std::string, 4> current;
    for (std::size_t i = 0; i < current.size(); ++i)
      if (document.volatileIndexes[i] >= 0)
        current[i] = std::move(engine.settings.values[document.volatileIndexes[i]]);
    OutputNames paths = std::move(engine.settings.paths);
    engine.settings = load.after;
    for (std::size_t i = 0; i < current.size(); ++i)
      if (document.volatileIndexes[i] >= 0)
        engine.settings.values[document.volatileIndexes[i]] = std::move(current[i]);
    TakeDocumentPaths(engine.settings.paths, paths);
    engine.settings.watch = SettingsWatch{};
    AssignTables(engine.translation, load.tables);
    ++load.uses;
    return true;
  }
  return false;
}

LoadWatch::LoadWatch(Engine& engine, std::string_view name) : engine_(engine) {
  if (!engine.translationCache.enabled || engine.settings.mirrors.debug != 0) {
    usable_ = false;
    return;
  }
  load_.name.assign(name);
  load_.before = engine.settings;
  load_.before.watch = SettingsWatch{};
  SettingsWatch& watch = engine.settings.watch;
  watch = SettingsWatch{};
  watch.active = true;
  watch.volatileIndexes = VolatileIndexes(engine);
  watching_ = true;
  reportsBefore_ = engine.messages.reportCount;
  outsideCallsBefore_ = engine.expansion.outsideCalls;
  literalSerialBefore_ = engine.expansion.literalSerial;
}

LoadWatch::~LoadWatch() {
  if (watching_) engine_.settings.watch = SettingsWatch{};
}

void LoadWatch::NoteFile(std::string_view requested, const FileEntry* file) {
  if (!usable_) return;
  LoadedFileStamp stamp;
  if (StampOf(requested, file, stamp))
    load_.files.push_back(std::move(stamp));
  else
    usable_ = false;
}

void LoadWatch::Keep(int result) {
  if (!usable_ || result != 1 || engine_.driver.stop) return;
  const SettingsWatch& watch = engine_.settings.watch;
  if (watch.volatileRead || watch.volatileWritten || watch.computedRead || watch.outsideEffect)
    return;
  if (engine_.messages.reportCount != reportsBefore_ ||
      engine_.expansion.outsideCalls != outsideCallsBefore_ ||
      engine_.expansion.literalSerial != literalSerialBefore_ ||
      engine_.settings.mirrors.debug != 0)
    return;
  // A setting's side effect that moved the output's or the input's paths ties the load to
  // this document.
  OutputNames paths = load_.before.paths;
  TakeDocumentPaths(paths, engine_.settings.paths);
  if (!(paths == load_.before.paths)) return;
  load_.after = engine_.settings;
  load_.after.watch = SettingsWatch{};
  load_.tables = CloneTables(engine_.translation);
  std::vector<CachedLoad>& loads = engine_.translationCache.loads;
  // A load of the same name from other settings is kept beside it; the least used one goes
  // when the cache is full.
  if (loads.size() >= TranslationCache::kMaxLoads) {
    auto least =
        std::min_element(loads.begin(), loads.end(),
                         [](const CachedLoad& a, const CachedLoad& b) { return a.uses < b.uses; });
    loads.erase(least);
  }
  loads.push_back(std::move(load_));
  usable_ = false;
}

}  // namespace quillo::trn
