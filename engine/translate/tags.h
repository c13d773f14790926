// Formatting tags: the tag stack of each output channel and the choice of paragraph and text tags
// from the translation file's match tables (.PMatch/.PTag, .TMatch/.TTag), the format registries
// and the special characters of the body (paragraph end, line break, tab).
#pragma once

#include <optional>
#include <string_view>

#include "expand/expand.h"
#include "translate/translate_state.h"

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// Kinds of tag-stack entries.
enum TagKind : int {
  kTagPage = 1,
  kTagPageBody = 2,
  kTagTable = 3,
  kTagTableHeadFoot = 4,
  kTagColumnGroup = 5,
  kTagRow = 6,
  kTagCell = 7,
  kTagHeadingList = 8,
  kTagIndexPanel = 9,
  kTagIndexSubEntry = 10,
  kTagIndexSubRange = 11,
  kTagParagraph = 12,
  kTagText = 13,
  kTagFootnoteRef = 14,
  kTagAnchor = 15,
};

/// What a tag entry does with its end text.
enum TagEnd : int {
  kEndExpandedNow = 0,         ///< expanded when pushed, written as it stands when popped
  kEndExpandedWhenPopped = 1,  ///< kept and expanded when popped
  kEndUserTag = 2,             ///< as kEndExpandedWhenPopped: pushed by the $PushTag built-in
};
/// How much of a tag stack PopTags closes around the newest entry of a kind.
enum PopMode : int {
  kPopEntry = 0,        ///< the entry and those above it; reported when there is none
  kPopAbove = 1,        ///< only those above it; reported when there is none
  kPopAboveIfOpen = 2,  ///< only those above it; nothing when there is none
  kPopRunIfOpen = 3,    ///< also every entry of the kind directly below it; silent likewise
};

/// Pushes a tag entry on `context`'s stack. `start` is expanded and written now; `end` is kept
/// as `mode` says.
void PushTag(Engine& engine, OutputContext& context, TagKind kind, TagEnd mode, int value,
             std::string_view start, std::string_view end);
/// Pops entries of `context`'s tag stack around the newest entry of `kind`, writing their closing
/// texts, as far as `mode` says (MSG_TAG_NOT_FOUND for the modes that report a missing entry).
/// Returns the entry found.
std::optional<TagEntry> PopTags(Engine& engine, TagKind kind, OutputContext& context, PopMode mode);
/// The output channel text is written to now (the main output or the footnote channel), or
/// nullptr outside pass 2.
OutputContext* CurrentOutput(Engine& engine);

/// The .PMatch entry of the current paragraph: a forced entry wins; otherwise the first entry of
/// the paragraph's style, else entry 0. -1 when the translation file has no .PMatch entries.
int ChooseParagraphEntry(Engine& engine);
/// Re-evaluates paragraph and text tags for the current formatting (`textFollows`: text is about
/// to be written, so pending breaks are resolved and text tags opened).
void FormatChange(Engine& engine, OutputContext* context, bool textFollows);
/// Writes special character `code` (28 paragraph end, 32 line break, 37 tab) to the body in
/// pass 2 through the current paragraph tag.
void PutSpecial(Engine& engine, int code);
/// Leaves the special text state of `context` for `newState` (its leave action runs).
void ChangeSpecialState(Engine& engine, OutputContext& context, int newState);

/// Number of the current paragraph (character) format, registering it when new.
int ParFmtIdx(Engine& engine);
int CharFmtIdx(Engine& engine);
/// The keys CharFmtIdx and CharLookIdx register: the current character format and look.
FormatRegistry::Key CharFmtKey(const Engine& engine);
FormatRegistry::Key LookKey(const TranslateState& t);
/// Number of the current character look (font, size, colour, background); a new look expands
/// CharLookEntry into CharLooks.
int CharLookIdx(Engine& engine);
/// What the current look's CharLookEntry gave when the look was registered (registering it now
/// if it is new): a page tells by it, at the cost of a lookup, whether the look has a rule.
std::string_view CharLookRule(Engine& engine);
/// Whether the current character look has been registered (by pass 1, for the page's rules).
bool CharLookKnown(const Engine& engine);

}  // namespace translate
}  // namespace quillo
