// Handing over to another translation file: a translation file (or the command-line file it
// reads) that sets TrnFile makes the conversion start over with the file it names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo {
namespace {

/// A translation file whose page is `marker`, with everything else it needs. `strings` are
/// further .Strings lines, read before the page strings.
std::string Trn(const std::string& marker, const std::string& strings = "") {
  return ".Version 6\n"
         ".PTag\nP \"<p>\" \"</p>\" \"\" \"\" \"</p><p>\" \"\" 1 0 0 0 0 0\n"
         ".TTag\nB \"<b>\" \"</b>\"\n"
         ".TMatch\n\"\" 0 Bold \"\" \"\" B\n"
         ".PMatch\nNormal 0 P\n"
         ".Strings\nPauseOnErr 0\n" +
         strings + "TitlePageHead \"[" + marker + "|$Left;]\"\nTitlePageEnd \"\"\n";
}

class HandOverTest : public ::testing::Test {
 protected:
  /// Converts doc.rtf of the temporary folder, where html.trn is found first (the input's
  /// folder is searched before the program's). Returns the page.
  std::string Convert(std::vector<std::string> options = {}) {
    test::WriteFile(dir_.File("doc.rtf"), "{\\rtf1 text\\par}");
    std::vector<std::string> words = {test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0"};
    for (std::string& option : options) words.push_back(std::move(option));
    words.push_back(dir_.File("doc.rtf"));
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    auto engine = test::MakeEngine();
    EXPECT_EQ(ConvertFiles(*engine, static_cast<int>(words.size()), argv.data()), 0);
    return test::ReadFile(dir_.File("doc.html"));
  }
  test::TempDir dir_;
};

TEST_F(HandOverTest, TheNamedFileIsReadInsteadWithNothingLeftOfTheFirst) {
  // The default file names another one, as a command-line file with TRNFILE,docbook.trn would;
  // what the first file set (Left) is gone when the second is read.
  test::WriteFile(dir_.File("html.trn"),
                  Trn("first", "Left \"left over\"\nTrnFile \"" + dir_.File("other.trn") + "\"\n"));
  test::WriteFile(dir_.File("other.trn"), Trn("other"));
  EXPECT_EQ(Convert(), "[other|]<p>text</p>");
}

TEST_F(HandOverTest, AnOptionOnTheCommandLineWins) {
  test::WriteFile(dir_.File("html.trn"),
                  Trn("first", "TrnFile \"" + dir_.File("other.trn") + "\"\n"));
  test::WriteFile(dir_.File("other.trn"), Trn("other"));
  test::WriteFile(dir_.File("third.trn"),
                  Trn("third", "TrnFile \"" + dir_.File("other.trn") + "\"\n"));
  // -D protects TrnFile against the file itself.
  EXPECT_EQ(Convert({"-D", "TrnFile=" + dir_.File("third.trn")}), "[third|]<p>text</p>");
}

TEST_F(HandOverTest, HandedOverOnceOnly) {
  // Two files that name each other: the second is used as it is.
  test::WriteFile(dir_.File("html.trn"),
                  Trn("first", "TrnFile \"" + dir_.File("other.trn") + "\"\n"));
  test::WriteFile(dir_.File("other.trn"),
                  Trn("other", "TrnFile \"" + dir_.File("html.trn") + "\"\n"));
  EXPECT_EQ(Convert(), "[other|]<p>text</p>");
}

}  // namespace
}  // namespace quillo
