#include "NeuralNets/TBasicConnections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "NeuralNets/MatrixTestNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

using testing::Install;
using testing::MakeNetwork;
using testing::RandSequence;
using testing::Recorder;
using testing::Seen;

double HandDraw(int r, double min, double max) {
  const long double k = static_cast<long double>(static_cast<unsigned>(r) % 32767u);
  const long double lmin = min;
  const long double lmax = max;
  return static_cast<double>(lmin + k * (1.0L / 32767.0L) * (lmax - lmin));
}

// ---- the weight draw ----

TEST(WeightDraw, RawValuesMapIntoHalfOpenRange) {
  struct Case {
    int r;
    double min, max, expected;
  };
  const Case cases[] = {
      {0, -1.0, 1.0, -1.0},
      {32767, -1.0, 1.0, -1.0},  // 32767 mod 32767 is 0
      {32766, -1.0, 1.0, static_cast<double>(-1.0L + 2.0L * 32766.0L / 32767.0L)},
      {1, 0.0, 1.0, static_cast<double>(1.0L / 32767.0L)},
      {16384, 0.5, 0.5, 0.5},
      {65534, -1.0, 1.0, -1.0},  // larger generators wrap the same way
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    EXPECT_EQ(WeightFromDraw(c.r, c.min, c.max), c.expected);
  }
  EXPECT_LT(WeightFromDraw(32766, -1.0, 1.0), 1.0);
}

TEST(WeightDraw, WholeExpressionIsEvaluatedInLongDouble) {
  // Bounds whose difference and products differ between double and long double arithmetic.
  const double bounds[][2] = {{0.1, 0.7}, {-0.3, 0.2}, {1e-3, 3.3333333333333335}};
  for (const auto& b : bounds)
    for (int r : {1, 777, 12345, 32765, 32766}) {
      SCOPED_TRACE(r);
      EXPECT_EQ(WeightFromDraw(r, b[0], b[1]), HandDraw(r, b[0], b[1]));
    }
}

TEST(WeightDraw, DrawWeightUsesOneCallOfRand) {
  const std::vector<int> seq = RandSequence(1234, 3);
  std::srand(1234);
  EXPECT_EQ(DrawWeight(-0.5, 2.0), HandDraw(seq[0], -0.5, 2.0));
  EXPECT_EQ(DrawWeight(0.0, 1.0), HandDraw(seq[1], 0.0, 1.0));
  EXPECT_EQ(std::rand(), seq[2]);
}

TEST(WeightDraw, RandomizeVisitorWithEqualBoundsSetsMinAndDrawsNothing) {
  auto net = MakeNetwork({0, 2, 3});
  TPrunedConnections* m = Install<TPrunedConnections>(*net, 1, 2);
  m->SetUntrainable(1, 1);
  m->GetWeight(1, 1) = 9.0;
  const std::vector<int> seq = RandSequence(77, 1);
  std::srand(77);
  TIterateObjRandomize visitor(0.5, 0.5);
  m->Iterate(visitor, 0);
  EXPECT_EQ(std::rand(), seq[0]);
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 2; ++f) EXPECT_EQ(m->GetWeight(f, t), (f == 1 && t == 1) ? 9.0 : 0.5);
}

// ---- selection mask ----

TEST(SelectionMask, OneSelectsExistingEveryOtherValueExistingAndTrainable) {
  struct Case {
    int mask;
    unsigned char flags;
    bool selected;
  };
  const Case cases[] = {
      {FMaskExists, 0, false}, {FMaskExists, 1, true},  {FMaskExists, 3, true},
      {FMaskExists, 2, false}, {FMaskAll, 1, false},    {FMaskAll, 3, true},
      {0, 3, true},            {0, 1, false},           {FMaskTrainable, 1, false},
      {FMaskTrainable, 3, true}, {7, 3, true},          {FMaskAll, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mask " << c.mask << " flags " << int(c.flags));
    EXPECT_EQ(MaskSelects(c.mask, c.flags), c.selected);
  }
}

// ---- defaults of TBasicConnections, seen through a minimal matrix ----

/// Arcs only on the diagonal f == t; only the pure operations are implemented, so every
/// other operation is the inherited default.
class TDiagonalConnections : public TBasicConnections {
 public:
  TDiagonalConnections(TBasicNetwork* net, int from, int to)
      : TBasicConnections(net, from, to), w(8, 0.0) {}
  double& GetWeight(int f, int) override { return w[static_cast<std::size_t>(f)]; }
  bool IsValid(int f, int t) override { return f == t; }
  void IterateToNode(TIterateObj& v, int t, int) override {
    Prepare(v);
    if (t < NumFrom()) Visit(v, t);
  }
  void IterateFromNode(TIterateObj& v, int f, int) override {
    Prepare(v);
    if (f < NumTo()) Visit(v, f);
  }
  void Iterate(TIterateObj& v, int) override {
    Prepare(v);
    for (int i = 0; i < NumFrom() && i < NumTo(); ++i) Visit(v, i);
  }
  void Iterate2(TIterateObj2&, TBasicNetwork*, int) override {}
  void Iterate3(TIterateObj3&, TBasicNetwork*, TBasicNetwork*, int) override {}
  const char* GetConnectionsNType() override { return "Diagonal"; }
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* owner) override {
    return std::make_unique<TDiagonalConnections>(owner, fromLayer, toLayer);
  }
  void RemoveFromNode(int) override {}
  void RemoveToNode(int) override {}

  std::vector<double> w;

 private:
  void Prepare(TIterateObj& v) { FillContext(v); }
  void Visit(TIterateObj& v, int i) {
    v.fromNode = i;
    v.toNode = i;
    v.weight = &w[static_cast<std::size_t>(i)];
    v.trainable = true;
    v.Visit();
  }
};

class DefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = MakeNetwork({0, 3, 4});
    auto m = std::make_unique<TDiagonalConnections>(net.get(), 1, 2);
    diag = m.get();
    net->priv_conns_index[2][1] = std::move(m);
    diag->w = {1.5, -2.0, 4.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  }
  std::unique_ptr<TBasicNetwork> net;
  TDiagonalConnections* diag = nullptr;
};

TEST_F(DefaultsTest, CountAndCopyGoThroughIterate) {
  for (int mask : {0, FMaskExists, FMaskAll}) EXPECT_EQ(diag->GetNumWeights(mask), 3);
  std::vector<double> out(5, 99.0);
  EXPECT_EQ(diag->GetWeights(out.data(), FMaskAll), 3);
  EXPECT_EQ(out, (std::vector<double>{1.5, -2.0, 4.0, 99.0, 99.0}));
  const double in[] = {7.0, 8.0, 9.0, 10.0};
  EXPECT_EQ(diag->SetWeights(in, FMaskAll), 3);
  EXPECT_EQ(diag->w[0], 7.0);
  EXPECT_EQ(diag->w[2], 9.0);
  EXPECT_EQ(diag->w[3], 0.0);
}

TEST_F(DefaultsTest, AggregateAddsPerToNeuron) {
  net->layers[1]->values = {2.0, 3.0, -1.0};
  std::vector<double> values = {10.0, 20.0, 30.0, 40.0};
  diag->Aggregate(values.data());
  EXPECT_EQ(values, (std::vector<double>{13.0, 14.0, 26.0, 40.0}));
}

TEST_F(DefaultsTest, RandomizeDrawsOncePerArcInIterateOrder) {
  const std::vector<int> seq = RandSequence(5, 4);
  std::srand(5);
  diag->Randomize(-1.0, 1.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(diag->w[static_cast<std::size_t>(i)], HandDraw(seq[static_cast<std::size_t>(i)], -1.0, 1.0));
  EXPECT_EQ(std::rand(), seq[3]);
}

TEST_F(DefaultsTest, FlagsAndTrainability) {
  EXPECT_TRUE(diag->IsConnected());
  EXPECT_TRUE(diag->IsTrainable(1, 1));
  EXPECT_FALSE(diag->IsTrainable(0, 1));
  EXPECT_EQ(diag->GetFlags(0, 2), FMaskAll);
  diag->SetFlags(0, 0, FMaskExists);
  diag->SetFlags(0, 0, FMaskAll);
  EXPECT_EQ(diag->GetAllFlags(), (std::vector<unsigned char>{3, 3, 3}));
}

TEST_F(DefaultsTest, UnsupportedOperationsStop) {
  const std::vector<std::pair<const char*, void (*)(TBasicConnections*)>> ops = {
      {"PruneArc", [](TBasicConnections* m) { m->PruneArc(0, 0); }},
      {"AddArc", [](TBasicConnections* m) { m->AddArc(0, 0); }},
      {"SetTrainable", [](TBasicConnections* m) { m->SetTrainable(0, 0); }},
      {"SetUntrainable", [](TBasicConnections* m) { m->SetUntrainable(0, 0); }},
      {"SetAllUntrainable", [](TBasicConnections* m) { m->SetAllUntrainable(); }},
      {"InsertFromNode", [](TBasicConnections* m) { m->InsertFromNode(0, 0.0, 1.0, true); }},
      {"InsertToNode", [](TBasicConnections* m) { m->InsertToNode(0, 0.0, 1.0, true); }},
  };
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    EXPECT_DEATH(op(diag), "Assertion failed: false, file");
  }
  for (unsigned char bad : {0, 2, 4}) {
    SCOPED_TRACE(int(bad));
    EXPECT_DEATH(diag->SetFlags(0, 0, bad),
                 "Assertion failed: \\(val==FMaskAll\\) \\|\\| \\(val==FMaskExists\\), file");
  }
}

// ---- the empty matrix ----

TEST(EmptyConnections, HasNoArcsAndDoesNothing) {
  auto net = MakeNetwork({2, 3, 4});
  TBasicConnections* m = net->priv_conns_index[2][1].get();
  EXPECT_STREQ(m->GetConnectionsNType(), "Empty");
  EXPECT_FALSE(m->IsConnected());
  for (int f = 0; f < 3; ++f)
    for (int t = 0; t < 4; ++t) {
      EXPECT_FALSE(m->IsValid(f, t));
      EXPECT_FALSE(m->IsTrainable(f, t));
    }
  for (int mask : {0, FMaskExists, FMaskAll}) EXPECT_EQ(m->GetNumWeights(mask), 0);
  std::vector<double> buffer(3, 42.0);
  EXPECT_EQ(m->GetWeights(buffer.data(), FMaskAll), 0);
  EXPECT_EQ(m->SetWeights(buffer.data(), FMaskAll), 0);
  EXPECT_EQ(buffer, std::vector<double>(3, 42.0));

  net->layers[1]->values = {1.0, 2.0, 3.0};
  std::vector<double> values = {5.0, 6.0, 7.0, 8.0};
  m->Aggregate(values.data());
  EXPECT_EQ(values, (std::vector<double>{5.0, 6.0, 7.0, 8.0}));

  Recorder rec;
  m->Iterate(rec, FMaskExists);
  m->IterateToNode(rec, 0, FMaskExists);
  m->IterateFromNode(rec, 0, FMaskExists);
  EXPECT_TRUE(rec.seen.empty());
  EXPECT_TRUE(m->GetAllFlags().empty());

  const std::vector<int> seq = RandSequence(9, 1);
  std::srand(9);
  m->Randomize(-1.0, 1.0);
  m->InsertFromNode(0, -1.0, 1.0, true);
  m->InsertToNode(0, -1.0, 1.0, true);
  m->RemoveFromNode(0);
  m->RemoveToNode(0);
  EXPECT_EQ(std::rand(), seq[0]);
  EXPECT_EQ(net->GetNumWeights(FMaskExists), 0);
}

TEST(EmptyConnections, CloneBelongsToOwner) {
  auto net = MakeNetwork({2, 3});
  auto other = MakeNetwork({2, 3});
  std::unique_ptr<TBasicConnections> copy = net->priv_conns_index[1][0]->Clone(other.get());
  EXPECT_STREQ(copy->GetConnectionsNType(), "Empty");
  EXPECT_EQ(copy->network, other.get());
  EXPECT_EQ(copy->fromLayer, 0);
  EXPECT_EQ(copy->toLayer, 1);
}

TEST(EmptyConnections, AskingForAWeightStops) {
  auto net = MakeNetwork({2, 3});
  TBasicConnections* m = net->priv_conns_index[1][0].get();
  EXPECT_DEATH(m->GetWeight(0, 0), "Assertion failed: false, file");
  EXPECT_DEATH(m->PruneArc(0, 0), "Assertion failed: false, file");
  EXPECT_DEATH(m->SetFlags(0, 0, 0), "val==FMaskAll");
  m->SetFlags(0, 0, FMaskExists);
  EXPECT_EQ(m->GetFlags(0, 0), FMaskAll);
}

// ---- visitors ----

TEST(IterateObj, ContextIsFilledFromTheNetwork) {
  auto net = MakeNetwork({2, 3});
  TPrunedConnections* m = Install<TPrunedConnections>(*net, 0, 1);
  TIterateObj direct(net.get(), 0, 1);
  EXPECT_EQ(direct.conn, m);
  EXPECT_EQ(direct.fromLayerPtr, net->layers[0].get());
  EXPECT_EQ(direct.toValues, net->layers[1]->values.data());

  class Check : public TIterateObj {
   public:
    void Visit() override { ok = ok && conn != nullptr && fromLayer == 0 && toLayer == 1; }
    bool ok = true;
  } check;
  m->Iterate(check, FMaskExists);
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(check.conn, m);
  EXPECT_EQ(check.fromValues, net->layers[0]->values.data());
  EXPECT_EQ(check.toLayerPtr, net->layers[1].get());
}

TEST(IterateObj, PruneNodeCountsOutgoingArcs) {
  auto net = MakeNetwork({2, 3});
  TPrunedConnections* m = Install<TPrunedConnections>(*net, 0, 1);
  for (int t = 0; t < 3; ++t) m->PruneArc(1, t);
  m->PruneArc(0, 2);
  TIterateObjPruneNode counter;
  m->IterateFromNode(counter, 0, FMaskExists);
  EXPECT_EQ(counter.count, 2);
  counter.count = 0;
  m->IterateFromNode(counter, 1, FMaskExists);
  EXPECT_EQ(counter.count, 0);
}

/// Copies the first network's weight into the second and third.
class CopyWeights2 : public TIterateObj2 {
 public:
  void Visit() override {
    *weight2 = *weight1;
    ++count;
  }
  int count = 0;
};

class CopyWeights3 : public TIterateObj3 {
 public:
  void Visit() override {
    *weight2 = *weight1;
    *weight3 = -*weight1;
  }
};

TEST(IterateObj2, VisitsTheSameArcOfBothNetworks) {
  auto a = MakeNetwork({2, 3});
  auto b = MakeNetwork({2, 3});
  auto c = MakeNetwork({2, 3});
  TPrunedConnections* ma = Install<TPrunedConnections>(*a, 0, 1);
  TPrunedConnections* mb = Install<TPrunedConnections>(*b, 0, 1);
  TPrunedConnections* mc = Install<TPrunedConnections>(*c, 0, 1);
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 2; ++f) ma->GetWeight(f, t) = 10 * f + t;
  ma->PruneArc(1, 0);
  ma->SetUntrainable(0, 2);
  CopyWeights2 v2;
  ma->Iterate2(v2, b.get(), FMaskAll);
  EXPECT_EQ(v2.count, 4);
  EXPECT_EQ(v2.conn2, mb);
  EXPECT_EQ(mb->GetWeight(1, 1), 11.0);
  EXPECT_EQ(mb->GetWeight(0, 2), 0.0);  // untrainable in the first network: not selected

  CopyWeights3 v3;
  ma->Iterate3(v3, b.get(), c.get(), FMaskExists);
  EXPECT_EQ(mb->GetWeight(0, 2), 2.0);
  EXPECT_EQ(mc->GetWeight(1, 2), -12.0);
  EXPECT_EQ(mc->GetWeight(1, 0), 0.0);  // absent in the first network

  TIterateObj2 filled(a.get(), b.get(), 0, 1, 1, 2);
  EXPECT_EQ(filled.weight1, &ma->GetWeight(1, 2));
  EXPECT_EQ(filled.weight2, &mb->GetWeight(1, 2));
  EXPECT_TRUE(filled.trainable);
  EXPECT_EQ(filled.fromValues2, b->layers[0]->values.data());
  TIterateObj3 filled3(a.get(), b.get(), c.get(), 0, 1, 0, 2);
  EXPECT_EQ(filled3.weight3, &mc->GetWeight(0, 2));
  EXPECT_FALSE(filled3.trainable);
}

TEST(IterateObj2, MatricesOfDifferentClassesStop) {
  auto a = MakeNetwork({2, 3});
  auto b = MakeNetwork({2, 3});
  auto c = MakeNetwork({2, 3});
  TPrunedConnections* ma = Install<TPrunedConnections>(*a, 0, 1);
  Install<TConnectedConnections>(*b, 0, 1);
  Install<TPrunedConnections>(*c, 0, 1);
  TIterateObj2 v2;
  TIterateObj3 v3;
  const char* text2 = "conn1 -> GetConnectionsNType\\(\\) == conn2 -> GetConnectionsNType\\(\\)";
  const char* text3 = "conn1 -> GetConnectionsNType\\(\\) == conn3 -> GetConnectionsNType\\(\\)";
  EXPECT_DEATH(ma->Iterate2(v2, b.get(), FMaskAll), text2);
  EXPECT_DEATH(ma->Iterate3(v3, c.get(), b.get(), FMaskAll), text3);
  EXPECT_DEATH(TIterateObj2(a.get(), b.get(), 0, 1, 0, 0), text2);
  EXPECT_DEATH(TIterateObj3(a.get(), c.get(), b.get(), 0, 1, 0, 0), text3);
}

}  // namespace
}  // namespace kartlo
