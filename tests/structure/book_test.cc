// The split test book (testdata/book.rtf, 40 headings, made by testdata/make-book) converted with
// the shipped html.trn: every link of every produced page, file and #anchor alike, must land on
// something that exists; every page must be valid HTML; every name must stay in the output folder.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "quillo/quillo.h"
#include "support/test_support.h"

namespace quillo::test {
namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

/// Every href and src of the pages in `dir` whose file or anchor does not exist, as
/// "page: link" lines. Addresses with a scheme are left alone.
std::vector<std::string> DanglingLinks(const std::string& dir) {
  std::map<std::string, std::set<std::string>> ids;
  std::map<std::string, std::string> pages;
  const std::regex idPattern("\\bid=\"([^\"]*)\"");
  for (const std::string& name : FilesIn(dir)) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (name.substr(dot) != ".html" && name.substr(dot) != ".htm"))
      continue;
    pages[name] = ReadFile(dir + "/" + name);
    std::set<std::string>& found = ids[name];
    for (std::sregex_iterator it(pages[name].begin(), pages[name].end(), idPattern), end; it != end;
         ++it)
      found.insert((*it)[1]);
  }
  std::vector<std::string> dangling;
  const std::regex linkPattern("\\b(?:href|src)=\"([^\"]*)\"");
  const std::regex scheme("^[A-Za-z][A-Za-z0-9+.-]*:");
  for (const auto& [name, text] : pages) {
    for (std::sregex_iterator it(text.begin(), text.end(), linkPattern), end; it != end; ++it) {
      const std::string link = (*it)[1];
      if (std::regex_search(link, scheme)) continue;
      const std::size_t hash = link.find('#');
      std::string file = PercentDecoded(link.substr(0, hash));
      if (file.empty()) file = name;
      if (!ids.count(file)) {
        dangling.push_back(name + ": " + link + " (no such file)");
        continue;
      }
      if (hash != std::string::npos && !ids[file].count(link.substr(hash + 1)))
        dangling.push_back(name + ": " + link + " (no such anchor)");
    }
  }
  return dangling;
}

class BookTest : public ::testing::TestWithParam<std::vector<std::string>> {
 protected:
  TempDir out_;
  std::unique_ptr<Engine> engine_ = MakeEngine();

  int Convert(const std::vector<std::string>& options) {
    std::vector<std::string> words = {""};
    for (const std::string& option : options) words.push_back(option);
    words.push_back("-o");
    words.push_back(out_.File("book.html"));
    words.push_back(std::string(QUILLO_SOURCE_DIR) + "/tests/structure/testdata/book.rtf");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data());
  }
};

TEST_P(BookTest, EveryLinkLandsAndEveryPageIsValid) {
  ASSERT_EQ(Convert(GetParam()), 0);
  const std::vector<std::string> files = FilesIn(out_.path());
  ASSERT_FALSE(files.empty());
  // Names come from headings such as "../../etc/passwd" and "!!!", yet all stay here.
  const std::regex safeName("book(-?[A-Za-z0-9_.-]+)?\\.html?");
  for (const std::string& name : files) EXPECT_TRUE(std::regex_match(name, safeName)) << name;
  for (const std::string& line : DanglingLinks(out_.path())) ADD_FAILURE() << line;
  if (std::system("tidy -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "tidy is not installed";
  for (const std::string& name : files) {
    const std::string command = "tidy -q -e '" + out_.File(name) + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "tidy -q -e " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, BookTest,
    ::testing::Values(std::vector<std::string>{"-h", "2", "-c", "-x"},
                      std::vector<std::string>{"-h", "2", "-c", "-x", "-F"},
                      std::vector<std::string>{"-h", "1", "-c", "-x"},
                      std::vector<std::string>{"-c", "-x", "-D", "SkipLeadingToc=0"},
                      std::vector<std::string>{"-h", "2", "-x", "-D", "SkipLeadingToc=0", "-D",
                                               "SkipTrailingToc=0"},
                      std::vector<std::string>{"-h", "3", "-F", "-s"}));

TEST(BookLinkCheckTest, FindsDanglingFilesAndAnchors) {
  // The checker itself: a missing file, a missing anchor, a good link and an address.
  TempDir dir;
  WriteFile(dir.File("a.html"),
            "<p id=\"x\"><a href=\"b.html#y\">1</a><a href=\"b.html#z\">2</a>"
            "<a href=\"c.html\">3</a><a href=\"#x\">4</a><a href=\"http://e.org/\">5</a></p>");
  WriteFile(dir.File("b.html"), "<span id=\"y\"></span>");
  EXPECT_EQ(DanglingLinks(dir.path()),
            (std::vector<std::string>{"a.html: b.html#z (no such anchor)",
                                      "a.html: c.html (no such file)"}));
}

TEST(BookSplitTest, FortyHeadingsMakeTheExpectedPages) {
  TempDir out;
  auto engine = MakeEngine();
  std::vector<std::string> words = {
      "",
      "-h",
      "2",
      "-c",
      "-x",
      "-o",
      out.File("book.html"),
      std::string(QUILLO_SOURCE_DIR) + "/tests/structure/testdata/book.rtf"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ASSERT_EQ(ConvertFiles(*engine, static_cast<int>(words.size()), argv.data()), 0);
  // 32 headings of levels 1 and 2 begin files, plus the title page, contents and index.
  EXPECT_EQ(SettingValue(*engine, "NumFiles"), "33");
  EXPECT_EQ(FilesIn(out.path()).size(), 35u);
  for (const char* name :
       {"book.html", "book-Contents.html", "book-Index.html", "book-contents-2.html",
        "book-index-2.html", "book-etc-passwd.html", "book-summary.html", "book-summary-8.html",
        "book-part.html", "book-part-2.html"})
    EXPECT_TRUE(FileExists(out.File(name))) << name;
  const std::string contents = ReadFile(out.File("book-Contents.html"));
  EXPECT_NE(contents.find("href=\"book-getting-started.html\""), std::string::npos);
  // Third-level headings live inside their section's file and are linked by anchor.
  EXPECT_NE(contents.find("href=\"book-installing.html#Heading"), std::string::npos);
  const std::string index = ReadFile(out.File("book-Index.html"));
  EXPECT_NE(index.find("<i>See Apple</i>"), std::string::npos);
}

TEST(BookFrontEndsTest, QuillocmdWritesALinkedSite) {
  TempDir out;
  const std::string command = std::string(QUILLO_BINARY_DIR) + "/bin/quillocmd -h 2 -c -x -F -o '" +
                              out.File("book.html") + "' '" + QUILLO_SOURCE_DIR +
                              "/tests/structure/testdata/book.rtf' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(FileExists(out.File("book-Title.html")));
  EXPECT_TRUE(FileExists(out.File("book-FContents.html")));
  EXPECT_TRUE(FileExists(out.File("book-FIndex.html")));
  EXPECT_TRUE(DanglingLinks(out.path()).empty());
}

TEST(BookFrontEndsTest, StringConversionThroughTheLibraryReturnsEveryPage) {
  ASSERT_EQ(QuilloInit((DataDir() + "/quillocmd").c_str()), 0);
  const std::string rtf =
      ReadFile(std::string(QUILLO_SOURCE_DIR) + "/tests/structure/testdata/book.rtf");
  const char* words[] = {"-h", "1", "-c", "-x"};
  int count = 0;
  ConvertedOutput* outputs = QuilloConvertStrRTF(rtf.c_str(), 4, const_cast<char**>(words), &count);
  ASSERT_NE(outputs, nullptr);
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) names.insert(outputs[i].name);
  QuilloFreeResults(outputs, count);
  // The title page, 8 chapter files, contents and index.
  EXPECT_EQ(names.size(), 11u);
  EXPECT_TRUE(names.count("-.html"));
  EXPECT_TRUE(names.count("--Contents.html"));
  EXPECT_TRUE(names.count("--Index.html"));
  EXPECT_TRUE(names.count("--etc-passwd.html"));
}

}  // namespace
}  // namespace quillo::test
