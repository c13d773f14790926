// Translation-file loads kept by an engine must never change an output: every golden input is
// converted one after the other by one engine (which reuses its first load from the second
// conversion on) and by a fresh engine each that reads the file anew, plain and split into pages
// with contents and index, in the default language and in XHTML; every output must be equal. The
// same holds for files under their own names, whose loads are shared between documents.
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

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Convert(quillo::Engine& engine, const std::string& rtf,
                                           bool split, const std::string& language) {
  std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0",
                                    "-D", "InputFile=input.rtf"};
  if (split) words.insert(words.end(), {"-h", "2", "-c", "-x"});
  if (!language.empty()) words.insert(words.end(), {"-D", language});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  std::map<std::string, std::string> files;
  if (!outputs) return files;
  for (int i = 0; i < count; ++i)
    files[outputs[i].name ? outputs[i].name : ""] =
        std::string(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  quillo::FreeConvertedOutputs(outputs, count);
  return files;
}

std::vector<std::string> GoldenInputs() {
  std::vector<std::string> found;
  const fs::path root = fs::path(QUILLO_SOURCE_DIR) / "tests";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (entry.is_regular_file() && extension == ".rtf") found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(KeptLoadTest, OneEngineGivesWhatFreshEnginesGive) {
  const std::vector<std::string> inputs = GoldenInputs();
  ASSERT_FALSE(inputs.empty());
  for (const char* language : {"", "XHTML=1"}) {
    for (bool split : {false, true}) {
      std::unique_ptr<quillo::Engine> kept = quillo::test::MakeEngine();
      unsigned long reuses = 0;
      for (const std::string& path : inputs) {
        const std::string rtf = quillo::test::ReadFile(path);
        const std::string what = path + (split ? " (split) " : " ") + language;
        std::unique_ptr<quillo::Engine> fresh = quillo::test::MakeEngine();
        fresh->translationCache.enabled = false;
        const auto expected = Convert(*fresh, rtf, split, language);
        const auto got = Convert(*kept, rtf, split, language);
        EXPECT_EQ(got.size(), expected.size()) << what;
        for (const auto& [name, data] : expected) {
          auto other = got.find(name);
          ASSERT_NE(other, got.end()) << what << ": " << name << " missing";
          EXPECT_TRUE(other->second == data) << what << ": " << name << " differs";
        }
      }
      for (const quillo::CachedLoad& load : kept->translationCache.loads) reuses += load.uses;
      // The documents that set options of their own aside, the load is reused.
      EXPECT_GT(reuses, inputs.size() / 2) << language;
    }
  }
}

/// The files of `folder` by name, with their contents.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = quillo::test::ReadFile(entry.path().string());
  return files;
}

void ConvertFile(quillo::Engine& engine, const fs::path& input, const fs::path& folder) {
  fs::create_directories(folder);
  std::vector<std::string> words = {
      quillo::test::DataDir() + "/quillocmd",     "-D",          "PauseOnErr=0", "-o",
      (folder / input.stem()).string() + ".html", input.string()};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  quillo::ConvertFiles(engine, static_cast<int>(words.size()), argv.data());
}

TEST(KeptLoadTest, FilesUnderTheirOwnNamesShareALoadAndGiveWhatFreshEnginesGive) {
  const std::vector<std::string> inputs = GoldenInputs();
  quillo::test::TempDir scratch;
  std::unique_ptr<quillo::Engine> kept = quillo::test::MakeEngine();
  int number = 0;
  for (const std::string& path : inputs) {
    const fs::path folder = fs::path(scratch.File(std::to_string(number++)));
    std::unique_ptr<quillo::Engine> fresh = quillo::test::MakeEngine();
    fresh->translationCache.enabled = false;
    ConvertFile(*fresh, path, folder / "fresh");
    ConvertFile(*kept, path, folder / "kept");
    EXPECT_EQ(FilesIn(folder / "kept"), FilesIn(folder / "fresh")) << path;
  }
  unsigned long reuses = 0;
  for (const quillo::CachedLoad& load : kept->translationCache.loads) reuses += load.uses;
  EXPECT_GT(reuses, inputs.size() / 2);
}

}  // namespace
