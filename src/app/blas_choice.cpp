#include "app/blas_choice.h"

#include <cblas.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "numerics/blas_kernels.h"

namespace odefit {


void RestoreBlasEnvironment() {
  if (std::getenv(kBlasThreadsMarker) == nullptr) return;
  unsetenv("OPENBLAS_NUM_THREADS");
  unsetenv(kBlasThreadsMarker);
}

const char* BlasKernelReport() {
  static const std::string report = [] {
    std::string line = "BLAS: " + BlasKernelDescription();
    const std::string current = BlasCoreType();
    if (std::getenv("OPENBLAS_CORETYPE") != nullptr) {
      line += " (OPENBLAS_CORETYPE)";
    } else if (const std::optional<std::string> better = BetterCoreType(current, DetectProcessorFeatures());
               better && !current.empty()) {
      line += " (the library's choice; this processor runs " + *better + " kernels: OPENBLAS_CORETYPE=" + *better +
              " chooses them)";
    } else {
      line += " (the library's choice)";
    }
#ifdef ODEFIT_HAVE_OPENBLAS
    const int threads = openblas_get_num_threads();
    line += ", " + std::to_string(threads) + (threads == 1 ? " thread" : " threads");
#endif
    return line;
  }();
  return report.c_str();
}

}  // namespace odefit
