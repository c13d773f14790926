// The translation layer: the token handlers of both passes, the RTF state that groups scope, and
// the way text, special characters and paragraph ends reach the output.
#pragma once

namespace quillo {
struct Engine;

namespace translate {

/// Per-conversion state of the translation layer.
struct TranslateState {};

}  // namespace translate
}  // namespace quillo
