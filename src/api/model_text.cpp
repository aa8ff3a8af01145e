#include "odefit/model_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "model/term_names.h"
#include "odefit/errors.h"
#include "odefit/fit.h"

namespace odefit {
namespace {

// Returns `value` with `digits` significant digits as printf's %g writes it,
// in any locale; "nan" and "inf" for values that are not finite.
std::string Significant(double value, int digits) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  return std::string(text, result.ptr);
}

// Returns `value` in the fewest digits that read back as the same double.
std::string Shortest(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Padded(std::string text, std::size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string blanks(width - text.size(), ' ');
  return right ? blanks + text : text + blanks;
}

std::string Percent(double fraction) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, 100.0 * fraction, std::chars_format::fixed, 5);
  return std::string(text, result.ptr) + " %";
}

// Returns the piece of a formula for coefficient c of term `name`: its
// magnitude, the term, and the sign as an operator unless it comes first.
std::string Piece(double c, const std::string& name, bool first, const std::string& period) {
  std::string term = name;
  if (name == "cos" || name == "sin") term = name + "(2 pi t/" + period + ")";
  std::string piece = first ? (std::signbit(c) ? "-" : "") : (std::signbit(c) ? "- " : "+ ");
  piece += Significant(std::fabs(c), 6);
  if (name != "1") piece += " " + term;
  return piece;
}

// Joins `pieces` with blanks after `lead`, breaking lines before `width`
// columns; continuation lines start with `indent` blanks.
std::string Wrap(const std::string& lead, const std::vector<std::string>& pieces, std::size_t width,
                 std::size_t indent) {
  std::string text = lead;
  std::size_t column = lead.size();
  bool lineEmpty = true;
  for (const std::string& piece : pieces) {
    if (!lineEmpty && column + 1 + piece.size() > width) {
      text += '\n';
      text.append(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      text += ' ';
      ++column;
    }
    text += piece;
    column += piece.size();
    lineEmpty = false;
  }
  return text;
}

}  // namespace

std::vector<std::string> TermNames(const ModelEquation& equation, int D) {
  EquationSpec spec = EquationSpecOf(equation);
  if (spec.family == ModelFamily::DrivenPolynomial) spec.period = 1.0;  // the count does not depend on it
  CoefficientCount(spec, D);  // throws for orders no model may have, before anything is allocated
  return TermNames(equation.family, D, equation.nu, equation.mu);
}

bool IsIllConditioned(const ModelEquation& equation) { return !(equation.condition <= kIllConditioned); }

std::string FormatEquation(const Model& model, int i, int width) {
  ValidateModel(model);
  if (i < 1 || i > model.Dimension()) throw InvalidArgument("no equation " + std::to_string(i));
  const ModelEquation& eq = model.Equation(i);
  const std::vector<std::string> names = TermNames(eq, model.Dimension());
  const std::string period = Significant(eq.period, 6);
  const std::string lead = "dx" + std::to_string(i) + "/dt = ";
  std::vector<std::string> pieces;
  const auto add = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) pieces.push_back(Piece(eq.coef[k], names[k], k == from, period));
  };
  if (eq.family == ModelFamily::Rational) {
    const std::size_t nnum = static_cast<std::size_t>(eq.nnum);
    add(0, nnum);
    pieces.front() = std::string(1, '(').append(pieces.front());
    pieces.back() += ")";
    pieces.push_back("/");
    pieces.push_back("(1");
    for (std::size_t k = nnum; k < eq.coef.size(); ++k) {
      std::string name = names[k].substr(0, names[k].find(' '));  // without " (denominator)"
      pieces.push_back(Piece(eq.coef[k], name, false, period));
    }
    pieces.back() += ")";
  } else {
    add(0, eq.coef.size());
  }
  return Wrap(lead, pieces, static_cast<std::size_t>(std::max(width, 20)), lead.size());
}

std::string FormatModel(const Model& model) {
  ValidateModel(model);
  const int D = model.Dimension();
  std::string text = "Model of " + std::to_string(D) + (D == 1 ? " equation" : " equations") +
                     ": dt = " + Shortest(model.dt);
  if (model.train > 0) text += ", fitted to vectors 1 to " + std::to_string(model.train);
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
      text += ", condition " + Significant(eq.condition, 3);
      if (IsIllConditioned(eq)) text += " (ill-conditioned)";
    }
    std::string formula = FormatEquation(model, i, 98);
    for (std::size_t at = 0; (at = formula.find('\n', at)) != std::string::npos; at += 3) formula.insert(at + 1, "  ");
    text += "\n  " + formula + "\n\n";
    const std::vector<std::string> names = TermNames(eq, D);
    std::size_t nameWidth = 4;
    for (const std::string& name : names) nameWidth = std::max(nameWidth, name.size());
    const bool errors = eq.standardErrors.size() == eq.coef.size();
    text += "  " + Padded("term", nameWidth, false) + "       coefficient" + (errors ? "   standard error" : "") + "\n";
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      text += "  " + Padded(names[k], nameWidth, false) + Padded(Significant(eq.coef[k], 10), 18, true);
      if (errors) {
        const double e = eq.standardErrors[k];
        text += Padded(std::isnan(e) ? std::string("undefined") : Significant(e, 3), 17, true);
      }
      text += "\n";
    }
    const auto undefined = [](double e) { return std::isnan(e); };
    if (errors && std::any_of(eq.standardErrors.begin(), eq.standardErrors.end(), undefined)) {
      text += "  (standard errors are undefined when there are no more rows than coefficients)\n";
    }
  }
  return text;
}

}  // namespace odefit
