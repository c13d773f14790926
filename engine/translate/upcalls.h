// The translation layer's calls into the layers above it: the heading hierarchy of the structure
// layer and the driver's footnote output. They go through LayerHooks (base/hooks_state.h), which
// says what each means and which the driver sets when it makes an engine; a hook that is not set
// does nothing.
#pragma once

#include <string>
#include <string_view>

#include "engine.h"
#include "translate/paragraph_marks.h"

namespace quillo::translate {

/// Content of a paragraph arrives (text, a tab, a line break, output of a field). The check
/// comes with every piece of body text and almost always finds the paragraph started, so it is
/// made here and costs no call.
inline void ParagraphContent(Engine& engine) {
  const int channel = engine.translate.cur.channel == kFootnoteChannel ? 1 : 0;
  if (engine.structure.channels[channel].started) return;
  ParagraphStarts(engine);
  if (engine.hooks.paragraphContentBegins) engine.hooks.paragraphContentBegins(engine);
}
/// Pass 2: the paragraph's format has been chosen and its text follows; a pending heading anchor
/// is written inside the heading's tag.
inline void BeforeParagraphText(Engine& engine) {
  if (engine.structure.pendingHeadingAnchor >= 0 && engine.hooks.writeDueHeadingAnchor)
    engine.hooks.writeDueHeadingAnchor(engine);
}
/// A paragraph mark, before it is written.
inline void TellParagraphEnd(Engine& engine) {
  if (engine.hooks.paragraphEnd) engine.hooks.paragraphEnd(engine);
}
/// An index or contents entry's group ends.
inline void TellIndexGroupEnd(Engine& engine, std::string_view text, std::string_view reference) {
  if (engine.hooks.indexGroupEnd) engine.hooks.indexGroupEnd(engine, text, reference);
}
/// A bookmark or anchor name is met.
inline void TellBookmark(Engine& engine, std::string_view name) {
  if (engine.hooks.bookmarkSeen) engine.hooks.bookmarkSeen(engine, name);
}
/// True when a heading resolves the cross-reference `target`.
inline bool HeadingResolves(Engine& engine, std::string_view target) {
  return engine.hooks.resolveHeading && engine.hooks.resolveHeading(engine, target);
}
/// The output file that holds anchor `name`, "" when unknown.
inline std::string FileOfAnchor(Engine& engine, std::string_view name) {
  return engine.hooks.anchorFile ? engine.hooks.anchorFile(engine, name) : std::string();
}
/// InlineFootnotes: the footnote just ended moves into the main text.
inline void MoveFootnoteIntoMainText(Engine& engine) {
  if (engine.hooks.moveFootnoteIntoText) engine.hooks.moveFootnoteIntoText(engine);
}

}  // namespace quillo::translate
