// The paragraph records of the main text (see structure/paragraphs.h).
#include "structure/paragraphs.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/spill_stream.h"

namespace quillo::structure {

namespace {

/// A plain record in the stream: start, end and previous mark (8 bytes each), the .PMatch entry
/// and the style number (4 bytes each), then the end text's length (4 bytes) and its bytes.
constexpr std::size_t kFixedBytes = 3 * 8 + 3 * 4;

template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

template <typename T>
T Take(const char*& in) {
  T value;
  std::memcpy(&value, in, sizeof value);
  in += sizeof value;
  return value;
}

/// Appends the stream to the spill file and empties it. Should the file not take it all, the
/// file is cut back to what it held, the stream stays and so does everything after it
/// (spillFailed).
void WriteStreamToSpill(ParagraphRecords& r) {
  std::FILE* file = r.spill.get();
  const std::size_t written = std::fwrite(r.stream.data(), 1, r.stream.size(), file);
  if (written == r.stream.size() && std::fflush(file) == 0) {
    r.spillBytes += static_cast<long>(written);
    r.stream.clear();
    return;
  }
  std::fflush(file);
  if (ftruncate(fileno(file), r.spillBytes) != 0) {
    // The tail cannot be cut: bytes past spillBytes are never read, so they do no harm.
  }
  std::fseek(file, r.spillBytes, SEEK_SET);
  r.spillFailed = true;
}

/// Moves the stream into the spill file (made on first need) once it has outgrown memory.
void SpillIfLarge(ParagraphRecords& r) {
  if (r.stream.size() < ParagraphRecords::kMemoryBytes || r.spillFailed) return;
  if (!r.spill) {
    r.spill.reset(std::tmpfile());
    if (!r.spill) {
      r.spillFailed = true;
      return;
    }
  }
  WriteStreamToSpill(r);
}

void FilePlain(ParagraphRecords& r, const ParagraphRecord& record) {
  Put<int64_t>(r.stream, record.startPosition);
  Put<int64_t>(r.stream, record.endPosition);
  Put<int64_t>(r.stream, record.previousMark);
  Put<int32_t>(r.stream, record.matchIndex);
  Put<int32_t>(r.stream, record.styleNumber);
  Put<uint32_t>(r.stream, static_cast<uint32_t>(record.endText.size()));
  r.stream += record.endText;
  SpillIfLarge(r);
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

/// Copies `n` bytes of the stream at the reader's position to `out`: the spill file first (read
/// in blocks), then the bytes still in memory. False at the end of the data.
bool ReadBytes(ParagraphRecords& r, char* out, std::size_t n) {
  while (n > 0) {
    if (r.readingSpill) {
      if (r.readPosition >= r.readBuffer.size()) {
        const long left = r.spillBytes - r.spillRead;
        r.readBuffer.resize(std::min<std::size_t>(ParagraphRecords::kReadBlock,
                                                  static_cast<std::size_t>(left > 0 ? left : 0)));
        const std::size_t got =
            r.readBuffer.empty()
                ? 0
                : std::fread(r.readBuffer.data(), 1, r.readBuffer.size(), r.spill.get());
        r.spillRead += static_cast<long>(got);
        r.readBuffer.resize(got);
        r.readPosition = 0;
        if (got == 0) {
          r.readingSpill = false;  // the file is done: the memory part follows
          r.readBuffer.clear();
          r.readBuffer.shrink_to_fit();
          continue;
        }
      }
      const std::size_t take = std::min(n, r.readBuffer.size() - r.readPosition);
      std::memcpy(out, r.readBuffer.data() + r.readPosition, take);
      r.readPosition += take;
      out += take;
      n -= take;
      continue;
    }
    if (r.readPosition + n > r.stream.size()) return false;
    std::memcpy(out, r.stream.data() + r.readPosition, n);
    r.readPosition += n;
    return true;
  }
  return true;
}

/// Starts reading the plain records from the first.
void Rewind(ParagraphRecords& r) {
  r.readPosition = 0;
  r.readBuffer.clear();
  r.spillRead = 0;
  r.readingSpill = r.spill != nullptr && r.spillBytes > 0;
  if (r.readingSpill) std::fseek(r.spill.get(), 0, SEEK_SET);
  r.readOrdinal = -1;
  r.readRecord = -1;
}

/// Reads the next plain record into plainView (its record number aside). False past the end.
bool ReadNextPlain(ParagraphRecords& r) {
  char fixed[kFixedBytes];
  if (!ReadBytes(r, fixed, sizeof fixed)) return false;
  const char* in = fixed;
  ParagraphRecord& v = r.plainView;
  v.startPosition = static_cast<long>(Take<int64_t>(in));
  v.endPosition = static_cast<long>(Take<int64_t>(in));
  v.previousMark = static_cast<long>(Take<int64_t>(in));
  v.matchIndex = Take<int32_t>(in);
  v.styleNumber = Take<int32_t>(in);
  const uint32_t length = Take<uint32_t>(in);
  v.endText.resize(length);
  if (length > 0 && !ReadBytes(r, v.endText.data(), length)) return false;
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
  // Everything into the file, so that the memory part is released.
  if (records.spill && !records.spillFailed && !records.stream.empty()) {
    WriteStreamToSpill(records);
    if (records.stream.empty()) records.stream.shrink_to_fit();
  }
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
