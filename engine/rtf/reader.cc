// PLACEHOLDER: the tokenizer is being written.
#include "rtf/reader.h"

#include "engine.h"

namespace quillo::rtf {

void ReaderInit(Engine& engine) { engine.reader.token = RtfToken(); }
void SetClassCallback(Engine& e, int c, TokenCallback fn) { if (c >= 0 && c < kMaxClass) e.reader.classCallbacks[c] = fn; }
TokenCallback GetClassCallback(const Engine& e, int c) { return c >= 0 && c < kMaxClass ? e.reader.classCallbacks[c] : nullptr; }
void SetDestinationCallback(Engine& e, int m, TokenCallback fn) { if (m >= 0 && m < kMaxDestination) e.reader.destinationCallbacks[m] = fn; }
TokenCallback GetDestinationCallback(const Engine& e, int m) { return m >= 0 && m < kMaxDestination ? e.reader.destinationCallbacks[m] : nullptr; }
int GetToken(Engine& e) { e.reader.token.tokClass = kClassEOF; return kClassEOF; }
void UngetToken(Engine&) {}
void RouteToken(Engine&) {}
void SkipGroup(Engine&) {}
bool CheckCM(const Engine& e, int c, int ma) { return e.reader.token.tokClass == c && e.reader.token.major == ma; }
bool CheckCMM(const Engine& e, int c, int ma, int mi) { return CheckCM(e, c, ma) && e.reader.token.minor == mi; }
bool CheckMM(const Engine& e, int ma, int mi) { return e.reader.token.major == ma && e.reader.token.minor == mi; }

}  // namespace quillo::rtf
