// Footnotes and anchors: footnote text gathered per output file and linked both ways, bookmarks
// written as named anchors.
#pragma once

namespace quillo {
struct Engine;

namespace translate {

struct FootnoteState {};

}  // namespace translate
}  // namespace quillo
