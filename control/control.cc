// The control over the one process-wide engine. Every method that touches the engine holds it
// through an EngineScope for its whole run: one thread at a time, conversions never nested, and
// the methods an event handler may call (ExpandString, SetString, Init) allowed again on the
// thread whose conversion fired the event. Engine callbacks reach the control through one plain
// function, the bridge, which never lets an exception into the engine.
#include "control.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/settings.h"
#include "data_folder.h"
#include "engine.h"
#include "frame/driver.h"

namespace quillo {
namespace {

class EngineScope;

/// What the control layer keeps per process: who holds the engine, the callback receiver, the
/// program directory it chose. There is one engine per process, so there is one of these.
struct ControlProcess {
  std::mutex mutex;
  std::condition_variable released;
  std::thread::id holder;            ///< thread using the engine; no thread when depth is 0
  int depth = 0;                     ///< scopes the holder has open (handlers calling back in)
  bool converting = false;           ///< the holder runs a conversion
  Control* receiver = nullptr;       ///< control given to Init last; cleared by its destructor
  bool bridgeInstalled = false;      ///< Init installed the bridge as the engine's callback
  std::string programDirectory;      ///< chosen by Init or located; "" until then
  EngineScope* innermost = nullptr;  ///< open scope of the holder; only the holder uses it
};

ControlProcess& Process() {
  static ControlProcess process;  // as process-wide as the engine it guards
  return process;
}

constexpr const char* kNestedConversion =
    "a Quillo conversion cannot be started from inside an event handler: the conversion that "
    "fired the event is still running, and only one translation is allowed at a time";

extern "C" char* ControlBridge(int why, int argc, char** argv);

/// Holds the engine for one method of the control. Conversions refuse to start while the engine
/// converts (ControlBusy); other uses wait for a short use by another thread to end. An
/// exception raised by an event handler while the scope is innermost is kept and handed back by
/// TakePending; in a conversion it also stops the conversion at its next token.
class EngineScope {
 public:
  enum class Kind { kAccess, kConversion };

  explicit EngineScope(Kind kind, Control* eventTarget = nullptr)
      : kind_(kind), eventTarget_(eventTarget) {
    ControlProcess& process = Process();
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(process.mutex);
    for (;;) {
      if (process.depth == 0) {
        process.holder = self;
        process.depth = 1;
        process.converting = kind == Kind::kConversion;
        break;
      }
      if (process.holder == self) {
        if (kind == Kind::kConversion) throw ControlBusy(kNestedConversion);
        ++process.depth;
        break;
      }
      if (process.converting) throw ControlBusy();
      process.released.wait(lock);
    }
    lock.unlock();
    outer_ = process.innermost;
    process.innermost = this;
    if (kind_ == Kind::kConversion) {
      Engine& engine = GlobalEngine();
      previousCallback_ = engine.library.callback;
      if (eventTarget_) engine.library.callback = ControlBridge;
    }
  }

  ~EngineScope() {
    ControlProcess& process = Process();
    std::unique_lock<std::mutex> lock(process.mutex);
    if (kind_ == Kind::kConversion) {
      GlobalEngine().library.callback = process.bridgeInstalled ? ControlBridge : previousCallback_;
    }
    process.innermost = outer_;
    if (--process.depth == 0) {
      process.holder = std::thread::id();
      process.converting = false;
      lock.unlock();
      process.released.notify_all();
    }
  }

  EngineScope(const EngineScope&) = delete;
  EngineScope& operator=(const EngineScope&) = delete;

  /// True when this scope or one around it runs a conversion.
  bool InConversion() const {
    for (const EngineScope* s = this; s; s = s->outer_)
      if (s->kind_ == Kind::kConversion) return true;
    return false;
  }

  /// The control that receives this conversion's events in place of the receiver, if any.
  Control* EventTarget() const {
    for (const EngineScope* s = this; s; s = s->outer_)
      if (s->kind_ == Kind::kConversion) return s->eventTarget_;
    return nullptr;
  }

  /// An event handler failed: keep its exception (the first one) and stop a conversion.
  void Fail(std::exception_ptr failure) {
    if (!pending_) pending_ = std::move(failure);
    if (kind_ == Kind::kConversion) GlobalEngine().driver.stop = true;
  }

  /// True after a handler failed: later events of this scope reach no handler, and a
  /// conversion keeps being stopped (a wildcard or batch run starts each input afresh).
  bool Failed() {
    if (pending_ && kind_ == Kind::kConversion) GlobalEngine().driver.stop = true;
    return pending_ != nullptr;
  }

  std::exception_ptr TakePending() { return std::exchange(pending_, nullptr); }

 private:
  Kind kind_;
  Control* eventTarget_;
  EngineScope* outer_ = nullptr;
  std::exception_ptr pending_;
  QuilloCallback previousCallback_ = nullptr;
};

int16_t Clamp16(long value) {
  return static_cast<int16_t>(std::clamp<long>(value, std::numeric_limits<int16_t>::min(),
                                               std::numeric_limits<int16_t>::max()));
}

/// The engine's callback while a control wants events: fires `callback` on the target control
/// with the arguments copied, and always gives the engine an empty result. The handler is
/// copied under the lock so that a receiver destroyed meanwhile (by another thread, or by the
/// handler itself) is never used after its destructor ran.
extern "C" char* ControlBridge(int why, int argc, char** argv) {
  ControlProcess& process = Process();
  EngineScope* scope = process.innermost;
  try {
    if (scope && scope->Failed()) return nullptr;
    std::function<void(int16_t, int16_t, const std::vector<std::string>&)> handler;
    {
      std::lock_guard<std::mutex> lock(process.mutex);
      Control* target = scope ? scope->EventTarget() : nullptr;
      if (!target) target = process.receiver;
      if (target) handler = target->callback;
    }
    if (!handler) return nullptr;
    std::vector<std::string> args;
    args.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
    for (int i = 0; i < argc && argv; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    handler(Clamp16(why), Clamp16(argc), args);
  } catch (...) {
    // Without a scope the engine was called through the C interface: nobody can take it.
    if (scope) scope->Fail(std::current_exception());
  }
  return nullptr;
}

/// Gives the engine a program directory when no Init chose one: the located data folder.
/// Then initialises the engine (once), so that its store exists before anything is set.
int PrepareEngine(Engine& engine) {
  ControlProcess& process = Process();
  bool chosen;
  {
    std::lock_guard<std::mutex> lock(process.mutex);
    chosen = !process.programDirectory.empty();
  }
  if (!chosen) {
    std::string located = control::LocateDataFolder();
    if (!located.empty()) {
      engine.settings.paths.programDirectory = located;
      std::lock_guard<std::mutex> lock(process.mutex);
      process.programDirectory = located;
    }
  }
  return engine.library.initialised ? 0 : EngineInit(engine, nullptr);
}

/// Owned argument vector in the form the driver takes.
struct ArgumentVector {
  std::vector<std::string> words;
  std::vector<char*> pointers;
  explicit ArgumentVector(std::vector<std::string> w) : words(std::move(w)) {
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char** argv() { return pointers.data(); }
};

std::vector<ControlMessage> RecordedMessages(const Engine& engine) {
  std::vector<ControlMessage> messages;
  messages.reserve(engine.messages.recorded.size());
  for (const MessageRecord& record : engine.messages.recorded)
    messages.push_back({record.code, record.action, record.text, record.line, record.position});
  return messages;
}

struct OutputsDeleter {
  int count;
  void operator()(ConvertedOutput* outputs) const { FreeConvertedOutputs(outputs, count); }
};

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// ---- Construction ---------------------------------------------------------------------------

Control::Control() = default;

Control::~Control() {
  ControlProcess& process = Process();
  std::lock_guard<std::mutex> lock(process.mutex);
  if (process.receiver == this) process.receiver = nullptr;
}

// ---- Methods --------------------------------------------------------------------------------

std::vector<std::string> Control::BuildArguments(const std::string* input) const {
  std::vector<std::string> words(1, std::string());  // entry 0: the program path is unknown
  for (std::string& word : SplitOptions(options)) words.push_back(std::move(word));
  words.insert(words.end(), arguments.begin(), arguments.end());
  if (input) words.push_back(*input);
  return words;
}

int16_t Control::ConvertRTF(const std::string& filename) {
  if (filename.empty()) {
    status = -1;
    return -1;
  }
  std::exception_ptr failure;
  int result = 0;
  {
    EngineScope scope(EngineScope::Kind::kConversion, ownCallbacks ? this : nullptr);
    status = -1;
    Engine& engine = GlobalEngine();
    PrepareEngine(engine);
    ArgumentVector args(BuildArguments(&filename));
    result = ConvertFiles(engine, args.argc(), args.argv());
    messages_ = RecordedMessages(engine);
    const std::vector<std::string>& names = engine.log.createdFiles;
    std::size_t created = std::min<std::size_t>(
        names.size(), static_cast<std::size_t>(std::max(engine.files.outputFileCounter, 0)));
    created_.assign(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(created));
    failure = scope.TakePending();
  }
  if (failure) {
    // A handler failed and stopped the conversion: report it as failed, not as the result of
    // the part that ran.
    status = 1;
    std::rethrow_exception(failure);
  }
  const int16_t converted = Clamp16(result);
  status = converted;
  // The engine is free again, so the handler may start the next conversion (which changes
  // `status`; this conversion's result is still what the method returns).
  if (translationComplete) translationComplete(converted, filename);
  return converted;
}

int32_t Control::ConvertStrRTF(std::string_view inStr, std::vector<ControlOutputRow>* out) {
  std::exception_ptr failure;
  int count = 0;
  {
    EngineScope scope(EngineScope::Kind::kConversion, ownCallbacks ? this : nullptr);
    status = -1;
    rows_.clear();
    created_.clear();
    Engine& engine = GlobalEngine();
    PrepareEngine(engine);
    ArgumentVector args(BuildArguments(nullptr));
    ConvertedOutput* raw = ConvertString(engine, args.argc(), args.argv(), inStr, &count);
    std::unique_ptr<ConvertedOutput, OutputsDeleter> outputs(raw, OutputsDeleter{count});
    messages_ = RecordedMessages(engine);
    failure = scope.TakePending();
    if (!failure && outputs) {
      rows_.reserve(static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) {
        const ConvertedOutput& output = outputs.get()[i];
        rows_.push_back({output.name ? output.name : "",
                         std::string(output.data ? output.data : "",
                                     output.data ? static_cast<std::size_t>(output.length) : 0),
                         std::to_string(output.length)});
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
  if (out) *out = rows_;
  return count;
}

std::string Control::ExpandString(const std::string& name) {
  std::string result;
  std::exception_ptr failure;
  {
    EngineScope scope(EngineScope::Kind::kAccess);
    Engine& engine = GlobalEngine();
    if (PrepareEngine(engine) == 0) {
      try {
        result = StrExp(engine, name);
      } catch (const ConversionAbandoned&) {
        // A fatal message raised by the expansion: a running conversion (this is an event
        // handler's call) ends at its next token; otherwise there is nothing to abandon.
        result.clear();
        if (scope.InConversion()) engine.driver.stop = true;
      }
    }
    failure = scope.TakePending();
  }
  if (failure) std::rethrow_exception(failure);
  return result;
}

void Control::SetString(const std::string& name, const std::string& value) {
  std::exception_ptr failure;
  {
    EngineScope scope(EngineScope::Kind::kAccess);
    Engine& engine = GlobalEngine();
    if (PrepareEngine(engine) == 0) {
      try {
        SetSetting(engine, name, value);
      } catch (const ConversionAbandoned&) {
        if (scope.InConversion()) engine.driver.stop = true;
      }
    }
    failure = scope.TakePending();
  }
  if (failure) std::rethrow_exception(failure);
}

int32_t Control::Init(const std::string& path) {
  EngineScope scope(EngineScope::Kind::kAccess);
  ControlProcess& process = Process();
  Engine& engine = GlobalEngine();
  {
    std::lock_guard<std::mutex> lock(process.mutex);
    process.receiver = this;
    process.bridgeInstalled = true;
  }
  engine.library.callback = ControlBridge;
  // A stop left by the previous conversion belongs to it and must not fail this call.
  if (!scope.InConversion()) engine.driver.stop = false;
  if (path.empty()) return PrepareEngine(engine);
  // A folder is taken as the program directory itself (a program path names a file in it).
  std::string program = IsDirectory(path) && path.back() != '/' ? path + "/" : path;
  int result = EngineInit(engine, program.c_str());
  std::lock_guard<std::mutex> lock(process.mutex);
  process.programDirectory = engine.settings.paths.programDirectory;
  return result;
}

int16_t Control::GetImageBytes(int16_t index, std::vector<uint8_t>* out) const {
  if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) return 1;
  if (out) {
    const std::string& bytes = rows_[static_cast<std::size_t>(index)].text;
    out->assign(bytes.begin(), bytes.end());
  }
  return 0;
}

std::string Control::AboutBox() const {
  std::string folder = DataDirectory();
  return std::string(ControlMetadata::kTypeLibraryHelp) + "\nVersion " + Version() +
         "\nData folder: " + (folder.empty() ? "not found" : folder) + "\n";
}

// ---- Beyond the component-model interface ---------------------------------------------------

std::vector<std::string> Control::SplitOptions(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inSingle = false, inDouble = false;
  for (char c : text) {
    if (c == '\'') {
      inSingle = !inSingle;
    } else if (c == '"') {
      inDouble = !inDouble;
      word.push_back(c);
    } else if (c == ' ' && !inSingle && !inDouble) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool Control::Busy() {
  ControlProcess& process = Process();
  std::lock_guard<std::mutex> lock(process.mutex);
  return process.converting;
}

std::vector<ControlMessage> Control::LastMessages() {
  EngineScope scope(EngineScope::Kind::kAccess);
  return RecordedMessages(GlobalEngine());
}

std::string Control::DataDirectory() {
  ControlProcess& process = Process();
  std::string program;
  {
    std::lock_guard<std::mutex> lock(process.mutex);
    program = process.programDirectory;
  }
  if (program.empty()) program = control::LocateDataFolder();
  // The engine's own search order, without the input's folder.
  std::vector<std::string> folders;
  if (const char* env = std::getenv("RTFLIBDIR")) folders.emplace_back(env);
  folders.push_back(program);
  folders.emplace_back("LIBDIR");
#ifdef QUILLO_DATA_DIR
  folders.emplace_back(QUILLO_DATA_DIR);
#endif
  for (const std::string& folder : folders) {
    if (!control::HoldsData(folder)) continue;
    char resolved[PATH_MAX];
    return realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
  }
  return std::string();
}

std::string Control::Version() { return QUILLO_VERSION; }

}  // namespace quillo
