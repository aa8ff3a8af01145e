// The public interface as another program uses it: the same numbers as the
// classic dialogue, several models at once on several threads, numerical
// failures and bad calls as exceptions that leave the library usable.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "format/fixed_format.h"
#include "odefit/odefit.h"

namespace odefit {
namespace {

const std::string kLorenz = std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.txt";
const std::string kSingular = std::string(ODEFIT_FIXTURES_DIR) + "/singular/series.txt";

Series Slice(const Series& series, std::size_t first, std::size_t count) {
  Series part;
  part.dimension = series.dimension;
  const auto begin = series.values.begin() + static_cast<std::ptrdiff_t>(first * series.dimension);
  part.values.assign(begin, begin + static_cast<std::ptrdiff_t>(count * series.dimension));
  return part;
}

std::string Percent(double fraction) { return fixed::FormatF(100.0 * fraction, 10, 5); }

struct LorenzRun {
  Model model;
  EfficiencyResult test;
};

// The example run of the README: order-2 polynomials, Ntrain 3000, m 3, then
// four RK-4 pieces of 200 intervals, 200 apart.
LorenzRun RunLorenz(const Series& lorenz, int threads, int order = 2) {
  FitSettings fit;
  fit.dt = 0.01;
  fit.points = 3;
  fit.train = 3000;
  fit.equations = {EquationSpec{ModelFamily::StandardPolynomial, order}};
  LorenzRun run;
  run.model = FitModel(lorenz, fit);
  EfficiencySettings test;
  test.length = 200;
  test.pieces = 4;
  test.shift = 200;
  test.threads = threads;
  run.test = TestModel(run.model, Slice(lorenz, 3000, lorenz.size() - 3000), test);
  return run;
}

TEST(Library, LorenzGivesTheNumbersOfTheDialogue) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  ASSERT_EQ(lorenz.size(), 4000u);
  const LorenzRun run = RunLorenz(lorenz, 1);
  EXPECT_EQ(run.model.points, 3);
  EXPECT_EQ(run.model.train, 3000);
  EXPECT_EQ(fixed::FormatF(run.model.Equation(1).coef[1], 20, 10), "       -9.8824946336");
  EXPECT_EQ(fixed::FormatF(run.model.Equation(1).coef[2], 20, 10), "        9.9219700436");
  EXPECT_EQ(Percent(run.model.Equation(1).error), "   0.13926");
  EXPECT_EQ(Percent(run.model.Equation(3).error), "   0.10595");
  EXPECT_EQ(Percent(run.test.testErrors[0]), "   0.13623");
  EXPECT_EQ(Percent(run.test.testErrors[2]), "   0.10050");
  EXPECT_EQ(run.test.predictionTime, (std::vector<int>{189, 69, 60}));
  EXPECT_EQ(run.test.infiniteCount, 0);
}

TEST(Library, DifferentModelsOnSeveralThreadsGiveTheBitsOfSerialRuns) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  const std::vector<int> orders = {1, 2, 3, 2};
  std::vector<LorenzRun> serial, concurrent(orders.size());
  for (const int order : orders) serial.push_back(RunLorenz(lorenz, 1, order));
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < orders.size(); ++k) {
    // Two of the runs also split their tests over two threads of their own.
    threads.emplace_back([&, k] { concurrent[k] = RunLorenz(lorenz, k % 2 == 0 ? 1 : 2, orders[k]); });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < orders.size(); ++k) {
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(concurrent[k].model.Equation(i).coef, serial[k].model.Equation(i).coef) << k;
      EXPECT_EQ(concurrent[k].model.Equation(i).error, serial[k].model.Equation(i).error) << k;
    }
    EXPECT_EQ(concurrent[k].test.predictionError, serial[k].test.predictionError) << k;
    EXPECT_EQ(concurrent[k].test.predictionTime, serial[k].test.predictionTime) << k;
  }
}

TEST(Library, ASingularFitIsAnExceptionAndLaterFitsReportTheirOwn) {
  const Series singular = ReadClassicSeries(kSingular, 2);
  FitSettings fit;
  fit.dt = 0.1;
  fit.train = 150;
  fit.equations = {EquationSpec{ModelFamily::ReducedPolynomial, 0, 0}, EquationSpec{ModelFamily::StandardPolynomial, 1}};
  std::string first;
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      FitModel(singular, fit);
      ADD_FAILURE() << "no error on attempt " << attempt;
    } catch (const NumericalError& e) {
      if (attempt == 0) first = e.what();
      EXPECT_EQ(e.what(), first) << attempt;
    }
  }
  EXPECT_NE(first.find("FATAL"), std::string::npos) << first;
  // The library is still sound: a good fit after the failures.
  fit.equations = {EquationSpec{ModelFamily::StandardPolynomial, 0}};
  EXPECT_NO_THROW(FitModel(singular, fit));
}

TEST(Library, BadCallsAreInvalidArguments) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  FitSettings fit;
  fit.dt = 0.01;
  const auto fails = [&](FitSettings settings, const Series& series) {
    EXPECT_THROW(FitModel(series, settings), InvalidArgument);
  };
  fails(fit, Series{});                                   // empty
  fails(fit, Series{3, {1.0, 2.0}, {}, {}, {}});                  // not whole vectors
  FitSettings s = fit;
  s.dt = 0.0;
  fails(s, lorenz);
  s = fit;
  s.train = 1;
  fails(s, lorenz);
  s = fit;
  s.points = 5000;
  fails(s, lorenz);
  s = fit;
  s.equations.assign(2, EquationSpec{});  // neither one nor three
  fails(s, lorenz);
  s = fit;
  s.equations = {EquationSpec{ModelFamily::StandardPolynomial, 40}};
  fails(s, lorenz);
  s = fit;
  s.equations = {EquationSpec{ModelFamily::ReducedPolynomial, 1, 1}};  // needs D = 2
  fails(s, lorenz);
  s = fit;
  s.train = 12;
  s.equations = {EquationSpec{ModelFamily::StandardPolynomial, 2}};  // 10 terms, 10 rows: fits; 11 do not
  EXPECT_NO_THROW(FitModel(lorenz, s));
  s.train = 11;
  fails(s, lorenz);
  EXPECT_THROW(ReadClassicSeries(kLorenz, 0), InvalidArgument);
  EXPECT_THROW(ReadClassicSeries(kLorenz + ".missing", 3), InputError);

  // A model whose parts disagree is refused before it is evaluated.
  Model model = FitModel(lorenz, fit);
  std::vector<double> x = {1.0, 2.0, 3.0}, dx(3);
  EXPECT_NO_THROW(EvaluateModel(model, 0.0, x, dx));
  EXPECT_THROW(EvaluateModel(model, 0.0, std::span<const double>(x).first(2), dx), InvalidArgument);
  Model broken = model;
  broken.Equation(2).coef.pop_back();
  EXPECT_THROW(Simulate(broken, x, 10), InvalidArgument);
  broken = model;
  broken.Equation(3).nterms = 1000;
  EXPECT_THROW(Simulate(broken, x, 10), InvalidArgument);
  broken = model;
  broken.Equation(1).family = static_cast<ModelFamily>(7);
  EXPECT_THROW(Simulate(broken, x, 10), InvalidArgument);
  EXPECT_THROW(Simulate(model, x, -1), InvalidArgument);
  EfficiencySettings test;
  test.length = 2000;  // more than the 1000 vectors after training
  EXPECT_THROW(TestModel(model, Slice(lorenz, 3000, 1000), test), InvalidArgument);
}

TEST(Library, SimulationFollowsTheModelAndStopsAtTheBound) {
  Model decay;
  decay.dt = 0.1;
  decay.Resize(1);
  decay.Equation(1).nu = 1;
  decay.Equation(1).nterms = 2;
  decay.Equation(1).coef = {0.0, -1.0};  // dx/dt = -x
  const std::vector<double> x0 = {1.0};
  for (const IntegrationMethod method :
       {IntegrationMethod::Euler, IntegrationMethod::RungeKutta4, IntegrationMethod::RungeKuttaVerner}) {
    SimulationSettings settings;
    settings.method = method;
    settings.step = 0.01;
    const std::vector<double> path = Simulate(decay, x0, 10, settings);
    ASSERT_EQ(path.size(), 11u);
    EXPECT_EQ(path[0], 1.0);
    EXPECT_NEAR(path[10], std::exp(-1.0), method == IntegrationMethod::Euler ? 2e-3 : 1e-3);
  }
  decay.Equation(1).coef = {0.0, 10.0};  // grows by e every 0.1: past 1e6 after 14 intervals
  const std::vector<double> path = Simulate(decay, x0, 20);
  EXPECT_TRUE(std::isfinite(path[13]));
  EXPECT_TRUE(std::isnan(path[20]));
}

TEST(Library, CancelledWorkThrowsCancelled) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  CancellationToken token;
  token.Cancel();
  FitSettings fit;
  fit.dt = 0.01;
  fit.train = 3000;
  fit.cancel = &token;
  EXPECT_THROW(FitModel(lorenz, fit), Cancelled);
  fit.cancel = nullptr;
  const Model model = FitModel(lorenz, fit);
  EfficiencySettings test;
  test.cancel = &token;
  EXPECT_THROW(TestModel(model, Slice(lorenz, 3000, 1000), test), Cancelled);
  SimulationSettings simulation;
  simulation.cancel = &token;
  EXPECT_THROW(Simulate(model, std::vector<double>{1.0, 1.0, 20.0}, 5, simulation), Cancelled);
}

// The bits of the README's fit; the Python package's tests (python/tests/test_fit.py) expect the same.
TEST(Library, AModelFromGivenCoefficientsEvaluatesThemAndRefusesWhatDoesNotFit) {
  const std::vector<std::vector<double>> lorenz = {{0, -10, 10, 0, 0, 0, 0, 0, 0, 0},
                                                   {0, 28, -1, 0, 0, 0, -1, 0, 0, 0},
                                                   {0, 0, 0, -8.0 / 3.0, 0, 1, 0, 0, 0, 0}};
  const Model model = ModelFromCoefficients(0.01, {EquationSpec{}}, lorenz, {"x", "y", "z"});
  EXPECT_EQ(EquationText(model, 1), "dx/dt = -10 x + 10 y");  // named
  std::vector<double> dxdt(3);
  EvaluateModel(model, 0.0, std::vector<double>{1.0, 2.0, 3.0}, dxdt);
  EXPECT_EQ(dxdt, (std::vector<double>{10.0, 28.0 - 2.0 - 3.0, 2.0 - 8.0}));
  EXPECT_TRUE(std::isnan(model.Equation(1).error));
  EXPECT_EQ(model.points, 0);

  struct Bad {
    double dt;
    std::vector<EquationSpec> specs;
    std::vector<std::vector<double>> coefficients;
    std::vector<std::string> names;
    const char* message;
  };
  std::vector<std::vector<double>> shortThird = lorenz;
  shortThird[2].pop_back();
  std::vector<std::vector<double>> infinite = lorenz;
  infinite[1][3] = INFINITY;
  const Bad cases[] = {
      {0.01, {EquationSpec{}}, shortThird, {}, "equation 3 (poly:2) has 10 terms, but 9 coefficients were given"},
      {0.01, {EquationSpec{}}, infinite, {}, "equation 2 has a coefficient that is not finite"},
      {0.0, {EquationSpec{}}, lorenz, {}, "the sampling interval must be positive and finite"},
      {0.01, {EquationSpec{}, EquationSpec{}}, lorenz, {}, "give one model for every equation or one for each"},
      {0.01, {EquationSpec{}}, lorenz, {"x"}, "give a name for each of the 3 variables or none"},
      {0.01, {EquationSpec{}}, {}, {}, "give the coefficients of 1 to 9 equations, not 0"},
  };
  for (const Bad& bad : cases) {
    try {
      ModelFromCoefficients(bad.dt, bad.specs, bad.coefficients, bad.names);
      ADD_FAILURE() << "accepted: " << bad.message;
    } catch (const InvalidArgument& error) {
      EXPECT_NE(std::string(error.what()).find(bad.message), std::string::npos) << error.what();
    }
  }
}

TEST(Library, LorenzFitHasTheseBits) {
  const LorenzRun run = RunLorenz(ReadClassicSeries(kLorenz, 3), 1);
  EXPECT_EQ(run.model.Equation(1).coef[1], -0x1.3c3d6562cbf5cp+3);
  EXPECT_EQ(run.model.Equation(1).coef[2], 0x1.3d80c752227b7p+3);
  EXPECT_EQ(run.model.Equation(2).coef[6], -0x1.015e105f65858p+0);  // x1*x3
  EXPECT_EQ(run.model.Equation(3).coef[5], 0x1.02e3c9e1af21dp+0);   // x1*x2
  EXPECT_EQ(run.model.Equation(1).error, 0x1.6d1097170001fp-10);
  EXPECT_EQ(run.model.Equation(2).error, 0x1.90e7514bf4353p-10);
  EXPECT_EQ(run.model.Equation(3).error, 0x1.15bd8d0e8ef0ap-10);
}

// A sparse fit that keeps every term is the full fit: one fold, one meaning
// of the condition, the same coefficients and errors to rounding, on small
// fits and on streamed ones (84 terms on 3998 rows), with the same bits on
// any number of threads.
TEST(Library, ASparseFitThatKeepsEveryTermIsTheFullFit) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  const struct {
    const char* spec;
    double coefficientTolerance;
  } cases[] = {{"poly:2", 1e-9}, {"poly:4", 1e-7}, {"rational:2:1", 1e-7}, {"poly:6", 1e-3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    FitSettings settings;
    settings.dt = 0.01;
    settings.equations = {ParseEquationSpec(c.spec)};
    const Model full = FitModel(lorenz, settings);
    settings.sparse = SparseOptions{0.0, false};
    settings.threads = 1;
    const Model sparse = FitModel(lorenz, settings);
    settings.threads = 2;
    const Model twoThreads = FitModel(lorenz, settings);
    for (int i = 1; i <= 3; ++i) {
      const ModelEquation &f = full.Equation(i), &s = sparse.Equation(i);
      EXPECT_NEAR(s.condition / f.condition, 1.0, 1e-6) << "equation " << i;
      EXPECT_EQ(IsIllConditioned(s), IsIllConditioned(f));
      EXPECT_NEAR(s.error / f.error, 1.0, 1e-6) << "equation " << i;
      ASSERT_EQ(s.coef.size(), f.coef.size());
      for (std::size_t k = 0; k < f.coef.size(); ++k) {
        EXPECT_NEAR(s.coef[k], f.coef[k], c.coefficientTolerance * (1.0 + std::fabs(f.coef[k]))) << "term " << k;
      }
      EXPECT_EQ(twoThreads.Equation(i).coef, s.coef);
      EXPECT_EQ(twoThreads.Equation(i).condition, s.condition);
    }
  }
}

}  // namespace
}  // namespace odefit
