// Recorded messages as plain text lines (quillocmd's standard error, QuilloLastMessages).
#include "base/message_lines.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace quillo {
namespace {

MessageRecord Record(std::string code, std::string text, long line = 0, int position = 0,
                     std::string input = "", int systemError = 0) {
  MessageRecord record;
  record.code = std::move(code);
  record.action = "message";
  record.text = std::move(text);
  record.line = line;
  record.position = position;
  record.input = std::move(input);
  record.systemError = systemError;
  return record;
}

MessageRecord Source(MessageRecord record, std::string source, long line) {
  record.source = std::move(source);
  record.sourceLine = line;
  return record;
}

TEST(MessageLinesTest, OneLinePerMessageWithWhereAndWhy) {
  struct Case {
    MessageRecord record;
    std::string expected;
  } cases[] = {
      {Record("MSG_NO_INPUT_FILE", "No input file given."),
       "MSG_NO_INPUT_FILE: No input file given.\n"},
      {Record("MSG_MALFORMED_RTF", "malformed rtf file", 1, 1, "a.rtf"),
       "a.rtf:1:1: MSG_MALFORMED_RTF: malformed rtf file\n"},
      {Record("ERR_FILE_OPEN_FAILED", "Open of x.html Failed", 0, 0, "a.rtf", EACCES),
       "a.rtf: ERR_FILE_OPEN_FAILED: Open of x.html Failed: Permission denied\n"},
      {Record("MSG_CANT_OPEN", "Can't open \"b.rtf\"", 0, 0, "", ENOENT),
       "MSG_CANT_OPEN: Can't open \"b.rtf\": No such file or directory\n"},
      // Further lines are indented; their own indent and trailing blanks go.
      {Record("MSG_INVALID_LEVELS", "Warning: level 1 followed by 3\n  (at \"A\")  \n\n", 3, 9,
              "d.rtf"),
       "d.rtf:3:9: MSG_INVALID_LEVELS: Warning: level 1 followed by 3\n  (at \"A\")\n"},
      // A translation file's message names that file and its line in place of the document's
      // place; one about the whole file names no line.
      {Source(Record("ERR_EXTRA_DATA", "extra data", 7, 3, "a.rtf"), "html.trn", 12),
       "html.trn:12: ERR_EXTRA_DATA: extra data\n"},
      {Source(Record("ERR_MISSING_TABLE", "Missing table .TTag", 0, 0, "a.rtf"), "x.trn", 0),
       "x.trn: ERR_MISSING_TABLE: Missing table .TTag\n"},
      // A code without text, and a text that starts on its second line.
      {Record("ERR_NO_TEXT", ""), "ERR_NO_TEXT\n"},
      {Record("MSG_X", "\nsecond"), "MSG_X\n  second\n"},
      // Control characters from a document cannot drive the terminal.
      {Record("MSG_NO_LINK_TARGET",
              "target:\x1b[2J\x07"
              "end",
              1, 2, "e\x1b.rtf"),
       "e?.rtf:1:2: MSG_NO_LINK_TARGET: target:?[2J?end\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatMessageRecord(c.record), c.expected);
}

TEST(MessageLinesTest, AllRecordsAndWhatWasNotKept) {
  std::vector<MessageRecord> records{Record("MSG_A", "first"), Record("MSG_B", "second")};
  EXPECT_EQ(FormatMessageRecords(records, 0), "MSG_A: first\nMSG_B: second\n");
  EXPECT_EQ(FormatMessageRecords(records, 7),
            "MSG_A: first\nMSG_B: second\n(7 more messages were not kept)\n");
  EXPECT_EQ(FormatMessageRecords({}, 0), "");
}

}  // namespace
}  // namespace quillo
