// The named-settings store (see base/settings.h).
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/buffers.h"

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
  kSettingShiftOnly = 156,
  kSettingCount = 157,
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
  bool operator==(const SettingMirrors&) const = default;
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
  bool operator==(const OutputNames&) const = default;
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
  /// Same members, whatever their order.
  bool operator==(const SettingIndexSet& other) const {
    if (members_.size() != other.members_.size()) return false;
    for (int index : members_)
      if (!other.count(index)) return false;
    return true;
  }
  std::size_t size() const { return members_.size(); }
  std::vector<int>::const_iterator begin() const { return members_.begin(); }
  std::vector<int>::const_iterator end() const { return members_.end(); }

 private:
  std::vector<int> members_;
  std::vector<int> position_;  ///< per index: 1 + its place in members_, 0 when absent
};

/// What a translation-file load is watched for (trn/translation_cache.cc), so that its result can
/// be reused only while reading the file again would give the same: reads of a value that may
/// differ from one conversion to the next, reads of computed built-ins, and writes whose effects
/// reach beyond the store. Inactive (no volatile index) outside a load.
struct SettingsWatch {
  bool active = false;
  /// The settings whose values change from one conversion to the next (the start time, the
  /// input's and the outputs' names); -1 for those not defined.
  std::array<int, 4> volatileIndexes = {-1, -1, -1, -1};
  bool IsVolatile(int index) const {
    return index >= 0 && std::find(volatileIndexes.begin(), volatileIndexes.end(), index) !=
                             volatileIndexes.end();
  }
  bool volatileRead = false;
  bool volatileWritten = false;
  bool computedRead = false;   ///< a computed built-in (time, document state...) was read
  bool outsideEffect = false;  ///< a setting whose side effect reaches outside the store was set
};

struct SettingsStore {
  std::vector<std::string> names;
  std::vector<std::string> values;
  /// name -> index, compared without ASCII case
  std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual> indexByKey;
  std::unordered_set<std::string> protectedKeys;  ///< FoldedKey of names OverrideDefs protected
  /// Per index, nonzero when the name's key is in protectedKeys (a name has one index whatever its
  /// case): a set tests this instead of folding the name. Shorter than `names` where no later
  /// index is protected.
  std::vector<unsigned char> protectedIndexes;
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
  SettingsWatch watch;
  /// The buffer a computed built-in's last value had: the next computation writes into it, so
  /// that computing a value again and again allocates nothing.
  std::string computeScratch;
  /// Indexes names were last found at, by where the name's text lies in memory. The engine and
  /// the translation file pass the same few names from the same places (literals, function steps)
  /// over and over; a hint is taken only when the name stored at it equals the name asked for, so
  /// a stale or shared slot costs one comparison and never a wrong answer.
  static constexpr std::size_t kNameHints = 128;
  mutable std::array<int, kNameHints> nameHints{};
};

}  // namespace quillo
