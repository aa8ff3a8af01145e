#include "search/answer_doubts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "model/design.h"
#include "model/equation_shape.h"
#include "model/sparse_regression.h"
#include "odefit/number_text.h"
#include "search/granule_blocks.h"
#include "search/integral_refit.h"
#include "search/prediction_score.h"
#include "search/search_common.h"
#include "search/winner_fit.h"

namespace odefit::search {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// As the prediction scores cap an error.
constexpr double kErrorCap = 4.0;
// Granules per resampled block.
constexpr int kGranules = 16;

// splitmix64: the same numbers on every platform.
std::uint64_t NextRandom(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// The score of predicting every held-out sample by the mean of the training
// part, per variable, as PredictionScore weighs and caps it.
std::vector<double> MeanScores(const Series& series, const Scoring& scoring, int split) {
  const int D = scoring.D;
  std::vector<double> out(Size(D), kInfinity);
  if (scoring.starts.empty()) return out;
  for (int i = 0; i < D; ++i) {
    double mean = 0.0;
    for (int k = 0; k < split; ++k) mean += series.values[Size(k) * Size(D) + Size(i)] / split;
    double total = 0.0;
    for (const int start : scoring.starts) {
      for (int j = 1; j <= scoring.horizon; ++j) {
        const double d = mean - series.values[Size(start + j) * Size(D) + Size(i)];
        total += std::min(kErrorCap, d * d * scoring.scale[Size(i)]);
      }
    }
    out[Size(i)] = total / (static_cast<double>(scoring.starts.size()) * scoring.horizon);
  }
  return out;
}

// PredictionScore of one variable alone.
double VariableScore(const Model& model, const Series& series, Scoring scoring, int offset, int i) {
  for (int k = 0; k < scoring.D; ++k) {
    if (k != i) scoring.scale[Size(k)] = 0.0;
  }
  return scoring.D * PredictionScore(model, series, scoring, offset);
}

std::string VariableList(const Model& model, const std::vector<int>& variables) {
  std::string text;
  for (std::size_t k = 0; k < variables.size(); ++k) {
    if (k > 0) text += k + 1 == variables.size() ? " and " : ", ";
    text += VariableName(model, variables[k] + 1);
  }
  return text;
}

// The equation of `model` (fitted) as a shape with its terms, for refits.
ModelEquation RefitShape(const Model& model, int i, double dt) {
  return EquationShape(EquationSpecOf(model.Equation(i + 1)), model.Dimension(), dt);
}

// The summaries of `count` granules of `grain` rows of `rows` (targets
// `targets`), each folded from one block: the streamed summary's set-up per
// call would cost more than folding a granule.
std::vector<TriangularSummary> GranuleSummaries(const ModelEquation& shape, const Derivatives& rows, int grain,
                                                int count, std::span<const int> targets) {
  const int D = rows.dimension, K = shape.nterms, T = static_cast<int>(targets.size());
  const int ld = TriangularFold::BlockLeadingDimension(grain);
  std::vector<double> block(Size(ld) * Size(K + T), 0.0);
  std::vector<TriangularSummary> out;
  out.reserve(Size(count));
  for (int g = 0; g < count; ++g) {
    const std::size_t first = Size(g) * Size(grain);
    for (int t = 0; t < T; ++t) {
      double* column = block.data() + Size(K + t) * Size(ld);
      for (int r = 0; r < grain; ++r) column[r] = rows.slopes[(first + Size(r)) * Size(D) + Size(targets[Size(t)])];
    }
    FillDesignBlock(shape, std::span(rows.states).subspan(first * Size(D), Size(grain) * Size(D)), D, grain,
                    1 + static_cast<int>(first), std::span<const double>(block.data() + Size(K) * Size(ld), Size(grain)),
                    std::span<double>(block.data(), Size(ld) * Size(K)), ld);
    // The fold overwrites the block: the places below the rows zero again.
    for (int j = 0; j < K + T; ++j) {
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(Size(j) * Size(ld) + Size(grain)),
                block.begin() + static_cast<std::ptrdiff_t>(Size(j) * Size(ld) + Size(TriangularFold::PaddedRows(grain))), 0.0);
    }
    TriangularFold fold(K + T, K, &fold::FusedKernels());
    fold.Fold(block.data(), grain, ld);
    out.emplace_back(std::move(fold), K, grain);
  }
  return out;
}

}  // namespace

PredictionCheck CheckPredictions(const Series& series, const SearchSettings& settings, const SearchPlan& plan,
                                 const SearchCandidate& best, const Model& model, int offset) {
  const int D = series.dimension;
  const Scoring scoring = MakeScoring(series, plan, settings.validationFraction);
  const int split = SplitSample(static_cast<int>(series.size()), settings.validationFraction);
  PredictionCheck check;
  check.score = best.score;
  check.floor = best.noiseFloor;
  check.vectors = series.size();
  // Holding the start state: a model whose every coefficient is 0.
  Model still;
  still.dt = settings.dt;
  for (int i = 0; i < D; ++i) {
    ModelEquation eq = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, 0}, D, settings.dt);
    eq.coef.assign(Size(eq.nterms), 0.0);
    still.equations.push_back(std::move(eq));
  }
  const std::vector<double> mean = MeanScores(series, scoring, split);
  double stillTotal = 0.0, meanTotal = 0.0;
  for (int i = 0; i < D; ++i) {
    const double hold = VariableScore(still, series, scoring, offset, i);
    stillTotal += hold / D;
    meanTotal += mean[Size(i)] / D;
    check.variableTrivial.push_back(std::min(hold, mean[Size(i)]));
    check.variableScore.push_back(VariableScore(model, series, scoring, offset, i));
    check.variableFloor.push_back(scoring.noise[Size(i)]);
  }
  check.trivial = std::min(stillTotal, meanTotal);
  return check;
}

bool PredictsNothing(const PredictionCheck& check) {
  const double explainable = check.trivial - check.floor;
  return !(check.trivial - check.score >= kTrivialGain * std::max(explainable, 0.05 * check.trivial));
}

std::vector<std::string> PredictionDoubts(const PredictionCheck& check, const Model& model) {
  std::vector<std::string> doubts;
  if (PredictsNothing(check)) {
    doubts.push_back("no candidate predicts the held-out data clearly better than a model without dynamics "
                     "(normalised error " + SignificantText(check.score, 3) + " against " +
                     SignificantText(check.trivial, 3) + " for holding the last state or the mean, " +
                     SignificantText(check.floor, 3) +
                     " from the noise): the data look like noise, or the sampling is too coarse for the "
                     "dynamics; the model means little");
    return doubts;
  }
  std::vector<int> unexplained;
  for (std::size_t i = 0; i < check.variableScore.size(); ++i) {
    if (check.variableScore[i] > (1.0 + kNoiseMargin) * check.variableFloor[i] + kUnexplainedError) {
      unexplained.push_back(static_cast<int>(i));
    }
  }
  if (!unexplained.empty()) {
    doubts.push_back("the best model's held-out error of " + VariableList(model, unexplained) +
                     " stays well above the noise: " + (unexplained.size() == 1 ? "its" : "their") +
                     " dynamics are probably outside the families tried (a term of another kind, a driving, a "
                     "hidden variable)");
  }
  std::vector<int> noisy;
  for (std::size_t i = 0; i < check.variableFloor.size(); ++i) {
    const double share = std::sqrt(check.variableFloor[i]);
    if (share > kHeavyNoise || share > kNoisePerVector * std::sqrt(static_cast<double>(check.vectors))) {
      noisy.push_back(static_cast<int>(i));
    }
  }
  std::string levels;
  for (std::size_t k = 0; k < noisy.size(); ++k) {
    if (k > 0) levels += k + 1 == noisy.size() ? " and " : ", ";
    levels += SignificantText(100.0 * std::sqrt(check.variableFloor[Size(noisy[k])]), 2) + " %";
  }
  if (!noisy.empty()) {
    doubts.push_back("the observations of " + VariableList(model, noisy) + " carry noise of about " + levels + " of " +
                     (noisy.size() == 1 ? "its" : "their") +
                     " spread (from the spectrum's high end), much for " + std::to_string(check.vectors) +
                     " vectors: a term that carries a small share of "
                     "a derivative can be lost in the noise and the coefficients can be biased toward zero beyond "
                     "their intervals; compare the candidates with more terms");
  }
  return doubts;
}

TermEnsemble ResampleWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best,
                            const Model& model, const WinnerFit& winner, std::span<const double> noise,
                            int replicates) {
  const Derivatives& rows = winner.rows;
  const bool integral = winner.integral;
  const int D = rows.dimension;
  TermEnsemble out;
  out.inclusion.resize(Size(D));
  out.intervals.lower.resize(Size(D));
  out.intervals.upper.resize(Size(D));
  for (int i = 0; i < D; ++i) {
    const std::size_t terms = model.Equation(i + 1).coef.size();
    out.inclusion[Size(i)].assign(terms, kNaN);
    out.intervals.lower[Size(i)].assign(terms, kNaN);
    out.intervals.upper[Size(i)].assign(terms, kNaN);
  }
  const int wanted = std::max(rows.rows / 15, 4 * best.points);
  const int blocks = wanted > 0 ? rows.rows / wanted : 0;
  if (blocks < 2) return out;
  // Blocks start on a grid of granules, a sixteenth of a block each: a
  // moving-block bootstrap all the same (a start moves by less than a
  // sixteenth of the block; the last partial granule is never drawn, as the
  // last rows rarely were), but a replicate's summary is merged from the
  // granules' summaries instead of folding its rows again: the rows are
  // folded once, and 30 replicates cost about one fit instead of 30.
  const int grain = std::max(1, wanted / kGranules);
  const int width = wanted / grain;  // granules per block
  const int granules = rows.rows / grain;

  // The bias by extrapolation over the sampling interval: the winner fitted
  // as it was (slopes or integral form) on every other vector, whose bias is
  // 2^2 times as large (slopes of local fits of degree 1 and 2, the integral
  // form's quadrature) or 2^4 (slopes of degree 3 and 4), whatever the
  // window's mix of slope and state errors.
  std::vector<std::vector<double>> bias(Size(D));
  if (api::IsPlain(series) && static_cast<int>(series.size()) >= 8 * best.points) {
    Series coarse;
    coarse.dimension = D;
    for (std::size_t k = 0; k < series.size(); k += 2) {
      coarse.values.insert(coarse.values.end(), series.values.begin() + static_cast<std::ptrdiff_t>(k * Size(D)),
                           series.values.begin() + static_cast<std::ptrdiff_t>((k + 1) * Size(D)));
    }
    SearchSettings coarser = settings;
    coarser.dt = 2.0 * settings.dt;
    try {
      const WinnerFit refit = FitWinner(coarse, coarser, best, noise, false);
      const double share = integral || best.degree <= 2 ? 1.0 / 3.0 : 1.0 / 15.0;
      for (int i = 0; i < D; ++i) {
        const ModelEquation& eq = model.Equation(i + 1);
        const ModelEquation& other = refit.model.Equation(i + 1);
        bias[Size(i)].assign(eq.coef.size(), 0.0);
        for (std::size_t k = 0; k < eq.coef.size() && k < other.coef.size(); ++k) {
          if (eq.coef[k] != 0.0) bias[Size(i)][k] = (other.coef[k] - eq.coef[k]) * share;
        }
      }
    } catch (const NumericalError&) {
      // Dependent terms on every other vector: no bias term.
    }
  }

  std::vector<std::vector<double>> sum(Size(D)), squares(Size(D)), kept(Size(D));
  std::vector<std::vector<int>> winnerColumns(Size(D));
  std::vector<double> refits(Size(D), 0.0);
  for (int i = 0; i < D; ++i) {
    const std::vector<double>& coef = model.Equation(i + 1).coef;
    sum[Size(i)].assign(coef.size(), 0.0);
    squares[Size(i)].assign(coef.size(), 0.0);
    kept[Size(i)].assign(coef.size(), 0.0);
    for (std::size_t k = 0; k < coef.size(); ++k) {
      if (coef[k] != 0.0) winnerColumns[Size(i)].push_back(static_cast<int>(k));
    }
  }
  // The granules' summaries: equations of one polynomial shape share theirs,
  // as in the search's tasks; a rational's design holds its own target.
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  std::map<std::string, GranuleBlocks> shared;
  std::vector<std::optional<GranuleBlocks>> own(Size(D)), integrals(Size(D));
  for (int i = 0; i < D; ++i) {
    const ModelEquation shape = RefitShape(model, i, settings.dt);
    if (shape.family == ModelFamily::DrivenPolynomial) continue;
    const bool rational = shape.family == ModelFamily::Rational;
    const std::string key = FormatEquationSpec(EquationSpecOf(model.Equation(i + 1)));
    if (!rational && shared.count(key) > 0) continue;
    const int one[] = {i};
    try {
      api::RunNumerical([&] {
        std::vector<TriangularSummary> summaries =
            GranuleSummaries(shape, rows, grain, granules, rational ? std::span<const int>(one) : std::span<const int>(targets));
        if (rational) {
          own[Size(i)].emplace(std::move(summaries), width);
        } else {
          shared.emplace(key, GranuleBlocks(std::move(summaries), width));
        }
      });
    } catch (const NumericalError&) {
      // Its refits count as singular.
    }
  }
  // The integral form's rows, once per equation, over the same granules of
  // span starts (a block's spans start in it, as its rows do).
  for (int i = 0; i < D; ++i) {
    if (winner.integralEquations.size() != Size(D) || !winner.integralEquations[Size(i)]) continue;
    if (winnerColumns[Size(i)].empty()) continue;
    const ModelEquation shape = RefitShape(model, i, settings.dt);
    try {
      api::RunNumerical([&] {
        // The winner's own rows where it kept every column it fitted (else
        // those of its nonzero terms, made again).
        const bool kept = winner.integralColumns.size() == Size(D) && winner.integralColumns[Size(i)] == winnerColumns[Size(i)];
        const std::vector<double> made =
            kept ? std::vector<double>{}
                 : IntegralRows(winner.smooth, shape, i, winnerColumns[Size(i)], winner.span, settings.dt,
                                winner.smoothing);
        const std::vector<double>& all = kept ? winner.integralRows[Size(i)] : made;
        const int q = static_cast<int>(winnerColumns[Size(i)].size());
        const int starts = static_cast<int>(all.size() / Size(q + 1));
        std::vector<TriangularSummary> summaries;
        for (int g = 0; g < granules; ++g) {
          const int from = std::min(g * grain, starts), to = std::min((g + 1) * grain, starts);
          summaries.push_back(SummariseIntegralRows(all, q, from, to));
        }
        integrals[Size(i)].emplace(std::move(summaries), width);
      });
    } catch (const NumericalError&) {
      // The slope fits' coefficients stand.
    }
  }
  std::uint64_t state = 1;
  std::vector<int> firsts(Size(blocks));
  std::vector<int> all;
  int done = 0;
  for (int r = 0; r < replicates; ++r) {
    for (int b = 0; b < blocks; ++b) {
      firsts[Size(b)] = static_cast<int>(NextRandom(state) % Size(granules - width + 1));
    }
    // Equations of one shape share the replicate's summary.
    std::map<std::string, TriangularSummary> merged;
    for (int i = 0; i < D; ++i) {
      const ModelEquation& eq = model.Equation(i + 1);
      if (eq.family == ModelFamily::DrivenPolynomial) continue;
      ThresholdSettings threshold;
      threshold.threshold = best.threshold;
      threshold.scaled = true;
      // The thresholded refit says which terms stay (inclusion); the refit of
      // the winner's own terms measures their coefficients' spread: mixing in
      // refits that drop a term (as 0) or keep another (which moves the rest)
      // made the intervals of a right structure tens of times its error.
      SubsetFit fit, same;
      fit.singular = same.singular = true;
      const std::string key = FormatEquationSpec(EquationSpecOf(eq));
      const bool rational = eq.family == ModelFamily::Rational;
      if (rational ? own[Size(i)].has_value() : shared.count(key) > 0) {
        try {
          api::RunNumerical([&] {
            std::optional<TriangularSummary> alone;
            const TriangularSummary* summary = nullptr;
            int target = i;
            if (rational) {
              alone.emplace(own[Size(i)]->Resampled(firsts));
              summary = &*alone;
              target = 0;
            } else {
              auto found = merged.find(key);
              if (found == merged.end()) found = merged.emplace(key, shared.at(key).Resampled(firsts)).first;
              summary = &found->second;
            }
            fit = ThresholdedFit(*summary, target, threshold);
            same = FitSubset(*summary, target, winnerColumns[Size(i)]);
          });
        } catch (const NumericalError&) {
          fit.singular = true;
          same.singular = true;
        }
      }
      if (!fit.singular) {  // a singular refit counts as keeping nothing
        for (const int c : fit.columns) {
          if (Size(c) < kept[Size(i)].size()) kept[Size(i)][Size(c)] += 1.0;
        }
      }
      if (same.singular || same.columns.empty()) continue;
      if (integrals[Size(i)]) {
        // The coefficients as the winner's: the integral form over the
        // spans that start in the same blocks.
        try {
          api::RunNumerical([&] {
            const int q = static_cast<int>(same.columns.size());
            all.resize(Size(q));
            std::iota(all.begin(), all.end(), 0);
            const SubsetFit weak = FitSubset(integrals[Size(i)]->Resampled(firsts), 0, all);
            if (!weak.singular) same.coefficients = weak.coefficients;
          });
        } catch (const NumericalError&) {
          // The slope fit's coefficients stand.
        }
      }
      refits[Size(i)] += 1.0;
      for (std::size_t k = 0; k < same.columns.size(); ++k) {
        const std::size_t c = Size(same.columns[k]);
        sum[Size(i)][c] += same.coefficients[k];
        squares[Size(i)][c] += same.coefficients[k] * same.coefficients[k];
      }
    }
    ++done;
  }
  out.replicates = done;
  if (done < 2) return out;
  const double R = done;
  const double z = 1.959963984540054;  // the normal quantile of kIntervalLevel
  for (int i = 0; i < D; ++i) {
    const ModelEquation& eq = model.Equation(i + 1);
    if (eq.family == ModelFamily::DrivenPolynomial) continue;
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      if (eq.coef[k] == 0.0) continue;
      out.inclusion[Size(i)][k] = kept[Size(i)][k] / R;
      const double n = refits[Size(i)];
      if (n < 2) continue;
      const double mean = sum[Size(i)][k] / n;
      const double variance = std::max(0.0, (squares[Size(i)][k] - n * mean * mean) / (n - 1));
      // No standard error: the refits measure the spread itself, while the
      // standard error takes the slopes' errors as independent, which local
      // fits make anticorrelated from row to row (at degree 3 or 4 on noisy
      // data it overstated the spread up to 20 times).
      // The change on every other vector is bias plus noise: that fit has
      // half the rows (spread about sqrt(2) sd), so a third of the change
      // carries a spread of about sqrt(3) / 3 sd, which is not bias.
      const double b = bias[Size(i)].empty() ? 0.0 : bias[Size(i)][k];
      const double sd = std::sqrt(variance);
      const double half = z * sd + 3.0 * std::max(0.0, std::fabs(b) - z * std::sqrt(3.0) / 3.0 * sd);
      out.intervals.lower[Size(i)][k] = eq.coef[k] - half;
      out.intervals.upper[Size(i)][k] = eq.coef[k] + half;
    }
  }
  return out;
}

}  // namespace odefit::search
