// The default model search on 100000 three-component vectors (Lorenz,
// dt = 0.001, 1 % noise) on one and on two threads, next to one fit of the
// same series (order-2 polynomials, m = 3): the search's cost in fits.

#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/support/generated_systems.h"
#include "odefit/fit.h"
#include "odefit/search.h"
#include "search/prediction_score.h"

namespace {

const odefit::Series& NoisyLorenz() {
  static const odefit::Series series = odefit::testing::Lorenz(0.001, 100000, 0.01);
  return series;
}

void BM_DefaultSearch(benchmark::State& state) {
  odefit::SearchSettings settings;
  settings.dt = 0.001;
  settings.threads = static_cast<int>(state.range(0));
  NoisyLorenz();  // generated before the clock starts (this is the first benchmark to ask for it)
  int terms = 0;
  for (auto _ : state) {
    const odefit::SearchResult result = odefit::SearchModels(NoisyLorenz(), settings);
    terms = result.candidates.front().terms;
    benchmark::DoNotOptimize(result.best.equations.data());
  }
  state.counters["terms"] = terms;
}
BENCHMARK(BM_DefaultSearch)->ArgName("threads")->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The plan alone (noise, horizon, a driving's period and its refinement):
// the part of the search no task shares out.
void BM_SearchPlan(benchmark::State& state) {
  odefit::SearchSettings settings;
  settings.dt = 0.001;
  for (auto _ : state) {
    const odefit::SearchPlan plan = odefit::PlanSearch(NoisyLorenz(), settings);
    benchmark::DoNotOptimize(plan.shapes.data());
  }
}
BENCHMARK(BM_SearchPlan)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every task of the default plan on one thread: the part of the search that
// executors share out, without the plan and the winner's refits.
void BM_SearchTasks(benchmark::State& state) {
  odefit::SearchSettings settings;
  settings.dt = 0.001;
  const odefit::SearchPlan plan = odefit::PlanSearch(NoisyLorenz(), settings);
  std::size_t candidates = 0;
  for (auto _ : state) {
    candidates = 0;
    for (int k = 0; k < odefit::SearchTaskCount(plan); ++k) {
      candidates += odefit::RunSearchTask(NoisyLorenz(), settings, plan, k).candidates.size();
    }
  }
  state.counters["tasks"] = odefit::SearchTaskCount(plan);
  state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_SearchTasks)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The finish alone (ranking, the winner's fits, its doubts, inclusion and
// intervals) on the default plan's task results.
void BM_SearchFinish(benchmark::State& state) {
  odefit::SearchSettings settings;
  settings.dt = 0.001;
  const odefit::SearchPlan plan = odefit::PlanSearch(NoisyLorenz(), settings);
  std::vector<odefit::SearchTaskResult> results;
  for (int k = 0; k < odefit::SearchTaskCount(plan); ++k) {
    results.push_back(odefit::RunSearchTask(NoisyLorenz(), settings, plan, k));
  }
  for (auto _ : state) {
    const odefit::SearchResult result = odefit::FinishSearch(NoisyLorenz(), settings, plan, results);
    benchmark::DoNotOptimize(result.best.equations.data());
  }
}
BENCHMARK(BM_SearchFinish)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneFitOfTheSearchedSeries(benchmark::State& state) {
  odefit::FitSettings settings;
  settings.dt = 0.001;
  settings.points = 3;
  settings.equations = {odefit::EquationSpec{odefit::ModelFamily::StandardPolynomial, 2}};
  for (auto _ : state) {
    const odefit::Model model = odefit::FitModel(NoisyLorenz(), settings);
    benchmark::DoNotOptimize(model.equations.data());
  }
}
BENCHMARK(BM_OneFitOfTheSearchedSeries)->Unit(benchmark::kMillisecond)->UseRealTime();

// Scoring one candidate (the order-2 fit) on the default plan's held-out
// part: several starts at a time (0) and one at a time (1), the same bits.
void BM_PredictionScore(benchmark::State& state) {
  odefit::SearchSettings settings;
  settings.dt = 0.001;
  const odefit::SearchPlan plan = odefit::PlanSearch(NoisyLorenz(), settings);
  const odefit::search::Scoring scoring = odefit::search::MakeScoring(NoisyLorenz(), plan, settings.validationFraction);
  odefit::FitSettings fit;
  fit.dt = 0.001;
  fit.points = plan.points.front();
  fit.equations = {odefit::EquationSpec{odefit::ModelFamily::StandardPolynomial, 2}};
  const odefit::Model model = odefit::FitModel(NoisyLorenz(), fit);
  const int offset = (fit.points - 1) / 2;
  double score = 0.0;
  for (auto _ : state) {
    score = state.range(0) == 0 ? odefit::search::PredictionScore(model, NoisyLorenz(), scoring, offset)
                                : odefit::search::OneStartAtATimePredictionScore(model, NoisyLorenz(), scoring, offset);
    benchmark::DoNotOptimize(score);
  }
  state.counters["starts"] = static_cast<double>(scoring.starts.size());
  state.counters["horizon"] = scoring.horizon;
}
BENCHMARK(BM_PredictionScore)->ArgName("oneByOne")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
