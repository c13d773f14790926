// The footnote numbering of pass 2 (FootnoteState, held by the Engine).
#pragma once

namespace quillo {
namespace translate {

struct FootnoteState {
  /// Footnotes numbered so far in pass 2. Counts on across split output files, so that every
  /// footnote of a document has its own number.
  int counter = 0;
  /// A mark in the main text has taken the number of the footnote that comes next.
  bool referenced = false;
};

}  // namespace translate
}  // namespace quillo
