#include "numerics/householder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

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

// Shared by dL2RRR and DLQRSL.
constexpr const char* kQrLeadingDimensionMessage =
    "The number of rows of QR must be less than or equal to its leading dimension while "
    "NRA = %(I1) and LDQR = %(I2) are given.";

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
    double nrm = DNRM2(len, v, 1);
    if (nrm < kSafeMinimum) continue;
    if (!(v[0] >= 0.0)) nrm = -nrm;
    DSCAL(len, 1.0 / nrm, v, 1);
    v[0] = 1.0 + v[0];

    // Every later column a_j becomes a_j - v*(v'a_j)/v_1.
    if (l < nca) {
      DGEMV("T", len, nca - l, -1.0 / v[0], v + ld, ldqr, v, 1, 0.0, work, 1);
      DGER(len, nca - l, 1.0, v, 1, work, 1, v + ld, ldqr);
    }

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

}  // namespace

void DLQRRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms) {
  E1PSH("DLQRRR ");
  if (NCA <= 0) {
    SetErrorInteger(1, NCA);
    E1MES(5, 1,
          "The number of columns of the input matrix must be positive while NCA = %(i1) is "
          "given.");
  } else {
    const bool pivoting = PivotRequest % 2 != 0;
    const std::size_t places = std::size_t(NCA) * (pivoting ? 2 : 1) - 1;
    // Left uninitialised: every place is written before it is read.
    std::unique_ptr<double[]> work(new (std::nothrow) double[places]);
    if (!work) {
      SetErrorInteger(1, NCA);
      E1MES(5, 2,
            "The required storage cannot be allocated.  The workspace is based on NCA, where "
            "NCA = %(i1) is given.");
    } else {
      dL2RRR(NRA, NCA, A, LDA, PivotRequest, ColumnOrder, QR, LDQR, ReflectorScalars, ColumnNorms,
             std::span<double>(work.get(), places));
    }
  }
  E1POP("DLQRRR ");
}

void dL2RRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms,
            std::span<double> work) {
  E1PSH("dL2RRR ");
  if (NRA < 1 || NCA < 1) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, NCA);
    E1MES(5, 1,
          "Both the number of rows and the number of columns of the input matrix must be "
          "positive while NRA = %(I1) and NCA = %(I2) are given.");
  } else if (LDA < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDA);
    E1MES(5, 2,
          "The number of rows of A must be less than or equal to its leading dimension while "
          "NRA = %(I1) and LDA = %(I2) are given.");
  } else if (LDQR < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDQR);
    E1MES(5, 3, kQrLeadingDimensionMessage);
  } else {
    Factor(NRA, NCA, A.data(), LDA, PivotRequest % 2 != 0, ColumnOrder.data(), QR.data(), LDQR,
           ReflectorScalars.data(), ColumnNorms.data(), work.data());
  }
  E1POP("dL2RRR ");
}

void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, std::span<const double> Y, int IPATH,
            std::span<double> QTimesY, std::span<double> QTransposeY, std::span<double> Solution,
            std::span<double> Residual, std::span<double> FittedValues) {
  E1PSH("DLQRSL ");
  bool misuse = true;
  if (NRA < 1) {
    SetErrorInteger(1, NRA);
    E1MES(5, 1,
          "The number of rows of the input matrix must be positive while NRA = %(I1) is given.");
  } else if (LDQR < NRA) {
    SetErrorInteger(1, NRA);
    SetErrorInteger(2, LDQR);
    E1MES(5, 2, kQrLeadingDimensionMessage);
  } else if (KBASIS < 1) {
    SetErrorInteger(1, KBASIS);
    E1MES(5, 3,
          "The number of columns of the submatrix AK of A must be positive while KBASIS = %(I1) "
          "is given.");
  } else {
    misuse = false;
  }
  if (IPATH < 1 || IPATH > 99999) {
    SetErrorInteger(1, IPATH);
    E1MES(5, 4,
          "Illegal format for IPATH.  IPATH must be between 1 and 99999 while a value of %(I1) "
          "is given.");
    misuse = true;
  }
  if (misuse) {
    E1POP("DLQRSL ");
    return;
  }

  // Every output but Q*y is formed from Q'*y, so requesting any of them requests Q'*y too.
  // A KBASIS above NRA (no meaningful basis) makes the steps below touch Q'*y, the
  // solution, the residual and the fitted values up to place KBASIS.
  const bool want_qy = IPATH / 10000 != 0;
  const bool want_qty = IPATH % 10000 != 0;
  const bool want_b = IPATH % 1000 / 100 != 0;
  const bool want_rsd = IPATH % 100 / 10 != 0;
  const bool want_xb = IPATH % 10 != 0;

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
  const int ju = std::min(KBASIS, NRA - 1);
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

  if (singular_index != 0) {
    SetErrorInteger(1, singular_index);
    E1MES(4, 1,
          "Computation of the least squares solution has been requested but the upper "
          "triangular matrix R is exactly singular; the index of the first zero diagonal "
          "element of R is %(I1).");
  }
  E1POP("DLQRSL ");
}

}  // namespace odefit
