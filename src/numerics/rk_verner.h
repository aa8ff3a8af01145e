#pragma once
// Adaptive Runge-Kutta-Verner solver: integrates Y' = F(X, Y) with an explicit
// eight-stage pair of orders five and six, local error control and automatic
// step-size selection. The solution is advanced with the sixth-order weights.
//
// One RungeKuttaVerner object holds one run's context: workspace, saved step
// state and counters. A run is driven by reverse communication through IDO:
//   IDO = 1  start a run and integrate from X to XEND,
//   IDO = 2  continue from the X and Y of the last return to a new XEND,
//   IDO = 3  end the run (releases the workspace, integrates nothing),
//   IDO = 4  resume after a pre-step return (PARAM(7) nonzero),
//   IDO = 5, 6  resume after a post-step return (PARAM(8) nonzero): finish the
//            step as accepted (5) or rejected (6).
// IDO = 4 to 6 with no such return pending continue the run like IDO = 2.
// On a normal return IDO = 2, X = XEND and Y holds the solution there; the last
// step ends exactly at XEND (no interpolation).
//
// PARAM (50 doubles, 1-based in the comments) is read at IDO = 1; an entry
// <= 0 keeps the default:
//   1 initial step (default: HMAX * TOL^(1/6)),  2 HMIN (computed),
//   3 HMAX (2.0),  4 step limit MS (500),  5 evaluation limit MF (none),
//   7 pre-step return,  8 post-step return,  9 estimate scale S (1.0; when
//   given, HMAX becomes min(HMAX, 2/S)),  10 INORM (0),  11 norm floor (1.0).
// Every return writes PARAM(31) = last signed trial step, 32 = HMIN,
// 33 = HMAX, 34 = accepted steps, 35 = evaluations of F.
//
// Errors go through the error stack (error_stack.h) under the names
// "DIVPRK " and "dI2PRK ". Stopping errors throw RunStopped from E1POP; the
// solver never catches it. When it is thrown for a failed step (type 4), X and
// Y hold the last accepted step. Each call of F reports as the user's routine;
// when F leaves an error of type 4 or more that did not stop the run, the call
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

// One run of the solver at a time per object; separate objects are independent.
class RungeKuttaVerner {
 public:
  // Advances Y from X towards XEND as IDO asks (see the file comment).
  // Y has at least NEQ places, PARAM at least 50; both are read and written.
  void DIVPRK(int& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND, double TOL,
              std::span<double> PARAM, std::span<double> Y);

  // Releases the workspace and marks the run closed, without any message.
  // The caller's way out after catching RunStopped from DIVPRK (it should
  // also unwind the error stack to its own level); harmless when closed.
  void Close() noexcept;

  // Whether a run is open (between IDO = 1 and IDO = 3).
  bool IsOpen() const noexcept { return open_; }

 private:
  // Where a call resumes the step loop.
  enum class Phase { StepStart, TrialStep, FinishAccepted, FinishRejected };
  // What the last return left pending.
  enum class Pending { None, PreStep, PostStep };

  // The solver proper, called by DIVPRK with the workspace in place.
  void dI2PRK(int& IDO, int NEQ, OdeFunctionRef F, double& X, double XEND, double TOL,
              std::span<double> PARAM, std::span<double> Y);
  // Checks the arguments of IDO = 1 and sets the run's defaults; false when
  // an argument was refused (each refusal is reported).
  bool StartRun(int NEQ, double TOL, std::span<const double> PARAM, std::span<const double> Y);
  // Runs the step loop from `phase` until a return point or an error.
  void Integrate(Phase phase, int& IDO, OdeFunctionRef F, double& X, double XEND, double TOL,
                 std::span<double> Y);
  // Evaluates stages 2 to 8 and the trial solution of the step H from (X, Y)
  // and sets the estimate EST; K1 must be in place. False when F raised an
  // error of type 4 or more.
  bool TrialStep(OdeFunctionRef F, double X, double H, std::span<const double> Y);
  // Calls F with the error attribution switched to the user's routine;
  // false when F raised an error of type 4 or more.
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
  int inorm_ = 0;
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
