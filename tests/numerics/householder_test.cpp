#include "numerics/householder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/blas.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// Backward errors of a Householder QR grow like (rows * eps); the sizes here
// stay below 100 rows, so 1e-12 relative to entries of order 1 leaves margin.
constexpr double kReconstructionTolerance = 1e-12;

// Column-major matrix with 1-based element access and an explicit leading dimension.
struct Matrix {
  Matrix(int r, int c, int l = 0)
      : rows(r), cols(c), ld(l > 0 ? l : r), data(std::size_t(ld) * c) {}
  double& operator()(int i, int j) { return data[std::size_t(i - 1) + std::size_t(j - 1) * ld]; }
  double operator()(int i, int j) const {
    return data[std::size_t(i - 1) + std::size_t(j - 1) * ld];
  }
  int rows, cols, ld;
  std::vector<double> data;
};

Matrix RandomMatrix(int rows, int cols, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Matrix a(rows, cols);
  for (double& x : a.data) x = uniform(engine);
  return a;
}

// Returns the matrix whose columns are the given vectors.
Matrix FromColumns(const std::vector<std::vector<double>>& columns) {
  Matrix a(int(columns[0].size()), int(columns.size()));
  for (int j = 1; j <= a.cols; ++j) {
    for (int i = 1; i <= a.rows; ++i) a(i, j) = columns[j - 1][i - 1];
  }
  return a;
}

std::vector<double> Column(const Matrix& a, int j) {
  std::vector<double> c(a.rows);
  for (int i = 1; i <= a.rows; ++i) c[i - 1] = a(i, j);
  return c;
}

double SumOfSquares(const double* x, int n) {
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += x[i] * x[i];
  return s;
}

double MaxAbsDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double d = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) d = std::max(d, std::fabs(x[i] - y[i]));
  return d;
}

struct Factored {
  Matrix qr;
  std::vector<double> scalars, norms;
  std::vector<int> order;  // the column of A in each place (identity without pivoting)
};

// Factors a copy of `a` in place, the way the program's callers do.
Factored Factor(const Matrix& a, bool pivot, std::vector<int> order = {}) {
  if (order.empty()) order.assign(a.cols, 0);
  Factored f{a, std::vector<double>(a.cols), std::vector<double>(a.cols), order};
  DLQRRR(a.rows, a.cols, f.qr.data, f.qr.ld, pivot ? 1 : 0, f.order, f.qr.data, f.qr.ld, f.scalars,
         f.norms);
  if (!pivot) std::iota(f.order.begin(), f.order.end(), 1);
  return f;
}

int Basis(const Factored& f) { return std::min(f.qr.rows, f.qr.cols); }

// The outputs the program's callers ask for, and all of them.
constexpr SolveOutputs kSolution{.solution = true};
constexpr SolveOutputs kSolutionAndResidual{.solution = true, .residual = true};
constexpr SolveOutputs kAllOutputs{true, true, true, true, true};

enum class Product { Q, QTransposed };

// Returns Q*z or Q'*z.
std::vector<double> ApplyQ(const Factored& f, const std::vector<double>& z, Product product) {
  std::vector<double> out(z.size());
  const bool transposed = product == Product::QTransposed;
  DLQRSL(f.qr.rows, Basis(f), f.qr.data, f.qr.ld, f.scalars, z,
         transposed ? SolveOutputs{.qTransposeY = true} : SolveOutputs{.qTimesY = true},
         transposed ? std::span<double>{} : out,
         transposed ? std::span<double>(out) : std::span<double>{}, {}, {}, {});
  return out;
}

// Returns the printed messages as one line: the " *** " prefixes and
// indentation removed and every run of blanks made one blank.
std::string Flatten(const std::string& printed) {
  std::string text;
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(" *** ", 0) == 0) line = line.substr(5);
    text += " " + line;
  }
  std::string flat;
  for (char c : text) {
    if (c != ' ' || (!flat.empty() && flat.back() != ' ')) flat += c;
  }
  while (!flat.empty() && flat.back() == ' ') flat.pop_back();
  return flat;
}

class HouseholderTest : public ::testing::Test {
 protected:
  std::ostringstream output_;
  ErrorReporter reporter_{&output_};
  ErrorReporterScope bind_{reporter_};
};

// --- Factorisation invariants over many shapes ----------------------------------------------

struct Shape {
  int rows, cols;
};
const Shape kShapes[] = {{1, 1}, {1, 4}, {2, 1},   {2, 2},  {3, 5},   {4, 4},  {5, 3},   {7, 7},
                         {8, 2}, {9, 6}, {12, 12}, {20, 9}, {33, 17}, {50, 7}, {64, 40}, {97, 30}};

class HouseholderShapes : public HouseholderTest,
                          public ::testing::WithParamInterface<std::tuple<Shape, bool>> {
 protected:
  // Returns the shape with at least as many rows as columns, and the pivoting flag.
  static std::tuple<int, int, bool> TallShape() {
    const auto [shape, pivot] = GetParam();
    return {std::max(shape.rows, shape.cols), std::min(shape.rows, shape.cols), pivot};
  }
};

TEST_P(HouseholderShapes, QTimesRReconstructsThePermutedMatrix) {
  const auto [shape, pivot] = GetParam();
  const Matrix a = RandomMatrix(shape.rows, shape.cols, 17u * shape.rows + shape.cols);
  const Factored f = Factor(a, pivot);
  ASSERT_EQ(reporter_.Level(), 1);

  std::vector<int> sorted = f.order;
  std::sort(sorted.begin(), sorted.end());
  for (int j = 1; j <= a.cols; ++j) ASSERT_EQ(sorted[j - 1], j) << "ColumnOrder is no permutation";

  for (int j = 1; j <= a.cols; ++j) {
    std::vector<double> r(a.rows, 0.0);
    for (int i = 1; i <= std::min(j, a.rows); ++i) r[i - 1] = f.qr(i, j);
    const std::vector<double> qr_column = ApplyQ(f, r, Product::Q);
    EXPECT_LE(MaxAbsDifference(qr_column, Column(a, f.order[j - 1])), kReconstructionTolerance)
        << "column " << j;
    // All columns are free, so no rearrangement precedes the norms.
    EXPECT_NEAR(f.norms[j - 1], std::sqrt(SumOfSquares(&a.data[std::size_t(j - 1) * a.ld], a.rows)),
                4 * kEpsilon * f.norms[j - 1]);
  }
  EXPECT_EQ(f.scalars[Basis(f) - 1] == 0.0, a.rows <= a.cols)
      << "only the step l = NRA applies no reflection";
}

TEST_P(HouseholderShapes, QIsOrthogonal) {
  const auto [shape, pivot] = GetParam();
  const Matrix a = RandomMatrix(shape.rows, shape.cols, 31u * shape.rows + shape.cols);
  const Factored f = Factor(a, pivot);
  const int m = a.rows;
  std::vector<std::vector<double>> q(m);
  for (int i = 0; i < m; ++i) {
    std::vector<double> e(m, 0.0);
    e[i] = 1.0;
    q[i] = ApplyQ(f, e, Product::Q);
    EXPECT_LE(MaxAbsDifference(ApplyQ(f, q[i], Product::QTransposed), e), kReconstructionTolerance);
  }
  for (int i = 0; i < m; ++i) {
    for (int k = 0; k < m; ++k) {
      const double dot = std::inner_product(q[i].begin(), q[i].end(), q[k].begin(), 0.0);
      EXPECT_NEAR(dot, i == k ? 1.0 : 0.0, kReconstructionTolerance)
          << "(" << i << ", " << k << ")";
    }
  }
}

TEST_P(HouseholderShapes, SolutionOfAConsistentSystemIsRecovered) {
  const auto [rows, cols, pivot] = TallShape();
  const Matrix a = RandomMatrix(rows, cols, 7u * rows + cols);
  std::vector<double> x(a.cols), y(a.rows, 0.0);
  for (int j = 1; j <= a.cols; ++j) x[j - 1] = 1.0 + 0.25 * j;
  for (int j = 1; j <= a.cols; ++j) {
    for (int i = 1; i <= a.rows; ++i) y[i - 1] += a(i, j) * x[j - 1];
  }
  const Factored f = Factor(a, pivot);
  std::vector<double> qty(a.rows), solution(a.cols);
  DLQRSL(a.rows, a.cols, f.qr.data, f.qr.ld, f.scalars, y, kSolution, {}, qty, solution, {}, {});
  for (int j = 1; j <= a.cols; ++j) {
    const double expected = x[f.order[j - 1] - 1];
    EXPECT_NEAR(solution[j - 1], expected, 1e-10 * expected) << "place " << j;
  }
}

TEST_P(HouseholderShapes, ResidualAndFittedValuesSplitTheRightHandSide) {
  const auto [rows, cols, pivot] = TallShape();
  const Matrix a = RandomMatrix(rows, cols, 11u * rows + cols);
  const int m = a.rows, k = a.cols;
  const std::vector<double> y = Column(RandomMatrix(m, 1, 99u + m), 1);
  const Factored f = Factor(a, pivot);
  std::vector<double> qy(m), qty(m), solution(k), residual(m), fitted(m);
  DLQRSL(m, k, f.qr.data, f.qr.ld, f.scalars, y, kAllOutputs, qy, qty, solution, residual, fitted);
  ASSERT_EQ(reporter_.Level(), 1);

  const double tail = SumOfSquares(qty.data() + k, m - k);
  EXPECT_NEAR(SumOfSquares(residual.data(), m), tail, 1e-13 * std::max(1.0, tail));
  for (int i = 1; i <= m; ++i) {
    double ax = 0.0;
    for (int j = 1; j <= k; ++j) ax += a(i, f.order[j - 1]) * solution[j - 1];
    EXPECT_NEAR(fitted[i - 1] + residual[i - 1], y[i - 1], 1e-13) << "row " << i;
    EXPECT_NEAR(fitted[i - 1], ax, 1e-12) << "row " << i;
  }
  // The residual is orthogonal to every column of A.
  for (int j = 1; j <= k; ++j) {
    const std::vector<double> c = Column(a, j);
    EXPECT_NEAR(std::inner_product(c.begin(), c.end(), residual.begin(), 0.0), 0.0, 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(ManySizes, HouseholderShapes,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool()));

// --- Hand-made answers and edge cases --------------------------------------------------------

TEST_F(HouseholderTest, OneByOneAppliesNoReflectionAndDividesByTheElement) {
  Matrix a(1, 1);
  a(1, 1) = 4.0;
  const Factored f = Factor(a, false);
  EXPECT_EQ(f.scalars[0], 0.0);
  EXPECT_EQ(f.qr(1, 1), 4.0);
  EXPECT_EQ(f.norms[0], 4.0);

  const std::vector<double> y = {6.0};
  std::vector<double> qy(1), qty(1), solution(1), residual(1, 9.0), fitted(1);
  DLQRSL(1, 1, f.qr.data, 1, f.scalars, y, kAllOutputs, qy, qty, solution, residual, fitted);
  EXPECT_EQ(solution[0], 1.5);
  EXPECT_EQ(qy[0], 6.0);
  EXPECT_EQ(qty[0], 6.0);
  EXPECT_EQ(fitted[0], 6.0);
  EXPECT_EQ(residual[0], 0.0);
}

TEST_F(HouseholderTest, SquareSystemKeepsTheLastTransformedElementAsIs) {
  // Each reflection maps e_l to -e_l, so R = diag(-1, -1, -2) exactly and the
  // last element keeps its sign instead of becoming minus a norm.
  Matrix a = FromColumns({{1, 0, 0}, {0, 1, 0}, {0, 0, -2}});
  const Factored f = Factor(a, false);
  EXPECT_EQ(f.qr(1, 1), -1.0);
  EXPECT_EQ(f.qr(2, 2), -1.0);
  EXPECT_EQ(f.qr(3, 3), -2.0);
  EXPECT_EQ(f.scalars, (std::vector<double>{2.0, 2.0, 0.0}));

  const std::vector<double> y = {1.0, 2.0, 3.0};
  std::vector<double> qty(3), solution(3);
  DLQRSL(3, 3, f.qr.data, 3, f.scalars, y, kSolution, {}, qty, solution, {}, {});
  EXPECT_EQ(qty, (std::vector<double>{-1.0, -2.0, 3.0}));
  EXPECT_EQ(solution, (std::vector<double>{1.0, 2.0, -1.5}));
}

TEST_F(HouseholderTest, PivotingTiesGoToTheLowerIndex) {
  // Norms 1, 2, 2: the first step picks column 2 over the equal column 3.
  const Matrix a = FromColumns({{0, 1, 0}, {2, 0, 0}, {0, 0, 2}});
  EXPECT_EQ(Factor(a, true).order, (std::vector<int>{2, 3, 1}));
}

TEST_F(HouseholderTest, PivotingUsesTheDowndatedNorms) {
  // Column 2 is longer than column 3 but nearly parallel to column 1, so after
  // the first reflection column 3 has the larger remaining norm.
  const Matrix a = FromColumns({{3, 0, 0, 0}, {2.9, 0, 0, 0.1}, {0, 2, 0, 0}});
  const Factored f = Factor(a, true);
  EXPECT_EQ(f.order, (std::vector<int>{1, 3, 2}));
  EXPECT_NEAR(f.qr(3, 3), -0.1, 1e-15);
}

TEST_F(HouseholderTest, PivotingRecomputesANormThatDowndatingWouldLose) {
  // Column 2 equals column 1 but for 1e-8 in its last row: downdating leaves
  // no digit of its remaining norm, which must be computed afresh to beat the
  // 1e-9 of column 3.
  const Matrix a = FromColumns({{3, 0, 0, 0}, {3, 0, 0, 1e-8}, {0, 1e-9, 0, 0}});
  const Factored f = Factor(a, true);
  EXPECT_EQ(f.order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(f.qr(2, 2), -1e-8);
}

TEST_F(HouseholderTest, PivotingWithoutRequestLeavesColumnOrderUntouched) {
  const Matrix a = RandomMatrix(5, 3, 5);
  std::vector<int> order = {7, -8, 9};
  Matrix qr = a;
  std::vector<double> scalars(3), norms(3);
  DLQRRR(5, 3, qr.data, 5, 2, order, qr.data, 5, scalars, norms);
  EXPECT_EQ(order, (std::vector<int>{7, -8, 9}));
  DLQRRR(5, 3, a.data, 5, 0, {}, qr.data, 5, scalars, norms);  // an empty ColumnOrder is fine
  EXPECT_EQ(reporter_.Level(), 1);
}

struct Arrangement {
  std::vector<int> marks;     // ColumnOrder on entry
  std::vector<int> arranged;  // the column in each place after moving initial and final ones
  std::vector<int> expected;  // ColumnOrder on exit
};

class HouseholderArrangement : public HouseholderTest,
                               public ::testing::WithParamInterface<Arrangement> {};

// Column j of the matrix is j*e_j, so free pivoting alone would sort by
// decreasing index; initial and final columns keep their relative order.
TEST_P(HouseholderArrangement, InitialAndFinalColumnsAreNeverPivoted) {
  const Arrangement& p = GetParam();
  const int n = int(p.marks.size());
  Matrix a(n + 1, n);
  for (int j = 1; j <= n; ++j) a(j, j) = j;
  const Factored f = Factor(a, true, p.marks);
  EXPECT_EQ(f.order, p.expected);

  // The norm of column j is j, so ColumnNorms show the arrangement before pivoting.
  EXPECT_EQ(f.norms, std::vector<double>(p.arranged.begin(), p.arranged.end()));
  for (int j = 1; j <= n; ++j) {
    std::vector<double> r(n + 1, 0.0);
    for (int i = 1; i <= j; ++i) r[i - 1] = f.qr(i, j);
    EXPECT_LE(MaxAbsDifference(ApplyQ(f, r, Product::Q), Column(a, f.order[j - 1])), 1e-13);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, HouseholderArrangement,
    ::testing::Values(Arrangement{{0, 0, 0, 0, 0}, {1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}},
                      Arrangement{{1, 1, 1, 1, 1}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}},
                      Arrangement{{-1, -1, -1, -1, -1}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}},
                      Arrangement{{0, 1, 0, -1, 1}, {2, 5, 3, 1, 4}, {2, 5, 3, 1, 4}},
                      Arrangement{{-1, -1, 0, 0, 0}, {4, 5, 3, 1, 2}, {5, 4, 3, 1, 2}},
                      Arrangement{{1, 0, 0, 0, -1}, {1, 2, 3, 4, 5}, {1, 4, 3, 2, 5}},
                      Arrangement{{0, 0, 1, 0, 0}, {3, 2, 1, 4, 5}, {3, 5, 4, 2, 1}},
                      Arrangement{{0, -3, 0, 7, 0}, {4, 5, 3, 1, 2}, {4, 5, 3, 1, 2}}));

TEST_F(HouseholderTest, SeparateStorageAndWideLeadingDimensionsGiveTheInPlaceResult) {
  const int m = 9, n = 5;
  const Matrix compact = RandomMatrix(m, n, 3);
  const Factored in_place = Factor(compact, true);

  Matrix a(m, n, m + 2), qr(m, n, m + 3);
  std::fill(a.data.begin(), a.data.end(), -7.0);
  std::fill(qr.data.begin(), qr.data.end(), -9.0);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= m; ++i) a(i, j) = compact(i, j);
  }
  const Matrix a_before = a;
  std::vector<int> order(n, 0);
  std::vector<double> scalars(n), norms(n);
  DLQRRR(m, n, a.data, a.ld, 1, order, qr.data, qr.ld, scalars, norms);

  EXPECT_EQ(a.data, a_before.data) << "A is read only";
  EXPECT_EQ(order, in_place.order);
  EXPECT_EQ(scalars, in_place.scalars);
  EXPECT_EQ(norms, in_place.norms);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= m; ++i) EXPECT_EQ(qr(i, j), in_place.qr(i, j));
    for (int i = m + 1; i <= qr.ld; ++i) EXPECT_EQ(qr(i, j), -9.0) << "padding row " << i;
  }
}

TEST_F(HouseholderTest, Ipath100LeavesResidualAndFittedValuesUntouched) {
  const Matrix a = RandomMatrix(6, 3, 21);
  const Factored f = Factor(a, false);
  const std::vector<double> y = {1, 2, 3, 4, 5, 6};
  std::vector<double> qy(6, 42.0), qty(6), solution(3), residual(6, 42.0), fitted(6, 42.0);
  DLQRSL(6, 3, f.qr.data, 6, f.scalars, y, *SolveOutputs::FromIpath(100), qy, qty, solution, residual, fitted);
  EXPECT_EQ(qy, std::vector<double>(6, 42.0));
  EXPECT_EQ(residual, std::vector<double>(6, 42.0));
  EXPECT_EQ(fitted, std::vector<double>(6, 42.0));
}

TEST_F(HouseholderTest, Ipath110ResidualCarriesTheTailOfQTransposeY) {
  // The model fits' call: one scratch vector serves for Q*y, Q'*y and the fitted values.
  const Matrix a = RandomMatrix(40, 6, 8);
  const Factored f = Factor(a, false);
  const std::vector<double> y = Column(RandomMatrix(40, 1, 9), 1);
  std::vector<double> scratch(40), coef(6), residual(40);
  DLQRSL(40, 6, f.qr.data, 40, f.scalars, y, *SolveOutputs::FromIpath(110), scratch, scratch, coef, residual,
         scratch);
  const double tail = SumOfSquares(scratch.data() + 6, 34);
  EXPECT_NEAR(SumOfSquares(residual.data(), 40), tail, 1e-14 * tail);
}

// --- The singular error ----------------------------------------------------------------------

TEST_F(HouseholderTest, ZeroColumnMakesRSingularWhichIsAFatalError) {
  Matrix a = RandomMatrix(5, 3, 4);
  for (int i = 1; i <= 5; ++i) a(i, 2) = 0.0;
  const Factored f = Factor(a, false);
  EXPECT_EQ(f.scalars[1], 0.0) << "no reflector for the zero column";
  EXPECT_EQ(f.qr(2, 2), 0.0);
  EXPECT_NE(f.qr(3, 3), 0.0);

  const std::vector<double> y = {1, 2, 3, 4, 5};
  std::vector<double> scratch(5), coef(3), residual(5);
  EXPECT_THROW(
      DLQRSL(5, 3, f.qr.data, 5, f.scalars, y, kSolutionAndResidual, scratch, scratch, coef, residual, scratch),
      RunStopped);
  // The residual stays in the rotated basis: the reflections are not undone.
  EXPECT_EQ(residual, (std::vector<double>{0, 0, 0, scratch[3], scratch[4]}));
  EXPECT_EQ(output_.str(),
            "\n"
            " *** FATAL    ERROR 1 from DLQRSL.  Computation of the least squares solution\n"
            " ***          has been requested but the upper triangular matrix R is exactly \n"
            " ***          singular; the index of the first zero diagonal element of R is \n"
            " ***          2.\n");
}

TEST_F(HouseholderTest, SingularIndexIsTheLargestZeroDiagonalWithinTheBasis) {
  Matrix a = RandomMatrix(6, 4, 6);
  for (int i = 1; i <= 6; ++i) a(i, 2) = a(i, 3) = 0.0;
  const Factored f = Factor(a, false);
  const std::vector<double> y(6, 1.0);
  for (const auto& [basis, index] : {std::pair{4, 3}, std::pair{2, 2}}) {
    output_.str("");
    std::vector<double> qty(6), coef(4);
    EXPECT_THROW(DLQRSL(6, basis, f.qr.data, 6, f.scalars, y, kSolution, {}, qty, coef, {}, {}),
                 RunStopped);
    EXPECT_NE(Flatten(output_.str()).find("element of R is " + std::to_string(index) + "."),
              std::string::npos)
        << output_.str();
  }
}

TEST_F(HouseholderTest, OneRowWithZeroElementIsSingularAtIndexOne) {
  const std::vector<double> qr = {0.0}, scalars = {0.0}, y = {3.0};
  std::vector<double> qty(1), solution(1);
  EXPECT_THROW(DLQRSL(1, 1, qr, 1, scalars, y, kSolution, {}, qty, solution, {}, {}), RunStopped);
  EXPECT_NE(Flatten(output_.str()).find("element of R is 1."), std::string::npos) << output_.str();
}

// A stop caught by the caller must leave nothing behind: every later singular
// solve prints its message and stops the run again.
class HouseholderAfterACaughtStop : public HouseholderTest,
                                    public ::testing::WithParamInterface<std::pair<const char*, void (*)()>> {};

TEST_P(HouseholderAfterACaughtStop, EverySingularSolvePrintsAndStops) {
  EXPECT_THROW(GetParam().second(), RunStopped);
  EXPECT_EQ(reporter_.Level(), 1);
  Matrix a = RandomMatrix(5, 3, 4);
  for (int i = 1; i <= 5; ++i) a(i, 2) = 0.0;
  const Factored f = Factor(a, false);
  const std::vector<double> y = {1, 2, 3, 4, 5};
  for (int attempt = 1; attempt <= 3; ++attempt) {
    output_.str("");
    std::vector<double> qty(5), coef(3);
    EXPECT_THROW(DLQRSL(5, 3, f.qr.data, 5, f.scalars, y, kSolution, {}, qty, coef, {}, {}), RunStopped)
        << "solve " << attempt;
    EXPECT_EQ(output_.str(),
              "\n"
              " *** FATAL    ERROR 1 from DLQRSL.  Computation of the least squares solution\n"
              " ***          has been requested but the upper triangular matrix R is exactly \n"
              " ***          singular; the index of the first zero diagonal element of R is \n"
              " ***          2.\n")
        << "solve " << attempt;
    EXPECT_EQ(reporter_.Level(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, HouseholderAfterACaughtStop,
    ::testing::Values(
        // The routine called by the program stops as it returns.
        std::pair<const char*, void (*)()>{"SingularSolve",
                                           [] {
                                             const std::vector<double> qr = {0.0}, scalars = {0.0}, y = {1.0};
                                             std::vector<double> qty(1), solution(1);
                                             DLQRSL(1, 1, qr, 1, scalars, y, kSolution, {}, qty, solution, {}, {});
                                           }},
        // The factorisation's core stops one level down, inside DLQRRR.
        std::pair<const char*, void (*)()>{"BadLeadingDimensionInTheCore",
                                           [] {
                                             std::vector<double> a(6), s(2), n(2);
                                             std::vector<int> order(2);
                                             DLQRRR(3, 2, a, 2, 1, order, a, 3, s, n);
                                           }},
        // A vector kernel stops two levels down.
        std::pair<const char*, void (*)()>{"KernelTwoLevelsDown", [] {
                                             RoutineScope outer("OUTER ");
                                             RoutineScope inner("INNER ");
                                             DGEMV("X", 1, 1, 1.0, nullptr, 1, nullptr, 1, 0.0, nullptr, 1);
                                           }}),
    [](const auto& info) { return std::string(info.param.first); });

// --- Requested outputs -----------------------------------------------------------------------

TEST(SolveOutputs, EveryIpathHasItsOutputsAndComesBack) {
  int wrong = 0;
  for (int ipath = 1; ipath <= 99999; ++ipath) {
    const std::optional<SolveOutputs> outputs = SolveOutputs::FromIpath(ipath);
    if (!outputs) {
      wrong = ipath;
      break;
    }
    const int back = outputs->Ipath();
    bool same = outputs->qTimesY == (ipath / 10000 != 0) && outputs->FormsQTransposeY() == (ipath % 10000 != 0) &&
                outputs->solution == (ipath % 1000 / 100 != 0) && outputs->residual == (ipath % 100 / 10 != 0) &&
                outputs->fittedValues == (ipath % 10 != 0);
    for (int digit = 1; digit <= 10000; digit *= 10) same = same && (back / digit % 10 != 0) == (ipath / digit % 10 != 0);
    if (!same) {
      wrong = ipath;
      break;
    }
  }
  EXPECT_EQ(wrong, 0);
  for (const int outside : {0, -1, 100000, INT_MAX, INT_MIN}) EXPECT_FALSE(SolveOutputs::FromIpath(outside)) << outside;
  EXPECT_EQ(SolveOutputs{}.Ipath(), 0);
  EXPECT_EQ(kSolutionAndResidual.Ipath(), 110);
}

TEST_F(HouseholderTest, SolutionAloneFormsQTransposeYAsIpath100Does) {
  const Matrix a = RandomMatrix(6, 3, 21);
  const Factored f = Factor(a, false);
  const std::vector<double> y = {1, 2, 3, 4, 5, 6};
  std::vector<double> qty1(6), qty2(6), b1(3), b2(3);
  DLQRSL(6, 3, f.qr.data, 6, f.scalars, y, kSolution, {}, qty1, b1, {}, {});
  DLQRSL(6, 3, f.qr.data, 6, f.scalars, y, SolveOutputs{.qTransposeY = true, .solution = true}, {}, qty2, b2, {},
         {});
  EXPECT_EQ(qty1, qty2);
  EXPECT_EQ(b1, b2);
  EXPECT_NE(qty1, std::vector<double>(6, 0.0));
}

// --- Argument checks -------------------------------------------------------------------------

struct Misuse {
  const char* name;
  std::function<void()> call;
  std::string expected;  // header and message, as Flatten gives them
};

class HouseholderMisuse : public HouseholderTest, public ::testing::WithParamInterface<Misuse> {};

TEST_P(HouseholderMisuse, IsATerminalErrorWithItsMessage) {
  EXPECT_THROW(GetParam().call(), RunStopped);
  EXPECT_NE(Flatten(output_.str()).find(Flatten(GetParam().expected)), std::string::npos)
      << output_.str();
}

std::vector<double> g_sink(8);
std::vector<int> g_order(8);

void CallDlqrrr(int nra, int nca, int lda, int ldqr, int pivot) {
  DLQRRR(nra, nca, g_sink, lda, pivot, g_order, g_sink, ldqr, g_sink, g_sink);
}
void CallDlqrsl(int nra, int ldqr, int kbasis, SolveOutputs outputs) {
  DLQRSL(nra, kbasis, g_sink, ldqr, g_sink, g_sink, outputs, g_sink, g_sink, g_sink, g_sink, g_sink);
}

// DLQRSL on the valid sizes NRA = 4, KBASIS = 2 (QR 4 x 2) with the
// requested outputs and every span of `size` places but the one named.
void SolveWithShort(const char* argument, std::size_t size, SolveOutputs outputs = kSolution) {
  std::vector<double> full(8), shortened(size);
  auto span = [&](const char* name) { return std::string(name) == argument ? std::span<double>(shortened) : std::span<double>(full); };
  DLQRSL(4, 2, span("QR"), 4, span("ReflectorScalars"), span("Y"), outputs, span("QTimesY"), span("QTransposeY"),
         span("Solution"), span("Residual"), span("FittedValues"));
}

// The same for the several right-hand sides' form: NRHS = 2, LDY = 4.
void SolveSeveralWithShort(const char* argument, std::size_t size) {
  std::vector<double> full(8), shortened(size);
  auto span = [&](const char* name) { return std::string(name) == argument ? std::span<double>(shortened) : std::span<double>(full); };
  DLQRSL(4, 2, span("QR"), 4, span("ReflectorScalars"), 2, span("Y"), 4, span("Solution"), span("Residual"));
}

// DLQRRR on a valid 3 x 2 matrix (leading dimensions 3, pivoting) with one
// argument's storage shortened to `size`.
void FactorWithShort(const char* argument, std::size_t size) {
  std::vector<double> full(6), shortened(size);
  std::vector<int> order(2), shortOrder(size);
  auto span = [&](const char* name) { return std::string(name) == argument ? std::span<double>(shortened) : std::span<double>(full); };
  DLQRRR(3, 2, span("A"), 3, 1, std::string(argument) == "ColumnOrder" ? std::span<int>(shortOrder) : std::span<int>(order),
         span("QR"), 3, span("ReflectorScalars"), span("ColumnNorms"));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, HouseholderMisuse,
    ::testing::Values(
        Misuse{"DlqrrrNca", [] { CallDlqrrr(2, 0, 2, 2, 0); },
               "TERMINAL ERROR 1 from DLQRRR.  The number of columns of the input matrix must be "
               "positive while NCA = 0 is given."},
        Misuse{
            "Dl2rrrNra", [] { CallDlqrrr(0, 2, 2, 2, 0); },
            "TERMINAL ERROR 1 from DL2RRR.  Both the number of rows and the number of columns of "
            "the input matrix must be positive while NRA = 0 and NCA = 2 are given."},
        Misuse{
            "Dl2rrrLda", [] { CallDlqrrr(3, 2, 2, 3, 1); },
            "TERMINAL ERROR 2 from DL2RRR.  The number of rows of A must be less than or equal to "
            "its leading dimension while NRA = 3 and LDA = 2 are given."},
        Misuse{"Dl2rrrLdqr", [] { CallDlqrrr(3, 2, 3, 1, 1); },
               "TERMINAL ERROR 3 from DL2RRR.  The number of rows of QR must be less than or equal "
               "to its leading dimension while NRA = 3 and LDQR = 1 are given."},
        Misuse{"DlqrslNra", [] { CallDlqrsl(0, 1, 1, kSolution); },
               "TERMINAL ERROR 1 from DLQRSL.  The number of rows of the input matrix must be "
               "positive while NRA = 0 is given."},
        Misuse{"DlqrslLdqr", [] { CallDlqrsl(4, 3, 1, kSolution); },
               "TERMINAL ERROR 2 from DLQRSL.  The number of rows of QR must be less than or equal "
               "to its leading dimension while NRA = 4 and LDQR = 3 are given."},
        Misuse{"DlqrslKbasis", [] { CallDlqrsl(2, 2, 0, kSolution); },
               "TERMINAL ERROR 3 from DLQRSL.  The number of columns of the submatrix AK of A must "
               "be positive while KBASIS = 0 is given."},
        Misuse{"DlqrslNoOutputs", [] { CallDlqrsl(2, 2, 1, SolveOutputs{}); },
               "TERMINAL ERROR 4 from DLQRSL.  Illegal format for IPATH.  IPATH must be between 1 "
               "and 99999 while a value of 0 is given."},
        Misuse{"DlqrslKbasisAndOutputsBothReported", [] { CallDlqrsl(2, 2, -1, SolveOutputs{}); },
               "TERMINAL ERROR 3 from DLQRSL.  The number of columns of the submatrix AK of A must "
               "be positive while KBASIS = -1 is given. TERMINAL ERROR 4 from DLQRSL.  Illegal "
               "format for IPATH.  IPATH must be between 1 and 99999 while a value of 0 is given."},
        Misuse{"DgemvM", [] { DGEMV("N", -1, 2, 1.0, nullptr, 1, nullptr, 1, 0.0, nullptr, 1); },
               "TERMINAL ERROR 1 from DGEMV.  M must be greater than or equal to zero while -1 is "
               "given."},
        Misuse{"DgemvN", [] { DGEMV("T", 2, -3, 1.0, nullptr, 2, nullptr, 1, 0.0, nullptr, 1); },
               "TERMINAL ERROR 2 from DGEMV.  N must be greater than or equal to zero while -3 is "
               "given."},
        Misuse{"DgemvLda", [] { DGEMV("N", 0, 2, 1.0, nullptr, 0, nullptr, 1, 0.0, nullptr, 1); },
               "TERMINAL ERROR 3 from DGEMV.  LDA must be greater than or equal to M and greater "
               "than zero while LDA = 0 and M = 0 are given."},
        Misuse{"DgemvIncx", [] { DGEMV("N", 2, 2, 1.0, nullptr, 2, nullptr, 0, 0.0, nullptr, 1); },
               "TERMINAL ERROR 4 from DGEMV.  INCX must not be equal to zero while 0 is given."},
        Misuse{"DgemvIncy", [] { DGEMV("N", 2, 2, 1.0, nullptr, 2, nullptr, 1, 0.0, nullptr, 0); },
               "TERMINAL ERROR 5 from DGEMV.  INCY must not be equal to zero while 0 is given."},
        Misuse{"DgemvTrans", [] { DGEMV("X", 2, 2, 1.0, nullptr, 2, nullptr, 1, 0.0, nullptr, 1); },
               "TERMINAL ERROR 6 from DGEMV.  TRANS must be set equal to N or T or C while X is "
               "given."},
        Misuse{"DgerM", [] { DGER(-2, 2, 1.0, nullptr, 1, nullptr, 1, nullptr, 1); },
               "TERMINAL ERROR 1 from DGER.  M must be greater than or equal to zero while -2 is "
               "given."},
        Misuse{"DgerN", [] { DGER(2, -1, 1.0, nullptr, 1, nullptr, 1, nullptr, 2); },
               "TERMINAL ERROR 2 from DGER.  N must be greater than or equal to zero while -1 is "
               "given."},
        Misuse{"DgerLda", [] { DGER(3, 1, 1.0, nullptr, 1, nullptr, 1, nullptr, 2); },
               "TERMINAL ERROR 3 from DGER.  LDA must be greater than or equal to M and greater "
               "than zero while LDA = 2 and M = 3 are given."},
        Misuse{"DgerIncx", [] { DGER(2, 2, 1.0, nullptr, 0, nullptr, 1, nullptr, 2); },
               "TERMINAL ERROR 4 from DGER.  INCX must not be equal to zero while 0 is given."},
        Misuse{"DgerIncy", [] { DGER(2, 2, 1.0, nullptr, -1, nullptr, 0, nullptr, 2); },
               "TERMINAL ERROR 5 from DGER.  INCY must not be equal to zero while 0 is given."},
        // Sizes a solve cannot serve, and storage shorter than the sizes demand.
        Misuse{"DlqrslKbasisAboveNra", [] { CallDlqrsl(2, 2, 3, kSolution); },
               "TERMINAL ERROR 5 from DLQRSL.  The number of columns of the submatrix AK of A must not "
               "exceed the number of rows while KBASIS = 3 and NRA = 2 are given."},
        Misuse{"DlqrslEmptyQr", [] { SolveWithShort("QR", 0); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for QR holds 0 values while the sizes "
               "given need 8."},
        Misuse{"DlqrslShortQr", [] { SolveWithShort("QR", 7); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for QR holds 7 values while the sizes "
               "given need 8."},
        Misuse{"DlqrslShortScalars", [] { SolveWithShort("ReflectorScalars", 1); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for ReflectorScalars holds 1 values "
               "while the sizes given need 2."},
        Misuse{"DlqrslShortY", [] { SolveWithShort("Y", 3); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Y holds 3 values while the sizes "
               "given need 4."},
        Misuse{"DlqrslShortSolution", [] { SolveWithShort("Solution", 1); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Solution holds 1 values while the "
               "sizes given need 2."},
        Misuse{"DlqrslQTransposeYFormedForTheSolution", [] { SolveWithShort("QTransposeY", 0); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for QTransposeY holds 0 values while "
               "the sizes given need 4."},
        Misuse{"DlqrslShortQTimesY", [] { SolveWithShort("QTimesY", 3, kAllOutputs); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for QTimesY holds 3 values while the "
               "sizes given need 4."},
        Misuse{"DlqrslShortResidual", [] { SolveWithShort("Residual", 3, kAllOutputs); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Residual holds 3 values while the "
               "sizes given need 4."},
        Misuse{"DlqrslShortFittedValues", [] { SolveWithShort("FittedValues", 0, kAllOutputs); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for FittedValues holds 0 values while "
               "the sizes given need 4."},
        Misuse{"SeveralKbasisAboveNra",
               [] { DLQRSL(2, 3, g_sink, 2, g_sink, 1, g_sink, 2, g_sink, g_sink); },
               "TERMINAL ERROR 5 from DLQRSL.  The number of columns of the submatrix AK of A must not "
               "exceed the number of rows while KBASIS = 3 and NRA = 2 are given."},
        Misuse{"SeveralLdy", [] { DLQRSL(4, 2, g_sink, 4, g_sink, 2, g_sink, 3, g_sink, g_sink); },
               "TERMINAL ERROR 7 from DLQRSL.  The number of rows of Y must be less than or equal to its "
               "leading dimension while NRA = 4 and LDY = 3 are given."},
        Misuse{"SeveralShortY", [] { SolveSeveralWithShort("Y", 7); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Y holds 7 values while the sizes "
               "given need 8."},
        Misuse{"SeveralShortSolution", [] { SolveSeveralWithShort("Solution", 3); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Solution holds 3 values while the "
               "sizes given need 4."},
        Misuse{"SeveralEmptyResidual", [] { SolveSeveralWithShort("Residual", 0); },
               "TERMINAL ERROR 6 from DLQRSL.  The storage given for Residual holds 0 values while the "
               "sizes given need 8."},
        Misuse{"DlqrrrShortA", [] { FactorWithShort("A", 5); },
               "TERMINAL ERROR 3 from DLQRRR.  The storage given for A holds 5 values while the sizes "
               "given need 6."},
        Misuse{"DlqrrrShortColumnOrder", [] { FactorWithShort("ColumnOrder", 1); },
               "TERMINAL ERROR 3 from DLQRRR.  The storage given for ColumnOrder holds 1 values while "
               "the sizes given need 2."},
        Misuse{"DlqrrrEmptyQr", [] { FactorWithShort("QR", 0); },
               "TERMINAL ERROR 3 from DLQRRR.  The storage given for QR holds 0 values while the sizes "
               "given need 6."},
        Misuse{"DlqrrrShortScalars", [] { FactorWithShort("ReflectorScalars", 1); },
               "TERMINAL ERROR 3 from DLQRRR.  The storage given for ReflectorScalars holds 1 values "
               "while the sizes given need 2."},
        Misuse{"DlqrrrShortNorms", [] { FactorWithShort("ColumnNorms", 0); },
               "TERMINAL ERROR 3 from DLQRRR.  The storage given for ColumnNorms holds 0 values while "
               "the sizes given need 2."},
        Misuse{"Dl2rrrShortWork",
               [] {
                 std::vector<double> a(9), s(3), n(3), work(4);
                 std::vector<int> order(3);
                 dL2RRR(3, 3, a, 3, 1, order, a, 3, s, n, work);
               },
               "TERMINAL ERROR 4 from DL2RRR.  The storage given for work holds 4 values while the "
               "sizes given need 5."},
        Misuse{"Dl2rrrShortQr",
               [] {
                 std::vector<double> a(9), qr(8), s(3), n(3), work(2);
                 dL2RRR(3, 3, a, 3, 0, {}, qr, 3, s, n, work);
               },
               "TERMINAL ERROR 4 from DL2RRR.  The storage given for QR holds 8 values while the sizes "
               "given need 9."}),
    [](const ::testing::TestParamInfo<Misuse>& info) { return std::string(info.param.name); });

TEST_F(HouseholderTest, UnobtainableWorkspaceIsATerminalError) {
  // 2*NCA - 1 doubles for NCA = INT_MAX are about 34 GB, more than the machine
  // grants; NRA = 0 keeps dL2RRR from touching anything if it were granted.
  EXPECT_THROW(CallDlqrrr(0, INT_MAX, 1, 1, 1), RunStopped);
  if (output_.str().find("DL2RRR") != std::string::npos) {
    GTEST_SKIP() << "the system granted the workspace";
  }
  EXPECT_EQ(Flatten(output_.str()),
            Flatten("TERMINAL ERROR 2 from DLQRRR.  The required storage cannot be allocated.  The "
                    "workspace is based on NCA, where NCA = 2147483647 is given."));
}

// --- The vector primitives -------------------------------------------------------------------

TEST(BlasNorm, NeitherOverflowsNorUnderflows) {
  const double big[] = {3e300, 4e300};
  const double tiny[] = {3e-300, 4e-300};
  const double mixed[] = {1e-300, 3.0, 1e-320, 4.0};
  const double plain[] = {3.0, 4.0, 12.0};
  EXPECT_DOUBLE_EQ(DNRM2(2, big, 1), 5e300);
  EXPECT_DOUBLE_EQ(DNRM2(2, tiny, 1), 5e-300);
  EXPECT_EQ(DNRM2(4, mixed, 1), 5.0);
  EXPECT_EQ(DNRM2(3, plain, 1), 13.0);
  EXPECT_EQ(DNRM2(2, plain, 2), std::sqrt(153.0));
  EXPECT_EQ(DNRM2(2, plain, -2), std::sqrt(153.0));
  EXPECT_EQ(DNRM2(0, plain, 1), 0.0);
  const double with_nan[] = {1.0, std::nan(""), 1e300};
  EXPECT_TRUE(std::isnan(DNRM2(3, with_nan, 1)));
}

TEST(BlasLevel1, NegativeIncrementsRunBackwardsThroughStorage) {
  const double x[] = {1, 2, 3};
  double y[] = {0, 0, 0, 0, 0};
  DCOPY(3, x, 1, y, -2);  // y(1) is at y[4]
  EXPECT_EQ(std::vector<double>(y, y + 5), (std::vector<double>{3, 0, 2, 0, 1}));
  EXPECT_EQ(DDOT(3, x, -1, x, 1), 1 * 3 + 2 * 2 + 3 * 1.0);
  DAXPY(3, 2.0, x, -1, y, 2);
  EXPECT_EQ(std::vector<double>(y, y + 5), (std::vector<double>{9, 0, 6, 0, 3}));
  double u[] = {1, 2, 3}, v[] = {4, 5, 6};
  DSWAP(3, u, 1, v, -1);
  EXPECT_EQ(std::vector<double>(u, u + 3), (std::vector<double>{6, 5, 4}));
  EXPECT_EQ(std::vector<double>(v, v + 3), (std::vector<double>{3, 2, 1}));
}

TEST(BlasLevel1, QuickReturnsAndFirstLargest) {
  double x[] = {1, -5, 5, 2};
  EXPECT_EQ(IDAMAX(4, x, 1), 2);
  EXPECT_EQ(IDAMAX(2, x, 2), 2);  // |5| at x[2] beats |1|
  EXPECT_EQ(IDAMAX(0, x, 1), 0);
  EXPECT_EQ(IDAMAX(4, x, -1), 0);
  DSCAL(4, 2.0, x, 0);
  DSCAL(2, 3.0, x, 3);
  EXPECT_EQ(std::vector<double>(x, x + 4), (std::vector<double>{3, -5, 5, 6}));
  DSET(2, 7.0, x, -2);
  EXPECT_EQ(std::vector<double>(x, x + 4), (std::vector<double>{7, -5, 7, 6}));
}

// Returns y after the plain definition y := alpha*op(A)*x + beta*y, for comparison.
std::vector<double> NaiveGemv(bool trans, const Matrix& a, double alpha,
                              const std::vector<double>& x, int incx, double beta,
                              std::vector<double> y, int incy) {
  const int lx = trans ? a.rows : a.cols, ly = trans ? a.cols : a.rows;
  auto at = [](int k, int n, int inc) { return inc > 0 ? (k - 1) * inc : (n - k) * -inc; };
  for (int r = 1; r <= ly; ++r) {
    double s = 0.0;
    for (int k = 1; k <= lx; ++k) s += (trans ? a(k, r) : a(r, k)) * x[at(k, lx, incx)];
    double& yr = y[at(r, ly, incy)];
    yr = (beta == 0.0 ? 0.0 : beta * yr) + alpha * s;
  }
  return y;
}

TEST(BlasGemv, MatchesTheDefinitionForEveryOperationAndIncrement) {
  const Matrix a = RandomMatrix(7, 6, 12);  // 7 x 6 inside a leading dimension of 7
  for (const char* trans : {"N", "T", "C", "t"}) {
    const bool t = trans[0] != 'N';
    for (int incx : {1, 2, -3}) {
      for (int incy : {1, -1, 2}) {
        const int lx = t ? 7 : 6, ly = t ? 6 : 7;
        std::vector<double> x = Column(RandomMatrix(lx * std::abs(incx), 1, 5), 1);
        std::vector<double> y = Column(RandomMatrix(ly * std::abs(incy), 1, 6), 1);
        const std::vector<double> expected = NaiveGemv(t, a, -0.5, x, incx, 2.0, y, incy);
        DGEMV(trans, 7, 6, -0.5, a.data.data(), 7, x.data(), incx, 2.0, y.data(), incy);
        EXPECT_LE(MaxAbsDifference(y, expected), 1e-14) << trans << incx << incy;
      }
    }
  }
}

TEST(BlasGemv, BetaZeroIgnoresWhatYHeld) {
  const Matrix a = FromColumns({{1, 2}, {3, 4}});
  const double x[] = {1, 1};
  double y[] = {std::nan(""), std::nan("")};
  DGEMV("T", 2, 2, 1.0, a.data.data(), 2, x, 1, 0.0, y, 1);
  EXPECT_EQ(std::vector<double>(y, y + 2), (std::vector<double>{3, 7}));
}

TEST(BlasGer, AddsTheOuterProductAndSkipsZeroColumns) {
  Matrix a = FromColumns({{1, 1, 1}, {std::nan(""), 0, 0}, {0, 0, 0}});
  const double x[] = {1, 2, 3};
  const double y[] = {2, 0, -1};
  DGER(3, 3, 0.5, x, -1, y, 1, a.data.data(), 3);
  EXPECT_EQ(Column(a, 1), (std::vector<double>{4, 3, 2}));
  EXPECT_TRUE(std::isnan(a(1, 2)));  // untouched, not recomputed
  EXPECT_EQ(Column(a, 3), (std::vector<double>{-1.5, -1, -0.5}));
}

// --- Blocked factorisation and several right-hand sides --------------------------------------

// A well-conditioned tall matrix large enough for the blocked path.
Matrix BlockedSizeMatrix(int cols, unsigned seed) {
  int rows = 64;
  while (!BlockedFactorisationPays(rows, cols)) rows *= 2;
  return RandomMatrix(rows, cols, seed);
}

// Factors a copy of `a` with the unblocked reference alone.
Factored FactorUnblocked(const Matrix& a) {
  Factored f{a, std::vector<double>(a.cols), std::vector<double>(a.cols), std::vector<int>(a.cols, 0)};
  std::vector<double> work(a.cols);
  dL2RRR(a.rows, a.cols, f.qr.data, f.qr.ld, 0, f.order, f.qr.data, f.qr.ld, f.scalars, f.norms, work);
  return f;
}

double MaxRelativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double scale = 0.0;
  for (double v : y) scale = std::max(scale, std::fabs(v));
  return MaxAbsDifference(x, y) / scale;
}

TEST_F(HouseholderTest, BlockedPathIsTakenOnlyForWideLargeMatrices) {
  EXPECT_FALSE(BlockedFactorisationPays(1000000, 32));
  EXPECT_FALSE(BlockedFactorisationPays(100, 84));
  EXPECT_TRUE(BlockedFactorisationPays(100000, 84));
}

TEST_F(HouseholderTest, BlockedAndUnblockedFactorisationsAgreeToRoundOff) {
  for (int cols : {64, 70, 100}) {
    const Matrix a = BlockedSizeMatrix(cols, 7 + cols);
    const Factored blocked = Factor(a, false);
    const Factored unblocked = FactorUnblocked(a);
    EXPECT_LT(MaxRelativeDifference(blocked.qr.data, unblocked.qr.data), 1e-12) << cols;
    EXPECT_LT(MaxRelativeDifference(blocked.scalars, unblocked.scalars), 1e-12) << cols;
    EXPECT_EQ(blocked.norms, unblocked.norms) << cols;  // formed before any reflection, the same way
    // The solutions of the same right-hand side agree as well.
    std::vector<double> y(a.rows);
    std::mt19937 engine(cols);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (double& v : y) v = uniform(engine);
    std::vector<double> b1(cols), b2(cols), r1(a.rows), r2(a.rows), scratch(a.rows);
    DLQRSL(a.rows, cols, blocked.qr.data, a.rows, blocked.scalars, y, kSolutionAndResidual, scratch, scratch, b1, r1, scratch);
    DLQRSL(a.rows, cols, unblocked.qr.data, a.rows, unblocked.scalars, y, kSolutionAndResidual, scratch, scratch, b2, r2, scratch);
    EXPECT_LT(MaxRelativeDifference(b1, b2), 1e-12) << cols;
  }
  EXPECT_EQ(output_.str(), "");
}

TEST_F(HouseholderTest, MatricesBelowTheThresholdKeepTheUnblockedBits) {
  for (const auto& [rows, cols] : std::vector<std::array<int, 2>>{{5000, 63}, {2000, 100}}) {
    ASSERT_FALSE(BlockedFactorisationPays(rows, cols));
    const Matrix a = RandomMatrix(rows, cols, 5);
    const Factored viaFront = Factor(a, false);
    const Factored unblocked = FactorUnblocked(a);
    EXPECT_EQ(viaFront.qr.data, unblocked.qr.data) << rows << " x " << cols;
    EXPECT_EQ(viaFront.scalars, unblocked.scalars) << rows << " x " << cols;
  }
}

TEST_F(HouseholderTest, SingularMatrixGivesTheSameFatalErrorOnBothPaths) {
  // A zero column inside the second panel: R has an exact zero at its place on both paths.
  Matrix a = BlockedSizeMatrix(80, 3);
  for (int i = 1; i <= a.rows; ++i) a(i, 45) = 0.0;
  std::string printed[2];
  for (int path = 0; path < 2; ++path) {
    const Factored f = path == 0 ? Factor(a, false) : FactorUnblocked(a);
    EXPECT_EQ(f.qr(45, 45), 0.0);
    std::vector<double> y(a.rows, 1.0), b(a.cols), r(a.rows), scratch(a.rows);
    output_.str("");
    EXPECT_THROW(DLQRSL(a.rows, a.cols, f.qr.data, a.rows, f.scalars, y, kSolutionAndResidual, scratch, scratch, b, r, scratch),
                 RunStopped);
    EXPECT_EQ(reporter_.Level(), 1);
    printed[path] = output_.str();
  }
  EXPECT_EQ(printed[0], printed[1]);
  EXPECT_NE(Flatten(printed[0]).find("FATAL ERROR 1 from DLQRSL."), std::string::npos) << printed[0];
  EXPECT_NE(Flatten(printed[0]).find("element of R is 45."), std::string::npos) << printed[0];
}

TEST_F(HouseholderTest, SeveralRightHandSidesGetTheBitsOfOneAtATime) {
  // Square shapes end with a step without reflection; a zero column of Y meets zero factors.
  for (const auto& [rows, cols, nrhs] :
       std::vector<std::array<int, 3>>{{1, 1, 2}, {12, 12, 3}, {40, 7, 1}, {40, 7, 6}, {300, 40, 5}, {300, 40, 9}}) {
    const Factored f = Factor(RandomMatrix(rows, cols, rows + cols), false);
    const int basis = std::min(rows, cols);
    Matrix y = RandomMatrix(rows, nrhs, nrhs);
    if (nrhs > 2) {
      for (int i = 1; i <= rows; ++i) y(i, 2) = 0.0;
    }
    std::vector<double> b(std::size_t(basis) * nrhs, -7.0), r(std::size_t(rows) * nrhs, -7.0);
    DLQRSL(rows, basis, f.qr.data, f.qr.ld, f.scalars, nrhs, y.data, rows, b, r);
    for (int c = 1; c <= nrhs; ++c) {
      std::vector<double> bc(basis), rc(rows), scratch(rows);
      DLQRSL(rows, basis, f.qr.data, f.qr.ld, f.scalars, Column(y, c), kSolutionAndResidual, scratch, scratch, bc, rc, scratch);
      EXPECT_EQ(std::vector<double>(b.begin() + (c - 1) * basis, b.begin() + c * basis), bc) << rows << " " << c;
      EXPECT_EQ(std::vector<double>(r.begin() + (c - 1) * rows, r.begin() + c * rows), rc) << rows << " " << c;
    }
  }
}

TEST_F(HouseholderTest, SeveralRightHandSidesReportASingularMatrixOnce) {
  Matrix a = RandomMatrix(20, 4, 9);
  for (int i = 1; i <= a.rows; ++i) a(i, 3) = 0.0;
  const Factored f = Factor(a, false);
  const Matrix y = RandomMatrix(20, 3, 1);
  std::vector<double> b(12), r(60);
  EXPECT_THROW(DLQRSL(20, 4, f.qr.data, f.qr.ld, f.scalars, 3, y.data, 20, b, r), RunStopped);
  std::vector<double> one(4), rone(20), scratch(20);
  const std::string several = output_.str();
  EXPECT_EQ(reporter_.Level(), 1);
  output_.str("");
  EXPECT_THROW(DLQRSL(20, 4, f.qr.data, f.qr.ld, f.scalars, Column(y, 1), kSolutionAndResidual, scratch, scratch, one, rone, scratch),
               RunStopped);
  EXPECT_EQ(several, output_.str());
  EXPECT_NE(Flatten(several).find("element of R is 3."), std::string::npos) << several;
}

}  // namespace
}  // namespace odefit
