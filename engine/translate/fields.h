// Fields, hyperlinks and cross-references: where text goes by destination (the text sink), the
// special text states (_Capture, _Link, _HRef, _Hot, _Name, _Discard, _Literal), the resolution
// of link targets and the RTF fields (INCLUDEPICTURE, SYMBOL and the rest through the
// translation file's ProcessField function).
#pragma once

#include <string_view>

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// Resolves `target` as a cross-reference: sets the named strings _LINK_ and _HOTTEXT_.
void Resolve(Engine& engine, std::string_view target);

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

/// A \field group starts (group depth of that group).
void FieldStart(Engine& engine);
/// The \fldinst group ends: the instruction is acted on.
void FieldInstructionEnd(Engine& engine);
/// The \fldrslt group ends.
void FieldResultEnd(Engine& engine);
/// The \field group ends.
void FieldEnd(Engine& engine);
/// True when the result of the innermost field must be skipped.
bool FieldResultSkipped(const Engine& engine);
/// The bookmark destination's group ends.
void BookmarkEnd(Engine& engine);
/// Pass 2, destination \result: opens the pending hyperlink anchor.
void OpenHyperlinkAnchor(Engine& engine);
/// The \result group ends: closes an anchor opened by OpenHyperlinkAnchor.
void CloseHyperlinkAnchor(Engine& engine);

/// Before markup that belongs to the text after it is written in pass 2 (a field's replacement
/// text, the anchor of a bookmark or an index entry): releases held text, starts the paragraph
/// and brings the output up to the current format as FormatChange does before text, so that the
/// markup stands where that text will, inside its paragraph, table cell and text tags, and never
/// between blocks. Returns the output to write to, nullptr outside pass 2.
OutputContext* PrepareForOutput(Engine& engine);

/// True when text of the current destination goes to the body (not to a buffer or nowhere).
bool RoutesToBody(const Engine& engine);

/// Stores a value taken from document text so that name resolution never expands it again.
void SetDocumentValue(Engine& engine, std::string_view name, std::string_view value);

}  // namespace translate
}  // namespace quillo
