// The RTF tokenizer: characters to tokens, tokens to callbacks.
#include "rtf/reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/file_table.h"
#include "base/hooks.h"
#include "base/messages.h"
#include "engine.h"
#include "output/line_writer.h"
#include "rtf/charmaps.h"
#include "rtf/control_words.h"
#include "rtf/tables.h"

namespace quillo::rtf {
namespace {

constexpr int kEOF = -1;
/// Longest token text kept: the text buffer is kTokenTextSize bytes with its NUL.
constexpr std::size_t kMaxTextLength = kTokenTextSize - 1;
/// Text tokens are gathered into trace lines of at most this many characters.
constexpr std::size_t kTraceLineLength = 79;
constexpr char kDepthDigits[] = "123456789012345678901234567890";

inline bool IsLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// ---- Characters -----------------------------------------------------------------------------

/// Reads one character, appends it to the token text (cut at kMaxTextLength), keeps the
/// recent-input ring and counts characters, lines and columns. CR LF, lone CR and lone LF each
/// end one line; the line is counted on the character after the line end.
inline int GetChar(ReaderState& reader) {
  int c = FileGetChar(reader.input);
  if (c >= 0) {
    if (reader.token.text.size() < kMaxTextLength)
      reader.token.text.push_back(static_cast<char>(c));
    reader.recentInput[reader.recentInputCount++ & (kRecentInputRing - 1)] = static_cast<char>(c);
  } else {
    c = kEOF;
  }
  ++reader.charCount;
  // The very first character starts line 1; reads at end of input count no further lines.
  const int ended = reader.lineEnd;
  reader.lineEnd = c == '\n' ? 1 : c == '\r' ? 2 : 0;
  ++reader.linePosition;
  if (ended != 0 && !(c == '\n' && ended == 2)) {
    ++reader.lineNumber;
    reader.linePosition = 1;
  }
  return c;
}

/// Gives a character read too far back to the stream itself (not to the pushed-back character),
/// so that a following seek or raw read sees it again. It is counted again when re-read.
void UngetToStream(ReaderState& reader, int c) {
  if (c < 0) return;
  if (FileUngetChar(reader.input, c) >= 0) --reader.charCount;
}

/// Stores the last kRecentInputRing bytes of `text` in the ring, as at most two pieces (up to the
/// ring's end and from its start), behind what it holds; the count is left to the caller.
void WriteRing(ReaderState& reader, std::string_view text) {
  const std::size_t count = text.size();
  const std::size_t kept = count < kRecentInputRing ? count : kRecentInputRing;
  const char* from = text.data() + (count - kept);
  const std::size_t at = (reader.recentInputCount + count - kept) & (kRecentInputRing - 1);
  const std::size_t first = std::min(kept, kRecentInputRing - at);
  std::memcpy(&reader.recentInput[at], from, first);
  std::memcpy(&reader.recentInput[0], from + first, kept - first);
}

/// The ring's spare slots: a sixteen-byte store of fewer bytes writes its extra bytes over slots
/// older than anything RecentInput shows (or behind the ring's end), and the stores that follow
/// overwrite them first.
constexpr std::size_t kRingStore = kRecentInputStore;
static_assert(kRecentInputRing >= kRecentInputLength + kRingStore);

/// Consumes `text`, the start of FileBuffered, as GetChar would one character at a time, without
/// storing it in the token text. The text holds no CR or LF. `readable` is the size of the
/// window that `text` starts (at least text.size()).
inline void ConsumeBuffered(ReaderState& reader, std::string_view text, std::size_t readable) {
  const std::size_t count = text.size();
  if (count == 0) return;
  FileSkipBuffered(reader.input, count);
  const std::size_t at = reader.recentInputCount & (kRecentInputRing - 1);
  if (count <= kRingStore && readable >= kRingStore) {
    // Control words and short runs: one store of sixteen bytes; what passes the ring's end is
    // moved to its start.
    std::memcpy(&reader.recentInput[at], text.data(), kRingStore);
    if (at + count > kRecentInputRing)
      std::memcpy(&reader.recentInput[0], &reader.recentInput[kRecentInputRing],
                  at + count - kRecentInputRing);
  } else if (count <= kRingStore) {
    unsigned long next = reader.recentInputCount;
    for (char c : text) reader.recentInput[next++ & (kRecentInputRing - 1)] = c;
  } else {
    WriteRing(reader, text);
  }
  reader.recentInputCount += count;
  reader.charCount += static_cast<long>(count);
  reader.linePosition += static_cast<int>(count);
  if (reader.lineEnd != 0) {
    ++reader.lineNumber;
    reader.linePosition = static_cast<int>(count);
    reader.lineEnd = 0;
  }
}

/// Moves the stream past `count` bytes of binary data. The count comes from the document, so it
/// is bounded by the rest of the input: a negative count skips nothing (never seeks backwards)
/// and one beyond the end stops at the end, where the next read gives end of input.
void SkipBinary(ReaderState& reader, long count) {
  long position = FileTell(reader.input);
  if (count > 0 && position >= 0) {
    long target = (reader.inputSize > 0 && count > reader.inputSize - position) ? reader.inputSize
                                                                                : position + count;
    if (FileSeek(reader.input, target, SEEK_SET) != 0) FileSeek(reader.input, 0, SEEK_END);
  }
  long now = FileTell(reader.input);
  if (now >= 0) reader.charCount = now;
}

// ---- Raw tokens -----------------------------------------------------------------------------

/// The value of a hex digit of \'xx. Digits are not checked: anything else gives some value, which
/// the caller keeps to a byte, so a malformed escape such as \'zz cannot produce a character code
/// outside 0-255.
inline int HexValue(int d) {
  if (d >= 'A' && d <= 'Z') d += 'a' - 'A';
  return IsDigit(d) ? d - '0' : d - 87;
}

/// True for \bin (also as a trap word), whose binary data follows its delimiter.
inline bool IsBinaryWord(int major, int minor) {
  return minor == pict::kBinData && (major == kMajorPictAttr || major == -kMajorPictAttr);
}

/// Makes the current token the control word `entry` (nothing when the word is unknown).
void SetControlWord(Engine& engine, const CtrlWord* entry) {
  if (!entry) return;
  RtfToken& token = engine.reader.token;
  token.tokClass = kClassControl;
  token.major = entry->major;
  token.minor = entry->minor;
  engine.reader.lastControlWord = entry->word;
}

/// A parameter's value with one more digit; past INT_MAX it stops growing.
inline long long AddDigit(long long value, int digit) {
  return value <= INT_MAX ? value * 10 + (digit - '0') : value;
}
/// The parameter of the digits read: saturated at INT_MAX in magnitude.
inline int Saturated(long long value, bool negative) {
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(negative ? -value : value);
}

/// Reads the letters, optional sign and digits of a control word whose first letter has been
/// read, looks it up and deals with its delimiter.
void ReadControlWord(Engine& engine) {
  ReaderState& reader = engine.reader;
  RtfToken& token = reader.token;
  // `mark` is the text length before the latest character was read, so that character (when it
  // was stored at all) can be dropped from the text again.
  std::size_t mark = token.text.size();
  auto next = [&]() {
    mark = token.text.size();
    return GetChar(reader);
  };

  // Letters. A word longer than the text buffer is still consumed whole; its cut text is not in
  // the table, so it becomes an unknown token.
  int c;
  do {
    c = next();
  } while (IsLetter(c));
  SetControlWord(engine, Lookup(engine.controlWords, std::string_view(token.text).substr(0, mark)));

  // Parameter: optional '-', then digits. The value saturates at INT_MAX in magnitude instead of
  // overflowing, however many digits follow; all of them are consumed.
  bool negative = false;
  if (c == '-') {
    negative = true;
    c = next();
  }
  if (IsDigit(c)) {
    long long value = 0;
    while (IsDigit(c)) {
      value = AddDigit(value, c);
      c = next();
    }
    token.param = Saturated(value, negative);
  }

  // Delimiter: never part of the text.
  bool binary = token.tokClass == kClassControl && IsBinaryWord(token.major, token.minor);
  if (binary) {
    // \bin: its delimiter never becomes a token, because the binary bytes start right after it.
    // A blank or LF is the delimiter; CR takes a following LF with it; anything else belongs to
    // the data and goes back to the stream, ahead of the skip.
    std::size_t textEnd = mark;
    reader.binarySkip = token.param > 0 ? token.param : 0;
    if (c == '\r') {
      int after = GetChar(reader);
      if (after != '\n') UngetToStream(reader, after);
    } else if (c != ' ' && c != '\n') {
      UngetToStream(reader, c);
    }
    reader.pushedChar = -1;
    token.text.resize(textEnd);
  } else {
    if (c != ' ') reader.pushedChar = c;
    token.text.resize(mark);
  }
}

/// Number of ASCII letters in `text` from `at` on. Eight bytes are looked at in one step while
/// eight can be read: a byte is a letter when, with the case bit set, it lies in 'a'-'z'.
inline std::size_t LettersAt(std::string_view text, std::size_t at) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  std::size_t i = at;
  if constexpr (std::endian::native == std::endian::little) {
    while (i + 8 <= text.size()) {
      std::uint64_t bytes;
      std::memcpy(&bytes, text.data() + i, 8);
      const std::uint64_t lower = bytes | (0x20 * kOnes);
      // Per byte below 0x80 no sum carries into the next byte: the high bit tells >= 'a' and
      // >= 'z' + 1.
      const std::uint64_t fromA = (lower & ~kHigh) + (0x80 - 'a') * kOnes;
      const std::uint64_t pastZ = (lower & ~kHigh) + (0x80 - 'z' - 1) * kOnes;
      const std::uint64_t letters = fromA & ~pastZ & ~bytes & kHigh;
      if (letters != kHigh)
        return i - at + static_cast<std::size_t>(std::countr_one(letters | ~kHigh) / 8);
      i += 8;
    }
  }
  while (i < text.size() && IsLetter(static_cast<unsigned char>(text[i]))) ++i;
  return i - at;
}

/// Reads the next token straight from the read window when it is a brace, a text character, a
/// control word whose parameter and delimiter are in the window too, or a hex escape: the common
/// tokens, read in one step with the bookkeeping GetChar would do. Returns false, having read
/// nothing, for anything else (which then goes the careful way, character by character).
[[gnu::always_inline]] inline bool ReadTokenInWindow(Engine& engine) {
  ReaderState& reader = engine.reader;
  RtfToken& token = reader.token;
  const std::string_view ahead = FileBuffered(reader.input);
  if (ahead.empty()) return false;
  std::size_t start;  // where the word's letters begin in the window
  if (reader.pushedChar == '\\') {
    start = 0;  // the backslash was read as the last word's delimiter
  } else if (reader.pushedChar >= 0) {
    return false;
  } else if (ahead[0] == '{' || ahead[0] == '}') {
    ConsumeBuffered(reader, ahead.substr(0, 1), ahead.size());
    token.text.clear();
    token.text.push_back(ahead[0]);
    token.tokClass = kClassGroup;
    token.major = ahead[0] == '{' ? 0 : 1;
    return true;
  } else if (ahead[0] == '\\') {
    start = 1;
  } else {
    // A text character: the first of a run (ContinuePlainText takes the rest) or one between
    // control words. A tab is a control token and a line end counts a line: both the careful way.
    const char c = ahead[0];
    if (c == '\t' || c == '\r' || c == '\n') return false;
    ConsumeBuffered(reader, ahead.substr(0, 1), ahead.size());
    token.text.clear();
    token.text.push_back(c);
    token.tokClass = kClassText;
    token.major = static_cast<unsigned char>(c);
    return true;
  }
  if (start >= ahead.size()) return false;

  if (ahead[start] == '\'') {
    // \'xx, with its two digits taken as they are (see HexValue).
    if (start + 2 >= ahead.size()) return false;
    const char high = ahead[start + 1], low = ahead[start + 2];
    if (high == '\r' || high == '\n' || low == '\r' || low == '\n') return false;
    reader.pushedChar = -1;
    ConsumeBuffered(reader, ahead.substr(0, start + 3), ahead.size());
    token.text.assign("\\'");
    token.text.append(ahead.substr(start + 1, 2));
    token.tokClass = kClassText;
    token.major = (16 * HexValue(high) + HexValue(low)) & 0xFF;
    return true;
  }

  std::size_t end = start + LettersAt(ahead, start);
  if (end == start) return false;
  const std::size_t letters = end;
  if (end < ahead.size() && ahead[end] == '-') ++end;
  while (end < ahead.size() && IsDigit(ahead[end])) ++end;
  // The delimiter must be in the window, and the text must fit the token.
  if (end >= ahead.size() || end - start + 1 > kMaxTextLength) return false;
  const CtrlWord* entry = LookupLetters(engine.controlWords, ahead.substr(start, letters - start),
                                        ahead.size() - start);
  // \bin's binary data follows its delimiter: read the careful way.
  if (entry && IsBinaryWord(entry->major, entry->minor)) return false;

  reader.pushedChar = -1;
  if (start == 1) {
    token.text.assign(ahead.data(), end);
  } else {
    token.text.clear();
    token.text.push_back('\\');
    token.text.append(ahead.data(), end);
  }
  SetControlWord(engine, entry);
  std::size_t i = letters;
  const bool negative = i < end && ahead[i] == '-';
  if (negative) ++i;
  if (i < end) {
    long long value = 0;
    for (; i < end; ++i) value = AddDigit(value, ahead[i]);
    token.param = Saturated(value, negative);
  }
  // The delimiter: a blank is consumed; anything else is read and kept for the next token. A line
  // end is read by GetChar, which counts the line.
  const char delimiter = ahead[end];
  if (delimiter == '\r' || delimiter == '\n') {
    ConsumeBuffered(reader, ahead.substr(0, end), ahead.size());
    const std::size_t length = token.text.size();
    reader.pushedChar = GetChar(reader);
    token.text.resize(length);
  } else {
    ConsumeBuffered(reader, ahead.substr(0, end + 1), ahead.size());
    if (delimiter != ' ') reader.pushedChar = static_cast<unsigned char>(delimiter);
  }
  return true;
}

/// The careful way of ReadRawToken, character by character, for the tokens the read window does
/// not hold whole (and for the characters the window read leaves to it).
[[gnu::noinline]] void ReadTokenByCharacters(Engine& engine) {
  ReaderState& reader = engine.reader;
  RtfToken& token = reader.token;
  int c;
  if (reader.pushedChar >= 0) {
    c = reader.pushedChar;
    reader.pushedChar = -1;
    token.text.push_back(static_cast<char>(c));
  } else {
    c = GetChar(reader);
  }
  if (c < 0) {
    token.tokClass = kClassEOF;
    return;
  }

  switch (c) {
    case '{':
      token.tokClass = kClassGroup;
      token.major = 0;
      return;
    case '}':
      token.tokClass = kClassGroup;
      token.major = 1;
      return;
    case '\t':
      token.tokClass = kClassControl;
      token.major = kMajorSpecialChar;
      token.minor = special::kTab;
      return;
    case '\\':
      break;
    default:
      token.tokClass = kClassText;
      token.major = c;
      return;
  }

  c = GetChar(reader);
  if (c < 0) return;  // backslash at end of input: unknown token
  if (IsLetter(c)) {
    ReadControlWord(engine);
    return;
  }
  switch (c) {
    case '\'': {
      int high = GetChar(reader);
      if (high < 0) return;
      int low = GetChar(reader);
      if (low < 0) return;
      token.tokClass = kClassText;
      token.major = (16 * HexValue(high) + HexValue(low)) & 0xFF;
      return;
    }
    case ':':
    case '\\':
    case '{':
    case '}':
      token.tokClass = kClassText;
      token.major = c;
      return;
    default:
      if (const CtrlWord* entry = Lookup(engine.controlWords, token.text)) {
        token.tokClass = kClassControl;
        token.major = entry->major;
        token.minor = entry->minor;
        reader.lastControlWord = entry->word;
      }
      return;
  }
}

/// ReadRawToken, written into the read loop as well.
[[gnu::always_inline]] inline void ReadRaw(Engine& engine) {
  ReaderState& reader = engine.reader;
  RtfToken& token = reader.token;
  token.tokClass = kClassUnknown;
  token.param = kNoParam;
  token.text.clear();

  if (reader.binarySkip != 0) {
    long count = reader.binarySkip;
    reader.binarySkip = 0;
    SkipBinary(reader, count);
  }
  if (!ReadTokenInWindow(engine)) ReadTokenByCharacters(engine);
}

}  // namespace

void ReadRawToken(Engine& engine) { ReadRaw(engine); }

}  // namespace quillo::rtf

namespace quillo::rtf {

// ---- Tokens ---------------------------------------------------------------------------------

namespace {

/// A trap word: the translation file's CallTrap function decides what it writes; its result
/// starts with a flag character that is not output.
[[gnu::noinline]] void RunTrap(Engine& engine) {
  RtfToken& token = engine.reader.token;
  token.major = -token.major;
  std::string result = Expand(engine, "$CallTrap()");
  if (!result.empty() && engine.driver.pass == 2)
    PutWrap(engine, std::string_view(result).substr(1), engine.driver.main, 0);
}

/// Makes the pushed-back token current again; its mapping and trap were done when it was read.
[[gnu::noinline]] int TakePushedBack(ReaderState& reader) {
  RtfToken& token = reader.token;
  token.tokClass = reader.pushedBack.tokClass;
  token.major = reader.pushedBack.major;
  token.minor = reader.pushedBack.minor;
  token.param = reader.pushedBack.param;
  token.text.assign(reader.pushedBack.text);
  reader.pushedBack.tokClass = -1;
  return token.tokClass;
}

/// GetToken, written into the read loop as well.
[[gnu::always_inline]] inline int NextToken(Engine& engine) {
  ReaderState& reader = engine.reader;
  RtfToken& token = reader.token;
  for (;;) {
    if (reader.pushedBack.tokClass >= 0) return TakePushedBack(reader);
    ReadRaw(engine);
    if (token.tokClass == kClassControl && token.major < 0) RunTrap(engine);
    if (token.tokClass == kClassText) token.minor = RTFMapChar(engine, token.major);
    if (reader.readHook != nullptr) reader.readHook(engine);
    if (token.tokClass != kClassText ||
        (token.major != 0 && token.major != '\n' && token.major != '\r'))
      return token.tokClass;
  }
}

}  // namespace

int GetToken(Engine& engine) { return NextToken(engine); }

void UngetToken(Engine& engine) {
  ReaderState& reader = engine.reader;
  bool twice = reader.pushedBack.tokClass >= 0;
  bool nothing = reader.token.tokClass < 0;
  // The save is made in every case; the messages only report the misuse.
  reader.pushedBack.tokClass = reader.token.tokClass;
  reader.pushedBack.major = reader.token.major;
  reader.pushedBack.minor = reader.token.minor;
  reader.pushedBack.param = reader.token.param;
  reader.pushedBack.text.assign(reader.token.text);
  if (twice) {
    ReportMessage(engine, "ERR_UNGET_2");
  } else if (nothing) {
    ReportMessage(engine, "ERR_NO_UNGET_TOKEN");
  }
}

std::string_view TextAhead(const Engine& engine) {
  const ReaderState& reader = engine.reader;
  if (reader.readHook != nullptr || (engine.settings.mirrors.debug & kDebugTokens) != 0 ||
      reader.pushedBack.tokClass >= 0 || reader.pushedChar >= 0 || reader.binarySkip != 0 ||
      reader.lineEnd != 0)
    return {};
  std::string_view ahead = FileBuffered(reader.input);
  const DriverState& driver = engine.driver;
  if (driver.progressStep > 0 && driver.inputSize > 0 && driver.input == reader.input) {
    // The driver reports progress between tokens once the position passes its threshold; the
    // run stops short of that point so that every report still comes.
    const long base = driver.pass == 2 ? 50 : 0;
    const long quietUntil = ((driver.progressThreshold - base + 1) * driver.inputSize - 1) / 50;
    const long position = FileTell(reader.input);
    if (quietUntil <= position) return {};
    if (static_cast<long>(ahead.size()) > quietUntil - position)
      ahead = ahead.substr(0, static_cast<std::size_t>(quietUntil - position));
  }
  return ahead;
}

void ConsumePlainText(Engine& engine, std::size_t count, int lastIndex) {
  if (count == 0) return;
  ConsumeRawText(engine, count);
  engine.reader.token.minor = lastIndex;
}

void ConsumeRawText(Engine& engine, std::size_t count) {
  if (count == 0) return;
  ReaderState& reader = engine.reader;
  const std::string_view window = FileBuffered(reader.input);
  const std::string_view text = window.substr(0, count);
  const unsigned char last = static_cast<unsigned char>(text.back());
  ConsumeBuffered(reader, text, window.size());
  RtfToken& token = reader.token;
  token.tokClass = kClassText;
  token.major = last;
  token.param = kNoParam;
  token.text.assign(1, static_cast<char>(last));
}

std::size_t PlainTextLength(std::string_view text) {
  static constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0; c < 256; ++c) plain[static_cast<std::size_t>(c)] = IsPlainText(c);
    return plain;
  }();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i + 4 <= size &&
         (kPlain[bytes[i]] & kPlain[bytes[i + 1]] & kPlain[bytes[i + 2]] & kPlain[bytes[i + 3]]))
    i += 4;
  while (i < size && kPlain[bytes[i]]) ++i;
  return i;
}

// ---- Routing --------------------------------------------------------------------------------

namespace {

std::string_view DepthMarker(const ReaderState& reader) {
  int depth = reader.groupDepth % 30;
  if (depth < 0) depth += 30;
  return std::string_view(kDepthDigits, static_cast<std::size_t>(depth));
}

void TraceToken(Engine& engine) {
  ReaderState& reader = engine.reader;
  const RtfToken& token = reader.token;
  if (token.tokClass == kClassText) {
    if (reader.traceText.size() + token.text.size() > kTraceLineLength) FlushTokenTrace(engine);
    reader.traceText.append(token.text);
    return;
  }
  FlushTokenTrace(engine);
  std::string marker(DepthMarker(reader));
  PrintEscaped(engine, "%8ld,%4d,%8ldt:%s:%s,%d,%d,%d,%ld\n", reader.lineNumber,
               reader.linePosition, reader.charCount, marker.c_str(), token.text.c_str(),
               token.tokClass, token.major, token.minor, static_cast<long>(token.param));
}

}  // namespace

void FlushTokenTrace(Engine& engine) {
  ReaderState& reader = engine.reader;
  if (reader.traceText.empty()) return;
  std::string marker(DepthMarker(reader));
  PrintEscaped(engine, "%8ld,%4d,%8ldT:%s:%s\n", reader.lineNumber, reader.linePosition,
               reader.charCount, marker.c_str(), reader.traceText.c_str());
  reader.traceText.clear();
}

namespace {

/// RouteToken, written into the read loop as well.
[[gnu::always_inline]] inline void Route(Engine& engine) {
  ReaderState& reader = engine.reader;
  const RtfToken& token = reader.token;
  if (token.tokClass < 0 || token.tokClass >= kMaxClass) {
    ReportMessage(engine, "ERR_UNKNOWN_CLASS", {token.tokClass, token.text});
  }
  if (engine.settings.mirrors.debug & kDebugTokens) TraceToken(engine);
  if (token.tokClass == kClassControl && token.major == kMajorDestination) {
    if (TokenCallback fn = GetDestinationCallback(engine, token.minor)) {
      fn(engine);
      return;
    }
  }
  if (TokenCallback fn = GetClassCallback(engine, token.tokClass)) fn(engine);
}

}  // namespace

void RouteToken(Engine& engine) { Route(engine); }

bool RouteTokens(Engine& engine, TokenCallback between) {
  const DriverState& driver = engine.driver;
  while (!driver.stop) {
    if (NextToken(engine) == kClassEOF) return true;
    if (between) between(engine);
    Route(engine);
  }
  return false;
}

void SkipGroup(Engine& engine) {
  ReaderState& reader = engine.reader;
  if (engine.settings.mirrors.debug & kDebugSkippedGroups)
    PrintEscaped(engine, "Skipping:%s\n", reader.token.text.c_str());
  // The nesting is counted, not recursed into, so the depth of the skipped group is unbounded.
  long level = 1;
  GetToken(engine);
  while (reader.token.tokClass != kClassEOF) {
    if (reader.token.tokClass == kClassGroup) {
      if (reader.token.major == 0) {
        ++level;
      } else if (--level < 1) {
        break;
      }
    }
    // Text between the group's words (picture data, say) is passed over a run at a time.
    ConsumeRawText(engine, PlainTextLength(TextAhead(engine)));
    ReadRawToken(engine);
  }
}

void SkipGroupAndRoute(Engine& engine) {
  SkipGroup(engine);
  RouteToken(engine);
}

void ReadDocument(Engine& engine) {
  ReaderState& reader = engine.reader;
  DriverState& driver = engine.driver;
  while (GetToken(engine) != kClassEOF && !driver.stop) {
    if (driver.progressStep > 0 && reader.inputSize > 0) {
      long position = FileTell(reader.input);
      long percent = (position < 0 ? 0 : position) * 50 / reader.inputSize;
      if (driver.pass == 2) percent += 50;
      if (driver.progressThreshold < percent) {
        ReportMessage(engine, "MSG_PERCENT", {static_cast<int>(percent)});
        driver.progressThreshold += driver.progressStep;
      }
    }
    RouteToken(engine);
  }
  // Text gathered for the trace after the last non-text token would otherwise never be shown.
  if (engine.settings.mirrors.debug & kDebugTokens) FlushTokenTrace(engine);
}

// ---- Set-up and callbacks -------------------------------------------------------------------

void ReaderInit(Engine& engine) {
  ReaderState& reader = engine.reader;
  reader.token.tokClass = -1;
  reader.token.major = 0;
  reader.token.minor = 0;
  reader.token.param = kNoParam;
  reader.token.text.clear();
  reader.pushedBack.tokClass = -1;
  reader.pushedBack.text.clear();
  reader.pushedChar = -1;
  reader.lineEnd = 1;
  reader.lineNumber = 0;
  reader.linePosition = 0;
  reader.charCount = 0;
  reader.binarySkip = 0;
  reader.groupDepth = 0;
  reader.traceText.clear();
  reader.recentInputCount = 0;
  // The token texts are bounded, so their storage is reserved once and reused by every token.
  reader.token.text.reserve(kTokenTextSize);
  reader.pushedBack.text.reserve(kTokenTextSize);

  if (LookupInit(engine) != 0) return;

  for (TokenCallback& fn : reader.classCallbacks) fn = nullptr;
  for (TokenCallback& fn : reader.destinationCallbacks) fn = nullptr;
  // The header tables have their own readers; the information group, pictures and objects are
  // skipped unless the translation layer installs readers for them.
  reader.destinationCallbacks[dest::kFontTbl] = ReadFontTbl;
  reader.destinationCallbacks[dest::kColorTbl] = ReadColorTbl;
  reader.destinationCallbacks[dest::kStyleSheet] = ReadStyleSheet;
  for (int minor : {dest::kInfo, dest::kPict, dest::kObject})
    reader.destinationCallbacks[minor] = SkipGroupAndRoute;
  // The font, colour and style lists are rebuilt by every pass.
  ResetDocumentTables(engine);
  reader.readHook = nullptr;
  ResetCharMaps(engine);
}

void SetClassCallback(Engine& engine, int tokenClass, TokenCallback fn) {
  if (tokenClass >= 0 && tokenClass < kMaxClass) engine.reader.classCallbacks[tokenClass] = fn;
}

TokenCallback GetClassCallback(const Engine& engine, int tokenClass) {
  return tokenClass >= 0 && tokenClass < kMaxClass ? engine.reader.classCallbacks[tokenClass]
                                                   : nullptr;
}

void SetDestinationCallback(Engine& engine, int minor, TokenCallback fn) {
  if (minor >= 0 && minor < kMaxDestination) engine.reader.destinationCallbacks[minor] = fn;
}

TokenCallback GetDestinationCallback(const Engine& engine, int minor) {
  return minor >= 0 && minor < kMaxDestination ? engine.reader.destinationCallbacks[minor]
                                               : nullptr;
}

void SetReadHook(Engine& engine, TokenCallback fn) { engine.reader.readHook = fn; }
TokenCallback GetReadHook(const Engine& engine) { return engine.reader.readHook; }

int RTFMapChar(Engine& engine, int byte) { return MapCharToStandard(engine, byte); }

std::string RecentInput(const Engine& engine) {
  const ReaderState& reader = engine.reader;
  unsigned long count = reader.recentInputCount;
  unsigned long length = count < kRecentInputLength ? count : kRecentInputLength;
  std::string text;
  text.reserve(length);
  for (unsigned long i = count - length; i < count; ++i)
    text.push_back(reader.recentInput[i & (kRecentInputRing - 1)]);
  return text;
}

bool CheckCM(const Engine& engine, int tokenClass, int major) {
  return engine.reader.token.tokClass == tokenClass && engine.reader.token.major == major;
}

bool CheckCMM(const Engine& engine, int tokenClass, int major, int minor) {
  return CheckCM(engine, tokenClass, major) && engine.reader.token.minor == minor;
}

bool CheckMM(const Engine& engine, int major, int minor) {
  return engine.reader.token.major == major && engine.reader.token.minor == minor;
}

}  // namespace quillo::rtf
