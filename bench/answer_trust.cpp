// How far odefit's answers can be trusted, on generated series of known
// systems. Prints Markdown tables for the README:
//
//   odefit_trust doubts     the search's warnings and its terms' inclusion on
//                           white noise, a random walk, a Lorenz-like flow that
//                           needs sin(x1), and Lorenz at 1 % noise
//   odefit_trust coverage [series per row]
//                           how often the 95 % intervals cover the true
//                           coefficients (plain fit --intervals and the
//                           search's winner), and their half-width over the
//                           actual error, on Lorenz, Van der Pol and Rossler
//                           series, clean and at 1 % and 5 % noise
//
// Runs on one thread; the coverage table takes some minutes on two cores.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../tests/support/generated_systems.h"
#include "odefit/fit.h"
#include "odefit/intervals.h"
#include "odefit/model.h"
#include "odefit/search.h"

namespace {

using odefit::testing::Rhs;

struct System {
  std::string name;
  Rhs rhs;
  std::vector<double> start;
  double dt;
  int order;  // of the plain fit
  // True coefficients per equation, by term index of a standard polynomial of `order`.
  std::vector<std::map<int, double>> truth;
};

// Term indices of standard polynomials (TermNames order): degree by degree, x1 first.
std::vector<System> Systems() {
  std::vector<System> s;
  // D = 3, order 2: 1, x1, x2, x3, x1^2, x1x2, x1x3, x2^2, x2x3, x3^2.
  s.push_back({"Lorenz", [](double, const std::vector<double>& x, std::vector<double>& dx) {
                 dx[0] = 10.0 * (x[1] - x[0]);
                 dx[1] = x[0] * (28.0 - x[2]) - x[1];
                 dx[2] = x[0] * x[1] - 8.0 / 3.0 * x[2];
               }, {-8.0, 7.0, 27.0}, 0.01, 2,
               {{{1, -10.0}, {2, 10.0}}, {{1, 28.0}, {2, -1.0}, {6, -1.0}}, {{5, 1.0}, {3, -8.0 / 3.0}}}});
  // D = 2, order 3: 1, x1, x2, x1^2, x1x2, x2^2, x1^3, x1^2x2, x1x2^2, x2^3.
  s.push_back({"Van der Pol", [](double, const std::vector<double>& x, std::vector<double>& dx) {
                 dx[0] = x[1];
                 dx[1] = 1.5 * (1.0 - x[0] * x[0]) * x[1] - x[0];
               }, {2.0, 0.0}, 0.05, 3, {{{2, 1.0}}, {{1, -1.0}, {2, 1.5}, {7, -1.5}}}});
  s.push_back({"Rossler", [](double, const std::vector<double>& x, std::vector<double>& dx) {
                 dx[0] = -x[1] - x[2];
                 dx[1] = x[0] + 0.2 * x[1];
                 dx[2] = 0.2 + x[2] * (x[0] - 5.7);
               }, {1.0, 1.0, 0.0}, 0.05, 2,
               {{{2, -1.0}, {3, -1.0}}, {{1, 1.0}, {2, 0.2}}, {{0, 0.2}, {6, 1.0}, {3, -5.7}}}});
  return s;
}

struct Tally {
  int covered = 0, count = 0;
  std::vector<double> ratios;  // half-width / |error|
  // Per true term: the sums of half-widths and of squared errors over the series, and their count.
  std::map<std::pair<std::size_t, int>, std::array<double, 3>> terms;
  int structures = 0, series = 0;
  void Add(const odefit::Model& m, const System& s) {
    for (std::size_t i = 0; i < s.truth.size(); ++i) {
      const odefit::ModelEquation& eq = m.equations[i];
      for (const auto& [k, value] : s.truth[i]) {
        const std::size_t c = static_cast<std::size_t>(k);
        if (eq.intervalLower.size() <= c || std::isnan(eq.intervalLower[c])) continue;
        ++count;
        if (eq.intervalLower[c] <= value && value <= eq.intervalUpper[c]) ++covered;
        const double half = 0.5 * (eq.intervalUpper[c] - eq.intervalLower[c]);
        ratios.push_back(half / std::max(std::fabs(eq.coef[c] - value), 1e-300));
        std::array<double, 3>& t = terms[{i, k}];
        t[0] += half;
        t[1] += (eq.coef[c] - value) * (eq.coef[c] - value);
        t[2] += 1.0;
      }
    }
  }
  std::string Row() const {
    if (count == 0) return "- | - | -";
    std::vector<double> r = ratios;
    std::sort(r.begin(), r.end());
    // A term's mean half-width over its root mean square error: about 2 for
    // an interval of exactly the right width (1.96 standard deviations).
    double worst = 0.0;
    std::vector<double> perTerm;
    for (const auto& [key, t] : terms) {
      perTerm.push_back(t[0] / t[2] / std::sqrt(std::max(t[1] / t[2], 1e-300)));
      worst = std::max(worst, perTerm.back());
    }
    std::sort(perTerm.begin(), perTerm.end());
    char text[160];
    std::snprintf(text, sizeof text, "%.0f %% of %d | %.2g | %.2g, %.2g", 100.0 * covered / count, count,
                  r[r.size() / 2], perTerm[perTerm.size() / 2], worst);
    return text;
  }
};

// Whether the search's model keeps exactly the true terms (standard polynomials only).
bool RightStructure(const odefit::Model& m, const System& s) {
  for (std::size_t i = 0; i < s.truth.size(); ++i) {
    const odefit::ModelEquation& eq = m.equations[i];
    if (eq.family != odefit::ModelFamily::StandardPolynomial || eq.nu > s.order) return false;
    // Indices of the standard polynomial agree across orders for the lower degrees.
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      if ((eq.coef[k] != 0.0) != (s.truth[i].count(static_cast<int>(k)) > 0)) return false;
    }
  }
  return true;
}

int PointsFor(double noise) { return noise == 0.0 ? 3 : noise <= 0.01 ? 5 : 7; }

void Coverage(int perRow) {
  std::printf("| system | noise | method | interval covers | half-width / error, median | half-width / rms error per term, median, largest | right structure |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const System& s : Systems()) {
    for (const double noise : {0.0, 0.01, 0.05}) {
      Tally plain, searched;
      for (int r = 0; r < perRow; ++r) {
        const odefit::Series series =
            odefit::testing::Generate(s.rhs, s.start, s.dt, 4000, noise, 1000 + 137 * r, 12345u + static_cast<unsigned>(r));
        odefit::FitSettings fit;
        fit.dt = s.dt;
        fit.points = PointsFor(noise);
        fit.equations = {odefit::EquationSpec{odefit::ModelFamily::StandardPolynomial, s.order}};
        odefit::Model m = odefit::FitModel(series, fit);
        odefit::SetIntervals(m, odefit::FitIntervals(series, fit, m));
        plain.Add(m, s);
        odefit::SearchSettings settings;
        settings.dt = s.dt;
        ++searched.series;
        try {
          const odefit::SearchResult result = odefit::SearchModels(series, settings);
          if (RightStructure(result.best, s)) {
            ++searched.structures;
            searched.Add(result.best, s);
          }
        } catch (const std::exception& e) {
          std::fprintf(stderr, "%s: %s\n", s.name.c_str(), e.what());
        }
      }
      std::printf("| %s | %g %% | fit, %d points | %s | - |\n", s.name.c_str(), 100.0 * noise, PointsFor(noise),
                  plain.Row().c_str());
      std::printf("| %s | %g %% | search | %s | %d of %d |\n", s.name.c_str(), 100.0 * noise, searched.Row().c_str(),
                  searched.structures, searched.series);
      std::fflush(stdout);
    }
  }
}

odefit::Series Noise(bool walk, int n, int D) {
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  odefit::Series series;
  series.dimension = D;
  std::vector<double> x(static_cast<std::size_t>(D), 0.0);
  for (int k = 0; k < n; ++k) {
    for (double& v : x) v = walk ? v + normal(random) : normal(random);
    series.values.insert(series.values.end(), x.begin(), x.end());
  }
  return series;
}

void Doubts() {
  struct Case {
    std::string name;
    odefit::Series series;
    double dt;
  };
  const std::vector<Case> cases = {
      {"white noise", Noise(false, 4000, 3), 0.01},
      {"random walk", Noise(true, 4000, 3), 0.01},
      {"Lorenz with 8 sin(x1) in dx2/dt",
       odefit::testing::Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
         dx[0] = 10.0 * (x[1] - x[0]);
         dx[1] = x[0] * (28.0 - x[2]) - x[1] + 8.0 * std::sin(x[0]);
         dx[2] = x[0] * x[1] - 8.0 / 3.0 * x[2];
       }, {-8.0, 7.0, 27.0}, 0.01, 4000, 0.0), 0.01},
      {"Lorenz, 1 % noise", odefit::testing::Lorenz(0.01, 4000, 0.01), 0.01},
      {"Lorenz, clean", odefit::testing::Lorenz(0.01, 4000, 0.0), 0.01},
      {"Lorenz, 5 % noise", odefit::testing::Lorenz(0.01, 4000, 0.05), 0.01},
  };
  std::printf("| series | warnings | inclusion of the kept terms |\n|---|---|---|\n");
  for (const Case& c : cases) {
    odefit::SearchSettings settings;
    settings.dt = c.dt;
    const odefit::SearchResult result = odefit::SearchModels(c.series, settings);
    std::string doubts, inclusion;
    for (const std::string& d : result.doubts) doubts += (doubts.empty() ? "" : "; ") + d;
    for (const std::vector<double>& shares : result.inclusion) {
      for (const double v : shares) {
        if (std::isnan(v)) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%s%.2f", inclusion.empty() ? "" : " ", v);
        inclusion += text;
      }
      inclusion += " /";
    }
    std::printf("| %s | %s | %s |\n", c.name.c_str(), doubts.empty() ? "none" : doubts.c_str(), inclusion.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "doubts") == 0) {
    Doubts();
  } else if (argc >= 2 && std::strcmp(argv[1], "coverage") == 0) {
    Coverage(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 5);
  } else {
    std::fprintf(stderr, "usage: odefit_trust doubts | coverage [series per row]\n");
    return 1;
  }
  return 0;
}
