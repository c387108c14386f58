#pragma once

#include "KQmessage/KQML.h"

namespace kartlo {

/// Accumulates, row by row, how far outputs lie from their targets and
/// reports one figure for all rows seen.
class TErrorObj {
 public:
  explicit TErrorObj(int numOutputs);
  /// Virtual so that a measure can be deleted through a base pointer.
  virtual ~TErrorObj();

  /// Forgets all rows: count = 0, sum = 0.0.
  virtual void Reset() = 0;
  /// Adds one row of numOutputs target and output values.
  virtual void Accumulate(const double* target, const double* output) = 0;
  virtual double GetError() const = 0;
  /// Adds the weight penalty chosen by `params` (null: none) to the sum.
  virtual void AddPenalty(int numWeights, const double* weights, const TKQstructure* params) = 0;

  /// The penalty named by the head word of `params`: null or "NONE" give 0.0;
  /// "QUADPENALTY" reads EPSILON1 (0.0), EPSILON2 (0.0), BETA (1.0) and scales
  /// each term by `scale`; "LWF" reads LEARNINGRATE and FORGETTINGRATE (0.0
  /// when absent). Any other head word fails the assertion "false". A keyword
  /// value that is not a number throws TKQstructure::Error.
  double Penalty(int numWeights, const double* weights, const TKQstructure* params,
                 double scale) const;

  int numOutputs;
  int count = 0;
};

/// Root-mean-square error; penalties are added into the sum before the root.
class TErrorRMSObj : public TErrorObj {
 public:
  explicit TErrorRMSObj(int numOutputs);

  void Reset() override;
  void Accumulate(const double* target, const double* output) override;
  /// sqrt(sum / numOutputs / count); 0.0 when count or numOutputs is 0.
  double GetError() const override;
  void AddPenalty(int numWeights, const double* weights, const TKQstructure* params) override;

  double sum = 0.0;
};

/// Cross-entropy error with natural logarithms; GetError is the plain sum.
/// An output y is never passed to a logarithm outside (0, 1): y == 1.0 costs 0
/// for a target of 1.0 and 1.0e6 otherwise; y == 0.0 likewise costs 0 for a
/// target of 0.0 and 1.0e6 otherwise; y below 0, above 1 or NaN costs 1.0e6.
class TErrorCrossEntropyObj : public TErrorObj {
 public:
  explicit TErrorCrossEntropyObj(int numOutputs);

  void Reset() override;
  void Accumulate(const double* target, const double* output) override;
  double GetError() const override;
  void AddPenalty(int numWeights, const double* weights, const TKQstructure* params) override;

  double sum = 0.0;
};

}  // namespace kartlo
