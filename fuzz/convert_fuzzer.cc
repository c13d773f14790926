// Fuzzes the whole string conversion with the default translation file html.trn: the input is the
// RTF text (up to its first NUL, as a host's C string). Both passes run and every output is kept
// in memory and released. No document may script the page: a page with a <script> element or an
// event attribute is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  std::string text = quillo::fuzz::AsText(data, size);
  auto engine = quillo::fuzz::MakeEngine();
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, 0, nullptr, text.c_str(), &count);
  // Results are well formed: a name and NUL-terminated data of the stated length.
  for (int i = 0; i < count; ++i) {
    if (!outputs[i].name || !outputs[i].data || outputs[i].length < 0 ||
        outputs[i].data[outputs[i].length] != '\0')
      __builtin_trap();
    const std::string_view name = outputs[i].name;
    const bool page = (name.size() > 5 && name.substr(name.size() - 5) == ".html") ||
                      (name.size() > 4 && name.substr(name.size() - 4) == ".htm");
    if (page && quillo::fuzz::Scripted(std::string_view(outputs[i].data, outputs[i].length)))
      __builtin_trap();
  }
  quillo::FreeConvertedOutputs(outputs, count);
  return 0;
}
