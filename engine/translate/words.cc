// The formatting words: character, paragraph, document and section attributes change the
// current state; a style word applies the character formatting its style passes on.
#include "translate/words.h"

#include <array>
#include <cstdint>
#include <string>

#include "base/settings.h"
#include "engine.h"
#include "rtf/charmaps.h"
#include "rtf/reader.h"
#include "rtf/tables.h"
#include "translate/charsets.h"
#include "translate/paragraph_marks.h"
#include "translate/table_model.h"
#include "translate/text.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Minors that the shipped control-word table gives beyond its named constants.
constexpr int kListOverride = 101;  ///< major 11: \lsN
constexpr int kListLevel = 102;     ///< major 11: \ilvlN
constexpr int kNestLevel = 103;     ///< major 11: \itapN
constexpr int kAnsiCodePage = 82;   ///< major 8: \ansicpgN

/// The attribute each on/off character word sets, by minor; 0 for the other words.
constexpr auto kAttributeOfWord = [] {
  using namespace rtf::chr;
  std::array<uint32_t, kUnicodeSkip + 1> table{};
  table[kBold] = kAttrBold;
  table[kAllCaps] = kAttrAllCaps;
  table[kItalic] = kAttrItalic;
  table[kOutline] = kAttrOutline;
  table[kSmallCaps] = kAttrSmallCaps;
  table[kShadow] = kAttrShadow;
  table[kStrikeThru] = kAttrStrikeThru;
  table[kUnderline] = kAttrUnderline;
  table[kDotUnderline] = kAttrDUnderline;
  table[kDbUnderline] = kAttrDbUnderline;
  table[kWordUnderline] = kAttrWUnderline;
  table[kInvisible] = kAttrInvisible;
  return table;
}();

/// The attribute of on/off character word `minor`, 0 for a word of another kind.
uint32_t AttributeOfWord(int minor) {
  return minor >= 0 && minor < static_cast<int>(kAttributeOfWord.size()) ? kAttributeOfWord[minor]
                                                                         : 0;
}

/// Character words a style passes on to the text in it: size, colour and background. Writers
/// usually repeat the rest of a style's formatting on every run; these they often leave to the
/// style (the coloured headings of word processors).
bool StyleCharWord(int minor) {
  using namespace rtf::chr;
  return minor == kFontSize || minor == kAssocFontSize || minor == kRtlChar || minor == kLtrChar ||
         minor == kForeColor || minor == kBackColor || minor == kHighlight ||
         minor == kCharShadePattern;
}

/// Sets the size (\fs, or \afs when `associated`) of `halfPoints`: the size of complex-script
/// text after \rtlch, of left-to-right text after \ltrch; before either, \fs gives the one and
/// \afs the other. No parameter is the default 12 points.
void SizeWord(GroupState& state, int halfPoints, bool associated) {
  const int points = halfPoints == rtf::kNoParam ? 12 : halfPoints / 2;
  const bool complex = state.sizeDirection == SizeDirection::kNone
                           ? associated
                           : state.sizeDirection == SizeDirection::kRightToLeft;
  (complex ? state.chr.complexSize : state.chr.fontSize) = points;
}

void CharWord(Engine& engine, int minor, int param);

/// Applies the size, colour and background words of style `number` and of the styles it is based
/// on (the base first), as if they stood where the style word stands.
void ApplyStyleCharacter(Engine& engine, int number, int depth = 0) {
  const rtf::StyleEntry* style = rtf::FindStyle(engine, number);
  if (!style || style->number != number || depth > 8) return;
  if (style->basedOn != 222 && style->basedOn != number)
    ApplyStyleCharacter(engine, style->basedOn, depth + 1);
  // The style's direction words choose among its own size words only.
  GroupState& state = engine.translate.cur;
  const SizeDirection direction = state.sizeDirection;
  state.sizeDirection = SizeDirection::kNone;
  for (const rtf::RtfToken& word : style->tokens)
    if (word.major == 12 && StyleCharWord(word.minor)) CharWord(engine, word.minor, word.param);
  state.sizeDirection = direction;
}

/// \plain: the character format's defaults.
void Plain(Engine& engine) {
  TranslateState& t = engine.translate;
  CharFormat& chr = t.cur.chr;
  chr.fontSize = 12;
  chr.complexSize = 12;
  t.cur.sizeDirection = SizeDirection::kNone;
  chr.extra = 0;
  chr.attributes = 0;
  chr.color = 0;
  chr.background = -1;
  chr.shiftOnly = false;
  chr.font = t.defaultFont;
  // The default font's character set comes back with it, so that text after \plain is not read
  // through the map of a symbol font selected before.
  SelectFontCharset(engine, chr.font);
}

void CharWord(Engine& engine, int minor, int param) {
  TranslateState& t = engine.translate;
  CharFormat& chr = t.cur.chr;
  using namespace rtf::chr;
  t.stateChanged = true;
  // On/off words: on without a parameter or with one other than 0.
  if (const uint32_t bit = AttributeOfWord(minor)) {
    if (param == 0)
      chr.attributes &= ~bit;
    else
      chr.attributes |= bit;
    return;
  }
  switch (minor) {
    case kPlain:
      Plain(engine);
      break;
    case kSubDown:
    case kSubScript:
    case kSuperUp:
    case kSuperScript: {
      // Raised and lowered text exclude each other; \up0 and \dn0 put the text back on the line.
      const bool sub = minor == kSubDown || minor == kSubScript;
      chr.attributes &= ~(kAttrSuperScript | kAttrSubScript);
      if (param != 0) chr.attributes |= sub ? kAttrSubScript : kAttrSuperScript;
      chr.shiftOnly = minor == kSubDown || minor == kSuperUp;
      break;
    }
    case kNoSuperSub:
      chr.attributes &= ~(kAttrSuperScript | kAttrSubScript);
      chr.shiftOnly = false;
      break;
    case kFontNum:
      if (param == rtf::kNoParam) break;
      // A number the font table does not define is the default font.
      chr.font = param >= 0 && rtf::FindFont(engine, param) ? param : t.defaultFont;
      SelectFontCharset(engine, chr.font);
      break;
    case kFontSize:
    case kAssocFontSize:
      SizeWord(t.cur, param, minor == kAssocFontSize);
      break;
    case kRtlChar:
    case kLtrChar:
      t.cur.sizeDirection =
          minor == kRtlChar ? SizeDirection::kRightToLeft : SizeDirection::kLeftToRight;
      break;
    case kNoUnderline:
      chr.attributes &= ~(kAttrUnderline | kAttrWUnderline | kAttrDUnderline | kAttrDbUnderline);
      break;
    case kForeColor:
      if (const rtf::ColorTableEntry* color = rtf::FindColor(engine, param))
        chr.color = color->value;
      break;
    case kCharStyleNum:
      if (param != rtf::kNoParam && rtf::FindStyle(engine, param)) {
        chr.charStyle = param;
        ApplyStyleCharacter(engine, param);
      }
      break;
    case kBackColor:
    case kCharShadePattern:
    case kHighlight:
      chr.background = TableColorRgb(engine, param);
      break;
    case kCharCharSet:
      rtf::SelectCharset(engine, param, chr.font);
      t.cur.codePage = DoubleByteCodePage(param);
      break;
    case kLanguage: {
      std::string value = std::to_string(static_cast<long>(param));
      // Word repeats \lang on every run; the setting is only stored when it changes.
      if (value != t.lastLanguage) {
        SetSetting(engine, "Language", value);
        t.lastLanguage = std::move(value);
      }
      break;
    }
    case kUnicodeSkip:
      // \ucN keeps its RTF meaning (fallback count) and is also the extra character value.
      chr.extra = param;
      if (param == rtf::kNoParam)
        t.cur.unicodeSkip = 1;
      else
        t.cur.unicodeSkip = param < 0 ? 0
                            : param > TranslateState::kMaxUnicodeSkip
                                ? TranslateState::kMaxUnicodeSkip
                                : param;
      break;
    default:
      break;
  }
}

}  // namespace

void CharAttr(Engine& engine) {
  const rtf::RtfToken& token = engine.reader.token;
  CharWord(engine, token.minor, token.param);
}

void ParAttr(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  const int param = token.param == rtf::kNoParam ? 0 : token.param;
  ParFormat& par = t.cur.par;
  using namespace rtf::par;
  t.stateChanged = true;
  switch (token.minor) {
    case kParDef:
      par.style = 0;
      par.inTable = false;
      par.sideBySide = false;
      par.borderDouble = false;
      par.firstIndent = par.leftIndent = par.rightIndent = 0;
      par.align = kAlignLeft;
      par.background = -1;
      par.list = par.listLevel = par.nestLevel = 0;
      t.cur.chr.charStyle = 0;
      break;
    case kListOverride:
      par.list = param;
      // A list paragraph is a list item even without number text: its first text asks the
      // translation file for its entry as held number text does.
      if (param > 0 && RoutesToBody(engine)) t.deferred.held = true;
      break;
    case kListLevel:
      par.listLevel = param < 0 ? 0 : param > 8 ? 8 : param;
      break;
    case kNestLevel:
      par.nestLevel = param;
      // Pass 2: a paragraph of a nested table's cell shows the cell's shading.
      if (param >= 2 && engine.driver.pass == 2 && par.background < 0 &&
          t.nestedRow < static_cast<int>(t.nestedRows.size()) &&
          t.nestedCell < static_cast<int>(t.nestedRows[t.nestedRow].size()))
        par.background = t.nestedRows[t.nestedRow][t.nestedCell];
      break;
    case kStyleNum:
      if (token.param != rtf::kNoParam && rtf::FindStyle(engine, token.param)) {
        par.style = token.param;
        ApplyStyleCharacter(engine, token.param);
      }
      break;
    case kInTable:
      par.inTable = true;
      break;
    case kSideBySide:
      par.sideBySide = true;
      break;
    case kQuadLeft:
      par.align = kAlignLeft;
      break;
    case kQuadRight:
      par.align = kAlignRight;
      break;
    case kQuadJust:
      par.align = kAlignJustify;
      break;
    case kQuadCenter:
      par.align = kAlignCenter;
      break;
    case kFirstIndent:
      par.firstIndent = param;
      break;
    case kLeftIndent:
      par.leftIndent = param;
      break;
    case kRightIndent:
      par.rightIndent = param;
      break;
    case kBorderDouble:
      par.borderDouble = true;
      break;
    case kBackColor:
      par.background = TableColorRgb(engine, token.param);
      break;
    case kBorderWidth:
      TableBorderWidth(engine, param);
      break;
    default:
      if (token.minor >= kBorderTop && token.minor <= kBorderBox) par.borderSide = token.minor;
      break;
  }
  ParagraphWordApplied(engine);
}

void DocAttr(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  const int param = token.param;
  if (param == rtf::kNoParam) return;
  using namespace rtf::doc;
  switch (token.minor) {
    case kFtnStart:
      t.footnoteNumber = param;
      break;
    case kPaperW:
      t.pageWidth = param;
      break;
    case kPaperH:
      t.pageHeight = param;
      break;
    case kMargL:
      t.marginLeft = param;
      break;
    case kMargR:
      t.marginRight = param;
      break;
    case kMargT:
      t.marginTop = param;
      break;
    case kMargB:
      t.marginBottom = param;
      break;
    case kAnsiCodePage: {
      // The document's code page chooses the character set of text in fonts that name none.
      int charset = CharsetOfCodePage(param);
      if (charset < 0) break;
      t.docCodePage = DoubleByteCodePage(charset);
      t.docCharset = t.docCodePage != 0 ? 0 : charset;
      rtf::SelectCharset(engine, t.docCharset, t.defaultFont);
      t.cur.codePage = t.docCodePage;
      t.stateChanged = true;
      break;
    }
    default:
      break;
  }
}

void SectAttr(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  using namespace rtf::sect;
  if (token.minor == kSectDef) {
    t.sectPageWidth = t.pageWidth;
    t.sectPageHeight = t.pageHeight;
    t.sectMarginLeft = t.marginLeft;
    t.sectMarginRight = t.marginRight;
    t.sectMarginTop = t.marginTop;
    t.sectMarginBottom = t.marginBottom;
    return;
  }
  if (token.param == rtf::kNoParam) return;
  switch (token.minor) {
    case kPgWSxn:
      t.sectPageWidth = token.param;
      break;
    case kPgHSxn:
      t.sectPageHeight = token.param;
      break;
    case kMargLSxn:
      t.sectMarginLeft = token.param;
      break;
    case kMargRSxn:
      t.sectMarginRight = token.param;
      break;
    case kMargTSxn:
      t.sectMarginTop = token.param;
      break;
    case kMargBSxn:
      t.sectMarginBottom = token.param;
      break;
    default:
      break;
  }
}

/// The colour of colour-table entry `number` as 0xRRGGBB; -1 for the "automatic" entry (no
/// components) and for numbers the table does not have.
int TableColorRgb(Engine& engine, int number) {
  if (number == rtf::kNoParam || number < 0) return -1;
  const rtf::ColorTableEntry* color = rtf::FindColor(engine, number);
  if (!color || color->number != number) return -1;
  if (color->red < 0 && color->green < 0 && color->blue < 0) return -1;
  auto part = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  return (part(color->red) << 16) | (part(color->green) << 8) | part(color->blue);
}
}  // namespace quillo::translate
