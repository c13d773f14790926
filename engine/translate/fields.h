// Fields, hyperlinks and cross-references: where text goes by destination, the special text
// states, and the resolution of link targets.
#pragma once

#include <string_view>

namespace quillo {
struct Engine;

namespace translate {

/// Resolves `target` as a cross-reference: sets the named strings _LINK_ and _HOTTEXT_.
void Resolve(Engine& engine, std::string_view target);

}  // namespace translate
}  // namespace quillo
