// Expanded text-tag texts kept per character format and look, so that a change of format that
// comes back to a format seen before does not expand the text tag again.
#pragma once

#include <string>

namespace quillo {
struct Engine;
namespace translate {

/// The expanded start (`end` false) or end text of text tag `tag` for the current format.
std::string TagText(Engine& engine, int tag, bool end);

}  // namespace translate
}  // namespace quillo
