// Engine handles used as a server would: several engines converting on several threads at once
// must give each document the bytes a lone engine gives it, and no setting, callback or message
// of one engine may reach another (or the process-wide default engine). Built into build-tsan by
// `make tsan`, where ThreadSanitizer watches the same runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "quillo/quillo.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quillo::test::ReadFile;
using quillo::test::TempDir;

std::string ProgramPath() { return quillo::test::DataDir() + "/quillocmd"; }

/// Owns a handle for the length of a test.
struct Handle {
  QuilloEngine* engine = QuilloEngineCreate(ProgramPath().c_str());
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { QuilloEngineDestroy(engine); }
};

std::string Expand(QuilloEngine* engine, const char* text) {
  char* result = QuilloEngineExpandString(engine, text);
  std::string s = result ? result : "";
  std::free(result);
  return s;
}

/// The documents of a run: the golden inputs (always there) and the shared corpus when it is
/// beside the checkout (or named by QUILLO_CORPUS). QUILLO_ENGINES_MAX_BYTES leaves out larger
/// documents (the ThreadSanitizer build is many times slower).
std::vector<std::string> Documents(bool withCorpus) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(std::string(QUILLO_SOURCE_DIR) + "/tests/golden"))
    if (entry.path().extension() == ".rtf") names.push_back(entry.path().string());
  if (withCorpus) {
    const char* env = std::getenv("QUILLO_CORPUS");
    fs::path corpus = env && *env ? fs::path(env)
                                  : fs::path(QUILLO_SOURCE_DIR).parent_path() / "shared" / "corpus";
    std::error_code ec;
    if (fs::is_directory(corpus, ec))
      for (const auto& entry : fs::recursive_directory_iterator(corpus, ec))
        if (entry.is_regular_file() && entry.path().extension() == ".rtf")
          names.push_back(entry.path().string());
  }
  if (const char* limit = std::getenv("QUILLO_ENGINES_MAX_BYTES"); limit && *limit) {
    const std::uintmax_t max = std::strtoull(limit, nullptr, 10);
    std::erase_if(names, [&](const std::string& name) { return fs::file_size(name) > max; });
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// What a string conversion produced: each output's name and bytes, in order, and the messages.
struct StringResult {
  int count = 0;
  std::vector<std::pair<std::string, std::string>> outputs;
  std::string messages;
  bool operator==(const StringResult&) const = default;
};

StringResult ConvertText(QuilloEngine* engine, const std::string& rtf) {
  StringResult result;
  ConvertedOutput* out = QuilloEngineConvertStrRTF(
      engine, rtf.data(), static_cast<uint32_t>(rtf.size()), 0, nullptr, &result.count);
  for (int i = 0; out && i < result.count; ++i)
    result.outputs.emplace_back(out[i].name, std::string(out[i].data, out[i].length));
  QuilloFreeResults(out, result.count);
  result.messages = QuilloEngineLastMessages(engine);
  return result;
}

/// Every file under `dir` (relative name -> bytes).
std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path().string());
  return files;
}

/// What a file conversion produced: its result, the files of its output folder, the messages.
struct FileResult {
  int status = 0;
  std::map<std::string, std::string> files;
  std::string messages;
  bool operator==(const FileResult&) const = default;
};

FileResult ConvertInto(QuilloEngine* engine, const std::string& input, const fs::path& dir) {
  fs::create_directories(dir);
  std::string out = (dir / "page.html").string();
  std::vector<std::string> words{"-D", "PauseOnErr=0", "-o", out};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  FileResult result;
  result.status =
      QuilloEngineConvertRTF(engine, input.c_str(), static_cast<int>(argv.size()), argv.data());
  result.messages = QuilloEngineLastMessages(engine);
  result.files = Tree(dir);
  fs::remove_all(dir);
  return result;
}

/// Runs `work(engine, index)` for every index on `threads` threads, each with a handle of its
/// own, taking the next index from a shared counter (so the documents mix between engines).
template <typename Work>
void OnThreads(int threads, std::size_t count, Work work) {
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      Handle handle;
      if (!handle.engine) return;
      for (std::size_t i = next++; i < count; i = next++) work(handle.engine, i);
    });
  for (std::thread& thread : pool) thread.join();
}

constexpr int kThreads = 4;

TEST(EngineHandles, FourThreadsConvertStringsAsOneEngineDoes) {
  std::vector<std::string> names = Documents(true);
  ASSERT_FALSE(names.empty());
  std::vector<std::string> texts;
  for (const std::string& name : names) texts.push_back(ReadFile(name));

  std::vector<StringResult> serial(texts.size());
  {
    Handle handle;
    ASSERT_NE(handle.engine, nullptr);
    for (std::size_t i = 0; i < texts.size(); ++i) serial[i] = ConvertText(handle.engine, texts[i]);
  }
  std::vector<StringResult> parallel(texts.size());
  OnThreads(kThreads, texts.size(), [&](QuilloEngine* engine, std::size_t i) {
    parallel[i] = ConvertText(engine, texts[i]);
  });
  // Some corpus documents are broken on purpose: their failure must be the same too.
  std::size_t converted = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (serial[i].count > 0) ++converted;
    EXPECT_TRUE(parallel[i] == serial[i]) << names[i];
  }
  EXPECT_GT(converted, texts.size() / 2);
}

TEST(EngineHandles, FourThreadsWriteFilesAsOneEngineDoes) {
  std::vector<std::string> names = Documents(true);
  TempDir temp;
  auto dirOf = [&](std::size_t i) { return fs::path(temp.path()) / std::to_string(i); };
  std::vector<FileResult> serial(names.size());
  {
    Handle handle;
    ASSERT_NE(handle.engine, nullptr);
    for (std::size_t i = 0; i < names.size(); ++i)
      serial[i] = ConvertInto(handle.engine, names[i], dirOf(i));
  }
  std::vector<FileResult> parallel(names.size());
  OnThreads(kThreads, names.size(), [&](QuilloEngine* engine, std::size_t i) {
    parallel[i] = ConvertInto(engine, names[i], dirOf(i));
  });
  std::size_t converted = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (serial[i].status == 0) ++converted;
    EXPECT_TRUE(parallel[i] == serial[i]) << names[i];
  }
  EXPECT_GT(converted, names.size() / 2);
}

TEST(EngineHandles, SettingsStayWithTheirEngine) {
  ASSERT_EQ(QuilloInit(ProgramPath().c_str()), 0);
  Handle a, b;
  ASSERT_NE(a.engine, nullptr);
  ASSERT_NE(b.engine, nullptr);
  QuilloEngineSetString(a.engine, "HandleProbe", "from a");
  QuilloSetString("HandleProbe", "from the default engine");
  EXPECT_EQ(Expand(a.engine, "$HandleProbe;"), "from a");
  EXPECT_EQ(Expand(b.engine, "$HandleProbe;"), "");
  char* global = QuilloExpandString("$HandleProbe;");
  EXPECT_STREQ(global, "from the default engine");
  std::free(global);
  QuilloSetString("HandleProbe", "");
}

TEST(EngineHandles, NullHandlesFailPlainly) {
  int count = 5;
  EXPECT_EQ(QuilloEngineConvertStrRTF(nullptr, "{\\rtf1 x}", 9, 0, nullptr, &count), nullptr);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(QuilloEngineConvertRTF(nullptr, "x.rtf", 0, nullptr), -1);
  EXPECT_EQ(QuilloEngineSetString(nullptr, "a", "b"), 1);
  EXPECT_EQ(QuilloEngineExpandString(nullptr, "$Date;"), nullptr);
  EXPECT_EQ(QuilloEngineSetCallback(nullptr, nullptr, nullptr), -1);
  EXPECT_STREQ(QuilloEngineLastMessages(nullptr), "");
  QuilloEngineDestroy(nullptr);
  Handle handle;
  EXPECT_EQ(QuilloEngineSetString(handle.engine, nullptr, "b"), 1);
  EXPECT_EQ(QuilloEngineExpandString(handle.engine, nullptr), nullptr);
}

// ---- Callbacks --------------------------------------------------------------------------------

struct Calls {
  std::vector<std::string> received;  ///< "why:argv[0]" per call
};

char* Record(void* userData, int why, int argc, char** argv) {
  static_cast<Calls*>(userData)->received.push_back(std::to_string(why) + ":" +
                                                    (argc > 0 ? argv[0] : ""));
  return nullptr;
}

char* ProcessWideRecord(int, int, char**);
Calls* processWideCalls = nullptr;
char* ProcessWideRecord(int why, int argc, char** argv) {
  if (processWideCalls)
    processWideCalls->received.push_back(std::to_string(why) + ":" + (argc > 0 ? argv[0] : ""));
  return nullptr;
}

const char kDocument[] = "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\pard Hello world.\\par}";

/// Converts `rtf` on `handle` (the default engine when null) and frees the outputs; the count
/// of outputs. (Freeing inside the call's own argument list would read the count before the
/// conversion sets it.)
int ConvertAndFree(QuilloEngine* handle, const std::string& rtf, int argc, char** argv) {
  int count = 0;
  ConvertedOutput* outputs =
      handle ? QuilloEngineConvertStrRTF(handle, rtf.data(), static_cast<uint32_t>(rtf.size()),
                                         argc, argv, &count)
             : QuilloConvertStrRTF(rtf.c_str(), argc, argv, &count);
  QuilloFreeResults(outputs, count);
  return count;
}

TEST(EngineHandles, CallbacksReachOnlyTheirEngineWithTheirData) {
  ASSERT_EQ(QuilloInit(ProgramPath().c_str()), 0);
  Calls global, callsA, callsB;
  processWideCalls = &global;
  QuilloSetCallback(&ProcessWideRecord);
  Handle a, b;
  ASSERT_EQ(QuilloEngineSetCallback(a.engine, &Record, &callsA), 0);
  ASSERT_EQ(QuilloEngineSetCallback(b.engine, &Record, &callsB), 0);
  char percent[] = "-DPercentCallback=10";
  char* argv[] = {percent};
  std::string rtf = kDocument;
  int count = ConvertAndFree(a.engine, rtf, 1, argv);
  EXPECT_GT(count, 0);
  EXPECT_FALSE(callsA.received.empty());
  EXPECT_EQ(callsA.received.front(), "1:MSG_PERCENT");
  EXPECT_TRUE(callsB.received.empty());
  EXPECT_TRUE(global.received.empty());

  // Removing the callback of one engine leaves the other's in place.
  callsA.received.clear();
  ASSERT_EQ(QuilloEngineSetCallback(a.engine, nullptr, &callsA), 0);
  ConvertAndFree(a.engine, rtf, 1, argv);
  ConvertAndFree(b.engine, rtf, 1, argv);
  EXPECT_TRUE(callsA.received.empty());
  EXPECT_FALSE(callsB.received.empty());
  EXPECT_TRUE(global.received.empty());

  // The default engine's callback is its own too.
  ConvertAndFree(nullptr, rtf, 1, argv);
  EXPECT_FALSE(global.received.empty());
  QuilloSetCallback(nullptr);
  processWideCalls = nullptr;
}

TEST(EngineHandles, MessagesStayWithTheirEngine) {
  Handle broken, sound;
  std::string bad = "this is not RTF";
  std::string good = kDocument;
  StringResult failed = ConvertText(broken.engine, bad);
  StringResult converted = ConvertText(sound.engine, good);
  EXPECT_EQ(failed.count, 0);
  EXPECT_NE(failed.messages.find("MSG_MALFORMED_RTF"), std::string::npos) << failed.messages;
  EXPECT_GT(converted.count, 0);
  EXPECT_EQ(converted.messages.find("MSG_MALFORMED_RTF"), std::string::npos) << converted.messages;
  // Reading the messages again does not change them, and the other engine's conversion did not.
  EXPECT_EQ(std::string(QuilloEngineLastMessages(broken.engine)), failed.messages);
}

TEST(EngineHandles, MessagesOfParallelConversionsAreEachDocumentsOwn) {
  // Half the documents are broken: each engine must report exactly its own failures.
  std::vector<std::string> texts;
  for (int i = 0; i < 40; ++i)
    texts.push_back(i % 2 ? std::string(kDocument) : "broken " + std::to_string(i));
  std::vector<StringResult> results(texts.size());
  OnThreads(kThreads, texts.size(), [&](QuilloEngine* engine, std::size_t i) {
    results[i] = ConvertText(engine, texts[i]);
  });
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const bool broken = i % 2 == 0;
    EXPECT_EQ(results[i].count > 0, !broken) << i;
    EXPECT_EQ(results[i].messages.find("MSG_MALFORMED_RTF") != std::string::npos, broken)
        << i << ": " << results[i].messages;
  }
}

}  // namespace
