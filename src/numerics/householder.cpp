#include "numerics/householder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include <cblas.h>

#include <vector>

#include "numerics/blas.h"
#include "numerics/error_stack.h"

// Indices in the comments and in the loop variables are 1-based; element j of
// a vector v is v[j - 1].

namespace odefit {
namespace {

using Index = std::ptrdiff_t;

// The smallest positive normalised double. Its product with the largest double
// exceeds 1, so it is also the smallest norm whose reciprocal does not overflow.
constexpr double kSafeMinimum = 2.2250738585072014e-308;

// Weight in the downdating test 1 + 0.05*t*(norm/reference norm)^2 = 1, where
// t is the fraction of the squared norm left: once the test holds, too few
// digits of the downdated norm are left and it is computed afresh.
constexpr double kDowndateFactor = 0.05;

// Turns x = v(1..len) into the reflector v = x / (+-||x||) + e1 in place and
// returns the signed norm, or 0 when ||x|| is below kSafeMinimum and x is left
// unchanged (no reflection).
double MakeReflector(int len, double* v) {
  double nrm = DNRM2(len, v, 1);
  if (nrm < kSafeMinimum) return 0.0;
  if (!(v[0] >= 0.0)) nrm = -nrm;
  DSCAL(len, 1.0 / nrm, v, 1);
  v[0] = 1.0 + v[0];
  return nrm;
}

// Applies the reflector v(1..len) to the `ncols` columns that follow it
// (leading dimension ldqr): each a_j becomes a_j - v*(v'a_j)/v_1, with w := A'v
// formed in `work` and one rank-1 update.
void ApplyReflector(int len, int ncols, double* v, int ldqr, double* work) {
  DGEMV("T", len, ncols, -1.0 / v[0], v + ldqr, ldqr, v, 1, 0.0, work, 1);
  DGER(len, ncols, 1.0, v, 1, work, 1, v + ldqr, ldqr);
}

// Shared by dL2RRR and DLQRSL.
constexpr const char* kQrLeadingDimensionMessage =
    "The number of rows of QR must be less than or equal to its leading dimension while "
    "NRA = %(I1) and LDQR = %(I2) are given.";

// Places an NRA x NCA matrix with leading dimension LD spans (valid sizes).
long long MatrixExtent(int nra, int nca, int ld) { return static_cast<long long>(ld) * (nca - 1) + nra; }

// One argument's storage and the places the sizes demand of it.
struct StorageNeed {
  const char* argument;
  std::size_t given;
  long long needed;
};

// Reports, as a terminal error with `code`, that `need` is not met.
[[gnu::noinline, gnu::cold]] void ReportShortStorage(int code, const StorageNeed& need) {
  SetErrorText(1, need.argument);
  SetErrorInteger(1, static_cast<long long>(need.given));
  SetErrorInteger(2, need.needed);
  E1MES(ErrorType::Terminal, code, "The storage given for %(L1) holds %(I1) values while the sizes given need %(I2).");
}

// Reports the first argument whose storage is shorter than the sizes demand;
// returns whether all are long enough. A pack rather than a list, so that a
// solve in a loop pays a few comparisons for it.
template <typename... Needs>
bool CheckStorage(int code, const Needs&... needs) {
  const auto met = [code](const StorageNeed& need) {
    if (need.needed <= 0 || static_cast<unsigned long long>(need.needed) <= need.given) return true;
    ReportShortStorage(code, need);
    return false;
  };
  return (met(needs) && ...);
}

// Reports that DLQRRR's workspace, based on NCA, cannot be allocated.
void ReportWorkspace(int nca) {
  SetErrorInteger(1, nca);
  E1MES(ErrorType::Terminal, 2,
        "The required storage cannot be allocated.  The workspace is based on NCA, where "
        "NCA = %(i1) is given.");
}

// Checks the storage of DLQRRR's and dL2RRR's arguments for valid sizes.
bool CheckFactorStorage(int code, int NRA, int NCA, std::span<const double> A, int LDA, bool pivoting,
                        std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
                        std::span<double> ReflectorScalars, std::span<double> ColumnNorms) {
  return CheckStorage(code, StorageNeed{"A", A.size(), MatrixExtent(NRA, NCA, LDA)},
                      StorageNeed{"ColumnOrder", ColumnOrder.size(), pivoting ? NCA : 0},
                      StorageNeed{"QR", QR.size(), MatrixExtent(NRA, NCA, LDQR)},
                      StorageNeed{"ReflectorScalars", ReflectorScalars.size(), NCA},
                      StorageNeed{"ColumnNorms", ColumnNorms.size(), NCA});
}

// Performs the factorisation steps of dL2RRR on valid arguments; `work` holds
// NCA - 1 places for the reflected products and, when pivoting, the NCA
// reference norms after them.
void Factor(int nra, int nca, const double* a, int lda, bool pivoting, int* order, double* qr,
            int ldqr, double* scalars, double* column_norms, double* work) {
  const Index ld = ldqr;
  auto column = [qr, ld](int j) { return qr + Index(j - 1) * ld; };
  double* reference = work + (nca - 1);

  if (a != qr || lda != ldqr) {
    for (int j = 1; j <= nca; ++j) DCOPY(nra, a + Index(j - 1) * lda, 1, column(j), 1);
  }

  // Initial columns to the front, final columns to the back, in their order.
  int pl = 1;
  int pu = 0;
  if (pivoting) {
    for (int j = 1; j <= nca; ++j) {
      const bool initial = order[j - 1] > 0;
      order[j - 1] = order[j - 1] < 0 ? -j : j;
      if (!initial) continue;
      if (j != pl) DSWAP(nra, column(pl), 1, column(j), 1);
      order[j - 1] = order[pl - 1];
      order[pl - 1] = j;
      ++pl;
    }
    pu = nca;
    for (int j = nca; j >= 1; --j) {
      if (order[j - 1] >= 0) continue;
      order[j - 1] = -order[j - 1];
      if (j != pu) {
        DSWAP(nra, column(pu), 1, column(j), 1);
        std::swap(order[pu - 1], order[j - 1]);
      }
      --pu;
    }
  }

  // Free columns are pl..pu; only they carry (downdated) norms.
  for (int j = 1; j <= nca; ++j) column_norms[j - 1] = DNRM2(nra, column(j), 1);
  for (int j = pl; j <= pu; ++j) {
    scalars[j - 1] = column_norms[j - 1];
    if (pivoting) reference[j - 1] = column_norms[j - 1];
  }

  const int steps = std::min(nra, nca);
  for (int l = 1; l <= steps; ++l) {
    if (pl <= l && l < pu) {
      const int maxj = l - 1 + IDAMAX(pu - l + 1, scalars + (l - 1), 1);
      if (maxj != l) {
        DSWAP(nra, column(l), 1, column(maxj), 1);
        scalars[maxj - 1] = scalars[l - 1];
        reference[maxj - 1] = reference[l - 1];
        std::swap(order[l - 1], order[maxj - 1]);
      }
    }
    scalars[l - 1] = 0.0;
    if (l == nra) continue;

    // Reflector v = x / (+-||x||) + e1 for x = QR(l..NRA, l), stored in place.
    double* v = column(l) + (l - 1);
    const int len = nra - l + 1;
    const double nrm = MakeReflector(len, v);
    if (nrm == 0.0) continue;

    // Every later column a_j becomes a_j - v*(v'a_j)/v_1.
    if (l < nca) ApplyReflector(len, nca - l, v, ldqr, work);

    for (int j = l + 1; j <= nca; ++j) {
      if (j < pl || j > pu || scalars[j - 1] == 0.0) continue;
      const double ratio = std::fabs(column(j)[l - 1]) / scalars[j - 1];
      const double t = std::max(0.0, 1.0 - ratio * ratio);
      double u = kDowndateFactor * t;
      if (pivoting) {
        const double drift = scalars[j - 1] / reference[j - 1];
        u = u * (drift * drift);
      }
      if (1.0 + u != 1.0) {
        scalars[j - 1] = scalars[j - 1] * std::sqrt(t);
      } else {
        scalars[j - 1] = DNRM2(nra - l, column(j) + l, 1);
        if (pivoting) reference[j - 1] = scalars[j - 1];
      }
    }

    scalars[l - 1] = v[0];
    v[0] = -nrm;
  }
}

// Applies reflection j to z(j..NRA): z := z + t*v with t = -(v'z)/v_1, where v
// is QR(j..NRA, j) with its leading element replaced by `lead`. `v` and `z`
// point at row j; `len` = NRA - j + 1.
void Reflect(int len, const double* v, double lead, double* z) {
  double dot = 0.0;
  dot = dot + lead * z[0];
  for (int i = 1; i < len; ++i) dot = dot + v[i] * z[i];
  const double t = -dot / lead;
  if (t == 0.0) return;
  z[0] = z[0] + t * lead;
  for (int i = 1; i < len; ++i) z[i] = z[i] + t * v[i];
}

// The blocked factorisation works on blocks of kBlockWidth columns, each made
// of panels of kPanelWidth columns. A panel is factored by the unblocked
// steps, whose level-2 passes stream the panel through memory once per
// column, so panels are narrow; a panel's reflectors reach the rest of its
// block as one rank-8 update, and a whole block's reach the trailing
// columns as one rank-32 update, wide enough for the level-3 kernels to run
// near peak. Measured on a 2-core machine (1e6 x 84 and 1e5 x 364): panels of
// 8 in blocks of 32 took 0.7 times as long as panels of 32; 4, 16 and blocks
// of 24, 48 or 64 were slower.
constexpr int kPanelWidth = 8;
constexpr int kBlockWidth = 32;

// The blocked factorisation is used from two blocks' width and this many
// elements (rows x columns) on. Measured on a 2-core machine: below, the
// unblocked factorisation's level-2 passes are mostly served from cache and
// the block reflectors' extra work (V, T, the copies) is not repaid; 8000 x
// 64 is about 1.4 times and 1000 x 300 about 2.4 times faster blocked.
constexpr int kBlockedMinimumColumns = 2 * kBlockWidth;
constexpr double kBlockedThreshold = 1 << 18;

// Performs steps k + 1..k + jb of Factor without pivoting on the panel of
// columns k + 1..k + jb alone: every operation on a panel column is the one
// Factor makes, so a panel is factored as the unblocked algorithm factors it.
// `work` holds jb - 1 places.
void FactorPanel(int nra, int k, int jb, double* qr, int ldqr, double* scalars, double* work) {
  const Index ld = ldqr;
  auto column = [qr, ld](int j) { return qr + Index(j - 1) * ld; };
  for (int l = k + 1; l <= k + jb; ++l) {
    scalars[l - 1] = 0.0;
    if (l == nra) continue;
    double* v = column(l) + (l - 1);
    const int len = nra - l + 1;
    const double nrm = MakeReflector(len, v);
    if (nrm == 0.0) continue;
    if (l < k + jb) ApplyReflector(len, k + jb - l, v, ldqr, work);
    scalars[l - 1] = v[0];
    v[0] = -nrm;
  }
}

// Applies the reflections k + 1..k + jb (a panel or a block) to the columns
// k + jb + 1..nca, rows k + 1..nra, as one block reflector: with H_c = I -
// v_c v_c' / v_c(1), H_1 ... H_jb = I - V T V' (T upper triangular), and the
// trailing block C becomes C - V (T' (V' C)), three level-3 operations.
void UpdateTrailing(int nra, int nca, int k, int jb, double* qr, int ldqr, const double* scalars,
                    std::vector<double>& v, std::vector<double>& t, std::vector<double>& w) {
  const int rows = nra - k;
  const int cols = nca - k - jb;
  const Index ld = ldqr;
  const double* panel = qr + Index(k) + Index(k) * ld;
  // V explicitly: zero above the diagonal, the reflector's leading element on
  // it; a column without reflection (H_c = I) is zero.
  v.resize(std::size_t(rows) * jb);
  for (int c = 0; c < jb; ++c) {
    double* vc = v.data() + std::size_t(c) * rows;
    if (scalars[k + c] == 0.0) {
      std::fill(vc, vc + rows, 0.0);
      continue;
    }
    std::fill(vc, vc + c, 0.0);
    vc[c] = scalars[k + c];
    std::copy(panel + Index(c) * ld + c + 1, panel + Index(c) * ld + rows, vc + c + 1);
  }
  // T column by column: T(c, c) = tau_c = 1 / v_c(1), T(1..c-1, c) = -tau_c T(1..c-1, 1..c-1) V' v_c.
  t.assign(std::size_t(jb) * jb, 0.0);
  cblas_dsyrk(CblasColMajor, CblasUpper, CblasTrans, jb, rows, 1.0, v.data(), rows, 0.0, t.data(), jb);
  for (int c = 0; c < jb; ++c) {
    double* tc = t.data() + std::size_t(c) * jb;
    const double tau = scalars[k + c] == 0.0 ? 0.0 : 1.0 / scalars[k + c];
    for (int i = 0; i < c; ++i) tc[i] *= -tau;
    cblas_dtrmv(CblasColMajor, CblasUpper, CblasNoTrans, CblasNonUnit, c, t.data(), jb, tc, 1);
    tc[c] = tau;
  }
  double* trailing = qr + Index(k) + Index(k + jb) * ld;
  w.resize(std::size_t(jb) * cols);
  cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, jb, cols, rows, 1.0, v.data(), rows, trailing,
              ldqr, 0.0, w.data(), jb);
  cblas_dtrmm(CblasColMajor, CblasLeft, CblasUpper, CblasTrans, CblasNonUnit, jb, cols, 1.0, t.data(),
              jb, w.data(), jb);
  cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, rows, cols, jb, -1.0, v.data(), rows, w.data(),
              jb, 1.0, trailing, ldqr);
}

// The unpivoted factorisation by blocks of panels (valid arguments): the same
// column norms and storage as Factor.
void FactorBlocked(int nra, int nca, const double* a, int lda, double* qr, int ldqr, double* scalars,
                   double* column_norms) {
  RoutineScope routine("FactorBlocked ");
  const Index ld = ldqr;
  if (a != qr || lda != ldqr) {
    for (int j = 0; j < nca; ++j) DCOPY(nra, a + Index(j) * lda, 1, qr + Index(j) * ld, 1);
  }
  for (int j = 0; j < nca; ++j) column_norms[j] = DNRM2(nra, qr + Index(j) * ld, 1);
  std::vector<double> work(kPanelWidth), v, t, w;
  const int steps = std::min(nra, nca);
  for (int k = 0; k < steps; k += kBlockWidth) {
    const int jb = std::min(kBlockWidth, steps - k);
    // The block's own panels, each applied to the rest of the block.
    for (int p = k; p < k + jb; p += kPanelWidth) {
      const int pb = std::min(kPanelWidth, k + jb - p);
      FactorPanel(nra, p, pb, qr, ldqr, scalars, work.data());
      if (p + pb < k + jb) UpdateTrailing(nra, k + jb, p, pb, qr, ldqr, scalars, v, t, w);
    }
    if (k + jb < nca) UpdateTrailing(nra, nca, k, jb, qr, ldqr, scalars, v, t, w);
  }
}

// Applies reflections 1..ju (forward) or ju..1 (backward) to NB columns of
// Z (leading dimension ldz), each column with Reflect's arithmetic. One pass
// over the rows applies one reflection and forms the sums of the next, which
// need the rows only after that reflection has reached them; an update with
// a zero factor, which Reflect skips, is made on its own.
template <int NB>
void ReflectBlock(int nra, int ju, bool forward, const double* qr, Index ld, const double* scalars, double* z,
                  Index ldz) {
  int p = 0;  // the reflection whose update is pending (1-based), 0 for none
  double t[NB] = {};
  auto column = [qr, ld](int j) { return qr + Index(j - 1) * ld; };
  // z(i) := z(i) + t*v_p(i) for the rows i in [from, to] (1-based), v_p(p) being p's lead.
  auto update = [&](int from, int to) {
    const double* v = column(p);
    for (int i = from; i <= to; ++i) {
      const double vi = i == p ? scalars[p - 1] : v[i - 1];
      for (int c = 0; c < NB; ++c) z[c * ldz + i - 1] = z[c * ldz + i - 1] + t[c] * vi;
    }
  };
  auto finishPending = [&] {
    const double* v = column(p);
    for (int c = 0; c < NB; ++c) {
      if (t[c] == 0.0) continue;  // Reflect leaves such a column alone
      double* zc = z + c * ldz;
      zc[p - 1] = zc[p - 1] + t[c] * scalars[p - 1];
      for (int i = p + 1; i <= nra; ++i) zc[i - 1] = zc[i - 1] + t[c] * v[i - 1];
    }
    p = 0;
  };
  for (int step = 0; step < ju; ++step) {
    const int j = forward ? step + 1 : ju - step;
    const double lead = scalars[j - 1];
    if (lead == 0.0) continue;
    bool fuse = p != 0;
    for (int c = 0; c < NB && fuse; ++c) fuse = t[c] != 0.0;
    if (p != 0 && !fuse) finishPending();
    const double* v = column(j);
    double dot[NB];
    // Row j starts the sums with the lead; rows below follow in order.
    auto sumFrom = [&](int from, int to) {
      for (int i = from; i <= to; ++i) {
        const double vi = v[i - 1];
        for (int c = 0; c < NB; ++c) dot[c] = dot[c] + vi * z[c * ldz + i - 1];
      }
    };
    auto startSums = [&] {
      for (int c = 0; c < NB; ++c) dot[c] = 0.0 + lead * z[c * ldz + j - 1];
    };
    if (p == 0) {
      startSums();
      sumFrom(j + 1, nra);
    } else if (p < j) {
      update(p, j);
      startSums();
      const double* vp = column(p);
      for (int i = j + 1; i <= nra; ++i) {
        const double a = vp[i - 1], b = v[i - 1];
        for (int c = 0; c < NB; ++c) {
          double& zi = z[c * ldz + i - 1];
          zi = zi + t[c] * a;
          dot[c] = dot[c] + b * zi;
        }
      }
    } else {
      startSums();
      sumFrom(j + 1, p - 1);
      update(p, p);  // row p's sum follows its update
      for (int c = 0; c < NB; ++c) dot[c] = dot[c] + v[p - 1] * z[c * ldz + p - 1];
      const double* vp = column(p);
      for (int i = p + 1; i <= nra; ++i) {
        const double a = vp[i - 1], b = v[i - 1];
        for (int c = 0; c < NB; ++c) {
          double& zi = z[c * ldz + i - 1];
          zi = zi + t[c] * a;
          dot[c] = dot[c] + b * zi;
        }
      }
    }
    for (int c = 0; c < NB; ++c) t[c] = -dot[c] / lead;
    p = j;
  }
  if (p != 0) finishPending();
}

// Applies reflections 1..ju (forward) or ju..1 (backward) to the nrhs columns
// of Z (leading dimension ldz) with the arithmetic of Reflect for each
// column, up to four columns per pass over the reflectors.
void ReflectColumns(int nra, int ju, bool forward, const double* qr, Index ld, const double* scalars,
                    int nrhs, double* z, Index ldz) {
  int c = 0;
  for (; c + 4 <= nrhs; c += 4) ReflectBlock<4>(nra, ju, forward, qr, ld, scalars, z + c * ldz, ldz);
  switch (nrhs - c) {
    case 3: ReflectBlock<3>(nra, ju, forward, qr, ld, scalars, z + c * ldz, ldz); break;
    case 2: ReflectBlock<2>(nra, ju, forward, qr, ld, scalars, z + c * ldz, ldz); break;
    case 1: ReflectBlock<1>(nra, ju, forward, qr, ld, scalars, z + c * ldz, ldz); break;
    default: break;
  }
}

}  // namespace

void DLQRRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms) {
  RoutineScope routine("DLQRRR ");
  if (NCA <= 0) {
    SetErrorInteger(1, NCA);
    E1MES(ErrorType::Terminal, 1,
          "The number of columns of the input matrix must be positive while NCA = %(i1) is "
          "given.");
    return;
  }
  const bool pivoting = PivotRequest % 2 != 0;
  // Misuse of the sizes is left to dL2RRR to report; the storage is checked
  // here, where the blocked path would otherwise go without checks.
  const bool validSizes = NRA >= 1 && LDA >= NRA && LDQR >= NRA;
  if (validSizes && !CheckFactorStorage(3, NRA, NCA, A, LDA, pivoting, ColumnOrder, QR, LDQR, ReflectorScalars,
                                        ColumnNorms)) {
    return;
  }
  // Large unpivoted fits by blocks.
  if (!pivoting && validSizes && BlockedFactorisationPays(NRA, NCA)) {
    try {
      FactorBlocked(NRA, NCA, A.data(), LDA, QR.data(), LDQR, ReflectorScalars.data(), ColumnNorms.data());
    } catch (const std::bad_alloc&) {
      ReportWorkspace(NCA);
    }
    return;
  }
  const std::size_t places = std::size_t(NCA) * (pivoting ? 2 : 1) - 1;
  // Left uninitialised: every place is written before it is read.
  std::unique_ptr<double[]> work(new (std::nothrow) double[places]);
  if (!work) {
    ReportWorkspace(NCA);
    return;
  }
  dL2RRR(NRA, NCA, A, LDA, PivotRequest, ColumnOrder, QR, LDQR, ReflectorScalars, ColumnNorms,
         std::span<double>(work.get(), places));
}

bool BlockedFactorisationPays(int NRA, int NCA) {
  return NCA >= kBlockedMinimumColumns && double(NRA) * double(NCA) >= kBlockedThreshold;
}

void dL2RRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms,
            std::span<double> work) {
  RoutineScope routine("dL2RRR ");
  if (NRA < 1 || NCA < 1) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, NCA);
    E1MES(ErrorType::Terminal, 1,
          "Both the number of rows and the number of columns of the input matrix must be "
          "positive while NRA = %(I1) and NCA = %(I2) are given.");
    return;
  }
  if (LDA < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDA);
    E1MES(ErrorType::Terminal, 2,
          "The number of rows of A must be less than or equal to its leading dimension while "
          "NRA = %(I1) and LDA = %(I2) are given.");
    return;
  }
  if (LDQR < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDQR);
    E1MES(ErrorType::Terminal, 3, kQrLeadingDimensionMessage);
    return;
  }
  const bool pivoting = PivotRequest % 2 != 0;
  if (!CheckFactorStorage(4, NRA, NCA, A, LDA, pivoting, ColumnOrder, QR, LDQR, ReflectorScalars, ColumnNorms) ||
      !CheckStorage(4, StorageNeed{"work", work.size(), (pivoting ? 2LL : 1LL) * NCA - 1})) {
    return;
  }
  Factor(NRA, NCA, A.data(), LDA, pivoting, ColumnOrder.data(), QR.data(), LDQR, ReflectorScalars.data(),
         ColumnNorms.data(), work.data());
}

// Records the fatal error of an exactly singular R with the index of its zero diagonal element.
static void ReportSingular(int index) {
  SetErrorInteger(1, index);
  E1MES(ErrorType::Fatal, 1,
        "Computation of the least squares solution has been requested but the upper "
        "triangular matrix R is exactly singular; the index of the first zero diagonal "
        "element of R is %(I1).");
}

// Reports the first of DLQRSL's size errors (NRA, LDQR, KBASIS, in that order);
// returns whether the sizes are usable.
static bool CheckSolveSizes(int NRA, int LDQR, int KBASIS) {
  if (NRA < 1) {
    SetErrorInteger(1, NRA);
    E1MES(ErrorType::Terminal, 1,
          "The number of rows of the input matrix must be positive while NRA = %(I1) is given.");
  } else if (LDQR < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDQR);
    E1MES(ErrorType::Terminal, 2, kQrLeadingDimensionMessage);
  } else if (KBASIS < 1) {
    SetErrorInteger(1, KBASIS);
    E1MES(ErrorType::Terminal, 3,
          "The number of columns of the submatrix AK of A must be positive while KBASIS = %(I1) "
          "is given.");
  } else {
    return true;
  }
  return false;
}

// Reports a basis wider than R has rows (the solve would run past Q'*y and
// the diagonal of R); returns whether KBASIS <= NRA.
static bool CheckBasis(int NRA, int KBASIS) {
  if (KBASIS <= NRA) return true;
  SetErrorInteger(1, KBASIS);
  SetErrorInteger(2, NRA);
  E1MES(ErrorType::Terminal, 5,
        "The number of columns of the submatrix AK of A must not exceed the number of rows while "
        "KBASIS = %(I1) and NRA = %(I2) are given.");
  return false;
}

std::optional<SolveOutputs> SolveOutputs::FromIpath(int ipath) {
  if (ipath < 1 || ipath > 99999) return std::nullopt;
  return SolveOutputs{ipath / 10000 != 0, ipath % 10000 / 1000 != 0, ipath % 1000 / 100 != 0,
                      ipath % 100 / 10 != 0, ipath % 10 != 0};
}

int SolveOutputs::Ipath() const {
  return 10000 * qTimesY + 1000 * qTransposeY + 100 * solution + 10 * residual + fittedValues;
}

void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, std::span<const double> Y, SolveOutputs outputs,
            std::span<double> QTimesY, std::span<double> QTransposeY, std::span<double> Solution,
            std::span<double> Residual, std::span<double> FittedValues) {
  RoutineScope routine("DLQRSL ");
  const bool want_qy = outputs.qTimesY;
  const bool want_qty = outputs.FormsQTransposeY();
  const bool want_b = outputs.solution;
  const bool want_rsd = outputs.residual;
  const bool want_xb = outputs.fittedValues;

  bool misuse = !CheckSolveSizes(NRA, LDQR, KBASIS);
  if (!want_qy && !want_qty) {
    SetErrorInteger(1, outputs.Ipath());
    E1MES(ErrorType::Terminal, 4,
          "Illegal format for IPATH.  IPATH must be between 1 and 99999 while a value of %(I1) "
          "is given.");
    misuse = true;
  }
  if (misuse || !CheckBasis(NRA, KBASIS)) return;
  const int ju = std::min(KBASIS, NRA - 1);
  const long long rows = NRA;
  // One branch-free count first: a solve in a loop pays almost nothing for the checks.
  const std::size_t n = static_cast<std::size_t>(NRA);
  const auto lacks = [](bool wanted, std::size_t given, std::size_t needed) {
    return static_cast<int>(wanted) & static_cast<int>(given < needed);
  };
  const int shortfalls = lacks(true, QR.size(), static_cast<std::size_t>(MatrixExtent(NRA, KBASIS, LDQR))) +
                         lacks(true, ReflectorScalars.size(), static_cast<std::size_t>(ju)) +
                         lacks(true, Y.size(), n) + lacks(want_qy, QTimesY.size(), n) +
                         lacks(want_qty, QTransposeY.size(), n) +
                         lacks(want_b, Solution.size(), static_cast<std::size_t>(KBASIS)) +
                         lacks(want_rsd, Residual.size(), n) + lacks(want_xb, FittedValues.size(), n);
  if (shortfalls != 0 &&
      !CheckStorage(6, StorageNeed{"QR", QR.size(), MatrixExtent(NRA, KBASIS, LDQR)},
                    StorageNeed{"ReflectorScalars", ReflectorScalars.size(), ju}, StorageNeed{"Y", Y.size(), rows},
                    StorageNeed{"QTimesY", QTimesY.size(), want_qy ? rows : 0},
                    StorageNeed{"QTransposeY", QTransposeY.size(), want_qty ? rows : 0},
                    StorageNeed{"Solution", Solution.size(), want_b ? KBASIS : 0},
                    StorageNeed{"Residual", Residual.size(), want_rsd ? rows : 0},
                    StorageNeed{"FittedValues", FittedValues.size(), want_xb ? rows : 0})) {
    return;
  }

  const Index ld = LDQR;
  const double* qr = QR.data();
  auto column = [qr, ld](int j) { return qr + Index(j - 1) * ld; };
  auto diagonal = [&column](int j) { return column(j)[j - 1]; };
  const double* scalars = ReflectorScalars.data();
  const double* y = Y.data();
  double* qy = QTimesY.data();
  double* qty = QTransposeY.data();
  double* b = Solution.data();
  double* rsd = Residual.data();
  double* xb = FittedValues.data();

  // Applies reflections from..to (stepping by +-1) to z.
  auto reflect_all = [&](double* z, int from, int to) {
    const int step = from <= to ? 1 : -1;
    for (int j = from; j != to + step; j += step) {
      if (scalars[j - 1] != 0.0)
        Reflect(NRA - j + 1, column(j) + (j - 1), scalars[j - 1], z + (j - 1));
    }
  };

  int singular_index = 0;
  if (ju == 0) {
    if (want_qy) qy[0] = y[0];
    if (want_qty) qty[0] = y[0];
    if (want_xb) xb[0] = y[0];
    if (want_b) {
      if (qr[0] != 0.0) {
        b[0] = y[0] / qr[0];
      } else {
        singular_index = 1;
      }
    }
    if (want_rsd) rsd[0] = 0.0;
  } else {
    if (want_qy) DCOPY(NRA, y, 1, qy, 1);
    if (want_qty) DCOPY(NRA, y, 1, qty, 1);
    if (want_qy) reflect_all(qy, ju, 1);
    if (want_qty) reflect_all(qty, 1, ju);

    if (want_b) DCOPY(KBASIS, qty, 1, b, 1);
    if (want_xb) DCOPY(KBASIS, qty, 1, xb, 1);
    if (want_rsd && KBASIS < NRA) DCOPY(NRA - KBASIS, qty + KBASIS, 1, rsd + KBASIS, 1);
    if (want_xb && KBASIS < NRA) DSET(NRA - KBASIS, 0.0, xb + KBASIS, 1);
    if (want_rsd) DSET(KBASIS, 0.0, rsd, 1);

    if (want_b) {
      for (int j = KBASIS; j >= 1; --j) {
        if (diagonal(j) == 0.0) {
          singular_index = j;
          break;
        }
        b[j - 1] = b[j - 1] / diagonal(j);
        DAXPY(j - 1, -b[j - 1], column(j), 1, b, 1);
      }
    }
    // After a singular R the residual and fitted values are left unformed.
    if (singular_index == 0) {
      if (want_rsd) reflect_all(rsd, ju, 1);
      if (want_xb) reflect_all(xb, ju, 1);
    }
  }

  if (singular_index != 0) ReportSingular(singular_index);
}

void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, int NRHS, std::span<const double> Y, int LDY,
            std::span<double> Solution, std::span<double> Residual) {
  RoutineScope routine("DLQRSL ");
  if (!CheckSolveSizes(NRA, LDQR, KBASIS) || NRHS <= 0 || !CheckBasis(NRA, KBASIS)) return;
  if (LDY < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDY);
    E1MES(ErrorType::Terminal, 7,
          "The number of rows of Y must be less than or equal to its leading dimension while "
          "NRA = %(I1) and LDY = %(I2) are given.");
    return;
  }
  const int ju = std::min(KBASIS, NRA - 1);
  if (!CheckStorage(6, StorageNeed{"QR", QR.size(), MatrixExtent(NRA, KBASIS, LDQR)},
                    StorageNeed{"ReflectorScalars", ReflectorScalars.size(), ju},
                    StorageNeed{"Y", Y.size(), MatrixExtent(NRA, NRHS, LDY)},
                    StorageNeed{"Solution", Solution.size(), static_cast<long long>(KBASIS) * NRHS},
                    StorageNeed{"Residual", Residual.size(), MatrixExtent(NRA, NRHS, LDY)})) {
    return;
  }
  const Index ld = LDQR;
  const Index ldy = LDY;
  const double* qr = QR.data();
  const double* scalars = ReflectorScalars.data();
  double* rsd = Residual.data();
  double* b = Solution.data();
  auto diagonal = [qr, ld](int j) { return qr[Index(j - 1) + Index(j - 1) * ld]; };
  int singular_index = 0;
  // Q'y is formed in the residual's place: its first KBASIS places go to the
  // solution and are then zeroed, the rest is the rotated residual.
  for (int c = 0; c < NRHS; ++c) DCOPY(NRA, Y.data() + c * ldy, 1, rsd + c * ldy, 1);
  if (ju > 0) ReflectColumns(NRA, ju, true, qr, ld, scalars, NRHS, rsd, ldy);
  for (int c = 0; c < NRHS && singular_index == 0; ++c) {
    double* bc = b + Index(c) * KBASIS;
    double* rc = rsd + c * ldy;
    if (ju == 0) {
      // One row: the solution is y / R(1, 1), the residual 0.
      if (qr[0] != 0.0) {
        bc[0] = rc[0] / qr[0];
      } else {
        singular_index = 1;
      }
      rc[0] = 0.0;
      continue;
    }
    DCOPY(KBASIS, rc, 1, bc, 1);
    DSET(KBASIS, 0.0, rc, 1);
    for (int j = KBASIS; j >= 1; --j) {
      if (diagonal(j) == 0.0) {
        singular_index = j;
        break;
      }
      bc[j - 1] = bc[j - 1] / diagonal(j);
      DAXPY(j - 1, -bc[j - 1], qr + Index(j - 1) * ld, 1, bc, 1);
    }
  }
  if (singular_index == 0 && ju > 0) {
    ReflectColumns(NRA, ju, false, qr, ld, scalars, NRHS, rsd, ldy);
  }
  if (singular_index != 0) ReportSingular(singular_index);
}

void SolveTriangularFactor(int KBASIS, std::span<const double> R, int LDR, int NRHS, std::span<const double> Z,
                           int LDZ, std::span<double> Solution) {
  RoutineScope routine("DLQRSL ");
  if (KBASIS < 1 || NRHS < 1 || LDR < KBASIS || LDZ < KBASIS) {
    SetErrorInteger(1, KBASIS);
    SetErrorInteger(2, NRHS);
    E1MES(ErrorType::Terminal, 8,
          "The triangular factor must have KBASIS >= 1 columns, at least as many rows in storage, and "
          "be given NRHS >= 1 right-hand sides while KBASIS = %(I1) and NRHS = %(I2) are given.");
    return;
  }
  if (!CheckStorage(6, StorageNeed{"R", R.size(), MatrixExtent(KBASIS, KBASIS, LDR)},
                    StorageNeed{"Z", Z.size(), MatrixExtent(KBASIS, NRHS, LDZ)},
                    StorageNeed{"Solution", Solution.size(), static_cast<long long>(KBASIS) * NRHS})) {
    return;
  }
  const Index ld = LDR;
  const double* r = R.data();
  for (int c = 0; c < NRHS; ++c) {
    double* b = Solution.data() + Index(c) * KBASIS;
    DCOPY(KBASIS, Z.data() + Index(c) * LDZ, 1, b, 1);
    for (int j = KBASIS; j >= 1; --j) {
      const double diagonal = r[Index(j - 1) + Index(j - 1) * ld];
      if (diagonal == 0.0) {
        ReportSingular(j);
        return;
      }
      b[j - 1] = b[j - 1] / diagonal;
      DAXPY(j - 1, -b[j - 1], r + Index(j - 1) * ld, 1, b, 1);
    }
  }
}

}  // namespace odefit
