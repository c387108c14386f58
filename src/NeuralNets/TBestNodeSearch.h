#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace kartlo {

/// The plain exhaustive search, the reference every faster search agrees with bit for bit:
/// node(i)[j] is component j of node i's weight vector. Each node's squared distance is summed
/// in input order, a separate multiply and add per term; a node wins only strictly below the
/// best so far, which starts at +infinity, so ties keep the lowest index and NaN or infinite
/// distances never win. Returns -1 when no node wins.
template <class NodeWeights>
int PlainBestNode(const double* input, int nIn, int nMap, NodeWeights node) {
  double bestDistance = std::numeric_limits<double>::infinity();
  int best = -1;
  for (int i = 0; i < nMap; ++i) {
    const auto w = node(i);
    double sum = 0.0;
    for (int j = 0; j < nIn; ++j) {
      const double diff = input[j] - w[j];
      sum = sum + diff * diff;
    }
    if (sum < bestDistance) {
      bestDistance = sum;
      best = i;
    }
  }
  return best;
}

/// The best-node search for many rows against one fixed set of nodes, giving exactly
/// PlainBestNode's winner for every row. It keeps a node-major copy of the weights in blocks
/// of eight nodes (one vector lane per node, so each lane adds its terms in input order as
/// the plain loop does), with nodes that lie close together sharing a block. A block is
/// abandoned as soon as none of its partial sums is still at or below the best distance
/// (terms are never negative, so a partial sum above it stays above it; a NaN partial never
/// compares and is dropped, as it could never win), and, on maps where the rows lie near
/// the nodes, whole blocks far from a row are passed over by the triangle inequality. Of
/// equal distances the lowest node wins, whatever order the nodes were summed in. The
/// widest vector unit of the machine is chosen at run time; rows are spread over the cores.
class TBestNodeSearch {
 public:
  /// Vector units, narrowest first.
  enum class Level { Scalar = 0, Avx2 = 1, Avx512 = 2 };

  /// nMap nodes of nIn components; weight(i, j) is component j of node i, read once here.
  TBestNodeSearch(int nIn, int nMap, const std::function<double(int, int)>& weight);
  /// nMap nodes of nIn components, node i's at nodes[i * nIn] onwards.
  TBestNodeSearch(int nIn, int nMap, const double* nodes);
  TBestNodeSearch(TBestNodeSearch&&) noexcept;
  TBestNodeSearch& operator=(TBestNodeSearch&&) noexcept;
  /// Stops the worker threads.
  ~TBestNodeSearch();

  int Inputs() const { return nIn_; }
  int Nodes() const { return nMap_; }

  /// The widest level this processor (and its operating system) supports.
  static Level MachineLevel();
  /// The level in use: MachineLevel() unless UseLevel changed it.
  Level GetLevel() const { return level_; }
  /// Runs the search at `level`; false (and nothing changed) when the machine lacks it.
  bool UseLevel(Level level);
  /// How blocks of nodes are passed over. Scan sums every block, abandoning those that can
  /// no longer win (the narrower units first sum a short prefix of every node to choose
  /// guesses); Bounds passes over whole blocks far from the row by the triangle inequality;
  /// Auto (the default) tries the bounds on the first rows of every FindAll batch and keeps
  /// them where they pass over at least half of the blocks. All give the same winners.
  enum class Method { Auto, Scan, Bounds };
  void UseMethod(Method method) { method_ = method; }
  /// Whether this map has bounds (several blocks of finite weights); without them every
  /// method is Scan.
  bool HasBounds() const { return centreBlocks_ > 0; }
  /// The number of threads FindAll may use; 0 (the default) means one per core.
  void UseThreads(int threads) { threads_ = threads < 0 ? 0 : threads; }

  /// The winner of one row of Inputs() values, or -1.
  int Find(const double* input) const;
  /// The winners of `rows` rows: row r starts at inputs + r * stride and best[r] receives
  /// its winner (or -1). Large batches are shared with worker threads that this search
  /// starts on first use and keeps until it is destroyed.
  void FindAll(const double* inputs, std::size_t rows, std::size_t stride, int* best) const;

  /// Nodes per block, the lanes of the widest vector.
  static constexpr int kLanes = 8;

 private:
  /// Working memory of one thread, allocated before any thread starts so that no thread
  /// can fail: prefix and centre sums, and lists of blocks.
  struct Scratch {
    std::vector<double> sums;
    std::vector<int> blocks;
  };
  /// Threads kept between batches (see the source).
  class Workers;

  void Build(const std::function<double(int, int)>& weight);
  Scratch MakeScratch() const;
  /// Rows [from, to), with bounds or by scanning; `kept`, if given, receives the number of
  /// blocks the bounds could not pass over.
  void FindRange(const double* inputs, std::size_t from, std::size_t to, std::size_t stride,
                 int* best, Scratch& scratch, bool bounds, long long* kept = nullptr) const;

  int nIn_;
  int nMap_;
  int blocks_;
  int prefix_;
  Level level_;
  int threads_ = 0;
  Method method_ = Method::Auto;
  /// The node in block b, lane l is nodeOf_[b·kLanes + l] (-1 for an empty lane): with
  /// bounds, nodes close together share a block.
  std::vector<int> nodeOf_;
  /// Every block in order.
  std::vector<int> scanList_;
  /// With bounds: centreBlocks_ blocks of block centres, laid out as the weights from
  /// centreStorage_[centreOffset_], and each block's radius.
  int centreBlocks_ = 0;
  std::vector<double> centreStorage_;
  std::size_t centreOffset_ = 0;
  std::vector<double> radius_;
  /// blocks_ × nIn_ × kLanes weights: block b, input j, lane l is node nodeOf_[b·kLanes + l];
  /// empty lanes hold NaN, which never wins. Starts at storage_[offset_], 64-byte
  /// aligned.
  std::vector<double> storage_;
  std::size_t offset_ = 0;
  /// Null only in a search that was moved from, which then starts threads per batch.
  std::unique_ptr<Workers> workers_;
};

}  // namespace kartlo
