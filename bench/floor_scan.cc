// The floor of the benchmarks: the least work any RTF reader must do, a plain scan of the file
// that counts braces and backslashes. Conversion speed and memory are reported as ratios to it.
//   floor_scan FILE    prints "opening closing backslashes" and exits 0 (1 when FILE is unreadable)
#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor_scan FILE\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  // Byte classes: 1 '{', 2 '}', 3 '\\'; everything else 0.
  unsigned char kind[256] = {};
  kind[static_cast<unsigned char>('{')] = 1;
  kind[static_cast<unsigned char>('}')] = 2;
  kind[static_cast<unsigned char>('\\')] = 3;
  std::uint64_t counts[4] = {};
  static unsigned char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    for (std::size_t i = 0; i < got; ++i) ++counts[kind[buffer[i]]];
  std::fclose(file);
  std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(counts[1]),
              static_cast<unsigned long long>(counts[2]),
              static_cast<unsigned long long>(counts[3]));
  return 0;
}
