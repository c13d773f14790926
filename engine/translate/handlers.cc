// The token handlers of both passes: groups and their scoped state, control words, text
// characters (with Unicode escapes and double-byte code pages) and unknown words.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "rtf/charmaps.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "rtf/tables.h"
#include "translate/charsets.h"
#include "translate/fields.h"
#include "translate/footnotes.h"
#include "translate/lists.h"
#include "translate/paragraph_marks.h"
#include "translate/pictures.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/text.h"
#include "translate/translate.h"
#include "translate/upcalls.h"
#include "translate/words.h"

namespace quillo::translate {

namespace {

// ---- Destinations -------------------------------------------------------------------------------

/// What a destination word does when it is read.
enum class DestAction : unsigned char {
  kSkip,  ///< skip the group (every minor not listed below)
  kReadOn,
  kFontTable,
  kColorTable,
  kStyleSheet,
  kInfo,
  kPicture,
  kObject,
  kFootnote,
  kField,
  kFieldInstruction,
  kFieldResult,
  kShapePicture,
  kNonShapePicture,
  kCollect,
};

/// Destinations 132 and 133 collect their text into buffers of their own.
constexpr int kFirstCollection = 132;

constexpr auto kDestActions = [] {
  std::array<DestAction, rtf::kMaxDestination> table{};
  for (auto& action : table) action = DestAction::kSkip;
  for (int minor : {1,  2,  11, 12, 13, 14, 15, 16, 18, 19, 38,  42,  43, 52,
                    53, 55, 59, 61, 69, 70, 71, 72, 73, 86, 118, 125, 127})
    table[minor] = DestAction::kReadOn;
  table[rtf::dest::kFontTbl] = DestAction::kFontTable;
  table[rtf::dest::kColorTbl] = DestAction::kColorTable;
  table[rtf::dest::kStyleSheet] = DestAction::kStyleSheet;
  table[rtf::dest::kInfo] = DestAction::kInfo;
  table[rtf::dest::kPict] = DestAction::kPicture;
  table[rtf::dest::kObject] = DestAction::kObject;
  table[rtf::dest::kFootnote] = DestAction::kFootnote;
  table[rtf::dest::kField] = DestAction::kField;
  table[rtf::dest::kFieldInst] = DestAction::kFieldInstruction;
  table[rtf::dest::kFieldResult] = DestAction::kFieldResult;
  table[rtf::dest::kShapePict] = DestAction::kShapePicture;
  table[rtf::dest::kNonShapePict] = DestAction::kNonShapePicture;
  table[kFirstCollection] = DestAction::kCollect;
  table[kFirstCollection + 1] = DestAction::kCollect;
  return table;
}();

/// Minors that the shipped control-word table gives beyond its named constants.
constexpr int kNestedCell = 59;   ///< major 6: \nestcell
constexpr int kNestedRow = 60;    ///< major 6: \nestrow
constexpr int kUnicodeChar = 61;  ///< major 6: \uN

/// Writes gathered text before a token that is not text is acted on.
inline void BeforeToken(Engine& engine) {
  if (!engine.translate.run.empty()) ReleaseHeldText(engine);
}

// ---- Unicode ------------------------------------------------------------------------------------

/// Writes code point `codePoint` as text.
void EmitCodePoint(Engine& engine, int codePoint) {
  if (codePoint <= 0) return;
  PutText(engine, UnicodeOutput(engine, codePoint, engine.translate.charScratch));
}

/// A first half of a surrogate pair that was not followed by its second half.
void FlushSurrogate(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.highSurrogate == 0) return;
  t.highSurrogate = 0;
  EmitCodePoint(engine, 0xFFFD);
}

/// A lead byte that was not followed by its trail byte.
void FlushLeadByte(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.leadByte < 0) return;
  t.leadByte = -1;
  EmitCodePoint(engine, 0xFFFD);
}

void UnicodeChar(Engine& engine, int param) {
  TranslateState& t = engine.translate;
  if (param == rtf::kNoParam) return;
  int code = param < 0 ? param + 65536 : param;
  if (code < 0 || code > 0x10FFFF) code = 0xFFFD;
  if (code >= 0xD800 && code <= 0xDBFF) {
    FlushSurrogate(engine);
    t.highSurrogate = code;
  } else if (code >= 0xDC00 && code <= 0xDFFF) {
    if (t.highSurrogate != 0) {
      int combined = 0x10000 + ((t.highSurrogate - 0xD800) << 10) + (code - 0xDC00);
      t.highSurrogate = 0;
      EmitCodePoint(engine, combined);
    } else {
      EmitCodePoint(engine, 0xFFFD);
    }
  } else {
    FlushSurrogate(engine);
    EmitCodePoint(engine, code);
  }
  t.unicodePending = t.cur.unicodeSkip;
}

// ---- Nested tables ------------------------------------------------------------------------------

/// At the end of a paragraph of a nested table's cell, pass 1 keeps its format: its shading
/// comes with the row definition, after the text.
void NestedParagraphEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  if (engine.driver.pass == 2 || t.cur.par.nestLevel < 2 || t.nestedParagraphs.size() >= 1024)
    return;
  t.nestedParagraphs.emplace_back(t.nestedCell, t.cur.par);
}

/// \nestcell and \nestrow: the next cell, or the next row. At a row's end pass 1 keeps the
/// shading of its cells and registers the formats its shaded paragraphs take in pass 2, so that
/// their rules are on the page.
void NestedCellEnd(Engine& engine, bool rowEnd) {
  TranslateState& t = engine.translate;
  if (!rowEnd) {
    ++t.nestedCell;
    return;
  }
  if (engine.driver.pass != 2) {
    const ParFormat saved = t.cur.par;
    for (const auto& [cell, format] : t.nestedParagraphs) {
      if (cell >= static_cast<int>(t.nestedShading.size()) || t.nestedShading[cell] < 0 ||
          format.background >= 0)
        continue;
      t.cur.par = format;
      t.cur.par.background = t.nestedShading[cell];
      ParFmtIdx(engine);
    }
    t.cur.par = saved;
    if (t.nestedRows.size() < 100000) t.nestedRows.push_back(t.nestedShading);
    t.nestedParagraphs.clear();
    t.nestedShading.clear();
  }
  t.nestedCell = 0;
  ++t.nestedRow;
}

// ---- Paragraph end ------------------------------------------------------------------------------

/// Pass 2 re-evaluates the format when a paragraph mark, tab or line break of the body is
/// written (PutSpecial), and that moves the table state machine; pass 1 moves it the same way, so
/// that both passes meet the same tables, rows and cells.
void MirrorSpecialFormat(Engine& engine) {
  if (engine.driver.pass != 2 && engine.translate.stateChanged && RoutesToBody(engine))
    TableFormatChange(engine, false);
}

/// A paragraph mark, or (`cellEnd`) the end of a table cell's last paragraph, which the cell's
/// markup closes instead of the paragraph mark.
void ParagraphEnd(Engine& engine, bool cellEnd = false) {
  TranslateState& t = engine.translate;
  ReleaseHeldText(engine);
  if (!cellEnd) MirrorSpecialFormat(engine);
  // Outside a table the state machine returns to state 0 (side-by-side paragraphs become cells).
  if (!cellEnd) TableParagraphEnd(engine);
  // The heading hierarchy ends the paragraph's record and keeps or writes "$EndPar;".
  TellParagraphEnd(engine);
  if (!cellEnd || engine.driver.pass != 2) RouteSpecial(engine, rtf::special::kPar);
  ParagraphMarkReached(engine);
  t.paragraphOpen = false;
  // A footnote's paragraph ends inside the paragraph of its mark, whose entry stays.
  if (t.cur.channel == t.forcedChannel) t.forcedPMatch = -1;
  t.stateChanged = true;
}

// ---- Control words ------------------------------------------------------------------------------

void SkipGroupAndPop(Engine& engine) {
  rtf::SkipGroup(engine);
  PopGroupState(engine);
}

/// Destinations of the list table and the list override table.
constexpr int kListTableDest = 75, kListOverrideTableDest = 76;

void Destination(Engine& engine) {
  TranslateState& t = engine.translate;
  const int minor = engine.reader.token.minor;
  const int pass = engine.driver.pass;
  t.cur.destination = minor;
  t.ignorable = false;
  t.stateChanged = true;
  if (minor == kListTableDest || minor == kListOverrideTableDest) {
    ReadListTable(engine, minor == kListOverrideTableDest);
    return;
  }
  if (minor < 0 || minor >= rtf::kMaxDestination || minor >= rtf::dest::kFirstSkipped) {
    SkipGroupAndPop(engine);
    return;
  }
  switch (kDestActions[minor]) {
    case DestAction::kSkip:
      SkipGroupAndPop(engine);
      return;
    case DestAction::kReadOn:
      break;
    case DestAction::kFontTable:
      rtf::ReadFontTbl(engine);
      return;
    case DestAction::kColorTable:
      rtf::ReadColorTbl(engine);
      return;
    case DestAction::kStyleSheet:
      rtf::ReadStyleSheet(engine);
      return;
    case DestAction::kInfo:
      if (pass == 2) {
        SkipGroupAndPop(engine);
        return;
      }
      break;
    case DestAction::kPicture:
      t.cur.par.borderSide = minor;
      t.pictureInProgress = true;
      // The picture words follow; the data reader takes the group's text.
      PictureStart(engine);
      break;
    case DestAction::kObject:
      t.objectFlag = false;
      break;
    case DestAction::kFootnote:
      // The footnote's text goes to the footnote output, outside any table.
      FootnoteStart(engine);
      break;
    case DestAction::kField:
      FieldStart(engine);
      break;
    case DestAction::kFieldInstruction:
      if (t.fields.empty()) FieldStart(engine);  // an instruction without its \field group
      t.fields.back().instruction.clear();
      break;
    case DestAction::kFieldResult:
      if (FieldResultSkipped(engine)) {
        SkipGroupAndPop(engine);
        return;
      }
      break;
    case DestAction::kShapePicture:
      t.pictureInProgress = false;
      break;
    case DestAction::kNonShapePicture:
      if (t.pictureInProgress) {
        SkipGroupAndPop(engine);
        return;
      }
      break;
    case DestAction::kCollect:
      t.collection[minor - kFirstCollection].clear();
      break;
  }
  if (pass == 2 && t.cur.destination == rtf::dest::kResult) OpenHyperlinkAnchor(engine);
}

/// Special slot of the character words (emdash ... nonbreaking hyphen), -1 for other words.
int SpecialSlotOf(int minor) {
  using namespace rtf::special;
  switch (minor) {
    case kEmDash:
      return rtf::kSpecialEmDash;
    case kEnDash:
      return rtf::kSpecialEnDash;
    case kBullet:
      return rtf::kSpecialBullet;
    case kLQuote:
      return rtf::kSpecialQuoteLeft;
    case kRQuote:
      return rtf::kSpecialQuoteRight;
    case kLDblQuote:
      return rtf::kSpecialQuoteDoubleLeft;
    case kRDblQuote:
      return rtf::kSpecialQuoteDoubleRight;
    case kNoBrkSpace:
      return rtf::kSpecialNoBreakSpace;
    case kNoBrkHyphen:
      return rtf::kSpecialNoBreakHyphen;
    default:
      return -1;
  }
}

void SpecialChar(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  using namespace rtf::special;
  const int slot = SpecialSlotOf(token.minor);
  if (t.unicodePending > 0) {
    // A character word is one fallback character of a \uN; any other word ends the fallback.
    if (slot >= 0) {
      --t.unicodePending;
      return;
    }
    t.unicodePending = 0;
  }
  if (slot >= 0) {
    PutText(engine, OutputChar(engine, rtf::MapSpecialChar(engine, slot), -1 - slot));
    return;
  }
  switch (token.minor) {
    case kChftn: {
      char number[16];
      std::snprintf(number, sizeof number, "%d", t.footnoteNumber);
      FootnoteMark(engine, number);
      if (t.cur.destination == rtf::dest::kFootnote) ++t.footnoteNumber;
      return;
    }
    case kCell:
      ReleaseHeldText(engine);
      TableState(engine, 4);
      ParagraphEnd(engine, true);
      TableCellEnd(engine);
      return;
    case kRow:
      ReleaseHeldText(engine);
      TableRowEnd(engine);
      return;
    case kNestedCell:
    case kNestedRow:
      // A nested table is kept as paragraphs of the enclosing cell, in document order.
      NestedParagraphEnd(engine);
      ParagraphEnd(engine);
      NestedCellEnd(engine, token.minor == kNestedRow);
      return;
    case kPar:
      NestedParagraphEnd(engine);
      ParagraphEnd(engine);
      return;
    case kSect:
    case kPage:
      if (t.paragraphOpen) ParagraphEnd(engine);
      if (OutputContext* context = CurrentOutput(engine)) {
        ReleaseHeldText(engine);
        ExpandInto(engine, *context, token.minor == kSect ? "$SectionMark;" : "$PageMark;");
      }
      return;
    case kLine:
      MirrorSpecialFormat(engine);
      RouteSpecial(engine, kLine);
      return;
    case kTab:
      MirrorSpecialFormat(engine);
      RouteSpecial(engine, kTab);
      return;
    case kOptDest:
      t.ignorable = true;
      return;
    case kOptHyphen: {
      // A hyphen shown only where the line breaks. It is the standard character "softhyphen",
      // written as the output map says (html: "&shy;"); a map without it writes nothing.
      const int index = rtf::StandardCharIndex(engine, "rtfSC_softhyphen", false);
      const char* text = rtf::OutputText(engine, index);
      if (text && *text) PutText(engine, text);
      return;
    }
    case kUnicodeChar:
      UnicodeChar(engine, token.param);
      return;
    default:
      return;
  }
}
// ---- Class callbacks ----------------------------------------------------------------------------

void ControlHandler(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  BeforeToken(engine);
  // Any word but a character word ends the fallback text of a \uN.
  if (token.major != rtf::kMajorSpecialChar) t.unicodePending = 0;
  if (t.leadByte >= 0) FlushLeadByte(engine);
  if (t.highSurrogate != 0 &&
      !(token.major == rtf::kMajorSpecialChar && token.minor == kUnicodeChar))
    FlushSurrogate(engine);
  switch (token.major) {
    case rtf::kMajorVersion:
      if (t.depth == 1) t.rtfHeaderSeen = true;
      break;
    case rtf::kMajorDefFont:
      if (token.param >= 0) t.defaultFont = token.param;
      break;
    case rtf::kMajorCharSet:
      t.docCharset = token.minor;
      t.docCodePage = 0;
      t.cur.codePage = 0;
      rtf::SelectCharset(engine, token.minor, t.defaultFont);
      t.stateChanged = true;
      break;
    case rtf::kMajorDestination:
      Destination(engine);
      break;
    case rtf::kMajorSpecialChar:
      SpecialChar(engine);
      break;
    case rtf::kMajorDocAttr:
      DocAttr(engine);
      break;
    case rtf::kMajorSectAttr:
      SectAttr(engine);
      break;
    case rtf::kMajorTblAttr:
      TableWord(engine);
      break;
    case rtf::kMajorParAttr:
      ParAttr(engine);
      break;
    case rtf::kMajorCharAttr:
      CharAttr(engine);
      break;
    case rtf::kMajorPictAttr:
      PictureWord(engine);
      break;
    case rtf::kMajorObjAttr:
      if (token.minor == rtf::obj::kObjLinkSelf) t.objectFlag = true;
      break;
    default:
      break;
  }
}

void TextHandler(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  if (t.cur.destination == rtf::dest::kPict) {
    PictureText(engine);  // the picture's data begins
    return;
  }
  if (t.unicodePending > 0) {
    --t.unicodePending;  // a fallback character of the last \uN
    return;
  }
  if (t.highSurrogate != 0) FlushSurrogate(engine);
  const int byte = token.major;
  if (t.cur.codePage != 0) {
    if (t.leadByte >= 0) {
      const unsigned char pair[2] = {static_cast<unsigned char>(t.leadByte),
                                     static_cast<unsigned char>(byte)};
      t.leadByte = -1;
      int code = ConverterFor(engine, t.cur.codePage).Decode(pair, 2);
      EmitCodePoint(engine, code < 0 ? 0xFFFD : code);
      return;
    }
    if (byte >= 0x80) {
      if (IsLeadByte(t.cur.codePage, byte)) {
        t.leadByte = byte;
        return;
      }
      const unsigned char single = static_cast<unsigned char>(byte);
      int code = ConverterFor(engine, t.cur.codePage).Decode(&single, 1);
      EmitCodePoint(engine, code < 0 ? 0xFFFD : code);
      return;
    }
  }
  PutText(engine, OutputChar(engine, token.minor, byte));
  if (byte < 0x80) ContinuePlainText(engine);
}

void GroupHandler(Engine& engine) {
  TranslateState& t = engine.translate;
  BeforeToken(engine);
  t.unicodePending = 0;
  if (t.leadByte >= 0) FlushLeadByte(engine);
  FlushSurrogate(engine);
  t.stateChanged = true;
  t.ignorable = false;
  if (engine.reader.token.major == 0) {
    PushGroupState(engine);
    return;
  }
  if (t.depth == 1 && !t.stack.empty() && t.rtfHeaderSeen) {
    // The document's closing brace: finish the open paragraph and read nothing after it. A
    // fragment without \rtf may hold several top-level groups; all of them are read.
    if (t.paragraphOpen) ParagraphEnd(engine);
    if (FileEntry* input = engine.reader.input) FileSeek(input, 0, 2);
    engine.reader.pushedChar = -1;
    engine.reader.binarySkip = 0;
  }
  PopGroupState(engine);
}

void UnknownHandler(Engine& engine) {
  TranslateState& t = engine.translate;
  BeforeToken(engine);
  t.unicodePending = 0;
  if (t.ignorable) {
    t.ignorable = false;
    SkipGroupAndPop(engine);
    return;
  }
  if (engine.settings.mirrors.debug & rtf::kDebugTokens) {
    const rtf::ReaderState& reader = engine.reader;
    PrintEscaped(engine, "Unknown symbol \"%s\" near line %ld, position %d.\n",
                 reader.token.text.c_str(), reader.lineNumber, reader.linePosition);
  }
}

/// Actions run when the group of a destination closes and the enclosing group has another one.
void LeaveDestination(Engine& engine, int left) {
  TranslateState& t = engine.translate;
  const int pass = engine.driver.pass;
  switch (left) {
    case rtf::dest::kFontTbl:
      rtf::EndFontTable(engine);
      break;
    case rtf::dest::kColorTbl:
      rtf::EndColorTable(engine);
      break;
    case rtf::dest::kStyleSheet:
      rtf::EndStyleSheet(engine);
      break;
    case rtf::dest::kField:
      FieldEnd(engine);
      break;
    case rtf::dest::kFieldInst:
      FieldInstructionEnd(engine);
      break;
    case rtf::dest::kFieldResult:
      FieldResultEnd(engine);
      break;
    case rtf::dest::kBookmarkStart:
      BookmarkEnd(engine);
      break;
    case rtf::dest::kResult:
      if (pass == 2) CloseHyperlinkAnchor(engine);
      break;
    case rtf::dest::kIndexEntry:
    case rtf::dest::kTocEntry:
    case rtf::dest::kTocEntryN:
      // An index entry (\xe) or a contents entry (\tc, \tcn), which the index lists too.
      TellIndexGroupEnd(engine, t.indexText, t.indexPage);
      t.indexText.clear();
      t.indexPage.clear();
      break;
    case rtf::dest::kFootnote:
      FootnoteEnd(engine);
      break;
    default:
      break;
  }
}

}  // namespace
// ---- Group state --------------------------------------------------------------------------------

void PushGroupState(Engine& engine) {
  TranslateState& t = engine.translate;
  t.cur.charset = engine.charMaps.currentCharset;
  t.stack.push_back(t.cur);
  ++t.depth;
  engine.reader.groupDepth = t.depth;
}

void PopGroupState(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.stack.empty()) {
    // Counted in pass 1 only: pass 2 reads the same document and would repeat each report.
    if (engine.driver.pass == 1 && ++t.popErrors <= TranslateState::kPopErrorReports)
      ReportMessage(engine, "MSG_STACK_POP_ERR");
    t.depth = 0;
    engine.reader.groupDepth = 0;
    return;
  }
  const int left = t.cur.destination;
  if (left >= 0 && left != t.stack.back().destination) LeaveDestination(engine, left);
  if (t.stack.empty()) return;
  t.cur = std::move(t.stack.back());
  t.stack.pop_back();
  engine.charMaps.currentCharset = t.cur.charset;
  --t.depth;
  engine.reader.groupDepth = t.depth;
  t.stateChanged = true;
}

// ---- Text ---------------------------------------------------------------------------------------

std::string_view OutputChar(Engine& engine, int index, int byte) {
  rtf::CharMapState& maps = engine.charMaps;
  const int nothing = rtf::NothingCharIndex(engine);
  if (index < 0) index = nothing;
  if (index != nothing) {
    if (const std::string* text = rtf::OutputTextString(engine, index)) return *text;
  }
  char buffer[64];
  if (index == nothing) {
    if (byte < 0) {
      // A special character that the map does not give: written as its own code point.
      constexpr int kSpecialCodePoints[CharsetMap::kSpecialSlots] = {
          0x2022, 0x2014, 0x2013, 0x0A, 0x2011, 0x00A0, 0x201C, 0x201D, 0x2018, 0x2019};
      const int slot = -1 - byte;
      const int code =
          slot >= 0 && slot < CharsetMap::kSpecialSlots ? kSpecialCodePoints[slot] : 0xFFFD;
      return UnicodeOutput(engine, code, engine.translate.charScratch);
    }
    // An input byte the character set does not map: a standard character of its own, written as
    // the byte's numeric reference (nothing for a control character) and reported this once.
    CharsetEntry* entry = rtf::CurrentCharsetEntry(engine);
    const int charset = entry ? entry->charset : 0;
    std::snprintf(buffer, sizeof buffer, "Cs%d&#%d;", charset, byte);
    const int named = rtf::StandardCharIndex(engine, buffer, true);
    rtf::SetCurrentCharsetSlot(engine, byte, named);
    rtf::SetOutputText(engine, named, NumericReference(byte, engine.translate.charScratch));
    const rtf::FontEntry* font = rtf::FindFont(engine, engine.translate.cur.chr.font);
    ReportMessage(engine, "MSG_NO_INPUT_TRAN",
                  {font ? std::string_view(font->name) : std::string_view(), charset, byte, byte});
    return rtf::OutputText(engine, named);
  }
  const std::string name(rtf::StandardCharName(engine, index));
  if (index < static_cast<int>(maps.outputMap.size())) {
    const std::string text = "[[" + name + "]]";
    rtf::SetOutputText(engine, index, text);
    ReportMessage(engine, "MSG_NO_OUTPUT_TRAN", {name, name});
    return rtf::OutputText(engine, index);
  }
  // A character that only a character set map names and the output map lacks: written as the
  // numeric reference of its code point when the name gives one, else of the input byte.
  long code = byte;
  if (name.rfind("rtfSC_U+", 0) == 0) code = std::strtol(name.c_str() + 8, nullptr, 16);
  if (code <= 0 || code > 0x10FFFF) code = 0xFFFD;
  rtf::SetOutputText(engine, index,
                     NumericReference(static_cast<int>(code), engine.translate.charScratch));
  const rtf::FontEntry* font = rtf::FindFont(engine, engine.translate.cur.chr.font);
  CharsetEntry* entry = rtf::CurrentCharsetEntry(engine);
  ReportMessage(engine, "MSG_NO_INPUT_TRAN",
                {font ? std::string_view(font->name) : std::string_view(),
                 entry ? entry->charset : 0, byte, byte});
  return rtf::OutputText(engine, index);
}

// ---- Driver interface ---------------------------------------------------------------------------

void InstallHandlers(Engine& engine) {
  rtf::SetClassCallback(engine, rtf::kClassUnknown, UnknownHandler);
  rtf::SetClassCallback(engine, rtf::kClassGroup, GroupHandler);
  rtf::SetClassCallback(engine, rtf::kClassText, TextHandler);
  rtf::SetClassCallback(engine, rtf::kClassControl, ControlHandler);
  // The control handler reads these destinations itself in both passes.
  for (int minor : {rtf::dest::kFontTbl, rtf::dest::kColorTbl, rtf::dest::kStyleSheet,
                    rtf::dest::kInfo, rtf::dest::kPict, rtf::dest::kObject})
    rtf::SetDestinationCallback(engine, minor, nullptr);
}

}  // namespace quillo::translate
