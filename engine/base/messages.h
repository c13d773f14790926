// The message reporter and the error file. Every diagnostic goes through ReportMessage under a
// code; the code's text and action are named settings, so translation files can reword, silence
// or promote any message. Printed messages go to an HTML error file beside the output.
#pragma once

#include <cstdarg>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// Forgets the recorded messages (start of a conversion).
void ClearRecordedMessages(Engine& engine);
/// Markup-free text of an error-file message: tags removed, the common entities decoded, line
/// breaks kept, trailing white space trimmed.
std::string PlainMessageText(std::string_view html);

/// Reports `code` with its parameters (MsgParam1..n). May throw ConversionAbandoned (actions
/// "panic" and "eof"). Before the store exists it prints to stderr and throws ConversionAbandoned,
/// so the call that raised it fails (the process goes on).
void ReportMessage(Engine& engine, std::string_view code, std::initializer_list<MsgArg> args = {});
/// Formats (at most 4095 characters), escapes newlines and HTML specials, and prints through the
/// print sink. Used for Debug traces.
void PrintEscaped(Engine& engine, const char* format, ...) __attribute__((format(printf, 2, 3)));
/// Formats an internal fatal text, adds the last token read, writes it through the fatal sink and
/// abandons the conversion.
[[noreturn]] void FatalText(Engine& engine, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
/// The print sink: the error-file writer, or nothing while DisableErrorFile is set.
void PrintText(Engine& engine, std::string_view text);
/// Writes text to the error file (opened lazily), or to standard error when there is none.
void WriteErrorFile(Engine& engine, std::string_view text);
/// Ends the error file at the end of a conversion (or removes a stale one when nothing was
/// printed).
void CloseErrorFile(Engine& engine);
/// Registers the default message texts and actions (part of the store reset).
void RegisterDefaultMessages(Engine& engine);
/// Prints the memory report labelled `label` through the print sink. The engine keeps no per-block
/// records, so the figures are zero and only the first and last lines appear.
void MemoryReport(Engine& engine, const char* label);

}  // namespace quillo
