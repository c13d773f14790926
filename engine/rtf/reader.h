// The RTF tokenizer: turns the input stream into tokens (groups, text characters, control words)
// and routes each to a callback chosen by its class or, for destination words, by its minor.
// Knows no RTF semantics itself: word numbers come from the control-word table.
// Depends on the file table (input stream), the control-word table and the message reporter.
#pragma once

#include <string>
#include <string_view>

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

enum TokenClass : int {
  kClassUnknown = 0,
  kClassGroup = 1,
  kClassText = 2,
  kClassControl = 3,
  kClassEOF = 4,
  kMaxClass = 5,
};
constexpr int kNoParam = -1000000;
constexpr int kMaxDestination = 141;
/// Token text buffer size: longer control words and parameters are cut so the text fits.
constexpr int kTokenTextSize = 1024;
/// The Context built-in shows at most this many of the most recent input characters.
constexpr int kRecentInputLength = 62;
/// Size of the recent-input ring: a power of two above kRecentInputLength so that the per-character
/// store is one masked write.
constexpr int kRecentInputRing = 64;

/// Debug bits that switch the reader's traces.
constexpr int kDebugTokens = 0x4000;
constexpr int kDebugSkippedGroups = 0x8000;

using TokenCallback = void (*)(Engine&);

struct RtfToken {
  int tokClass = -1;
  int major = 0;
  int minor = 0;
  int param = kNoParam;
  std::string text;  ///< as read, at most kTokenTextSize - 1 characters
};

struct ReaderState {
  // Input, set by the driver before ReaderInit.
  FileEntry* input = nullptr;
  long inputSize = 0;

  // The current and the pushed-back token; their text capacity is reserved once and reused.
  RtfToken token;
  RtfToken pushedBack;  ///< tokClass -1 = none

  // Character level, reset by ReaderInit.
  int pushedChar = -1;
  int prevChar = -1;
  bool lineEndPending = false;
  long lineNumber = 0;   ///< line of the last character read, from 1
  int linePosition = 0;  ///< column of the last character read, from 1
  long charCount = 0;    ///< characters read; the stream position after a binary skip
  long binarySkip = 0;   ///< bytes the next raw read skips (set by \bin, used up by pictures)

  /// Word of the last control word found (the Token setting); it points into the control-word
  /// table, which stays loaded, so the word is not copied for every token.
  std::string_view lastControlWord;
  TokenCallback classCallbacks[kMaxClass] = {};
  TokenCallback destinationCallbacks[kMaxDestination] = {};
  TokenCallback readHook = nullptr;
  int groupDepth = 0;     ///< kept by the group handler; shown by the token trace
  std::string traceText;  ///< gathered text of the token trace

  /// Ring of the last input characters for the Context built-in (always kRecentInputRing bytes);
  /// read it in order with RecentInput().
  std::string recentInput = std::string(kRecentInputRing, '\0');
  unsigned long recentInputCount = 0;  ///< characters ever stored into the ring this run
};

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
/// Hands the current token to its destination callback (class 3, major 3, callback set) or to
/// its class callback, tracing it when Debug bit 0x4000 is set.
void RouteToken(Engine& engine);
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
