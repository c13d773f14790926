// Loading and lookup of the control-word table ("rtf-ctrl.txt").
#include "rtf/control_words.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo::rtf {
namespace {

constexpr const char* kTableFile = "rtf-ctrl.txt";
/// Lines of the table file are at most 1023 characters; a longer one is read in pieces.
constexpr std::size_t kLineSize = 1024;
/// The count line may announce any number; reserve no more than this up front so that a bogus
/// count cannot make us allocate gigabytes before a single entry has been read.
constexpr int kMaxReserve = 4096;

/// Splits one line of the table file into fields: blanks and tabs separate, a double or single
/// quote opens a quoted part (closed by the same quote; both are dropped; the other quote and
/// separators inside are kept), LF, CR or NUL end the line. No escape characters: the table file
/// holds backslashes literally.
class LineFields {
 public:
  explicit LineFields(std::string_view line) : line_(line) {}

  /// Next field into `field`; false when nothing at all is left on the line.
  bool Next(std::string& field) {
    field.clear();
    while (pos_ < line_.size() && IsSeparator(line_[pos_])) ++pos_;
    if (pos_ >= line_.size() || IsTerminator(line_[pos_])) return false;
    char quote = 0;
    while (pos_ < line_.size()) {
      char c = line_[pos_];
      if (IsTerminator(c)) break;
      ++pos_;
      if (quote) {
        if (c == quote) {
          quote = 0;
        } else {
          field.push_back(c);
        }
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (IsSeparator(c)) {
        break;
      } else {
        field.push_back(c);
      }
    }
    return true;
  }

 private:
  static bool IsSeparator(char c) { return c == ' ' || c == '\t'; }
  static bool IsTerminator(char c) { return c == '\n' || c == '\r' || c == '\0'; }
  std::string_view line_;
  std::size_t pos_ = 0;
};

/// The third field's own escapes: backslash-n gives LF, backslash-r gives CR, a backslash before
/// anything else gives that character (so "\\" is one backslash). A trailing lone backslash stays.
std::string ConvertWord(std::string_view field) {
  std::string word;
  word.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '\\' && i + 1 < field.size()) {
      char next = field[++i];
      c = next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    word.push_back(c);
  }
  return word;
}

/// Decimal conversion as atol does it, clamped to int instead of overflowing.
int DecimalField(const std::string& field) {
  errno = 0;
  long value = std::strtol(field.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

/// True when the reporter stopped the conversion (actions that end it set the stop flag).
bool Stopped(const Engine& engine) { return engine.driver.stop; }

}  // namespace

int WordHashSum(std::string_view word) {
  int sum = 0;
  for (char c : word) sum += static_cast<signed char>(c);
  return sum;
}

int LookupInit(Engine& engine) {
  if (engine.controlWords.loaded) return 0;
  return LookupInitFrom(engine, OpenLibraryFile(engine, kTableFile, "r"));
}

int LookupInitFrom(Engine& engine, FileEntry* file) {
  ControlWordTable& table = engine.controlWords;
  engine.reader.lastControlWord = {};  // it points into the table being replaced
  table = ControlWordTable();
  if (file == nullptr) {
    ReportMessage(engine, "ERR_NO_RTF_CTRL", {"LookupInit", kTableFile});
    if (Stopped(engine)) return 1;
    // Without the file we go on as with an empty one: no entries, which is malformed below.
  }

  std::string line;
  std::string field;
  int entryLines = 0;  // entry lines read after the count line
  bool haveCount = false;
  bool faulty = false;  // a line lacked a field, or there were more lines than announced
  while (file != nullptr && FileReadLine(file, line, kLineSize)) {
    if (!line.empty() && line[0] == '#') continue;  // comment; blank lines are data lines
    LineFields fields(line);
    if (!haveCount) {
      if (!fields.Next(field)) {
        faulty = true;
        break;
      }
      haveCount = true;
      table.loaded = true;
      table.declaredCount = DecimalField(field);
      if (table.declaredCount > 0) {
        table.entries.reserve(std::min(table.declaredCount, kMaxReserve));
        table.firstIndex.reserve(std::min(table.declaredCount, kMaxReserve));
      }
      continue;
    }
    std::string majorField, minorField;
    if (!fields.Next(majorField) || !fields.Next(minorField) || !fields.Next(field) ||
        entryLines + 1 > table.declaredCount) {
      faulty = true;
      break;
    }
    ++entryLines;
    CtrlWord entry;
    entry.major = DecimalField(majorField);
    entry.minor = DecimalField(minorField);
    entry.word = ConvertWord(field);
    entry.hash = WordHashSum(entry.word);
    // The first entry of a word in file order wins: emplace keeps an existing mapping.
    table.entries.push_back(std::move(entry));
    table.firstIndex.Insert(table.entries, table.entries.back().word,
                            static_cast<int>(table.entries.size()) - 1);
  }
  if (file != nullptr) FileClose(file);

  table.wellFormed = haveCount && !faulty && entryLines == table.declaredCount;
  if (!table.wellFormed) {
    ReportMessage(engine, "ERR_MALFORMED_FILE", {"LookupInit", kTableFile});
    if (Stopped(engine)) return 1;
  }
  return 0;
}

const CtrlWord* Lookup(const ControlWordTable& table, std::string_view text) {
  if (!text.empty() && text[0] == '\\') text.remove_prefix(1);
  return LookupLetters(table, text);
}

void WordIndex::reserve(std::size_t words) {
  std::size_t slots = 16;
  while (slots < 2 * words) slots *= 2;
  if (count_ == 0 && slots > slots_.size()) slots_.assign(slots, Slot());  // only before inserts
}

void WordIndex::Grow(std::size_t slots) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(slots, Slot());
  const std::size_t mask = slots - 1;
  for (const Slot& slot : old) {
    if (slot.index < 0) continue;
    std::size_t i = Hash(slot.head, slot.length) & mask;
    while (slots_[i].index >= 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void WordIndex::Insert(const std::vector<CtrlWord>& entries, std::string_view word, int index) {
  if (2 * (count_ + 1) > slots_.size()) Grow(slots_.empty() ? 16 : 2 * slots_.size());
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t head = Head(word, 0);
  const std::uint32_t length = static_cast<std::uint32_t>(word.size());
  std::size_t i = Hash(head, length) & mask;
  for (; slots_[i].index >= 0; i = (i + 1) & mask)
    if (entries[slots_[i].index].word == word) return;
  slots_[i] = Slot{head, length, index};
  ++count_;
}

}  // namespace quillo::rtf
