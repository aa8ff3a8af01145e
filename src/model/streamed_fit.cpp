#include "model/streamed_fit.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "model/design.h"
#include "model/model_family.h"
#include "numerics/fold_kernels.h"
#include "numerics/householder.h"
#include "numerics/triangular_fold.h"
#include "numerics/worker_pool.h"

namespace odefit {
namespace {

using Index = std::ptrdiff_t;

// At most this many chunks (and so workers): each holds a factor of its own.
constexpr int kMaxChunks = 16;
// A chunk has at least this many rows per term, so merging the factors (about
// K^3 operations each) costs a few percent of folding the rows (2 rows K^2).
constexpr long long kChunkRowsPerTerm = 8;
// Designs of fewer terms than the blocked factorisation takes are formed whole
// up to this many elements (16 MB; the classic dialogue's recorded fits stay
// far below), and streamed above, so memory stays O(K^2 + block) whatever K.
constexpr double kLargestWholeDesign = 1 << 21;
// The chunks' factors together stay within this many bytes.
constexpr double kFactorBytes = 64.0 * (1 << 20);

// The shared state of one streamed fit.
class Stream {
 public:
  Stream(const ModelEquation& eq, std::span<const double> X, int D, int Nrows, std::span<const TargetColumn> targets,
         const StreamSettings& settings)
      : eq_(eq),
        X_(X),
        D_(D),
        Nrows_(Nrows),
        targets_(targets),
        K_(eq.nterms),
        T_(static_cast<int>(targets.size())),
        n_(K_ + T_),
        blockRows_(settings.blockRows > 0 ? settings.blockRows : StreamedBlockRows(K_)),
        ldb_(TriangularFold::BlockLeadingDimension(blockRows_)),
        chunks_(std::clamp(settings.chunks > 0 ? settings.chunks : StreamedChunks(Nrows, K_), 1, std::max(Nrows, 1))),
        workers_(WorkerCount(settings.threads, chunks_)),
        cancel_(settings.cancel),
        firstSample_(settings.firstSample),
        kernels_(settings.kernels != nullptr ? *settings.kernels : fold::BestKernels()) {}

  StreamedSolution Solve() {
    std::vector<std::vector<double>> blocks;
    const TriangularFold factor = Factor(blocks);
    StreamedSolution s;
    s.K = K_;
    s.ldr = factor.LeadingDimension();
    const std::span<const double> R = factor.Data();
    s.R.assign(R.begin(), R.begin() + static_cast<Index>(s.ldr) * K_);
    s.coefficients.assign(static_cast<std::size_t>(K_) * T_, 0.0);
    SolveTriangularFactor(K_, R, s.ldr, T_, R.subspan(static_cast<std::size_t>(s.ldr) * K_), s.ldr, s.coefficients);

    // The residuals, chunk by chunk; a chunk's sums block after block, then the chunks' in order.
    std::vector<double> chunkSquares(static_cast<std::size_t>(chunks_) * T_, 0.0);
    ForEachChunk(blocks, [&](int c, int r0, int rows, double* B) {
      FillRows(r0, rows, B);
      double* residuals = B + static_cast<Index>(K_) * ldb_;
      kernels_.update(ldb_, K_, T_, B, ldb_, s.coefficients.data(), K_, residuals, ldb_);
      for (int t = 0; t < T_; ++t) {
        double* e = residuals + static_cast<Index>(t) * ldb_;
        double sum = 0.0;
        kernels_.cross(ldb_, 1, 1, e, ldb_, e, ldb_, &sum, 1);
        double& total = chunkSquares[static_cast<std::size_t>(c) * T_ + t];
        total = total + sum;
      }
    });
    s.squares.assign(static_cast<std::size_t>(T_), 0.0);
    for (int c = 0; c < chunks_; ++c) {
      for (int t = 0; t < T_; ++t) s.squares[t] = s.squares[t] + chunkSquares[static_cast<std::size_t>(c) * T_ + t];
    }
    return s;
  }

  // Folds every chunk into a factor of its own and merges them pairwise, a
  // tree whose shape depends on the chunks alone (the pairs of one level go
  // to the workers). `blocks` receives the workers' block storage. Every
  // factor and block is allocated here, so a refusal reaches the caller's thread.
  TriangularFold Factor(std::vector<std::vector<double>>& blocks) {
    std::vector<TriangularFold> factors;
    factors.reserve(static_cast<std::size_t>(chunks_));
    for (int c = 0; c < chunks_; ++c) factors.emplace_back(n_, K_, &kernels_);
    blocks.assign(static_cast<std::size_t>(workers_), std::vector<double>(static_cast<std::size_t>(ldb_) * n_));
    ForEachChunk(blocks, [&](int c, int r0, int rows, double* B) {
      FillRows(r0, rows, B);
      factors[static_cast<std::size_t>(c)].Fold(B, rows, ldb_);
    });
    for (int step = 1; step < chunks_; step *= 2) {
      std::atomic<int> next{0};
      const int pairs = (chunks_ - step + 2 * step - 1) / (2 * step);
      RunWorkers(std::min(workers_, pairs), [&](int) {
        for (int pair = next++; pair < pairs; pair = next++) {
          const std::size_t into = static_cast<std::size_t>(pair) * 2 * step;
          factors[into].Merge(factors[into + static_cast<std::size_t>(step)]);
          factors[into + static_cast<std::size_t>(step)] = TriangularFold(1, 1, &kernels_);  // its storage is no longer needed
        }
      });
    }
    return std::move(factors.front());
  }

 private:
  int ChunkBegin(int c) const { return static_cast<int>(static_cast<long long>(Nrows_) * c / chunks_); }

  // Calls visit(chunk, first row, rows, block) for every block of every
  // chunk, the blocks of a chunk in order on one worker.
  template <class Visit>
  void ForEachChunk(std::vector<std::vector<double>>& blocks, Visit&& visit) {
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    RunWorkers(workers_, [&](int w) {
      double* B = blocks[static_cast<std::size_t>(w)].data();
      for (int c = next++; c < chunks_ && !stop; c = next++) {
        const int end = ChunkBegin(c + 1);
        for (int r0 = ChunkBegin(c); r0 < end; r0 += blockRows_) {
          if (cancel_ != nullptr && cancel_->IsCancelled()) {
            stop = true;
            return;
          }
          visit(c, r0, std::min(blockRows_, end - r0), B);
        }
      }
    });
    ThrowIfCancelled(cancel_);
  }

  // Rows r0 .. r0 + rows - 1 of [A | Y] into the block B, zero below them.
  void FillRows(int r0, int rows, double* B) const {
    const std::size_t tail = static_cast<std::size_t>(ldb_ - rows);
    for (int t = 0; t < T_; ++t) {
      double* column = B + static_cast<Index>(K_ + t) * ldb_;
      const TargetColumn& y = targets_[static_cast<std::size_t>(t)];
      const double* from = y.base + static_cast<std::size_t>(r0) * y.stride;
      for (int r = 0; r < rows; ++r) column[r] = from[static_cast<std::size_t>(r) * y.stride];
      std::fill_n(column + rows, tail, 0.0);
    }
    const std::size_t d = static_cast<std::size_t>(D_);
    FillDesignBlock(eq_, X_.subspan(static_cast<std::size_t>(r0) * d, static_cast<std::size_t>(rows) * d), D_, rows,
                    firstSample_ + r0, std::span<const double>(B + static_cast<Index>(K_) * ldb_, static_cast<std::size_t>(rows)),
                    std::span<double>(B, static_cast<std::size_t>(ldb_) * K_), ldb_);
    for (int j = 0; j < K_; ++j) std::fill_n(B + static_cast<Index>(j) * ldb_ + rows, tail, 0.0);
  }

  const ModelEquation& eq_;
  std::span<const double> X_;
  int D_, Nrows_;
  std::span<const TargetColumn> targets_;
  int K_, T_, n_;
  int blockRows_, ldb_;
  int chunks_, workers_;
  const CancellationToken* cancel_;
  int firstSample_;
  const fold::Kernels& kernels_;
};

}  // namespace

bool StreamedFitPays(int Nrows, int K) {
  return BlockedFactorisationPays(Nrows, K) || double(Nrows) * double(K) >= kLargestWholeDesign;
}

int StreamedChunks(int Nrows, int K) {
  const long long byRows = Nrows / (kChunkRowsPerTerm * std::max(K, 1));
  const long long byMemory = static_cast<long long>(kFactorBytes / (8.0 * (K + 1.0) * (K + 1.0)));
  return static_cast<int>(std::clamp<long long>(std::min(byRows, byMemory), 1, kMaxChunks));
}

int StreamedBlockRows(int K) {
  (void)K;
  return 512;
}

StreamedSolution StreamedLeastSquares(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                      std::span<const TargetColumn> targets, const StreamSettings& settings) {
  if (targets.empty() || (FamilyOf(equation.family).quotient && targets.size() != 1) || equation.nterms < 1 ||
      Nrows < 1 || X.size() < static_cast<std::size_t>(D) * static_cast<std::size_t>(Nrows)) {
    throw std::invalid_argument("StreamedLeastSquares: a design of rows and terms, and targets (one for a rational fit)");
  }
  return Stream(equation, X, D, Nrows, targets, settings).Solve();
}

TriangularFold StreamedFactor(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                              std::span<const TargetColumn> targets, const StreamSettings& settings) {
  if (targets.empty() || (FamilyOf(equation.family).quotient && targets.size() != 1) || equation.nterms < 1 ||
      Nrows < 1 || X.size() < static_cast<std::size_t>(D) * static_cast<std::size_t>(Nrows)) {
    throw std::invalid_argument("StreamedFactor: a design of rows and terms, and targets (one for a rational fit)");
  }
  std::vector<std::vector<double>> blocks;
  return Stream(equation, X, D, Nrows, targets, settings).Factor(blocks);
}

std::vector<double> StreamedDesignFactor(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                         TargetColumn target, const StreamSettings& settings) {
  if (equation.nterms < 1 || Nrows < 1 || X.size() < static_cast<std::size_t>(D) * static_cast<std::size_t>(Nrows)) {
    throw std::invalid_argument("StreamedDesignFactor: a design of rows and terms");
  }
  std::vector<std::vector<double>> blocks;
  const TriangularFold factor =
      Stream(equation, X, D, Nrows, std::span<const TargetColumn>(&target, 1), settings).Factor(blocks);
  const int K = equation.nterms;
  std::vector<double> R(static_cast<std::size_t>(K) * K);
  for (int j = 0; j < K; ++j) {
    for (int i = 0; i <= j; ++i) R[static_cast<std::size_t>(j) * K + i] = factor.R(i, j);
  }
  return R;
}

}  // namespace odefit
