// State of the document structure: paragraphs, files, anchors, index (see structure/structure.h).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "base/spill_stream_state.h"
#include "translate/translate_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace structure {

/// One paragraph of the main text, made in pass 1 and read again in pass 2. Records live in a
/// vector in document order, so "next" is the following element and links are indexes.
struct ParagraphRecord {
  int nextPeer = -1;    ///< next record of the same level under the same parent; -1 = none
  int parent = -1;      ///< nearest preceding record of a lower level number; -1 = none
  int firstChild = -1;  ///< the following record when its level number is higher; -1 = none
  int level = 0;        ///< heading level, 1 highest; 0 = no heading
  int sequence = 0;     ///< 1-based number of the paragraph in pass 1
  int fileNumber = 0;   ///< output file that holds the paragraph (0 = the first file)
  int matchIndex = -1;  ///< .PMatch entry of the paragraph
  int styleNumber = 0;  ///< RTF style number, for the trace
  bool textHeld = false;
  std::string text;         ///< output text of the paragraph; kept for headings only
  std::string endText;      ///< "$EndPar;" as expanded at the end of the paragraph in pass 1
  long startPosition = -1;  ///< reader position when the paragraph's content began
  long endPosition = -1;    ///< reader position at the paragraph mark; -1 = never ended
  /// Reader position of the paragraph mark before this paragraph (0 at the start). Pass 2 uses
  /// it to find the record of the paragraph it is in by position, not by counting, so output
  /// that only pass 2 writes (pictures, field replacements) cannot shift the records.
  long previousMark = 0;
};

/// What memory keeps of a heading's record: its place in the hierarchy and its file. The rest
/// (positions, .PMatch entry, style, text, end text) is in ParagraphRecords::headingDetails from
/// `detail` on.
struct HeadingRecord {
  int nextPeer = -1;
  int parent = -1;
  int firstChild = -1;
  int level = 0;
  int fileNumber = 0;
  std::uint64_t detail = 0;
};

/// The records of the main text's paragraphs, numbered 0..count-1 in document order. Headings keep
/// their links and file number in memory (the resolution sets them, the contents and the file
/// plan walk them) and the rest in a stream, read when a heading is looked at. Every other
/// paragraph is only read again by pass 2, in order, and only for its positions,
/// its end text and the trace: it is appended to a SpillStream (memory, then an anonymous
/// temporary file), so that memory does not grow with the number of paragraphs. The last record
/// stays open (whole, changeable) until the next one is made or the records are finished.
/// structure/paragraphs.h reads and writes them.
struct ParagraphRecords {
  int count = 0;                       ///< records made
  std::deque<HeadingRecord> headings;  ///< the headings in document order (a deque: it grows
                                       ///< without copying or doubling its block)
  std::vector<int> headingIndex;       ///< record number of each heading
  mutable SpillStream headingDetails;  ///< the rest of each heading's record (see HeadingRecord)
  ParagraphRecord open;                ///< record count-1 while `hasOpen`
  bool hasOpen = false;

  // Plain paragraphs, in document order: written in pass 1, read back in pass 2.
  SpillStream plain;             ///< the encoded plain records
  bool finished = false;         ///< FinishRecords ran: the stream is complete and may be read
  std::uint64_t readOffset = 0;  ///< where the next plain record starts in `plain`
  int readRecord = -1;           ///< record number of `plainView`'s paragraph data, -1 none
  int readOrdinal = -1;          ///< its number among the plain records
  ParagraphRecord plainView;     ///< the plain record last read in order
  ParagraphRecord headingView;   ///< the heading RecordInOrder returned last
};

/// One split output file (file k is files[k - 1]; file 0, the title file, has no record).
struct FileRecord {
  int heading = -1;    ///< the record of the heading that begins the file
  std::string suffix;  ///< put between the base name and "." + HtmlExt
};

/// A named anchor (RTF bookmark) seen in pass 1.
struct AnchorRecord {
  std::string name;
  int place = 0;  ///< paragraph count when made; the file number after resolution
};

/// An index entry (RTF \xe and \tc groups, the IndexEntry built-in).
struct IndexRecord {
  int number = 0;    ///< n of its anchor "Index<n>"; 0 for a cross-reference entry
  int place = 0;     ///< paragraph count when made; the file number after resolution
  std::string text;  ///< levels separated by the character with code 1
  std::string crossReference;
};

/// Paragraph bookkeeping of one text channel (the main text, the footnote text) in one pass.
struct ChannelParagraphs {
  bool started = false;      ///< the current paragraph has begun (content arrived after its mark)
  int current = -1;          ///< pass 1: record of the current paragraph; pass 2: the last found
  int paragraphRecord = -1;  ///< pass 2: record of the current paragraph; -1 = none
  long lastMark = 0;         ///< reader position of the last paragraph mark in this channel
};

/// Headings, file plan, anchors, index entries and the generated pages of one conversion. Reset
/// at each conversion's set-up; the records are made in pass 1 and only read afterwards.
struct StructureState {
  // ---- Records made in pass 1 ----
  ParagraphRecords records;           ///< paragraphs of the main text, in document order
  std::vector<FileRecord> files;      ///< split files in document order
  std::vector<AnchorRecord> anchors;  ///< bookmarks in document order
  std::vector<IndexRecord> entries;   ///< index entries in document order
  int firstPendingAnchor = -1;        ///< anchors made since the last paragraph end begin here
  int firstPendingEntry = -1;  ///< index entries made since the last paragraph end begin here
  int previousLevel = 0;       ///< level of the previous paragraph (the level check)

  // ---- Results of the resolution between the passes ----
  bool resolved = false;
  int headingCount = 0;  ///< headings counted at resolution (trace only)
  int fileCount = 1;     ///< output files planned: the title file plus the split files

  // ---- Pass state ----
  ChannelParagraphs channels[2];  ///< main text, footnote text
  int anchorCursor = -1;          ///< pass 2: the anchor last written
  int entryCursor = -1;           ///< pass 2: the index entry last met
  int runningEntry = 0;           ///< running number of index entries in this pass
  int pendingHeadingAnchor = -1;  ///< pass 2: heading whose "Heading<n>" anchor is still due
  bool changingFile = false;      ///< a file change is running
  int listFileCursor = 0;         ///< the ListFile walk: next file number to return

  // ---- Frame page ----
  long titleHeadEnd = -1;  ///< output position after the title page's head
  long lastBodyEnd = -1;   ///< output position after the body of the last closed file
};

}  // namespace structure
}  // namespace quillo
