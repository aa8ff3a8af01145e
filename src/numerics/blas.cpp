#include "numerics/blas.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <thread>

#include <cblas.h>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

using Index = std::ptrdiff_t;

// Returns the storage offset of element 1 of an n-vector with increment inc.
Index FirstOffset(int n, int inc) { return inc < 0 ? Index(n - 1) * -Index(inc) : 0; }

// Computes y := beta*y for the n-vector y (beta = 0 writes zeros).
void ScaleForBeta(int n, double beta, double* y, int incy) {
  if (beta == 1.0) return;
  Index iy = FirstOffset(n, incy);
  for (int k = 0; k < n; ++k, iy += incy) y[iy] = beta == 0.0 ? 0.0 : beta * y[iy];
}

// Computes y := alpha*A'*x + y for contiguous x. Four columns are walked
// together so the independent sums overlap; each sum still runs over i in order.
void TransposedProductUnitX(int m, int n, double alpha, const double* a, Index lda, const double* x,
                            double* y, int incy) {
  Index jy = FirstOffset(n, incy);
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    const double* a0 = a + j * lda;
    const double* a1 = a0 + lda;
    const double* a2 = a1 + lda;
    const double* a3 = a2 + lda;
    double t0 = 0.0, t1 = 0.0, t2 = 0.0, t3 = 0.0;
    for (int i = 0; i < m; ++i) {
      const double xi = x[i];
      t0 = t0 + a0[i] * xi;
      t1 = t1 + a1[i] * xi;
      t2 = t2 + a2[i] * xi;
      t3 = t3 + a3[i] * xi;
    }
    y[jy] = y[jy] + alpha * t0;
    jy += incy;
    y[jy] = y[jy] + alpha * t1;
    jy += incy;
    y[jy] = y[jy] + alpha * t2;
    jy += incy;
    y[jy] = y[jy] + alpha * t3;
    jy += incy;
  }
  for (; j < n; ++j, jy += incy) {
    const double* aj = a + j * lda;
    double t = 0.0;
    for (int i = 0; i < m; ++i) t = t + aj[i] * x[i];
    y[jy] = y[jy] + alpha * t;
  }
}

// Computes y := alpha*op(A)*x + beta*y for valid arguments with m, n > 0.
void MatrixVectorProduct(bool transposed, int m, int n, double alpha, const double* a, int lda,
                         const double* x, int incx, double beta, double* y, int incy) {
  const int len_x = transposed ? m : n;
  const int len_y = transposed ? n : m;
  ScaleForBeta(len_y, beta, y, incy);
  if (alpha == 0.0) return;
  const Index ld = lda;
  if (!transposed) {
    // y := alpha*A*x + y, one column at a time.
    Index jx = FirstOffset(len_x, incx);
    const Index ky = FirstOffset(len_y, incy);
    for (int j = 0; j < n; ++j, jx += incx) {
      const double t = alpha * x[jx];
      const double* aj = a + j * ld;
      if (incy == 1) {
        for (int i = 0; i < m; ++i) y[i] = y[i] + t * aj[i];
      } else {
        Index iy = ky;
        for (int i = 0; i < m; ++i, iy += incy) y[iy] = y[iy] + t * aj[i];
      }
    }
  } else if (incx == 1) {
    TransposedProductUnitX(m, n, alpha, a, ld, x, y, incy);
  } else {
    // y := alpha*A'*x + y, one column sum at a time.
    const Index kx = FirstOffset(len_x, incx);
    Index jy = FirstOffset(len_y, incy);
    for (int j = 0; j < n; ++j, jy += incy) {
      const double* aj = a + j * ld;
      double t = 0.0;
      Index ix = kx;
      for (int i = 0; i < m; ++i, ix += incx) t = t + aj[i] * x[ix];
      y[jy] = y[jy] + alpha * t;
    }
  }
}

// Records, as a terminal error at the current level, the first invalid one of
// the arguments shared by DGEMV and DGER (codes 1 to 5); returns whether all
// are valid.
bool CheckMatrixArguments(int M, int N, int LDA, int INCX, int INCY) {
  if (M < 0) {
    SetErrorInteger(1, M);
    E1MES(ErrorType::Terminal, 1, "M must be greater than or equal to zero while %(I1) is given.");
  } else if (N < 0) {
    SetErrorInteger(1, N);
    E1MES(ErrorType::Terminal, 2, "N must be greater than or equal to zero while %(I1) is given.");
  } else if (LDA < std::max(1, M)) {
    SetErrorInteger(1, LDA);
    SetErrorInteger(2, M);
    E1MES(ErrorType::Terminal, 3,
          "LDA must be greater than or equal to M and greater than zero while LDA = %(I1) "
          "and M = %(I2) are given.");
  } else if (INCX == 0) {
    SetErrorInteger(1, INCX);
    E1MES(ErrorType::Terminal, 4, "INCX must not be equal to zero while %(I1) is given.");
  } else if (INCY == 0) {
    SetErrorInteger(1, INCY);
    E1MES(ErrorType::Terminal, 5, "INCY must not be equal to zero while %(I1) is given.");
  } else {
    return true;
  }
  return false;
}

}  // namespace

void DCOPY(int n, const double* x, int incx, double* y, int incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    std::copy(x, x + n, y);
    return;
  }
  Index ix = FirstOffset(n, incx), iy = FirstOffset(n, incy);
  for (int k = 0; k < n; ++k, ix += incx, iy += incy) y[iy] = x[ix];
}

double DDOT(int n, const double* x, int incx, const double* y, int incy) {
  double sum = 0.0;
  if (n <= 0) return sum;
  if (incx == 1 && incy == 1) {
    for (int k = 0; k < n; ++k) sum = sum + x[k] * y[k];
    return sum;
  }
  Index ix = FirstOffset(n, incx), iy = FirstOffset(n, incy);
  for (int k = 0; k < n; ++k, ix += incx, iy += incy) sum = sum + x[ix] * y[iy];
  return sum;
}

void DAXPY(int n, double alpha, const double* x, int incx, double* y, int incy) {
  if (n <= 0 || alpha == 0.0) return;
  if (incx == 1 && incy == 1) {
    for (int k = 0; k < n; ++k) y[k] = y[k] + alpha * x[k];
    return;
  }
  Index ix = FirstOffset(n, incx), iy = FirstOffset(n, incy);
  for (int k = 0; k < n; ++k, ix += incx, iy += incy) y[iy] = y[iy] + alpha * x[ix];
}

void DSCAL(int n, double alpha, double* x, int incx) {
  if (n <= 0 || incx <= 0) return;
  if (incx == 1) {
    for (int k = 0; k < n; ++k) x[k] = alpha * x[k];
    return;
  }
  for (Index k = 0, ix = 0; k < n; ++k, ix += incx) x[ix] = alpha * x[ix];
}

void DSWAP(int n, double* x, int incx, double* y, int incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    std::swap_ranges(x, x + n, y);
    return;
  }
  Index ix = FirstOffset(n, incx), iy = FirstOffset(n, incy);
  for (int k = 0; k < n; ++k, ix += incx, iy += incy) std::swap(x[ix], y[iy]);
}

// The running-scale form: every element is divided by the largest magnitude
// seen so far before it is squared. Its rounding is what the recorded fits
// were computed with, and ill-conditioned fits show the last bits.
double DNRM2(int n, const double* x, int incx) {
  if (n <= 0) return 0.0;
  double scale = 0.0, ssq = 1.0;
  Index ix = FirstOffset(n, incx);
  for (int k = 0; k < n; ++k, ix += incx) {
    if (x[ix] != 0.0) {
      const double absxi = std::fabs(x[ix]);
      if (scale < absxi) {
        const double r = scale / absxi;
        ssq = 1.0 + ssq * (r * r);
        scale = absxi;
      } else {
        const double r = absxi / scale;
        ssq = ssq + r * r;
      }
    }
  }
  return scale * std::sqrt(ssq);
}

int IDAMAX(int n, const double* x, int incx) {
  if (n <= 0 || incx <= 0) return 0;
  int best = 1;
  double best_value = std::fabs(x[0]);
  Index ix = incx;
  for (int k = 2; k <= n; ++k, ix += incx) {
    const double value = std::fabs(x[ix]);
    if (value > best_value) {
      best = k;
      best_value = value;
    }
  }
  return best;
}

void DSET(int n, double value, double* x, int incx) {
  if (n <= 0) return;
  if (incx == 1) {
    std::fill(x, x + n, value);
    return;
  }
  const Index step = incx < 0 ? -Index(incx) : Index(incx);
  for (Index k = 0, ix = 0; k < n; ++k, ix += step) x[ix] = value;
}

void DGEMV(std::string_view TRANS, int M, int N, double ALPHA, const double* A, int LDA,
           const double* X, int INCX, double BETA, double* Y, int INCY) {
  RoutineScope routine("DGEMV ");
  const char op = TRANS.empty() ? ' ' : TRANS.front();
  const bool plain = op == 'N' || op == 'n';
  const bool transposed = op == 'T' || op == 't' || op == 'C' || op == 'c';
  if (CheckMatrixArguments(M, N, LDA, INCX, INCY)) {
    if (!plain && !transposed) {
      SetErrorText(1, TRANS);
      E1MES(ErrorType::Terminal, 6, "TRANS must be set equal to N or T or C while %(L1) is given.");
    } else if (M > 0 && N > 0 && !(ALPHA == 0.0 && BETA == 1.0)) {
      MatrixVectorProduct(transposed, M, N, ALPHA, A, LDA, X, INCX, BETA, Y, INCY);
    }
  }
}

void DGER(int M, int N, double ALPHA, const double* X, int INCX, const double* Y, int INCY,
          double* A, int LDA) {
  RoutineScope routine("DGER ");
  if (CheckMatrixArguments(M, N, LDA, INCX, INCY) && M > 0 && N > 0 && ALPHA != 0.0) {
    const Index lda = LDA;
    const Index kx = FirstOffset(M, INCX);
    Index jy = FirstOffset(N, INCY);
    for (int j = 0; j < N; ++j, jy += INCY) {
      if (Y[jy] == 0.0) continue;
      const double t = ALPHA * Y[jy];
      double* aj = A + j * lda;
      if (INCX == 1) {
        for (int i = 0; i < M; ++i) aj[i] = aj[i] + X[i] * t;
      } else {
        Index ix = kx;
        for (int i = 0; i < M; ++i, ix += INCX) aj[i] = aj[i] + X[ix] * t;
      }
    }
  }
}

void SetLevel3Threads(int threads) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
#ifdef ODEFIT_HAVE_OPENBLAS
  openblas_set_num_threads(threads);
#else
  // Only OpenBLAS has a portable way to set it; other BLAS libraries choose their own.
  (void)threads;
#endif
}

}  // namespace odefit
