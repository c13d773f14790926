// Link addresses and field-instruction words: the scheme a browser would see, the LinkSchemes
// rule, and the instruction text handed to the translation file.
#include "translate/links.h"

#include <cstdlib>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"

namespace quillo::translate {

namespace {

constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

/// Named references that can stand for a character of a scheme or end one. Others decode to
/// characters no scheme holds.
struct NamedCharacter {
  std::string_view name;
  char character;
};
constexpr NamedCharacter kNamedCharacters[] = {
    {"colon", ':'}, {"Tab", '\t'},   {"NewLine", '\n'}, {"amp", '&'},   {"quot", '"'},
    {"lt", '<'},    {"gt", '>'},     {"apos", '\''},    {"sol", '/'},   {"quest", '?'},
    {"num", '#'},   {"period", '.'}, {"plus", '+'},     {"minus", '-'},
};

/// A character reference at `at` (which holds '&'): the length it takes and the character it
/// stands for (characters beyond ASCII as 0x80, which no scheme holds). 0 when none stands there.
/// A numeric reference may end without its ';', as browsers read it.
std::size_t ReferenceAt(std::string_view text, std::size_t at, char& character) {
  std::size_t i = at + 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t digitsStart = i;
    long code = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      int digit;
      if (IsAsciiDigit(c))
        digit = c - '0';
      else if (hex && c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        break;
      if (code < 0x110000) code = code * (hex ? 16 : 10) + digit;
    }
    if (i == digitsStart) return 0;
    if (i < text.size() && text[i] == ';') ++i;
    character = code > 0 && code < 0x80 ? static_cast<char>(code) : '\x80';
    return i - at;
  }
  for (const NamedCharacter& named : kNamedCharacters) {
    if (text.compare(i, named.name.size(), named.name) == 0 &&
        i + named.name.size() < text.size() && text[i + named.name.size()] == ';') {
      character = named.character;
      return named.name.size() + 2;
    }
  }
  return 0;
}

/// Words of LinkSchemes (blanks, tabs and commas separate them), in lower case.
std::vector<std::string> AllowedSchemes(Engine& engine) {
  const std::string* setting = GetSetting(engine, "LinkSchemes");
  const std::string value = setting ? StrExp(engine, *setting) : kDefaultLinkSchemes;
  std::vector<std::string> schemes;
  std::string word;
  for (char c : value + " ") {
    if (c == ' ' || c == ',' || c == '\t' || c == ';') {
      if (!word.empty()) schemes.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(LowerAscii(c));
    }
  }
  return schemes;
}

/// Field switches of HYPERLINK that take the next word as their argument.
bool SwitchTakesArgument(std::string_view word) {
  if (word.size() != 2 || word[0] != '\\') return false;
  const char letter = LowerAscii(word[1]);
  return letter == 'l' || letter == 'o' || letter == 't';
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace

std::string LinkScheme(std::string_view address) {
  // Only the part before the first ':' matters, and a scheme is short: a long run without one
  // is no scheme.
  constexpr std::size_t kLongestScheme = 64;
  std::string scheme;
  std::size_t i = 0;
  while (i < address.size() && scheme.size() <= kLongestScheme) {
    char c = address[i];
    std::size_t length = 1;
    if (c == '&') {
      std::size_t reference = ReferenceAt(address, i, c);
      if (reference > 0) length = reference;
    }
    i += length;
    if (c == '\t' || c == '\n' || c == '\r') continue;  // browsers drop them from addresses
    if (scheme.empty() && static_cast<unsigned char>(c) <= 0x20) continue;  // leading ones
    if (c == ':') {
      if (scheme.empty() || !IsAsciiLetter(scheme[0])) return {};
      for (char s : scheme)
        if (!IsAsciiLetter(s) && !IsAsciiDigit(s) && s != '+' && s != '-' && s != '.') return {};
      return scheme;
    }
    if (c == '/' || c == '?' || c == '#') return {};
    scheme.push_back(LowerAscii(c));
  }
  return {};
}

bool LinkAllowed(Engine& engine, std::string_view address) {
  const std::string scheme = LinkScheme(address);
  if (scheme.size() <= 1) return true;
  for (const std::string& allowed : AllowedSchemes(engine))
    if (allowed == "*" || allowed == scheme) return true;
  return false;
}

bool CheckLink(Engine& engine, std::string_view address) {
  if (LinkAllowed(engine, address)) return true;
  // Both passes read fields; the pass that writes reports.
  if (engine.driver.pass != 1) ReportMessage(engine, "MSG_UNSAFE_LINK", {address});
  return false;
}

std::vector<FieldWord> SplitFieldInstruction(std::string_view text, std::string_view quote) {
  // The length of the quote at `i`, 0 when none stands there.
  auto quoteAt = [&](std::size_t i) -> std::size_t {
    if (text[i] == '"') return 1;
    if (!quote.empty() && quote != "\"" && text.compare(i, quote.size(), quote) == 0)
      return quote.size();
    return 0;
  };
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
  std::vector<FieldWord> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i >= text.size()) break;
    FieldWord word;
    if (std::size_t q = quoteAt(i)) {
      word.quoted = true;
      word.closed = false;
      i += q;
      while (i < text.size()) {
        if (std::size_t end = quoteAt(i)) {
          i += end;
          word.closed = true;
          break;
        }
        word.text.push_back(text[i++]);
      }
    } else {
      while (i < text.size() && !isBlank(text[i])) {
        if (std::size_t q = quoteAt(i)) {
          word.text.push_back('"');
          word.innerQuote = true;
          i += q;
        } else {
          word.text.push_back(text[i++]);
        }
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string SafeFieldInstruction(Engine& engine, std::string_view instruction,
                                 std::string_view quote, std::vector<FieldWord>& words) {
  words = SplitFieldInstruction(instruction, quote);
  bool rewrite = false;
  for (const FieldWord& word : words)
    if (word.innerQuote || !word.closed) rewrite = true;

  if (!words.empty() && !words[0].quoted && EqualsIgnoringCase(words[0].text, "HYPERLINK")) {
    // The address is the first word that is neither a switch nor a switch's argument.
    for (std::size_t k = 1; k < words.size(); ++k) {
      if (!words[k].quoted && !words[k].text.empty() && words[k].text[0] == '\\') {
        if (SwitchTakesArgument(words[k].text)) ++k;
        continue;
      }
      if (!CheckLink(engine, words[k].text)) {
        words[k] = FieldWord{std::string(), true, true, false};
        rewrite = true;
      }
      break;
    }
  }
  if (!rewrite) return std::string(instruction);

  const std::string_view delimiter = quote.empty() ? std::string_view("\"") : quote;
  // A quote that is text: a character reference where the output writes markup, spelt unlike
  // the delimiter (an output map without &quot;, as HTML 3.2's, writes the delimiter "&#34;").
  const std::string_view innerQuote = delimiter[0] != '&'    ? delimiter
                                      : delimiter == "&#34;" ? std::string_view("&#034;")
                                                             : std::string_view("&#34;");
  std::string safe;
  safe.reserve(instruction.size() + 16);
  for (const FieldWord& word : words) {
    if (!safe.empty()) safe.push_back(' ');
    if (word.quoted) safe.append(delimiter);
    for (char c : word.text) {
      if (c == '"')
        safe.append(innerQuote);
      else
        safe.push_back(c);
    }
    if (word.quoted) safe.append(delimiter);
  }
  return safe;
}

}  // namespace quillo::translate
