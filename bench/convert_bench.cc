// Benchmarks of string conversions through the C interface, beside the floor scan of the same
// text. The document comes from the command line:
//   quillo_bench [benchmark options] DOCUMENT.rtf
// The first conversion of a process also loads the library files; it is timed on its own and
// reported as the counter "first_ms" of BM_StringConversion, whose iterations are the later ones.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "quillo/quillo.h"

namespace {

/// Text of the document named on the command line, and the time of the first conversion.
struct Document {
  std::string text;
  double firstMilliseconds = -1;
};

std::string ProgramPath() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

void ConvertOnce(const std::string& text) {
  int count = 0;
  ConvertedOutput* results = QuilloConvertStrRTF(text.c_str(), 0, nullptr, &count);
  if (!results || count <= 0) std::fprintf(stderr, "quillo_bench: conversion failed\n");
  QuilloFreeResults(results, count);
}

void BM_StringConversion(benchmark::State& state, Document* document) {
  if (document->firstMilliseconds < 0) {
    auto start = std::chrono::steady_clock::now();
    ConvertOnce(document->text);
    document->firstMilliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  for (auto _ : state) ConvertOnce(document->text);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(document->text.size()));
  state.counters["first_ms"] = document->firstMilliseconds;
}

/// The same count of braces and backslashes as floor_scan, on the text in memory.
void BM_FloorScan(benchmark::State& state, Document* document) {
  unsigned char kind[256] = {};
  kind[static_cast<unsigned char>('{')] = 1;
  kind[static_cast<unsigned char>('}')] = 2;
  kind[static_cast<unsigned char>('\\')] = 3;
  for (auto _ : state) {
    uint64_t counts[4] = {};
    for (unsigned char c : document->text) ++counts[kind[c]];
    benchmark::DoNotOptimize(counts);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(document->text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillo_bench [benchmark options] DOCUMENT.rtf\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  std::stringstream contents;
  contents << in.rdbuf();
  Document document;
  document.text = contents.str();
  if (QuilloInit(ProgramPath().c_str()) != 0) {
    std::fprintf(stderr, "quillo_bench: the engine could not be initialised\n");
    return 1;
  }
  benchmark::RegisterBenchmark("BM_StringConversion", BM_StringConversion, &document)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_FloorScan", BM_FloorScan, &document)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
