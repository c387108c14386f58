// Network file inputs found by fuzzing the reader.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "FileHandler/FileTools.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {
namespace {

std::string ReadError(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  try {
    tools.ReadNetwork(in);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "(no error)";
}

std::string BasicNetworkWithLayer(const std::string& layerItems) {
  return "[NeuralNetwork]\n[NetworkType = Basic]\n[NetworkInformation]\n"
         "[NumberOfLayers = 1]\n[InputLayer = 0]\n[~NetworkInformation]\n"
         "[Layer = 0]\n" +
         layerItems + "[~Layer]\n[~NeuralNetwork]\n";
}

// A parameter item in a layer without neurons used to look up neuron 0 of an
// empty layer; it is an unknown keyword like any other.
TEST(NetworkFileRegression, ParameterOfALayerWithoutNeurons) {
  struct Case {
    const char* items;
    const char* message;
  };
  const Case cases[] = {
      {"[LayerType = Simple]\n[NumberOfNeurons = 0]\n[Gain = 1]\n",
       "Unknown keyword Gain in layer 0"},
      {"[LayerType = Gain]\n[NumberOfNeurons = 0]\n[All Gain=0.5 ]\n",
       "Unknown keyword Gain in layer 0"},
      {"[NumberOfNeurons = 0]\n[LayerType = Input]\n[All Foo=1 ]\n",
       "Unknown keyword Foo in layer 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items);
    EXPECT_EQ(ReadError(BasicNetworkWithLayer(c.items)), c.message);
  }
  EXPECT_EQ(ReadError(BasicNetworkWithLayer("[LayerType = Gain]\n[NumberOfNeurons = 0]\n")),
            "(no error)");
}

// A directory opens as a file but fails on the first read, which the stream
// buffer reports with an exception of its own; it is a file that cannot be opened.
TEST(NetworkFileRegression, DirectoryCannotBeOpened) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  FileTools tools;
  try {
    tools.LoadNetwork(dir.c_str());
    ADD_FAILURE() << "a directory loaded as a network";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Open");
    EXPECT_EQ(e.input, nullptr);
  }
}

}  // namespace
}  // namespace kartlo
