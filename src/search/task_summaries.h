#pragma once
// The triangular summaries of one search task, shared between its shapes.
//
// A fit on some of a summary's columns is the fit of the narrower design
// (sparse_regression.h), so one fold serves every shape whose columns are
// among another's: the polynomial shapes are leading columns of the widest
// polynomial design (with the driving's two columns after them when a driven
// shape of the same period is tried), and the rational shapes of one
// equation are columns of its widest rational design (numerator monomials,
// then -y times denominator monomials). A shape that fits neither has its own
// summary. Held-out errors of polynomial and driven candidates come from a
// summary of the held-out rows, O(K^2) per candidate; those of rational ones
// from the held-out monomials formed once per task. On long series the
// held-out rows are grouped as the training rows are, for every shape alike,
// so that their errors stay comparable.

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "model/monomials.h"
#include "model/sparse_regression.h"
#include "odefit/differentiation.h"
#include "odefit/fit.h"
#include "odefit/model.h"

namespace odefit::search {

// The training rows are summed in consecutive groups before they are folded
// when there are many: the least squares on group sums is the integral form
// of the equations over the group's samples, which keeps what the slopes'
// noise cancels in a sum over all rows (leaving rows out would not), at a
// fold that costs a group's size less. Rows are grouped so that at least
// this many summed rows remain; shorter series are folded row by row.
inline constexpr int kRowsFoldedAtLeast = 16000;
// And a group spans at most half the series' correlation lag, and a series
// whose lag is shorter than kShortestSummedLag samples is not summed: on
// coarse sampling sums blur what tells the terms apart (groups as long as
// the lag made the search keep spurious terms), while on fine sampling sums
// of half the lag still pick the true terms out of noise better than rows.
inline constexpr int kGroupsPerCorrelationLag = 2;
inline constexpr int kShortestSummedLag = 8;
// The group size for `rows` training rows of a series whose correlation lag
// (CorrelationHorizon) is `lag` samples (1: not summed).
int SummedGroup(int rows, int lag);

// Storage the summaries write in full before they read it: grown without
// zeroing, which would only add a pass over fresh pages.
template <class T>
struct UnzeroedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnzeroedAllocator<U>;
  };
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
};
using WorkVector = std::vector<double, UnzeroedAllocator<double>>;

// The group sums of the driving pair cos(n wdt), sin(n wdt) over a range of
// rows, which every degree of one window needs alike (the same rows, the
// same period): formed for the first table that asks, kept for the others.
class DrivingSums {
 public:
  // The sums of rows first..first+count-1 (sample index 1 + row), grouped
  // from the first: the cosines' (count + group - 1) / group sums, then the
  // sines'. Valid until the next call.
  const double* Sums(double wdt, int group, int first, int count);

 private:
  struct Range {
    double wdt;
    int group, first, count;
    std::vector<double> sums;
  };
  std::vector<Range> ranges_;  // a window's training and held-out rows
};

// The biggest arrays of a task's summaries.
struct SummaryMemory {
  WorkVector heldTerms;  // the held-out monomials
  WorkVector chunk;      // a chunk of rows' columns being summed
  WorkVector block;      // a block of group sums being folded
  DrivingSums* driving = nullptr;  // shared by the degrees of a task (none: the summaries' own)
};

class TaskSummaries {
 public:
  // `all` the task's states and slopes, rows 0..trainRows-1 for fitting and
  // heldRow.. for the held-out errors (at sample index row + 1), summed in
  // groups of `group` rows (SummedGroup; 1: row by row); `shapes` the plan's
  // shapes, which decide the widest designs.
  // `memory`, when given, holds the biggest arrays, so that a caller
  // running task after task keeps their memory.
  TaskSummaries(const std::vector<EquationSpec>& shapes, int D, double dt, const Derivatives& all, int trainRows,
                int heldRow, int group, SummaryMemory* memory = nullptr);
  ~TaskSummaries();
  TaskSummaries(const TaskSummaries&) = delete;
  TaskSummaries& operator=(const TaskSummaries&) = delete;

  // On long series (grouped rows), two degrees of the local fits with the
  // same states (2k and 2k + 1) share the polynomial table and its folds:
  // `ShareWith(next)`, before any fit, adds the slopes of `next` (whose
  // states are this one's and which outlives this) as further targets, and
  // the summaries of `next` then `BorrowFrom` this one (which must outlive
  // them). Each is a no-op where nothing can be shared.
  void ShareWith(const Derivatives& next);
  void BorrowFrom(TaskSummaries& lender);

  // ThresholdedFit and FitSubset of equation i in `shape` (of EquationShape),
  // with columns numbered as the shape's terms.
  SubsetFit Thresholded(const ModelEquation& shape, int i, const ThresholdSettings& settings);
  SubsetFit Subset(const ModelEquation& shape, int i, std::span<const int> columns);

  // The relative error sqrt(sum e^2 / sum (y - mean y)^2) of `equation`
  // (fitted coefficients, zero where dropped) on equation i's held-out
  // slopes, as ApproximationError gives it (on long series of the group
  // sums of e and y, SummedGroup's groups); infinite when undefined.
  double HeldOutError(const ModelEquation& equation, int i);

 private:
  struct Source;
  struct Place {
    Source* source;
    std::vector<int> columns;  // the source's column of each of the shape's terms
  };
  Place Find(const ModelEquation& shape);
  // Who folds equation i's fits of `source`, and its target there: a lender's
  // polynomial summaries hold this one's slopes after its own.
  struct Use {
    TaskSummaries* owner;
    Source* source;
    int target;
  };
  Use Resolve(Source* source, int i);
  const TriangularSummary& Train(Source& source, int i);
  const TriangularSummary& Held(Source& source);
  // The subset fits made on one of this task's training summaries.
  SubsetFitMemo& Memo(const TriangularSummary& summary);
  // The table's columns of the polynomial summaries: the design, the slopes, a partner's slopes.
  std::vector<int> PolynomialColumns() const;
  double RationalHeldOutError(const ModelEquation& equation, int i);
  // The summary of the training rows' group sums for `source` (equation i's when per equation).
  TriangularSummary SummedSummary(Source& source, int i);
  // Forms the group sums of rows first..first+count-1 (grouped from the
  // first) on the polynomial summaries' columns (PolynomialColumns) a fold's
  // block at a time, column j at out + j * ld, and calls block(sums) after
  // each block of `sums` sums.
  template <class Block>
  void SumPolynomialRows(int first, int count, double* out, std::size_t ld, Block block);
  // The polynomial summary of those rows' group sums.
  TriangularSummary FoldPolynomialRows(int first, int count);
  // Folds the training rows' group sums of the rational design `source`
  // (shared with the polynomial one) into every equation's summary not
  // formed yet: numerator monomials, its slope times -1 times the
  // denominator monomials, its slope.
  void FoldRationalRows(Source& source);
  // Forms the monomials up to the recurrence's order of rows first..first+rows-1
  // (at most a chunk) in memory_.chunk, laid out by groups, and calls
  // each(k, a, b) as soon as term k is formed: its column a, or (the top
  // order's terms, which are parents of none, unless `all`) its factors a * b.
  template <class Each>
  void FormMonomials(const MonomialRecurrence& recurrence, int first, int rows, bool all, Each each);
  // memory_.chunk's size for `monomials` terms.
  std::size_t ChunkSize(std::size_t monomials) const;
  // sqrt(sum E^2 / spread) of the held-out residuals e(r) = y - value, E
  // their group sums; infinite when undefined.
  template <class Residual>
  double GroupedError(int i, Residual residual) const;

  int D_;
  const Derivatives* all_;
  int trainRows_, heldRow_, heldRows_;
  int group_;                                     // rows per group sum (1: none)
  int trainSums_;                                 // the training rows' groups
  SummaryMemory own_;                             // memory_ when the caller gives none
  SummaryMemory& memory_;
  DrivingSums ownDriving_;                        // when memory_ shares none
  const Derivatives* next_ = nullptr;             // ShareWith's: its slopes are targets after this one's
  TaskSummaries* lender_ = nullptr;               // BorrowFrom's
  std::vector<std::unique_ptr<Source>> sources_;  // [0] polynomial, [1] rational, then shapes of their own
  std::map<const TriangularSummary*, SubsetFitMemo> memos_;  // by training summary (they stay where they are)
  std::vector<double> spread_;                    // sum (Y - mean Y)^2 of each equation's held-out slopes' group sums Y (NaN: constant)
  int heldOrder_ = -1;                            // order of heldTerms_ (-1: not formed)
  WorkVector& heldTerms_;                         // held-out monomials, heldRows_ x count, column-major
  std::vector<double> numerator_, denominator_;   // a rational candidate's on the held-out rows (kept: no allocation per candidate)
};

}  // namespace odefit::search
