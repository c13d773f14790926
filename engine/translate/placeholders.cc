// PLACEHOLDER: the translation layer is being written; these do nothing until it lands.
#include "engine.h"
#include "translate/fields.h"
#include "translate/tags.h"

namespace quillo::translate {

void PushTag(Engine&, OutputContext&, int, int, int, std::string_view, std::string_view) {}
void PopTags(Engine&, int, OutputContext&, int) {}
OutputContext* CurrentOutput(Engine&) { return nullptr; }
void Resolve(Engine&, std::string_view) {}

}  // namespace quillo::translate
