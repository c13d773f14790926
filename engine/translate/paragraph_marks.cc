// The paragraph properties that count at the paragraph mark (paragraph_marks.h).
#include "translate/paragraph_marks.h"

#include "base/spill_stream.h"
#include "engine.h"
#include "translate/tags.h"

namespace quillo::translate {

namespace {

int ChannelIndex(const TranslateState& t) { return t.cur.channel == kFootnoteChannel ? 1 : 0; }

/// The values of `par`, and which of them differ from `start`'s.
ParagraphMarkValues Differences(const ParFormat& start, const ParFormat& par) {
  ParagraphMarkValues v;
  v.align = par.align;
  v.firstIndent = par.firstIndent;
  v.leftIndent = par.leftIndent;
  v.rightIndent = par.rightIndent;
  v.background = par.background;
  using F = ParagraphMarkValues;
  v.fields = (start.align != par.align ? F::kAlign : 0) |
             (start.firstIndent != par.firstIndent ? F::kFirstIndent : 0) |
             (start.leftIndent != par.leftIndent ? F::kLeftIndent : 0) |
             (start.rightIndent != par.rightIndent ? F::kRightIndent : 0) |
             (start.background != par.background ? F::kShading : 0);
  return v;
}

/// Pass 2: the channel's next record, or none.
void Advance(SpillStream& records, ParagraphMarkState& m) {
  m.next = ParagraphMarkState::kNone;
  if (m.readOffset >= records.Size()) return;
  SpillReader in(records, m.readOffset);
  const long start = in.Take<long>();
  ParagraphMarkValues v;
  v.fields = in.Take<int>();
  v.align = in.Take<int>();
  v.firstIndent = in.Take<int>();
  v.leftIndent = in.Take<int>();
  v.rightIndent = in.Take<int>();
  v.background = in.Take<int>();
  if (!in.ok()) return;
  m.next = start;
  m.nextValues = v;
  m.readOffset = in.offset();
}

}  // namespace

void ApplyMarkValues(const ParagraphMarkValues& v, ParFormat& par) {
  using F = ParagraphMarkValues;
  if (v.fields & F::kAlign) par.align = v.align;
  if (v.fields & F::kFirstIndent) par.firstIndent = v.firstIndent;
  if (v.fields & F::kLeftIndent) par.leftIndent = v.leftIndent;
  if (v.fields & F::kRightIndent) par.rightIndent = v.rightIndent;
  if (v.fields & F::kShading) par.background = v.background;
}

void ParagraphStarts(Engine& engine) {
  TranslateState& t = engine.translate;
  const int channel = ChannelIndex(t);
  ParagraphMarkState& m = t.paragraphMarks[channel];
  if (m.open) return;
  m.open = true;
  const long position = engine.reader.charCount;
  if (engine.driver.pass != 2) {
    m.start = position;
    m.startFormat = m.markFormat = t.cur.par;
    return;
  }
  m.shown = ParagraphMarkValues();
  while (m.next < position) Advance(t.paragraphMarkRecords[channel], m);
  if (m.next != position) return;
  m.shown = m.nextValues;
  Advance(t.paragraphMarkRecords[channel], m);
}

void ParagraphWordApplied(Engine& engine) {
  TranslateState& t = engine.translate;
  ParagraphMarkState& m = t.paragraphMarks[ChannelIndex(t)];
  if (m.open && engine.driver.pass != 2) m.markFormat = t.cur.par;
}

void ParagraphMarkReached(Engine& engine) {
  TranslateState& t = engine.translate;
  const int channel = ChannelIndex(t);
  ParagraphMarkState& m = t.paragraphMarks[channel];
  if (!m.open) return;
  m.open = false;
  if (engine.driver.pass == 2) {
    m.shown = ParagraphMarkValues();
    return;
  }
  const ParagraphMarkValues v = Differences(m.startFormat, m.markFormat);
  if (v.fields == 0) return;
  SpillStream& records = t.paragraphMarkRecords[channel];
  records.Put<long>(m.start);
  for (int value : {v.fields, v.align, v.firstIndent, v.leftIndent, v.rightIndent, v.background})
    records.Put<int>(value);
  // Pass 2 opens the paragraph with its first content's format and these values: that format
  // is registered here, so that its rule is on the page.
  const ParFormat saved = t.cur.par;
  const int current = t.parFormats.current;
  t.cur.par = m.startFormat;
  ApplyMarkValues(v, t.cur.par);
  ParFmtIdx(engine);
  t.cur.par = saved;
  t.parFormats.current = current;
}

void StartParagraphMarks(Engine& engine) {
  TranslateState& t = engine.translate;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    t.paragraphMarks[channel] = ParagraphMarkState();
    Advance(t.paragraphMarkRecords[channel], t.paragraphMarks[channel]);
  }
}

}  // namespace quillo::translate
