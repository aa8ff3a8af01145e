#pragma once
// Adaptive Runge-Kutta-Verner solver: integrates Y' = F(X, Y) with an explicit
// eight-stage pair of orders five and six, local error control and automatic
// step-size selection. The solution is advanced with the sixth-order weights.
//
// One RungeKuttaVerner object holds one run's context: workspace, saved step
// state and counters. A run is driven by reverse communication through the
// request IDO (VernerRequest):
//   Start               start a run and integrate from X to XEND,
//   Continue            continue from the X and Y of the last return to a new XEND,
//   End                 end the run (releases the workspace, integrates nothing),
//   ResumeAfterPreStep  resume after a pre-step return (preStepReturn set),
//   AcceptStep, RejectStep  resume after a post-step return (postStepReturn
//                       set): finish the step as accepted or rejected.
// The resume requests with no such return pending continue the run like
// Continue. On a normal return IDO = Continue, X = XEND and Y holds the
// solution there; the last step ends exactly at XEND (no interpolation). A
// pre-step return leaves IDO = ResumeAfterPreStep, a post-step return
// AcceptStep or RejectStep.
//
// VernerOptions are read at Start; a field <= 0 keeps the default. Statistics()
// gives the last trial step, HMIN, HMAX and the counters after every return.
//
// Errors go to the thread's error reporter (error_stack.h) under the names
// "DIVPRK " and "dI2PRK ". Stopping errors throw RunStopped; the solver never
// catches it. When it is thrown for a failed step (type Fatal), X and Y hold
// the last accepted step. Each call of F reports as the user's routine; when F
// leaves an error of type Fatal or more that did not stop the run, the call
// returns at once with X and Y at the last accepted step.

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace odefit {

// Non-owning reference to a right-hand side F(N, X, Y, DY) that writes
// DY(1..N) = f(X, Y(1..N)). Two pointers, cheap to pass by value; the callable
// it refers to must outlive every call made through it.
class OdeFunctionRef {
 public:
  using Signature = void(int N, double X, std::span<const double> Y, std::span<double> DY);

  OdeFunctionRef(Signature* function) noexcept : call_(&CallFunction) {
    target_.function = function;
  }

  template <typename Callable>
    requires(!std::is_same_v<std::remove_cvref_t<Callable>, OdeFunctionRef> &&
             !std::is_function_v<std::remove_reference_t<Callable>> &&
             std::is_invocable_v<Callable&, int, double, std::span<const double>,
                                 std::span<double>>)
  OdeFunctionRef(Callable&& callable) noexcept
      : call_(&CallObject<std::remove_reference_t<Callable>>) {
    target_.object = const_cast<void*>(static_cast<const void*>(std::addressof(callable)));
  }

  void operator()(int N, double X, std::span<const double> Y, std::span<double> DY) const {
    call_(target_, N, X, Y, DY);
  }

 private:
  union Target {
    void* object;
    Signature* function;
  };
  using Trampoline = void (*)(Target, int, double, std::span<const double>, std::span<double>);

  static void CallFunction(Target t, int N, double X, std::span<const double> Y,
                           std::span<double> DY) {
    t.function(N, X, Y, DY);
  }
  template <typename Callable>
  static void CallObject(Target t, int N, double X, std::span<const double> Y,
                         std::span<double> DY) {
    (*static_cast<Callable*>(t.object))(N, X, Y, DY);
  }

  Target target_;
  Trampoline call_;
};

// The request a call of DIVPRK makes, and on return what the solver asks for
// next (IDO).
enum class VernerRequest : int {
  Start = 1,
  Continue = 2,
  End = 3,
  ResumeAfterPreStep = 4,
  AcceptStep = 5,
  RejectStep = 6,
};

// How the error vector E of a step is measured against the start-of-step
// solution Y (or M, the largest |Y(i)| met in the run).
enum class VernerNorm : int {
  RelativeToSolution = 0,  // max |E(i)| / max(|Y(i)|, 1)
  Absolute = 1,            // max |E(i)|
  RelativeToFloor = 2,     // max |E(i)| / max(|Y(i)|, normFloor)
  RelativeToLargest = 3,   // sqrt(sum (E(i) / max(|M(i)|, 1))^2)
};

// Settings of a run, read at Start. A value <= 0 keeps the default; none may
// be negative. The messages about them name their places in the solver's
// classic argument vector, PARAM(1) to PARAM(11).
struct VernerOptions {
  double initialStep = 0.0;      // PARAM(1), default HMAX * TOL^(1/6)
  double minimumStep = 0.0;      // PARAM(2) HMIN, default computed at the first step
  double maximumStep = 0.0;      // PARAM(3) HMAX, default 2.0
  long long stepLimit = 0;       // PARAM(4), accepted steps in the run, default 500
  long long evaluationLimit = 0; // PARAM(5), evaluations of F in the run, default none
  bool preStepReturn = false;    // PARAM(7): return before every step
  bool postStepReturn = false;   // PARAM(8): return after every step
  double estimateScale = 0.0;    // PARAM(9) S, factor on the estimate, default 1.0; given, HMAX <= 2/S
  VernerNorm norm = VernerNorm::RelativeToSolution;  // PARAM(10) INORM
  double normFloor = 0.0;        // PARAM(11), floor of RelativeToFloor, default 1.0
};

// What a run reports after every return.
struct VernerStatistics {
  double lastTrialStep = 0.0;   // signed
  double minimumStep = 0.0;     // HMIN in force (0 before the first step)
  double maximumStep = 0.0;     // HMAX in force
  long long acceptedSteps = 0;  // in the run
  long long evaluations = 0;    // of F in the run
};

// One run of the solver at a time per object; separate objects are independent.
class RungeKuttaVerner {
 public:
  // Advances Y from X towards XEND as IDO asks (see the file comment).
  // Y has at least NEQ places; `options` are read at Start only.
  void DIVPRK(VernerRequest& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND, double TOL,
              const VernerOptions& options, std::span<double> Y);

  // The last trial step, HMIN, HMAX and the counters of the run.
  VernerStatistics Statistics() const noexcept { return {h_, hmin_, hmax_, ns_, nf_}; }

  // Releases the workspace and marks the run closed, without any message.
  // The caller's way out after catching RunStopped from DIVPRK; harmless
  // when closed.
  void Close() noexcept;

  // Whether a run is open (between Start and End).
  bool IsOpen() const noexcept { return open_; }

 private:
  // Where a call resumes the step loop.
  enum class Phase { StepStart, TrialStep, FinishAccepted, FinishRejected };
  // What the last return left pending.
  enum class Pending { None, PreStep, PostStep };

  // The solver proper, called by DIVPRK with the workspace in place.
  void dI2PRK(VernerRequest& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND, double TOL,
              const VernerOptions& options, std::span<double> Y);
  // Checks the arguments of Start and sets the run's defaults; false when
  // an argument was refused (each refusal is reported).
  bool StartRun(int NEQ, double TOL, const VernerOptions& options, std::span<const double> Y);
  // Runs the step loop from `phase` until a return point or an error.
  void Integrate(Phase phase, VernerRequest& IDO, OdeFunctionRef F, double& X, double XEND, double TOL,
                 std::span<double> Y);
  // Evaluates stages 2 to 8 and the trial solution of the step H from (X, Y)
  // and sets the estimate EST; K1 must be in place. False when F raised an
  // error of type Fatal or more.
  bool TrialStep(OdeFunctionRef F, double X, double H, std::span<const double> Y);
  // Calls F with the error attribution switched to the user's routine;
  // false when F raised an error of type Fatal or more.
  bool Evaluate(OdeFunctionRef F, double X, std::span<const double> Y, std::span<double> DY);
  // Returns the chosen norm of the error vector formed from K1..K8, relative
  // to the start-of-step solution Y (or to M for INORM = 3).
  double ErrorNorm(std::span<const double> Y) const;

  // Slot j (1-based) of the workspace: K1..K8, 9 the trial solution, 10 M.
  std::span<double> Stage(int j) { return {workspace_.data() + std::size_t(j - 1) * n_, n_}; }
  std::span<const double> Stage(int j) const {
    return {workspace_.data() + std::size_t(j - 1) * n_, n_};
  }

  // Workspace of 10*NEQ doubles: K1..K8, then the trial solution (which also
  // holds each stage's state while the stages are formed), then M, the
  // largest |Y(i)| met in the run.
  std::vector<double> workspace_;
  std::size_t n_ = 0;
  bool open_ = false;

  // Settings of the run.
  double h0_ = 0.0, hmin_ = 0.0, hmax_ = 2.0, scale_ = 1.0, normFloor_ = 1.0;
  long long ms_ = 500, mf_ = 0;
  VernerNorm norm_ = VernerNorm::RelativeToSolution;
  bool preStep_ = false, postStep_ = false;

  // Step state saved between calls.
  double hm_ = 0.0;      // current step magnitude
  double h_ = 0.0;       // signed trial step
  double xTrial_ = 0.0;  // trial point
  double est_ = 0.0;     // error estimate of the last trial step
  long long ns_ = 0, nf_ = 0;
  int rejections_ = 0;  // consecutive rejected steps
  double xLast_ = 0.0;  // X of the last return at XEND
  bool endReached_ = false;
  Pending pending_ = Pending::None;
};

}  // namespace odefit
