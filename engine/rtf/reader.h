// The RTF tokenizer: turns the input stream into tokens (groups, text characters, control words)
// and routes each to a callback chosen by its class or, for destination words, by its minor.
// Knows no RTF semantics itself: word numbers come from the control-word table.
// Depends on the file table (input stream), the control-word table and the message reporter.
#pragma once

#include <string>
#include <string_view>

#include "base/buffers.h"
#include "rtf/reader_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

/// Resets the reader for a new run over engine.reader.input (once per pass): position, pushed-back
/// token and character, callbacks (with the default destination readers), and loads the
/// control-word table the first time.
void ReaderInit(Engine& engine);
void SetClassCallback(Engine& engine, int tokenClass, TokenCallback fn);
/// nullptr for classes outside 0-4.
TokenCallback GetClassCallback(const Engine& engine, int tokenClass);
void SetDestinationCallback(Engine& engine, int minor, TokenCallback fn);
/// nullptr for minors outside 0-140.
TokenCallback GetDestinationCallback(const Engine& engine, int minor);
/// The hook sees every token GetToken reads (skipped ones included). Nothing installs one.
void SetReadHook(Engine& engine, TokenCallback fn);
TokenCallback GetReadHook(const Engine& engine);

/// Reads the next token into engine.reader.token and returns its class. Text tokens whose byte is
/// NUL, LF or CR are skipped; trap words (negative major in the table) run "$CallTrap()".
int GetToken(Engine& engine);
/// Reads one token without the pushed-back token, the character mapping, traps or skipping. Used
/// by SkipGroup and by readers of raw data (picture data).
void ReadRawToken(Engine& engine);
/// Makes the next GetToken return the current token again (one level; a second unget before a
/// read reports ERR_UNGET_2 and replaces the saved token).
void UngetToken(Engine& engine);
/// Bytes that GetToken returns one by one as text tokens of their own wherever they stand:
/// printable ASCII other than the backslash and braces.
constexpr bool IsPlainText(unsigned char c) {
  return c >= 0x20 && c <= 0x7E && c != '\\' && c != '{' && c != '}';
}
/// The input already read ahead, for a caller that takes the plain text (IsPlainText) at its
/// start without a token each. Empty whenever something watches tokens one by one (a read hook,
/// the token trace, a pushed-back token or character, a binary skip), and cut short where
/// progress reporting is due.
std::string_view TextAhead(const Engine& engine);
/// Consumes the first `count` bytes of TextAhead, all plain text, exactly as GetToken would have
/// read them,
/// one text token each; the last one is left as the current token, `lastIndex` its standard
/// character.
void ConsumePlainText(Engine& engine, std::size_t count, int lastIndex);
/// Consumes the first `count` bytes of TextAhead, all plain text, exactly as ReadRawToken would
/// have read them, one text token each: the last one is left as the current token, its minor
/// untouched (raw tokens are not mapped). For readers of raw data that pass over runs of text.
void ConsumeRawText(Engine& engine, std::size_t count);
/// Length of the plain text (IsPlainText) at the start of `text`.
std::size_t PlainTextLength(std::string_view text);
/// Consumes the plain text at the start of TextAhead as ConsumeRawText does, calling `digit` with
/// the value of each hexadecimal digit in it, in order; its other characters are passed over.
template <typename DigitFn>
void ConsumeRawHexDigits(Engine& engine, DigitFn&& digit) {
  const std::string_view ahead = TextAhead(engine);
  const std::size_t run = PlainTextLength(ahead);
  for (std::size_t i = 0; i < run; ++i)
    if (const int value = HexDigitValue(static_cast<unsigned char>(ahead[i])); value >= 0)
      digit(value);
  ConsumeRawText(engine, run);
}
/// Hands the current token to its destination callback (class 3, major 3, callback set) or to
/// its class callback, tracing it when Debug bit 0x4000 is set.
void RouteToken(Engine& engine);
/// The read loop of the driver: GetToken, `between` (unless nullptr), RouteToken, until end of
/// input (then true) or the stop flag (then false).
bool RouteTokens(Engine& engine, TokenCallback between);
/// Consumes tokens up to and including the '}' that closes the current group; that brace stays
/// the current token. Nesting is counted, never recursed, so any depth is fine.
void SkipGroup(Engine& engine);
/// Destination reader that skips the group and routes its closing brace.
void SkipGroupAndRoute(Engine& engine);
/// The read loop of one pass: routes tokens until end of input or the stop flag, reporting
/// MSG_PERCENT progress when a progress step is set.
void ReadDocument(Engine& engine);
/// Prints the gathered text line of the token trace, if any.
void FlushTokenTrace(Engine& engine);

/// Standard-character index of an input byte in the current character set map. Until the
/// character maps exist this is the byte itself.
int RTFMapChar(Engine& engine, int byte);

/// The most recent input characters (at most kRecentInputLength), oldest first.
std::string RecentInput(const Engine& engine);

bool CheckCM(const Engine& engine, int tokenClass, int major);
bool CheckCMM(const Engine& engine, int tokenClass, int major, int minor);
bool CheckMM(const Engine& engine, int major, int minor);

}  // namespace rtf
}  // namespace quillo
