#include "search/equation_candidates.h"

#include <algorithm>
#include <cmath>

namespace odefit::search {
namespace {

// An equation's simpler candidate stands in for a better one when its
// held-out error is at most this much larger.
constexpr double kEquationTolerance = 0.02;

// The simpler of two shapes with as many terms: polynomials before the
// special families, lower orders first.
int Simplicity(const EquationSpec& s) {
  int rank = 0;
  switch (s.family) {
    case ModelFamily::StandardPolynomial: rank = 0; break;
    case ModelFamily::ReducedPolynomial: rank = 1; break;
    case ModelFamily::DrivenPolynomial: rank = 2; break;
    case ModelFamily::Rational: rank = 3; break;
  }
  return (rank * 64 + s.order) * 64 + s.secondOrder;
}

}  // namespace

void Simplify(EquationCandidate& c) {
  ModelEquation& eq = c.equation;
  const auto kept = [&](int from, int to) {
    return std::any_of(c.support.begin(), c.support.end(), [&](int j) { return j >= from && j < to; });
  };
  if (eq.family == ModelFamily::DrivenPolynomial && !kept(eq.nterms - 2, eq.nterms)) {
    c.spec = EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
    eq.family = ModelFamily::StandardPolynomial;
    eq.nterms -= 2;
    eq.coef.resize(Size(eq.nterms));
    eq.standardErrors.resize(Size(eq.nterms));
    eq.period = eq.we = eq.wdt = 0.0;
  } else if (eq.family == ModelFamily::Rational && !kept(eq.nnum, eq.nterms)) {
    c.spec = EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
    eq.family = ModelFamily::StandardPolynomial;
    eq.nterms = eq.nnum;
    eq.coef.resize(Size(eq.nterms));
    eq.standardErrors.resize(Size(eq.nterms));
    eq.mu = eq.nnum = eq.nden = 0;
  }
}

const EquationCandidate* PickEquation(const std::vector<EquationCandidate>& options, std::optional<ModelFamily> family) {
  const auto eligible = [&](const EquationCandidate& c) { return !family || c.spec.family == *family; };
  const EquationCandidate* best = nullptr;
  for (const EquationCandidate& c : options) {
    if (eligible(c) && std::isfinite(c.error) && (!best || c.error < best->error)) best = &c;
  }
  if (!best) return nullptr;
  const EquationCandidate* pick = best;
  for (const EquationCandidate& c : options) {
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
