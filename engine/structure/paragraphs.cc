// The paragraph records of the main text (see structure/paragraphs.h).
#include "structure/paragraphs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/spill_stream.h"

namespace quillo::structure {

namespace {

/// A plain record in the stream: start, end and previous mark (8 bytes each), the .PMatch entry
/// and the style number (4 bytes each), then the end text's length (4 bytes) and its bytes. The
/// fixed part is put together here and appended (and read back) in one piece.
constexpr std::size_t kFixedBytes = 3 * 8 + 3 * 4;

template <typename T>
char* Put(char* out, T value) {
  std::memcpy(out, &value, sizeof value);
  return out + sizeof value;
}

template <typename T>
T Take(const char*& in) {
  T value;
  std::memcpy(&value, in, sizeof value);
  in += sizeof value;
  return value;
}

void FilePlain(ParagraphRecords& r, const ParagraphRecord& record) {
  char fixed[kFixedBytes];
  char* at = Put<int64_t>(fixed, record.startPosition);
  at = Put<int64_t>(at, record.endPosition);
  at = Put<int64_t>(at, record.previousMark);
  at = Put<int32_t>(at, record.matchIndex);
  at = Put<int32_t>(at, record.styleNumber);
  Put<uint32_t>(at, static_cast<uint32_t>(record.endText.size()));
  r.plain.Append(fixed, sizeof fixed);
  r.plain.Append(record.endText);
}

/// A heading's record apart from its links: .PMatch entry and style (4 bytes each), start, end
/// and previous mark (8 bytes each), then its text and end text, each as a 4-byte length and the
/// bytes.
void FileHeading(ParagraphRecords& r, const ParagraphRecord& record) {
  HeadingRecord& heading = r.headings.emplace_back();
  heading.nextPeer = record.nextPeer;
  heading.parent = record.parent;
  heading.firstChild = record.firstChild;
  heading.level = record.level;
  heading.fileNumber = record.fileNumber;
  SpillStream& out = r.headingDetails;
  heading.detail = out.Size();
  out.Put<int32_t>(record.matchIndex);
  out.Put<int32_t>(record.styleNumber);
  out.Put<int64_t>(record.startPosition);
  out.Put<int64_t>(record.endPosition);
  out.Put<int64_t>(record.previousMark);
  for (const std::string* text : {&record.text, &record.endText}) {
    out.Put<uint32_t>(static_cast<uint32_t>(text->size()));
    out.Append(*text);
  }
  r.headingIndex.push_back(r.count - 1);
}

/// Heading `slot` whole (record number `index`).
void ReadHeading(const ParagraphRecords& r, std::size_t slot, int index, ParagraphRecord& out) {
  const HeadingRecord& heading = r.headings[slot];
  out.nextPeer = heading.nextPeer;
  out.parent = heading.parent;
  out.firstChild = heading.firstChild;
  out.level = heading.level;
  out.fileNumber = heading.fileNumber;
  out.sequence = index + 1;
  out.textHeld = true;
  SpillReader in(r.headingDetails, heading.detail);
  out.matchIndex = in.Take<int32_t>();
  out.styleNumber = in.Take<int32_t>();
  out.startPosition = static_cast<long>(in.Take<int64_t>());
  out.endPosition = static_cast<long>(in.Take<int64_t>());
  out.previousMark = static_cast<long>(in.Take<int64_t>());
  for (std::string* text : {&out.text, &out.endText}) in.TakeBytes(*text, in.Take<uint32_t>());
}

/// Files the open record: a heading's links in memory and the rest in its stream, any other
/// paragraph into the plain stream.
void FileOpen(ParagraphRecords& r) {
  if (!r.hasOpen) return;
  r.hasOpen = false;
  if (r.open.textHeld) {
    FileHeading(r, r.open);
  } else {
    FilePlain(r, r.open);
  }
  r.open = ParagraphRecord();
}

/// Position of record `index` among the headings (lower bound).
std::size_t HeadingSlot(const ParagraphRecords& r, int index) {
  return static_cast<std::size_t>(
      std::lower_bound(r.headingIndex.begin(), r.headingIndex.end(), index) -
      r.headingIndex.begin());
}

/// Starts reading the plain records from the first.
void Rewind(ParagraphRecords& r) {
  r.readOffset = 0;
  r.readOrdinal = -1;
  r.readRecord = -1;
}

/// Reads the next plain record into plainView (its record number aside). False past the end.
bool ReadNextPlain(ParagraphRecords& r) {
  char fixed[kFixedBytes];
  if (!r.plain.ReadAt(r.readOffset, fixed, sizeof fixed)) return false;
  const char* in = fixed;
  ParagraphRecord& v = r.plainView;
  v.startPosition = static_cast<long>(Take<int64_t>(in));
  v.endPosition = static_cast<long>(Take<int64_t>(in));
  v.previousMark = static_cast<long>(Take<int64_t>(in));
  v.matchIndex = Take<int32_t>(in);
  v.styleNumber = Take<int32_t>(in);
  const uint32_t length = Take<uint32_t>(in);
  v.endText.resize(length);
  if (length > 0 && !r.plain.ReadAt(r.readOffset + sizeof fixed, v.endText.data(), length))
    return false;
  r.readOffset += sizeof fixed + length;
  ++r.readOrdinal;
  return true;
}

}  // namespace

void AddRecord(ParagraphRecords& records, ParagraphRecord record) {
  FileOpen(records);
  records.open = std::move(record);
  records.hasOpen = true;
  records.finished = false;
  ++records.count;
}

ParagraphRecord& OpenRecord(ParagraphRecords& records) { return records.open; }

void FinishRecords(ParagraphRecords& records) {
  if (records.finished) return;
  FileOpen(records);
  records.plain.SpillRest();  // everything into the file, so that the memory part is released
  records.finished = true;
  Rewind(records);
}

bool IsKeptWhole(const ParagraphRecords& records, int index) {
  if (records.hasOpen && index == records.count - 1) return true;
  const std::size_t slot = HeadingSlot(records, index);
  return slot < records.headingIndex.size() && records.headingIndex[slot] == index;
}

ParagraphRecord RecordAt(const ParagraphRecords& records, int index) {
  if (records.hasOpen && index == records.count - 1) return records.open;
  const std::size_t slot = HeadingSlot(records, index);
  ParagraphRecord shown;
  if (slot < records.headingIndex.size() && records.headingIndex[slot] == index) {
    ReadHeading(records, slot, index, shown);
    return shown;
  }
  shown.sequence = index + 1;
  shown.fileNumber = slot == 0 ? 0 : records.headings[slot - 1].fileNumber;
  return shown;
}

int NextHeading(const ParagraphRecords& records, int from) {
  if (from < 0) from = 0;
  const std::size_t slot = HeadingSlot(records, from);
  int next = slot < records.headingIndex.size() ? records.headingIndex[slot] : records.count;
  if (records.hasOpen && records.open.level != 0 && records.count - 1 >= from &&
      records.count - 1 < next)
    next = records.count - 1;
  return next;
}

const ParagraphRecord& RecordInOrder(ParagraphRecords& records, int index) {
  if (records.hasOpen && index == records.count - 1) return records.open;
  const std::size_t slot = HeadingSlot(records, index);
  if (slot < records.headingIndex.size() && records.headingIndex[slot] == index) {
    ReadHeading(records, slot, index, records.headingView);
    return records.headingView;
  }
  FinishRecords(records);
  ParagraphRecord& view = records.plainView;
  if (records.readRecord == index) return view;
  const int ordinal = index - static_cast<int>(slot);
  if (ordinal <= records.readOrdinal) Rewind(records);
  while (records.readOrdinal < ordinal) {
    if (!ReadNextPlain(records)) {
      // Past the data (cannot happen for a record that was made): an empty record.
      view = ParagraphRecord();
      break;
    }
  }
  records.readRecord = index;
  view.sequence = index + 1;
  view.fileNumber = slot == 0 ? 0 : records.headings[slot - 1].fileNumber;
  return view;
}

std::string HeadingText(const ParagraphRecords& records, int k) {
  const std::size_t slot = static_cast<std::size_t>(k);
  ParagraphRecord heading;
  ReadHeading(records, slot, records.headingIndex[slot], heading);
  return heading.text;
}

}  // namespace quillo::structure
