// Lists: the list table and the list override table read into the number format of every level,
// and the number format of a list paragraph's level.
#include "translate/lists.h"

#include <climits>
#include <string>

#include "engine.h"
#include "rtf/reader.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// At most this many lists and list overrides are kept: a document cannot grow the maps
/// without end.
constexpr std::size_t kMaxLists = 4096;

/// The letters of a control word's text ("\\levelnfc4" -> "levelnfc").
std::string_view WordName(const std::string& text) {
  std::size_t end = 1;
  while (end < text.size() &&
         ((text[end] >= 'a' && text[end] <= 'z') || (text[end] >= 'A' && text[end] <= 'Z')))
    ++end;
  return text.size() > 1 && text[0] == '\\' ? std::string_view(text).substr(1, end - 1)
                                            : std::string_view();
}

/// Reads the list table (`overrides` false: the number format of each level of each list) or
/// the list override table (`overrides` true: the list each \ls number stands for, and the
/// formats of the levels it overrides, \lfolevel), from the token after the destination word to
}  // namespace

/// passed over.
void ReadListTable(Engine& engine, bool overrides) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  constexpr int kNone = INT_MIN;
  long depth = 1, itemDepth = 0;
  int level = -1, id = kNone, ls = kNone;
  std::string formats(9, '\0');
  TranslateState::ListOverride override;
  auto finish = [&]() {
    if (overrides && ls > 0 && id != kNone && t.listOverrides.size() < kMaxLists) {
      override.list = id;
      t.listOverrides[ls] = override;
    }
    if (!overrides && id != kNone && t.listFormats.size() < kMaxLists) t.listFormats[id] = formats;
    itemDepth = 0;
  };
  while (rtf::GetToken(engine) != rtf::kClassEOF) {
    if (token.tokClass == rtf::kClassGroup) {
      if (token.major == 0) {
        ++depth;
      } else {
        if (itemDepth > 0 && depth == itemDepth) finish();
        if (--depth < 1) break;
      }
      continue;
    }
    if (token.tokClass != rtf::kClassControl && token.tokClass != rtf::kClassUnknown) continue;
    const std::string_view name = WordName(token.text);
    const int param = token.param == rtf::kNoParam ? 0 : token.param;
    if (name == (overrides ? "listoverride" : "list")) {
      itemDepth = depth;
      level = -1;
      id = ls = kNone;
      formats.assign(9, '\0');
      override = TranslateState::ListOverride();
    } else if (itemDepth == 0) {
      continue;
    } else if (name == (overrides ? "lfolevel" : "listlevel")) {
      ++level;
    } else if ((name == "levelnfc" || name == "levelnfcn") && level >= 0 && level < 9) {
      const int nfc = param < 0 || param > 255 ? 0 : param;
      if (overrides)
        override.formats[level] = static_cast<short>(nfc);
      else
        formats[level] = static_cast<char>(nfc);
    } else if (name == "listid" && depth == itemDepth) {
      id = param;
    } else if (name == "ls" && overrides) {
      ls = param;
    }
  }
  PopGroupState(engine);
}

/// The number format of a list paragraph's level, as ListFormat tells the translation file:
/// "decimal", "upper-roman", "lower-roman", "upper-alpha", "lower-alpha" or "bullet"; "" for a
/// paragraph without a list override (its number text is all there is), and nullptr for one
/// whose override the document does not define (no list: Word shows no number there).
const char* ListFormatOf(const TranslateState& t) {
  const ParFormat& par = t.cur.par;
  if (par.list == 0) return "";
  const auto override = t.listOverrides.find(par.list);
  if (override == t.listOverrides.end()) return nullptr;
  const auto list = t.listFormats.find(override->second.list);
  if (list == t.listFormats.end()) return nullptr;
  const int level = par.listLevel;
  const int own = override->second.formats[level];
  switch (own >= 0 ? own
                   : static_cast<unsigned char>(list->second[static_cast<std::size_t>(level)])) {
    case 1:
      return "upper-roman";
    case 2:
      return "lower-roman";
    case 3:
      return "upper-alpha";
    case 4:
      return "lower-alpha";
    case 23:
    case 255:
      return "bullet";
    default:
      return "decimal";
  }
}

}  // namespace quillo::translate
