// The line scanner shared by every reader of engine text files (translation files, character
// maps, batch files). Depends only on the standard library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillo {

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

}  // namespace quillo
