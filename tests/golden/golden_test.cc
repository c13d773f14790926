// Golden files: every RTF input in this folder is converted with the default translation file
// (data/html.trn) and the page must equal the .html of the same base name beside it, byte for
// byte. Each input is small and pins one feature; its expected output was read and checked by
// hand, so a difference is either a fault or a change that needs the same review.
//
// To accept new output after reviewing it:  QUILLO_UPDATE_GOLDEN=1 ./quillo_golden_tests
// (this rewrites the expected files; look at `git diff tests/golden` before keeping them).
//
// Cases listed in PENDING have a right expected output that the engine cannot produce yet: a
// difference skips them (with the reason), a match fails until the line is removed.
//
// A second test runs HTML Tidy over every expected page: none may have an error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string GoldenDir() { return std::string(QUILLO_SOURCE_DIR) + "/tests/golden"; }

/// Base names of the golden inputs, sorted.
std::vector<std::string> GoldenCases() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(GoldenDir()))
    if (entry.path().extension() == ".rtf") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

/// The reason a case is listed in PENDING, or "" when it is not.
std::string PendingReason(const std::string& name) {
  std::istringstream lines(quillo::test::ReadFile(GoldenDir() + "/PENDING"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string caseName, reason;
    fields >> caseName;
    std::getline(fields >> std::ws, reason);
    if (caseName == name) return reason.empty() ? "pending" : reason;
  }
  return "";
}

bool UpdateMode() {
  const char* value = std::getenv("QUILLO_UPDATE_GOLDEN");
  return value && std::string(value) == "1";
}

struct Conversion {
  bool ok = false;
  std::string page;    // the main output "-.html"
  std::string errors;  // the error file, when one was written
  std::vector<std::string> names;
};

/// Converts `rtf` in memory as the library does for a host. The input file's name is given as
/// InputFile, since a string conversion has none and the page title may fall back on it.
Conversion Convert(const std::string& name, const std::string& rtf) {
  std::unique_ptr<quillo::Engine> engine = quillo::test::MakeEngine();
  // Entry 0 is the program path: library files (html.trn, the maps) are found beside it.
  std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0",
                                    "-D", "InputFile=" + name + ".rtf"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  Conversion result;
  if (!outputs) return result;
  result.ok = true;
  for (int i = 0; i < count; ++i) {
    std::string outputName = outputs[i].name ? outputs[i].name : "";
    std::string data(outputs[i].data ? outputs[i].data : "", outputs[i].length);
    result.names.push_back(outputName);
    if (outputName == "-.html")
      result.page = data;
    else if (outputName.find("_err.") != std::string::npos)
      result.errors = data;
  }
  quillo::FreeConvertedOutputs(outputs, count);
  return result;
}

class GoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, PageMatchesExpectedOutput) {
  const std::string name = GetParam();
  const std::string input = GoldenDir() + "/" + name + ".rtf";
  const std::string expectedPath = GoldenDir() + "/" + name + ".html";
  Conversion run = Convert(name, quillo::test::ReadFile(input));
  ASSERT_TRUE(run.ok) << name << ": the conversion failed";
  std::string names;
  for (const std::string& n : run.names) names += " " + n;
  ASSERT_FALSE(run.page.empty()) << name << ": no page among the outputs:" << names;

  const std::string pending = PendingReason(name);
  if (UpdateMode()) {
    // A pending case's expected output was written by hand: it stays.
    if (!pending.empty()) GTEST_SKIP() << name << " is pending; its expected output is kept";
    quillo::test::WriteFile(expectedPath, run.page);
    std::printf("updated %s\n", expectedPath.c_str());
    return;
  }
  ASSERT_TRUE(quillo::test::FileExists(expectedPath))
      << expectedPath << " is missing; run with QUILLO_UPDATE_GOLDEN=1 and review it";
  const std::string expected = quillo::test::ReadFile(expectedPath);
  if (!pending.empty()) {
    ASSERT_NE(run.page, expected) << name
                                  << " now gives its expected output: remove it from PENDING";
    GTEST_SKIP() << name << " is pending: " << pending;
  }
  EXPECT_EQ(run.page, expected) << name << ".rtf";
  // The translation file must not make the engine complain about a well-formed input.
  EXPECT_EQ(run.errors, "") << name << ".rtf";
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenTest, ::testing::ValuesIn(GoldenCases()), TestName);

// --- HTML Tidy over the expected pages --------------------------------------------------------

bool TidyInstalled() { return std::system("command -v tidy >/dev/null 2>&1") == 0; }

struct TidyResult {
  int exitCode = -1;  // 0 clean, 1 warnings only, 2 errors
  std::string report;
};

TidyResult RunTidy(const std::string& path) {
  std::string command = "tidy -q -e '" + path + "' 2>&1";
  TidyResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.report.append(buffer, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(GoldenTidyTest, EveryExpectedPageIsValidHtml) {
  if (!TidyInstalled()) GTEST_SKIP() << "tidy is not installed (apt-get install tidy)";
  int pages = 0;
  for (const std::string& name : GoldenCases()) {
    std::string path = GoldenDir() + "/" + name + ".html";
    if (!quillo::test::FileExists(path)) continue;
    ++pages;
    TidyResult tidy = RunTidy(path);
    EXPECT_LT(tidy.exitCode, 2) << name << ".html has errors:\n" << tidy.report;
    EXPECT_GE(tidy.exitCode, 0) << "tidy did not run on " << name << ".html";
    if (tidy.exitCode == 1)
      std::printf("%s.html: tidy warnings:\n%s", name.c_str(), tidy.report.c_str());
  }
  EXPECT_GT(pages, 0);
}

}  // namespace
