// Output files of pass 2 (the driver's part; ChangeOutputFile and MoveFootnoteIntoText are in
// frame/driver.h).
#pragma once

namespace quillo {
struct Engine;

/// Expands a hook string of the translation file ("$Pass2Start;") for its side effects only.
void RunHook(Engine& engine, const char* hook);
/// Opens output file `number` with its footnote file and writes the opening page strings.
void OpenOutputFile(Engine& engine, int number);
/// Finishes the output file being written: the footnotes, the closing page strings; at the end of
/// the input also what the structure layer adds after the last file.
void FinishOutputFile(Engine& engine, bool atEndOfInput);

}  // namespace quillo
