#include "cli/parallel.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "cli/command_line.h"
#include "frame/batch.h"
#include "frame/driver.h"

namespace quillo::cli {
namespace {

// ---- Planning ----------------------------------------------------------------------------------

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasRtfExtension(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".rtf") == 0;
}

/// Walks `dir` with an explicit stack (a deep tree cannot exhaust the call stack). Symbolic links
/// are looked at with lstat: a link to a file is taken, a link to a directory is not walked, so
/// a loop of links cannot make the walk endless.
void ListRtfFiles(const std::string& dir, std::vector<std::string>& files,
                  std::vector<std::string>& notes) {
  std::vector<std::string> pending{dir};
  while (!pending.empty()) {
    std::string current = std::move(pending.back());
    pending.pop_back();
    DIR* stream = opendir(current.c_str());
    if (!stream) {
      notes.push_back("cannot read the directory " + current);
      continue;
    }
    const std::string prefix = current.back() == '/' ? current : current + "/";
    while (const dirent* entry = readdir(stream)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = prefix + name;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        pending.push_back(path);
      } else if (HasRtfExtension(name) &&
                 (S_ISREG(st.st_mode) ||
                  (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)))) {
        files.push_back(std::move(path));
      }
    }
    closedir(stream);
  }
}

/// The words of a vector as the engine's option reading sees them: an input is a word that is
/// not empty and not an option (nor an option's parameter word).
std::vector<bool> InputMask(const std::vector<std::string>& words) {
  std::vector<bool> input(words.size(), false);
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.empty()) continue;
    if (word[0] == '-' && word.size() > 1) {
      if (OptionTakesNextWord(word)) ++i;
      continue;
    }
    input[i] = true;
  }
  return input;
}

/// The output the options of `words` name (-o NAME, -oNAME or -D OutFileName=NAME; the last one
/// given), nothing when they name none. `input` marks the words that are inputs.
std::optional<std::string> OutputNamed(const std::vector<std::string>& words,
                                       const std::vector<bool>& input) {
  std::optional<std::string> named;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (input[i]) continue;
    const std::string& word = words[i];
    const bool next = i + 1 < words.size();
    std::string definition;
    if (word == "-o") {
      named = next ? words[++i] : std::string();
      continue;
    }
    if (word.compare(0, 2, "-o") == 0) named = word.substr(2);
    if (word == "-D" && next) definition = words[++i];
    if (word.size() > 2 && word.compare(0, 2, "-D") == 0) definition = word.substr(2);
    if (definition.size() >= 12 && strncasecmp(definition.c_str(), "OutFileName=", 12) == 0)
      named = definition.substr(12);
  }
  return named;
}

/// True when the options name the output (every input would write the same page).
bool NamesOutput(const std::vector<std::string>& words, const std::vector<bool>& input) {
  return OutputNamed(words, input).has_value();
}

/// `path` with its folder resolved (links, "." and ".."), so that two spellings of one place
/// compare equal; unchanged when the folder cannot be resolved.
std::string CanonicalPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char resolved[PATH_MAX];
  if (!realpath(dir.c_str(), resolved)) return path;
  return std::string(resolved) + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
}

/// Two inputs that would write the same page cannot be converted at once: the later one
/// replaces the earlier, as in a run on one engine, only when they take turns. So do inputs
/// whose output name is made by the translation file ("$" in it): it cannot be told in advance.
Plan KeepApartOutputs(Plan plan) {
  std::set<std::string> bases;
  for (const Job& job : plan.jobs) {
    const std::string named = OutputNamed(job.words, InputMask(job.words)).value_or("");
    if (named.find('$') != std::string::npos) {
      plan.serialReason = "an output name is made by the translation file";
      plan.jobs.clear();
      break;
    }
    std::string base = named.empty() ? DefaultOutputBase(job.input) : DefaultOutputBase(named);
    const std::size_t dot = base.rfind('.');
    if (!named.empty() && dot != std::string::npos && base.find('/', dot) == std::string::npos)
      base.resize(dot);
    if (!bases.insert(CanonicalPath(base)).second) {
      plan.notes.push_back("more than one input writes the pages of " + base +
                           ": the inputs are converted one after another");
      plan.serialReason = "two inputs write the same pages";
      plan.jobs.clear();
      break;
    }
  }
  return plan;
}

/// A batch run as jobs: the conversions its file asks for, each with the options of the lines
/// before it and the search directory in force. With fewer than two, or when the file cannot be
/// planned, the run stays on one engine.
Plan PlanBatchRun(Plan plan, const std::string& programPath) {
  plan.serialReason = "a batch file runs its lines one after another";
  auto scratch = std::make_unique<Engine>();
  if (EngineInit(*scratch, programPath.c_str()) != 0) return plan;
  std::vector<BatchStep> steps;
  if (!PlanBatch(*scratch, plan.words, steps) || steps.size() < 2) return plan;
  plan.serialReason.clear();
  plan.batch = true;
  for (BatchStep& step : steps) {
    Job job;
    job.input = step.words.back();
    job.words = std::move(step.words);
    job.listingPlace = step.counter;
    job.searchDirectory = std::move(step.searchDirectory);
    plan.jobs.push_back(std::move(job));
  }
  return KeepApartOutputs(std::move(plan));
}

}  // namespace

Plan PlanRun(const std::vector<std::string>& engineWords, bool recursive,
             const std::string& programPath) {
  Plan plan;
  plan.words = engineWords;
  if (plan.words.empty()) return plan;

  // Directory inputs stand for the RTF files under them.
  std::vector<bool> input = InputMask(plan.words);
  if (recursive) {
    std::vector<std::string> expanded{plan.words[0]};
    for (std::size_t i = 1; i < plan.words.size(); ++i) {
      if (input[i] && IsDirectory(plan.words[i])) {
        std::vector<std::string> files;
        ListRtfFiles(plan.words[i], files, plan.notes);
        std::sort(files.begin(), files.end());
        if (files.empty()) plan.notes.push_back("no .rtf file under " + plan.words[i]);
        expanded.insert(expanded.end(), files.begin(), files.end());
      } else {
        expanded.push_back(plan.words[i]);
      }
    }
    plan.words = std::move(expanded);
    input = InputMask(plan.words);
  }

  std::vector<std::size_t> inputs;
  for (std::size_t i = 1; i < plan.words.size(); ++i)
    if (input[i]) inputs.push_back(i);
  auto optionsBefore = [&](std::size_t end) {
    std::vector<std::string> words{plan.words[0]};
    for (std::size_t i = 1; i < end; ++i)
      if (!input[i] && !plan.words[i].empty()) words.push_back(plan.words[i]);
    return words;
  };

  if (plan.words.size() > 1 && plan.words[1].compare(0, 2, "-b") == 0)
    return PlanBatchRun(std::move(plan), programPath);
  for (std::size_t i = 1; i < plan.words.size(); ++i)
    if (!input[i] && plan.words[i].compare(0, 2, "-b") == 0) {
      plan.serialReason = "a batch file runs its lines one after another";
      return plan;
    }
  const bool lastIsPattern =
      !inputs.empty() && inputs.back() == plan.words.size() - 1 && IsPattern(plan.words.back());
  if (lastIsPattern && inputs.size() == 1) {
    bool listed = true;
    std::vector<std::string> names = ListWildcard(plan.words.back(), &listed);
    if (!listed || names.size() < 2) return plan;  // the engine reports a failed listing
    if (NamesOutput(plan.words, input)) {
      plan.serialReason = "every input writes the output named by the options";
      return plan;
    }
    std::vector<std::string> options = optionsBefore(plan.words.size() - 1);
    int place = 0;
    for (const std::string& name : names) {
      Job job{options, name, ++place, {}};
      job.words.push_back(name);
      plan.jobs.push_back(std::move(job));
    }
  } else {
    if (inputs.size() < 2) return plan;
    for (std::size_t at : inputs) {
      const std::string& name = plan.words[at];
      if (name == kStandardStreamName || IsPattern(name)) {
        plan.serialReason = "a pattern or standard input among several inputs";
        return plan;
      }
    }
    if (NamesOutput(plan.words, input)) {
      plan.serialReason = "every input writes the output named by the options";
      return plan;
    }
    for (std::size_t at : inputs) {
      Job job{optionsBefore(at), plan.words[at], 0, {}};
      job.words.push_back(plan.words[at]);
      plan.jobs.push_back(std::move(job));
    }
  }

  return KeepApartOutputs(std::move(plan));
}

// ---- Running -----------------------------------------------------------------------------------

namespace {

/// Converts one job on `engine` as the one-engine run converts that input, and keeps what it left.
void RunJob(Engine& engine, const Job& job, JobResult& result) {
  result.started = true;
  // A run position of its own: the counters and lists of the run start empty for this input,
  // the batch counter is the input's place in the listing, and the words are never taken for a
  // pattern or a batch switch again.
  engine.driver.batchRunning = true;
  engine.batch.counter = job.listingPlace;
  engine.settings.paths.libraryDirOverride = job.searchDirectory;
  engine.files.outputFileCounter = 0;
  engine.driver.tally = RunTally();
  engine.log.createdFiles.clear();
  engine.log.collected.clear();
  ClearRecordedMessages(engine);
  std::vector<std::string> words = job.words;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  try {
    result.status = ConvertFiles(engine, static_cast<int>(words.size()), argv.data());
  } catch (...) {
    result.status = 1;
  }
  engine.driver.batchRunning = false;
  engine.batch.counter = 0;
  result.messages = std::move(engine.messages.recorded);
  engine.messages.recorded.clear();
  result.droppedMessages = engine.messages.droppedRecords;
  const std::vector<std::string>& names = engine.log.createdFiles;
  const std::size_t created = std::min<std::size_t>(
      names.size(), static_cast<std::size_t>(std::max(engine.files.outputFileCounter, 0)));
  result.createdFiles.assign(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(created));
  result.log = std::move(engine.log.collected);
  engine.log.collected.clear();
  result.tally = engine.driver.tally;
  result.errorFileName = engine.messages.errorFileName;
  result.pauseOnErr = engine.settings.mirrors.pauseOnErr;
}

}  // namespace

void StartEngine(Engine& engine, const std::string& programPath) {
  // A failure is reported again by the first conversion, which initialises once more.
  if (EngineInit(engine, programPath.c_str()) != 0) return;
  int ignored = 0;
  try {
    FileSweep(engine, true, &ignored);
  } catch (...) {
    // Nothing was written; the entries are dropped by the next conversion's sweep instead.
  }
}

std::vector<JobResult> RunJobs(const std::vector<Job>& jobs, const std::string& programPath,
                               const RunOptions& options) {
  std::vector<JobResult> results(jobs.size());
  std::atomic<std::size_t> next{0};
  // Without --keep-going the one-engine run stops at its first failed input: no input after the
  // first failure known so far is started.
  std::atomic<std::size_t> firstFailure{SIZE_MAX};
  std::mutex progress;
  std::size_t done = 0;

  auto work = [&] {
    auto engine = std::make_unique<Engine>();
    StartEngine(*engine, programPath);
    // The program shows the recorded messages itself, in input order.
    engine->messages.stderrFallback = false;
    engine->driver.keepGoing = options.keepGoing;
    engine->log.collect = true;
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      if (!options.keepGoing && i > firstFailure.load()) break;
      RunJob(*engine, jobs[i], results[i]);
      if (results[i].status != 0) {
        std::size_t seen = firstFailure.load();
        while (i < seen && !firstFailure.compare_exchange_weak(seen, i)) {
        }
      }
      if (options.finished) {
        std::lock_guard<std::mutex> lock(progress);
        options.finished(++done, jobs.size(), options.finishedData);
      }
    }
  };

  const int threads = std::max(
      1, std::min(options.threads, static_cast<int>(std::min<std::size_t>(jobs.size(), 256))));
  std::vector<std::thread> pool;
  try {
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  } catch (const std::exception&) {
    // No more threads to be had: the threads started (and this one) do the work.
  }
  work();
  for (std::thread& thread : pool) thread.join();
  return results;
}

}  // namespace quillo::cli
