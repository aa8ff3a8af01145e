// The model search on published polynomial systems: which recover their
// exact structure (the true terms, nothing else) from 10 000 samples at 100
// (or N) per dominant period, clean and with Gaussian noise of a share of each
// variable's standard deviation. Prints a Markdown table.
//
//   odefit_recovery [noise ...] [system ...] [per-period=N]
//                                        (default: 0 0.01 0.05, every system, 100 samples a period)
//   odefit_recovery accuracy             coefficients under noise, draw by draw
//
// Runs the default search on one thread per system and noise; it takes a
// while (minutes per noise level on two cores; about five for `accuracy`).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../tests/support/generated_systems.h"
#include "odefit/model.h"
#include "odefit/search.h"
#include "published_systems.h"

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

// The characteristic period: the mean time between local maxima of the
// first variable (a periodogram's peak would pick the slow switching of a
// Lorenz-like attractor between its lobes, not its oscillation).
double DominantPeriod(const PublishedSystem& s) {
  const double dt = 0.005;
  const int n = 40000;
  const odefit::Series pilot = odefit::testing::Generate(RightHandSide(s), s.start, dt, n, 0.0, 5000);
  const std::size_t D = static_cast<std::size_t>(s.dimension);
  const auto x = [&](int k) { return pilot.values[static_cast<std::size_t>(k) * D]; };
  int maxima = 0, first = -1, last = -1;
  for (int k = 1; k + 1 < n; ++k) {
    if (x(k) > x(k - 1) && x(k) >= x(k + 1)) {
      ++maxima;
      if (first < 0) first = k;
      last = k;
    }
  }
  return maxima >= 2 ? (last - first) * dt / (maxima - 1) : n * dt;
}

struct Outcome {
  bool exact = false;
  double worst = 0.0;  // largest relative coefficient error of the true terms
  std::string found;
  bool warned = false;  // the search gave a warning
};

Outcome Judge(const PublishedSystem& s, const odefit::Series& series, double dt) {
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
  out.warned = !result.doubts.empty();
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

Outcome Recover(const PublishedSystem& s, double noise, int perPeriod) {
  const double dt = DominantPeriod(s) / perPeriod;
  return Judge(s, odefit::testing::Generate(RightHandSide(s), s.start, dt, 10000, noise, 2000), dt);
}

// The coefficients' accuracy under noise, each case with its goal: Lorenz on
// long finely sampled series (three noise draws each), others on 10 000
// samples at 100 per period, and a weak damping on a short series.
int Accuracy() {
  using T = odefit::bench::Term;
  const auto x = [](int a, int b, int c) { return std::array<int, 3>{a, b, c}; };
  const std::vector<PublishedSystem> systems = odefit::bench::PublishedSystems();
  const auto named = [&](const std::string& name) {
    return *std::find_if(systems.begin(), systems.end(), [&](const PublishedSystem& s) { return s.name == name; });
  };
  struct Case {
    PublishedSystem system;
    double dt, noise;
    int n;
    unsigned draws;
    double goal;  // largest relative error of the true terms; 0: structure only
    int transient;
    int perPeriod = 100;  // samples per dominant period where dt is 0
  };
  const PublishedSystem damped{"damped oscillator (-0.1 x2 - 4 x1)", 2, {{T{1, x(0, 1, 0)}}, {T{-4, x(1, 0, 0)}, T{-0.1, x(0, 1, 0)}}},
                               {2.0, 0.0}};
  const std::vector<Case> cases = {
      {named("Lorenz"), 0.001, 0.05, 100000, 3, 0.02, 1000},   {named("Lorenz"), 0.001, 0.10, 100000, 3, 0.05, 1000},
      {named("Lorenz"), 0.001, 0.20, 100000, 1, 0.0, 1000},    {named("Van der Pol"), 0.0, 0.05, 10000, 1, 0.0, 2000},
      {named("Van der Pol"), 0.0, 0.10, 10000, 1, 0.0, 2000},  {named("Rossler"), 0.0, 0.05, 10000, 1, 0.0, 2000},
      {named("Chen"), 0.0, 0.05, 10000, 1, 0.0, 2000},         {named("Sprott B"), 0.0, 0.05, 10000, 1, 0.0, 2000},
      {damped, 0.005, 0.05, 10000, 1, 0.0, 0},
      // Long and coarsely sampled: the search's sums of rows must not span the dynamics.
      {named("Lorenz"), 0.02, 0.05, 100000, 3, 0.0, 1000},     {named("Lorenz"), 0.01, 0.05, 100000, 3, 0.0, 1000},
  };
  std::printf("| system | samples, dt | noise | draw | goal | result |\n|---|---|---|---|---|---|\n");
  for (const Case& c : cases) {
    const double dt = c.dt > 0.0 ? c.dt : DominantPeriod(c.system) / c.perPeriod;
    for (unsigned draw = 1; draw <= c.draws; ++draw) {
      // Lorenz's right-hand side as the tests write it, so the draws are theirs.
      const odefit::testing::Rhs lorenz = [](double, const std::vector<double>& v, std::vector<double>& dv) {
        dv[0] = 10.0 * (v[1] - v[0]);
        dv[1] = v[0] * (28.0 - v[2]) - v[1];
        dv[2] = v[0] * v[1] - 8.0 / 3.0 * v[2];
      };
      const odefit::Series series =
          odefit::testing::Generate(c.system.name == "Lorenz" ? lorenz : RightHandSide(c.system), c.system.start, dt, c.n,
                                    c.noise, c.transient, c.draws > 1 ? draw : 12345);
      const Outcome o = Judge(c.system, series, dt);
      char goal[32] = "exact";
      if (c.goal > 0.0) std::snprintf(goal, sizeof goal, "exact, %g %%", 100.0 * c.goal);
      std::printf("| %s | %d, %.3g | %g %% | %u | %s | ", c.system.name.c_str(), c.n, dt, 100.0 * c.noise, draw, goal);
      if (o.exact) std::printf("exact, %.2g %%%s |\n", 100.0 * o.worst, o.warned ? ", warned" : "");
      else std::printf("wrong%s: %s |\n", o.warned ? " (warned)" : "", o.found.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "accuracy") return Accuracy();
  std::vector<double> noises;
  std::vector<std::string> only;  // names of the systems to run (none: all)
  int perPeriod = 100;
  for (int k = 1; k < argc; ++k) {
    if (std::string(argv[k]).rfind("per-period=", 0) == 0) {
      perPeriod = std::max(4, std::atoi(argv[k] + 11));
      continue;
    }
    char* end = nullptr;
    const double noise = std::strtod(argv[k], &end);
    if (end != argv[k] && *end == '\0') {
      noises.push_back(noise);
    } else {
      only.emplace_back(argv[k]);
    }
  }
  if (noises.empty()) noises = {0.0, 0.01, 0.05};
  std::vector<PublishedSystem> systems = odefit::bench::PublishedSystems();
  if (!only.empty()) {
    std::erase_if(systems, [&](const PublishedSystem& s) { return std::find(only.begin(), only.end(), s.name) == only.end(); });
  }
  std::printf("| system |");
  for (const double noise : noises) std::printf(" %g %% noise |", 100.0 * noise);
  std::printf("\n|---|");
  for (std::size_t k = 0; k < noises.size(); ++k) std::printf("---|");
  std::printf("\n");
  std::vector<int> exact(noises.size(), 0), warned(noises.size(), 0);
  std::vector<std::string> failures;
  for (const PublishedSystem& s : systems) {
    std::printf("| %s |", s.name.c_str());
    for (std::size_t k = 0; k < noises.size(); ++k) {
      const Outcome o = Recover(s, noises[k], perPeriod);
      warned[k] += o.warned ? 1 : 0;
      if (o.exact) {
        ++exact[k];
        std::printf(" exact, %.2g %%%s |", 100.0 * o.worst, o.warned ? ", warned" : "");
      } else {
        std::printf(" wrong%s |", o.warned ? " (warned)" : "");
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
  std::printf("\n| warned |");
  for (std::size_t k = 0; k < noises.size(); ++k) std::printf(" %d |", warned[k]);
  std::printf("\n\n");
  for (const std::string& f : failures) std::printf("- %s\n", f.c_str());
  return 0;
}
