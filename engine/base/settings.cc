// The named-settings store: registration of the built-in names, lookup ignoring case, the set
// operation with OverrideDefs protection, mirrors and side effects, the computed names and the
// derivation of the output names. The options and the library-file search are in options.cc.
#include "base/settings.h"

#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/buffers.h"
#include "base/data_folders.h"
#include "base/file_table.h"
#include "base/hooks.h"
#include "base/messages.h"
#include "engine.h"

namespace quillo {
namespace {

// ---------------------------------------------------------------------------------------------
// Built-in names

/// How a built-in is read.
enum class Reading {
  kStored,        ///< the stored value
  kLater,         ///< computed from state kept by later stages; until they provide it, the default
  kTime,          ///< local time, "%X"
  kDate,          ///< local date, "%m/%d/%Y"
  kElapsedTime,   ///< whole seconds since the conversion started
  kProgramPath,   ///< the program directory
  kOverrideDefs,  ///< the OverrideDefs flag
  kSaveText,      ///< the saved-text switch
  kSaveTextStr,   ///< the saved text
  kToken,         ///< the last control word the reader recognised
  kRtfParam,      ///< parameter of the reader's current token
  kSubMatch,      ///< part of the current match; the value last stored when none is current
};

struct BuiltinEntry {
  int index;
  const char* name;
  const char* defaultValue;
  Reading reading;
};

// Registration order is the index order; each line carries its constant so the pairing of
// constant and name can be checked at compile time.
constexpr BuiltinEntry kBuiltins[] = {
    {kSettingPAlign, "PAlign", "0", Reading::kLater},
    {kSettingFirstIndent, "FirstIndent", "0", Reading::kLater},
    {kSettingLeftIndent, "LeftIndent", "0", Reading::kLater},
    {kSettingRightIndent, "RightIndent", "0", Reading::kLater},
    {kSettingFirstHeading, "FirstHeading", "", Reading::kStored},
    {kSettingFileFirstHeading, "FileFirstHeading", "", Reading::kStored},
    {kSettingRtfTitle, "rtfTitle", "", Reading::kLater},
    {kSettingSubject, "Subject", "", Reading::kLater},
    {kSettingOperator, "Operator", "", Reading::kLater},
    {kSettingVersComments, "VersComments", "", Reading::kLater},
    {kSettingComments, "Comments", "", Reading::kLater},
    {kSettingKeywords, "Keywords", "", Reading::kLater},
    {kSettingAuthor, "Author", "", Reading::kLater},
    {kSettingFont, "Font", "", Reading::kLater},
    {kSettingFontSize, "FontSize", "0", Reading::kLater},
    {kSettingPlain, "Plain", "1", Reading::kLater},
    {kSettingBold, "Bold", "0", Reading::kLater},
    {kSettingItalic, "Italic", "0", Reading::kLater},
    {kSettingStrikeThru, "StrikeThru", "0", Reading::kLater},
    {kSettingOutline, "Outline", "0", Reading::kLater},
    {kSettingShadow, "Shadow", "0", Reading::kLater},
    {kSettingSmallCaps, "SmallCaps", "0", Reading::kLater},
    {kSettingAllCaps, "AllCaps", "0", Reading::kLater},
    {kSettingInvisible, "Invisible", "0", Reading::kLater},
    {kSettingUnderline, "Underline", "0", Reading::kLater},
    {kSettingWUnderline, "WUnderline", "0", Reading::kLater},
    {kSettingDUnderline, "DUnderline", "0", Reading::kLater},
    {kSettingDbUnderline, "DbUnderline", "0", Reading::kLater},
    {kSettingSuperScript, "SuperScript", "0", Reading::kLater},
    {kSettingSubScript, "SubScript", "0", Reading::kLater},
    {kSettingParStyle, "ParStyle", "Normal", Reading::kLater},
    {kSettingSubMatch0, "_0", "", Reading::kSubMatch},
    {kSettingSubMatch1, "_1", "", Reading::kSubMatch},
    {kSettingSubMatch2, "_2", "", Reading::kSubMatch},
    {kSettingSubMatch3, "_3", "", Reading::kSubMatch},
    {kSettingSubMatch4, "_4", "", Reading::kSubMatch},
    {kSettingSubMatch5, "_5", "", Reading::kSubMatch},
    {kSettingSubMatch6, "_6", "", Reading::kSubMatch},
    {kSettingSubMatch7, "_7", "", Reading::kSubMatch},
    {kSettingSubMatch8, "_8", "", Reading::kSubMatch},
    {kSettingSubMatch9, "_9", "", Reading::kSubMatch},
    {kSettingCharStyle, "CharStyle", "", Reading::kLater},
    {kSettingTextColor, "TextColor", "", Reading::kLater},
    {kSettingTextRGB, "TextRGB", "", Reading::kLater},
    {kSettingTime, "Time", "", Reading::kTime},
    {kSettingETime, "ETime", "0", Reading::kElapsedTime},
    {kSettingDate, "Date", "", Reading::kDate},
    {kSettingPicfilename, "Picfilename", "", Reading::kLater},
    {kSettingPicGoalHt, "PicGoalHt", "", Reading::kLater},
    {kSettingPicGoalWid, "PicGoalWid", "", Reading::kLater},
    {kSettingPicHt, "PicHt", "", Reading::kLater},
    {kSettingPicWid, "PicWid", "", Reading::kLater},
    {kSettingPicScaleX, "PicScaleX", "", Reading::kLater},
    {kSettingPicScaleY, "PicScaleY", "", Reading::kLater},
    {kSettingPictType, "PictType", "", Reading::kLater},
    {kSettingPicCropt, "PicCropt", "", Reading::kLater},
    {kSettingPicCropb, "PicCropb", "", Reading::kLater},
    {kSettingPicCropr, "PicCropr", "", Reading::kLater},
    {kSettingPicCropl, "PicCropl", "", Reading::kLater},
    {kSettingPicEmbedded, "PicEmbedded", "", Reading::kLater},
    {kSettingPicwidth, "Picwidth", "", Reading::kLater},
    {kSettingPicheight, "Picheight", "", Reading::kLater},
    {kSettingPicChecksum, "PicChecksum", "", Reading::kLater},
    {kSettingFieldInst, "FieldInst", "", Reading::kStored},
    {kSettingCharFmtIdx, "CharFmtIdx", "", Reading::kLater},
    {kSettingParFmtIdx, "ParFmtIdx", "", Reading::kLater},
    {kSettingCharFmts, "CharFmts", "", Reading::kLater},
    {kSettingParFmts, "ParFmts", "", Reading::kLater},
    {kSettingNumIndexEntries, "NumIndexEntries", "0", Reading::kLater},
    {kSettingDocComments, "DocComments", "", Reading::kLater},
    {kSettingImageExt, "ImageExt", "jpg", Reading::kStored},
    {kSettingOutFileName, "OutFileName", "", Reading::kStored},
    {kSettingErrorFileName, "ErrorFileName", "", Reading::kStored},
    {kSettingDisableErrorFile, "DisableErrorFile", "", Reading::kStored},
    {kSettingCreateLogFile, "CreateLogFile", "0", Reading::kStored},
    {kSettingLogFileName, "LogFileName", "", Reading::kStored},
    {kSettingNoGraphics, "NoGraphics", "0", Reading::kStored},
    {kSettingInlineGraphics, "InlineGraphics", "1", Reading::kStored},
    {kSettingGenContents, "GenContents", "0", Reading::kStored},
    {kSettingGenFrames, "GenFrames", "0", Reading::kStored},
    {kSettingGenIndex, "GenIndex", "0", Reading::kStored},
    {kSettingShortNames, "ShortNames", "0", Reading::kStored},
    {kSettingSplitDepth, "SplitDepth", "0", Reading::kStored},
    {kSettingMemoryCheck, "MemoryCheck", "0", Reading::kStored},
    {kSettingMaxColorDiff, "MaxColorDiff", "128", Reading::kStored},
    {kSettingSkipNavPanel, "SkipNavPanel", "0", Reading::kStored},
    {kSettingSkipLeadingToc, "SkipLeadingToc", "1", Reading::kStored},
    {kSettingSkipTrailingToc, "SkipTrailingToc", "1", Reading::kStored},
    {kSettingWMFAdjust, "WMFAdjust", "133.3333", Reading::kStored},
    {kSettingMacAdjust, "MacAdjust", "100", Reading::kStored},
    {kSettingWMFNGAdjust, "WMFNGAdjust", "133.3333", Reading::kStored},
    {kSettingMacNGAdjust, "MacNGAdjust", "2000", Reading::kStored},
    {kSettingBMPAdjust, "BMPAdjust", "2000", Reading::kStored},
    {kSettingBMPNGAdjust, "BMPNGAdjust", "2000", Reading::kStored},
    {kSettingTwipToPixel, "TwipToPixel", ".05", Reading::kStored},
    {kSettingColTolerance, "ColTolerance", "10", Reading::kStored},
    {kSettingFontScale, "FontScale", ".33", Reading::kStored},
    {kSettingShortFileDigits, "ShortFileDigits", "2", Reading::kStored},
    {kSettingMergePMatch, "MergePMatch", "0", Reading::kStored},
    {kSettingDebug, "Debug", "0", Reading::kStored},
    {kSettingHtmlExt, "HtmlExt", "html", Reading::kStored},
    {kSettingCSuffix, "CSuffix", "-Contents", Reading::kStored},
    {kSettingISuffix, "ISuffix", "-Index", Reading::kStored},
    {kSettingTSuffix, "TSuffix", "-Title", Reading::kStored},
    {kSettingFCSuffix, "FCSuffix", "-FContents", Reading::kStored},
    {kSettingFISuffix, "FISuffix", "-FIndex", Reading::kStored},
    {kSettingKeepDupPicts, "KeepDupPicts", "0", Reading::kStored},
    {kSettingFNSep, "FNSep", "<HR>", Reading::kStored},
    {kSettingPreferEmbed, "PreferEmbed", "1", Reading::kStored},
    {kSettingMaxTOCLevel, "MaxTOCLevel", "99", Reading::kStored},
    {kSettingHeadingRow, "HeadingRow", "0", Reading::kStored},
    {kSettingDebugColor, "DebugColor", "0", Reading::kStored},
    {kSettingNotDef, "NotDef", "", Reading::kStored},
    {kSettingNotDefName, "NotDefName", "", Reading::kStored},
    {kSettingLanguage, "Language", "", Reading::kStored},
    {kSettingContentsFile, "ContentsFile", "", Reading::kStored},
    {kSettingIndexFile, "IndexFile", "", Reading::kStored},
    {kSettingFContentsFile, "FContentsFile", "", Reading::kStored},
    {kSettingFIndexFile, "FIndexFile", "", Reading::kStored},
    {kSettingThisFile, "ThisFile", "", Reading::kStored},
    {kSettingPrevFile, "PrevFile", "", Reading::kStored},
    {kSettingParentFileH, "ParentFileH", "", Reading::kStored},
    {kSettingPrevFileH, "PrevFileH", "", Reading::kStored},
    {kSettingNextFileH, "NextFileH", "", Reading::kStored},
    {kSettingNextFile, "NextFile", "", Reading::kStored},
    {kSettingTitleFile, "TitleFile", "", Reading::kStored},
    {kSettingParentFile, "ParentFile", "", Reading::kStored},
    {kSettingNumFiles, "NumFiles", "0", Reading::kLater},
    {kSettingOutTrn, "OutTrn", "", Reading::kStored},
    {kSettingPNTStripChar, "PNTStripChar", " ", Reading::kStored},
    {kSettingAllowEmptyStrip, "AllowEmptyStrip", "1", Reading::kStored},
    {kSettingPNOverrideFlag, "PNOverrideFlag", "1", Reading::kStored},
    {kSettingPNText, "PNText", "", Reading::kStored},
    {kSettingNestLevel, "NestLevel", "0", Reading::kLater},
    {kSettingMatchName, "MatchName", "", Reading::kLater},
    {kSettingOutMap, "OutMap", "html-mapv4.txt", Reading::kStored},
    {kSettingTrnFile, "TrnFile", "html.trn", Reading::kStored},
    {kSettingNotDefValue, "NotDefValue", "", Reading::kStored},
    {kSettingIndexSubMarkers, "IndexSubMarkers", ":", Reading::kStored},
    {kSettingProgPath, "ProgPath", "", Reading::kProgramPath},
    {kSettingOverrideDefs, "OverrideDefs", "0", Reading::kOverrideDefs},
    {kSettingPauseOnErr, "PauseOnErr", "1", Reading::kStored},
    {kSettingMaxIndexLevels, "MaxIndexLevels", "8", Reading::kStored},
    {kSettingSaveText, "SaveText", "0", Reading::kSaveText},
    {kSettingParNumber, "ParNumber", "0", Reading::kLater},
    {kSettingSaveTextStr, "SaveTextStr", "", Reading::kSaveTextStr},
    {kSettingToken, "Token", "", Reading::kToken},
    {kSettingRTFParam, "RTFParam", "0", Reading::kRtfParam},
    {kSettingBackRGB, "BackRGB", "", Reading::kLater},
    {kSettingFontFamily, "FontFamily", "", Reading::kLater},
    {kSettingFontSizeRel, "FontSizeRel", "100", Reading::kLater},
    {kSettingBodyFontFamily, "BodyFontFamily", "", Reading::kLater},
    {kSettingCharLookIdx, "CharLookIdx", "", Reading::kLater},
    {kSettingCharLooks, "CharLooks", "", Reading::kLater},
    {kSettingParBackRGB, "ParBackRGB", "", Reading::kLater},
    {kSettingCharLookRule, "CharLookRule", "", Reading::kLater},
    {kSettingShiftOnly, "ShiftOnly", "0", Reading::kLater},
};

constexpr bool BuiltinsInOrder() {
  int i = 0;
  for (const BuiltinEntry& entry : kBuiltins)
    if (entry.index != i++) return false;
  return i == kSettingCount;
}
static_assert(BuiltinsInOrder(), "built-in table out of step with BuiltinSetting");

/// The hint slot of a name: where its text lies, how long it is and its first and last bytes
/// (names built in the same local buffer one after another differ there).
int& HintFor(const SettingsStore& store, std::string_view name) {
  const auto at = reinterpret_cast<std::uintptr_t>(name.data());
  std::size_t mix = (at >> 3) ^ (at >> 11) ^ name.size();
  if (!name.empty())
    mix ^= (static_cast<std::size_t>(static_cast<unsigned char>(name.front())) << 2) ^
           (static_cast<std::size_t>(static_cast<unsigned char>(name.back())) << 4);
  return store.nameHints[mix % SettingsStore::kNameHints];
}

/// Index of `name` through its hint slot, -1 when the slot holds another name.
int HintedIndex(const SettingsStore& store, std::string_view name, int hint) {
  if (hint < 0 || hint >= static_cast<int>(store.names.size())) return -1;
  return CaseEqual(store.names[hint], name) ? hint : -1;
}

/// Index of `name`, -1 when it is not in the store.
int FindIndex(const SettingsStore& store, std::string_view name) {
  int& hint = HintFor(store, name);
  if (HintedIndex(store, name, hint) >= 0) return hint;
  auto it = store.indexByKey.find(name);
  if (it == store.indexByKey.end()) return -1;
  hint = it->second;
  return it->second;
}

/// Looks a name up, appending it with an empty value when absent. Returns its index.
int FindOrAdd(SettingsStore& store, std::string_view name) {
  const int found = FindIndex(store, name);
  if (found >= 0) return found;
  int index = static_cast<int>(store.names.size());
  store.names.emplace_back(name);
  store.values.emplace_back();
  store.indexByKey.emplace(std::string(name), index);
  return index;
}

/// Stores a built-in's value with no trace, mirror or side effect. Used where the engine derives
/// a value itself (ApplyOutputName) and a side effect would run the derivation again.
void StoreRaw(Engine& engine, int index, std::string_view value) {
  engine.settings.values[index].assign(value);
}

const std::string& Stored(const Engine& engine, int index) { return engine.settings.values[index]; }

/// Position of the '.' that starts the extension of `path` (after its last '/'), or npos.
std::size_t ExtensionDot(std::string_view path) {
  std::size_t dot = path.find_last_of("./");
  if (dot == std::string_view::npos || path[dot] != '.') return std::string_view::npos;
  return dot;
}

// ---------------------------------------------------------------------------------------------
// Mirrors and side effects

struct IntMirror {
  int index;
  int SettingMirrors::*member;
};
struct FloatMirror {
  int index;
  double SettingMirrors::*member;
};

/// Settings with an integer copy, read as atoi reads them.
constexpr IntMirror kIntMirrors[] = {
    {kSettingNoGraphics, &SettingMirrors::noGraphics},
    {kSettingInlineGraphics, &SettingMirrors::inlineGraphics},
    {kSettingGenContents, &SettingMirrors::genContents},
    {kSettingGenFrames, &SettingMirrors::genFrames},
    {kSettingGenIndex, &SettingMirrors::genIndex},
    {kSettingSplitDepth, &SettingMirrors::splitDepth},
    {kSettingMemoryCheck, &SettingMirrors::memoryCheck},
    {kSettingMaxColorDiff, &SettingMirrors::maxColorDiff},
    {kSettingSkipNavPanel, &SettingMirrors::skipNavPanel},
    {kSettingSkipLeadingToc, &SettingMirrors::skipLeadingToc},
    {kSettingSkipTrailingToc, &SettingMirrors::skipTrailingToc},
    {kSettingColTolerance, &SettingMirrors::colTolerance},
    {kSettingMergePMatch, &SettingMirrors::mergePMatch},
    {kSettingDebug, &SettingMirrors::debug},
    {kSettingKeepDupPicts, &SettingMirrors::keepDupPicts},
    {kSettingPreferEmbed, &SettingMirrors::preferEmbed},
    {kSettingMaxTOCLevel, &SettingMirrors::maxTocLevel},
    {kSettingAllowEmptyStrip, &SettingMirrors::allowEmptyStrip},
    {kSettingOverrideDefs, &SettingMirrors::overrideDefs},
    {kSettingPauseOnErr, &SettingMirrors::pauseOnErr},
    {kSettingMaxIndexLevels, &SettingMirrors::maxIndexLevels},
    {kSettingShortNames, &SettingMirrors::shortNames},
    {kSettingShortFileDigits, &SettingMirrors::shortFileDigits},
};

/// Settings with a floating-point copy, read as atof reads them.
constexpr FloatMirror kFloatMirrors[] = {
    {kSettingWMFAdjust, &SettingMirrors::wmfAdjust},
    {kSettingMacAdjust, &SettingMirrors::macAdjust},
    {kSettingWMFNGAdjust, &SettingMirrors::wmfNgAdjust},
    {kSettingMacNGAdjust, &SettingMirrors::macNgAdjust},
    {kSettingBMPAdjust, &SettingMirrors::bmpAdjust},
    {kSettingBMPNGAdjust, &SettingMirrors::bmpNgAdjust},
    {kSettingTwipToPixel, &SettingMirrors::twipToPixel},
    {kSettingFontScale, &SettingMirrors::fontScale},
};

/// Refreshes the engine copy of built-in `index` and runs its side effect.
void RefreshMirror(Engine& engine, int index, const std::string& value) {
  SettingMirrors& m = engine.settings.mirrors;
  const char* v = value.c_str();
  for (const IntMirror& mirror : kIntMirrors)
    if (mirror.index == index) m.*mirror.member = std::atoi(v);
  for (const FloatMirror& mirror : kFloatMirrors)
    if (mirror.index == index) m.*mirror.member = std::atof(v);

  switch (index) {
    case kSettingErrorFileName:
    case kSettingShortNames:
    case kSettingShortFileDigits:
    case kSettingOutFileName:
    case kSettingDisableErrorFile:
    case kSettingCreateLogFile:
    case kSettingLogFileName:
    case kSettingHtmlExt:
    case kSettingMatchName:
      if (engine.settings.watch.active) engine.settings.watch.outsideEffect = true;
      break;
    default:
      break;
  }
  switch (index) {
    case kSettingErrorFileName:
      // A name set for the error file is the user's; one derived from the output name is not.
      engine.settings.paths.errorNameDerived = false;
      ApplyOutputName(engine);
      break;
    case kSettingShortNames:
    case kSettingShortFileDigits:
    case kSettingOutFileName:
    case kSettingDisableErrorFile:
    case kSettingCreateLogFile:
    case kSettingLogFileName:
      ApplyOutputName(engine);
      break;

    case kSettingHtmlExt: {
      // A new extension replaces the one of OutFileName, if that name has one after its last '/'.
      const std::string& outName = Stored(engine, kSettingOutFileName);
      std::size_t dot = ExtensionDot(outName);
      if (outName.empty() || dot == std::string::npos) break;
      StoreRaw(engine, kSettingOutFileName, outName.substr(0, dot + 1) + value);
      ApplyOutputName(engine);
      break;
    }

    case kSettingHeadingRow:
      // The heading-row flag of the current table row is set here once tables keep row state.
      break;
    case kSettingMatchName:
      if (engine.hooks.assignMatchName) engine.hooks.assignMatchName(engine, value);
      break;

    case kSettingSaveText:
      engine.settings.saveText = std::atoi(v);
      if (engine.settings.saveText == 0) engine.settings.saveTextStr.clear();
      break;
    case kSettingSaveTextStr:
      engine.settings.saveTextStr = value;
      break;
    default:
      break;
  }
}

/// Trace, store, mirror: the part of the set operation after the protection rule. `literal`
/// marks the value literal before its side effects run (they may read it).
void StoreValue(Engine& engine, int index, std::string_view value, bool literal = false) {
  SettingsStore& store = engine.settings;
  // A Save that recordings can replay records itself; every other write spoils them.
  if (engine.hooks.noteStore) engine.hooks.noteStore(engine);
  if (store.mirrors.debug & 2) {
    std::string name = store.names[index];
    std::string text(value);
    PrintEscaped(engine, "Setting:name=%s,value=%s\n", name.c_str(), text.c_str());
  }
  // Volatile indexes are set only while a load is watched (active).
  if (store.watch.active && store.watch.IsVolatile(index)) store.watch.volatileWritten = true;
  store.values[index].assign(value);
  // Whoever sets a name decides anew whether it is literal.
  if (literal)
    store.literalIndexes.insert(index);
  else
    store.literalIndexes.erase(index);
  // The side effect may append settings (and so move `values`): pass a copy.
  if (index < kSettingCount) RefreshMirror(engine, index, std::string(value));
}

// ---------------------------------------------------------------------------------------------
// Computed names

std::string LocalTime(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

/// Computes built-in `index` into its stored value when it is a computed name.
void ComputeBuiltin(Engine& engine, int index) {
  const BuiltinEntry& entry = kBuiltins[index];
  std::string& value = engine.settings.values[index];
  switch (entry.reading) {
    case Reading::kStored:
      return;
    // Paragraph, character, style, colour, format and document-information state is kept by the
    // translation layer; a name it does not compute reads as its default.
    case Reading::kLater: {
      // Computed into the buffer of an earlier value (a computation inside this one finds the
      // scratch empty and allocates its own), which then takes the replaced value's buffer.
      std::string computed = std::move(engine.settings.computeScratch);
      computed.clear();
      bool known =
          engine.hooks.computedValue && engine.hooks.computedValue(engine, index, computed);
      // Computing may add settings and so move the values: index again.
      std::string& stored = engine.settings.values[index];
      if (known)
        stored.swap(computed);
      else
        stored.assign(entry.defaultValue);
      engine.settings.computeScratch = std::move(computed);
      // Font and style names, document information and format lists come from the document (or
      // are finished output): they are never expanded again. (Marked at the first computation;
      // the mark stays until the name is set.)
      engine.settings.literalIndexes.insert(index);
      return;
    }
    case Reading::kTime:
      value = LocalTime("%X");
      return;
    case Reading::kDate:
      value = LocalTime("%m/%d/%Y");
      return;
    case Reading::kElapsedTime: {
      std::time_t start = engine.driver.startTime;
      long seconds = start == 0 ? 0 : static_cast<long>(std::time(nullptr) - start);
      value = std::to_string(seconds);
      return;
    }
    case Reading::kProgramPath:
      value = engine.settings.paths.programDirectory;
      return;
    case Reading::kOverrideDefs:
      value = std::to_string(engine.settings.mirrors.overrideDefs);
      return;
    case Reading::kSaveText:
      value = std::to_string(engine.settings.saveText);
      return;
    case Reading::kSaveTextStr:
      value = engine.settings.saveTextStr;
      engine.settings.literalIndexes.insert(index);  // saved document text
      return;
    case Reading::kToken:
      value.assign(engine.reader.lastControlWord);
      return;
    case Reading::kRtfParam:
      value = std::to_string(engine.reader.token.param);
      return;
    case Reading::kSubMatch: {
      std::string part;
      if (engine.hooks.subMatch && engine.hooks.subMatch(engine, index - kSettingSubMatch0, part)) {
        value = std::move(part);
        engine.settings.literalIndexes.insert(index);  // document text
      }
      return;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The store

void ResetSettings(Engine& engine) {
  SettingsStore& store = engine.settings;
  store.names.clear();
  store.values.clear();
  store.indexByKey.clear();
  store.protectedKeys.clear();
  store.protectedIndexes.clear();
  store.literalIndexes.clear();
  store.mirrors = SettingMirrors();  // the mirrors' initial values are the defaults below
  store.saveText = 0;
  store.saveTextStr.clear();
  store.paths.errorNameDerived = false;
  engine.messages.discardPrinted = false;  // DisableErrorFile is empty again
  store.names.reserve(kSettingCount + 256);
  store.values.reserve(kSettingCount + 256);
  for (const BuiltinEntry& entry : kBuiltins) {
    int index = FindOrAdd(store, entry.name);
    if (index != entry.index)
      FatalText(engine, "Logic Error: %s Init out of Order got %d expected %d\n", entry.name, index,
                entry.index);
    store.values[index] = entry.defaultValue;
  }
  RegisterDefaultMessages(engine);
  // What documents may do: link schemes kept, markup typed into the text written as text, and
  // safe mode off (an option or a host turns it on).
  if (engine.hooks.registerDefaults) engine.hooks.registerDefaults(engine);
  SetSetting(engine, "RawMarkup", "0");
  SetSetting(engine, "SafeMode", "0");
  SetSetting(engine, "TransCMD", "quillo");
  SetSetting(engine, "UserConfigDir", UserConfigDirectory());
}

std::string UserConfigDirectory() {
  // The XDG base-directory rule: XDG_CONFIG_HOME when it is an absolute path (a relative one is
  // to be ignored), else ~/.config.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/quillo";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/quillo";
  return {};
}

namespace {

/// The set operation with the OverrideDefs protection rule. Returns false (and stores nothing)
/// when the name is protected.
bool SetProtected(Engine& engine, std::string_view name, std::string_view value, int& index,
                  bool literal = false) {
  SettingsStore& store = engine.settings;
  index = FindOrAdd(store, name);
  // Nothing protected and nothing to protect: no folded key is needed.
  const bool protecting = store.mirrors.overrideDefs != 0 || !store.protectedKeys.empty();
  if (index != kSettingOverrideDefs && protecting) {
    std::vector<unsigned char>& marks = store.protectedIndexes;
    const auto at = static_cast<std::size_t>(index);
    if (at < marks.size() && marks[at] != 0) {
      if (store.mirrors.debug & 2) {
        std::string text(name);
        PrintEscaped(engine, "Ignoring Set of:name=%s\n", text.c_str());
      }
      return false;
    }
    if (store.mirrors.overrideDefs != 0) {
      store.protectedKeys.insert(FoldedKey(name));
      if (at >= marks.size()) marks.resize(at + 1, 0);
      marks[at] = 1;
    }
  }
  StoreValue(engine, index, value, literal);
  return true;
}

}  // namespace

int SetSetting(Engine& engine, std::string_view name, std::string_view value) {
  int index = -1;
  SetProtected(engine, name, value, index);
  return index;
}

int SetLiteralSetting(Engine& engine, std::string_view name, std::string_view value) {
  int index = -1;
  SetProtected(engine, name, value, index, true);
  return index;
}

bool IsLiteralSetting(const Engine& engine, int index) {
  return engine.settings.literalIndexes.count(index) != 0;
}

int SetUnprotected(Engine& engine, std::string_view name, std::string_view value) {
  int index = FindOrAdd(engine.settings, name);
  StoreValue(engine, index, value);
  return index;
}

void SetBuiltin(Engine& engine, int index, std::string_view value, bool literal) {
  if (index < 0 || index >= kSettingCount ||
      index >= static_cast<int>(engine.settings.values.size()))
    return;
  StoreValue(engine, index, value, literal);
}

namespace {

/// FormatV, with the plain "%d" that most callers use written without printf.
std::string FormatValue(const char* format, va_list ap) {
  if (format[0] == '%' && format[1] == 'd' && format[2] == '\0') {
    char digits[16];
    auto end = std::to_chars(digits, digits + sizeof digits, va_arg(ap, int)).ptr;
    return std::string(digits, end);
  }
  return FormatV(format, ap);
}

}  // namespace

int SetFormatted(Engine& engine, std::string_view name, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string value = FormatValue(format, ap);
  va_end(ap);
  return SetSetting(engine, name, value);
}

void SetIndexFormatted(Engine& engine, int index, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string value = FormatValue(format, ap);
  va_end(ap);
  SetBuiltin(engine, index, value);
}

int FindSetting(const Engine& engine, std::string_view name) {
  return FindIndex(engine.settings, name);
}

const std::string* GetSetting(Engine& engine, std::string_view name) {
  int index = FindSetting(engine, name);
  if (index < 0) return nullptr;
  return &GetSettingAt(engine, index);
}

const std::string& GetSettingAt(Engine& engine, int index) {
  SettingsWatch& watch = engine.settings.watch;
  if (index < kSettingCount) {
    ComputeBuiltin(engine, index);
    if (watch.active && IsComputedSetting(index)) watch.computedRead = true;
  }
  // Every read passes here: the volatile indexes (set only while a load is watched) are looked
  // at only then.
  if (watch.active && watch.IsVolatile(index)) watch.volatileRead = true;
  return engine.settings.values[index];
}

std::string SettingValue(Engine& engine, std::string_view name) {
  const std::string* value = GetSetting(engine, name);
  return value ? *value : std::string();
}

bool IsComputedSetting(int index) {
  return index >= 0 && index < kSettingCount && kBuiltins[index].reading != Reading::kStored;
}

// ---------------------------------------------------------------------------------------------
// Output names

std::string DefaultOutputBase(std::string_view inputName) {
  std::string base(inputName);
  if (base.size() > 4) {
    std::string_view tail = std::string_view(base).substr(base.size() - 4);
    if (tail == ".rtf" || tail == ".RTF") base.resize(base.size() - 4);
  }
  if (base.size() > 256) base.resize(256);
  return base;
}

void ApplyOutputName(Engine& engine) {
  if (Stored(engine, kSettingOutFileName).empty()) return;
  OutputNames& paths = engine.settings.paths;

  // A name from the command line or the file system is literal: never expanded (a file named
  // "doc$Delete(TrnFile).rtf" is a name, not a call).
  std::string outName = IsLiteralSetting(engine, kSettingOutFileName)
                            ? Stored(engine, kSettingOutFileName)
                            : Expand(engine, Stored(engine, kSettingOutFileName));
  // "-" sends the main page to standard output (not in a string conversion, whose outputs are
  // all kept in memory). The other files of the conversion keep the names they would have
  // without an output name: the input's name without ".rtf".
  paths.standardOutput = outName == kStandardStreamName && !engine.files.memoryOutputMode;
  std::string base = outName;
  std::size_t dot = ExtensionDot(outName);
  if (paths.standardOutput) {
    int input = FindSetting(engine, "InputFile");
    base = DefaultOutputBase(input >= 0 ? engine.settings.values[static_cast<std::size_t>(input)]
                                        : std::string());
  } else if (dot != std::string::npos) {
    StoreRaw(engine, kSettingHtmlExt, outName.substr(dot + 1));
    base = outName.substr(0, dot);
  }
  // File names of the era were limited to 255 characters; names derived from the base append
  // suffixes to it, so the base is kept within that limit.
  constexpr std::size_t kMaxBaseName = 255;
  if (base.size() > kMaxBaseName) base.resize(kMaxBaseName);
  paths.baseName = base;
  paths.baseFileName = std::string(BaseName(base));

  const std::string& errorName = Stored(engine, kSettingErrorFileName);
  if (!errorName.empty() && !paths.errorNameDerived) {
    engine.messages.errorFileName =
        IsLiteralSetting(engine, kSettingErrorFileName) ? errorName : Expand(engine, errorName);
  } else if (paths.standardOutput) {
    // A page on standard output has no folder of its own: messages go to standard error unless
    // ErrorFileName names a file (one derived from an earlier output name is forgotten).
    engine.messages.errorFileName.clear();
    if (paths.errorNameDerived) {
      StoreRaw(engine, kSettingErrorFileName, std::string());
      paths.errorNameDerived = false;
    }
  } else {
    engine.messages.errorFileName = base + "_err.htm";
    StoreRaw(engine, kSettingErrorFileName, engine.messages.errorFileName);
    engine.settings.literalIndexes.insert(kSettingErrorFileName);
    paths.errorNameDerived = true;
  }

  // The log opens with the first output name of a conversion (when CreateLogFile asks for one).
  if (engine.hooks.openLog) engine.hooks.openLog(engine);

  const std::string& disable = Stored(engine, kSettingDisableErrorFile);
  engine.messages.discardPrinted = disable == "true" || disable == "1";

  if (engine.settings.mirrors.shortNames != 0) {
    // 8.3 names: the digits of a split file's number follow the base in the same 8 characters.
    int keep = 8 - engine.settings.mirrors.shortFileDigits;
    std::size_t limit = keep < 0 ? 0 : static_cast<std::size_t>(keep);
    if (paths.baseFileName.size() > limit) {
      paths.baseName.resize(paths.baseName.size() - (paths.baseFileName.size() - limit));
      paths.baseFileName.resize(limit);
    }
    const std::string& ext = Stored(engine, kSettingHtmlExt);
    if (ext.size() > 3) StoreRaw(engine, kSettingHtmlExt, ext.substr(0, 3));
  }
}

}  // namespace quillo
