#include "odefit/doubts.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "model/monomials.h"
#include "odefit/errors.h"
#include "odefit/model_text.h"
#include "odefit/number_text.h"

namespace odefit {
namespace {

std::string EquationName(const Model& model, int i) {
  return "equation " + std::to_string(i) + " (d" + VariableName(model, i) + "/dt)";
}

// Whether equation i says dx_i/dt = 0 where its derivative estimates are not
// all 0 (known from the training slopes, else from a defined error of
// approximation, which constant estimates lack).
bool KeepsNoTerm(const Model& model, int i, const Derivatives* training) {
  const ModelEquation& eq = model.Equation(i);
  // A rational with a zero numerator is 0 whatever its denominator.
  const std::size_t first = eq.family == ModelFamily::Rational ? static_cast<std::size_t>(eq.nnum) : eq.coef.size();
  const bool zero = std::all_of(eq.coef.begin(), eq.coef.begin() + static_cast<std::ptrdiff_t>(first),
                                [](double c) { return c == 0.0; });
  if (!zero) return false;
  if (training == nullptr) return !std::isnan(eq.error);
  const std::size_t D = static_cast<std::size_t>(training->dimension);
  for (std::size_t k = static_cast<std::size_t>(i - 1); k < training->slopes.size(); k += D) {
    if (training->slopes[k] != 0.0) return true;
  }
  return false;
}

// The values of 1 + denominator of a rational equation at every training state.
std::vector<double> DenominatorValues(const ModelEquation& eq, const Derivatives& training) {
  const int D = training.dimension;
  std::vector<double> terms(static_cast<std::size_t>(eq.nden) + 1);
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(training.rows));
  for (int r = 0; r < training.rows; ++r) {
    const std::span<const double> x(training.states.data() + static_cast<std::size_t>(r) * D,
                                    static_cast<std::size_t>(D));
    MonomialTerms(x, D, eq.mu, terms);
    double q = 1.0;
    for (int k = 0; k < eq.nden; ++k) q += eq.coef[static_cast<std::size_t>(eq.nnum + k)] * terms[k + 1];
    values.push_back(q);
  }
  return values;
}

std::string PoleDoubt(const Model& model, int i, const Derivatives& training) {
  const std::vector<double> q = DenominatorValues(model.Equation(i), training);
  if (q.empty()) return {};
  const bool crosses = std::any_of(q.begin(), q.end(), [](double v) { return v <= 0.0; }) &&
                       std::any_of(q.begin(), q.end(), [](double v) { return v > 0.0; });
  std::vector<double> magnitudes(q.size());
  std::transform(q.begin(), q.end(), magnitudes.begin(), [](double v) { return std::fabs(v); });
  const double smallest = *std::min_element(magnitudes.begin(), magnitudes.end());
  auto middle = magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() / 2);
  std::nth_element(magnitudes.begin(), middle, magnitudes.end());
  const double median = *middle;
  if (!crosses && smallest >= kNearPole * median) return {};
  return EquationName(model, i) + ": its denominator comes near zero on the data (1 + denominator " +
         (crosses ? std::string("changes sign") : "falls to " + SignificantText(smallest, 3)) +
         " where its median size is " + SignificantText(median, 3) +
         "): the model has a pole there and its values near it mean little; try a lower denominator order "
         "or a polynomial";
}

}  // namespace

std::vector<std::string> FitDoubts(const Model& model, const Derivatives* training) {
  ValidateModel(model);
  const int D = model.Dimension();
  if (training != nullptr) {
    const std::size_t size = static_cast<std::size_t>(training->rows) * static_cast<std::size_t>(training->dimension);
    if (training->dimension != D || training->rows < 0 || training->states.size() != size ||
        training->slopes.size() != size) {
      throw InvalidArgument("FitDoubts: the training states do not have the model's " + std::to_string(D) +
                            " components in rows x dimension storage");
    }
  }
  std::vector<std::string> doubts;
  if (model.points > 0 && model.points % 2 == 0) {
    doubts.push_back("the differentiation windows have an even number of points (" + std::to_string(model.points) +
                     "): each slope belongs half a sample after its state, so every coefficient is biased; " +
                     std::to_string(model.points - 1) + " or " + std::to_string(model.points + 1) +
                     " points avoid it");
  }
  for (int i = 1; i <= D; ++i) {
    const ModelEquation& eq = model.Equation(i);
    if (IsIllConditioned(eq)) {
      doubts.push_back("equation " + std::to_string(i) + " is ill-conditioned (condition " +
                       SignificantText(eq.condition, 3) +
                       "): its coefficients are poorly determined; try a lower order, or scale the series' "
                       "variables to similar magnitudes");
    }
    if (KeepsNoTerm(model, i, training)) {
      doubts.push_back(EquationName(model, i) + " keeps no term: it says d" + VariableName(model, i) +
                       "/dt = 0; a lower threshold keeps the terms that carry the derivative");
    } else if (eq.family == ModelFamily::Rational && eq.nden > 0 && training != nullptr) {
      std::string pole = PoleDoubt(model, i, *training);
      if (!pole.empty()) doubts.push_back(std::move(pole));
    }
  }
  return doubts;
}

}  // namespace odefit
