// Acceptance against recorded whole runs: every coefficient and training error
// of approximation that a run wrote to its report is recomputed here from the
// series file with the run's settings (differentiation, then the fits) and
// compared in the printed form, allowing two units of the last printed digit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "derivatives/differentiation.h"
#include "format/fixed_format.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

const std::string kFixtures = ODEFIT_FIXTURES_DIR;

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (fixed::ReadRecord(in, line)) lines.push_back(line);
  return lines;
}

// Every record of a series file, read as the program reads it: (F20.10).
std::vector<double> ReadSeries(const std::string& path) {
  std::vector<double> values;
  for (const std::string& line : ReadLines(path)) {
    const auto value = fixed::ReadF(line, 20, 10);
    EXPECT_TRUE(value.has_value()) << "unreadable record '" << line << "'";
    values.push_back(value.value_or(0.0));
  }
  return values;
}

bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0;
}

// The number after the '=' of a report line.
double ValueAfterEquals(const std::string& line) {
  return std::stod(line.substr(line.find('=') + 1));
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

ModelFamily FamilyFromName(const std::string& name) {
  if (name == "standard polynomial") return ModelFamily::StandardPolynomial;
  if (name == "standard polynomial with additive harmonic driving") {
    return ModelFamily::DrivenPolynomial;
  }
  if (name == "rational") return ModelFamily::Rational;
  EXPECT_EQ(name, "reduced polynomial");
  return ModelFamily::ReducedPolynomial;
}

// The smoothed states (D x Nfit, column-major) and derivative estimates (one
// row per component) of the first Ntrain vectors of a series.
struct TrainingData {
  int D = 0;
  int nfit = 0;
  std::vector<double> states;
  std::vector<std::vector<double>> derivatives;
};

TrainingData Train(const std::vector<double>& records, int D, int Ntrain, int m, double dt) {
  TrainingData t;
  t.D = D;
  t.nfit = Ntrain - m + 1;
  t.states.resize(static_cast<std::size_t>(D) * t.nfit);
  t.derivatives.assign(D, std::vector<double>(t.nfit));
  std::vector<double> component(Ntrain), smoothed(t.nfit);
  for (int e = 0; e < D; ++e) {
    for (int j = 0; j < Ntrain; ++j) component[j] = records[static_cast<std::size_t>(j) * D + e];
    DifferentiateSeries(component, Ntrain, m, 1, dt, smoothed, t.derivatives[e]);
    for (int r = 0; r < t.nfit; ++r) t.states[static_cast<std::size_t>(r) * D + e] = smoothed[r];
  }
  return t;
}

// Largest difference found, in units of the last printed digit.
struct Agreement {
  int compared = 0;
  int identical = 0;
  double worstUnits = 0.0;
};

void ComparePrinted(const std::string& expectedField, double value, Agreement& agreement,
                    const std::string& what, double allowedUnits = 2.0) {
  const std::string mine = fixed::FormatF(value, 20, 10);
  const double units = std::abs(std::stod(expectedField) - std::stod(mine)) * 1e10;
  ++agreement.compared;
  if (mine == expectedField) ++agreement.identical;
  agreement.worstUnits = std::max(agreement.worstUnits, units);
  EXPECT_LE(units, allowedUnits + 1e-6)
      << what << ": report '" << expectedField << "', computed '" << mine << "'";
}

class FixtureFitTest : public ::testing::TestWithParam<const char*> {
 protected:
  ErrorReporter reporter_;
  ErrorReporterScope bind_{reporter_};
};

TEST_P(FixtureFitTest, ReproducesEveryPrintedCoefficientAndError) {
  const std::string dir = kFixtures + "/" + GetParam();
  const std::vector<double> records = ReadSeries(dir + "/series.txt");
  const std::vector<std::string> report = ReadLines(dir + "/expected/report.txt");
  ASSERT_FALSE(report.empty());

  int D = 0, Ntrain = 0, m = 0, fitted = 0;
  double dt = 0.0;
  TrainingData training;
  ModelEquation equation;
  int i = 0;
  std::vector<std::string> coefficientLines;
  bool inCoefficients = false;
  Agreement agreement;

  for (std::size_t l = 0; l < report.size(); ++l) {
    const std::string& line = report[l];
    if (inCoefficients && !StartsWith(line, " Error of approximation: ")) {
      coefficientLines.push_back(line);
      continue;
    }
    if (StartsWith(line, " Dimension of vectors D =")) {
      D = static_cast<int>(ValueAfterEquals(line));
    } else if (StartsWith(line, " The number of vectors in a training time series Ntrain =")) {
      Ntrain = static_cast<int>(ValueAfterEquals(line));
    } else if (StartsWith(line, " Sampling interval dt =")) {
      dt = ValueAfterEquals(line);
    } else if (StartsWith(line, " Number of points for differentiation m =")) {
      m = static_cast<int>(ValueAfterEquals(line));
      training = Train(records, D, Ntrain, m, dt);
    } else if (StartsWith(line, " The type of function for the ")) {
      i = line[30] - '0';
      ASSERT_LT(l + 1, report.size());
      equation = ModelEquation{};
      equation.family = FamilyFromName(Trimmed(report[++l]));
    } else if (StartsWith(line, " Polynomial order nu =") ||
               StartsWith(line, " Numerator polynomial order: nu =") ||
               StartsWith(line, " First polynomial order: nu =")) {
      equation.nu = static_cast<int>(ValueAfterEquals(line));
    } else if (StartsWith(line, " Denominator polynomial order: mu =") ||
               StartsWith(line, " Second polynomial order: mu =")) {
      equation.mu = static_cast<int>(ValueAfterEquals(line));
    } else if (StartsWith(line, " Driving frequency we =")) {
      equation.we = ValueAfterEquals(line);  // printed to 10 decimals only
      equation.wdt = equation.we * dt;
    } else if (StartsWith(line, " Coefficients of the ")) {
      inCoefficients = true;
      coefficientLines.clear();
    } else if (StartsWith(line, " Error of approximation: ")) {
      inCoefficients = false;
      ModelEquation& e = equation;
      switch (e.family) {
        case ModelFamily::StandardPolynomial:
          e.nterms = static_cast<int>(TermCount(e.nu, D));
          break;
        case ModelFamily::DrivenPolynomial:
          e.nterms = static_cast<int>(TermCount(e.nu, D)) + 2;
          break;
        case ModelFamily::Rational:
          e.nnum = static_cast<int>(TermCount(e.nu, D));
          e.nden = static_cast<int>(TermCount(e.mu, D)) - 1;
          e.nterms = e.nnum + e.nden;
          break;
        case ModelFamily::ReducedPolynomial:
          e.nnum = e.nu + 1;
          e.nden = e.mu + 1;
          e.nterms = e.nnum + e.nden;
          break;
      }
      double err = 0.0;
      FitModelEquation(e, training.states, D, training.nfit, training.derivatives[i - 1], err);
      ++fitted;
      const std::string where = "line " + std::to_string(l + 1) + ", equation " + std::to_string(i);
      ASSERT_EQ(coefficientLines.size(), static_cast<std::size_t>(e.nterms)) << where;
      for (int k = 0; k < e.nterms; ++k) {
        ComparePrinted(coefficientLines[k], e.coef[k], agreement,
                       where + ", coefficient " + std::to_string(k + 1));
      }
      ComparePrinted(line.substr(25, 20), 100.0 * err, agreement, where + ", error");
    }
  }
  EXPECT_GT(fitted, 0);
  std::cout << "[ fixture  ] " << GetParam() << ": " << fitted << " equations, "
            << agreement.compared << " printed numbers, " << agreement.identical
            << " identical, largest difference " << agreement.worstUnits
            << " units of the last digit\n";
}

INSTANTIATE_TEST_SUITE_P(RecordedRuns, FixtureFitTest,
                         ::testing::Values("lorenz", "reduced", "loops"));

TEST(SingularFixtureTest, StopsTheFirstFitWithTheRecordedFatalMessage) {
  std::ostringstream errors;
  ErrorReporter reporter(&errors);
  ErrorReporterScope bind(reporter);
  const std::string dir = kFixtures + "/singular";
  // D = 2, Ntrain = 150, dt = 0.1, m = 3; equation 1 reduced with orders 0, 0.
  const TrainingData t = Train(ReadSeries(dir + "/series.txt"), 2, 150, 3, 0.1);
  ModelEquation e;
  e.family = ModelFamily::ReducedPolynomial;
  e.nnum = e.nden = 1;
  e.nterms = 2;
  double err = 0.0;
  EXPECT_THROW(FitModelEquation(e, t.states, 2, t.nfit, t.derivatives[0], err), RunStopped);
  EXPECT_EQ(reporter.Level(), 1);
  std::ifstream expected(dir + "/expected/stderr.txt", std::ios::binary);
  std::stringstream text;
  text << expected.rdbuf();
  EXPECT_EQ(errors.str(), text.str());
}

}  // namespace
}  // namespace odefit
