// Fuzzes the expansion language from memory. The first byte picks the entry point:
//   0: string expansion of the rest (lines "=Name value" first define named strings),
//   1: the stack calculator on the rest,
//   2: regular expressions: first line the pattern, second line the substitution template, the
//      rest the subject; matching is repeated along the subject as a global substitution does.
// Every entry must end, bounded in time and depth, whatever the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "expand/calculator.h"
#include "expand/regex.h"
#include "fuzz_support.h"

namespace {

using namespace quillo;

/// Splits off the text up to the next line feed (which is dropped).
std::string_view NextLine(std::string_view& rest) {
  size_t end = rest.find('\n');
  std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

void FuzzExpansion(Engine& engine, std::string_view rest) {
  // Definitions first, so that references and calls have something to find.
  while (!rest.empty() && rest.front() == '=') {
    std::string_view line = NextLine(rest).substr(1);
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos) continue;
    SetSetting(engine, line.substr(0, blank), line.substr(blank + 1));
  }
  std::string result = StrExp(engine, rest);
  // A second expansion of the result may run what the first produced; it must end too.
  if (result.size() < 4096) StrExp(engine, result);
}

void FuzzRegex(Engine& engine, std::string_view rest) {
  std::string pattern(NextLine(rest));
  std::string templ(NextLine(rest));
  std::string subject(rest);
  auto regex = expand::Regex::Compile(&engine, pattern);
  if (!regex) return;
  regex->Match(subject.c_str());
  // A global substitution: match on the rest after each match, as Gsub does.
  std::string out;
  size_t offset = 0;
  for (int rounds = 0; rounds < 64 && offset <= subject.size(); ++rounds) {
    const char* start = subject.data() + offset;
    if (!regex->Match(start, subject.size() - offset)) break;
    regex->Substitute(templ, out);
    for (int n = 0; n < 10; ++n) {
      if (!regex->GroupMatched(n)) continue;
      // Every part of a match lies inside the subject it was matched in.
      if (regex->GroupStart(n) < start || regex->GroupEnd(n) > subject.data() + subject.size() ||
          regex->GroupStart(n) > regex->GroupEnd(n))
        std::abort();
    }
    size_t end = static_cast<size_t>(regex->GroupEnd(0) - subject.data());
    offset = end > offset ? end : offset + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  std::string text = fuzz::AsText(data + 1, size - 1);
  if (fuzz::ReachesHost(text)) return 0;
  auto engine = fuzz::MakeEngine();
  try {
    switch (data[0] % 3) {
      case 0:
        FuzzExpansion(*engine, text);
        break;
      case 1:
        RPExp(*engine, text);
        break;
      case 2:
        FuzzRegex(*engine, text);
        break;
    }
  } catch (const ConversionAbandoned&) {
    // Fatal messages (a bad pattern, a runaway expansion) end the run cleanly.
  }
  return 0;
}
