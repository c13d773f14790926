// The exported C interface of libquillo.so: the process-wide functions on the default engine and
// the handle functions on engines of their own. Every export catches everything and maps it to its
// failure result, so nothing is thrown to a host.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/message_lines.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "frame/driver.h"
#include "quillo/quillo.h"

namespace quillo {
namespace {

/// Splits the stored options into the option vector: entry 0 empty, then the words. Single quotes
/// group words and are dropped; double quotes group words and are kept. Words beyond the vector's
/// room are dropped with a message (the vector also needs a slot for the input).
void SplitStoredOptions(Engine& engine) {
  LibraryState& lib = engine.library;
  lib.optionWords.assign(1, std::string());
  if (!lib.haveStoredOptions) return;
  std::string word;
  bool atWordStart = true, inSingle = false, inDouble = false;
  int dropped = 0;
  auto addWord = [&]() {
    if (static_cast<int>(lib.optionWords.size()) < LibraryState::kMaxOptionWords - 1) {
      lib.optionWords.push_back(word);
    } else {
      ++dropped;
    }
    word.clear();
    atWordStart = true;
  };
  for (char c : lib.storedOptions) {
    if (c == '\'') {
      inSingle = !inSingle;
    } else if (c == '"') {
      inDouble = !inDouble;
      word.push_back(c);
      atWordStart = false;
    } else if (c == ' ' && atWordStart) {
      continue;
    } else if (c == ' ' && !inSingle && !inDouble) {
      addWord();
    } else {
      word.push_back(c);
      atWordStart = false;
    }
  }
  if (!word.empty()) addWord();
  if (dropped > 0) {
    ReportMessage(engine, "MSG_TOO_MANY_OPTIONS", {LibraryState::kMaxOptionWords - 2, dropped});
  }
}

/// The option vector with `input` appended (when given), as the driver takes it.
struct OptionVector {
  std::vector<std::string> words;
  std::vector<char*> pointers;
  OptionVector(const std::vector<std::string>& optionWords, const char* input)
      : words(optionWords) {
    if (input) words.emplace_back(input);
    for (auto& w : words) pointers.push_back(w.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char** argv() { return pointers.data(); }
};

/// Entry 0 empty, then argv[0..argc-1], then `input` when given.
OptionVector HostVector(int argc, char** argv, const char* input) {
  std::vector<std::string> words(1, std::string());
  for (int i = 0; argv && i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
  return OptionVector(words, input);
}

void FreeStoredResults(LibraryState& lib) {
  FreeConvertedOutputs(lib.results, lib.resultCount);
  lib.results = nullptr;
  lib.resultCount = 0;
}

// ---- Shared by the process-wide functions and the handles ----------------------------------

int SetNamedString(Engine& engine, const char* name, const char* value) {
  if (!name || !value) return 1;
  try {
    if (!engine.library.initialised && EngineInit(engine, nullptr) != 0) return 1;
    return SetSetting(engine, name, value);
  } catch (...) {
    return 1;
  }
}

char* ExpandToMalloc(Engine& engine, const char* text) {
  if (!text) return nullptr;
  try {
    if (!engine.library.initialised && EngineInit(engine, nullptr) != 0) return nullptr;
    std::string expanded = StrExp(engine, text);
    if (expanded.empty()) return nullptr;
    return strdup(expanded.c_str());
  } catch (...) {
    return nullptr;
  }
}

const char* LastMessagesText(Engine& engine) {
  try {
    engine.library.lastMessagesText =
        FormatMessageRecords(engine.messages.recorded, engine.messages.droppedRecords);
    return engine.library.lastMessagesText.c_str();
  } catch (...) {
    return "";
  }
}

QuilloBSTR CopyToBSTR(const char* text) {
  if (!text) return nullptr;
  uint32_t length = static_cast<uint32_t>(std::strlen(text));
  QuilloBSTR bstr = QuilloSysAllocStringLen(nullptr, length);
  if (bstr) std::memcpy(bstr, text, length + 1);
  return bstr;
}

}  // namespace
}  // namespace quillo

using quillo::Engine;
using quillo::GlobalEngine;

extern "C" {

int QuilloInit(const char* programPath) {
  try {
    Engine& engine = GlobalEngine();
    engine.library.haveStoredOptions = false;
    engine.library.storedOptions.clear();
    return quillo::EngineInit(engine, programPath);
  } catch (...) {
    return 1;
  }
}

int QuilloSetOptions(const char* options) {
  try {
    Engine& engine = GlobalEngine();
    engine.library.haveStoredOptions = false;
    engine.library.storedOptions = options ? options : "";
    engine.library.haveStoredOptions = options != nullptr;
  } catch (...) {
    // Out of memory copying the options: none are stored (the result is 0 by contract).
    GlobalEngine().library.storedOptions.clear();
  }
  return 0;
}

int QuilloConvertRTF(const char* rtfFile, int argc, char** argv) {
  try {
    quillo::OptionVector args = quillo::HostVector(argc, argv, rtfFile ? rtfFile : "");
    return quillo::ConvertFiles(GlobalEngine(), args.argc(), args.argv());
  } catch (...) {
    return 1;
  }
}

int QuilloConvertRTF2(const char* rtfFile) {
  try {
    Engine& engine = GlobalEngine();
    quillo::BeginConversion(engine);
    if (quillo::EngineInit(engine, nullptr) != 0) return 1;
    quillo::SplitStoredOptions(engine);
    quillo::OptionVector args(engine.library.optionWords, rtfFile ? rtfFile : "");
    return quillo::ConvertFiles(engine, args.argc(), args.argv());
  } catch (...) {
    return 1;
  }
}

ConvertedOutput* QuilloConvertStrRTF(const char* rtfText, int argc, char** argv, int* count) {
  int ignored = 0;
  if (!count) count = &ignored;
  try {
    quillo::OptionVector args = quillo::HostVector(argc, argv, nullptr);
    return quillo::ConvertString(GlobalEngine(), args.argc(), args.argv(), rtfText, count);
  } catch (...) {
    *count = 0;
    return nullptr;
  }
}

int QuilloConvertStrRTF2(const char* rtfText) {
  try {
    Engine& engine = GlobalEngine();
    quillo::FreeStoredResults(engine.library);
    quillo::BeginConversion(engine);
    if (quillo::EngineInit(engine, nullptr) != 0) return -1;
    quillo::SplitStoredOptions(engine);
    quillo::OptionVector args(engine.library.optionWords, nullptr);
    int count = 0;
    ConvertedOutput* results =
        quillo::ConvertString(engine, args.argc(), args.argv(), rtfText, &count);
    if (count < 0) return -1;
    engine.library.results = results;
    engine.library.resultCount = results ? count : 0;
    return engine.library.resultCount;
  } catch (...) {
    return 0;
  }
}

char* QuilloGetFilename(int index) {
  quillo::LibraryState& lib = GlobalEngine().library;
  if (index < 0 || index >= lib.resultCount) return nullptr;
  return lib.results[index].name;
}

char* QuilloGetString(int index) {
  quillo::LibraryState& lib = GlobalEngine().library;
  if (index < 0 || index >= lib.resultCount) return nullptr;
  return lib.results[index].data;
}

int QuilloGetLength(int index) {
  quillo::LibraryState& lib = GlobalEngine().library;
  if (index < 0 || index >= lib.resultCount) return 0;
  return lib.results[index].length;
}

int QuilloSetString(const char* name, const char* value) {
  return quillo::SetNamedString(GlobalEngine(), name, value);
}

char* QuilloExpandString(const char* text) { return quillo::ExpandToMalloc(GlobalEngine(), text); }

int QuilloSetCallback(QuilloCallback callback) {
  GlobalEngine().library.callback = callback;
  return 0;
}

void QuilloFreeResults(ConvertedOutput* results, int count) {
  quillo::FreeConvertedOutputs(results, count);
}

const char* QuilloVersion(void) { return QUILLO_VERSION; }

const char* QuilloLastMessages(void) { return quillo::LastMessagesText(GlobalEngine()); }

// ---- Engine handles -------------------------------------------------------------------------
// A handle is an Engine of its own; nothing here touches the default engine.

}  // extern "C"

struct QuilloEngine {
  quillo::Engine engine;
};

extern "C" {

QuilloEngine* QuilloEngineCreate(const char* programPath) {
  try {
    auto* handle = new QuilloEngine;
    if (quillo::EngineInit(handle->engine, programPath) != 0) {
      delete handle;
      return nullptr;
    }
    return handle;
  } catch (...) {
    return nullptr;
  }
}

void QuilloEngineDestroy(QuilloEngine* handle) {
  try {
    delete handle;
  } catch (...) {
    // Releasing never fails in a way the host could act on.
  }
}

int QuilloEngineConvertRTF(QuilloEngine* handle, const char* rtfFile, int argc, char** argv) {
  if (!handle) return -1;
  try {
    quillo::OptionVector args = quillo::HostVector(argc, argv, rtfFile ? rtfFile : "");
    return quillo::ConvertFiles(handle->engine, args.argc(), args.argv());
  } catch (...) {
    return 1;
  }
}

ConvertedOutput* QuilloEngineConvertStrRTF(QuilloEngine* handle, const char* rtfText,
                                           uint32_t length, int argc, char** argv, int* count) {
  int ignored = 0;
  if (!count) count = &ignored;
  if (!handle) {
    *count = -1;
    return nullptr;
  }
  try {
    quillo::OptionVector args = quillo::HostVector(argc, argv, nullptr);
    std::string_view text(rtfText ? rtfText : "", rtfText ? length : 0);
    return quillo::ConvertString(handle->engine, args.argc(), args.argv(), text, count);
  } catch (...) {
    *count = 0;
    return nullptr;
  }
}

int QuilloEngineSetString(QuilloEngine* handle, const char* name, const char* value) {
  if (!handle) return 1;
  return quillo::SetNamedString(handle->engine, name, value);
}

char* QuilloEngineExpandString(QuilloEngine* handle, const char* text) {
  if (!handle) return nullptr;
  return quillo::ExpandToMalloc(handle->engine, text);
}

int QuilloEngineSetCallback(QuilloEngine* handle, QuilloEngineCallback callback, void* userData) {
  if (!handle) return -1;
  handle->engine.library.engineCallback = callback;
  handle->engine.library.engineCallbackData = callback ? userData : nullptr;
  return 0;
}

const char* QuilloEngineLastMessages(QuilloEngine* handle) {
  if (!handle) return "";
  return quillo::LastMessagesText(handle->engine);
}

// ---- BSTR layer -----------------------------------------------------------------------------

QuilloBSTR QuilloSysAllocStringLen(const void* source, uint32_t length) {
  // Layout: 32-bit byte length, 2 * length bytes, two NUL bytes; the pointer points at the bytes.
  uint64_t bytes = static_cast<uint64_t>(length) * 2;
  if (bytes > 0x7ffffff0u) return nullptr;
  char* block = static_cast<char*>(std::malloc(4 + bytes + 2));
  if (!block) return nullptr;
  uint32_t byteLength = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byteLength, 4);
  char* text = block + 4;
  if (source) {
    std::memcpy(text, source, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[bytes] = '\0';
  text[bytes + 1] = '\0';
  return text;
}

void QuilloSysFreeString(QuilloBSTR bstr) {
  if (bstr) std::free(bstr - 4);
}

uint32_t QuilloSysStringByteLen(QuilloBSTR bstr) {
  if (!bstr) return 0;
  uint32_t byteLength;
  std::memcpy(&byteLength, bstr - 4, 4);
  return byteLength;
}

// ---- Standard-call forwarders -------------------------------------------------------------
// Exported as "_QuilloInitVB@4" and so on. Linkers read '@' in a symbol name as a version tag, so
// the forwarders are linked under stand-ins of the same length ("_QuilloInitVB_4") and the build
// renames them in the finished library (engine/tools/decorate_exports.cc).

#define QUILLO_FORWARDER extern "C" __attribute__((visibility("default"), used))

QUILLO_FORWARDER int _QuilloInitVB_4(const char* programPath) { return QuilloInit(programPath); }
QUILLO_FORWARDER int _QuilloSetOptionsVB_4(const char* options) {
  return QuilloSetOptions(options);
}
QUILLO_FORWARDER int _QuilloSetStringVB_8(const char* name, const char* value) {
  return QuilloSetString(name, value);
}
QUILLO_FORWARDER int _QuilloConvertRTFVB_4(const char* rtfFile) {
  return QuilloConvertRTF2(rtfFile);
}
QUILLO_FORWARDER int _QuilloConvertStrRTFVB_4(const char* rtfText) {
  return QuilloConvertStrRTF2(rtfText);
}
QUILLO_FORWARDER int _QuilloGetLengthVB_4(int index) { return QuilloGetLength(index); }
QUILLO_FORWARDER QuilloBSTR _QuilloGetFilenameVB_4(int index) {
  return quillo::CopyToBSTR(QuilloGetFilename(index));
}
QUILLO_FORWARDER QuilloBSTR _QuilloGetStringVB_4(int index) {
  return quillo::CopyToBSTR(QuilloGetString(index));
}
QUILLO_FORWARDER QuilloBSTR _QuilloExpandStringVB_4(const char* text) {
  char* expanded = QuilloExpandString(text);
  QuilloBSTR bstr = quillo::CopyToBSTR(expanded);
  std::free(expanded);
  return bstr;
}

}  // extern "C"
