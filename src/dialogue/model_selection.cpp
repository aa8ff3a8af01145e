#include "dialogue/model_selection.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "dialogue/prompts.h"
#include "dialogue/warnings.h"
#include "format/fixed_format.h"
#include "model/dependent_columns.h"
#include "model/equation_shape.h"
#include "model/model_fit.h"
#include "odefit/model.h"
#include "model/monomials.h"
#include "model/term_names.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

using fixed::FormatF;
using fixed::FormatI;

// Largest factorial argument the term counts may need (n + D); larger orders
// are refused as typing slips instead of ending the run.
constexpr int kLargestCountArgument = 34;

const char* FamilyName(ModelFamily family) {
  switch (family) {
    case ModelFamily::StandardPolynomial: return "standard polynomial";
    case ModelFamily::DrivenPolynomial: return "standard polynomial with additive harmonic driving";
    case ModelFamily::Rational: return "rational";
    case ModelFamily::ReducedPolynomial: return "reduced polynomial";
  }
  return "";
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

class ModelSelection {
 public:
  ModelSelection(Console& console, ReportFile& report, int D, double dt, int Nfit)
      : console_(console), report_(report), D_(D), dt_(dt), Nfit_(Nfit) {}

  void AskModel(Model& table) {
    Say("6) You can select one of the");
    Say("   following functions for approximation:");
    Say("   1 - standard polynomial");
    Say("   2 - standard polynomial");
    Say("       with additive harmonic driving");
    Say("   3 - rational");
    if (D_ == 2) Say("   4 - reduced polynomial");
    for (int i = 1; i <= D_; ++i) AskEquation(i, table.Equation(i));
  }

  void FitAndReport(Model& table, std::span<const double> X, std::span<const double> derivatives,
                    const CancellationToken* cancel) {
    // Equations with the same design share one factorisation; the order of
    // the report blocks and of any error stays that of the equations.
    ModelFitter fitter(std::span<ModelEquation>(table.equations).first(static_cast<std::size_t>(D_)), X, D_,
                       Nfit_, derivatives, FitOptions{cancel, 0});  // every core; the same bits on any number
    for (int i = 1; i <= D_; ++i) {
      ModelEquation& equation = table.Equation(i);
      double err = 0.0;
      try {
        err = fitter.Fit(i);
      } catch (const RunStopped&) {
        ExplainSingularFit(i, equation, X, derivatives);
        throw;
      }
      ReportEquation(i, equation, err);
      Say("Error of approximation (" + FormatI(i, 1) + "): " + FormatF(100.0 * err, 10, 5) + " %");
    }
  }

 private:
  void Say(std::string_view text) { odefit::Say(console_, text); }

  // After the least-squares solver stopped the run on equation i's design
  // matrix: names the terms whose columns are zero or dependent.
  void ExplainSingularFit(int i, const ModelEquation& equation, std::span<const double> X,
                          std::span<const double> derivatives) const {
    std::vector<double> y(static_cast<std::size_t>(Nfit_));
    for (std::size_t r = 0; r < y.size(); ++r) {
      y[r] = derivatives[static_cast<std::size_t>(i - 1) + r * static_cast<std::size_t>(D_)];
    }
    int rows = 0;
    const std::vector<double> A = DependenceMatrix(equation, X, D_, Nfit_, y, rows);
    NoteSingularFit(i, TermNames(equation.family, D_, equation.nu, equation.mu),
                    FindDependentColumns(A, rows, equation.nterms));
  }
  void Report(std::string_view text) { report_.Line(text); }

  // Asks with "(I2)" until `accept` holds for the answer.
  template <typename Accept>
  int AskOrder(std::string_view prompt, Accept accept) {
    for (;;) {
      int order = 0;
      PromptInteger(console_, "(I2)", prompt, order);
      if (accept(order)) return order;
      WriteIncorrectInput(console_);
    }
  }

  // Returns TermCount(n, D), or nullopt when n + D is beyond the factorial's range.
  std::optional<std::int64_t> Count(int n) const {
    if (n < 0) return 0;
    if (n + D_ > kLargestCountArgument) return std::nullopt;
    return TermCount(n, D_);
  }
  bool Fits(std::optional<std::int64_t> nterms) const {
    return nterms && *nterms <= Nfit_ && *nterms <= kMaxCoefficients;
  }

  void AskEquation(int i, ModelEquation& eq) {
    const std::string prompt = "   Select a function for the " + FormatI(i, 1) + " equation: ";
    int family = 0;
    for (;;) {
      PromptInteger(console_, "(I1)", prompt, family);
      if ((family >= 1 && family <= 3) || (family == 4 && D_ == 2)) break;
      WriteIncorrectInput(console_);
    }
    EquationSpec spec;
    spec.family = static_cast<ModelFamily>(family);
    switch (spec.family) {
      case ModelFamily::StandardPolynomial:
      case ModelFamily::DrivenPolynomial: {
        const int extra = spec.family == ModelFamily::DrivenPolynomial ? 2 : 0;
        spec.order = AskOrder("   Order of the polynomial: ", [&](int nu) {
          const auto count = Count(nu);
          return nu >= 0 && Fits(count ? std::optional(*count + extra) : count);
        });
        break;
      }
      case ModelFamily::Rational: {
        spec.order = AskOrder("   Order of the numerator polynomial: ",
                              [&](int nu) { return nu >= 0 && Fits(Count(nu)); });
        const std::int64_t nnum = *Count(spec.order);
        spec.secondOrder = AskOrder("   Order of the denominator polynomial: ", [&](int mu) {
          const auto count = Count(mu);
          return mu >= 0 && Fits(count ? std::optional(nnum + *count - 1) : count);
        });
        break;
      }
      case ModelFamily::ReducedPolynomial:
        spec.order = AskOrder("   Order of the first polynomial: ", [&](int nu) { return nu >= 0 && nu + 1 < Nfit_; });
        spec.secondOrder = AskOrder("   Order of the second polynomial: ",
                                    [&](int mu) { return mu >= 0 && spec.order + 1 + mu + 1 <= Nfit_; });
        break;
    }
    if (spec.family == ModelFamily::DrivenPolynomial) {
      double periodInSamples = 0.0;
      for (;;) {
        PromptReal(console_, "(F20.10)", "   Period of driving (in dt units): ", periodInSamples);
        if (periodInSamples > 0.0) break;
        WriteIncorrectInput(console_);
      }
      spec.period = periodInSamples * dt_;
    }
    // The counts and the driving angle as every fit makes them.
    eq = EquationShape(spec, D_, dt_);
  }

  void ReportEquation(int i, const ModelEquation& eq, double err) {
    report_.WriteLine("");
    Report("The type of function for the " + FormatI(i, 1) + " equation: ");
    Report(Padded(FamilyName(eq.family), 60));
    switch (eq.family) {
      case ModelFamily::StandardPolynomial:
        Report("Polynomial order nu = " + FormatI(eq.nu, 2));
        break;
      case ModelFamily::DrivenPolynomial:
        Report("Polynomial order nu = " + FormatI(eq.nu, 2));
        Report("Driving frequency we = " + FormatF(eq.we, 20, 10));
        break;
      case ModelFamily::Rational:
        Report("Numerator polynomial order: nu = " + FormatI(eq.nu, 2));
        Report("Denominator polynomial order: mu = " + FormatI(eq.mu, 2));
        break;
      case ModelFamily::ReducedPolynomial:
        Report("First polynomial order: nu = " + FormatI(eq.nu, 2));
        Report("Second polynomial order: mu = " + FormatI(eq.mu, 2));
        break;
    }
    Report("Coefficients of the " + FormatI(i, 1) + " equation:");
    for (int k = 0; k < eq.nterms; ++k) report_.WriteLine(FormatF(eq.coef[static_cast<std::size_t>(k)], 20, 10));
    Report("Error of approximation: " + FormatF(100.0 * err, 20, 10) + " %");
  }

  Console& console_;
  ReportFile& report_;
  int D_;
  double dt_;
  int Nfit_;
};

}  // namespace

void SelectModel(Console& console, ReportFile& report, int D, double dt, int Nfit,
                 std::span<const double> TrainSeries, std::span<const double> TrainDerivatives, Model& table,
                 const CancellationToken* cancel) {
  table.Resize(D);
  table.dt = dt;
  ModelSelection selection(console, report, D, dt, Nfit);
  selection.AskModel(table);
  selection.FitAndReport(table, TrainSeries, TrainDerivatives, cancel);
}

}  // namespace odefit
