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
// Errors are reported to the thread's error reporter (error_stack.h).

#include <optional>
#include <span>

namespace odefit {

// Factors the NRA x NCA matrix A into QR. A and QR may be the same storage.
// Storage shorter than the sizes demand, like a workspace that cannot be
// allocated, is a terminal error; nothing is factored then.
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
// places when pivoting, NCA - 1 otherwise. Sizes and storage are checked as DLQRRR checks them.
void dL2RRR(int NRA, int NCA, std::span<const double> A, int LDA, int PivotRequest,
            std::span<int> ColumnOrder, std::span<double> QR, int LDQR,
            std::span<double> ReflectorScalars, std::span<double> ColumnNorms,
            std::span<double> work);

// The outputs DLQRSL is asked for. Q'*y is formed whenever any output but
// Q*y is asked for, since they all come from it: QTransposeY must then have
// NRA places even when qTransposeY itself is not set.
struct SolveOutputs {
  bool qTimesY = false;
  bool qTransposeY = false;
  bool solution = false;
  bool residual = false;
  bool fittedValues = false;

  // The outputs the five decimal digits "abcde" of IPATH select (a QTimesY,
  // b QTransposeY, c Solution, d Residual, e FittedValues; a nonzero digit
  // asks); none for an IPATH outside 1 to 99999.
  static std::optional<SolveOutputs> FromIpath(int ipath);
  // The IPATH that asks for these outputs: digit 1 for each one (0 for none).
  int Ipath() const;
  // Whether Q'*y is formed, asked for or needed for another output.
  bool FormsQTransposeY() const { return qTransposeY || solution || residual || fittedValues; }
};

// Computes the requested outputs for the right-hand side Y (NRA places):
// QTimesY, QTransposeY, Solution (KBASIS values), Residual and FittedValues.
// Outputs that are not requested may be empty spans, and one scratch vector
// may serve for several unrequested outputs. QR and ReflectorScalars are read
// only. 1 <= KBASIS <= NRA, and every span must hold what the sizes demand;
// otherwise a terminal error is reported and nothing is computed.
void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, std::span<const double> Y, SolveOutputs outputs,
            std::span<double> QTimesY, std::span<double> QTransposeY, std::span<double> Solution,
            std::span<double> Residual, std::span<double> FittedValues);

// Computes for each of the NRHS right-hand sides Y(1..NRA, c), leading
// dimension LDY >= NRA, what DLQRSL with the solution and the residual
// requested computes, with the same rounding: Solution(1..KBASIS, c)
// (leading dimension KBASIS) and Residual(1..NRA, c) (leading dimension LDY).
// Each reflector is read once for all columns. Misuse, storage shorter than
// the sizes demand and an exactly singular R are reported as DLQRSL reports
// them, once, under its name.
void DLQRSL(int NRA, int KBASIS, std::span<const double> QR, int LDQR,
            std::span<const double> ReflectorScalars, int NRHS, std::span<const double> Y, int LDY,
            std::span<double> Solution, std::span<double> Residual);

// Solves R b_c = z_c for the NRHS columns of Z (KBASIS values each, leading
// dimension LDZ) with the KBASIS x KBASIS upper triangle of R (leading
// dimension LDR), as DLQRSL's back substitution does, into Solution (leading
// dimension KBASIS). For a triangular factor formed without DLQRRR (a
// streamed factorisation). An exactly singular R is reported under DLQRSL's
// name with the index DLQRSL reports (the first zero diagonal element met
// from the last), once; the solution is then unspecified.
void SolveTriangularFactor(int KBASIS, std::span<const double> R, int LDR, int NRHS, std::span<const double> Z,
                           int LDZ, std::span<double> Solution);

}  // namespace odefit
