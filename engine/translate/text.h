// The text sink: routes output text by the current destination (the body, number text held for
// the paragraph's first text, kept names and field instructions, document information) and writes
// body text in both passes.
#pragma once

#include <string_view>

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// The text sink: routes one piece of output text by the current destination.
void PutText(Engine& engine, std::string_view text);
/// Body text in the current format (the part of PutText after the routing).
void BodyText(Engine& engine, std::string_view text);
/// Called after a text character went the whole way to the body: takes the plain text that
/// follows it in the input straight from the reader, as many text tokens through TextHandler and
/// BodyText would have, while nothing about them needs more than mapping and gathering.
void ContinuePlainText(Engine& engine);
/// Routes special character `code` (28, 32, 37) by the current destination.
void RouteSpecial(Engine& engine, int code);

/// Before markup that belongs to the text after it is written in pass 2 (a field's replacement
/// text, the anchor of a bookmark or an index entry): releases held text, starts the paragraph
/// and brings the output up to the current format as FormatChange does before text, so that the
/// markup stands where that text will, inside its paragraph, table cell and text tags, and never
/// between blocks. Returns the output to write to, nullptr outside pass 2.
OutputContext* PrepareForOutput(Engine& engine);

/// True when text of the current destination goes to the body (not to a buffer or nowhere).
bool RoutesToBody(const Engine& engine);

}  // namespace translate
}  // namespace quillo
