// Translation files (.trn): the loader with its preprocessor (#ifdef, #ifmatch, #include) that
// fills the tables of trn/translation_state.h.
#pragma once

#include <string_view>

#include "trn/translation_state.h"

namespace quillo {
struct Engine;

/// Limits of the loader. Each guards against input-controlled growth: nested includes are
/// followed without recursion but each level keeps a file open, and a file including itself
/// would otherwise never end; open blocks of `.Functions` are linked through a fixed-size stack.
inline constexpr int kMaxIncludeDepth = 32;
inline constexpr int kMaxOpenBlocks = 255;

/// Code of a special tag name ("_Capture" ... "_Literal", any case), or -1 for any other name.
int SpecialTagCode(std::string_view name);

/// Releases the previous tables, then loads `name` through the library search. Returns 0 when the
/// file cannot be opened (the caller reports ERR_TRAN_FILE), 1 otherwise (also when the load was
/// stopped by a message). A fatal message throws ConversionAbandoned; every file the loader opened
/// is closed on the way out.
int LoadTranslationFile(Engine& engine, std::string_view name);

}  // namespace quillo
