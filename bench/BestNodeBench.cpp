// The best-node search: the plain loop against TBestNodeSearch on every vector unit and on
// one and two threads, for rows near the map's nodes and for rows of no structure.

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "NeuralNets/TBestNodeSearch.h"

namespace {

using kartlo::PlainBestNode;
using kartlo::TBestNodeSearch;

/// Rows per search: one block of the tool's road for rows of 64 values.
constexpr int kRows = 8192;

/// A map and rows to search for. Structured: neighbouring nodes have similar weights (as in a
/// trained map) and every row lies near a node. Unstructured: weights and rows uniform in
/// [0, 1).
struct Problem {
  int nodes;
  int inputs;
  std::vector<double> weights;  // node after node
  std::vector<double> rows;     // row after row
};

const Problem& GetProblem(int nodes, int inputs, bool structured) {
  static std::map<std::tuple<int, int, bool>, Problem> cache;
  const auto key = std::make_tuple(nodes, inputs, structured);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  Problem p{nodes, inputs, {}, {}};
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.02);
  const int side = static_cast<int>(std::lround(std::sqrt(nodes)));
  std::vector<double> slopeU(inputs), slopeV(inputs), phase(inputs);
  for (int j = 0; j < inputs; ++j) {
    slopeU[j] = unit(random) - 0.5;
    slopeV[j] = unit(random) - 0.5;
    phase[j] = unit(random);
  }
  for (int i = 0; i < nodes; ++i) {
    const double u = (i / side) / std::max(side - 1.0, 1.0);
    const double v = (i % side) / std::max(side - 1.0, 1.0);
    for (int j = 0; j < inputs; ++j) {
      p.weights.push_back(structured ? 0.5 + slopeU[j] * (u - 0.5) + slopeV[j] * (v - 0.5) +
                                           0.1 * std::sin(6.28318 * (u + v + phase[j]))
                                     : unit(random));
    }
  }
  std::uniform_int_distribution<int> pick(0, nodes - 1);
  for (int r = 0; r < kRows; ++r) {
    const int node = pick(random);
    for (int j = 0; j < inputs; ++j) {
      p.rows.push_back(structured ? p.weights[static_cast<std::size_t>(node) * inputs + j] +
                                        noise(random)
                                  : unit(random));
    }
  }
  return cache.emplace(key, std::move(p)).first->second;
}

void Plain(benchmark::State& state, int nodes, int inputs, bool structured) {
  const Problem& p = GetProblem(nodes, inputs, structured);
  for (auto _ : state) {
    for (int r = 0; r < kRows; ++r) {
      const double* row = p.rows.data() + static_cast<std::size_t>(r) * inputs;
      benchmark::DoNotOptimize(PlainBestNode(row, inputs, nodes, [&](int i) {
        return p.weights.data() + static_cast<std::size_t>(i) * inputs;
      }));
    }
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

/// level -1: the machine's widest.
void Fast(benchmark::State& state, int nodes, int inputs, bool structured, int level,
          int threads) {
  const Problem& p = GetProblem(nodes, inputs, structured);
  TBestNodeSearch search(inputs, nodes, p.weights.data());
  if (level >= 0 && !search.UseLevel(static_cast<TBestNodeSearch::Level>(level))) {
    state.SkipWithError("this machine lacks the vector unit");
    return;
  }
  search.UseThreads(threads);
  std::vector<int> best(kRows);
  // The answers must be the plain loop's.
  search.FindAll(p.rows.data(), kRows, static_cast<std::size_t>(inputs), best.data());
  for (int r = 0; r < kRows; ++r) {
    const double* row = p.rows.data() + static_cast<std::size_t>(r) * inputs;
    const int plain = PlainBestNode(row, inputs, nodes, [&](int i) {
      return p.weights.data() + static_cast<std::size_t>(i) * inputs;
    });
    if (best[r] != plain) {
      state.SkipWithError("a winner differs from the plain loop's");
      return;
    }
  }
  for (auto _ : state) {
    search.FindAll(p.rows.data(), kRows, static_cast<std::size_t>(inputs), best.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

#define KARTLO_SEARCH_CASES(NAME, NODES, INPUTS, STRUCTURED)                                   \
  BENCHMARK_CAPTURE(Plain, NAME, NODES, INPUTS, STRUCTURED)->UseRealTime()->Unit(benchmark::kMicrosecond); \
  BENCHMARK_CAPTURE(Fast, NAME/scalar/1thread, NODES, INPUTS, STRUCTURED, 0, 1)                \
      ->UseRealTime()->Unit(benchmark::kMicrosecond);                                          \
  BENCHMARK_CAPTURE(Fast, NAME/avx2/1thread, NODES, INPUTS, STRUCTURED, 1, 1)                  \
      ->UseRealTime()->Unit(benchmark::kMicrosecond);                                          \
  BENCHMARK_CAPTURE(Fast, NAME/avx512/1thread, NODES, INPUTS, STRUCTURED, 2, 1)                \
      ->UseRealTime()->Unit(benchmark::kMicrosecond);                                          \
  BENCHMARK_CAPTURE(Fast, NAME/widest/1thread, NODES, INPUTS, STRUCTURED, -1, 1)               \
      ->UseRealTime()->Unit(benchmark::kMicrosecond);                                          \
  BENCHMARK_CAPTURE(Fast, NAME/widest/2threads, NODES, INPUTS, STRUCTURED, -1, 2)              \
      ->UseRealTime()->Unit(benchmark::kMicrosecond)

KARTLO_SEARCH_CASES(map40x40_in64_near, 1600, 64, true);
KARTLO_SEARCH_CASES(map40x40_in64_uniform, 1600, 64, false);
KARTLO_SEARCH_CASES(map16x16_in16_near, 256, 16, true);
KARTLO_SEARCH_CASES(map16x16_in16_uniform, 256, 16, false);
KARTLO_SEARCH_CASES(map10x10_in8_near, 100, 8, true);

}  // namespace
