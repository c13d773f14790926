// Documents that attack the page: quotes that would end an attribute, addresses a browser runs,
// markup typed into the text, and document text in the error file. Converted with the shipped
// html.trn, and the pages read the way a browser's tokenizer reads tags.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "translate/links.h"
#include "translate/translate_fixture.h"

namespace quillo::test {
namespace {

/// One attribute of a start tag, as a browser's tokenizer splits it.
struct Attribute {
  std::string element;
  std::string name;
  std::string value;
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

/// The attributes of every start tag of `page` (the HTML tokenizer's attribute rules: names end
/// at blanks, '/', '>' or '='; values are quoted with " or ', or run to a blank or '>').
std::vector<Attribute> Attributes(const std::string& page) {
  std::vector<Attribute> found;
  std::size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
  while ((i = page.find('<', i)) != std::string::npos) {
    ++i;
    if (i >= page.size() || !std::isalpha(static_cast<unsigned char>(page[i]))) continue;
    std::string element;
    while (i < page.size() && !blank(page[i]) && page[i] != '>' && page[i] != '/')
      element.push_back(page[i++]);
    for (;;) {
      while (i < page.size() && (blank(page[i]) || page[i] == '/')) ++i;
      if (i >= page.size() || page[i] == '>') break;
      Attribute attribute{Lower(element), "", ""};
      while (i < page.size() && !blank(page[i]) && page[i] != '/' && page[i] != '>' &&
             (page[i] != '=' || attribute.name.empty()))
        attribute.name.push_back(page[i++]);
      while (i < page.size() && blank(page[i])) ++i;
      if (i < page.size() && page[i] == '=') {
        ++i;
        while (i < page.size() && blank(page[i])) ++i;
        if (i < page.size() && (page[i] == '"' || page[i] == '\'')) {
          const char quote = page[i++];
          std::size_t end = page.find(quote, i);
          if (end == std::string::npos) end = page.size();
          attribute.value = page.substr(i, end - i);
          i = end + 1;
        } else {
          while (i < page.size() && !blank(page[i]) && page[i] != '>')
            attribute.value.push_back(page[i++]);
        }
      }
      attribute.name = Lower(attribute.name);
      found.push_back(std::move(attribute));
    }
  }
  return found;
}

/// Why a browser would run script from `page` ("" when it would not).
std::string Scripted(const std::string& page) {
  std::string reasons;
  if (Lower(page).find("<script") != std::string::npos) reasons += "<script> ";
  for (const Attribute& a : Attributes(page)) {
    if (a.name.rfind("on", 0) == 0) reasons += a.element + " " + a.name + "= ";
    if (a.name == "href" || a.name == "src" || a.name == "action") {
      const std::string scheme = translate::LinkScheme(a.value);
      if (scheme == "javascript" || scheme == "vbscript" || scheme == "data")
        reasons += a.element + " " + a.name + "=" + scheme + ": ";
    }
  }
  return reasons;
}

class SecurityTest : public TranslateTest {
 protected:
  /// Converts `rtf` with the shipped html.trn.
  Conversion ConvertHtml(const std::string& rtf, std::vector<std::string> options = {}) {
    std::vector<std::string> words = {""};
    for (std::string& option : options) words.push_back(std::move(option));
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
      else if (name == "-.html")
        result.raw += data;
    }
    FreeConvertedOutputs(outputs, count);
    std::size_t body = result.raw.find("<body>");
    result.page = body == std::string::npos ? result.raw : result.raw.substr(body);
    return result;
  }
};

std::string Field(const std::string& instruction, const std::string& result = "link") {
  return "{\\rtf1\\ansi\\pard {\\field{\\*\\fldinst " + instruction + "}{\\fldrslt " + result +
         "}}\\par}";
}

// Quotes the document put inside a word of a field instruction, or left open, reach the page
// as text, whatever the translation file takes out of the instruction.
TEST_F(SecurityTest, FieldQuotesNeverEndAnAttribute) {
  const struct {
    const char* name;
    std::string rtf;
    const char* shows;  ///< what the page holds instead
  } cases[] = {
      {"address", Field("HYPERLINK x\"onmouseover=\"alert(2)"),
       "<a href=\"x&#34;onmouseover=&#34;alert(2)\">link</a>"},
      {"tooltip left open", Field("HYPERLINK \"http://a/\" \\\\o \"z onmouseover=alert(3) "),
       "<a href=\"http://a/\" title=\"z onmouseover=alert(3) \">link</a>"},
      {"bookmark", Field("HYPERLINK \"x\" \\\\l b\"onclick=\"alert(4)"),
       "<a href=\"x#b&#34;onclick=&#34;alert(4)\">link</a>"},
      {"linked picture", Field("INCLUDEPICTURE x\"onerror=\"alert(5)", ""),
       "<img src=\"x&quot;onerror=&quot;alert(5)\" alt=\"\">"},
      {"address left open", Field("HYPERLINK \"http://a/ onmouseover=alert(8)"),
       "<a href=\"http://a/%20onmouseover=alert(8)\">link</a>"},
      {"quote after a quoted word", Field("HYPERLINK \"http://a/\"\"onclick=\"alert(9)"),
       "<a href=\"http://a/\">link</a>"},
      {"switch inside the quoted address", Field("HYPERLINK \"x \\\\l b\"onclick=alert(6)"),
       "<a href=\"x%20\\l%20b\">link</a>"},
  };
  for (const auto& c : cases) {
    Conversion result = ConvertHtml(c.rtf);
    ASSERT_TRUE(result.converted) << c.name;
    EXPECT_EQ(Scripted(result.page), "") << c.name << "\n" << result.page;
    EXPECT_NE(result.page.find(c.shows), std::string::npos) << c.name << "\n" << result.page;
  }
}

// Bookmark names, document information and hyperlink names come through the output map: their
// quotes are references already, in ids, titles and meta contents.
TEST_F(SecurityTest, DocumentValuesInAttributesStayText) {
  Conversion result = ConvertHtml(
      "{\\rtf1\\ansi{\\info{\\title T\"onload=\"alert(1)}{\\author A\"><script>x</script>}"
      "{\\subject S\" onfocus=\"y}{\\keywords K'\"<}}\\pard "
      "{\\*\\bkmkstart b\"onclick=\"alert(2)}text{\\*\\bkmkend b}\\par}");
  ASSERT_TRUE(result.converted);
  EXPECT_EQ(Scripted(result.raw), "") << result.raw;
  EXPECT_NE(result.raw.find("<title>T&quot;onload=&quot;alert(1)</title>"), std::string::npos)
      << result.raw;
  EXPECT_NE(result.raw.find("content=\"A&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""),
            std::string::npos);
  EXPECT_NE(result.raw.find("id=\"b&quot;onclick=&quot;alert(2)\""), std::string::npos);
}

// Addresses a browser would run (or open as a page) are dropped with a message; the link text
// stays. Those of the usual schemes, relative ones and anchors are kept.
TEST_F(SecurityTest, DangerousLinkSchemesAreDropped) {
  const char* dropped[] = {
      "\"javascript:alert(6)\"",  "\"data:text/html,<script>alert(7)</script>\"",
      "\"vbscript:msgbox(1)\"",   "\"JaVaScRiPt:alert(1)\"",
      "\" javascript:alert(1)\"", "\"java{\\tab}script:alert(1)\"",
      "javascript&#58;alert(1)",
  };
  for (const char* address : dropped) {
    Conversion result = ConvertHtml(Field(std::string("HYPERLINK ") + address));
    ASSERT_TRUE(result.converted) << address;
    EXPECT_EQ(Scripted(result.page), "") << address << "\n" << result.page;
    if (std::string(address).find("&#58;") == std::string::npos) {
      EXPECT_NE(result.page.find("<a>link</a>"), std::string::npos) << address << result.page;
      EXPECT_EQ(Count(result.errors, "dropped: its scheme is not one of LinkSchemes"), 1)
          << address << "\n"
          << result.errors;
    }
  }
  const struct {
    const char* address;
    const char* href;
  } kept[] = {
      {"\"http://x.org/a?b=1\"", "http://x.org/a?b=1"},
      {"\"https://x.org/\"", "https://x.org/"},
      {"\"ftp://x.org/f\"", "ftp://x.org/f"},
      {"\"mailto:a@x.org\"", "mailto:a@x.org"},
      {"\"other.html\"", "other.html"},
      {"\"dir/page.html#part\"", "dir/page.html#part"},
      {"\\\\l \"top\"", "#top"},
      {"\"C:\\\\docs\\\\a.doc\"", "C:\\docs\\a.doc"},
  };
  for (const auto& k : kept) {
    Conversion result = ConvertHtml(Field(std::string("HYPERLINK ") + k.address));
    EXPECT_NE(result.page.find(std::string("<a href=\"") + k.href + "\">link</a>"),
              std::string::npos)
        << k.address << "\n"
        << result.page;
    EXPECT_EQ(result.errors.find("LinkSchemes"), std::string::npos) << k.address;
  }
}

// A trusting user keeps other schemes through LinkSchemes.
TEST_F(SecurityTest, LinkSchemesKeepsWhatTheUserTrusts) {
  const std::string rtf =
      Field("HYPERLINK \"javascript:go()\"") + Field("HYPERLINK \"news:comp.lang\"");
  Conversion all = ConvertHtml(Field("HYPERLINK \"javascript:go()\""), {"-D", "LinkSchemes=*"});
  EXPECT_NE(all.page.find("<a href=\"javascript:go()\">link</a>"), std::string::npos) << all.page;
  Conversion news =
      ConvertHtml(Field("HYPERLINK \"news:comp.lang\""), {"-D", "LinkSchemes=http, news"});
  EXPECT_NE(news.page.find("<a href=\"news:comp.lang\">link</a>"), std::string::npos);
  Conversion none = ConvertHtml(Field("HYPERLINK \"news:comp.lang\""));
  EXPECT_NE(none.page.find("<a>link</a>"), std::string::npos) << none.page;
}

// Links the engine makes from document text (link targets, cross-references, object links,
// linked pictures) obey the same rule, for any translation file.
TEST_F(SecurityTest, EngineMadeLinksObeyLinkSchemes) {
  constexpr char kTables[] = R"(.PTag
Normal "<p>" "</p>\n" "" "" "</p>\n<p>" "" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Hidden "" "" _HRef
"" 0 Underline "" "" _Hot
"" 0 StrikeThrough "" "" _Link
.PMatch
Normal 0 Normal
.Strings
_Ext_xref_ "<a href=\"$_LINK_;\">$_HOTTEXT_;</a>"
_xref_ "<x href=\"$_LINK_;\">$_HOTTEXT_;</x>"
LinkedIMG "<img src=\"$_LinkFile;\">"
LinkedInlineIMG "<img src=\"$_LinkFile;\">"
)";
  Conversion result =
      Convert(kTables,
              "{\\rtf1\\ansi\\pard {\\v javascript:alert(1)}{\\ul hot} {\\strike vbscript:x} "
              "{\\field{\\*\\fldinst INCLUDEPICTURE \"data:image/png,x\"}{\\fldrslt }} "
              "{\\v http://ok.org/}{\\ul fine}\\par}");
  EXPECT_EQ(Scripted(result.page), "") << result.page;
  EXPECT_NE(result.page.find("<a href=\"\">hot</a>"), std::string::npos) << result.page;
  EXPECT_NE(result.page.find("<x href=\"\">vbscript:x</x>"), std::string::npos);
  EXPECT_EQ(result.page.find("<img"), std::string::npos);
  EXPECT_NE(result.page.find("<a href=\"http://ok.org/\">fine</a>"), std::string::npos);
  EXPECT_EQ(Count(result.errors, "dropped: its scheme"), 3) << result.errors;
}

// Markup typed into the document ("HTML Markup") is text unless RawMarkup asks for markup.
TEST_F(SecurityTest, TypedMarkupIsTextUnlessRawMarkupIsOn) {
  const std::string rtf =
      "{\\rtf1\\ansi{\\stylesheet{\\s0 Normal;}{\\*\\cs10 HTML Markup;}}\\pard "
      "{\\cs10 <script>alert(1)</script><b>bold</b>}\\par}";
  Conversion text = ConvertHtml(rtf);
  EXPECT_EQ(Scripted(text.page), "");
  // Written as text, in its paragraph.
  EXPECT_NE(text.page.find("<p>&lt;script&gt;alert(1)&lt;/script&gt;&lt;b&gt;bold&lt;/b&gt;</p>"),
            std::string::npos)
      << text.page;
  Conversion raw = ConvertHtml(rtf, {"-D", "RawMarkup=1"});
  EXPECT_NE(raw.page.find("<script>alert(1)</script><b>bold</b>"), std::string::npos) << raw.page;
}

// Document text quoted in the error file (the recent input of a message's context) is text.
TEST_F(SecurityTest, ErrorFileShowsDocumentTextAsText) {
  Conversion result = ConvertHtml(
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}{\\f1\\fcharset222 Thai;}}\\pard "
      "{\\f1 <script>alert(60)</script><img src=x onerror=alert(61)>\\'db}\\par}");
  ASSERT_NE(result.errors, "");
  EXPECT_EQ(Scripted(result.errors), "") << result.errors;
  EXPECT_NE(result.errors.find("&lt;script&gt;alert(60)&lt;/script&gt;"), std::string::npos)
      << result.errors;
  // A whole page: the heading stands inside the body.
  EXPECT_EQ(result.errors.rfind("<!DOCTYPE html>\n<html><head><title>", 0), 0u);
  EXPECT_LT(result.errors.find("<body>"), result.errors.find("<h4>"));
}

TEST(LinkSchemeTest, SchemesAsABrowserReadsThem) {
  const struct {
    const char* address;
    const char* scheme;
  } cases[] = {
      {"http://x.org/", "http"},
      {"HTTPS://x.org/", "https"},
      {"mailto:a@b", "mailto"},
      {"javascript:alert(1)", "javascript"},
      {"  \x01javascript:x", "javascript"},  // leading blanks and controls are skipped
      {"java\tscr\nipt:x", "javascript"},    // tabs and line feeds are dropped
      {"java&#9;script:x", "javascript"},    // also written as references
      {"javascript&#58;x", "javascript"},    // a colon written as a reference
      {"javascript&#x3A;x", "javascript"},   //
      {"javascript&colon;x", "javascript"},  //
      {"&#106;avascript:x", "javascript"},   // a letter written as a reference
      {"&#106avascript:x", "javascript"},    // numeric references need no ';'
      {"data:text/html,x", "data"},
      {"vbscript:x", "vbscript"},
      {"page.html", ""},
      {"dir/a:b", ""},  // a colon after a slash is in the path
      {"?q=a:b", ""},
      {"#top", ""},
      {"", ""},
      {"java script:x", ""},  // a blank inside: no scheme, a relative address
      {"1abc:x", ""},         // a scheme begins with a letter
      {"j\xe4vascript:x", ""},
      {"C:\\docs\\a.doc", "c"},
  };
  for (const auto& c : cases) EXPECT_EQ(translate::LinkScheme(c.address), c.scheme) << c.address;
}

TEST_F(SecurityTest, FieldInstructionsKeepBalancedQuotes) {
  const struct {
    const char* instruction;
    const char* fieldInst;
  } cases[] = {
      // Well-formed instructions reach the translation file as they are.
      {"HYPERLINK  &quot;http://a/&quot;  \\o &quot;tip&quot;",
       "HYPERLINK  &quot;http://a/&quot;  \\o &quot;tip&quot;"},
      {"PAGE", "PAGE"},
      // A quote inside a word, or one left open, is written again.
      {"HYPERLINK x&quot;y", "HYPERLINK x&#34;y"},
      {"HYPERLINK &quot;a b", "HYPERLINK &quot;a b&quot;"},
      {"QUOTE &quot;a&quot;b&quot;c", "QUOTE &quot;a&quot; b&#34;c"},
      // A refused address becomes empty.
      {"HYPERLINK &quot;javascript:x&quot; \\o &quot;t&quot;",
       "HYPERLINK &quot;&quot; \\o &quot;t&quot;"},
      {"HYPERLINK \\l &quot;b&quot; javascript:x", "HYPERLINK \\l &quot;b&quot; &quot;&quot;"},
  };
  for (const auto& c : cases) {
    std::vector<translate::FieldWord> words;
    EXPECT_EQ(translate::SafeFieldInstruction(*engine_, c.instruction, "&quot;", words),
              c.fieldInst)
        << c.instruction;
  }
}

// An output map that writes the quote as "&#34;" (HTML 3.2 has no &quot;) delimits with it; a
// quote inside a word is spelt otherwise, so that the translation file can tell them apart.
TEST_F(SecurityTest, InnerQuotesDifferFromNumericDelimiters) {
  std::vector<translate::FieldWord> words;
  EXPECT_EQ(translate::SafeFieldInstruction(*engine_, "HYPERLINK x&#34;y &#34;a b", "&#34;", words),
            "HYPERLINK x&#034;y &#34;a b&#34;");
  const std::string rtf =
      "{\\rtf1\\ansi\\pard {\\field{\\*\\fldinst HYPERLINK "
      "x\"onmouseover=\"alert(2)}{\\fldrslt link}}\\par}";
  for (const char* level : {"HTML=3", "HTML=4", "XHTML=1"}) {
    Conversion result = ConvertHtml(rtf, {"-D", level});
    EXPECT_EQ(Scripted(result.page), "") << level << "\n" << result.page;
    EXPECT_NE(result.page.find("onmouseover="), std::string::npos) << level << "\n" << result.page;
  }
}

// Font names are document text that reaches the page's style sheet (the body's font and the
// rules of character looks): in every language that writes fonts, a name can neither end the
// style element nor a rule, nor leave its quoted string. (A name ends at ';' and cannot hold a
// brace of its own, but \\' escapes give it any other byte.)
TEST_F(SecurityTest, FontNamesStayInsideTheirStyleRule) {
  const std::string rtf =
      "{\\rtf1\\ansi\\deff1{\\fonttbl{\\f0\\froman Times;}"
      "{\\f1\\fnil x</style><script>alert(1)</script>;}"
      "{\\f2\\fswiss a\\'7dbody\\'7bdisplay:none;}"
      "{\\f3\\fnil q\\'22\\'5c\\'27\\'0a\\'3c/style\\'3e\\'7bcolor:red\\'7d;}}"
      "\\pard\\plain\\f1 Body {\\f2 second} {\\f3 third} {\\f0 plain}\\par}";
  const struct {
    const char* language;
    std::vector<std::string> options;
  } languages[] = {
      {"html5", {}},
      {"html4", {"-D", "HTML=4"}},
      {"xhtml", {"-D", "XHTML=1"}},
      {"html3", {"-D", "HTML=3"}},
      {"oeb", {"-D", "TrnFile=oeb.trn"}},
      {"epub", {"-D", "TrnFile=epub.trn"}},
  };
  // A family list as the engine writes it: quoted names whose every character but letters,
  // digits, blanks, hyphens and non-ASCII is a CSS escape ("\\3c "), then a generic family.
  const std::regex family(
      "font-family: (\"([A-Za-z0-9 _-]|\\\\[0-9a-f]{2} )*\"(, |;))*"
      "((serif|sans-serif|monospace|cursive|fantasy);)?");
  for (const auto& l : languages) {
    SCOPED_TRACE(l.language);
    std::vector<std::string> words = {""};
    for (const std::string& option : l.options) words.push_back(option);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int count = 0;
    ConvertedOutput* outputs =
        ConvertString(*engine_, static_cast<int>(words.size()), argv.data(), rtf.c_str(), &count);
    ASSERT_NE(outputs, nullptr);
    std::string pages;
    for (int i = 0; i < count; ++i) {
      const std::string name = outputs[i].name ? outputs[i].name : "";
      if (name.find("_err.") == std::string::npos && outputs[i].data)
        pages.append(outputs[i].data, outputs[i].length);
    }
    FreeConvertedOutputs(outputs, count);
    ASSERT_NE(pages.find("Body"), std::string::npos) << pages;
    EXPECT_EQ(Scripted(pages), "") << pages;
    EXPECT_EQ(pages.find("display:none"), std::string::npos) << pages;
    EXPECT_EQ(pages.find("color:red"), std::string::npos) << pages;
    // Every style element ends where the translation file ends it, and holds whole rules.
    std::size_t at = 0;
    int families = 0;
    while ((at = pages.find("<style", at)) != std::string::npos) {
      const std::size_t open = pages.find('>', at);
      const std::size_t close = pages.find("</style>", at);
      ASSERT_NE(close, std::string::npos);
      const std::string sheet = pages.substr(open + 1, close - open - 1);
      EXPECT_EQ(sheet.find('<'), std::string::npos) << sheet;
      int depth = 0;
      for (char c : sheet) {
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        EXPECT_TRUE(depth == 0 || depth == 1) << sheet;
      }
      EXPECT_EQ(depth, 0) << sheet;
      for (std::size_t f = sheet.find("font-family:"); f != std::string::npos;
           f = sheet.find("font-family:", f + 1)) {
        const std::size_t end = sheet.find(';', f);
        ASSERT_NE(end, std::string::npos) << sheet;
        // The quoted name is a string of harmless characters, so its ';' ends the declaration.
        EXPECT_TRUE(std::regex_match(sheet.substr(f, end - f + 1), family))
            << sheet.substr(f, end - f + 1);
        ++families;
      }
      at = close + 1;
    }
    if (std::string(l.language) != "html3") {
      EXPECT_GE(families, 3) << pages;
    }
  }
}

}  // namespace
}  // namespace quillo::test
