// Unicode code points to output text: the standard character of a code point (named as the
// character maps name them) and its text in the output map, else a numeric reference.
#include <cstdio>
#include <string>

#include "base/settings.h"
#include "engine.h"
#include "rtf/charmaps.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Classic names of printable ASCII, from 0x20.
constexpr std::string_view kAsciiNames[] = {
    "space",       "exclam",
    "quotedbl",    "numbersign",
    "dollar",      "percent",
    "ampersand",   "quotesingle",
    "parenleft",   "parenright",
    "asterisk",    "plus",
    "comma",       "hyphen",
    "period",      "slash",
    "zero",        "one",
    "two",         "three",
    "four",        "five",
    "six",         "seven",
    "eight",       "nine",
    "colon",       "semicolon",
    "less",        "equal",
    "greater",     "question",
    "at",          "A",
    "B",           "C",
    "D",           "E",
    "F",           "G",
    "H",           "I",
    "J",           "K",
    "L",           "M",
    "N",           "O",
    "P",           "Q",
    "R",           "S",
    "T",           "U",
    "V",           "W",
    "X",           "Y",
    "Z",           "bracketleft",
    "backslash",   "bracketright",
    "asciicircum", "underscore",
    "grave",       "a",
    "b",           "c",
    "d",           "e",
    "f",           "g",
    "h",           "i",
    "j",           "k",
    "l",           "m",
    "n",           "o",
    "p",           "q",
    "r",           "s",
    "t",           "u",
    "v",           "w",
    "x",           "y",
    "z",           "braceleft",
    "bar",         "braceright",
    "asciitilde",
};
static_assert(sizeof kAsciiNames / sizeof kAsciiNames[0] == 0x7F - 0x20);

/// Classic names of Latin-1, from 0xA1 (0xA0 is rtfSC_nobrkspace).
constexpr std::string_view kLatin1Names[] = {
    "exclamdown",
    "cent",
    "sterling",
    "currency",
    "yen",
    "brokenbar",
    "section",
    "dieresis",
    "copyright",
    "ordfeminine",
    "guillemotleft",
    "logicalnot",
    "softhyphen",
    "registered",
    "macron",
    "degree",
    "plusminus",
    "twosuperior",
    "threesuperior",
    "acute",
    "mu",
    "paragraph",
    "periodcentered",
    "cedilla",
    "onesuperior",
    "ordmasculine",
    "guillemotright",
    "onequarter",
    "onehalf",
    "threequarters",
    "questiondown",
    "Agrave",
    "Aacute",
    "Acircumflex",
    "Atilde",
    "Adieresis",
    "Aring",
    "AE",
    "Ccedilla",
    "Egrave",
    "Eacute",
    "Ecircumflex",
    "Edieresis",
    "Igrave",
    "Iacute",
    "Icircumflex",
    "Idieresis",
    "Eth",
    "Ntilde",
    "Ograve",
    "Oacute",
    "Ocircumflex",
    "Otilde",
    "Odieresis",
    "multiply",
    "Oslash",
    "Ugrave",
    "Uacute",
    "Ucircumflex",
    "Udieresis",
    "Yacute",
    "Thorn",
    "germandbls",
    "agrave",
    "aacute",
    "acircumflex",
    "atilde",
    "adieresis",
    "aring",
    "ae",
    "ccedilla",
    "egrave",
    "eacute",
    "ecircumflex",
    "edieresis",
    "igrave",
    "iacute",
    "icircumflex",
    "idieresis",
    "eth",
    "ntilde",
    "ograve",
    "oacute",
    "ocircumflex",
    "otilde",
    "odieresis",
    "divide",
    "oslash",
    "ugrave",
    "uacute",
    "ucircumflex",
    "udieresis",
    "yacute",
    "thorn",
    "ydieresis",
};
static_assert(sizeof kLatin1Names / sizeof kLatin1Names[0] == 0x100 - 0xA1);

/// Characters of the special slots, by their standard names.
struct SpecialName {
  int codePoint;
  std::string_view name;
};
constexpr SpecialName kSpecialNames[] = {
    {0x2022, "rtfSC_bullet"},        {0x2014, "rtfSC_emdash"},     {0x2013, "rtfSC_endash"},
    {0x2011, "rtfSC_nobrkhyphen"},   {0x00A0, "rtfSC_nobrkspace"}, {0x201C, "rtfSC_quotedblleft"},
    {0x201D, "rtfSC_quotedblright"}, {0x2018, "rtfSC_quoteleft"},  {0x2019, "rtfSC_quoteright"},
};

/// The standard character name of `codePoint`, as the character maps name it.
std::string StandardNameOf(int codePoint) {
  for (const SpecialName& special : kSpecialNames)
    if (special.codePoint == codePoint) return std::string(special.name);
  if (codePoint == '\t') return "rtfSC_tab";
  if (codePoint >= 0x20 && codePoint <= 0x7E)
    return "rtfSC_" + std::string(kAsciiNames[codePoint - 0x20]);
  if (codePoint >= 0xA1 && codePoint <= 0xFF)
    return "rtfSC_" + std::string(kLatin1Names[codePoint - 0xA1]);
  char name[32];
  std::snprintf(name, sizeof name, "rtfSC_U+%04X", static_cast<unsigned>(codePoint));
  return name;
}

/// Windows-1252 characters of the bytes 0x80-0x9F; 0 where the code page has none.
constexpr int kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

int WritableCodePoint(int codePoint) {
  // XML 1.0 admits tab, line feed and carriage return of the C0 controls, and HTML's document
  // character sets leave DEL and the C1 controls unused: a reference to any of them makes the
  // page invalid (XML pages do not even parse), so they are never written.
  if (codePoint < 0x20)
    return codePoint == '\t' || codePoint == '\n' || codePoint == '\r' ? codePoint : -1;
  if (codePoint == 0x7F) return -1;
  if (codePoint >= 0x80 && codePoint <= 0x9F) {
    const int windows = kWindows1252High[codePoint - 0x80];
    return windows != 0 ? windows : -1;
  }
  if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE || codePoint == 0xFFFF ||
      codePoint > 0x10FFFF)
    return 0xFFFD;
  return codePoint;
}

std::string_view NumericReference(int codePoint, std::string& scratch) {
  scratch.clear();
  codePoint = WritableCodePoint(codePoint);
  if (codePoint < 0) return scratch;
  char reference[24];
  std::snprintf(reference, sizeof reference, "&#%d;", codePoint);
  scratch.assign(reference);
  return scratch;
}

std::string_view UnicodeOutput(Engine& engine, int codePoint, std::string& scratch) {
  TranslateState& t = engine.translate;
  codePoint = WritableCodePoint(codePoint);
  if (codePoint < 0) {
    scratch.clear();
    return scratch;
  }
  // Output languages whose parsers hold characters in 16 bits (the SGML of HTML 3.2 and 4.01)
  // set BmpOnly: a character beyond U+FFFF would make their pages unreadable to them.
  if (codePoint > 0xFFFF) {
    const std::string* bmpOnly = GetSetting(engine, "BmpOnly");
    if (bmpOnly && *bmpOnly == "1") codePoint = 0xFFFD;
  }
  int index;
  auto found = t.unicodeIndex.find(codePoint);
  if (found != t.unicodeIndex.end()) {
    index = found->second;
  } else {
    index = rtf::StandardCharIndex(engine, StandardNameOf(codePoint), false);
    t.unicodeIndex.emplace(codePoint, index);
  }
  if (index >= 0) {
    if (const char* text = rtf::OutputText(engine, index)) return text;
  }
  return NumericReference(codePoint, scratch);
}

}  // namespace quillo::translate
