#include "numerics/blas_kernels.h"

#include <gtest/gtest.h>

namespace odefit {
namespace {

ProcessorFeatures Avx2() {
  ProcessorFeatures f;
  f.avx2 = f.fma = true;
  return f;
}
ProcessorFeatures Avx512(bool bf16) {
  ProcessorFeatures f = Avx2();
  f.avx512f = f.avx512cd = f.avx512bw = f.avx512dq = f.avx512vl = true;
  f.avx512bf16 = bf16;
  return f;
}

TEST(BlasKernels, AGenericChoiceIsRaisedToTheBestTheProcessorCanRunAndNoFurther) {
  EXPECT_EQ(BetterCoreType("Prescott", Avx512(true)), "Cooperlake");
  EXPECT_EQ(BetterCoreType("Prescott", Avx512(false)), "SkylakeX");
  EXPECT_EQ(BetterCoreType("Nehalem", Avx2()), "Haswell");
  EXPECT_EQ(BetterCoreType("Sandybridge", Avx512(false)), "SkylakeX");
  EXPECT_EQ(BetterCoreType("SomethingNew", Avx2()), "Haswell");
  // Nothing better, or nothing the processor has.
  EXPECT_EQ(BetterCoreType("Cooperlake", Avx512(true)), std::nullopt);
  EXPECT_EQ(BetterCoreType("SkylakeX", Avx512(false)), std::nullopt);
  EXPECT_EQ(BetterCoreType("Zen", Avx2()), std::nullopt);
  EXPECT_EQ(BetterCoreType("Prescott", ProcessorFeatures{}), std::nullopt);
  ProcessorFeatures partial = Avx512(true);
  partial.avx512vl = false;  // no full AVX-512: AVX2 kernels at most
  EXPECT_EQ(BetterCoreType("Prescott", partial), "Haswell");
}

TEST(BlasKernels, TheKernelsInUseAreNamed) {
  const std::string description = BlasKernelDescription();
  EXPECT_FALSE(description.empty());
  if (!BlasCoreType().empty()) {
    EXPECT_NE(description.find(BlasCoreType()), std::string::npos) << description;
  }
}

}  // namespace
}  // namespace odefit
