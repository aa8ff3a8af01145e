#pragma once
// Which kernels the BLAS library runs on this processor, and a better choice
// when its own detection fell back to generic ones.
//
// A BLAS library that does not know a new processor model picks kernels for
// an old one (SSE3 "Prescott" on a processor with AVX-512), and large fits
// then run several times slower than the machine allows. OpenBLAS reads its
// core type from OPENBLAS_CORETYPE once, when it is loaded, so the program
// chooses it for itself: at start it checks the kernels in use and, when a
// better core type exists whose instructions the processor has and the user
// has not set one, starts itself again with that choice.

#include <optional>
#include <string>

namespace odefit {

// The vector instructions that decide which kernels a processor can run.
struct ProcessorFeatures {
  bool avx2 = false, fma = false;
  bool avx512f = false, avx512cd = false, avx512bw = false, avx512dq = false, avx512vl = false;
  bool avx512bf16 = false;
};

// Returns the features of the processor this runs on.
ProcessorFeatures DetectProcessorFeatures();

// Returns the core type to ask for instead of `current` (the library's
// choice), or nothing when `current` is as good as any the processor can
// run: Cooperlake (AVX-512 with BF16), SkylakeX (AVX-512), Haswell (AVX2,
// FMA), in this order.
std::optional<std::string> BetterCoreType(const std::string& current, const ProcessorFeatures& features);

// Returns the BLAS library and its kernels, e.g. "OpenBLAS 0.3.21, Cooperlake
// kernels", for --version and benchmark reports.
std::string BlasKernelDescription();

// Returns the core type OpenBLAS runs ("" for another BLAS).
std::string BlasCoreType();

}  // namespace odefit
