#pragma once
// The fitted model: one entry per equation, rewritten by every model selection
// and read by the coefficient report, the efficiency test and the model's
// right-hand side.
//
// Coefficient order per family (C(1..nterms), stored at coef[0..nterms - 1]):
//   1 standard polynomial: the monomials up to order nu (monomials.h order);
//   2 driven polynomial: the monomials, then the cos and sin driving terms;
//   3 rational: the nnum numerator monomials up to order nu, then the nden
//     denominator monomials up to order mu without the constant, whose
//     coefficient is fixed at 1;
//   4 reduced polynomial (D = 2): x1*x2^0..x1*x2^nu, then x2^0..x2^mu.

#include <cstddef>
#include <vector>

namespace odefit {

// Family of an equation's right-hand side; the values are those typed.
enum class ModelFamily : int {
  StandardPolynomial = 1,
  DrivenPolynomial = 2,  // standard polynomial with additive harmonic driving
  Rational = 3,
  ReducedPolynomial = 4,
};

// Most coefficients one equation may have; larger orders are refused by the
// model selection.
inline constexpr int kMaxCoefficients = 1000;

// One equation of the model. Fields a family does not use keep whatever an
// earlier selection left.
struct ModelEquation {
  ModelFamily family = ModelFamily::StandardPolynomial;
  int nu = 0;      // polynomial / numerator / x1-polynomial order
  int mu = 0;      // denominator / free-polynomial order (families 3, 4)
  int nterms = 0;  // number of fitted coefficients
  int nnum = 0;    // families 3, 4: terms of the first part
  int nden = 0;    // families 3, 4: terms of the second part
  double period = 0.0;  // family 2: driving period in time units
  double we = 0.0;      // family 2: driving frequency 2*pi/period
  double wdt = 0.0;     // family 2: driving angle per sampling interval, we*dt
  std::vector<double> coef;  // nterms coefficients in the order above
};

struct ModelTable {
  double dt = 0.0;                       // sampling interval of the model
  std::vector<ModelEquation> equations;  // equation i at index i - 1

  // Makes room for D equations (kept entries stay as they were).
  void Resize(int D) { equations.resize(static_cast<std::size_t>(D)); }
  // Returns equation i (1-based).
  ModelEquation& Equation(int i) { return equations[static_cast<std::size_t>(i - 1)]; }
  const ModelEquation& Equation(int i) const { return equations[static_cast<std::size_t>(i - 1)]; }
};

// Returns the one process-wide model table.
ModelTable& GlobalModelTable();

// Returns the process-wide training errors of approximation, one fraction per
// equation (index i - 1), rewritten with the model table.
std::vector<double>& TrainApproximationError();

}  // namespace odefit
