// The line scanner shared by every reader of engine text files (translation files, character
// maps, batch files): fields separated, quoted and escaped by configurable characters.
#include "base/field_scanner.h"

#include <utility>

namespace quillo {

namespace {
constexpr std::size_t kNotFound = std::string::npos;
}  // namespace

FieldScanner::FieldScanner(ScannerSettings settings) : settings_(std::move(settings)) {
  const ScannerSettings defaults;
  if (settings_.separators.empty()) settings_.separators = defaults.separators;
  if (settings_.quotes.empty()) settings_.quotes = defaults.quotes;
  if (settings_.escapes.empty()) settings_.escapes = defaults.escapes;
  if (settings_.terminators.empty()) settings_.terminators = defaults.terminators;
  if (settings_.escapeLetters.empty()) settings_.escapeLetters = defaults.escapeLetters;
  if (settings_.escapeReplacements.empty())
    settings_.escapeReplacements = defaults.escapeReplacements;

  auto mark = [this](const std::string& chars, CharClass bit) {
    for (char c : chars) classes_[static_cast<unsigned char>(c)] |= bit;
  };
  mark(settings_.separators, kSeparator);
  mark(settings_.quotes, kQuote);
  if (!settings_.noEscapes) mark(settings_.escapes, kEscape);
  mark(settings_.terminators, kTerminator);
  // NUL ends the line whatever the settings say.
  classes_[0] = kTerminator;
}

void FieldScanner::SetLine(std::string_view line) {
  line_.assign(line);
  pos_ = 0;
  emptyPending_ = false;
}

bool FieldScanner::Next(std::string& field) {
  field.clear();
  if (emptyPending_) {
    emptyPending_ = false;
    return true;
  }
  const std::size_t size = line_.size();
  auto classOf = [this](std::size_t at) { return classes_[static_cast<unsigned char>(line_[at])]; };
  // The end of the string acts as a terminator; a terminator is never consumed, so every later
  // call stops at it too.
  auto atEnd = [&](std::size_t at) { return at >= size || (classOf(at) & kTerminator); };

  const bool keepEmpty = (settings_.flags & 1) != 0;
  if (!keepEmpty) {
    while (!atEnd(pos_) && (classOf(pos_) & kSeparator)) ++pos_;
  }
  const std::size_t start = pos_;
  char openQuote = 0;
  while (!atEnd(pos_)) {
    const char c = line_[pos_];
    const unsigned char cls = classOf(pos_);
    if (cls & kEscape) {
      ++pos_;
      if (atEnd(pos_)) break;  // an escape before the end of the line escapes nothing
      const char escaped = line_[pos_++];
      const std::size_t letter = settings_.escapeLetters.find(escaped);
      field.push_back(letter != kNotFound && letter < settings_.escapeReplacements.size()
                          ? settings_.escapeReplacements[letter]
                          : escaped);
      continue;
    }
    if (openQuote) {
      ++pos_;
      if (c == openQuote) {
        openQuote = 0;
      } else {
        field.push_back(c);
      }
      continue;
    }
    if (cls & kQuote) {
      openQuote = c;
      ++pos_;
      continue;
    }
    if (cls & kSeparator) {
      ++pos_;
      if (keepEmpty && atEnd(pos_)) emptyPending_ = true;
      break;
    }
    field.push_back(c);
    ++pos_;
  }
  return pos_ != start;
}

std::string_view FieldScanner::Rest() const {
  return std::string_view(line_).substr(pos_ < line_.size() ? pos_ : line_.size());
}

}  // namespace quillo
