// Recorded messages as plain text lines, for a terminal or a log: quillocmd's standard-error
// lines and QuilloLastMessages. Depends only on the message records.
#pragma once

#include <string>
#include <vector>

#include "base/messages.h"

namespace quillo {

/// One message as plain text:
///   "INPUT:LINE:POSITION: CODE: text[: system reason]\n" and each further line of the text
///   indented by two blanks. INPUT is left out (with its colon) when no input was named, LINE and
///   POSITION when no token had been read. A message raised while a translation file or a map
///   was read begins "SOURCE:LINE:" (that file and its line; LINE is left out when the message
///   is about the whole file) in place of INPUT:LINE:POSITION. Control characters from the document
///   are shown as '?' so that a message cannot drive the terminal.
std::string FormatMessageRecord(const MessageRecord& record);

/// Every record formatted, in order, followed by "(N more messages were not kept)\n" when
/// `dropped` is positive. "" when there are none.
std::string FormatMessageRecords(const std::vector<MessageRecord>& records, long dropped);

}  // namespace quillo
