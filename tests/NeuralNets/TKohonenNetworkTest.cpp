#include "NeuralNets/TKohonenNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

using Rows = std::vector<std::vector<double>>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

/// A map whose node i has the weight vector nodes[i].
std::unique_ptr<TKohonenNetwork> MakeMap(int inputs, const std::vector<int>& sizes,
                                         const Rows& nodes = {}) {
  auto map = std::make_unique<TKohonenNetwork>(inputs, static_cast<int>(sizes.size()),
                                               sizes.empty() ? nullptr : sizes.data());
  TBasicConnections& matrix = *map->priv_conns_index[2][1];
  for (std::size_t i = 0; i < nodes.size(); ++i)
    for (std::size_t j = 0; j < nodes[i].size(); ++j)
      matrix.GetWeight(static_cast<int>(j), static_cast<int>(i)) = nodes[i][j];
  return map;
}

/// A data set holding `rows` as inputs, row r labelled labels[r] (value 1) when given.
std::unique_ptr<Data> MakeData(const Rows& rows, int inputs,
                               const std::vector<std::string>* labels = nullptr,
                               int outputs = 0) {
  auto data = std::make_unique<Data>(static_cast<int>(rows.size()), inputs, outputs,
                                     labels != nullptr);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (labels != nullptr) {
      const TLabelList list((*labels)[r].c_str(), 1.0);
      data->AddRow(rows[r].data(), nullptr, &list);
    } else {
      data->AddRow(rows[r].data(), nullptr, nullptr);
    }
  }
  return data;
}

Rows InputsOf(const Data& data) {
  Rows rows(static_cast<std::size_t>(data.MbrNdxRows));
  for (int r = 0; r < data.MbrNdxRows; ++r)
    for (int c = 0; c < data.MbrLngInputs; ++c) rows[r].push_back(data.GetInputDatum(r, c));
  return rows;
}

Rows OutputsOf(const Data& data) {
  Rows rows(static_cast<std::size_t>(data.MbrNdxRows));
  for (int r = 0; r < data.MbrNdxRows; ++r)
    for (int c = 0; c < data.MbrLngOutputs; ++c) rows[r].push_back(data.GetOutputDatum(r, c));
  return rows;
}

/// "text=value" entries of a label list in order.
std::vector<std::string> LabelsOf(const TLabelList* list) {
  std::vector<std::string> out;
  if (list == nullptr) return out;
  for (const TLabel& label : list->labels)
    out.push_back(label.text + "=" + std::to_string(static_cast<int>(label.value)));
  return out;
}

/// Runs `action` and checks that it throws the operation's "Bad Parameter" TException.
void ExpectRefusal(const std::function<void()>& action, const std::string& text,
                   const std::string& origin) {
  try {
    action();
    ADD_FAILURE() << "no exception; expected \"" << text << "\"";
  } catch (const TException& e) {
    EXPECT_EQ(e.text.value_or("<none>"), text);
    EXPECT_EQ(e.category.value_or("<none>"), "Bad Parameter");
    EXPECT_EQ(e.origin.value_or("<none>"), origin);
  }
}

// --- Construction and shape -------------------------------------------------------------

TEST(TKohonenNetworkTest, FullConstructorBuildsThreeLayersJoinedOnlyFromInputToMap) {
  const int sizes[] = {3, 4};
  TKohonenNetwork map(5, 2, sizes);
  EXPECT_STREQ(map.GetNetworkNType(), "Kohonen");
  ASSERT_EQ(map.numLayers, 3);
  EXPECT_EQ(map.inLayer, 1);
  EXPECT_EQ(map.outLayer, 2);
  EXPECT_STREQ(map.layers[0]->GetLayerNType(), "Simple");
  EXPECT_STREQ(map.layers[1]->GetLayerNType(), "Input");
  EXPECT_STREQ(map.layers[2]->GetLayerNType(), "Simple");
  EXPECT_EQ(map.layers[0]->numNeurons, 0);
  EXPECT_EQ(map.layers[1]->numNeurons, 5);
  EXPECT_EQ(map.layers[2]->numNeurons, 12);
  EXPECT_EQ(map.layers[0]->GetActFunction(), map.registry->Find("error"));
  EXPECT_EQ(map.layers[1]->GetActFunction(), map.registry->Find("linear"));
  EXPECT_EQ(map.layers[2]->GetActFunction(), map.registry->Find("linear"));
  for (int to = 0; to < 3; ++to) {
    for (int from = 0; from < 3; ++from) {
      SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
      TBasicConnections& matrix = *map.priv_conns_index[to][from];
      EXPECT_EQ(matrix.IsConnected(), from == 1 && to == 2);
    }
  }
  EXPECT_STREQ(map.priv_conns_index[2][1]->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(map.numDimensions, 2);
  EXPECT_EQ(map.dimensions, (std::vector<int>{3, 4}));

  const TKohonenNetwork copy(map);
  EXPECT_STREQ(copy.GetNetworkNType(), "Kohonen");
  EXPECT_EQ(copy.dimensions, (std::vector<int>{3, 4}));
}

TEST(TKohonenNetworkTest, ZeroDimensionsGiveOneNodeAndTheShellHasEmptySlots) {
  TKohonenNetwork single(2, 0, nullptr);
  EXPECT_EQ(single.layers[2]->numNeurons, 1);
  EXPECT_EQ(single.numDimensions, 0);
  EXPECT_TRUE(single.dimensions.empty());

  TKohonenNetwork shell;
  EXPECT_STREQ(shell.GetNetworkNType(), "Kohonen");
  ASSERT_EQ(shell.numLayers, 3);
  for (const auto& layer : shell.layers) EXPECT_EQ(layer, nullptr);
  EXPECT_EQ(shell.numDimensions, 0);
  EXPECT_FALSE(shell.priv_conns_index[2][1]->IsConnected());
}

TEST(TKohonenNetworkTest, SetAndGetDimensionsCopyTheSizes) {
  TKohonenNetwork map(2, 0, nullptr);
  const int sizes[] = {3, 4, 2};
  map.SetDimensions(3, sizes);
  EXPECT_EQ(map.numDimensions, 3);
  int out[3] = {0, 0, 0};
  map.GetDimensions(out);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{3, 4, 2}));
  EXPECT_EQ(map.layers[2]->numNeurons, 1);  // the map layer is not resized

  map.SetDimensions(0, nullptr);
  EXPECT_EQ(map.numDimensions, 0);
  EXPECT_TRUE(map.dimensions.empty());
  map.GetDimensions(nullptr);  // nothing to copy

  ExpectRefusal([&] { map.SetDimensions(-1, sizes); }, "A map cannot have -1 grid dimensions",
                "TKohonenNetwork::SetDimensions");
}

TEST(TKohonenNetworkDeathTest, DimensionPreconditions) {
  const int sizes[] = {2, 2};
  EXPECT_DEATH(TKohonenNetwork(2, 0, nullptr).SetDimensions(2, nullptr),
               "Assertion failed: parameters != NULL");
  EXPECT_DEATH(TKohonenNetwork(2, 2, sizes).GetDimensions(nullptr),
               "Assertion failed: parameters != NULL");
  EXPECT_DEATH(
      {
        TKohonenNetwork map(2, 2, sizes);
        map.dimensions.clear();
        int out[2];
        map.GetDimensions(out);
      },
      "Assertion failed: dimensions != NULL");
}

TEST(TKohonenNetworkTest, RandomizeDrawsTheMapWeightsWithinRange) {
  const int sizes[] = {4};
  TKohonenNetwork map(3, 1, sizes);
  map.Randomize(-0.5, 0.5);
  std::vector<double> weights(12);
  ASSERT_EQ(map.GetWeights(weights.data(), FMaskAll), 12);
  int nonZero = 0;
  for (double w : weights) {
    EXPECT_GE(w, -0.5);
    EXPECT_LE(w, 0.5);
    nonZero += w != 0.0;
  }
  EXPECT_GT(nonZero, 0);
}

// --- Best-matching node -------------------------------------------------------------------

TEST(TKohonenNetworkTest, FindBestNodeTakesTheNearestAndTheLowestIndexAmongEquals) {
  struct Case {
    const char* name;
    Rows nodes;
    std::vector<double> input;
    int best;
  };
  const Case cases[] = {
      {"nearest node", {{0, 0}, {5, 5}, {1, 1}}, {1.2, 0.9}, 2},
      {"tie keeps the lower index", {{0, 0}, {2, 0}, {1, 1}}, {1, 0}, 0},
      {"tie between later nodes", {{9, 9}, {0, 2}, {2, 0}}, {1, 1}, 1},
      {"input equal to a node", {{1, 1}, {3, 4}, {3, 5}}, {3, 4}, 1},
      {"two nodes at distance 0", {{7, 7}, {3, 4}, {3, 4}}, {3, 4}, 1},
      {"squared distances beyond 1e30", {{0, 0}, {-1e16, 0}}, {1e16, 0}, 0},
      {"huge but finite distances", {{3e17, 0}, {1e17, 0}}, {1e16, 0}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto map = MakeMap(2, {static_cast<int>(c.nodes.size())}, c.nodes);
    std::vector<double> weights(2, -1.0);
    EXPECT_EQ(map->FindBestNode(c.input.data(), weights.data()), c.best);
    EXPECT_EQ(weights, c.nodes[static_cast<std::size_t>(c.best)]);
    std::vector<double> output(2, -1.0);
    EXPECT_EQ(map->Recall(c.input.data(), output.data()), c.best);
    EXPECT_EQ(output, weights);
  }
}

TEST(TKohonenNetworkTest, FindBestNodeReturnsMinusOneWhenNoNodeWins) {
  struct Case {
    const char* name;
    std::vector<int> sizes;
    Rows nodes;
    std::vector<double> input;
  };
  const Case cases[] = {
      {"NaN input", {2}, {{0, 0}, {1, 1}}, {0.5, kNaN}},
      {"NaN weights everywhere", {2}, {{kNaN, 0}, {0, kNaN}}, {0, 0}},
      {"infinite input", {2}, {{0, 0}, {1, 1}}, {kInf, 0}},
      {"distances overflow", {2}, {{0, 0}, {1, 1}}, {1e200, 0}},
      {"map without nodes", {0}, {}, {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto map = MakeMap(2, c.sizes, c.nodes);
    std::vector<double> weights = {-7.0, -7.0};
    EXPECT_EQ(map->FindBestNode(c.input.data(), weights.data()), -1);
    EXPECT_EQ(weights, (std::vector<double>{-7.0, -7.0}));
  }
  // A NaN node is skipped while another node still wins.
  auto map = MakeMap(2, {3}, {{kNaN, 0}, {4, 4}, {1, 1}});
  std::vector<double> weights(2);
  const double input[] = {0, 0};
  EXPECT_EQ(map->FindBestNode(input, weights.data()), 2);
}

/// The squared distances by the plain rule: nearest node, lowest index among equals.
int ReferenceBest(const Rows& nodes, const std::vector<double>& input) {
  int best = -1;
  double bestDistance = 1e300;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < input.size(); ++j) {
      const double diff = input[j] - nodes[i][j];
      sum = sum + diff * diff;
    }
    if (sum < bestDistance) {
      bestDistance = sum;
      best = static_cast<int>(i);
    }
  }
  return best;
}

TEST(TKohonenNetworkTest, RowReadingAndArcReadingFindTheSameWinner) {
  std::srand(12345);
  auto draw = [] { return static_cast<double>(std::rand() % 2001 - 1000) / 100.0; };
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int inputs = 1 + trial % 7;
    const int nodes = 1 + (trial * 5) % 23;
    Rows weights(static_cast<std::size_t>(nodes));
    for (int i = 0; i < nodes; ++i) {
      // Every third node repeats an earlier one, so ties occur.
      if (i % 3 == 2) {
        weights[i] = weights[static_cast<std::size_t>(i / 2)];
      } else {
        for (int j = 0; j < inputs; ++j) weights[i].push_back(draw());
      }
    }
    auto fast = MakeMap(inputs, {nodes}, weights);
    auto slow = MakeMap(inputs, {nodes});
    slow->priv_conns_index[2][1] = std::make_unique<TPrunedConnections>(slow.get(), 1, 2);
    for (int i = 0; i < nodes; ++i)
      for (int j = 0; j < inputs; ++j) slow->priv_conns_index[2][1]->GetWeight(j, i) = weights[i][j];
    ASSERT_NE(dynamic_cast<TConnectedConnections*>(fast->priv_conns_index[2][1].get()), nullptr);

    for (int k = 0; k < 25; ++k) {
      std::vector<double> input;
      if (k % 5 == 0) {
        input = weights[static_cast<std::size_t>(k % nodes)];  // exact hits, ties included
      } else {
        for (int j = 0; j < inputs; ++j) input.push_back(draw());
      }
      std::vector<double> a(static_cast<std::size_t>(inputs));
      std::vector<double> b(static_cast<std::size_t>(inputs));
      const int expected = ReferenceBest(weights, input);
      EXPECT_EQ(fast->FindBestNode(input.data(), a.data()), expected);
      EXPECT_EQ(slow->FindBestNode(input.data(), b.data()), expected);
      EXPECT_EQ(a, weights[static_cast<std::size_t>(expected)]);
      EXPECT_EQ(b, a);
    }
  }
}

TEST(TKohonenNetworkTest, OperationsRefuseAMapWithoutItsWeightsOrLayers) {
  const std::string noWeights = "The map has no weights joining its input layer to its map layer";
  auto map = MakeMap(2, {2, 2});
  map->Disconnect(1, 2);  // as a network file without the connection block leaves it
  auto data = MakeData({{0, 0}}, 2);
  const std::vector<std::string> labels = {"A"};
  auto labelled = MakeData({{0, 0}}, 2, &labels);
  TErrorRMSObj err(2);
  double input[2] = {0, 0};
  double weights[2];
  ExpectRefusal([&] { map->FindBestNode(input, weights); }, noWeights,
                "TKohonenNetwork::FindBestNode");
  ExpectRefusal([&] { map->Recall(input, weights); }, noWeights, "TKohonenNetwork::FindBestNode");
  ExpectRefusal([&] { map->MapToCoordinates(data.get()); }, noWeights,
                "TKohonenNetwork::MapToCoordinates");
  ExpectRefusal([&] { map->MakeLabelMap(labelled.get()); }, noWeights,
                "TKohonenNetwork::MakeLabelMap");
  ExpectRefusal([&] { map->RecallData(data.get()); }, noWeights, "TKohonenNetwork::RecallData");
  ExpectRefusal([&] { map->RecallError(data.get(), &err); }, noWeights,
                "TKohonenNetwork::RecallError");

  TKohonenNetwork shell;
  ExpectRefusal([&] { shell.MapToCoordinates(data.get()); },
                "The map has no input layer and map layer", "TKohonenNetwork::MapToCoordinates");
}

// --- Coordinates --------------------------------------------------------------------------

TEST(TKohonenNetworkTest, IndexAndCoordinatesConvertRowMajorLastDimensionFastest) {
  struct Case {
    std::vector<int> sizes;
    int index;
    std::vector<int> coords;
  };
  const Case cases[] = {
      {{3, 4}, 7, {1, 3}},      {{3, 4}, 11, {2, 3}},     {{3, 4}, 8, {2, 0}},
      {{3, 4}, 0, {0, 0}},      {{5}, 3, {3}},            {{3, 4, 2}, 23, {2, 3, 1}},
      {{3, 4, 2}, 13, {1, 2, 1}}, {{3, 4, 2}, 6, {0, 3, 0}},
      // Beyond the node count the first coordinate grows past its size, unchecked.
      {{3, 4}, 12, {3, 0}},     {{5}, 7, {7}},            {{3, 4}, 25, {6, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("index " + std::to_string(c.index) + " on " + std::to_string(c.sizes.size()) +
                 " dimensions");
    auto map = MakeMap(1, c.sizes);
    std::vector<int> coords(c.sizes.size(), -1);
    map->IndexToCoordinates(coords.data(), c.index);
    EXPECT_EQ(coords, c.coords);
    EXPECT_EQ(map->CoordinatesToIndex(c.coords.data()), c.index);
    std::vector<int> sizes = c.sizes;
    sizes[0] = 999;  // the first size is never used
    EXPECT_EQ(CoordinatesToIndex(static_cast<int>(sizes.size()), sizes.data(), c.coords.data()),
              c.index);
  }
}

TEST(TKohonenNetworkTest, CoordinateConversionRefusesAGridWithoutDimensions) {
  auto flat = MakeMap(1, {});
  int coords[2] = {0, 0};
  ExpectRefusal([&] { flat->IndexToCoordinates(coords, 0); }, "The map has no grid dimensions",
                "TKohonenNetwork::IndexToCoordinates");
  ExpectRefusal([&] { flat->CoordinatesToIndex(coords); }, "The map has no grid dimensions",
                "TKohonenNetwork::CoordinatesToIndex");
  ExpectRefusal([&] { CoordinatesToIndex(0, coords, coords); },
                "A grid position needs one dimension at least", "CoordinatesToIndex");

  auto zeroSized = MakeMap(1, {2, 0});
  ExpectRefusal([&] { zeroSized->IndexToCoordinates(coords, 1); },
                "Grid dimension 1 has size 0", "TKohonenNetwork::IndexToCoordinates");
}

// --- Mapping a data set -------------------------------------------------------------------

/// A 2 x 2 map on the plane with node (r, c) at weights (r, c).
std::unique_ptr<TKohonenNetwork> CornerMap() {
  return MakeMap(2, {2, 2}, {{0, 0}, {0, 1}, {1, 0}, {1, 1}});
}

TEST(TKohonenNetworkTest, MapToCoordinatesGivesEachRowItsWinnersPosition) {
  auto map = CornerMap();
  auto data = MakeData({{0.9, 0.1}, {0.2, 0.8}, {1.1, 1.3}, {-0.2, 0.1}}, 2);
  auto result = map->MapToCoordinates(data.get(), std::make_unique<TKQstructure>("report"));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->MbrNdxRows, 4);
  EXPECT_EQ(result->MbrLngInputs, 2);
  EXPECT_EQ(result->MbrLngOutputs, 2);
  EXPECT_FALSE(result->HasLabels());
  EXPECT_EQ(InputsOf(*result), (Rows{{0.9, 0.1}, {0.2, 0.8}, {1.1, 1.3}, {-0.2, 0.1}}));
  EXPECT_EQ(OutputsOf(*result), (Rows{{1, 0}, {0, 1}, {1, 1}, {0, 0}}));
}

TEST(TKohonenNetworkTest, MapToCoordinatesFollowsCursorOrderOfAWrappedRing) {
  auto map = CornerMap();
  // Four rows into a ring of three: the first is overwritten and the second is the oldest.
  auto data = std::make_unique<Data>(3, 2, 0, false);
  for (const auto& row : Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}}) data->AddRow(row.data(), nullptr, nullptr);
  auto result = map->MapToCoordinates(data.get());
  EXPECT_EQ(OutputsOf(*result), (Rows{{0, 1}, {1, 0}, {1, 1}}));
}

TEST(TKohonenNetworkTest, ZeroRowDataSetsGiveZeroRowResults) {
  auto map = MakeMap(3, {2, 2, 2});
  Data empty(0, 3, 0, false);
  auto coords = map->MapToCoordinates(&empty);
  EXPECT_EQ(coords->MbrNdxRows, 0);
  EXPECT_EQ(coords->MbrLngInputs, 3);
  EXPECT_EQ(coords->MbrLngOutputs, 3);
  auto recalled = map->RecallData(&empty);
  EXPECT_EQ(recalled->MbrNdxRows, 0);
  EXPECT_EQ(recalled->MbrLngOutputs, 3);
  // Nothing is read from a data set without rows, whatever its width.
  Data narrow(0, 1, 0, false);
  EXPECT_EQ(map->MapToCoordinates(&narrow)->MbrNdxRows, 0);
  auto labelMap = map->MakeLabelMap(&narrow);
  EXPECT_EQ(labelMap->MbrNdxRows, 8);
  for (int r = 0; r < 8; ++r) EXPECT_TRUE(LabelsOf(labelMap->GetLabels(r)).empty());
}

TEST(TKohonenNetworkTest, MappingRefusesDataItCannotMap) {
  const std::vector<std::string> labels = {"A", "B", "C"};
  struct Case {
    const char* name;
    std::vector<int> sizes;
    Rows nodes;
    int dataInputs;
    Rows rows;
    std::string text;
  };
  const Rows corners = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  const Case cases[] = {
      {"wider data", {2, 2}, corners, 3, {{0, 0, 0}}, "Data set has 3 inputs but the map has 2"},
      {"narrower data", {2, 2}, corners, 1, {{0}}, "Data set has 1 inputs but the map has 2"},
      {"NaN in the second row", {2, 2}, corners, 2, {{0, 0}, {kNaN, 0}},
       "No best-matching node for row 1 (its distances to the nodes are not finite numbers)"},
      {"overflowing distances", {2, 2}, corners, 2, {{0, 0}, {0, 0}, {-1e300, 0}},
       "No best-matching node for row 2 (its distances to the nodes are not finite numbers)"},
      {"map without nodes", {1, 0}, {}, 2, {{0, 0}},
       "No best-matching node for row 0 (the map has no nodes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto map = MakeMap(2, c.sizes, c.nodes);
    auto data = MakeData(c.rows, c.dataInputs, &labels);
    TErrorRMSObj err(2);
    ExpectRefusal([&] { map->MapToCoordinates(data.get()); }, c.text,
                  "TKohonenNetwork::MapToCoordinates");
    ExpectRefusal([&] { map->RecallData(data.get()); }, c.text, "TKohonenNetwork::RecallData");
    ExpectRefusal([&] { map->RecallError(data.get(), &err); }, c.text,
                  "TKohonenNetwork::RecallError");
    if (c.sizes[1] != 0) {
      ExpectRefusal([&] { map->MakeLabelMap(data.get()); }, c.text,
                    "TKohonenNetwork::MakeLabelMap");
    }
  }
}

TEST(TKohonenNetworkTest, MappingRefusesAMapWithoutDimensions) {
  auto map = MakeMap(2, {}, {{0, 0}});
  auto data = MakeData({{1, 1}}, 2);
  ExpectRefusal([&] { map->MapToCoordinates(data.get()); }, "The map has no grid dimensions",
                "TKohonenNetwork::MapToCoordinates");
  ExpectRefusal([&] { map->MakeLabelMap(data.get()); }, "The map has no grid dimensions",
                "TKohonenNetwork::MakeLabelMap");
  // Without rows there is nothing to convert.
  Data empty(0, 2, 0, false);
  auto result = map->MapToCoordinates(&empty);
  EXPECT_EQ(result->MbrLngOutputs, 0);
  // Recall needs no grid.
  EXPECT_EQ(OutputsOf(*map->RecallData(data.get())), (Rows{{0, 0}}));
}

TEST(TKohonenNetworkTest, DataSetOutputsAreNotReadWhileMapping) {
  auto map = CornerMap();
  // More outputs than the map has inputs: they must not spill into the scratch vectors.
  auto data = MakeData({{0.9, 0.9}, {0.1, 0.1}}, 2, nullptr, 10);
  EXPECT_EQ(OutputsOf(*map->MapToCoordinates(data.get())), (Rows{{1, 1}, {0, 0}}));
  EXPECT_EQ(OutputsOf(*map->RecallData(data.get())), (Rows{{1, 1}, {0, 0}}));
}

// --- Label maps ---------------------------------------------------------------------------

TEST(TKohonenNetworkTest, LabelMapListsNodesInNodeOrderWithSummedFirstLabels) {
  auto map = CornerMap();
  const std::vector<std::string> labels = {"A", "B", "A", "C", "B"};
  auto data = MakeData({{0.1, 0.9}, {0.2, 0.8}, {0.0, 1.2}, {0.9, 0.9}, {1.0, 1.1}}, 2, &labels);
  // A further label of a row does not count.
  data->AppendLabel(0, 5.0, "extra");
  auto result = map->MakeLabelMap(data.get(), std::make_unique<TKQstructure>("report"));
  ASSERT_EQ(result->MbrNdxRows, 4);
  EXPECT_EQ(result->MbrLngInputs, 2);
  EXPECT_EQ(result->MbrLngOutputs, 0);
  ASSERT_TRUE(result->HasLabels());
  EXPECT_EQ(InputsOf(*result), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
  EXPECT_TRUE(LabelsOf(result->GetLabels(0)).empty());
  EXPECT_EQ(LabelsOf(result->GetLabels(1)), (std::vector<std::string>{"A=2", "B=1"}));
  EXPECT_TRUE(LabelsOf(result->GetLabels(2)).empty());
  EXPECT_EQ(LabelsOf(result->GetLabels(3)), (std::vector<std::string>{"C=1", "B=1"}));
}

TEST(TKohonenNetworkTest, LabelMapRefusesRowsWithoutLabelsAndMismatchedGrids) {
  auto map = CornerMap();
  auto plain = MakeData({{0, 0}}, 2);
  ExpectRefusal([&] { map->MakeLabelMap(plain.get()); }, "Data set has no labels",
                "TKohonenNetwork::MakeLabelMap");

  const std::vector<std::string> labels = {"A", "B", "C"};
  auto data = MakeData({{0, 0}, {1, 1}, {0, 1}}, 2, &labels);
  data->ClearLabels(1);
  ExpectRefusal([&] { map->MakeLabelMap(data.get()); }, "Row 1 has no label",
                "TKohonenNetwork::MakeLabelMap");

  const int bigger[] = {3, 2};
  map->SetDimensions(2, bigger);
  ExpectRefusal([&] { map->MakeLabelMap(plain.get()); },
                "The grid has more than 4 positions but the map layer has 4 nodes",
                "TKohonenNetwork::MakeLabelMap");
  const int smaller[] = {3};
  map->SetDimensions(1, smaller);
  ExpectRefusal([&] { map->MakeLabelMap(plain.get()); },
                "The grid has 3 positions but the map layer has 4 nodes",
                "TKohonenNetwork::MakeLabelMap");
}

TEST(TKohonenNetworkTest, MapShapeIsReadBackFromALabelMap) {
  struct Case {
    std::vector<int> sizes;
  };
  const Case cases[] = {{{3, 4, 2}}, {{2, 2}}, {{5}}, {{3, 1}}, {{2, 3, 4, 1}}};
  for (const Case& c : cases) {
    int nodes = 1;
    for (int s : c.sizes) nodes *= s;
    SCOPED_TRACE(std::to_string(nodes) + " nodes");
    auto map = MakeMap(1, c.sizes);
    Data none(0, 1, 0, true);
    auto labelMap = map->MakeLabelMap(&none);
    std::vector<int> sizes(c.sizes.size(), -1);
    TKohonenNetwork::GetMapShape(labelMap.get(), sizes.data());
    EXPECT_EQ(sizes, c.sizes);
  }
}

TEST(TKohonenNetworkTest, MapShapeRefusesASinglePositionBeforeTheLastDimension) {
  struct Case {
    std::vector<int> sizes;
    std::string text;
  };
  const Case cases[] = {
      {{1, 4},
       "Label map column 0 does not change over its 4 rows: every dimension but the last "
       "needs two positions"},
      {{2, 3, 1, 2},
       "Label map column 2 does not change over its 12 rows: every dimension but the last "
       "needs two positions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto map = MakeMap(1, c.sizes);
    Data none(0, 1, 0, true);
    auto labelMap = map->MakeLabelMap(&none);
    std::vector<int> sizes(c.sizes.size());
    ExpectRefusal([&] { TKohonenNetwork::GetMapShape(labelMap.get(), sizes.data()); }, c.text,
                  "TKohonenNetwork::GetMapShape");
  }
  int sizes[1];
  Data noColumns(3, 0, 0, true);
  ExpectRefusal([&] { TKohonenNetwork::GetMapShape(&noColumns, sizes); },
                "Label map has no coordinate columns", "TKohonenNetwork::GetMapShape");
}

// --- Reconstruction and quantisation error ------------------------------------------------

TEST(TKohonenNetworkTest, RecallDataAndRecallErrorUseTheWinnersWeights) {
  // Two nodes at (0, 0) and (2, 2): (0, 1) is won by node 0 (squared error 1),
  // (3, 2) by node 1 (squared error 1), (2, 2) by node 1 (error 0).
  auto map = MakeMap(2, {2}, {{0, 0}, {2, 2}});
  auto data = MakeData({{0, 1}, {3, 2}, {2, 2}}, 2);
  auto recalled = map->RecallData(data.get());
  EXPECT_EQ(recalled->MbrLngInputs, 2);
  EXPECT_EQ(recalled->MbrLngOutputs, 2);
  EXPECT_FALSE(recalled->HasLabels());
  EXPECT_EQ(InputsOf(*recalled), (Rows{{0, 1}, {3, 2}, {2, 2}}));
  EXPECT_EQ(OutputsOf(*recalled), (Rows{{0, 0}, {2, 2}, {2, 2}}));

  TErrorRMSObj err(2);
  // sqrt(2 / 2 outputs / 3 rows)
  EXPECT_DOUBLE_EQ(map->RecallError(data.get(), &err), std::sqrt(1.0 / 3.0));
  EXPECT_EQ(err.count, 3);
  // The measure is not reset: a second pass adds three more rows of the same error.
  EXPECT_DOUBLE_EQ(map->RecallError(data.get(), &err), std::sqrt(1.0 / 3.0));
  EXPECT_EQ(err.count, 6);

  TErrorRMSObj wide(3);
  ExpectRefusal([&] { map->RecallError(data.get(), &wide); },
                "Error measure has 3 outputs but the map has 2 inputs",
                "TKohonenNetwork::RecallError");
}

TEST(TKohonenNetworkDeathTest, RecallPreconditions) {
  auto map = MakeMap(2, {2});
  Data data(1, 2, 0, false);
  TErrorRMSObj err(2);
  EXPECT_DEATH(map->RecallData(nullptr), "Assertion failed: in != nil");
  EXPECT_DEATH(map->RecallError(nullptr, &err), "Assertion failed: in != nil");
  EXPECT_DEATH(map->RecallError(&data, nullptr), "Assertion failed: err != nil");
}

// --- Labelling coordinates ----------------------------------------------------------------

TEST(TKohonenNetworkTest, LabelDataGivesEachRowTheLabelsOfItsNode) {
  // A 2 x 3 map on the line; node i sits at weight i.
  auto map = MakeMap(1, {2, 3}, {{0}, {1}, {2}, {3}, {4}, {5}});
  const std::vector<std::string> labels = {"low", "low", "mid", "high", "high", "mid", "low"};
  auto data = MakeData({{0.1}, {0.3}, {2.2}, {4.9}, {5.1}, {1.8}, {-3}}, 1, &labels);
  auto labelMap = map->MakeLabelMap(data.get());
  auto coords = map->MapToCoordinates(data.get());
  auto labelled = TKohonenNetwork::LabelData(coords.get(), labelMap.get());
  ASSERT_EQ(labelled->MbrNdxRows, 7);
  EXPECT_EQ(labelled->MbrLngInputs, 0);
  EXPECT_EQ(labelled->MbrLngOutputs, 0);
  ASSERT_TRUE(labelled->HasLabels());
  const std::vector<std::vector<std::string>> expected = {
      {"low=3"}, {"low=3"}, {"mid=2"}, {"high=2"}, {"high=2"}, {"mid=2"}, {"low=3"}};
  for (int r = 0; r < 7; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    EXPECT_EQ(LabelsOf(labelled->GetLabels(r)), expected[static_cast<std::size_t>(r)]);
  }
}

TEST(TKohonenNetworkTest, LabelDataTruncatesCoordinatesTowardZero) {
  auto map = MakeMap(1, {2, 2});
  const std::vector<std::string> labels = {"a", "b", "c", "d"};
  auto data = MakeData({{0}, {0}, {0}, {0}}, 1, &labels);
  Data none(0, 1, 0, true);
  auto labelMap = map->MakeLabelMap(&none);
  for (int r = 0; r < 4; ++r) labelMap->AppendLabel(r, 1.0, labels[static_cast<std::size_t>(r)].c_str());
  Data coords(2, 0, 2, false);
  const double first[] = {1.9, 0.7};
  const double second[] = {-0.5, 1.99};
  coords.AddRow(nullptr, first, nullptr);
  coords.AddRow(nullptr, second, nullptr);
  auto labelled = TKohonenNetwork::LabelData(&coords, labelMap.get());
  EXPECT_EQ(LabelsOf(labelled->GetLabels(0)), (std::vector<std::string>{"c=1"}));
  EXPECT_EQ(LabelsOf(labelled->GetLabels(1)), (std::vector<std::string>{"b=1"}));
}

TEST(TKohonenNetworkTest, LabelDataRefusesMismatchedOrBrokenInput) {
  auto map = MakeMap(1, {2, 2});
  Data none(0, 1, 0, true);
  auto labelMap = map->MakeLabelMap(&none);
  const std::string origin = "TKohonenNetwork::LabelData";

  Data threeCoords(1, 0, 3, false);
  ExpectRefusal([&] { TKohonenNetwork::LabelData(&threeCoords, labelMap.get()); },
                "Coordinate data set has 3 outputs but the label map has 2 inputs", origin);

  Data unlabelledMap(4, 2, 0, false);
  Data coords(1, 0, 2, false);
  ExpectRefusal([&] { TKohonenNetwork::LabelData(&coords, &unlabelledMap); },
                "Label map has no labels", origin);

  Data noColumns(1, 0, 0, false);
  Data emptyMap(4, 0, 0, true);
  ExpectRefusal([&] { TKohonenNetwork::LabelData(&noColumns, &emptyMap); },
                "Label map has no coordinate columns", origin);

  struct Case {
    double c0;
    double c1;
    std::string text;
  };
  const Case cases[] = {
      {kNaN, 0, "Coordinate 0 of row 0 is not a grid position"},
      {0, 1e12, "Coordinate 1 of row 0 is not a grid position"},
      {-kInf, 0, "Coordinate 0 of row 0 is not a grid position"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Data bad(1, 0, 2, false);
    const double row[] = {c.c0, c.c1};
    bad.AddRow(nullptr, row, nullptr);
    ExpectRefusal([&] { TKohonenNetwork::LabelData(&bad, labelMap.get()); }, c.text, origin);
  }

  // A position outside the label map reaches the label map's own row check.
  Data outside(1, 0, 2, false);
  const double far[] = {2, 0};
  outside.AddRow(nullptr, far, nullptr);
  try {
    TKohonenNetwork::LabelData(&outside, labelMap.get());
    ADD_FAILURE() << "no exception";
  } catch (const TException& e) {
    EXPECT_EQ(e.origin.value_or(""), "Data::GetLabels");
  }
}

}  // namespace
}  // namespace kartlo
