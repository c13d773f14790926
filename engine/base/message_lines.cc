#include "base/message_lines.h"

#include <cstring>
#include <string>
#include <string_view>

namespace quillo {
namespace {

/// Appends `text` with control characters (other than tab) replaced by '?'.
void AppendSafe(std::string& out, std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += (u < 0x20 && c != '\t') || u == 0x7f ? '?' : c;
  }
}

}  // namespace

std::string FormatMessageRecord(const MessageRecord& record) {
  std::string out;
  if (!record.source.empty()) {
    // A message about a translation file or a map names that file's line, not the document's.
    AppendSafe(out, record.source);
    out += ':';
    if (record.sourceLine > 0) out += std::to_string(record.sourceLine) + ':';
  } else if (!record.input.empty()) {
    AppendSafe(out, record.input);
    out += ':';
  }
  if (record.source.empty() && record.line > 0) {
    out += std::to_string(record.line) + ':' + std::to_string(record.position) + ':';
  }
  if (!out.empty()) out += ' ';
  AppendSafe(out, record.code);

  std::string_view text = record.text;
  bool first = true;
  while (!text.empty() || first) {
    std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    if (!first) {
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    }
    if (first) {
      if (!line.empty()) {
        out += ": ";
        AppendSafe(out, line);
      }
      if (record.systemError != 0) {
        out += ": ";
        // strerror_r (the GNU form returns the text): engines on other threads format their
        // messages at the same time, and strerror may share one buffer between them.
        char buffer[256];
        out += strerror_r(record.systemError, buffer, sizeof buffer);
      }
      out += '\n';
      first = false;
    } else if (!line.empty()) {
      out += "  ";
      AppendSafe(out, line);
      out += '\n';
    }
  }
  return out;
}

std::string FormatMessageRecords(const std::vector<MessageRecord>& records, long dropped) {
  std::string out;
  for (const MessageRecord& record : records) out += FormatMessageRecord(record);
  if (dropped > 0) out += "(" + std::to_string(dropped) + " more messages were not kept)\n";
  return out;
}

}  // namespace quillo
