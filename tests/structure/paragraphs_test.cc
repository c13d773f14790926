// The paragraph records: headings' links in memory and the rest of them streamed, plain paragraphs
// streamed (to a temporary file once they outgrow memory) and read back in order, whatever their
// number.
#include "structure/paragraphs.h"

#include <gtest/gtest.h>

#include <string>

namespace quillo::structure {
namespace {

/// Record i: every 100th a heading of level 1 + (i / 100) % 3, the others plain with an end text
/// that tells them apart.
ParagraphRecord Made(int i) {
  ParagraphRecord record;
  record.sequence = i + 1;
  record.startPosition = 10L * i;
  record.endPosition = i % 7 == 3 ? -1 : 10L * i + 5;
  record.previousMark = 10L * i - 1;
  record.matchIndex = i % 5;
  record.styleNumber = i % 11;
  if (i % 100 == 0) {
    record.level = 1 + (i / 100) % 3;
    record.text = "heading " + std::to_string(i);
    record.textHeld = true;
  }
  record.endText = i % 3 == 0 ? std::string() : "</p end " + std::to_string(i) + ">";
  return record;
}

void ExpectSame(const ParagraphRecord& got, int i) {
  const ParagraphRecord want = Made(i);
  EXPECT_EQ(got.sequence, want.sequence) << i;
  EXPECT_EQ(got.startPosition, want.startPosition) << i;
  EXPECT_EQ(got.endPosition, want.endPosition) << i;
  EXPECT_EQ(got.previousMark, want.previousMark) << i;
  EXPECT_EQ(got.matchIndex, want.matchIndex) << i;
  EXPECT_EQ(got.styleNumber, want.styleNumber) << i;
  EXPECT_EQ(got.endText, want.endText) << i;
  EXPECT_EQ(got.level, want.level) << i;
  EXPECT_EQ(got.text, want.text) << i;
}

TEST(ParagraphRecordsTest, ManyParagraphsGoThroughTheTemporaryFileAndComeBackInOrder) {
  for (int count : {0, 1, 250, 120000}) {
    ParagraphRecords records;
    for (int i = 0; i < count; ++i) {
      AddRecord(records, Made(i));
      // The open record is whole and may still change until the next one is made.
      ASSERT_TRUE(IsKeptWhole(records, i));
      EXPECT_EQ(OpenRecord(records).sequence, i + 1);
    }
    FinishRecords(records);
    EXPECT_EQ(RecordCount(records), count);
    if (count == 120000) {
      // Well beyond the memory part: all of it went to the temporary file.
      EXPECT_GT(records.plain.SpilledBytes(), 0u);
      EXPECT_EQ(records.plain.SpilledBytes(), records.plain.Size());
    }
    for (int i = 0; i < count; ++i) ExpectSame(RecordInOrder(records, i), i);
    // Asked again from an earlier record, the stream is read from its start.
    if (count > 5) {
      ExpectSame(RecordInOrder(records, 5), 5);
      ExpectSame(RecordInOrder(records, count - 1), count - 1);
      ExpectSame(RecordInOrder(records, 1), 1);
    }
  }
}

TEST(ParagraphRecordsTest, PlainRecordsShowLevelZeroAndTheFileOfTheHeadingBefore) {
  ParagraphRecords records;
  for (int i = 0; i < 350; ++i) AddRecord(records, Made(i));
  FinishRecords(records);
  for (int k = 0; k < static_cast<int>(Headings(records).size()); ++k)
    Headings(records)[static_cast<std::size_t>(k)].fileNumber = 10 + k;
  EXPECT_EQ(RecordAt(records, 0).fileNumber, 10);
  EXPECT_EQ(RecordAt(records, 99).level, 0);
  EXPECT_EQ(RecordAt(records, 99).sequence, 100);
  EXPECT_EQ(RecordAt(records, 99).fileNumber, 10);
  EXPECT_EQ(RecordAt(records, 100).fileNumber, 11);
  EXPECT_EQ(RecordAt(records, 100).text, "heading 100");
  EXPECT_EQ(RecordAt(records, 349).fileNumber, 13);
  EXPECT_EQ(RecordInOrder(records, 150).fileNumber, 11);
  EXPECT_EQ(NextHeading(records, 0), 0);
  EXPECT_EQ(NextHeading(records, 1), 100);
  EXPECT_EQ(NextHeading(records, 301), 350);
  EXPECT_EQ(HeadingRecordIndex(records, 2), 200);
}

TEST(ParagraphRecordsTest, ManyHeadingsKeepOnlyTheirLinksInMemory) {
  // Every paragraph a heading with a long text: their texts and positions go through the
  // temporary file, and each heading comes back whole, in order or not.
  constexpr int kCount = 40000;
  auto made = [](int i) {
    ParagraphRecord record = Made(i * 100);
    record.sequence = i + 1;
    record.text = std::string(60, static_cast<char>('a' + i % 26)) + std::to_string(i);
    return record;
  };
  ParagraphRecords records;
  for (int i = 0; i < kCount; ++i) AddRecord(records, made(i));
  FinishRecords(records);
  ASSERT_EQ(Headings(records).size(), static_cast<std::size_t>(kCount));
  EXPECT_GT(records.headingDetails.SpilledBytes(), 0u);
  for (int i : {kCount - 1, 0, 12345, 7}) {
    const ParagraphRecord want = made(i);
    const ParagraphRecord got = RecordAt(records, i);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.endText, want.endText);
    EXPECT_EQ(got.level, want.level);
    EXPECT_EQ(got.startPosition, want.startPosition);
    EXPECT_EQ(got.matchIndex, want.matchIndex);
    EXPECT_EQ(HeadingText(records, i), want.text);
  }
  for (int i = 0; i < kCount; ++i) {
    const ParagraphRecord& got = RecordInOrder(records, i);
    ASSERT_EQ(got.text, made(i).text) << i;
    ASSERT_EQ(got.previousMark, made(i).previousMark) << i;
  }
}

TEST(ParagraphRecordsTest, AnOpenHeadingParagraphCountsAsAHeading) {
  ParagraphRecords records;
  AddRecord(records, Made(1));
  ParagraphRecord open = Made(2);
  open.level = 2;  // a heading paragraph whose end has not come yet
  AddRecord(records, open);
  EXPECT_EQ(NextHeading(records, 0), 1);
  EXPECT_EQ(RecordAt(records, 1).level, 2);
  FinishRecords(records);  // never ended, so never held its text: a plain paragraph
  EXPECT_EQ(NextHeading(records, 0), 2);
  EXPECT_EQ(RecordAt(records, 1).level, 0);
}

}  // namespace
}  // namespace quillo::structure
