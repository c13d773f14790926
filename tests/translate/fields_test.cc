// Fields, hyperlinks, the link-related special text states, bookmarks, and document text that
// looks like expansion-language calls.
#include <gtest/gtest.h>

#include "translate/translate_fixture.h"

namespace quillo::test {
namespace {

using FieldsTest = TranslateTest;

/// Hyperlink fields through ProcessField and EndResult, as a translation file writes them.
constexpr char kFieldTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "" "</p>\n<p>" "" 1 0 0 0 0 0
List "<li>" "</li>\n" "" " " "</li>\n<li>" "" 1 0 0 0 0 0
Heading "<h1>" "</h1>\n" "" "" "</h1>\n<h1>" "" 1 0 0 0 1 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
"" 0 Hidden "" "" _HRef
"" 0 Underline "" "" _Hot
"" 0 StrikeThrough "" "" _Link
"" 0 DottedUnderline "" "" _Name
.PMatch
Normal 0 Normal
"List Number" 0 List
"heading 1" 0 Heading
.Strings
_Ext_xref_ "<a href=\"$_LINK_;\">$_HOTTEXT_;</a>"
_xref_ "<x href=\"$_LINK_;\">$_HOTTEXT_;</x>"
_anchor_entry_ "<a name=\"$_LINK_;\"></a>"
LinkedIMG "<img src=\"$_LinkFile;\">"
LinkedInlineIMG "<img src=\"$_LinkFile;\">"
.Functions
Function ProcessField
Sub "^ *HYPERLINK +\\\\l +&quot;([^&]*)&quot;.*" "0<a href=\"#\\1\">"
Sub "^ *HYPERLINK +&quot;([^&]*)&quot;.*" "0<a href=\"\\1\">"
Sub "^ *NOTHING.*" "1"
Ifelse "$0;" "^[01]" "$0;" "0"
Function EndResult
Ifelse "$FieldInst;" "HYPERLINK" "</a>" ""
Function PNOverrideFunction
Ifelse "$1;" "^[0-9$]" "List Number" ""
)";

std::string Doc(const std::string& body) {
  return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}" + body + "\\par}";
}

TEST_F(FieldsTest, HyperlinkFieldsBecomeLinks) {
  struct Case {
    const char* body;
    const char* page;
  };
  const Case cases[] = {
      {"See {\\field{\\*\\fldinst HYPERLINK \"http://x.org/a\"}{\\fldrslt here}} now",
       "<p>See <a href=\"http://x.org/a\">here</a> now</p>\n"},
      {"See {\\field{\\*\\fldinst {HYPERLINK \\\\l \"intro\"}}{\\fldrslt {\\b there}}}",
       "<p>See <a href=\"#intro\"><b>there</b></a></p>\n"},
      // Other fields keep their result text; a ProcessField flag of "1" drops the result.
      {"Page {\\field{\\*\\fldinst PAGE}{\\fldrslt 7}}.", "<p>Page 7.</p>\n"},
      {"a{\\field{\\*\\fldinst NOTHING}{\\fldrslt dropped}}b", "<p>ab</p>\n"},
      {"{\\field{\\*\\fldinst INCLUDEPICTURE \\\\d \"pic.png\"}{\\fldrslt {\\pict 00}}}",
       "<p><img src=\"pic.png\"></p>\n"},
  };
  for (const Case& c : cases) {
    Conversion result = Convert(kFieldTables, Doc(c.body));
    EXPECT_EQ(result.page, c.page) << c.body;
  }
}

TEST_F(FieldsTest, SymbolFieldUsesTheNamedFont) {
  std::string tables = std::string(kFieldTables) + ".Charsets\n0 Symbol symbol\n0 \"\" ansi-gen\n";
  Conversion result = Convert(
      tables,
      Doc("{\\field{\\*\\fldinst SYMBOL 183 \\\\f \"Symbol\" \\\\s 10}{\\fldrslt x}}\\'b7"));
  EXPECT_EQ(result.page, "<p>&bull;&middot;</p>\n");
}

TEST_F(FieldsTest, HrefAndHotTextStates) {
  Conversion result = Convert(kFieldTables, Doc("Go {\\v http://y.org}{\\ul there} now"));
  EXPECT_EQ(result.page, "<p>Go <a href=\"http://y.org\">there</a> now</p>\n");
  EXPECT_EQ(result.errors, "");
  // Hot text without an href before it is reported and still written.
  Conversion lone = Convert(kFieldTables, Doc("Go {\\ul there} now"));
  EXPECT_EQ(lone.page, "<p>Go <a href=\"\">there</a> now</p>\n");
  EXPECT_NE(lone.errors.find("hot text found without preceding href"), std::string::npos);
}

TEST_F(FieldsTest, CrossReferencesResolveMailAddressesAndUrls) {
  Conversion result = Convert(
      kFieldTables, Doc("{\\strike ann @ x.org} {\\strike http://z.org/p} {\\strike #top}"));
  EXPECT_EQ(result.page,
            "<p><x href=\"mailto:ann@x.org\">ann @ x.org</x> "
            "<x href=\"http://z.org/p\">http://z.org/p</x> <x href=\"#top\">top</x></p>\n");
}

TEST_F(FieldsTest, BookmarksBecomeAnchors) {
  Conversion result =
      Convert(kFieldTables, Doc("{\\*\\bkmkstart intro}Text{\\*\\bkmkend intro}{\\*\\bkmkstart}"
                                "{\\*\\bkmkstart}"));
  // An anchor marks the text after it: a bookmark before a paragraph's text stands inside it.
  EXPECT_EQ(result.page,
            "<p><a name=\"intro\"></a>Text<a name=\"Quilloxx0\"></a><a name=\"Quilloxx1\"></a>"
            "</p>\n");
}

TEST_F(FieldsTest, AnchorsStandInsideTheBlockOfTheTextTheyMark) {
  // A bookmark before the first text of a table cell, of a bold run and of a later paragraph: the
  // cell, the text tag and the paragraph open first, so that no anchor stands between blocks.
  const std::string tables = std::string(kFieldTables) +
                             ".Strings\n_table_start_ \"<table>\"\n_table_end_ \"</table>\"\n"
                             "_row_start_ \"<tr>\"\n_row_end_ \"</tr>\"\n"
                             "_data_cell_start_ \"<td>\"\n_data_cell_end_ \"</td>\"\n"
                             "_anchor_entry_ \"<A $_LINK_;>\"\n";
  Conversion result = Convert(
      tables, Doc("\\trowd\\cellx1000\\pard\\intbl{\\*\\bkmkstart cell}{\\*\\bkmkend cell}x\\cell"
                  "\\row\\pard{\\*\\bkmkstart par}{\\*\\bkmkend par}{\\b{\\*\\bkmkstart bold}"
                  "{\\*\\bkmkend bold}y}\\par"));
  EXPECT_EQ(result.page,
            "<table><tr><td><p><A cell>x</p>\n</td></tr></table><p><A par><b><A bold>y</b></p>\n");
}

// Document text that looks like calls of the expansion language is shown, never run: in a
// hyperlink target, a field instruction, a bookmark name and a list number.
TEST_F(FieldsTest, DocumentTextIsNeverExpanded) {
  const std::string input = dir_.File("doc.rtf");
  const std::string rtf =
      Doc("{\\field{\\*\\fldinst HYPERLINK \"$Delete(InputFile)$Exit()\"}{\\fldrslt link}}"
          "{\\field{\\*\\fldinst QUOTE $Delete(InputFile) $Exit()}{\\fldrslt quote}}"
          "{\\*\\bkmkstart $Delete(InputFile)$Exit()}"
          "{\\v $Exit()}{\\ul hot}{\\strike $Delete(InputFile)}\\par"
          "\\pard{\\listtext $Exit()$Delete(InputFile)\\tab}Item\\par"
          " END_MARKER");
  WriteFile(input, rtf);
  Conversion result = Convert(kFieldTables, "", {}, input);
  EXPECT_TRUE(result.converted);
  EXPECT_TRUE(FileExists(input)) << "the input was deleted";
  EXPECT_NE(result.page.find("<a href=\"$Delete(InputFile)$Exit()\">link</a>"), std::string::npos)
      << result.page;
  EXPECT_NE(result.page.find("quote"), std::string::npos);
  EXPECT_NE(result.page.find("<a name=\"$Delete(InputFile)$Exit()\"></a>"), std::string::npos);
  EXPECT_NE(result.page.find("<a href=\"$Exit()\">hot</a>"), std::string::npos);
  EXPECT_NE(result.page.find("$Delete(InputFile)</x>"), std::string::npos);
  EXPECT_NE(result.page.find("<li>$Exit()$Delete(InputFile) Item</li>"), std::string::npos)
      << result.page;
  EXPECT_NE(result.page.find("END_MARKER"), std::string::npos) << "the conversion stopped";
}

// Text in a _Name format names an anchor: pass 1 records it like a bookmark, so a link to it
// finds the file that holds it, in a single page and in a split one.
TEST_F(FieldsTest, NameFormatAnchorsAreFoundByLinks) {
  const std::string input = dir_.File("doc.rtf");
  WriteFile(input, Doc("{\\uld top}Start {\\strike #top} and {\\strike #nowhere}"));
  Conversion single = Convert(kFieldTables, "", {}, input);
  EXPECT_EQ(single.page,
            "<p><a name=\"top\"></a>Start <x href=\"doc.html#top\">top</x> and "
            "<x href=\"#nowhere\">nowhere</x></p>\n");
  EXPECT_EQ(Count(single.errors, "Could not find the target"), 1) << single.errors;
  EXPECT_NE(single.errors.find("#nowhere"), std::string::npos);

  // Split at headings: the anchor stands in the second file, the link in the first.
  WriteFile(input,
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}{\\stylesheet{\\s0 Normal;}"
            "{\\s1 heading 1;}}\\pard See {\\strike #later}.\\par"
            "\\pard\\s1 Second\\par\\pard {\\uld later}Here\\par}");
  Conversion split = Convert(kFieldTables, "", {"-h", "1"}, input);
  EXPECT_NE(split.page.find("<x href=\"doc-1.html#later\">later</x>"), std::string::npos)
      << split.page;
  EXPECT_EQ(split.errors.find("Could not find the target"), std::string::npos) << split.errors;
}

}  // namespace
}  // namespace quillo::test
