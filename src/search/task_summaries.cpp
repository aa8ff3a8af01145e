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
  return std::max(1, std::min(rows / kRowsFoldedAtLeast, lag / kGroupsPerCorrelationLag));
}

TaskSummaries::TaskSummaries(const std::vector<EquationSpec>& shapes, int D, double dt, const Derivatives& all,
                             int trainRows, int heldRow, int group, SummaryMemory* memory)
    : D_(D), all_(&all), trainRows_(trainRows), heldRow_(heldRow), heldRows_(all.rows - heldRow),
      group_(std::max(1, group)), memory_(memory != nullptr ? *memory : own_),
      sums_(memory_.sums), heldTerms_(memory_.heldTerms) {
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
  if (group_ < 2 || sources_[0] == nullptr || summedWidth_ != 0 || next.rows != all_->rows || next.offset != all_->offset ||
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

// Each consecutive `group` of a block's `rows` values summed into one, in a fixed order.
void SumGroups(const double* from, int rows, int group, double* to) {
  for (int g = 0; g * group < rows; ++g) {
    const int end = std::min(rows, (g + 1) * group);
    double sum = from[g * group];
    for (int r = g * group + 1; r < end; ++r) sum += from[r];
    to[g] = sum;
  }
}

}  // namespace

void TaskSummaries::SumTrainingRows(const ModelEquation& design) {
  const int K = design.nterms, width = K + D_ + (next_ != nullptr ? D_ : 0);
  const int span = kSumsPerBlock * group_;
  trainSums_ = (trainRows_ + group_ - 1) / group_;
  heldSums_ = (heldRows_ + group_ - 1) / group_;
  summedRows_ = trainSums_ + heldSums_;
  summedWidth_ = width;
  products_ = 0;
  filled_.resize(Size(span) * Size(width));
  // Room for the rationals' products too (SumProducts), touched only if they are formed.
  const Source* rational = sources_[1].get();
  sums_.reserve(Size(summedRows_) * Size(width + (rational != nullptr ? D_ * rational->design.nden : 0)));
  sums_.assign(Size(summedRows_) * Size(width), 0.0);  // reuses the memory of an earlier task
  // The training rows, then the held-out rows, each grouped from its first.
  const int firsts[2] = {0, heldRow_}, counts[2] = {trainRows_, heldRows_}, places[2] = {0, trainSums_};
  for (int part = 0; part < 2; ++part) {
    for (int done = 0; done < counts[part]; done += span) {
      const int start = firsts[part] + done;
      const int b = std::min(span, counts[part] - done);
      const auto column = [&](int j) { return filled_.data() + Size(j) * Size(span); };
      FillDesignBlock(design, std::span<const double>(all_->states).subspan(Size(start) * Size(D_), Size(b) * Size(D_)),
                      D_, b, 1 + start, {}, filled_, span);
      for (int t = 0; t < width - K; ++t) {
        const std::vector<double>& slopes = t < D_ ? all_->slopes : next_->slopes;
        double* y = column(K + t);
        for (int r = 0; r < b; ++r) y[r] = slopes[Size(start + r) * Size(D_) + Size(t % D_)];
      }
      const int at = places[part] + done / group_;
      for (int j = 0; j < width; ++j) SumGroups(column(j), b, group_, sums_.data() + Size(j) * Size(summedRows_) + Size(at));
    }
  }
}

void TaskSummaries::SumProducts(int products, int order) {
  const int span = kSumsPerBlock * group_, count = MonomialCount(order, D_);
  productsAt_ = summedWidth_;
  products_ = products;
  summedWidth_ += D_ * products;
  filled_.resize(Size(span) * Size(count + 1));
  sums_.resize(Size(summedRows_) * Size(summedWidth_), 0.0);
  double* product = filled_.data() + Size(count) * Size(span);
  for (int start = 0; start < trainRows_; start += span) {
    const int b = std::min(span, trainRows_ - start);
    FillMonomialColumns(std::span<const double>(all_->states).subspan(Size(start) * Size(D_), Size(b) * Size(D_)), D_, b,
                        order, filled_, span);
    for (int i = 0; i < D_; ++i) {
      for (int j = 0; j < products; ++j) {
        // The rational designs' -y times denominator monomials, as Rational's FillDesign forms them.
        const double* u = filled_.data() + Size(j + 1) * Size(span);
        for (int r = 0; r < b; ++r) product[r] = -all_->slopes[Size(start + r) * Size(D_) + Size(i)] * u[r];
        SumGroups(product, b, group_, sums_.data() + Size(productsAt_ + i * products + j) * Size(summedRows_) + Size(start / group_));
      }
    }
  }
}

TriangularSummary TaskSummaries::FoldSummedColumns(std::span<const int> columns, int K, int from, int count) {
  const int n = static_cast<int>(columns.size());
  const int ld = TriangularFold::BlockLeadingDimension(kSumsPerBlock);
  block_.assign(Size(ld) * Size(n), 0.0);
  TriangularFold fold(n, K, &fold::FusedKernels());
  for (int start = from; start < from + count; start += kSumsPerBlock) {
    const int b = std::min(kSumsPerBlock, from + count - start);
    for (int k = 0; k < n; ++k) {
      const double* from = sums_.data() + Size(columns[Size(k)]) * Size(summedRows_) + Size(start);
      double* to = block_.data() + Size(k) * Size(ld);
      std::copy_n(from, b, to);
      std::fill(to + b, to + ld, 0.0);  // the fold reads whole vectors, zero below the rows
    }
    fold.Fold(block_.data(), b, ld);
  }
  return TriangularSummary(std::move(fold), K, count);
}

TriangularSummary TaskSummaries::SummedSummary(const Source& source, int i) {
  const Source* poly = sources_[0].get();
  const Source* rational = sources_[1].get();
  // One table of group sums serves the widest polynomial and every rational
  // design whose monomials are among the polynomial's.
  const bool sharesPoly = poly != nullptr && (&source == poly || (&source == rational &&
                          std::max(rational->design.nu, rational->design.mu) <= poly->design.nu));
  if (sharesPoly) {
    const int K = poly->design.nterms;
    if (summedWidth_ == 0) SumTrainingRows(poly->design);
    if (&source == poly) return FoldSummedColumns(PolynomialColumns(), K, 0, trainSums_);
    // The rationals' products only for the degree whose rationals are tried.
    const ModelEquation& r = rational->design;
    if (products_ == 0) SumProducts(r.nden, r.mu);
    std::vector<int> columns;
    for (int j = 0; j < r.nnum; ++j) columns.push_back(j);
    for (int j = 0; j < r.nden; ++j) columns.push_back(productsAt_ + i * products_ + j);
    columns.push_back(K + i);
    return FoldSummedColumns(columns, r.nterms, 0, trainSums_);
  }
  // A design of its own: its rows filled and summed here.
  const ModelEquation& design = source.design;
  const int K = design.nterms, T = source.perEquation ? 1 : D_, width = K + T;
  const int span = kSumsPerBlock * group_;
  const int ld = TriangularFold::BlockLeadingDimension(kSumsPerBlock);
  filled_.resize(Size(span) * Size(width));
  block_.assign(Size(ld) * Size(width), 0.0);
  TriangularFold fold(width, K, &fold::FusedKernels());
  for (int start = 0; start < trainRows_; start += span) {
    const int b = std::min(span, trainRows_ - start);
    for (int t = 0; t < T; ++t) {
      double* y = filled_.data() + Size(K + t) * Size(span);
      const int target = source.perEquation ? i : t;
      for (int r = 0; r < b; ++r) y[r] = all_->slopes[Size(start + r) * Size(D_) + Size(target)];
    }
    FillDesignBlock(design, std::span<const double>(all_->states).subspan(Size(start) * Size(D_), Size(b) * Size(D_)), D_, b,
                    1 + start, std::span<const double>(filled_).subspan(Size(K) * Size(span), Size(b)), filled_, span);
    const int sums = (b + group_ - 1) / group_;
    for (int j = 0; j < width; ++j) {
      double* to = block_.data() + Size(j) * Size(ld);
      SumGroups(filled_.data() + Size(j) * Size(span), b, group_, to);
      std::fill(to + sums, to + ld, 0.0);
    }
    fold.Fold(block_.data(), sums, ld);
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
  const TriangularSummary& held = use.owner->Held(*use.source, i);
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

const TriangularSummary& TaskSummaries::Held(Source& source, int i) {
  if (!source.held) {
    if (group_ > 1) {
      // The held-out groups of the table the training summary was folded from.
      Train(source, i);
      source.held = FoldSummedColumns(PolynomialColumns(), source.design.nterms, trainSums_, heldSums_);
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
    heldTerms_.assign(Size(heldRows_) * Size(count), 0.0);
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
