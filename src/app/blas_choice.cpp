#include "app/blas_choice.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "numerics/blas_kernels.h"

namespace odefit {

void ChooseBlasKernels(char** argv) {
  if (std::getenv("OPENBLAS_CORETYPE") != nullptr || std::getenv(kBlasChoiceMarker) != nullptr) return;
  const char* pretended = std::getenv(kPretendedCoreTypeForTests);
  const std::string current = pretended != nullptr ? pretended : BlasCoreType();
  if (current.empty()) return;  // another BLAS library: its kernels are its own choice
  const std::optional<std::string> better = BetterCoreType(current, DetectProcessorFeatures());
  if (!better) return;
  if (setenv("OPENBLAS_CORETYPE", better->c_str(), 1) != 0 || setenv(kBlasChoiceMarker, current.c_str(), 1) != 0) {
    return;
  }
  execv("/proc/self/exe", argv);
  // The restart failed: carry on with the library's kernels, and say so in --version.
  unsetenv("OPENBLAS_CORETYPE");
  unsetenv(kBlasChoiceMarker);
}

const char* BlasKernelReport() {
  static const std::string report = [] {
    std::string line = "BLAS: " + BlasKernelDescription();
    if (const char* chosenOver = std::getenv(kBlasChoiceMarker)) {
      line += std::string(" (chosen by odefit for this processor; the library chose ") + chosenOver + ")";
    } else if (std::getenv("OPENBLAS_CORETYPE") != nullptr) {
      line += " (OPENBLAS_CORETYPE)";
    } else {
      line += " (the library's choice)";
    }
    return line;
  }();
  return report.c_str();
}

}  // namespace odefit
