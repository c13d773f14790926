// The heading hierarchy: one record per paragraph of the main text in pass 1, the resolution of
// parents, children, peers and file numbers between the passes, and the walk over the same
// records in pass 2 that changes files at split headings and writes the heading anchors.
#include <cstdio>
#include <string>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "output/line_writer.h"
#include "rtf/tables.h"
#include "structure/internal.h"
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
             "Heading" + std::to_string(engine.structure.records[index].sequence));
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
  if (!s.records.empty() && s.previousLevel > 0 && level - s.previousLevel > 1) {
    ReportMessage(engine, "MSG_INVALID_LEVELS",
                  {s.previousLevel, level, std::string_view(s.records.back().text)});
  }
  // Anchors and index entries that came after the last paragraph mark belong to this paragraph.
  const int count = static_cast<int>(s.records.size());
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
  s.records.push_back(std::move(record));
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
  const int n = static_cast<int>(s.records.size());
  int i = c.current + 1;
  while (i < n && s.records[i].endPosition >= 0 && s.records[i].endPosition <= c.lastMark) {
    if (Tracing(engine))
      PrintEscaped(engine, "Pass2 skipped heading record %d\n", s.records[i].sequence);
    ++i;
  }
  if (i >= n || s.records[i].previousMark >= position) return -1;
  c.current = i;
  return i;
}

void StartPass2(Engine& engine) {
  StructureState& s = engine.structure;
  const int index = FindRecord(engine);
  s.channels[0].paragraphRecord = index;
  if (index < 0) return;
  const ParagraphRecord& record = s.records[index];
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
    ParagraphRecord& record = s.records[c.current];
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
  const ParagraphRecord& record = s.records[index];
  TraceParagraph(engine, record);
  if (record.endPosition != position && Tracing(engine)) {
    // Both passes read the same input, so the paragraph ends where pass 1 saw it end. Records
    // are found by position, so a difference cannot shift later paragraphs; it is traced.
    PrintEscaped(engine, "Heading mismatch, looking for %ld, found %ld\n", record.endPosition,
                 position);
    PrintEscaped(engine, "Pass1 heading=%s\n", record.text.c_str());
  }
  if (!record.endText.empty()) {
    if (OutputContext* context = translate::CurrentOutput(engine)) {
      translate::ReleaseHeldText(engine);
      PutWrap(engine, record.endText, *context, 0);
    }
  }
}

void MatchChanged(Engine& engine, int matchIndex) {
  StructureState& s = engine.structure;
  if (engine.driver.pass != 1 || ChannelOf(engine) != 0) return;
  ChannelParagraphs& c = s.channels[0];
  if (!c.started || c.current < 0) return;
  ParagraphRecord& record = s.records[c.current];
  record.matchIndex = matchIndex;
  record.level = LevelOfMatch(engine, matchIndex);
}

int ParNumber(const Engine& engine) {
  const StructureState& s = engine.structure;
  const ChannelParagraphs& c = s.channels[0];
  const int index = engine.driver.pass == 2 ? c.paragraphRecord : (c.started ? c.current : -1);
  if (index < 0 || index >= static_cast<int>(s.records.size())) return 0;
  return s.records[index].level > 0 ? s.records[index].sequence : 0;
}

// ---- Resolution between the passes -------------------------------------------------------------

void ResolveHierarchy(Engine& engine) {
  StructureState& s = engine.structure;
  ParagraphRecords& records = s.records;
  const int n = static_cast<int>(records.size());
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

  for (ParagraphRecord& record : records) {
    record.parent = record.firstChild = record.nextPeer = -1;
    if (!record.textHeld) record.level = 0;
    if (record.level == 0) record.level = kPlainLevel;
  }
  int first = 0;
  while (first < n && records[first].level == kPlainLevel) {
    if (Tracing(engine))
      PrintEscaped(engine, "Line: %d peer: %d Leading Text %s\n", records[first].sequence, -1,
                   records[first].text.c_str());
    ++first;
  }
  if (first < n) SetLiteralSetting(engine, "FirstHeading", records[first].text);
  for (int i = first; i < n; ++i) {
    ParagraphRecord& record = records[i];
    if (record.parent < 0 && i > first) {
      int ancestor = records[i - 1].parent;
      while (ancestor >= 0 && records[ancestor].level >= record.level)
        ancestor = records[ancestor].parent;
      record.parent = ancestor;
    }
    const int next = i + 1;
    if (next < n && records[next].level > record.level) {
      record.firstChild = next;
      records[next].parent = i;
    }
    // The scan stops at the next record of this level or above; consecutive open scans have
    // strictly increasing levels, so the work is bounded by records times distinct levels.
    int j = next;
    while (j < n && records[j].level > record.level) ++j;
    if (j < n && records[j].level == record.level) {
      record.nextPeer = j;
      records[j].parent = record.parent;
    }
    if (record.level != kPlainLevel) ++s.headingCount;
  }

  // The file plan: every heading of level SplitDepth or above begins a file. Output to standard
  // output (no output name) cannot be split.
  const int splitDepth =
      SettingValue(engine, "OutFileName").empty() ? 0 : engine.settings.mirrors.splitDepth;
  for (int i = 0; i < n; ++i) {
    if (records[i].level != kPlainLevel && records[i].level <= splitDepth) {
      if (Tracing(engine))
        PrintEscaped(engine, "SplittingFile:%s,%d,%s\n", records[i].text.c_str(), s.fileCount,
                     engine.settings.paths.baseName.c_str());
      NewSplitFile(engine, i);
      ++s.fileCount;
    }
    records[i].fileNumber = s.fileCount - 1;
  }

  // Index entries and anchors hold the number of the paragraph they belong to; records are
  // numbered 1..n in order, so the record of a paragraph number is found directly.
  auto fileOfPlace = [&](int place) {
    if (place < 1) return 0;
    return records[(place > n ? n : place) - 1].fileNumber;
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
  for (ParagraphRecord& record : records)
    if (record.level == kPlainLevel) record.level = 0;
  if (Tracing(engine))
    PrintEscaped(engine, "num_headings: %d, num_files: %d\n", s.headingCount, s.fileCount);
}

}  // namespace quillo::structure
