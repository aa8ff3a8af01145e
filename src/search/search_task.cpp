#include "search/search_task.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "model/equation_shape.h"
#include "api/numerical_errors.h"
#include "model/design.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "search/equation_candidates.h"
#include "search/local_fits.h"
#include "search/noise_level.h"
#include "search/prediction_score.h"
#include "search/search_common.h"
#include "search/task_summaries.h"

namespace odefit::search {

SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index) {
  return RunTask(series, settings, plan, index, MakeScoring(series, plan, settings.validationFraction));
}

SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring, TaskBuffers* buffers) {
  const Deadline deadline(settings, Clock::now());
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int m = plan.points[Size(index) / plan.degrees.size()];
  const int degree = plan.degrees[Size(index) % plan.degrees.size()];
  SearchTaskResult result;
  result.points = m;
  result.degree = degree;
  result.starts = static_cast<int>(scoring.starts.size());
  // A fit needs more points than coefficients.
  if (scoring.starts.empty() || degree >= m) return result;
  const double floor = NoiseFloor(scoring);

  TaskBuffers own;
  TaskBuffers& memory = buffers != nullptr ? *buffers : own;
  SeriesFits(series, m, degree, settings.dt, memory.rows);
  const Derivatives& all = memory.rows;
  const int split = SplitSample(n, settings.validationFraction);
  const int trainRows = split - m + 1;
  const int heldRow = split;  // the first row whose window lies in the held-out part
  const int heldRows = all.rows - heldRow;
  if (heldRows < 1) return result;
  TaskSummaries summaries(plan.shapes, D, settings.dt, all, trainRows, heldRow, &memory.heldTerms);

  // Each variable's size on the training rows, to weigh monomials by.
  std::vector<double> scale(Size(D), 0.0);
  for (int r = 0; r < trainRows; ++r) {
    for (int i = 0; i < D; ++i) scale[Size(i)] += all.states[Size(r) * Size(D) + Size(i)] * all.states[Size(r) * Size(D) + Size(i)];
  }
  for (double& v : scale) v = std::sqrt(v / std::max(1, trainRows));

  // options[l][i]: the candidates of equation i at threshold l, one per shape.
  const std::size_t L = plan.thresholds.size();
  std::vector<std::vector<std::vector<EquationCandidate>>> options(L, std::vector<std::vector<EquationCandidate>>(Size(D)));
  std::map<std::string, double> errors;  // held-out error by equation, shape and support
  for (const EquationSpec& spec : plan.shapes) {
    if (deadline.Passed()) {
      result.complete = false;
      break;
    }
    const ModelEquation shape = EquationShape(spec, D, settings.dt);
    if (shape.nterms >= trainRows) continue;
    for (std::size_t l = 0; l < L; ++l) {
      ThresholdSettings threshold;
      threshold.threshold = plan.thresholds[l];
      threshold.scaled = true;
      for (int i = 0; i < D; ++i) {
        SubsetFit fit = summaries.Thresholded(shape, i, threshold);
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
            fit = summaries.Subset(shape, i, columns);
            if (fit.singular) continue;
          }
        }
        EquationCandidate c;
        c.spec = spec;
        c.equation = shape;
        c.support = fit.columns;
        ScatterSubsetFit(fit, c.equation);
        Simplify(c, D);
        if (HasCommonFactor(c, D, scale)) continue;
        std::string key = std::to_string(i) + "/" + CandidateKey({&c});
        auto found = errors.find(key);
        if (found == errors.end()) found = errors.emplace(std::move(key), summaries.HeldOutError(c.equation, i)).first;
        c.error = found->second;
        options[l][Size(i)].push_back(std::move(c));
      }
    }
  }

  // The whole models of each threshold: every equation's polynomial pick,
  // and the same with one equation's (or every equation's) pick of any
  // shape, so that a rational, driven or reduced equation is kept only when
  // it earns its terms on the held-out predictions, not on the slopes alone.
  std::map<std::string, bool> seen;
  const auto score = [&](const std::vector<const EquationCandidate*>& picks, double thresholdValue) {
    const std::string key = CandidateKey(picks);
    if (!seen.emplace(key, true).second) return;
    Model model;
    model.dt = settings.dt;
    model.points = m;
    model.train = split;
    SearchCandidate candidate;
    candidate.points = m;
    candidate.degree = degree;
    candidate.threshold = thresholdValue;
    for (const EquationCandidate* c : picks) {
      model.equations.push_back(c->equation);
      candidate.equations.push_back(c->spec);
      candidate.supports.push_back(c->support);
      candidate.validationErrors.push_back(c->error);
      candidate.terms += static_cast<int>(c->support.size());
    }
    candidate.score = PredictionScore(model, series, scoring, all.offset);
    candidate.noiseFloor = floor;
    result.candidates.push_back(std::move(candidate));
  };
  for (std::size_t l = 0; l < L; ++l) {
    if (deadline.Passed()) {
      result.complete = false;
      break;
    }
    std::vector<const EquationCandidate*> polynomial, any;
    for (int i = 0; i < D; ++i) {
      const EquationCandidate* pick = PickEquation(options[l][Size(i)]);
      if (!pick) break;
      const EquationCandidate* plain = PickEquation(options[l][Size(i)], ModelFamily::StandardPolynomial);
      any.push_back(pick);
      polynomial.push_back(plain ? plain : pick);
    }
    if (any.size() != Size(D)) continue;
    score(polynomial, plan.thresholds[l]);
    for (int i = 0; i < D; ++i) {
      if (any[Size(i)] == polynomial[Size(i)]) continue;
      std::vector<const EquationCandidate*> one = polynomial;
      one[Size(i)] = any[Size(i)];
      score(one, plan.thresholds[l]);
    }
    score(any, plan.thresholds[l]);
  }
  return result;
}

}  // namespace odefit::search
