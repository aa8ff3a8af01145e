// The sparse fit against the full fit on one design: 200 000 Lorenz vectors
// (dt = 0.001, 1 % noise), poly:6 (84 terms) for all three equations, the
// whole FitModel (differentiation, fold, solve, errors), on 1 and 2 threads.
// `fit --threshold 0` keeps every term, so both fold the same rows with the
// same kernels; the goal is the sparse fit within 1.5 times the full one,
// with the same condition (the counter "condition" of equation 1).

#include <benchmark/benchmark.h>

#include "../tests/support/generated_systems.h"
#include "odefit/fit.h"

namespace {

const odefit::Series& Lorenz200k() {
  static const odefit::Series series = odefit::testing::Lorenz(0.001, 200000, 0.01);
  return series;
}

void FitLorenz(benchmark::State& state, bool sparse) {
  odefit::FitSettings settings;
  settings.dt = 0.001;
  settings.points = 3;
  settings.equations = {odefit::EquationSpec{odefit::ModelFamily::StandardPolynomial, 6}};
  settings.threads = static_cast<int>(state.range(0));
  if (sparse) settings.sparse = odefit::SparseOptions{0.0, false};
  double condition = 0.0;
  for (auto _ : state) {
    const odefit::Model model = odefit::FitModel(Lorenz200k(), settings);
    condition = model.Equation(1).condition;
    benchmark::DoNotOptimize(model.equations.data());
  }
  state.counters["condition"] = condition;
}

void BM_FullFitPoly6(benchmark::State& state) { FitLorenz(state, false); }
void BM_SparseFitPoly6Threshold0(benchmark::State& state) { FitLorenz(state, true); }
BENCHMARK(BM_FullFitPoly6)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SparseFitPoly6Threshold0)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
