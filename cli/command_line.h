// quillocmd's command line: the long options (--help, --output FILE, --keep-going ...) read into
// the short option words the engine's argument-vector conversion understands, plus the choices
// that belong to the program itself (quiet, verbose, keep going). Short options and input names
// pass through unchanged, so every command line the engine accepts means what it meant before.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo::cli {

struct CommandLine {
  /// The vector for the engine: entry 0 the program path, then the option words and inputs.
  std::vector<std::string> engineWords;
  bool help = false;                  ///< --help: print the help and exit 0
  bool version = false;               ///< --version: print the version and exit 0
  bool quiet = false;                 ///< --quiet: only errors on standard error
  bool verbose = false;               ///< --verbose: list the files written
  bool keepGoing = false;             ///< --keep-going: convert every input it can, fail at the end
  bool pageToStandardOutput = false;  ///< -o - (or "-" as the input without -o)
  bool noGraphics = false;            ///< the user asked for no pictures (-G)
  /// -j N, --jobs N: inputs converted at once; 0 when not given (the number of cores).
  int jobs = 0;
  bool recursive = false;  ///< -r, --recursive: a directory input means the RTF files under it
  std::vector<std::string> inputs;  ///< the input words, as given ("-" for standard input)
  /// A usage error found here (unknown long option, missing value, options that cannot go
  /// together). The program prints it and exits 2 without converting anything.
  std::string error;
};

/// Reads `words` (the command line without the program name). `programPath` becomes entry 0 of
/// CommandLine::engineWords.
///
/// - "--name" and "--name=value" long options; a value may also be the next word, whatever it
///   begins with. Exact names only. "--" ends the options: later words are inputs, and one that
///   begins with '-' is passed as "./word".
/// - Short options are passed through with their parameter word (-o, -T, -D, -h, -P, -X, -b take
///   the next word when written alone), so "-o --x" names the file "--x".
/// - -j N (also -jN, --jobs N) and -r (--recursive) are quillocmd's own and are not passed on.
/// - "-" is standard input. --batch moves the batch switch to the front, where the engine
///   looks for it.
/// - With the page on standard output (-o - or --output -, or "-" as the input without an
///   output name) the run writes exactly one page: settings that would write other pages or
///   pictures are fixed off for it, and --split, --contents, --index, --frames, --batch,
///   several inputs and patterns are usage errors.
CommandLine ParseCommandLine(const std::vector<std::string>& words, const std::string& programPath);

/// True when an input word is a pattern ("*" or "?") the engine lists.
bool IsPattern(std::string_view word);

/// The text of --help.
std::string HelpText();

}  // namespace quillo::cli
