// Batch conversion ("-b"): a line-oriented file of options, output names and input files converted
// one after another; wildcard listings; and the Script step's external scripts, run through
// /bin/sh with document text quoted. Depends on the driver (every conversion of a batch is a full
// argument-vector conversion), the settings store, the message reporter and string expansion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "frame/batch_state.h"

namespace quillo {
struct Engine;

/// The batch branch of the argument-vector conversion: `args` is the caller's vector (entry 0 the
/// program path) whose entry 1 is the batch switch ("-bNAME", or "-b" followed by NAME). Option
/// words after the switch (with the parameter word of "-D", "-o"... written apart) are passed on
/// to every conversion of the batch; every other word is an input file for which the batch is
/// run once as the current input ("go" lines). Without input files the batch runs once. Returns 0
/// when everything ran, 1 when the batch file could not be read or any of its lines or conversions
/// failed.
int ConvertBatch(Engine& engine, const std::vector<std::string>& args);
/// Runs one batch file. `leading` starts the vector of every conversion (entry 0 the program
/// path); `currentInput` is the file of "go" lines (nullptr: none). True when every line ran.
bool RunBatch(Engine& engine, const std::string& batchFile, const std::vector<std::string>& leading,
              const std::string* currentInput);
/// One conversion of a batch run, as planned by PlanBatch.
struct BatchStep {
  std::vector<std::string> words;  ///< its argument vector (entry 0 the program path), file last
  std::string searchDirectory;     ///< the batch search directory while it is converted
  int counter = 0;                 ///< the batch counter while it is converted (1 for the first)
};
/// The conversions that ConvertBatch(engine, args) would run, in order, read from the batch file
/// without converting anything or reporting anything; "search" lines set the engine's search
/// directory as the run would (plan on an engine of its own). False, with `steps` empty, when
/// the run cannot be planned apart from running it: the batch file cannot be read, or a line
/// would fail (ConvertBatch reports those as it goes).
bool PlanBatch(Engine& engine, const std::vector<std::string>& args, std::vector<BatchStep>& steps);
/// Regular files matching a wildcard pattern, in byte order, each with the pattern's directory.
/// A pattern that matches nothing gives an empty list; `ok` is false only when the listing failed.
std::vector<std::string> ListWildcard(const std::string& pattern, bool* ok);

/// `text` as one /bin/sh word: in single quotes, each ' written as '\'' and NUL bytes dropped.
std::string ShellQuote(std::string_view text);
/// Expands `text` for the command interpreter: every literal value it takes in (document text:
/// literal settings, literal arguments of the running user functions, sub-matches) is inserted as
/// one ShellQuote'd word, so document text can never become shell syntax.
std::string ExpandShellText(Engine& engine, std::string_view text);
/// The Script step of a user function: expands `text` with ExpandShellText and runs it with
/// RunScript. Inside another script's expansion nothing runs and the result is empty.
std::string RunScriptStep(Engine& engine, std::string_view text);
/// Writes `script` to the script file (the output's base name + ".sh", or a fresh name beside it
/// when that file exists already), sets ScriptFile to its name (a literal value), runs the command
/// line that "$ScriptExecCmd;" expands to (ExpandShellText) through /bin/sh, and returns what the
/// command wrote to its standard output. The script file is removed afterwards. An empty command
/// runs nothing. Failures: MSG_TMP_OPEN_FAIL (no file; empty result), MSG_SCRIPT_FAIL.
std::string RunScript(Engine& engine, std::string_view script);

}  // namespace quillo
