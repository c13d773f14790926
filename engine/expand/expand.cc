// PLACEHOLDER: string expansion is being written.
#include "expand/expand.h"

#include "engine.h"

namespace quillo {

std::string StrExp(Engine& engine, std::string_view text, OutputContext* context) {
  if (context) { PutWrap(engine, text, *context, 0); return {}; }
  return std::string(text);
}
void ExpandInto(Engine& engine, OutputContext& context, std::string_view text) { StrExp(engine, text, &context); }
std::string FctExpand(Engine&, std::string_view, OutputContext*) { return {}; }
void PutWrap(Engine&, std::string_view text, OutputContext& context, int) { FilePutString(context.file, text); }
void FlushContext(Engine&, OutputContext&) {}

}  // namespace quillo
