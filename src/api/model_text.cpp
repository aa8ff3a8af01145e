#include "odefit/model_text.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "model/term_names.h"
#include "odefit/errors.h"
#include "odefit/fit.h"
#include "odefit/search.h"
#include "odefit/model.h"
#include "odefit/number_text.h"

namespace odefit {
namespace {

std::string Percent(double fraction) { return FixedText(100.0 * fraction, 5) + " %"; }

// Breaks `formula` (terms joined by " + " and " - ") into lines shorter than
// `width` columns where it can, before a "+" or "-"; continuation lines are
// indented to `indent` blanks.
std::string Wrap(const std::string& formula, std::size_t width, std::size_t indent) {
  std::string text;
  std::size_t lineStart = 0;
  std::size_t lastBreak = std::string::npos;  // a blank before an operator, in `text`
  for (std::size_t k = 0; k < formula.size(); ++k) {
    const bool operatorFollows = formula[k] == ' ' && k + 2 < formula.size() &&
                                 (formula[k + 1] == '+' || formula[k + 1] == '-') && formula[k + 2] == ' ';
    if (operatorFollows) lastBreak = text.size();
    text += formula[k];
    if (text.size() - lineStart >= width && lastBreak != std::string::npos && lastBreak > lineStart) {
      text[lastBreak] = '\n';
      text.insert(lastBreak + 1, std::string(indent, ' '));
      lineStart = lastBreak + 1;
      lastBreak = std::string::npos;
    }
  }
  return text;
}

}  // namespace

bool IsIllConditioned(const ModelEquation& equation) { return !(equation.condition <= kIllConditioned); }

std::string FormatModel(const Model& model, const std::vector<std::vector<double>>& inclusion) {
  ValidateModel(model);
  const int D = model.Dimension();
  std::string text = "Model of " + std::to_string(D) + (D == 1 ? " equation" : " equations") +
                     ": dt = " + ShortestText(model.dt);
  if (model.train > 0 && model.recordings > 1) {
    text += ", fitted to " + std::to_string(model.train) + " vectors of " + std::to_string(model.recordings) +
            " recordings";
  } else if (model.train > 0) {
    text += ", fitted to vectors 1 to " + std::to_string(model.train);
  }
  if (model.points > 0) text += ", " + std::to_string(model.points) + " points per derivative";
  text += "\n";
  if (!model.names.empty()) {
    text += "Variables:";
    for (int i = 1; i <= D; ++i) {
      text += (i > 1 ? ", x" : " x") + std::to_string(i) + " = " + model.names[static_cast<std::size_t>(i - 1)];
    }
    text += "\n";
  }
  for (int i = 1; i <= D; ++i) {
    const ModelEquation& eq = model.Equation(i);
    text += "\nEquation " + std::to_string(i) + ": " + FormatEquationSpec(EquationSpecOf(eq)) + ", " +
            std::to_string(eq.nterms) + (eq.nterms == 1 ? " term" : " terms") + ", error of approximation " +
            (std::isnan(eq.error) ? std::string("undefined (constant derivative estimates)") : Percent(eq.error));
    if (eq.condition != 0.0) {
      text += ", condition " + SignificantText(eq.condition, 3);
      if (IsIllConditioned(eq)) text += " (ill-conditioned)";
    }
    const std::string formula = EquationText(model, i, 6);
    text += "\n  " + Wrap(formula, 98, 2 + formula.find('=') + 2) + "\n\n";
    // The denominator's terms marked, since the table lists them by name alone.
    std::vector<std::string> names = TermNames(eq.family, D, eq.nu, eq.mu);
    if (model.names.size() == static_cast<std::size_t>(D)) {
      for (std::string& name : names) name = NamedTerm(name, model.names);
    }
    std::size_t nameWidth = 4;
    for (const std::string& name : names) nameWidth = std::max(nameWidth, name.size());
    const bool errors = eq.standardErrors.size() == eq.coef.size();
    const bool intervals = model.intervalLevel > 0.0 && eq.intervalLower.size() == eq.coef.size() &&
                           eq.intervalUpper.size() == eq.coef.size();
    const bool kept = inclusion.size() == static_cast<std::size_t>(D) &&
                      inclusion[static_cast<std::size_t>(i - 1)].size() == eq.coef.size();
    text += "  " + PaddedText("term", nameWidth, false) + "       coefficient" + (errors ? "   standard error" : "") +
            (kept ? "   kept" : "") +
            (intervals ? "   " + FixedText(100.0 * model.intervalLevel, 0) + " % interval" : std::string()) + "\n";
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      text += "  " + PaddedText(names[k], nameWidth, false) + PaddedText(SignificantText(eq.coef[k], 10), 18, true);
      if (errors) {
        const double e = eq.standardErrors[k];
        const bool dropped = eq.coef[k] == 0.0 && e == 0.0;  // by a sparse fit
        text += PaddedText(dropped ? std::string("dropped") : std::isnan(e) ? std::string("undefined") : SignificantText(e, 3),
                       17, true);
      }
      const bool interval = intervals && !std::isnan(eq.intervalLower[k]);
      if (kept) {
        const double share = inclusion[static_cast<std::size_t>(i - 1)][k];
        if (!std::isnan(share) || interval) {
          text += std::isnan(share) ? std::string(7, ' ') : PaddedText(FixedText(share, 2), 7, true);
          text += share < kDoubtfulInclusion ? "?" : interval ? " " : "";
        }
      }
      if (interval) {
        // Enough digits to tell the ends apart (a clean series' interval can be 1e-8 wide).
        int digits = 5;
        while (digits < 12 && SignificantText(eq.intervalLower[k], digits) == SignificantText(eq.intervalUpper[k], digits)) {
          ++digits;
        }
        text += "   [" + SignificantText(eq.intervalLower[k], digits) + ", " +
                SignificantText(eq.intervalUpper[k], digits) + "]";
      }
      text += "\n";
    }
    const auto undefined = [](double e) { return std::isnan(e); };
    if (errors && std::any_of(eq.standardErrors.begin(), eq.standardErrors.end(), undefined)) {
      text += "  (standard errors are undefined when there are no more rows than coefficients)\n";
    }
    if (intervals && i == D) {
      text += "\n(standard errors are given the derivative estimates; the intervals include their error too)\n";
    }
    if (kept && i == D) {
      text += (intervals ? "" : "\n") + std::string("(kept: the share of refits on resampled series that keep the term; "
              "? marks one below ") + FixedText(kDoubtfulInclusion, 1) + ")\n";
    }
  }
  return text;
}

}  // namespace odefit
