#include "search/search_task.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <numeric>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/equation_shape.h"
#include "api/numerical_errors.h"
#include "model/design.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "search/equation_candidates.h"
#include "search/horizon.h"
#include "search/local_fits.h"
#include "search/noise_level.h"
#include "search/prediction_score.h"
#include "search/ranking.h"
#include "search/search_plan.h"
#include "search/search_common.h"
#include "search/task_summaries.h"

namespace odefit::search {

SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index) {
  return RunTask(series, settings, plan, index, MakeScoring(series, plan, settings.validationFraction));
}

namespace {

// One degree of a window's local fits: its rows, summaries and every
// equation's candidates of the shapes tried so far.
class DegreeCandidates {
 public:
  // `all` the degree's states and slopes; `next` the next degree's, whose
  // candidates follow with this one as `lender` (both may be null).
  DegreeCandidates(const Series& series, const SearchSettings& settings, const SearchPlan& plan, const Scoring& scoring,
                   int m, int degree, int group, const Derivatives& all, TaskBuffers::Degree& memory,
                   const Derivatives* next, DegreeCandidates* lender)
      : series_(series),
        settings_(settings),
        plan_(plan),
        scoring_(scoring),
        m_(m),
        degree_(degree),
        D_(series.dimension),
        split_(SplitSample(static_cast<int>(series.size()), settings.validationFraction)),
        all_(all),
        trainRows_(split_ - m + 1),
        floor_(NoiseFloor(scoring)),
        found_(plan.shapes.size(), std::vector<std::vector<std::vector<EquationCandidate>>>(
                                       plan.thresholds.size(), std::vector<std::vector<EquationCandidate>>(Size(D_)))) {
    if (all_.rows - split_ < 1) return;  // no held-out row
    summaries_.emplace(plan.shapes, D_, settings.dt, all_, trainRows_, split_, group, &memory.summary);
    if (next != nullptr) summaries_->ShareWith(*next);
    if (lender != nullptr && lender->Usable()) summaries_->BorrowFrom(*lender->summaries_);
    // Each variable's size on the training rows, to weigh monomials by.
    scale_.assign(Size(D_), 0.0);
    for (int r = 0; r < trainRows_; ++r) {
      for (int i = 0; i < D_; ++i) {
        const double v = all_.states[Size(r) * Size(D_) + Size(i)];
        scale_[Size(i)] += v * v;
      }
    }
    for (double& v : scale_) v = std::sqrt(v / std::max(1, trainRows_));
  }

  bool Usable() const { return summaries_.has_value(); }

  // Fits the shapes `wanted` admits on the path of thresholds, then scores
  // every whole model of each threshold not scored yet into `out`. False
  // when the deadline passed.
  template <class Wanted>
  bool Run(const Deadline& deadline, Wanted wanted, std::vector<SearchCandidate>& out) {
    for (std::size_t s = 0; s < plan_.shapes.size(); ++s) {
      if (!wanted(plan_.shapes[s])) continue;
      if (deadline.Passed()) return false;
      FitShape(s);
    }
    // The whole models of each threshold: every equation's polynomial pick,
    // and the same with one equation's (or every equation's) pick of any
    // shape, so that a rational, driven or reduced equation is kept only
    // when it earns its terms on the held-out predictions, not on the slopes alone.
    for (std::size_t l = 0; l < plan_.thresholds.size(); ++l) {
      if (deadline.Passed()) return false;
      std::vector<const EquationCandidate*> polynomial, any;
      for (int i = 0; i < D_; ++i) {
        const std::vector<const EquationCandidate*> equation = Options(l, i);
        const EquationCandidate* pick = PickEquation(equation);
        if (!pick) break;
        const EquationCandidate* plain = PickEquation(equation, ModelFamily::StandardPolynomial);
        any.push_back(pick);
        polynomial.push_back(plain != nullptr ? plain : pick);
      }
      if (any.size() != Size(D_)) continue;
      Score(polynomial, plan_.thresholds[l], out);
      for (int i = 0; i < D_; ++i) {
        if (any[Size(i)] == polynomial[Size(i)]) continue;
        std::vector<const EquationCandidate*> one = polynomial;
        one[Size(i)] = any[Size(i)];
        Score(one, plan_.thresholds[l], out);
      }
      Score(any, plan_.thresholds[l], out);
    }
    return true;
  }

 private:
  void FitShape(std::size_t s) {
    const EquationSpec& spec = plan_.shapes[s];
    const ModelEquation shape = EquationShape(spec, D_, settings_.dt);
    if (shape.nterms >= trainRows_) return;
    for (std::size_t l = 0; l < plan_.thresholds.size(); ++l) {
      ThresholdSettings threshold;
      threshold.threshold = plan_.thresholds[l];
      threshold.scaled = true;
      for (int i = 0; i < D_; ++i) {
        SubsetFit fit = summaries_->Thresholded(shape, i, threshold);
        if (fit.singular || fit.columns.empty()) continue;
        if (shape.family == ModelFamily::DrivenPolynomial) {
          // The cos/sin pair is one driving of some phase: kept or dropped
          // together, or the phase leaks into the other coefficients.
          const int cosine = shape.nterms - 2, sine = shape.nterms - 1;
          const bool hasCos = std::find(fit.columns.begin(), fit.columns.end(), cosine) != fit.columns.end();
          const bool hasSin = std::find(fit.columns.begin(), fit.columns.end(), sine) != fit.columns.end();
          if (hasCos != hasSin) {
            std::vector<int> columns = fit.columns;
            columns.push_back(hasCos ? sine : cosine);
            std::sort(columns.begin(), columns.end());
            fit = summaries_->Subset(shape, i, columns);
            if (fit.singular) continue;
          }
        }
        EquationCandidate c;
        c.spec = spec;
        c.equation = shape;
        c.support = fit.columns;
        ScatterSubsetFit(fit, c.equation);
        Simplify(c, D_);
        if (HasCommonFactor(c, D_, scale_)) continue;
        std::string key = std::to_string(i) + "/" + CandidateKey({&c});
        auto known = errors_.find(key);
        if (known == errors_.end()) known = errors_.emplace(std::move(key), summaries_->HeldOutError(c.equation, i)).first;
        c.error = known->second;
        found_[s][l][Size(i)].push_back(std::move(c));
      }
    }
  }

  // Equation i's candidates at threshold l, in the plan's order of shapes
  // (pointers into found_, which no fit changes while they are used).
  std::vector<const EquationCandidate*> Options(std::size_t l, int i) const {
    std::vector<const EquationCandidate*> options;
    for (std::size_t s = 0; s < found_.size(); ++s) {
      for (const EquationCandidate& c : found_[s][l][Size(i)]) options.push_back(&c);
    }
    return options;
  }

  void Score(const std::vector<const EquationCandidate*>& picks, double thresholdValue, std::vector<SearchCandidate>& out) {
    const std::string key = CandidateKey(picks);
    if (!seen_.emplace(key, true).second) return;
    Model model;
    model.dt = settings_.dt;
    model.points = m_;
    model.train = split_;
    SearchCandidate candidate;
    candidate.points = m_;
    candidate.degree = degree_;
    candidate.threshold = thresholdValue;
    for (const EquationCandidate* c : picks) {
      model.equations.push_back(c->equation);
      candidate.equations.push_back(c->spec);
      candidate.supports.push_back(c->support);
      candidate.validationErrors.push_back(c->error);
      candidate.terms += static_cast<int>(c->support.size());
    }
    candidate.score = PredictionScore(model, series_, scoring_, all_.offset);
    candidate.noiseFloor = floor_;
    out.push_back(std::move(candidate));
  }

  const Series& series_;
  const SearchSettings& settings_;
  const SearchPlan& plan_;
  const Scoring& scoring_;
  int m_, degree_, D_, split_;
  const Derivatives& all_;
  int trainRows_;
  double floor_;
  std::optional<TaskSummaries> summaries_;
  std::vector<double> scale_;
  // found_[s][l][i]: equation i's candidate of shape s at threshold l (none or one).
  std::vector<std::vector<std::vector<std::vector<EquationCandidate>>>> found_;
  std::map<std::string, double> errors_;  // held-out error by equation, shape and support
  std::map<std::string, bool> seen_;      // the whole models scored
};

bool Rational(const EquationSpec& spec) { return spec.family == ModelFamily::Rational; }

}  // namespace

SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring, TaskBuffers* buffers) {
  const Deadline deadline(settings, Clock::now());
  const int m = plan.points[Size(index)];
  SearchTaskResult result;
  result.points = m;
  result.starts = static_cast<int>(scoring.starts.size());
  if (scoring.starts.empty()) return result;
  // Every degree's polynomial, driven and reduced shapes first; the
  // rational ones, whose designs hold the slopes and cost most, then with
  // the degree whose best model so far ranks first only: the bias and noise
  // of a degree's slopes are the data's, not a shape's.
  std::vector<std::unique_ptr<DegreeCandidates>> degrees;
  TaskBuffers own;
  TaskBuffers& memory = buffers != nullptr ? *buffers : own;
  if (memory.degrees.size() < plan.degrees.size()) memory.degrees.resize(plan.degrees.size());
  for (TaskBuffers::Degree& d : memory.degrees) d.summary.driving = &memory.driving;
  WindowFits fits(series, m, settings.dt, &memory.localFits);
  const int vectors = static_cast<int>(series.size());
  const int group = plan.rowsPerSum > 0 ? plan.rowsPerSum
                                        : RowsPerSum(vectors, settings.validationFraction, plan.points,
                                                     CorrelationHorizon(series, SplitSample(vectors, settings.validationFraction)));
  // A fit needs more points than coefficients.
  const auto fitted = [&](std::size_t k) { return k < plan.degrees.size() && plan.degrees[k] < m; };
  for (std::size_t k = 0; k < plan.degrees.size(); ++k) {
    if (fitted(k)) fits.Into(plan.degrees[k], memory.degrees[k].rows);
  }
  int chosen = -1;
  double best = kInfinity;
  DegreeCandidates* lender = nullptr;  // the last degree's, when this one shares its states
  for (std::size_t k = 0; k < plan.degrees.size(); ++k) {
    const int degree = plan.degrees[k];
    if (!fitted(k)) continue;
    // Degrees 2j and 2j + 1 have the same states: one polynomial table serves both.
    const bool pair = degree % 2 == 0 && fitted(k + 1) && plan.degrees[k + 1] == degree + 1;
    auto candidates = std::make_unique<DegreeCandidates>(series, settings, plan, scoring, m, degree, group, memory.degrees[k].rows,
                                                         memory.degrees[k], pair ? &memory.degrees[k + 1].rows : nullptr,
                                                         lender);
    lender = pair && candidates->Usable() ? candidates.get() : nullptr;
    if (!candidates->Usable()) continue;
    const std::size_t first = result.candidates.size();
    if (!candidates->Run(deadline, [](const EquationSpec& s) { return !Rational(s); }, result.candidates)) {
      result.complete = false;
      return result;
    }
    for (std::size_t j = first; j < result.candidates.size(); ++j) {
      const double c = Criterion(result.candidates[j], result.starts, plan.horizon, series.dimension);
      if (c < best) {
        best = c;
        chosen = static_cast<int>(degrees.size());
      }
    }
    degrees.push_back(std::move(candidates));
  }
  const bool rationals = std::any_of(plan.shapes.begin(), plan.shapes.end(), Rational);
  if (rationals && !degrees.empty()) {
    if (chosen < 0) chosen = 0;  // no model of the other shapes: the rationals of the lowest degree
    if (!degrees[Size(chosen)]->Run(deadline, Rational, result.candidates)) result.complete = false;
  }
  return result;
}

}  // namespace odefit::search
