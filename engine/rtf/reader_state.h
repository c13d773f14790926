// State of the RTF reader (see rtf/reader.h).
#pragma once

#include <array>
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
/// Size of the recent-input ring: a power of two, so that the per-character store is one masked
/// write, with room beyond kRecentInputLength for the reader's sixteen-byte stores (whose spare
/// bytes land on slots too old to be shown).
constexpr int kRecentInputRing = 128;
/// Bytes the reader stores into the ring at once; the ring's array has this many more bytes
/// behind its end, where a store that passes the end puts the bytes that belong at its start.
constexpr int kRecentInputStore = 16;

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
  /// How the last character read ended its line: 0 it did not (the next character goes on the
  /// same line), 1 a line feed, or nothing read yet (the next starts a line), 2 a carriage return
  /// (the next starts a line unless it is the line feed of a CR LF pair).
  int lineEnd = 1;
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

  /// Ring of the last input characters for the Context built-in (kRecentInputRing bytes, then
  /// the spare bytes of the reader's stores); read it in order with RecentInput().
  std::array<char, kRecentInputRing + kRecentInputStore> recentInput = {};
  unsigned long recentInputCount = 0;  ///< characters ever stored into the ring this run
};

}  // namespace rtf
}  // namespace quillo
