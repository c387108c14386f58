#include "NeuralNets/TBestNodeSearch.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define KARTLO_X86 1
#include <immintrin.h>
#else
#define KARTLO_X86 0
#endif

namespace kartlo {

namespace {

constexpr int kLanes = TBestNodeSearch::kLanes;
constexpr double kInf = std::numeric_limits<double>::infinity();
/// Partial sums are compared with the best distance after every this many inputs.
constexpr int kCheckEvery = 4;
/// Below this much work (rows × nodes × inputs) FindAll stays on one thread.
constexpr double kThreadWork = 1 << 21;

/// What a kernel needs to know about the node blocks.
struct Shape {
  const double* w;  ///< block b, input j, lane l at w[(b * nIn + j) * kLanes + l]
  int nIn;
  int nMap;
  int blocks;
  int prefix;
};

const double* BlockOf(const Shape& s, int b) {
  return s.w + static_cast<std::size_t>(b) * static_cast<std::size_t>(s.nIn) * kLanes;
}

/// The guess's full distance: its prefix sum continued over the remaining inputs, term by
/// term in input order as the plain loop sums.
double CompleteGuess(const Shape& s, const double* x, const double* partial, int g) {
  const double* w = BlockOf(s, g / kLanes) + g % kLanes;
  double sum = partial[g];
  for (int j = s.prefix; j < s.nIn; ++j) {
    const double diff = x[j] - w[static_cast<std::size_t>(j) * kLanes];
    sum = sum + diff * diff;
  }
  return sum;
}

/// The best so far: distance and node; node -1 while there is none (distance +infinity).
struct Best {
  double distance = kInf;
  int node = -1;

  void Start(double d, int g) {
    if (d < kInf) {
      distance = d;
      node = g;
    }
  }
  /// Node i with its final distance d. The guess has been taken first, out of index order,
  /// so a node below the current winner's index also wins a tie.
  void Offer(double d, int i) {
    if (d < distance || (d == distance && i < node)) {
      distance = d;
      node = i;
    }
  }
};

/// Offers the lanes of block b whose bit is set in `alive` with their final sums.
void OfferLanes(Best& best, const double* sums, unsigned alive, int b, int nMap) {
  for (int l = 0; l < kLanes; ++l) {
    const int i = b * kLanes + l;
    if (((alive >> l) & 1U) != 0 && i < nMap) best.Offer(sums[l], i);
  }
}

// --- Scalar ------------------------------------------------------------------------------

/// The lowest-index node of smallest prefix sum, or -1 when none is below infinity.
int ScalarGuess(const double* partial, int nMap) {
  double low = kInf;
  int g = -1;
  for (int i = 0; i < nMap; ++i) {
    if (partial[i] < low) {
      low = partial[i];
      g = i;
    }
  }
  return g;
}

unsigned ScalarAlive(const double* acc, double best) {
  unsigned alive = 0;
  for (int l = 0; l < kLanes; ++l) alive |= static_cast<unsigned>(acc[l] <= best) << l;
  return alive;
}

int SearchScalar(const Shape& s, const double* x, double* partial) {
  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    double acc[kLanes] = {};
    for (int j = 0; j < s.prefix; ++j) {
      for (int l = 0; l < kLanes; ++l) {
        const double diff = x[j] - w[j * kLanes + l];
        acc[l] = acc[l] + diff * diff;
      }
    }
    std::copy(acc, acc + kLanes, partial + b * kLanes);
  }
  Best best;
  const int g = ScalarGuess(partial, s.nMap);
  if (g >= 0) best.Start(CompleteGuess(s, x, partial, g), g);

  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    double acc[kLanes];
    std::copy(partial + b * kLanes, partial + (b + 1) * kLanes, acc);
    unsigned alive = ScalarAlive(acc, best.distance);
    for (int j = s.prefix; alive != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        for (int l = 0; l < kLanes; ++l) {
          const double diff = x[j] - w[j * kLanes + l];
          acc[l] = acc[l] + diff * diff;
        }
      }
      alive = ScalarAlive(acc, best.distance);
    }
    if (alive != 0) OfferLanes(best, acc, alive, b, s.nMap);
  }
  return best.node;
}

#if KARTLO_X86

// --- AVX2: a block is two vectors of four lanes --------------------------------------------

__attribute__((target("avx2"))) unsigned Avx2Alive(__m256d lo, __m256d hi, __m256d best) {
  const unsigned a = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(lo, best, _CMP_LE_OQ)));
  const unsigned c = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(hi, best, _CMP_LE_OQ)));
  return a | (c << 4);
}

__attribute__((target("avx2"))) int SearchAvx2(const Shape& s, const double* x,
                                                double* partial) {
  // Prefix sums, keeping per lane the smallest one and its block for the guess.
  __m256d lowLo = _mm256_set1_pd(kInf);
  __m256d lowHi = lowLo;
  __m256d atLo = _mm256_set1_pd(-1.0);
  __m256d atHi = atLo;
  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    __m256d lo = _mm256_setzero_pd();
    __m256d hi = _mm256_setzero_pd();
    for (int j = 0; j < s.prefix; ++j) {
      const __m256d xj = _mm256_set1_pd(x[j]);
      const __m256d dLo = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes));
      const __m256d dHi = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes + 4));
      lo = _mm256_add_pd(lo, _mm256_mul_pd(dLo, dLo));
      hi = _mm256_add_pd(hi, _mm256_mul_pd(dHi, dHi));
    }
    _mm256_store_pd(partial + b * kLanes, lo);
    _mm256_store_pd(partial + b * kLanes + 4, hi);
    const __m256d block = _mm256_set1_pd(static_cast<double>(b));
    const __m256d lessLo = _mm256_cmp_pd(lo, lowLo, _CMP_LT_OQ);
    const __m256d lessHi = _mm256_cmp_pd(hi, lowHi, _CMP_LT_OQ);
    lowLo = _mm256_blendv_pd(lowLo, lo, lessLo);
    lowHi = _mm256_blendv_pd(lowHi, hi, lessHi);
    atLo = _mm256_blendv_pd(atLo, block, lessLo);
    atHi = _mm256_blendv_pd(atHi, block, lessHi);
  }
  alignas(32) double low[kLanes];
  alignas(32) double at[kLanes];
  _mm256_store_pd(low, lowLo);
  _mm256_store_pd(low + 4, lowHi);
  _mm256_store_pd(at, atLo);
  _mm256_store_pd(at + 4, atHi);
  int g = -1;
  double gLow = kInf;
  for (int l = 0; l < kLanes; ++l) {
    const int node = static_cast<int>(at[l]) * kLanes + l;
    if (at[l] >= 0.0 && node < s.nMap && low[l] < gLow) {
      gLow = low[l];
      g = node;
    }
  }
  Best best;
  if (g >= 0) best.Start(CompleteGuess(s, x, partial, g), g);

  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    const __m256d limit = _mm256_set1_pd(best.distance);
    __m256d lo = _mm256_load_pd(partial + b * kLanes);
    __m256d hi = _mm256_load_pd(partial + b * kLanes + 4);
    unsigned alive = Avx2Alive(lo, hi, limit);
    for (int j = s.prefix; alive != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        const __m256d xj = _mm256_set1_pd(x[j]);
        const __m256d dLo = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes));
        const __m256d dHi = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes + 4));
        lo = _mm256_add_pd(lo, _mm256_mul_pd(dLo, dLo));
        hi = _mm256_add_pd(hi, _mm256_mul_pd(dHi, dHi));
      }
      alive = Avx2Alive(lo, hi, limit);
    }
    if (alive != 0) {
      alignas(32) double sums[kLanes];
      _mm256_store_pd(sums, lo);
      _mm256_store_pd(sums + 4, hi);
      OfferLanes(best, sums, alive, b, s.nMap);
    }
  }
  return best.node;
}

// --- AVX-512: a block is one vector of eight lanes ------------------------------------------

__attribute__((target("avx512f"))) int SearchAvx512(const Shape& s, const double* x,
                                                     double* partial) {
  __m512d low = _mm512_set1_pd(kInf);
  __m512d at = _mm512_set1_pd(-1.0);
  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    __m512d acc = _mm512_setzero_pd();
    for (int j = 0; j < s.prefix; ++j) {
      const __m512d d = _mm512_sub_pd(_mm512_set1_pd(x[j]), _mm512_load_pd(w + j * kLanes));
      acc = _mm512_add_pd(acc, _mm512_mul_pd(d, d));
    }
    _mm512_store_pd(partial + b * kLanes, acc);
    const __mmask8 less = _mm512_cmp_pd_mask(acc, low, _CMP_LT_OQ);
    low = _mm512_mask_mov_pd(low, less, acc);
    at = _mm512_mask_mov_pd(at, less, _mm512_set1_pd(static_cast<double>(b)));
  }
  alignas(64) double lows[kLanes];
  alignas(64) double ats[kLanes];
  _mm512_store_pd(lows, low);
  _mm512_store_pd(ats, at);
  int g = -1;
  double gLow = kInf;
  for (int l = 0; l < kLanes; ++l) {
    const int node = static_cast<int>(ats[l]) * kLanes + l;
    if (ats[l] >= 0.0 && node < s.nMap && lows[l] < gLow) {
      gLow = lows[l];
      g = node;
    }
  }
  Best best;
  if (g >= 0) best.Start(CompleteGuess(s, x, partial, g), g);

  for (int b = 0; b < s.blocks; ++b) {
    const double* w = BlockOf(s, b);
    const __m512d limit = _mm512_set1_pd(best.distance);
    __m512d acc = _mm512_load_pd(partial + b * kLanes);
    unsigned alive = _mm512_cmp_pd_mask(acc, limit, _CMP_LE_OQ);
    for (int j = s.prefix; alive != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        const __m512d d = _mm512_sub_pd(_mm512_set1_pd(x[j]), _mm512_load_pd(w + j * kLanes));
        acc = _mm512_add_pd(acc, _mm512_mul_pd(d, d));
      }
      alive = _mm512_cmp_pd_mask(acc, limit, _CMP_LE_OQ);
    }
    if (alive != 0) {
      alignas(64) double sums[kLanes];
      _mm512_store_pd(sums, acc);
      OfferLanes(best, sums, alive, b, s.nMap);
    }
  }
  return best.node;
}

#endif  // KARTLO_X86

using Kernel = int (*)(const Shape&, const double*, double*);

Kernel KernelFor(TBestNodeSearch::Level level) {
#if KARTLO_X86
  if (level == TBestNodeSearch::Level::Avx512) return SearchAvx512;
  if (level == TBestNodeSearch::Level::Avx2) return SearchAvx2;
#else
  static_cast<void>(level);
#endif
  return SearchScalar;
}

/// Inputs summed for every node before the guess is chosen: all of a short row, else eight.
int PrefixLength(int nIn) { return nIn <= 12 ? nIn : 8; }

}  // namespace

TBestNodeSearch::TBestNodeSearch(int nIn, int nMap, const std::function<double(int, int)>& weight)
    : nIn_(std::max(nIn, 0)),
      nMap_(std::max(nMap, 0)),
      blocks_((nMap_ + kLanes - 1) / kLanes),
      prefix_(PrefixLength(nIn_)),
      level_(MachineLevel()) {
  Build(weight);
}

TBestNodeSearch::TBestNodeSearch(int nIn, int nMap, const double* nodes)
    : TBestNodeSearch(nIn, nMap, [nodes, nIn](int i, int j) {
        return nodes[static_cast<std::size_t>(i) * static_cast<std::size_t>(nIn) +
                     static_cast<std::size_t>(j)];
      }) {}

void TBestNodeSearch::Build(const std::function<double(int, int)>& weight) {
  const std::size_t size =
      static_cast<std::size_t>(blocks_) * static_cast<std::size_t>(nIn_) * kLanes;
  // Room to start the blocks on a 64-byte boundary.
  storage_.assign(size + kLanes, std::numeric_limits<double>::quiet_NaN());
  const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
  offset_ = ((64 - address % 64) % 64) / sizeof(double);
  double* w = storage_.data() + offset_;
  for (int i = 0; i < nMap_; ++i) {
    double* lane = w + static_cast<std::size_t>(i / kLanes) * nIn_ * kLanes + i % kLanes;
    for (int j = 0; j < nIn_; ++j) lane[static_cast<std::size_t>(j) * kLanes] = weight(i, j);
  }
}

TBestNodeSearch::Level TBestNodeSearch::MachineLevel() {
#if KARTLO_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return Level::Avx512;
  if (__builtin_cpu_supports("avx2")) return Level::Avx2;
#endif
  return Level::Scalar;
}

bool TBestNodeSearch::UseLevel(Level level) {
  if (static_cast<int>(level) > static_cast<int>(MachineLevel())) return false;
  level_ = level;
  return true;
}

int TBestNodeSearch::Find(const double* input) const {
  int best = -1;
  std::vector<double> scratch(ScratchSize());
  FindRange(input, 0, 1, 0, &best, scratch);
  return best;
}

std::size_t TBestNodeSearch::ScratchSize() const {
  return static_cast<std::size_t>(blocks_) * kLanes + kLanes;
}

void TBestNodeSearch::FindRange(const double* inputs, std::size_t from, std::size_t to,
                                std::size_t stride, int* best,
                                std::vector<double>& scratch) const {
  if (nMap_ == 0) {
    std::fill(best + from, best + to, -1);
    return;
  }
  const Shape shape{storage_.data() + offset_, nIn_, nMap_, blocks_, prefix_};
  const Kernel kernel = KernelFor(level_);
  // The prefix sums, block-aligned like the weights.
  const auto address = reinterpret_cast<std::uintptr_t>(scratch.data());
  double* partial = scratch.data() + ((64 - address % 64) % 64) / sizeof(double);
  for (std::size_t r = from; r < to; ++r) best[r] = kernel(shape, inputs + r * stride, partial);
}

void TBestNodeSearch::FindAll(const double* inputs, std::size_t rows, std::size_t stride,
                              int* best) const {
  std::size_t threads = threads_ > 0 ? static_cast<std::size_t>(threads_)
                                     : std::max(1U, std::thread::hardware_concurrency());
  const double work = static_cast<double>(rows) * nMap_ * std::max(nIn_, 1);
  if (work < kThreadWork) threads = 1;
  threads = std::min(threads, std::max<std::size_t>(rows, 1));
  // Every scratch area is allocated before any thread starts, so no thread can fail.
  std::vector<std::vector<double>> scratch(threads, std::vector<double>(ScratchSize()));
  auto from = [&](std::size_t t) { return rows * t / threads; };
  std::vector<std::thread> helpers;
  helpers.reserve(threads);
  std::size_t started = 1;
  try {
    for (; started < threads; ++started) {
      const std::size_t t = started;
      helpers.emplace_back(
          [&, t] { FindRange(inputs, from(t), from(t + 1), stride, best, scratch[t]); });
    }
  } catch (...) {
    // No thread to be had: the calling thread takes over the remaining ranges.
  }
  FindRange(inputs, 0, from(1), stride, best, scratch[0]);
  for (std::size_t t = started; t < threads; ++t)
    FindRange(inputs, from(t), from(t + 1), stride, best, scratch[t]);
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace kartlo
