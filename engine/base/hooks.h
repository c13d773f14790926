// Calls through the hooks of base/hooks_state.h that every layer makes the same way.
#pragma once

#include <string>
#include <string_view>

#include "engine.h"

namespace quillo {

/// Expands `text` with the expansion language (LayerHooks::expand); the text itself while no
/// expander is set.
inline std::string Expand(Engine& engine, std::string_view text) {
  return engine.hooks.expand ? engine.hooks.expand(engine, text) : std::string(text);
}

}  // namespace quillo
