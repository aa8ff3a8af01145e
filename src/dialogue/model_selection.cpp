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
#include "model/model_family.h"
#include "model/model_fit.h"
#include "odefit/model.h"
#include "model/monomials.h"
#include "model/term_names.h"
#include "numerics/error_stack.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

using fixed::FormatF;
using fixed::FormatI;

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
    NoteSingularFit(i, FamilyOf(equation.family).TermNames(equation, D_),
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

  // True when `spec` makes an equation of at most Nfit (and 1000) terms.
  bool Fits(const EquationSpec& spec) const {
    try {
      return EquationShape(spec, D_, dt_).nterms <= Nfit_;
    } catch (const InvalidArgument&) {
      return false;  // orders beyond the counts' range are typing slips: asked again
    }
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
    const ModelFamilyDescription& description = FamilyOf(spec.family);
    // Each order is asked with the ones after it still 0 (and any period 1)
    // until the terms so far fit the rows.
    if (description.Has(FamilyParameter::Period)) spec.period = 1.0;
    for (const ParameterForm& form : description.parameters) {
      if (form.parameter == FamilyParameter::Period) continue;
      int& order = form.parameter == FamilyParameter::Order ? spec.order : spec.secondOrder;
      order = AskOrder(form.question, [&](int n) {
        EquationSpec trial = spec;
        (form.parameter == FamilyParameter::Order ? trial.order : trial.secondOrder) = n;
        return n >= 0 && Fits(trial);
      });
    }
    if (description.Has(FamilyParameter::Period)) {
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
    const ModelFamilyDescription& family = FamilyOf(eq.family);
    Report(Padded(family.title, 60));
    for (const ParameterForm& form : family.parameters) {
      switch (form.parameter) {
        case FamilyParameter::Order: Report(form.reportLabel + FormatI(eq.nu, 2)); break;
        case FamilyParameter::SecondOrder: Report(form.reportLabel + FormatI(eq.mu, 2)); break;
        case FamilyParameter::Period: Report(form.reportLabel + FormatF(eq.we, 20, 10)); break;
      }
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
