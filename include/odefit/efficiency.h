#pragma once
// The efficiency test: how long a model predicts held-out data well.

#include <iosfwd>
#include <vector>

#include "odefit/cancellation.h"
#include "odefit/integration.h"
#include "odefit/model.h"
#include "odefit/series.h"

namespace odefit {

struct EfficiencySettings {
  int length = 500;  // sampling intervals per test piece (Ltest)
  int pieces = 5;    // number of test pieces (Ktest)
  int shift = 100;   // vectors between the starts of consecutive pieces (Stest)
  IntegrationMethod method = IntegrationMethod::RungeKutta4;
  double step = 0.0;  // integration step; 0 means the model's dt
  int threads = 1;    // threads for the pieces (0: one per hardware thread); any count gives the same result
  const CancellationToken* cancel = nullptr;
};

struct EfficiencyResult {
  int dimension = 0;
  int length = 0;
  // Error of approximation of every equation on the differentiated test series.
  std::vector<double> testErrors;
  // Normalised prediction error of variable i at lead time j (1..length),
  // at [(j - 1) * dimension + i - 1].
  std::vector<double> predictionError;
  // Lead times (in sampling intervals) for which each variable's normalised
  // error stays at or below 0.05.
  std::vector<int> predictionTime;
  int infiniteCount = 0;  // pieces whose prediction ran out of bounds or failed
};

// Checks the arguments of TestModel as it does before it computes anything,
// with the same messages. Throws InvalidArgument.
void CheckEfficiencySettings(const Model& model, const Series& test, const EfficiencySettings& settings);

// Differentiates `test` with the model's points (test vector 0 is the
// vector after the model's training series, sample train + 1), then predicts
// from the start of every piece and compares with the smoothed test series.
// Needs (pieces - 1) * shift + length + points vectors. Throws
// InvalidArgument for impossible settings, NumericalError, Cancelled. A
// prediction the RK-5,6 solver cannot continue counts as infinite; its
// message goes to `messages` when given.
EfficiencyResult TestModel(const Model& model, const Series& test, const EfficiencySettings& settings,
                           std::ostream* messages = nullptr);

}  // namespace odefit
