#include "numerics/rk_verner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

// Machine constants: the smallest positive normalised double and the relative
// spacing of doubles.
constexpr double kTiny = std::numeric_limits<double>::min();
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
static_assert(kTiny == 2.2250738585072014e-308 && kEpsilon == 2.220446049250313e-16);

// (20/9)^6 as the integer-power product of the double nearest 20/9; pow()
// would differ in the last place and move the step-size decisions.
constexpr double IntegerSixthPower(double x) {
  const double x2 = x * x;
  const double x4 = x2 * x2;
  return x4 * x2;
}
constexpr double kGrowthThreshold = IntegerSixthPower(2.2222222222222223);
static_assert(kGrowthThreshold == 120.42729108217097);

constexpr double kSixth = 1.0 / 6.0;

// The pair's coefficients, each the double nearest to its fraction.
constexpr double a21 = 1.0 / 6.0;
constexpr double a31 = 4.0 / 75.0, a32 = 16.0 / 75.0;
constexpr double a41 = 5.0 / 6.0, a42 = -8.0 / 3.0, a43 = 5.0 / 2.0;
constexpr double a51 = -165.0 / 64.0, a52 = 55.0 / 6.0, a53 = -425.0 / 64.0, a54 = 85.0 / 96.0;
constexpr double a61 = 12.0 / 5.0, a62 = -8.0, a63 = 4015.0 / 612.0, a64 = -11.0 / 36.0,
                 a65 = 88.0 / 255.0;
constexpr double a71 = -8263.0 / 15000.0, a72 = 124.0 / 75.0, a73 = -643.0 / 680.0,
                 a74 = -81.0 / 250.0, a75 = 2484.0 / 10625.0;
// a86 is zero.
constexpr double a81 = 3501.0 / 1720.0, a82 = -300.0 / 43.0, a83 = 297275.0 / 52632.0,
                 a84 = -319.0 / 2322.0, a85 = 24068.0 / 84065.0, a87 = 3850.0 / 26703.0;
// Sixth-order weights; b2 and b6 are zero.
constexpr double b1 = 3.0 / 40.0, b3 = 875.0 / 2244.0, b4 = 23.0 / 72.0, b5 = 264.0 / 1955.0,
                 b7 = 125.0 / 11592.0, b8 = 43.0 / 616.0;
// Error weights (fifth-order minus sixth-order weights); e2 is zero.
constexpr double e1 = 1.0 / 160.0, e3 = 125.0 / 17952.0, e4 = -1.0 / 144.0, e5 = 12.0 / 1955.0,
                 e6 = 3.0 / 44.0, e7 = -125.0 / 11592.0, e8 = -43.0 / 616.0;

}  // namespace

void RungeKuttaVerner::DIVPRK(VernerRequest& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND,
                              double TOL, const VernerOptions& options, std::span<double> Y) {
  RoutineScope routine("DIVPRK ");
  const int ido = static_cast<int>(IDO);
  if (ido < 1 || ido > 6) {
    SetErrorInteger(1, ido);
    E1MES(ErrorType::Terminal, 2, "The status indicator IDO = %(i1).  It must be in the range 1 to 6.");
    return;
  }
  if (NEQ < 1) {
    SetErrorInteger(1, NEQ);
    E1MES(ErrorType::Terminal, 1, "The number of equations NEQ = %(i1).  It must be at least 1.");
    return;
  }
  // An open run integrates n_ equations whatever NEQ says now.
  const std::size_t needed = std::max(std::size_t(NEQ), open_ ? n_ : 0);
  if (IDO != VernerRequest::End && Y.size() < needed) {
    SetErrorInteger(1, static_cast<long long>(Y.size()));
    SetErrorInteger(2, static_cast<long long>(needed));
    E1MES(ErrorType::Terminal, 3, "The storage given for Y holds %(I1) values while %(I2) are needed.");
    return;
  }
  // An open run keeps its workspace; the core refuses the second start.
  if (IDO == VernerRequest::Start && !open_) {
    bool allocated = true;
    try {
      workspace_.assign(10 * std::size_t(NEQ), 0.0);
      n_ = std::size_t(NEQ);
    } catch (const std::bad_alloc&) {
      allocated = false;
    } catch (const std::length_error&) {
      allocated = false;
    }
    if (!allocated) {
      SetErrorInteger(1, NEQ);
      E1MES(ErrorType::Terminal, 8,
            "The required storage cannot be allocated.  Workspace allocation based on NEQ = "
            "%(i1).");
      return;
    }
  }
  dI2PRK(IDO, NEQ, F, X, XEND, TOL, options, Y);
  if (!open_) std::vector<double>().swap(workspace_);
}

void RungeKuttaVerner::Close() noexcept {
  open_ = false;
  std::vector<double>().swap(workspace_);
  n_ = 0;
  endReached_ = false;
  pending_ = Pending::None;
}

void RungeKuttaVerner::dI2PRK(VernerRequest& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND,
                              double TOL, const VernerOptions& options, std::span<double> Y) {
  RoutineScope routine("dI2PRK ");
  bool proceed = false;
  Phase phase = Phase::StepStart;
  const int ido = static_cast<int>(IDO);
  if (ido < 1 || ido > 6) {
    SetErrorInteger(1, ido);
    E1MES(ErrorType::Terminal, 2, "The status indicator IDO = %(I1).  It must be in the range 1 to 6.");
  } else if (IDO == VernerRequest::Start && open_) {
    E1MES(ErrorType::Terminal, 8,
          "IDO = 1.  IDO can only be set to 1 in the initial call to the routine, or if the "
          "previous call was made with IDO = 3.");
  } else if (IDO != VernerRequest::Start && !open_) {
    SetErrorInteger(1, ido);
    E1MES(ErrorType::Terminal, 9,
          "IDO has been set to %(I1), but the routine has not been initialized in a call with "
          "IDO = 1.");
  } else if (IDO == VernerRequest::Start) {
    // Open before the checks, so that a caller who catches a refusal closes
    // the run with Close() like after any other stop.
    open_ = true;
    proceed = StartRun(NEQ, TOL, options, Y);
  } else if (IDO == VernerRequest::End) {
    open_ = false;
    endReached_ = false;
    pending_ = Pending::None;
  } else if (IDO == VernerRequest::ResumeAfterPreStep && pending_ == Pending::PreStep) {
    phase = Phase::TrialStep;
    proceed = true;
  } else if ((IDO == VernerRequest::AcceptStep || IDO == VernerRequest::RejectStep) &&
             pending_ == Pending::PostStep) {
    phase = IDO == VernerRequest::AcceptStep ? Phase::FinishAccepted : Phase::FinishRejected;
    proceed = true;
  } else {
    // Continue, or a resume request with nothing to resume: continue the run.
    proceed = true;
    if (endReached_) {
      if (X != xLast_) {
        SetErrorDouble(1, X);
        E1MES(ErrorType::Terminal, 5, "Independent variable X = %(d1) is changed from the previous call.");
        proceed = false;
      }
      if (XEND == xLast_) {
        SetErrorDouble(1, XEND);
        E1MES(ErrorType::Terminal, 6, "Final point XEND = %(d1) is not changed from the previous call.");
        proceed = false;
      }
    }
    if (proceed) endReached_ = false;
  }

  if (proceed) {
    pending_ = Pending::None;
    Integrate(phase, IDO, F, X, XEND, TOL, Y);
  }
}

bool RungeKuttaVerner::StartRun(int NEQ, double TOL, const VernerOptions& options, std::span<const double> Y) {
  bool valid = true;
  if (NEQ < 1) {
    SetErrorInteger(1, NEQ);
    E1MES(ErrorType::Terminal, 1, "The number of equations NEQ = %(I1).  It must be at least 1.");
    valid = false;
  }
  if (!(TOL > 0.0)) {
    SetErrorDouble(1, TOL);
    E1MES(ErrorType::Terminal, 3, "The tolerance TOL = %(d1).  It must be greater than 0.0.");
    valid = false;
  }
  const int inorm = static_cast<int>(options.norm);
  if (inorm > 3) {
    SetErrorDouble(1, inorm);
    E1MES(ErrorType::Terminal, 10, "The argument PARAM(10) = INORM = %(d1).  It must be less than four.");
    valid = false;
  }
  // The settings in their places of the classic argument vector, for the messages.
  const std::pair<int, double> places[] = {
      {1, options.initialStep},     {2, options.minimumStep},    {3, options.maximumStep},
      {4, double(options.stepLimit)}, {5, double(options.evaluationLimit)}, {9, options.estimateScale},
      {10, double(inorm)},          {11, options.normFloor}};
  for (const auto& [place, value] : places) {
    if (value < 0.0) {
      SetErrorInteger(1, place);
      SetErrorDouble(1, value);
      E1MES(ErrorType::Terminal, 4, "Argument PARAM(%(I1)) = %(d1).  It cannot be negative.");
      valid = false;
    }
  }
  if (!valid) return false;

  h0_ = options.initialStep > 0.0 ? options.initialStep : 0.0;
  hmin_ = options.minimumStep > 0.0 ? options.minimumStep : 0.0;
  hmax_ = options.maximumStep > 0.0 ? options.maximumStep : 2.0;
  ms_ = options.stepLimit > 0 ? options.stepLimit : 500;
  mf_ = options.evaluationLimit > 0 ? options.evaluationLimit : 0;
  preStep_ = options.preStepReturn;
  postStep_ = options.postStepReturn;
  scale_ = 1.0;
  if (options.estimateScale > 0.0) {
    scale_ = options.estimateScale;
    hmax_ = std::min(hmax_, 2.0 / scale_);
  }
  norm_ = inorm > 0 ? options.norm : VernerNorm::RelativeToSolution;
  normFloor_ = options.normFloor > 0.0 ? options.normFloor : 1.0;

  const std::span<double> m = Stage(10);
  for (std::size_t i = 0; i < n_; ++i) m[i] = std::fabs(Y[i]);
  est_ = 0.0;
  ns_ = nf_ = 0;
  rejections_ = 0;
  h_ = 0.0;
  endReached_ = false;
  pending_ = Pending::None;
  // Half the first step: the first step-size update doubles it.
  hm_ = h0_ > 0.0 ? h0_ / 2.0 : hmax_ * std::pow(TOL, kSixth) / 2.0;
  return true;
}

void RungeKuttaVerner::Integrate(Phase phase, VernerRequest& IDO, OdeFunctionRef F, double& X, double XEND,
                                 double TOL, std::span<double> Y) {
  const std::span<double> k1 = Stage(1), yt = Stage(9), m = Stage(10);
  const std::span<double> y = Y.first(n_);
  for (;;) {
    switch (phase) {
      case Phase::StepStart: {
        // A retry of a rejected step keeps K1 and needs one evaluation less.
        const bool retry = rejections_ > 0;
        if (mf_ > 0 && mf_ < nf_ + (retry ? 7 : 8)) {
          SetErrorInteger(1, nf_ + (retry ? 7 : 8));
          SetErrorInteger(2, mf_);
          E1MES(ErrorType::Fatal, 2,
                "Completion of the next step would make the number of function evaluations %(I1), "
                "but only %(I2) evaluations are allowed.");
          return;
        }
        if (ms_ > 0 && ns_ >= ms_) {
          SetErrorInteger(1, ms_);
          E1MES(ErrorType::Fatal, 3, "Maximum number of steps allowed, %(I1), used.  The problem may be stiff.");
          return;
        }
        if (!retry) {
          ++nf_;
          if (!Evaluate(F, X, y, k1)) return;
        }
        if (hmin_ == 0.0) {  // computed once, at the run's first step
          hmin_ = 10.0 * std::max(kEpsilon * std::max(std::fabs(X), std::fabs(XEND)), kTiny);
        }
        if (hmax_ < hmin_) {
          SetErrorDouble(1, hmin_);
          SetErrorDouble(2, hmax_);
          E1MES(ErrorType::Terminal, 7, "HMIN = %(d1) is greater than HMAX = %(d2).");
          return;
        }
        double hn;
        if (rejections_ < 2) {
          double ht = 2.0 * hm_;
          // A NaN estimate fails this test and the step grows; the NaN step
          // itself was rejected, and repeated rejections halve it below.
          if (kGrowthThreshold * est_ > TOL) ht = 0.9 * hm_ * std::pow(TOL / est_, kSixth);
          hn = std::max(0.5 * hm_, ht);
        } else {
          hn = 0.5 * hm_;
        }
        hm_ = std::max(std::min(hn, hmax_), hmin_);
        if (preStep_) {
          IDO = VernerRequest::ResumeAfterPreStep;
          pending_ = Pending::PreStep;
          return;
        }
        phase = Phase::TrialStep;
        break;
      }
      case Phase::TrialStep: {
        const double r = XEND - X;
        if (std::fabs(r) <= hm_) {
          xTrial_ = XEND;
          hm_ = std::fabs(r);
        } else {
          // Between one and two steps left: two equal halves.
          hm_ = std::min(std::fabs(r) / 2.0, hm_);
          xTrial_ = r > 0.0 ? X + hm_ : X - hm_;
        }
        h_ = xTrial_ - X;
        if (!TrialStep(F, X, h_, y)) return;
        // A NaN estimate fails the test: the step is rejected.
        const bool accepted = est_ <= TOL;
        IDO = accepted ? VernerRequest::AcceptStep : VernerRequest::RejectStep;
        if (postStep_) {
          pending_ = Pending::PostStep;
          return;
        }
        phase = accepted ? Phase::FinishAccepted : Phase::FinishRejected;
        break;
      }
      case Phase::FinishAccepted: {
        X = xTrial_;
        for (std::size_t i = 0; i < n_; ++i) {
          y[i] = yt[i];
          m[i] = std::max(m[i], std::fabs(y[i]));
        }
        ++ns_;
        rejections_ = 0;
        if (X == XEND) {
          IDO = VernerRequest::Continue;
          xLast_ = X;
          endReached_ = true;
          return;
        }
        phase = Phase::StepStart;
        break;
      }
      case Phase::FinishRejected: {
        ++rejections_;
        if (hmin_ < hm_) {
          phase = Phase::StepStart;
          break;
        }
        SetErrorDouble(1, TOL);
        E1MES(ErrorType::Fatal, 1, "Unable to satisfy the error requirement.  TOL = %(d1) may be too small.");
        return;
      }
    }
  }
}

bool RungeKuttaVerner::Evaluate(OdeFunctionRef F, double X, std::span<const double> Y,
                                std::span<double> DY) {
  E1USR("ON");
  try {
    F(int(n_), X, Y, DY);
  } catch (...) {
    E1USR("OFF");  // routines called later are internal again
    throw;
  }
  E1USR("OFF");
  return N1RTY(1) < static_cast<int>(ErrorType::Fatal);
}

bool RungeKuttaVerner::TrialStep(OdeFunctionRef F, double X, double H, std::span<const double> Y) {
  const std::size_t n = n_;
  const double* y = Y.data();
  const double* k1 = Stage(1).data();
  double* k2 = Stage(2).data();
  double* k3 = Stage(3).data();
  double* k4 = Stage(4).data();
  double* k5 = Stage(5).data();
  double* k6 = Stage(6).data();
  double* k7 = Stage(7).data();
  double* k8 = Stage(8).data();
  // Each stage's state is formed in the trial-solution slot, which takes the
  // trial solution itself once the last stage is evaluated. The zero
  // coefficients (a86, b2, b6, e2) are left out: for finite K they add
  // nothing, and a non-finite K2 or K6 spoils the estimate anyway.
  const std::span<double> yt = Stage(9);
  double* s = yt.data();
  const auto stage = [&](double x, double* k) {
    ++nf_;
    return Evaluate(F, x, yt, std::span<double>(k, n));
  };

  for (std::size_t i = 0; i < n; ++i) s[i] = y[i] + H * (a21 * k1[i]);
  if (!stage(X + H / 6.0, k2)) return false;
  for (std::size_t i = 0; i < n; ++i) s[i] = y[i] + H * (a31 * k1[i] + a32 * k2[i]);
  if (!stage(X + 4.0 * H / 15.0, k3)) return false;
  for (std::size_t i = 0; i < n; ++i) s[i] = y[i] + H * (a41 * k1[i] + a42 * k2[i] + a43 * k3[i]);
  if (!stage(X + 2.0 * H / 3.0, k4)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = y[i] + H * (a51 * k1[i] + a52 * k2[i] + a53 * k3[i] + a54 * k4[i]);
  }
  if (!stage(X + 5.0 * H / 6.0, k5)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = y[i] + H * (a61 * k1[i] + a62 * k2[i] + a63 * k3[i] + a64 * k4[i] + a65 * k5[i]);
  }
  if (!stage(X + H, k6)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = y[i] + H * (a71 * k1[i] + a72 * k2[i] + a73 * k3[i] + a74 * k4[i] + a75 * k5[i]);
  }
  if (!stage(X + H / 15.0, k7)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = y[i] +
           H * (a81 * k1[i] + a82 * k2[i] + a83 * k3[i] + a84 * k4[i] + a85 * k5[i] + a87 * k7[i]);
  }
  if (!stage(X + H, k8)) return false;

  for (std::size_t i = 0; i < n; ++i) {
    s[i] = y[i] + H * (b1 * k1[i] + b3 * k3[i] + b4 * k4[i] + b5 * k5[i] + b7 * k7[i] + b8 * k8[i]);
  }
  est_ = hm_ * ErrorNorm(Y) * scale_;
  return true;
}

double RungeKuttaVerner::ErrorNorm(std::span<const double> Y) const {
  const std::size_t n = n_;
  const double* k1 = Stage(1).data();
  const double* k3 = Stage(3).data();
  const double* k4 = Stage(4).data();
  const double* k5 = Stage(5).data();
  const double* k6 = Stage(6).data();
  const double* k7 = Stage(7).data();
  const double* k8 = Stage(8).data();
  const double* m = Stage(10).data();
  // The error vector: the difference of the fifth- and sixth-order solutions
  // divided by the step.
  const auto e = [&](std::size_t i) {
    return e1 * k1[i] + e3 * k3[i] + e4 * k4[i] + e5 * k5[i] + e6 * k6[i] + e7 * k7[i] + e8 * k8[i];
  };
  if (norm_ == VernerNorm::RelativeToLargest) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double v = e(i) / std::max(std::fabs(m[i]), 1.0);
      sum += v * v;
    }
    return std::sqrt(sum);
  }
  // The maximum keeps a NaN once it appears (std::max would drop it), so an
  // overflowed trial step is always rejected.
  double norm = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double v = std::fabs(e(i));
    if (norm_ == VernerNorm::RelativeToSolution) v /= std::max(std::fabs(Y[i]), 1.0);
    if (norm_ == VernerNorm::RelativeToFloor) v /= std::max(std::fabs(Y[i]), normFloor_);
    if (v > norm || std::isnan(v)) norm = v;
  }
  return norm;
}

}  // namespace odefit
