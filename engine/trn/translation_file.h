// Translation files (.trn): the line scanner shared by every reader of engine text files, the
// records that a load produces, and the loader with its preprocessor (#ifdef, #ifmatch, #include).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/buffers.h"
#include "expand/regex.h"

namespace quillo {
struct Engine;

// ---- FieldScanner -------------------------------------------------------------------------------

/// Settings of the line scanner. An empty string takes the default (the scanner's constructor
/// fills it in); `noEscapes` switches escape characters off, since an empty set means "default".
struct ScannerSettings {
  std::string separators = " \t";
  std::string quotes = "\"'";
  std::string escapes = "\\";
  std::string terminators = "\n\r";  ///< NUL always ends the line as well
  int flags = 0;  ///< 1: separators are not skipped, and a separator before the end of the line
                  ///< leaves one empty field pending (so "a," gives "a" and "")
  std::string escapeLetters = "nt\"'r";
  std::string escapeReplacements = "\n\t\"'\r";
  bool noEscapes = false;  ///< switches escape characters off entirely
};

/// Separators of translation files: a run of commas, blanks and tabs separates two fields.
inline constexpr char kTranslationSeparators[] = ",\n \t";

/// Hands out the fields of one line at a time (separators, quotes, escapes with letter
/// translation, terminators). A caller that needs other settings constructs its own scanner.
///
/// - Quotes: a quote character outside quotes opens a quoted part and the same character closes
///   it; neither is copied; the other quote character and separators inside are copied.
/// - Escapes: the escape character is dropped and the next character is copied (translated
///   through the escape letters); an escaped character never separates, quotes or escapes.
/// - A terminator or NUL ends the line, also inside quotes.
class FieldScanner {
 public:
  explicit FieldScanner(ScannerSettings settings = {});
  /// Starts on `line` (copied); forgets any pending empty field.
  void SetLine(std::string_view line);
  /// Next field into `field`; false when the line is exhausted (`field` is then empty).
  bool Next(std::string& field);
  /// The unscanned rest of the line.
  std::string_view Rest() const;
  const ScannerSettings& settings() const { return settings_; }

 private:
  enum CharClass : unsigned char { kSeparator = 1, kQuote = 2, kEscape = 4, kTerminator = 8 };
  ScannerSettings settings_;
  unsigned char classes_[256] = {};  ///< CharClass bits of every byte value
  std::string line_;
  std::size_t pos_ = 0;
  bool emptyPending_ = false;
};

// ---- Records ------------------------------------------------------------------------------------

/// Special tag codes: a resolved tag at or above 9992 selects a text state instead of a tag.
enum SpecialTag : int {
  kTagCapture = 9992,
  kTagLink = 9993,
  kTagFootNote = 9994,
  kTagHot = 9995,
  kTagHRef = 9996,
  kTagName = 9997,
  kTagDiscard = 9998,
  kTagLiteral = 9999,
};

/// Where a table entry was read: an index into TranslationTables::files and the line in that
/// file. Names checked at the end of the load are reported at their own line.
struct EntryPlace {
  int file = 0;
  int line = 0;
};

struct TMatchEntry {
  int colorIndex = -1;
  std::string fontName;
  int fontKey = -1;
  int fontSize = 0;
  std::string charStyleNames;
  int styleKey = -1;
  uint32_t attrValues = 0;
  uint32_t attrMask = 0;
  int resolvedTag = 0;
  std::string tagName;
  EntryPlace place;
};

struct PMatchEntry {
  std::string styleName;
  int styleKey = -1;
  int level = 0;
  int resolvedTag = 0;
  std::string tagName;
  EntryPlace place;
};

struct RMatchEntry {
  std::unique_ptr<expand::Regex> pattern;  ///< nullptr when the pattern did not compile
  std::string replacement;
};

struct TTagEntry {
  std::string name, start, end;
};

struct PTagEntry {
  std::string name;
  std::string texts[6];  ///< start, end, first-tab, tab, break, line-break
  int values[6] = {};
};

struct ColorEntry {
  std::string name;
  int red = 0, green = 0, blue = 0;
};

struct CharsetMap;  // loaded character-set map (character maps)

struct CharsetEntry {
  int charset = 0;
  std::string fontName;
  int fontKey = -1;
  std::string mapFile;
  std::shared_ptr<CharsetMap> map;  ///< none until the map is loaded
};

/// User-function statement op codes.
enum StatementOp : int {
  kOpLower = 1,
  kOpUpper = 2,
  kOpEncode = 3,
  kOpDecode = 4,
  kOpSub = 5,
  kOpGsub = 6,
  kOpSave = 8,
  kOpSet = 9,
  kOpIfelse = 10,
  kOpDBPrint = 11,
  kOpScript = 12,
  kOpAnchorFile = 13,
  kOpRPExp = 14,
  kOpVSet = 15,
  kOpRMatch = 16,
  kOpSwitch = 17,
  kOpCase = 18,
  kOpDefault = 19,
  kOpEnd = 20,
  kOpWhile = 21,
};

struct FunctionStatement {
  int op = 0;
  std::unique_ptr<expand::Regex> pattern;
  std::string text1, text2, text3;
  bool hasText1 = false, hasText2 = false, hasText3 = false;
  int jump = -1;  ///< block statements: index of the linked statement
};

struct UserFunction {
  std::string name;
  std::vector<FunctionStatement> statements;
};

/// Everything one translation-file load produces; read-only during the passes.
struct TranslationTables {
  std::vector<TMatchEntry> tmatch;
  std::vector<PMatchEntry> pmatch;
  std::vector<RMatchEntry> rmatch;
  std::vector<TTagEntry> ttag;
  std::vector<PTagEntry> ptag;
  std::vector<ColorEntry> colors;
  std::vector<CharsetEntry> charsets;
  std::vector<UserFunction> functions;
  /// Function name -> the last function of that name (the one a call runs), without ASCII case.
  std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual> functionIndex;
  int version = 0;
  std::string fileName;            ///< name of the loaded file
  std::vector<std::string> files;  ///< every file read (the loaded one and its includes), in order
};

/// Limits of the loader. Each guards against input-controlled growth: nested includes are
/// followed without recursion but each level keeps a file open, and a file including itself
/// would otherwise never end; open blocks of `.Functions` are linked through a fixed-size stack.
inline constexpr int kMaxIncludeDepth = 32;
inline constexpr int kMaxOpenBlocks = 255;

/// Code of a special tag name ("_Capture" ... "_Literal", any case), or -1 for any other name.
int SpecialTagCode(std::string_view name);

/// Releases the previous tables, then loads `name` through the library search. Returns 0 when the
/// file cannot be opened (the caller reports ERR_TRAN_FILE), 1 otherwise (also when the load was
/// stopped by a message). A fatal message throws ConversionAbandoned; every file the loader opened
/// is closed on the way out.
int LoadTranslationFile(Engine& engine, std::string_view name);

}  // namespace quillo
