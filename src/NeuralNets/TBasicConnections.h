#pragma once

#include <memory>
#include <vector>

namespace kartlo {

class TBasicNetwork;
class TBasicLayer;
class TBasicConnections;

/// Arc flag bits: the arc exists.
inline constexpr int FMaskExists = 1;
/// Arc flag bits: the arc's weight may be changed by training and randomising.
inline constexpr int FMaskTrainable = 2;
/// Arc flag bits: exists and trainable.
inline constexpr int FMaskAll = 3;

/// True when an arc with flag byte `flags` is selected by `mask`:
/// mask 1 selects every existing arc, any other mask existing and trainable arcs.
inline bool MaskSelects(int mask, unsigned char flags) {
  if (mask == FMaskExists) return (flags & FMaskExists) != 0;
  return (flags & FMaskAll) == FMaskAll;
}

/// The weight for a raw generator value r: min + (r mod 32767) / 32767 * (max - min),
/// evaluated in long double and rounded once to double; lies in [min, max).
double WeightFromDraw(int r, double min, double max);

/// One call of rand() turned into a weight by WeightFromDraw; the generator is never seeded here.
double DrawWeight(double min, double max);

/// Visitor over the arcs of one matrix; the matrix fills the context before each Visit().
class TIterateObj {
 public:
  TIterateObj() = default;
  /// Fills layer numbers, layer objects, their values and `conn` from `network`.
  TIterateObj(TBasicNetwork* network, int fromLayer, int toLayer);
  virtual ~TIterateObj() = default;
  virtual void Visit() {}

  int fromLayer = 0;
  int toLayer = 0;
  int fromNode = 0;
  int toNode = 0;
  /// The matrix the network holds for the pair, i.e. the one being iterated.
  TBasicConnections* conn = nullptr;
  /// The visited arc's stored weight; a visitor may write through it.
  double* weight = nullptr;
  bool trainable = false;
  TBasicLayer* fromLayerPtr = nullptr;
  TBasicLayer* toLayerPtr = nullptr;
  double* fromValues = nullptr;
  double* toValues = nullptr;
};

/// Adds from-value times weight of every visited arc to `sum`.
class TIterateObjAggregate : public TIterateObj {
 public:
  void Visit() override;
  double sum = 0.0;
};

/// Counts the visited arcs.
class TIterateObjGetNumWeights : public TIterateObj {
 public:
  void Visit() override;
  int count = 0;
};

/// Copies the visited weights to consecutive entries of `out`.
class TIterateObjGetWeights : public TIterateObj {
 public:
  explicit TIterateObjGetWeights(double* out) : out(out) {}
  void Visit() override;
  int count = 0;
  double* out;
};

/// Stores consecutive entries of `in` as the visited weights.
class TIterateObjSetWeights : public TIterateObj {
 public:
  explicit TIterateObjSetWeights(const double* in) : in(in) {}
  void Visit() override;
  int count = 0;
  const double* in;
};

/// Gives every visited weight a draw in [min, max), or min itself without drawing when min == max.
class TIterateObjRandomize : public TIterateObj {
 public:
  TIterateObjRandomize(double min, double max) : min(min), max(max) {}
  void Visit() override;
  double min;
  double max;
};

/// Collects the visited arcs' flag bytes into `flags`.
class TIterateObjGetFlags : public TIterateObj {
 public:
  explicit TIterateObjGetFlags(unsigned char* flags) : flags(flags) {}
  void Visit() override;
  int count = 0;
  unsigned char* flags;
};

/// Hands consecutive bytes of `flags` to the visited arcs.
class TIterateObjSetFlags : public TIterateObj {
 public:
  explicit TIterateObjSetFlags(const unsigned char* flags) : flags(flags) {}
  void Visit() override;
  int count = 0;
  const unsigned char* flags;
};

/// Makes every visited arc untrainable.
class TIterateObjAllUntrainable : public TIterateObj {
 public:
  void Visit() override;
};

/// Counts the visited arcs out of a neuron (a neuron with none is dead).
class TIterateObjPruneNode : public TIterateObj {
 public:
  void Visit() override;
  int count = 0;
};

/// Visitor over the same arc of two networks of identical shape.
class TIterateObj2 {
 public:
  TIterateObj2() = default;
  /// Fills the whole context for the arc fromNode -> toNode of both networks.
  TIterateObj2(TBasicNetwork* first, TBasicNetwork* second, int fromLayer, int toLayer,
               int fromNode, int toNode);
  virtual ~TIterateObj2() = default;
  virtual void Visit() {}

  int fromLayer = 0;
  int toLayer = 0;
  int fromNode = 0;
  int toNode = 0;
  TBasicConnections* conn1 = nullptr;
  TBasicConnections* conn2 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  /// Trainability of the first network's arc.
  bool trainable = false;
  TBasicLayer* fromLayerPtr1 = nullptr;
  TBasicLayer* toLayerPtr1 = nullptr;
  double* fromValues1 = nullptr;
  double* toValues1 = nullptr;
  TBasicLayer* fromLayerPtr2 = nullptr;
  TBasicLayer* toLayerPtr2 = nullptr;
  double* fromValues2 = nullptr;
  double* toValues2 = nullptr;
};

/// Visitor over the same arc of three networks of identical shape.
class TIterateObj3 {
 public:
  TIterateObj3() = default;
  /// Fills the whole context for the arc fromNode -> toNode of the three networks.
  TIterateObj3(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third, int fromLayer,
               int toLayer, int fromNode, int toNode);
  virtual ~TIterateObj3() = default;
  virtual void Visit() {}

  int fromLayer = 0;
  int toLayer = 0;
  int fromNode = 0;
  int toNode = 0;
  TBasicConnections* conn1 = nullptr;
  TBasicConnections* conn2 = nullptr;
  TBasicConnections* conn3 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  double* weight3 = nullptr;
  /// Trainability of the first network's arc.
  bool trainable = false;
  TBasicLayer* fromLayerPtr1 = nullptr;
  TBasicLayer* toLayerPtr1 = nullptr;
  double* fromValues1 = nullptr;
  double* toValues1 = nullptr;
  TBasicLayer* fromLayerPtr2 = nullptr;
  TBasicLayer* toLayerPtr2 = nullptr;
  double* fromValues2 = nullptr;
  double* toValues2 = nullptr;
  TBasicLayer* fromLayerPtr3 = nullptr;
  TBasicLayer* toLayerPtr3 = nullptr;
  double* fromValues3 = nullptr;
  double* toValues3 = nullptr;
};

/// The weighted arcs from the neurons of one layer to those of another layer of one network.
/// Neuron counts are never stored as such: each operation reads the two layers' current counts.
class TBasicConnections {
 public:
  TBasicConnections(TBasicNetwork* network, int fromLayer, int toLayer);
  virtual ~TBasicConnections();
  TBasicConnections(const TBasicConnections&) = delete;
  TBasicConnections& operator=(const TBasicConnections&) = delete;

  /// False only for the matrix standing for an unjoined pair of layers.
  virtual bool IsConnected();
  virtual int GetNumWeights(int mask);
  /// Writes the selected weights to `out` in this class's weight order; returns how many.
  virtual int GetWeights(double* out, int mask);
  /// Reads what GetWeights would write, in the same order; returns how many.
  virtual int SetWeights(const double* in, int mask);
  /// Fresh weight draws for every existing trainable arc.
  virtual void Randomize(double min, double max);
  virtual double& GetWeight(int fromNode, int toNode) = 0;
  /// values[t] += sum over existing arcs (f, t) of weight * from-layer value f.
  virtual void Aggregate(double* values);
  virtual bool IsValid(int fromNode, int toNode) = 0;
  virtual bool IsTrainable(int fromNode, int toNode);
  virtual void PruneArc(int fromNode, int toNode);
  virtual void AddArc(int fromNode, int toNode);
  virtual void SetTrainable(int fromNode, int toNode);
  virtual void SetUntrainable(int fromNode, int toNode);
  /// Visits the selected arcs into `toNode`, from-neuron ascending.
  virtual void IterateToNode(TIterateObj& visitor, int toNode, int mask) = 0;
  /// Visits the selected arcs out of `fromNode`, to-neuron ascending.
  virtual void IterateFromNode(TIterateObj& visitor, int fromNode, int mask) = 0;
  /// Visits all selected arcs, to-neuron in the outer loop, from-neuron in the inner.
  virtual void Iterate(TIterateObj& visitor, int mask) = 0;
  virtual void Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int mask) = 0;
  virtual void Iterate3(TIterateObj3& visitor, TBasicNetwork* second, TBasicNetwork* third,
                        int mask) = 0;
  virtual const char* GetConnectionsNType() = 0;
  virtual unsigned char GetFlags(int fromNode, int toNode);
  virtual void SetFlags(int fromNode, int toNode, unsigned char val);
  /// A new matrix of the same class, pair of layers, weights and flags, belonging to `owner`.
  virtual std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* owner) = 0;
  /// Called after the from-layer lost neuron `node`.
  virtual void RemoveFromNode(int node) = 0;
  /// Called after the to-layer lost neuron `node`.
  virtual void RemoveToNode(int node) = 0;
  /// Called after the from-layer gained neuron `node`.
  virtual void InsertFromNode(int node, double min, double max, bool attached);
  /// Called after the to-layer gained neuron `node`.
  virtual void InsertToNode(int node, double min, double max, bool attached);

  /// The flag bytes of all existing arcs in Iterate order.
  std::vector<unsigned char> GetAllFlags();
  /// Hands the existing arcs consecutive bytes of `flags` in Iterate order.
  void SetAllFlags(const unsigned char* flags);
  void SetAllUntrainable();

  TBasicNetwork* network;
  int fromLayer;
  int toLayer;

 protected:
  /// Current neuron count of the from-layer.
  int NumFrom() const;
  /// Current neuron count of the to-layer.
  int NumTo() const;
  /// Fills the per-call context of `visitor` from the network's layers and matrix table.
  void FillContext(TIterateObj& visitor) const;
  /// Fills the per-call context of `visitor` from this network and `second`; checks the classes match.
  void FillContext2(TIterateObj2& visitor, TBasicNetwork* second) const;
  void FillContext3(TIterateObj3& visitor, TBasicNetwork* second, TBasicNetwork* third) const;
};

/// The matrix of a pair of layers that is not joined: no arcs, no data.
class TEmptyConnections : public virtual TBasicConnections {
 public:
  TEmptyConnections(TBasicNetwork* network, int fromLayer, int toLayer);

  bool IsConnected() override;
  int GetNumWeights(int mask) override;
  int GetWeights(double* out, int mask) override;
  int SetWeights(const double* in, int mask) override;
  void Randomize(double min, double max) override;
  /// There is no weight: asking for one is a programming error.
  double& GetWeight(int fromNode, int toNode) override;
  void Aggregate(double* values) override;
  bool IsValid(int fromNode, int toNode) override;
  void IterateToNode(TIterateObj& visitor, int toNode, int mask) override;
  void IterateFromNode(TIterateObj& visitor, int fromNode, int mask) override;
  void Iterate(TIterateObj& visitor, int mask) override;
  void Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int mask) override;
  void Iterate3(TIterateObj3& visitor, TBasicNetwork* second, TBasicNetwork* third,
                int mask) override;
  const char* GetConnectionsNType() override;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* owner) override;
  void RemoveFromNode(int node) override;
  void RemoveToNode(int node) override;
  void InsertFromNode(int node, double min, double max, bool attached) override;
  void InsertToNode(int node, double min, double max, bool attached) override;
};

}  // namespace kartlo
