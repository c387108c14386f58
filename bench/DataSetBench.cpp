// Data set files: FileTools' reader and writer against a reader and a writer built on the C
// library's scanf and printf for the same files (labelled rows of 64 inputs, as the recall
// road reads them).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"

namespace {

using kartlo::Data;
using kartlo::FileTools;

constexpr int kRows = 20000;
constexpr int kInputs = 64;

/// A labelled data set of values with six decimals, and its file text as FileTools writes it.
struct Sample {
  std::unique_ptr<Data> data;
  std::string text;
};

const Sample& GetSample() {
  static const Sample sample = [] {
    Sample s;
    s.data = std::make_unique<Data>(kRows, kInputs, 0, true);
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> row(kInputs);
    for (int r = 0; r < kRows; ++r) {
      for (double& v : row) v = static_cast<double>(static_cast<long>(unit(random) * 1e6)) / 1e6;
      const kartlo::TLabelList label(("n" + std::to_string(r % 1600)).c_str(), 1.0);
      s.data->AddRow(row.data(), nullptr, &label);
    }
    std::ostringstream out;
    FileTools tools;
    tools.WriteDataSet(out, s.data.get(), nullptr);
    s.text = out.str();
    return s;
  }();
  return sample;
}

/// Reads a text in place.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(const std::string& text) {
    char* begin = const_cast<char*>(text.data());
    setg(begin, begin, begin + text.size());
  }
};

// --- The C library baseline ------------------------------------------------------------------

/// Reads the sample's layout with fscanf: header tags, then per row the inputs ("%lf") and a
/// label list, then the end tags. Returns the inputs, or nothing on a mismatch.
bool ScanfRead(FILE* file, std::vector<double>& inputs) {
  char tag[256];
  int rows = -1;
  int count = 0;
  bool labels = false;
  if (std::fscanf(file, " [FormatVersion = %*[^]]]") < 0) return false;
  if (std::fscanf(file, " [%255[^]]]", tag) != 1 || std::strcmp(tag, "DataSet") != 0) return false;
  for (;;) {
    if (std::fscanf(file, " [%255[^]]]", tag) != 1) return false;
    if (std::strcmp(tag, "Data") == 0) break;
    char key[64];
    char value[64];
    if (std::sscanf(tag, "%63s = %63s", key, value) != 2) return false;
    if (std::strcmp(key, "Rows") == 0) rows = std::atoi(value);
    if (std::strcmp(key, "Inputs") == 0) count = std::atoi(value);
    if (std::strcmp(key, "ExpectedOutputs") == 0) labels = std::strcmp(value, "Labels") == 0;
  }
  inputs.clear();
  for (int r = 0; r < rows; ++r) {
    for (int j = 0; j < count; ++j) {
      double v = 0.0;
      if (std::fscanf(file, "%lf", &v) != 1) return false;
      inputs.push_back(v);
    }
    if (labels && std::fscanf(file, " [%255[^]]]", tag) != 1) return false;
  }
  return std::fscanf(file, " [~%255[^]]]", tag) == 1 && std::fscanf(file, " [~%255[^]]]", tag) == 1;
}

/// Writes the sample's layout with fprintf: "%.15g " per value, label lists of value 1.
void PrintfWrite(FILE* file, const Data& data) {
  std::fprintf(file,
               "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = %d]\n[Inputs = %d]\n"
               "[ExpectedOutputs = Labels]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n",
               data.MbrNdxRows, data.MbrLngInputs);
  for (int r = 0; r < data.MbrNdxRows; ++r) {
    const double* row = data.InputRowPtr(r);
    for (int j = 0; j < data.MbrLngInputs; ++j) std::fprintf(file, "%.15g ", row[j]);
    std::fputs("  [", file);
    for (const kartlo::TLabel& label : data.GetLabels(r)->labels)
      std::fprintf(file, "%s ", label.text.c_str());
    std::fputs("] \n", file);
  }
  std::fputs("[~Data]\n\n[~DataSet]\n", file);
}

// --- Cases -------------------------------------------------------------------------------------

void ReadKartlo(benchmark::State& state) {
  const Sample& sample = GetSample();
  FileTools tools;
  for (auto _ : state) {
    TextBuffer buffer(sample.text);
    std::istream in(&buffer);
    std::unique_ptr<Data> expected;
    std::unique_ptr<Data> generated;
    if (tools.ReadDataSets(in, expected, generated) != FileTools::kSuccess) {
      state.SkipWithError("the sample does not read back");
      return;
    }
    benchmark::DoNotOptimize(expected->InputRowPtr(kRows - 1));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(sample.text.size()));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(ReadKartlo)->Unit(benchmark::kMillisecond);

void ReadScanf(benchmark::State& state) {
  const Sample& sample = GetSample();
  std::vector<double> inputs;
  for (auto _ : state) {
    FILE* file = fmemopen(const_cast<char*>(sample.text.data()), sample.text.size(), "r");
    const bool ok = ScanfRead(file, inputs);
    std::fclose(file);
    if (!ok || inputs.size() != static_cast<std::size_t>(kRows) * kInputs ||
        inputs.back() != sample.data->InputRowPtr(kRows - 1)[kInputs - 1]) {
      state.SkipWithError("the scanf reader does not read the sample");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(sample.text.size()));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(ReadScanf)->Unit(benchmark::kMillisecond);

void WriteKartlo(benchmark::State& state) {
  const Sample& sample = GetSample();
  FileTools tools;
  std::ofstream out("/dev/null", std::ios::binary);
  for (auto _ : state) {
    if (tools.WriteDataSet(out, sample.data.get(), nullptr) != FileTools::kSuccess) {
      state.SkipWithError("writing failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(sample.text.size()));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(WriteKartlo)->Unit(benchmark::kMillisecond);

void WritePrintf(benchmark::State& state) {
  const Sample& sample = GetSample();
  {
    // The baseline writes exactly the bytes FileTools writes.
    char* text = nullptr;
    std::size_t size = 0;
    FILE* memory = open_memstream(&text, &size);
    PrintfWrite(memory, *sample.data);
    std::fclose(memory);
    const bool same = std::string(text, size) == sample.text;
    std::free(text);
    if (!same) {
      state.SkipWithError("the printf writer's bytes differ");
      return;
    }
  }
  FILE* file = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    PrintfWrite(file, *sample.data);
    std::fflush(file);
  }
  std::fclose(file);
  state.SetBytesProcessed(state.iterations() * static_cast<long>(sample.text.size()));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(WritePrintf)->Unit(benchmark::kMillisecond);

}  // namespace
