// Batch conversion, wildcard listings and external scripts.
#include "frame/batch.h"

#include <fcntl.h>
#include <glob.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/field_scanner.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "frame/driver.h"
#include "trn/translation_file.h"

extern char** environ;

namespace quillo {

namespace {

// ---- Batch runs ------------------------------------------------------------------------------

/// Marks a batch run for its duration: the conversions it starts neither look for a batch switch
/// nor expand wildcards again, and their created files accumulate. The outermost scope starts
/// the batch counter; the runs of one batch switch for several inputs count on as one run.
class BatchRunScope {
 public:
  explicit BatchRunScope(Engine& engine)
      : engine_(engine), wasRunning_(engine.driver.batchRunning) {
    engine.driver.batchRunning = true;
    if (!wasRunning_) {
      engine.batch.counter = 0;
      BeginFileRun(engine.files);  // a batch is one run: its conversions never overwrite another's
    }
  }
  ~BatchRunScope() {
    engine_.driver.batchRunning = wasRunning_;
    if (!wasRunning_) engine_.batch.counter = 0;
  }
  BatchRunScope(const BatchRunScope&) = delete;
  BatchRunScope& operator=(const BatchRunScope&) = delete;

 private:
  Engine& engine_;
  bool wasRunning_;
};

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

/// Opens `path` for reading when it is a regular file. Anything else (a directory, a FIFO that
/// would block, a device that never ends) is refused, so a batch run always reads a finite file.
std::FILE* OpenRegularFile(const std::string& path, struct stat* st) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* stream = fdopen(fd, "r");
  if (!stream) close(fd);
  return stream;
}

/// Reads one line of at most kMaxLineLength characters without its line end ("\n" or "\r\n").
/// Text after a NUL byte is dropped. False at the end of the file.
bool ReadBatchLine(std::FILE* stream, std::string& line) {
  line.clear();
  int c = EOF;
  bool any = false;
  while (line.size() < BatchState::kMaxLineLength && (c = std::getc(stream)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return false;
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  std::size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  return true;
}

bool SameFile(const struct stat& a, const std::string& path) {
  struct stat b;
  return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// Reports a message of the batch itself. It goes to standard error: the error file of the
/// conversion before it is finished (or was never needed) and is not reopened.
void ReportBatchMessage(Engine& engine, std::string_view code, std::initializer_list<MsgArg> args) {
  engine.messages.errorFileName.clear();
  ReportMessage(engine, code, args);
}

/// Setting names compare without regard to ASCII case.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/// The setting an option line sets: OutFileName for "-oNAME", NAME for "-DNAME=VALUE".
std::string_view SettingOfOption(std::string_view option) {
  if (option.substr(0, 2) == "-o") return "OutFileName";
  return option.substr(2, option.find('=') - 2);
}

/// One batch file being run.
class BatchRunner {
 public:
  /// With `plan`, the conversions are added to it instead of run, and nothing is reported.
  BatchRunner(Engine& engine, const std::string& name, const struct stat& identity,
              const std::vector<std::string>& leading, const std::string* input,
              std::vector<BatchStep>* plan = nullptr)
      : engine_(engine),
        name_(name),
        identity_(identity),
        leading_(leading),
        input_(input),
        plan_(plan),
        vector_(leading) {}

  /// Runs every line. True when all of them ran without a failure.
  bool Run(std::FILE* stream) {
    std::string line;
    while (ReadBatchLine(stream, line)) {
      ++lineNumber_;
      Dispatch(line);
    }
    return ok_;
  }

 private:
  void Dispatch(std::string line) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return;
    line.erase(0, start);
    std::size_t hash = line.rfind('#');
    if (hash != std::string::npos) {
      line.resize(hash);
      line.erase(line.find_last_not_of(" \t") + 1);  // npos + 1 == 0 empties a blank line
    }
    if (line.empty()) return;

    std::size_t wordEnd = line.find_first_of(" \t=");
    std::string word = line.substr(0, wordEnd);
    auto rest = [&](const char* skip) -> std::string {
      if (wordEnd == std::string::npos) return {};
      std::size_t from = line.find_first_not_of(skip, wordEnd);
      return from == std::string::npos ? std::string() : line.substr(from);
    };

    if (word == "file") {
      ConvertLine(rest(" \t="));
    } else if (line == "go") {
      if (!input_) {
        Fail("MSG_CANT_OPEN", {"Batch filename"});
      } else {
        ConvertLine(*input_);
      }
    } else if (word == "search" || word == "look" || word == "--") {
      engine_.settings.paths.libraryDirOverride = rest(" \t=");
    } else if (word == "output") {
      // An output name is a file name, never expanded: it goes in as -o (an empty one, which
      // -o cannot carry, as the setting).
      const std::string name = rest(" \t=");
      AddOption(name.empty() ? "-DOutFileName=" : "-o" + name, line);
    } else if (word == "set") {
      AddOption("-D" + rest(" \t"), line);
    } else {
      ConvertLine(line);
    }
  }

  void AddOption(std::string option, const std::string& line) {
    // A setting made by an option cannot be changed by a later one (the first of two wins), yet
    // of two lines setting one name before a file the later is meant: it replaces the earlier.
    const std::string name(SettingOfOption(option));
    for (std::size_t i = leading_.size(); i < vector_.size(); ++i) {
      if (SameName(SettingOfOption(vector_[i]), name)) {
        vector_.erase(vector_.begin() + static_cast<long>(i));
        break;
      }
    }
    if (static_cast<int>(vector_.size() - leading_.size()) >= BatchState::kMaxOptionLines) {
      Fail("MSG_BATCH_OPTIONS", {name_, lineNumber_, line});
      return;
    }
    vector_.push_back(std::move(option));
  }

  /// Converts the file or the files of a pattern that a line names, then drops the options of
  /// the lines before it.
  void ConvertLine(const std::string& name) {
    if (name.find_first_of("*?") != std::string::npos) {
      bool listed = true;
      std::vector<std::string> names = ListWildcard(name, &listed);
      if (!listed) Fail("MSG_CANT_OPEN", {name});
      for (const std::string& file : names) Convert(file);
    } else {
      Convert(name);
    }
    vector_.resize(leading_.size());
  }

  void Convert(const std::string& file) {
    // A batch file is never an input of its own batch, and a batch switch inside a batch file
    // starts no second batch: either would only loop or misread the file as RTF.
    if (SameFile(identity_, file)) {
      Fail("MSG_BATCH_SELF", {name_, lineNumber_});
      return;
    }
    if (file.compare(0, 2, "-b") == 0) {
      std::string named = file.size() > 2 ? file.substr(2) : std::string();
      named.erase(0, std::min(named.find_first_not_of(" \t"), named.size()));
      if (SameFile(identity_, named) || named == name_)
        Fail("MSG_BATCH_SELF", {name_, lineNumber_});
      else
        Fail("MSG_BATCH_NESTED", {name_, lineNumber_, named});
      return;
    }
    ++engine_.batch.counter;
    vector_.push_back(file);
    if (plan_) {
      plan_->push_back({vector_, engine_.settings.paths.libraryDirOverride, engine_.batch.counter});
      vector_.pop_back();
      return;
    }
    std::vector<char*> argv;
    for (std::string& word : vector_) argv.push_back(word.data());
    argv.push_back(nullptr);
    int rc = ConvertFiles(engine_, static_cast<int>(vector_.size()), argv.data());
    vector_.pop_back();
    if (rc != 0) ok_ = false;
  }

  void Fail(std::string_view code, std::initializer_list<MsgArg> args) {
    ok_ = false;
    if (!plan_) ReportBatchMessage(engine_, code, args);
  }

  Engine& engine_;
  const std::string& name_;
  const struct stat& identity_;
  const std::vector<std::string>& leading_;
  const std::string* input_;
  std::vector<BatchStep>* plan_;
  std::vector<std::string> vector_;  ///< the leading words, then the options of "output"/"set"
  int lineNumber_ = 0;
  bool ok_ = true;
};

// ---- Shell text ------------------------------------------------------------------------------

/// Replaces every literal value the expansion can reach by its quoted form for as long as it
/// lives, and puts the originals back (unless something set the value meanwhile).
class QuotedLiterals {
 public:
  explicit QuotedLiterals(Engine& engine) : engine_(engine) {
    SettingsStore& store = engine.settings;
    for (int index : store.literalIndexes) {
      if (index < 0 || index >= static_cast<int>(store.values.size())) continue;
      std::string& value = store.values[index];
      std::string quoted = ShellQuote(value);
      settings_.push_back({index, std::move(value), quoted});
      value = std::move(quoted);
    }
    std::vector<FunctionFrame>& frames = engine.expansion.frames;
    for (std::size_t f = 0; f < frames.size(); ++f) {
      FunctionFrame& frame = frames[f];
      for (std::size_t i = 0; i < frame.slots.size() && i < frame.literalSlots.size(); ++i) {
        if (!frame.literalSlots[i]) continue;
        std::string quoted = ShellQuote(frame.slots[i]);
        slots_.push_back({f, i, std::move(frame.slots[i]), quoted});
        frame.slots[i] = std::move(quoted);
      }
    }
    ExpansionState& x = engine.expansion;
    savedParts_ = x.currentParts;
    std::string part;
    if (CurrentSubMatch(engine, 0, part)) {
      for (int n = 0; n < 10; ++n)
        if (CurrentSubMatch(engine, n, part)) quotedParts_[n] = ShellQuote(part);
      x.currentParts = &quotedParts_;
    }
  }

  ~QuotedLiterals() {
    SettingsStore& store = engine_.settings;
    for (Swap& s : settings_) {
      if (s.index < static_cast<int>(store.values.size()) && store.values[s.index] == s.quoted &&
          store.literalIndexes.count(s.index))
        store.values[s.index] = std::move(s.original);
    }
    std::vector<FunctionFrame>& frames = engine_.expansion.frames;
    for (SlotSwap& s : slots_) {
      if (s.frame < frames.size() && s.slot < frames[s.frame].slots.size() &&
          frames[s.frame].slots[s.slot] == s.quoted)
        frames[s.frame].slots[s.slot] = std::move(s.original);
    }
    engine_.expansion.currentParts = savedParts_;
  }

  QuotedLiterals(const QuotedLiterals&) = delete;
  QuotedLiterals& operator=(const QuotedLiterals&) = delete;

 private:
  struct Swap {
    int index;
    std::string original, quoted;
  };
  struct SlotSwap {
    std::size_t frame, slot;
    std::string original, quoted;
  };
  Engine& engine_;
  std::vector<Swap> settings_;
  std::vector<SlotSwap> slots_;
  SubMatchTexts quotedParts_;
  const SubMatchTexts* savedParts_ = nullptr;
};

/// Creates the script file exclusively: BASE.sh, or BASE-XXXXXX.sh when BASE.sh exists (a file
/// that is not the engine's own is never overwritten, nor removed afterwards). "" on failure.
std::string CreateScriptFile(const std::string& base, std::string_view script) {
  std::string path = base + ".sh";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  if (fd < 0 && errno == EEXIST) {
    path = base + "-XXXXXX.sh";
    fd = mkostemps(path.data(), 3, O_CLOEXEC);
  }
  if (fd < 0) return {};
  std::size_t done = 0;
  while (done < script.size()) {
    ssize_t n = write(fd, script.data() + done, script.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  if (done != script.size()) {
    unlink(path.c_str());
    return {};
  }
  return path;
}

/// Runs `command` without the command interpreter: its words (split as translation-file lines
/// are), the first naming the program. Appends "Error N" for a non-zero exit status.
void RunDirectly(Engine& engine, const std::string& command, std::string& result) {
  FieldScanner scanner;
  scanner.SetLine(command);
  std::vector<std::string> words;
  std::string word;
  while (static_cast<int>(words.size()) < BatchState::kMaxCommandWords && scanner.Next(word))
    words.push_back(word);
  if (words.empty()) return;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  int status = -1;
  if (rc == 0) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  } else {
    ReportMessage(engine, "MSG_SCRIPT_FAIL", {command, rc});
  }
  if (status != 0) result += "Error " + std::to_string(status);
}

}  // namespace

// ---- Batch switch ------------------------------------------------------------------------------

namespace {

/// The words of a batch run's argument vector: the batch file, the options passed on to every
/// conversion (entry 0 the program path) and the input files.
struct BatchArguments {
  std::string file;
  std::vector<std::string> leading;
  std::vector<std::string> inputs;
};

BatchArguments ReadBatchArguments(const std::vector<std::string>& args) {
  BatchArguments a;
  std::size_t next = 2;
  if (args[1].size() > 2) {
    a.file = args[1].substr(2);
  } else if (args.size() > 2) {
    a.file = args[2];
    next = 3;
  }
  a.leading.push_back(args[0]);
  for (std::size_t i = next; i < args.size(); ++i) {
    if (args[i].empty()) continue;
    if (args[i][0] != '-') {
      a.inputs.push_back(args[i]);
      continue;
    }
    a.leading.push_back(args[i]);
    if (OptionTakesNextWord(args[i]) && i + 1 < args.size()) a.leading.push_back(args[++i]);
  }
  return a;
}

/// Runs (or, with `plan`, plans) one batch file; see RunBatch.
bool RunBatchFile(Engine& engine, const std::string& batchFile,
                  const std::vector<std::string>& leading, const std::string* currentInput,
                  std::vector<BatchStep>* plan) {
  BatchRunScope scope(engine);
  FilePtr stream;
  struct stat identity {};
  // The library-file search, then the name as given: a batch file named on the command line is
  // usually one in the working directory.
  std::vector<std::string> candidates = LibraryFileCandidates(engine, batchFile);
  if (IsRelativePath(batchFile)) candidates.push_back(batchFile);
  for (const std::string& path : candidates) {
    stream.reset(OpenRegularFile(path, &identity));
    if (stream) break;
  }
  if (!stream) {
    if (!plan) ReportBatchMessage(engine, "MSG_CANT_OPEN", {batchFile});
    return false;
  }
  BatchRunner runner(engine, batchFile, identity, leading, currentInput, plan);
  return runner.Run(stream.get());
}

/// Runs the batch file of `a` once, or once for each input file as the current input (the input
/// directory that input's). With `plan`, stops at the first failure.
bool RunBatchArguments(Engine& engine, const BatchArguments& a, std::vector<BatchStep>* plan) {
  BatchRunScope scope(engine);
  if (a.inputs.empty()) return RunBatchFile(engine, a.file, a.leading, nullptr, plan);
  bool ok = true;
  for (const std::string& input : a.inputs) {
    engine.settings.paths.inputDirectory = std::string(DirectoryPart(input));
    if (engine.settings.paths.inputDirectory.empty()) engine.settings.paths.inputDirectory = ".";
    ok = RunBatchFile(engine, a.file, a.leading, &input, plan) && ok;
    if (!ok && plan) break;
  }
  return ok;
}

}  // namespace

int ConvertBatch(Engine& engine, const std::vector<std::string>& args) {
  if (args.size() < 2) return 1;
  const BatchArguments a = ReadBatchArguments(args);
  const std::vector<std::string>& leading = a.leading;
  bool ok = true;
  try {
    ok = RunBatchArguments(engine, a, nullptr);
  } catch (const ConversionAbandoned&) {
    ok = false;  // a batch message made fatal by the translation file ends the batch
  }
  // The front end reads PauseOnErr after a failure. When no conversion ran (or the last one set
  // it otherwise) the caller's own definition still decides, as it does for a single file.
  for (std::size_t i = 1; i < leading.size(); ++i) {
    std::string_view word = leading[i];
    if (word == "-D" && i + 1 < leading.size())
      word = leading[++i];
    else if (word.substr(0, 2) == "-D")
      word.remove_prefix(2);
    else
      continue;
    std::size_t equals = word.find('=');
    if (SameName(word.substr(0, equals), "PauseOnErr"))
      SetSetting(engine, "PauseOnErr",
                 equals == std::string_view::npos ? "1" : word.substr(equals + 1));
  }
  return ok ? 0 : 1;
}

bool PlanBatch(Engine& engine, const std::vector<std::string>& args,
               std::vector<BatchStep>& steps) {
  steps.clear();
  if (args.size() < 2) return false;
  bool ok = false;
  try {
    ok = RunBatchArguments(engine, ReadBatchArguments(args), &steps);
  } catch (const ConversionAbandoned&) {
    ok = false;
  }
  if (!ok) steps.clear();
  return ok;
}

bool RunBatch(Engine& engine, const std::string& batchFile, const std::vector<std::string>& leading,
              const std::string* currentInput) {
  return RunBatchFile(engine, batchFile, leading, currentInput, nullptr);
}

std::vector<std::string> ListWildcard(const std::string& pattern, bool* ok) {
  std::vector<std::string> names;
  glob_t found{};
  int rc = glob(pattern.c_str(), 0, nullptr, &found);
  *ok = rc == 0 || rc == GLOB_NOMATCH;
  if (rc == 0) {
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
      struct stat st;
      if (stat(found.gl_pathv[i], &st) == 0 && S_ISREG(st.st_mode))
        names.emplace_back(found.gl_pathv[i]);
    }
  }
  globfree(&found);
  std::sort(names.begin(), names.end());
  return names;
}

// ---- Scripts -----------------------------------------------------------------------------------

std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\0') continue;  // a command line is a C string: a NUL would cut it short
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}

std::string ExpandShellText(Engine& engine, std::string_view text) {
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  } depth(engine.batch.shellTextDepth);
  QuotedLiterals quoted(engine);
  return StrExp(engine, text);
}

std::string RunScriptStep(Engine& engine, std::string_view text) {
  if (engine.batch.shellTextDepth > 0) return {};
  if (engine.settings.safeMode) {
    ReportMessage(engine, "MSG_SAFE_MODE", {"Script"});
    return {};
  }
  std::string script = ExpandShellText(engine, text);
  return RunScript(engine, script);
}

std::string RunScript(Engine& engine, std::string_view script) {
  std::string base = engine.settings.paths.baseName;
  if (base.empty()) base = "quillo-script";
  std::string path = CreateScriptFile(base, script);
  if (path.empty()) {
    ReportMessage(engine, "MSG_TMP_OPEN_FAIL");
    return {};
  }
  struct RemoveScript {
    const std::string& path;
    ~RemoveScript() { unlink(path.c_str()); }
  } removeScript{path};
  // A literal value: the name is inserted into the command as one quoted word.
  SetLiteralSetting(engine, "ScriptFile", path);
  std::string command = ExpandShellText(engine, "$ScriptExecCmd;");
  std::string result;
  if (command.find_first_not_of(" \t\r\n") == std::string::npos) return result;

  std::fflush(nullptr);  // the script's output must not overtake what is buffered here
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    RunDirectly(engine, command, result);
    return result;
  }
  char block[256];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) {
    if (result.size() + n > BatchState::kMaxScriptOutput) break;
    result.append(block, n);
  }
  pclose(pipe);
  return result;
}

}  // namespace quillo
