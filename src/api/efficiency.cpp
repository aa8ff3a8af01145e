#include "odefit/efficiency.h"

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>

#include "api/numerical_errors.h"
#include "api/times.h"
#include "integration/efficiency_test.h"
#include "integration/model_rhs.h"
#include "model/model_fit.h"
#include "odefit/differentiation.h"
#include "odefit/errors.h"
#include "odefit/fit.h"

namespace odefit {

void CheckEfficiencySettings(const Model& model, const Series& test, const EfficiencySettings& settings) {
  ValidateModel(model);
  const int D = model.Dimension();
  if (test.dimension != D) {
    throw InvalidArgument("the test series has " + std::to_string(test.dimension) + " components, the model " +
                          std::to_string(D));
  }
  if (model.points < 2) throw InvalidArgument("the model does not say how many points its fit used");
  if (settings.length < 1 || settings.pieces < 1 || settings.shift < 1) {
    throw InvalidArgument("the length, number and shift of the test pieces must be positive");
  }
  const int method = static_cast<int>(settings.method);
  if (method < 1 || method > 3) throw InvalidArgument("unknown integration method");
  const double h = settings.step == 0.0 ? model.dt : settings.step;
  if (!(h > 0.0) || !std::isfinite(h) || model.dt / h > 100000.0) {
    throw InvalidArgument("the integration step must be positive and take at most 100000 steps per interval");
  }
  const long long needed =
      (static_cast<long long>(settings.pieces) - 1) * settings.shift + settings.length + model.points;
  if (needed > static_cast<long long>(test.size())) {
    throw InvalidArgument("the test needs " + std::to_string(needed) + " vectors ((pieces - 1) * shift + length + " +
                          "points), the test series has " + std::to_string(test.size()));
  }
  if (test.values.size() != test.size() * static_cast<std::size_t>(D)) {
    throw InvalidArgument("the test series must hold whole vectors");
  }
  const double t0 = (model.train + 1.0) * model.dt;
  CheckTimes(t0, t0 + static_cast<double>(needed) * model.dt, model.dt, h);
}

EfficiencyResult TestModel(const Model& model, const Series& test, const EfficiencySettings& settings,
                           std::ostream* messages) {
  CheckEfficiencySettings(model, test, settings);
  const int D = model.Dimension();
  const double h = settings.step == 0.0 ? model.dt : settings.step;
  const int method = static_cast<int>(settings.method);
  const long long needed =
      (static_cast<long long>(settings.pieces) - 1) * settings.shift + settings.length + model.points;
  const std::span<const double> raw =
      std::span<const double>(test.values).first(static_cast<std::size_t>(needed) * static_cast<std::size_t>(D));
  const Derivatives derivatives = Differentiate(raw, D, model.points, model.dt);
  const int ntest = derivatives.rows;

  EfficiencyResult result;
  result.dimension = D;
  result.length = settings.length;
  result.testErrors = ApproximationErrors(model, derivatives, model.train + 1, settings.threads);
  result.predictionError.resize(static_cast<std::size_t>(D) * static_cast<std::size_t>(settings.length));
  result.predictionTime.resize(static_cast<std::size_t>(D));

  TestRunSettings run;
  run.D = D;
  run.Ltest = settings.length;
  run.Ktest = settings.pieces;
  run.Stest = settings.shift;
  run.method = method;
  run.h = h;
  run.dt = model.dt;
  run.t0 = (model.train + 1) * model.dt;
  run.threads = settings.threads;
  run.cancel = settings.cancel;
  const ModelRightHandSide rhs(model);
  std::ostringstream printed;
  api::RunNumericalInto(printed, [&] {
    EfficiencyTest(derivatives.states, ntest, run, rhs, result.predictionError, result.predictionTime,
                   result.infiniteCount);
  });
  if (messages != nullptr) *messages << printed.str();
  return result;
}

}  // namespace odefit
