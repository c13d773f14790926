// quillocmd: converts the RTF files named on its command line with the engine linked into it.
// Started without arguments it hands over to the desktop application `quillo` beside it.
// The long options, standard streams, plain-text messages on standard error and the progress
// bar are this program's; every conversion is the engine's argument-vector conversion.
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/data_folders.h"
#include "base/message_lines.h"
#include "cli/command_line.h"
#include "cli/parallel.h"
#include "engine.h"
#include "frame/driver.h"
#include "frame/log.h"
#include "quillo/quillo.h"

extern char** environ;

namespace {

constexpr const char* kProgramName = "quillocmd";

constexpr const char* kBanner =
    "Drop your RTF file onto the filter and it will convert it to HTML\n"
    "(Info: This is Quillocmd " QUILLO_VERSION " )\n\n";

/// Exit status of a usage error found by the long options, before anything was converted.
constexpr int kUsageExit = 2;

/// Inputs at least this large get a progress bar (when standard error is a terminal): smaller
/// ones are done before a bar would be seen.
constexpr long kProgressBarMinBytes = 4L << 20;

/// The path of this program: the real one (a program started through PATH has no folder in
/// argv[0]), else argv[0].
std::string ProgramPath(const char* argv0) {
  std::string path = quillo::RunningProgramPath();
  return path.empty() ? std::string(argv0 ? argv0 : "") : path;
}

/// Starts `quillo` from the program's own folder in a session of its own, without waiting.
bool StartDesktopApplication(const std::string& self, char** argv) {
  std::string::size_type slash = self.rfind('/');
  std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  std::string program = dir + "/quillo";
  if (access(program.c_str(), X_OK) != 0) return false;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  return rc == 0;
}

/// The progress bar on standard error, drawn from the engine's progress hook.
struct ProgressBar {
  quillo::Engine& engine;
  bool drawn = false;

  static void Hook(int percent, void* data) {
    auto* bar = static_cast<ProgressBar*>(data);
    if (bar->engine.driver.inputSize < kProgressBarMinBytes) return;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string line = "\r";
    line += kProgramName;
    line += ": [";
    line.append(static_cast<std::size_t>(filled), '=');
    line.append(static_cast<std::size_t>(kWidth - filled), ' ');
    line += "] " + std::to_string(percent) + "% ";
    // The name is cut so that the bar stays on one line of a narrow terminal.
    std::string name = bar->engine.driver.inputName;
    if (name.size() > 30) name = "..." + name.substr(name.size() - 27);
    line += name;
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    bar->drawn = true;
  }

  /// Removes the bar, so that what follows starts on a clean line.
  void Clear() {
    if (!drawn) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn = false;
  }
};

void PrintLine(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, text.c_str());
}

/// The recorded messages of the run, one "quillocmd: " line each (further lines indented).
void PrintMessages(const std::vector<quillo::MessageRecord>& records, long dropped) {
  for (const quillo::MessageRecord& record : records) {
    std::string text = quillo::FormatMessageRecord(record);
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      out += kProgramName;
      out += ": ";
      out.append(text, start, end - start);
      out += '\n';
      start = end + 1;
    }
    std::fputs(out.c_str(), stderr);
  }
  if (dropped > 0) PrintLine("(" + std::to_string(dropped) + " more messages were not kept)");
}

/// The files the run wrote, from the created-files list.
void PrintWrittenFiles(const std::vector<std::string>& names) {
  for (const std::string& name : names) PrintLine("wrote " + name);
}

/// The files of the engine's created-files list.
std::vector<std::string> CreatedFiles(const quillo::Engine& engine) {
  const std::vector<std::string>& names = engine.log.createdFiles;
  std::size_t count = static_cast<std::size_t>(std::max(engine.files.outputFileCounter, 0));
  return std::vector<std::string>(
      names.begin(), names.begin() + static_cast<std::ptrdiff_t>(std::min(count, names.size())));
}

/// "3 of 5 inputs failed: a.rtf, b.rtf, c.rtf" after a run over several inputs.
void PrintSummary(const quillo::RunTally& tally) {
  std::string line = std::to_string(tally.failed) + " of " +
                     std::to_string(tally.failed + tally.converted) +
                     (tally.failed + tally.converted == 1 ? " input" : " inputs") + " failed";
  for (std::size_t i = 0; i < tally.failedInputs.size(); ++i)
    line += (i == 0 ? ": " : ", ") + tally.failedInputs[i];
  if (static_cast<std::size_t>(tally.failed) > tally.failedInputs.size()) line += ", ...";
  PrintLine(line);
}

bool FileExists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

/// After a failure: the pointer to the error file, then the pause. The pause lets a person who
/// started the program from a file manager read the messages before the window closes; it only
/// happens when someone can answer it (standard input and standard error are terminals), so a
/// script or a `while read` loop never loses input to it.
int FailureExit(const std::string& errorFile, int pauseOnErr) {
  if (!errorFile.empty() && FileExists(errorFile)) {
    std::fprintf(stderr, "Quillo has found errors and is unable to continue\n");
    std::fprintf(stderr, "See %s file for details\n", errorFile.c_str());
  }
  if (pauseOnErr != 0 && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "Press Enter\n");
    std::fflush(stderr);
    std::getchar();
  }
  return 1;
}

long long FileSize(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

/// "quillocmd: 1000 files (5242880 bytes read, 7340032 written) in 2.41 seconds with 2 jobs; 0
/// failed" at the end of a run over several inputs.
void PrintRunSummary(std::size_t files, long long bytesRead, long long bytesWritten, double seconds,
                     int jobs, int failed) {
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  PrintLine(std::to_string(files) + " files (" + std::to_string(bytesRead) + " bytes read, " +
            std::to_string(bytesWritten) + " written) in " + time + " seconds with " +
            std::to_string(jobs) + (jobs == 1 ? " job; " : " jobs; ") + std::to_string(failed) +
            " failed");
}

/// The summary line of a run over several inputs is for a person watching (standard error is a
/// terminal), for --verbose, and after a failure; a script's successful run stays silent.
bool WantsRunSummary(const quillo::cli::CommandLine& line, bool failed) {
  if (line.quiet) return false;
  return failed || line.verbose || isatty(STDERR_FILENO);
}

/// Counts finished inputs on standard error while a parallel run goes on.
void ShowFinished(std::size_t done, std::size_t total, void*) {
  std::fprintf(stderr, "\r%s: %zu of %zu files\033[K", kProgramName, done, total);
  std::fflush(stderr);
}

/// A run over several inputs on `threads` engines at once; reports as the one-engine run does.
int RunParallel(const quillo::cli::CommandLine& line, const quillo::cli::Plan& plan,
                const std::string& programPath, int threads) {
  const auto start = std::chrono::steady_clock::now();
  quillo::cli::RunOptions options;
  options.threads = threads;
  // A batch run converts every line whatever happened to the lines before it.
  options.keepGoing = line.keepGoing || plan.batch;
  const bool showProgress = !line.quiet && isatty(STDERR_FILENO);
  if (showProgress) options.finished = &ShowFinished;
  std::vector<quillo::cli::JobResult> results =
      quillo::cli::RunJobs(plan.jobs, programPath, options);
  if (showProgress) std::fputs("\r\033[K", stderr);
  std::fflush(stdout);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // Everything in input order, as one engine would have left it.
  std::vector<quillo::MessageRecord> messages;
  long dropped = 0;
  std::vector<std::string> created;
  quillo::RunTally tally;
  std::string errorFile;
  int pauseOnErr = 1;
  bool failed = false;
  long long bytesRead = 0, bytesWritten = 0;
  std::size_t started = 0;
  bool logFailed = false;
  for (std::size_t i = 0; i < results.size(); ++i) {
    quillo::cli::JobResult& result = results[i];
    if (!result.started) continue;
    ++started;
    for (quillo::MessageRecord& record : result.messages) {
      if (messages.size() < quillo::MessageState::kMaxRecorded)
        messages.push_back(std::move(record));
      else
        ++dropped;
    }
    dropped += result.droppedMessages;
    for (const std::string& name : result.createdFiles) bytesWritten += FileSize(name);
    created.insert(created.end(), result.createdFiles.begin(), result.createdFiles.end());
    for (const quillo::LogState::Part& part : result.log)
      if (!quillo::WriteCollectedLog(part) && !logFailed) {
        logFailed = true;
        PrintLine("cannot write the log " + part.path);
      }
    tally.converted += result.tally.converted;
    tally.failed += result.tally.failed;
    for (const std::string& name : result.tally.failedInputs)
      if (tally.failedInputs.size() < quillo::RunTally::kMaxNames)
        tally.failedInputs.push_back(name);
    if (result.status != 0) failed = true;
    bytesRead += FileSize(plan.jobs[i].input);
    errorFile = result.errorFileName;
    pauseOnErr = result.pauseOnErr;
  }
  if (failed || !line.quiet) PrintMessages(messages, dropped);
  if (line.verbose) PrintWrittenFiles(created);
  if (tally.failed > 0 && tally.failed + tally.converted > 1) PrintSummary(tally);
  if (WantsRunSummary(line, failed))
    PrintRunSummary(started, bytesRead, bytesWritten, seconds, threads, tally.failed);
  if (!failed && !logFailed) return 0;
  if (!failed) return 1;
  return FailureExit(errorFile, pauseOnErr);
}

void PrintVersion(quillo::Engine& engine, const std::string& programPath) {
  std::printf("%s (Quillo) %s\n", kProgramName, QuilloVersion());
  quillo::EngineInit(engine, programPath.c_str());
  std::string folder = quillo::DataFolderInUse(engine);
  std::printf("Data folder: %s\n", folder.empty()
                                       ? "none found (set RTFLIBDIR to the folder of rtf-ctrl.txt)"
                                       : folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string programPath = ProgramPath(argc > 0 ? argv[0] : nullptr);
  if (argc == 1 && StartDesktopApplication(programPath, argv)) return 0;

  std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  quillo::cli::CommandLine line = quillo::cli::ParseCommandLine(words, programPath);
  quillo::Engine& engine = quillo::GlobalEngine();
  if (line.help) {
    std::fputs(quillo::cli::HelpText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (line.version) {
    PrintVersion(engine, programPath);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!line.error.empty()) {
    PrintLine(line.error);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgramName);
    return kUsageExit;
  }

  quillo::cli::Plan plan = quillo::cli::PlanRun(line.engineWords, line.recursive, programPath);
  for (const std::string& note : plan.notes) PrintLine(note);
  const int threads = line.jobs > 0
                          ? line.jobs
                          : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  if (line.verbose && !plan.serialReason.empty() && threads > 1)
    PrintLine("converting one input at a time: " + plan.serialReason);
  if (plan.jobs.size() > 1 && threads > 1) return RunParallel(line, plan, programPath, threads);

  // The messages are shown here as plain lines; the engine need not copy them to standard error.
  engine.messages.stderrFallback = false;
  quillo::cli::StartEngine(engine, programPath);
  engine.driver.keepGoing = line.keepGoing;
  ProgressBar bar{engine};
  if (!line.quiet && isatty(STDERR_FILENO)) {
    engine.driver.progressHook = &ProgressBar::Hook;
    engine.driver.progressHookData = &bar;
  }

  const auto start = std::chrono::steady_clock::now();
  std::vector<char*> vector;
  for (std::string& word : plan.words) vector.push_back(word.data());
  vector.push_back(nullptr);
  int rc = quillo::ConvertFiles(engine, static_cast<int>(plan.words.size()), vector.data());
  bar.Clear();
  std::fflush(stdout);

  const bool failed = rc != 0;
  if (failed || !line.quiet)
    PrintMessages(engine.messages.recorded, engine.messages.droppedRecords);
  const std::vector<std::string> created = CreatedFiles(engine);
  if (line.verbose) PrintWrittenFiles(created);
  const quillo::RunTally& tally = engine.driver.tally;
  if (tally.failed > 0 && tally.failed + tally.converted > 1) PrintSummary(tally);
  if (plan.jobs.size() > 1 && WantsRunSummary(line, failed)) {
    long long bytesRead = 0, bytesWritten = 0;
    for (const std::string& name : created) bytesWritten += FileSize(name);
    for (const quillo::cli::Job& job : plan.jobs) bytesRead += FileSize(job.input);
    PrintRunSummary(static_cast<std::size_t>(tally.converted + tally.failed), bytesRead,
                    bytesWritten,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    1, tally.failed);
  }
  if (line.pageToStandardOutput && !line.noGraphics && !engine.pictures.records.empty() &&
      !line.quiet)
    PrintLine(std::to_string(engine.pictures.records.size()) +
              " pictures were left out: the page went to standard output (-o FILE keeps them)");
  if (!failed) return 0;
  if (rc == -1) {
    std::fprintf(stderr, "Usage: %s", kBanner);
    std::fprintf(stderr,
                 "Try '%s --help' for the options. After a failure %s waits for Enter at\n"
                 "a terminal; -D PauseOnErr=0 turns that off.\n",
                 kProgramName, kProgramName);
  }
  return FailureExit(engine.messages.errorFileName, engine.settings.mirrors.pauseOnErr);
}
