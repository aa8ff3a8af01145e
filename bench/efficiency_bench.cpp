// The efficiency test's inner loop: RK-4 intervals of a D = 3, order-5
// polynomial model (56 terms per equation) and single evaluations of the
// model's right-hand side, next to a hand-written evaluation of the same
// polynomials with the same coefficients; and the whole efficiency test (100
// pieces of 1000 intervals, RK-4) on one and on two threads.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <vector>

#include "integration/efficiency_test.h"
#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "odefit/model.h"
#include "model/monomials.h"

namespace {

constexpr int kD = 3;
constexpr int kOrder = 5;
constexpr int kTerms = 56;

// A stable-looking model: small coefficients, a linear decay on the diagonal.
const odefit::Model& BenchModel() {
  static const odefit::Model model = [] {
  odefit::Model table;
  table.dt = 0.01;
  table.equations.assign(kD, {});
  for (int i = 1; i <= kD; ++i) {
    odefit::ModelEquation& eq = table.Equation(i);
    eq.family = odefit::ModelFamily::StandardPolynomial;
    eq.nu = kOrder;
    eq.nterms = kTerms;
    eq.coef.assign(kTerms, 0.0);
    for (int k = 0; k < kTerms; ++k) eq.coef[static_cast<std::size_t>(k)] = 1e-3 * ((k * 7 + i) % 11 - 5);
    eq.coef[static_cast<std::size_t>(i)] = -1.0;
  }
  return table;
  }();
  return model;
}

// Reference: the same three polynomials written out by hand for D = 3 and
// order 5: the powers of each variable once, the 56 monomials once (in the
// model's term order) as products of those powers, then three dot products.
struct HandWritten {
  std::vector<std::array<int, kD>> exponents;  // of every term, in the model's order
  HandWritten() {
    std::vector<double> probe = {2.0, 3.0, 5.0}, terms(kTerms);
    odefit::FillMonomialTerms(probe, kD, kOrder, terms);
    for (double t : terms) {
      std::array<int, kD> e{};
      for (int v = 0; v < kD; ++v) {
        while (static_cast<long long>(t) % static_cast<long long>(probe[static_cast<std::size_t>(v)]) == 0 && t > 1.0) {
          t /= probe[static_cast<std::size_t>(v)];
          ++e[static_cast<std::size_t>(v)];
        }
      }
      exponents.push_back(e);
    }
  }
  void operator()(std::span<const double> Y, std::span<double> DY) const {
    const auto& table = BenchModel();
    std::array<std::array<double, kOrder + 1>, kD> powers;
    for (int v = 0; v < kD; ++v) {
      powers[v][0] = 1.0;
      for (int p = 1; p <= kOrder; ++p) powers[v][p] = powers[v][p - 1] * Y[static_cast<std::size_t>(v)];
    }
    std::array<double, kTerms> terms;
    for (std::size_t k = 0; k < kTerms; ++k) {
      terms[k] = powers[0][exponents[k][0]] * powers[1][exponents[k][1]] * powers[2][exponents[k][2]];
    }
    for (int i = 1; i <= kD; ++i) {
      const double* c = table.Equation(i).coef.data();
      double sum = 0.0;
      for (int k = 0; k < kTerms; ++k) sum += c[k] * terms[static_cast<std::size_t>(k)];
      DY[static_cast<std::size_t>(i - 1)] = sum;
    }
  }
};

void BM_ModelRhs(benchmark::State& state) {
  const odefit::Model& model = BenchModel();
  std::vector<double> Y = {0.3, -0.2, 0.1}, DY(kD);
  for (auto _ : state) {
    odefit::ModelRhs(model, kD, 1.0, Y, DY);
    benchmark::DoNotOptimize(DY.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ModelRhs);

void BM_HandWrittenPolynomial(benchmark::State& state) {
  const HandWritten rhs;
  std::vector<double> Y = {0.3, -0.2, 0.1}, DY(kD);
  for (auto _ : state) {
    rhs(Y, DY);
    benchmark::DoNotOptimize(DY.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandWrittenPolynomial);

void BM_Rk4Intervals(benchmark::State& state) {
  const odefit::ModelRightHandSide rhs(BenchModel());
  std::vector<double> Y = {0.3, -0.2, 0.1}, work(5 * kD);
  double T = 0.0;
  for (auto _ : state) {
    odefit::Rk4Integrate(rhs, kD, std::span<double>(Y), T, T + 0.01, 0.01, work);
    benchmark::DoNotOptimize(Y.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Rk4Intervals);

// The whole test: 100 pieces of 1000 RK-4 intervals, Stest = 1000, with the
// given number of threads.
void BM_EfficiencyTest(benchmark::State& state) {
  const odefit::ModelRightHandSide rhs(BenchModel());
  constexpr int kPieces = 100, kLength = 1000;
  odefit::TestRunSettings run;
  run.D = kD;
  run.Ltest = kLength;
  run.Ktest = kPieces;
  run.Stest = kLength;
  run.method = 2;
  run.h = 0.01;
  run.dt = 0.01;
  run.t0 = 0.01;
  run.threads = static_cast<int>(state.range(0));
  const int ntest = (kPieces - 1) * kLength + kLength + 1;
  std::vector<double> series(static_cast<std::size_t>(kD) * ntest);
  for (int n = 0; n < ntest; ++n) {
    for (int i = 0; i < kD; ++i) series[static_cast<std::size_t>(n) * kD + i] = 0.5 * std::sin(0.01 * n * (i + 1) + i);
  }
  std::vector<double> error(static_cast<std::size_t>(kD) * kLength);
  std::vector<int> time(kD);
  int infinite = 0;
  for (auto _ : state) {
    odefit::EfficiencyTest(series, ntest, run, rhs, error, time, infinite);
    benchmark::DoNotOptimize(error.data());
  }
  state.counters["time1"] = time[0];
  state.SetItemsProcessed(state.iterations() * kPieces * kLength);
}
BENCHMARK(BM_EfficiencyTest)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
