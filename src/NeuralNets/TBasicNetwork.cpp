#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>

#include "KQmessage/Assert.h"
#include "NeuralNets/TArcsIterator.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {

namespace {

/// A registry holding the ten standard functions.
std::unique_ptr<TFnRegistry> NewDefaultRegistry() {
  auto registry = std::make_unique<TFnRegistry>();
  registry->RegisterDefaults();
  return registry;
}

}  // namespace

TBasicNetwork::TBasicNetwork() = default;

TBasicNetwork::TBasicNetwork(int n_layers) { Allocate(n_layers); }

TBasicNetwork::TBasicNetwork(const TBasicNetwork& x) { CopyFrom(x); }

TBasicNetwork& TBasicNetwork::operator=(const TBasicNetwork& x) {
  if (&x == this) return *this;
  Release();
  CopyFrom(x);
  return *this;
}

TBasicNetwork::~TBasicNetwork() { Release(); }

void TBasicNetwork::Release() {
  // Matrices first: a matrix never outlives the layers whose counts it reads.
  priv_conns_index.clear();
  priv_conns.clear();
  layers.clear();
  registry.reset();
}

void TBasicNetwork::BuildIndex() {
  priv_conns_index.assign(static_cast<size_t>(numLayers), nullptr);
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[static_cast<size_t>(i)] = priv_conns.data() + static_cast<size_t>(i) * static_cast<size_t>(numLayers);
  }
}

void TBasicNetwork::Allocate(int n_layers) {
  Release();
  const int n = std::max(n_layers, 0);
  numLayers = n;
  inLayer = 1;
  outLayer = n - 1;
  priv_conns.clear();
  priv_conns.resize(static_cast<size_t>(n) * static_cast<size_t>(n));
  layers.clear();
  layers.resize(static_cast<size_t>(n));
  BuildIndex();
  const int n_layers_ = n;
  for (int to = 0; to < n; ++to) {
    for (int from = 0; from < n; ++from) {
      auto& entry = priv_conns[static_cast<size_t>(to * n_layers_ + from)];
      entry = std::make_unique<TEmptyConnections>(this, from, to);
      KARTLO_ASSERT_TEXT(entry != nullptr, "priv_conns[to*n_layers+from] != NULL");
    }
  }
  registry = NewDefaultRegistry();
}

void TBasicNetwork::CopyFrom(const TBasicNetwork& x) {
  numLayers = x.numLayers;
  inLayer = x.inLayer;
  outLayer = x.outLayer;
  const size_t n = static_cast<size_t>(std::max(numLayers, 0));
  layers.clear();
  layers.resize(n);
  for (size_t i = 0; i < n; ++i) {
    KARTLO_ASSERT_TEXT(x.layers[i] != nullptr, "x.layers[i] != NULL");
    layers[i] = x.layers[i]->Clone(this);
  }
  priv_conns.clear();
  priv_conns.resize(n * n);
  for (size_t i = 0; i < n * n; ++i) {
    KARTLO_ASSERT_TEXT(x.priv_conns[i] != nullptr, "x.priv_conns[i] != NULL");
    priv_conns[i] = x.priv_conns[i]->Clone(this);
  }
  BuildIndex();
  registry = NewDefaultRegistry();
}

int TBasicNetwork::GetNumNeurons() const {
  int total = 0;
  for (const auto& layer : layers) {
    if (layer != nullptr) total += layer->numNeurons;
  }
  return total;
}

TBasicNeuron* TBasicNetwork::GetNeuron(int index) {
  KARTLO_ASSERT_TEXT(index >= 0, "index>=0");
  KARTLO_ASSERT_TEXT(index < GetNumNeurons(), "index<GetNumNeurons()");
  size_t layer = 0;
  // Unfilled slots count as layers without neurons, as in GetNumNeurons.
  while (layers[layer] == nullptr || index >= layers[layer]->numNeurons) {
    if (layers[layer] != nullptr) index -= layers[layer]->numNeurons;
    ++layer;
  }
  return layers[layer]->GetNeuron(index);
}

int TBasicNetwork::GetNumWeights(int mask) {
  int total = 0;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) total += priv_conns_index[to][from]->GetNumWeights(mask);
  }
  return total;
}

int TBasicNetwork::GetWeights(double* out, int mask) {
  int total = 0;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) total += priv_conns_index[to][from]->GetWeights(out + total, mask);
  }
  return total;
}

int TBasicNetwork::SetWeights(const double* in, int mask) {
  int total = 0;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) total += priv_conns_index[to][from]->SetWeights(in + total, mask);
  }
  return total;
}

void TBasicNetwork::Randomize(double min, double max) {
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) priv_conns_index[to][from]->Randomize(min, max);
  }
}

void TBasicNetwork::Connect(int fromLayer, int toLayer) {
  auto& entry = priv_conns_index[toLayer][fromLayer];
  if (entry->IsConnected()) return;
  entry = std::make_unique<TPrunedConnections>(this, fromLayer, toLayer);
}

void TBasicNetwork::Disconnect(int fromLayer, int toLayer) {
  auto& entry = priv_conns_index[toLayer][fromLayer];
  entry = std::make_unique<TEmptyConnections>(this, fromLayer, toLayer);
  KARTLO_ASSERT_TEXT(entry != nullptr, "priv_conns_index[toLayer][fromLayer] != NULL");
}

int TBasicNetwork::Recall(const double* input, double* output) {
  for (int i = 0; i < numLayers; ++i) layers[static_cast<size_t>(i)]->Propagate(input);
  if (outLayer < 0 || outLayer >= numLayers) return 0;  // no output layer set yet
  const TBasicLayer& out = *layers[static_cast<size_t>(outLayer)];
  const int k = out.numNeurons;
  std::copy(out.values.begin(), out.values.begin() + k, output);
  return k;
}

const char* TBasicNetwork::GetNetworkNType() const { return "Basic"; }

std::unique_ptr<TArcsIterator> TBasicNetwork::NewInAllArcsIterator() {
  KARTLO_ASSERT(false);
  return nullptr;
}

}  // namespace kartlo
