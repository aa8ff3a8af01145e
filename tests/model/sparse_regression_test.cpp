#include "model/sparse_regression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "model/model_fit.h"
#include "model/driving_scan.h"
#include "model/equation_shape.h"
#include "model/monomials.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// Rows of order-2 monomials in three variables and two targets:
// y0 = 3 x1 - 2 x2*x3 (+ noise), y1 = 0.5 + x3^2 (+ noise).
struct Problem {
  int rows = 0;
  int K = 10;
  std::vector<double> X;      // 3 x rows
  std::vector<double> block;  // rows x (K + 2), column-major
};

Problem MakeProblem(int rows, double noise, unsigned seed = 7) {
  Problem p;
  p.rows = rows;
  std::mt19937 random(seed);
  std::normal_distribution<double> normal;
  p.X.resize(3 * static_cast<std::size_t>(rows));
  for (double& x : p.X) x = 2.0 * normal(random);
  p.block.resize(static_cast<std::size_t>(rows) * (p.K + 2));
  FillMonomialColumns(p.X, 3, rows, 2, p.block, rows);
  for (int r = 0; r < rows; ++r) {
    const double x1 = p.X[3 * r], x2 = p.X[3 * r + 1], x3 = p.X[3 * r + 2];
    p.block[r + static_cast<std::size_t>(p.K) * rows] = 3.0 * x1 - 2.0 * x2 * x3 + noise * normal(random);
    p.block[r + static_cast<std::size_t>(p.K + 1) * rows] = 0.5 + x3 * x3 + noise * normal(random);
  }
  return p;
}

TriangularSummary Summarise(const Problem& p, int blockRows) {
  TriangularSummary summary(p.K, 2);
  for (int first = 0; first < p.rows; first += blockRows) {
    const int count = std::min(blockRows, p.rows - first);
    summary.AddRows(std::span<const double>(p.block).subspan(static_cast<std::size_t>(first)), count, p.rows);
  }
  return summary;
}

TEST(SparseRegression, FullFitsAgreeWithTheFactorisationOfTheWholeDesignHoweverTheRowsArrive) {
  const Problem p = MakeProblem(500, 0.1);
  std::vector<int> all(10);
  for (int j = 0; j < 10; ++j) all[j] = j;
  for (int t = 0; t < 2; ++t) {
    std::vector<double> y(p.block.begin() + static_cast<std::ptrdiff_t>((p.K + t) * p.rows),
                          p.block.begin() + static_cast<std::ptrdiff_t>((p.K + t + 1) * p.rows));
    std::vector<double> reference(10);
    double err = 0.0;
    FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, 2}, 3, 1.0), p.X, 3, p.rows, y, reference, err);
    double mean = 0.0, spread = 0.0;
    for (double v : y) mean += v / p.rows;
    for (double v : y) spread += (v - mean) * (v - mean);
    const TriangularSummary blocks = Summarise(p, 37), whole = Summarise(p, 500);
    for (const TriangularSummary* summary : {&blocks, &whole}) {
      const SubsetFit fit = FitSubset(*summary, t, all);
      ASSERT_FALSE(fit.singular);
      for (int j = 0; j < 10; ++j) EXPECT_NEAR(fit.coefficients[j], reference[j], 1e-12 * (1 + std::fabs(reference[j])));
      EXPECT_NEAR(std::sqrt(fit.rss / spread), err, 1e-12);
    }
  }
  // Two summaries of disjoint rows merge into the summary of all rows.
  TriangularSummary a(p.K, 2), b(p.K, 2);
  a.AddRows(p.block, 250, p.rows);
  b.AddRows(std::span<const double>(p.block).subspan(250), 250, p.rows);
  a.Merge(b);
  const TriangularSummary whole = Summarise(p, 500);
  EXPECT_EQ(a.Rows(), 500);
  const SubsetFit x = FitSubset(a, 0, all), y = FitSubset(whole, 0, all);
  for (int j = 0; j < 10; ++j) EXPECT_NEAR(x.coefficients[j], y.coefficients[j], 1e-12);
}

TEST(SparseRegression, StandardErrorsMatchTheirDefinitionAndShrinkWithTheRows) {
  // y = 2 + 3 x on x = 1..n with residuals e: se(slope) = sigma / sqrt(sum (x - mean)^2).
  const int n = 40;
  TriangularSummary s(2, 1);
  std::vector<double> block(static_cast<std::size_t>(n) * 3);
  double rss = 0.0, sxx = 0.0;
  for (int r = 0; r < n; ++r) {
    const double x = r + 1, e = (r % 3 == 0 ? 0.3 : -0.15) * ((r % 2) ? 1 : -1);
    block[r] = 1.0;
    block[r + n] = x;
    block[r + 2 * n] = 2.0 + 3.0 * x + e;
    sxx += (x - 20.5) * (x - 20.5);
  }
  s.AddRows(block, n, n);
  const std::vector<int> both = {0, 1};
  const SubsetFit fit = FitSubset(s, 0, both);
  for (int r = 0; r < n; ++r) {
    const double e = block[r + 2 * n] - fit.coefficients[0] - fit.coefficients[1] * (r + 1);
    rss += e * e;
  }
  EXPECT_NEAR(fit.rss, rss, 1e-12);
  EXPECT_NEAR(fit.standardErrors[1], std::sqrt(rss / (n - 2)) / std::sqrt(sxx), 1e-12);
  EXPECT_GT(fit.condition, 1.0);
}

TEST(SparseRegression, ThresholdingFindsTheTermsOfEachTarget) {
  for (const double noise : {0.0, 0.05}) {
    const Problem p = MakeProblem(2000, noise);
    const TriangularSummary s = Summarise(p, 256);
    // Terms: 1, x1, x2, x3, x1^2, x1x2, x1x3, x2^2, x2x3, x3^2.
    ThresholdSettings settings;
    settings.threshold = 0.1;
    EXPECT_EQ(ThresholdedFit(s, 0, settings).columns, (std::vector<int>{1, 8})) << noise;
    EXPECT_EQ(ThresholdedFit(s, 1, settings).columns, (std::vector<int>{0, 9})) << noise;
    settings.scaled = true;
    settings.threshold = 0.02;
    const SubsetFit fit = ThresholdedFit(s, 0, settings);
    EXPECT_EQ(fit.columns, (std::vector<int>{1, 8})) << noise;
    EXPECT_NEAR(fit.coefficients[0], 3.0, 0.01);
    EXPECT_NEAR(fit.coefficients[1], -2.0, 0.01);
    if (noise > 0) {
      EXPECT_GT(fit.standardErrors[0], 0.0);
    }
    // A threshold above every coefficient leaves nothing; a kept column stays.
    settings.threshold = 100.0;
    EXPECT_TRUE(ThresholdedFit(s, 0, settings).columns.empty());
    settings.keep = {0};
    EXPECT_EQ(ThresholdedFit(s, 0, settings).columns, (std::vector<int>{0}));
  }
}

// What the search does with one summary for several shapes: thresholding
// some columns of a wide summary is thresholding the design of those columns.
TEST(SparseRegression, ThresholdingSomeColumnsOfAWideSummaryIsThresholdingTheirOwnDesign) {
  const Problem p = MakeProblem(2000, 0.05);
  const TriangularSummary wide = Summarise(p, 256);
  const std::vector<int> some = {1, 2, 3, 5, 8};  // x1, x2, x3, x1x2, x2x3
  TriangularSummary narrow(static_cast<int>(some.size()), 2);
  std::vector<double> block;
  for (const int j : some) block.insert(block.end(), p.block.begin() + j * p.rows, p.block.begin() + (j + 1) * p.rows);
  block.insert(block.end(), p.block.begin() + p.K * p.rows, p.block.end());
  narrow.AddRows(block, p.rows, p.rows);
  for (const bool scaled : {false, true}) {
    ThresholdSettings settings;
    settings.scaled = scaled;
    settings.threshold = scaled ? 0.02 : 0.1;
    for (int t = 0; t < 2; ++t) {
      const SubsetFit own = ThresholdedFit(narrow, t, settings), shared = ThresholdedFit(wide, t, settings, some);
      ASSERT_EQ(own.columns.size(), shared.columns.size()) << scaled << t;
      for (std::size_t k = 0; k < own.columns.size(); ++k) {
        EXPECT_EQ(some[static_cast<std::size_t>(own.columns[k])], shared.columns[k]);
        EXPECT_NEAR(own.coefficients[k], shared.coefficients[k], 1e-10 * std::fabs(own.coefficients[k]));
      }
      EXPECT_NEAR(own.rss, shared.rss, 1e-9 * own.rss);
    }
  }
}

// The search thresholds one summary's shapes on a path of thresholds with
// one memo of subset fits: every fit must be the one made afresh, bit for
// bit, whichever fits the memo already holds (and a dependent column's
// path, which refits growing subsets, goes through it too).
TEST(SparseRegression, AMemoOfSubsetFitsChangesNoBitOnAPathOfThresholds) {
  const Problem p = MakeProblem(500, 0.05);
  const TriangularSummary s = Summarise(p, 128);
  SubsetFitMemo memo(s);
  const std::vector<std::vector<int>> shapes = {{0, 1, 2, 3}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 5, 8}};
  for (const double threshold : {0.0, 0.001, 0.02, 0.2, 0.02, 100.0}) {
    for (const auto& columns : shapes) {
      for (int t = 0; t < 2; ++t) {
        ThresholdSettings settings;
        settings.scaled = true;
        settings.threshold = threshold;
        const SubsetFit fresh = ThresholdedFit(s, t, settings, columns), memoised = ThresholdedFit(memo, t, settings, columns);
        EXPECT_EQ(fresh.columns, memoised.columns);
        EXPECT_EQ(fresh.coefficients, memoised.coefficients);
        EXPECT_EQ(fresh.rss, memoised.rss);
        EXPECT_EQ(fresh.condition, memoised.condition);
        for (std::size_t k = 0; k < fresh.standardErrors.size(); ++k) {
          EXPECT_EQ(fresh.standardErrors[k], memoised.standardErrors[k]);
        }
      }
    }
  }
  // Columns 1, x, 2x and target 1 + x: the memo's path drops the dependent column as the fresh one does.
  const int n = 20;
  std::vector<double> block(static_cast<std::size_t>(n) * 4);
  for (int r = 0; r < n; ++r) {
    block[static_cast<std::size_t>(r)] = 1.0;
    block[static_cast<std::size_t>(r + n)] = r;
    block[static_cast<std::size_t>(r + 2 * n)] = 2.0 * r;
    block[static_cast<std::size_t>(r + 3 * n)] = 1.0 + r;
  }
  TriangularSummary dependent(3, 1);
  dependent.AddRows(block, n, n);
  SubsetFitMemo twice(dependent);
  const std::vector<int> all = {0, 1, 2};
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(ThresholdedFit(twice, 0, ThresholdSettings{}, all).columns, (std::vector<int>{0, 1})) << pass;
  }
  EXPECT_THROW(twice.Fit(0, std::vector<int>{1, 0}), std::invalid_argument);
}

TEST(SparseRegression, DependentColumnsAreDroppedNotSolved) {
  // Columns: 1, x, 2x (dependent), target 1 + x.
  const int n = 20;
  std::vector<double> block(static_cast<std::size_t>(n) * 4);
  for (int r = 0; r < n; ++r) {
    block[r] = 1.0;
    block[r + n] = r;
    block[r + 2 * n] = 2.0 * r;
    block[r + 3 * n] = 1.0 + r;
  }
  TriangularSummary s(3, 1);
  s.AddRows(block, n, n);
  const std::vector<int> all = {0, 1, 2};
  EXPECT_TRUE(FitSubset(s, 0, all).singular);
  const SubsetFit fit = ThresholdedFit(s, 0, ThresholdSettings{});
  EXPECT_EQ(fit.columns, (std::vector<int>{0, 1}));
  EXPECT_NEAR(fit.coefficients[1], 1.0, 1e-12);
  EXPECT_THROW(FitSubset(s, 0, std::vector<int>{1, 0}), std::invalid_argument);
  EXPECT_THROW(FitSubset(s, 1, all), std::invalid_argument);
}

// A driving pair added to a summary by the scan fits as the pair folded into
// the design: at the driving's own angle and off it, near 0 and near pi, from
// long and short blocks, at any first sample index, plain or scaled with two
// rows scaled otherwise; infinite where the pair depends on the fixed columns
// (the same angle's pair among them).
TEST(SparseRegression, ADrivingPairScannedOverAnglesFitsAsTheDesignWithThePairFolded) {
  struct Case {
    int rows, firstSample;
    double driving, centre, reach, offset;  // trial angle: centre + offset * reach
    bool pairInDesign;
  };
  const Case cases[] = {
      {2000, 1, 0.05, 0.0502, 0.0004, -1.0, false}, {2000, 1, 0.05, 0.0502, 0.0004, 0.3, false},
      {2000, 7, 0.05, 0.05, 0.0, 0.0, false},        {300, 0, 1.3, 1.2, 0.5, 0.9, false},
      {3000, 40, 3.0, 3.0, 0.1, 0.99, false},        {2000, 1, 0.7, 0.7, 0.01, 0.0, true},
      {2000, 1, 0.7, 0.7, 0.01, 0.5, true},
  };
  // Plain, and scaled and turned with its first and last rows filtered otherwise.
  const std::complex<double> scale(0.3, -1.2), first(0.5, 0.1), last(-0.2, 0.7);
  for (const Case& c : cases) {
    for (const bool filtered : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.rows << " rows from " << c.firstSample << ", angle "
                                      << c.centre + c.offset * c.reach << (filtered ? ", filtered" : ""));
      Problem p = MakeProblem(c.rows, 0.1);
      const int fixed = c.pairInDesign ? p.K + 2 : p.K;
      const double w = c.centre + c.offset * c.reach;
      // [fixed | targets] for the scan, [fixed | cos | sin | targets] for the reference.
      std::vector<double> block(static_cast<std::size_t>(c.rows) * (fixed + 2)), whole(static_cast<std::size_t>(c.rows) * (fixed + 4));
      const auto column = [&](std::vector<double>& m, int j) { return m.data() + static_cast<std::size_t>(j) * c.rows; };
      for (int r = 0; r < c.rows; ++r) {
        const double n = c.firstSample + r;
        for (int j = 0; j < p.K; ++j) column(block, j)[r] = column(whole, j)[r] = column(p.block, j)[r];
        if (c.pairInDesign) {
          column(block, p.K)[r] = column(whole, p.K)[r] = std::cos(n * c.driving);
          column(block, p.K + 1)[r] = column(whole, p.K + 1)[r] = std::sin(n * c.driving);
        }
        const std::complex<double> a = !filtered ? 1.0 : r == 0 ? first : r == c.rows - 1 ? last : scale;
        const std::complex<double> pair = a * std::polar(1.0, n * w);
        column(whole, fixed)[r] = pair.real();
        column(whole, fixed + 1)[r] = pair.imag();
        const double y0 = column(p.block, p.K)[r] + 0.7 * std::cos(n * c.driving) - 0.2 * std::sin(n * c.driving);
        column(block, fixed)[r] = column(whole, fixed + 2)[r] = y0;
        column(block, fixed + 1)[r] = column(whole, fixed + 3)[r] = column(p.block, p.K + 1)[r];
      }
      TriangularSummary own(fixed, 2), reference(fixed + 2, 2);
      own.AddRows(block, c.rows, c.rows);
      reference.AddRows(whole, c.rows, c.rows);
      std::vector<int> all(static_cast<std::size_t>(fixed + 2));
      for (int j = 0; j < fixed + 2; ++j) all[static_cast<std::size_t>(j)] = j;
      double expected = 0.0;
      for (int t = 0; t < 2; ++t) {
        const SubsetFit fit = FitSubset(reference, t, all);
        expected += fit.singular ? std::numeric_limits<double>::infinity() : fit.rss;
      }
      DrivingScan scan(own, block, c.rows, c.firstSample);
      scan.Centre(c.centre, c.reach);
      const DrivingScan::RowScale ends[] = {{0, first}, {c.rows - 1, last}};
      const double rss = filtered ? scan.Rss(w, scale, ends) : scan.Rss(w);
      if (std::isinf(expected)) {
        EXPECT_TRUE(std::isinf(rss));
      } else {
        EXPECT_NEAR(rss, expected, 1e-10 * expected);
      }
      if (c.reach > 0.0) {
        EXPECT_THROW(scan.Rss(c.centre + 1.01 * c.reach), InvalidArgument);
      }
    }
  }
  Problem p = MakeProblem(100, 0.1);
  TriangularSummary s(p.K, 2);
  s.AddRows(p.block, 100, 100);
  DrivingScan scan(s, p.block, 100, 1);
  EXPECT_THROW(scan.Centre(0.1, 0.2), InvalidArgument);
  EXPECT_THROW(scan.Centre(3.1, 0.05), InvalidArgument);
  EXPECT_THROW(DrivingScan(s, p.block, 99, 1), InvalidArgument);
}

}  // namespace
}  // namespace odefit
