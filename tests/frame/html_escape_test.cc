// The engine's one HTML escaper, with each of its extras.
#include "base/html_escape.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(HtmlEscapeTest, EscapesMarkupAndTheRequestedExtras) {
  struct Case {
    const char* text;
    unsigned extras;
    const char* escaped;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"plain", 0, "plain"},
      {"a<b>&c", 0, "a&lt;b&gt;&amp;c"},
      {"&amp;", 0, "&amp;amp;"},
      {"\"$x;\"\n", 0, "\"$x;\"\n"},
      {"\"q\"", kEscapeQuotes, "&quot;q&quot;"},
      {"$F();", kEscapeDollar, "&#36;F();"},
      {"one\ntwo", kLineBreaksAsBr, "one<br>two"},
      {"<\"$\n>", kEscapeQuotes | kEscapeDollar | kLineBreaksAsBr, "&lt;&quot;&#36;<br>&gt;"},
  };
  EXPECT_EQ(HtmlEscaped(std::string_view("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(HtmlEscaped(std::string_view("a\0<", 3), kDropNul), "a&lt;");
  for (const Case& c : cases) EXPECT_EQ(HtmlEscaped(c.text, c.extras), c.escaped) << c.text;
  std::string out = "kept ";
  AppendHtmlEscaped(out, "<i>");
  EXPECT_EQ(out, "kept &lt;i&gt;");
}

}  // namespace
}  // namespace quillo
