#pragma once

#include <iosfwd>

#include "FileHandler/FileTools.h"
#include "NeuralNets/TBasicConnections.h"

namespace kartlo {

/// Counts the arcs a matrix visits.
class TIterateObjCount : public TIterateObj {
 public:
  void Visit() override;
  int count = 0;
};

/// Writes each visited arc as «[From=i To=j Weight=w Trainable ]», the mark only when asked for.
class TIterateObjSaveWeights : public TIterateObj {
 public:
  TIterateObjSaveWeights(FileTools& tools, std::ostream& out, bool writeTrainable,
                         int precision)
      : tools(&tools), out(&out), writeTrainable(writeTrainable), precision(precision) {}
  void Visit() override;

  FileTools* tools;
  std::ostream* out;
  /// Whether each bracket ends with Trainable or UnTrainable (pruneable matrices).
  bool writeTrainable;
  /// Digits after the point of the weight.
  int precision;
};

}  // namespace kartlo
