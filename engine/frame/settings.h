// The store of named settings: the 148 built-in names at fixed positions (some computed when
// read), everything set by options, the translation file and the host; the option parser; the
// library-file search; the derivation of output, base and error-file names.
// Depends on the file table and the message reporter.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

/// Indexes of the built-in names that engine code reads often (their position in the store).
/// The full list of 148 names lives in settings.cc.
enum BuiltinSetting : int {
  kSettingCount = 148,
};

/// Integer and floating-point copies of settings, refreshed whenever the setting is set.
struct SettingMirrors {
  int noGraphics = 0, inlineGraphics = 1, genContents = 0, genFrames = 0, genIndex = 0;
  int splitDepth = 0, memoryCheck = 0, maxColorDiff = 128, skipNavPanel = 0;
  int skipLeadingToc = 1, skipTrailingToc = 1, colTolerance = 10, mergePMatch = 0, debug = 0;
  int keepDupPicts = 0, preferEmbed = 1, maxTocLevel = 99, allowEmptyStrip = 1;
  int overrideDefs = 0, pauseOnErr = 1, maxIndexLevels = 8, shortNames = 0, shortFileDigits = 2;
  double wmfAdjust = 133.3333, macAdjust = 100, wmfNgAdjust = 133.3333, macNgAdjust = 2000;
  double bmpAdjust = 2000, bmpNgAdjust = 2000, twipToPixel = .05, fontScale = .33;
};

/// Paths and names derived from OutFileName and the conversion's inputs.
struct OutputNames {
  std::string baseName;            ///< OutFileName expanded, without extension, at most 255 chars
  std::string baseFileName;        ///< the part of baseName after its last '/'
  std::string programDirectory;    ///< "" when unknown
  std::string inputDirectory;      ///< "" when unknown
  std::string libraryDirOverride;  ///< set by batch conversion
};

struct SettingsStore {
  std::vector<std::string> names;
  std::vector<std::string> values;
  std::unordered_map<std::string, int> indexByKey;  ///< FoldedKey(name) -> index
  std::unordered_set<std::string> protectedKeys;    ///< FoldedKey of names OverrideDefs protected
  SettingMirrors mirrors;
  OutputNames paths;
};

/// Empties the store and registers the built-in names with their defaults, then the default
/// message texts and actions, then TransCMD.
void ResetSettings(Engine& engine);
/// Sets `name` (case-insensitive) to `value`, honouring OverrideDefs protection, and refreshes the
/// mirrors and side effects. Returns the index of the name.
int SetSetting(Engine& engine, std::string_view name, std::string_view value);
/// Sets a built-in by index, without the protection rule.
void SetBuiltin(Engine& engine, int index, std::string_view value);
/// Index of `name`, or -1 when it is not in the store.
int FindSetting(const Engine& engine, std::string_view name);
/// Value of `name`: a computed built-in is computed now (and stored back). Returns nullptr when the
/// name is not defined (the expansion language then applies its NotDef rule).
const std::string* GetSetting(Engine& engine, std::string_view name);
/// Value of `name`, "" when undefined (no NotDef rule).
std::string SettingValue(Engine& engine, std::string_view name);

/// Parses option words argv[1..] up to the input name. Returns the index of the input entry,
/// argc when there is none, -1 for an option error (reported), 0 after -V (reported).
int ParseOptions(Engine& engine, int argc, char** argv);
/// Opens a library file (translation file, map, control-word table) through the search order.
FileEntry* OpenLibraryFile(Engine& engine, std::string_view name, const char* mode);
/// Derives base name, HtmlExt, error-file name and print sink from OutFileName.
void ApplyOutputName(Engine& engine);

}  // namespace quillo
