// The text sink: where text goes by destination (the body, number text held for the paragraph's
// first text, names and field instructions kept, document information), the body text path of
// both passes with its runs, capitals and fonts held inside a word, and the plain-text fast path.
#include "translate/text.h"

#include <array>
#include <string>

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
#include "translate/translate.h"
#include "translate/upcalls.h"
#include "translate/word_chars.h"
#include "translate/word_fonts.h"

namespace quillo::translate {

namespace {

/// Text gathered into one run is written once it reaches this size, so that a long stretch of
/// text without a control word does not grow the run without end.
constexpr std::size_t kMaxRun = 64 * 1024;

/// Where the text of a destination goes.
enum class Route : unsigned char {
  kBody,
  kDrop,
  kInfo,
  kNumberText,
  kBookmark,
  kHyperlinkName,
  kFieldInstruction,
  kIndex,
  kCollection,
};

Route RouteOf(int destination) {
  switch (destination) {
    case rtf::dest::kInfo:
    case rtf::dest::kBookmarkEnd:
    case rtf::dest::kIndexRange:  // the bookmark of an index entry's page range
      return Route::kDrop;
    case rtf::dest::kListText:
    case rtf::dest::kPnText:
      return Route::kNumberText;
    case rtf::dest::kBookmarkStart:
      return Route::kBookmark;
    case rtf::dest::kObjItem:
      return Route::kHyperlinkName;
    case rtf::dest::kFieldInst:
      return Route::kFieldInstruction;
    case rtf::dest::kIndexEntry:
    case rtf::dest::kIndexText:
    case rtf::dest::kTocEntry:
    case rtf::dest::kTocEntryN:
      return Route::kIndex;
    case 132:
    case 133:
      return Route::kCollection;
    default:
      break;
  }
  if (destination >= rtf::dest::kHeader && destination <= rtf::dest::kFooterF) return Route::kDrop;
  rtf::InfoKind text, breaks;
  if (destination >= 0 && rtf::InfoDestination(destination, text, breaks)) return Route::kInfo;
  return Route::kBody;
}

/// The buffer of a destination that collects its text, nullptr for the others.
std::string* BufferOf(Engine& engine, int destination) {
  TranslateState& t = engine.translate;
  switch (RouteOf(destination)) {
    case Route::kBookmark:
      return &t.bookmarkName;
    case Route::kHyperlinkName:
      return &t.hyperlinkName;
    case Route::kFieldInstruction:
      return t.fields.empty() ? nullptr : &t.fields.back().instruction;
    case Route::kIndex:
      return destination == rtf::dest::kIndexText ? &t.indexPage : &t.indexText;
    case Route::kCollection:
      return &t.collection[destination - 132];
    default:
      return nullptr;
  }
}

const PTagEntry* PTagOf(const Engine& engine, int tag) {
  const auto& ptags = engine.translation.ptag;
  return tag >= 0 && tag < static_cast<int>(ptags.size()) ? &ptags[tag] : nullptr;
}

/// Before body text in pass 2: holds the shown font when the font changes inside a word and
/// lets it go at the word's end (see TranslateState::heldFont). The held font is shown only in a
/// look pass 1 registered, so its rule is on the page.
void HoldFontInWord(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  if (t.heldFont < 0 && !t.stateChanged) return;  // nothing held, nothing changed
  const bool wordAhead = WordAtEdge(text, false);
  if (t.heldFont >= 0 && (!wordAhead || t.heldFont == t.cur.chr.font)) {
    t.heldFont = -1;
    t.stateChanged = true;
  }
  if (!t.stateChanged || !wordAhead || !t.lastWordChar || t.heldFont >= 0 || t.shownFont < 0 ||
      t.shownFont == t.cur.chr.font)
    return;
  const int current = t.cur.chr.font;
  t.cur.chr.font = t.shownFont;
  const bool known = CharLookKnown(engine);
  t.cur.chr.font = current;
  if (known) t.heldFont = t.shownFont;
}

/// Before body text (both passes): complex-script text is shown at the complex-script size, other
/// letters and digits at the size of \fs. Blanks and punctuation are complex-script text in a
/// right-to-left run (\rtlch); elsewhere they begin a run (after a change of format) at the size
/// of \fs and keep the size of the text before them inside it, so that a run of Hebrew or Thai
/// words is one element and a blank after it goes with the text that follows. Looked at only
/// while the two sizes differ, and then mostly at one ASCII character, a table look-up.
void NoteScript(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  if (t.cur.chr.complexSize == t.cur.chr.fontSize) return;
  const TextScript script = ScriptOf(text);
  bool complex = script == TextScript::kComplex;
  if (script == TextScript::kNeutral) {
    if (t.cur.sizeDirection == SizeDirection::kRightToLeft)
      complex = true;
    else if (t.cur.chr == t.scriptFormat)
      return;
  }
  t.scriptFormat = t.cur.chr;
  if (complex == t.complexText) return;
  t.complexText = complex;
  t.stateChanged = true;
}

/// Appends body text to the run written by the next ReleaseHeldText.
void EmitRun(Engine& engine, OutputContext& context, std::string_view text, int wrap) {
  TranslateState& t = engine.translate;
  if (!text.empty()) {
    // Mostly a span of plain text: its last character is an ASCII character of its own.
    const auto last = static_cast<unsigned char>(text.back());
    t.lastWordChar = last < 0x80 && last != ';' ? WordCodePoint(last) : WordAtEdge(text, true);
  }
  if (!t.run.empty() && (t.runContext != &context || t.runWrap != wrap || t.run.size() > kMaxRun))
    ReleaseHeldText(engine);
  t.runContext = &context;
  t.runWrap = wrap;
  t.run.append(text);
}

/// Text in capitals for the SmallCaps and AllCaps attributes; references and "[[...]]" stay.
std::string_view Capitals(std::string_view text, std::string& scratch) {
  if (text.empty() || text[0] == '&' || text[0] == '[') return text;
  scratch.assign(text);
  for (char& c : scratch)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return scratch;
}

/// Records paragraph-number text for its replay at the paragraph's first text.
void HoldNumberText(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  // Number text waits for the paragraph's first text, one event per piece; a document can make
  // it any length, so beyond kMaxKeptText bytes what is held is let go (BodyText releases it)
  // and the piece written, and holding starts again.
  if (t.deferred.text.size() >= kMaxKeptText && t.releaseSuspended == 0) {
    BodyText(engine, text);
    return;
  }
  DeferredText& held = t.deferred;
  const bool formatRecorded =
      held.lastFormat >= 0 &&
      held.events[static_cast<std::size_t>(held.lastFormat)].format == t.cur.chr;
  if (!formatRecorded) {
    DeferredEvent event;
    event.kind = DeferredEvent::kFormat;
    event.format = t.cur.chr;
    held.lastFormat = static_cast<int>(held.events.size());
    held.events.push_back(event);
  }
  DeferredEvent piece;
  piece.kind = DeferredEvent::kText;
  piece.begin = static_cast<uint32_t>(held.text.size());
  held.text.append(text);
  piece.end = static_cast<uint32_t>(held.text.size());
  held.events.push_back(piece);
  held.held = true;
}
}  // namespace

OutputContext* PrepareForOutput(Engine& engine) {
  OutputContext* context = CurrentOutput(engine);
  if (!context) return nullptr;
  TranslateState& t = engine.translate;
  ChannelState& channel = CurrentChannel(engine);
  // Held list-number text goes first: the translation file may choose the paragraph's entry from
  // it, and that choice must be made before the field's output opens any tag.
  ReleaseHeldText(engine);
  ParagraphContent(engine);
  if (t.stateChanged || !channel.textReady) FormatChange(engine, context, true);
  BeforeParagraphText(engine);
  t.paragraphOpen = true;
  return context;
}

bool RoutesToBody(const Engine& engine) {
  const int destination = engine.translate.cur.destination;
  return destination < 0 || RouteOf(destination) == Route::kBody;
}

// ---- The text sink
// ----------------------------------------------------------------------------------

void PutText(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  const int destination = t.cur.destination;
  if (destination < 0) {
    BodyText(engine, text);
    return;
  }
  switch (RouteOf(destination)) {
    case Route::kBody:
      BodyText(engine, text);
      return;
    case Route::kDrop:
      return;
    case Route::kInfo: {
      rtf::InfoKind kind, breaks;
      rtf::InfoDestination(destination, kind, breaks);
      rtf::AppendInfoText(engine, kind, text);
      return;
    }
    case Route::kNumberText:
      HoldNumberText(engine, text);
      return;
    default:
      // Names, field instructions and index texts are kept, not written: held to a sane size.
      if (std::string* buffer = BufferOf(engine, destination)) AppendKept(*buffer, text);
      return;
  }
}

void BodyText(Engine& engine, std::string_view text) {
  TranslateState& t = engine.translate;
  if (text.empty()) return;
  if (engine.settings.saveText != 0) {
    engine.settings.saveTextStr.append(text);
    return;
  }
  if (t.deferred.held && t.releaseSuspended == 0) ReleaseHeldText(engine);
  t.paragraphOpen = true;
  ParagraphContent(engine);
  NoteScript(engine, text);
  std::string& scratch = t.charScratch;
  const bool capitals = (t.cur.chr.attributes & (kAttrSmallCaps | kAttrAllCaps)) != 0;

  if (engine.driver.pass != 2) {
    if (t.stateChanged) FormatChange(engine, nullptr, false);
    ChannelState& channel = CurrentChannel(engine);
    if (channel.pass1State == kTagCapture) {
      t.captureText.append(text);
      return;
    }
    if (channel.pass1State == kTagName) {
      // An anchor name: recorded when the state is left, never shown as text.
      AppendKept(t.nameText, text);
      return;
    }
    NoteWordText(engine, text);  // words shown in one font
    if (t.cur.channel == kMainChannel) {
      // The paragraph's text: a heading keeps it in its record; RMatch steps match against it.
      t.paragraphText.append(capitals ? Capitals(text, scratch) : text);
      engine.expansion.paragraphText = &t.paragraphText;
    }
    return;
  }

  OutputContext* context = CurrentOutput(engine);
  if (!context) return;
  ChannelState& channel = CurrentChannel(engine);
  // Seam: recorded RMatch replacements (MatchRepl) are offered the text here.
  if (context->specialState == 0) {
    if (engine.reader.charCount >= t.wordFont.next) ShowWordFont(engine);  // one font a word
    HoldFontInWord(engine, text);
  }
  if (t.stateChanged || !channel.textReady) FormatChange(engine, context, true);
  BeforeParagraphText(engine);  // a heading's anchor, inside its tag
  const int state = context->specialState;
  switch (state) {
    case kTagCapture:
      t.captureText.append(text);
      return;
    // Link targets and anchor names are kept (cut to a sane size); hot text is the page's text.
    case kTagLink:
      AppendKept(t.linkText, text);
      return;
    case kTagHRef:
      AppendKept(t.hrefText, text);
      return;
    case kTagHot:
      t.hotText.append(text);
      return;
    case kTagName:
      AppendKept(t.nameText, text);
      return;
    case kTagDiscard:
      return;
    case kTagFootNote:
      // The footnote reference opens (once); the mark is then written like ordinary text.
      EnterFootnoteState(engine, *context);
      break;
    default:
      break;
  }
  if (!channel.textStarted && state != kTagLiteral) {
    const PTagEntry* ptag = PTagOf(engine, context->paragraphTag);
    if (ptag && ptag->values[2] == 1) {
      // Leading text of a tab-mode-1 paragraph (a typed list number) is dropped up to the first
      // tab; a piece starting with the strip character counts as the start of the text.
      const std::string& strip = engine.settings.values[kSettingPNTStripChar];
      if (!strip.empty() && text[0] == strip[0] && engine.settings.mirrors.allowEmptyStrip != 0)
        channel.textStarted = true;
      return;
    }
  }
  channel.textStarted = true;
  std::string_view out = text;
  // Markup typed into the document is written as markup only when RawMarkup asks for it: by
  // default a document cannot put elements (a script) into the page.
  if (state == kTagLiteral && SettingValue(engine, "RawMarkup") == "1") {
    if (out == "&lt;")
      out = "<";
    else if (out == "&gt;")
      out = ">";
    else if (out == "&amp;")
      out = "&";
  }
  if (capitals) out = Capitals(out, scratch);
  EmitRun(engine, *context, out, context->wrap);
}

void ContinuePlainText(Engine& engine) {
  TranslateState& t = engine.translate;
  // Everything that would make a following character take another way than the one just taken:
  // pending \u fallback or multi-byte state, a format change due, held text, saved text,
  // capitals, another destination, two sizes that the script of each character chooses between
  // (NoteScript) where a letter may leave the complex-script size or a blank take it.
  if (t.unicodePending > 0 || t.highSurrogate != 0 || t.leadByte >= 0 || t.stateChanged ||
      t.deferred.held || t.heldFont >= 0 || engine.settings.saveText != 0 ||
      (t.cur.chr.complexSize != t.cur.chr.fontSize &&
       (t.complexText || t.cur.sizeDirection == SizeDirection::kRightToLeft)) ||
      (t.cur.chr.attributes & (kAttrSmallCaps | kAttrAllCaps)) != 0 ||
      t.cur.destination == rtf::dest::kPict || !RoutesToBody(engine))
    return;
  OutputContext* context = nullptr;
  std::string* paragraphText = nullptr;
  if (engine.driver.pass == 2) {
    // The character just written opened the paragraph and its tags and wrote any heading anchor.
    context = CurrentOutput(engine);
    if (!context || context->specialState != 0) return;
    const ChannelState& channel = CurrentChannel(engine);
    if (!channel.textReady || !channel.textStarted) return;
  } else {
    const int state = CurrentChannel(engine).pass1State;
    if (state == kTagCapture || state == kTagName) return;
    if (t.cur.channel == kMainChannel) paragraphText = &t.paragraphText;
  }
  std::string_view ahead = rtf::TextAhead(engine);
  // Pass 2 stops before the first character of a word shown in one font (ShowWordFont).
  if (context)
    ahead = ahead.substr(
        0, PlainTextBeforeWordFont(t.wordFont.next, engine.reader.charCount, ahead.size()));
  if (ahead.empty()) return;
  const CharsetMap* map = rtf::CurrentCharsetMap(engine);
  if (!map) return;
  const int nothing = rtf::NothingCharIndex(engine);
  // The output goes where BodyText puts it: the gathered run or the paragraph text of pass 1.
  // Characters that the output map writes as themselves are appended in spans.
  std::size_t count = 0;
  std::size_t spanStart = 0;
  auto append = [&](std::string_view text) {
    if (context)
      EmitRun(engine, *context, text, context->wrap);
    else if (paragraphText)
      paragraphText->append(text);
  };
  auto flushSpan = [&]() {
    if (count != spanStart) append(ahead.substr(spanStart, count - spanStart));
  };
  const std::array<bool, 256>& unchanged = rtf::UnchangedPlainText(engine, *map);
  const auto* bytes = reinterpret_cast<const unsigned char*>(ahead.data());
  const std::size_t size = ahead.size();
  for (;; ++count) {
    // Bytes written as themselves: eight at a time while all eight are, then one by one.
    while (count + 8 <= size && (unchanged[bytes[count]] & unchanged[bytes[count + 1]] &
                                 unchanged[bytes[count + 2]] & unchanged[bytes[count + 3]] &
                                 unchanged[bytes[count + 4]] & unchanged[bytes[count + 5]] &
                                 unchanged[bytes[count + 6]] & unchanged[bytes[count + 7]]))
      count += 8;
    while (count < size && unchanged[bytes[count]]) ++count;
    if (count >= size) break;
    const unsigned char byte = bytes[count];
    if (!rtf::IsPlainText(byte)) break;
    // A character without a mapping or an output text is left to the normal way, which reports
    // it.
    const int standard = map->slots[byte];
    const std::string* text =
        standard == nothing ? nullptr : rtf::OutputTextString(engine, standard);
    if (!text) break;
    flushSpan();
    spanStart = count + 1;
    append(*text);
  }
  flushSpan();
  if (!context && count > 0) NoteWordInput(engine, ahead.substr(0, count), engine.reader.charCount);
  if (count > 0)
    rtf::ConsumePlainText(engine, count, map->slots[static_cast<unsigned char>(ahead[count - 1])]);
}

void RouteSpecial(Engine& engine, int code) {
  TranslateState& t = engine.translate;
  const int destination = t.cur.destination;
  const char* asText = code == 32 ? " " : code == 37 ? "\t" : "";
  const Route route = destination < 0 ? Route::kBody : RouteOf(destination);
  switch (route) {
    case Route::kDrop:
      return;
    case Route::kInfo: {
      rtf::InfoKind kind, breaks;
      rtf::InfoDestination(destination, kind, breaks);
      rtf::AppendInfoText(engine, breaks, asText);
      return;
    }
    case Route::kNumberText: {
      DeferredEvent event;
      event.kind = DeferredEvent::kSpecial;
      event.code = code;
      t.deferred.events.push_back(event);
      t.deferred.held = true;
      return;
    }
    case Route::kBody:
      break;
    default:
      if (std::string* buffer = BufferOf(engine, destination)) buffer->append(asText);
      return;
  }
  if (code != 28) ParagraphContent(engine);
  if (engine.driver.pass == 2) {
    PutSpecial(engine, code);
    return;
  }
  EndWord(engine);  // a line break, tab or paragraph mark ends a word
  ChannelState& channel = CurrentChannel(engine);
  if (code != 28) {
    if (channel.pass1State == kTagName) {
      if (code == 37) t.nameText.push_back('\t');  // as pass 2 collects it
      return;
    }
    t.paragraphText.push_back(' ');
    return;
  }
  // Pass 1 paragraph end: the paragraph's special state is left and its text forgotten.
  if (channel.pass1State == kTagCapture || channel.pass1State == kTagName) {
    OutputContext scratch;
    scratch.specialState = channel.pass1State;
    ChangeSpecialState(engine, scratch, 0);
  }
  channel.pass1State = 0;
  // The heading hierarchy has taken the text into the paragraph's record (ParagraphEnd). A
  // paragraph of a footnote leaves the text of the main paragraph it stands in alone.
  if (t.cur.channel != kMainChannel) return;
  t.paragraphText.clear();
  engine.expansion.paragraphText = nullptr;
  engine.expansion.paragraphMatches.clear();
}
}  // namespace quillo::translate
