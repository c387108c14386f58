// Trains the bundled example map: a 6 x 6 Kohonen map on the iris flower
// measurements, with the classic online rule (a fixed seed, a Gaussian
// neighbourhood and a learning rate that both shrink linearly), and writes the
// map as a network file and the measurements, labelled by species, as a data
// set file. Usage: train_example iris.csv map.net iris.dat
//
// The trainer is an example of using the library; it is not part of it.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

struct Sample {
  std::vector<double> values;
  std::string label;
};

std::vector<Sample> ReadCsv(const char* path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(std::string("cannot open ") + path);
  std::vector<Sample> samples;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::string field;
    Sample sample;
    while (std::getline(fields, field, ',')) {
      if (fields.peek() == EOF && !field.empty() && !std::isdigit(static_cast<unsigned char>(field[0]))) {
        sample.label = field;
      } else {
        sample.values.push_back(std::stod(field));
      }
    }
    samples.push_back(std::move(sample));
  }
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "Usage: train_example iris.csv map.net iris.dat\n";
    return 1;
  }
  try {
    const std::vector<Sample> samples = ReadCsv(argv[1]);
    if (samples.empty()) throw std::runtime_error("no samples");
    const int inputs = static_cast<int>(samples[0].values.size());
    const int sizes[2] = {6, 6};
    const int nodes = sizes[0] * sizes[1];

    kartlo::TKohonenNetwork map(inputs, 2, sizes);
    kartlo::TBasicConnections& weights = *map.priv_conns_index[2][1];

    std::mt19937 random(20261210);
    // Start every node at a randomly chosen sample.
    std::uniform_int_distribution<std::size_t> pick(0, samples.size() - 1);
    for (int node = 0; node < nodes; ++node) {
      const Sample& s = samples[pick(random)];
      for (int j = 0; j < inputs; ++j) weights.GetWeight(j, node) = s.values[j];
    }

    const int epochs = 200;
    const long steps = static_cast<long>(epochs) * static_cast<long>(samples.size());
    const double rate0 = 0.5;
    const double radius0 = 3.0;
    std::vector<std::size_t> order(samples.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::vector<double> winner(static_cast<std::size_t>(inputs));
    long step = 0;
    for (int epoch = 0; epoch < epochs; ++epoch) {
      std::shuffle(order.begin(), order.end(), random);
      for (std::size_t k : order) {
        const double progress = static_cast<double>(step++) / static_cast<double>(steps);
        const double rate = rate0 * (1.0 - progress) + 0.01 * progress;
        const double radius = radius0 * (1.0 - progress) + 0.5 * progress;
        const Sample& s = samples[k];
        const int best = map.FindBestNode(s.values.data(), winner.data());
        const int br = best / sizes[1];
        const int bc = best % sizes[1];
        for (int node = 0; node < nodes; ++node) {
          const double dr = node / sizes[1] - br;
          const double dc = node % sizes[1] - bc;
          const double h = std::exp(-(dr * dr + dc * dc) / (2.0 * radius * radius));
          for (int j = 0; j < inputs; ++j) {
            double& w = weights.GetWeight(j, node);
            w += rate * h * (s.values[j] - w);
          }
        }
      }
    }

    kartlo::FileTools tools;
    tools.SaveNetwork(argv[2], &map);

    kartlo::Data data(static_cast<int>(samples.size()), inputs, 0, true);
    for (const Sample& s : samples) {
      const kartlo::TLabelList label(s.label.c_str(), 1.0);
      data.AddRow(s.values.data(), nullptr, &label);
    }
    if (tools.SaveDataSet(argv[3], &data, nullptr) != kartlo::FileTools::kSuccess) {
      throw std::runtime_error(std::string("cannot write ") + argv[3]);
    }
  } catch (const kartlo::FileTools::Error& e) {
    std::cerr << "train_example: " << e.message << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "train_example: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
