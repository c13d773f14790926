// HTML escaping of the engine's own HTML.
#include "base/html_escape.h"

namespace quillo {

void AppendHtmlEscaped(std::string& out, std::string_view text, unsigned extras) {
  out.reserve(out.size() + text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += (extras & kEscapeQuotes) ? "&quot;" : "\"";
        break;
      case '$':
        out += (extras & kEscapeDollar) ? "&#36;" : "$";
        break;
      case '\0':
        if (!(extras & kDropNul)) out += c;
        break;
      case '\n':
        out += (extras & kLineBreaksAsBr) ? "<br>" : "\n";
        break;
      default:
        out += c;
    }
  }
}

std::string HtmlEscaped(std::string_view text, unsigned extras) {
  std::string out;
  AppendHtmlEscaped(out, text, extras);
  return out;
}

}  // namespace quillo
