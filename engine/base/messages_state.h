// Message records and the state of the message reporter (see base/messages.h).
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

/// Thrown by the fatal sink and by action "eof": unwinds the running conversion to its entry
/// point, which closes the error file and returns failure. Never crosses the C interface.
class ConversionAbandoned : public std::exception {
 public:
  const char* what() const noexcept override { return "conversion abandoned"; }
};

/// One typed message parameter: 'i' (int), 'l' (long), 'x' (int printed in hex), 's' (text).
struct MsgArg {
  char type;
  long number = 0;
  std::string text;
  MsgArg(int n) : type('i'), number(n) {}
  MsgArg(long n) : type('l'), number(n) {}
  MsgArg(const char* s) : type('s'), text(s ? s : "") {}
  MsgArg(std::string_view s) : type('s'), text(s) {}
  MsgArg(const std::string& s) : type('s'), text(s) {}
  static MsgArg Hex(int n) {
    MsgArg a(n);
    a.type = 'x';
    return a;
  }
};

/// One reported message as a host reads it back after the conversion (the error file holds the
/// same message as HTML).
struct MessageRecord {
  std::string code;    ///< message code, "ERR_FILE_OPEN_FAILED"
  std::string action;  ///< "message", "panic" or "eof"
  std::string text;    ///< the message text as plain text: markup removed, entities decoded
  long line = 0;       ///< input line of the last token read; 0 when no token had been read
  int position = 0;    ///< column of that token on its line
  std::string input;   ///< the input being converted (InputFile); "" before one is known
  /// The file other than the document that was being read when the message arose (a
  /// translation file, a character map) and the line in it; "" and 0 for every other message.
  std::string source;
  long sourceLine = 0;
  /// errno of the failed open or write the message is about (a file that could not be opened,
  /// created or written); 0 for every other message.
  int systemError = 0;
};

/// A file other than the document whose reader is at work: while it reads, it is set as
/// MessageState::source (through MessageSourceScope), and every message raised meanwhile records
/// that file and the line the reader has reached. The interface lets a reader of any layer give
/// the reporter a place without the reporter knowing the reader.
class MessageSource {
 public:
  virtual std::string SourceName() const = 0;
  virtual long SourceLine() const = 0;

 protected:
  ~MessageSource() = default;
};

struct MessageState {
  /// The file being read besides the document, or nullptr (see MessageSource).
  const MessageSource* source = nullptr;
  std::string errorFileName;       ///< "" = messages go to standard error
  FileEntry* errorFile = nullptr;  ///< open error file, created by the first printed message
  bool errorFileClosed = false;    ///< set when closed during this conversion
  bool discardPrinted = false;     ///< DisableErrorFile: the print sink drops text
  /// While there is no error file, printed text goes to standard error. A host that shows the
  /// recorded messages itself (quillocmd) turns this off so that nothing is shown twice; texts
  /// that are no recorded message (Debug traces, internal fatal texts) still go there.
  bool stderrFallback = true;
  bool printingRecord = false;  ///< ReportMessage is writing the text of a recorded message
  /// Depth of ReportMessage calls in progress. A message text or action may itself raise a
  /// message (an undefined function, say); the depth is bounded so that this can never recurse
  /// without end.
  int inReport = 0;
  unsigned long reportCount = 0;  ///< messages raised since the engine was made (any kind)
  static constexpr int kMaxNestedReports = 4;
  /// Messages of the current (or last) conversion, in the order reported; progress reports and
  /// ignored messages are not kept. Cleared by each conversion entry (a batch keeps the messages
  /// of all its files). At most kMaxRecorded are kept so that a document raising a message per
  /// character cannot grow this without bound; `droppedRecords` counts the rest.
  std::vector<MessageRecord> recorded;
  long droppedRecords = 0;
  static constexpr std::size_t kMaxRecorded = 1000;
};

/// Makes `source` the place of the messages raised during its lifetime; the previous place comes
/// back at its end (a translation file read while a character map is read, say).
class MessageSourceScope {
 public:
  MessageSourceScope(MessageState& state, const MessageSource* source)
      : state_(state), saved_(state.source) {
    state_.source = source;
  }
  MessageSourceScope(const MessageSourceScope&) = delete;
  MessageSourceScope& operator=(const MessageSourceScope&) = delete;
  ~MessageSourceScope() { state_.source = saved_; }

 private:
  MessageState& state_;
  const MessageSource* saved_;
};

}  // namespace quillo
