// Writes deterministic inputs for the end-to-end runs: a trained-looking map (neighbouring
// nodes have similar weights) and a labelled data set whose rows lie near the map's nodes.
//
//   kartlo_generate OUTDIR [CASE ...]
//
// CASE is "wide" (a 40 x 40 map of 64 inputs, 200,000 rows), "long" (a 10 x 10 map of
// 8 inputs, 2,000,000 rows) or "long200k" (the same map, the first 200,000 of those rows); all
// three without arguments. Writes OUTDIR/CASE.net and OUTDIR/CASE.dat.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"
#include "FileHandler/TDataRowWriter.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

using kartlo::FileTools;

struct Case {
  const char* name;
  int side;  // the map is side x side nodes
  int inputs;
  int rows;
};

// "long200k" is the map of "long" with the first tenth of its rows: memory must not grow with
// the number of rows.
constexpr Case kCases[] = {
    {"wide", 40, 64, 200000}, {"long", 10, 8, 2000000}, {"long200k", 10, 8, 200000}};

/// Component j of the node at grid position (u, v) in [0, 1]^2: a smooth random surface.
struct Surface {
  double slopeU, slopeV, wave, freqU, freqV, phase;
  double At(double u, double v) const {
    return 0.5 + slopeU * (u - 0.5) + slopeV * (v - 0.5) +
           wave * std::sin(2.0 * std::numbers::pi * (freqU * u + freqV * v + phase));
  }
};

bool Generate(const Case& c, const std::string& dir) {
  std::mt19937_64 random(20240611 + static_cast<unsigned>(c.inputs));
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> jitter(0.0, 0.01);
  std::normal_distribution<double> noise(0.0, 0.02);

  std::vector<Surface> surfaces;
  for (int j = 0; j < c.inputs; ++j) {
    surfaces.push_back({unit(random) - 0.5, unit(random) - 0.5, 0.2 * unit(random),
                        1.5 * unit(random), 1.5 * unit(random), unit(random)});
  }
  const int sizes[2] = {c.side, c.side};
  kartlo::TKohonenNetwork map(c.inputs, 2, sizes);
  kartlo::TBasicConnections& matrix = *map.priv_conns_index[2][1];
  const int nodes = c.side * c.side;
  std::vector<double> weights(static_cast<std::size_t>(nodes) * c.inputs);
  for (int i = 0; i < nodes; ++i) {
    const double u = (i / c.side) / (c.side - 1.0);
    const double v = (i % c.side) / (c.side - 1.0);
    for (int j = 0; j < c.inputs; ++j) {
      const double w = surfaces[j].At(u, v) + jitter(random);
      weights[static_cast<std::size_t>(i) * c.inputs + j] = w;
      matrix.GetWeight(j, i) = w;
    }
  }
  FileTools tools;
  const std::string net = dir + "/" + c.name + ".net";
  tools.SaveNetwork(net.c_str(), &map);

  const std::string dat = dir + "/" + c.name + ".dat";
  std::ofstream out(dat, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  if (tools.WriteDataSetHeader(out, c.inputs, -1, 0, 0, c.rows) != FileTools::kSuccess)
    return false;
  kartlo::TDataRowWriter writer(out);
  std::uniform_int_distribution<int> pick(0, nodes - 1);
  std::vector<double> row(static_cast<std::size_t>(c.inputs));
  for (int r = 0; r < c.rows; ++r) {
    const int node = pick(random);
    for (int j = 0; j < c.inputs; ++j) {
      // Measured values carry six decimals.
      const double x = weights[static_cast<std::size_t>(node) * c.inputs + j] + noise(random);
      row[static_cast<std::size_t>(j)] = std::round(x * 1e6) / 1e6;
    }
    const kartlo::TLabelList label(("n" + std::to_string(node)).c_str(), 1.0);
    writer.Values(row.data(), c.inputs);
    writer.Gap();
    writer.Labels(&label);
    if (!writer.EndRow()) return false;
  }
  if (!writer.Finish()) return false;
  return tools.WriteDataSetEnd(out) == FileTools::kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kartlo_generate OUTDIR [wide|long|long200k ...]\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  for (const Case& c : kCases) {
    bool wanted = argc == 2;
    for (int a = 2; a < argc; ++a) wanted = wanted || std::strcmp(argv[a], c.name) == 0;
    if (!wanted) continue;
    if (!Generate(c, dir)) {
      std::fprintf(stderr, "kartlo_generate: cannot write %s/%s.*\n", dir.c_str(), c.name);
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
