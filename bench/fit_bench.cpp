// The model fits at scale: the whole fit of a model (design rows, the
// streamed factorisation, every equation's solve and error) next to one call
// of LAPACK's dgels (through LAPACKE, OpenBLAS) on the same matrix with the
// same D right-hand sides and to the machine's DGEMM rate with the BLAS
// kernels in use; the peak memory of fits of 1e6 and 2e6 vectors; and the
// parts of a fit on their own.
//
// Problems (argument 0, 1, 2): D = 3, order 11, 1e5 rows (364 terms); D = 6,
// order 3, 1e5 rows (84 terms); D = 6, order 3, 1e6 rows (84 terms). The
// fit, DGEMM and dgels use 2 threads each.

#include <benchmark/benchmark.h>
#include <cblas.h>
#include <lapacke.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "model/model_fit.h"
#include "model/streamed_fit.h"
#include "odefit/model.h"
#include "model/monomials.h"
#include "numerics/blas.h"
#include "numerics/blas_kernels.h"
#include "numerics/fold_kernels.h"
#include "numerics/householder.h"
#include "numerics/triangular_fold.h"

namespace {

struct Shape {
  int D;
  int order;
  int rows;
};
constexpr Shape kShapes[] = {{3, 11, 100000}, {6, 3, 100000}, {6, 3, 1000000}};

struct Problem {
  Shape shape;
  int terms = 0;
  std::vector<double> states;       // D x rows, column-major
  std::vector<double> derivatives;  // D x rows: the targets of the D equations
  std::vector<double> targets;      // rows x D: the same, one column per equation
  std::vector<double> design;       // rows x terms, column-major
};

// Smooth states in [-1, 1] (phase-shifted oscillations plus noise); equation
// i's targets are a fixed combination of the monomials plus noise.
const Problem& TheProblem(int index) {
  static std::map<int, Problem> problems;
  auto found = problems.find(index);
  if (found != problems.end()) return found->second;
  Problem& p = problems[index];
  p.shape = kShapes[index];
  const int D = p.shape.D, rows = p.shape.rows;
  p.terms = odefit::MonomialCount(p.shape.order, D);
  std::mt19937 gen(2);
  std::normal_distribution<double> noise(0.0, 0.01);
  p.states.resize(std::size_t(D) * rows);
  for (int r = 0; r < rows; ++r) {
    for (int e = 0; e < D; ++e) {
      p.states[std::size_t(r) * D + e] = 0.9 * std::sin(1e-3 * r * (e + 1) + e) + 0.1 * noise(gen);
    }
  }
  p.design.resize(std::size_t(rows) * p.terms);
  odefit::FillMonomialColumns(p.states, D, rows, p.shape.order, p.design, rows);
  p.derivatives.resize(std::size_t(D) * rows);
  p.targets.resize(std::size_t(D) * rows);
  for (int i = 0; i < D; ++i) {
    for (int r = 0; r < rows; ++r) {
      double y = noise(gen);
      for (int k = 0; k < p.terms; k += 7) y += (0.01 * ((k + i) % 13) - 0.06) * p.design[r + std::size_t(k) * rows];
      p.derivatives[std::size_t(r) * D + i] = y;
      p.targets[std::size_t(i) * rows + r] = y;
    }
  }
  return p;
}

std::vector<odefit::ModelEquation> Equations(const Problem& p) {
  std::vector<odefit::ModelEquation> equations(std::size_t(p.shape.D));
  for (auto& eq : equations) {
    eq.family = odefit::ModelFamily::StandardPolynomial;
    eq.nu = p.shape.order;
    eq.nterms = p.terms;
  }
  return equations;
}

void Label(benchmark::State& state, const Problem& p, const std::string& more = "") {
  state.SetLabel("D=" + std::to_string(p.shape.D) + " rows=" + std::to_string(p.shape.rows) +
                 " terms=" + std::to_string(p.terms) + more);
}

constexpr int kThreads = 2;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The process's processor time, all threads.
double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The DGEMM rate (flop/s) of the BLAS kernels in use on kThreads threads: the
// median of 5 products of 3000 x 3000 matrices, measured once per run; by
// the clock, and (second) per processor second over kThreads, which a
// machine shared with other work changes less.
struct Rates {
  double wall = 0.0, processor = 0.0;
};
const Rates& DgemmRates() {
  static const Rates rates = [] {
    const int n = 3000;
    openblas_set_num_threads(kThreads);
    std::vector<double> A(std::size_t(n) * n, 0.5), B(std::size_t(n) * n, 0.25), C(std::size_t(n) * n, 0.0);
    std::vector<double> wall, processor;
    for (int rep = 0; rep < 5; ++rep) {
      const auto start = std::chrono::steady_clock::now();
      const double cpu = ProcessSeconds();
      cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, A.data(), n, B.data(), n, 0.0, C.data(), n);
      processor.push_back(2.0 * n * n * double(n) / ((ProcessSeconds() - cpu) / kThreads));
      wall.push_back(2.0 * n * n * double(n) / Seconds(start));
    }
    std::nth_element(wall.begin(), wall.begin() + 2, wall.end());
    std::nth_element(processor.begin(), processor.begin() + 2, processor.end());
    return Rates{wall[2], processor[2]};
  }();
  return rates;
}
double DgemmRate() { return DgemmRates().wall; }

// The machine's DGEMM rate with the kernels the BLAS library runs (named in the label).
void BM_Dgemm(benchmark::State& state) {
  const int n = 3000;
  openblas_set_num_threads(kThreads);
  std::vector<double> A(std::size_t(n) * n, 0.5), B(std::size_t(n) * n, 0.25), C(std::size_t(n) * n, 0.0);
  for (auto _ : state) {
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, A.data(), n, B.data(), n, 0.0, C.data(), n);
    benchmark::DoNotOptimize(C.data());
  }
  state.counters["GFLOPs"] = benchmark::Counter(2e-9 * n * n * double(n), benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(odefit::BlasKernelDescription() + ", 2 threads");
}
BENCHMARK(BM_Dgemm)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole fit of the model as the model selection runs it: every equation
// fitted, the D equations sharing one design and factorisation, on kThreads
// threads. GFLOPs counts 2 rows terms^2 flops; dgemm_share is that rate over
// DgemmRate(), dgemm_share_cpu the same per processor second (DgemmRates()).
void BM_WholeFit(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  const double rate = DgemmRate();
  double err = 0.0, seconds = 0.0, cpuSeconds = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ProcessSeconds();
    std::vector<odefit::ModelEquation> equations = Equations(p);
    odefit::ModelFitter fitter(equations, p.states, p.shape.D, p.shape.rows, p.derivatives,
                               odefit::FitOptions{nullptr, kThreads});
    for (int i = 1; i <= p.shape.D; ++i) err = fitter.Fit(i);
    benchmark::DoNotOptimize(equations.data());
    seconds += Seconds(start);
    cpuSeconds += ProcessSeconds() - cpu;
  }
  const double flops = 2.0 * p.shape.rows * double(p.terms) * p.terms;
  state.counters["err"] = err;
  state.counters["GFLOPs"] = benchmark::Counter(1e-9 * flops, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["dgemm_share"] = flops / (seconds / double(state.iterations())) / rate;
  state.counters["dgemm_share_cpu"] =
      flops / (cpuSeconds / double(state.iterations()) / kThreads) / DgemmRates().processor;
  state.counters["dgemm_GFLOPs"] = 1e-9 * rate;
  Label(state, p, std::string(", ") + odefit::fold::BestKernels().name + " fold kernels");
}
BENCHMARK(BM_WholeFit)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reference: one dgels call on the same design matrix with the D right-hand
// sides (the copies are excluded), kThreads threads.
void BM_ReferenceDgels(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  openblas_set_num_threads(kThreads);
  std::vector<double> A, b;
  for (auto _ : state) {
    state.PauseTiming();
    A = p.design;
    b = p.targets;
    state.ResumeTiming();
    const lapack_int info = LAPACKE_dgels(LAPACK_COL_MAJOR, 'N', p.shape.rows, p.terms, p.shape.D, A.data(),
                                          p.shape.rows, b.data(), p.shape.rows);
    if (info != 0) state.SkipWithError("dgels failed");
    benchmark::DoNotOptimize(b.data());
  }
  Label(state, p, ", " + odefit::BlasCoreType() + " kernels");
}
BENCHMARK(BM_ReferenceDgels)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Part: the design matrix, column by column from the parent monomials.
void BM_FitPartDesignMatrix(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  std::vector<double> A(std::size_t(p.shape.rows) * p.terms);
  for (auto _ : state) {
    odefit::FillMonomialColumns(p.states, p.shape.D, p.shape.rows, p.shape.order, A, p.shape.rows);
    benchmark::DoNotOptimize(A.data());
  }
  Label(state, p);
}
BENCHMARK(BM_FitPartDesignMatrix)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Part: the factorisation as the fits run it (blocked at these sizes), with
// 1 or 2 threads (argument 1); the copy of A is excluded.
void BM_FitPartFactorisation(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  odefit::SetLevel3Threads(static_cast<int>(state.range(1)));
  std::vector<double> A;
  std::vector<int> order(p.terms, 0);
  std::vector<double> scalars(p.terms), norms(p.terms);
  for (auto _ : state) {
    state.PauseTiming();
    A = p.design;
    state.ResumeTiming();
    odefit::DLQRRR(p.shape.rows, p.terms, A, p.shape.rows, 0, order, A, p.shape.rows, scalars, norms);
    benchmark::DoNotOptimize(A.data());
  }
  Label(state, p);
}
BENCHMARK(BM_FitPartFactorisation)
    ->Args({0, 1})->Args({0, 2})->Args({1, 1})->Args({1, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// Part: the unblocked factorisation on the same matrix (the reference the
// blocked one is checked against).
void BM_FitPartUnblockedFactorisation(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  std::vector<double> A;
  std::vector<int> order(p.terms, 0);
  std::vector<double> scalars(p.terms), norms(p.terms), work(p.terms);
  for (auto _ : state) {
    state.PauseTiming();
    A = p.design;
    state.ResumeTiming();
    odefit::dL2RRR(p.shape.rows, p.terms, A, p.shape.rows, 0, order, A, p.shape.rows, scalars, norms, work);
    benchmark::DoNotOptimize(A.data());
  }
  Label(state, p);
}
BENCHMARK(BM_FitPartUnblockedFactorisation)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Part: the D solves with residuals from one factorisation, all columns in one pass.
void BM_FitPartSolve(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  std::vector<double> A = p.design;
  std::vector<int> order(p.terms, 0);
  std::vector<double> scalars(p.terms), norms(p.terms);
  odefit::DLQRRR(p.shape.rows, p.terms, A, p.shape.rows, 0, order, A, p.shape.rows, scalars, norms);
  std::vector<double> coef(std::size_t(p.terms) * p.shape.D), residual(p.targets.size());
  for (auto _ : state) {
    odefit::DLQRSL(p.shape.rows, p.terms, A, p.shape.rows, scalars, p.shape.D, p.targets, p.shape.rows, coef,
                   residual);
    benchmark::DoNotOptimize(residual.data());
  }
  Label(state, p);
}
BENCHMARK(BM_FitPartSolve)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

// This thread's processor time: on a shared machine the rate of one thread
// is its work over the time it ran.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The DGEMM rate (flop/s) on one thread, in processor time: the median of 3
// products of 2000 x 2000 matrices, measured once per run.
double OneThreadDgemmRate() {
  static const double rate = [] {
    const int n = 2000;
    openblas_set_num_threads(1);
    std::vector<double> A(std::size_t(n) * n, 0.5), B(std::size_t(n) * n, 0.25), C(std::size_t(n) * n, 0.0);
    std::vector<double> rates;
    for (int rep = 0; rep < 3; ++rep) {
      const double start = ThreadSeconds();
      cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, n, n, 1.0, A.data(), n, B.data(), n, 0.0, C.data(), n);
      rates.push_back(2.0 * n * n * double(n) / (ThreadSeconds() - start));
    }
    std::nth_element(rates.begin(), rates.begin() + 1, rates.end());
    return rates[1];
  }();
  return rate;
}

// Part: the streamed factorisation alone on one thread, with the fold kernels
// of one instruction set (argument 1: 0 AVX-512, 1 AVX2, 2 generic), blocks of
// 512 rows of [design | targets] (the copy into the block is included);
// dgemm_share is its rate over the one-thread DGEMM rate of the same run,
// both in processor time.
void BM_FitPartFold(benchmark::State& state) {
  const Problem& p = TheProblem(static_cast<int>(state.range(0)));
  const char* isa[] = {"avx512", "avx2", "generic"};
  const odefit::fold::Kernels* kernels = odefit::fold::KernelsFor(isa[state.range(1)]);
  if (kernels == nullptr) {
    state.SkipWithError("this processor lacks these instructions");
    return;
  }
  const double rate = OneThreadDgemmRate();
  const int n = p.terms + p.shape.D, rows = p.shape.rows, blockRows = 512;
  std::vector<double> block(std::size_t(odefit::TriangularFold::BlockLeadingDimension(blockRows)) * n);
  double seconds = 0.0;
  for (auto _ : state) {
    const double start = ThreadSeconds();
    odefit::TriangularFold fold(n, p.terms, kernels);
    for (int r0 = 0; r0 < rows; r0 += blockRows) {
      const int m = std::min(blockRows, rows - r0);
      const int ld = odefit::TriangularFold::BlockLeadingDimension(m);
      std::fill(block.begin(), block.end(), 0.0);
      for (int c = 0; c < n; ++c) {
        const double* from = c < p.terms ? p.design.data() + std::size_t(c) * rows : p.targets.data() + std::size_t(c - p.terms) * rows;
        std::copy(from + r0, from + r0 + m, block.data() + std::size_t(c) * ld);
      }
      fold.Fold(block.data(), m, ld);
    }
    benchmark::DoNotOptimize(fold.Data().data());
    seconds += ThreadSeconds() - start;
  }
  const double flops = 2.0 * rows * double(p.terms) * p.terms;
  state.counters["GFLOPs"] = 1e-9 * flops / (seconds / double(state.iterations()));
  state.counters["dgemm_share"] = flops / (seconds / double(state.iterations())) / rate;
  state.counters["dgemm_GFLOPs"] = 1e-9 * rate;
  Label(state, p, std::string(", ") + kernels->name + " fold kernels, 1 thread, " + odefit::BlasKernelDescription());
}
BENCHMARK(BM_FitPartFold)->ArgsProduct({{0}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// The peak memory of a whole fit, D = 3, of N vectors (argument 0) and
// order 2, 5 or 11 (argument 1: 10, 56 or 364 terms), on kThreads threads, in a process of its own whose ru_maxrss is read. A
// forked child starts with its parent's resident size as its peak (and an
// exec keeps it), so the children are forked by a launcher forked before
// main, while the benchmark process is still small: it reads a row count and
// an order from its request pipe, forks a child that generates the states and
// derivatives, fits, and writes "seconds peak-kB" to the result pipe.

// Generates N vectors, fits them and reports; run in a child of the launcher.
[[noreturn]] void RunFitChild(long long rows, int order, int fd) {
  const int D = 3;
  std::vector<double> states(std::size_t(D) * rows), derivatives(std::size_t(D) * rows);
  std::mt19937 gen(3);
  std::normal_distribution<double> noise(0.0, 0.01);
  for (long long r = 0; r < rows; ++r) {
    double* x = &states[std::size_t(r) * D];
    for (int e = 0; e < D; ++e) x[e] = 0.9 * std::sin(1e-3 * double(r) * (e + 1) + e) + 0.1 * noise(gen);
    for (int e = 0; e < D; ++e) {
      derivatives[std::size_t(r) * D + e] = x[(e + 1) % D] * x[(e + 2) % D] - 0.5 * x[e] + noise(gen);
    }
  }
  std::vector<odefit::ModelEquation> equations(D);
  for (auto& eq : equations) {
    eq.family = odefit::ModelFamily::StandardPolynomial;
    eq.nu = order;
    eq.nterms = odefit::MonomialCount(order, D);
  }
  const auto start = std::chrono::steady_clock::now();
  odefit::ModelFitter fitter(equations, states, D, int(rows), derivatives, odefit::FitOptions{nullptr, kThreads});
  for (int i = 1; i <= D; ++i) fitter.Fit(i);
  const double seconds = Seconds(start);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const std::string out = std::to_string(seconds) + " " + std::to_string(usage.ru_maxrss) + "\n";
  const bool written = write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  _exit(written ? 0 : 3);
}

struct Launcher {
  int request = -1;  // row counts and orders to the launcher
  int result = -1;   // "seconds peak-kB" lines, or "failed"
};

// Forked at static initialisation; serves requests until the benchmark process ends.
const Launcher kLauncher = [] {
  int request[2], result[2];
  if (pipe(request) != 0 || pipe(result) != 0) return Launcher{};
  const pid_t pid = fork();
  if (pid < 0) return Launcher{};
  if (pid > 0) {
    close(request[0]);
    close(result[1]);
    return Launcher{request[1], result[0]};
  }
  close(request[1]);
  close(result[0]);
  long long job[2] = {};
  while (read(request[0], job, sizeof job) == static_cast<ssize_t>(sizeof job)) {
    const pid_t child = fork();
    if (child == 0) RunFitChild(job[0], int(job[1]), result[1]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      const char failed[] = "failed\n";
      if (write(result[1], failed, sizeof failed - 1) < 0) break;
    }
  }
  _exit(0);
}();

void BM_FitPeakMemory(benchmark::State& state) {
  const long long rows = state.range(0), order = state.range(1);
  const long long job[2] = {rows, order};
  double peakMB = 0.0, seconds = 0.0;
  for (auto _ : state) {
    char buffer[128] = {};
    std::size_t got = 0;
    if (kLauncher.request >= 0 && write(kLauncher.request, job, sizeof job) == static_cast<ssize_t>(sizeof job)) {
      for (ssize_t n; got + 1 < sizeof buffer && (n = read(kLauncher.result, buffer + got, 1)) > 0;) {
        if (buffer[got++] == '\n') break;
      }
    }
    long long kB = 0;
    if (std::sscanf(buffer, "%lf %lld", &seconds, &kB) != 2) {
      state.SkipWithError("the fitting child failed");
      break;
    }
    peakMB = kB / 1024.0;
    state.SetIterationTime(seconds);
  }
  state.counters["peak_MB"] = peakMB;
  state.counters["s_per_1e6_vectors"] = seconds / (rows / 1e6);
  state.SetLabel("D=3 order=" + std::to_string(order) + " terms=" + std::to_string(odefit::MonomialCount(int(order), 3)) +
                 " rows=" + std::to_string(rows) + ", a process of its own");
}
BENCHMARK(BM_FitPeakMemory)
    ->ArgsProduct({{1000000, 2000000}, {2, 5, 11}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
