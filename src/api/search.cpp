// The model search's public entry points; the search itself is src/search.
#include "odefit/search.h"

#include <algorithm>
#include <cmath>

#include "api/recordings.h"
#include "odefit/doubts.h"
#include "odefit/errors.h"
#include "odefit/intervals.h"
#include "odefit/number_text.h"
#include "search/answer_doubts.h"
#include "search/prediction_score.h"
#include "search/ranking.h"
#include "search/search_common.h"
#include "search/search_plan.h"
#include "search/search_task.h"
#include "search/task_runner.h"
#include "search/winner_fit.h"

namespace odefit {

void CheckSearchSettings(const Series& series, const SearchSettings& settings) {
  search::CheckSettingsAgainstSeries(series, settings);
}

int SearchTaskCount(const SearchPlan& plan) { return search::TaskCount(plan); }

namespace {

// The vectors a search holds out at the end of the series.
std::size_t HeldVectors(const Series& series, const SearchSettings& settings) {
  return series.size() - static_cast<std::size_t>(search::SplitSample(static_cast<int>(series.size()), settings.validationFraction));
}

// The doubts about the answer, its terms' inclusion and its intervals.
void AssessAnswer(const Series& given, const Series& ordered, const SearchSettings& settings, const SearchPlan& plan,
                  const search::WinnerFit& winner, SearchResult& out) {
  const Derivatives& rows = winner.rows;
  Model named = out.best;
  if (given.names.size() == static_cast<std::size_t>(given.dimension)) named.names = given.names;
  const search::PredictionCheck check =
      search::CheckPredictions(ordered, settings, plan, out.candidates.front(), out.best, rows.offset);
  out.doubts = search::PredictionDoubts(check, named);
  // A model of noise keeps no term for good reason: its fit doubts would only add advice that misleads.
  if (!search::PredictsNothing(check)) {
    for (std::string& doubt : FitDoubts(named, &rows)) out.doubts.push_back(std::move(doubt));
  }
  search::TermEnsemble ensemble =
      search::ResampleWinner(given, settings, out.candidates.front(), out.best, winner, plan.noise);
  out.inclusion = std::move(ensemble.inclusion);
  if (ensemble.replicates > 0) SetIntervals(out.best, ensemble.intervals);
}

}  // namespace

// Several recordings: the end of each is held out (api::HeldOutLast), so the
// search layer sees one series whose last part is held out.
SearchPlan PlanSearch(const Series& given, const SearchSettings& settings) {
  search::CheckSettingsAgainstSeries(given, settings);
  const api::HeldOutLast ordered(given, HeldVectors(given, settings));
  return search::MakePlan(ordered.series(), settings);
}

struct SearchTaskBuffers::Storage {
  search::TaskBuffers task;
};

SearchTaskBuffers::SearchTaskBuffers() : storage_(std::make_unique<Storage>()) {}
SearchTaskBuffers::~SearchTaskBuffers() = default;
SearchTaskBuffers::SearchTaskBuffers(SearchTaskBuffers&&) noexcept = default;
SearchTaskBuffers& SearchTaskBuffers::operator=(SearchTaskBuffers&&) noexcept = default;

namespace {

SearchTaskResult RunCheckedTask(const Series& given, const SearchSettings& settings, const SearchPlan& plan, int index,
                                search::TaskBuffers* buffers) {
  search::CheckSettings(given, settings);
  const api::HeldOutLast ordered(given, HeldVectors(given, settings));
  const Series& series = ordered.series();
  search::CheckPlan(series, settings, plan);
  if (index < 0 || index >= search::TaskCount(plan)) throw InvalidArgument("no such search task");
  return search::RunTask(series, settings, plan, index, search::MakeScoring(series, plan, settings.validationFraction),
                         buffers);
}

}  // namespace

SearchTaskResult RunSearchTask(const Series& given, const SearchSettings& settings, const SearchPlan& plan,
                               int index) {
  return RunCheckedTask(given, settings, plan, index, nullptr);
}

SearchTaskResult RunSearchTask(const Series& given, const SearchSettings& settings, const SearchPlan& plan, int index,
                               SearchTaskBuffers& buffers) {
  if (!buffers.storage_) buffers.storage_ = std::make_unique<SearchTaskBuffers::Storage>();  // moved from
  return RunCheckedTask(given, settings, plan, index, &buffers.storage_->task);
}

SearchResult FinishSearch(const Series& given, const SearchSettings& settings, const SearchPlan& plan,
                          std::vector<SearchTaskResult> results) {
  search::CheckSettings(given, settings);
  const api::HeldOutLast ordered(given, HeldVectors(given, settings));
  const Series& series = ordered.series();
  search::CheckPlan(series, settings, plan);
  search::CheckTaskResults(plan, series.dimension, settings.dt, results);
  SearchResult out;
  out.horizon = plan.horizon;
  for (SearchTaskResult& r : results) {
    out.complete = out.complete && r.complete;
    out.starts = std::max(out.starts, r.starts);
    for (SearchCandidate& c : r.candidates) out.candidates.push_back(std::move(c));
  }
  if (static_cast<int>(results.size()) < search::TaskCount(plan)) out.complete = false;
  search::RankCandidates(out.candidates, out.starts, plan.horizon, series.dimension);
  if (out.candidates.empty() || !std::isfinite(out.candidates.front().score)) {
    throw NumericalError("no candidate model could be fitted and scored");
  }
  // The plan's noise variances are the series' (the held-out part last
  // reorders only several recordings, where they are not asked for).
  search::PreferSignificantTerms(series, settings, out.candidates, out.starts, plan.horizon, plan.noise);
  search::WinnerFit winner = search::FitWinner(given, settings, out.candidates.front(), plan.noise);
  out.best = std::move(winner.model);
  AssessAnswer(given, series, settings, plan, winner, out);
  // A period is reported only when the best model keeps a driving.
  out.period.clear();
  if (winner.period > 0.0) out.period.push_back(winner.period);
  return out;
}

SearchResult SearchModels(const Series& series, const SearchSettings& settings) {
  const search::Clock::time_point start = search::Clock::now();
  search::CheckSettingsAgainstSeries(series, settings);
  const api::HeldOutLast ordered(series, HeldVectors(series, settings));
  const SearchPlan plan = search::MakePlan(ordered.series(), settings);
  search::TaskRun run = search::RunTasks(ordered.series(), settings, plan, start);
  const search::Deadline deadline(settings, start);
  const bool none = std::all_of(run.finished.begin(), run.finished.end(),
                                [](const SearchTaskResult& r) { return r.candidates.empty(); });
  if (deadline.Stopped() && none) throw Cancelled();  // stopped before anything was scored: there is no best
  if (none && run.cut && deadline.Passed()) {
    throw TimeLimitError("the time limit of " + SignificantText(settings.timeLimit, 3) +
                         " s passed before any candidate was scored: give the search more time, or fewer "
                         "windows, degrees or shapes to try");
  }
  SearchResult result = FinishSearch(series, settings, plan, std::move(run.finished));
  if (run.cut && deadline.Passed()) result.complete = false;
  return result;
}

}  // namespace odefit
