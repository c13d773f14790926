// Special text states, cross-reference resolution, RTF fields, bookmarks and hyperlink anchors.
#include "translate/fields.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "rtf/charmaps.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "rtf/tables.h"
#include "translate/footnotes.h"
#include "translate/links.h"
#include "translate/pictures.h"
#include "translate/tags.h"
#include "translate/text.h"
#include "translate/translate.h"
#include "translate/upcalls.h"

namespace quillo::translate {

namespace {

const PTagEntry* PTagOf(const Engine& engine, int tag) {
  const auto& ptags = engine.translation.ptag;
  return tag >= 0 && tag < static_cast<int>(ptags.size()) ? &ptags[tag] : nullptr;
}

/// How the output map writes the double quote ("&quot;" for html), "\"" when it has no text.
std::string_view QuoteText(Engine& engine) {
  const char* text =
      rtf::OutputText(engine, rtf::StandardCharIndex(engine, "rtfSC_quotedbl", false));
  return text && *text ? std::string_view(text) : std::string_view("\"");
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void SetDocumentValue(Engine& engine, std::string_view name, std::string_view value) {
  SetLiteralSetting(engine, name, value);
}

// ---- Special text states
// --------------------------------------------------------------------------

void ChangeSpecialState(Engine& engine, OutputContext& context, int newState) {
  TranslateState& t = engine.translate;
  const int previous = context.specialState;
  if (previous == newState) return;
  context.specialState = newState;
  const bool pass2 = engine.driver.pass == 2 && engine.driver.outputOpen;
  OutputContext& main = engine.driver.main;
  auto restoreWrap = [&] {
    if (const PTagEntry* ptag = PTagOf(engine, context.paragraphTag))
      context.wrap = ptag->values[3];
  };
  switch (previous) {
    case kTagCapture: {
      std::string captured = std::move(t.captureText);
      t.captureText.clear();
      if (!captured.empty()) {
        SetDocumentValue(engine, "CaptureText", captured);
        const CharFormat saved = t.cur.chr;
        t.cur.chr = (&context == &engine.driver.footnotes ? t.channels[kFootnoteChannel]
                                                          : CurrentChannel(engine))
                        .captureFormat;
        if (pass2) {
          ReleaseHeldText(engine);
          ExpandInto(engine, main, "$_Capture;");
        } else {
          StrExp(engine, "$_Capture;");
        }
        t.cur.chr = saved;
      }
      restoreWrap();
      break;
    }
    case kTagLink: {
      std::string link = std::move(t.linkText);
      t.linkText.clear();
      if (!link.empty() && pass2) {
        Resolve(engine, link);
        ReleaseHeldText(engine);
        ExpandInto(engine, main, "$_xref_;");
      }
      break;
    }
    case kTagHRef: {
      std::string href = std::move(t.hrefText);
      t.hrefText.clear();
      if (newState == kTagHot) {
        if (!href.empty()) {
          std::string file = href[0] == '#' ? FileOfAnchor(engine, href) : std::string();
          if (!CheckLink(engine, href)) href.clear();
          SetDocumentValue(engine, "_LINK_", file + href);
        } else {
          ReportMessage(engine, "MSG_HREF_START");
        }
      } else {
        ReportMessage(engine, "MSG_HREF_END");
      }
      break;
    }
    case kTagHot: {
      std::string hot = std::move(t.hotText);
      t.hotText.clear();
      if (!hot.empty() && pass2) {
        SetDocumentValue(engine, "_HOTTEXT_", hot);
        ReleaseHeldText(engine);
        ExpandInto(engine, context, "$_Ext_xref_;");
      }
      break;
    }
    case kTagName: {
      std::string name = std::move(t.nameText);
      t.nameText.clear();
      // Pass 1 records the anchor (as a bookmark), so that AnchorFile finds its file; pass 2
      // steps over the same record in the same order and writes the anchor.
      if (!name.empty() && engine.driver.pass != 2) TellBookmark(engine, name);
      if (!name.empty() && pass2) {
        TellBookmark(engine, name);
        SetDocumentValue(engine, "_LINK_", name);
        ReleaseHeldText(engine);
        ExpandInto(engine, main, "$_anchor_entry_;");
      }
      restoreWrap();
      break;
    }
    case kTagFootNote:
      LeaveFootnoteState(engine, context);
      break;
    case kTagLiteral:
      restoreWrap();
      break;
    default:
      break;
  }
}

// ---- Cross-references
// ---------------------------------------------------------------------------------

void Resolve(Engine& engine, std::string_view target) {
  // Headings first: a heading whose text begins with the target, also without its number.
  if (HeadingResolves(engine, target)) return;
  constexpr std::size_t kMaxCompact = 511;
  std::string compact;
  for (char c : target) {
    if (c == ' ' || c == '\n' || c == '\t') continue;
    if (compact.size() >= kMaxCompact) break;
    compact.push_back(c);
  }
  if (target.find(':') != std::string_view::npos) {
    SetDocumentValue(engine, "_LINK_", CheckLink(engine, compact) ? compact : std::string());
    SetDocumentValue(engine, "_HOTTEXT_", target);
  } else if (!target.empty() && target[0] == '#') {
    SetDocumentValue(engine, "_LINK_", FileOfAnchor(engine, compact) + compact);
    SetDocumentValue(engine, "_HOTTEXT_", std::string_view(compact).substr(1));
  } else if (target.find('@') != std::string_view::npos) {
    SetDocumentValue(engine, "_LINK_", "mailto:" + compact);
    SetDocumentValue(engine, "_HOTTEXT_", target);
  } else {
    SetDocumentValue(engine, "_LINK_", "");
    SetDocumentValue(engine, "_HOTTEXT_", target);
    ReportMessage(engine, "MSG_RESOLVE_HEAD", {target});
  }
}

// ---- Fields
// --------------------------------------------------------------------------------------------

void FieldStart(Engine& engine) {
  TranslateState& t = engine.translate;
  FieldRecord field;
  field.depth = t.depth;
  t.fields.push_back(std::move(field));
}

bool FieldResultSkipped(const Engine& engine) {
  const TranslateState& t = engine.translate;
  return !t.fields.empty() && t.fields.back().skipResult;
}

namespace {

/// INCLUDEPICTURE: the picture the field links to (its name is the first word that is no switch)
/// stands in for the field's result.
void IncludePictureField(Engine& engine, const std::vector<std::string>& words,
                         std::string_view quote) {
  TranslateState& t = engine.translate;
  std::string name;
  for (std::size_t i = 1; i < words.size() && name.empty(); ++i) {
    if (words[i] == "\\d") continue;
    if (words[i] == "\\c") {
      ++i;
      continue;
    }
    name = words[i];
  }
  if (name.empty()) return;
  // The name goes into attributes: a quote in it is written as the output map writes one.
  std::string escaped;
  for (char c : name) {
    if (c == '"')
      escaped.append(quote);
    else
      escaped.push_back(c);
  }
  name = std::move(escaped);
  if (!CheckLink(engine, name)) return;
  // A linked picture: a picture in the field's result may fill its record.
  LinkedPicture(engine, name);
  SetDocumentValue(engine, "_LinkFile", name);
  SetSetting(engine, "_ImageWidth", "");
  SetSetting(engine, "_ImageHeight", "");
  OutputContext* context = CurrentOutput(engine);
  const bool inlineImage =
      engine.settings.mirrors.inlineGraphics != 0 || (context && context->specialState == kTagHot);
  FieldRecord& field = t.fields.back();
  field.picture = StrExp(engine, inlineImage ? "$LinkedInlineIMG;" : "$LinkedIMG;");
  field.hasPicture = true;
}

/// SYMBOL: the character of the given code in the given font (\f) and size (\s) is written in
/// place of the field's result.
void SymbolField(Engine& engine, const std::vector<std::string>& words) {
  TranslateState& t = engine.translate;
  if (words.size() < 2) return;
  long code = std::strtol(words[1].c_str(), nullptr, 0);
  // Symbol fonts address their glyphs through the private-use block F000-F0FF as well.
  if (code >= 0xF000 && code <= 0xF0FF) code &= 0xFF;
  const GroupState saved = t.cur;
  const int savedCharset = engine.charMaps.currentCharset;
  for (std::size_t i = 2; i + 1 < words.size(); i += 2) {
    if (words[i] == "\\f") {
      rtf::FontEntry& font = rtf::FindOrAddFontByName(engine, words[i + 1]);
      t.cur.chr.font = font.number;
      int charset = font.charset;
      if (charset == 0 || charset == 1) charset = t.docCharset;
      rtf::SelectCharset(engine, charset, font.number);
    } else if (words[i] == "\\s") {
      t.cur.chr.fontSize = t.cur.chr.complexSize = std::atoi(words[i + 1].c_str());
    } else {
      break;
    }
  }
  t.cur.destination = rtf::dest::kFieldResult;
  t.cur.codePage = 0;
  t.stateChanged = true;
  if (code > 0 && code < 256) {
    PutText(engine, OutputChar(engine, rtf::MapCharToStandard(engine, static_cast<int>(code)),
                               static_cast<int>(code)));
  } else if (code >= 256 && code <= 0x10FFFF) {
    PutText(engine, UnicodeOutput(engine, static_cast<int>(code), t.charScratch));
  }
  ReleaseHeldText(engine);
  t.cur = saved;
  engine.charMaps.currentCharset = savedCharset;
  t.stateChanged = true;
  t.fields.back().skipResult = true;
}

}  // namespace

void FieldInstructionEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.fields.empty()) return;
  std::string instruction = std::move(t.fields.back().instruction);
  t.fields.back().instruction.clear();
  if (instruction.find_first_not_of(" \t\n") == std::string::npos) return;
  const int pass = engine.driver.pass;
  // The translation file gets the instruction with its quotes only where they delimit words,
  // and a HYPERLINK without an address whose scheme is not allowed.
  const std::string_view quote = QuoteText(engine);
  std::vector<FieldWord> fieldWords;
  SetDocumentValue(engine, "FieldInst",
                   SafeFieldInstruction(engine, instruction, quote, fieldWords));
  std::vector<std::string> words;
  for (FieldWord& word : fieldWords) words.push_back(std::move(word.text));
  const std::string& kind = words.empty() ? std::string() : words[0];

  if (EqualsIgnoringCase(kind, "INCLUDEPICTURE")) {
    IncludePictureField(engine, words, quote);
    return;
  }
  if (EqualsIgnoringCase(kind, "SYMBOL")) {
    SymbolField(engine, words);
    return;
  }

  std::string result = StrExp(engine, "$ProcessField(FieldInst)");
  if (!result.empty() && result[0] == '1') t.fields.back().skipResult = true;
  if (pass == 2 && result.size() > 1) {
    if (OutputContext* context = PrepareForOutput(engine)) {
      // The replacement text is markup of its own (the start of a link, for one): the text tags
      // open before it close first, so that the tags of the field's result nest inside it; the
      // text after it opens them again as needed.
      PopTags(engine, kTagText, *context, kPopRunIfOpen);
      PutWrap(engine, std::string_view(result).substr(1), *context, 0);
    }
  }
}

void FieldResultEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.fields.empty()) return;
  FieldRecord& field = t.fields.back();
  if (field.hasPicture) {
    std::string picture = std::move(field.picture);
    field.picture.clear();
    field.hasPicture = false;
    // A picture of the result stood in for the link (and wrote its reference): not twice.
    const bool replaced = LinkedPictureEnd(engine);
    if (engine.driver.pass == 2 && !replaced) PutText(engine, picture);
    return;
  }
  std::string result = StrExp(engine, "$EndResult()");
  if (engine.driver.pass == 2 && !result.empty()) {
    if (OutputContext* context = PrepareForOutput(engine)) ExpandInto(engine, *context, result);
  }
}

void FieldEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.fields.empty()) return;
  FieldRecord& field = t.fields.back();
  // A picture replacement whose field had no result group is still written.
  if (field.hasPicture) {
    std::string picture = std::move(field.picture);
    t.fields.pop_back();
    const bool replaced = LinkedPictureEnd(engine);
    if (engine.driver.pass == 2 && !replaced) BodyText(engine, picture);
    return;
  }
  t.fields.pop_back();
}

// ---- Bookmarks and hyperlink anchors
// ----------------------------------------------------------------------

void BookmarkEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  std::string name = std::move(t.bookmarkName);
  t.bookmarkName.clear();
  if (engine.driver.pass != 2) {
    TellBookmark(engine, name);  // its file is known after pass 1
    return;
  }
  ReleaseHeldText(engine);
  // The anchor cursor advances; a bookmark that begins the next file changes files first.
  TellBookmark(engine, name);
  if (name.empty()) name = "Quilloxx" + std::to_string(t.unnamedAnchors++);
  if (OutputContext* context = PrepareForOutput(engine)) {
    SetDocumentValue(engine, "_LINK_", name);
    ExpandInto(engine, *context, "$_anchor_entry_;");
  }
}

void OpenHyperlinkAnchor(Engine& engine) {
  TranslateState& t = engine.translate;
  if (!t.objectFlag || t.hyperlinkName.empty() || t.cur.par.inTable) return;
  OutputContext* context = CurrentOutput(engine);
  if (!context) return;
  if (!CheckLink(engine, t.hyperlinkName)) {
    t.hyperlinkName.clear();  // the link text stays, without its link
    return;
  }
  SetDocumentValue(engine, "_LINK_", t.hyperlinkName);
  PushTag(engine, *context, kTagAnchor, kEndExpandedWhenPopped, 0, "$_anchor_start_;",
          "$_anchor_end_;");
  t.hyperlinkName.clear();
  ++t.anchorsOpen;
}

void CloseHyperlinkAnchor(Engine& engine) {
  TranslateState& t = engine.translate;
  if (!t.objectFlag || t.anchorsOpen == 0) return;
  OutputContext* context = CurrentOutput(engine);
  if (!context) return;
  --t.anchorsOpen;
  PopTags(engine, kTagAnchor, *context, kPopEntry);
}

}  // namespace quillo::translate
