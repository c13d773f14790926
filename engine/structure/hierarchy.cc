// The heading hierarchy: one record per paragraph of the main text in pass 1, the resolution of
// parents, children, peers and file numbers between the passes, and the walk over the same
// records in pass 2 that changes files at split headings and writes the heading anchors.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "output/line_writer.h"
#include "rtf/tables.h"
#include "structure/internal.h"
#include "structure/paragraphs.h"
#include "structure/structure.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::structure {

// Defined with the file plan.
void NewSplitFile(Engine& engine, int record);

namespace {

/// Plain paragraphs take this level while the hierarchy is resolved, so that they sort below
/// every heading.
constexpr int kPlainLevel = 999;

long ReaderPosition(const Engine& engine) { return engine.reader.charCount; }

int ChannelOf(const Engine& engine) {
  return engine.translate.cur.channel == translate::kFootnoteChannel ? 1 : 0;
}

/// Writes the "Heading<n>" anchor of record `index` into the main output.
void WriteHeadingAnchor(Engine& engine, int index) {
  OutputContext& main = engine.driver.main;
  if (!main.file) return;
  translate::ReleaseHeldText(engine);
  SetSetting(engine, "_LINK_",
             "Heading" + std::to_string(RecordAt(engine.structure.records, index).sequence));
  ExpandInto(engine, main, "$_anchor_entry_;");
}

void TraceParagraph(Engine& engine, const ParagraphRecord& record) {
  if (!Tracing(engine)) return;
  const rtf::StyleEntry* style = rtf::FindStyle(engine, record.styleNumber);
  PrintEscaped(engine, "h#:%d,rtfStyleNum: %d = %s, Level %d :POS=%ld\n", record.sequence,
               record.styleNumber, style && !style->name.empty() ? style->name.c_str() : "Normal",
               record.level, ReaderPosition(engine));
}

/// The .PMatch entry of the current paragraph, chosen as the formatting tags choose it (a forced
/// entry, else the first of the paragraph's style, else entry 0) but without registering the
/// paragraph's format: the format registry is the formatting tags' own business.
int MatchOfParagraph(const Engine& engine) {
  const translate::TranslateState& t = engine.translate;
  const auto& pmatch = engine.translation.pmatch;
  if (pmatch.empty()) return -1;
  if (t.forcedPMatch >= 0 && t.forcedPMatch < static_cast<int>(pmatch.size()) &&
      t.forcedChannel == t.cur.channel)
    return t.forcedPMatch;
  for (int i = 0; i < static_cast<int>(pmatch.size()); ++i)
    if (pmatch[i].styleKey != -1 && pmatch[i].styleKey == t.cur.par.style) return i;
  return 0;
}

/// Pass 1: the first content of a main-text paragraph makes its record.
void StartRecord(Engine& engine) {
  StructureState& s = engine.structure;
  translate::TranslateState& t = engine.translate;
  const int match = MatchOfParagraph(engine);
  const int level = LevelOfMatch(engine, match);
  // Only a jump of more than one level down directly after a heading is a fault of the document.
  const int count = RecordCount(s.records);
  if (count > 0 && s.previousLevel > 0 && level - s.previousLevel > 1) {
    ReportMessage(engine, "MSG_INVALID_LEVELS",
                  {s.previousLevel, level, std::string_view(RecordAt(s.records, count - 1).text)});
  }
  // Anchors and index entries that came after the last paragraph mark belong to this paragraph.
  if (s.firstPendingEntry >= 0) {
    for (int i = s.firstPendingEntry; i < static_cast<int>(s.entries.size()); ++i) {
      if (s.entries[i].place != count) continue;
      ++s.entries[i].place;
      if (Tracing(engine))
        PrintEscaped(engine, "IndexBumped:%s,%d\n", s.entries[i].text.c_str(), s.entries[i].place);
    }
    s.firstPendingEntry = -1;
  }
  if (s.firstPendingAnchor >= 0) {
    for (int i = s.firstPendingAnchor; i < static_cast<int>(s.anchors.size()); ++i) {
      if (s.anchors[i].place != count) continue;
      ++s.anchors[i].place;
      if (Tracing(engine))
        PrintEscaped(engine, "AnchorBumped:%s,%d\n", s.anchors[i].name.c_str(), s.anchors[i].place);
    }
    s.firstPendingAnchor = -1;
  }
  ParagraphRecord record;
  record.sequence = count + 1;
  record.level = level;
  record.matchIndex = match;
  record.styleNumber = t.cur.par.style;
  record.startPosition = ReaderPosition(engine);
  record.previousMark = s.channels[0].lastMark;
  AddRecord(s.records, std::move(record));
  s.channels[0].current = count;
  s.previousLevel = level;
}

/// Pass 2: finds the record of the paragraph that has just begun, by input position. Records
/// that pass 2 never started are passed over; a paragraph that pass 1 did not record (it holds
/// only output that pass 2 makes) has none. Returns -1 when there is none.
int FindRecord(Engine& engine) {
  StructureState& s = engine.structure;
  ChannelParagraphs& c = s.channels[0];
  const long position = ReaderPosition(engine);
  const int n = RecordCount(s.records);
  int i = c.current + 1;
  for (; i < n; ++i) {
    const ParagraphRecord& record = RecordInOrder(s.records, i);
    if (record.endPosition < 0 || record.endPosition > c.lastMark) break;
    if (Tracing(engine)) PrintEscaped(engine, "Pass2 skipped heading record %d\n", record.sequence);
  }
  if (i >= n || RecordInOrder(s.records, i).previousMark >= position) return -1;
  c.current = i;
  return i;
}

void StartPass2(Engine& engine) {
  StructureState& s = engine.structure;
  const int index = FindRecord(engine);
  s.channels[0].paragraphRecord = index;
  if (index < 0) return;
  const ParagraphRecord& record = RecordAt(s.records, index);
  if (record.level == 0) return;
  if (record.fileNumber > engine.driver.currentFile) {
    if (Tracing(engine))
      PrintEscaped(engine, "ChangeFile:%d,%d,%d,%s\n", record.fileNumber, engine.driver.currentFile,
                   record.sequence, record.text.c_str());
    ChangeFileTo(engine, record.fileNumber);
  }
  // The anchor is written once the heading's tag is open (BeforeParagraphText), also when the
  // heading begins a file: cross-references name headings by file and anchor alike.
  s.pendingHeadingAnchor = index;
}

}  // namespace

// ---- Paragraphs
// ----------------------------------------------------------------------------------

void ParagraphContentBegins(Engine& engine) {
  StructureState& s = engine.structure;
  const int channel = ChannelOf(engine);
  ChannelParagraphs& c = s.channels[channel];
  if (c.started) return;
  c.started = true;
  // Footnote paragraphs are not part of the hierarchy; only their marks are followed.
  if (channel != 0) return;
  if (engine.driver.pass == 2) {
    if (s.resolved) StartPass2(engine);
    return;
  }
  StartRecord(engine);
}

void WriteDueHeadingAnchor(Engine& engine) {
  StructureState& s = engine.structure;
  if (s.pendingHeadingAnchor < 0 || engine.driver.pass != 2 || ChannelOf(engine) != 0) return;
  const int index = s.pendingHeadingAnchor;
  s.pendingHeadingAnchor = -1;
  WriteHeadingAnchor(engine, index);
}

void ParagraphEnd(Engine& engine) {
  StructureState& s = engine.structure;
  translate::TranslateState& t = engine.translate;
  const int channel = ChannelOf(engine);
  ChannelParagraphs& c = s.channels[channel];
  const long position = ReaderPosition(engine);
  const bool started = c.started;
  c.lastMark = position;
  if (channel != 0 || engine.driver.pass == 2) c.started = false;
  if (channel != 0) return;

  if (engine.driver.pass != 2) {
    s.firstPendingAnchor = -1;
    s.firstPendingEntry = -1;
    // The record stays current while "$EndPar;" runs: it may still set MatchName.
    struct EndOfParagraph {
      bool& started;
      ~EndOfParagraph() { started = false; }
    } end{c.started};
    if (!started || c.current < 0) {
      SetLiteralSetting(engine, "__ParText", "");
      StrExp(engine, "$EndPar;");
      return;
    }
    ParagraphRecord& record = OpenRecord(s.records);
    record.endPosition = position;
    TraceParagraph(engine, record);
    SetLiteralSetting(engine, "__ParText", t.paragraphText);
    record.endText = StrExp(engine, "$EndPar;");
    // Only headings keep their text: the contents, file names and cross-references need it.
    // The page shows the whole heading; what is kept for them is held to a sane size.
    if (record.level > 0) {
      record.text.assign(t.paragraphText, 0, KeptLength(t.paragraphText, kMaxKeptText));
      record.textHeld = true;
    }
    return;
  }

  const int index = c.paragraphRecord;
  c.paragraphRecord = -1;
  if (!started || index < 0) return;
  if (s.pendingHeadingAnchor == index) BeforeParagraphText(engine);
  const ParagraphRecord& record = RecordInOrder(s.records, index);
  TraceParagraph(engine, record);
  // Held apart: what runs below may read other records.
  const std::string endText = record.endText;
  if (record.endPosition != position && Tracing(engine)) {
    // Both passes read the same input, so the paragraph ends where pass 1 saw it end. Records
    // are found by position, so a difference cannot shift later paragraphs; it is traced.
    PrintEscaped(engine, "Heading mismatch, looking for %ld, found %ld\n", record.endPosition,
                 position);
    PrintEscaped(engine, "Pass1 heading=%s\n", record.text.c_str());
  }
  if (!endText.empty()) {
    if (OutputContext* context = translate::CurrentOutput(engine)) {
      translate::ReleaseHeldText(engine);
      PutWrap(engine, endText, *context, 0);
    }
  }
}

void MatchChanged(Engine& engine, int matchIndex) {
  StructureState& s = engine.structure;
  if (engine.driver.pass != 1 || ChannelOf(engine) != 0) return;
  ChannelParagraphs& c = s.channels[0];
  if (!c.started || c.current < 0) return;
  ParagraphRecord& record = OpenRecord(s.records);
  record.matchIndex = matchIndex;
  record.level = LevelOfMatch(engine, matchIndex);
}

int ParNumber(const Engine& engine) {
  const StructureState& s = engine.structure;
  const ChannelParagraphs& c = s.channels[0];
  const int index = engine.driver.pass == 2 ? c.paragraphRecord : (c.started ? c.current : -1);
  if (index < 0 || index >= RecordCount(s.records)) return 0;
  const ParagraphRecord& record = RecordAt(s.records, index);
  return record.level > 0 ? record.sequence : 0;
}

// ---- Resolution between the passes -------------------------------------------------------------

namespace {

/// One place of the hierarchy while it is resolved: a heading, or a run of plain paragraphs
/// (which all share one parent and are no heading's peer, so one place stands for the run).
struct Place {
  int record;  ///< the heading's record, or the first record of the run
  int level;   ///< kPlainLevel for a run
  int parent = -1, firstChild = -1, nextPeer = -1;
  int heading = -1;  ///< index among the headings, -1 for a run
};

std::vector<Place> PlacesOf(const ParagraphRecords& records) {
  std::vector<Place> places;
  const int n = RecordCount(records);
  int next = 0;  // first record not yet placed
  for (std::size_t k = 0; k < records.headings.size(); ++k) {
    const int index = records.headingIndex[k];
    if (index > next) places.push_back(Place{next, kPlainLevel});
    Place heading{index, records.headings[k].level};
    heading.heading = static_cast<int>(k);
    places.push_back(heading);
    next = index + 1;
  }
  if (next < n) places.push_back(Place{next, kPlainLevel});
  return places;
}

/// Parents, first children and next peers: the parent is the nearest earlier place of a lower
/// level number, the first child the following place when its level number is higher, the next
/// peer the next place of the same level with only higher level numbers between.
void LinkPlaces(std::vector<Place>& places, int first) {
  const int n = static_cast<int>(places.size());
  for (int i = first; i < n; ++i) {
    Place& place = places[i];
    if (place.parent < 0 && i > first) {
      int ancestor = places[i - 1].parent;
      while (ancestor >= 0 && places[ancestor].level >= place.level)
        ancestor = places[ancestor].parent;
      place.parent = ancestor;
    }
    const int next = i + 1;
    if (next < n && places[next].level > place.level) {
      place.firstChild = next;
      places[next].parent = i;
    }
    // The scan stops at the next place of this level or above; consecutive open scans have
    // strictly increasing levels, so the work is bounded by places times distinct levels.
    int j = next;
    while (j < n && places[j].level > place.level) ++j;
    if (j < n && places[j].level == place.level) {
      place.nextPeer = j;
      places[j].parent = place.parent;
    }
  }
}

}  // namespace

void ResolveHierarchy(Engine& engine) {
  StructureState& s = engine.structure;
  ParagraphRecords& records = s.records;
  FinishRecords(records);
  const int n = RecordCount(records);
  s.resolved = true;
  s.fileCount = 1;
  s.headingCount = 0;
  s.files.clear();
  for (ChannelParagraphs& channel : s.channels) channel = ChannelParagraphs();
  s.anchorCursor = -1;
  s.entryCursor = -1;
  s.runningEntry = 0;
  s.pendingHeadingAnchor = -1;
  s.firstPendingAnchor = -1;
  s.firstPendingEntry = -1;
  if (n == 0) return;

  std::deque<HeadingRecord>& headings = Headings(records);
  std::vector<Place> places = PlacesOf(records);
  const int firstHeading = headings.empty() ? n : HeadingRecordIndex(records, 0);
  if (Tracing(engine))
    for (int i = 0; i < firstHeading; ++i)
      PrintEscaped(engine, "Line: %d peer: %d Leading Text %s\n", i + 1, -1, "");
  int first = 0;
  while (first < static_cast<int>(places.size()) && places[first].heading < 0) ++first;
  if (!headings.empty()) SetLiteralSetting(engine, "FirstHeading", HeadingText(records, 0));
  LinkPlaces(places, first);
  auto recordOf = [&](int place) { return place < 0 ? -1 : places[place].record; };
  for (const Place& place : places) {
    if (place.heading < 0) continue;
    HeadingRecord& record = headings[static_cast<std::size_t>(place.heading)];
    record.parent = recordOf(place.parent);
    record.firstChild = recordOf(place.firstChild);
    record.nextPeer = recordOf(place.nextPeer);
    ++s.headingCount;
  }

  // The file plan: every heading of level SplitDepth or above begins a file. Output to standard
  // output (no output name) cannot be split. A plain paragraph is in the file of the heading
  // before it.
  const int splitDepth =
      SettingValue(engine, "OutFileName").empty() ? 0 : engine.settings.mirrors.splitDepth;
  for (std::size_t k = 0; k < headings.size(); ++k) {
    const int index = HeadingRecordIndex(records, static_cast<int>(k));
    if (headings[k].level <= splitDepth) {
      if (Tracing(engine))
        PrintEscaped(engine, "SplittingFile:%s,%d,%s\n",
                     HeadingText(records, static_cast<int>(k)).c_str(), s.fileCount,
                     engine.settings.paths.baseName.c_str());
      NewSplitFile(engine, index);
      ++s.fileCount;
    }
    headings[k].fileNumber = s.fileCount - 1;
  }

  // Index entries and anchors hold the number of the paragraph they belong to; records are
  // numbered 1..n in order, so the record of a paragraph number is found directly.
  auto fileOfPlace = [&](int place) {
    if (place < 1) return 0;
    return RecordAt(records, (place > n ? n : place) - 1).fileNumber;
  };
  for (IndexRecord& entry : s.entries) {
    const int place = entry.place;
    entry.place = fileOfPlace(place);
    if (Tracing(engine))
      PrintEscaped(engine, "IndexResolved:%s,%d,%d,%s\n", entry.text.c_str(), place, entry.place,
                   FileSuffix(engine, entry.place).c_str());
  }
  for (AnchorRecord& anchor : s.anchors) {
    anchor.place = fileOfPlace(anchor.place);
    if (Tracing(engine))
      PrintEscaped(engine, "AnchorResolved:%s,%d,%s\n", anchor.name.c_str(), anchor.place,
                   FileSuffix(engine, anchor.place).c_str());
  }
  if (Tracing(engine))
    PrintEscaped(engine, "num_headings: %d, num_files: %d\n", s.headingCount, s.fileCount);
}

}  // namespace quillo::structure
