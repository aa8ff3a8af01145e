// Several recordings of one system and series with time stamps: fitted as
// one, no differentiation window spanning two recordings or a gap.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>

#include "../support/generated_systems.h"
#include "api/recordings.h"
#include "odefit/errors.h"
#include "odefit/fit.h"
#include "odefit/search.h"
#include "odefit/series.h"

namespace odefit {
namespace {

// A Lorenz recording of n vectors at dt 0.002 from the state after `transient` steps from (-8, 7, 27).
Series LorenzFrom(int transient, int n) {
  return testing::Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
    dx[0] = 10.0 * (x[1] - x[0]);
    dx[1] = x[0] * (28.0 - x[2]) - x[1];
    dx[2] = x[0] * x[1] - 8.0 / 3.0 * x[2];
  }, {-8.0, 7.0, 27.0}, 0.002, n, 0.0, transient);
}

// The seven terms of the Lorenz equations, each within `tolerance` (relative), and every
// other term 0 (or, with `others`, at most that in magnitude).
void ExpectLorenz(const Model& model, double tolerance, double others = 0.0) {
  const std::vector<std::map<std::string, double>> truth = {
      {{"x1", -10.0}, {"x2", 10.0}}, {{"x1", 28.0}, {"x2", -1.0}, {"x1*x3", -1.0}}, {{"x3", -8.0 / 3.0}, {"x1*x2", 1.0}}};
  for (int i = 1; i <= 3; ++i) {
    const std::vector<std::string> terms = TermNames(model.Equation(i), 3);
    const std::map<std::string, double>& expected = truth[static_cast<std::size_t>(i - 1)];
    for (std::size_t k = 0; k < terms.size(); ++k) {
      const double c = model.Equation(i).coef[k];
      const auto found = expected.find(terms[k]);
      if (found != expected.end()) {
        EXPECT_NEAR(c, found->second, tolerance * std::fabs(found->second)) << EquationText(model, i);
      } else {
        EXPECT_LE(std::fabs(c), others) << terms[k] << ": " << EquationText(model, i);
      }
    }
  }
}

SearchSettings Search(double dt) {
  SearchSettings settings;
  settings.dt = dt;
  settings.threads = 2;
  return settings;
}

TEST(Recordings, ThreeFitTogetherAsTheirRowsStackedByHand) {
  const std::vector<Series> parts = {LorenzFrom(1000, 1000), LorenzFrom(1700, 1000), LorenzFrom(2900, 1000)};
  const Series joined = JoinRecordings(parts);
  EXPECT_EQ(joined.breaks, (std::vector<std::size_t>{1000, 2000}));
  FitSettings settings;
  settings.dt = 0.002;
  for (const std::optional<SparseOptions>& sparse : {std::optional<SparseOptions>(), std::optional(SparseOptions{0.5, false})}) {
    settings.sparse = sparse;
    const Model together = FitModel(joined, settings);
    Derivatives byHand;
    byHand.dimension = 3;
    for (const Series& part : parts) {
      const Derivatives d = Differentiate(part.values, 3, 3, 0.002);
      byHand.states.insert(byHand.states.end(), d.states.begin(), d.states.end());
      byHand.slopes.insert(byHand.slopes.end(), d.slopes.begin(), d.slopes.end());
      byHand.rows += d.rows;
    }
    const Model expected = FitModel(byHand, 0.002, settings.equations, sparse);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(together.Equation(i).coef, expected.Equation(i).coef);  // to the bit
      EXPECT_EQ(together.Equation(i).error, expected.Equation(i).error);
    }
    EXPECT_EQ(together.recordings, 3);
    EXPECT_EQ(together.train, 3000);
    if (sparse) ExpectLorenz(together, 1e-3);
  }
  // Windows across the joins would have fitted the jumps between recordings.
  Series crossing = joined;
  crossing.breaks.clear();
  settings.sparse.reset();
  EXPECT_GT(FitModel(crossing, settings).Equation(1).error, 100 * FitModel(joined, settings).Equation(1).error);

  const SearchResult found = SearchModels(joined, Search(0.002));
  EXPECT_EQ(found.candidates.front().terms, 7);
  ExpectLorenz(found.best, 1e-3);
  EXPECT_EQ(found.best.recordings, 3);
}

TEST(Recordings, TheSearchHoldsOutTheEndOfEveryRecording) {
  Series three{1, {}, {}, {}, {10, 30}};
  for (int k = 0; k < 40; ++k) three.values.push_back(k);
  const api::HeldOutLast ordered(three, 8);  // shares 2, 4 and 2 of the lengths 10, 20, 10
  std::vector<double> expected;
  for (const auto& [begin, end] : std::vector<std::pair<int, int>>{{0, 8}, {10, 26}, {30, 38}, {8, 10}, {26, 30}, {38, 40}}) {
    for (int k = begin; k < end; ++k) expected.push_back(k);
  }
  EXPECT_EQ(ordered.series().values, expected);
  EXPECT_EQ(ordered.series().breaks, (std::vector<std::size_t>{8, 24, 32, 34, 38}));
  Series one{1, {1, 2, 3}, {}, {}, {}};
  EXPECT_EQ(&api::HeldOutLast(one, 1).series(), &one);  // one recording as it is
}

TEST(Recordings, JoiningRefusesRecordingsOfOtherSystems) {
  Series a{2, {1, 2, 3, 4}, {"x", "y"}, {}, {}}, b{2, {5, 6}, {"x", "z"}, {}, {}}, c{3, {1, 2, 3}, {}, {}, {}};
  Series timed{2, {1, 2}, {}, {0.5}, {}};
  EXPECT_THROW(JoinRecordings(std::vector<Series>{a, b}), InvalidArgument);
  EXPECT_THROW(JoinRecordings(std::vector<Series>{a, c}), InvalidArgument);
  EXPECT_THROW(JoinRecordings(std::vector<Series>{a, timed}), InvalidArgument);
  const Series joined = JoinRecordings(std::vector<Series>{a, Series{2, {5, 6}, {}, {}, {}}});
  EXPECT_EQ(joined.names, a.names);
  EXPECT_EQ(joined.size(), 3u);
}

struct SamplingCase {
  const char* what;
  std::vector<double> times;
  std::vector<std::size_t> breaks;
  double dt;
  std::vector<std::pair<std::size_t, std::size_t>> pieces;  // expected [begin, end)
  int gaps;
  bool uniform;
  double sampled;     // the dt found
  std::string error;  // a part of the InvalidArgument expected instead
};

TEST(Recordings, TimeStampsGiveTheIntervalAndGapsSplitThePieces) {
  const std::vector<SamplingCase> cases = {
      {"no times", {}, {}, 0.1, {{0, 6}}, 0, true, 0.1, ""},
      {"breaks", {}, {2, 4}, 0.1, {{0, 2}, {2, 4}, {4, 6}}, 0, true, 0.1, ""},
      {"uniform stamps", {0, 0.1, 0.2, 0.3, 0.4, 0.5}, {}, 0.0, {{0, 6}}, 0, true, 0.1, ""},
      {"a dt that agrees", {0, 0.1, 0.2, 0.3, 0.4, 0.5}, {}, 0.1, {{0, 6}}, 0, true, 0.1, ""},
      {"a missing sample is a gap", {0, 0.1, 0.2, 0.4, 0.5, 0.6}, {}, 0.0, {{0, 3}, {3, 6}}, 1, true, 0.1, ""},
      {"jitter below the gap", {0, 0.1, 0.2, 0.34, 0.4, 0.5}, {}, 0.0, {{0, 6}}, 0, false, 0.1, ""},
      {"a gap and a break", {0, 0.1, 0.3, 7, 7.1, 7.2}, {3}, 0.0, {{0, 2}, {2, 3}, {3, 6}}, 1, true, 0.1, ""},
      {"a dt that disagrees", {0, 0.1, 0.2, 0.3, 0.4, 0.5}, {}, 0.2, {}, 0, true, 0, "dt 0.2 disagrees with the time stamps, 0.1 apart"},
      {"no dt at all", {}, {}, 0.0, {}, 0, true, 0, "sampling interval must be positive"},
      {"times that go back", {0, 0.1, 0.05, 0.3, 0.4, 0.5}, {}, 0.0, {}, 0, true, 0, "does not follow"},
  };
  for (const SamplingCase& c : cases) {
    Series series{1, {1, 2, 3, 4, 5, 6}, {}, c.times, c.breaks};
    try {
      const Sampling s = SeriesSampling(series, c.dt);
      EXPECT_EQ(c.error, "") << c.what;
      std::vector<std::pair<std::size_t, std::size_t>> pieces;
      for (const SeriesPiece& p : s.pieces) pieces.emplace_back(p.begin, p.end);
      EXPECT_EQ(pieces, c.pieces) << c.what;
      EXPECT_EQ(s.gaps, c.gaps) << c.what;
      EXPECT_EQ(s.uniform, c.uniform) << c.what;
      EXPECT_EQ(s.dt, c.sampled) << c.what;  // 0.1 exactly, from stamps 0.1 apart in decimals
    } catch (const InvalidArgument& e) {
      EXPECT_NE(c.error, "") << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

TEST(TimeStamps, LineFitsOnUnevenTimesAreExactOnLinesAndMatchTheEvenOnes) {
  const std::vector<double> uneven = {0.0, 0.13, 0.19, 0.33, 0.41, 0.5, 0.66};
  std::vector<double> line;
  for (const double t : uneven) line.insert(line.end(), {3.0 - 2.0 * t, 5.0});
  const Derivatives d = DifferentiateOnTimes(line, uneven, 2, 3);
  ASSERT_EQ(d.rows, 5);
  for (int r = 0; r < d.rows; ++r) {
    EXPECT_NEAR(d.slopes[static_cast<std::size_t>(2 * r)], -2.0, 1e-12);
    EXPECT_NEAR(d.states[static_cast<std::size_t>(2 * r)], 3.0 - 2.0 * uneven[static_cast<std::size_t>(r + 1)], 1e-12);
    EXPECT_EQ(d.slopes[static_cast<std::size_t>(2 * r + 1)], 0.0);
  }
  const Series lorenz = LorenzFrom(1000, 200);
  std::vector<double> even(200);
  for (std::size_t k = 0; k < even.size(); ++k) even[k] = 0.002 * static_cast<double>(k);
  for (const int points : {3, 4, 7}) {
    const Derivatives a = Differentiate(lorenz.values, 3, points, 0.002), b = DifferentiateOnTimes(lorenz.values, even, 3, points);
    ASSERT_EQ(a.rows, b.rows);
    for (std::size_t k = 0; k < a.slopes.size(); ++k) {
      EXPECT_NEAR(a.slopes[k], b.slopes[k], 1e-9 * (1.0 + std::fabs(a.slopes[k])));
      EXPECT_NEAR(a.states[k], b.states[k], 1e-12 * (1.0 + std::fabs(a.states[k])));
    }
  }
  EXPECT_THROW(DifferentiateOnTimes(line, std::vector<double>{0, 1, 1, 2, 3, 4, 5}, 2, 3), InvalidArgument);
}

// 2000 vectors about 0.002 apart with a share of them removed at random (a fixed seed), the rest
// stamped with their times; with `jitter`, each sampled up to a tenth of the interval early or late
// (on a grid ten times finer), so that the steps are uneven.
Series WithSamplesRemoved(double share, bool jitter = false) {
  const Series fine = testing::Generate([](double, const std::vector<double>& x, std::vector<double>& dx) {
    dx[0] = 10.0 * (x[1] - x[0]);
    dx[1] = x[0] * (28.0 - x[2]) - x[1];
    dx[2] = x[0] * x[1] - 8.0 / 3.0 * x[2];
  }, {-8.0, 7.0, 27.0}, 0.0002, 20010, 0.0, 10000);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Series kept;
  kept.dimension = 3;
  kept.names = {"x", "y", "z"};
  for (std::size_t k = 1; k <= 2000; ++k) {
    const std::size_t at = 10 * k + (jitter ? static_cast<std::size_t>(uniform(random) * 3.0) : 1) - 1;
    if (uniform(random) < share) continue;
    kept.times.push_back(0.0002 * static_cast<double>(at));
    kept.values.insert(kept.values.end(), fine.values.begin() + static_cast<std::ptrdiff_t>(3 * at),
                       fine.values.begin() + static_cast<std::ptrdiff_t>(3 * at + 3));
  }
  return kept;
}

TEST(TimeStamps, FivePercentRemovedFitsLorenzWithinHalfAPercentAndTheSearchFindsItsTerms) {
  const Series holes = WithSamplesRemoved(0.05);
  const Sampling sampling = SeriesSampling(holes, 0.0);
  EXPECT_GT(sampling.gaps, 50);
  EXPECT_TRUE(sampling.uniform);
  EXPECT_EQ(sampling.dt, 0.002);
  FitSettings settings;  // dt from the stamps
  const Model model = FitModel(holes, settings);
  EXPECT_EQ(model.dt, 0.002);
  ExpectLorenz(model, 5e-3, 0.05);
  EXPECT_EQ(EquationText(model, 1, 3).substr(0, 8), "dx/dt = ");
  const SearchResult found = SearchModels(holes, Search(0.002));
  EXPECT_EQ(found.candidates.front().terms, 7);
  ExpectLorenz(found.best, 5e-3);

  // Samples taken up to a tenth of the interval early or late: the line fits on the actual times.
  const Series jittered = WithSamplesRemoved(0.0, true);
  EXPECT_FALSE(SeriesSampling(jittered, 0.0).uniform);
  settings.sparse = SparseOptions{0.5, false};
  ExpectLorenz(FitModel(jittered, settings), 5e-3);
  settings.equations = {EquationSpec{ModelFamily::DrivenPolynomial, 1, 0, 5.0}};
  EXPECT_THROW(FitModel(holes, settings), InvalidArgument);  // the driving's phase counts samples
}

}  // namespace
}  // namespace odefit
