#pragma once
// Copies of a hot loop for wider vector units, one chosen when the program
// is loaded (the compiler's target_clones). With -ffp-contract=off every copy
// computes the same bits, only at its own speed; a loop whose copies the
// compiler could fuse anyway (a complex product's multiply-subtract) must not
// have them.
//
// None under ThreadSanitizer: the loader runs the choosing function before
// the sanitizer's runtime is ready, and the instrumented function crashes
// the program at its start. None where the compiler or processor family has
// no such copies.

#if defined(__SANITIZE_THREAD__)
#define ODEFIT_NO_VECTOR_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ODEFIT_NO_VECTOR_CLONES 1
#endif
#endif

#if defined(ODEFIT_NO_VECTOR_CLONES) || !defined(__x86_64__) || !defined(__GNUC__)
#define ODEFIT_VECTOR_CLONES(...)
#else
#define ODEFIT_VECTOR_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif
