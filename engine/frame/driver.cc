#include "frame/driver.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "frame/batch.h"
#include "frame/output_files.h"
#include "output/line_writer.h"
#include "rtf/charmaps.h"
#include "rtf/reader.h"
#include "structure/structure.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/translate.h"
#include "trn/translation_file.h"

namespace quillo {

Engine& GlobalEngine() {
  static Engine engine;  // the one process-wide engine of the C interface and quillocmd
  return engine;
}

namespace {

// ---- Token handlers --------------------------------------------------------------------------
// The translation layer owns what each token class does in each pass.
void InstallTokenHandlers(Engine& engine) { translate::InstallHandlers(engine); }

/// True when an output name names a folder: it ends in '/' or is an existing directory.
bool NamesFolder(const std::string& name) {
  if (!name.empty() && name.back() == '/') return true;
  struct stat st;
  return stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// Directory of a path ("." when it has none).
std::string DirectoryOrDot(std::string_view path) {
  std::string_view dir = DirectoryPart(path);
  if (dir.empty()) return path.size() && path[0] == '/' ? "/" : ".";
  return std::string(dir);
}

// ---- Input -----------------------------------------------------------------------------------

/// The reader's token belongs to the input it was read from: a message reported after that input
/// (between the inputs of a run, in the set-up of the next one) must not point into it.
void ForgetCurrentToken(Engine& engine) { engine.reader.token.tokClass = -1; }

/// Reads everything `fd` delivers into `text`, at most `limit` bytes. False with errno set when a
/// read fails or the stream is longer than the limit (EFBIG).
bool ReadWholeStream(int fd, std::string& text, std::size_t limit) {
  text.clear();
  constexpr std::size_t kBlock = 64 * 1024;
  for (;;) {
    const std::size_t used = text.size();
    text.resize(used + kBlock);
    const ssize_t got = read(fd, text.data() + used, kBlock);
    text.resize(used + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (text.size() > limit) {
      errno = EFBIG;
      return false;
    }
  }
  text.shrink_to_fit();
  return true;
}

/// Frees the document read from standard input or a pipe (the input is done with it).
void ReleaseInputText(Engine& engine) {
  engine.driver.inputText.clear();
  engine.driver.inputText.shrink_to_fit();
}

/// Opens input `name` for reading. A regular file is read from the disk. Standard input ("-") and
/// pipes cannot be read twice, so they are read whole into DriverState::inputText first and read
/// from memory. Directories and devices are no inputs. nullptr, with FileTable::lastError set,
/// when the input cannot be opened.
FileEntry* OpenInput(Engine& engine, const std::string& name) {
  DriverState& d = engine.driver;
  int fd = STDIN_FILENO;
  if (name != kStandardStreamName) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) {
      engine.files.lastError = errno;
      return nullptr;
    }
    if (S_ISREG(st.st_mode)) return FileOpen(engine.files, name, "rb");
    if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
      // A directory opens under fopen but reads as an error; a device may never end.
      engine.files.lastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return nullptr;
    }
    fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      engine.files.lastError = errno;
      return nullptr;
    }
  }
  const bool whole = ReadWholeStream(fd, d.inputText, DriverState::kMaxStreamInput);
  const int error = errno;
  if (fd != STDIN_FILENO) close(fd);
  if (!whole) {
    engine.files.lastError = error;
    ReleaseInputText(engine);
    return nullptr;
  }
  return FileOpenText(engine.files, name, d.inputText.data(),
                      static_cast<long>(d.inputText.size()));
}

}  // namespace

namespace {

// ---- Passes ----------------------------------------------------------------------------------

/// Tokens between two looks at the read position for the host's progress hook: a bar needs no
/// more than a few hundred updates, and the look costs a division.
constexpr int kProgressHookInterval = 4096;

void TellProgressHook(Engine& engine) {
  DriverState& d = engine.driver;
  d.progressCountdown = kProgressHookInterval;
  if (d.inputSize <= 0) return;
  long position = FileTell(d.input);
  int percent = static_cast<int>((static_cast<long long>(position) * 50) / d.inputSize);
  if (d.pass == 2) percent += 50;
  percent = std::clamp(percent, 0, 100);
  if (percent == d.progressReported) return;
  d.progressReported = percent;
  d.progressHook(percent, d.progressHookData);
}

/// The progress reports after one token: MSG_PERCENT at each PercentCallback step (at most one
/// per token), and the host's progress hook.
void WatchProgress(Engine& engine) {
  DriverState& d = engine.driver;
  if (d.progressHook && --d.progressCountdown <= 0) TellProgressHook(engine);
  if (d.progressStep > 0 && d.inputSize > 0) {
    long position = FileTell(d.input);
    int off = static_cast<int>((static_cast<long long>(position) * 50) / d.inputSize);
    if (d.pass == 2) off += 50;
    if (d.progressThreshold < off) {
      ReportMessage(engine, "MSG_PERCENT", {off});
      d.progressThreshold += d.progressStep;
    }
  }
}

/// Reads and routes every token of one pass, reporting progress. Returns true when the whole
/// input was read (false when the stop flag ended the pass).
bool ReaderLoop(Engine& engine) {
  return rtf::RouteTokens(engine, engine.driver.watchProgress ? WatchProgress : nullptr);
}

/// Resets the translation layer: everything at a conversion's set-up, the pass state (groups,
/// page size and margins, paragraph and character state) at the switch to pass 2.
void ResetDocumentState(Engine& engine, bool newConversion) {
  if (newConversion) {
    translate::ResetConversion(engine);
    structure::ResetStructure(engine);
  }
  translate::ResetPass(engine);
}

void SwitchToPass2(Engine& engine) {
  DriverState& d = engine.driver;
  ResetDocumentState(engine, false);
  RunHook(engine, "$Pass1End;");
  structure::ResolveHierarchy(engine);
  translate::AnalyseTables(engine);
  d.pass = 2;
  SetSetting(engine, "OverrideDefs", "0");
  SetSetting(engine, "htmlTranPass", "2");
  FileSeek(d.input, 0, 0);
  rtf::ReaderInit(engine);
  engine.reader.input = d.input;
  engine.reader.inputSize = d.inputSize;
  InstallTokenHandlers(engine);
  rtf::SelectCharset(engine, 0, 999);
  if (engine.settings.mirrors.memoryCheck) MemoryReport(engine, "At start of Pass2");
  OpenOutputFile(engine, 0);
}

int Setup(Engine& engine, int argc, char** argv);

/// Runs the set-up again with "-DTrnFile=`trnFile`" before the other options. Returns what Setup
/// returns, the input's index counted in the caller's vector.
int HandOver(Engine& engine, int argc, char** argv, const std::string& trnFile) {
  std::vector<std::string> words(argv, argv + argc);
  words.insert(words.begin() + 1, "-DTrnFile=" + trnFile);
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  struct Flag {
    bool& flag;
    explicit Flag(bool& f) : flag(f) { flag = true; }
    ~Flag() { flag = false; }
  } handingOver(engine.driver.handingOver);
  const int position = Setup(engine, argc + 1, pointers.data());
  return position > 0 ? position - 1 : position;
}

/// Prepares one input. Returns the index of the input entry (> 0), 0 when the conversion must not
/// go on, -1 for an argument error.
/// Forgets what the previous input left: the error file and the place of messages, the settings,
/// the expansion and document state, and the driver's values of one input.
void ResetForInput(Engine& engine) {
  DriverState& d = engine.driver;
  engine.messages.errorFileClosed = false;
  // Until this input's output name is known its messages go to standard error: writing them to
  // the previous input's error file would overwrite that file.
  engine.messages.errorFileName.clear();
  // Until this input's first token is read, messages name no position: the last token of the
  // previous input is not in this one.
  ForgetCurrentToken(engine);
  if (engine.settings.mirrors.memoryCheck) MemoryReport(engine, "At start of File Processing");
  ResetSettings(engine);
  ResetExpansion(engine);
  SetSetting(engine, "htmlTranPass", "1");
  ResetDocumentState(engine, true);
  engine.settings.paths.inputDirectory.clear();
  engine.settings.paths.standardOutput = false;
  d.inputName.clear();
  d.inputPosition = -1;
  d.progressReported = -1;
  d.progressCountdown = 0;
  d.pass = 1;
  d.outputOpen = false;
  d.currentFile = 0;
}

/// Opens the input `name` (argument `position`) and derives the output name from it unless one
/// was given. False, after MSG_CANT_OPEN, when it cannot be opened.
bool OpenFileInput(Engine& engine, const std::string& name, int position) {
  DriverState& d = engine.driver;
  d.inputName = name;
  d.inputPosition = position;
  d.input = OpenInput(engine, name);
  if (!d.input) {
    ReportMessage(engine, "MSG_CANT_OPEN", {name});
    return 0;
  }
  ProtectInput(engine.files, d.input);  // no output of this conversion may replace it
  const bool fromStandardInput = name == kStandardStreamName;
  // The output name comes from the input's name unless one was given; one that names a folder
  // ("out/", or an existing directory) means the input's name in that folder. Names from the
  // command line or the file system are literal values, never expanded.
  const std::string given = SettingValue(engine, "OutFileName");
  if (given.empty() && fromStandardInput) {
    // A document read from standard input is written to standard output, as filters do.
    SetLiteralSetting(engine, "OutFileName", kStandardStreamName);
  } else if (given.empty() || NamesFolder(given)) {
    std::string base = DefaultOutputBase(name);
    if (!given.empty()) {
      std::string folder = given;
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      base = (folder == "/" ? std::string() : folder) + "/" + std::string(BaseName(base));
    }
    if (base.size() > 256) base.resize(256);
    const std::string outName = base + "." + SettingValue(engine, "HtmlExt");
    // A folder given as an option is replaced (its protection notwithstanding); an empty name
    // given as one ("-D OutFileName=", output to standard output) stays.
    if (given.empty())
      SetLiteralSetting(engine, "OutFileName", outName);
    else
      SetBuiltin(engine, kSettingOutFileName, outName, true);
  }
  SetLiteralSetting(engine, "InputFile", name);
  engine.settings.paths.inputDirectory = fromStandardInput ? "." : DirectoryOrDot(name);
  return true;
}

/// The start time (StartTimeUTC), the platform, the input's size and the progress step.
void NoteStart(Engine& engine) {
  DriverState& d = engine.driver;
  d.startTime = std::time(nullptr);
  // The start in UTC as ISO 8601 writes it, for the dates of publication formats (EPUB's
  // dcterms:modified); a -D StartTimeUTC=... keeps its own value.
  std::tm utc{};
  char stamp[32] = "";
  if (gmtime_r(&d.startTime, &utc)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  SetSetting(engine, "StartTimeUTC", stamp);
  SetSetting(engine, "TransPlatform", "Linux");
  SetSetting(engine, "htmlTranPass", "1");

  FileSeek(d.input, 0, 2);
  d.inputSize = FileTell(d.input);
  FileSeek(d.input, 0, 0);
  d.progressStep = std::atoi(StrExp(engine, "$PercentCallback;").c_str());
  d.progressThreshold = d.progressStep;
  d.watchProgress = (d.progressStep > 0 && d.inputSize > 0) || d.progressHook != nullptr;
}

/// Starts the reader on the input: the output map, the first token (which must open a group),
/// the token handlers, the first character set and the Pass1Start hook. False, after
/// MSG_MALFORMED_RTF, when the input is no RTF.
bool StartReading(Engine& engine) {
  DriverState& d = engine.driver;
  rtf::ReaderInit(engine);
  engine.reader.input = d.input;
  engine.reader.inputSize = d.inputSize;
  std::string outMap = SettingValue(engine, "OutMap");
  if (rtf::RTFReadOutputMap(engine, outMap, true) == 0)
    ReportMessage(engine, "ERR_OUTPUT_MAP", {outMap});

  if (rtf::GetToken(engine) != rtf::kClassGroup || engine.reader.token.major != 0) {
    ReportMessage(engine, "MSG_MALFORMED_RTF", {"{"});
    return false;
  }
  rtf::UngetToken(engine);
  InstallTokenHandlers(engine);
  // Text starts in charset 0; a pending font name (999) does not keep an entry from being chosen.
  rtf::SelectCharset(engine, 0, 999);
  if (engine.settings.mirrors.memoryCheck) MemoryReport(engine, "At start of Pass 1");
  RunHook(engine, "$Pass1Start;");
  return true;
}

int Setup(Engine& engine, int argc, char** argv) {
  DriverState& d = engine.driver;
  ResetForInput(engine);
  SetSetting(engine, "OverrideDefs", "1");
  int position = ParseOptions(engine, argc, argv);
  if (position <= 0) {
    SetSetting(engine, "OverrideDefs", "0");
    return position;
  }
  SetSetting(engine, "OverrideDefs", "0");
  // Safe mode is what the options say; nothing read later (a translation file) can turn it off.
  engine.settings.safeMode = SettingValue(engine, "SafeMode") == "1";

  bool haveInput = position < argc;
  if (!haveInput && !engine.files.memoryOutputMode) {
    ReportMessage(engine, "MSG_NO_INPUT_FILE");
    return -1;
  }
  if (!haveInput) {
    // A string conversion: the text registered as "-.rtf" is the input.
    engine.settings.paths.inputDirectory = engine.settings.paths.programDirectory;
    // (An output name given as an option is protected and stays.)
    SetLiteralSetting(engine, "OutFileName", "-." + SettingValue(engine, "HtmlExt"));
    d.input = FileOpen(engine.files, "-.rtf", "r");
  } else {
    std::string name = argv[position];
    if (!OpenFileInput(engine, name, position)) return 0;
  }

  ApplyOutputName(engine);
  NoteStart(engine);

  std::string trnFile = SettingValue(engine, "TrnFile");
  if (LoadTranslationFile(engine, trnFile) == 0) ReportMessage(engine, "ERR_TRAN_FILE", {trnFile});
  if (d.stop) return 0;
  // A translation file, or the options editor's command-line file that it reads, may name another
  // translation file (the user's choice of output language): the set-up starts over with that
  // one, as if it had been given with -D, so that nothing set by the first file remains. Once
  // only, so that two files naming each other cannot loop; an option given on the command line
  // is protected and never changes here.
  const std::string named = SettingValue(engine, "TrnFile");
  if (named != trnFile && !d.handingOver) return HandOver(engine, argc, argv, named);

  if (!StartReading(engine)) return 0;
  return haveInput ? position : argc;
}

/// Pass 1, pass 2 unless stopped, and the finish of the last output file.
void RunPasses(Engine& engine) {
  DriverState& d = engine.driver;
  bool reachedEnd = ReaderLoop(engine);
  if (!d.stop) {
    SwitchToPass2(engine);
    reachedEnd = ReaderLoop(engine);
  }
  FinishOutputFile(engine, reachedEnd);
  // A conversion stopped early still finishes its error file before the sweep closes it.
  CloseErrorFile(engine);
}

/// Ends a conversion that was abandoned: the error file is finished, every file is closed and
/// memory outputs are dropped.
void Abandon(Engine& engine) {
  engine.driver.outputOpen = false;
  engine.driver.main.file = nullptr;
  engine.driver.footnotes.file = nullptr;
  engine.driver.footnoteFile = nullptr;
  try {
    CloseErrorFile(engine);
  } catch (...) {
    // The error file is best effort once the conversion is already lost.
  }
  // The temporary file this conversion created (only that one: its name is set once created).
  if (engine.driver.footnoteFileName.size() && !engine.files.memoryOutputMode)
    std::remove(engine.driver.footnoteFileName.c_str());
  engine.driver.footnoteFileName.clear();
  int ignored = 0;
  FileSweep(engine, true, &ignored);
}

/// Owned copy of an argument vector whose entries the driver may blank out.
struct ArgVector {
  std::vector<std::string> words;
  std::vector<char*> pointers;
  ArgVector(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) words.emplace_back(argv && argv[i] ? argv[i] : "");
    Refresh();
  }
  void Refresh() {
    pointers.clear();
    for (auto& w : words) pointers.push_back(w.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char** argv() { return pointers.data(); }
};

int ConvertArguments(Engine& engine, ArgVector& args);

/// Counts the input that set-up named as one that failed.
void TallyFailure(Engine& engine) {
  DriverState& d = engine.driver;
  if (d.inputName.empty()) return;  // -V, or a failure before any input was named
  ++d.tally.failed;
  if (d.tally.failedInputs.size() < RunTally::kMaxNames)
    d.tally.failedInputs.push_back(d.inputName);
}

int ConvertEachInput(Engine& engine, ArgVector& args) {
  DriverState& d = engine.driver;
  int position = -1;
  bool anyFailed = false;
  while (position < args.argc() - 1) {
    d.stop = false;
    bool converted = true;
    try {
      position = Setup(engine, args.argc(), args.argv());
      if (position == -1) {
        int ignored = 0;
        FileSweep(engine, true, &ignored);
        ReleaseInputText(engine);
        return -1;
      }
      if (position == 0) {
        // The error file is finished before the sweep closes every file, so it gets its ending.
        CloseErrorFile(engine);
        int ignored = 0;
        FileSweep(engine, true, &ignored);
        converted = false;
      } else {
        RunPasses(engine);
      }
    } catch (const ConversionAbandoned&) {
      Abandon(engine);
      converted = false;
    } catch (const std::bad_alloc&) {
      Abandon(engine);
      converted = false;
    }
    d.input = nullptr;
    ForgetCurrentToken(engine);
    if (!converted) {
      ReleaseInputText(engine);
      TallyFailure(engine);
      anyFailed = true;
      position = d.inputPosition;
      if (!d.keepGoing || position <= 0 || position >= args.argc()) return 1;
      // Going on: the failed input is passed over like a converted one.
      args.words[position].clear();
      args.Refresh();
      continue;
    }
    ++d.tally.converted;
    if (position < args.argc()) {
      args.words[position].clear();
      args.Refresh();
    }
    int ignored = 0;
    FileSweep(engine, true, &ignored);
    ReleaseInputText(engine);
    if (position >= args.argc()) break;
  }
  return anyFailed ? 1 : 0;
}

int ConvertArguments(Engine& engine, ArgVector& args) {
  if (!engine.driver.batchRunning && args.argc() > 1 &&
      std::strncmp(args.words[1].c_str(), "-b", 2) == 0) {
    std::string batch = args.words[1].size() > 2 ? args.words[1].substr(2)
                        : args.argc() > 2        ? args.words[2]
                                                 : std::string();
    if (batch.empty()) {
      ReportMessage(engine, "MSG_PARAM_REQUIRED", {"-b"});
    } else {
      return ConvertBatch(engine, args.words);
    }
  }
  // A batch run hands over single files: its patterns are listed by the batch runner.
  const std::string& last = args.words.back();
  if (!engine.driver.batchRunning && args.argc() > 1 &&
      last.find_first_of("*?") != std::string::npos && last[0] != '-') {
    bool ok = true;
    std::vector<std::string> names = ListWildcard(last, &ok);
    if (!ok) return -1;
    engine.batch.counter = 0;
    int result = 0;
    for (const std::string& name : names) {
      ArgVector copy = args;
      copy.words.back() = name;
      copy.Refresh();
      ++engine.batch.counter;
      // A listed name is a file, never a pattern again, even when it contains '*' or '?'
      // (a file named "a*.rtf" would otherwise list itself without end).
      int rc = ConvertEachInput(engine, copy);
      if (rc > 0) result = rc;
      if (rc > 0 && !engine.driver.keepGoing) break;
    }
    engine.batch.counter = 0;
    return result > 0 ? result : 0;
  }
  return ConvertEachInput(engine, args);
}

}  // namespace

int EngineInit(Engine& engine, const char* programPath) {
  // The exports pass an empty entry 0: that keeps the directory QuilloInit set.
  if (programPath && *programPath) {
    std::string_view path(programPath);
    std::string_view dir = DirectoryPart(path);
    engine.settings.paths.programDirectory =
        dir.empty() ? (path.size() && path[0] == '/' ? "/" : ".") : std::string(dir);
  }
  if (engine.library.initialised) return engine.driver.stop ? 1 : 0;
  try {
    engine.messages.errorFileName.clear();
    engine.settings.paths.libraryDirOverride.clear();
    ResetSettings(engine);
    rtf::ReaderInit(engine);
  } catch (const ConversionAbandoned&) {
    CloseErrorFile(engine);
    return 1;
  } catch (const std::bad_alloc&) {
    return 1;
  }
  engine.library.initialised = true;
  return engine.driver.stop ? 1 : 0;
}

/// What every conversion entry does before anything else: a stop left by the previous
/// conversion ($Exit(), an "eof" message) belongs to that conversion and must not refuse this
/// one. A batch keeps the messages of all its files.
void BeginConversion(Engine& engine) {
  engine.driver.stop = false;
  if (!engine.driver.batchRunning) ClearRecordedMessages(engine);
}

int ConvertFiles(Engine& engine, int argc, char** argv) {
  BeginConversion(engine);
  engine.messages.errorFileClosed = false;
  int rc = EngineInit(engine, argc > 0 && argv ? argv[0] : nullptr);
  if (rc != 0) return rc;
  engine.files.memoryOutputMode = false;
  // The conversions of a batch run add to the created-files list and the tally of the run.
  if (!engine.driver.batchRunning) {
    engine.files.outputFileCounter = 0;
    engine.batch.counter = 0;
    BeginFileRun(engine.files);
    engine.driver.tally = RunTally();
  }
  SetSetting(engine, "CreatedFiles", "");
  if (argc < 1 || !argv) {
    char empty[] = "";
    char* vector[] = {empty, nullptr};
    ArgVector args(1, vector);
    return ConvertArguments(engine, args);
  }
  ArgVector args(argc, argv);
  return ConvertArguments(engine, args);
}

ConvertedOutput* ConvertString(Engine& engine, int argc, char** argv, const char* rtfText,
                               int* count) {
  return ConvertString(engine, argc, argv, std::string_view(rtfText ? rtfText : ""), count);
}

ConvertedOutput* ConvertString(Engine& engine, int argc, char** argv, std::string_view rtfText,
                               int* count) {
  int ignoredCount = 0;
  if (!count) count = &ignoredCount;
  BeginConversion(engine);
  if (EngineInit(engine, argc > 0 && argv ? argv[0] : nullptr) != 0) {
    *count = -1;
    return nullptr;
  }
  *count = 0;
  engine.files.memoryOutputMode = true;
  engine.files.outputFileCounter = 0;
  BeginFileRun(engine.files);
  FileOpenText(engine.files, "-.rtf", rtfText.data(), static_cast<long>(rtfText.size()));
  char empty[] = "";
  char* defaultVector[] = {empty, nullptr};
  ArgVector args(argc > 0 && argv ? argc : 1, argc > 0 && argv ? argv : defaultVector);
  engine.driver.stop = false;
  ConvertedOutput* results = nullptr;
  // Option words may name "-" as the input: the text read from standard input goes at the end.
  struct InputRelease {
    Engine& engine;
    ~InputRelease() {
      ReleaseInputText(engine);
      ForgetCurrentToken(engine);
    }
  } release{engine};
  try {
    int position = Setup(engine, args.argc(), args.argv());
    if (position == -1) {
      FileSweep(engine, true, count);
      *count = 0;
      return nullptr;
    }
    if (position == 0) {
      CloseErrorFile(engine);
      FileSweep(engine, true, count);
      *count = 0;
      return nullptr;
    }
    RunPasses(engine);
    results = FileSweep(engine, false, count);
  } catch (const ConversionAbandoned&) {
    Abandon(engine);
    *count = 0;
    return nullptr;
  } catch (const std::bad_alloc&) {
    Abandon(engine);
    *count = 0;
    return nullptr;
  }
  engine.driver.input = nullptr;
  return results;
}

LibraryState::~LibraryState() { FreeConvertedOutputs(results, resultCount); }

void FreeConvertedOutputs(ConvertedOutput* outputs, int count) {
  if (!outputs) return;
  for (int i = 0; i < count; ++i) {
    std::free(outputs[i].name);
    std::free(outputs[i].data);
  }
  std::free(outputs);
}

}  // namespace quillo
