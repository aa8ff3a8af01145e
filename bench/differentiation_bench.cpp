// Differentiation of a long series, and the parts of its per-window cost.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "derivatives/differentiation.h"
#include "numerics/error_stack.h"
#include "numerics/householder.h"

namespace {

// A smooth oscillation with a little noise, N samples.
const std::vector<double>& Series(int n) {
  static std::vector<double> x;
  if (static_cast<int>(x.size()) != n) {
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 1e-3);
    x.resize(n);
    for (int i = 0; i < n; ++i) x[i] = std::sin(0.01 * i) + 0.3 * std::cos(0.037 * i) + noise(gen);
  }
  return x;
}

// The whole routine: one factorisation and N - m + 1 window solves.
void BM_DifferentiateSeries(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int m = static_cast<int>(state.range(1));
  const std::vector<double>& x = Series(n);
  std::vector<double> v(n - m + 1), g(n - m + 1);
  for (auto _ : state) {
    odefit::DifferentiateSeries(x, n, m, 1, 0.01, v, g);
    benchmark::DoNotOptimize(g.data());
  }
  state.SetItemsProcessed(state.iterations() * (n - m + 1));
}
BENCHMARK(BM_DifferentiateSeries)->Args({1000000, 5})->Unit(benchmark::kMillisecond);

// One window solve (the solution alone) on the factored 5 x 2 design matrix.
void BM_WindowSolve(benchmark::State& state) {
  const int m = 5;
  std::vector<double> qr(2 * m);
  for (int r = 0; r < m; ++r) {
    qr[r] = 1.0;
    qr[m + r] = r - 2;
  }
  std::vector<int> order(2, 0);
  std::vector<double> scalars(2), norms(2);
  odefit::DLQRRR(m, 2, qr, m, 1, order, qr, m, scalars, norms);
  const std::vector<double> x = {0.31, 0.42, 0.40, 0.55, 0.61};
  std::vector<double> qty(m), solution(2);
  constexpr odefit::SolveOutputs kSolution{.solution = true};
  for (auto _ : state) {
    odefit::DLQRSL(m, 2, qr, m, scalars, x, kSolution, {}, qty, solution, {}, {});
    benchmark::DoNotOptimize(solution.data());
  }
}
BENCHMARK(BM_WindowSolve);

// The name registration every solve makes on entry and exit.
void BM_ErrorStackPushPop(benchmark::State& state) {
  for (auto _ : state) {
    odefit::RoutineScope routine("DLQRSL ");
  }
}
BENCHMARK(BM_ErrorStackPushPop);

}  // namespace
