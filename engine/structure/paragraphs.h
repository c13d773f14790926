// The paragraph records of the main text (structure_state.h, ParagraphRecords): headings' links in
// memory and the rest of them in a stream, every other paragraph written compactly to a stream
// (memory, then a temporary file) and read back in order by pass 2.
#pragma once

#include "structure/structure_state.h"

namespace quillo::structure {

/// Number of records made.
inline int RecordCount(const ParagraphRecords& records) { return records.count; }

/// Pass 1: makes `record` the new last record, open to changes; the one before is filed.
void AddRecord(ParagraphRecords& records, ParagraphRecord record);
/// The open record (the last one): pass 1 changes it until the next is made.
ParagraphRecord& OpenRecord(ParagraphRecords& records);
/// Files the open record and makes the stream readable. Idempotent.
void FinishRecords(ParagraphRecords& records);

/// True when record `index` is a heading (or the open record): RecordAt shows it whole.
bool IsKeptWhole(const ParagraphRecords& records, int index);
/// Record `index` as the structure reads it: a heading (or the open record) whole; any other
/// paragraph as level 0 with its sequence number and file number, and nothing else (its
/// positions and end text are read in order by RecordInOrder). A copy: a heading's record is put
/// together from its links and the stream.
ParagraphRecord RecordAt(const ParagraphRecords& records, int index);
/// The kept text of heading k (the k-th heading, HeadingRecordIndex).
std::string HeadingText(const ParagraphRecords& records, int k);
/// The first record from `from` on whose level is not 0 (a heading, or the open record of a
/// heading paragraph); RecordCount when there is none.
int NextHeading(const ParagraphRecords& records, int from);
/// Record `index` whole, a plain one included (read from the stream, which is cheap when the
/// indexes asked for go forward as pass 2 goes). Valid until the next call.
const ParagraphRecord& RecordInOrder(ParagraphRecords& records, int index);
/// The headings, whole, for the resolution between the passes (which sets their links and file
/// numbers); `HeadingRecordIndex(records, k)` is the record number of heading k.
inline std::deque<HeadingRecord>& Headings(ParagraphRecords& records) { return records.headings; }
inline int HeadingRecordIndex(const ParagraphRecords& records, int k) {
  return records.headingIndex[static_cast<std::size_t>(k)];
}

}  // namespace quillo::structure
