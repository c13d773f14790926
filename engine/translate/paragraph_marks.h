// The paragraph properties that count at the paragraph mark (ParagraphMarkState): recorded by
// pass 1 where they differ from those at the paragraph's first content, shown by pass 2 from the
// paragraph's start.
#pragma once

#include "translate/translate_state.h"

namespace quillo {
struct Engine;

namespace translate {

/// `par` with the values `v` names.
void ApplyMarkValues(const ParagraphMarkValues& v, ParFormat& par);
/// A paragraph of the current channel gets its first content (text, a tab, a line break...).
void ParagraphStarts(Engine& engine);
/// A paragraph formatting word was applied to the current format.
void ParagraphWordApplied(Engine& engine);
/// The current channel's paragraph ends (its mark, or the end of a table cell).
void ParagraphMarkReached(Engine& engine);
/// The paragraph format the page shows: the current one with what pass 2 shows of the open
/// paragraph's mark (put together in `t.shownParagraph` when there is any).
inline const ParFormat& ShownParagraph(TranslateState& t) {
  const ParagraphMarkValues& shown =
      t.paragraphMarks[t.cur.channel == kFootnoteChannel ? 1 : 0].shown;
  if (shown.fields == 0) return t.cur.par;
  t.shownParagraph = t.cur.par;
  ApplyMarkValues(shown, t.shownParagraph);
  return t.shownParagraph;
}
/// Before each pass: the open paragraphs are forgotten and the first records read (there are
/// none before pass 1, whose conversion starts with no records).
void StartParagraphMarks(Engine& engine);

}  // namespace translate
}  // namespace quillo
