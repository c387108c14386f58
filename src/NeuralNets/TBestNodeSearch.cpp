#include "NeuralNets/TBestNodeSearch.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numeric>
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
/// Partial sums are compared with the best distance after every this many inputs (AVX-512
/// scan; the narrower units' searches).
constexpr int kScanChunk = 8;
constexpr int kCheckEvery = 4;
/// Below this much work (rows × nodes × inputs) FindAll stays on one thread.
constexpr double kThreadWork = 1 << 21;

/// Slack of the bounds. A computed sum of n squared differences is within a relative
/// (n + 3)·2^-53 of the true squared distance of the same two points, plus n times the
/// smallest subnormal where terms underflow; kSlack exceeds the first many times over for up
/// to kBoundsInputs inputs (and covers the roundings of the bound arithmetic itself), kTiny
/// the second.
constexpr double kSlack = 1e-6;
constexpr double kTiny = 1e-290;
constexpr int kBoundsInputs = 100000;
/// Steps towards each block's smallest enclosing ball.
constexpr int kCentreSteps = 64;
/// Rows searched with bounds side by side.
constexpr int kBoundsBatch = 8;

/// An upper bound of the true distance between two points whose computed squared distance
/// is `sum` (+infinity for +infinity).
double DistanceAbove(double sum) { return std::sqrt(sum * (1 + kSlack) + kTiny) * (1 + kSlack); }

/// Room for one row's list of blocks: every block, a whole vector of indices stored past
/// the last one, and the repeats that complete a group of four.
int ListSize(int blocks) { return blocks + kLanes + 3; }

/// What a kernel needs to know about the node blocks.
struct Shape {
  const double* w;  ///< block b, input j, lane l at w[(b * nIn + j) * kLanes + l]
  int nIn;
  int nMap;
  int blocks;
  int prefix;
  bool gather;  ///< every weight's index fits the 32-bit indices of a vector gather
  const int* nodeOf;  ///< the node in block b, lane l at nodeOf[b * kLanes + l]; -1 for none
  /// Bounds: the centre of block b in lane b % kLanes of centre block b / kLanes (laid out
  /// as the weights), and an upper bound of every member's distance from it; null when the
  /// search has no bounds.
  const double* centres;
  const double* radius;
  int centreBlocks;
  const int* all;  ///< every block in order
  int allCount;
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

  /// Node i with its final distance d. Nodes come in any order (the guesses first), so a
  /// node below the current winner's index also wins a tie: the result is the smallest
  /// distance below infinity, and of equal ones the lowest index.
  void Offer(double d, int i) {
    if (d < distance || (d == distance && i < node)) {
      distance = d;
      node = i;
    }
  }
};

/// Offers the lanes of block b whose bit is set in `alive` with their final sums.
void OfferLanes(Best& best, const double* sums, unsigned alive, int b, const Shape& s) {
  for (; alive != 0; alive &= alive - 1) {
    const int l = std::countr_zero(alive);
    const int i = s.nodeOf[b * kLanes + l];
    if (i >= 0) best.Offer(sums[l], i);
  }
}

/// Completes the guesses, each lane's node of smallest prefix sum (block[l] is its block, or
/// negative when the lane has none), and offers them: a good best distance before the scan.
void TakeGuesses(const Shape& s, const double* x, const double* partial, const double* block,
                 Best& best) {
  int nodes[kLanes];  // slots: block · kLanes + lane
  int count = 0;
  for (int l = 0; l < kLanes; ++l) {
    const int slot = static_cast<int>(block[l]) * kLanes + l;
    if (block[l] >= 0.0 && s.nodeOf[slot] >= 0) nodes[count++] = slot;
  }
  // The guesses' sums advance side by side, each term by term in input order.
  double sums[kLanes];
  const double* w[kLanes];
  for (int k = 0; k < count; ++k) {
    sums[k] = partial[nodes[k]];
    w[k] = BlockOf(s, nodes[k] / kLanes) + nodes[k] % kLanes;
  }
  for (int j = s.prefix; j < s.nIn; ++j) {
    const std::size_t o = static_cast<std::size_t>(j) * kLanes;
    for (int k = 0; k < count; ++k) {
      const double diff = x[j] - w[k][o];
      sums[k] = sums[k] + diff * diff;
    }
  }
  for (int k = 0; k < count; ++k) best.Offer(sums[k], s.nodeOf[nodes[k]]);
}

/// Offers lane l's guess, the node in slot block[l]·kLanes + l at full distance sums[l]; a
/// lane whose block is negative has none.
void OfferGuesses(const Shape& s, const double* sums, const double* block, Best& best) {
  for (int l = 0; l < kLanes; ++l) {
    if (block[l] < 0.0) continue;
    const int node = s.nodeOf[static_cast<int>(block[l]) * kLanes + l];
    if (node >= 0) best.Offer(sums[l], node);
  }
}

// --- Scalar ------------------------------------------------------------------------------

/// The first slot of smallest prefix sum, or -1 when none is below infinity (empty lanes
/// hold NaN, which is never smaller).
int ScalarGuess(const double* partial, int slots) {
  double low = kInf;
  int g = -1;
  for (int i = 0; i < slots; ++i) {
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

/// The lanes' sums over inputs [0, nIn) of `count` consecutive blocks from w (laid out as
/// the weights) into out[0, count · kLanes).
void ScalarSums(const double* w, int count, const double* x, int nIn, double* out) {
  for (int b = 0; b < count; ++b, w += static_cast<std::size_t>(nIn) * kLanes) {
    double acc[kLanes] = {};
    for (int j = 0; j < nIn; ++j) {
      for (int l = 0; l < kLanes; ++l) {
        const double diff = x[j] - w[j * kLanes + l];
        acc[l] = acc[l] + diff * diff;
      }
    }
    std::copy(acc, acc + kLanes, out + b * kLanes);
  }
}

/// Continues the blocks candidates[0, n) from their partial sums over inputs [0, start)
/// (from zero when partial is null),
/// abandoning a block once none of its lanes is at or below the best distance, and offers
/// the lanes that finish.
void ScalarContinue(const Shape& s, const double* x, const double* partial,
                    const int* candidates, int n, int start, Best& best) {
  for (int c = 0; c < n; ++c) {
    const int b = candidates[c];
    const double* w = BlockOf(s, b);
    double acc[kLanes] = {};
    if (partial != nullptr) std::copy(partial + b * kLanes, partial + (b + 1) * kLanes, acc);
    unsigned alive = ScalarAlive(acc, best.distance);
    for (int j = start; alive != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        for (int l = 0; l < kLanes; ++l) {
          const double diff = x[j] - w[j * kLanes + l];
          acc[l] = acc[l] + diff * diff;
        }
      }
      alive = ScalarAlive(acc, best.distance);
    }
    if (alive != 0) OfferLanes(best, acc, alive, b, s);
  }
}

/// The block whose centre is nearest to x (any of equal ones), or -1 when no centre's
/// distance is below infinity.
int ScalarNearest(const double* centre, int blocks) {
  int g = -1;
  double low = kInf;
  for (int b = 0; b < blocks; ++b) {
    if (centre[b] < low) {
      low = centre[b];
      g = b;
    }
  }
  return g;
}

/// Lists the blocks other than g that the bounds cannot pass over (see SearchBounds) in
/// candidates and returns their number. A block is passed over only when its centre's
/// computed distance is finite (a sum that overflowed bounds nothing) and beyond the reach.
int ScalarSelect(const Shape& s, const double* centre, double reach, int g, int* candidates) {
  int n = 0;
  for (int b = 0; b < s.blocks; ++b) {
    const double limit = (s.radius[b] + reach) * (1 + kSlack);
    const bool beyond = (centre[b] < kInf) & (centre[b] * (1 - kSlack) > limit * limit + kTiny);
    candidates[n] = b;
    n += static_cast<int>(!beyond & (b != g));
  }
  return n;
}

int SearchScalar(const Shape& s, const double* x, double* partial, int* candidates) {
  for (int b = 0; b < s.blocks; ++b) ScalarSums(BlockOf(s, b), 1, x, s.prefix, partial + b * kLanes);
  Best best;
  const int g = ScalarGuess(partial, s.blocks * kLanes);
  if (g >= 0 && s.nodeOf[g] >= 0) best.Offer(CompleteGuess(s, x, partial, g), s.nodeOf[g]);
  int n = 0;
  for (int b = 0; b < s.blocks; ++b) {
    candidates[n] = b;
    n += ScalarAlive(partial + b * kLanes, best.distance) != 0;
  }
  ScalarContinue(s, x, partial, candidates, n, s.prefix, best);
  return best.node;
}

#if KARTLO_X86

// --- AVX2: a block is two vectors of four lanes --------------------------------------------

__attribute__((target("avx2"))) unsigned Avx2Alive(__m256d lo, __m256d hi, __m256d best) {
  const unsigned a = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(lo, best, _CMP_LE_OQ)));
  const unsigned c = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(hi, best, _CMP_LE_OQ)));
  return a | (c << 4);
}

__attribute__((target("avx2"))) void Avx2Sums(const double* w, int count, const double* x,
                                                int nIn, double* out) {
  const std::size_t step = static_cast<std::size_t>(nIn) * kLanes;
  int b = 0;
  // Two blocks at a time keep four independent sums in flight.
  for (; b + 2 <= count; b += 2, w += 2 * step) {
    __m256d a0 = _mm256_setzero_pd();
    __m256d a1 = _mm256_setzero_pd();
    __m256d a2 = _mm256_setzero_pd();
    __m256d a3 = _mm256_setzero_pd();
    for (int j = 0; j < nIn; ++j) {
      const __m256d xj = _mm256_set1_pd(x[j]);
      const double* v = w + j * kLanes;
      const __m256d d0 = _mm256_sub_pd(xj, _mm256_load_pd(v));
      const __m256d d1 = _mm256_sub_pd(xj, _mm256_load_pd(v + 4));
      const __m256d d2 = _mm256_sub_pd(xj, _mm256_load_pd(v + step));
      const __m256d d3 = _mm256_sub_pd(xj, _mm256_load_pd(v + step + 4));
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(d0, d0));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(d1, d1));
      a2 = _mm256_add_pd(a2, _mm256_mul_pd(d2, d2));
      a3 = _mm256_add_pd(a3, _mm256_mul_pd(d3, d3));
    }
    _mm256_storeu_pd(out + b * kLanes, a0);
    _mm256_storeu_pd(out + b * kLanes + 4, a1);
    _mm256_storeu_pd(out + b * kLanes + 8, a2);
    _mm256_storeu_pd(out + b * kLanes + 12, a3);
  }
  for (; b < count; ++b, w += step) {
    __m256d lo = _mm256_setzero_pd();
    __m256d hi = _mm256_setzero_pd();
    for (int j = 0; j < nIn; ++j) {
      const __m256d xj = _mm256_set1_pd(x[j]);
      const __m256d dLo = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes));
      const __m256d dHi = _mm256_sub_pd(xj, _mm256_load_pd(w + j * kLanes + 4));
      lo = _mm256_add_pd(lo, _mm256_mul_pd(dLo, dLo));
      hi = _mm256_add_pd(hi, _mm256_mul_pd(dHi, dHi));
    }
    _mm256_storeu_pd(out + b * kLanes, lo);
    _mm256_storeu_pd(out + b * kLanes + 4, hi);
  }
}

/// Four lanes of partial sums from partial[at], or zeros when partial is null.
__attribute__((target("avx2"))) inline __m256d Avx2Start(const double* partial, int at) {
  return partial != nullptr ? _mm256_load_pd(partial + at) : _mm256_setzero_pd();
}

__attribute__((target("avx2"))) void Avx2Continue(const Shape& s, const double* x, const double* partial,
    const int* candidates, int n, int start, Best& best) {
  // Four blocks at a time keep eight independent sums in flight.
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    const double* w0 = BlockOf(s, candidates[c]);
    const double* w1 = BlockOf(s, candidates[c + 1]);
    const double* w2 = BlockOf(s, candidates[c + 2]);
    const double* w3 = BlockOf(s, candidates[c + 3]);
    const __m256d limit = _mm256_set1_pd(best.distance);
    __m256d a0 = Avx2Start(partial, candidates[c] * kLanes);
    __m256d b0 = Avx2Start(partial, candidates[c] * kLanes + 4);
    __m256d a1 = Avx2Start(partial, candidates[c + 1] * kLanes);
    __m256d b1 = Avx2Start(partial, candidates[c + 1] * kLanes + 4);
    __m256d a2 = Avx2Start(partial, candidates[c + 2] * kLanes);
    __m256d b2 = Avx2Start(partial, candidates[c + 2] * kLanes + 4);
    __m256d a3 = Avx2Start(partial, candidates[c + 3] * kLanes);
    __m256d b3 = Avx2Start(partial, candidates[c + 3] * kLanes + 4);
    unsigned m0 = Avx2Alive(a0, b0, limit);
    unsigned m1 = Avx2Alive(a1, b1, limit);
    unsigned m2 = Avx2Alive(a2, b2, limit);
    unsigned m3 = Avx2Alive(a3, b3, limit);
    for (int j = start; (m0 | m1 | m2 | m3) != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        const __m256d xj = _mm256_set1_pd(x[j]);
        const int o = j * kLanes;
        __m256d d;
        d = _mm256_sub_pd(xj, _mm256_load_pd(w0 + o));
        a0 = _mm256_add_pd(a0, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w0 + o + 4));
        b0 = _mm256_add_pd(b0, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w1 + o));
        a1 = _mm256_add_pd(a1, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w1 + o + 4));
        b1 = _mm256_add_pd(b1, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w2 + o));
        a2 = _mm256_add_pd(a2, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w2 + o + 4));
        b2 = _mm256_add_pd(b2, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w3 + o));
        a3 = _mm256_add_pd(a3, _mm256_mul_pd(d, d));
        d = _mm256_sub_pd(xj, _mm256_load_pd(w3 + o + 4));
        b3 = _mm256_add_pd(b3, _mm256_mul_pd(d, d));
      }
      m0 = Avx2Alive(a0, b0, limit);
      m1 = Avx2Alive(a1, b1, limit);
      m2 = Avx2Alive(a2, b2, limit);
      m3 = Avx2Alive(a3, b3, limit);
    }
    alignas(32) double sums[kLanes];
    const __m256d lows[4] = {a0, a1, a2, a3};
    const __m256d highs[4] = {b0, b1, b2, b3};
    const unsigned masks[4] = {m0, m1, m2, m3};
    for (int k = 0; k < 4; ++k) {
      if (masks[k] == 0) continue;
      _mm256_store_pd(sums, lows[k]);
      _mm256_store_pd(sums + 4, highs[k]);
      OfferLanes(best, sums, masks[k], candidates[c + k], s);
    }
  }
  for (; c < n; ++c) {
    const int b = candidates[c];
    const double* w = BlockOf(s, b);
    const __m256d limit = _mm256_set1_pd(best.distance);
    __m256d lo = Avx2Start(partial, b * kLanes);
    __m256d hi = Avx2Start(partial, b * kLanes + 4);
    unsigned alive = Avx2Alive(lo, hi, limit);
    for (int j = start; alive != 0 && j < s.nIn;) {
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
      OfferLanes(best, sums, alive, b, s);
    }
  }
}

__attribute__((target("avx2"))) int SearchAvx2(const Shape& s, const double* x,
                                                double* partial, int* candidates) {
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
  Best best;
  alignas(32) double at[kLanes];
  _mm256_store_pd(at, atLo);
  _mm256_store_pd(at + 4, atHi);
  if (s.gather) {
    // Each lane's guess continues from its prefix sum, its weights gathered input by input.
    const __m256d zero = _mm256_setzero_pd();
    const __m256d hasLo = _mm256_cmp_pd(atLo, zero, _CMP_GE_OQ);
    const __m256d hasHi = _mm256_cmp_pd(atHi, zero, _CMP_GE_OQ);
    const __m128i stride = _mm_set1_epi32(s.nIn * kLanes);
    const __m128i start = _mm_set1_epi32(s.prefix * kLanes);
    __m128i indexLo = _mm_add_epi32(
        _mm_add_epi32(_mm_mullo_epi32(_mm256_cvttpd_epi32(_mm256_max_pd(atLo, zero)), stride),
                      _mm_setr_epi32(0, 1, 2, 3)),
        start);
    __m128i indexHi = _mm_add_epi32(
        _mm_add_epi32(_mm_mullo_epi32(_mm256_cvttpd_epi32(_mm256_max_pd(atHi, zero)), stride),
                      _mm_setr_epi32(4, 5, 6, 7)),
        start);
    const __m128i step = _mm_set1_epi32(kLanes);
    __m256d sumLo = lowLo;
    __m256d sumHi = lowHi;
    for (int j = s.prefix; j < s.nIn; ++j) {
      const __m256d xj = _mm256_set1_pd(x[j]);
      const __m256d dLo = _mm256_sub_pd(xj, _mm256_mask_i32gather_pd(zero, s.w, indexLo, hasLo, 8));
      const __m256d dHi = _mm256_sub_pd(xj, _mm256_mask_i32gather_pd(zero, s.w, indexHi, hasHi, 8));
      sumLo = _mm256_add_pd(sumLo, _mm256_mul_pd(dLo, dLo));
      sumHi = _mm256_add_pd(sumHi, _mm256_mul_pd(dHi, dHi));
      indexLo = _mm_add_epi32(indexLo, step);
      indexHi = _mm_add_epi32(indexHi, step);
    }
    alignas(32) double sums[kLanes];
    _mm256_store_pd(sums, sumLo);
    _mm256_store_pd(sums + 4, sumHi);
    OfferGuesses(s, sums, at, best);
  } else {
    TakeGuesses(s, x, partial, at, best);
  }

  // Blocks with a lane still at or below the guess's distance, in block order.
  int n = 0;
  {
    const __m256d limit = _mm256_set1_pd(best.distance);
    for (int b = 0; b < s.blocks; ++b) {
      candidates[n] = b;
      n += Avx2Alive(_mm256_load_pd(partial + b * kLanes), _mm256_load_pd(partial + b * kLanes + 4),
                     limit) != 0;
    }
  }
  Avx2Continue(s, x, partial, candidates, n, s.prefix, best);
  return best.node;
}

// --- AVX-512: a block is one vector of eight lanes ------------------------------------------

__attribute__((target("avx512f,avx512vl"))) void Avx512Sums(const double* w, int count, const double* x,
                                                     int nIn, double* out) {
  const std::size_t step = static_cast<std::size_t>(nIn) * kLanes;
  int b = 0;
  // Four blocks at a time keep four independent sums in flight.
  for (; b + 4 <= count; b += 4, w += 4 * step) {
    __m512d a0 = _mm512_setzero_pd();
    __m512d a1 = _mm512_setzero_pd();
    __m512d a2 = _mm512_setzero_pd();
    __m512d a3 = _mm512_setzero_pd();
    for (int j = 0; j < nIn; ++j) {
      const __m512d xj = _mm512_set1_pd(x[j]);
      const double* v = w + j * kLanes;
      const __m512d d0 = _mm512_sub_pd(xj, _mm512_load_pd(v));
      const __m512d d1 = _mm512_sub_pd(xj, _mm512_load_pd(v + step));
      const __m512d d2 = _mm512_sub_pd(xj, _mm512_load_pd(v + 2 * step));
      const __m512d d3 = _mm512_sub_pd(xj, _mm512_load_pd(v + 3 * step));
      a0 = _mm512_add_pd(a0, _mm512_mul_pd(d0, d0));
      a1 = _mm512_add_pd(a1, _mm512_mul_pd(d1, d1));
      a2 = _mm512_add_pd(a2, _mm512_mul_pd(d2, d2));
      a3 = _mm512_add_pd(a3, _mm512_mul_pd(d3, d3));
    }
    _mm512_storeu_pd(out + b * kLanes, a0);
    _mm512_storeu_pd(out + (b + 1) * kLanes, a1);
    _mm512_storeu_pd(out + (b + 2) * kLanes, a2);
    _mm512_storeu_pd(out + (b + 3) * kLanes, a3);
  }
  for (; b < count; ++b, w += step) {
    __m512d acc = _mm512_setzero_pd();
    for (int j = 0; j < nIn; ++j) {
      const __m512d d = _mm512_sub_pd(_mm512_set1_pd(x[j]), _mm512_load_pd(w + j * kLanes));
      acc = _mm512_add_pd(acc, _mm512_mul_pd(d, d));
    }
    _mm512_storeu_pd(out + b * kLanes, acc);
  }
}

/// ScalarNearest, eight centres at a time (centres past the last block are not looked at).
__attribute__((target("avx512f,avx512vl"))) int Avx512Nearest(const double* centre, int blocks) {
  __m512d low = _mm512_set1_pd(kInf);
  __m512i at = _mm512_set1_epi64(-1);
  __m512i index = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
  const __m512i step = _mm512_set1_epi64(kLanes);
  for (int b = 0; b < blocks; b += kLanes) {
    const __mmask8 valid = static_cast<__mmask8>(blocks - b >= kLanes ? 0xFF : (1U << (blocks - b)) - 1);
    const __m512d c = _mm512_load_pd(centre + b);
    const __mmask8 less = _mm512_mask_cmp_pd_mask(valid, c, low, _CMP_LT_OQ);
    low = _mm512_mask_mov_pd(low, less, c);
    at = _mm512_mask_mov_epi64(at, less, index);
    index = _mm512_add_epi64(index, step);
  }
  // The least of the lanes (none holds NaN) in every lane.
  // (The masked forms leave no lane undefined.)
  __m512d m = _mm512_mask_min_pd(low, 0xFF, low, _mm512_mask_shuffle_f64x2(low, 0xFF, low, low, 0x4E));
  m = _mm512_mask_min_pd(m, 0xFF, m, _mm512_mask_shuffle_f64x2(m, 0xFF, m, m, 0xB1));
  m = _mm512_mask_min_pd(m, 0xFF, m, _mm512_mask_permute_pd(m, 0xFF, m, 0x55));
  const double least = _mm512_cvtsd_f64(m);
  if (!(least < kInf)) return -1;
  const __mmask8 where = _mm512_cmp_pd_mask(low, _mm512_set1_pd(least), _CMP_EQ_OQ);
  alignas(64) long long blocksAt[kLanes];
  _mm512_store_si512(blocksAt, at);
  return static_cast<int>(blocksAt[std::countr_zero(static_cast<unsigned>(where))]);
}

/// ScalarSelect, eight blocks at a time.
__attribute__((target("avx512f,avx512vl"))) int Avx512Select(const Shape& s, const double* centre,
                                                     double reach, int g, int* candidates) {
  const __m512d reachV = _mm512_set1_pd(reach);
  const __m512d up = _mm512_set1_pd(1 + kSlack);
  const __m512d down = _mm512_set1_pd(1 - kSlack);
  const __m512d tiny = _mm512_set1_pd(kTiny);
  const __m512d inf = _mm512_set1_pd(kInf);
  int n = 0;
  for (int b = 0; b < s.blocks; b += kLanes) {
    const int left = s.blocks - b;
    const __mmask8 valid = static_cast<__mmask8>(left >= kLanes ? 0xFF : (1U << left) - 1);
    const __m512d c = _mm512_load_pd(centre + b);
    const __m512d r = _mm512_maskz_loadu_pd(valid, s.radius + b);
    const __m512d limit = _mm512_mul_pd(_mm512_add_pd(r, reachV), up);
    const __m512d far = _mm512_add_pd(_mm512_mul_pd(limit, limit), tiny);
    const __mmask8 beyond = _mm512_cmp_pd_mask(c, inf, _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(_mm512_mul_pd(c, down), far, _CMP_GT_OQ);
    const unsigned lane = static_cast<unsigned>(g - b);  // g's lane, if g is in these blocks
    const unsigned keep = static_cast<unsigned>(valid & static_cast<__mmask8>(~beyond)) &
                          ~(lane < kLanes ? 1U << lane : 0U);
    // Packed in a register, then stored whole (candidates has room for eight more).
    const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(b), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(candidates + n),
                        _mm256_maskz_compress_epi32(static_cast<__mmask8>(keep), index));
    n += std::popcount(keep);
  }
  return n;
}

/// The least distance of eight lanes and, of equal ones, the lowest node; node -1 when no
/// distance is below infinity.
struct Lanes512 {
  __m512d distance;
  __m256i node;
};

/// Takes each lane of `sums` (nodes `nodes`) that is below the lane's best, or equal to it
/// with a lower node. NaN never compares, so it is never taken.
__attribute__((target("avx512f,avx512vl"))) inline void Take512(Lanes512& lanes, __m512d sums,
                                                                __m256i nodes) {
  const __mmask8 below = _mm512_cmp_pd_mask(sums, lanes.distance, _CMP_LT_OQ);
  const __mmask8 equal = _mm512_cmp_pd_mask(sums, lanes.distance, _CMP_EQ_OQ) &
                         _mm256_cmplt_epi32_mask(nodes, lanes.node);
  // Empty lanes (node -1) are never taken: without inputs their sums are 0 like any other.
  const __mmask8 take = (below | equal) & _mm256_cmpgt_epi32_mask(nodes, _mm256_set1_epi32(-1));
  lanes.distance = _mm512_mask_mov_pd(lanes.distance, take, sums);
  lanes.node = _mm256_mask_mov_epi32(lanes.node, take, nodes);
}

/// The least of the eight lanes in every lane. (The masked forms leave no lane undefined.)
__attribute__((target("avx512f,avx512vl"))) inline __m512d Least512(__m512d v) {
  __m512d m = _mm512_mask_min_pd(v, 0xFF, v, _mm512_mask_shuffle_f64x2(v, 0xFF, v, v, 0x4E));
  m = _mm512_mask_min_pd(m, 0xFF, m, _mm512_mask_shuffle_f64x2(m, 0xFF, m, m, 0xB1));
  return _mm512_mask_min_pd(m, 0xFF, m, _mm512_mask_permute_pd(m, 0xFF, m, 0x55));
}

/// Sums the G blocks list[0, G) side by side over all inputs, abandoning them once none of
/// their lanes is at or below limit (checked after every kScanChunk inputs), and takes the
/// lanes of those that finish into lanes[0, G); false when nothing was taken. kSkip checks
/// the finished lanes against the limit before taking them, which pays where the limit is
/// already good.
template <int G, bool kSkip>
__attribute__((target("avx512f,avx512vl"))) inline bool Avx512Group(const Shape& s,
                                                                   const double* x,
                                                                   const int* list,
                                                                   __m512d limit,
                                                                   Lanes512* lanes) {
  const std::size_t step = static_cast<std::size_t>(s.nIn) * kLanes;
  const double* w[G];
  __m512d a[G];
  for (int k = 0; k < G; ++k) {
    w[k] = s.w + static_cast<std::size_t>(list[k]) * step;
    a[k] = _mm512_setzero_pd();
  }
  int j = 0;
  for (;;) {
    const int stop = std::min(j + kScanChunk, s.nIn);
    for (; j < stop; ++j) {
      const __m512d xj = _mm512_set1_pd(x[j]);
      const std::size_t o = static_cast<std::size_t>(j) * kLanes;
      for (int k = 0; k < G; ++k) {
        const __m512d d = _mm512_sub_pd(xj, _mm512_load_pd(w[k] + o));
        a[k] = _mm512_add_pd(a[k], _mm512_mul_pd(d, d));
      }
    }
    if (j >= s.nIn) break;
    __mmask8 alive = 0;
    for (int k = 0; k < G; ++k) alive |= _mm512_cmp_pd_mask(a[k], limit, _CMP_LE_OQ);
    if (alive == 0) return false;  // abandoned
  }
  if (kSkip) {
    // Lanes above the limit cannot win; after a good first guess often none is left.
    __mmask8 alive = 0;
    for (int k = 0; k < G; ++k) alive |= _mm512_cmp_pd_mask(a[k], limit, _CMP_LE_OQ);
    if (alive == 0) return false;
  }
  for (int k = 0; k < G; ++k) {
    Take512(lanes[k], a[k],
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.nodeOf + list[k] * kLanes)));
  }
  return true;
}

/// Sums the blocks list[0, n) four at a time (the last one, two or three narrower), and
/// offers the winner of those that finish; a group is abandoned once none of its lanes is
/// at or below the best distance so far.
template <bool kSkip>
__attribute__((target("avx512f,avx512vl"))) void Avx512Scan(const Shape& s, const double* x,
                                                             const int* list, int n,
                                                             Best& best) {
  // One set of lanes per place in a group, so that the takes do not wait on each other.
  const Lanes512 none{_mm512_set1_pd(kInf), _mm256_set1_epi32(std::numeric_limits<int>::max())};
  Lanes512 lanes[4] = {none, none, none, none};
  __m512d limit = _mm512_set1_pd(best.distance);
  bool taken = false;
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    if (!Avx512Group<4, kSkip>(s, x, list + c, limit, lanes)) continue;
    taken = true;
    if (c + 4 == n) break;  // nothing left to bar
    const __m512d own = Least512(_mm512_mask_min_pd(
        lanes[0].distance, 0xFF,
        _mm512_mask_min_pd(lanes[0].distance, 0xFF, lanes[0].distance, lanes[1].distance),
        _mm512_mask_min_pd(lanes[2].distance, 0xFF, lanes[2].distance, lanes[3].distance)));
    limit = _mm512_mask_min_pd(own, 0xFF, own, _mm512_set1_pd(best.distance));
  }
  switch (n - c) {
    case 3:
      taken |= Avx512Group<3, kSkip>(s, x, list + c, limit, lanes);
      break;
    case 2:
      taken |= Avx512Group<2, kSkip>(s, x, list + c, limit, lanes);
      break;
    case 1:
      taken |= Avx512Group<1, kSkip>(s, x, list + c, limit, lanes);
      break;
    default:
      break;
  }
  if (!taken) return;
  Lanes512 all = lanes[0];
  Take512(all, lanes[1].distance, lanes[1].node);
  Take512(all, lanes[2].distance, lanes[2].node);
  Take512(all, lanes[3].distance, lanes[3].node);
  const __m512d least = Least512(all.distance);
  const double distance = _mm512_cvtsd_f64(least);
  if (!(distance < kInf)) return;
  // Of the lanes at the least distance, the lowest node.
  const __mmask8 at = _mm512_cmp_pd_mask(all.distance, least, _CMP_EQ_OQ);
  alignas(32) int node[kLanes];
  _mm256_store_si256(reinterpret_cast<__m256i*>(node), all.node);
  for (unsigned m = at; m != 0; m &= m - 1) best.Offer(distance, node[std::countr_zero(m)]);
}

/// Every block, four at a time, abandoning groups as Avx512Scan does.
__attribute__((target("avx512f,avx512vl"))) int SearchAvx512(const Shape& s, const double* x,
                                                             double* /*partial*/,
                                                             int* /*candidates*/) {
  Best best;
  Avx512Scan<false>(s, x, s.all, s.allCount, best);
  return best.node;
}

/// SearchBounds on AVX-512 for `count` rows (row r at inputs + r · stride) at once, phase
/// by phase, so that the rows' chains of dependent sums run side by side; centre and
/// candidates hold each row's centre sums and block list.
__attribute__((target("avx512f,avx512vl"))) void Avx512Bounds(const Shape& s,
                                                              const double* inputs,
                                                              std::size_t stride, int count,
                                                              int* winners, double* centre,
                                                              int* candidates, long long& kept) {
  const std::size_t centreSize = static_cast<std::size_t>(s.centreBlocks) * kLanes;
  const std::size_t listSize = static_cast<std::size_t>(ListSize(s.blocks));
  for (int r = 0; r < count; ++r)
    Avx512Sums(s.centres, s.centreBlocks, inputs + r * stride, s.nIn, centre + r * centreSize);
  int guess[kBoundsBatch];
  for (int r = 0; r < count; ++r) guess[r] = Avx512Nearest(centre + r * centreSize, s.blocks);
  // Each row's nearest block in full: its least sum (NaN lanes, empty ones among them,
  // count as +infinity) and the lanes at it.
  Best best[kBoundsBatch];
  for (int r = 0; r < count; ++r) {
    const int g = guess[r];
    if (g < 0) continue;
    const double* x = inputs + r * stride;
    const double* w = BlockOf(s, g);
    __m512d acc = _mm512_setzero_pd();
    for (int j = 0; j < s.nIn; ++j) {
      const __m512d d = _mm512_sub_pd(_mm512_set1_pd(x[j]), _mm512_load_pd(w + j * kLanes));
      acc = _mm512_add_pd(acc, _mm512_mul_pd(d, d));
    }
    const __m512d v =
        _mm512_mask_mov_pd(_mm512_set1_pd(kInf), _mm512_cmp_pd_mask(acc, acc, _CMP_ORD_Q), acc);
    const __m512d m = Least512(v);
    const double least = _mm512_cvtsd_f64(m);
    if (least < kInf) {
      unsigned equal = _mm512_cmp_pd_mask(v, m, _CMP_EQ_OQ);
      for (; equal != 0; equal &= equal - 1)
        best[r].Offer(least, s.nodeOf[g * kLanes + std::countr_zero(equal)]);
    }
  }
  for (int r = 0; r < count; ++r) {
    int* list = candidates + r * listSize;
    int n = Avx512Select(s, centre + r * centreSize, DistanceAbove(best[r].distance), guess[r],
                         list);
    kept += n;
    Avx512Scan<true>(s, inputs + r * stride, list, n, best[r]);
    winners[r] = best[r].node;
  }
}


#endif  // KARTLO_X86

using Kernel = int (*)(const Shape&, const double*, double*, int*);

Kernel KernelFor(TBestNodeSearch::Level level) {
#if KARTLO_X86
  if (level == TBestNodeSearch::Level::Avx512) return SearchAvx512;
  if (level == TBestNodeSearch::Level::Avx2) return SearchAvx2;
#else
  static_cast<void>(level);
#endif
  return SearchScalar;
}

// --- Bounds: whole blocks passed over by the triangle inequality ---------------------------

/// The block operations of one vector unit.
struct Ops {
  void (*sums)(const double* w, int count, const double* x, int nIn, double* out);
  void (*cont)(const Shape& s, const double* x, const double* partial, const int* candidates,
               int n, int start, Best& best);
  int (*nearest)(const double* centre, int blocks);
  int (*select)(const Shape& s, const double* centre, double reach, int g, int* candidates);
};

/// The search with bounds. Each block of nodes has a centre c and a radius ρ that no member
/// is farther from. The block whose centre is nearest to x is summed in full first; its
/// best node b gives the reach R ≥ |x - b|. By the triangle inequality every member i of a
/// block with |x - c| > ρ + R has |x - i| > R ≥ |x - b|, so (with the slack) its computed
/// distance exceeds b's: such blocks are passed over whole. The others are summed with
/// abandoning, as in the scan. `kept` counts the blocks summed after the first.
int SearchBounds(const Shape& s, const Ops& ops, const double* x, double* centre,
                 int* candidates, long long& kept) {
  ops.sums(s.centres, s.centreBlocks, x, s.nIn, centre);
  const int g = ops.nearest(centre, s.blocks);
  Best best;
  if (g >= 0) {
    alignas(64) double sums[kLanes];
    ops.sums(BlockOf(s, g), 1, x, s.nIn, sums);
    OfferLanes(best, sums, (1U << kLanes) - 1, g, s);
  }
  int n = ops.select(s, centre, DistanceAbove(best.distance), g, candidates);
  kept += n;
  // Repeating the last block makes groups of four, which run side by side; a block summed
  // twice offers the same sums twice, which changes nothing.
  while (n % 4 != 0) {
    candidates[n] = candidates[n - 1];
    ++n;
  }
  ops.cont(s, x, nullptr, candidates, n, 0, best);
  return best.node;
}

using BoundsKernel = void (*)(const Shape&, const double* inputs, std::size_t stride, int count,
                             int* winners, double* centre, int* candidates, long long& kept);

/// SearchBounds row by row with the operations `ops`.
template <const Ops& ops>
void BoundsRows(const Shape& s, const double* inputs, std::size_t stride, int count,
                int* winners, double* centre, int* candidates, long long& kept) {
  for (int r = 0; r < count; ++r)
    winners[r] = SearchBounds(s, ops, inputs + r * stride, centre, candidates, kept);
}

constexpr Ops kScalarOps{ScalarSums, ScalarContinue, ScalarNearest, ScalarSelect};
#if KARTLO_X86
constexpr Ops kAvx2Ops{Avx2Sums, Avx2Continue, ScalarNearest, ScalarSelect};
#endif

BoundsKernel BoundsFor(TBestNodeSearch::Level level) {
#if KARTLO_X86
  if (level == TBestNodeSearch::Level::Avx512) return Avx512Bounds;
  if (level == TBestNodeSearch::Level::Avx2) return BoundsRows<kAvx2Ops>;
#else
  static_cast<void>(level);
#endif
  return BoundsRows<kScalarOps>;
}

/// Rows searched with bounds at the start of every batch, to see whether the bounds pass
/// over enough blocks to be worth their cost for this map and these rows.
constexpr std::size_t kProbeRows = 32;
/// Rows a thread takes at a time.
constexpr std::size_t kChunkRows = 256;

/// Orders the nodes [first, last) so that each run of kLanes, a block, lies close together:
/// the nodes are halved (at a multiple of kLanes) along the component of widest spread, and
/// each half is ordered in turn.
void Cluster(int* first, int* last, int nIn, const std::vector<double>& nodes) {
  const std::ptrdiff_t count = last - first;
  if (count <= kLanes) return;
  auto at = [&](int i, int j) {
    return nodes[static_cast<std::size_t>(i) * static_cast<std::size_t>(nIn) +
                 static_cast<std::size_t>(j)];
  };
  int widest = 0;
  double spread = -1.0;
  for (int j = 0; j < nIn; ++j) {
    double lo = kInf;
    double hi = -kInf;
    for (const int* i = first; i != last; ++i) {
      lo = std::min(lo, at(*i, j));
      hi = std::max(hi, at(*i, j));
    }
    if (hi - lo > spread) {
      spread = hi - lo;
      widest = j;
    }
  }
  const std::ptrdiff_t blocks = (count + kLanes - 1) / kLanes;
  int* middle = first + blocks / 2 * kLanes;
  std::nth_element(first, middle, last, [&](int a, int b) {
    return at(a, widest) < at(b, widest) || (at(a, widest) == at(b, widest) && a < b);
  });
  Cluster(first, middle, nIn, nodes);
  Cluster(middle, last, nIn, nodes);
}

/// Inputs summed for every node before the guesses are chosen: all of a short row, else a
/// quarter of it, from four to eight.
int PrefixLength(int nIn) { return nIn <= 12 ? nIn : std::clamp(nIn / 4, 4, 8); }

}  // namespace

/// Worker threads kept between batches, so that a batch costs a wake-up instead of a
/// thread start. One batch runs at a time; a caller that finds them busy starts its own
/// threads.
class TBestNodeSearch::Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  /// Runs task(t) for every t in [0, count): task(0), and every task without a worker, on
  /// the calling thread, the others on workers (started here as needed); returns when all
  /// are done. False, with nothing run, while another batch holds the workers.
  bool TryRun(std::size_t count, const std::function<void(std::size_t)>& task) {
    const std::unique_lock<std::mutex> use(use_, std::try_to_lock);
    if (!use.owns_lock()) return false;
    try {
      while (threads_.size() + 1 < count) {
        const std::size_t index = threads_.size() + 1;
        threads_.emplace_back([this, index, seen = round_] { Loop(index, seen); });
      }
    } catch (...) {
      // Fewer workers: the calling thread runs the rest.
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      task_ = &task;
      count_ = count;
      busy_ = threads_.size();
      ++round_;
    }
    wake_.notify_all();
    task(0);
    for (std::size_t t = threads_.size() + 1; t < count; ++t) task(t);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
    task_ = nullptr;
    return true;
  }

 private:
  /// Worker `index`: runs task(index) once for every round after `seen`.
  void Loop(std::size_t index, std::uint64_t seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || round_ != seen; });
      if (stop_) return;
      seen = round_;
      const std::function<void(std::size_t)>* task = task_;
      const std::size_t count = count_;
      lock.unlock();
      if (index < count) (*task)(index);
      lock.lock();
      if (--busy_ == 0) finished_.notify_one();
    }
  }

  std::mutex use_;  ///< held for a whole batch
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::vector<std::thread> threads_;
  const std::function<void(std::size_t)>* task_ = nullptr;
  std::size_t count_ = 0;
  std::uint64_t round_ = 0;
  std::size_t busy_ = 0;
  bool stop_ = false;
};

TBestNodeSearch::TBestNodeSearch(int nIn, int nMap, const std::function<double(int, int)>& weight)
    : nIn_(std::max(nIn, 0)),
      nMap_(std::max(nMap, 0)),
      blocks_((nMap_ + kLanes - 1) / kLanes),
      prefix_(PrefixLength(nIn_)),
      level_(MachineLevel()),
      workers_(std::make_unique<Workers>()) {
  Build(weight);
}

TBestNodeSearch::TBestNodeSearch(TBestNodeSearch&&) noexcept = default;
TBestNodeSearch& TBestNodeSearch::operator=(TBestNodeSearch&&) noexcept = default;
TBestNodeSearch::~TBestNodeSearch() = default;

TBestNodeSearch::TBestNodeSearch(int nIn, int nMap, const double* nodes)
    : TBestNodeSearch(nIn, nMap, [nodes, nIn](int i, int j) {
        return nodes[static_cast<std::size_t>(i) * static_cast<std::size_t>(nIn) +
                     static_cast<std::size_t>(j)];
      }) {}

namespace {

/// Makes room for `size` doubles of `fill` starting on a 64-byte boundary of `storage`;
/// returns the offset of the first.
std::size_t AlignedAssign(std::vector<double>& storage, std::size_t size, double fill) {
  storage.assign(size + kLanes, fill);
  const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  return ((64 - address % 64) % 64) / sizeof(double);
}

}  // namespace

void TBestNodeSearch::Build(const std::function<double(int, int)>& weight) {
  const std::size_t width = static_cast<std::size_t>(nIn_);
  std::vector<double> nodes(static_cast<std::size_t>(nMap_) * width);
  bool finite = true;
  for (int i = 0; i < nMap_; ++i) {
    for (int j = 0; j < nIn_; ++j) {
      const double v = weight(i, j);
      nodes[static_cast<std::size_t>(i) * width + static_cast<std::size_t>(j)] = v;
      finite = finite && std::isfinite(v);
    }
  }
  // Bounds pay off only with several blocks, and hold only for finite weights.
  const bool bounds = finite && blocks_ >= 4 && nIn_ >= 1 && nIn_ <= kBoundsInputs;
  std::vector<int> order(static_cast<std::size_t>(nMap_));
  std::iota(order.begin(), order.end(), 0);
  if (bounds) Cluster(order.data(), order.data() + nMap_, nIn_, nodes);
  scanList_.resize(static_cast<std::size_t>(blocks_));
  std::iota(scanList_.begin(), scanList_.end(), 0);
  nodeOf_.assign(static_cast<std::size_t>(blocks_) * kLanes, -1);
  std::copy(order.begin(), order.end(), nodeOf_.begin());

  // Empty lanes hold NaN, which never wins.
  offset_ = AlignedAssign(storage_, static_cast<std::size_t>(blocks_) * width * kLanes,
                          std::numeric_limits<double>::quiet_NaN());
  double* w = storage_.data() + offset_;
  for (int k = 0; k < nMap_; ++k) {
    double* lane = w + static_cast<std::size_t>(k / kLanes) * width * kLanes + k % kLanes;
    const double* node = nodes.data() + static_cast<std::size_t>(order[k]) * width;
    for (std::size_t j = 0; j < width; ++j) lane[j * kLanes] = node[j];
  }

  centreBlocks_ = 0;
  if (!bounds) return;
  centreBlocks_ = (blocks_ + kLanes - 1) / kLanes;
  centreOffset_ = AlignedAssign(centreStorage_,
                                static_cast<std::size_t>(centreBlocks_) * width * kLanes, 0.0);
  radius_.assign(static_cast<std::size_t>(blocks_), 0.0);
  double* centres = centreStorage_.data() + centreOffset_;
  for (int b = 0; b < blocks_; ++b) {
    const int first = b * kLanes;
    const int last = std::min(first + kLanes, nMap_);
    double* centre =
        centres + static_cast<std::size_t>(b / kLanes) * width * kLanes + b % kLanes;
    for (std::size_t j = 0; j < width; ++j) {
      double sum = 0.0;
      for (int k = first; k < last; ++k)
        sum += nodes[static_cast<std::size_t>(order[k]) * width + j];
      centre[j * kLanes] = sum / (last - first);
    }
    // Towards the smallest ball around the members: step to the farthest member by ever
    // smaller fractions (any centre is sound; a smaller radius passes over more).
    auto distance2 = [&](int k) {
      const double* node = nodes.data() + static_cast<std::size_t>(order[k]) * width;
      double sum = 0.0;
      for (std::size_t j = 0; j < width; ++j) {
        const double diff = centre[j * kLanes] - node[j];
        sum = sum + diff * diff;
      }
      return sum;
    };
    for (int step = 1; step <= kCentreSteps; ++step) {
      int far = first;
      for (int k = first + 1; k < last; ++k)
        if (distance2(k) > distance2(far)) far = k;
      const double* node = nodes.data() + static_cast<std::size_t>(order[far]) * width;
      for (std::size_t j = 0; j < width; ++j)
        centre[j * kLanes] += (node[j] - centre[j * kLanes]) / (step + 1);
    }
    double radius = 0.0;
    for (int k = first; k < last; ++k) {
      const double* node = nodes.data() + static_cast<std::size_t>(order[k]) * width;
      double sum = 0.0;
      for (std::size_t j = 0; j < width; ++j) {
        const double diff = centre[j * kLanes] - node[j];
        sum = sum + diff * diff;
      }
      radius = std::max(radius, DistanceAbove(sum));
    }
    radius_[static_cast<std::size_t>(b)] = radius;
  }
}

TBestNodeSearch::Level TBestNodeSearch::MachineLevel() {
#if KARTLO_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
    return Level::Avx512;
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
  Scratch scratch = MakeScratch();
  FindRange(input, 0, 1, 0, &best, scratch, HasBounds() && method_ != Method::Scan);
  return best;
}

TBestNodeSearch::Scratch TBestNodeSearch::MakeScratch() const {
  Scratch scratch;
  // The prefix sums and a batch of rows' centre sums, each block-aligned.
  scratch.sums.resize(static_cast<std::size_t>(blocks_ + kBoundsBatch * centreBlocks_) * kLanes +
                      2 * kLanes);
  // A list of blocks for every row of a batch.
  scratch.blocks.resize(static_cast<std::size_t>(kBoundsBatch) *
                        static_cast<std::size_t>(ListSize(blocks_)));
  return scratch;
}

void TBestNodeSearch::FindRange(const double* inputs, std::size_t from, std::size_t to,
                                std::size_t stride, int* best, Scratch& scratch, bool bounds,
                                long long* kept) const {
  if (nMap_ == 0) {
    std::fill(best + from, best + to, -1);
    return;
  }
  const bool gather = static_cast<double>(blocks_) * nIn_ * kLanes < 2147483647.0;
  const Shape shape{storage_.data() + offset_,
                    nIn_,
                    nMap_,
                    blocks_,
                    prefix_,
                    gather,
                    nodeOf_.data(),
                    centreBlocks_ > 0 ? centreStorage_.data() + centreOffset_ : nullptr,
                    radius_.data(),
                    centreBlocks_,
                    scanList_.data(),
                    static_cast<int>(scanList_.size())};
  const auto address = reinterpret_cast<std::uintptr_t>(scratch.sums.data());
  double* partial = scratch.sums.data() + ((64 - address % 64) % 64) / sizeof(double);
  double* centre = partial + static_cast<std::size_t>(blocks_) * kLanes;
  int* candidates = scratch.blocks.data();
  if (!bounds) {
    const Kernel kernel = KernelFor(level_);
    for (std::size_t r = from; r < to; ++r)
      best[r] = kernel(shape, inputs + r * stride, partial, candidates);
    return;
  }
  const BoundsKernel boundsKernel = BoundsFor(level_);
  long long summed = 0;
  for (std::size_t r = from; r < to; r += kBoundsBatch) {
    const int count = static_cast<int>(std::min<std::size_t>(kBoundsBatch, to - r));
    boundsKernel(shape, inputs + r * stride, stride, count, best + r, centre, candidates, summed);
  }
  if (kept != nullptr) *kept = summed;
}

void TBestNodeSearch::FindAll(const double* inputs, std::size_t rows, std::size_t stride,
                              int* best) const {
  std::size_t threads = threads_ > 0 ? static_cast<std::size_t>(threads_)
                                     : std::max(1U, std::thread::hardware_concurrency());
  const double work = static_cast<double>(rows) * nMap_ * std::max(nIn_, 1);
  if (work < kThreadWork) threads = 1;
  threads = std::min(threads, std::max<std::size_t>(rows, 1));
  std::vector<Scratch> scratch;
  scratch.reserve(threads);
  for (std::size_t t = 0; t < threads; ++t) scratch.push_back(MakeScratch());

  // With bounds: the first rows show whether they pass over enough blocks (on a map whose
  // blocks are as wide as the distances between them, they pass over few).
  bool bounds = HasBounds() && method_ != Method::Scan;
  std::size_t first = 0;
  if (bounds && method_ == Method::Auto) {
    first = std::min(rows, kProbeRows);
    long long kept = 0;
    FindRange(inputs, 0, first, stride, best, scratch[0], true, &kept);
    bounds = 2 * kept < static_cast<long long>(first) * (blocks_ - 1);
  }

  // The other rows go in chunks to whichever thread is free, so that a thread that starts
  // late takes fewer.
  const std::size_t chunks = (rows - first + kChunkRows - 1) / kChunkRows;
  std::atomic<std::size_t> next{0};
  const std::function<void(std::size_t)> task = [&](std::size_t t) {
    for (std::size_t c = next++; c < chunks; c = next++) {
      const std::size_t from = first + c * kChunkRows;
      FindRange(inputs, from, std::min(rows, from + kChunkRows), stride, best, scratch[t], bounds);
    }
  };
  if (threads == 1 || chunks <= 1) {
    task(0);
    return;
  }
  if (workers_ != nullptr && workers_->TryRun(threads, task)) return;
  // The workers are busy with another batch: threads for this one alone.
  std::vector<std::thread> helpers;
  helpers.reserve(threads);
  try {
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(task, t);
  } catch (...) {
    // No thread to be had: the calling thread takes over what is left.
  }
  task(0);
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace kartlo
