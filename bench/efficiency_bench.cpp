// The efficiency test's inner loop: RK-4 intervals of a D = 3, order-5
// polynomial model (56 terms per equation) and single evaluations of the
// model's right-hand side, next to a hand-written loop that evaluates the same
// polynomials with the same coefficients.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <vector>

#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "model/model_table.h"
#include "model/monomials.h"

namespace {

constexpr int kD = 3;
constexpr int kOrder = 5;
constexpr int kTerms = 56;

// A stable-looking model: small coefficients, a linear decay on the diagonal.
void SetUpModel() {
  odefit::ModelTable& table = odefit::GlobalModelTable();
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
}

// The same polynomials, every monomial formed from scratch in a plain loop over the exponent tuples.
struct HandWritten {
  std::vector<std::array<int, kD>> exponents;
  HandWritten() {
    for (int degree = 0; degree <= kOrder; ++degree) {
      for (int a = degree; a >= 0; --a) {
        for (int b = degree - a; b >= 0; --b) exponents.push_back({a, b, degree - a - b});
      }
    }
  }
  void operator()(std::span<const double> Y, std::span<double> DY) const {
    const auto& table = odefit::GlobalModelTable();
    std::array<double, kTerms> terms{};
    for (std::size_t k = 0; k < exponents.size(); ++k) {
      double t = 1.0;
      for (int v = 0; v < kD; ++v) {
        for (int p = 0; p < exponents[k][static_cast<std::size_t>(v)]; ++p) t *= Y[static_cast<std::size_t>(v)];
      }
      terms[k] = t;
    }
    for (int i = 1; i <= kD; ++i) {
      double sum = 0.0;
      for (int k = 0; k < kTerms; ++k) sum += table.Equation(i).coef[static_cast<std::size_t>(k)] * terms[static_cast<std::size_t>(k)];
      DY[static_cast<std::size_t>(i - 1)] = sum;
    }
  }
};

void BM_ModelRhs(benchmark::State& state) {
  SetUpModel();
  std::vector<double> Y = {0.3, -0.2, 0.1}, DY(kD);
  for (auto _ : state) {
    odefit::ModelRhs(kD, 1.0, Y, DY);
    benchmark::DoNotOptimize(DY.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ModelRhs);

void BM_HandWrittenPolynomial(benchmark::State& state) {
  SetUpModel();
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
  SetUpModel();
  std::vector<double> Y = {0.3, -0.2, 0.1}, work(5 * kD);
  double T = 0.0;
  for (auto _ : state) {
    odefit::Rk4Integrate(odefit::ModelRhs, kD, std::span<double>(Y), T, T + 0.01, 0.01, work);
    benchmark::DoNotOptimize(Y.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Rk4Intervals);

}  // namespace
