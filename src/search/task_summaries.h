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
#include <vector>

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
// And a group spans at most this share of the series' correlation lag: a sum
// over much of it blurs what tells the terms apart (on coarsely sampled long
// series, groups as long as the lag made the search keep spurious terms).
inline constexpr int kGroupsPerCorrelationLag = 8;
// The group size for `rows` training rows of a series whose correlation lag
// (CorrelationHorizon) is `lag` samples (1: not summed).
int SummedGroup(int rows, int lag);

// The biggest arrays of a task's summaries.
struct SummaryMemory {
  std::vector<double> heldTerms;  // the held-out monomials
  std::vector<double> sums;       // the group sums of the training rows
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
  const TriangularSummary& Held(Source& source, int i);
  // The subset fits made on one of this task's training summaries.
  SubsetFitMemo& Memo(const TriangularSummary& summary);
  // The table's columns of the polynomial summaries: the design, the slopes, a partner's slopes.
  std::vector<int> PolynomialColumns() const;
  double RationalHeldOutError(const ModelEquation& equation, int i);
  // The summary of the training rows' group sums for `source` (equation i's when per equation).
  TriangularSummary SummedSummary(const Source& source, int i);
  // sums_: the group sums of `design`'s columns, the D slopes and a
  // partner's D slopes (ShareWith); the training rows' groups first, then the
  // held-out rows'.
  void SumTrainingRows(const ModelEquation& design);
  // Appends to sums_, for each equation, the training rows' group sums of
  // its slope times -1 and monomials 1..products (of order `order`).
  void SumProducts(int products, int order);
  // The summary of the table's rows from..from+count-1 on `columns`.
  TriangularSummary FoldSummedColumns(std::span<const int> columns, int K, int from, int count);
  // sqrt(sum E^2 / spread) of the held-out residuals e(r) = y - value, E
  // their group sums; infinite when undefined.
  template <class Residual>
  double GroupedError(int i, Residual residual) const;

  int D_;
  const Derivatives* all_;
  int trainRows_, heldRow_, heldRows_;
  int group_;                                     // rows per group sum (1: none)
  SummaryMemory own_;                             // memory_ when the caller gives none
  SummaryMemory& memory_;
  std::vector<double> filled_, block_;            // a block of training rows, and of group sums to fold (reused)
  std::vector<double>& sums_;                     // group sums of the shared columns, summedRows_ x summedWidth_, column-major
  int summedRows_ = 0, summedWidth_ = 0;          // summedWidth_ 0: not formed
  int trainSums_ = 0, heldSums_ = 0;              // the table's rows of training and of held-out groups
  int products_ = 0, productsAt_ = 0;             // the table's products per equation (0: none yet), and their first column
  const Derivatives* next_ = nullptr;             // ShareWith's: its slopes are targets after this one's
  TaskSummaries* lender_ = nullptr;               // BorrowFrom's
  std::vector<std::unique_ptr<Source>> sources_;  // [0] polynomial, [1] rational, then shapes of their own
  std::map<const TriangularSummary*, SubsetFitMemo> memos_;  // by training summary (they stay where they are)
  std::vector<double> spread_;                    // sum (Y - mean Y)^2 of each equation's held-out slopes' group sums Y (NaN: constant)
  int heldOrder_ = -1;                            // order of heldTerms_ (-1: not formed)
  std::vector<double>& heldTerms_;                // held-out monomials, heldRows_ x count, column-major
  std::vector<double> numerator_, denominator_;   // a rational candidate's on the held-out rows (kept: no allocation per candidate)
};

}  // namespace odefit::search
