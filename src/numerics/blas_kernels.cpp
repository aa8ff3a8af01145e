#include "numerics/blas_kernels.h"

#include <cblas.h>

#include <string_view>

namespace odefit {
namespace {

// Core types by the kernels they run, weakest first; unknown names rank as
// the generic ones, so a processor the library did not recognise is helped.
int Rank(std::string_view core) {
  if (core == "Cooperlake" || core == "SapphireRapids") return 3;
  if (core == "SkylakeX") return 2;
  if (core == "Haswell" || core == "Zen") return 1;
  return 0;
}

}  // namespace

ProcessorFeatures DetectProcessorFeatures() {
  ProcessorFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.avx2 = __builtin_cpu_supports("avx2");
  f.fma = __builtin_cpu_supports("fma");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512cd = __builtin_cpu_supports("avx512cd");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
  f.avx512dq = __builtin_cpu_supports("avx512dq");
  f.avx512vl = __builtin_cpu_supports("avx512vl");
  f.avx512bf16 = __builtin_cpu_supports("avx512bf16");
#endif
  return f;
}

std::optional<std::string> BetterCoreType(const std::string& current, const ProcessorFeatures& f) {
  const bool avx512 = f.avx512f && f.avx512cd && f.avx512bw && f.avx512dq && f.avx512vl && f.avx2 && f.fma;
  std::string best;
  int rank = 0;
  if (avx512 && f.avx512bf16) {
    best = "Cooperlake";
    rank = 3;
  } else if (avx512) {
    best = "SkylakeX";
    rank = 2;
  } else if (f.avx2 && f.fma) {
    best = "Haswell";
    rank = 1;
  }
  if (rank > Rank(current)) return best;
  return std::nullopt;
}

std::string BlasCoreType() {
#ifdef ODEFIT_HAVE_OPENBLAS
  const char* core = openblas_get_corename();
  return core ? core : "";
#else
  return "";
#endif
}

std::string BlasKernelDescription() {
#ifdef ODEFIT_HAVE_OPENBLAS
  std::string config = openblas_get_config();
  // "OpenBLAS 0.3.21 NO_LAPACKE DYNAMIC_ARCH ...": the name and version.
  const auto second = config.find(' ', config.find(' ') + 1);
  return config.substr(0, second) + ", " + BlasCoreType() + " kernels";
#else
  return "a BLAS library other than OpenBLAS (its kernels are its own choice)";
#endif
}

}  // namespace odefit
