// PLACEHOLDER: the control-word table is being written.
#include "rtf/control_words.h"

#include "engine.h"

namespace quillo::rtf {

int LookupInit(Engine& engine) { engine.controlWords.loaded = true; return 0; }
const CtrlWord* Lookup(const ControlWordTable&, std::string_view) { return nullptr; }

}  // namespace quillo::rtf
