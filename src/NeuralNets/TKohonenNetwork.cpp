#include "NeuralNets/TKohonenNetwork.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <limits>
#include <string>

#include "KQmessage/Assert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"

namespace kartlo {

namespace {

constexpr const char* kBadParameter = "Bad Parameter";

[[noreturn]] void Refuse(const std::string& text, const char* origin) {
  throw TException(text.c_str(), kBadParameter, origin);
}

std::size_t Size(int n) { return static_cast<std::size_t>(n > 0 ? n : 0); }

/// Node i's weight vector read arc by arc through the matrix interface.
struct ColumnReader {
  TBasicConnections* matrix;
  int node;
  double operator[](int j) const { return matrix->GetWeight(j, node); }
};

/// The number of input columns GetNextRow delivers.
int DeliveredInputs(const Data& in) {
  return in.HasInputSelection() ? in.MbrLngInputSelection : in.MbrLngInputs;
}

/// The number of output columns GetNextRow delivers.
int DeliveredOutputs(const Data& in) {
  return in.HasInputSelection() && in.HasOutputSelection() ? in.MbrLngOutputSelection
                                                           : in.MbrLngOutputs;
}

void RequireInputs(int delivered, int nIn, const char* origin) {
  if (delivered != nIn) {
    Refuse("Data set has " + std::to_string(delivered) + " inputs but the map has " +
               std::to_string(nIn),
           origin);
  }
}

/// Rows gathered for one search: a block is searched on all cores at once.
constexpr int kBlockRows = 4096;

/// Fetches `rows` rows in cursor order with fetch(r, k, input) (row r into slot k of the
/// block), finds all winners of a block at once and hands each row to use(r, k, input, best)
/// in row order. An exception while a block is fetched surfaces only after the rows before
/// it have been used, as in a walk of one row at a time.
template <class Fetch, class Use>
void WalkInBlocks(int rows, int nIn, const TBestNodeSearch& search, Fetch fetch, Use use) {
  const std::size_t width = Size(nIn);
  const int block = std::min(rows, kBlockRows);
  std::vector<double> inputs(Size(block) * width);
  std::vector<int> best(Size(block));
  for (int first = 0; first < rows; first += block) {
    const int count = std::min(block, rows - first);
    int fetched = 0;
    std::exception_ptr failure;
    try {
      for (; fetched < count; ++fetched)
        fetch(first + fetched, fetched, inputs.data() + Size(fetched) * width);
    } catch (...) {
      failure = std::current_exception();
    }
    search.FindAll(inputs.data(), Size(fetched), width, best.data());
    for (int k = 0; k < fetched; ++k)
      use(first + k, k, inputs.data() + Size(k) * width, best[Size(k)]);
    if (failure) std::rethrow_exception(failure);
  }
}

[[noreturn]] void NoWinner(int row, int nMap, const char* origin) {
  Refuse("No best-matching node for row " + std::to_string(row) +
             (nMap == 0 ? " (the map has no nodes)"
                        : " (its distances to the nodes are not finite numbers)"),
         origin);
}

/// Walks the rows of `in` from its first and hands each row's inputs and its winner's
/// weight vector (column `best` of `matrix`) to use(input, weights); a row without a
/// winner is refused with `origin`.
template <class Use>
void WalkWithWinnerWeights(Data& in, int rows, TBasicConnections& matrix, int nIn, int nMap,
                           const TBestNodeSearch& search, const char* origin, Use use) {
  std::vector<double> weights(Size(nIn));
  in.Rewind();
  WalkInBlocks(
      rows, nIn, search, [&](int, int, double* input) { in.GetNextRow(input, nullptr, nullptr); },
      [&](int r, int, const double* input, int best) {
        if (best < 0) NoWinner(r, nMap, origin);
        for (int j = 0; j < nIn; ++j) weights[Size(j)] = matrix.GetWeight(j, best);
        use(input, weights.data());
      });
}

}  // namespace

// --- Construction and shape ------------------------------------------------------------

TKohonenNetwork::TKohonenNetwork(int inputs, int numDimensions, const int* parameters)
    : TConnectedNetwork() {
  KARTLO_ASSERT_TEXT(numDimensions <= 0 || parameters != nullptr, "parameters != NULL");
  Allocate(3);
  int nodes = 1;
  for (int k = 0; k < numDimensions; ++k) nodes *= parameters[k];
  layers[0] = std::make_unique<TSimpleLayer>(this, 0, 0);
  layers[1] = std::make_unique<TSimpleInputLayer>(this, 1, inputs);
  layers[2] = std::make_unique<TSimpleLayer>(this, 2, nodes);
  layers[0]->SetActFunction(registry->Find("error"));
  layers[1]->SetActFunction(registry->Find("linear"));
  layers[2]->SetActFunction(registry->Find("linear"));
  Connect(1, 2);
  inLayer = 1;
  outLayer = 2;
  SetDimensions(numDimensions, parameters);
}

TKohonenNetwork::TKohonenNetwork() : TConnectedNetwork() { Allocate(3); }

TKohonenNetwork::~TKohonenNetwork() = default;

void TKohonenNetwork::SetDimensions(int n, const int* parameters) {
  if (n < 0) {
    Refuse("A map cannot have " + std::to_string(n) + " grid dimensions",
           "TKohonenNetwork::SetDimensions");
  }
  numDimensions = n;
  dimensions.clear();
  if (n == 0) return;
  KARTLO_ASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  dimensions.assign(parameters, parameters + n);
}

void TKohonenNetwork::GetDimensions(int* parameters) const {
  if (numDimensions == 0) return;
  KARTLO_ASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  KARTLO_ASSERT_TEXT(dimensions.size() >= Size(numDimensions), "dimensions != NULL");
  for (int k = 0; k < numDimensions; ++k) parameters[k] = dimensions[Size(k)];
}

// --- Network operations ----------------------------------------------------------------

void TKohonenNetwork::Randomize(double min, double max) {
  if (numLayers < 3) return;
  priv_conns_index[2][1]->Randomize(min, max);
}

int TKohonenNetwork::Recall(const double* input, double* output) {
  return FindBestNode(input, output);
}

const char* TKohonenNetwork::GetNetworkNType() const { return "Kohonen"; }

TKohonenNetwork::MapView TKohonenNetwork::RequireMap(const char* origin) {
  if (numLayers < 3 || layers[1] == nullptr || layers[2] == nullptr)
    Refuse("The map has no input layer and map layer", origin);
  TBasicConnections* matrix = priv_conns_index[2][1].get();
  if (matrix == nullptr || !matrix->IsConnected())
    Refuse("The map has no weights joining its input layer to its map layer", origin);
  return MapView{matrix, layers[1]->numNeurons, layers[2]->numNeurons};
}

int TKohonenNetwork::BestNode(const MapView& map, const double* input, double* weights) {
  const std::size_t nIn = Size(map.nIn);
  const std::size_t nMap = Size(map.nMap);
  auto* full = dynamic_cast<TConnectedConnections*>(map.matrix);
  // The fully connected block holds node i's weights as its contiguous row i, as long as its
  // shape matches the layers (it lags behind between a layer change and the matrix's resize).
  if (full != nullptr && full->index_weights.size() == nMap &&
      full->array_weights.size() == nMap * nIn) {
    const int best = PlainBestNode(input, map.nIn, map.nMap,
                               [full](int i) -> const double* { return full->GetRow(i); });
    if (best >= 0) {
      const double* row = full->GetRow(best);
      for (std::size_t j = 0; j < nIn; ++j) weights[j] = row[j];
    }
    return best;
  }
  TBasicConnections* matrix = map.matrix;
  const int best =
      PlainBestNode(input, map.nIn, map.nMap, [matrix](int i) { return ColumnReader{matrix, i}; });
  if (best >= 0) {
    for (int j = 0; j < map.nIn; ++j) weights[j] = matrix->GetWeight(j, best);
  }
  return best;
}

int TKohonenNetwork::FindBestNode(const double* input, double* weights) {
  return BestNode(RequireMap("TKohonenNetwork::FindBestNode"), input, weights);
}

// --- Coordinates -----------------------------------------------------------------------

int CoordinatesToIndex(int n, const int* sizes, const int* coords) {
  if (n < 1) Refuse("A grid position needs one dimension at least", "CoordinatesToIndex");
  // Unsigned arithmetic: an index beyond the int range wraps instead of being undefined.
  unsigned index = static_cast<unsigned>(coords[0]);
  for (int k = 1; k < n; ++k)
    index = index * static_cast<unsigned>(sizes[k]) + static_cast<unsigned>(coords[k]);
  return static_cast<int>(index);
}

int TKohonenNetwork::CoordinatesToIndex(const int* coords) const {
  if (numDimensions < 1 || dimensions.size() < Size(numDimensions))
    Refuse("The map has no grid dimensions", "TKohonenNetwork::CoordinatesToIndex");
  return kartlo::CoordinatesToIndex(numDimensions, dimensions.data(), coords);
}

void TKohonenNetwork::IndexToCoordinates(int* coords, int index) const {
  static constexpr const char* origin = "TKohonenNetwork::IndexToCoordinates";
  if (numDimensions < 1 || dimensions.size() < Size(numDimensions))
    Refuse("The map has no grid dimensions", origin);
  for (int k = numDimensions - 1; k >= 1; --k) {
    const int size = dimensions[Size(k)];
    if (size < 1) {
      Refuse("Grid dimension " + std::to_string(k) + " has size " + std::to_string(size),
             origin);
    }
    coords[k] = index % size;
    index = index / size;
  }
  coords[0] = index;
}

// --- Data set operations ---------------------------------------------------------------

TBestNodeSearch TKohonenNetwork::MakeSearch(const MapView& map) {
  auto* full = dynamic_cast<TConnectedConnections*>(map.matrix);
  if (full != nullptr && full->index_weights.size() == Size(map.nMap) &&
      full->array_weights.size() == Size(map.nMap) * Size(map.nIn)) {
    return TBestNodeSearch(map.nIn, map.nMap, full->array_weights.data());
  }
  TBasicConnections* matrix = map.matrix;
  return TBestNodeSearch(map.nIn, map.nMap,
                         [matrix](int i, int j) { return matrix->GetWeight(j, i); });
}

TBestNodeSearch TKohonenNetwork::PrepareMapping(int rows, int inputs) {
  static constexpr const char* origin = "TKohonenNetwork::MapToCoordinates";
  const MapView map = RequireMap(origin);
  if (rows > 0) {
    RequireInputs(inputs, map.nIn, origin);
    if (numDimensions < 1) Refuse("The map has no grid dimensions", origin);
  }
  return MakeSearch(map);
}

void TKohonenNetwork::MapRows(const TBestNodeSearch& search, const double* inputs, int count,
                              int firstRow, double* coordinates) {
  static constexpr const char* origin = "TKohonenNetwork::MapToCoordinates";
  if (count <= 0) return;
  std::vector<int> best(Size(count));
  search.FindAll(inputs, Size(count), Size(search.Inputs()), best.data());
  std::vector<int> coords(Size(numDimensions));
  for (int k = 0; k < count; ++k) {
    if (best[Size(k)] < 0) NoWinner(firstRow + k, search.Nodes(), origin);
    IndexToCoordinates(coords.data(), best[Size(k)]);
    double* position = coordinates + Size(k) * coords.size();
    for (std::size_t c = 0; c < coords.size(); ++c) position[c] = coords[c];
  }
}

std::unique_ptr<Data> TKohonenNetwork::MapToCoordinates(Data* in,
                                                        std::unique_ptr<TKQstructure> report) {
  report.reset();
  KARTLO_ASSERT_TEXT(in != nullptr, "in != nil");
  const int rows = in->MbrNdxRows;
  const TBestNodeSearch search = PrepareMapping(rows, DeliveredInputs(*in));
  const int nIn = search.Inputs();
  const int d = numDimensions;

  auto result = std::make_unique<Data>(rows, nIn, d, false);
  const std::size_t width = Size(nIn);
  const int block = std::min(rows, kBlockRows);
  std::vector<double> inputs(Size(block) * width);
  std::vector<double> positions(Size(block) * Size(d));
  in->Rewind();
  for (int first = 0; first < rows; first += block) {
    const int count = std::min(block, rows - first);
    for (int k = 0; k < count; ++k)
      in->GetNextRow(inputs.data() + Size(k) * width, nullptr, nullptr);
    MapRows(search, inputs.data(), count, first, positions.data());
    for (int k = 0; k < count; ++k) {
      result->AddRow(inputs.data() + Size(k) * width, positions.data() + Size(k) * Size(d),
                     nullptr);
    }
  }
  return result;
}

std::unique_ptr<Data> TKohonenNetwork::MakeLabelMap(Data* in,
                                                    std::unique_ptr<TKQstructure> report) {
  static constexpr const char* origin = "TKohonenNetwork::MakeLabelMap";
  report.reset();
  KARTLO_ASSERT_TEXT(in != nullptr, "in != nil");
  const MapView map = RequireMap(origin);
  const int d = numDimensions;
  if (d < 1 || dimensions.size() < Size(d)) Refuse("The map has no grid dimensions", origin);
  // Node r of the result is grid position r, so the grid must cover the nodes exactly.
  long long positions = 1;
  for (int k = 0; k < d; ++k) {
    const int size = dimensions[Size(k)];
    if (size < 1) {
      Refuse("Grid dimension " + std::to_string(k) + " has size " + std::to_string(size),
             origin);
    }
    positions *= size;
    if (positions > map.nMap) break;
  }
  if (positions != map.nMap) {
    Refuse("The grid has " + (positions > map.nMap ? "more than " + std::to_string(map.nMap)
                                                   : std::to_string(positions)) +
               " positions but the map layer has " + std::to_string(map.nMap) + " nodes",
           origin);
  }
  const int rows = in->MbrNdxRows;
  if (rows > 0) {
    RequireInputs(DeliveredInputs(*in), map.nIn, origin);
    if (!in->HasLabels()) Refuse("Data set has no labels", origin);
  }

  std::vector<int> sizes(Size(d));
  GetDimensions(sizes.data());
  std::vector<TLabelList> lists(Size(map.nMap));
  std::vector<const TLabel*> firsts(Size(std::min(rows, kBlockRows)));
  const TBestNodeSearch search = MakeSearch(map);
  in->Rewind();
  WalkInBlocks(
      rows, map.nIn, search,
      [&](int r, int k, double* input) {
        TLabelList* labels = nullptr;
        in->GetNextRow(input, nullptr, &labels);
        if (labels == nullptr || labels->labels.empty())
          Refuse("Row " + std::to_string(r) + " has no label", origin);
        firsts[Size(k)] = &labels->labels.front();
      },
      [&](int r, int k, const double*, int best) {
        if (best < 0) NoWinner(r, map.nMap, origin);
        lists[Size(best)].Add(firsts[Size(k)]->text.c_str(), firsts[Size(k)]->value);
      });

  auto result = std::make_unique<Data>(map.nMap, d, 0, true);
  std::vector<int> counter(Size(d), 0);
  std::vector<double> position(Size(d));
  for (int node = 0; node < map.nMap; ++node) {
    for (std::size_t k = 0; k < counter.size(); ++k) position[k] = counter[k];
    result->AddRow(position.data(), nullptr, &lists[Size(node)]);
    for (int k = d - 1; k >= 0; --k) {
      if (++counter[Size(k)] < sizes[Size(k)]) break;
      counter[Size(k)] = 0;
    }
  }
  return result;
}

std::unique_ptr<Data> TKohonenNetwork::RecallData(Data* in) {
  static constexpr const char* origin = "TKohonenNetwork::RecallData";
  KARTLO_ASSERT_TEXT(in != nullptr, "in != nil");
  const MapView map = RequireMap(origin);
  const int rows = in->MbrNdxRows;
  if (rows > 0) RequireInputs(DeliveredInputs(*in), map.nIn, origin);

  auto result = std::make_unique<Data>(rows, map.nIn, map.nIn, false);
  WalkWithWinnerWeights(*in, rows, *map.matrix, map.nIn, map.nMap, MakeSearch(map), origin,
                        [&](const double* input, const double* weights) {
                          result->AddRow(input, weights, nullptr);
                        });
  return result;
}

double TKohonenNetwork::RecallError(Data* in, TErrorObj* err) {
  static constexpr const char* origin = "TKohonenNetwork::RecallError";
  KARTLO_ASSERT_TEXT(in != nullptr, "in != nil");
  KARTLO_ASSERT_TEXT(err != nullptr, "err != nil");
  const MapView map = RequireMap(origin);
  const int rows = in->MbrNdxRows;
  if (rows > 0) {
    RequireInputs(DeliveredInputs(*in), map.nIn, origin);
    if (err->numOutputs > map.nIn) {
      Refuse("Error measure has " + std::to_string(err->numOutputs) +
                 " outputs but the map has " + std::to_string(map.nIn) + " inputs",
             origin);
    }
  }

  WalkWithWinnerWeights(*in, rows, *map.matrix, map.nIn, map.nMap, MakeSearch(map), origin,
                        [&](const double* input, const double* weights) {
                          err->Accumulate(input, weights);
                        });
  return err->GetError();
}

std::unique_ptr<Data> TKohonenNetwork::LabelData(Data* coordinates, Data* labelMap) {
  static constexpr const char* origin = "TKohonenNetwork::LabelData";
  KARTLO_ASSERT_TEXT(coordinates != nullptr, "in != nil");
  KARTLO_ASSERT_TEXT(labelMap != nullptr, "Map != nil");
  const int n = labelMap->GetNumInputs();
  const int dimnum = DeliveredOutputs(*coordinates);
  if (n != dimnum) {
    Refuse("Coordinate data set has " + std::to_string(dimnum) +
               " outputs but the label map has " + std::to_string(n) + " inputs",
           origin);
  }
  if (n < 1) Refuse("Label map has no coordinate columns", origin);
  if (!labelMap->HasLabels()) Refuse("Label map has no labels", origin);
  std::vector<int> sizes(Size(n));
  GetMapShape(labelMap, sizes.data());

  const int rows = coordinates->MbrNdxRows;
  auto result = std::make_unique<Data>(rows, 0, 0, true);
  std::vector<double> position(Size(n));
  std::vector<int> coords(Size(n));
  coordinates->Rewind();
  labelMap->Rewind();
  for (int r = 0; r < rows; ++r) {
    coordinates->GetNextRow(nullptr, position.data(), nullptr);
    for (int k = 0; k < n; ++k) {
      const double value = position[Size(k)];
      // Truncation toward zero is defined only for values that land inside the int range.
      if (!(value > static_cast<double>(std::numeric_limits<int>::min()) - 1.0 &&
            value < static_cast<double>(std::numeric_limits<int>::max()) + 1.0)) {
        Refuse("Coordinate " + std::to_string(k) + " of row " + std::to_string(r) +
                   " is not a grid position",
               origin);
      }
      coords[Size(k)] = static_cast<int>(value);
    }
    const int node = kartlo::CoordinatesToIndex(n, sizes.data(), coords.data());
    result->AddRow(nullptr, nullptr, labelMap->GetLabels(node));
  }
  return result;
}

void TKohonenNetwork::GetMapShape(Data* labelMap, int* sizes) {
  static constexpr const char* origin = "TKohonenNetwork::GetMapShape";
  KARTLO_ASSERT_TEXT(labelMap != nullptr, "Map != nil");
  const int n = labelMap->GetNumInputs();
  if (n < 1) Refuse("Label map has no coordinate columns", origin);
  const int rows = labelMap->MbrNdxRows;
  int stride = 1;
  for (int k = n - 2; k >= 0; --k) {
    int count = 0;
    int row = 0;
    double value = 0.0;
    while (value == 0.0) {
      ++count;
      row += stride;
      // Column k never leaving 0 means dimension k has a single position: no stride exists.
      if (row >= rows) {
        Refuse("Label map column " + std::to_string(k) + " does not change over its " +
                   std::to_string(rows) +
                   " rows: every dimension but the last needs two positions",
               origin);
      }
      value = labelMap->GetInputDatum(row, k);
    }
    sizes[k + 1] = count;
    stride = row;
  }
  sizes[0] = rows / stride;
}

}  // namespace kartlo
