#include "search/prediction_score.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "api/recordings.h"
#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "model/equation_shape.h"
#include "model/monomials.h"
#include "numerics/vector_clones.h"
#include "search/local_fits.h"
#include "search/noise_level.h"
#include "search/search_common.h"

namespace odefit::search {
namespace {

// A squared normalised prediction error counts at most this much: a diverged
// prediction is as wrong as one four standard deviations off, no worse.
constexpr double kErrorCap = 4.0;

// The model's right-hand side with its driving a continuous function of
// time. (The classic right-hand side holds the driving at its value at the
// nearest sample, which costs a prediction between samples half a sample of
// phase and would let an undriven model predict a driven series better.)
class ContinuousDriving {
 public:
  explicit ContinuousDriving(const Model& model) : model_(&model), undriven_(model) {
    for (ModelEquation& eq : undriven_.equations) {
      if (eq.family != ModelFamily::DrivenPolynomial) continue;
      // The polynomial's terms come first: its coefficients keep their places.
      ModelEquation plain = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, eq.nu}, model.Dimension(), model.dt);
      plain.coef.assign(eq.coef.begin(), eq.coef.begin() + plain.nterms);
      eq = std::move(plain);
    }
    undrivenRhs_.emplace(undriven_);  // planned once the families are final
  }
  ContinuousDriving(const ContinuousDriving&) = delete;
  ContinuousDriving& operator=(const ContinuousDriving&) = delete;
  void operator()(int N, double T, std::span<const double> Y, std::span<double> DY) const {
    (*undrivenRhs_)(N, T, Y, DY);
    for (int i = 0; i < N; ++i) {
      const ModelEquation& eq = model_->equations[Size(i)];
      if (eq.family != ModelFamily::DrivenPolynomial) continue;
      const double angle = T / model_->dt * eq.wdt;
      DY[Size(i)] += eq.coef[Size(eq.nterms - 2)] * std::cos(angle) + eq.coef[Size(eq.nterms - 1)] * std::sin(angle);
    }
  }

 private:
  const Model* model_;
  Model undriven_;
  std::optional<ModelRightHandSide> undrivenRhs_;
};

// Starts predicted together, one per lane: fixed-size rows that the compiler
// turns into vector operations, and independent chains whose latencies overlap.
constexpr std::size_t kLanes = 8;
using Lanes = std::array<double, kLanes>;

// A (driven) polynomial model's right-hand side from its kept terms only:
// each sum in term order from 0.0 as the family forms it (a dropped term
// adds an exact zero there), and only the monomials those terms need. Most candidates keep a few of their shape's terms, and their
// predictions are most of the scoring.
class KeptTerms {
 public:
  // False when the model has an equation of another family.
  static bool Suits(const Model& model) {
    return std::all_of(model.equations.begin(), model.equations.end(), [](const ModelEquation& eq) {
      return eq.family == ModelFamily::StandardPolynomial || eq.family == ModelFamily::DrivenPolynomial;
    });
  }
  explicit KeptTerms(const Model& model) : dt_(model.dt), D_(model.Dimension()), equations_(model.equations.size()) {
    for (std::size_t i = 0; i < model.equations.size(); ++i) {
      const ModelEquation& eq = model.equations[i];
      Equation& e = equations_[i];
      const bool driven = eq.family == ModelFamily::DrivenPolynomial;
      const int monomials = driven ? eq.nterms - 2 : eq.nterms;
      int order = 0;
      for (int k = 0; k < monomials; ++k) {
        while (k >= MonomialCount(order, D_)) ++order;
        const double c = eq.coef[Size(k)];
        if (c == 0.0) continue;
        e.terms.emplace_back(k, c);
        order_ = std::max(order_, order);
      }
      if (driven) {
        e.driven = true;
        e.wdt = eq.wdt;
        e.cosine = eq.coef[Size(eq.nterms - 2)];
        e.sine = eq.coef[Size(eq.nterms - 1)];
      }
    }
    monomials_.assign(Size(std::max(1, MonomialCount(order_, D_))), 1.0);
    // The monomials kept and those they are formed from, each as
    // FillMonomialTerms forms it (its parent times one variable: the same bits).
    if (order_ < 1) return;
    const MonomialRecurrence recurrence = MonomialProducts(D_, order_);
    std::vector<bool> needed(monomials_.size(), false);
    for (const Equation& e : equations_) {
      for (const auto& term : e.terms) needed[Size(term.first)] = true;
    }
    for (std::size_t k = needed.size() - 1; k >= 1; --k) {
      if (needed[k]) needed[Size(recurrence.parent[k])] = true;
    }
    for (std::size_t k = 1; k < needed.size(); ++k) {
      if (needed[k]) products_.push_back({static_cast<int>(k), recurrence.parent[k], recurrence.variable[k]});
    }
  }
  // The driving's last angle, its cosine and its sine in each lane.
  struct LaneDriving {
    Lanes angle, cosine{}, sine{};
    LaneDriving() { angle.fill(std::nan("")); }
  };
  std::size_t MonomialRows() const { return monomials_.size(); }
  // The right-hand side in every lane at once, each lane by the operations of
  // operator(). `monomials` has MonomialRows() rows, row 0 all ones.
  void Lanewise(const Lanes& T, const Lanes* Y, Lanes* DY, Lanes* monomials, LaneDriving& driving) const {
    for (const Product& p : products_) {
      Lanes& out = monomials[p.term];
      const Lanes& parent = monomials[p.parent];
      const Lanes& y = Y[p.variable];
      for (std::size_t l = 0; l < kLanes; ++l) out[l] = parent[l] * y[l];
    }
    for (std::size_t i = 0; i < equations_.size(); ++i) {
      const Equation& e = equations_[i];
      Lanes sum{};
      for (const auto& [k, c] : e.terms) {
        const Lanes& monomial = monomials[k];
        for (std::size_t l = 0; l < kLanes; ++l) sum[l] += c * monomial[l];
      }
      if (e.driven) {
        Lanes angle;
        for (std::size_t l = 0; l < kLanes; ++l) angle[l] = T[l] / dt_ * e.wdt;
        for (std::size_t l = 0; l < kLanes; ++l) {
          if (angle[l] == driving.angle[l]) continue;
          driving.angle[l] = angle[l];
          driving.cosine[l] = std::cos(angle[l]);
          driving.sine[l] = std::sin(angle[l]);
        }
        for (std::size_t l = 0; l < kLanes; ++l) sum[l] += e.cosine * driving.cosine[l] + e.sine * driving.sine[l];
      }
      DY[i] = sum;
    }
  }
  void operator()(int, double T, std::span<const double> Y, std::span<double> DY) {
    for (const Product& p : products_) monomials_[Size(p.term)] = monomials_[Size(p.parent)] * Y[Size(p.variable)];
    for (std::size_t i = 0; i < equations_.size(); ++i) {
      const Equation& e = equations_[i];
      double sum = 0.0;
      for (const auto& [k, c] : e.terms) sum += c * monomials_[Size(k)];
      DY[i] = sum;
      if (e.driven) {
        const double angle = T / dt_ * e.wdt;
        // The stages at the half step, and equations of one period, share their angle.
        if (!(angle == angle_)) {
          angle_ = angle;
          cos_ = std::cos(angle);
          sin_ = std::sin(angle);
        }
        DY[i] += e.cosine * cos_ + e.sine * sin_;
      }
    }
  }

 private:
  struct Equation {
    std::vector<std::pair<int, double>> terms;  // the monomials kept and their coefficients
    bool driven = false;
    double wdt = 0.0, cosine = 0.0, sine = 0.0;
  };
  struct Product {
    int term, parent, variable;
  };
  double dt_;
  int D_;
  int order_ = -1;
  std::vector<Product> products_;  // in term order, so a parent is formed before its children
  double angle_ = std::nan(""), cos_ = 0.0, sin_ = 0.0;  // the last driving angle and its cosine and sine
  std::vector<Equation> equations_;
  std::vector<double> monomials_;
};

// Integrates the model's predictions with `rhs`.
template <class Rhs>
double Predictions(Rhs& rhs, const Model& model, const Series& series, const Scoring& scoring, int offset);

// The same predictions kLanes starts at a time; nothing when some time step is
// not the single RK-4 step of model.dt per sample that Predictions takes.
std::optional<double> LanewisePredictions(const KeptTerms& rhs, const Model& model, const Series& series,
                                          const Scoring& scoring, int offset);

}  // namespace

StartEstimate MakeStartEstimate(int points) {
  StartEstimate start;
  start.weights = points <= 1 ? std::vector<double>{1.0} : FitWeights(points, std::min(3, points - 1), points - 1).value;
  start.noiseGain = 0.0;
  for (const double w : start.weights) start.noiseGain += w * w;
  return start;
}

namespace {

// The start estimate of least estimated mean squared error over the samples
// before `split`, all components weighed by `scale`.
StartEstimate ChooseStartEstimate(const Series& series, int split, const std::vector<double>& scale,
                                  const std::vector<double>& noise) {
  const int D = series.dimension;
  StartEstimate best = MakeStartEstimate(1);
  double bestError = kInfinity;
  for (const int w : kStartPoints) {
    if (w * 4 > split) break;
    const StartEstimate e = MakeStartEstimate(w);
    const double last = e.weights.back();
    // At most about 2000 evaluation points, evenly spread.
    const int stride = std::max(1, (split - w) / 2000);
    double error = 0.0;
    for (int i = 0; i < D; ++i) {
      double difference = 0.0;
      int count = 0;
      for (int k = w - 1; k < split; k += stride, ++count) {
        double v = 0.0;
        for (int j = 0; j < w; ++j) v += e.weights[Size(j)] * series.values[Size(k - w + 1 + j) * Size(D) + Size(i)];
        const double d = v - series.values[Size(k) * Size(D) + Size(i)];
        difference += d * d;
      }
      // E[(estimate - observation)^2] = bias^2 + sigma^2 (gain - 2 last + 1).
      const double bias2 = std::max(0.0, difference / std::max(1, count) * scale[Size(i)] -
                                             noise[Size(i)] * (e.noiseGain - 2.0 * last + 1.0));
      error += bias2 + noise[Size(i)] * e.noiseGain;
    }
    if (error < bestError) {
      bestError = error;
      best = e;
    }
  }
  return best;
}

}  // namespace

namespace {

// 1 / the variance of each component over the held-out part.
std::vector<double> HeldOutScale(const Series& series, int split) {
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  std::vector<double> scale(Size(D), 0.0);
  for (int i = 0; i < D; ++i) {
    double mean = 0.0, var = 0.0;
    for (int k = split; k < n; ++k) mean += series.values[Size(k) * Size(D) + Size(i)] / (n - split);
    for (int k = split; k < n; ++k) {
      const double v = series.values[Size(k) * Size(D) + Size(i)] - mean;
      var += v * v / (n - split);
    }
    scale[Size(i)] = var > 0.0 ? 1.0 / var : 0.0;
  }
  return scale;
}

std::vector<double> ScaledNoise(std::vector<double> noise, const std::vector<double>& scale) {
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::min(1.0, noise[i] * scale[i]);
  return noise;
}

}  // namespace

void ShareScoring(const Series& series, double fraction, SearchPlan& plan) {
  const int split = SplitSample(static_cast<int>(series.size()), fraction);
  const std::vector<double> scale = HeldOutScale(series, split);
  plan.noise = NoiseVariances(series);
  plan.startPoints =
      static_cast<int>(ChooseStartEstimate(series, split, scale, ScaledNoise(plan.noise, scale)).weights.size());
}

Scoring MakeScoring(const Series& series, const SearchPlan& plan, double fraction) {
  Scoring scoring;
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, fraction);
  scoring.D = D;
  scoring.horizon = plan.horizon;
  scoring.scale = HeldOutScale(series, split);
  // A checked plan's shared parts are the ones worked out here from the same series.
  scoring.noise = ScaledNoise(plan.noise.size() == Size(D) ? plan.noise : NoiseVariances(series), scoring.scale);
  scoring.start = plan.startPoints > 0 ? MakeStartEstimate(plan.startPoints)
                                       : ChooseStartEstimate(series, split, scoring.scale, scoring.noise);
  // The earliest start whose window of past samples lies in the held-out
  // part for every window tried and for the start estimate.
  const int widest = std::max(*std::max_element(plan.points.begin(), plan.points.end()),
                              static_cast<int>(scoring.start.weights.size()));
  const int first = split + widest - 1;
  const int last = n - 1 - plan.horizon;
  if (last >= first) {
    const int count = std::min(kMaxStarts, std::max(1, (last - first) / std::max(1, plan.horizon / 2) + 1));
    for (int k = 0; k < count; ++k) {
      scoring.starts.push_back(count == 1 ? first : first + static_cast<int>((static_cast<long long>(last - first) * k) / (count - 1)));
    }
  }
  if (!api::IsPlain(series)) {
    // A prediction starts from a state estimated within one piece and
    // compares with the observations of its own recording only (across
    // gaps, by their time stamps).
    const Sampling sampling = SeriesSampling(series, series.times.empty() ? 1.0 : 0.0);
    const int w = static_cast<int>(scoring.start.weights.size());
    std::erase_if(scoring.starts, [&](int start) {
      if (!api::WithinOnePiece(sampling, Size(start - w + 1), Size(w))) return true;
      for (const std::size_t b : series.breaks) {
        if (b > Size(start) && b <= Size(start + plan.horizon)) return true;
      }
      return false;
    });
  }
  return scoring;
}

double NoiseFloor(const Scoring& scoring) {
  // The noise of the targets alone: that of the start estimate grows or
  // decays with the model's own dynamics, so it belongs to the model's error.
  double floor = 0.0;
  for (const double v : scoring.noise) floor += v;
  return scoring.noise.empty() ? 0.0 : floor / static_cast<double>(scoring.noise.size());
}

double PredictionScore(const Model& model, const Series& series, const Scoring& scoring, int offset) {
  if (const std::optional<double> score = LanewisePredictionScore(model, series, scoring, offset)) return *score;
  return OneStartAtATimePredictionScore(model, series, scoring, offset);
}

std::optional<double> LanewisePredictionScore(const Model& model, const Series& series, const Scoring& scoring,
                                              int offset) {
  // Across gaps a prediction takes several steps per sample: one start at a time.
  if (!KeptTerms::Suits(model) || !series.times.empty() || model.Dimension() != scoring.D) return std::nullopt;
  const KeptTerms rhs(model);
  return LanewisePredictions(rhs, model, series, scoring, offset);
}

double OneStartAtATimePredictionScore(const Model& model, const Series& series, const Scoring& scoring, int offset) {
  if (KeptTerms::Suits(model)) {
    KeptTerms rhs(model);
    return Predictions(rhs, model, series, scoring, offset);
  }
  const ContinuousDriving rhs(model);
  return Predictions(rhs, model, series, scoring, offset);
}

namespace {

// Component i of a prediction's start state, as both ways of predicting form it.
double StartValue(const StartEstimate& estimate, const Series& series, int start, int i) {
  const int m = static_cast<int>(estimate.weights.size()), D = series.dimension;
  double v = 0.0;
  for (int k = 0; k < m; ++k) v += estimate.weights[Size(k)] * series.values[Size(start - m + 1 + k) * Size(D) + Size(i)];
  return v;
}

// A prediction's squared normalised error, capped (NaN counts the cap).
double CappedError(double difference, double scale) {
  const double e = std::min(kErrorCap, difference * difference * scale);
  return e >= 0.0 ? e : kErrorCap;
}

template <class Rhs>
double Predictions(Rhs& rhs, const Model& model, const Series& series, const Scoring& scoring, int offset) {
  const int D = scoring.D;
  std::vector<double> Y(Size(D)), work(5 * Size(D));
  double total = 0.0;
  for (const int start : scoring.starts) {
    for (int i = 0; i < D; ++i) Y[Size(i)] = StartValue(scoring.start, series, start, i);
    double T = (start - offset + 1) * model.dt;
    bool lost = false;
    for (int j = 1; j <= scoring.horizon; ++j) {
      // The sampling intervals to the next observation: one, or more across a gap.
      const int steps = series.times.empty()
                            ? 1
                            : std::max(1, static_cast<int>(std::lround((series.times[Size(start + j)] -
                                                                         series.times[Size(start + j - 1)]) /
                                                                        model.dt)));
      for (int s = 0; s < steps && !lost; ++s) {
        Rk4Integrate(rhs, D, Y, T, T + model.dt, model.dt, work);
        double L1 = 0.0;
        for (const double v : Y) L1 += std::fabs(v);
        lost = !(L1 < BlowUpLimit);
      }
      for (int i = 0; i < D; ++i) {
        total += lost ? kErrorCap
                      : CappedError(Y[Size(i)] - series.values[Size(start + j) * Size(D) + Size(i)], scoring.scale[Size(i)]);
      }
    }
  }
  const double count = static_cast<double>(scoring.starts.size()) * scoring.horizon * D;
  return count > 0 ? total / count : kInfinity;
}

// A row of lanes fills two AVX2 registers. Without contraction the clones
// compute the same bits, only at different speeds.
ODEFIT_VECTOR_CLONES("avx2", "default")
std::optional<double> LanewisePredictions(const KeptTerms& rhs, const Model& model, const Series& series,
                                          const Scoring& scoring, int offset) {
  const std::size_t D = Size(scoring.D);
  const int horizon = scoring.horizon;
  const std::size_t perStart = Size(horizon) * D;
  const double H = model.dt, c = 0.5 * H;
  std::vector<Lanes> Y(D), Z(D), K1(D), K2(D), K3(D), K4(D), monomials(rhs.MonomialRows());
  for (Lanes& row : monomials) row.fill(1.0);
  std::vector<double> errors(kLanes * perStart);
  // Z = Y + c*K in every lane; false where Z leaves the L1 limit.
  const auto stage = [&](double factor, const std::vector<Lanes>& K) {
    Lanes L1{};
    for (std::size_t i = 0; i < D; ++i) {
      for (std::size_t l = 0; l < kLanes; ++l) {
        Z[i][l] = Y[i][l] + factor * K[i][l];
        L1[l] += std::fabs(Z[i][l]);
      }
    }
    std::array<bool, kLanes> within;
    for (std::size_t l = 0; l < kLanes; ++l) within[l] = L1[l] < BlowUpLimit;
    return within;
  };
  double total = 0.0;
  const std::size_t starts = scoring.starts.size();
  for (std::size_t first = 0; first < starts; first += kLanes) {
    // A last batch fills its spare lanes with its last start and drops their errors.
    const std::size_t used = std::min(kLanes, starts - first);
    Lanes T;
    std::array<int, kLanes> start;
    std::array<bool, kLanes> lost;
    for (std::size_t l = 0; l < kLanes; ++l) {
      start[l] = scoring.starts[first + std::min(l, used - 1)];
      for (std::size_t i = 0; i < D; ++i) Y[i][l] = StartValue(scoring.start, series, start[l], static_cast<int>(i));
      T[l] = (start[l] - offset + 1) * model.dt;
      lost[l] = false;
    }
    std::fill(errors.begin(), errors.end(), kErrorCap);
    KeptTerms::LaneDriving driving;
    for (int j = 1; j <= horizon; ++j) {
      // Rk4Integrate(T, T + H, H): one step, T = T + H after it, and neither a
      // closing step nor an error; where that does not hold, one start at a time.
      Lanes half, full;
      bool oneStep = true;
      for (std::size_t l = 0; l < kLanes; ++l) {
        half[l] = T[l] + 0.5 * H;
        full[l] = T[l] + H;
        oneStep = oneStep && std::isfinite(T[l]) && std::isfinite(full[l]) && full[l] > T[l] &&
                  !(full[l] + H <= full[l]);
      }
      if (!oneStep) return std::nullopt;
      Lanes L1{};
      for (std::size_t i = 0; i < D; ++i) {
        for (std::size_t l = 0; l < kLanes; ++l) L1[l] += std::fabs(Y[i][l]);
      }
      for (std::size_t l = 0; l < kLanes; ++l) lost[l] = lost[l] || L1[l] >= BlowUpLimit;
      rhs.Lanewise(T, Y.data(), K1.data(), monomials.data(), driving);
      std::array<bool, kLanes> within = stage(c, K1);
      for (std::size_t l = 0; l < kLanes; ++l) lost[l] = lost[l] || !within[l];
      rhs.Lanewise(half, Z.data(), K2.data(), monomials.data(), driving);
      within = stage(c, K2);
      for (std::size_t l = 0; l < kLanes; ++l) lost[l] = lost[l] || !within[l];
      rhs.Lanewise(half, Z.data(), K3.data(), monomials.data(), driving);
      within = stage(H, K3);
      for (std::size_t l = 0; l < kLanes; ++l) lost[l] = lost[l] || !within[l];
      rhs.Lanewise(full, Z.data(), K4.data(), monomials.data(), driving);
      L1 = Lanes{};
      for (std::size_t i = 0; i < D; ++i) {
        for (std::size_t l = 0; l < kLanes; ++l) {
          Y[i][l] = Y[i][l] + H * (K1[i][l] + 2.0 * K2[i][l] + 2.0 * K3[i][l] + K4[i][l]) * 0.16666666666666666;
          L1[l] += std::fabs(Y[i][l]);
        }
      }
      // A lane lost keeps the cap; its state is cleared so that it carries no
      // overflow into the lanes' shared work.
      bool allLost = true;
      for (std::size_t l = 0; l < kLanes; ++l) {
        lost[l] = lost[l] || !(L1[l] < BlowUpLimit);
        allLost = allLost && lost[l];
        T[l] = full[l];
      }
      for (std::size_t i = 0; i < D; ++i) {
        const double scale = scoring.scale[i];
        for (std::size_t l = 0; l < kLanes; ++l) {
          if (lost[l]) {
            Y[i][l] = 0.0;
            continue;
          }
          errors[l * perStart + Size(j - 1) * D + i] = CappedError(Y[i][l] - series.values[Size(start[l] + j) * D + i], scale);
        }
      }
      if (allLost) break;
    }
    // One running sum in start, sample, component order, as one start at a time.
    for (std::size_t k = 0; k < used * perStart; ++k) total += errors[k];
  }
  const double count = static_cast<double>(starts) * horizon * scoring.D;
  return count > 0 ? total / count : kInfinity;
}
}  // namespace

}  // namespace odefit::search
