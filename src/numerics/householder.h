#pragma once
// Householder least squares: DLQRRR factors A*P = Q*R (optionally with column
// pivoting) and DLQRSL uses the factorisation for Q*y, Q'*y, the least-squares
// solution, the residual and the fitted values.
//
// Storage contract: every matrix is column-major with an explicit leading
// dimension; element (i, j) (1-based, as in all comments here) of a matrix with
// leading dimension L is at index (i - 1) + (j - 1) * L. On exit QR holds R on
// and above the diagonal and, below the diagonal of column l, the lower part of
// the l-th Householder vector, whose leading element is ReflectorScalars(l)
// (0 means no reflection was applied in step l).
//
// Errors are reported through the error stack (error_stack.h).

#include <span>

namespace odefit {

// Factors the NRA x NCA matrix A into QR. A and QR may be the same storage.
// PivotRequest odd: pivot columns, ColumnOrder on entry marks initial (> 0),
// final (< 0) and free (0) columns and on exit gives the original index of the
// column in each place; even: no pivoting and ColumnOrder is untouched.
// ColumnNorms receives the Euclidean norm of every column after the
// initial/final rearrangement.
void DLQRRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms);

// Whether DLQRRR factors an unpivoted NRA x NCA matrix by panels: the panels
// are factored as dL2RRR does, the rest of the matrix is updated per panel by
// level-3 operations (same results to about 1e-12 relative on
// well-conditioned matrices, not the same bits). Only for large matrices of
// at least 64 columns, so small fits keep the unblocked arithmetic.
bool BlockedFactorisationPays(int NRA, int NCA);

// The factorisation proper (the unblocked reference), called by DLQRRR; `work` has 2*NCA - 1
// places when pivoting, NCA - 1 otherwise.
void dL2RRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms,
            std::span<double> work);

// Computes what the five decimal digits of IPATH ("abcde") ask for:
// a QTimesY, b QTransposeY, c Solution (KBASIS values), d Residual,
// e FittedValues. Outputs that are not requested may be empty spans, and one
// scratch vector may serve for several unrequested outputs. QR and
// ReflectorScalars are read only.
void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, std::span<const double> Y, int IPATH,
            std::span<double> QTimesY, std::span<double> QTransposeY, std::span<double> Solution,
            std::span<double> Residual, std::span<double> FittedValues);

// Computes for each of the NRHS right-hand sides Y(1..NRA, c), leading
// dimension LDY, what DLQRSL with IPATH = 110 computes, with the same
// rounding: Solution(1..KBASIS, c) (leading dimension KBASIS) and
// Residual(1..NRA, c) (leading dimension LDY). Each reflector is read once
// for all columns. Misuse and an exactly singular R are reported as DLQRSL
// reports them, once, under its name (NRA = 1 and KBASIS <= NRA are the
// meaningful uses).
void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, int NRHS, std::span<const double> Y, int LDY,
            std::span<double> Solution, std::span<double> Residual);

}  // namespace odefit
