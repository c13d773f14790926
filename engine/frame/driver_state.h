// State of the driver and of the C interface (see frame/driver.h).
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "output/output_state.h"
#include "quillo/quillo.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// State of the library interface that lives across calls.
struct LibraryState {
  LibraryState() = default;
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;
  ~LibraryState();  ///< releases the stored result set (at exit, or when the library is unloaded)
  bool initialised = false;
  bool haveStoredOptions = false;
  std::string storedOptions;
  /// Option vector of the "2" conversions: entry 0 (empty), the option words, the input.
  /// Holds at most kMaxOptionWords entries; further words are dropped with a message.
  static constexpr int kMaxOptionWords = 40;
  std::vector<std::string> optionWords;
  ConvertedOutput* results = nullptr;  ///< result set of the last QuilloConvertStrRTF2
  int resultCount = 0;
  QuilloCallback callback = nullptr;  ///< host callback of the process-wide interface
  /// Host callback of an engine handle with its data; when set it is called instead of
  /// `callback`.
  QuilloEngineCallback engineCallback = nullptr;
  void* engineCallbackData = nullptr;
  std::string lastMessagesText;  ///< the text QuilloLastMessages handed out last
};

/// How the inputs of one argument-vector conversion (with its wildcards and batch lines) went.
/// Reset by each conversion entry outside a batch run.
struct RunTally {
  int converted = 0;                      ///< inputs converted
  int failed = 0;                         ///< inputs that could not be opened or were abandoned
  std::vector<std::string> failedInputs;  ///< their names (the first kMaxNames)
  static constexpr std::size_t kMaxNames = 100;
};

/// Host hook told how far the conversion is: `percent` 0..100 over both passes. Independent of
/// the PercentCallback setting and of the host callback.
using ProgressHook = void (*)(int percent, void* data);

struct DriverState {
  int pass = 1;
  bool stop = false;  ///< ends the reader loop; set by "eof" messages and Exit
  FileEntry* input = nullptr;
  long inputSize = 0;
  /// The document of an input that cannot be read twice (standard input "-", a pipe): read whole
  /// at set-up and registered as a memory input; released when that input is done.
  std::string inputText;
  /// Longest document read from standard input or a pipe. Such input is held in memory for the
  /// two passes; the bound keeps an endless stream (/dev/zero) from taking all memory.
  static constexpr std::size_t kMaxStreamInput = std::size_t{1} << 30;
  std::string inputName;   ///< the input being converted; "" before set-up names one
  int inputPosition = -1;  ///< its index in the argument vector; -1 before set-up names one
  /// Set by the host: a list of inputs or a wildcard pattern goes on after an input that failed,
  /// and the run fails at its end (RunTally says which inputs failed).
  bool keepGoing = false;
  RunTally tally;
  /// Set at set-up when anything wants progress (PercentCallback, the hook): the reader loop
  /// looks at the position only then.
  bool watchProgress = false;
  ProgressHook progressHook = nullptr;
  void* progressHookData = nullptr;
  int progressCountdown = 0;  ///< tokens until the hook is told again
  int progressReported = -1;  ///< last percentage the hook was told
  int progressStep = 0;
  int progressThreshold = 0;
  std::time_t startTime = 0;
  bool batchRunning = false;
  bool outputOpen = false;   ///< pass 2 opened an output file
  bool handingOver = false;  ///< the set-up runs again for the translation file the first named
  int currentFile = 0;       ///< number of the output file being written
  FileEntry* footnoteFile = nullptr;
  long footnotesMoved = 0;  ///< bytes of the footnote output already moved into the main text
  std::string footnoteFileName;
  OutputContext main;       ///< the main output channel
  OutputContext footnotes;  ///< the footnote channel (temporary file)
};

}  // namespace quillo
