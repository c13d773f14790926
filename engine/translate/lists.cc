// Lists: the list table and the list override table read into the number format of every level,
// and the number format of a list paragraph's level.
#include "translate/lists.h"

#include <climits>
#include <string>

#include "engine.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// At most this many lists and list overrides are kept: a document cannot grow the maps
/// without end.
constexpr std::size_t kMaxLists = 4096;

/// A word of the control-word table by its numbers.
struct WordId {
  int major, minor;
};
/// The words of the list tables the reader acts on.
constexpr WordId kList{rtf::kMajorIgnored, 231}, kListLevel{rtf::kMajorIgnored, 232};
constexpr WordId kListOverride{rtf::kMajorIgnored, 233}, kOverrideLevel{rtf::kMajorIgnored, 220};
constexpr WordId kLevelFormat{rtf::kMajorIgnored, 200}, kLevelFormatN{rtf::kMajorIgnored, 201};
constexpr WordId kListId{rtf::kMajorIgnored, 214}, kListNumber{rtf::kMajorParAttr, 101};

bool Is(const rtf::RtfToken& token, WordId word) {
  return token.major == word.major && token.minor == word.minor;
}

}  // namespace

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
    if (token.tokClass != rtf::kClassControl) continue;
    const int param = token.param == rtf::kNoParam ? 0 : token.param;
    if (Is(token, overrides ? kListOverride : kList)) {
      itemDepth = depth;
      level = -1;
      id = ls = kNone;
      formats.assign(9, '\0');
      override = TranslateState::ListOverride();
    } else if (itemDepth == 0) {
      continue;
    } else if (Is(token, overrides ? kOverrideLevel : kListLevel)) {
      ++level;
    } else if ((Is(token, kLevelFormat) || Is(token, kLevelFormatN)) && level >= 0 && level < 9) {
      const int nfc = param < 0 || param > 255 ? 0 : param;
      if (overrides)
        override.formats[level] = static_cast<short>(nfc);
      else
        formats[level] = static_cast<char>(nfc);
    } else if (Is(token, kListId) && depth == itemDepth) {
      id = param;
    } else if (Is(token, kListNumber) && overrides) {
      ls = param;
    }
  }
  PopGroupState(engine);
}

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
