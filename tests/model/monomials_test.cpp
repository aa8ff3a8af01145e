#include "model/monomials.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

class MonomialsTest : public ::testing::Test {
 protected:
  std::ostringstream errors_;
  ErrorReporter reporter_{&errors_};
  ErrorReporterScope bind_{reporter_};
};

std::vector<double> Terms(const std::vector<double>& x, int nu) {
  const int D = static_cast<int>(x.size());
  std::vector<double> T(static_cast<std::size_t>(TermCount(nu, D)));
  MonomialTerms(x, D, nu, T);
  return T;
}

TEST_F(MonomialsTest, TermCountGivesTheBinomialCountsOfTheExamples) {
  struct Case {
    int n, D;
    long long count;
  };
  for (const Case& c : std::vector<Case>{
           {0, 1, 1}, {0, 6, 1}, {4, 1, 5}, {2, 2, 6}, {12, 2, 91}, {3, 6, 84}, {11, 3, 364},
           {-1, 3, 0}, {-5, 2, 0}}) {
    EXPECT_EQ(TermCount(c.n, c.D), c.count) << "n = " << c.n << ", D = " << c.D;
  }
}

TEST_F(MonomialsTest, TermCountIsExactUpToTheFactorialLimitForEveryDimension) {
  // C(n + D, D) from Pascal's triangle, exact in 64-bit integers for n + D <= 34.
  std::array<std::array<long long, 35>, 35> pascal{};
  for (int a = 0; a <= 34; ++a) {
    pascal[a][0] = pascal[a][a] = 1;
    for (int b = 1; b < a; ++b) pascal[a][b] = pascal[a - 1][b - 1] + pascal[a - 1][b];
  }
  for (int D = 1; D <= 9; ++D) {
    for (int n = 0; n + D <= 34; ++n) {
      ASSERT_EQ(TermCount(n, D), pascal[n + D][D]) << "n = " << n << ", D = " << D;
    }
  }
  EXPECT_EQ(TermCount(17, 17), 2333606220LL);
}

TEST_F(MonomialsTest, MonomialTermsListsTheExamplesInTheirOrder) {
  // x = (2, 3, 5): every product is an exact integer.
  EXPECT_EQ(Terms({2, 3}, 2), (std::vector<double>{1, 2, 3, 4, 6, 9}));
  EXPECT_EQ(Terms({2, 3, 5}, 2), (std::vector<double>{1, 2, 3, 5, 4, 6, 10, 9, 15, 25}));
  EXPECT_EQ(Terms({2, 3}, 3), (std::vector<double>{1, 2, 3, 4, 6, 9, 8, 12, 18, 27}));
  EXPECT_EQ(Terms({2}, 4), (std::vector<double>{1, 2, 4, 8, 16}));
  EXPECT_EQ(Terms({2, 3, 5, 7}, 0), (std::vector<double>{1}));
}

TEST_F(MonomialsTest, MonomialTermsEndsOrder12InTwoVariablesWithTheBlockX1To12DownToX2To12) {
  const std::vector<double> T = Terms({2, 3}, 12);
  ASSERT_EQ(T.size(), 91u);
  // The last block holds 13 monomials x1^(12 - j) * x2^j, j = 0..12.
  for (int j = 0; j <= 12; ++j) {
    EXPECT_EQ(T[78 + j], std::pow(2.0, 12 - j) * std::pow(3.0, j)) << "j = " << j;
  }
}

TEST_F(MonomialsTest, NextIndexTupleWalksEveryNonDecreasingTupleInLexicographicOrder) {
  const int D = 3, f = 3;
  std::vector<std::array<int, 3>> expected;
  for (int a = 1; a <= D; ++a)
    for (int b = a; b <= D; ++b)
      for (int c = b; c <= D; ++c) expected.push_back({a, b, c});
  IndexTupleCursor tuple(D, f);
  for (std::size_t q = 0; q < expected.size(); ++q) {
    EXPECT_EQ((std::array<int, 3>{tuple[1], tuple[2], tuple[3]}), expected[q]) << "q = " << q;
    if (q + 1 < expected.size()) tuple.NextIndexTuple(f);
  }
}

TEST_F(MonomialsTest, DrivenTermsAppendsCosineAndSineOfTheSampleAngle) {
  const std::vector<double> x = {2, 3};
  std::vector<double> T(8);
  DrivenTerms(x, 2, 2, 0, 0.3, T);
  EXPECT_EQ(T, (std::vector<double>{1, 2, 3, 4, 6, 9, 1.0, 0.0}));
  DrivenTerms(x, 2, 2, 7, 0.3, T);
  EXPECT_EQ(T[6], std::cos(7.0 * 0.3));
  EXPECT_EQ(T[7], std::sin(7.0 * 0.3));
}

TEST_F(MonomialsTest, UncheckedFillsGiveTheSameValuesAsTheTermRoutines) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> dist(-2.0, 2.0);
  for (int D = 1; D <= 6; ++D) {
    std::vector<double> x(D);
    for (double& v : x) v = dist(gen);
    for (int nu = 0; nu <= 4; ++nu) {
      const auto count = static_cast<std::size_t>(TermCount(nu, D));
      std::vector<double> a(count + 2), b(count + 2);
      MonomialTerms(x, D, nu, a);
      EXPECT_EQ(FillMonomialTerms(x, D, nu, b), static_cast<int>(count));
      EXPECT_EQ(a, b) << "D = " << D << ", nu = " << nu;
      DrivenTerms(x, D, nu, 9, 0.4, a);
      EXPECT_EQ(FillDrivenTerms(x, D, nu, 9, 0.4, b), static_cast<int>(count + 2));
      EXPECT_EQ(a, b) << "D = " << D << ", nu = " << nu;
    }
  }
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(MonomialsTest, FacAcceptsArgumentsUpTo34) {
  EXPECT_EQ(FactorialLimit(), 34);
  EXPECT_EQ(FAC(0), 1.0f);
  EXPECT_EQ(FAC(10), 3628800.0f);
  EXPECT_EQ(FAC(25), static_cast<float>(1.5511210043330986e25));
  EXPECT_FLOAT_EQ(FAC(34), 2.9523279903960414e38f);
  EXPECT_EQ(errors_.str(), "");
}

TEST_F(MonomialsTest, FacStopsTheRunOnAnArgumentAbove34) {
  EXPECT_THROW(FAC(35), RunStopped);
  EXPECT_EQ(errors_.str(),
            "\n"
            " *** TERMINAL ERROR 4 from fac.  The factorial of the argument is so large it\n"
            " ***          would overflow. N = 35. It must be less than 34.\n");
}

TEST_F(MonomialsTest, FacStopsTheRunOnANegativeArgument) {
  EXPECT_THROW(FAC(-1), RunStopped);
  EXPECT_EQ(errors_.str(),
            "\n"
            " *** TERMINAL ERROR 5 from fac.  The factorial of a negative integer is\n"
            " ***          undefined. N = -1.\n");
}

TEST_F(MonomialsTest, TermCountStopsTheRunWhenOrderPlusDimensionExceeds34) {
  EXPECT_THROW(TermCount(32, 3), RunStopped);
  EXPECT_NE(errors_.str().find("overflow. N = 35. It must be less than 34."), std::string::npos);
}

// --- Terms formed from their parents -------------------------------------------------------------

TEST_F(MonomialsTest, IncrementalTermsAreTheFromScratchProductsBitForBit) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> dist(-3.0, 3.0);
  for (int D = 1; D <= 6; ++D) {
    for (int nu = 0; nu + D <= 14 && nu <= 9; ++nu) {
      std::vector<double> x(D);
      for (double& v : x) v = dist(gen) * std::pow(10.0, static_cast<int>(dist(gen)));  // wide magnitudes
      const std::vector<double> expected = Terms(x, nu);
      std::vector<double> T(expected.size() + 1, -1.0);
      EXPECT_EQ(FillMonomialTerms(x, D, nu, T), static_cast<int>(expected.size()));
      T.pop_back();
      EXPECT_EQ(T, expected) << "D = " << D << ", nu = " << nu;
    }
  }
}

TEST_F(MonomialsTest, IncrementalTermsBeyondTheStackBufferStillMatch) {
  const std::vector<double> x = {0.3, -1.1, 0.7, 1.3, -0.9, 0.5};
  const std::vector<double> expected = Terms(x, 8);  // 3003 terms
  std::vector<double> T(expected.size());
  FillMonomialTerms(x, 6, 8, T);
  EXPECT_EQ(T, expected);
}

TEST_F(MonomialsTest, RecurrenceNamesEachTermsParentAndVariable) {
  // D = 2, nu = 2: 1, x1, x2, x1^2 = x1*x1, x1x2 = x1*x2, x2^2 = x2*x2.
  const MonomialRecurrence r = MonomialProducts(2, 2);
  EXPECT_EQ(r.parent, (std::vector<int>{0, 0, 0, 1, 1, 2}));
  EXPECT_EQ(r.variable, (std::vector<int>{0, 0, 1, 0, 1, 1}));
  EXPECT_EQ(MonomialCount(11, 3), 364);
  EXPECT_EQ(MonomialCount(-1, 3), 0);
}

TEST_F(MonomialsTest, ColumnsHoldEveryRowsTermsBitForBit) {
  // More rows than one block of the column builder, and a leading dimension above the row count.
  const int D = 3, nu = 5, rows = 700, ld = 703, K = 56;
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> dist(-2.0, 2.0);
  std::vector<double> X(static_cast<std::size_t>(D) * rows);
  for (double& v : X) v = dist(gen);
  std::vector<double> A(static_cast<std::size_t>(ld) * K, -5.0);
  FillMonomialColumns(X, D, rows, nu, A, ld);
  for (int r = 0; r < rows; ++r) {
    const std::vector<double> expected = Terms({X[r * D], X[r * D + 1], X[r * D + 2]}, nu);
    for (int k = 0; k < K; ++k) ASSERT_EQ(A[r + static_cast<std::size_t>(k) * ld], expected[k]) << r << " " << k;
  }
  EXPECT_EQ(A[rows], -5.0);  // rows beyond Nrows are left alone
}

}  // namespace
}  // namespace odefit
