#include "model/monomials.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

constexpr int kFactorialTableSize = IndexTupleCursor::kMaxDegree + 1;

// 0! .. 34! rounded to single precision. The double products are exact up to
// 22! and within a few double units beyond, far below a single-precision unit.
constexpr std::array<float, kFactorialTableSize> kFactorials = [] {
  std::array<float, kFactorialTableSize> table{};
  double product = 1.0;
  table[0] = 1.0f;
  for (int n = 1; n < kFactorialTableSize; ++n) {
    product *= n;
    table[n] = static_cast<float>(product);
  }
  return table;
}();

// C(n + D, D) by exact integer steps: after step k the value is C(n + k, k).
long long Binomial(int n, int D) {
  if (n < 0) return 0;
  long long c = 1;
  for (int k = 1; k <= D; ++k) c = c * (n + k) / k;
  return c;
}

// Fills one degree block of f >= 1: every non-decreasing tuple in
// lexicographic order, each product formed from 1.0 left to right.
void FillBlock(std::span<const double> x, int D, int f, std::span<double> block) {
  IndexTupleCursor tuple(D, f);
  const std::size_t count = block.size();
  for (std::size_t q = 0; q < count; ++q) {
    double value = 1.0;
    for (int k = 1; k <= f; ++k) value *= x[tuple[k] - 1];
    block[q] = value;
    if (q + 1 < count) tuple.NextIndexTuple(f);
  }
}

void PutDrivingPair(int n, double wdt, std::span<double> T, std::size_t place) {
  const double angle = static_cast<double>(n) * wdt;
  T[place] = std::cos(angle);
  T[place + 1] = std::sin(angle);
}

}  // namespace

int FactorialLimit() {
  // The overflow argument of the single-precision gamma function, by
  // bisection on log-gamma against the log of the largest single value.
  static const int nmax = [] {
    const double logLargest = std::log(static_cast<double>(std::numeric_limits<float>::max()));
    double lo = 2.0;
    double hi = 64.0;
    for (int step = 0; step < 60; ++step) {
      const double mid = 0.5 * (lo + hi);
      if (std::lgamma(mid) < logLargest) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    return static_cast<int>(lo - 1.0);
  }();
  return nmax;
}

float FAC(int N) {
  RoutineScope routine("fac   ");
  float value = 0.0f;
  const int nmax = FactorialLimit();
  if (N < 0) {
    SetErrorInteger(1, N);
    E1MES(ErrorType::Terminal, 5, "The factorial of a negative integer is undefined. N = %(I1).");
  } else if (N > nmax || N >= kFactorialTableSize) {
    SetErrorInteger(1, N);
    SetErrorInteger(2, nmax);
    E1MES(ErrorType::Terminal, 4,
          "The factorial of the argument is so large it would overflow. N = %(I1). It must be "
          "less than %(I2).");
  } else {
    value = kFactorials[N];
  }
  return value;
}

long long TermCount(int n, int D) {
  if (n < 0) return 0;
  FAC(n + D);
  FAC(D);
  FAC(n);
  return Binomial(n, D);
}

int MonomialCount(int n, int D) { return static_cast<int>(Binomial(n, D)); }

IndexTupleCursor::IndexTupleCursor(int D, int f) : D_(D) {
  for (int k = 1; k <= f; ++k) index_[k] = 1;
}

void IndexTupleCursor::NextIndexTuple(int k) {
  if (index_[k] < D_) {
    ++index_[k];
    return;
  }
  if (k == 1) return;
  if (index_[k - 1] < D_) {
    ++index_[k - 1];
    index_[k] = index_[k - 1];
    return;
  }
  NextIndexTuple(k - 1);
  index_[k] = index_[k - 1];
}

void MonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T) {
  T[0] = 1.0;
  for (int f = 1; f <= nu; ++f) {
    const long long start = TermCount(f - 1, D);
    const long long count = TermCount(f, D) - start;
    FillBlock(x, D, f, T.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
  }
}

void DrivenTerms(std::span<const double> x, int D, int nu, int n, double wdt,
                 std::span<double> T) {
  MonomialTerms(x, D, nu, T);
  PutDrivingPair(n, wdt, T, static_cast<std::size_t>(Binomial(nu, D)));
}

void CheckMonomialCounts(int D, int nu) {
  for (int f = 1; f <= nu; ++f) {
    TermCount(f - 1, D);
    TermCount(f, D);
  }
}

// Term k of degree f >= 1 is 1.0 * x(i_1) * ... * x(i_f), multiplied left to
// right, so it is exactly its parent (i_1, ..., i_(f-1)) times x(i_f). The
// children of a parent are the tuples that append i_f = i_(f-1)..D; parents
// are listed in order, so their children come out in lexicographic order.
// `last` holds i_f - 1 of every term (the constant's children start at x1).
int FillMonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T, std::span<int> counts) {
  constexpr std::size_t kStackTerms = 1024;
  std::array<unsigned char, kStackTerms> onStack;
  std::vector<unsigned char> onHeap;
  unsigned char* last = onStack.data();
  if (T.size() > kStackTerms) {
    onHeap.resize(T.size());
    last = onHeap.data();
  }
  double* t = T.data();
  const double* xv = x.data();
  t[0] = 1.0;
  last[0] = 0;
  if (!counts.empty()) counts[0] = 1;
  int begin = 0, end = 1, pos = 1;
  for (int f = 1; f <= nu; ++f) {
    for (int q = begin; q < end; ++q) {
      const double parent = t[q];
      for (int j = last[q]; j < D; ++j, ++pos) {
        t[pos] = parent * xv[j];
        last[pos] = static_cast<unsigned char>(j);
      }
    }
    begin = end;
    end = pos;
    if (!counts.empty()) counts[static_cast<std::size_t>(f)] = pos;
  }
  return pos;
}

int FillMonomialTerms(std::span<const double> x, int D, int nu, std::span<double> T) {
  return FillMonomialTerms(x, D, nu, T, {});
}

MonomialRecurrence MonomialProducts(int D, int nu) {
  MonomialRecurrence r;
  const std::size_t count = static_cast<std::size_t>(Binomial(nu, D));
  r.parent.assign(count, 0);
  r.variable.assign(count, 0);
  int begin = 0, end = 1, pos = 1;
  for (int f = 1; f <= nu; ++f) {
    for (int q = begin; q < end; ++q) {
      for (int j = q == 0 ? 0 : r.variable[q]; j < D; ++j, ++pos) {
        r.parent[pos] = q;
        r.variable[pos] = j;
      }
    }
    begin = end;
    end = pos;
  }
  return r;
}

void FillMonomialColumns(std::span<const double> X, int D, int Nrows, int nu, std::span<double> A, int LDA) {
  const MonomialRecurrence r = MonomialProducts(D, nu);
  const std::size_t count = r.parent.size();
  const std::size_t ld = static_cast<std::size_t>(LDA);
  // A block of rows at a time, so the parent columns are still in cache.
  constexpr int kChunk = 256;
  std::vector<double> x(static_cast<std::size_t>(D) * kChunk);
  for (int r0 = 0; r0 < Nrows; r0 += kChunk) {
    const int len = std::min(kChunk, Nrows - r0);
    for (int i = 0; i < len; ++i) {
      for (int j = 0; j < D; ++j) {
        x[static_cast<std::size_t>(j) * kChunk + i] = X[static_cast<std::size_t>(r0 + i) * D + j];
      }
    }
    double* base = A.data() + r0;
    std::fill(base, base + len, 1.0);
    for (std::size_t k = 1; k < count; ++k) {
      const double* parent = base + static_cast<std::size_t>(r.parent[k]) * ld;
      const double* xj = x.data() + static_cast<std::size_t>(r.variable[k]) * kChunk;
      double* column = base + k * ld;
      for (int i = 0; i < len; ++i) column[i] = parent[i] * xj[i];
    }
  }
}

int FillDrivenTerms(std::span<const double> x, int D, int nu, int n, double wdt,
                    std::span<double> T) {
  const int count = FillMonomialTerms(x, D, nu, T);
  PutDrivingPair(n, wdt, T, static_cast<std::size_t>(count));
  return count + 2;
}

}  // namespace odefit
