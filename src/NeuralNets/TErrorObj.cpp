#include "NeuralNets/TErrorObj.h"

#include <cmath>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"

namespace kartlo {

namespace {

/// The number held by `key`, or `fallback` when the keyword is absent.
double ReadNumber(const TKQstructure& params, const char* key, double fallback) {
  const TKQstructure* value = params.Find(key);
  return value != nullptr ? KQToNumber(value->GetHead()) : fallback;
}

/// Cost of an output a logarithm cannot take.
constexpr double kUnreachableCost = 1.0e6;

}  // namespace

TErrorObj::TErrorObj(int outputs) : numOutputs(outputs) {}

TErrorObj::~TErrorObj() = default;

double TErrorObj::Penalty(int numWeights, const double* weights, const TKQstructure* params,
                          double scale) const {
  if (params == nullptr) return 0.0;
  const char* kind = params->GetHead();
  if (strcasecmp(kind, "NONE") == 0) return 0.0;
  if (strcasecmp(kind, "QUADPENALTY") == 0) {
    const double epsilon1 = ReadNumber(*params, "EPSILON1", 0.0);
    const double epsilon2 = ReadNumber(*params, "EPSILON2", 0.0);
    const double beta = ReadNumber(*params, "BETA", 1.0);
    double total = 0.0;
    for (int i = 0; i < numWeights; ++i) {
      const double q = weights[i] * weights[i];
      const double term = (epsilon1 * beta * q) / (beta * q + 1) + epsilon2 * q;
      total += scale * term;
    }
    return total;
  }
  if (strcasecmp(kind, "LWF") == 0) {
    double total = 0.0;
    for (int i = 0; i < numWeights; ++i) total += std::fabs(weights[i]);
    const double learningRate = ReadNumber(*params, "LEARNINGRATE", 0.0);
    const double forgettingRate = ReadNumber(*params, "FORGETTINGRATE", 0.0);
    return learningRate * forgettingRate * total;
  }
  KARTLO_ASSERT(false);
  return 0.0;
}

TErrorRMSObj::TErrorRMSObj(int outputs) : TErrorObj(outputs) {}

void TErrorRMSObj::Reset() {
  count = 0;
  sum = 0.0;
}

void TErrorRMSObj::Accumulate(const double* target, const double* output) {
  for (int i = 0; i < numOutputs; ++i) {
    const double d = target[i] - output[i];
    sum += d * d;
  }
  ++count;
}

double TErrorRMSObj::GetError() const {
  if (count == 0 || numOutputs == 0) return 0.0;
  return std::sqrt(sum / numOutputs / count);
}

void TErrorRMSObj::AddPenalty(int numWeights, const double* weights,
                              const TKQstructure* params) {
  sum += Penalty(numWeights, weights, params, 1.0);
}

TErrorCrossEntropyObj::TErrorCrossEntropyObj(int outputs) : TErrorObj(outputs) {}

void TErrorCrossEntropyObj::Reset() {
  count = 0;
  sum = 0.0;
}

void TErrorCrossEntropyObj::Accumulate(const double* target, const double* output) {
  for (int i = 0; i < numOutputs; ++i) {
    const double t = target[i];
    const double y = output[i];
    if (y == 1.0) {
      sum += t == 1.0 ? 0.0 : kUnreachableCost;
    } else if (y == 0.0) {
      sum += t == 0.0 ? 0.0 : kUnreachableCost;
    } else if (!(y > 0.0 && y < 1.0)) {
      sum += kUnreachableCost;  // below 0, above 1 or NaN
    } else {
      sum += -t * std::log(y) - (1 - t) * std::log(1 - y);
    }
  }
  ++count;
}

double TErrorCrossEntropyObj::GetError() const { return sum; }

void TErrorCrossEntropyObj::AddPenalty(int numWeights, const double* weights,
                                       const TKQstructure* params) {
  sum += Penalty(numWeights, weights, params, 1.0);
}

}  // namespace kartlo
