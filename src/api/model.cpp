#include "odefit/model.h"
#include "odefit/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/model_family.h"
#include "model/term_names.h"
#include "odefit/errors.h"

namespace odefit {
void ValidateModel(const Model& model) {
  const int D = model.Dimension();
  if (D < 1 || D > kMaxModelDimension) {
    throw InvalidArgument("a model has 1 to 9 equations, not " + std::to_string(D));
  }
  if (!(model.dt > 0.0) || !std::isfinite(model.dt)) {
    throw InvalidArgument("the model's sampling interval must be positive and finite");
  }
  if (!model.names.empty() && model.names.size() != static_cast<std::size_t>(D)) {
    throw InvalidArgument("a model names all of its " + std::to_string(D) + " variables or none, not " +
                          std::to_string(model.names.size()));
  }
  for (int i = 1; i <= D; ++i) {
    const ModelEquation& eq = model.Equation(i);
    const std::string where = "equation " + std::to_string(i);
    const int expected = FamilyOf(eq.family, where).ExpectedTerms(eq, D, where);
    if (expected > kMaxCoefficients || eq.nterms != expected) {
      throw InvalidArgument(where + ": " + std::to_string(eq.nterms) + " terms where its family and orders give " +
                            std::to_string(expected) + " (at most 1000)");
    }
    if (eq.coef.size() != static_cast<std::size_t>(eq.nterms)) {
      throw InvalidArgument(where + ": " + std::to_string(eq.coef.size()) + " coefficients for " +
                            std::to_string(eq.nterms) + " terms");
    }
    for (const double c : eq.coef) {
      if (!std::isfinite(c)) throw InvalidArgument(where + ": a coefficient is not finite");
    }
    if (!eq.standardErrors.empty() && eq.standardErrors.size() != eq.coef.size()) {
      throw InvalidArgument(where + ": " + std::to_string(eq.standardErrors.size()) + " standard errors for " +
                            std::to_string(eq.nterms) + " terms");
    }
  }
}

}  // namespace odefit

namespace odefit {
namespace {

std::string Number(double value, int digits) { return SignificantText(value, digits); }

// Appends " + c name" (or "c name" first), skipping zero coefficients.
std::string Sum(const std::vector<double>& coef, const std::vector<std::string>& names, std::size_t first,
                std::size_t count, int digits, bool leadingOne) {
  std::string text = leadingOne ? "1" : "";
  for (std::size_t k = first; k < first + count; ++k) {
    const double c = coef[k];
    if (c == 0.0) continue;
    const bool negative = std::signbit(c);
    if (text.empty()) {
      text += negative ? "-" : "";
    } else {
      text += negative ? " - " : " + ";
    }
    text += Number(std::fabs(c), digits);
    if (names[k] != "1") text += " " + names[k];
  }
  return text.empty() ? "0" : text;
}

}  // namespace

std::vector<std::string> TermNames(const ModelEquation& eq, int D) {
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  const ModelFamilyDescription& family = FamilyOf(eq.family, "term names");
  family.CheckOrders(eq, D, "term names");
  std::vector<std::string> names = family.TermNames(eq, D);
  // The denominator's terms are told apart by their place, not their names.
  constexpr std::string_view kSuffix = " (denominator)";
  for (std::string& name : names) {
    if (name.ends_with(kSuffix)) name.resize(name.size() - kSuffix.size());
  }
  return names;
}

std::string NamedTerm(const std::string& term, const std::vector<std::string>& names) {
  if (names.empty()) return term;
  std::string named;
  std::size_t begin = 0;
  // Factors "xK" or "xK^E" joined by '*'; anything else ("1", "cos") stays.
  while (begin <= term.size()) {
    std::size_t end = term.find_first_of("*^ ", begin);
    if (end == std::string::npos) end = term.size();
    const std::string_view factor(term.data() + begin, end - begin);
    std::size_t k = 0;
    const bool variable = factor.size() > 1 && factor[0] == 'x' &&
                          std::from_chars(factor.data() + 1, factor.data() + factor.size(), k).ptr ==
                              factor.data() + factor.size() &&
                          k >= 1 && k <= names.size();
    named += variable ? names[k - 1] : std::string(factor);
    if (end == term.size()) break;
    named += term[end];
    begin = end + 1;
  }
  return named;
}

std::vector<std::string> TermNames(const ModelEquation& equation, int D, const std::vector<std::string>& names) {
  if (!names.empty() && names.size() != static_cast<std::size_t>(D)) {
    throw InvalidArgument("give a name for each of the " + std::to_string(D) + " variables or none");
  }
  std::vector<std::string> terms = TermNames(equation, D);
  for (std::string& term : terms) term = NamedTerm(term, names);
  return terms;
}

std::string VariableName(const Model& model, int i) {
  if (i < 1 || i > model.Dimension()) throw InvalidArgument("no variable " + std::to_string(i));
  return model.names.size() == static_cast<std::size_t>(model.Dimension()) ? model.names[static_cast<std::size_t>(i - 1)]
                                                                           : std::string(1, 'x').append(std::to_string(i));
}

std::string EquationText(const Model& model, int i, int digits) {
  if (i < 1 || i > model.Dimension()) throw InvalidArgument("no equation " + std::to_string(i));
  const ModelEquation& eq = model.Equation(i);
  const bool named = model.names.size() == static_cast<std::size_t>(model.Dimension());
  const std::vector<std::string> names = TermNames(eq, model.Dimension(), named ? model.names : std::vector<std::string>());
  if (eq.coef.size() != names.size()) throw InvalidArgument("equation " + std::to_string(i) + ": coefficients and terms differ");
  std::string text(1, 'd');
  text.append(VariableName(model, i)).append("/dt = ");
  if (FamilyOf(eq.family).quotient) {
    const std::size_t nnum = static_cast<std::size_t>(eq.nnum);
    text.append(1, '(').append(Sum(eq.coef, names, 0, nnum, digits, false)).append(") / (");
    text.append(Sum(eq.coef, names, nnum, names.size() - nnum, digits, true)).append(1, ')');
  } else {
    text += Sum(eq.coef, names, 0, names.size(), digits, false);
  }
  return text;
}

}  // namespace odefit
