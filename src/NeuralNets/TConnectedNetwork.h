#pragma once

#include <memory>

#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

/// A network whose joined layer pairs are fully connected (type "Connected").
class TConnectedNetwork : public TBasicNetwork {
 public:
  /// Nothing allocated; a derived constructor calls Allocate.
  TConnectedNetwork();
  /// Layer slots only; the caller places every layer.
  explicit TConnectedNetwork(int n_layers);
  /// Layers of sizes[i] neurons: a TSimpleInputLayer at inLayer, TSimpleLayers elsewhere; nothing joined.
  TConnectedNetwork(int n_layers, const int* sizes);
  TConnectedNetwork(const TConnectedNetwork& x) = default;
  TConnectedNetwork& operator=(const TConnectedNetwork& x) = default;

  /// Joins the pair with a fully connected matrix unless it is joined already.
  void Connect(int fromLayer, int toLayer) override;
  const char* GetNetworkNType() const override;
  /// A new TConnInAllArcsIterator over this network; Init must follow.
  std::unique_ptr<TArcsIterator> NewInAllArcsIterator() override;
};

}  // namespace kartlo
