// Expanded text-tag texts kept per character format and look (TranslateState::tagTexts).
#include "translate/tag_texts.h"

#include <cstddef>
#include <memory>
#include <string>

#include "engine.h"
#include "expand/expand.h"
#include "expand/functions.h"
#include "expand/memo.h"
#include "translate/tags.h"

namespace quillo::translate {

namespace {

/// Most expanded text-tag texts kept (TranslateState::tagTexts); past it they are forgotten and
/// kept again from there. Only texts up to kMaxTagTextBytes are kept (a tag's markup is short; a
/// long one, say with a font name from the document in it, is not worth keeping), so the texts
/// hold at most about 1 MiB whatever the document.
constexpr std::size_t kMaxTagTexts = 4096;
constexpr std::size_t kMaxTagTextBytes = 256;

/// The number `registry` gave `key` when `key` is the key it was asked for last (then asking
/// again gives that number without registering anything), -1 otherwise.
int LastNumberOf(const FormatRegistry& registry, const FormatRegistry::Key& key) {
  return registry.lastNumber >= 0 && registry.lastKey == key ? registry.lastNumber : -1;
}

/// True when a kept expansion read nothing but the numbers and rule of the character format and
/// look (so that it gives the same text whenever they are the same) and set nothing.
bool OnlyReadsFormat(const MemoEntry& entry) {
  for (const MemoEvent& event : entry.events)
    if (event.write || (event.index != kSettingCharFmtIdx && event.index != kSettingCharLookIdx &&
                        event.index != kSettingCharLookRule))
      return false;
  return true;
}

}  // namespace

/// Expand(engine, text) for the start (`end` false) or end text of text tag `tag`. A text tag is
/// expanded at every change of the character format, and the colour element of a page depends on
/// the format's look alone: an expansion that read nothing but the current format's and look's
/// numbers and rule is kept by those numbers and given again while they are the same, without
/// checking it against the store. Kept only while the memo of results is in use, outside
/// recorded calls and computed-setting watches (whose bookkeeping a reuse must repeat).
std::string TagText(Engine& engine, int tag, bool end) {
  const TTagEntry& entry = engine.translation.ttag[static_cast<std::size_t>(tag)];
  const std::string& text = end ? entry.end : entry.start;
  if (ExpandsToItself(engine, text)) return text;
  ExpansionState& x = engine.expansion;
  TranslateState& t = engine.translate;
  auto usable = [&] {
    return x.memo.recordings.empty() && !engine.settings.watch.active && memo::Usable(engine);
  };
  const int format = LastNumberOf(t.charFormats, CharFmtKey(engine));
  const int look = LastNumberOf(t.charLooks, LookKey(t));
  if (format < 0 || look < 0 || !usable()) return ExpandReusing(engine, text);
  FormatRegistry::Key key;
  key.a = format;
  key.b = look;
  key.c = static_cast<int64_t>(tag) * 2 + (end ? 1 : 0);
  auto found = t.tagTexts.find(key);
  if (found != t.tagTexts.end() &&
      x.depth + found->second.depthSpan + 1 < ExpansionState::kMaxDepth) {
    x.literalUses += found->second.literalUses;
    return found->second.text;
  }
  const unsigned long usesBefore = x.literalUses;
  std::shared_ptr<const MemoEntry> used;
  std::string result = ExpandReusing(engine, text, &used);
  if (used && result.size() <= kMaxTagTextBytes && OnlyReadsFormat(*used) && usable() &&
      LastNumberOf(t.charFormats, CharFmtKey(engine)) == format &&
      LastNumberOf(t.charLooks, LookKey(t)) == look) {
    if (t.tagTexts.size() >= kMaxTagTexts) t.tagTexts.clear();
    t.tagTexts[key] = {result, x.literalUses - usesBefore, used->depthSpan};
  }
  return result;
}
}  // namespace quillo::translate
