#include "numerics/triangular_fold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numerics/fold_kernels.h"
#include "numerics/householder.h"

namespace odefit {
namespace {

// An N x n column-major matrix, well conditioned: uniform entries plus a
// strong diagonal in the first rows.
std::vector<double> TallMatrix(int N, int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> M(static_cast<std::size_t>(N) * n);
  for (double& v : M) v = dist(gen);
  for (int j = 0; j < n && j < N; ++j) M[static_cast<std::size_t>(j) * N + j] += 4.0;
  return M;
}

// Folds rows [r0, r1) of M in blocks of `blockRows` into `f`.
void FoldRows(TriangularFold& f, const std::vector<double>& M, int N, int r0, int r1, int blockRows) {
  const int n = f.Columns();
  const int ld = TriangularFold::PaddedRows(blockRows);
  std::vector<double> B(static_cast<std::size_t>(ld) * n);
  for (int s = r0; s < r1; s += blockRows) {
    const int rows = std::min(blockRows, r1 - s);
    std::fill(B.begin(), B.end(), 0.0);
    for (int j = 0; j < n; ++j) {
      for (int r = 0; r < rows; ++r) B[static_cast<std::size_t>(j) * ld + r] = M[static_cast<std::size_t>(j) * N + s + r];
    }
    f.Fold(B.data(), rows, ld);
  }
}

// R with every row's sign chosen so that its diagonal is >= 0.
std::vector<double> Normalised(const TriangularFold& f) {
  const int n = f.Columns();
  std::vector<double> R(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    const double sign = f.R(i, i) < 0.0 ? -1.0 : 1.0;
    for (int j = i; j < n; ++j) R[static_cast<std::size_t>(j) * n + i] = sign * f.R(i, j);
  }
  return R;
}

// The unblocked factorisation's R, normalised the same way.
std::vector<double> UnblockedR(std::vector<double> M, int N, int n) {
  std::vector<int> order(n, 0);
  std::vector<double> scalars(n), norms(n), work(n);
  dL2RRR(N, n, M, N, 0, order, M, N, scalars, norms, work);
  std::vector<double> R(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    const double sign = M[static_cast<std::size_t>(i) * N + i] < 0.0 ? -1.0 : 1.0;
    for (int j = i; j < n; ++j) R[static_cast<std::size_t>(j) * n + i] = sign * M[static_cast<std::size_t>(j) * N + i];
  }
  return R;
}

// The largest |a - b| relative to the largest |b|.
double RelativeDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    d = std::max(d, std::fabs(a[i] - b[i]));
    scale = std::max(scale, std::fabs(b[i]));
  }
  return d / scale;
}

TEST(TriangularFold, AgreesWithTheUnblockedFactorisationForAnyBlocksAndChunks) {
  const int N = 3001, n = 75;  // rows a multiple of neither the blocks nor 8
  const std::vector<double> M = TallMatrix(N, n, 1);
  const std::vector<double> reference = UnblockedR(M, N, n);
  for (const int blockRows : {5, 64, 100, 512, 4000}) {
    TriangularFold whole(n, n);
    FoldRows(whole, M, N, 0, N, blockRows);
    EXPECT_LT(RelativeDifference(Normalised(whole), reference), 1e-12) << blockRows;
    // Three chunks of their own, merged in order.
    TriangularFold first(n, n), second(n, n), third(n, n);
    FoldRows(first, M, N, 0, 1000, blockRows);
    FoldRows(second, M, N, 1000, 1003, blockRows);
    FoldRows(third, M, N, 1003, N, blockRows);
    // Copies hold the factor without the work storage, and fold on to the same bits.
    TriangularFold copied = first, assigned(n, n), secondCopy = second, thirdCopy = third;
    assigned = first;
    first.Merge(second);
    first.Merge(third);
    EXPECT_LT(RelativeDifference(Normalised(first), reference), 1e-12) << blockRows;
    for (TriangularFold* f : {&copied, &assigned}) {
      TriangularFold two = secondCopy, three = thirdCopy;
      f->Merge(two);
      f->Merge(three);
      EXPECT_EQ(Normalised(*f), Normalised(first)) << blockRows;
    }
  }
}

TEST(TriangularFold, FewerRowsThanColumnsPerBlockStillGiveTheFactor) {
  const int N = 400, n = 90;
  const std::vector<double> M = TallMatrix(N, n, 2);
  TriangularFold f(n, 40);
  FoldRows(f, M, N, 0, N, 7);
  EXPECT_LT(RelativeDifference(Normalised(f), UnblockedR(M, N, n)), 1e-12);
}

TEST(TriangularFold, ColumnsBeforeTheSplitAndTopRowsDoNotDependOnTheColumnsAfterIt) {
  const int N = 2000, K = 70;
  const std::vector<double> M = TallMatrix(N, K + 3, 3);  // a design and three targets
  TriangularFold all(K + 3, K);
  FoldRows(all, M, N, 0, N, 256);
  // The design with the second target alone.
  std::vector<double> second(M.begin(), M.begin() + static_cast<std::ptrdiff_t>(N) * K);
  second.insert(second.end(), M.begin() + static_cast<std::ptrdiff_t>(N) * (K + 1),
                M.begin() + static_cast<std::ptrdiff_t>(N) * (K + 2));
  TriangularFold alone(K + 1, K);
  FoldRows(alone, second, N, 0, N, 256);
  for (int j = 0; j < K; ++j) {
    for (int i = 0; i <= j; ++i) ASSERT_EQ(all.R(i, j), alone.R(i, j)) << i << ", " << j;
  }
  for (int i = 0; i < K; ++i) ASSERT_EQ(all.R(i, K + 1), alone.R(i, K)) << i;
}

TEST(TriangularFold, EveryVectorUnitGivesTheSameBits) {
  const int N = 1500, n = 50;
  const std::vector<double> M = TallMatrix(N, n, 4);
  TriangularFold a(n, n, fold::KernelsFor("fused"));
  FoldRows(a, M, N, 0, N, 200);
  for (const char* isa : {"avx2", "avx512"}) {
    const fold::Kernels* kernels = fold::KernelsFor(isa);
    if (kernels == nullptr) continue;
    TriangularFold b(n, n, kernels);
    FoldRows(b, M, N, 0, N, 200);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i <= j; ++i) ASSERT_EQ(a.R(i, j), b.R(i, j)) << isa << ": " << i << ", " << j;
    }
  }
  EXPECT_EQ(fold::KernelsFor("generic")->name, std::string("generic"));
  EXPECT_EQ(fold::KernelsFor("sse9"), nullptr);
}

// Each kernel of every shape the tiles leave edges in (rows not a multiple of
// a tile's 12 or 32, columns not of 3, 4 or 16), with leading dimensions
// beyond the rows: the AVX2 kernels give the AVX-512 kernels' bits.
// The portable fused kernels give them too, on any processor.
TEST(FoldKernels, FusedSetsGiveTheSameBitsOnEveryVectorUnitForEveryTileEdge) {
  std::vector<const fold::Kernels*> sets = {fold::KernelsFor("fused")};
  for (const char* isa : {"avx2", "avx512"}) {
    if (const fold::Kernels* k = fold::KernelsFor(isa)) sets.push_back(k);
  }
  ASSERT_EQ(&fold::FusedKernels(), sets.back());
  struct Shape {
    int m, p, q;
  };
  for (const Shape& shape : {Shape{8, 1, 1}, Shape{16, 3, 4}, Shape{24, 5, 7}, Shape{136, 32, 16},
                             Shape{264, 13, 17}, Shape{520, 8, 3}, Shape{40, 2, 1}}) {
    const int m = shape.m, p = shape.p, q = shape.q, ld = m + 8;
    const std::vector<double> Y = TallMatrix(ld, p, 7), C = TallMatrix(ld, q, 8), Wq = TallMatrix(p, q, 9);
    std::vector<double> Tt = TallMatrix(32, 32, 10);
    for (int a = 0; a < 32; ++a)
      for (int i = 0; i < std::min(a, 32); ++i) Tt[static_cast<std::size_t>(a) * 32 + i] = 0.0;
    const int k = std::min(p, 32), rows = (k + 7) / 8 * 8;
    std::vector<std::vector<double>> results(sets.size());
    int which = 0;
    for (const fold::Kernels* kernels : sets) {
      std::vector<double> W(static_cast<std::size_t>(p) * q), Cu = C;
      std::vector<double> Out(static_cast<std::size_t>(rows) * q);
      kernels->cross(m, p, q, Y.data(), ld, C.data(), ld, W.data(), p);
      kernels->update(m, p, q, Y.data(), ld, Wq.data(), p, Cu.data(), ld);
      kernels->triangular(k, q, Tt.data(), 32, Wq.data(), p, Out.data(), rows);
      std::vector<double> x(C.begin(), C.begin() + m);
      kernels->scale(m, 0.3, x.data());
      results[which] = W;
      results[which].insert(results[which].end(), Cu.begin(), Cu.end());
      results[which].insert(results[which].end(), Out.begin(), Out.end());
      results[which].insert(results[which].end(), x.begin(), x.end());
      ++which;
    }
    for (std::size_t s = 1; s < sets.size(); ++s) {
      ASSERT_EQ(results[0].size(), results[s].size());
      for (std::size_t i = 0; i < results[0].size(); ++i) {
        ASSERT_EQ(results[0][i], results[s][i]) << sets[s]->name << ": " << m << " x " << p << " x " << q << " at " << i;
      }
    }
  }
}

TEST(TriangularFold, TheGenericKernelsAgreeToRoundOff) {
  const int N = 1200, n = 40;
  const std::vector<double> M = TallMatrix(N, n, 5);
  TriangularFold f(n, n, fold::KernelsFor("generic"));
  FoldRows(f, M, N, 0, N, 128);
  EXPECT_LT(RelativeDifference(Normalised(f), UnblockedR(M, N, n)), 1e-12);
}

TEST(TriangularFold, AZeroColumnLeavesAnExactlyZeroDiagonal) {
  const int N = 1000, n = 45;
  std::vector<double> M = TallMatrix(N, n, 6);
  std::fill_n(M.begin() + static_cast<std::ptrdiff_t>(N) * 37, N, 0.0);
  TriangularFold first(n, n), second(n, n);
  FoldRows(first, M, N, 0, 600, 96);
  FoldRows(second, M, N, 600, N, 96);
  first.Merge(second);
  EXPECT_EQ(first.R(37, 37), 0.0);
  for (int i = 0; i < n; ++i) {
    if (i != 37) {
      EXPECT_NE(first.R(i, i), 0.0) << i;
    }
  }
}

TEST(TriangularFold, ValuesNearTheEndsOfTheRangeKeepTheirDigits) {
  const int N = 600, n = 10;
  for (const double scale : {1e-170, 1e160}) {
    std::vector<double> M = TallMatrix(N, n, 7);
    for (double& v : M) v *= scale;
    TriangularFold f(n, n);
    FoldRows(f, M, N, 0, N, 64);
    std::vector<double> reference = UnblockedR(M, N, n);
    EXPECT_LT(RelativeDifference(Normalised(f), reference), 1e-12) << scale;
  }
}

}  // namespace
}  // namespace odefit
