// The one HTML escaper of the engine's own HTML (the log, the error file, traces and message
// parameters): "&", "<" and ">" always, more on request. Depends only on the standard library.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

/// What an escape writes besides "&amp;", "&lt;" and "&gt;"; combine with |.
enum HtmlEscapeExtra : unsigned {
  kEscapeQuotes = 1,    ///< '"' as "&quot;" (attribute values)
  kEscapeDollar = 2,    ///< '$' as "&#36;" (text that must never be expanded again)
  kLineBreaksAsBr = 4,  ///< a line feed as "<br>" (text shown as lines in a page)
  kDropNul = 8,         ///< NUL bytes left out (document bytes shown in a page)
};

/// Appends `text` to `out` with the markup characters escaped.
void AppendHtmlEscaped(std::string& out, std::string_view text, unsigned extras = 0);
/// `text` with the markup characters escaped.
std::string HtmlEscaped(std::string_view text, unsigned extras = 0);

}  // namespace quillo
