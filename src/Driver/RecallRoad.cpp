#include <memory>
#include <ostream>

#include "DataObject/Data.h"
#include "Driver/Kartlo.h"
#include "FileHandler/FileTools.h"
#include "FileHandler/TOutputFile.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace kartlo {

int RecallRoad(const char* weightFile, const char* labelFile, const char* coordinateFile,
               std::ostream& /*out*/, std::ostream& err) {
  // One object serves the network file, the other both data set files.
  FileTools networkTools;
  FileTools dataTools;

  const std::unique_ptr<TBasicNetwork> network = networkTools.LoadNetwork(weightFile);
  KARTLO_ASSERT_TEXT(network != nullptr, "PtrKohCurrent != 0");
  auto* map = dynamic_cast<TKohonenNetwork*>(network.get());
  if (map == nullptr) {
    err << "network file " << weightFile << " holds a " << network->GetNetworkNType()
        << " network, not a Kohonen map" << std::endl;
    return 1;
  }

  std::unique_ptr<Data> input;
  if (dataTools.LoadDataSet(labelFile, input) != FileTools::kSuccess) {
    err << "cannot load data file " << labelFile << std::endl;
    return 1;
  }
  if (input == nullptr) {
    err << "cannot load data file " << labelFile << ": it has no columns" << std::endl;
    return 1;
  }

  const std::unique_ptr<Data> result = map->MapToCoordinates(input.get());
  KARTLO_ASSERT_TEXT(result != nullptr, "PtrDatMap != 0");

  // The result appears whole or not at all: an existing file is replaced only
  // once every row has been written.
  TOutputFile file(coordinateFile);
  int code = FileTools::kWriteFailed;
  if (file.IsOpen()) {
    code = dataTools.WriteDataSet(file.Stream(), result.get(), nullptr);
    if (code == FileTools::kSuccess && !file.Commit()) code = FileTools::kWriteFailed;
  }
  if (code != FileTools::kSuccess) {
    err << "cannot save to data file " << coordinateFile << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace kartlo
