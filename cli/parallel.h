// quillocmd's runs over several inputs: the inputs of a command line (named files, a pattern, the
// RTF files under a directory) planned as one conversion each, and those conversions spread over
// threads, each thread with an engine of its own. What the run reports (messages, files written,
// the log, the tally) is gathered per input and handed back in input order, so it reads as the
// one-engine run of the same command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine.h"

namespace quillo::cli {

/// One input of a run: the argument vector that converts it alone (entry 0 the program path,
/// the options that apply to it, the input) and its place in a pattern's listing.
struct Job {
  std::vector<std::string> words;
  std::string input;
  /// The batch counter the one-engine run has while converting this input: its 1-based place
  /// in a pattern's listing, 0 for a named input. The log reads it (only the first conversion
  /// of a listing starts a new log).
  int listingPlace = 0;
  /// The batch search directory a batch file's lines set for this input ("" outside a batch).
  std::string searchDirectory;
};

/// How a command line's inputs are converted.
struct Plan {
  /// The argument vector for a one-engine run: `engineWords` with each directory input replaced
  /// by the RTF files under it (when directories are walked).
  std::vector<std::string> words;
  /// One job per input when the inputs can be converted apart; empty when the run must stay on
  /// one engine (a batch file, standard input, a named output, a pattern among other inputs).
  std::vector<Job> jobs;
  /// The jobs are the lines of a batch file: as in a one-engine batch run, a failed input stops
  /// none of the others.
  bool batch = false;
  /// Why the jobs are empty though there are several inputs ("" when they are not), for --verbose.
  std::string serialReason;
  /// The problems found while planning (a directory that could not be read, two inputs writing
  /// the same page), one line each.
  std::vector<std::string> notes;
};

/// Plans the run of `engineWords` (CommandLine::engineWords). With `recursive`, an input that is
/// a directory stands for every regular file under it whose name ends in ".rtf" (any case), in
/// byte order of their paths; symbolic links to directories are not followed. A batch file is
/// read (on an engine of its own, started with `programPath`) into one job per conversion it
/// asks for, unless a line of it would fail: the one-engine run then reports it in its place.
Plan PlanRun(const std::vector<std::string>& engineWords, bool recursive,
             const std::string& programPath);

/// Initialises an engine for a run: the data files read once per engine (the control-word
/// table) are read now and dropped from its file table, so that no input's log lists them and
/// every input's log is the same whichever engine converts it.
void StartEngine(Engine& engine, const std::string& programPath);

/// What one input's conversion left, kept for the report.
struct JobResult {
  bool started = false;  ///< false when the run stopped before this input
  int status = 0;        ///< ConvertFiles's result
  std::vector<MessageRecord> messages;
  long droppedMessages = 0;
  std::vector<std::string> createdFiles;
  std::vector<LogState::Part> log;
  RunTally tally;
  std::string errorFileName;
  int pauseOnErr = 0;
};

/// Options every engine of a run gets.
struct RunOptions {
  int threads = 1;
  bool keepGoing = false;
  /// Called on the thread that runs the jobs (the caller's) after each finished input, with the
  /// number finished so far; may be null.
  void (*finished)(std::size_t done, std::size_t total, void* data) = nullptr;
  void* finishedData = nullptr;
};

/// Runs the jobs on `options.threads` threads, each with an engine of its own initialised with
/// `programPath`. Without keepGoing no job is started after one fails (jobs already running
/// finish). Results are in job order. Each engine collects its log for the caller to write
/// (WriteCollectedLog) in job order.
std::vector<JobResult> RunJobs(const std::vector<Job>& jobs, const std::string& programPath,
                               const RunOptions& options);

}  // namespace quillo::cli
