#include "search/equation_candidates.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/equation_shape.h"
#include "model/model_family.h"

namespace odefit::search {
namespace {

// An equation's simpler candidate stands in for a better one when its
// held-out error is at most this much larger.
constexpr double kEquationTolerance = 0.02;

// The simpler of two shapes with as many terms: polynomials before the
// special families, lower orders first.
int Simplicity(const EquationSpec& s) {
  const int rank = FamilyOf(s.family).simplicity;
  return (rank * 64 + s.order) * 64 + s.secondOrder;
}

// The exponents of the monomials of degree 0..n in D variables, in the
// order of the fitted coefficients (see model/monomials.h).
std::vector<std::vector<int>> MonomialExponents(int n, int D) {
  std::vector<std::vector<int>> exponents;
  for (int f = 0; f <= n; ++f) {
    std::vector<int> tuple(Size(f), 0);  // non-decreasing indices 0..D-1
    while (true) {
      std::vector<int> e(Size(D), 0);
      for (const int i : tuple) ++e[Size(i)];
      exponents.push_back(std::move(e));
      int k = f - 1;
      while (k >= 0 && tuple[Size(k)] == D - 1) --k;
      if (k < 0) break;
      const int v = tuple[Size(k)] + 1;
      for (int j = k; j < f; ++j) tuple[Size(j)] = v;
    }
  }
  return exponents;
}

}  // namespace

bool HasCommonFactor(const EquationCandidate& c, int D, std::span<const double> scale) {
  const ModelEquation& eq = c.equation;
  if (eq.family != ModelFamily::Rational || eq.nu < eq.mu) return false;
  const std::vector<std::vector<int>> numerator = MonomialExponents(eq.nu, D);
  const std::vector<std::vector<int>> denominator = MonomialExponents(eq.mu, D);
  // The denominator's degree as kept (a sparse fit may have dropped its top terms).
  int degree = 0;
  for (int j = 1; j <= eq.nden; ++j) {
    if (eq.coef[Size(eq.nnum + j - 1)] == 0.0) continue;
    int d = 0;
    for (const int e : denominator[Size(j)]) d += e;
    degree = std::max(degree, d);
  }
  if (degree == 0) return false;
  const std::vector<std::vector<int>> quotient = MonomialExponents(eq.nu - degree, D);
  const auto index = [&](const std::vector<int>& e) {
    return static_cast<int>(std::find(numerator.begin(), numerator.end(), e) - numerator.begin());
  };
  const auto size = [&](const std::vector<int>& e) {
    double s = 1.0;
    for (int i = 0; i < D; ++i) s *= std::pow(scale[Size(i)] > 0.0 ? scale[Size(i)] : 1.0, e[Size(i)]);
    return s;
  };
  const int rows = eq.nnum, cols = static_cast<int>(quotient.size());
  // M(:, k): monomial k of the quotient times the denominator 1 + d.u, in
  // the numerator's places, each row weighed by its monomial's size.
  std::vector<double> M(Size(rows) * Size(cols), 0.0), y(Size(rows));
  for (int r = 0; r < rows; ++r) y[Size(r)] = eq.coef[Size(r)] * size(numerator[Size(r)]);
  for (int k = 0; k < cols; ++k) {
    for (int j = 0; j <= eq.nden; ++j) {
      const double d = j == 0 ? 1.0 : eq.coef[Size(eq.nnum + j - 1)];
      if (d == 0.0) continue;
      std::vector<int> e = quotient[Size(k)];
      for (int i = 0; i < D; ++i) e[Size(i)] += denominator[Size(j)][Size(i)];
      const int r = index(e);
      M[Size(r) + Size(k) * Size(rows)] += d * size(e);
    }
  }
  // Least squares by the normal equations (a few columns, each with a 1 of
  // its own: well conditioned).
  std::vector<long double> A(Size(cols) * Size(cols + 1), 0.0L);
  const auto a = [&](int i, int j) -> long double& { return A[Size(i) * Size(cols + 1) + Size(j)]; };
  for (int i = 0; i < cols; ++i) {
    for (int j = 0; j < cols; ++j) {
      for (int r = 0; r < rows; ++r) a(i, j) += static_cast<long double>(M[Size(r) + Size(i) * Size(rows)]) * M[Size(r) + Size(j) * Size(rows)];
    }
    for (int r = 0; r < rows; ++r) a(i, cols) += static_cast<long double>(M[Size(r) + Size(i) * Size(rows)]) * y[Size(r)];
  }
  for (int c0 = 0; c0 < cols; ++c0) {
    int pivot = c0;
    for (int i = c0 + 1; i < cols; ++i) {
      if (std::fabs(a(i, c0)) > std::fabs(a(pivot, c0))) pivot = i;
    }
    if (a(pivot, c0) == 0.0L) return false;
    for (int j = 0; j <= cols; ++j) std::swap(a(c0, j), a(pivot, j));
    for (int i = 0; i < cols; ++i) {
      if (i == c0) continue;
      const long double f = a(i, c0) / a(c0, c0);
      for (int j = c0; j <= cols; ++j) a(i, j) -= f * a(c0, j);
    }
  }
  double residual = 0.0, norm = 0.0;
  for (int r = 0; r < rows; ++r) {
    double v = 0.0;
    for (int k = 0; k < cols; ++k) v += M[Size(r) + Size(k) * Size(rows)] * static_cast<double>(a(k, cols) / a(k, k));
    residual += (v - y[Size(r)]) * (v - y[Size(r)]);
    norm += y[Size(r)] * y[Size(r)];
  }
  return norm > 0.0 && residual <= 1e-4 * norm;
}

void Simplify(EquationCandidate& c, int D) {
  const std::optional<EquationSpec> simpler = FamilyOf(c.equation.family).SimplerShape(c.equation, c.support);
  if (!simpler) return;
  // Its terms are the first ones: the coefficients and errors keep their places.
  ModelEquation eq = EquationShape(*simpler, D, 1.0);
  const auto first = static_cast<std::ptrdiff_t>(eq.nterms);
  eq.coef.assign(c.equation.coef.begin(), c.equation.coef.begin() + first);
  eq.standardErrors.assign(c.equation.standardErrors.begin(), c.equation.standardErrors.begin() + first);
  eq.error = c.equation.error;
  eq.condition = c.equation.condition;
  c.spec = *simpler;
  c.equation = std::move(eq);
}

const EquationCandidate* PickEquation(const std::vector<const EquationCandidate*>& options,
                                      std::optional<ModelFamily> family) {
  const auto eligible = [&](const EquationCandidate& c) { return !family || c.spec.family == *family; };
  const EquationCandidate* best = nullptr;
  for (const EquationCandidate* option : options) {
    const EquationCandidate& c = *option;
    if (eligible(c) && std::isfinite(c.error) && (!best || c.error < best->error)) best = &c;
  }
  if (!best) return nullptr;
  const EquationCandidate* pick = best;
  for (const EquationCandidate* option : options) {
    const EquationCandidate& c = *option;
    if (!eligible(c)) continue;
    if (!(c.error <= best->error * (1.0 + kEquationTolerance) + 1e-300)) continue;
    if (c.support.size() != pick->support.size()) {
      if (c.support.size() < pick->support.size()) pick = &c;
    } else if (Simplicity(c.spec) != Simplicity(pick->spec)) {
      if (Simplicity(c.spec) < Simplicity(pick->spec)) pick = &c;
    } else if (c.error < pick->error) {
      pick = &c;
    }
  }
  return pick;
}

std::string CandidateKey(const std::vector<const EquationCandidate*>& picks) {
  std::string key;
  for (const EquationCandidate* c : picks) {
    key += std::to_string(static_cast<int>(c->spec.family)) + ":" + std::to_string(c->spec.order) + ":" +
           std::to_string(c->spec.secondOrder) + ":" + std::to_string(c->spec.period) + "[";
    for (const int j : c->support) key += std::to_string(j) + ",";
    key += "]";
  }
  return key;
}

}  // namespace odefit::search
