#pragma once
// A fitted model of dx_i/dt = f_i(x, t): a value that holds its settings and
// one equation entry per component. Models are plain data: copy them, keep
// as many as you like, integrate several at once.
//
// Coefficient order per family (equation.coef[0 .. nterms - 1]):
//   standard polynomial: the monomials up to order nu, the constant first, then
//     every degree block in lexicographic order of its non-decreasing index
//     tuples (1, x1, x2, x1^2, x1*x2, x2^2, ... for D = 2);
//   driven polynomial: the monomials, then the cos and sin driving terms;
//   rational: the nnum numerator monomials up to order nu, then the nden
//     denominator monomials up to order mu without the constant, whose
//     coefficient is fixed at 1;
//   reduced polynomial (D = 2): x1*x2^0 .. x1*x2^nu, then x2^0 .. x2^mu.

#include <cstddef>
#include <string>
#include <vector>

namespace odefit {

// Family of an equation's right-hand side; the values are those the classic
// dialogue asks the user to type.
enum class ModelFamily : int {
  StandardPolynomial = 1,
  DrivenPolynomial = 2,  // standard polynomial with additive harmonic driving
  Rational = 3,
  ReducedPolynomial = 4,
};

// Most coefficients one equation may have.
inline constexpr int kMaxCoefficients = 1000;

// Most components a model may have.
inline constexpr int kMaxModelDimension = 9;

// One equation of a model. Fields a family does not use are ignored.
struct ModelEquation {
  ModelFamily family = ModelFamily::StandardPolynomial;
  int nu = 0;      // order of the polynomial (numerator; x1-polynomial of the reduced family)
  int mu = 0;      // order of the denominator (rational) or of the free x2-polynomial (reduced)
  int nterms = 0;  // number of fitted coefficients
  int nnum = 0;    // rational and reduced: terms of the first part
  int nden = 0;    // rational and reduced: terms of the second part
  double period = 0.0;  // driven: driving period in time units
  double we = 0.0;      // driven: driving frequency 2*pi/period
  double wdt = 0.0;     // driven: driving angle per sampling interval, we*dt
  std::vector<double> coef;  // nterms coefficients in the order above (0 for a term a sparse fit dropped)
  double error = 0.0;        // error of approximation of the fit (a fraction; NaN when undefined)
  // Standard error of every coefficient, sqrt(sigma^2 * ((R'R)^-1)_kk) with R
  // the triangular factor of the design matrix and sigma^2 = RSS / (rows -
  // fitted terms), from the linear problem that was solved (for the rational
  // family the one with the -y columns); 0 for a term a sparse fit dropped;
  // NaN when no degree of freedom is left to estimate sigma. Empty when not
  // computed (set by hand, or read without them).
  std::vector<double> standardErrors;
  // Condition estimate of R: ||R||_1 ||R^-1||_1 for the full fit, max |diag R| /
  // min |diag R| of the kept terms for a sparse one; 0 when not computed,
  // +inf when R is singular in floating point. Above about 1e8 the
  // coefficients are poorly determined.
  double condition = 0.0;
};

struct Model {
  double dt = 0.0;   // sampling interval the model was fitted at
  int points = 0;    // points per differentiation window of the fit (0 when unknown)
  int train = 0;     // vectors of the training series (0 when unknown)
  int recordings = 1;  // recordings the training vectors came from (0 when unknown)
  std::vector<ModelEquation> equations;  // equation i at index i - 1
  // The variables' names from the series (one per equation), or empty: then
  // the variables are x1..xD. Equations, term tables and files use them.
  std::vector<std::string> names;

  // The number of components D.
  int Dimension() const { return static_cast<int>(equations.size()); }
  // Makes room for D equations (kept entries stay as they were).
  void Resize(int D) { equations.resize(static_cast<std::size_t>(D)); }
  // Returns equation i (1-based).
  ModelEquation& Equation(int i) { return equations[static_cast<std::size_t>(i - 1)]; }
  const ModelEquation& Equation(int i) const { return equations[static_cast<std::size_t>(i - 1)]; }
};

// Checks that `model` can be evaluated: 1 to 9 equations, dt > 0 and finite,
// every family known, orders and term counts consistent with the family and
// the dimension, as many coefficients as terms (all finite), a driven
// equation's angle finite. Throws InvalidArgument naming the first fault.
void ValidateModel(const Model& model);

// Returns the name of the term of every coefficient of `equation` in D
// variables, in coefficient order: "1", "x1", "x1*x3", "x1^2*x2" (variables
// in increasing index, an exponent only above 1); "cos" and "sin" for the
// driving terms. The rational family's denominator terms have the same names
// (they are the second part of the coefficients). Throws InvalidArgument for
// orders no model may have.
std::vector<std::string> TermNames(const ModelEquation& equation, int D);

// Returns the term names as above with the variables called `names` (one
// per variable; none keeps x1..xD): "prey*predator", "y^2". Throws as
// TermNames does, and InvalidArgument for a count of names other than D or 0.
std::vector<std::string> TermNames(const ModelEquation& equation, int D, const std::vector<std::string>& names);

// Returns `term` (a name TermNames gives, " (denominator)" after it allowed)
// with the variables x1..xD called `names` instead (unchanged when empty).
std::string NamedTerm(const std::string& term, const std::vector<std::string>& names);

// Returns the name of variable i (1-based) of `model`: its name, or "xi".
std::string VariableName(const Model& model, int i);

// Returns equation i (1-based) as text, "dx1/dt = -9.8825 x1 + 9.922 x2"
// ("dx/dt = -10 x + 10 y" when the model names its variables),
// with `digits` significant digits and without the terms whose coefficient
// is 0; a rational equation as "(numerator) / (1 + denominator)".
std::string EquationText(const Model& model, int i, int digits = 5);

}  // namespace odefit
