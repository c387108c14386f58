#include "NeuralNets/TBestNodeSearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kartlo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Level = TBestNodeSearch::Level;

/// Every level this machine can run, narrowest first.
std::vector<Level> Levels() {
  std::vector<Level> levels;
  for (Level level : {Level::Scalar, Level::Avx2, Level::Avx512}) {
    if (static_cast<int>(level) <= static_cast<int>(TBestNodeSearch::MachineLevel()))
      levels.push_back(level);
  }
  return levels;
}

std::string Name(Level level) {
  switch (level) {
    case Level::Scalar:
      return "scalar";
    case Level::Avx2:
      return "avx2";
    case Level::Avx512:
      return "avx512";
  }
  return "?";
}

/// nMap nodes of nIn components, row after row, and rows to search for.
struct Problem {
  int nIn = 0;
  int nMap = 0;
  std::vector<double> nodes;
  std::vector<double> rows;
  std::size_t RowCount() const { return nIn == 0 ? rows.size() : rows.size() / nIn; }
};

int Plain(const Problem& p, const double* row) {
  return PlainBestNode(row, p.nIn, p.nMap, [&](int i) { return p.nodes.data() + i * p.nIn; });
}

/// Runs every row through every level, one row at a time and all at once on one and on two
/// threads, and compares each winner with the plain loop's.
void ExpectPlainWinners(const Problem& p) {
  const std::size_t count = p.RowCount();
  std::vector<int> expected(count);
  for (std::size_t r = 0; r < count; ++r) expected[r] = Plain(p, p.rows.data() + r * p.nIn);
  TBestNodeSearch search(p.nIn, p.nMap, p.nodes.data());
  using Method = TBestNodeSearch::Method;
  for (Level level : Levels()) {
    for (Method method : {Method::Scan, Method::Bounds, Method::Auto}) {
      SCOPED_TRACE(Name(level) + ", method " + std::to_string(static_cast<int>(method)));
      ASSERT_TRUE(search.UseLevel(level));
      ASSERT_EQ(search.GetLevel(), level);
      search.UseMethod(method);
      for (std::size_t r = 0; r < count; ++r)
        ASSERT_EQ(search.Find(p.rows.data() + r * p.nIn), expected[r]) << "row " << r;
      for (int threads : {1, 2}) {
        search.UseThreads(threads);
        std::vector<int> best(count, -7);
        search.FindAll(p.rows.data(), count, static_cast<std::size_t>(p.nIn), best.data());
        ASSERT_EQ(best, expected) << threads << " threads";
      }
    }
  }
}

/// Values drawn from a handful of small numbers make equal distances common; the rest are
/// nudged by one unit in the last place, duplicated or made non-finite.
Problem RandomProblem(std::mt19937& random, int nIn, int nMap, int rows) {
  Problem p;
  p.nIn = nIn;
  p.nMap = nMap;
  std::uniform_int_distribution<int> small(-2, 2);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> wide(-3.0, 3.0);
  auto value = [&] {
    const int kind = pick(random);
    if (kind < 50) return small(random) * 0.5;
    if (kind < 90) return wide(random);
    if (kind < 95) return std::nextafter(small(random) * 0.5, kInf);
    if (kind < 97) return 1e200;  // squares overflow to infinity
    if (kind < 98) return -0.0;
    return 4.9e-324;  // the smallest subnormal
  };
  for (int i = 0; i < nMap * nIn; ++i) p.nodes.push_back(value());
  // Duplicate nodes: the lower index must win.
  for (int i = 1; i < nMap; i += 5) {
    const int from = static_cast<int>(random() % static_cast<unsigned>(i));
    for (int j = 0; j < nIn; ++j) p.nodes[i * nIn + j] = p.nodes[from * nIn + j];
  }
  for (int r = 0; r < rows; ++r) {
    const int kind = pick(random);
    if (kind < 30 && nMap > 0) {
      // On a node, or one unit in the last place beside it.
      const int node = static_cast<int>(random() % static_cast<unsigned>(nMap));
      for (int j = 0; j < nIn; ++j) {
        const double w = p.nodes[node * nIn + j];
        p.rows.push_back(kind < 15 ? w : std::nextafter(w, -kInf));
      }
    } else if (kind < 33) {
      for (int j = 0; j < nIn; ++j) p.rows.push_back(j == nIn / 2 ? kNaN : value());
    } else if (kind < 36) {
      for (int j = 0; j < nIn; ++j) p.rows.push_back(j == 0 ? -kInf : value());
    } else {
      for (int j = 0; j < nIn; ++j) p.rows.push_back(value());
    }
  }
  return p;
}

TEST(TBestNodeSearch, AgreesWithThePlainLoopOnRandomMapsWithTies) {
  std::mt19937 random(20240611);
  struct Shape {
    int nIn;
    int nMap;
  };
  // Inputs around the prefix length and the check interval; nodes around the block size.
  const Shape shapes[] = {{1, 1},   {1, 9},   {2, 8},   {3, 7},   {4, 17},  {7, 33},
                          {8, 64},  {12, 15}, {13, 40}, {16, 100}, {17, 8}, {33, 65},
                          {64, 300}, {9, 1}};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.nIn) + " inputs, " + std::to_string(shape.nMap) + " nodes");
    ExpectPlainWinners(RandomProblem(random, shape.nIn, shape.nMap, 120));
  }
}

TEST(TBestNodeSearch, AgreesWithThePlainLoopOnStructuredData) {
  // Rows near the nodes of a large map, the case the prefix guess is made for; rows sorted
  // and unsorted alike.
  std::mt19937 random(7);
  std::uniform_real_distribution<double> weight(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.02);
  Problem p;
  p.nIn = 24;
  p.nMap = 260;
  for (int i = 0; i < p.nMap * p.nIn; ++i) p.nodes.push_back(weight(random));
  for (int r = 0; r < 400; ++r) {
    const int node = static_cast<int>(random() % static_cast<unsigned>(p.nMap));
    for (int j = 0; j < p.nIn; ++j) p.rows.push_back(p.nodes[node * p.nIn + j] + noise(random));
  }
  ExpectPlainWinners(p);
}

/// A smooth map on a side x side grid, as training leaves one: neighbouring nodes lie close
/// together, so whole blocks of nodes lie far from any one row.
Problem SmoothMap(std::mt19937& random, int side, int nIn) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Problem p;
  p.nIn = nIn;
  p.nMap = side * side;
  std::vector<double> slopeU(nIn), slopeV(nIn), phase(nIn);
  for (int j = 0; j < nIn; ++j) {
    slopeU[j] = unit(random) - 0.5;
    slopeV[j] = unit(random) - 0.5;
    phase[j] = unit(random);
  }
  for (int i = 0; i < p.nMap; ++i) {
    const double u = (i / side) / (side - 1.0);
    const double v = (i % side) / (side - 1.0);
    for (int j = 0; j < nIn; ++j)
      p.nodes.push_back(slopeU[j] * u + slopeV[j] * v + 0.1 * std::sin(6.3 * (u + v + phase[j])));
  }
  return p;
}

TEST(TBestNodeSearch, AgreesWithThePlainLoopWhereBoundsPassOverBlocks) {
  std::mt19937 random(99);
  std::normal_distribution<double> noise(0.0, 0.01);
  for (int nIn : {1, 3, 16, 40}) {
    SCOPED_TRACE(std::to_string(nIn) + " inputs");
    Problem p = SmoothMap(random, 15, nIn);
    // Equal nodes far apart in the node order (so in different blocks): the lower index wins.
    for (int j = 0; j < nIn; ++j) p.nodes[200 * nIn + j] = p.nodes[3 * nIn + j];
    for (int j = 0; j < nIn; ++j) p.nodes[17 * nIn + j] = p.nodes[160 * nIn + j];
    const auto node = [&](int i, int j) { return p.nodes[i * nIn + j]; };
    for (int r = 0; r < 300; ++r) {
      const int a = static_cast<int>(random() % static_cast<unsigned>(p.nMap));
      const int b = static_cast<int>(random() % static_cast<unsigned>(p.nMap));
      for (int j = 0; j < nIn; ++j) {
        switch (r % 6) {
          case 0:  // on a node
            p.rows.push_back(node(a, j));
            break;
          case 1:  // one unit in the last place beside it
            p.rows.push_back(std::nextafter(node(a, j), r % 4 < 2 ? kInf : -kInf));
            break;
          case 2:  // halfway between two nodes: often a tie
            p.rows.push_back(node(a, j) / 2 + node(b, j) / 2);
            break;
          case 3:  // on a duplicated node
            p.rows.push_back(node(r % 12 < 6 ? 200 : 160, j));
            break;
          default:  // near a node
            p.rows.push_back(node(a, j) + noise(random));
        }
      }
    }
    TBestNodeSearch search(p.nIn, p.nMap, p.nodes.data());
    EXPECT_TRUE(search.HasBounds());
    ExpectPlainWinners(p);
  }
}

TEST(TBestNodeSearch, HasBoundsOnlyForSeveralBlocksOfFiniteWeights) {
  std::mt19937 random(5);
  Problem p = SmoothMap(random, 8, 4);
  EXPECT_TRUE(TBestNodeSearch(p.nIn, p.nMap, p.nodes.data()).HasBounds());
  EXPECT_FALSE(TBestNodeSearch(p.nIn, 24, p.nodes.data()).HasBounds()) << "three blocks";
  p.nodes[50] = kInf;
  EXPECT_FALSE(TBestNodeSearch(p.nIn, p.nMap, p.nodes.data()).HasBounds());
  p.nodes[50] = kNaN;
  EXPECT_FALSE(TBestNodeSearch(p.nIn, p.nMap, p.nodes.data()).HasBounds());
  // Without bounds every method searches all the same.
  p.rows.assign(p.nodes.begin() + 8, p.nodes.begin() + 12);
  ExpectPlainWinners(p);
}

TEST(TBestNodeSearch, EdgeCases) {
  struct Case {
    const char* name;
    Problem problem;
    int winner;  // of the first row, as the plain loop finds it
  };
  const Case cases[] = {
      {"no nodes", {2, 0, {}, {0.0, 0.0}}, -1},
      {"no inputs: every distance is 0", {0, 3, {}, {}}, -1},
      {"equal distances: the lowest index", {1, 3, {2.0, 0.0, 2.0}, {1.0}}, 0},
      {"a later node nearer by one unit in the last place",
       {1, 10, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, std::nextafter(0.5, 0.0)}, {0.0}},
       9},
      {"a NaN row has no winner", {2, 9, std::vector<double>(18, 0.0), {kNaN, 0.0}}, -1},
      {"distances that overflow have no winner", {1, 2, {-1e200, 1e200}, {0.0}}, -1},
      {"an infinite weight is passed over", {1, 2, {kInf, 3.0}, {0.0}}, 1},
      {"a NaN weight is passed over", {2, 9,
        {kNaN, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}, {0.0, 0.0}}, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.problem.rows.empty()) {
      EXPECT_EQ(Plain(c.problem, c.problem.rows.data()), c.winner);
      ExpectPlainWinners(c.problem);
    }
  }
  // Without inputs every node is at distance 0: node 0 wins, on every level.
  TBestNodeSearch search(0, 11, static_cast<const double*>(nullptr));
  for (Level level : Levels()) {
    ASSERT_TRUE(search.UseLevel(level));
    std::vector<int> best(5, -7);
    search.FindAll(nullptr, best.size(), 0, best.data());
    EXPECT_EQ(best, std::vector<int>(5, 0)) << Name(level);
  }
}

TEST(TBestNodeSearch, ReadsTheWeightsThroughTheAccessor) {
  // weight(i, j) = node i's component j; a node-major table read transposed must agree.
  const std::vector<double> byInput = {0.0, 1.0, 2.0,   // component 0 of nodes 0, 1, 2
                                       0.0, 1.0, 2.0};  // component 1
  TBestNodeSearch search(2, 3, [&](int i, int j) { return byInput[j * 3 + i]; });
  const double row[2] = {1.9, 2.2};
  EXPECT_EQ(search.Find(row), 2);
  EXPECT_EQ(search.Inputs(), 2);
  EXPECT_EQ(search.Nodes(), 3);
}

TEST(TBestNodeSearch, RefusesALevelTheMachineLacks) {
  TBestNodeSearch search(1, 1, std::vector<double>{0.0}.data());
  EXPECT_EQ(search.GetLevel(), TBestNodeSearch::MachineLevel());
  if (TBestNodeSearch::MachineLevel() != Level::Avx512) {
    EXPECT_FALSE(search.UseLevel(Level::Avx512));
    EXPECT_EQ(search.GetLevel(), TBestNodeSearch::MachineLevel());
  }
  EXPECT_TRUE(search.UseLevel(Level::Scalar));
}

TEST(TBestNodeSearch, SpreadsLargeBatchesOverThreadsInRowOrder) {
  // Enough work to pass the threshold for threads: each row's winner is its own node.
  const int nIn = 16;
  const int nMap = 512;
  std::vector<double> nodes(static_cast<std::size_t>(nMap) * nIn);
  for (int i = 0; i < nMap; ++i)
    for (int j = 0; j < nIn; ++j) nodes[i * nIn + j] = i * 0.25 + j;
  const std::size_t rows = 3001;
  std::vector<double> inputs(rows * nIn);
  for (std::size_t r = 0; r < rows; ++r)
    for (int j = 0; j < nIn; ++j) inputs[r * nIn + j] = static_cast<double>(r % nMap) * 0.25 + j;
  TBestNodeSearch search(nIn, nMap, nodes.data());
  for (int threads : {0, 2, 3}) {
    search.UseThreads(threads);
    std::vector<int> best(rows, -7);
    search.FindAll(inputs.data(), rows, nIn, best.data());
    for (std::size_t r = 0; r < rows; ++r)
      ASSERT_EQ(best[r], static_cast<int>(r % nMap)) << "row " << r << ", " << threads;
  }
}

TEST(TBestNodeSearch, BatchesAtOnceOnOneSearchAndAfterAMoveAllFindTheirWinners) {
  // Batches large enough for threads: the workers serve one batch at a time, a batch that
  // finds them busy starts its own threads, and a moved-to search keeps working.
  const int nIn = 8;
  const int nMap = 1024;
  std::vector<double> nodes(static_cast<std::size_t>(nMap) * nIn);
  for (int i = 0; i < nMap; ++i)
    for (int j = 0; j < nIn; ++j) nodes[i * nIn + j] = i * 0.5 - j;
  const std::size_t rows = 2000;
  std::vector<double> inputs(rows * nIn);
  for (std::size_t r = 0; r < rows; ++r)
    for (int j = 0; j < nIn; ++j) inputs[r * nIn + j] = static_cast<double>((r * 7) % nMap) * 0.5 - j;
  auto check = [&](const TBestNodeSearch& search) {
    for (int round = 0; round < 20; ++round) {
      std::vector<int> best(rows, -7);
      search.FindAll(inputs.data(), rows, nIn, best.data());
      for (std::size_t r = 0; r < rows; ++r)
        if (best[r] != static_cast<int>((r * 7) % nMap)) return false;
    }
    return true;
  };
  TBestNodeSearch search(nIn, nMap, nodes.data());
  search.UseThreads(2);
  bool other = false;
  std::thread racer([&] { other = check(search); });
  const bool mine = check(search);
  racer.join();
  EXPECT_TRUE(mine);
  EXPECT_TRUE(other);
  TBestNodeSearch moved(std::move(search));
  EXPECT_TRUE(check(moved));
}

}  // namespace
}  // namespace kartlo
