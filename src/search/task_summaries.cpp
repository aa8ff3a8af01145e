#include "search/task_summaries.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "model/design.h"
#include "model/equation_shape.h"
#include "model/model_family.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "numerics/triangular_fold.h"
#include "numerics/vector_clones.h"
#include "search/search_common.h"

namespace odefit::search {

struct TaskSummaries::Source {
  ModelEquation design;  // the widest shape, whose columns the summaries hold
  bool perEquation = false;  // rational: the target enters the design, one summary per equation
  std::vector<std::optional<TriangularSummary>> train;  // one, or one per equation
  std::optional<TriangularSummary> held;  // the held-out rows (not per equation)
};

namespace {

bool Polynomial(ModelFamily f) { return f == ModelFamily::StandardPolynomial || f == ModelFamily::DrivenPolynomial; }

// The vector unit's kernels with the bits every machine gives.
SummaryOptions Fused() {
  SummaryOptions options;
  options.kernels = &fold::FusedKernels();
  return options;
}

}  // namespace

int SummedGroup(int rows, int lag) {
  if (lag < kShortestSummedLag) return 1;
  return std::max(1, std::min(rows / kRowsFoldedAtLeast, lag / kGroupsPerCorrelationLag));
}

TaskSummaries::TaskSummaries(const std::vector<EquationSpec>& shapes, int D, double dt, const Derivatives& all,
                             int trainRows, int heldRow, int group, SummaryMemory* memory)
    : D_(D), all_(&all), trainRows_(trainRows), heldRow_(heldRow), heldRows_(all.rows - heldRow),
      group_(std::max(1, group)), trainSums_((trainRows + group_ - 1) / group_),
      memory_(memory != nullptr ? *memory : own_), heldTerms_(memory_.heldTerms) {
  sources_.resize(2);
  // The widest polynomial (driven when a shape is, at the first driven shape's period) and rational designs.
  int order = -1, nu = -1, mu = -1;
  const EquationSpec* driven = nullptr;
  for (const EquationSpec& s : shapes) {
    if (Polynomial(s.family)) order = std::max(order, s.order);
    if (s.family == ModelFamily::DrivenPolynomial && driven == nullptr) driven = &s;
    if (s.family == ModelFamily::Rational) {
      nu = std::max(nu, s.order);
      mu = std::max(mu, s.secondOrder);
    }
  }
  const auto source = [&](const EquationSpec& spec, bool perEquation) {
    auto s = std::make_unique<Source>();
    s->design = EquationShape(spec, D, dt);
    s->perEquation = perEquation;
    s->train.resize(perEquation ? Size(D) : 1);
    return s;
  };
  if (order >= 0) {
    sources_[0] = source(driven != nullptr ? EquationSpec{ModelFamily::DrivenPolynomial, order, 0, driven->period}
                                           : EquationSpec{ModelFamily::StandardPolynomial, order},
                         false);
  }
  if (nu >= 0) sources_[1] = source(EquationSpec{ModelFamily::Rational, nu, mu}, true);

  spread_.assign(Size(D), 0.0);
  for (int i = 0; i < D; ++i) {
    const auto y = [&](int r) { return all.slopes[Size(heldRow + r) * Size(D) + Size(i)]; };
    std::vector<double> sums;
    for (int g = 0; g * group_ < heldRows_; ++g) {
      const int end = std::min(heldRows_, (g + 1) * group_);
      double sum = y(g * group_);
      for (int r = g * group_ + 1; r < end; ++r) sum += y(r);
      sums.push_back(sum);
    }
    const int n = static_cast<int>(sums.size());
    bool equal = true;
    for (int r = 1; r < n && equal; ++r) equal = sums[Size(r)] == sums[Size(r - 1)];
    double sum = 0.0;
    for (int r = 0; r < n; ++r) sum += sums[Size(r)];
    const double mean = sum / static_cast<double>(n);
    double spread = 0.0;
    for (int r = 0; r < n; ++r) spread += (sums[Size(r)] - mean) * (sums[Size(r)] - mean);
    spread_[Size(i)] = equal || n < 1 ? std::nan("") : spread;
  }
}

template <class Residual>
double TaskSummaries::GroupedError(int i, Residual residual) const {
  double squares = 0.0;
  for (int g = 0; g * group_ < heldRows_; ++g) {
    const int end = std::min(heldRows_, (g + 1) * group_);
    double e = residual(g * group_);
    for (int r = g * group_ + 1; r < end; ++r) e += residual(r);
    squares += e * e;
  }
  const double err = std::sqrt(squares / spread_[Size(i)]);
  return std::isfinite(err) ? err : kInfinity;
}

TaskSummaries::~TaskSummaries() = default;

void TaskSummaries::ShareWith(const Derivatives& next) {
  if (group_ < 2 || sources_[0] == nullptr || sources_[0]->train[0] || sources_[0]->held || next.rows != all_->rows || next.offset != all_->offset ||
      next.states != all_->states) {
    return;
  }
  next_ = &next;
}

void TaskSummaries::BorrowFrom(TaskSummaries& lender) {
  if (lender.next_ == all_ && lender.D_ == D_ && lender.trainRows_ == trainRows_ && lender.heldRow_ == heldRow_) lender_ = &lender;
}

TaskSummaries::Use TaskSummaries::Resolve(Source* source, int i) {
  if (lender_ != nullptr && source == sources_[0].get()) return {lender_, lender_->sources_[0].get(), D_ + i};
  return {this, source, source->perEquation ? 0 : i};
}

std::vector<int> TaskSummaries::PolynomialColumns() const {
  const int K = sources_[0]->design.nterms;
  std::vector<int> columns(Size(K + D_));
  std::iota(columns.begin(), columns.end(), 0);
  if (next_ != nullptr) {
    for (int t = 0; t < D_; ++t) columns.push_back(K + D_ + t);
  }
  return columns;
}

TaskSummaries::Place TaskSummaries::Find(const ModelEquation& shape) {
  Place place{nullptr, {}};
  const auto range = [&](int from, int to) {
    for (int j = from; j < to; ++j) place.columns.push_back(j);
  };
  Source* poly = sources_[0].get();
  Source* rational = sources_[1].get();
  if (poly != nullptr && Polynomial(shape.family) && shape.nu <= poly->design.nu &&
      (shape.family == ModelFamily::StandardPolynomial ||
       (poly->design.family == ModelFamily::DrivenPolynomial && shape.period == poly->design.period))) {
    place.source = poly;
    const int monomials = shape.family == ModelFamily::DrivenPolynomial ? shape.nterms - 2 : shape.nterms;
    range(0, monomials);
    if (shape.family == ModelFamily::DrivenPolynomial) range(poly->design.nterms - 2, poly->design.nterms);
    return place;
  }
  if (rational != nullptr && shape.family == ModelFamily::Rational && shape.nu <= rational->design.nu &&
      shape.mu <= rational->design.mu) {
    place.source = rational;
    range(0, shape.nnum);
    range(rational->design.nnum, rational->design.nnum + shape.nden);
    return place;
  }
  range(0, shape.nterms);
  for (std::size_t k = 2; k < sources_.size(); ++k) {
    const ModelEquation& d = sources_[k]->design;
    if (d.family == shape.family && d.nu == shape.nu && d.mu == shape.mu && d.nterms == shape.nterms &&
        d.period == shape.period) {
      place.source = sources_[k].get();
      return place;
    }
  }
  auto own = std::make_unique<Source>();
  own->design = shape;
  own->design.coef.clear();
  own->design.standardErrors.clear();
  own->perEquation = FamilyOf(shape.family).quotient;  // the target enters the design
  own->train.resize(own->perEquation ? Size(D_) : 1);
  place.source = own.get();
  sources_.push_back(std::move(own));
  return place;
}

const TriangularSummary& TaskSummaries::Train(Source& source, int i) {
  std::optional<TriangularSummary>& summary = source.train[source.perEquation ? Size(i) : 0];
  if (!summary) {
    std::vector<int> targets(Size(D_));
    std::iota(targets.begin(), targets.end(), 0);
    const int one[] = {i};
    const std::span<const int> chosen = source.perEquation ? std::span<const int>(one) : std::span<const int>(targets);
    summary = group_ > 1 ? SummedSummary(source, i)
                         : SummariseDesign(source.design, all_->states, D_, trainRows_, 1, all_->slopes, chosen, Fused());
  }
  return *summary;
}

namespace {

// Summed rows are folded this many at a time.
constexpr int kSumsPerBlock = 256;
// Groups summed a chunk at a time: few enough that a chunk's columns stay in
// the caches while they are formed and summed.
constexpr int kGroupsPerChunk = 64;

// Each consecutive `group` of a block's `rows` values summed into one, in a fixed order.
void SumGroups(const double* from, int rows, int group, double* to) {
  for (int g = 0; g < rows; g += group) {
    const int end = std::min(rows, g + group);
    double sum = from[g];
    for (int r = g + 1; r < end; ++r) sum += from[r];
    to[g / group] = sum;
  }
}

// The vector loops of the group sums, on the widest vector unit: each
// product and each addition rounded one at a time in a fixed order, so every
// unit gives the same bits. Rows j of the groups lie kGroupsPerChunk apart.
// The sums of the first `full` groups of `group` rows each.
ODEFIT_VECTOR_CLONES("avx512f", "avx2", "default") void AddGroupRows(const double* laid, int group, int full,
                                                                        double* __restrict to) {
  for (int g = 0; g < full; ++g) to[g] = laid[g];
  for (int j = 1; j < group; ++j) {
    const double* row = laid + Size(j) * kGroupsPerChunk;
    for (int g = 0; g < full; ++g) to[g] += row[g];
  }
}
// The same of the products a * b.
ODEFIT_VECTOR_CLONES("avx512f", "avx2", "default") void AddGroupProducts(const double* a, const double* b, int group,
                                                                            int full, double* __restrict to) {
  for (int g = 0; g < full; ++g) to[g] = a[g] * b[g];
  for (int j = 1; j < group; ++j) {
    const double* x = a + Size(j) * kGroupsPerChunk;
    const double* y = b + Size(j) * kGroupsPerChunk;
    for (int g = 0; g < full; ++g) {
      const double product = x[g] * y[g];
      to[g] += product;
    }
  }
}
// out = a * b, place by place.
ODEFIT_VECTOR_CLONES("avx512f", "avx2", "default") void MultiplyPlaces(const double* a, const double* b, std::size_t n,
                                                                          double* __restrict out) {
  for (std::size_t p = 0; p < n; ++p) out[p] = a[p] * b[p];
}

// A chunk of kGroupsPerChunk groups' rows laid out for summing: its row
// g * group + j at place j * kGroupsPerChunk + g, so that the sums of all its
// groups add whole vectors, and each group's rows are still added first to
// last from the first row's value, as SumGroups adds them (the same bits).
class GroupLayout {
 public:
  explicit GroupLayout(int group) : group_(group) {}
  int Rows() const { return kGroupsPerChunk * group_; }
  std::size_t Place(int r) const { return Size(r % group_) * kGroupsPerChunk + Size(r / group_); }
  // Lays out the `width` values of rows 0..rows-1 of `from` (row r at
  // from + r * width), value v at to + v * Rows(); absent rows zero.
  void LayOut(const double* from, int width, int rows, double* to) const {
    const std::size_t places = Size(Rows());
    const int full = rows / group_;
    for (int g = 0; g < full; ++g) {
      for (int j = 0; j < group_; ++j) {
        const double* row = from + Size(g * group_ + j) * Size(width);
        double* place = to + Size(j) * kGroupsPerChunk + Size(g);
        for (int v = 0; v < width; ++v) place[Size(v) * places] = row[v];
      }
    }
    for (int r = full * group_; r < Rows(); ++r) {
      for (int v = 0; v < width; ++v) to[Size(v) * places + Place(r)] = r < rows ? from[Size(r) * Size(width) + Size(v)] : 0.0;
    }
  }
  // The group sums of the chunk's first `rows` rows of `laid` into to[0..].
  void Sum(const double* laid, int rows, double* to) const {
    const int full = rows / group_, tail = rows % group_;
    AddGroupRows(laid, group_, full, to);
    if (tail > 0) {
      double sum = laid[full];
      for (int j = 1; j < tail; ++j) sum += laid[Size(j) * kGroupsPerChunk + Size(full)];
      to[full] = sum;
    }
  }
  // The same of the products a * b, each rounded before it is added, as
  // if formed in a column first (the same bits).
  void SumProducts(const double* a, const double* b, int rows, double* to) const {
    const int full = rows / group_, tail = rows % group_;
    AddGroupProducts(a, b, group_, full, to);
    if (tail > 0) {
      double sum = a[full] * b[full];
      for (int j = 1; j < tail; ++j) {
        const std::size_t p = Size(j) * kGroupsPerChunk + Size(full);
        const double product = a[p] * b[p];
        sum += product;
      }
      to[full] = sum;
    }
  }
  // The sums of a column that each(k, a, b) gives: a's, or a * b's.
  void SumTerm(const double* a, const double* b, int rows, double* to) const {
    if (b == nullptr) {
      Sum(a, rows, to);
    } else {
      SumProducts(a, b, rows, to);
    }
  }

 private:
  int group_;
};

}  // namespace

const double* DrivingSums::Sums(double wdt, int group, int first, int count) {
  for (const Range& r : ranges_) {
    if (r.wdt == wdt && r.group == group && r.first == first && r.count == count) return r.sums.data();
  }
  if (ranges_.size() >= 2) ranges_.erase(ranges_.begin());  // another window's
  Range& range = ranges_.emplace_back(Range{wdt, group, first, count, {}});
  const GroupLayout layout(group);
  const int span = layout.Rows(), sums = (count + group - 1) / group;
  range.sums.resize(2 * Size(sums));
  std::vector<double> cosine(Size(span)), sine(Size(span));
  for (int done = 0; done < count; done += span) {
    const int b = std::min(span, count - done);
    // The driving pair as the driven family's design forms it.
    for (int r = 0; r < b; ++r) {
      const double angle = static_cast<double>(1 + first + done + r) * wdt;
      cosine[layout.Place(r)] = std::cos(angle);
      sine[layout.Place(r)] = std::sin(angle);
    }
    layout.Sum(cosine.data(), b, range.sums.data() + done / group);
    layout.Sum(sine.data(), b, range.sums.data() + Size(sums) + Size(done / group));
  }
  return range.sums.data();
}

// The chunk holds the D states laid out, then the monomials, then room for
// 2D + 1 more columns (the caller's).
std::size_t TaskSummaries::ChunkSize(std::size_t monomials) const {
  return Size(GroupLayout(group_).Rows()) * (Size(3 * D_ + 1) + monomials);
}

template <class Each>
void TaskSummaries::FormMonomials(const MonomialRecurrence& recurrence, int first, int rows, bool all, Each each) {
  const GroupLayout layout(group_);
  const std::size_t places = Size(layout.Rows()), count = recurrence.parent.size();
  memory_.chunk.resize(std::max(memory_.chunk.size(), ChunkSize(count)));
  double* x = memory_.chunk.data();
  layout.LayOut(all_->states.data() + Size(first) * Size(D_), D_, rows, x);
  // FillMonomialColumns' recurrence, parent times one variable: the same
  // bits. The terms of the top order are parents of none: given as their
  // factors unless all are wanted in columns.
  double* terms = x + Size(D_) * places;
  std::size_t parents = 1;
  for (std::size_t k = 1; k < count; ++k) parents = std::max(parents, Size(recurrence.parent[k]) + 1);
  std::fill_n(terms, places, 1.0);
  each(0, static_cast<const double*>(terms), static_cast<const double*>(nullptr));
  for (std::size_t k = 1; k < count; ++k) {
    const double* parent = terms + Size(recurrence.parent[k]) * places;
    const double* xj = x + Size(recurrence.variable[k]) * places;
    if (!all && k >= parents) {
      each(static_cast<int>(k), parent, xj);
      continue;
    }
    double* column = terms + k * places;
    MultiplyPlaces(parent, xj, places, column);
    each(static_cast<int>(k), static_cast<const double*>(column), static_cast<const double*>(nullptr));
  }
}

template <class Block>
void TaskSummaries::SumPolynomialRows(int first, int count, double* out, std::size_t ld, Block block) {
  const ModelEquation& design = sources_[0]->design;
  const bool driven = design.family == ModelFamily::DrivenPolynomial;
  const int K = design.nterms, width = static_cast<int>(PolynomialColumns().size());
  const GroupLayout layout(group_);
  const int span = layout.Rows(), blockRows = kSumsPerBlock * group_;
  const MonomialRecurrence recurrence = MonomialProducts(D_, design.nu);
  const std::size_t places = Size(span), monomials = recurrence.parent.size();
  memory_.chunk.resize(std::max(memory_.chunk.size(), ChunkSize(monomials)));
  double* slopes = memory_.chunk.data() + places * (Size(D_) + monomials);  // the 2D columns after the monomials
  // The driving pair's sums: the same for every degree of the window.
  DrivingSums& shared = memory_.driving != nullptr ? *memory_.driving : ownDriving_;
  const double* driving = driven ? shared.Sums(design.wdt, group_, first, count) : nullptr;
  const int sums = (count + group_ - 1) / group_;
  for (int done = 0; done < count; done += blockRows) {
    const int rows = std::min(blockRows, count - done);
    for (int c = 0; c < rows; c += span) {
      const int start = first + done + c, b = std::min(span, rows - c), at = c / group_;
      FormMonomials(recurrence, start, b, false, [&](int k, const double* u, const double* v) {
        layout.SumTerm(u, v, b, out + Size(k) * ld + Size(at));
      });
      if (driven) {
        for (int pair = 0; pair < 2; ++pair) {
          std::copy_n(driving + Size(pair) * Size(sums) + Size((done + c) / group_), (b + group_ - 1) / group_,
                      out + Size(K - 2 + pair) * ld + Size(at));
        }
      }
      // The slopes, then a partner's.
      layout.LayOut(all_->slopes.data() + Size(start) * Size(D_), D_, b, slopes);
      if (next_ != nullptr) layout.LayOut(next_->slopes.data() + Size(start) * Size(D_), D_, b, slopes + Size(D_) * places);
      for (int t = 0; t < width - K; ++t) layout.Sum(slopes + Size(t) * places, b, out + Size(K + t) * ld + Size(at));
    }
    block((rows + group_ - 1) / group_);
  }
}

TriangularSummary TaskSummaries::FoldPolynomialRows(int first, int count) {
  const int n = static_cast<int>(PolynomialColumns().size()), K = sources_[0]->design.nterms;
  const int ld = TriangularFold::BlockLeadingDimension(kSumsPerBlock);
  WorkVector& block = memory_.block;
  block.resize(std::max(block.size(), Size(ld) * Size(n)));
  TriangularFold fold(n, K, &fold::FusedKernels());
  SumPolynomialRows(first, count, block.data(), Size(ld), [&](int sums) {
    for (int j = 0; j < n; ++j) {
      std::fill(block.data() + Size(j) * Size(ld) + Size(sums), block.data() + Size(j + 1) * Size(ld), 0.0);  // the fold reads whole vectors
    }
    fold.Fold(block.data(), sums, ld);
  });
  return TriangularSummary(std::move(fold), K, (count + group_ - 1) / group_);
}

void TaskSummaries::FoldRationalRows(Source& source) {
  const ModelEquation& r = source.design;
  const int K = r.nterms, n = K + 1;  // numerator monomials, -slope times denominator monomials, the slope
  const GroupLayout layout(group_);
  const int span = layout.Rows(), blockRows = kSumsPerBlock * group_;
  const int ld = TriangularFold::BlockLeadingDimension(kSumsPerBlock);
  const MonomialRecurrence recurrence = MonomialProducts(D_, std::max(r.nu, r.mu));
  const std::size_t places = Size(span), monomials = recurrence.parent.size();
  memory_.chunk.resize(std::max(memory_.chunk.size(), ChunkSize(monomials)));
  memory_.block.resize(std::max(memory_.block.size(), Size(D_) * Size(n) * Size(ld)));
  const double* terms = memory_.chunk.data() + places * Size(D_);
  double* y = memory_.chunk.data() + places * (Size(D_) + monomials);  // the D slopes
  double* negated = y + Size(D_) * places;
  // Equation i's block of sums, column j.
  const auto column = [&](int i, int j) { return memory_.block.data() + (Size(i) * Size(n) + Size(j)) * Size(ld); };
  std::vector<TriangularFold> folds;
  for (int i = 0; i < D_; ++i) folds.emplace_back(n, K, &fold::FusedKernels());
  for (int done = 0; done < trainRows_; done += blockRows) {
    const int rows = std::min(blockRows, trainRows_ - done), sums = (rows + group_ - 1) / group_;
    for (int c = 0; c < rows; c += span) {
      const int start = done + c, b = std::min(span, rows - c), at = c / group_;
      FormMonomials(recurrence, start, b, true, [&](int k, const double* u, const double*) {
        if (k < r.nnum) layout.Sum(u, b, column(0, k) + at);
      });
      layout.LayOut(all_->slopes.data() + Size(start) * Size(D_), D_, b, y);
      for (int i = 0; i < D_; ++i) {
        const double* slope = y + Size(i) * places;
        layout.Sum(slope, b, column(i, K) + at);
        // The rational designs' -y times denominator monomials, as Rational's FillDesign forms them.
        for (std::size_t p = 0; p < places; ++p) negated[p] = -slope[p];
        for (int j = 0; j < r.nden; ++j) layout.SumProducts(negated, terms + Size(j + 1) * places, b, column(i, r.nnum + j) + at);
      }
    }
    // The numerators' sums are every equation's; each fold overwrites its block.
    for (int i = 1; i < D_; ++i) {
      for (int j = 0; j < r.nnum; ++j) std::copy_n(column(0, j), sums, column(i, j));
    }
    for (int i = 0; i < D_; ++i) {
      for (int j = 0; j < n; ++j) std::fill(column(i, j) + sums, column(i, j) + ld, 0.0);  // the fold reads whole vectors
      folds[Size(i)].Fold(column(i, 0), sums, ld);
    }
  }
  for (int i = 0; i < D_; ++i) {
    if (!source.train[Size(i)]) source.train[Size(i)] = TriangularSummary(std::move(folds[Size(i)]), K, trainSums_);
  }
}

TriangularSummary TaskSummaries::SummedSummary(Source& source, int i) {
  const Source* poly = sources_[0].get();
  const Source* rational = sources_[1].get();
  // One table of group sums serves the widest polynomial and every rational
  // design whose monomials are among the polynomial's.
  const bool sharesPoly = poly != nullptr && (&source == poly || (&source == rational &&
                          std::max(rational->design.nu, rational->design.mu) <= poly->design.nu));
  if (sharesPoly) {
    if (&source == poly) return FoldPolynomialRows(0, trainRows_);
    // Every equation's rational summaries at once, for the degree whose rationals are tried.
    FoldRationalRows(source);
    return std::move(*source.train[Size(i)]);
  }
  // A design of its own: its rows filled and summed here.
  const ModelEquation& design = source.design;
  const int K = design.nterms, T = source.perEquation ? 1 : D_, width = K + T;
  const int span = kSumsPerBlock * group_;
  const int ld = TriangularFold::BlockLeadingDimension(kSumsPerBlock);
  WorkVector& filled = memory_.chunk;
  WorkVector& block = memory_.block;
  filled.resize(std::max(filled.size(), Size(span) * Size(width)));
  block.resize(std::max(block.size(), Size(ld) * Size(width)));  // every place written below
  TriangularFold fold(width, K, &fold::FusedKernels());
  for (int start = 0; start < trainRows_; start += span) {
    const int b = std::min(span, trainRows_ - start);
    for (int t = 0; t < T; ++t) {
      double* y = filled.data() + Size(K + t) * Size(span);
      const int target = source.perEquation ? i : t;
      for (int r = 0; r < b; ++r) y[r] = all_->slopes[Size(start + r) * Size(D_) + Size(target)];
    }
    FillDesignBlock(design, std::span<const double>(all_->states).subspan(Size(start) * Size(D_), Size(b) * Size(D_)), D_, b,
                    1 + start, std::span<const double>(filled).subspan(Size(K) * Size(span), Size(b)), filled, span);
    const int sums = (b + group_ - 1) / group_;
    for (int j = 0; j < width; ++j) {
      double* to = block.data() + Size(j) * Size(ld);
      SumGroups(filled.data() + Size(j) * Size(span), b, group_, to);
      std::fill(to + sums, to + ld, 0.0);
    }
    fold.Fold(block.data(), sums, ld);
  }
  return TriangularSummary(std::move(fold), K, (trainRows_ + group_ - 1) / group_);
}

SubsetFit TaskSummaries::Thresholded(const ModelEquation& shape, int i, const ThresholdSettings& settings) {
  const Place place = Find(shape);
  const Use use = Resolve(place.source, i);
  SubsetFit fit = ThresholdedFit(use.owner->Memo(use.owner->Train(*use.source, i)), use.target, settings, place.columns);
  for (int& j : fit.columns) {
    j = static_cast<int>(std::lower_bound(place.columns.begin(), place.columns.end(), j) - place.columns.begin());
  }
  return fit;
}

SubsetFit TaskSummaries::Subset(const ModelEquation& shape, int i, std::span<const int> columns) {
  const Place place = Find(shape);
  std::vector<int> mapped;
  for (const int j : columns) mapped.push_back(place.columns.at(Size(j)));
  const Use use = Resolve(place.source, i);
  SubsetFit fit = use.owner->Memo(use.owner->Train(*use.source, i)).Fit(use.target, mapped);
  fit.columns.assign(columns.begin(), columns.end());
  return fit;
}

SubsetFitMemo& TaskSummaries::Memo(const TriangularSummary& summary) {
  return memos_.try_emplace(&summary, summary).first->second;
}

double TaskSummaries::HeldOutError(const ModelEquation& equation, int i) {
  const double spread = spread_[Size(i)];
  if (!(spread > 0.0)) return kInfinity;
  if (equation.family == ModelFamily::Rational) return RationalHeldOutError(equation, i);
  const auto slope = [&](int r) { return all_->slopes[Size(heldRow_ + r) * Size(D_) + Size(i)]; };
  const auto rowByRow = [&] {
    std::vector<double> values(Size(heldRows_));
    const std::span<const double> states = std::span<const double>(all_->states).subspan(Size(heldRow_) * Size(D_));
    FamilyOf(equation.family).Values(equation, states, D_, heldRows_, heldRow_ + 1, values);
    return GroupedError(i, [&](int r) { return slope(r) - values[Size(r)]; });
  };
  // Another quotient: its own values, row by row.
  if (FamilyOf(equation.family).quotient) return rowByRow();
  // Linear in the coefficients: the residual's squares are those of the
  // held-out summary's reduced problem.
  const Place place = Find(equation);
  const Use use = Resolve(place.source, i);
  if (group_ > 1 && use.source != use.owner->sources_[0].get()) return rowByRow();  // a design of its own on grouped rows: rare
  const TriangularSummary& held = use.owner->Held(*use.source);
  const int target = held.DesignColumns() + use.target;
  double squares = 0.0;
  for (int row = 0; row <= target; ++row) {
    double v = -held.R(row, target);
    for (std::size_t k = 0; k < place.columns.size(); ++k) {
      const double c = equation.coef[k];
      if (c != 0.0 && place.columns[k] >= row) v += held.R(row, place.columns[k]) * c;
    }
    squares += v * v;
  }
  const double err = std::sqrt(squares / spread);
  return std::isfinite(err) ? err : kInfinity;
}

const TriangularSummary& TaskSummaries::Held(Source& source) {
  if (!source.held) {
    if (group_ > 1) {
      // The held-out rows grouped from their first, with the training summary's columns.
      source.held = FoldPolynomialRows(heldRow_, heldRows_);
    } else {
      std::vector<int> targets(Size(D_));
      std::iota(targets.begin(), targets.end(), 0);
      const std::span<const double> states = std::span<const double>(all_->states).subspan(Size(heldRow_) * Size(D_));
      const std::span<const double> slopes = std::span<const double>(all_->slopes).subspan(Size(heldRow_) * Size(D_));
      source.held = SummariseDesign(source.design, states, D_, heldRows_, heldRow_ + 1, slopes, targets, Fused());
    }
  }
  return *source.held;
}

double TaskSummaries::RationalHeldOutError(const ModelEquation& equation, int i) {
  const int order = std::max(equation.nu, equation.mu);
  if (heldOrder_ < order) {
    const int count = MonomialCount(order, D_);
    heldTerms_.resize(Size(heldRows_) * Size(count));  // every place written
    const std::span<const double> states = std::span<const double>(all_->states).subspan(Size(heldRow_) * Size(D_));
    FillMonomialColumns(states, D_, heldRows_, order, heldTerms_, heldRows_);
    heldOrder_ = order;
  }
  const auto term = [&](int k) { return heldTerms_.data() + Size(k) * Size(heldRows_); };
  // Terms in the order ApproximationError adds them; a dropped term adds nothing.
  std::vector<double>& p = numerator_;
  std::vector<double>& q = denominator_;
  p.assign(Size(heldRows_), 0.0);
  q.assign(Size(heldRows_), 1.0);
  for (int k = 0; k < equation.nnum; ++k) {
    const double c = equation.coef[Size(k)];
    if (c == 0.0) continue;
    const double* t = term(k);
    for (int r = 0; r < heldRows_; ++r) p[Size(r)] += c * t[r];
  }
  for (int j = 0; j < equation.nden; ++j) {
    const double c = equation.coef[Size(equation.nnum + j)];
    if (c == 0.0) continue;
    const double* t = term(j + 1);
    for (int r = 0; r < heldRows_; ++r) q[Size(r)] += c * t[r];
  }
  return GroupedError(i, [&](int r) {
    const double qr = q[Size(r)];
    const double v = std::abs(qr) >= DenominatorFloor ? p[Size(r)] / qr : p[Size(r)] / (qr < 0.0 ? -DenominatorFloor : DenominatorFloor);
    return all_->slopes[Size(heldRow_ + r) * Size(D_) + Size(i)] - v;
  });
}

}  // namespace odefit::search
