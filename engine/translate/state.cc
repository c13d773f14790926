// Lifecycle of the translation state (per conversion, per pass) and the computed settings that
// read it.
#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "rtf/tables.h"
#include "translate/charsets.h"
#include "translate/footnotes.h"
#include "translate/paragraph_marks.h"
#include "translate/pictures.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/translate.h"
#include "translate/word_fonts.h"

namespace quillo::translate {

namespace {

/// Message reported once per conversion with the number of stray '}' beyond the first reports.
constexpr char kPopErrorCount[] = "MSG_STACK_POP_ERR_COUNT";
/// Longest part of a font name written to the page, in bytes.
constexpr std::size_t kMaxFontNameBytes = 64;

constexpr char kPopErrorCountText[] =
    "Input State Stack Popped too many times: $MsgParam1; more times not reported\n";

/// ASCII lower case.
std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

/// The kind of font a well-known name is, whatever the font table's family word says (writers
/// put \fnil on every font, and some a wrong word: "Times New Roman" as \fswiss). The name is
/// compared in lower case, without blanks and hyphens and without a weight, slant or script
/// suffix ("Helvetica-BoldOblique", "Times New Roman CE", "TimesNewRomanPSMT"). nullptr when the
/// name is not known.
const char* KnownFamily(std::string_view name) {
  std::string key;
  for (char c : Lowered(name))
    if (c != ' ' && c != '-' && c != '_') key += c;
  for (std::string_view suffix : {"(hebrew)", "(arabic)", "(vietnamese)", "w3", "w6", "bolditalic",
                                  "boldoblique", "oblique", "italic", "bold", "regular", "roman",
                                  "psmt", "mt", "ce", "cyr", "greek", "tur", "baltic"}) {
    if (key.size() > suffix.size() + 3 && key.ends_with(suffix))
      key.resize(key.size() - suffix.size());
  }
  static const std::pair<const char*, const char*> kKnown[] = {
      {"times", "serif"},
      {"timesnew", "serif"},
      {"timesnewroman", "serif"},
      {"georgia", "serif"},
      {"garamond", "serif"},
      {"palatino", "serif"},
      {"palatinolinotype", "serif"},
      {"bookantiqua", "serif"},
      {"bookmanoldstyle", "serif"},
      {"cambria", "serif"},
      {"century", "serif"},
      {"centuryschoolbook", "serif"},
      {"constantia", "serif"},
      {"baskerville", "serif"},
      {"liberationserif", "serif"},
      {"dejavuserif", "serif"},
      {"msmincho", "serif"},
      {"mspmincho", "serif"},
      {"simsun", "serif"},
      {"nsimsun", "serif"},
      {"mingliu", "serif"},
      {"pmingliu", "serif"},
      {"newmingliu", "serif"},
      {"batang", "serif"},
      {"sylfaen", "serif"},
      {"arial", "sans-serif"},
      {"arialnarrow", "sans-serif"},
      {"arialunicodems", "sans-serif"},
      {"helvetica", "sans-serif"},
      {"helveticaneue", "sans-serif"},
      {"verdana", "sans-serif"},
      {"tahoma", "sans-serif"},
      {"calibri", "sans-serif"},
      {"calibrilight", "sans-serif"},
      {"candara", "sans-serif"},
      {"corbel", "sans-serif"},
      {"segoeui", "sans-serif"},
      {"trebuchetms", "sans-serif"},
      {"centurygothic", "sans-serif"},
      {"gillsans", "sans-serif"},
      {"gillsansmt", "sans-serif"},
      {"lucidagrande", "sans-serif"},
      {"lucidasans", "sans-serif"},
      {"lucidasansunicode", "sans-serif"},
      {"franklingothic", "sans-serif"},
      {"mssansserif", "sans-serif"},
      {"microsoftsansserif", "sans-serif"},
      {"geneva", "sans-serif"},
      {"optima", "sans-serif"},
      {"futura", "sans-serif"},
      {"liberationsans", "sans-serif"},
      {"dejavusans", "sans-serif"},
      {"msgothic", "sans-serif"},
      {"mspgothic", "sans-serif"},
      {"msuigothic", "sans-serif"},
      {"meiryo", "sans-serif"},
      {"simhei", "sans-serif"},
      {"microsoftyahei", "sans-serif"},
      {"gulim", "sans-serif"},
      {"dotum", "sans-serif"},
      {"malgungothic", "sans-serif"},
      {"hirakakupro", "sans-serif"},
      {"hirakakupron", "sans-serif"},
      {"hiraginokakugothicpro", "sans-serif"},
      {"hiraminpro", "serif"},
      {"hiraminpron", "serif"},
      {"hiraginominchopro", "serif"},
      {"courier", "monospace"},
      {"couriernew", "monospace"},
      {"consolas", "monospace"},
      {"lucidaconsole", "monospace"},
      {"monaco", "monospace"},
      {"menlo", "monospace"},
      {"andalemono", "monospace"},
      {"liberationmono", "monospace"},
      {"dejavusansmono", "monospace"},
  };
  for (const auto& [known, family] : kKnown)
    if (key == known) return family;
  return nullptr;
}

/// The generic CSS family of a font: a well-known name's kind, else the kind an East Asian name
/// says, else the font table's family word, else hints in the name. A font none of them tells the
/// kind of (\fnil with an unknown name) is taken for serif, the browser's own choice, when it is a
/// font for Latin, Greek or Cyrillic text; a font for other scripts (a right-to-left or East Asian
/// character set, \fbidi) and a symbol font (\ftech, the symbol character set) get none (nullptr),
/// so that the browser's default for the script stands in for them rather than a guess.
const char* GenericFamily(const rtf::FontEntry& font, std::string_view name) {
  if (const char* known = KnownFamily(name)) return known;
  // Names in East Asian scripts say their kind, and say it better than the family word, which
  // writers often get wrong for them ("ＭＳ Ｐゴシック" as \froman): gothic (ゴシック, 고딕, 黑体)
  // faces are sans-serif, mincho, song and ming (明朝, 宋体, 明體, 바탕) faces serif.
  for (const char* hint : {"\u30b4\u30b7\u30c3\u30af", "\uace0\ub515", "\u9ed1", "\uad74\ub9bc",
                           "\ub3cb\uc6c0", "\u30e1\u30a4\u30ea\u30aa"})
    if (name.find(hint) != std::string_view::npos) return "sans-serif";
  for (const char* hint :
       {"\u660e\u671d", "\u5b8b", "\u660e\u9ad4", "\u660e\u4f53", "\ubc14\ud0d5", "\uba85\uc870"})
    if (name.find(hint) != std::string_view::npos) return "serif";
  switch (font.family) {
    case 1:
      return "serif";
    case 2:
      return "sans-serif";
    case 3:
      return "monospace";
    case 4:
      return "cursive";
    case 5:
      return "fantasy";
    default:
      break;
  }
  const std::string lower = Lowered(name);
  for (const char* hint : {"mono", "courier", "consol", "typewriter", "fixed", "terminal"})
    if (lower.find(hint) != std::string::npos) return "monospace";
  for (const char* hint : {"sans", "arial", "helvetica", "verdana", "tahoma", "calibri", "gothic",
                           "segoe", "trebuchet", "lucida", "geneva", "univers", "futura"})
    if (lower.find(hint) != std::string::npos) return "sans-serif";
  for (const char* hint : {"serif", "roman", "times", "mincho", "garamond", "antiqua"})
    if (lower.find(hint) != std::string::npos) return "serif";
  if (font.family == 6 || font.family == 7) return nullptr;
  switch (font.charset) {
    case 0:
    case 1:
    case 77:
    case 161:
    case 162:
    case 163:
    case 186:
    case 204:
    case 238:
      return "serif";
    default:
      return nullptr;
  }
}

/// The iconv name of the character set a font's name is written in: its \cpg, else the code
/// page of its \fcharset; Windows-1252 when neither tells.
std::string NameEncoding(const rtf::FontEntry& font) {
  if (font.codePage > 0 && font.codePage < 100000) return "CP" + std::to_string(font.codePage);
  if (font.charset == 77) return "MACINTOSH";
  const int codePage = WindowsCodePage(font.charset);
  return "CP" + std::to_string(codePage ? codePage : 1252);
}

/// A font name as UTF-8: its bytes read in the font's character set; bytes that do not convert
/// are dropped.
std::string NameUtf8(const rtf::FontEntry& font, std::string_view name) {
  bool ascii = true;
  for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(name);
  std::string out;
  const std::lock_guard<std::mutex> hold(IconvLock());
  iconv_t cd = iconv_open("UTF-8", NameEncoding(font).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::string in(name);
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char buffer[4 * kMaxFontNameBytes + 8];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) &&
        errno != E2BIG) {
      // A byte that does not convert (or an incomplete character at the end) is dropped.
      ++inPtr;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.append(buffer, outPtr - buffer);
  }
  iconv_close(cd);
  return out;
}

/// Appends a font name as a quoted CSS string. Letters, digits, blanks, hyphens and characters
/// beyond ASCII are written as they are; every other character as a CSS escape ("\22 " for a
/// quotation mark, "\3c " for '<'), so that no document text can leave the string, end the
/// style element or the rule, or be read as expansion code; control characters are dropped.
/// At most kMaxFontNameBytes bytes of the name are kept, never half a character.
void AppendCssString(std::string_view name, std::string& out) {
  out += '"';
  std::size_t kept = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (kept >= kMaxFontNameBytes && (c & 0xC0) != 0x80) break;
    ++kept;
    if (c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        c == ' ' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      constexpr char kHex[] = "0123456789abcdef";
      out += '\\';
      out += kHex[c >> 4];
      out += kHex[c & 15];
      out += ' ';
    }
  }
  out += '"';
}

/// The CSS font-family list of a font: its name and its alternative name ({\*\falt}) as quoted
/// strings, then its generic family when that is known.
void FontFamilyCss(const rtf::FontEntry& font, std::string& out) {
  out.clear();
  std::string seen, primary;
  for (const std::string* raw : {&font.name, &font.altName}) {
    std::string name = NameUtf8(font, *raw);
    if (raw == &font.name) primary = name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    if (name.empty() || Lowered(name) == seen) continue;
    seen = Lowered(name);
    AppendCssString(name, out);
    out += ", ";
  }
  if (const char* generic = GenericFamily(font, primary))
    out += generic;
  else if (!out.empty())
    out.resize(out.size() - 2);
}

/// The document's body size in points: the size its Normal style sets, else RTF's 12.
/// The parameter of the first character-format word `minor` in the document's Normal style that
/// `accept` takes, or `otherwise`.
template <typename Accept>
int NormalStyleValue(Engine& engine, int minor, Accept accept, int otherwise) {
  const rtf::StyleEntry* normal = rtf::FindStyle(engine, 0);
  if (normal && normal->number == 0 && normal->type == rtf::kParagraphStyle)
    for (const rtf::RtfToken& word : normal->tokens)
      if (word.major == 12 && word.minor == minor && accept(word.param)) return word.param;
  return otherwise;
}

int BodySize(Engine& engine) {
  const int halfPoints = NormalStyleValue(
      engine, rtf::chr::kFontSize, [](int size) { return size > 1 && size < 3276; }, 24);
  return halfPoints / 2;
}

/// The font of the document's body text: the font its Normal style names, else the default
/// font (\deff). Writers give every run its font, and a Normal style in another font than the
/// default one (Arial over a Times \deff) is what the text is written in; the page's own text
/// (note numbers, list marks) then matches it.
int BodyFont(Engine& engine) {
  return NormalStyleValue(
      engine, rtf::chr::kFontNum,
      [&](int font) { return font >= 0 && rtf::FindFont(engine, font) != nullptr; },
      engine.translate.defaultFont);
}

}  // namespace

/// "#rrggbb" in lower-case hexadecimal; read on every format change, so no printf.
void HexColor(int red, int green, int blue, std::string& out) {
  constexpr char kHex[] = "0123456789abcdef";
  const int parts[3] = {red & 0xFF, green & 0xFF, blue & 0xFF};
  char rgb[7] = {'#'};
  for (int i = 0; i < 3; ++i) {
    rgb[1 + 2 * i] = kHex[parts[i] >> 4];
    rgb[2 + 2 * i] = kHex[parts[i] & 15];
  }
  out.assign(rgb, sizeof rgb);
}

void ResetConversion(Engine& engine) {
  engine.translate = TranslateState();
  rtf::ResetDocumentInfo(engine);
  ResetTables(engine, true);
  ResetPictures(engine, true);
  ResetFootnotes(engine);
  // The default text of the summary message; a translation file may reword it.
  if (FindSetting(engine, kPopErrorCount) < 0)
    SetSetting(engine, kPopErrorCount, kPopErrorCountText);
}

void ResetPass(Engine& engine) {
  TranslateState& t = engine.translate;
  if (engine.driver.pass == 1 && t.popErrors > TranslateState::kPopErrorReports) {
    long more = t.popErrors - TranslateState::kPopErrorReports;
    ReportMessage(engine, kPopErrorCount, {more});
  }
  // Conversion-lifetime members survive; everything else starts afresh.
  TranslateState fresh;
  fresh.parFormats = std::move(t.parFormats);
  fresh.charFormats = std::move(t.charFormats);
  fresh.charLooks = std::move(t.charLooks);
  fresh.popErrors = t.popErrors;
  fresh.unicodeIndex = std::move(t.unicodeIndex);
  fresh.converters = std::move(t.converters);
  fresh.lastLanguage = std::move(t.lastLanguage);
  fresh.bodyFontFamily = std::move(t.bodyFontFamily);
  fresh.nestedRows = std::move(t.nestedRows);
  fresh.wordFontRecords = std::move(t.wordFontRecords);
  for (int channel = 0; channel < kChannelCount; ++channel)
    fresh.paragraphMarkRecords[channel] = std::move(t.paragraphMarkRecords[channel]);
  fresh.run.reserve(1024);
  t = std::move(fresh);
  engine.expansion.paragraphText = nullptr;
  engine.expansion.paragraphMatches.clear();
  // Tables and pictures are read back by position: each pass counts them from the start.
  ResetTables(engine, false);
  ResetPictures(engine, false);
  ResetFootnotes(engine);
  StartWordFonts(engine);
  StartParagraphMarks(engine);
}

// ---- Computed settings
// -------------------------------------------------------------------------------

namespace {

/// `out` becomes the decimal text of `value` (as std::to_string writes it), in its own buffer.
void WriteNumber(std::string& out, long long value) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.assign(digits, static_cast<std::size_t>(end - digits));
}

/// Settings that read the document's information group.
bool InfoValue(Engine& engine, int builtinIndex, std::string& out) {
  static constexpr struct {
    int setting;
    rtf::InfoKind kind;
  } kInfo[] = {
      {kSettingRtfTitle, rtf::kInfoTitle},    {kSettingSubject, rtf::kInfoSubject},
      {kSettingOperator, rtf::kInfoOperator}, {kSettingVersComments, rtf::kInfoVersComments},
      {kSettingComments, rtf::kInfoComments}, {kSettingKeywords, rtf::kInfoKeywords},
      {kSettingAuthor, rtf::kInfoAuthor},     {kSettingDocComments, rtf::kInfoDocComments},
  };
  for (const auto& entry : kInfo) {
    if (entry.setting == builtinIndex) {
      out.assign(rtf::DocumentInfo(engine, entry.kind));
      return true;
    }
  }
  return false;
}

/// Settings that read the paragraph format: alignment, indents, style, shading.
bool ParagraphValue(Engine& engine, int builtinIndex, std::string& out) {
  switch (builtinIndex) {
    case kSettingPAlign:
    case kSettingFirstIndent:
    case kSettingLeftIndent:
    case kSettingRightIndent:
    case kSettingParStyle:
    case kSettingParBackRGB:
      break;
    default:
      return false;
  }
  const ParFormat& par = ShownParagraph(engine.translate);
  const double twipToPixel = engine.settings.mirrors.twipToPixel;
  switch (builtinIndex) {
    case kSettingPAlign:
      WriteNumber(out, par.align);
      return true;
    case kSettingFirstIndent:
      WriteNumber(out, static_cast<int>(par.firstIndent * twipToPixel));
      return true;
    case kSettingLeftIndent:
      WriteNumber(out, static_cast<int>(par.leftIndent * twipToPixel));
      return true;
    case kSettingRightIndent:
      WriteNumber(out, static_cast<int>(par.rightIndent * twipToPixel));
      return true;
    case kSettingParStyle: {
      const rtf::StyleEntry* style = rtf::FindStyle(engine, par.style);
      out = style && !style->name.empty() ? style->name : std::string("Normal");
      return true;
    }
    case kSettingParBackRGB:
      if (par.background < 0)
        out.clear();
      else
        HexColor(par.background >> 16, par.background >> 8, par.background, out);
      return true;
    default:
      return false;
  }
}

/// Settings that read the character format: font, size, attributes, style, colours.
bool CharacterValue(Engine& engine, int builtinIndex, std::string& out) {
  TranslateState& t = engine.translate;
  const CharFormat& chr = t.cur.chr;
  if (builtinIndex >= kSettingBold && builtinIndex <= kSettingSubScript) {
    const uint32_t bit = 1u << (builtinIndex - kSettingBold);
    out = (chr.attributes & bit) ? "1" : "0";
    return true;
  }
  auto color = [&]() -> const ColorEntry* {
    const auto& colors = engine.translation.colors;
    return chr.color >= 0 && chr.color < static_cast<int>(colors.size()) ? &colors[chr.color]
                                                                         : nullptr;
  };
  switch (builtinIndex) {
    case kSettingFont: {
      const rtf::FontEntry* font = rtf::FindFont(engine, chr.font);
      out = font ? font->name : std::string();
      return true;
    }
    case kSettingFontSize:
      WriteNumber(out, static_cast<int>(ShownSize(t) * engine.settings.mirrors.fontScale));
      return true;
    case kSettingPlain:
      out = chr.attributes == 0 ? "1" : "0";
      return true;
    case kSettingShiftOnly:
      out = chr.shiftOnly ? "1" : "0";
      return true;
    case kSettingCharStyle: {
      const rtf::StyleEntry* style =
          chr.charStyle != 0 ? rtf::FindStyle(engine, chr.charStyle) : nullptr;
      out = style && style->type == rtf::kCharacterStyle ? style->name : std::string();
      return true;
    }
    case kSettingTextColor: {
      const ColorEntry* entry = color();
      out = entry ? entry->name : std::string();
      return true;
    }
    case kSettingTextRGB: {
      const ColorEntry* entry = color();
      if (entry)
        HexColor(entry->red, entry->green, entry->blue, out);
      else
        out.clear();
      return true;
    }
    case kSettingBackRGB:
      if (chr.background < 0)
        out.clear();
      else
        HexColor(chr.background >> 16, chr.background >> 8, chr.background, out);
      return true;
    case kSettingFontFamily:
    case kSettingBodyFontFamily: {
      const bool body = builtinIndex == kSettingBodyFontFamily;
      // The heads of pass 2 are written before its font table is read: they get pass 1's value.
      if (body && engine.driver.pass == 2) {
        out = t.bodyFontFamily;
        return true;
      }
      const rtf::FontEntry* font = rtf::FindFont(engine, body ? BodyFont(engine) : ShownFont(t));
      if (font)
        FontFamilyCss(*font, out);
      else
        out.clear();
      if (body) t.bodyFontFamily = out;
      return true;
    }
    case kSettingFontSizeRel: {
      // Percent of the body size, rounded; clamped so that no document makes text vanish or
      // fill the screen.
      const long shown = ShownSize(t);
      const long size = shown < 1 ? 1 : shown > 1638 ? 1638 : shown;
      const long bodySize = BodySize(engine);
      long percent = (size * 200 + bodySize) / (2L * bodySize);
      if (percent > 400) percent = 400;
      if (percent < 30) percent = 30;
      WriteNumber(out, percent);
      return true;
    }
    default:
      return false;
  }
}

/// Settings that read the format registries of the page's style sheet and the .PMatch entry.
bool RegistryValue(Engine& engine, int builtinIndex, std::string& out) {
  TranslateState& t = engine.translate;
  switch (builtinIndex) {
    case kSettingCharFmtIdx:
      WriteNumber(out, CharFmtIdx(engine));
      return true;
    case kSettingParFmtIdx:
      WriteNumber(out, ParFmtIdx(engine));
      return true;
    case kSettingCharFmts:
      out = t.charFormats.list;
      return true;
    case kSettingCharLookIdx:
      WriteNumber(out, CharLookIdx(engine));
      return true;
    case kSettingCharLookRule:
      out = CharLookRule(engine);
      return true;
    case kSettingCharLooks:
      out = t.charLooks.list;
      return true;
    case kSettingParFmts:
      out = t.parFormats.list;
      return true;
    case kSettingNestLevel:
    case kSettingMatchName: {
      const auto& pmatch = engine.translation.pmatch;
      const int index = t.currentPMatch;
      const bool valid = index >= 0 && index < static_cast<int>(pmatch.size());
      if (builtinIndex == kSettingNestLevel)
        out = valid ? std::to_string(pmatch[index].level) : std::string("0");
      else
        out = valid ? pmatch[index].styleName : std::string();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool ComputedValue(Engine& engine, int builtinIndex, std::string& out) {
  // The picture settings are a range of their own: the others skip the call.
  const bool picture = builtinIndex >= kSettingPicfilename && builtinIndex <= kSettingPicChecksum;
  return (picture && PictureValue(engine, builtinIndex, out)) ||
         CharacterValue(engine, builtinIndex, out) || ParagraphValue(engine, builtinIndex, out) ||
         InfoValue(engine, builtinIndex, out) || RegistryValue(engine, builtinIndex, out);
}

int AssignMatchName(Engine& engine, std::string_view value) {
  if (value.empty()) return -1;
  TranslateState& t = engine.translate;
  const auto& pmatch = engine.translation.pmatch;
  for (int i = 0; i < static_cast<int>(pmatch.size()); ++i) {
    if (pmatch[i].styleName == value) {
      t.forcedPMatch = i;
      t.forcedChannel = t.cur.channel;
      t.currentPMatch = i;
      t.stateChanged = true;
      return i;
    }
  }
  ReportMessage(engine, "MSG_INVALID_MATCHNAME", {value});
  return -1;
}

}  // namespace quillo::translate
