// Formatting tags: the tag stack of each output channel and the choice of paragraph and text tags
// from the translation file's match tables (.PMatch/.PTag, .TMatch/.TTag), the format registries
// and the special characters of the body (paragraph end, line break, tab).
#pragma once

#include <optional>
#include <string_view>

#include "expand/expand.h"

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

/// Pushes a tag entry on `context`'s stack. `start` is expanded and written now. Mode 0: `end`
/// is expanded now and written as it stands when popped; modes 1 and 2: `end` is kept and
/// expanded when popped.
void PushTag(Engine& engine, OutputContext& context, int kind, int mode, int value,
             std::string_view start, std::string_view end);
/// Pops entries of `context`'s tag stack around the newest entry of `kind`, writing their closing
/// texts: type 0 the entries above it and the entry; types 1 and 2 only those above it; type 3
/// also every entry of `kind` directly below it. Returns the entry found. When none is found,
/// types 0 and 1 report MSG_TAG_NOT_FOUND, types 2 and 3 are silent.
std::optional<TagEntry> PopTags(Engine& engine, int kind, OutputContext& context, int type);
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
