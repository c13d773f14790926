// The memo of expansion results must never change an output: every golden input and every
// corpus document (when ../shared/corpus is there) is converted with reuse on and with
// ReuseResults=0, plain and split into pages with contents and index, and every output file must
// be equal byte for byte.
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

/// Every output of a string conversion by name ("" when the conversion failed).
std::map<std::string, std::string> ConvertAll(const std::string& rtf, bool reuse, bool split) {
  std::unique_ptr<quillo::Engine> engine = quillo::test::MakeEngine();
  std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0",
                                    "-D", "InputFile=input.rtf"};
  if (!reuse) words.insert(words.end(), {"-D", "ReuseResults=0"});
  if (split) words.insert(words.end(), {"-h", "2", "-c", "-x"});
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

void ExpectSameWithAndWithoutReuse(const std::vector<std::string>& inputs) {
  for (const std::string& path : inputs) {
    const std::string rtf = quillo::test::ReadFile(path);
    for (bool split : {false, true}) {
      const auto on = ConvertAll(rtf, true, split);
      const auto off = ConvertAll(rtf, false, split);
      // A document that cannot be converted must fail alike both ways.
      EXPECT_EQ(on.size(), off.size()) << path << (split ? " (split)" : "");
      for (const auto& [name, data] : on) {
        auto other = off.find(name);
        ASSERT_NE(other, off.end()) << path << ": " << name << " only with reuse";
        EXPECT_TRUE(other->second == data)
            << path << (split ? " (split)" : "") << ": " << name << " differs";
      }
    }
  }
}

TEST(ReuseTest, GoldenInputsGiveTheSameBytesWithAndWithoutReuse) {
  const auto inputs = RtfFilesUnder(fs::path(QUILLO_SOURCE_DIR) / "tests");
  ASSERT_FALSE(inputs.empty());
  ExpectSameWithAndWithoutReuse(inputs);
}

TEST(ReuseTest, CorpusGivesTheSameBytesWithAndWithoutReuse) {
  const fs::path corpus = fs::path(QUILLO_SOURCE_DIR) / ".." / "shared" / "corpus";
  const auto inputs = RtfFilesUnder(corpus);
  if (inputs.empty()) GTEST_SKIP() << corpus << " is not there";
  ExpectSameWithAndWithoutReuse(inputs);
}

}  // namespace
