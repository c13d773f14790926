// The conversion driver: set-up of one input, the two passes of the reader over it, the output
// files opened and finished around pass 2, and the file sweep. Also the state of the C interface.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "expand/expand.h"
#include "frame/driver_state.h"
#include "quillo/quillo.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// Initialises the engine once (program directory from `programPath` when given). 0 on success,
/// 1 when the stop flag is set or a fatal message occurred.
int EngineInit(Engine& engine, const char* programPath);
/// Clears the stop flag of the previous conversion and its recorded messages; the conversion
/// entries (and the exports that initialise the engine before one) call it first.
void BeginConversion(Engine& engine);
/// The argument-vector conversion. 0 ok, -1 argument error, 1 failure.
int ConvertFiles(Engine& engine, int argc, char** argv);
/// The string conversion. Returns the memory outputs (*count records, caller owns) or nullptr;
/// *count is -1 when initialisation failed.
ConvertedOutput* ConvertString(Engine& engine, int argc, char** argv, const char* rtfText,
                               int* count);
/// As above for an RTF text of known length, which may hold NUL bytes (\bin data).
ConvertedOutput* ConvertString(Engine& engine, int argc, char** argv, std::string_view rtfText,
                               int* count);
/// Pass 2: finishes the output file being written (footnotes, closing page strings) and opens
/// the next one of the file plan. Does nothing outside pass 2 or when no output is open.
void ChangeOutputFile(Engine& engine);
/// Pass 2, InlineFootnotes: moves what the footnote output holds (the footnote just ended) into
/// the main output at its current place, instead of after FNSep at the end of the file.
void MoveFootnoteIntoText(Engine& engine);
/// Releases an array returned by ConvertString.
void FreeConvertedOutputs(ConvertedOutput* outputs, int count);

}  // namespace quillo
