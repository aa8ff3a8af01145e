#include "integration/integrators.h"

#include "numerics/error_stack.h"

namespace odefit::detail {

void StopStepThatCannotAdvance(bool rk4, double T, double H, double TEND) {
  {
    const auto report = [&] {
      SetErrorDouble(1, H);
      SetErrorDouble(2, T);
      SetErrorDouble(3, TEND);
      E1MES(ErrorType::Terminal, 1,
            "The step H = %(d1) cannot advance the time T = %(d2) towards TEND = %(d3): T + H equals T, or the "
            "interval does not end in finite time.");
    };
    if (rk4) {
      RoutineScope routine("Rk4Integrate");
      report();
    } else {
      RoutineScope routine("EulerIntegrate");
      report();
    }
  }
  // A reporter set not to stop on terminal errors still must not loop.
  throw RunStopped();
}

}  // namespace odefit::detail
