// Number parsing: FileTools::ParseNumber and ParseInteger against the C library's scanf and
// strtod on the texts data set files hold.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"

namespace {

/// Numbers as data files hold them: six decimals, fifteen significant digits, exponents,
/// small integers.
const std::vector<std::string>& Numbers() {
  static const std::vector<std::string> numbers = [] {
    std::vector<std::string> texts;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    char buffer[64];
    for (int i = 0; i < 4096; ++i) {
      const double v = unit(random);
      switch (i % 4) {
        case 0:
          std::snprintf(buffer, sizeof buffer, "%.6f", v);
          break;
        case 1:
          std::snprintf(buffer, sizeof buffer, "%.15g", v);
          break;
        case 2:
          std::snprintf(buffer, sizeof buffer, "%.15g", v * 1e-7);
          break;
        default:
          std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(v * 40));
          break;
      }
      texts.emplace_back(buffer);
    }
    return texts;
  }();
  return numbers;
}

void ParseNumber(benchmark::State& state) {
  kartlo::FileTools tools;
  std::istringstream in;
  for (auto _ : state) {
    for (const std::string& text : Numbers())
      benchmark::DoNotOptimize(tools.ParseNumber(in, text.c_str()));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(Numbers().size()));
}
BENCHMARK(ParseNumber);

/// What a reader built on the C library does: validate with "%f", convert with strtod.
void ScanfThenStrtod(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& text : Numbers()) {
      float scratch = 0.0F;
      if (std::sscanf(text.c_str(), "%f", &scratch) == 1)
        benchmark::DoNotOptimize(std::strtod(text.c_str(), nullptr));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(Numbers().size()));
}
BENCHMARK(ScanfThenStrtod);

void ScanfLf(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& text : Numbers()) {
      double value = 0.0;
      benchmark::DoNotOptimize(std::sscanf(text.c_str(), "%lf", &value));
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(Numbers().size()));
}
BENCHMARK(ScanfLf);

void Strtod(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& text : Numbers())
      benchmark::DoNotOptimize(std::strtod(text.c_str(), nullptr));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(Numbers().size()));
}
BENCHMARK(Strtod);

void ParseInteger(benchmark::State& state) {
  kartlo::FileTools tools;
  std::istringstream in;
  const char* texts[] = {"0", "12", "200000", "-7", "2000000", "64", "1600", "3"};
  for (auto _ : state) {
    for (const char* text : texts) benchmark::DoNotOptimize(tools.ParseInteger(in, text));
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(ParseInteger);

void ScanfLd(benchmark::State& state) {
  const char* texts[] = {"0", "12", "200000", "-7", "2000000", "64", "1600", "3"};
  for (auto _ : state) {
    for (const char* text : texts) {
      long value = 0;
      benchmark::DoNotOptimize(std::sscanf(text, "%ld", &value));
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(ScanfLd);

}  // namespace
