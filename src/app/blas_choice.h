#pragma once
// The BLAS library's settings for the program. Nothing the program runs
// calls the BLAS library's level-3 routines (the large fits run kernels of
// their own), so it has no use for OpenBLAS's thread pool, and none for a
// choice of its kernels: the program keeps the library's kernels and starts
// once. The pool would be started when the library is initialised, before
// main; its threads can wait forever for storage a memory limit refuses, and
// the program's exit waits for them. So, unless the user set a thread count,
// the program asks for one thread before OpenBLAS is initialised (the library
// odefit_blas_threads, blas_threads.cpp) and takes the setting back out of
// the environment in main.

extern "C" {
// Defined in odefit_blas_threads, which the loader found in the folder of the
// program's own libraries: its address names that folder (dladdr).
void odefit_program_libraries();
}

namespace odefit {

// The environment variable that marks OPENBLAS_NUM_THREADS as set by the
// program itself (and to be removed in main).
inline constexpr const char* kBlasThreadsMarker = "ODEFIT_SET_BLAS_THREADS";

// Removes the thread count the program set before the libraries were
// initialised, so that the environment is the user's again. Call first in main.
void RestoreBlasEnvironment();

// One line for --version: the BLAS library and the kernels it runs, who chose
// them, the core type to set when the processor runs better ones, and its
// threads.
const char* BlasKernelReport();

}  // namespace odefit
