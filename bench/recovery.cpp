// The model search on published polynomial systems: which recover their
// exact structure (the true terms, nothing else) from 10 000 samples at 100
// per dominant period, clean and with Gaussian noise of a share of each
// variable's standard deviation. Prints a Markdown table.
//
//   odefit_recovery [noise ...]          (default: 0 0.01 0.05)
//
// Runs the default search on one thread per system and noise; it takes a
// while (minutes per noise level on two cores).

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../tests/support/generated_systems.h"
#include "odefit/model.h"
#include "odefit/search.h"
#include "published_systems.h"
#include "search/spectrum.h"

namespace {

using odefit::bench::PublishedSystem;

std::string TermName(const std::array<int, 3>& powers, int D) {
  std::string name;
  for (int i = 0; i < D; ++i) {
    if (powers[static_cast<std::size_t>(i)] == 0) continue;
    if (!name.empty()) name += "*";
    name += 'x';
    name += std::to_string(i + 1);
    if (powers[static_cast<std::size_t>(i)] > 1) {
      name += '^';
      name += std::to_string(powers[static_cast<std::size_t>(i)]);
    }
  }
  return name.empty() ? "1" : name;
}

odefit::testing::Rhs RightHandSide(const PublishedSystem& s) {
  return [s](double t, const std::vector<double>& x, std::vector<double>& dx) {
    for (std::size_t i = 0; i < s.equations.size(); ++i) {
      double v = 0.0;
      for (const odefit::bench::Term& term : s.equations[i]) {
        double m = term.coefficient;
        for (std::size_t k = 0; k < x.size(); ++k) m *= std::pow(x[k], term.powers[k]);
        v += m;
      }
      dx[i] = v;
    }
    if (s.drive != 0.0) dx.back() += s.drive * std::cos(s.omega * t);
  };
}

// The dominant period of the first variable (its periodogram's peak).
double DominantPeriod(const PublishedSystem& s) {
  const double dt = 0.01;
  const int n = 1 << 15;
  const odefit::Series pilot = odefit::testing::Generate(RightHandSide(s), s.start, dt, n, 0.0, 5000);
  const std::size_t D = static_cast<std::size_t>(s.dimension);
  std::vector<std::complex<double>> a(static_cast<std::size_t>(n));
  double mean = 0.0;
  for (int k = 0; k < n; ++k) mean += pilot.values[static_cast<std::size_t>(k) * D] / n;
  for (int k = 0; k < n; ++k) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * k / n);
    a[static_cast<std::size_t>(k)] = w * (pilot.values[static_cast<std::size_t>(k) * D] - mean);
  }
  odefit::search::Fft(a);
  std::size_t peak = 2;
  for (std::size_t k = 2; k < a.size() / 2; ++k) {
    if (std::norm(a[k]) > std::norm(a[peak])) peak = k;
  }
  return n * dt / static_cast<double>(peak);
}

struct Outcome {
  bool exact = false;
  double worst = 0.0;  // largest relative coefficient error of the true terms
  std::string found;
};

Outcome Recover(const PublishedSystem& s, double noise) {
  const double dt = DominantPeriod(s) / 100.0;
  const odefit::Series series = odefit::testing::Generate(RightHandSide(s), s.start, dt, 10000, noise, 2000);
  odefit::SearchSettings settings;
  settings.dt = dt;
  Outcome out;
  odefit::SearchResult result;
  try {
    result = odefit::SearchModels(series, settings);
  } catch (const std::exception& e) {
    out.found = e.what();
    return out;
  }
  out.exact = true;
  for (int i = 0; i < s.dimension; ++i) {
    const odefit::ModelEquation& eq = result.best.Equation(i + 1);
    const std::vector<std::string> names = odefit::TermNames(eq, s.dimension);
    std::map<std::string, double> found;
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (eq.coef[k] == 0.0) continue;
      const bool denominator = eq.family == odefit::ModelFamily::Rational && k >= static_cast<std::size_t>(eq.nnum);
      std::string key = denominator ? "/" : "";
      key += names[k];
      found[key] = eq.coef[k];
    }
    std::map<std::string, double> truth;
    for (const odefit::bench::Term& term : s.equations[static_cast<std::size_t>(i)]) {
      truth[TermName(term.powers, s.dimension)] = term.coefficient;
    }
    const bool driven = s.drive != 0.0 && i + 1 == s.dimension;
    if (driven) {
      const bool pair = found.count("cos") && found.count("sin");
      out.exact = out.exact && pair;
      found.erase("cos");
      found.erase("sin");
    }
    if (found.size() != truth.size()) out.exact = false;
    for (const auto& [name, value] : truth) {
      if (!found.count(name)) {
        out.exact = false;
        continue;
      }
      out.worst = std::max(out.worst, std::fabs(found.at(name) - value) / std::fabs(value));
    }
    if (!out.found.empty()) out.found += "; ";
    out.found += odefit::EquationText(result.best, i + 1);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> noises;
  for (int k = 1; k < argc; ++k) noises.push_back(std::atof(argv[k]));
  if (noises.empty()) noises = {0.0, 0.01, 0.05};
  const std::vector<PublishedSystem> systems = odefit::bench::PublishedSystems();
  std::printf("| system |");
  for (const double noise : noises) std::printf(" %g %% noise |", 100.0 * noise);
  std::printf("\n|---|");
  for (std::size_t k = 0; k < noises.size(); ++k) std::printf("---|");
  std::printf("\n");
  std::vector<int> exact(noises.size(), 0);
  std::vector<std::string> failures;
  for (const PublishedSystem& s : systems) {
    std::printf("| %s |", s.name.c_str());
    for (std::size_t k = 0; k < noises.size(); ++k) {
      const Outcome o = Recover(s, noises[k]);
      if (o.exact) {
        ++exact[k];
        std::printf(" exact, %.2g %% |", 100.0 * o.worst);
      } else {
        std::printf(" wrong |");
        char level[32];
        std::snprintf(level, sizeof level, " at %g %%: ", 100.0 * noises[k]);
        std::string line = s.name;
        line += level;
        line += o.found;
        failures.push_back(line);
      }
      std::fflush(stdout);
    }
    std::printf("\n");
  }
  std::printf("| exact structure |");
  for (std::size_t k = 0; k < noises.size(); ++k) std::printf(" %d of %zu |", exact[k], systems.size());
  std::printf("\n\n");
  for (const std::string& f : failures) std::printf("- %s\n", f.c_str());
  return 0;
}
