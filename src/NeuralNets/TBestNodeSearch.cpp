#include "NeuralNets/TBestNodeSearch.h"

#include <algorithm>
#include <bit>
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
  bool gather;  ///< every weight's index fits the 32-bit indices of a vector gather
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
void OfferLanes(Best& best, const double* sums, unsigned alive, int b, int nMap) {
  for (; alive != 0; alive &= alive - 1) {
    const int l = std::countr_zero(alive);
    const int i = b * kLanes + l;
    if (i < nMap) best.Offer(sums[l], i);
  }
}

/// Completes the guesses, each lane's node of smallest prefix sum (block[l] is its block, or
/// negative when the lane has none), and offers them: a good best distance before the scan.
void TakeGuesses(const Shape& s, const double* x, const double* partial, const double* block,
                 Best& best) {
  int nodes[kLanes];
  int count = 0;
  for (int l = 0; l < kLanes; ++l) {
    const int node = static_cast<int>(block[l]) * kLanes + l;
    if (block[l] >= 0.0 && node < s.nMap) nodes[count++] = node;
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
  for (int k = 0; k < count; ++k) best.Offer(sums[k], nodes[k]);
}

/// Offers lane l's guess, node block[l]·kLanes + l at full distance sums[l]; a lane whose
/// block is negative has none.
void OfferGuesses(const Shape& s, const double* sums, const double* block, Best& best) {
  for (int l = 0; l < kLanes; ++l) {
    const int node = static_cast<int>(block[l]) * kLanes + l;
    if (block[l] >= 0.0 && node < s.nMap) best.Offer(sums[l], node);
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

int SearchScalar(const Shape& s, const double* x, double* partial, int* /*candidates*/) {
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
  if (g >= 0) best.Offer(CompleteGuess(s, x, partial, g), g);

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
  // Four blocks at a time keep eight independent sums in flight.
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    const double* w0 = BlockOf(s, candidates[c]);
    const double* w1 = BlockOf(s, candidates[c + 1]);
    const double* w2 = BlockOf(s, candidates[c + 2]);
    const double* w3 = BlockOf(s, candidates[c + 3]);
    const __m256d limit = _mm256_set1_pd(best.distance);
    __m256d a0 = _mm256_load_pd(partial + candidates[c] * kLanes);
    __m256d b0 = _mm256_load_pd(partial + candidates[c] * kLanes + 4);
    __m256d a1 = _mm256_load_pd(partial + candidates[c + 1] * kLanes);
    __m256d b1 = _mm256_load_pd(partial + candidates[c + 1] * kLanes + 4);
    __m256d a2 = _mm256_load_pd(partial + candidates[c + 2] * kLanes);
    __m256d b2 = _mm256_load_pd(partial + candidates[c + 2] * kLanes + 4);
    __m256d a3 = _mm256_load_pd(partial + candidates[c + 3] * kLanes);
    __m256d b3 = _mm256_load_pd(partial + candidates[c + 3] * kLanes + 4);
    unsigned m0 = Avx2Alive(a0, b0, limit);
    unsigned m1 = Avx2Alive(a1, b1, limit);
    unsigned m2 = Avx2Alive(a2, b2, limit);
    unsigned m3 = Avx2Alive(a3, b3, limit);
    for (int j = s.prefix; (m0 | m1 | m2 | m3) != 0 && j < s.nIn;) {
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
      OfferLanes(best, sums, masks[k], candidates[c + k], s.nMap);
    }
  }
  for (; c < n; ++c) {
    const int b = candidates[c];
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
                                                     double* partial, int* candidates) {
  __m512d low = _mm512_set1_pd(kInf);
  __m512d at = _mm512_set1_pd(-1.0);
  // Four blocks at a time keep four independent sums in flight.
  int b = 0;
  for (; b + 4 <= s.blocks; b += 4) {
    const double* w0 = BlockOf(s, b);
    const double* w1 = BlockOf(s, b + 1);
    const double* w2 = BlockOf(s, b + 2);
    const double* w3 = BlockOf(s, b + 3);
    __m512d a0 = _mm512_setzero_pd();
    __m512d a1 = _mm512_setzero_pd();
    __m512d a2 = _mm512_setzero_pd();
    __m512d a3 = _mm512_setzero_pd();
    for (int j = 0; j < s.prefix; ++j) {
      const __m512d xj = _mm512_set1_pd(x[j]);
      const int o = j * kLanes;
      __m512d d;
      d = _mm512_sub_pd(xj, _mm512_load_pd(w0 + o));
      a0 = _mm512_add_pd(a0, _mm512_mul_pd(d, d));
      d = _mm512_sub_pd(xj, _mm512_load_pd(w1 + o));
      a1 = _mm512_add_pd(a1, _mm512_mul_pd(d, d));
      d = _mm512_sub_pd(xj, _mm512_load_pd(w2 + o));
      a2 = _mm512_add_pd(a2, _mm512_mul_pd(d, d));
      d = _mm512_sub_pd(xj, _mm512_load_pd(w3 + o));
      a3 = _mm512_add_pd(a3, _mm512_mul_pd(d, d));
    }
    const __m512d accs[4] = {a0, a1, a2, a3};
    for (int k = 0; k < 4; ++k) {
      _mm512_store_pd(partial + (b + k) * kLanes, accs[k]);
      const __mmask8 less = _mm512_cmp_pd_mask(accs[k], low, _CMP_LT_OQ);
      low = _mm512_mask_mov_pd(low, less, accs[k]);
      at = _mm512_mask_mov_pd(at, less, _mm512_set1_pd(static_cast<double>(b + k)));
    }
  }
  for (; b < s.blocks; ++b) {
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
  Best best;
  alignas(64) double ats[kLanes];
  _mm512_store_pd(ats, at);
  if (s.gather) {
    // Each lane's guess continues from its prefix sum, its weights gathered input by input.
    const __m512d zero = _mm512_setzero_pd();
    const __mmask8 has = _mm512_cmp_pd_mask(at, zero, _CMP_GE_OQ);
    // (The masked forms leave no lane undefined.)
    const __m256i block =
        _mm512_mask_cvttpd_epi32(_mm256_setzero_si256(), has, _mm512_mask_max_pd(zero, has, at, zero));
    __m256i index = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(block, _mm256_set1_epi32(s.nIn * kLanes)),
                         _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)),
        _mm256_set1_epi32(s.prefix * kLanes));
    const __m256i step = _mm256_set1_epi32(kLanes);
    __m512d sum = low;
    for (int j = s.prefix; j < s.nIn; ++j) {
      const __m512d w = _mm512_mask_i32gather_pd(zero, has, index, s.w, 8);
      const __m512d d = _mm512_sub_pd(_mm512_set1_pd(x[j]), w);
      sum = _mm512_add_pd(sum, _mm512_mul_pd(d, d));
      index = _mm256_add_epi32(index, step);
    }
    alignas(64) double sums[kLanes];
    _mm512_store_pd(sums, sum);
    OfferGuesses(s, sums, ats, best);
  } else {
    TakeGuesses(s, x, partial, ats, best);
  }

  // Blocks with a lane still at or below the guess's distance, in block order.
  int n = 0;
  {
    const __m512d limit = _mm512_set1_pd(best.distance);
    for (int b = 0; b < s.blocks; ++b) {
      candidates[n] = b;
      n += _mm512_cmp_pd_mask(_mm512_load_pd(partial + b * kLanes), limit, _CMP_LE_OQ) != 0;
    }
  }
  // Four blocks at a time keep four independent sums in flight.
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    const double* w0 = BlockOf(s, candidates[c]);
    const double* w1 = BlockOf(s, candidates[c + 1]);
    const double* w2 = BlockOf(s, candidates[c + 2]);
    const double* w3 = BlockOf(s, candidates[c + 3]);
    const __m512d limit = _mm512_set1_pd(best.distance);
    __m512d a0 = _mm512_load_pd(partial + candidates[c] * kLanes);
    __m512d a1 = _mm512_load_pd(partial + candidates[c + 1] * kLanes);
    __m512d a2 = _mm512_load_pd(partial + candidates[c + 2] * kLanes);
    __m512d a3 = _mm512_load_pd(partial + candidates[c + 3] * kLanes);
    unsigned m0 = _mm512_cmp_pd_mask(a0, limit, _CMP_LE_OQ);
    unsigned m1 = _mm512_cmp_pd_mask(a1, limit, _CMP_LE_OQ);
    unsigned m2 = _mm512_cmp_pd_mask(a2, limit, _CMP_LE_OQ);
    unsigned m3 = _mm512_cmp_pd_mask(a3, limit, _CMP_LE_OQ);
    for (int j = s.prefix; (m0 | m1 | m2 | m3) != 0 && j < s.nIn;) {
      const int stop = std::min(j + kCheckEvery, s.nIn);
      for (; j < stop; ++j) {
        const __m512d xj = _mm512_set1_pd(x[j]);
        const int o = j * kLanes;
        __m512d d;
        d = _mm512_sub_pd(xj, _mm512_load_pd(w0 + o));
        a0 = _mm512_add_pd(a0, _mm512_mul_pd(d, d));
        d = _mm512_sub_pd(xj, _mm512_load_pd(w1 + o));
        a1 = _mm512_add_pd(a1, _mm512_mul_pd(d, d));
        d = _mm512_sub_pd(xj, _mm512_load_pd(w2 + o));
        a2 = _mm512_add_pd(a2, _mm512_mul_pd(d, d));
        d = _mm512_sub_pd(xj, _mm512_load_pd(w3 + o));
        a3 = _mm512_add_pd(a3, _mm512_mul_pd(d, d));
      }
      m0 = _mm512_cmp_pd_mask(a0, limit, _CMP_LE_OQ);
      m1 = _mm512_cmp_pd_mask(a1, limit, _CMP_LE_OQ);
      m2 = _mm512_cmp_pd_mask(a2, limit, _CMP_LE_OQ);
      m3 = _mm512_cmp_pd_mask(a3, limit, _CMP_LE_OQ);
    }
    alignas(64) double sums[kLanes];
    const __m512d accs[4] = {a0, a1, a2, a3};
    const unsigned masks[4] = {m0, m1, m2, m3};
    for (int k = 0; k < 4; ++k) {
      if (masks[k] == 0) continue;
      _mm512_store_pd(sums, accs[k]);
      OfferLanes(best, sums, masks[k], candidates[c + k], s.nMap);
    }
  }
  for (; c < n; ++c) {
    const int b = candidates[c];
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

/// Inputs summed for every node before the guesses are chosen: all of a short row, else a
/// quarter of it, from four to eight.
int PrefixLength(int nIn) { return nIn <= 12 ? nIn : std::clamp(nIn / 4, 4, 8); }

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
  const bool gather = static_cast<double>(blocks_) * nIn_ * kLanes < 2147483647.0;
  const Shape shape{storage_.data() + offset_, nIn_, nMap_, blocks_, prefix_, gather};
  const Kernel kernel = KernelFor(level_);
  // The prefix sums, block-aligned like the weights.
  const auto address = reinterpret_cast<std::uintptr_t>(scratch.data());
  double* partial = scratch.data() + ((64 - address % 64) % 64) / sizeof(double);
  std::vector<int> candidates(static_cast<std::size_t>(blocks_));
  for (std::size_t r = from; r < to; ++r)
    best[r] = kernel(shape, inputs + r * stride, partial, candidates.data());
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
