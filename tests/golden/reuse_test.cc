// The memo of expansion results must never change an output: every golden input and every
// corpus document (when ../shared/corpus is there) is converted with reuse on and with
// ReuseResults=0, plain and split into pages with contents and index, and every output file must
// be equal byte for byte. The golden inputs are also converted with every other translation file
// shipped (HTML 4.01 and 3.2, XHTML, DocBook, OEB, EPUB), whose texts use other parts of the
// expansion language. Under the sanitizers, which run several times slower, the corpus is a
// sample (every sixth document under 256 KB), and only the languages' own golden inputs go through
// every translation file, so that the test stays well inside its time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLO_REUSE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLO_REUSE_TEST_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

#ifdef QUILLO_REUSE_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

/// Every output of a string conversion by name ("" when the conversion failed).
std::map<std::string, std::string> ConvertAll(const std::string& rtf, bool reuse, bool split,
                                              const std::string& language) {
  std::unique_ptr<quillo::Engine> engine = quillo::test::MakeEngine();
  std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0",
                                    "-D", "InputFile=input.rtf",
                                    // A fixed time for the dates of packages (OEB, EPUB).
                                    "-D", "StartTimeUTC=2000-01-01T00:00:00Z"};
  if (!reuse) words.insert(words.end(), {"-D", "ReuseResults=0"});
  if (split) words.insert(words.end(), {"-h", "2", "-c", "-x"});
  if (!language.empty()) words.insert(words.end(), {"-D", language});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  std::map<std::string, std::string> files;
  if (!outputs) return files;
  for (int i = 0; i < count; ++i)
    files[outputs[i].name ? outputs[i].name : ""] =
        std::string(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  quillo::FreeConvertedOutputs(outputs, count);
  return files;
}

std::vector<std::string> RtfFilesUnder(const fs::path& root) {
  std::vector<std::string> found;
  if (!fs::is_directory(root)) return found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (entry.is_regular_file() && extension == ".rtf") found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

/// `language` is a setting that picks the output language ("" for the default translation file).
/// With `mustConvert` every input must give output (an empty result would compare equal); else a
/// document that cannot be converted must fail alike both ways.
void ExpectSameWithAndWithoutReuse(const std::vector<std::string>& inputs,
                                   const std::string& language = "", bool mustConvert = false) {
  for (const std::string& path : inputs) {
    const std::string rtf = quillo::test::ReadFile(path);
    for (bool split : {false, true}) {
      const std::string what =
          path + (split ? " (split)" : "") + (language.empty() ? "" : " with " + language);
      const auto on = ConvertAll(rtf, true, split, language);
      const auto off = ConvertAll(rtf, false, split, language);
      if (mustConvert) {
        EXPECT_FALSE(on.empty()) << what;
      }
      EXPECT_EQ(on.size(), off.size()) << what;
      for (const auto& [name, data] : on) {
        auto other = off.find(name);
        ASSERT_NE(other, off.end()) << what << ": " << name << " only with reuse";
        EXPECT_TRUE(other->second == data) << what << ": " << name << " differs";
      }
    }
  }
}

TEST(ReuseTest, GoldenInputsGiveTheSameBytesWithAndWithoutReuse) {
  const auto inputs = RtfFilesUnder(fs::path(QUILLO_SOURCE_DIR) / "tests");
  ASSERT_FALSE(inputs.empty());
  ExpectSameWithAndWithoutReuse(inputs);
}

TEST(ReuseTest, GoldenInputsGiveTheSameBytesWithAndWithoutReuseInEveryLanguage) {
  const auto inputs = RtfFilesUnder(fs::path(QUILLO_SOURCE_DIR) /
                                    (kSanitized ? "tests/languages/golden" : "tests"));
  ASSERT_FALSE(inputs.empty());
  for (const char* language : {"HTML=4", "HTML=3", "XHTML=1", "TrnFile=docbook.trn",
                               "TrnFile=oeb.trn", "TrnFile=epub.trn"}) {
    ExpectSameWithAndWithoutReuse(inputs, language, true);
  }
}

TEST(ReuseTest, CorpusGivesTheSameBytesWithAndWithoutReuse) {
  const fs::path corpus = fs::path(QUILLO_SOURCE_DIR) / ".." / "shared" / "corpus";
  auto inputs = RtfFilesUnder(corpus);
  if (inputs.empty()) GTEST_SKIP() << corpus << " is not there";
  if (kSanitized) {
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < inputs.size(); i += 6)
      if (fs::file_size(inputs[i]) < 256 * 1024) sample.push_back(inputs[i]);
    inputs = std::move(sample);
  }
  ExpectSameWithAndWithoutReuse(inputs);
}

}  // namespace
