// Storage the machine cannot grant: the numerical routines' workspaces and the
// model fits' design matrices end the run with their terminal errors, and the
// levels stay balanced for a caller that catches the stop. The allocation
// failures are made on purpose by this program's own operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "model/model_fit.h"
#include "model/equation_shape.h"
#include "odefit/model.h"
#include "numerics/error_stack.h"
#include "numerics/householder.h"
#include "numerics/rk_verner.h"

namespace {

// While nonzero, the next allocation of at least this many bytes fails (and clears it).
std::atomic<std::size_t> g_failFrom{0};

}  // namespace

// Every form is replaced, so that no runtime (a sanitizer's, say) serves one
// of them past the failure; out of line, so that the compiler does not pair
// malloc and free with new and delete where they are called.
[[gnu::noinline]] void* operator new(std::size_t size) {
  std::size_t limit = g_failFrom.load();
  if (limit != 0 && size >= limit && g_failFrom.compare_exchange_strong(limit, 0)) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return ::operator new(size); }
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace odefit {
namespace {

class AllocationFailureTest : public ::testing::Test {
 protected:
  void TearDown() override { g_failFrom = 0; }

  // Makes the next allocation of at least `bytes` fail.
  static void FailFrom(std::size_t bytes) { g_failFrom = bytes; }

  // The printed message as one line, the " *** " prefixes and runs of blanks removed.
  std::string Message() const {
    std::istringstream lines(out_.str());
    std::string text, line;
    while (std::getline(lines, line)) {
      if (line.rfind(" *** ", 0) == 0) text.append(" ").append(line, 5);
    }
    std::string flat;
    for (char c : text) {
      if (c != ' ' || (!flat.empty() && flat.back() != ' ')) flat += c;
    }
    if (!flat.empty() && flat.back() == ' ') flat.pop_back();
    return flat;
  }

  std::ostringstream out_;
  ErrorReporter reporter_{&out_};
  ErrorReporterScope bind_{reporter_};
};

TEST_F(AllocationFailureTest, FactorisationWorkspaceIsATerminalErrorOfDlqrrr) {
  // Pivoting 1 x 100000: a workspace of 2 * NCA - 1 doubles, 1.6 MB.
  const int nca = 100000;
  std::vector<double> a(nca), qr(nca), scalars(nca), norms(nca);
  std::vector<int> order(nca);
  FailFrom(1 << 20);
  EXPECT_THROW(DLQRRR(1, nca, a, 1, 1, order, qr, 1, scalars, norms), RunStopped);
  EXPECT_EQ(Message(),
            "TERMINAL ERROR 2 from DLQRRR. The required storage cannot be allocated. The workspace is based on "
            "NCA, where NCA = 100000 is given.");
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(AllocationFailureTest, BlockedFactorisationStorageIsReportedAsTheWorkspace) {
  const int nra = 4096, nca = 64;
  ASSERT_TRUE(BlockedFactorisationPays(nra, nca));
  std::vector<double> a(static_cast<std::size_t>(nra) * nca, 1.0), scalars(nca), norms(nca);
  FailFrom(128 << 10);  // the first panel's reflectors take 256 kB
  EXPECT_THROW(DLQRRR(nra, nca, a, nra, 0, {}, a, nra, scalars, norms), RunStopped);
  EXPECT_EQ(Message(),
            "TERMINAL ERROR 2 from DLQRRR. The required storage cannot be allocated. The workspace is based on "
            "NCA, where NCA = 64 is given.");
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(AllocationFailureTest, SolverWorkspaceIsATerminalErrorOfDivprkAndTheSolverStartsLater) {
  // 10 * NEQ doubles, 8 MB.
  const int neq = 100000;
  std::vector<double> y(neq, 1.0);
  auto decay = [](int n, double, std::span<const double> Y, std::span<double> DY) {
    for (int i = 0; i < n; ++i) DY[i] = -Y[i];
  };
  RungeKuttaVerner solver;
  VernerRequest ido = VernerRequest::Start;
  double x = 0.0;
  FailFrom(4 << 20);
  EXPECT_THROW(solver.DIVPRK(ido, neq, decay, x, 0.1, 1e-6, VernerOptions{}, y), RunStopped);
  EXPECT_EQ(Message(),
            "TERMINAL ERROR 8 from DIVPRK. The required storage cannot be allocated. Workspace allocation based "
            "on NEQ = 100000.");
  EXPECT_EQ(reporter_.Level(), 1);
  EXPECT_FALSE(solver.IsOpen());
  out_.str("");
  solver.DIVPRK(ido, neq, decay, x, 0.1, 1e-6, VernerOptions{}, y);
  EXPECT_EQ(ido, VernerRequest::Continue);
  EXPECT_EQ(out_.str(), "");
}

// A straight line through 20000 rows of one variable: the design matrix of
// order 1 is 20000 x 2, 320 kB.
struct LineFit {
  static constexpr int kRows = 20000;
  std::vector<double> X = std::vector<double>(kRows), y = std::vector<double>(kRows);
  LineFit() {
    for (int r = 0; r < kRows; ++r) {
      X[r] = 0.001 * r;
      y[r] = 2.0 - X[r];
    }
  }
};

const char kDesignMessage[] =
    "TERMINAL ERROR 1 from FitModel. The required storage cannot be allocated. The design matrix has NROWS = "
    "20000 rows and K = 2 columns.";

TEST_F(AllocationFailureTest, DesignMatrixOfAFitIsATerminalError) {
  const LineFit line;
  std::vector<double> coef(2);
  double err = 0.0;
  FailFrom(300 << 10);
  EXPECT_THROW(FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, 1}, 1, 1.0), line.X, 1, LineFit::kRows, line.y, coef, err), RunStopped);
  EXPECT_EQ(Message(), kDesignMessage);
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(AllocationFailureTest, DesignMatrixOfASelectionIsATerminalError) {
  const LineFit line;
  std::vector<ModelEquation> equations(1);
  equations[0].family = ModelFamily::StandardPolynomial;
  equations[0].nu = 1;
  equations[0].nterms = 2;
  ModelFitter fitter(equations, line.X, 1, LineFit::kRows, line.y);
  FailFrom(300 << 10);
  EXPECT_THROW(fitter.Fit(1), RunStopped);
  EXPECT_EQ(Message(), kDesignMessage);
  EXPECT_EQ(reporter_.Level(), 1);
  // With the storage granted the same fit goes through.
  out_.str("");
  ModelFitter again(equations, line.X, 1, LineFit::kRows, line.y);
  EXPECT_LT(again.Fit(1), 1e-12);
  EXPECT_NEAR(equations[0].coef[1], -1.0, 1e-12);
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace odefit
