// PLACEHOLDER: minimal reporter so the engine links while the real one is written.
#include "frame/messages.h"

#include <cstdio>

#include "engine.h"

namespace quillo {

void ReportMessage(Engine&, std::string_view code, std::initializer_list<MsgArg>) {
  std::fprintf(stderr, "message %.*s\n", static_cast<int>(code.size()), code.data());
}

void PrintEscaped(Engine&, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
}

void FatalText(Engine&, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
  throw ConversionAbandoned();
}

void PrintText(Engine&, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void WriteErrorFile(Engine& engine, std::string_view text) { PrintText(engine, text); }
void CloseErrorFile(Engine&) {}
void RegisterDefaultMessages(Engine&) {}

}  // namespace quillo
