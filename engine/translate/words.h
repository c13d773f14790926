// The formatting words: control words of the character, paragraph, document and section classes
// change the current group's state (and the document's page and code page).
#pragma once

namespace quillo {
struct Engine;

namespace translate {

/// A character word (\b, \fN, \fsN, \csN ...) of the current token.
void CharAttr(Engine& engine);
/// A paragraph word (\pard, \sN, \qc, \liN, \lsN ...) of the current token.
void ParAttr(Engine& engine);
/// A document word (\paperwN, \margl, \ansicpgN ...) of the current token.
void DocAttr(Engine& engine);
/// A section word (\sectd, \pgwsxnN ...) of the current token.
void SectAttr(Engine& engine);

}  // namespace translate
}  // namespace quillo
