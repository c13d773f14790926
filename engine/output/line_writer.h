// The line writer: every text of a page passes through PutWrap, which writes it to the channel's
// file wrapping at blanks at 80 columns, and through the OutTrn line filter when the translation
// file sets one. Depends on the file table and the settings store; the text held back by the
// translation layer and the expansion of OutTrn are reached through LayerHooks
// (base/hooks_state.h).
#pragma once

#include <string_view>

#include "output/output_state.h"

namespace quillo {

/// Writes text to the context, wrapping at blanks at 80 columns when `wrap` is 1. Reports
/// ERR_PUTWRAP_LOGIC (fatal by default) when the context has no file.
void PutWrap(Engine& engine, std::string_view text, OutputContext& context, int wrap);
/// Writes any pending word and the OutTrn line of the context (end of an output file).
void FlushContext(Engine& engine, OutputContext& context);
/// Line end while OutTrn is non-empty: stores the collected line plus a line feed as the named
/// string OutString, expands OutTrn and writes the result to `file`; empties the line.
void OutString(Engine& engine, FileEntry* file);
/// Forgets the line collected for OutTrn (start of a conversion).
void ResetOutput(Engine& engine);

}  // namespace quillo
