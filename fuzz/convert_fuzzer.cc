// Fuzzes the whole string conversion with the default translation file html.trn: the input is the
// RTF text (up to its first NUL, as a host's C string). Both passes run and every output is kept
// in memory and released.
#include <cstddef>
#include <cstdint>
#include <string>

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
  }
  quillo::FreeConvertedOutputs(outputs, count);
  return 0;
}
