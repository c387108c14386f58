#pragma once

namespace kartlo {

class TBasicNetwork;
class TBasicNeuron;
class TBasicConnections;

/// Walks the arcs that end in one neuron, with the neurons at both ends and
/// the address of each arc's weight. Call Init, then Next; read the accessors
/// after each Next or Prev that returned true. Any structural change of the
/// network invalidates the iterator until the next Init.
class TArcsIterator {
 public:
  explicit TArcsIterator(TBasicNetwork* network) : network(network) {}
  TArcsIterator(const TArcsIterator&) = delete;
  TArcsIterator& operator=(const TArcsIterator&) = delete;
  virtual ~TArcsIterator();

  virtual int GetFromLayer() = 0;
  virtual int GetToLayer() = 0;
  virtual int GetFromNode() = 0;
  virtual int GetToNode() = 0;
  virtual TBasicNeuron* GetToNeuron() = 0;
  /// The from-neuron of the current arc; nullptr when there is no current arc.
  virtual TBasicNeuron* GetFromNeuron() = 0;
  /// The current arc's weight inside its matrix; nullptr when there is no current arc.
  virtual double* GetWeight() = 0;
  /// Whether the iterator has a current matrix.
  virtual bool IsValid() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;

  /// The network walked (not owned).
  TBasicNetwork* network;
};

/// Iterates the arcs into one neuron from every from-layer.
class TInAllArcsIterator : public TArcsIterator {
 public:
  using TArcsIterator::TArcsIterator;
  virtual void Init(int toLayer, int toNode);
  /// Init(to.layerNum, to.index).
  void Init(const TBasicNeuron& to);
};

/// Iterates the arcs into one neuron from one from-layer.
class TInLayerArcsIterator : public TArcsIterator {
 public:
  using TArcsIterator::TArcsIterator;
  virtual void Init(int toLayer, int toNode, int fromLayer);
  /// Init(to.layerNum, to.index, 0).
  void Init(const TBasicNeuron& to);
};

/// All arcs into one neuron, from-layer by from-layer in increasing number over
/// every joined pair, positions ascending within a layer. Arcs absent from a
/// pruneable matrix are passed over. Next after the last arc returns false and
/// keeps returning false; Prev from there returns the last arc again (and
/// symmetrically at the front).
class TConnInAllArcsIterator : public TInAllArcsIterator {
 public:
  explicit TConnInAllArcsIterator(TBasicNetwork* network);
  using TInAllArcsIterator::Init;
  void Init(int toLayer, int toNode) override;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNode() override { return fromNode; }
  int GetToNode() override { return toNode; }
  TBasicNeuron* GetToNeuron() override { return toNeuron; }
  TBasicNeuron* GetFromNeuron() override;
  double* GetWeight() override { return weight; }
  bool IsValid() override { return matrix != nullptr; }
  bool Next() override;
  bool Prev() override;

 private:
  enum class Edge { None, BeforeFirst, AfterLast };
  /// First existing arc at position >= from (or <= from when backwards) in the current matrix.
  bool Settle(int from, int step);
  bool SeekLayer(int firstLayer, int step);

  int toLayer = -1;
  int toNode = -1;
  int fromLayer = -1;
  int fromNode = -1;
  int lastNode = -1;
  TBasicNeuron* toNeuron = nullptr;
  TBasicConnections* matrix = nullptr;
  /// Row toNode of a fully connected matrix, else nullptr (arcs then go through GetWeight).
  double* row = nullptr;
  double* weight = nullptr;
  Edge edge = Edge::BeforeFirst;
};

/// The arcs into one neuron from one given from-layer, positions ascending.
/// An unjoined pair yields nothing (IsValid false); absent arcs of a pruneable
/// matrix are passed over. Next at the last arc and Prev at the first return
/// false and stay where they are.
class TConnInLayerArcsIterator : public TInLayerArcsIterator {
 public:
  explicit TConnInLayerArcsIterator(TBasicNetwork* network);
  using TInLayerArcsIterator::Init;
  void Init(int toLayer, int toNode, int fromLayer) override;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNode() override { return fromNode; }
  int GetToNode() override { return toNode; }
  TBasicNeuron* GetToNeuron() override { return toNeuron; }
  TBasicNeuron* GetFromNeuron() override;
  double* GetWeight() override { return weight; }
  bool IsValid() override { return matrix != nullptr; }
  bool Next() override;
  bool Prev() override;

 private:
  bool MoveTo(int step);

  int toLayer = -1;
  int toNode = -1;
  int fromLayer = -1;
  int fromNode = -1;
  int lastNode = -1;
  TBasicNeuron* toNeuron = nullptr;
  TBasicConnections* matrix = nullptr;
  double* row = nullptr;
  double* weight = nullptr;
};

}  // namespace kartlo
