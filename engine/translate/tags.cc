// Formatting tags: the tag stacks, the choice of paragraph and text tags, the format registries,
// the special characters of the body and the release of held-back paragraph-number text.
#include "translate/tags.h"

#include <cstdlib>
#include <string>

#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/functions.h"
#include "output/line_writer.h"
#include "rtf/tables.h"
#include "translate/fields.h"
#include "translate/footnotes.h"
#include "translate/lists.h"
#include "translate/paragraph_marks.h"
#include "translate/table_model.h"
#include "translate/tag_texts.h"
#include "translate/text.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Index of a .PTag start, end, first-tab, tab, break and line-break string.
enum PTagText : int { kStart = 0, kEnd = 1, kFirstTab = 2, kTab = 3, kBreak = 4, kLineBreak = 5 };
/// Index of a .PTag integer.
enum PTagValue : int {
  kTextTags = 0,
  kNesting = 1,
  kTabMode = 2,
  kWrap = 3,
  kHeadingLevel = 4,
  kBreakAtMark = 5,
};

ChannelState& StateOf(Engine& engine, const OutputContext& context) {
  TranslateState& t = engine.translate;
  if (&context == &engine.driver.main) return t.channels[kMainChannel];
  if (&context == &engine.driver.footnotes) return t.channels[kFootnoteChannel];
  return t.otherChannel;
}

const PTagEntry* PTagOf(const Engine& engine, int tag) {
  const auto& ptags = engine.translation.ptag;
  return tag >= 0 && tag < static_cast<int>(ptags.size()) ? &ptags[tag] : nullptr;
}

/// Position of the topmost entry of `kind`, -1 when there is none.
int TopmostOf(const OutputContext& context, int kind) {
  for (int i = static_cast<int>(context.tagStack.size()) - 1; i >= 0; --i)
    if (context.tagStack[i].kind == kind) return i;
  return -1;
}

/// StrExp(engine, text); tag texts are expanded over and over with the same result while the
/// format stays, so an earlier expansion is reused when nothing it read has changed.
std::string Expand(Engine& engine, std::string_view text) {
  if (ExpandsToItself(engine, text)) return std::string(text);
  return ExpandReusing(engine, text);
}

void PushExpanded(Engine& engine, OutputContext& context, TagKind kind, TagEnd mode, int value,
                  std::string startText, std::string endText);
void PushTextTag(Engine& engine, OutputContext& context, int k, int tag);

/// ExpandInto(engine, context, text).
void ExpandTo(Engine& engine, OutputContext& context, std::string_view text) {
  if (!ExpandsToItself(engine, text)) {
    ExpandInto(engine, context, text);
  } else if (!text.empty()) {
    PutWrap(engine, text, context, 0);
  }
}

/// Expands a translation-file string into the context, after pending output.
void WriteString(Engine& engine, OutputContext& context, std::string_view text) {
  if (text.empty() || !context.file) return;
  ReleaseHeldText(engine);
  ExpandTo(engine, context, text);
}

/// Writes the break string of the current paragraph tag when a paragraph break is pending, after
/// closing the tags opened inside the paragraph tag.
void ResolveBreak(Engine& engine, OutputContext& context) {
  ChannelState& channel = StateOf(engine, context);
  if (!channel.pendingBreak) return;
  channel.pendingBreak = false;
  TranslateState& t = engine.translate;
  ++t.releaseSuspended;
  PopTags(engine, kTagParagraph, context, kPopAbove);
  if (const PTagEntry* ptag = PTagOf(engine, context.paragraphTag))
    WriteString(engine, context, ptag->texts[kBreak]);
  --t.releaseSuspended;
}

/// True when .TMatch entry `entry` fits the current character format.
bool Matches(const Engine& engine, const TMatchEntry& entry) {
  const CharFormat& chr = engine.translate.cur.chr;
  return (chr.attributes & entry.attrMask) == entry.attrValues &&
         (entry.fontKey == -1 || entry.fontKey == chr.font) &&
         (entry.styleKey == -1 || entry.styleKey == chr.charStyle) &&
         (entry.colorIndex == -1 || entry.colorIndex == chr.color) &&
         (entry.fontSize == 0 || entry.fontSize == ShownSize(engine.translate));
}

/// The special text state the current paragraph entry and character format select, 0 for none.
int SpecialStateFor(Engine& engine, const OutputContext* context, int index) {
  const bool footnote = context == &engine.driver.footnotes;
  auto allowed = [&](int tag) { return tag >= kTagCapture && !(footnote && tag == kTagHRef); };
  // _Literal writes the document's text as markup: only when RawMarkup asks for it. Otherwise
  // the entry does not apply and the text is written as text, in its paragraph. (Asked only of
  // an entry that applies: most format changes never need the setting.)
  auto enabled = [&](int tag) {
    return tag != kTagLiteral || SettingValue(engine, "RawMarkup") == "1";
  };
  const auto& pmatch = engine.translation.pmatch;
  if (index >= 0 && index < static_cast<int>(pmatch.size()) && allowed(pmatch[index].resolvedTag) &&
      enabled(pmatch[index].resolvedTag))
    return pmatch[index].resolvedTag;
  const auto& tmatch = engine.translation.tmatch;
  TranslateState& t = engine.translate;
  if (!t.specialTMatchListed) {
    t.specialTMatch.clear();
    for (int k = 0; k < static_cast<int>(tmatch.size()); ++k)
      if (tmatch[k].resolvedTag >= kTagCapture) t.specialTMatch.push_back(k);
    t.specialTMatchListed = true;
  }
  for (const int k : t.specialTMatch) {
    const TMatchEntry& entry = tmatch[k];
    if (allowed(entry.resolvedTag) && Matches(engine, entry) && enabled(entry.resolvedTag))
      return entry.resolvedTag;
  }
  return 0;
}

/// Entering action of a special state that text is about to enter.
void EnterState(Engine& engine, OutputContext& context, int state, int previous) {
  ChannelState& channel = StateOf(engine, context);
  switch (state) {
    case kTagCapture:
      channel.captureFormat = engine.translate.cur.chr;
      context.wrap = 0;
      break;
    case kTagName:
    case kTagLiteral:
      context.wrap = 0;
      break;
    case kTagHot:
      if (previous != kTagHRef) ReportMessage(engine, "MSG_NO_HOT_TEXT");
      break;
    case kTagFootNote:
      EnterFootnoteState(engine, context);
      break;
    default:
      break;
  }
}

/// Removes the top entry of the stack, writing its end when `write` is set.
TagEntry PopOne(Engine& engine, OutputContext& context, bool write) {
  TagEntry entry = std::move(context.tagStack.back());
  context.tagStack.pop_back();
  StateOf(engine, context).textReady = false;
  if (write && context.file && !entry.endText.empty()) {
    ReleaseHeldText(engine);
    if (entry.mode == kEndExpandedNow)
      PutWrap(engine, entry.endText, context, 0);
    else
      ExpandTo(engine, context, entry.endText);
  }
  return entry;
}

/// Closes the text tags that no longer fit and opens those that now do (state 0, text follows).
void TextTags(Engine& engine, OutputContext& context) {
  const auto& tmatch = engine.translation.tmatch;
  const auto& ttag = engine.translation.ttag;
  ChannelState& channel = StateOf(engine, context);
  const int format = CharFmtIdx(engine);
  const int paragraph = TopmostOf(context, kTagParagraph);
  // Close, from the bottom up, the first text tag that no longer fits and everything above it.
  for (int i = paragraph + 1; i < static_cast<int>(context.tagStack.size()); ++i) {
    const TagEntry& entry = context.tagStack[i];
    if (entry.kind != kTagText) continue;
    bool stays = entry.value >= 0 && entry.value < static_cast<int>(tmatch.size()) &&
                 Matches(engine, tmatch[entry.value]);
    if (stays) {
      const TagExtra* extra =
          i < static_cast<int>(channel.extras.size()) ? &channel.extras[i] : nullptr;
      if (!extra || extra->formatIndex != format) {
        int tag = tmatch[entry.value].resolvedTag;
        stays = extra && tag >= 0 && tag < static_cast<int>(ttag.size()) &&
                TagText(engine, tag, false) == extra->startText;
      }
    }
    if (!stays) {
      while (static_cast<int>(context.tagStack.size()) > i) PopOne(engine, context, true);
      break;
    }
  }
  const PTagEntry* ptag = PTagOf(engine, context.paragraphTag);
  if (!ptag || ptag->values[kTextTags] == 0) return;
  for (int k = 0; k < static_cast<int>(tmatch.size()); ++k) {
    const TMatchEntry& entry = tmatch[k];
    const int tag = entry.resolvedTag;
    if (tag >= kTagCapture || !Matches(engine, entry)) continue;
    bool open = false;
    for (int i = TopmostOf(context, kTagParagraph) + 1;
         i < static_cast<int>(context.tagStack.size()) && !open; ++i) {
      const TagEntry& e = context.tagStack[i];
      open = e.kind == kTagText && e.value >= 0 && e.value < static_cast<int>(tmatch.size()) &&
             tmatch[e.value].resolvedTag == tag;
    }
    if (open) continue;
    if (tag < 0 || tag >= static_cast<int>(ttag.size())) {
      ReportMessage(engine, "MSG_FATAL_ERROR");
      ReportMessage(engine, "ERR_INTERNAL_TRAP", {entry.tagName});
      continue;
    }
    PushTextTag(engine, context, k, tag);
    if (!channel.extras.empty()) channel.extras.back().formatIndex = format;
  }
}

/// Register for a format other than the one registered last.
int RegisterOther(Engine& engine, FormatRegistry& registry, const FormatRegistry::Key& key,
                  const char* entryName) {
  auto found = registry.index.find(key);
  if (found != registry.index.end()) {
    registry.lastKey = key;
    registry.lastNumber = found->second;
    return registry.current = found->second;
  }
  const int number = registry.count++;
  registry.index.emplace(key, number);
  registry.lastKey = key;
  registry.lastNumber = number;
  registry.current = number;
  // Undefined entry strings are left alone rather than defined through NotDef.
  std::string entry;
  if (GetSetting(engine, entryName)) entry = StrExp(engine, std::string("$") + entryName + ";");
  // The expansion may have registered further formats of this registry (their entries come
  // first in the list then): the entry is placed by its number.
  if (registry.entries.size() <= static_cast<std::size_t>(number))
    registry.entries.resize(number + 1, {0, 0});
  registry.entries[number] = {registry.list.size(), entry.size()};
  registry.list += entry;
  return number;
}

/// Registers `key` in `registry`; a new format expands `entryName` into the registry's list. The
/// format registered last (the format seldom changes between two looks) is answered inline.
inline int Register(Engine& engine, FormatRegistry& registry, const FormatRegistry::Key& key,
                    const char* entryName) {
  if (registry.lastNumber >= 0 && key == registry.lastKey)
    return registry.current = registry.lastNumber;
  return RegisterOther(engine, registry, key, entryName);
}

}  // namespace

// ---- Tag stack
// ------------------------------------------------------------------------------------

void PushTag(Engine& engine, OutputContext& context, TagKind kind, TagEnd mode, int value,
             std::string_view start, std::string_view end) {
  ReleaseHeldText(engine);
  std::string startText = Expand(engine, start);
  if (context.file && !startText.empty()) PutWrap(engine, startText, context, 0);
  PushExpanded(engine, context, kind, mode, value, std::move(startText),
               mode == kEndExpandedNow ? Expand(engine, end) : std::string(end));
}

namespace {

/// The rest of PushTag once the start text is expanded and written: the entry goes on the stack
/// with `endText` (expanded or not, as `mode` says).
void PushExpanded(Engine& engine, OutputContext& context, TagKind kind, TagEnd mode, int value,
                  std::string startText, std::string endText) {
  TagEntry entry;
  entry.kind = kind;
  entry.mode = mode;
  entry.value = value;
  entry.endText = std::move(endText);
  context.tagStack.push_back(std::move(entry));
  ChannelState& channel = StateOf(engine, context);
  channel.extras.resize(context.tagStack.size());
  channel.extras.back().formatIndex = -1;
  if (kind == kTagText)
    channel.extras.back().startText = std::move(startText);
  else
    channel.extras.back().startText.clear();
  channel.textReady = false;
}

/// PushTag of text tag `tag` for .TMatch entry `k`, its texts expanded through TagText.
void PushTextTag(Engine& engine, OutputContext& context, int k, int tag) {
  ReleaseHeldText(engine);
  std::string startText = TagText(engine, tag, false);
  if (context.file && !startText.empty()) PutWrap(engine, startText, context, 0);
  PushExpanded(engine, context, kTagText, kEndExpandedNow, k, std::move(startText),
               TagText(engine, tag, true));
}

}  // namespace

std::optional<TagEntry> PopTags(Engine& engine, TagKind kind, OutputContext& context,
                                PopMode mode) {
  const int found = TopmostOf(context, kind);
  if (found < 0) {
    if (mode == kPopEntry || mode == kPopAbove)
      ReportMessage(engine, "MSG_TAG_NOT_FOUND", {static_cast<int>(kind)});
    return std::nullopt;
  }
  TagEntry result = context.tagStack[found];
  int keep = found + 1;  // entries below this position stay
  if (mode == kPopEntry) keep = found;
  if (mode == kPopRunIfOpen) {
    keep = found;
    while (keep > 0 && context.tagStack[keep - 1].kind == kind) --keep;
  }
  while (static_cast<int>(context.tagStack.size()) > keep) PopOne(engine, context, true);
  return result;
}

void PopAllTags(Engine& engine, OutputContext& context) {
  while (!context.tagStack.empty()) PopOne(engine, context, true);
}

OutputContext* CurrentOutput(Engine& engine) {
  if (engine.driver.pass != 2 || !engine.driver.outputOpen) return nullptr;
  return engine.translate.cur.channel == kFootnoteChannel ? &engine.driver.footnotes
                                                          : &engine.driver.main;
}

// ---- Format registries
// --------------------------------------------------------------------------------

int ParFmtIdx(Engine& engine) {
  const ParFormat& par = ShownParagraph(engine.translate);
  FormatRegistry::Key key;
  key.a = par.style;
  key.b = (static_cast<int64_t>(par.align) << 32) | static_cast<uint32_t>(par.firstIndent);
  key.c = (static_cast<int64_t>(par.leftIndent) << 32) | static_cast<uint32_t>(par.rightIndent);
  key.d = (par.inTable ? 1 : 0) | (par.sideBySide ? 2 : 0) |
          (static_cast<int64_t>(par.background + 1) << 8);
  return Register(engine, engine.translate.parFormats, key, "ParFmtEntry");
}

FormatRegistry::Key CharFmtKey(const Engine& engine) {
  const CharFormat& chr = engine.translate.cur.chr;
  const rtf::FontEntry* font = rtf::FindFont(engine, chr.font);
  FormatRegistry::Key key;
  key.a = (static_cast<int64_t>(chr.attributes) << 32) | static_cast<uint32_t>(chr.font);
  key.b = (static_cast<int64_t>(chr.color) << 32) | static_cast<uint32_t>(font ? font->charset : 0);
  key.c = (static_cast<int64_t>(ShownSize(engine.translate)) << 32) |
          static_cast<uint32_t>(chr.charStyle);
  key.d = (static_cast<int64_t>(engine.translate.heldFont + 1) << 32) |
          static_cast<uint32_t>(chr.background);
  return key;
}

FormatRegistry::Key LookKey(const TranslateState& t) {
  FormatRegistry::Key key;
  key.a = ShownFont(t);
  key.b = ShownSize(t);
  key.c = t.cur.chr.color;
  key.d = t.cur.chr.background;
  return key;
}

int CharFmtIdx(Engine& engine) {
  return Register(engine, engine.translate.charFormats, CharFmtKey(engine), "CharFmtEntry");
}

int CharLookIdx(Engine& engine) {
  return Register(engine, engine.translate.charLooks, LookKey(engine.translate), "CharLookEntry");
}

std::string_view CharLookRule(Engine& engine) {
  const int number = CharLookIdx(engine);
  const FormatRegistry& looks = engine.translate.charLooks;
  if (number < 0 || number >= static_cast<int>(looks.entries.size())) return {};
  const auto [offset, length] = looks.entries[number];
  return std::string_view(looks.list).substr(offset, length);
}

bool CharLookKnown(const Engine& engine) {
  return engine.translate.charLooks.index.contains(LookKey(engine.translate));
}

// ---- Paragraph entry and FormatChange
// --------------------------------------------------------------------

int ChooseParagraphEntry(Engine& engine) {
  TranslateState& t = engine.translate;
  const auto& pmatch = engine.translation.pmatch;
  if (pmatch.empty()) return -1;
  // Registered for every paragraph, list items (whose entry is forced) included, so that pass 1
  // has the rule of every format pass 2 writes.
  ParFmtIdx(engine);
  if (t.forcedPMatch >= 0 && t.forcedPMatch < static_cast<int>(pmatch.size()) &&
      t.forcedChannel == t.cur.channel)
    return t.forcedPMatch;
  for (int i = 0; i < static_cast<int>(pmatch.size()); ++i) {
    if (pmatch[i].styleKey == -1 || pmatch[i].styleKey != t.cur.par.style) continue;
    // A note holds no headings: a note paragraph in a heading style is an ordinary one.
    const PTagEntry* ptag = PTagOf(engine, pmatch[i].resolvedTag);
    if (t.cur.channel == kFootnoteChannel && ptag && ptag->values[kHeadingLevel] > 0) return 0;
    return i;
  }
  return 0;
}

namespace {

/// FormatChange in pass 1, which writes nothing: of the special states only _Capture and _Name
/// act. Captured text is collected and its expansion run (so user functions see the same calls
/// in both passes), and an anchor name is recorded, so that links to it find its file.
void Pass1SpecialState(Engine& engine, int state) {
  TranslateState& t = engine.translate;
  ChannelState& channel = CurrentChannel(engine);
  if (state == channel.pass1State) return;
  if (channel.pass1State == kTagCapture || channel.pass1State == kTagName) {
    OutputContext scratch;
    scratch.specialState = channel.pass1State;
    ChangeSpecialState(engine, scratch, state);
  }
  if (state == kTagCapture) channel.captureFormat = t.cur.chr;
  channel.pass1State = state;
}

/// FormatChange, first step: the output leaves its special state for `state`, the one the
/// format selects (`previous` is the one it was in). Returns false when that settles the output:
/// literal text, a paragraph that is in a special state as a whole, or no .PMatch entry
/// (`index` -1); then no paragraph tag is chosen.
bool SpecialStateStep(Engine& engine, OutputContext& ctx, int state, int previous, int index,
                      bool textFollows) {
  ChannelState& channel = StateOf(engine, ctx);
  if (state == kTagLiteral) {
    if (previous != kTagLiteral) {
      ChangeSpecialState(engine, ctx, kTagLiteral);
      PopTags(engine, kTagParagraph, ctx, kPopAboveIfOpen);
      ResolveBreak(engine, ctx);
      ctx.paragraphTag = 0;
      ctx.wrap = 0;
    }
    channel.textReady = textFollows;
    return false;
  }
  // Seam: footnote output turns the state into _FootNote here when the format equals the
  // remembered footnote-reference format.
  if (state != previous) ChangeSpecialState(engine, ctx, state);
  channel.textReady = textFollows;
  if (index < 0) return false;
  if (engine.translation.pmatch[index].resolvedTag >= kTagCapture) {
    // The whole paragraph is in a special state: no paragraph tag.
    if (state != previous && textFollows) EnterState(engine, ctx, state, previous);
    channel.textReady = textFollows;
    return false;
  }
  return true;
}

/// Opens the paragraph tag of .PMatch entry `index` (tag `tag`) after closing the paragraph
/// tags above the entry's level; `open` is the number of paragraph tags open. A paragraph of an
/// enclosing entry whose tag is open already writes the break string instead.
void OpenParagraphTag(Engine& engine, OutputContext& ctx, int index, int tag, int open) {
  const auto& pmatch = engine.translation.pmatch;
  const PTagEntry* ptag = PTagOf(engine, tag);
  ChannelState& channel = StateOf(engine, ctx);
  PopTags(engine, kTagParagraph, ctx, kPopAboveIfOpen);
  const int level = pmatch[index].level;
  if (open < level)
    ReportMessage(engine, "MSG_STYLE_NEST_ERROR", {SettingValue(engine, "ParStyle"), open - 1});
  while (open > level) {
    const TagEntry& entry = ctx.tagStack.back();
    if (entry.kind == kTagParagraph && entry.value == index) {
      // A paragraph of an enclosing entry: its tag is open already; the break string separates
      // this paragraph from the nested ones before it.
      ctx.paragraphTag = tag;
      ctx.wrap = ptag->values[kWrap];
      if (channel.pendingBreak)
        ResolveBreak(engine, ctx);
      else
        WriteString(engine, ctx, ptag->texts[kBreak]);
      return;
    }
    PopTags(engine, kTagParagraph, ctx, kPopEntry);
    --open;
  }
  if (open > 0) {
    const TagEntry& enclosing = ctx.tagStack[TopmostOf(ctx, kTagParagraph)];
    const int e = enclosing.value;
    const PTagEntry* outer = e >= 0 && e < static_cast<int>(pmatch.size())
                                 ? PTagOf(engine, pmatch[e].resolvedTag)
                                 : nullptr;
    if (outer && outer->values[kNesting] == 0)
      ReportMessage(engine, "MSG_INVALID_STYLE",
                    {SettingValue(engine, "ParStyle"), pmatch[e].styleName});
  }
  PushTag(engine, ctx, kTagParagraph, kEndExpandedWhenPopped, index, ptag->texts[kStart],
          ptag->texts[kEnd]);
  if (!ptag->texts[kStart].empty()) channel.pendingBreak = false;
  ctx.wrap = ptag->values[kWrap];
  ctx.paragraphTag = tag;
}

/// FormatChange, second step: the paragraph tag of .PMatch entry `index`. The open one stays when
/// it is this entry's (or, with MergePMatch, an entry of the same level and tag); otherwise the
/// entry's tag opens at its level. Returns false when the entry has no tag to write.
bool ParagraphTagStep(Engine& engine, OutputContext& ctx, int index) {
  const auto& pmatch = engine.translation.pmatch;
  const int tag = pmatch[index].resolvedTag;
  if (!PTagOf(engine, tag)) return false;
  StateOf(engine, ctx).textReady = false;
  const int top = TopmostOf(ctx, kTagParagraph);
  int open = 0;  // paragraph entries in the run that ends at `top`
  for (int i = top; i >= 0 && ctx.tagStack[i].kind == kTagParagraph; --i) ++open;
  bool keep = false;
  if (top >= 0) {
    const int o = ctx.tagStack[top].value;
    keep = o == index;
    if (!keep && engine.settings.mirrors.mergePMatch != 0 && o >= 0 &&
        o < static_cast<int>(pmatch.size()))
      keep = pmatch[o].level == pmatch[index].level && pmatch[o].resolvedTag == tag;
  }
  if (keep)
    ctx.paragraphTag = tag;
  else
    OpenParagraphTag(engine, ctx, index, tag, open);
  return true;
}

/// FormatChange, third step, when text follows: a pending break is resolved, then the text tags
/// of the format open (no special state) or the special state is entered.
void TextStep(Engine& engine, OutputContext& ctx, int state, int previous) {
  ResolveBreak(engine, ctx);
  if (state == 0) {
    TextTags(engine, ctx);
  } else if (state != previous) {
    PopTags(engine, kTagParagraph, ctx, kPopAboveIfOpen);
    ResolveBreak(engine, ctx);
    EnterState(engine, ctx, state, previous);
  }
  StateOf(engine, ctx).textReady = true;
}

}  // namespace

void FormatChange(Engine& engine, OutputContext* context, bool textFollows) {
  TranslateState& t = engine.translate;
  if (t.inFormatChange) {
    ReportMessage(engine, "MSG_TEST_STYLE_REC");
    return;
  }
  struct Guard {
    bool& flag;
    explicit Guard(bool& f) : flag(f) { flag = true; }
    ~Guard() { flag = false; }
  } guard(t.inFormatChange);

  // Table output learns whether the paragraph is inside a table and, in pass 2, opens or closes
  // table, row and cell tags before the paragraph tag.
  TableFormatChange(engine);
  t.stateChanged = false;
  const int index = ChooseParagraphEntry(engine);
  t.currentPMatch = index;
  CharFmtIdx(engine);
  CharLookIdx(engine);
  t.shownFont = ShownFont(t);
  const int state = SpecialStateFor(engine, context, index);
  if (engine.driver.pass != 2 || !context) {
    Pass1SpecialState(engine, state);
    return;
  }
  OutputContext& ctx = *context;
  ctx.charFormat = t.charFormats.current;
  const int previous = ctx.specialState;
  if (!SpecialStateStep(engine, ctx, state, previous, index, textFollows)) return;
  if (!ParagraphTagStep(engine, ctx, index)) return;
  if (textFollows) TextStep(engine, ctx, state, previous);
}

// ---- Special characters of the body
// --------------------------------------------------------------------

void PutSpecial(Engine& engine, int code) {
  TranslateState& t = engine.translate;
  ReleaseHeldText(engine);
  OutputContext* context = CurrentOutput(engine);
  if (!context) return;
  OutputContext& ctx = *context;
  ChannelState& channel = StateOf(engine, ctx);
  // A line break, tab or paragraph end ends a word: a font held inside it is let go.
  t.lastWordChar = false;
  if (t.heldFont >= 0) {
    t.heldFont = -1;
    t.stateChanged = true;
  }
  if (t.stateChanged) FormatChange(engine, context, false);
  const int state = ctx.specialState;
  const PTagEntry* ptag = PTagOf(engine, ctx.paragraphTag);
  switch (code) {
    case 32:  // line break
      // Seam: recorded RMatch replacements are offered a blank here (MatchRepl).
      if (state == kTagDiscard) return;
      ChangeSpecialState(engine, ctx, 0);
      PopTags(engine, kTagParagraph, ctx, kPopAboveIfOpen);
      ResolveBreak(engine, ctx);
      if (ptag) WriteString(engine, ctx, ptag->texts[kLineBreak]);
      channel.textReady = false;
      return;
    case 37:  // tab
      // Seam: recorded RMatch replacements are offered a tab here (MatchRepl).
      switch (state) {
        case kTagCapture:
          t.captureText.push_back('\t');
          return;
        case kTagLink:
          t.linkText.push_back('\t');
          return;
        case kTagHRef:
          t.hrefText.push_back('\t');
          return;
        case kTagName:
          t.nameText.push_back('\t');
          return;
        case kTagHot:
        case kTagDiscard:
          return;
        case kTagLiteral:
          ReleaseHeldText(engine);
          PutWrap(engine, "\t", ctx, 0);
          channel.textStarted = false;
          return;
        default:
          break;
      }
      if (!channel.textStarted && ptag && ptag->values[kTabMode] != 0 &&
          engine.settings.mirrors.allowEmptyStrip == 0)
        return;
      if (!channel.textReady) FormatChange(engine, context, true);
      ptag = PTagOf(engine, ctx.paragraphTag);
      if (!ptag) return;
      if (!channel.textStarted) {
        WriteString(engine, ctx, ptag->texts[kFirstTab]);
        channel.textStarted = true;
      } else {
        WriteString(engine, ctx, ptag->texts[kTab]);
      }
      return;
    case 28:  // paragraph end
      if (channel.pendingBreak && ptag && ptag->values[kBreakAtMark] != 0)
        ResolveBreak(engine, ctx);
      if (state != kTagDiscard) {
        ChangeSpecialState(engine, ctx, 0);
        PopTags(engine, kTagParagraph, ctx, kPopAboveIfOpen);
        channel.pendingBreak = true;
        channel.textStarted = false;
      }
      channel.textReady = false;
      return;
    default:
      return;
  }
}

// ---- Held text
// -------------------------------------------------------------------------------------

namespace {

/// Writes the (non-empty) run of plain text gathered so far; out of line of ReleaseHeldText.
[[gnu::noinline]] void FlushRun(Engine& engine) {
  TranslateState& t = engine.translate;
  std::string text;
  text.swap(t.run);
  if (t.runContext && t.runContext->file) PutWrap(engine, text, *t.runContext, t.runWrap);
  text.clear();
  if (t.run.empty()) t.run.swap(text);  // keep the grown buffer for the next run
}

/// Replays the paragraph-number text held back: the translation file may first re-classify the
/// paragraph by it (PNOverrideFunction), then its pieces and events go through the text path.
/// A paragraph of a list the document defines asks for its entry even without number text; when
/// the entry draws its own numbers (tab mode), the number text is not replayed, only a tab that
/// ends it. The number text of a paragraph whose list the document does not define is dropped.
[[gnu::noinline]] void ReleaseDeferred(Engine& engine) {
  TranslateState& t = engine.translate;
  DeferredText held = std::move(t.deferred);
  t.deferred = DeferredText();
  const char* listFormat = ListFormatOf(t);
  if (!listFormat) return;
  const bool listItem = *listFormat != '\0';
  bool drawsNumbers = false;
  if ((!held.text.empty() || listItem) &&
      std::atoi(GetSettingAt(engine, kSettingPNOverrideFlag).c_str()) != 0) {
    SetDocumentValue(engine, "ListFormat", listFormat);
    SetDocumentValue(engine, "PNText", held.text);
    std::string result = StrExp(engine, "$PNOverrideFunction(PNText)");
    if (!result.empty()) {
      const auto& pmatch = engine.translation.pmatch;
      int found = -1;
      for (int i = 0; i < static_cast<int>(pmatch.size()) && found < 0; ++i)
        if (pmatch[i].styleName == result) found = i;
      if (found >= 0) {
        t.forcedPMatch = found;
        t.forcedChannel = t.cur.channel;
        t.stateChanged = true;
        const PTagEntry* ptag = PTagOf(engine, pmatch[found].resolvedTag);
        drawsNumbers = ptag && ptag->values[kTabMode] == 1;
      } else {
        ReportMessage(engine, "MSG_FUNC_NOT_IN_PMATCH", {result});
      }
    }
  }
  // Where the entry draws the numbers, the held events up to the number text's last tab are
  // passed over (its formats too: no empty element is left of the number), and a tab of its
  // own ends a number text that has none.
  std::size_t replayFrom = 0;
  bool addTab = false;
  if (drawsNumbers) {
    replayFrom = held.events.size();
    for (std::size_t i = held.events.size(); i-- > 0;)
      if (held.events[i].kind == DeferredEvent::kSpecial && held.events[i].code == 37) {
        replayFrom = i;
        break;
      }
    // Not while the number text goes on (held text let go at its size limit): its tab is ahead.
    addTab = replayFrom == held.events.size() && RoutesToBody(engine);
  }
  const CharFormat saved = t.cur.chr;
  auto special = [&](int code) {
    if (engine.driver.pass == 2) {
      PutSpecial(engine, code);
    } else if (code != 28) {
      // Seam: the heading hierarchy collects pass-1 paragraph text; a tab or line break
      // stands there as a blank.
      t.paragraphText.push_back(' ');
    }
  };
  for (std::size_t i = replayFrom; i < held.events.size(); ++i) {
    const DeferredEvent& event = held.events[i];
    if (event.kind == DeferredEvent::kFormat) {
      t.cur.chr = event.format;
      t.stateChanged = true;
    } else if (event.kind == DeferredEvent::kText) {
      BodyText(engine, std::string_view(held.text).substr(event.begin, event.end - event.begin));
    } else {
      special(event.code);
    }
  }
  if (!(t.cur.chr == saved)) {
    t.cur.chr = saved;
    t.stateChanged = true;
  }
  if (addTab) special(37);
}

}  // namespace

void ReleaseHeldText(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.deferred.held && t.releaseSuspended == 0) ReleaseDeferred(engine);
  if (!t.run.empty()) FlushRun(engine);
}

// ---- Output files
// ----------------------------------------------------------------------------------------

void StartOutputFile(Engine& engine) {
  TranslateState& t = engine.translate;
  for (ChannelState& channel : t.channels) channel = ChannelState();
  t.otherChannel = ChannelState();
  t.run.clear();
  t.runContext = nullptr;
  t.anchorsOpen = 0;
  t.unnamedAnchors = 0;
  t.stateChanged = true;
}

void FinishOutputFormatting(Engine& engine) {
  ReleaseHeldText(engine);
  FinishTables(engine);
  for (OutputContext* context : {&engine.driver.footnotes, &engine.driver.main}) {
    ChangeSpecialState(engine, *context, 0);
    PopTags(engine, kTagParagraph, *context, kPopAboveIfOpen);
    PopTags(engine, kTagParagraph, *context, kPopRunIfOpen);
  }
  PopAllTags(engine, engine.driver.footnotes);
  ReleaseHeldText(engine);
}

}  // namespace quillo::translate
