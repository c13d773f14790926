#include "cli/command_line.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"

namespace quillo::cli {
namespace {

/// What a long option does.
enum class LongKind {
  kHelp,
  kVersion,
  kQuiet,
  kVerbose,
  kKeepGoing,
  kSafe,
  kOutput,
  kTitle,
  kDefine,
  kSplit,
  kTrn,
  kBatch,
  kContents,
  kIndex,
  kFrames,
  kJobs,
  kRecursive,
};

struct LongOption {
  const char* name;
  bool takesValue;
  LongKind kind;
};

constexpr LongOption kLongOptions[] = {
    {"help", false, LongKind::kHelp},
    {"version", false, LongKind::kVersion},
    {"quiet", false, LongKind::kQuiet},
    {"verbose", false, LongKind::kVerbose},
    {"keep-going", false, LongKind::kKeepGoing},
    {"safe", false, LongKind::kSafe},
    {"output", true, LongKind::kOutput},
    {"title", true, LongKind::kTitle},
    {"define", true, LongKind::kDefine},
    {"split", true, LongKind::kSplit},
    {"trn", true, LongKind::kTrn},
    {"batch", true, LongKind::kBatch},
    {"contents", false, LongKind::kContents},
    {"index", false, LongKind::kIndex},
    {"frames", false, LongKind::kFrames},
    {"jobs", true, LongKind::kJobs},
    {"recursive", false, LongKind::kRecursive},
};

const LongOption* FindLongOption(std::string_view name) {
  for (const LongOption& option : kLongOptions)
    if (name == option.name) return &option;
  return nullptr;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

/// Reads the command line word by word. Options the run needs to know about (an output on
/// standard output, pages besides the main one) are noted as they pass.
class Reader {
 public:
  Reader(const std::vector<std::string>& words, CommandLine& line) : words_(words), line_(line) {}

  void Run() {
    for (index_ = 0; index_ < words_.size() && line_.error.empty(); ++index_) {
      const std::string& word = words_[index_];
      if (optionsEnded_) {
        // After "--" a word that begins with '-' is a file, which the engine would read as an
        // option: "./" keeps it a file name.
        AddInput(word.size() > 1 && word[0] == '-' ? "./" + word : word);
      } else if (word == "--") {
        optionsEnded_ = true;
      } else if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
        ReadLongOption(word.substr(2));
      } else if (word == "-" || word.empty() || word[0] != '-') {
        AddInput(word);
      } else {
        ReadShortOption(word);
      }
    }
  }

  std::vector<std::string> translated;        ///< option words and inputs for the engine, in order
  std::string batchFile;                      ///< --batch FILE
  bool haveBatch = false;                     ///< --batch or -b
  bool outputNamed = false;                   ///< -o or --output (any name)
  bool extraPages = false;                    ///< split, contents, index or frames asked for
  std::string extraPagesOption;               ///< the option that asked, for the message
  std::size_t lastInput = std::string::npos;  ///< index of the last input in `translated`

 private:
  void AddInput(const std::string& word) {
    if (!word.empty()) {
      line_.inputs.push_back(word);
      lastInput = translated.size();
    }
    translated.push_back(word);
  }

  void NoteOutput(std::string_view name) {
    outputNamed = true;
    if (name == kStandardOutputName) line_.pageToStandardOutput = true;
  }

  void NoteExtraPages(std::string_view option) {
    if (extraPages) return;
    extraPages = true;
    extraPagesOption = option;
  }

  /// The number of -j / --jobs: 1 to kMaxJobs.
  void ReadJobs(std::string_view option, const std::string& value) {
    if (value.empty() || value.size() > 4 ||
        value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1 ||
        std::stoi(value) > kMaxJobs) {
      line_.error = "option '" + std::string(option) + "' needs a number of jobs from 1 to " +
                    std::to_string(kMaxJobs) + ", not '" + value + "'";
      return;
    }
    line_.jobs = std::stoi(value);
  }

  void ReadShortOption(const std::string& word) {
    // quillocmd's own short options: never passed to the engine.
    if (word == "-r") {
      line_.recursive = true;
      return;
    }
    if (word.compare(0, 2, "-j") == 0) {
      if (word.size() > 2) {
        ReadJobs("-j", word.substr(2));
      } else if (index_ + 1 < words_.size()) {
        ReadJobs("-j", words_[++index_]);
      } else {
        line_.error = "option '-j' needs a value";
      }
      return;
    }
    // The engine takes a batch switch only as the first word: -b FILE goes there wherever it
    // stands, as --batch does (without its FILE the engine reports the missing parameter).
    if (word.compare(0, 2, "-b") == 0 && (word.size() > 2 || index_ + 1 < words_.size())) {
      if (haveBatch) {
        line_.error = "only one batch file can be given";
        return;
      }
      haveBatch = true;
      batchFile = word.size() > 2 ? word.substr(2) : words_[++index_];
      return;
    }
    translated.push_back(word);
    std::string parameter;
    if (OptionTakesNextWord(word)) {
      if (index_ + 1 >= words_.size()) return;  // the engine reports the missing parameter
      parameter = words_[++index_];
      translated.push_back(parameter);
    } else if (word.size() > 2) {
      parameter = word.substr(2);
    }
    const char letter = word[1];
    const bool alone = word.size() == 2;
    if (letter == 'o') {
      NoteOutput(parameter);
    } else if (letter == 'h') {
      NoteExtraPages("-h");
    } else if (letter == 'b') {
      haveBatch = true;
    } else if (letter == 'D') {
      NoteDefinition(parameter);
    } else if (alone && (letter == 'c' || letter == 'x' || letter == 'F')) {
      NoteExtraPages(word);
    } else if (alone && letter == 'G') {
      line_.noGraphics = true;
    }
  }

  /// A definition that sets the output name counts as -o.
  void NoteDefinition(std::string_view definition) {
    std::size_t equals = definition.find('=');
    if (equals == std::string_view::npos) return;
    if (SameNameIgnoringCase(definition.substr(0, equals), "OutFileName"))
      NoteOutput(definition.substr(equals + 1));
  }

  void ReadLongOption(std::string_view text) {
    std::size_t equals = text.find('=');
    std::string_view name = text.substr(0, equals);
    const LongOption* option = FindLongOption(name);
    if (!option) {
      line_.error = "unknown option '--" + std::string(name) + "'";
      return;
    }
    std::string value;
    if (equals != std::string_view::npos) {
      if (!option->takesValue) {
        line_.error = "option '--" + std::string(name) + "' takes no value";
        return;
      }
      value = text.substr(equals + 1);
    } else if (option->takesValue) {
      if (index_ + 1 >= words_.size()) {
        line_.error = "option '--" + std::string(name) + "' needs a value";
        return;
      }
      value = words_[++index_];
    }
    if (option->takesValue && value.empty()) {
      line_.error = "option '--" + std::string(name) + "' needs a value that is not empty";
      return;
    }
    ApplyLongOption(option->kind, value);
  }

  /// Does what a long option says, with its value (empty for one that takes none).
  void ApplyLongOption(LongKind kind, const std::string& value) {
    switch (kind) {
      case LongKind::kHelp:
        line_.help = true;
        break;
      case LongKind::kVersion:
        line_.version = true;
        break;
      case LongKind::kQuiet:
        line_.quiet = true;
        line_.verbose = false;
        break;
      case LongKind::kVerbose:
        line_.verbose = true;
        line_.quiet = false;
        break;
      case LongKind::kKeepGoing:
        line_.keepGoing = true;
        break;
      case LongKind::kSafe:
        translated.insert(translated.end(), {"-D", "SafeMode=1"});
        break;
      case LongKind::kOutput:
        translated.insert(translated.end(), {"-o", value});
        NoteOutput(value);
        break;
      case LongKind::kTitle:
        translated.insert(translated.end(), {"-T", value});
        break;
      case LongKind::kDefine:
        if (value[0] == '=') {
          line_.error = "option '--define' needs NAME=VALUE, not '" + value + "'";
          return;
        }
        translated.insert(translated.end(), {"-D", value});
        NoteDefinition(value);
        break;
      case LongKind::kSplit:
        if (value.find_first_not_of("0123456789") != std::string::npos || value.size() > 4) {
          line_.error = "option '--split' needs a heading depth (a number), not '" + value + "'";
          return;
        }
        translated.insert(translated.end(), {"-h", value});
        NoteExtraPages("--split");
        break;
      case LongKind::kTrn:
        translated.insert(translated.end(), {"-D", "TrnFile=" + value});
        break;
      case LongKind::kBatch:
        if (haveBatch) {
          line_.error = "only one batch file can be given";
          return;
        }
        haveBatch = true;
        batchFile = value;
        break;
      case LongKind::kContents:
        translated.push_back("-c");
        NoteExtraPages("--contents");
        break;
      case LongKind::kIndex:
        translated.push_back("-x");
        NoteExtraPages("--index");
        break;
      case LongKind::kFrames:
        translated.push_back("-F");
        NoteExtraPages("--frames");
        break;
      case LongKind::kJobs:
        ReadJobs("--jobs", value);
        break;
      case LongKind::kRecursive:
        line_.recursive = true;
        break;
    }
  }

  static constexpr std::string_view kStandardOutputName = "-";
  /// More jobs than this only queue for the same cores and memory.
  static constexpr int kMaxJobs = 256;

  const std::vector<std::string>& words_;
  CommandLine& line_;
  std::size_t index_ = 0;
  bool optionsEnded_ = false;
};

/// Settings fixed for a run whose page goes to standard output: one page and no pictures. They
/// come first, so that the protection of option settings keeps the translation file from
/// turning them on again.
constexpr const char* kOnePageSettings[] = {
    "-DSplitDepth=0", "-DGenContents=0", "-DGenIndex=0", "-DGenFrames=0", "-DNoGraphics=1",
};

}  // namespace

bool IsPattern(std::string_view word) { return word.find_first_of("*?") != std::string_view::npos; }

CommandLine ParseCommandLine(const std::vector<std::string>& words,
                             const std::string& programPath) {
  CommandLine line;
  Reader reader(words, line);
  reader.Run();
  if (!line.error.empty() || line.help || line.version) return line;

  int standardInputs = 0;
  bool patterns = false;
  for (const std::string& input : line.inputs) {
    if (input == "-") ++standardInputs;
    if (IsPattern(input)) patterns = true;
  }
  if (standardInputs > 1) {
    line.error = "standard input ('-') can be read only once";
    return line;
  }
  // "-" without an output name is converted to standard output, as a filter would.
  if (standardInputs == 1 && !reader.outputNamed) line.pageToStandardOutput = true;
  if (line.pageToStandardOutput) {
    if (reader.extraPages)
      line.error = reader.extraPagesOption +
                   " writes more than one page, which cannot go to standard output: name an "
                   "output file with -o FILE";
    else if (reader.haveBatch)
      line.error = "a batch run cannot write to standard output";
    else if (line.inputs.size() > 1 || patterns)
      line.error = "only one input can be written to standard output";
    if (!line.error.empty()) return line;
  }

  line.engineWords.push_back(programPath);
  if (line.pageToStandardOutput)
    line.engineWords.insert(line.engineWords.end(), std::begin(kOnePageSettings),
                            std::end(kOnePageSettings));
  if (!reader.batchFile.empty())
    line.engineWords.insert(line.engineWords.end(), {"-b", reader.batchFile});
  // Options after the last input would apply to no input: the engine would convert the inputs
  // and then fail for want of one. They are moved to the front, so "quillocmd doc.rtf -o -"
  // means what it says. Options between inputs keep applying from there on; a batch run passes
  // every option word on wherever it stands.
  std::vector<std::string>& translated = reader.translated;
  if (!reader.haveBatch && reader.lastInput != std::string::npos &&
      reader.lastInput + 1 < translated.size())
    std::rotate(translated.begin(), translated.begin() + static_cast<long>(reader.lastInput) + 1,
                translated.end());
  line.engineWords.insert(line.engineWords.end(), translated.begin(), translated.end());
  return line;
}

std::string HelpText() {
  return R"(Usage: quillocmd [OPTION]... FILE...
Convert RTF documents to web pages (HTML, or the language of the translation
file). Each FILE.rtf becomes FILE.html beside it. A FILE of - reads standard
input and writes the page to standard output; a FILE with * or ? converts every
file it matches.

Output:
  -o, --output NAME       write the page to NAME (- for standard output)
  -T, --title TEXT        title of the page
      --trn FILE          translation file to use (default html.trn)
  -D, --define NAME=VALUE set a named setting (any number of times)
  -h, --split DEPTH       one page per heading down to level DEPTH
  -c, --contents          write a contents page
  -x, --index             write an index page
  -F, --frames            write a frame set around the pages
  -t                      put a contents list at the start of the page
  -s                      short (8.3) file names
  -i                      show pictures in the text (the default)
  -G                      write no pictures
  -P EXT                  file extension of pictures
  -X TEXT                 text of empty anchors

Running:
  -j, --jobs N            convert N inputs at once (default: number of cores)
  -r, --recursive         a directory FILE means every .rtf file under it
  -b, --batch FILE        run a batch file (the FILEs are its current input)
      --keep-going        convert every FILE it can, then fail if any failed
      --safe              safe mode for untrusted documents (see below)
      --quiet             print errors only
      --verbose           list the files written
  -V                      report the version as a message (exits with 1)
      --help              print this help and exit
      --version           print the version and the data folder in use, and exit

Messages go to FILE_err.htm beside the page and, as plain lines, to standard
error. With -o - no pictures are written and messages go to standard error only.

Several inputs (FILEs, a pattern, a directory with -r, the lines of a batch
file) are converted N at a time, each on an engine of its own; every page is
the same as one converted alone, and the messages, the list of files written
and the log keep the order of the inputs. A run over several inputs ends with a
summary line. Without --keep-going no further input is started after one fails
(a batch file converts all its lines). Inputs whose pages would have the same
name and a named output (-o) for several inputs are converted one after
another. The summary line (files, bytes, seconds, failures) is shown at
a terminal, with --verbose, and after a failure.

Safe mode (-D SafeMode=1) reads translation files and maps only from RTFLIBDIR,
the program's folder and the installed data folder (never from beside the
document) and refuses the functions that delete, create or run files. Use it
for documents from others.

After a failure quillocmd waits for Enter when a person sits at a terminal
(standard input and standard error are terminals); -D PauseOnErr=0 turns that
off.

Exit status: 0 when every FILE was converted; 1 when a conversion failed, and
for the usage errors the converter reports (unknown short option, missing
parameter, no FILE); 2 for usage errors in the long options, found before
anything is converted.
)";
}

}  // namespace quillo::cli
