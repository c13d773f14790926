// The RTF tokenizer: turns the input stream into tokens (groups, text characters, control words)
// and routes each to a callback chosen by its class or, for destination words, by its minor.
// Knows no RTF semantics itself: word numbers come from the control-word table.
#pragma once

#include <string>
#include <string_view>

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

enum TokenClass : int {
  kClassUnknown = 0, kClassGroup = 1, kClassText = 2, kClassControl = 3, kClassEOF = 4,
  kMaxClass = 5,
};
constexpr int kNoParam = -1000000;
constexpr int kMaxDestination = 141;
/// Token text buffer size: longer control words and parameters are cut so the text fits.
constexpr int kTokenTextSize = 1024;

using TokenCallback = void (*)(Engine&);

struct RtfToken {
  int tokClass = -1;
  int major = 0;
  int minor = 0;
  int param = kNoParam;
  std::string text;  ///< as read, at most kTokenTextSize - 1 characters
};

struct ReaderState {
  FileEntry* input = nullptr;
  long inputSize = 0;
  RtfToken token;
  RtfToken pushedBack;  ///< tokClass -1 = none
  int pushedChar = -1;
  int prevChar = -1;
  bool lineEndPending = false;
  long lineNumber = 0;
  int linePosition = 0;
  long charCount = 0;
  long binarySkip = 0;
  std::string lastControlWord;  ///< word of the last control word found (the Token setting)
  TokenCallback classCallbacks[kMaxClass] = {};
  TokenCallback destinationCallbacks[kMaxDestination] = {};
  TokenCallback readHook = nullptr;
  int groupDepth = 0;           ///< kept by the group handler; shown by the token trace
  std::string traceText;        ///< gathered text of the token trace
  std::string recentInput;      ///< ring of the last input characters for the Context built-in
};

void ReaderInit(Engine& engine);
void SetClassCallback(Engine& engine, int tokenClass, TokenCallback fn);
TokenCallback GetClassCallback(const Engine& engine, int tokenClass);
void SetDestinationCallback(Engine& engine, int minor, TokenCallback fn);
TokenCallback GetDestinationCallback(const Engine& engine, int minor);
int GetToken(Engine& engine);
void UngetToken(Engine& engine);
void RouteToken(Engine& engine);
void SkipGroup(Engine& engine);
bool CheckCM(const Engine& engine, int tokenClass, int major);
bool CheckCMM(const Engine& engine, int tokenClass, int major, int minor);
bool CheckMM(const Engine& engine, int major, int minor);

}  // namespace rtf
}  // namespace quillo
