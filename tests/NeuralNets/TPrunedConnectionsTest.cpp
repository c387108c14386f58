#include "NeuralNets/TPrunedConnections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "NeuralNets/MatrixTestNetwork.h"

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
class Pruneable : public ::testing::Test {
 protected:
  void Build(int nFrom, int nTo) {
    net = MakeNetwork({1, nFrom, nTo});
    m = Install<TPrunedConnections>(*net, 1, 2);
  }
  /// w(f, t) = 10 f + t + 1 (no zero weights, so that pruning shows).
  void FillWeights() {
    for (int t = 0; t < NumTo(); ++t)
      for (int f = 0; f < NumFrom(); ++f) m->GetWeight(f, t) = 10 * f + t + 1;
  }
  /// From 2, to 3, with arc (0, 1) pruned and arc (1, 2) made untrainable.
  void BuildEdited() {
    Build(2, 3);
    FillWeights();
    m->PruneArc(0, 1);
    m->SetUntrainable(1, 2);
  }
  int NumFrom() const { return net->layers[1]->numNeurons; }
  int NumTo() const { return net->layers[2]->numNeurons; }
  std::vector<double> Rows() {
    std::vector<double> out;
    for (int t = 0; t < NumTo(); ++t)
      for (int f = 0; f < NumFrom(); ++f) out.push_back(m->GetWeight(f, t));
    return out;
  }
  std::vector<int> Flags() {
    std::vector<int> out;
    for (int t = 0; t < NumTo(); ++t)
      for (int f = 0; f < NumFrom(); ++f) out.push_back(m->GetFlags(f, t));
    return out;
  }
  std::unique_ptr<TBasicNetwork> net;
  TPrunedConnections* m = nullptr;
};

TEST_F(Pruneable, NewMatrixIsComplete) {
  Build(2, 3);
  EXPECT_STREQ(m->GetConnectionsNType(), "Pruneable");
  EXPECT_TRUE(m->IsConnected());
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 6);
  EXPECT_EQ(m->GetNumWeights(FMaskAll), 6);
  EXPECT_EQ(Rows(), std::vector<double>(6, 0.0));
  EXPECT_EQ(Flags(), std::vector<int>(6, FMaskAll));
}

TEST_F(Pruneable, PrunedAndUntrainableArcs) {
  BuildEdited();
  struct Case {
    int from, to;
    int flags;
    bool valid, trainable;
    double weight;
  };
  const Case cases[] = {
      {0, 1, 0, false, false, 0.0},
      {1, 2, FMaskExists, true, false, 13.0},
      {1, 1, FMaskAll, true, true, 12.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.from << "->" << c.to);
    EXPECT_EQ(m->GetFlags(c.from, c.to), c.flags);
    EXPECT_EQ(m->IsValid(c.from, c.to), c.valid);
    EXPECT_EQ(m->IsTrainable(c.from, c.to), c.trainable);
    EXPECT_EQ(m->GetWeight(c.from, c.to), c.weight);
  }
  struct Count {
    int mask, count;
  };
  for (const Count& c : {Count{FMaskExists, 5}, Count{FMaskAll, 4}, Count{0, 4}, Count{FMaskTrainable, 4}}) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(m->GetNumWeights(c.mask), c.count);
  }
  std::vector<double> out(6, -5.0);
  EXPECT_EQ(m->GetWeights(out.data(), FMaskAll), 4);
  EXPECT_EQ(out, (std::vector<double>{1, 11, 12, 3, -5, -5}));
  EXPECT_EQ(m->GetWeights(out.data(), FMaskExists), 5);
  EXPECT_EQ(out, (std::vector<double>{1, 11, 12, 3, 13, -5}));
}

TEST_F(Pruneable, SetWeightsFillsSelectedArcsInIterateOrder) {
  BuildEdited();
  const double in[] = {-1, -2, -3, -4, -5};
  EXPECT_EQ(m->SetWeights(in, FMaskAll), 4);
  EXPECT_EQ(Rows(), (std::vector<double>{-1, -2, 0, -3, -4, 13}));
  EXPECT_EQ(m->SetWeights(in, FMaskExists), 5);
  EXPECT_EQ(Rows(), (std::vector<double>{-1, -2, 0, -3, -4, -5}));
}

TEST_F(Pruneable, AggregateUsesEveryExistingArc) {
  BuildEdited();
  net->layers[1]->values = {2.0, 0.5};
  std::vector<double> values = {100.0, 200.0, 300.0};
  m->Aggregate(values.data());
  // t0: 1*2 + 11*0.5; t1: only 12*0.5 (arc 0->1 pruned); t2: 3*2 + 13*0.5 (untrainable counts)
  EXPECT_EQ(values, (std::vector<double>{107.5, 206.0, 312.5}));
}

TEST_F(Pruneable, RandomizeSkipsFixedAndAbsentArcs) {
  BuildEdited();
  const std::vector<int> seq = RandSequence(21, 5);
  std::srand(21);
  m->Randomize(-1.0, 1.0);
  EXPECT_EQ(std::rand(), seq[4]);
  const std::vector<double> expected = {
      WeightFromDraw(seq[0], -1, 1), WeightFromDraw(seq[1], -1, 1), 0.0,
      WeightFromDraw(seq[2], -1, 1), WeightFromDraw(seq[3], -1, 1), 13.0};
  EXPECT_EQ(Rows(), expected);

  std::srand(21);
  m->Randomize(0.5, 0.5);
  EXPECT_EQ(std::rand(), seq[0]);
  EXPECT_EQ(Rows(), (std::vector<double>{0.5, 0.5, 0.0, 0.5, 0.5, 13.0}));
}

TEST_F(Pruneable, RandomizeFollowsTheTrainableBitAlone) {
  Build(1, 1);
  m->SetFlags(0, 0, FMaskTrainable);  // stored unchecked
  EXPECT_EQ(m->GetFlags(0, 0), FMaskTrainable);
  EXPECT_EQ(m->GetNumWeights(0), 0);
  m->Randomize(0.75, 0.75);
  EXPECT_EQ(m->GetWeight(0, 0), 0.75);
}

TEST_F(Pruneable, AddArcAndSetTrainable) {
  BuildEdited();
  m->SetTrainable(0, 1);
  EXPECT_EQ(m->GetFlags(0, 1), 0);  // an absent arc stays absent
  m->AddArc(1, 2);
  EXPECT_EQ(m->GetFlags(1, 2), FMaskExists);  // an existing arc stays as it is
  EXPECT_EQ(m->GetWeight(1, 2), 13.0);
  m->GetWeight(0, 1) = 4.0;
  m->AddArc(0, 1);
  EXPECT_EQ(m->GetFlags(0, 1), FMaskAll);
  EXPECT_EQ(m->GetWeight(0, 1), 0.0);
  m->SetTrainable(1, 2);
  EXPECT_EQ(m->GetFlags(1, 2), FMaskAll);
  m->SetUntrainable(0, 0);
  m->PruneArc(0, 0);
  m->SetUntrainable(0, 0);
  EXPECT_EQ(m->GetFlags(0, 0), 0);
}

TEST_F(Pruneable, IterationsVisitSelectedArcsInOrder) {
  BuildEdited();
  Recorder all;
  m->Iterate(all, FMaskExists);
  const std::vector<Seen> expected = {{0, 0, 1, true},   {1, 0, 11, true}, {1, 1, 12, true},
                                      {0, 2, 3, true},   {1, 2, 13, false}};
  EXPECT_EQ(all.seen, expected);
  Recorder into;
  m->IterateToNode(into, 2, FMaskAll);
  EXPECT_EQ(into.seen, (std::vector<Seen>{{0, 2, 3, true}}));
  Recorder outOf;
  m->IterateFromNode(outOf, 1, FMaskExists);
  EXPECT_EQ(outOf.seen, (std::vector<Seen>{{1, 0, 11, true}, {1, 1, 12, true}, {1, 2, 13, false}}));
  Recorder outOfTrainable;
  m->IterateFromNode(outOfTrainable, 0, 0);
  EXPECT_EQ(outOfTrainable.seen, (std::vector<Seen>{{0, 0, 1, true}, {0, 2, 3, true}}));
}

TEST_F(Pruneable, AllFlagsRoundTripOverExistingArcs) {
  BuildEdited();
  EXPECT_EQ(m->GetAllFlags(), (std::vector<unsigned char>{3, 3, 3, 3, 1}));
  const unsigned char flags[] = {1, 3, 1, 3, 3};
  m->SetAllFlags(flags);
  EXPECT_EQ(Flags(), (std::vector<int>{1, 3, 0, 1, 3, 3}));
  m->SetAllUntrainable();
  EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 0, 1, 1, 1}));
  EXPECT_EQ(m->GetNumWeights(FMaskAll), 0);
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 2; ++f) m->PruneArc(f, t);
  EXPECT_TRUE(m->GetAllFlags().empty());
}

// ---- resizing: called after the layer has changed its count ----

TEST_F(Pruneable, RemovingNeuronsMovesWeightsAndFlagsTogether) {
  struct Case {
    const char* name;
    int layer, node;
    std::vector<double> rows;
    std::vector<int> flags;
  };
  // Before (edited, from 2, to 3): rows {1, 11}, {0, 12}, {3, 13}; flags {3, 3}, {0, 3}, {3, 1}.
  const Case cases[] = {
      {"from 0", 1, 0, {11, 12, 13}, {3, 3, 1}},
      {"from 1", 1, 1, {1, 0, 3}, {3, 0, 3}},
      {"to 0", 2, 0, {0, 12, 3, 13}, {0, 3, 3, 1}},
      {"to 1", 2, 1, {1, 11, 3, 13}, {3, 3, 3, 1}},
      {"to 2", 2, 2, {1, 11, 0, 12}, {3, 3, 0, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildEdited();
    ShrinkLayer(*net, c.layer, c.node);
    if (c.layer == 1)
      m->RemoveFromNode(c.node);
    else
      m->RemoveToNode(c.node);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(Flags(), c.flags);
  }
}

TEST_F(Pruneable, DetachedInsertionsAddAbsentArcsWithoutDrawing) {
  struct Case {
    const char* name;
    int layer, node;
    std::vector<double> rows;
    std::vector<int> flags;
  };
  const Case cases[] = {
      {"from 1", 1, 1, {1, 0, 11, 0, 0, 12, 3, 0, 13}, {3, 0, 3, 0, 0, 3, 3, 0, 1}},
      {"to 0", 2, 0, {0, 0, 1, 11, 0, 12, 3, 13}, {0, 0, 3, 3, 0, 3, 3, 1}},
      {"to 3", 2, 3, {1, 11, 0, 12, 3, 13, 0, 0}, {3, 3, 0, 3, 3, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildEdited();
    GrowLayer(*net, c.layer, c.node);
    const std::vector<int> seq = RandSequence(3, 1);
    std::srand(3);
    if (c.layer == 1)
      m->InsertFromNode(c.node, -1.0, 1.0, false);
    else
      m->InsertToNode(c.node, -1.0, 1.0, false);
    EXPECT_EQ(std::rand(), seq[0]);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(Flags(), c.flags);
  }
}

TEST_F(Pruneable, AttachedInsertionsDrawInOrder) {
  BuildEdited();
  GrowLayer(*net, 1, 0);
  const std::vector<int> seq = RandSequence(8, 4);
  std::srand(8);
  m->InsertFromNode(0, -1.0, 1.0, true);
  EXPECT_EQ(std::rand(), seq[3]);
  for (int t = 0; t < 3; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(m->GetWeight(0, t), WeightFromDraw(seq[static_cast<std::size_t>(t)], -1.0, 1.0));
    EXPECT_EQ(m->GetFlags(0, t), FMaskAll);
    EXPECT_GE(m->GetWeight(0, t), -1.0);
    EXPECT_LT(m->GetWeight(0, t), 1.0);
  }
  EXPECT_EQ(m->GetFlags(1, 1), 0);  // old from-neuron 0 moved up with its flags
  EXPECT_EQ(m->GetFlags(2, 2), FMaskExists);

  GrowLayer(*net, 2, 1);
  std::srand(8);
  m->InsertToNode(1, 0.5, 0.5, true);  // draws even with equal bounds
  EXPECT_EQ(std::rand(), seq[3]);
  EXPECT_EQ(m->GetFlags(2, 1), FMaskAll);
  EXPECT_EQ(m->GetWeight(2, 1), 0.5);
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 11);
}

TEST_F(Pruneable, CloneCopiesWeightsAndFlagsIndependently) {
  BuildEdited();
  auto other = MakeNetwork({1, 2, 3});
  std::unique_ptr<TBasicConnections> copy = m->Clone(other.get());
  EXPECT_STREQ(copy->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(copy->network, other.get());
  EXPECT_EQ(copy->fromLayer, 1);
  EXPECT_EQ(copy->toLayer, 2);
  m->AddArc(0, 1);
  m->GetWeight(1, 0) = -3.0;
  EXPECT_EQ(copy->GetFlags(0, 1), 0);
  EXPECT_EQ(copy->GetFlags(1, 2), FMaskExists);
  EXPECT_EQ(copy->GetWeight(1, 0), 11.0);
  copy->PruneArc(0, 0);
  EXPECT_TRUE(m->IsValid(0, 0));
  net.reset();
  other->priv_conns_index[2][1] = std::move(copy);
  EXPECT_EQ(other->priv_conns_index[2][1]->GetNumWeights(FMaskExists), 4);
}

TEST_F(Pruneable, ArcsTheBlockDoesNotHoldYetCountAsAbsent) {
  BuildEdited();
  GrowLayer(*net, 1, 2);
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 5);
  EXPECT_FALSE(m->IsValid(2, 0));
  EXPECT_EQ(m->GetWeight(2, 0), 0.0);
  m->AddArc(2, 0);
  EXPECT_EQ(m->GetFlags(2, 0), 0);
  m->InsertFromNode(2, -1.0, 1.0, false);
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 5);
  m->AddArc(2, 0);
  EXPECT_EQ(m->GetNumWeights(FMaskExists), 6);
}

}  // namespace
}  // namespace kartlo
