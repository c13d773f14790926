// Footnotes: the numbering of footnote marks, the links between a mark and its footnote, and
// the footnote markup in the footnote output.
#include "translate/footnotes.h"

#include "base/settings.h"
#include "engine.h"
#include "rtf/control_words.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/text.h"
#include "translate/translate.h"
#include "translate/upcalls.h"

namespace quillo::translate {

namespace {

bool HasEntry(const OutputContext& context, int kind) {
  for (const TagEntry& entry : context.tagStack)
    if (entry.kind == kind) return true;
  return false;
}

bool Writing(const Engine& engine) { return engine.driver.pass == 2 && engine.driver.outputOpen; }

}  // namespace

void FootnoteStart(Engine& engine) {
  TranslateState& t = engine.translate;
  FootnoteState& f = engine.footnotes;
  if (Writing(engine)) {
    ReleaseHeldText(engine);
    // A footnote whose mark was not a \chftn still takes the next number, so that the numbers
    // of later marks and footnotes keep pairing up.
    if (!f.referenced) ++f.counter;
    f.referenced = false;
  }
  t.cur.channel = kFootnoteChannel;
  t.cur.par.inTable = false;
  t.stateChanged = true;
  TableFootnoteBoundary(engine);
  if (!Writing(engine) || !GetSetting(engine, "_footnote_start_")) return;
  OutputContext& out = engine.driver.footnotes;
  SetFormatted(engine, "_NAME_", "fn%d", f.counter);
  SetFormatted(engine, "_LINK_", "#fnB%d", f.counter);
  PushTag(engine, out, kTagPageBody, kEndExpandedWhenPopped, f.counter, "$_footnote_start_;",
          "$_footnote_end_;");
  ChannelState& channel = t.channels[kFootnoteChannel];
  channel.pendingBreak = false;
  channel.textStarted = false;
  channel.textReady = false;
}

void FootnoteEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  if (!Writing(engine)) {
    TableFootnoteBoundary(engine);
    return;
  }
  ReleaseHeldText(engine);
  OutputContext& out = engine.driver.footnotes;
  ChangeSpecialState(engine, out, 0);
  TableFootnoteBoundary(engine);
  // The footnote's paragraphs end with it, also without a closing \par: the next footnote
  // opens its own.
  if (HasEntry(out, kTagPageBody))
    PopTags(engine, kTagPageBody, out, kPopEntry);
  else
    PopTags(engine, kTagParagraph, out, kPopRunIfOpen);
  ChannelState& channel = t.channels[kFootnoteChannel];
  channel.pendingBreak = false;
  channel.textStarted = false;
  channel.textReady = false;
  t.stateChanged = true;
  // Languages whose footnotes stand in the text (DocBook's <footnote>) set InlineFootnotes: each
  // footnote then goes into the text at its reference as soon as it ends.
  const std::string* inlineFootnotes = GetSetting(engine, "InlineFootnotes");
  if (inlineFootnotes && *inlineFootnotes == "1") MoveFootnoteIntoMainText(engine);
}

void FootnoteMark(Engine& engine, std::string_view number) {
  TranslateState& t = engine.translate;
  OutputContext* context = CurrentOutput(engine);
  if (!context || !RoutesToBody(engine)) {
    PutText(engine, number);
    return;
  }
  ReleaseHeldText(engine);
  // The note's own mark starts the note on its line: raised only in the text, where it stands
  // beside the words it annotates.
  const uint32_t raised = t.cur.chr.attributes & (kAttrSuperScript | kAttrSubScript);
  const bool inNote = context == &engine.driver.footnotes && raised != 0;
  if (inNote) {
    t.cur.chr.attributes &= ~raised;
    t.stateChanged = true;
  }
  if (t.stateChanged || !CurrentChannel(engine).textReady) FormatChange(engine, context, true);
  if (context->specialState != 0) {
    // Hidden, captured or literal text, or a mark already inside a footnote reference.
    PutText(engine, number);
  } else {
    EnterFootnoteState(engine, *context);
    BodyText(engine, number);
    ReleaseHeldText(engine);
    LeaveFootnoteState(engine, *context);
  }
  if (inNote) {
    t.cur.chr.attributes |= raised;
    t.stateChanged = true;
  }
}

void EnterFootnoteState(Engine& engine, OutputContext& context) {
  if (HasEntry(context, kTagFootnoteRef)) return;
  FootnoteState& f = engine.footnotes;
  if (&context == &engine.driver.footnotes) {
    SetFormatted(engine, "_NAME_", "fn%d", f.counter);
    SetFormatted(engine, "_LINK_", "#fnB%d", f.counter);
  } else {
    ++f.counter;
    f.referenced = true;
    SetFormatted(engine, "_LINK_", "#fn%d", f.counter);
    SetFormatted(engine, "_NAME_", "fnB%d", f.counter);
  }
  PushTag(engine, context, kTagFootnoteRef, kEndExpandedWhenPopped, f.counter,
          "$_footnote_ref_start_;", "$_footnote_ref_end_;");
}

void LeaveFootnoteState(Engine& engine, OutputContext& context) {
  if (HasEntry(context, kTagFootnoteRef)) PopTags(engine, kTagFootnoteRef, context, kPopEntry);
}

void ResetFootnotes(Engine& engine) { engine.footnotes = FootnoteState(); }

}  // namespace quillo::translate
