#include "NeuralNets/TConnectedConnections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "NeuralNets/MatrixTestNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

using testing::GrowLayer;
using testing::Install;
using testing::MakeNetwork;
using testing::RandSequence;
using testing::Recorder;
using testing::Seen;
using testing::ShrinkLayer;

/// Layer 0 unused, layer 1 the from-layer, layer 2 the to-layer.
class FullyConnected : public ::testing::Test {
 protected:
  void Build(int nFrom, int nTo) {
    net = MakeNetwork({1, nFrom, nTo});
    m = Install<TConnectedConnections>(*net, 1, 2);
  }
  /// w(f, t) = 10 f + t.
  void FillTens() {
    for (int t = 0; t < NumTo(); ++t)
      for (int f = 0; f < NumFrom(); ++f) m->GetWeight(f, t) = 10 * f + t;
  }
  int NumFrom() const { return net->layers[1]->numNeurons; }
  int NumTo() const { return net->layers[2]->numNeurons; }
  /// All weights row by row (to-neuron major).
  std::vector<double> Rows() {
    std::vector<double> out;
    for (int t = 0; t < NumTo(); ++t)
      for (int f = 0; f < NumFrom(); ++f) out.push_back(m->GetWeight(f, t));
    return out;
  }
  std::unique_ptr<TBasicNetwork> net;
  TConnectedConnections* m = nullptr;
};

TEST_F(FullyConnected, NewMatrixIsCompleteWithZeroWeights) {
  Build(3, 2);
  EXPECT_STREQ(m->GetConnectionsNType(), "FullyConnected");
  EXPECT_TRUE(m->IsConnected());
  for (int mask : {0, FMaskExists, FMaskTrainable, FMaskAll}) EXPECT_EQ(m->GetNumWeights(mask), 6);
  EXPECT_EQ(Rows(), std::vector<double>(6, 0.0));
  for (int f = 0; f < 3; ++f)
    for (int t = 0; t < 2; ++t) {
      EXPECT_TRUE(m->IsValid(f, t));
      EXPECT_TRUE(m->IsTrainable(f, t));
      EXPECT_EQ(m->GetFlags(f, t), FMaskAll);
    }
}

TEST_F(FullyConnected, GetWeightsIsFromMajorWhileIterateIsToMajor) {
  Build(2, 3);
  FillTens();
  std::vector<double> out(6);
  EXPECT_EQ(m->GetWeights(out.data(), FMaskAll), 6);
  EXPECT_EQ(out, (std::vector<double>{0, 1, 2, 10, 11, 12}));
  Recorder rec;
  m->Iterate(rec, FMaskExists);
  const std::vector<Seen> expected = {{0, 0, 0, true},  {1, 0, 10, true}, {0, 1, 1, true},
                                      {1, 1, 11, true}, {0, 2, 2, true},  {1, 2, 12, true}};
  EXPECT_EQ(rec.seen, expected);
  EXPECT_EQ(m->GetRow(1)[0], 1.0);
  EXPECT_EQ(m->GetRow(1)[1], 11.0);
  EXPECT_EQ(m->GetRow(2), &m->GetWeight(0, 2));
}

TEST_F(FullyConnected, SetWeightsReadsFromMajorAndRestoresGetWeights) {
  Build(2, 3);
  const double in[] = {0, 1, 2, 10, 11, 12, 99};
  EXPECT_EQ(m->SetWeights(in, 0), 6);
  EXPECT_EQ(Rows(), (std::vector<double>{0, 10, 1, 11, 2, 12}));
  std::vector<double> out(6);
  m->GetWeights(out.data(), FMaskExists);
  EXPECT_EQ(out, std::vector<double>(in, in + 6));
}

TEST_F(FullyConnected, AggregateAddsWeightedSums) {
  Build(2, 3);
  for (int t = 0; t < 3; ++t) {
    m->GetWeight(0, t) = 1.0;
    m->GetWeight(1, t) = 3.0;
  }
  net->layers[1]->values = {1.0, 2.0};
  std::vector<double> values = {0.5, -7.0, 100.0};
  m->Aggregate(values.data());
  EXPECT_EQ(values, (std::vector<double>{7.5, 0.0, 107.0}));
}

TEST_F(FullyConnected, AggregateSumsFromNeuronsInAscendingOrder) {
  Build(3, 1);
  for (int f = 0; f < 3; ++f) m->GetWeight(f, 0) = 1.0;
  net->layers[1]->values = {1e16, 1.0, -1e16};
  double value = 0.0;
  m->Aggregate(&value);
  EXPECT_EQ(value, 0.0);  // (1e16 + 1) loses the 1 before -1e16 is added
}

TEST_F(FullyConnected, SingleNodeIterationsReportTheirArcs) {
  Build(2, 3);
  FillTens();
  Recorder into;
  m->IterateToNode(into, 2, FMaskAll);
  EXPECT_EQ(into.seen, (std::vector<Seen>{{0, 2, 2, true}, {1, 2, 12, true}}));
  Recorder outOf;
  m->IterateFromNode(outOf, 1, 0);
  EXPECT_EQ(outOf.seen, (std::vector<Seen>{{1, 0, 10, true}, {1, 1, 11, true}, {1, 2, 12, true}}));
}

TEST_F(FullyConnected, RandomizeDrawsInStorageOrder) {
  Build(2, 3);
  const std::vector<int> seq = RandSequence(31, 7);
  std::srand(31);
  m->Randomize(-1.0, 1.0);
  std::vector<double> expected;
  for (int i = 0; i < 6; ++i) expected.push_back(WeightFromDraw(seq[static_cast<std::size_t>(i)], -1.0, 1.0));
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(std::rand(), seq[6]);
  for (double w : Rows()) {
    EXPECT_GE(w, -1.0);
    EXPECT_LT(w, 1.0);
  }
}

TEST_F(FullyConnected, RandomizeWithEqualBoundsDrawsNothing) {
  Build(2, 3);
  const std::vector<int> seq = RandSequence(4, 1);
  std::srand(4);
  m->Randomize(0.5, 0.5);
  EXPECT_EQ(std::rand(), seq[0]);
  EXPECT_EQ(Rows(), std::vector<double>(6, 0.5));
}

TEST_F(FullyConnected, ArcEditingThatKeepsEveryArcChangesNothing) {
  Build(2, 2);
  FillTens();
  for (int f = 0; f < 2; ++f)
    for (int t = 0; t < 2; ++t) {
      m->AddArc(f, t);
      m->SetTrainable(f, t);
      m->SetFlags(f, t, FMaskExists);
      m->SetFlags(f, t, FMaskAll);
    }
  EXPECT_EQ(Rows(), (std::vector<double>{0, 10, 1, 11}));
  EXPECT_EQ(m->GetAllFlags(), std::vector<unsigned char>(4, FMaskAll));
}

TEST_F(FullyConnected, UnsupportedRequestsStop) {
  Build(2, 2);
  EXPECT_DEATH(m->PruneArc(0, 1), "Assertion failed: false, file");
  EXPECT_DEATH(m->SetUntrainable(0, 1), "Assertion failed: false, file");
  EXPECT_DEATH(m->SetFlags(0, 1, 0), "val==FMaskAll");
  GrowLayer(*net, 1, 0);
  EXPECT_DEATH(m->InsertFromNode(0, -1.0, 1.0, false), "Assertion failed: attached, file");
  EXPECT_DEATH(m->InsertToNode(0, -1.0, 1.0, false), "Assertion failed: attached, file");
}

// ---- resizing: called after the layer has changed its count ----

TEST_F(FullyConnected, RemovingNeuronsKeepsTheOtherArcs) {
  struct Case {
    const char* name;
    int layer, node;
    std::vector<double> rows;
  };
  // Before: from 3, to 2, w(f, t) = 10 f + t; rows {0, 10, 20}, {1, 11, 21}.
  const Case cases[] = {
      {"from 0", 1, 0, {10, 20, 11, 21}},
      {"from 1", 1, 1, {0, 20, 1, 21}},
      {"from 2", 1, 2, {0, 10, 1, 11}},
      {"to 0", 2, 0, {1, 11, 21}},
      {"to 1", 2, 1, {0, 10, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build(3, 2);
    FillTens();
    ShrinkLayer(*net, c.layer, c.node);
    if (c.layer == 1)
      m->RemoveFromNode(c.node);
    else
      m->RemoveToNode(c.node);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(m->GetNumWeights(FMaskAll), static_cast<int>(c.rows.size()));
  }
}

TEST_F(FullyConnected, InsertingAFromNeuronDrawsOneWeightPerToNeuron) {
  for (int node : {0, 1, 2}) {
    SCOPED_TRACE(node);
    Build(2, 3);
    FillTens();
    GrowLayer(*net, 1, node);
    const std::vector<int> seq = RandSequence(11, 4);
    std::srand(11);
    m->InsertFromNode(node, -1.0, 1.0, true);
    EXPECT_EQ(std::rand(), seq[3]);
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(m->GetWeight(node, t), WeightFromDraw(seq[static_cast<std::size_t>(t)], -1.0, 1.0));
      for (int f = 0; f < 2; ++f) EXPECT_EQ(m->GetWeight(f < node ? f : f + 1, t), 10 * f + t);
    }
  }
}

TEST_F(FullyConnected, InsertingAToNeuronAtTheEndAppendsADrawnRow) {
  Build(2, 3);
  FillTens();
  GrowLayer(*net, 2, 3);
  const std::vector<int> seq = RandSequence(12, 3);
  std::srand(12);
  m->InsertToNode(3, 0.25, 0.25, true);  // insertions draw even when the bounds are equal
  EXPECT_EQ(std::rand(), seq[2]);
  EXPECT_EQ(Rows(), (std::vector<double>{0, 10, 1, 11, 2, 12, 0.25, 0.25}));
}

TEST_F(FullyConnected, InsertingAToNeuronInTheMiddleShiftsRows) {
  Build(2, 3);
  FillTens();
  GrowLayer(*net, 2, 1);
  m->InsertToNode(1, 7.0, 7.0, true);
  EXPECT_EQ(Rows(), (std::vector<double>{0, 10, 7, 7, 1, 11, 2, 12}));
}

TEST_F(FullyConnected, MatrixOfALayerWithItselfFollowsBothInsertions) {
  net = MakeNetwork({1, 2});
  m = Install<TConnectedConnections>(*net, 1, 1);
  m->GetWeight(0, 0) = 1;
  m->GetWeight(1, 0) = 2;
  m->GetWeight(0, 1) = 3;
  m->GetWeight(1, 1) = 4;
  GrowLayer(*net, 1, 1);
  m->InsertFromNode(1, 9.0, 9.0, true);
  m->InsertToNode(1, 8.0, 8.0, true);
  EXPECT_EQ(m->GetNumWeights(FMaskAll), 9);
  const std::vector<double> rows = {1, 9, 2, 8, 8, 8, 3, 9, 4};
  std::vector<double> got;
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 3; ++f) got.push_back(m->GetWeight(f, t));
  EXPECT_EQ(got, rows);
}

TEST_F(FullyConnected, CountsFollowTheLayersBeforeAnyResize) {
  Build(2, 3);
  FillTens();
  GrowLayer(*net, 2, 3);
  EXPECT_EQ(m->GetNumWeights(FMaskAll), 8);
  Recorder rec;
  m->IterateFromNode(rec, 1, FMaskAll);
  ASSERT_EQ(rec.seen.size(), 4u);
  EXPECT_EQ(rec.seen[3], (Seen{1, 3, 0.0, true}));  // not stored yet: reads as 0.0
  std::vector<double> out(8, 5.0);
  EXPECT_EQ(m->GetWeights(out.data(), FMaskAll), 8);
  EXPECT_EQ(out, (std::vector<double>{0, 1, 2, 0, 10, 11, 12, 0}));
}

TEST_F(FullyConnected, CloneIsIndependentAndBelongsToItsOwner) {
  Build(2, 3);
  FillTens();
  auto other = MakeNetwork({1, 2, 3});
  std::unique_ptr<TBasicConnections> copy = m->Clone(other.get());
  EXPECT_STREQ(copy->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(copy->network, other.get());
  EXPECT_EQ(copy->fromLayer, 1);
  EXPECT_EQ(copy->toLayer, 2);
  m->GetWeight(1, 2) = -1.0;
  EXPECT_EQ(copy->GetWeight(1, 2), 12.0);
  copy->GetWeight(0, 0) = 50.0;
  EXPECT_EQ(m->GetWeight(0, 0), 0.0);
  auto* full = dynamic_cast<TConnectedConnections*>(copy.get());
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->GetRow(1)[1], 11.0);
  net.reset();  // the copy outlives its source
  EXPECT_EQ(copy->GetWeight(1, 1), 11.0);
}

TEST_F(FullyConnected, IterateTwoNetworksAtOnce) {
  Build(2, 3);
  FillTens();
  auto other = MakeNetwork({1, 2, 3});
  TConnectedConnections* m2 = Install<TConnectedConnections>(*other, 1, 2);
  class Sum : public TIterateObj2 {
   public:
    void Visit() override {
      *weight2 += *weight1;
      order.push_back(*weight1);
      all = all && trainable;
    }
    std::vector<double> order;
    bool all = true;
  } sum;
  m->Iterate2(sum, other.get(), FMaskExists);
  EXPECT_EQ(sum.order, (std::vector<double>{0, 10, 1, 11, 2, 12}));
  EXPECT_TRUE(sum.all);
  EXPECT_EQ(m2->GetWeight(1, 2), 12.0);
}

}  // namespace
}  // namespace kartlo
