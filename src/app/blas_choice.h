#pragma once
// The BLAS kernels the program runs with. OpenBLAS picks its kernels when it
// is loaded, from the processor it recognises; on a processor model newer
// than the library it falls back to generic kernels, several times slower.
// OpenBLAS reads OPENBLAS_CORETYPE only when it is loaded, so the program
// sets it and starts itself again.

namespace odefit {

// The environment variable that marks a program started again with kernels
// it chose; its value is the library's own choice. It also stops a second restart.
inline constexpr const char* kBlasChoiceMarker = "ODEFIT_BLAS_CHOSEN";

// For tests only: the core type the program takes for the library's choice
// instead of asking the library, so that a restart can be seen on a machine
// whose library already chooses well.
inline constexpr const char* kPretendedCoreTypeForTests = "ODEFIT_TEST_PRETEND_BLAS_CORETYPE";

// When the user has not set OPENBLAS_CORETYPE and the processor runs better
// kernels than the library chose (BetterCoreType), sets it and replaces the
// process by the program again with the same arguments (argv as main got
// it). Returns when nothing is to be done or the restart fails; the program
// then carries on with the library's kernels.
void ChooseBlasKernels(char** argv);

// One line for --version: the kernels in use and who chose them.
const char* BlasKernelReport();

}  // namespace odefit
