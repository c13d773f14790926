// Fields, hyperlinks and cross-references: the special text states (_Capture, _Link, _HRef, _Hot,
// _Name, _Discard, _Literal), the resolution of link targets and the RTF fields (INCLUDEPICTURE,
// SYMBOL and the rest through the translation file's ProcessField function). Where text goes by
// destination is the text sink's (translate/text.h).
#pragma once

#include <string_view>

namespace quillo {
struct Engine;

namespace translate {

/// Resolves `target` as a cross-reference: sets the named strings _LINK_ and _HOTTEXT_.
void Resolve(Engine& engine, std::string_view target);

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

/// Stores a value taken from document text so that name resolution never expands it again.
void SetDocumentValue(Engine& engine, std::string_view name, std::string_view value);

}  // namespace translate
}  // namespace quillo
