// Fuzzes the RTF tokenizer on in-memory input: every token is read (and, when the first byte asks
// for it, routed to the header-table readers, pushed back, or skipped as a group) and its
// invariants are checked. Any byte string is valid input and must be read in linear time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/file_table.h"
#include "fuzz_support.h"
#include "rtf/reader.h"

namespace {

using namespace quillo;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::string text = fuzz::AsText(data + 1, size - 1);
  auto engine = fuzz::MakeEngine();
  FileEntry* input =
      FileOpenText(engine->files, "-.rtf", text.data(), static_cast<long>(text.size()));
  engine->reader.input = input;
  engine->reader.inputSize = static_cast<long>(text.size());
  rtf::ReaderInit(*engine);

  const bool route = flags & 1;       // hand tokens to the font/colour/style readers
  const bool unget = flags & 2;       // push every eighth token back once
  const bool skipGroups = flags & 4;  // skip every third group that opens
  const bool raw = flags & 8;         // read without the pushed-back token and the mapping
  // Each token takes at least one input byte, a pushed-back token is read once more, and a
  // routed table reader reads on by itself; anything beyond this bound is a hang.
  const size_t limit = 2 * text.size() + 16;
  size_t tokens = 0, groups = 0;
  try {
    for (;;) {
      Check(++tokens <= limit);
      if (raw && (tokens & 1))
        rtf::ReadRawToken(*engine);
      else
        rtf::GetToken(*engine);
      const rtf::RtfToken& token = engine->reader.token;
      Check(token.tokClass >= rtf::kClassUnknown && token.tokClass <= rtf::kClassEOF);
      Check(token.text.size() < static_cast<size_t>(rtf::kTokenTextSize));
      if (token.tokClass == rtf::kClassEOF) break;
      if (token.tokClass == rtf::kClassText) Check(token.major >= 0 && token.major <= 255);
      if (token.tokClass == rtf::kClassGroup && token.major == 0 && skipGroups &&
          ++groups % 3 == 0) {
        rtf::SkipGroup(*engine);
        continue;
      }
      if (unget && tokens % 8 == 0) {
        rtf::UngetToken(*engine);
        rtf::GetToken(*engine);
      }
      if (route) rtf::RouteToken(*engine);
    }
  } catch (const ConversionAbandoned&) {
    // A fatal message ends the read cleanly.
  }
  // The recent-input view never shows more than its documented length.
  Check(rtf::RecentInput(*engine).size() <= static_cast<size_t>(rtf::kRecentInputLength));
  return 0;
}
