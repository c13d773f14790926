// Shared set-up of the translation-layer tests: a small translation file written into a
// temporary folder, and string conversions whose page text and error file are returned.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo::test {

/// The parts of a translation file that the tests share. Tables given to Convert are appended,
/// so a test adds its own sections after these.
inline constexpr char kBaseTrn[] = R"(.Version 6
.Colors
Black 0 0 0
Red 255 0 0
.Strings
TitlePageHead "[head]"
TitlePageEnd "[end]"
TitlePageBody ""
TitlePageBodyEnd ""
PauseOnErr 0
)";

/// Tables for plain paragraphs and bold/italic text tags.
inline constexpr char kSimpleTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "[tab]" "</p>\n<p>" "<br>" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
Italic "<i>" "</i>"
.TMatch
"" 0 Bold "" "" Bold
"" 0 Italic "" "" Italic
"" 0 Hidden "" "" _Discard
.PMatch
Normal 0 Normal
)";

struct Conversion {
  bool converted = false;
  std::string page;    ///< the main output without the page head and end markers
  std::string errors;  ///< the error file
  std::string raw;     ///< the whole main output
};

class TranslateTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<Engine> engine_ = MakeEngine();

  /// Converts `rtf` with a translation file made of kBaseTrn and `tables`. `options` are further
  /// option words; `input`, when not empty, names an input file converted instead of `rtf`.
  Conversion Convert(const std::string& tables, const std::string& rtf,
                     std::vector<std::string> options = {}, const std::string& input = "") {
    std::string trn = dir_.File("test.trn");
    WriteFile(trn, std::string(kBaseTrn) + tables);
    std::vector<std::string> words = {"", "-D", "TrnFile=" + trn};
    for (std::string& option : options) words.push_back(std::move(option));
    if (!input.empty()) words.push_back(input);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int count = 0;
    ConvertedOutput* outputs =
        ConvertString(*engine_, static_cast<int>(words.size()), argv.data(), rtf.c_str(), &count);
    Conversion result;
    result.converted = outputs != nullptr;
    for (int i = 0; i < count; ++i) {
      std::string name = outputs[i].name ? outputs[i].name : "";
      std::string data(outputs[i].data ? outputs[i].data : "", outputs[i].length);
      if (name.find("_err.") != std::string::npos)
        result.errors += data;
      else if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0)
        result.raw += data;
    }
    FreeConvertedOutputs(outputs, count);
    result.page = result.raw;
    if (result.page.rfind("[head]", 0) == 0) result.page.erase(0, 6);
    if (result.page.size() >= 5 && result.page.compare(result.page.size() - 5, 5, "[end]") == 0)
      result.page.resize(result.page.size() - 5);
    return result;
  }

  /// Number of times `needle` occurs in `text`.
  static int Count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
      ++n;
    return n;
  }
};

}  // namespace quillo::test
