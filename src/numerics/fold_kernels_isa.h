#pragma once
// The kernels of each instruction set, defined in files compiled for it.

#include "numerics/fold_kernels.h"

#if defined(__x86_64__) && !defined(ODEFIT_FOLD_NO_X86)
#define ODEFIT_FOLD_X86 1
#else
#define ODEFIT_FOLD_X86 0
#endif

namespace odefit::fold {
#if ODEFIT_FOLD_X86
namespace avx512 {
extern const Kernels kKernels;
}
namespace avx2 {
extern const Kernels kKernels;
}
#endif
namespace generic {
extern const Kernels kKernels;
}
}  // namespace odefit::fold
