// Link addresses taken from documents, and the words of field instructions. A document's link may
// name any scheme; a browser runs javascript: and vbscript: addresses and data: pages, so only the
// schemes of the LinkSchemes setting are kept. Field instructions reach the translation file with
// their quotes only where they delimit words, so a translation file that takes a word out of one
// can never end an attribute with a quote the document put inside a word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;

namespace translate {

/// Schemes a link may use when LinkSchemes is not set otherwise. Addresses without a scheme
/// (relative ones and "#anchor") are always kept.
inline constexpr char kDefaultLinkSchemes[] = "http https ftp mailto";

/// The scheme of `address` as a browser reads it, in lower case; "" when it has none. Character
/// references are decoded first ("javascript&#58;" has one), tabs and line breaks are dropped
/// and leading blanks and control characters skipped, as a browser's address parser does.
std::string LinkScheme(std::string_view address);

/// True when `address` may be written as a link: it has no scheme, a one-letter "scheme" (a
/// drive letter: "C:\docs\a.doc" is a file name), or a scheme that LinkSchemes lists (its words,
/// separated by blanks or commas, compared without case; "*" allows every scheme).
bool LinkAllowed(Engine& engine, std::string_view address);

/// LinkAllowed, reporting MSG_UNSAFE_LINK with the address when it is not (in pass 2 only: both
/// passes check the same links).
bool CheckLink(Engine& engine, std::string_view address);

/// One word of a field instruction.
struct FieldWord {
  std::string text;         ///< the word, its quotes (as delimiters) left out, others as '"'
  bool quoted = false;      ///< the word was written in quotes
  bool closed = true;       ///< a quoted word's closing quote was found
  bool innerQuote = false;  ///< a quote stood inside the word (not as a delimiter)
};

/// Splits a field instruction into words: separated by blanks (tabs, line feeds); a word that
/// begins with a quote runs to the next quote. `quote` is how the output map writes the double
/// quote (html: "&quot;"); a raw '"' counts as a quote as well.
std::vector<FieldWord> SplitFieldInstruction(std::string_view instruction, std::string_view quote);

/// The instruction a translation file gets as FieldInst. It is the document's own text unless
/// that holds a quote inside a word or a quote left open, or is a HYPERLINK whose address
/// LinkAllowed refuses (reported; the address becomes ""): then the words are written again,
/// separated by one blank, quoted words between `quote`s, a quote inside a word as "&#34;"
/// ("&#034;" when `quote` is "&#34;"; `quote` itself when that is not markup).
std::string SafeFieldInstruction(Engine& engine, std::string_view instruction,
                                 std::string_view quote, std::vector<FieldWord>& words);

}  // namespace translate
}  // namespace quillo
