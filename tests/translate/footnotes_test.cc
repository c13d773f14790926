// Footnotes and anchors: marks linked both ways, numbering across split files, the footnote
// section behind FNSep, and bookmarks written as anchors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translate_fixture.h"

namespace quillo::test {
namespace {

constexpr char kFootnoteTables[] = R"(.PTag
Normal "<p>" "</p>" "" "" "</p><p>" "" 1 0 0 0 0 0
Heading "<h1>" "</h1>" "" "" "</h1><h1>" "" 1 0 0 0 1 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
"" 0 Hidden "" "" _Discard
.PMatch
Normal 0 Normal
"heading 1" 0 Heading
.Strings
_footnote_ref_start_ "<a $_NAME_;>$_LINK_;:"
_footnote_ref_end_ "</a>"
FNSep "<SEP>"
)";

/// The same with each footnote wrapped and the section closed.
constexpr char kWrapped[] = R"(_footnote_start_ "<li>"
_footnote_end_ "</li>"
FNEnd "</SECTION>"
_anchor_entry_ "<A $_LINK_;>"
)";

std::string Doc(const std::string& body) {
  return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\stylesheet{\\s0 Normal;}{\\s1 heading "
         "1;}}" +
         body + "}";
}

class FootnotesTest : public TranslateTest {
 protected:
  std::string Page(const std::string& body, const std::string& extra = "",
                   std::vector<std::string> options = {}) {
    Conversion run = Convert(std::string(kFootnoteTables) + extra, Doc(body), std::move(options));
    EXPECT_TRUE(run.converted);
    std::string flat;
    for (char c : run.page)
      if (c != '\n') flat.push_back(c);
    return flat;
  }
};

TEST_F(FootnotesTest, MarksLinkBothWaysAndFootnotesFollowTheSeparator) {
  const std::string notes =
      "A{\\chftn{\\footnote\\pard{\\chftn} one}} B\\chftn{\\footnote\\pard\\chftn two\\par "
      "more} C{\\chftn{\\footnote\\pard\\chftn three}}\\par";
  EXPECT_EQ(Page(notes),
            "<p>A<a fnB1>#fn1:1</a> B<a fnB2>#fn2:2</a> C<a fnB3>#fn3:3</a></p><SEP>"
            "<p><a fn1>#fnB1:1</a> one</p><p><a fn2>#fnB2:2</a>two</p><p>more</p>"
            "<p><a fn3>#fnB3:3</a>three</p>");
  EXPECT_EQ(Page(notes, kWrapped),
            "<p>A<a fnB1>#fn1:1</a> B<a fnB2>#fn2:2</a> C<a fnB3>#fn3:3</a></p><SEP>"
            "<li><p><a fn1>#fnB1:1</a> one</p></li><li><p><a fn2>#fnB2:2</a>two</p><p>more</p>"
            "</li><li><p><a fn3>#fnB3:3</a>three</p></li></SECTION>");
}

TEST_F(FootnotesTest, ALongFootnoteSectionFollowsTheSeparatorWholeAndInOrder) {
  // Far more footnote text than one piece of the copy behind the separator: the section is
  // written piece by piece, never held whole, and nothing is lost, doubled or reordered.
  std::string body;
  for (int i = 0; i < 3000; ++i)
    body +=
        "x{\\chftn{\\footnote\\pard note " + std::to_string(i) + " " + std::string(40, 'z') + "}}";
  body += "\\par";
  const std::string page = Page(body, kWrapped);
  const std::size_t separator = page.find("<SEP>");
  ASSERT_NE(separator, std::string::npos);
  EXPECT_EQ(page.find("<SEP>", separator + 1), std::string::npos);
  std::size_t at = separator;
  for (int i = 0; i < 3000; ++i) {
    at = page.find("note " + std::to_string(i) + " ", at);
    ASSERT_NE(at, std::string::npos) << i;
  }
  EXPECT_EQ(page.find("note 0 "), page.find("note 0 ", separator));
  EXPECT_EQ(page.rfind("</SECTION>"), page.size() - std::string("</SECTION>").size());
  EXPECT_EQ(page.find("</SECTION>"), page.rfind("</SECTION>"));
}

TEST_F(FootnotesTest, EdgeCases) {
  struct Case {
    const char* name;
    const char* body;
    const char* expected;
  };
  const Case cases[] = {
      {"no footnotes, no separator", "plain\\par", "<p>plain</p>"},
      {"a footnote whose mark is no \\chftn still takes a number",
       "a*{\\footnote\\pard * first}b\\chftn{\\footnote\\pard\\chftn second}\\par",
       "<p>a*b<a fnB2>#fn2:1</a></p><SEP><p>* first</p><p><a fn2>#fnB2:1</a>second</p>"},
      {"a hidden mark is not written", "a{\\v\\chftn}{\\footnote\\pard note}\\par",
       "<p>a</p><SEP><p>note</p>"},
      {"\\ftnstart numbers the marks, the links count on their own",
       "\\ftnstart5 a\\chftn{\\footnote\\pard\\chftn x}\\par",
       "<p>a<a fnB1>#fn1:5</a></p><SEP><p><a fn1>#fnB1:5</a>x</p>"},
      {"a footnote inside a table cell leaves the table alone",
       "\\trowd\\cellx1000\\pard\\intbl a\\chftn{\\footnote\\pard\\chftn x}\\cell\\row\\pard "
       "b\\par",
       "<p>a<a fnB1>#fn1:1</a></p><p>b</p><SEP><p><a fn1>#fnB1:1</a>x</p>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Page(c.body), c.expected) << c.name;
}

TEST_F(FootnotesTest, FootnoteStateFromTheTranslationFile) {
  const std::string page =
      Page("a{\\b 7}{\\footnote\\pard note}\\par", ".TMatch\n\"\" 0 Bold \"\" \"\" _FootNote\n");
  EXPECT_EQ(page, "<p>a<a fnB1>#fn1:7</a></p><SEP><p>note</p>");
}

TEST_F(FootnotesTest, InlineFootnotesStandAtTheirReferences) {
  // Each footnote goes into the text where its group ends; no separator follows the text. The
  // bold text around the second footnote closes before it and opens again after it (the
  // footnote, inside the bold group, is bold itself).
  const std::string notes =
      "A{\\chftn{\\footnote\\pard{\\chftn} one}} B{\\b x\\chftn{\\footnote\\pard\\chftn two\\par "
      "more} y}.\\par";
  const std::string inlined = std::string(kWrapped) + "InlineFootnotes 1\n";
  EXPECT_EQ(Page(notes, inlined),
            "<p>A<a fnB1>#fn1:1</a><li><p><a fn1>#fnB1:1</a> one</p></li> B<b>x<a fnB2>#fn2:2</a>"
            "</b><li><p><b><a fn2>#fnB2:2</a>two</b></p><p><b>more</b></p></li><b> y</b>.</p>");
  // The same through a disk file (a conversion of files keeps its footnotes in a temporary
  // file, a string conversion in memory).
  const std::string trn = dir_.File("inline.trn");
  WriteFile(trn, std::string(kBaseTrn) + kFootnoteTables + inlined);
  const std::string input = dir_.File("inline.rtf");
  WriteFile(input, Doc(notes));
  std::vector<std::string> words = {"", "-D", "TrnFile=" + trn, input};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ASSERT_EQ(ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data()), 0);
  std::string disk;
  for (char c : ReadFile(dir_.File("inline.html")))
    if (c != '\n') disk.push_back(c);
  EXPECT_EQ(disk,
            "[head]<p>A<a fnB1>#fn1:1</a><li><p><a fn1>#fnB1:1</a> one</p></li> B<b>x<a fnB2>"
            "#fn2:2</a></b><li><p><b><a fn2>#fnB2:2</a>two</b></p><p><b>more</b></p></li><b> y</b>"
            ".</p>[end]");
}

TEST_F(FootnotesTest, NumberingGoesOnAcrossSplitFilesEachWithItsOwnFootnotes) {
  const std::string trn = dir_.File("test.trn");
  WriteFile(trn, std::string(kBaseTrn) + kFootnoteTables);
  const std::string input = dir_.File("doc.rtf");
  WriteFile(input, Doc("\\pard\\s1 One\\par\\pard\\s0 a\\chftn{\\footnote\\pard\\chftn n1} "
                       "b\\chftn{\\footnote\\pard\\chftn n2}\\par"
                       "\\pard\\s1 Two\\par\\pard\\s0 c\\chftn{\\footnote\\pard\\chftn n3}\\par"
                       "\\pard\\s1 Three\\par\\pard\\s0 none\\par"));
  std::vector<std::string> words = {"", "-D", "TrnFile=" + trn, "-D", "SplitDepth=1", input};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ASSERT_EQ(ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data()), 0);
  const std::string one = ReadFile(dir_.File("doc-1.html"));
  const std::string two = ReadFile(dir_.File("doc-2.html"));
  const std::string three = ReadFile(dir_.File("doc-3.html"));
  EXPECT_NE(one.find("<SEP><p><a fn1>#fnB1:1</a>n1</p><p><a fn2>#fnB2:2</a>n2</p>"),
            std::string::npos)
      << one;
  EXPECT_NE(two.find("c<a fnB3>#fn3:3</a>"), std::string::npos) << two;
  EXPECT_NE(two.find("<SEP><p><a fn3>#fnB3:3</a>n3</p>"), std::string::npos) << two;
  EXPECT_EQ(three.find("<SEP>"), std::string::npos) << three;
}

TEST_F(FootnotesTest, BookmarksBecomeAnchors) {
  const std::string page = Page(
      "{\\*\\bkmkstart}a{\\*\\bkmkend}{\\*\\bkmkstart named}b{\\*\\bkmkend named}"
      "{\\*\\bkmkstart}c{\\*\\bkmkend}\\par",
      kWrapped);
  // Unnamed bookmarks are numbered from 0 in each output file. The first one marks the
  // paragraph's first text, and stands inside the paragraph.
  EXPECT_EQ(page, "<p><A Quilloxx0>a<A named>b<A Quilloxx1>c</p>");
}

}  // namespace
}  // namespace quillo::test
