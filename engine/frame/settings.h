// The store of named settings: the 148 built-in names at fixed positions (some computed when
// read), everything set by options, the translation file and the host; the option parser; the
// library-file search; the derivation of output, base and error-file names.
// Depends on the file table, the message reporter and string expansion.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "frame/buffers.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// Indexes of the built-in names: their position in the store, fixed by registration order.
/// `_0` to `_9` (sub-matches of the current pattern match) are kSettingSubMatch0..9.
enum BuiltinSetting : int {
  kSettingPAlign = 0,
  kSettingFirstIndent = 1,
  kSettingLeftIndent = 2,
  kSettingRightIndent = 3,
  kSettingFirstHeading = 4,
  kSettingFileFirstHeading = 5,
  kSettingRtfTitle = 6,
  kSettingSubject = 7,
  kSettingOperator = 8,
  kSettingVersComments = 9,
  kSettingComments = 10,
  kSettingKeywords = 11,
  kSettingAuthor = 12,
  kSettingFont = 13,
  kSettingFontSize = 14,
  kSettingPlain = 15,
  kSettingBold = 16,
  kSettingItalic = 17,
  kSettingStrikeThru = 18,
  kSettingOutline = 19,
  kSettingShadow = 20,
  kSettingSmallCaps = 21,
  kSettingAllCaps = 22,
  kSettingInvisible = 23,
  kSettingUnderline = 24,
  kSettingWUnderline = 25,
  kSettingDUnderline = 26,
  kSettingDbUnderline = 27,
  kSettingSuperScript = 28,
  kSettingSubScript = 29,
  kSettingParStyle = 30,
  kSettingSubMatch0 = 31,
  kSettingSubMatch1 = 32,
  kSettingSubMatch2 = 33,
  kSettingSubMatch3 = 34,
  kSettingSubMatch4 = 35,
  kSettingSubMatch5 = 36,
  kSettingSubMatch6 = 37,
  kSettingSubMatch7 = 38,
  kSettingSubMatch8 = 39,
  kSettingSubMatch9 = 40,
  kSettingCharStyle = 41,
  kSettingTextColor = 42,
  kSettingTextRGB = 43,
  kSettingTime = 44,
  kSettingETime = 45,
  kSettingDate = 46,
  kSettingPicfilename = 47,
  kSettingPicGoalHt = 48,
  kSettingPicGoalWid = 49,
  kSettingPicHt = 50,
  kSettingPicWid = 51,
  kSettingPicScaleX = 52,
  kSettingPicScaleY = 53,
  kSettingPictType = 54,
  kSettingPicCropt = 55,
  kSettingPicCropb = 56,
  kSettingPicCropr = 57,
  kSettingPicCropl = 58,
  kSettingPicEmbedded = 59,
  kSettingPicwidth = 60,
  kSettingPicheight = 61,
  kSettingPicChecksum = 62,
  kSettingFieldInst = 63,
  kSettingCharFmtIdx = 64,
  kSettingParFmtIdx = 65,
  kSettingCharFmts = 66,
  kSettingParFmts = 67,
  kSettingNumIndexEntries = 68,
  kSettingDocComments = 69,
  kSettingImageExt = 70,
  kSettingOutFileName = 71,
  kSettingErrorFileName = 72,
  kSettingDisableErrorFile = 73,
  kSettingCreateLogFile = 74,
  kSettingLogFileName = 75,
  kSettingNoGraphics = 76,
  kSettingInlineGraphics = 77,
  kSettingGenContents = 78,
  kSettingGenFrames = 79,
  kSettingGenIndex = 80,
  kSettingShortNames = 81,
  kSettingSplitDepth = 82,
  kSettingMemoryCheck = 83,
  kSettingMaxColorDiff = 84,
  kSettingSkipNavPanel = 85,
  kSettingSkipLeadingToc = 86,
  kSettingSkipTrailingToc = 87,
  kSettingWMFAdjust = 88,
  kSettingMacAdjust = 89,
  kSettingWMFNGAdjust = 90,
  kSettingMacNGAdjust = 91,
  kSettingBMPAdjust = 92,
  kSettingBMPNGAdjust = 93,
  kSettingTwipToPixel = 94,
  kSettingColTolerance = 95,
  kSettingFontScale = 96,
  kSettingShortFileDigits = 97,
  kSettingMergePMatch = 98,
  kSettingDebug = 99,
  kSettingHtmlExt = 100,
  kSettingCSuffix = 101,
  kSettingISuffix = 102,
  kSettingTSuffix = 103,
  kSettingFCSuffix = 104,
  kSettingFISuffix = 105,
  kSettingKeepDupPicts = 106,
  kSettingFNSep = 107,
  kSettingPreferEmbed = 108,
  kSettingMaxTOCLevel = 109,
  kSettingHeadingRow = 110,
  kSettingDebugColor = 111,
  kSettingNotDef = 112,
  kSettingNotDefName = 113,
  kSettingLanguage = 114,
  kSettingContentsFile = 115,
  kSettingIndexFile = 116,
  kSettingFContentsFile = 117,
  kSettingFIndexFile = 118,
  kSettingThisFile = 119,
  kSettingPrevFile = 120,
  kSettingParentFileH = 121,
  kSettingPrevFileH = 122,
  kSettingNextFileH = 123,
  kSettingNextFile = 124,
  kSettingTitleFile = 125,
  kSettingParentFile = 126,
  kSettingNumFiles = 127,
  kSettingOutTrn = 128,
  kSettingPNTStripChar = 129,
  kSettingAllowEmptyStrip = 130,
  kSettingPNOverrideFlag = 131,
  kSettingPNText = 132,
  kSettingNestLevel = 133,
  kSettingMatchName = 134,
  kSettingOutMap = 135,
  kSettingTrnFile = 136,
  kSettingNotDefValue = 137,
  kSettingIndexSubMarkers = 138,
  kSettingProgPath = 139,
  kSettingOverrideDefs = 140,
  kSettingPauseOnErr = 141,
  kSettingMaxIndexLevels = 142,
  kSettingSaveText = 143,
  kSettingParNumber = 144,
  kSettingSaveTextStr = 145,
  kSettingToken = 146,
  kSettingRTFParam = 147,
  kSettingBackRGB = 148,
  kSettingFontFamily = 149,
  kSettingFontSizeRel = 150,
  kSettingBodyFontFamily = 151,
  kSettingCharLookIdx = 152,
  kSettingCharLooks = 153,
  kSettingParBackRGB = 154,
  kSettingCharLookRule = 155,
  kSettingCount = 156,
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
  /// ErrorFileName was derived from the output name (not set by anyone): it follows the output
  /// name when that changes, and is never expanded.
  bool errorNameDerived = false;
  /// OutFileName is "-" in a file conversion: the main page goes to standard output.
  bool standardOutput = false;
};

/// A set of setting indexes with constant-time membership, insertion and removal (a flag per
/// index plus the list of members). Iteration visits the members in no particular order.
class SettingIndexSet {
 public:
  bool count(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < position_.size() &&
           position_[index] != 0;
  }
  void insert(int index) {
    if (index < 0) return;
    if (static_cast<std::size_t>(index) >= position_.size()) position_.resize(index + 1, 0);
    if (position_[index] != 0) return;
    members_.push_back(index);
    position_[index] = static_cast<int>(members_.size());
  }
  void erase(int index) {
    if (!count(index)) return;
    int slot = position_[index] - 1;
    int last = members_.back();
    members_[slot] = last;
    position_[last] = slot + 1;
    members_.pop_back();
    position_[index] = 0;
  }
  void clear() {
    members_.clear();
    position_.clear();
  }
  bool empty() const { return members_.empty(); }
  std::size_t size() const { return members_.size(); }
  std::vector<int>::const_iterator begin() const { return members_.begin(); }
  std::vector<int>::const_iterator end() const { return members_.end(); }

 private:
  std::vector<int> members_;
  std::vector<int> position_;  ///< per index: 1 + its place in members_, 0 when absent
};

struct SettingsStore {
  std::vector<std::string> names;
  std::vector<std::string> values;
  /// name -> index, compared without ASCII case
  std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual> indexByKey;
  std::unordered_set<std::string> protectedKeys;  ///< FoldedKey of names OverrideDefs protected
  /// Indexes whose value is literal text (document text, sub-matches): name resolution returns
  /// such a value as it is and never expands it again. Any later set of the name clears the mark.
  SettingIndexSet literalIndexes;
  SettingMirrors mirrors;
  OutputNames paths;
  /// Safe mode (SafeMode "1" among the options of the conversion): library files only from the
  /// program folder, RTFLIBDIR and the installed data folder, and no built-in that deletes,
  /// creates or runs. Read once the options are parsed, so that nothing a translation file sets
  /// can turn it off.
  bool safeMode = false;
  int saveText = 0;         ///< the saved-text switch (SaveText)
  std::string saveTextStr;  ///< the saved text (SaveTextStr); emptied when SaveText is set to 0
};

/// Empties the store (names, values, protected names, mirrors, saved text) and registers the
/// built-in names with their defaults, then the default message texts and actions, then TransCMD
/// and UserConfigDir. A built-in that does not land at its expected index is a fatal text
/// (throws).
void ResetSettings(Engine& engine);
/// The user's configuration folder of Quillo, where the options editor keeps its command-line
/// file: $XDG_CONFIG_HOME/quillo, else $HOME/.config/quillo; "" when neither names an absolute
/// folder. Read from the environment at every reset (the setting UserConfigDir), since
/// translation files cannot read the environment.
std::string UserConfigDirectory();
/// Sets `name` (case-insensitive) to `value`, honouring OverrideDefs protection, and refreshes the
/// mirrors and side effects. Returns the index of the name (also when the name is protected and
/// nothing changed).
int SetSetting(Engine& engine, std::string_view name, std::string_view value);
/// Sets `name` like SetSetting (same protection rule, mirrors and side effects) and marks the value
/// literal: a reference to the name yields the value unexpanded. This is what keeps document text
/// (link targets, bookmark names, field instructions) from running "$Func()" calls it happens to
/// contain. Returns the index of the name (also when protected and nothing changed).
int SetLiteralSetting(Engine& engine, std::string_view name, std::string_view value);
/// True when the value at `index` was stored by SetLiteralSetting and not set since.
bool IsLiteralSetting(const Engine& engine, int index);
/// Sets `name` without consulting or extending the protected list: for variables the engine owns
/// (errCode, errPos, MsgParam1..., CBWhy), which an OverrideDefs period must not freeze. Traced
/// like SetSetting. Returns the index of the name.
int SetUnprotected(Engine& engine, std::string_view name, std::string_view value);
/// Sets a built-in by index without the protection rule (mirrors and side effects still apply);
/// `literal` marks the value literal (before the side effects read it). An index outside the
/// built-ins is ignored.
void SetBuiltin(Engine& engine, int index, std::string_view value, bool literal = false);
/// printf-style SetSetting. There is no length limit on the formatted text.
int SetFormatted(Engine& engine, std::string_view name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// printf-style SetBuiltin.
void SetIndexFormatted(Engine& engine, int index, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// Index of `name`, or -1 when it is not in the store.
int FindSetting(const Engine& engine, std::string_view name);
/// Value of `name`: a computed built-in is computed now (and stored back). Returns nullptr when the
/// name is not defined (the expansion language then applies its NotDef rule). The pointer is valid
/// until the next setting is added to the store.
const std::string* GetSetting(Engine& engine, std::string_view name);
/// Value of the setting at `index` (a valid index of the store), computed now when it is a
/// computed built-in: GetSetting without the name lookup. Valid as GetSetting's result.
const std::string& GetSettingAt(Engine& engine, int index);
/// Value of `name`, "" when undefined (no NotDef rule).
std::string SettingValue(Engine& engine, std::string_view name);
/// True for the built-ins whose value is computed when read (what is stored is ignored).
bool IsComputedSetting(int index);

/// Parses option words argv[1..] up to the input name (the first word that does not begin with
/// '-', or "-" alone, standard input). Returns the index of the input entry, argc when there is
/// none, -1 for an option error (reported), 0 after -V (reported). Options are
/// matched with case. The caller sets OverrideDefs around the call.
int ParseOptions(Engine& engine, int argc, char** argv);
/// True when `word` is an option spelled without its parameter ("-D", "-o"...), which then
/// follows as the next word.
bool OptionTakesNextWord(std::string_view word);
/// Opens a library file (translation file, map, control-word table): an absolute name as given;
/// otherwise the first of library-directory override, input directory, $RTFLIBDIR, program
/// directory, ./LIBDIR and the installed data folders (InstalledDataFolders) that opens. nullptr
/// when none opens.
FileEntry* OpenLibraryFile(Engine& engine, std::string_view name, const char* mode);
/// The paths OpenLibraryFile tries for `name`, in its order (just `name` when it is absolute).
std::vector<std::string> LibraryFileCandidates(const Engine& engine, std::string_view name);
/// Derives base name, HtmlExt, error-file name and print sink from OutFileName. Does nothing while
/// OutFileName is empty. An OutFileName of "-" (file conversions only) sends the main page to
/// standard output: the base name is then the input's (DefaultOutputBase of InputFile), and the
/// error file is the one ErrorFileName names, none (standard error) when it is empty.
void ApplyOutputName(Engine& engine);
/// The output base name a conversion uses when no output name is given: the input's name without
/// a final ".rtf" or ".RTF" (when longer than that), at most 256 characters.
std::string DefaultOutputBase(std::string_view inputName);

}  // namespace quillo
