#pragma once

#include <memory>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TBestNodeSearch.h"
#include "NeuralNets/TConnectedNetwork.h"
#include "NeuralNets/TErrorObj.h"

namespace kartlo {

/// A self-organising map: layer 0 is an empty slot, layer 1 the input layer and layer 2
/// the map layer, whose nodes sit on a grid of `numDimensions` dimensions. Node i's weight
/// vector is the column into node i of the layer-1-to-layer-2 matrix. Nodes are numbered
/// row-major, the last dimension varying fastest; coordinates count from 0.
///
/// The data set operations refuse a map or a data set they cannot work with by throwing
/// TException(text, "Bad Parameter", "TKohonenNetwork::<operation>"); rows are named by
/// their position in cursor order, the oldest row being row 0.
class TKohonenNetwork : public TConnectedNetwork {
 public:
  /// `inputs` input neurons, a map layer of the product of the `numDimensions` sizes in
  /// `parameters` (1 node when `numDimensions` is 0), fully connected with weights 0.
  TKohonenNetwork(int inputs, int numDimensions, const int* parameters);
  /// The shell the network file reader fills: three empty layer slots, no dimensions.
  TKohonenNetwork();
  TKohonenNetwork(const TKohonenNetwork& x) = default;
  TKohonenNetwork& operator=(const TKohonenNetwork& x) = default;
  ~TKohonenNetwork() override;

  /// Randomizes the input-to-map matrix only.
  void Randomize(double min, double max) override;
  /// FindBestNode on the same vectors: `output` gets the winner's weights (nothing when
  /// there is no winner); returns the winner's index or -1.
  int Recall(const double* input, double* output) override;
  const char* GetNetworkNType() const override;

  /// Copies the n sizes; n = 0 leaves no dimensions. The map layer is not resized.
  void SetDimensions(int n, const int* parameters);
  /// Copies the sizes into `parameters`; does nothing without dimensions.
  void GetDimensions(int* parameters) const;

  /// Index of the node nearest to `input` by squared Euclidean distance (the lowest index
  /// among equals), its weights copied into `weights`. Returns -1, leaving `weights` as it
  /// was, when no node has a distance below infinity: a map without nodes, or distances
  /// that are NaN (NaN inputs or weights) or overflow to infinity. Throws when the map has
  /// no input-to-map matrix.
  int FindBestNode(const double* input, double* weights);

  /// Node index of grid position `coords`; no coordinate is range-checked. Throws on a
  /// map without dimensions.
  int CoordinatesToIndex(const int* coords) const;
  /// Grid position of node `index`; coords[0] is not reduced by the first size. Throws on
  /// a map without dimensions or with a size below 1 in any dimension but the first.
  void IndexToCoordinates(int* coords, int index) const;

  /// One row per row of `in`: its inputs, and the winner's coordinates as outputs.
  std::unique_ptr<Data> MapToCoordinates(Data* in, std::unique_ptr<TKQstructure> report = nullptr);
  /// MapToCoordinates in pieces, for a caller that streams its rows: refuses what
  /// MapToCoordinates refuses before its first row, for `rows` rows of `inputs` input columns,
  /// and returns the search MapRows takes.
  TBestNodeSearch PrepareMapping(int rows, int inputs);
  /// Maps `count` rows, row k at inputs + k · search.Inputs() and numbered firstRow + k in
  /// messages, writing numDimensions coordinates per row to `coordinates`; refuses the first
  /// row without a winner as MapToCoordinates does.
  void MapRows(const TBestNodeSearch& search, const double* inputs, int count, int firstRow,
               double* coordinates);
  /// One row per node in node order: its coordinates as inputs and, as labels, the sums of
  /// the first labels of the rows of `in` that the node won.
  std::unique_ptr<Data> MakeLabelMap(Data* in, std::unique_ptr<TKQstructure> report = nullptr);
  /// One row per row of `in`: its inputs, and the winner's weights as outputs.
  std::unique_ptr<Data> RecallData(Data* in);
  /// Accumulates every row of `in` against its winner's weights into `err` (not reset
  /// first) and returns err->GetError().
  double RecallError(Data* in, TErrorObj* err);
  /// One row per row of `coordinates` (whose outputs are grid coordinates), carrying a copy
  /// of the label list of the node at those coordinates in `labelMap`.
  static std::unique_ptr<Data> LabelData(Data* coordinates, Data* labelMap);
  /// The grid sizes of a label map in node order, one per input column of `labelMap`;
  /// every dimension but the last must have two positions at least.
  static void GetMapShape(Data* labelMap, int* sizes);

  int numDimensions = 0;
  /// numDimensions sizes.
  std::vector<int> dimensions;

 private:
  /// The map's input-to-map matrix with the neuron counts of layers 1 and 2.
  struct MapView {
    TBasicConnections* matrix;
    int nIn;
    int nMap;
  };
  /// The view of a usable map; throws with `origin` when a layer or the matrix is missing.
  MapView RequireMap(const char* origin);
  /// The fast search over the view's weights, copied once.
  static TBestNodeSearch MakeSearch(const MapView& map);
  /// FindBestNode on a checked view.
  static int BestNode(const MapView& map, const double* input, double* weights);
};

/// Node index of `coords` on a grid of `n` dimensions with the given sizes (sizes[0] is
/// not used); no coordinate is range-checked. Throws when n is below 1.
int CoordinatesToIndex(int n, const int* sizes, const int* coords);

}  // namespace kartlo
