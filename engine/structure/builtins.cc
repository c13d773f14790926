// Built-ins of the expansion language that work on the document: contents lists, the index,
// frames, cross-references and the tag stack. The driver registers them (LayerHooks::builtins).
#include "structure/builtins.h"

#include <string>
#include <string_view>

#include "base/settings.h"
#include "engine.h"
#include "expand/builtins.h"
#include "expand/expand.h"
#include "structure/structure.h"
#include "translate/fields.h"
#include "translate/tags.h"

namespace quillo {
namespace {

using expand::CallArguments;
using expand::ReadInt;

/// GenTOC(f): writes the contents page; f non-zero selects the frame variant.
std::string GenTOC(Engine& engine, CallArguments& args, OutputContext*) {
  structure::GenTOC(engine, ReadInt(args.ValueOr(engine, "0")));
  return {};
}

/// GenIndex(f): writes the index page; f as for GenTOC.
std::string GenIndex(Engine& engine, CallArguments& args, OutputContext*) {
  structure::GenIndex(engine, ReadInt(args.ValueOr(engine, "0")));
  return {};
}

std::string GenFrames(Engine& engine, CallArguments&, OutputContext*) {
  structure::GenFrames(engine);
  return {};
}

std::string GenLocalTOC(Engine& engine, CallArguments&, OutputContext*) {
  return structure::GenLocalTOC(engine);
}

std::string GenPeerTOC(Engine& engine, CallArguments&, OutputContext*) {
  return structure::GenPeerTOC(engine);
}

std::string GenFileTOC(Engine& engine, CallArguments&, OutputContext*) {
  return structure::GenFileTOC(engine);
}

/// IndexEntry(text, reference): with GenIndex on, adds an index entry and yields "Index<n>", which
/// is also stored in _LINK_.
std::string IndexEntry(Engine& engine, CallArguments& args, OutputContext*) {
  if (engine.settings.mirrors.genIndex == 0) return {};
  std::string text, reference;
  if (!args.NextValue(engine, text) || !args.NextValue(engine, reference)) return {};
  int number = structure::IndexEntry(engine, text, reference);
  if (number < 0) return {};
  std::string link = "Index" + std::to_string(number);
  SetSetting(engine, "_LINK_", link);
  return link;
}

/// Link(target, text): resolves the target as a cross-reference (setting _LINK_ and _HOTTEXT_),
/// then yields the value of the second argument.
std::string Link(Engine& engine, CallArguments& args, OutputContext*) {
  std::string target;
  if (!args.NextValue(engine, target)) return {};
  translate::Resolve(engine, target);
  std::string text;
  if (!args.NextValue(engine, text)) return {};
  return text;
}

/// PushTag(kind, value, start, end): pass 2 only; pushes a tag (mode 2) on the current output's
/// stack. The start text is the third argument's value, expanded once more by the push; the end
/// text is the fourth argument's stored value, expanded when the tag is popped.
std::string PushTag(Engine& engine, CallArguments& args, OutputContext*) {
  if (engine.driver.pass != 2) return {};
  std::string kind, value, start;
  bool startLiteral = false;
  std::string_view endName;
  if (!args.NextValue(engine, kind) || !args.NextValue(engine, value) ||
      !args.NextValue(engine, start, startLiteral) || !args.NextToken(endName))
    return {};
  bool endLiteral = false;
  std::string end = LookupName(engine, endName, endLiteral);
  OutputContext* output = translate::CurrentOutput(engine);
  if (!output) return {};
  // Literal text must come out as it is, though the tag expands what it is given: it is handed
  // over as a reference to a literal setting.
  if (startLiteral) start = LiteralReference(engine, start);
  if (endLiteral) end = LiteralReference(engine, end);
  translate::PushTag(engine, *output, static_cast<translate::TagKind>(ReadInt(kind)),
                     translate::kEndUserTag, ReadInt(value), start, end);
  return {};
}

/// PopTags(kind, type): pass 2 only; pops the current output's tag stack (kind, type).
std::string PopTags(Engine& engine, CallArguments& args, OutputContext*) {
  if (engine.driver.pass != 2) return {};
  std::string kind, type;
  if (!args.NextValue(engine, kind) || !args.NextValue(engine, type)) return {};
  if (OutputContext* output = translate::CurrentOutput(engine))
    translate::PopTags(engine, static_cast<translate::TagKind>(ReadInt(kind)), *output,
                       static_cast<translate::PopMode>(ReadInt(type)));
  return {};
}

constexpr expand::BuiltinEntry kDocumentBuiltins[] = {
    {"GenTOC", GenTOC, false},
    {"IndexEntry", IndexEntry, false},
    {"Link", Link, false},
    {"PushTag", PushTag, false},
    {"PopTags", PopTags, false},
    {"GenFrames", GenFrames, false},
    {"GenIndex", GenIndex, false},
    {"GenLocalTOC", GenLocalTOC, false},
    {"GenPeerTOC", GenPeerTOC, false},
    {"GenFileTOC", GenFileTOC, false},
};

}  // namespace

const expand::BuiltinEntry* structure::DocumentBuiltins(std::size_t& count) {
  count = std::size(kDocumentBuiltins);
  return kDocumentBuiltins;
}

}  // namespace quillo
