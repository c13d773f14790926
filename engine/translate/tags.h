// Formatting tags: the tag stack of each output channel and the choice of paragraph and text tags
// from the translation file's match tables.
#pragma once

#include <string_view>

namespace quillo {
struct Engine;
struct OutputContext;

namespace translate {

/// Pushes a tag entry on `context`'s stack: `start` is expanded and written now, `end` is kept
/// unexpanded and expanded when the entry is popped.
void PushTag(Engine& engine, OutputContext& context, int kind, int mode, int value,
             std::string_view start, std::string_view end);
/// Pops entries of `context`'s tag stack down to (and, depending on `type`, including) the
/// newest entry of `kind`, writing their closing texts.
void PopTags(Engine& engine, int kind, OutputContext& context, int type);
/// The output channel text is written to now (the main output or the footnote channel), or
/// nullptr outside pass 2.
OutputContext* CurrentOutput(Engine& engine);

}  // namespace translate
}  // namespace quillo
