#pragma once
// The settings of a run and the pure tests the dialogue makes on them. Counts
// derived from the answers are formed in 64 bits, so no answer can overflow
// them into a test region that looks feasible.

#include <cstdint>

#include "odefit/integration.h"

namespace odefit {


struct RunSettings {
  int D = 0;        // dimension of the vectors, 1..kMaxDimension
  int N = 0;        // whole vectors in the series file
  int Ntrain = 0;   // vectors of the training series, 2..N
  double dt = 0.0;  // sampling interval, > 0
  int m = 0;        // points per differentiation window, 2..Ntrain
  int Ltest = 500;  // length of a test piece
  int Ktest = 5;    // number of test pieces
  int Stest = 100;  // shift between test pieces
  int method = 2;   // IntegrationMethod
  double h = 0.0;   // integration step, reset to dt whenever dt is accepted
};

// D is accepted from 1 to 9: the equation index is printed as one digit.
inline constexpr int kMaxDimension = 9;

// Returns the number of fitted rows, Ntrain - m + 1.
inline int Nfit(const RunSettings& s) { return s.Ntrain - s.m + 1; }

// Returns the vectors read for the test, (Ktest-1)*Stest + Ltest + m.
inline std::int64_t TestVectorsRead(const RunSettings& s) {
  return (std::int64_t{s.Ktest} - 1) * s.Stest + s.Ltest + s.m;
}

// Returns the points of the differentiated test series, (Ktest-1)*Stest + Ltest + 1.
inline std::int64_t Ntest(const RunSettings& s) {
  return (std::int64_t{s.Ktest} - 1) * s.Stest + s.Ltest + 1;
}

// Whether the training series and the whole test region fit inside the file.
inline bool IsFeasible(const RunSettings& s) {
  return (std::int64_t{s.N} - s.Ntrain) - (std::int64_t{s.Ktest} - 1) * s.Stest - s.Ltest >= s.m;
}

// The tests of questions 9, each on the answers accepted so far.
inline bool IsValidLtest(int Ltest, const RunSettings& s) {
  return Ltest >= 1 && (std::int64_t{s.N} - s.Ntrain) - Ltest >= s.m;
}
inline bool IsValidKtest(int Ktest, const RunSettings& s) {
  return Ktest >= 1 && (std::int64_t{s.N} - s.Ntrain) - Ktest - s.Ltest + 1 >= s.m;
}
inline bool IsValidStest(int Stest, const RunSettings& s) {
  return Stest >= 1 &&
         (std::int64_t{s.N} - s.Ntrain) - (std::int64_t{s.Ktest} - 1) * Stest - s.Ltest >= s.m;
}

// Most integration steps one sampling interval may take. A step typed without
// its decimal point reads 10^10 times smaller (the answer 1 is 1E-10) and would
// keep the test running for years; such a step is refused like any wrong answer.
inline constexpr double kMaxStepsPerInterval = 100000;

inline bool IsValidStep(double h, const RunSettings& s) { return h > 0.0 && s.dt / h <= kMaxStepsPerInterval; }

}  // namespace odefit
