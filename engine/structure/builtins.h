// Built-ins of the expansion language that work on the document (contents lists, the index,
// frames, cross-references, the tag stack), for LayerHooks::builtins.
#pragma once

#include <cstddef>

namespace quillo {
namespace expand {
struct BuiltinEntry;
}

namespace structure {

/// The table of these built-ins; `count` receives its length.
const expand::BuiltinEntry* DocumentBuiltins(std::size_t& count);

}  // namespace structure
}  // namespace quillo
