#include "numerics/fold_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "numerics/fold_kernels_isa.h"

namespace odefit::fold {
namespace {

// Eight plain lanes the compiler may keep in vector registers, shared by the
// generic and the fused kernels, which differ only in how a product meets its sum.
namespace plain_lanes {
struct Vec {
  double v[8];
};
inline Vec Load(const double* p) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = p[l];
  return r;
}
inline void Store(double* p, const Vec& x) {
  for (int l = 0; l < 8; ++l) p[l] = x.v[l];
}
inline Vec Zero() { return Vec{}; }
inline Vec Broadcast(double x) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = x;
  return r;
}
inline Vec Multiply(const Vec& a, const Vec& b) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = a.v[l] * b.v[l];
  return r;
}
inline void Lanes(const Vec& x, double* out) { Store(out, x); }
}  // namespace plain_lanes

}  // namespace

namespace generic {
namespace {
using plain_lanes::Broadcast, plain_lanes::Lanes, plain_lanes::Load, plain_lanes::Multiply, plain_lanes::Store,
    plain_lanes::Vec, plain_lanes::Zero;

// Each product is rounded before it is added (no fused multiply-add on these processors).
inline Vec MulAdd(const Vec& a, const Vec& b, const Vec& c) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = a.v[l] * b.v[l] + c.v[l];
  return r;
}
inline Vec NegMulAdd(const Vec& a, const Vec& b, const Vec& c) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = c.v[l] - a.v[l] * b.v[l];
  return r;
}

constexpr int kCrossP = 2, kCrossQ = 2;
constexpr int kUpdateV = 2, kUpdateQ = 2;

#include "numerics/fold_kernels.inc"

}  // namespace

const Kernels kKernels{&Cross, &Update, &Triangular, &Scale, "generic"};

}  // namespace generic

namespace fused {
namespace {
using plain_lanes::Broadcast, plain_lanes::Lanes, plain_lanes::Load, plain_lanes::Multiply, plain_lanes::Store,
    plain_lanes::Vec, plain_lanes::Zero;

// The generic lanes with every product fused into its sum, as the vector
// units compute: the AVX-512 and AVX2 kernels' bits on any processor (fast
// where std::fma is one instruction, slow in software where it is not).
inline Vec MulAdd(const Vec& a, const Vec& b, const Vec& c) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = std::fma(a.v[l], b.v[l], c.v[l]);
  return r;
}
inline Vec NegMulAdd(const Vec& a, const Vec& b, const Vec& c) {
  Vec r;
  for (int l = 0; l < 8; ++l) r.v[l] = std::fma(-a.v[l], b.v[l], c.v[l]);
  return r;
}

constexpr int kCrossP = 2, kCrossQ = 2;
constexpr int kUpdateV = 2, kUpdateQ = 2;

#include "numerics/fold_kernels.inc"

}  // namespace

const Kernels kKernels{&Cross, &Update, &Triangular, &Scale, "fused"};

}  // namespace fused

const Kernels* KernelsFor(std::string_view isa) {
#if ODEFIT_FOLD_X86
  __builtin_cpu_init();
  if (isa == "avx512") {
    const bool runs = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
                      __builtin_cpu_supports("fma");
    return runs ? &avx512::kKernels : nullptr;
  }
  if (isa == "avx2") {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? &avx2::kKernels : nullptr;
  }
#endif
  if (isa == "fused") return &fused::kKernels;
  return isa == "generic" ? &generic::kKernels : nullptr;
}

const Kernels& FusedKernels() {
  static const Kernels& fastest = []() -> const Kernels& {
    const Kernels& best = BestKernels();
    return &best != &generic::kKernels ? best : fused::kKernels;
  }();
  return fastest;
}

const Kernels& BestKernels() {
  // ODEFIT_FOLD_KERNELS ("avx2", "generic") picks a weaker set than the
  // processor runs, to measure another processor's kernels on this one.
  static const Kernels& best = [&]() -> const Kernels& {
    const char* wanted = std::getenv("ODEFIT_FOLD_KERNELS");
    if (wanted != nullptr) {
      if (const Kernels* k = KernelsFor(wanted)) return *k;
    }
    for (const char* isa : {"avx512", "avx2"}) {
      if (const Kernels* k = KernelsFor(isa)) return *k;
    }
    return generic::kKernels;
  }();
  return best;
}

}  // namespace odefit::fold
