#pragma once
// Least squares for large fits without the whole design matrix: the rows of
// the design and of the targets are built a block at a time and folded into
// the triangular factor of [A | Y] (numerics/triangular_fold.h), whose last
// columns carry Q'y; a second pass builds the rows again for the residuals.
// Memory is O(K^2 + block) whatever the rows.
//
// Rows are cut into a fixed number of chunks that depends on the rows and the
// terms only; each chunk is folded into its own factor, on whichever thread
// takes it, and the factors are merged pairwise in a fixed tree (chunk 0
// with 1, 2 with 3, ..., then 0 with 2, ...), so every result has the same
// bits on any number of threads. Each target gets the bits it gets
// when fitted alone (the factor's design part and top rows do not depend on
// the other targets).

#include <cstddef>
#include <span>
#include <vector>

#include "numerics/fold_kernels.h"
#include "numerics/triangular_fold.h"
#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

// Target t of a fit: y(r) = base[r * stride], r = 0 .. Nrows - 1.
struct TargetColumn {
  const double* base = nullptr;
  std::size_t stride = 1;
};

struct StreamedSolution {
  int K = 0;
  std::vector<double> coefficients;  // K x targets, column-major
  std::vector<double> squares;       // per target, the sum of squared residuals
  std::vector<double> R;             // the K x K triangular factor of the design (leading dimension ldr)
  int ldr = 0;
};

// Whether a fit of Nrows rows and K terms is streamed: where the unblocked
// factorisation stops (BlockedFactorisationPays), and for fewer terms from a
// design of 2^21 elements on, so the recorded small fits keep their bits and
// no fit forms a design of more than 16 MB.
bool StreamedFitPays(int Nrows, int K);

// How a streamed fit runs; results depend on the block rows and the chunks
// (rounding only), never on the threads.
struct StreamSettings {
  int threads = 1;     // workers; 0: one per hardware thread
  int blockRows = 0;   // rows per block; 0: StreamedBlockRows(K)
  int chunks = 0;      // row chunks; 0: StreamedChunks(Nrows, K)
  const CancellationToken* cancel = nullptr;  // polled between blocks
  // The fold's kernels; null: the processor's fastest (fold::BestKernels).
  // The generic kernels give the same bits on every machine.
  const fold::Kernels* kernels = nullptr;
  int firstSample = 1;  // sample index of row 0 (the driven family's phase)
};

// Fits the targets to the design of `equation` (family, orders, counts, wdt
// set; the rational family takes exactly one target, which enters its
// design) over the rows 0 .. Nrows - 1 of X (D x Nrows; row r at sample
// index r + 1). An exactly singular design is reported by DLQRSL's fatal
// error (RunStopped); storage that cannot be allocated throws std::bad_alloc.
StreamedSolution StreamedLeastSquares(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                      std::span<const TargetColumn> targets, const StreamSettings& settings);

// The (K + T) x (K + T) triangular factor of [A | Y] for the design of
// `equation` and the T targets (the rational family: exactly one), folded as
// StreamedLeastSquares folds it, split after the design's K columns.
TriangularFold StreamedFactor(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                              std::span<const TargetColumn> targets, const StreamSettings& settings);

// The K x K triangular factor R of the design alone (column-major, leading
// dimension K; A = QR), for the rows and target StreamedLeastSquares takes
// (the target enters only a rational design): A's columns depend on each
// other as R's do.
std::vector<double> StreamedDesignFactor(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                         TargetColumn target, const StreamSettings& settings);

// The number of row chunks (each folded into a factor of its own) and the
// rows of a block, by default, for a fit of Nrows rows and K terms.
int StreamedChunks(int Nrows, int K);
int StreamedBlockRows(int K);

}  // namespace odefit
