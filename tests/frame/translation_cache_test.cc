// Reuse of translation-file loads across the conversions of one engine: a kept load must give
// what reading the file again would, and nothing a conversion does may reach the next one.
#include "trn/translation_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo {
namespace {

/// A translation file whose page begins with "[`head`]". `strings` and `functions` are further
/// lines of those sections.
std::string Trn(const std::string& head, const std::string& strings = "",
                const std::string& functions = "", const std::string& paragraphStart = "<p>") {
  return ".Version 6\n"
         ".PTag\nP \"" +
         paragraphStart +
         "\" \"</p>\" \"\" \"\" \"</p><p>\" \"\" 1 0 0 0 0 0\n"
         ".TTag\nB \"<b>\" \"</b>\"\n"
         ".TMatch\n\"\" 0 Bold \"\" \"\" B\n"
         ".PMatch\nNormal 0 P\n"
         ".Strings\nPauseOnErr 0\n" +
         strings + "TitlePageHead \"[" + head + "]\"\nTitlePageEnd \"\"\n" +
         (functions.empty() ? "" : ".Functions\n" + functions);
}

class TranslationCacheTest : public ::testing::Test {
 protected:
  /// Converts doc.rtf of the temporary folder (whose html.trn is found first) with the test's
  /// one engine; returns the page.
  std::string Convert(std::vector<std::string> options = {},
                      const std::string& rtf = "{\\rtf1 one\\par two\\par}",
                      const std::string& name = "doc") {
    const std::string input = dir_.File(name + ".rtf");
    std::filesystem::create_directories(std::filesystem::path(input).parent_path());
    test::WriteFile(input, rtf);
    std::vector<std::string> words = {test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0"};
    for (std::string& option : options) words.push_back(std::move(option));
    words.push_back(input);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    EXPECT_EQ(ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data()), 0);
    return test::ReadFile(dir_.File(name + ".html"));
  }
  unsigned long Reuses() const {
    unsigned long uses = 0;
    for (const CachedLoad& load : engine_->translationCache.loads) uses += load.uses;
    return uses;
  }
  test::TempDir dir_;
  std::unique_ptr<Engine> engine_ = test::MakeEngine();
};

TEST_F(TranslationCacheTest, ASecondConversionReusesTheLoadAndGivesTheSame) {
  test::WriteFile(dir_.File("html.trn"), Trn("head"));
  const std::string first = Convert();
  EXPECT_EQ(first, "[head]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert(), first);
  EXPECT_EQ(Reuses(), 1u);
}

TEST_F(TranslationCacheTest, OtherDocumentsReuseALoadThatDidNotReadTheirNames) {
  // Documents under other names: the load is the same for all of them, and each page goes to
  // its own name.
  test::WriteFile(dir_.File("html.trn"), Trn("head"));
  EXPECT_EQ(Convert(), "[head]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert({}, "{\\rtf1 three\\par}", "other"), "[head]<p>three</p>");
  EXPECT_EQ(Convert({}, "{\\rtf1 four\\par}", "more"), "[head]<p>four</p>");
  EXPECT_EQ(Reuses(), 2u);
  // A document in a folder without html.trn gets the installed one, not the kept load.
  const std::string page = Convert({}, "{\\rtf1 five\\par}", "sub/elsewhere");
  EXPECT_EQ(page.find("[head]"), std::string::npos);
  EXPECT_NE(page.find("<p>five</p>"), std::string::npos);

  // A load that decides by the input's name is read again for every document.
  test::WriteFile(dir_.File("html.trn"), Trn("$Which;",
                                             "#ifmatch \"$InputFile;\" \"other\"\nWhich \"other\"\n"
                                             "#else\nWhich \"first\"\n#endif\n"));
  const unsigned long before = Reuses();
  EXPECT_EQ(Convert(), "[first]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert({}, "{\\rtf1 three\\par}", "other"), "[other]<p>three</p>");
  EXPECT_EQ(Convert(), "[first]<p>one</p><p>two</p>");
  EXPECT_EQ(Reuses(), before);
}

TEST_F(TranslationCacheTest, AChangedFileOrIncludeIsReadAgain) {
  test::WriteFile(dir_.File("html.trn"), Trn("$Part;", "#include part.trn\n"));
  test::WriteFile(dir_.File("part.trn"), "Part \"old\"\n");
  EXPECT_EQ(Convert(), "[old]<p>one</p><p>two</p>");
  test::WriteFile(dir_.File("part.trn"), "Part \"newer\"\n");
  EXPECT_EQ(Convert(), "[newer]<p>one</p><p>two</p>");
  test::WriteFile(dir_.File("html.trn"), Trn("main $Part;", "#include part.trn\n"));
  EXPECT_EQ(Convert(), "[main newer]<p>one</p><p>two</p>");
  EXPECT_EQ(Reuses(), 0u);
  EXPECT_EQ(Convert(), "[main newer]<p>one</p><p>two</p>");
  EXPECT_EQ(Reuses(), 1u);
}

TEST_F(TranslationCacheTest, AnIncludeThatAppearsIsRead) {
  // A missing #cinclude is no error; once the file exists it counts.
  test::WriteFile(dir_.File("html.trn"), Trn("$Part;", "Part \"none\"\n#cinclude part.trn\n"));
  EXPECT_EQ(Convert(), "[none]<p>one</p><p>two</p>");
  test::WriteFile(dir_.File("part.trn"), "Part \"some\"\n");
  EXPECT_EQ(Convert(), "[some]<p>one</p><p>two</p>");
}

TEST_F(TranslationCacheTest, SettingsThatShapeTheLoadAreHonoured) {
  test::WriteFile(dir_.File("html.trn"),
                  Trn("$Kind;", "#ifdef Wide\nKind \"wide\"\n#else\nKind \"narrow\"\n#endif\n"));
  EXPECT_EQ(Convert(), "[narrow]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert({"-D", "Wide=1"}), "[wide]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert(), "[narrow]<p>one</p><p>two</p>");
  EXPECT_EQ(Convert({"-D", "Wide=1"}), "[wide]<p>one</p><p>two</p>");
  EXPECT_EQ(Reuses(), 2u);
}

TEST_F(TranslationCacheTest, WhatAConversionSetsDoesNotReachTheNext) {
  // Every paragraph appends to Count and to a new name; the page head shows both, so a value
  // left from the conversion before would show.
  test::WriteFile(dir_.File("html.trn"),
                  Trn("$Count;|$Fresh;", "Count \"\"\nNotDef \"unset\"\n",
                      "Function Bump\nSave \"Count\" \"$Count;x\"\nSave \"Fresh\" \"$Count;\"\n",
                      "<p>$Bump()"));
  const std::string first = Convert();
  EXPECT_EQ(Convert(), first);
  EXPECT_EQ(Convert(), first);
  EXPECT_EQ(Reuses(), 2u);
  engine_->translationCache.enabled = false;
  EXPECT_EQ(Convert(), first);
}

TEST_F(TranslationCacheTest, ALoadThatReportsIsNotKept) {
  // The unknown tag is reported at every load: the message must come each time.
  test::WriteFile(dir_.File("html.trn"), Trn("head") + ".PMatch\nHeading 0 NoSuchTag\n");
  Convert();
  EXPECT_TRUE(engine_->translationCache.loads.empty());
}

TEST_F(TranslationCacheTest, ALoadThatCallsBuiltInsIsNotKept) {
  // A built-in may give another value each time (a date, a file's contents).
  test::WriteFile(dir_.File("html.trn"),
                  Trn("head", "#ifmatch \"$Compare(a,a)\" \"^.*$\"\nX \"1\"\n#endif\n"));
  Convert();
  EXPECT_TRUE(engine_->translationCache.loads.empty());
}

TEST_F(TranslationCacheTest, AChangedOutputMapIsReadAgain) {
  // The output map is kept by the engine as well; a changed file is read again.
  const std::string map = test::ReadFile(test::DataDir() + "/html-mapv4.txt");
  auto writeMap = [&](const std::string& bang) {
    std::string text = map;
    const std::size_t at = text.find("rtfSC_exclam");
    const std::size_t end = text.find('\n', at);
    text.replace(at, end - at, "rtfSC_exclam \"" + bang + "\"");
    test::WriteFile(dir_.File("mine.txt"), text);
  };
  test::WriteFile(dir_.File("html.trn"), Trn("head", "OutMap \"mine.txt\"\n"));
  writeMap("(bang)");
  EXPECT_EQ(Convert({}, "{\\rtf1 a!\\par}"), "[head]<p>a(bang)</p>");
  EXPECT_EQ(Convert({}, "{\\rtf1 b!\\par}"), "[head]<p>b(bang)</p>");
  writeMap("[BANG, louder]");
  EXPECT_EQ(Convert({}, "{\\rtf1 c!\\par}"), "[head]<p>c[BANG, louder]</p>");
}

TEST(CloneTablesTest, CopiesPatternsAndFunctions) {
  TranslationTables tables;
  tables.rmatch.push_back(RMatchEntry{expand::Regex::TryCompile("a(b)c"), "x"});
  UserFunction function{"F", {}};
  FunctionStatement statement;
  statement.op = kOpSub;
  statement.pattern = expand::Regex::TryCompile("^q+");
  statement.text1 = "t";
  statement.hasText1 = true;
  statement.jump = 3;
  function.statements.push_back(std::move(statement));
  tables.functions.push_back(std::move(function));
  tables.functionIndex["F"] = 0;
  tables.files = {"a.trn", "b.trn"};

  TranslationTables copy = trn::CloneTables(tables);
  ASSERT_EQ(copy.rmatch.size(), 1u);
  ASSERT_NE(copy.rmatch[0].pattern, nullptr);
  EXPECT_NE(copy.rmatch[0].pattern.get(), tables.rmatch[0].pattern.get());
  EXPECT_TRUE(copy.rmatch[0].pattern->Match("zabcz"));
  EXPECT_EQ(copy.rmatch[0].pattern->Group(1), "b");
  const FunctionStatement& s = copy.functions.at(0).statements.at(0);
  EXPECT_EQ(s.op, kOpSub);
  EXPECT_TRUE(s.pattern && s.pattern->Match("qqz"));
  EXPECT_EQ(s.text1, "t");
  EXPECT_TRUE(s.hasText1);
  EXPECT_EQ(s.jump, 3);
  EXPECT_EQ(copy.functionIndex.at("f"), 0);
  EXPECT_EQ(copy.files, tables.files);
}

}  // namespace
}  // namespace quillo
