// The message reporter and the error file: actions and texts looked up by code, typed parameters
// bound as MsgParam1..n, the host callback, the print and fatal sinks, and the HTML error file
// created lazily beside the output.
#include "base/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/file_table.h"
#include "base/hooks.h"
#include "base/html_escape.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo {
namespace {

// ---------------------------------------------------------------------------------------------
// Default texts and actions

struct DefaultMessage {
  const char* code;
  const char* text;
};

constexpr DefaultMessage kDefaultMessages[] = {
    {"MSG_TMP_OPEN_FAIL", "Open of temporary file Failed\n"},
    {"MSG_NO_LINK_TARGET", "Could not find the target for hypertext link:$MsgParam1;\n"},
    {"MSG_RESOLVE_HEAD", "Warning: Couldn't resolve \"$MsgParam1;\"!\n"},
    {"MSG_VERSION", "$TransCMD; Version $MsgParam1;"},
    {"MSG_UNKNOWN_OPTION", "Don't understand option:$MsgParam1;.\n"},
    {"MSG_CANT_OPEN", "Can't open \"$MsgParam1;\"\n"},
    {"MSG_NO_INPUT_FILE", "No input file given.\n"},
    {"MSG_MALFORMED_RTF", "malformed rtf file - does not begin with \"$MsgParam1;\"\n"},
    {"MSG_NO_LOGFILE", "Can not create/open log file \"$MsgParam1;\"\n"},
    {"MSG_PARAM_REQUIRED", "Parameter required for $MsgParam1; option.\n"},
    {"MSG_INCORRECT_SYMBOL", "Found incorrect symbol the new way\n"},
    {"MSG_PREMATURE_EOF", "Premature end-of-file reading binary image\n"},
    {"MSG_STACK_FULL", "Error, State Stack is null\n$Context();"},
    {"MSG_STACK_UNDERFLOW", "Stack Underflow on $MsgParam1;\n"},
    {"MSG_STACK_OVERFLOW", "Stack Overflow on $MsgParam1;\n"},
    {"MSG_DIVIDE_0", "Divide by Zero in $MsgParam1;\n"},
    {"MSG_MOD_0", "Mod by Zero in $MsgParam1;\n"},
    {"MSG_STACK_INVALID", "Incorrect number of values ($MsgParam1;) left on stack $MsgParam2;\n"},
    {"MSG_INVALID_FUNC", "Invalid function name:$MsgParam1;\n"},
    {"MSG_NO_CALLBACK", "Error: CallBack routine not defined\n"},
    {"MSG_INDEX_RANGE",
     "Error in $MsgParam1;, at step $MsgParam2; - Argument Index ($MsgParam3;)  out of Range\n"},
    {"MSG_TEST_STYLE_REC", "Test Style Recursion\n$Context();"},
    {"MSG_HREF_START", "Error, at start of hot, empty href\n$Context();"},
    {"MSG_HREF_END", "Error, at end of href, hot text not found\n$Context();"},
    {"MSG_STYLE_NEST_ERROR",
     "Error, found style:$MsgParam1; at a nesting level of $MsgParam2;\n$Context();"},
    {"MSG_STACK_POP_ERR", "Input State Stack Popped too many times\n"},
    {"MSG_BAD_PROG_LOGIC", "Bad program logic:regexp $MsgParam1;\n"},
    {"MSG_INVALID_STYLE", "Error, can't use style:$MsgParam1; within $MsgParam2;\n$Context();"},
    {"MSG_NO_HOT_TEXT", "Error, hot text found without preceding href\n$Context();"},
    {"MSG_FATAL_ERROR", "Fatal Error\n$Context();"},
    {"MSG_TAB_MISSING",
     "Warning - required Tab missing from list entry - recovering text\n$Context();"},
    {"MSG_NO_INPUT_TRAN",
     "No input translation: font=$MsgParam1;,charset=$MsgParam1;,char=\\`$MsgParam2; - outputting "
     "&#$MsgParam3;;\n$Context();"},
    {"MSG_NO_OUTPUT_TRAN",
     "No output translation for :$MsgParam1; - outputting [[$MsgParam2;]]\n$Context();"},
    {"MSG_MEM_ALLOC_FAILED", "Memory Allocation Failed\n$Context();"},
    {"MSG_ERROR_PLACE_START", "***** Error occured at the end of:<br>\n"},
    {"MSG_ERROR_PLACE_END", "<br>*****\n"},
    {"MSG_FUNC_NOT_IN_PMATCH", "VPNOverrideFunction result: $MsgParam1; not in .PMatch\n"},
    {"MSG_POP_IGNORED", "Pop of Tag:$MsgParam1; occurred within push, Pop Ignored\n"},
    {"MSG_TAG_NOT_FOUND", "Failed to find start tag on stack for tag:$MsgParam1;\n"},
    {"MSG_PASS_THROUGH", "$MsgParam1;"},
    {"MSG_CTABLE", "Ctable[$MsgParam1;]=$MsgParam2;,$MsgParam2;,$MsgParam3;,$MsgParam4;\n"},
    {"MSG_GROUP_COUNT_MISMATCH", "Group Count Mismatch Expected $MsgParam1;, found $MsgParam2;\n"},
    {"MSG_UNKNOWN_CHAR", "$MsgParam1;: unknown character name: $MsgParam2;\n"},
    {"MSG_MALFORMED_OUTPUT",
     "$MsgParam1;: malformed output sequence line for character $MsgParam2;\n"},
    {"MSG_INVALID_LEVELS",
     "Warning: level $MsgParam1; heading followed by level $MsgParam2; heading\n  (at "
     "\"$MsgParam3;\")\n"},
    {"MSG_INVALID_TXT_ATTRIB",
     "Invalid text Atrribute:$MsgParam1;, file:$MsgParam2; line $MsgParam3;\n"},
    {"MSG_INVALID_COLOR", "Invalid color name:$MsgParam1;, file:$MsgParam2; line $MsgParam3;\n"},
    {"MSG_INVALID_PTAG", "PTag Name $MsgParam1; not in .PTag table\n"},
    {"MSG_INVALID_MATCHNAME", "Set MatchName Error: $MsgParam1; not in .PMatch\n"},
    {"MSG_SCRIPT_FAIL", "Script ($MsgParam1;) failed to spawn. Errcode=$MsgParam2;\n"},
    {"MSG_OUTPUT_IS_INPUT",
     "Output $MsgParam1; is the input being converted: it is not written over\n"},
    {"MSG_ALREADY_WRITTEN",
     "Output $MsgParam1; was already written by this run: it is not written over\n"},
    {"MSG_UNSAFE_LINK", "Link to \"$MsgParam1;\" dropped: its scheme is not one of LinkSchemes\n"},
    {"MSG_SAFE_MODE", "Safe mode: $MsgParam1; is not run\n"},
    {"MSG_BATCH_SELF", "Batch file $MsgParam1; names itself at line $MsgParam2; - line skipped\n"},
    {"MSG_BATCH_NESTED",
     "Batch file $MsgParam1;, line $MsgParam2;: batch file $MsgParam3; is not run from a batch "
     "file\n"},
    {"MSG_BATCH_OPTIONS",
     "Batch file $MsgParam1;, line $MsgParam2;: too many options before a file - \"$MsgParam3;\" "
     "is ignored\n"},
    {"MSG_TOO_MANY_OPTIONS",
     "Too many option words: the first $MsgParam1; are used, $MsgParam2; more were dropped\n"},
    {"MSG_EXPANSION_DEPTH",
     "Expansion nested too deeply (over $MsgParam1; levels) at \"$MsgParam2;\" - the reference is "
     "left empty\n"},
    {"ERR_NO_RTF_CTRL", "$MsgParam1;: cannot open $MsgParam2; file.\n"},
    {"ERR_CHAR_VALUE_HIGH",
     "$MsgParam1;: character value $MsgParam1; for $MsgParam2; too high\nmaximum value is "
     "$MsgParam3;"},
    {"ERR_MEM_NEWHEAD", "Not enough memory in newHeading!\n"},
    {"ERR_MEM_NEWHIERFILE", "Not enough memory in newHierFile!\n"},
    {"ERR_MAX_FILES_EXCEEDED",
     "Maximum number of files ($MsgParam1;) exceeded , set ShortFileDigits ($MsgParam1;) to higher "
     "value\n"},
    {"ERR_OVLP_FILENAMES", "Too many overlapping file names, use higher -h level\n"},
    {"ERR_MEM_NEWHIERANCHOR", "Not enough memory in newHierAnchor!\n"},
    {"ERR_FILE_OPEN_FAILED", "Open of $MsgParam1; Failed\n"},
    {"ERR_OVERRAN_INDEX", "Overran Index List\n"},
    {"ERR_MEM_NEWINDEXENTRY", "Not enough memory in newIndexEntry!\n"},
    {"ERR_PUTWRAP_LOGIC", "Logic problem  - putwrap called without file defined\n"},
    {"ERR_OUTBUF_EXCEEDED", "Exceeded Output Buffer\n"},
    {"ERR_REXEX_BUG", "Internal Rexex bug $MsgParam1;\n"},
    {"ERR_LINE_BUFFER", "Cannot allocate line buffer.\n"},
    {"ERR_TMP_OPEN_FAILED", "Open of temporary file Failed\n"},
    {"ERR_IMG_MISMATCH", "Image size mismatch, expected $MsgParam1; found $MsgParam2;\n"},
    {"ERR_LOGIC_ERROR", "Logic error currPic < 0\n"},
    {"ERR_MAX_FILES",
     "Maximum number of files ($MsgParam1;) exceeded , set ShortFileDigits ($MsgParam2;) to higher "
     "value\n"},
    {"ERR_EXIT", "Exit(-1) Called\n"},
    {"ERR_INTERNAL_TRAP", "Internal trap - tried to push special: $MsgParam1;\n"},
    {"ERR_NO_TEXT", ""},
    {"ERR_TXT_BUFFER_ALLOC", "Cannot allocate text buffers.\n"},
    {"ERR_UNKNOWN_CLASS", "Unknown class $MsgParam1;: $MsgParam2; (reader malfunction)\n"},
    {"ERR_UNGET_2", "cannot unget two tokens\n"},
    {"ERR_NO_UNGET_TOKEN", "no token to unget\n"},
    {"ERR_UNKNOWN_CHAR", "$MsgParam1: unknown character name: $MsgParam2\n"},
    {"ERR_MALFORMED_CHARSET",
     "$MsgParam1;: malformed charset map line for character $MsgParam2;\n"},
    {"ERR_READ_CHAR_SET_MAP", "ReadCharSetMaps: Cannot read charset map $MsgParam1;\n"},
    {"ERR_FORMAT_ERROR", "$MsgParam1;: Cannot determine format\n"},
    {"ERR_MISSING_BRACE", "$MsgParam1;: missing \"{\"\n"},
    {"ERR_ALLOC_FONT", "$MsgParam1;: cannot allocate font entry\n"},
    {"ERR_FONT_ENTRY", "$MsgParam1;: cannot allocate font entry\n"},
    {"ERR_FONT_NAME", "$MsgParam1;: cannot allocate font name\n"},
    {"ERR_MISSING_FONT_NUM", "$MsgParam1;: missing font number\n"},
    {"ERR_COLOR_ENTRY", "$MsgParam1;: cannot allocate color entry\n"},
    {"ERR_MALFORMED_ENTRY", "$MsgParam1;: malformed entry\n"},
    {"ERR_STYLESHEET", "$MsgParam1;: cannot allocate stylesheet entry\n"},
    {"ERR_STYLESHEET_TEXT", "$MsgParam1;: cannot allocate style element text\n"},
    {"ERR_STYLESHEET_NAME", "$MsgParam1;: cannot allocate style name\n"},
    {"ERR_STYLE_LOOP", "Style expansion loop, style $MsgParam1;\n"},
    {"ERR_MALFORMED_FILE", "$MsgParam1;: $MsgParam2; file contents malformed\n"},
    {"ERR_FNAME_BUFFERS", "Cannot allocate filename buffers.\n"},
    {"ERR_TRAN_FILE", "Cannot read Translation File $MsgParam1;\n"},
    {"ERR_OUTPUT_MAP", "Cannot read output map $MsgParam1;\n"},
    {"ERR_TABLE_OVERRUN", "Table Overrun\n"},
    {"ERR_ROW_OVERRUN", "Row Overrun\n"},
    {"ERR_CELL_OVERRUN", "Cell Overrun\n"},
    {"ERR_NOT_ENOUGH_FIELDS",
     "In file $MsgParam1;, Not enough fields in table at line:$MsgParam2;\n"},
    {"ERR_INVALID_BITMASK",
     "In file $MsgParam1;, Invalid bitmask $MsgParam2; at line:$MsgParam3;\n"},
    {"ERR_INVALID_NESTING",
     "Invalid Nesting of ifdef/ifmatch/else/endif in $MsgParam1; at $MsgParam2;\n"},
    {"ERR_INVALID_INCLUDE", "Unable include file:$MsgParam1;\n"},
    {"ERR_INVALID_CTRL_WORD", "Invalid Control Word $MsgParam1; in: $MsgParam2; at $MsgParam3;\n"},
    {"ERR_INVALID_HTMLTRN",
     "The version of html-trn.txt ($MsgParam1;) is incompatible with this release of "
     "$TransCMD;\nhtm-trn version $MsgParam2; required.\n"},
    {"ERR_TAG_NOT_IN_TABLE", "Tag Name $MsgParam1; not in .TTag table\n"},
    {"ERR_PTAG_REQUIRED",
     "Required PTag Entry $MsgParam1; missing or out of order,file:$MsgParam2; line $MsgParam3;\n"},
    {"ERR_MISSING_FUNC_NAME",
     "$MsgParam1;: Missing NAME entry for .Functions table, at line $MsgParam2\n"},
    {"ERR_INVALID_SEARCH_EXPR",
     "Invalid Search Expression $MsgParam1;, in $MsgParam2;, at line $MsgParam3;\n"},
    {"ERR_INVALID_TRANSORM",
     "Invalid Transformation $MsgParam1;, in $MsgParam2;, at line $MsgParam3;\n"},
    {"ERR_EXTRA_DATA",
     "In file $MsgParam1;, extra data ($MsgParam2;) at the end of line:$MsgParam3;\n"},
    {"ERR_MISSING_TABLE", "Missing table $MsgParam1;, in file: $MsgParam2;\n"},
    {"MSG_INVALID_BLOCK_NEST",
     "Invalid nesting of directives , in $MsgParam1;, at line $MsgParam2;\n"},
    // A page that did not reach the disk whole (disk full, closed pipe): the conversion fails
    // instead of reporting success over a cut-off page.
    {"ERR_FILE_WRITE_FAILED", "Write of $MsgParam1; Failed\n"},
};

/// Codes that abandon the conversion at once by default.
constexpr const char* kPanicCodes[] = {
    "ERR_CHAR_VALUE_HIGH",   "ERR_MEM_NEWHEAD",
    "ERR_MEM_NEWHIERFILE",   "ERR_MAX_FILES_EXCEEDED",
    "ERR_OVLP_FILENAMES",    "ERR_MEM_NEWHIERANCHOR",
    "ERR_FILE_OPEN_FAILED",  "ERR_OVERRAN_INDEX",
    "ERR_MEM_NEWINDEXENTRY", "ERR_PUTWRAP_LOGIC",
    "ERR_OUTBUF_EXCEEDED",   "ERR_REXEX_BUG",
    "ERR_LINE_BUFFER",       "ERR_TMP_OPEN_FAILED",
    "ERR_IMG_MISMATCH",      "ERR_LOGIC_ERROR",
    "ERR_MAX_FILES",         "ERR_EXIT",
    "ERR_INTERNAL_TRAP",     "ERR_NO_TEXT",
    "ERR_TXT_BUFFER_ALLOC",  "ERR_UNKNOWN_CLASS",
    "ERR_UNGET_2",           "ERR_NO_UNGET_TOKEN",
    "ERR_UNKNOWN_CHAR",      "ERR_MALFORMED_CHARSET",
    "ERR_READ_CHAR_SET_MAP", "ERR_FORMAT_ERROR",
    "ERR_MISSING_BRACE",     "ERR_ALLOC_FONT",
    "ERR_FONT_NAME",         "ERR_MISSING_FONT_NUM",
    "ERR_FONT_ENTRY",        "ERR_COLOR_ENTRY",
    "ERR_MALFORMED_ENTRY",   "ERR_STYLESHEET",
    "ERR_STYLESHEET_TEXT",   "ERR_STYLESHEET_NAME",
    "ERR_STYLE_LOOP",        "ERR_MALFORMED_FILE",
    "ERR_FNAME_BUFFERS",     "ERR_TRAN_FILE",
    "ERR_OUTPUT_MAP",        "ERR_TABLE_OVERRUN",
    "ERR_ROW_OVERRUN",       "ERR_CELL_OVERRUN",
    "ERR_NOT_ENOUGH_FIELDS", "ERR_INVALID_BITMASK",
    "ERR_INVALID_NESTING",   "ERR_INVALID_INCLUDE",
    "ERR_INVALID_CTRL_WORD", "ERR_INVALID_HTMLTRN",
    "ERR_TAG_NOT_IN_TABLE",  "ERR_PTAG_REQUIRED",
    "ERR_MISSING_FUNC_NAME", "ERR_INVALID_SEARCH_EXPR",
    "ERR_INVALID_TRANSORM",  "MSG_INVALID_BLOCK_NEST",
    "ERR_FILE_WRITE_FAILED",
};

/// Codes that stop the conversion by default (the reader ends, the conversion is abandoned).
constexpr const char* kEofCodes[] = {"ERR_NO_RTF_CTRL", "ERR_MISSING_TABLE"};

enum Action { kIgnore = 0, kPanic = 1, kMessage = 2, kEof = 3 };

/// The start of the error file: a complete page head, the heading inside the body, and the
/// preformatted block the messages go into (CloseErrorFile ends it).
constexpr std::string_view kErrorFileHead =
    "<!DOCTYPE html>\n<html><head><title>Error file generated by Quillo</title></head>\n"
    "<body><h4>Error file generated by Quillo</h4><pre>\n";

Action ActionFromText(const std::string& text) {
  if (text == "ignore") return kIgnore;
  if (text == "panic") return kPanic;
  if (text == "eof") return kEof;
  return kMessage;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = FormatV(format, ap);
  va_end(ap);
  return text;
}

/// A text parameter made inert: never expanded again ('$'), and safe in the HTML error file.
std::string EscapeParameter(std::string_view text) { return HtmlEscaped(text, kEscapeDollar); }

bool HasCurrentToken(const Engine& engine) { return engine.reader.token.tokClass >= 0; }

/// "Last token read ..." with the token's text, which comes from the document: it goes into the
/// HTML error file escaped like a text parameter.
std::string LastTokenText(const Engine& engine, const char* format) {
  const rtf::ReaderState& reader = engine.reader;
  const std::string token = EscapeParameter(reader.token.text);
  return Format(format, token.c_str(), reader.lineNumber, reader.linePosition);
}

void WriteStderr(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

/// The fatal sink: writes even while DisableErrorFile is set, then abandons the conversion.
[[noreturn]] void FatalSink(Engine& engine, std::string_view text) {
  WriteErrorFile(engine, text);
  throw ConversionAbandoned();
}

/// Bounds the nesting of reports and undoes what a report set in the store. The outermost report
/// ends with errCode and errPos empty; a report raised inside another one restores the variables
/// of the report it interrupted, so that one finishes with its own code and parameters.
class ReportScope {
 public:
  ReportScope(Engine& engine, std::size_t parameterCount) : engine_(engine) {
    ++engine_.messages.inReport;
    if (engine_.messages.inReport > 1) {
      Save("errCode");
      Save("errPos");
      Save("CBWhy");
      for (std::size_t n = 1; n <= parameterCount; ++n) Save("MsgParam" + std::to_string(n));
    }
  }
  ReportScope(const ReportScope&) = delete;
  ReportScope& operator=(const ReportScope&) = delete;
  ~ReportScope() {
    try {
      if (engine_.messages.inReport > 1) {
        for (const auto& [name, value] : saved_) SetUnprotected(engine_, name, value);
      } else if (armed_) {
        SetUnprotected(engine_, "errCode", "");
        SetUnprotected(engine_, "errPos", "");
      }
    } catch (...) {
      // A trace written while restoring may fail fatally; the report is over either way.
    }
    --engine_.messages.inReport;
  }
  /// From now on the report has set errCode and errPos.
  void Arm() { armed_ = true; }

 private:
  void Save(std::string name) {
    int index = FindSetting(engine_, name);
    std::string value = index < 0 ? std::string() : engine_.settings.values[index];
    saved_.emplace_back(std::move(name), std::move(value));
  }
  Engine& engine_;
  bool armed_ = false;
  std::vector<std::pair<std::string, std::string>> saved_;
};

/// The error file entry if it is still in the file table (the end-of-conversion sweep forgets
/// every entry), else nullptr.
FileEntry* LiveErrorFile(Engine& engine) {
  FileEntry* file = engine.messages.errorFile;
  if (!file) return nullptr;
  for (const auto& entry : engine.files.entries)
    if (entry.get() == file && entry->state == FileState::kOpen) return file;
  return nullptr;
}

const char* ActionName(Action action) {
  switch (action) {
    case kPanic:
      return "panic";
    case kEof:
      return "eof";
    default:
      return "message";
  }
}

/// Messages about a file that could not be opened, created or written: they carry the system's
/// reason (errno of the failed call) in their record.
bool IsFileFailure(std::string_view code) {
  static constexpr std::string_view kCodes[] = {"MSG_CANT_OPEN",       "ERR_FILE_OPEN_FAILED",
                                                "ERR_TMP_OPEN_FAILED", "MSG_TMP_OPEN_FAIL",
                                                "MSG_NO_LOGFILE",      "ERR_FILE_WRITE_FAILED"};
  for (std::string_view known : kCodes)
    if (code == known) return true;
  return false;
}

/// Keeps the message for hosts that read the messages back (bounded, see MessageState).
void RecordMessage(Engine& engine, const std::string& code, Action action, std::string_view text) {
  MessageState& m = engine.messages;
  // The reason of a failed file operation belongs to the next message only.
  const int systemError = engine.files.lastError;
  engine.files.lastError = 0;
  if (m.recorded.size() >= MessageState::kMaxRecorded) {
    ++m.droppedRecords;
    return;
  }
  MessageRecord record;
  record.code = code;
  record.action = ActionName(action);
  record.text = PlainMessageText(text);
  if (HasCurrentToken(engine)) {
    record.line = engine.reader.lineNumber;
    record.position = engine.reader.linePosition;
  }
  if (const MessageSource* source = m.source) {
    record.source = source->SourceName();
    record.sourceLine = source->SourceLine();
  }
  if (int index = FindSetting(engine, "InputFile"); index >= 0)
    record.input = engine.settings.values[static_cast<std::size_t>(index)];
  if (IsFileFailure(code)) record.systemError = systemError;
  m.recorded.push_back(std::move(record));
}

}  // namespace

void ClearRecordedMessages(Engine& engine) {
  engine.messages.recorded.clear();
  engine.messages.droppedRecords = 0;
}

std::string PlainMessageText(std::string_view html) {
  static constexpr struct {
    std::string_view entity;
    char plain;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&amp;", '&'}};
  std::string out;
  out.reserve(html.size());
  for (std::size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      std::size_t end = html.find('>', i);
      if (end == std::string_view::npos) {
        out += c;
        continue;
      }
      std::string_view tag = html.substr(i + 1, end - i - 1);
      // Line-like tags become line breaks so that "<br>" and list items stay apart.
      if (tag == "br" || tag == "br/" || tag == "li" || tag == "p") out += '\n';
      i = end;
      continue;
    }
    if (c == '&') {
      bool decoded = false;
      for (const auto& e : kEntities) {
        if (html.substr(i, e.entity.size()) == e.entity) {
          out += e.plain;
          i += e.entity.size() - 1;
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    out += c;
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\r'))
    out.pop_back();
  std::size_t start = out.find_first_not_of("\n ");
  return start == std::string::npos ? std::string() : out.substr(start);
}

// ---------------------------------------------------------------------------------------------
// Registration

void RegisterDefaultMessages(Engine& engine) {
  for (const DefaultMessage& message : kDefaultMessages)
    SetSetting(engine, message.code, message.text);
  for (const char* code : kPanicCodes) SetSetting(engine, std::string(code) + "_Action", "panic");
  for (const char* code : kEofCodes) SetSetting(engine, std::string(code) + "_Action", "eof");
  SetSetting(engine, "errCallback", "false");
}

// ---------------------------------------------------------------------------------------------
// The reporter

void ReportMessage(Engine& engine, std::string_view code, std::initializer_list<MsgArg> args) {
  ++engine.messages.reportCount;
  if (engine.hooks.noteReport) engine.hooks.noteReport(engine);
  const std::string codeText(code);
  if (engine.settings.names.empty()) {
    // No store yet: nothing can say how to report. A library never ends its host's process, so
    // the message goes to standard error and the call that raised it fails.
    std::fprintf(stderr, "Error %s encountered in initialization\n", codeText.c_str());
    throw ConversionAbandoned();
  }
  if (engine.messages.inReport >= MessageState::kMaxNestedReports) {
    std::fprintf(stderr, "Message %s raised while reporting a message - not reported\n",
                 codeText.c_str());
    return;
  }
  ReportScope scope(engine, args.size());

  Action action = ActionFromText(Expand(engine, "$" + codeText + "_Action;"));
  if (action == kIgnore) return;

  std::string position;
  if (action == kPanic && HasCurrentToken(engine))
    position = LastTokenText(engine, "Last token read was \"%s\" near line %ld, position %d.");
  scope.Arm();
  SetUnprotected(engine, "errCode", codeText);
  SetUnprotected(engine, "errPos", position);

  int n = 0;
  for (const MsgArg& arg : args) {
    ++n;
    std::string value;
    switch (arg.type) {
      case 'i':
        value = Format("%d", static_cast<int>(arg.number));
        break;
      case 'l':
        value = Format("%ld", arg.number);
        break;
      case 'x':
        value = Format("%x", static_cast<unsigned>(arg.number));
        break;
      case 's':
        value = EscapeParameter(arg.text);
        break;
      default:
        continue;  // an unknown kind leaves MsgParam n unset
    }
    SetUnprotected(engine, "MsgParam" + std::to_string(n), value);
  }

  std::string text = Expand(engine, "$" + codeText + ";");
  if (text.empty()) text = "Unknown error - " + codeText + "\n";
  if (!position.empty()) text += "<ul><li>" + position + "</li></ul>";

  bool isProgress = codeText == "MSG_PERCENT";
  if (!isProgress) RecordMessage(engine, codeText, action, text);
  if (isProgress || Expand(engine, "$errCallback;") == "true") {
    SetUnprotected(engine, "CBWhy", "1");
    std::string call = "$Callback(CBWhy,errCode";
    for (std::size_t i = 1; i <= args.size(); ++i) call += ",MsgParam" + std::to_string(i);
    call += ");";
    Expand(engine, call);
    if (isProgress) return;  // progress goes to the host only, never to the error file
  }

  // The text written now is the recorded message's (see MessageState::stderrFallback).
  struct PrintingRecord {
    bool& flag;
    bool saved;
    explicit PrintingRecord(bool& f) : flag(f), saved(f) { flag = true; }
    ~PrintingRecord() { flag = saved; }
  } printing(engine.messages.printingRecord);
  switch (action) {
    case kPanic:
      FatalSink(engine, text);
    case kEof:
      PrintText(engine, text);
      engine.driver.stop = true;
      throw ConversionAbandoned();
    default:
      PrintText(engine, text);
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Sinks

void PrintEscaped(Engine& engine, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = FormatV(format, ap);
  va_end(ap);
  std::string escaped = HtmlEscaped(text, kLineBreaksAsBr);
  PrintText(engine, escaped);
}

void FatalText(Engine& engine, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = FormatV(format, ap);
  va_end(ap);
  if (HasCurrentToken(engine))
    text += LastTokenText(engine, "Last token read was \"%s\" near line %ld, position %d.\n");
  FatalSink(engine, text);
}

void PrintText(Engine& engine, std::string_view text) {
  if (engine.messages.discardPrinted) return;
  WriteErrorFile(engine, text);
}

// ---------------------------------------------------------------------------------------------
// The error file

void WriteErrorFile(Engine& engine, std::string_view text) {
  MessageState& state = engine.messages;
  if (state.errorFileName.empty() || state.errorFileClosed) {
    if (state.stderrFallback || !state.printingRecord) {
      WriteStderr(text);
      WriteStderr("\n");
    }
    return;
  }
  FileEntry* file = LiveErrorFile(engine);
  if (!file) {
    file = FileOpen(engine.files, state.errorFileName, "w");
    if (!file) {
      state.errorFile = nullptr;
      if (state.stderrFallback || !state.printingRecord) WriteStderr(text);
      std::fprintf(stderr, "Unable to open %s\n", state.errorFileName.c_str());
      state.errorFileName.clear();
      return;
    }
    FilePutString(file, kErrorFileHead);
  }
  state.errorFile = file;
  FilePutString(file, text);
  FileFlush(file);
}

void CloseErrorFile(Engine& engine) {
  MessageState& state = engine.messages;
  // Traces after the end of the conversion would reopen nothing useful.
  engine.settings.mirrors.debug = 0;
  FileEntry* file = LiveErrorFile(engine);
  if (file && !state.errorFileName.empty()) {
    FilePutString(file, "\n</pre></body>\n</html>\n");
    FileClose(file);
    state.errorFile = nullptr;
    state.errorFileClosed = true;
    return;
  }
  if (state.errorFile) {
    // Written during this conversion, but the file table has already let go of it.
    state.errorFile = nullptr;
    state.errorFileClosed = true;
    return;
  }
  // Nothing printed: a file of that name is a stale one from an earlier run. Once the file of
  // this conversion has been closed, a second call must not delete it.
  // An error file an earlier conversion of this run wrote is that conversion's: it stays.
  if (!state.errorFileClosed && !engine.files.memoryOutputMode && !state.errorFileName.empty() &&
      !WrittenByRun(engine.files, state.errorFileName))
    std::remove(state.errorFileName.c_str());
}

void MemoryReport(Engine& engine, const char* label) {
  // The engine keeps no per-block records: no blocks, no size classes, an empty dump range.
  constexpr int kDumpFirst = 8, kDumpLast = 4;
  PrintText(engine, Format("at %s, Allocations=%d, Total Bytes Allocated=%d\n", label, 0, 0));
  PrintText(engine, Format("slot[%20d..%20d]=%20d\n", kDumpFirst, kDumpLast, 0));
}

}  // namespace quillo
