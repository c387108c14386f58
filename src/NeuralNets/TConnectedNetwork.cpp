#include "NeuralNets/TConnectedNetwork.h"

#include "NeuralNets/TArcsIterator.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"

namespace kartlo {

TConnectedNetwork::TConnectedNetwork() = default;

TConnectedNetwork::TConnectedNetwork(int n_layers) : TBasicNetwork(n_layers) {}

TConnectedNetwork::TConnectedNetwork(int n_layers, const int* sizes) : TBasicNetwork(n_layers) {
  for (int i = 0; i < numLayers; ++i) {
    auto& slot = layers[static_cast<size_t>(i)];
    if (i == inLayer) {
      slot = std::make_unique<TSimpleInputLayer>(this, i, sizes[i]);
    } else {
      slot = std::make_unique<TSimpleLayer>(this, i, sizes[i]);
    }
  }
}

void TConnectedNetwork::Connect(int fromLayer, int toLayer) {
  auto& entry = priv_conns_index[toLayer][fromLayer];
  if (entry->IsConnected()) return;
  entry = std::make_unique<TConnectedConnections>(this, fromLayer, toLayer);
}

const char* TConnectedNetwork::GetNetworkNType() const { return "Connected"; }

std::unique_ptr<TArcsIterator> TConnectedNetwork::NewInAllArcsIterator() {
  return std::make_unique<TConnInAllArcsIterator>(this);
}

}  // namespace kartlo
