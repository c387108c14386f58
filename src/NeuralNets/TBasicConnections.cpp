#include "NeuralNets/TBasicConnections.h"

#include <cstdlib>
#include <cstring>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

namespace {

constexpr long double kDrawScale = 1.0L / 32767.0L;

TBasicConnections* MatrixOf(TBasicNetwork* net, int fromLayer, int toLayer) {
  return net->priv_conns_index[toLayer][fromLayer].get();
}

bool SameClass(TBasicConnections* a, TBasicConnections* b) {
  return std::strcmp(a->GetConnectionsNType(), b->GetConnectionsNType()) == 0;
}

/// Layer objects and values of one network for a pair of layers.
struct LayerPair {
  TBasicLayer* from;
  TBasicLayer* to;
  double* fromValues;
  double* toValues;
};

LayerPair PairOf(TBasicNetwork* net, int fromLayer, int toLayer) {
  TBasicLayer* from = net->layers[fromLayer].get();
  TBasicLayer* to = net->layers[toLayer].get();
  return {from, to, from->values.data(), to->values.data()};
}

double* WeightIfAny(TBasicConnections* conn, int fromNode, int toNode) {
  return conn->IsConnected() ? &conn->GetWeight(fromNode, toNode) : nullptr;
}

}  // namespace

double WeightFromDraw(int r, double min, double max) {
  const unsigned k = static_cast<unsigned>(r) % 32767u;
  const long double lmin = min;
  const long double lmax = max;
  return static_cast<double>(lmin + static_cast<long double>(k) * kDrawScale * (lmax - lmin));
}

double DrawWeight(double min, double max) { return WeightFromDraw(std::rand(), min, max); }

// ---- visitors ----

TIterateObj::TIterateObj(TBasicNetwork* network, int fromLayer, int toLayer)
    : fromLayer(fromLayer), toLayer(toLayer) {
  const LayerPair p = PairOf(network, fromLayer, toLayer);
  conn = MatrixOf(network, fromLayer, toLayer);
  fromLayerPtr = p.from;
  toLayerPtr = p.to;
  fromValues = p.fromValues;
  toValues = p.toValues;
}

void TIterateObjAggregate::Visit() { sum += fromValues[fromNode] * *weight; }

void TIterateObjGetNumWeights::Visit() { count += 1; }

void TIterateObjGetWeights::Visit() {
  count += 1;
  *out = *weight;
  ++out;
}

void TIterateObjSetWeights::Visit() {
  count += 1;
  *weight = *in;
  ++in;
}

void TIterateObjRandomize::Visit() { *weight = (min == max) ? min : DrawWeight(min, max); }

void TIterateObjGetFlags::Visit() {
  flags[count] = conn->GetFlags(fromNode, toNode);
  count += 1;
}

void TIterateObjSetFlags::Visit() {
  conn->SetFlags(fromNode, toNode, flags[count]);
  count += 1;
}

void TIterateObjAllUntrainable::Visit() { conn->SetUntrainable(fromNode, toNode); }

void TIterateObjPruneNode::Visit() { count += 1; }

TIterateObj2::TIterateObj2(TBasicNetwork* first, TBasicNetwork* second, int fromLayer,
                           int toLayer, int fromNode, int toNode)
    : fromLayer(fromLayer), toLayer(toLayer), fromNode(fromNode), toNode(toNode) {
  conn1 = MatrixOf(first, fromLayer, toLayer);
  conn2 = MatrixOf(second, fromLayer, toLayer);
  KARTLO_ASSERT_TEXT(SameClass(conn1, conn2),
                     "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
  const LayerPair p1 = PairOf(first, fromLayer, toLayer);
  const LayerPair p2 = PairOf(second, fromLayer, toLayer);
  fromLayerPtr1 = p1.from;
  toLayerPtr1 = p1.to;
  fromValues1 = p1.fromValues;
  toValues1 = p1.toValues;
  fromLayerPtr2 = p2.from;
  toLayerPtr2 = p2.to;
  fromValues2 = p2.fromValues;
  toValues2 = p2.toValues;
  weight1 = WeightIfAny(conn1, fromNode, toNode);
  weight2 = WeightIfAny(conn2, fromNode, toNode);
  trainable = conn1->IsTrainable(fromNode, toNode);
}

TIterateObj3::TIterateObj3(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third,
                           int fromLayer, int toLayer, int fromNode, int toNode)
    : fromLayer(fromLayer), toLayer(toLayer), fromNode(fromNode), toNode(toNode) {
  conn1 = MatrixOf(first, fromLayer, toLayer);
  conn2 = MatrixOf(second, fromLayer, toLayer);
  conn3 = MatrixOf(third, fromLayer, toLayer);
  KARTLO_ASSERT_TEXT(SameClass(conn1, conn2),
                     "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
  KARTLO_ASSERT_TEXT(SameClass(conn1, conn3),
                     "conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType()");
  const LayerPair p1 = PairOf(first, fromLayer, toLayer);
  const LayerPair p2 = PairOf(second, fromLayer, toLayer);
  const LayerPair p3 = PairOf(third, fromLayer, toLayer);
  fromLayerPtr1 = p1.from;
  toLayerPtr1 = p1.to;
  fromValues1 = p1.fromValues;
  toValues1 = p1.toValues;
  fromLayerPtr2 = p2.from;
  toLayerPtr2 = p2.to;
  fromValues2 = p2.fromValues;
  toValues2 = p2.toValues;
  fromLayerPtr3 = p3.from;
  toLayerPtr3 = p3.to;
  fromValues3 = p3.fromValues;
  toValues3 = p3.toValues;
  weight1 = WeightIfAny(conn1, fromNode, toNode);
  weight2 = WeightIfAny(conn2, fromNode, toNode);
  weight3 = WeightIfAny(conn3, fromNode, toNode);
  trainable = conn1->IsTrainable(fromNode, toNode);
}

// ---- TBasicConnections defaults ----

TBasicConnections::TBasicConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : network(network), fromLayer(fromLayer), toLayer(toLayer) {}

TBasicConnections::~TBasicConnections() = default;

bool TBasicConnections::IsConnected() { return true; }

int TBasicConnections::GetNumWeights(int mask) {
  TIterateObjGetNumWeights visitor;
  Iterate(visitor, mask);
  return visitor.count;
}

int TBasicConnections::GetWeights(double* out, int mask) {
  TIterateObjGetWeights visitor(out);
  Iterate(visitor, mask);
  return visitor.count;
}

int TBasicConnections::SetWeights(const double* in, int mask) {
  TIterateObjSetWeights visitor(in);
  Iterate(visitor, mask);
  return visitor.count;
}

void TBasicConnections::Randomize(double min, double max) {
  TIterateObjRandomize visitor(min, max);
  Iterate(visitor, 0);
}

void TBasicConnections::Aggregate(double* values) {
  const int nTo = NumTo();
  TIterateObjAggregate visitor;
  for (int t = 0; t < nTo; ++t) {
    visitor.sum = 0.0;
    IterateToNode(visitor, t, FMaskExists);
    values[t] += visitor.sum;
  }
}

bool TBasicConnections::IsTrainable(int fromNode, int toNode) { return IsValid(fromNode, toNode); }

void TBasicConnections::PruneArc(int, int) { KARTLO_ASSERT(false); }

void TBasicConnections::AddArc(int, int) { KARTLO_ASSERT(false); }

void TBasicConnections::SetTrainable(int, int) { KARTLO_ASSERT(false); }

void TBasicConnections::SetUntrainable(int, int) { KARTLO_ASSERT(false); }

unsigned char TBasicConnections::GetFlags(int, int) { return FMaskAll; }

void TBasicConnections::SetFlags(int, int, unsigned char val) {
  KARTLO_ASSERT_TEXT(val == FMaskAll || val == FMaskExists, "(val==FMaskAll) || (val==FMaskExists)");
}

void TBasicConnections::InsertFromNode(int, double, double, bool) { KARTLO_ASSERT(false); }

void TBasicConnections::InsertToNode(int, double, double, bool) { KARTLO_ASSERT(false); }

std::vector<unsigned char> TBasicConnections::GetAllFlags() {
  std::vector<unsigned char> flags(static_cast<std::size_t>(GetNumWeights(FMaskExists)));
  TIterateObjGetFlags visitor(flags.data());
  Iterate(visitor, FMaskExists);
  return flags;
}

void TBasicConnections::SetAllFlags(const unsigned char* flags) {
  TIterateObjSetFlags visitor(flags);
  Iterate(visitor, FMaskExists);
}

void TBasicConnections::SetAllUntrainable() {
  TIterateObjAllUntrainable visitor;
  Iterate(visitor, FMaskExists);
}

int TBasicConnections::NumFrom() const { return network->layers[fromLayer]->numNeurons; }

int TBasicConnections::NumTo() const { return network->layers[toLayer]->numNeurons; }

void TBasicConnections::FillContext(TIterateObj& visitor) const {
  const LayerPair p = PairOf(network, fromLayer, toLayer);
  visitor.fromLayer = fromLayer;
  visitor.toLayer = toLayer;
  visitor.conn = MatrixOf(network, fromLayer, toLayer);
  visitor.fromLayerPtr = p.from;
  visitor.toLayerPtr = p.to;
  visitor.fromValues = p.fromValues;
  visitor.toValues = p.toValues;
}

void TBasicConnections::FillContext2(TIterateObj2& visitor, TBasicNetwork* second) const {
  visitor.fromLayer = fromLayer;
  visitor.toLayer = toLayer;
  visitor.conn1 = MatrixOf(network, fromLayer, toLayer);
  visitor.conn2 = MatrixOf(second, fromLayer, toLayer);
  KARTLO_ASSERT_TEXT(SameClass(visitor.conn1, visitor.conn2),
                     "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
  const LayerPair p1 = PairOf(network, fromLayer, toLayer);
  const LayerPair p2 = PairOf(second, fromLayer, toLayer);
  visitor.fromLayerPtr1 = p1.from;
  visitor.toLayerPtr1 = p1.to;
  visitor.fromValues1 = p1.fromValues;
  visitor.toValues1 = p1.toValues;
  visitor.fromLayerPtr2 = p2.from;
  visitor.toLayerPtr2 = p2.to;
  visitor.fromValues2 = p2.fromValues;
  visitor.toValues2 = p2.toValues;
}

void TBasicConnections::FillContext3(TIterateObj3& visitor, TBasicNetwork* second,
                                     TBasicNetwork* third) const {
  visitor.fromLayer = fromLayer;
  visitor.toLayer = toLayer;
  visitor.conn1 = MatrixOf(network, fromLayer, toLayer);
  visitor.conn2 = MatrixOf(second, fromLayer, toLayer);
  visitor.conn3 = MatrixOf(third, fromLayer, toLayer);
  KARTLO_ASSERT_TEXT(SameClass(visitor.conn1, visitor.conn2),
                     "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
  KARTLO_ASSERT_TEXT(SameClass(visitor.conn1, visitor.conn3),
                     "conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType()");
  const LayerPair p1 = PairOf(network, fromLayer, toLayer);
  const LayerPair p2 = PairOf(second, fromLayer, toLayer);
  const LayerPair p3 = PairOf(third, fromLayer, toLayer);
  visitor.fromLayerPtr1 = p1.from;
  visitor.toLayerPtr1 = p1.to;
  visitor.fromValues1 = p1.fromValues;
  visitor.toValues1 = p1.toValues;
  visitor.fromLayerPtr2 = p2.from;
  visitor.toLayerPtr2 = p2.to;
  visitor.fromValues2 = p2.fromValues;
  visitor.toValues2 = p2.toValues;
  visitor.fromLayerPtr3 = p3.from;
  visitor.toLayerPtr3 = p3.to;
  visitor.fromValues3 = p3.fromValues;
  visitor.toValues3 = p3.toValues;
}

// ---- TEmptyConnections ----

TEmptyConnections::TEmptyConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : TBasicConnections(network, fromLayer, toLayer) {}

bool TEmptyConnections::IsConnected() { return false; }

int TEmptyConnections::GetNumWeights(int) { return 0; }

int TEmptyConnections::GetWeights(double*, int) { return 0; }

int TEmptyConnections::SetWeights(const double*, int) { return 0; }

void TEmptyConnections::Randomize(double, double) {}

double& TEmptyConnections::GetWeight(int, int) {
  KARTLO_ASSERT(false);
}

void TEmptyConnections::Aggregate(double*) {}

bool TEmptyConnections::IsValid(int, int) { return false; }

void TEmptyConnections::IterateToNode(TIterateObj&, int, int) {}

void TEmptyConnections::IterateFromNode(TIterateObj&, int, int) {}

void TEmptyConnections::Iterate(TIterateObj&, int) {}

void TEmptyConnections::Iterate2(TIterateObj2&, TBasicNetwork*, int) {}

void TEmptyConnections::Iterate3(TIterateObj3&, TBasicNetwork*, TBasicNetwork*, int) {}

const char* TEmptyConnections::GetConnectionsNType() { return "Empty"; }

std::unique_ptr<TBasicConnections> TEmptyConnections::Clone(TBasicNetwork* owner) {
  return std::make_unique<TEmptyConnections>(owner, fromLayer, toLayer);
}

void TEmptyConnections::RemoveFromNode(int) {}

void TEmptyConnections::RemoveToNode(int) {}

void TEmptyConnections::InsertFromNode(int, double, double, bool) {}

void TEmptyConnections::InsertToNode(int, double, double, bool) {}

}  // namespace kartlo
