#pragma once
// Vector and matrix primitives of the least-squares kernels, with the argument
// lists and semantics of the reference BLAS.
//
// Vectors are given as a pointer to their storage, a length n and an
// increment inc. Element k (1-based) of a vector with inc > 0 is at
// x[(k - 1) * inc]; with inc < 0 the vector runs backwards through storage,
// element k at x[(n - k) * (-inc)], so the pointer is always the lowest
// address touched. Matrices are column-major with leading dimension lda:
// element (i, j) is at a[(i - 1) + (j - 1) * lda].
//
// Every routine accumulates in the plain left-to-right order of its loop (no
// reassociation, no split accumulators), so results do not depend on the
// storage layout or on the compiler's vector width.

#include <string_view>

namespace odefit {

// Copies x into y. Does nothing for n <= 0.
void DCOPY(int n, const double* x, int incx, double* y, int incy);

// Returns the sum of x(k)*y(k), accumulated from k = 1 to n; 0 for n <= 0.
double DDOT(int n, const double* x, int incx, const double* y, int incy);

// Computes y := alpha*x + y. Does nothing for n <= 0 or alpha = 0.
void DAXPY(int n, double alpha, const double* x, int incx, double* y, int incy);

// Computes x := alpha*x. Does nothing for n <= 0 or incx <= 0.
void DSCAL(int n, double alpha, double* x, int incx);

// Exchanges x and y. Does nothing for n <= 0.
void DSWAP(int n, double* x, int incx, double* y, int incy);

// Returns the Euclidean norm of x without destructive overflow or underflow:
// scale * sqrt(ssq), with scale the largest magnitude so far and ssq the sum
// of the squared ratios to it. 0 for n <= 0; a NaN element gives NaN.
double DNRM2(int n, const double* x, int incx);

// Returns the 1-based index of the first element of largest magnitude, or 0
// for n <= 0 or incx <= 0.
int IDAMAX(int n, const double* x, int incx);

// Sets n elements of the strided vector x to value. Does nothing for n <= 0.
void DSET(int n, double value, double* x, int incx);

// Computes y := alpha*op(A)*x + beta*y for the m x n matrix A, where op(A) is
// A for TRANS "N" and its transpose for "T" or "C" (only the first character
// counts, in either case). x has n elements for "N" and m otherwise, y the
// other count. beta = 0 sets y without reading it. Misuse is reported as a
// terminal error under the name DGEMV (codes 1 to 6: M, N, LDA, INCX, INCY,
// TRANS), the first failing check only.
void DGEMV(std::string_view TRANS, int M, int N, double ALPHA, const double* A, int LDA,
           const double* X, int INCX, double BETA, double* Y, int INCY);

// Computes A := alpha*x*y' + A for the m x n matrix A; a column whose y(j) is
// 0 is left untouched. Misuse is reported as a terminal error under the name
// DGER (codes 1 to 5: M, N, LDA, INCX, INCY), the first failing check only.
void DGER(int M, int N, double ALPHA, const double* X, int INCX, const double* Y, int INCY,
          double* A, int LDA);

// Sets how many threads the level-3 kernels (the blocked factorisation's
// block updates) may use; 0 means one per hardware thread. This is the BLAS
// library's own setting, one for the whole process: only a program's front
// end calls it, never the core.
void SetLevel3Threads(int threads);

}  // namespace odefit
