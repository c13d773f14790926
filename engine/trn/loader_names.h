// The names a translation file is written in: the sections, the special tag names, the
// `.TMatch` attribute words and the `.Functions` statements with their operands; and the way the
// file format reads a decimal number. Read by the loader only.
#pragma once

#include <climits>
#include <string_view>

#include "expand/functions_state.h"
#include "trn/translation_state.h"

namespace quillo::loader_names {

struct NamedCode {
  const char* name;
  int code;
};

constexpr NamedCode kSpecialTags[] = {
    {"_Capture", kTagCapture}, {"_Link", kTagLink},       {"_FootNote", kTagFootNote},
    {"_Hot", kTagHot},         {"_HRef", kTagHRef},       {"_Name", kTagName},
    {"_Discard", kTagDiscard}, {"_Literal", kTagLiteral},
};

/// `.TMatch` attribute words and their bit numbers.
constexpr NamedCode kAttributeWords[] = {
    {"Bold", 0},         {"Italic", 1},        {"StrikeThrough", 2},    {"Outline", 3},
    {"Shadow", 4},       {"SmallCaps", 5},     {"AllCaps", 6},          {"Hidden", 7},
    {"Underline", 8},    {"WordUnderline", 9}, {"DottedUnderline", 10}, {"DoubleUnderline", 11},
    {"SuperScript", 12}, {"SubScript", 13},
};

enum class Section {
  kNone,
  kTMatch,
  kPMatch,
  kRMatch,
  kColors,
  kPTag,
  kTTag,
  kFunctions,
  kStrings,
  kCharsets
};

struct SectionName {
  const char* name;
  Section section;
};

constexpr SectionName kSections[] = {
    {".TMatch", Section::kTMatch},       {".PMatch", Section::kPMatch},
    {".RMatch", Section::kRMatch},       {".Colors", Section::kColors},
    {".PTag", Section::kPTag},           {".TTag", Section::kTTag},
    {".Functions", Section::kFunctions}, {".Strings", Section::kStrings},
    {".Charsets", Section::kCharsets},
};

/// Operands of a `.Functions` statement, one letter each: '1', '2', '3' texts; 'p' a pattern
/// that must compile; 'd' the same with "^$" standing for an empty field; 'c' a `Case` pattern,
/// compiled when it can be but never reported.
struct StatementSyntax {
  const char* keyword;
  int op;
  const char* operands;
};

constexpr StatementSyntax kStatements[] = {
    {"Lower", kOpLower, ""},      {"Upper", kOpUpper, ""},    {"Encode", kOpEncode, "1"},
    {"Decode", kOpDecode, ""},    {"Sub", kOpSub, "p1"},      {"Gsub", kOpGsub, "p1"},
    {"Save", kOpSave, "12"},      {"Set", kOpSet, "1"},       {"Ifelse", kOpIfelse, "1d23"},
    {"DBPrint", kOpDBPrint, "1"}, {"Script", kOpScript, "1"}, {"AnchorFile", kOpAnchorFile, "1"},
    {"RPExp", kOpRPExp, "1"},     {"VSet", kOpVSet, "1"},     {"RMatch", kOpRMatch, "p12"},
    {"Switch", kOpSwitch, "1"},   {"Case", kOpCase, "c"},     {"Default", kOpDefault, ""},
    {"End", kOpEnd, ""},          {"while", kOpWhile, "1d"},
};

/// Reads a decimal number the way the file format expects: leading blanks, an optional sign,
/// digits; anything else ends the number, no digits give 0. Out-of-range values are clamped.
inline int ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

}  // namespace quillo::loader_names
