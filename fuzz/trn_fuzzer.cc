// Fuzzes the translation-file loader from memory: the input is registered as an in-memory file
// under the name the conversion loads as its translation file, and a small fixed document is then
// converted with it, so that the tables, strings and functions it defines are used as well.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/file_table.h"
#include "fuzz_support.h"

namespace {

/// An absolute name: the library search opens it as it is, and finds the registered memory input.
constexpr char kTrnName[] = "/quillo-fuzz/input.trn";

constexpr char kDocument[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times;}{\\f1\\fswiss Arial;}}"
    "{\\colortbl;\\red255\\green0\\blue0;}"
    "{\\stylesheet{\\s0 Normal;}{\\s1\\b\\fs32 heading 1;}}"
    "{\\info{\\title Fuzz}}"
    "\\pard\\s1\\b\\fs32 Heading\\par"
    "\\pard\\s0 Plain {\\b bold} {\\i italic} \\u8364? \\'e9 text.\\par"
    "{\\field{\\*\\fldinst HYPERLINK \"http://example.com\"}{\\fldrslt link}}\\par"
    "\\trowd\\cellx1000\\cellx2000\\intbl A\\cell B\\cell\\row"
    "\\pard Footnote{\\footnote\\pard note}\\par}";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string text = quillo::fuzz::AsText(data, size);
  if (quillo::fuzz::ReachesHost(text)) return 0;
  auto engine = quillo::fuzz::MakeEngine();
  quillo::FileOpenText(engine->files, kTrnName, text.data(), static_cast<long>(text.size()));
  char program[] = "";
  char define[] = "-D";
  std::string trn = std::string("TrnFile=") + kTrnName;
  // An empty script command runs nothing, should a Script step get past the input filter.
  char noScripts[] = "ScriptExecCmd=";
  char* argv[] = {program, define, trn.data(), define, noScripts, nullptr};
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, 5, argv, kDocument, &count);
  quillo::FreeConvertedOutputs(outputs, count);
  return 0;
}
