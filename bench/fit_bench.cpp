// The least-squares fit of a large polynomial design matrix (1e5 rows, D = 6,
// order 3: 84 terms), whole and by parts, with a blocked library solver on
// the same matrix as the reference figure.

#include <benchmark/benchmark.h>
#include <cblas.h>
#include <lapacke.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "model/model_fit.h"
#include "model/monomials.h"
#include "numerics/householder.h"

namespace {

constexpr int kD = 6;
constexpr int kOrder = 3;
constexpr int kRows = 100000;
constexpr int kTerms = 84;

struct Problem {
  std::vector<double> states;  // kD x kRows, column-major
  std::vector<double> targets;
  std::vector<double> design;  // kRows x kTerms, column-major
};

// Smooth states (phase-shifted oscillations), targets a cubic of them plus noise.
const Problem& TheProblem() {
  static const Problem problem = [] {
    Problem p;
    std::mt19937 gen(2);
    std::normal_distribution<double> noise(0.0, 0.01);
    p.states.resize(static_cast<std::size_t>(kD) * kRows);
    for (int r = 0; r < kRows; ++r) {
      for (int e = 0; e < kD; ++e) {
        p.states[static_cast<std::size_t>(r) * kD + e] =
            std::sin(0.001 * r * (e + 1) + e) + 0.1 * noise(gen);
      }
    }
    p.targets.resize(kRows);
    p.design.resize(static_cast<std::size_t>(kRows) * kTerms);
    std::vector<double> row(kTerms);
    for (int r = 0; r < kRows; ++r) {
      odefit::FillMonomialTerms(
          std::span<const double>(p.states).subspan(static_cast<std::size_t>(r) * kD, kD), kD,
          kOrder, row);
      double y = noise(gen);
      for (int k = 0; k < kTerms; ++k) {
        y += (0.01 * k - 0.4) * row[k];
        p.design[r + static_cast<std::size_t>(k) * kRows] = row[k];
      }
      p.targets[r] = y;
    }
    return p;
  }();
  return problem;
}

// The whole fit as the model selection runs it: design matrix, factorisation,
// solve, error of approximation.
void BM_FitEquation(benchmark::State& state) {
  const Problem& p = TheProblem();
  std::vector<double> coef(kTerms);
  double err = 0.0;
  for (auto _ : state) {
    odefit::FitEquation(p.states, kD, kRows, p.targets, coef, kTerms, odefit::MonomialRoutine(),
                        kOrder, err);
    benchmark::DoNotOptimize(coef.data());
  }
  state.counters["err"] = err;
}
BENCHMARK(BM_FitEquation)->Unit(benchmark::kMillisecond);

// Part 1: the design matrix, row by row.
void BM_FitPartDesignMatrix(benchmark::State& state) {
  const Problem& p = TheProblem();
  std::vector<double> A(static_cast<std::size_t>(kRows) * kTerms), row(kTerms);
  for (auto _ : state) {
    for (int r = 0; r < kRows; ++r) {
      odefit::FillMonomialTerms(
          std::span<const double>(p.states).subspan(static_cast<std::size_t>(r) * kD, kD), kD,
          kOrder, row);
      for (int k = 0; k < kTerms; ++k) A[r + static_cast<std::size_t>(k) * kRows] = row[k];
    }
    benchmark::DoNotOptimize(A.data());
  }
}
BENCHMARK(BM_FitPartDesignMatrix)->Unit(benchmark::kMillisecond);

// Part 2: the unpivoted Householder factorisation (the copy of A is excluded).
void BM_FitPartFactorisation(benchmark::State& state) {
  const Problem& p = TheProblem();
  std::vector<double> A;
  std::vector<int> order(kTerms, 0);
  std::vector<double> scalars(kTerms), norms(kTerms);
  for (auto _ : state) {
    state.PauseTiming();
    A = p.design;
    state.ResumeTiming();
    odefit::DLQRRR(kRows, kTerms, A, kRows, 0, order, A, kRows, scalars, norms);
    benchmark::DoNotOptimize(A.data());
  }
}
BENCHMARK(BM_FitPartFactorisation)->Unit(benchmark::kMillisecond);

// Part 3: the solve with residuals (IPATH = 110) on a factored matrix.
void BM_FitPartSolve(benchmark::State& state) {
  const Problem& p = TheProblem();
  std::vector<double> A = p.design;
  std::vector<int> order(kTerms, 0);
  std::vector<double> scalars(kTerms), norms(kTerms);
  odefit::DLQRRR(kRows, kTerms, A, kRows, 0, order, A, kRows, scalars, norms);
  std::vector<double> coef(kTerms), residual(kRows), scratch(kRows);
  for (auto _ : state) {
    odefit::DLQRSL(kRows, kTerms, A, kRows, scalars, p.targets, 110, scratch, scratch, coef,
                   residual, scratch);
    benchmark::DoNotOptimize(residual.data());
  }
}
BENCHMARK(BM_FitPartSolve)->Unit(benchmark::kMillisecond);

// Reference: the blocked QR least-squares driver on the same matrix and
// right-hand side (the copies are excluded), with the given thread count.
void BM_ReferenceDgels(benchmark::State& state) {
  openblas_set_num_threads(static_cast<int>(state.range(0)));
  const Problem& p = TheProblem();
  std::vector<double> A, b;
  for (auto _ : state) {
    state.PauseTiming();
    A = p.design;
    b = p.targets;
    state.ResumeTiming();
    const lapack_int info =
        LAPACKE_dgels(LAPACK_COL_MAJOR, 'N', kRows, kTerms, 1, A.data(), kRows, b.data(), kRows);
    if (info != 0) state.SkipWithError("dgels failed");
    benchmark::DoNotOptimize(b.data());
  }
}
BENCHMARK(BM_ReferenceDgels)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
