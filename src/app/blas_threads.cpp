// A library of its own for one initialiser: the program's BLAS library
// would start its thread pool when it is initialised, before main, and
// nothing the program runs uses the pool. The dynamic loader initialises the
// libraries a program needs after their own dependencies and otherwise last
// needed first, so this library, needed after OpenBLAS and needing nothing,
// runs its initialiser before OpenBLAS's (tests check that only one BLAS
// thread runs). Its setting is taken back out of the environment in main
// (RestoreBlasEnvironment), so the environment stays the user's.
#include <cstdlib>

#include "app/blas_choice.h"

namespace {

[[gnu::constructor]] void OneBlasThread() {
  if (std::getenv("OPENBLAS_NUM_THREADS") != nullptr || std::getenv("GOTO_NUM_THREADS") != nullptr ||
      std::getenv("OMP_NUM_THREADS") != nullptr) {
    return;  // the user's choice
  }
  if (setenv("OPENBLAS_NUM_THREADS", "1", 1) == 0) setenv(odefit::kBlasThreadsMarker, "1", 1);
}

}  // namespace

extern "C" [[gnu::visibility("default")]] void odefit_program_libraries() {}
