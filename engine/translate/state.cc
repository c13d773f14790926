// Lifecycle of the translation state (per conversion, per pass) and the computed settings that
// read it.
#include <cstdio>
#include <string>

#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "rtf/tables.h"
#include "structure/structure.h"
#include "translate/footnotes.h"
#include "translate/pictures.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Message reported once per conversion with the number of stray '}' beyond the first reports.
constexpr char kPopErrorCount[] = "MSG_STACK_POP_ERR_COUNT";
constexpr char kPopErrorCountText[] =
    "Input State Stack Popped too many times: $MsgParam1; more times not reported\n";

/// The generic CSS family of a font: from the font table's family word, else from hints in the
/// name, else serif (what the browser would pick anyway).
const char* GenericFamily(const rtf::FontEntry& font) {
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
  std::string lower;
  for (char c : font.name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const char* hint : {"mono", "courier", "consol", "typewriter", "fixed", "terminal"})
    if (lower.find(hint) != std::string::npos) return "monospace";
  for (const char* hint : {"sans", "arial", "helvetica", "verdana", "tahoma", "calibri", "gothic",
                           "segoe", "trebuchet", "lucida", "geneva", "univers", "futura"})
    if (lower.find(hint) != std::string::npos) return "sans-serif";
  return "serif";
}

/// The CSS font-family list of a font: its name in quotes (only letters, digits, blanks and
/// hyphens of it, so no document text can leave the string or the rule) and its generic family.
void FontFamilyCss(const rtf::FontEntry& font, std::string& out) {
  std::string name;
  for (char c : font.name) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == ' ' || c == '-' || c == '_';
    if (keep && name.size() < 64) name += c;
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  out.clear();
  if (!name.empty()) out += "\"" + name + "\", ";
  out += GenericFamily(font);
}

/// The document's body size in points: the size its Normal style sets, else RTF's 12.
int BodySize(Engine& engine) {
  const rtf::StyleEntry* normal = rtf::FindStyle(engine, 0);
  if (normal && normal->number == 0 && normal->type == rtf::kParagraphStyle)
    for (const rtf::RtfToken& word : normal->tokens)
      if (word.major == 12 && word.minor == 11 && word.param > 1 && word.param < 3276)
        return word.param / 2;
  return 12;
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
  fresh.run.reserve(1024);
  t = std::move(fresh);
  engine.expansion.paragraphText = nullptr;
  engine.expansion.paragraphMatches.clear();
  // Tables and pictures are read back by position: each pass counts them from the start.
  ResetTables(engine, false);
  ResetPictures(engine, false);
  ResetFootnotes(engine);
}

// ---- Computed settings
// -------------------------------------------------------------------------------

bool ComputedValue(Engine& engine, int builtinIndex, std::string& out) {
  TranslateState& t = engine.translate;
  const CharFormat& chr = t.cur.chr;
  const ParFormat& par = t.cur.par;
  const double twipToPixel = engine.settings.mirrors.twipToPixel;
  if (PictureValue(engine, builtinIndex, out)) return true;
  if (builtinIndex >= kSettingBold && builtinIndex <= kSettingSubScript) {
    const uint32_t bit = 1u << (builtinIndex - kSettingBold);
    out = (chr.attributes & bit) ? "1" : "0";
    return true;
  }
  auto info = [&](rtf::InfoKind kind) { out.assign(rtf::DocumentInfo(engine, kind)); };
  auto color = [&]() -> const ColorEntry* {
    const auto& colors = engine.translation.colors;
    return chr.color >= 0 && chr.color < static_cast<int>(colors.size()) ? &colors[chr.color]
                                                                         : nullptr;
  };
  switch (builtinIndex) {
    case kSettingPAlign:
      out = std::to_string(par.align);
      return true;
    case kSettingFirstIndent:
      out = std::to_string(static_cast<int>(par.firstIndent * twipToPixel));
      return true;
    case kSettingLeftIndent:
      out = std::to_string(static_cast<int>(par.leftIndent * twipToPixel));
      return true;
    case kSettingRightIndent:
      out = std::to_string(static_cast<int>(par.rightIndent * twipToPixel));
      return true;
    case kSettingRtfTitle:
      info(rtf::kInfoTitle);
      return true;
    case kSettingSubject:
      info(rtf::kInfoSubject);
      return true;
    case kSettingOperator:
      info(rtf::kInfoOperator);
      return true;
    case kSettingVersComments:
      info(rtf::kInfoVersComments);
      return true;
    case kSettingComments:
      info(rtf::kInfoComments);
      return true;
    case kSettingKeywords:
      info(rtf::kInfoKeywords);
      return true;
    case kSettingAuthor:
      info(rtf::kInfoAuthor);
      return true;
    case kSettingDocComments:
      info(rtf::kInfoDocComments);
      return true;
    case kSettingFont: {
      const rtf::FontEntry* font = rtf::FindFont(engine, chr.font);
      out = font ? font->name : std::string();
      return true;
    }
    case kSettingFontSize:
      out = std::to_string(static_cast<int>(chr.fontSize * engine.settings.mirrors.fontScale));
      return true;
    case kSettingPlain:
      out = chr.attributes == 0 ? "1" : "0";
      return true;
    case kSettingParStyle: {
      const rtf::StyleEntry* style = rtf::FindStyle(engine, par.style);
      out = style && !style->name.empty() ? style->name : std::string("Normal");
      return true;
    }
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
      if (!entry) {
        out.clear();
        return true;
      }
      HexColor(entry->red, entry->green, entry->blue, out);
      return true;
    }
    case kSettingBackRGB:
    case kSettingParBackRGB: {
      const int rgb = builtinIndex == kSettingBackRGB ? chr.background : par.background;
      if (rgb < 0)
        out.clear();
      else
        HexColor(rgb >> 16, rgb >> 8, rgb, out);
      return true;
    }
    case kSettingFontFamily:
    case kSettingBodyFontFamily: {
      const bool body = builtinIndex == kSettingBodyFontFamily;
      // The heads of pass 2 are written before its font table is read: they get pass 1's value.
      if (body && engine.driver.pass == 2) {
        out = t.bodyFontFamily;
        return true;
      }
      const rtf::FontEntry* font = rtf::FindFont(engine, body ? t.defaultFont : ShownFont(t));
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
      const long size = chr.fontSize < 1 ? 1 : chr.fontSize > 1638 ? 1638 : chr.fontSize;
      const long body = BodySize(engine);
      long percent = (size * 200 + body) / (2L * body);
      if (percent > 400) percent = 400;
      if (percent < 30) percent = 30;
      out = std::to_string(percent);
      return true;
    }
    case kSettingCharFmtIdx:
      out = std::to_string(CharFmtIdx(engine));
      return true;
    case kSettingParFmtIdx:
      out = std::to_string(ParFmtIdx(engine));
      return true;
    case kSettingCharFmts:
      out = t.charFormats.list;
      return true;
    case kSettingCharLookIdx:
      out = std::to_string(CharLookIdx(engine));
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
    case kSettingNumFiles:
      out = std::to_string(structure::NumFiles(engine));
      return true;
    case kSettingParNumber:
      out = std::to_string(structure::ParNumber(engine));
      return true;
    case kSettingNumIndexEntries:
      out = std::to_string(structure::NumIndexEntries(engine));
      return true;
    default:
      return false;
  }
}

void AssignMatchName(Engine& engine, std::string_view value) {
  if (value.empty()) return;
  TranslateState& t = engine.translate;
  const auto& pmatch = engine.translation.pmatch;
  for (int i = 0; i < static_cast<int>(pmatch.size()); ++i) {
    if (pmatch[i].styleName == value) {
      t.forcedPMatch = i;
      t.forcedChannel = t.cur.channel;
      t.currentPMatch = i;
      t.stateChanged = true;
      structure::MatchChanged(engine, i);  // the record takes the entry's heading level
      return;
    }
  }
  ReportMessage(engine, "MSG_INVALID_MATCHNAME", {value});
}

}  // namespace quillo::translate
