#pragma once
// Automatic model search: which differentiation window and degree of its
// local fits, which family and orders per equation, which terms.
//
// Every candidate is fitted on the first part of the series (sparse fits on
// a path of thresholds) and scored on the last part, which it never saw, by
// how well it predicts the raw observations there: from many starting
// points, each estimated from samples at or before it only, the model is
// integrated over a horizon of samples and its normalised squared error
// against the observations is averaged. Over-smoothing does not help (the
// observations are not smoothed) and neither do extra terms: the candidates
// are ranked by
//   criterion = starts * ln(score - noise floor) + 2 * terms,
// an information criterion over the independent prediction starts, judged on
// the error above what each variable's observation noise (estimated from the
// data) explains, so a term must improve the predictions to earn its place,
// at any noise level. The winner is fitted again on the whole series with its
// window, degree, families and terms.
//
// The work is a list of independent tasks (one per window, with every
// degree of its local fits), so
// it runs on the caller's threads, or on any executor that can ship a task
// and its result (PlanSearch, RunSearchTask, FinishSearch); the result does
// not depend on the thread count.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "odefit/cancellation.h"
#include "odefit/fit.h"
#include "odefit/model.h"
#include "odefit/series.h"

namespace odefit {

struct SearchSettings {
  double dt = 0.0;  // sampling interval, > 0
  // Differentiation windows to try (odd, >= 3); empty: 3, 5, 7, 9, 11, 15,
  // 21, 31, 41 as far as the series allows (at most a twentieth of it).
  std::vector<int> points;
  // Degrees of the local polynomial fits to try with every window (1 to 4;
  // a degree is tried with windows of more points only); empty: 1 to 4.
  std::vector<int> degrees;
  // Equation shapes to try (every equation tries every shape); empty: the
  // standard polynomials of orders 1 up to 5 (D <= 2), 4 (D = 3) or 3,
  // the rational functions of orders (1..3, 1..2) as far as they keep within
  // 40 terms, the reduced polynomials of orders up to 3 (D = 2), and, when
  // the residuals of a polynomial fit show a periodic driving, the driven
  // polynomials at its period.
  std::vector<EquationSpec> shapes;
  // Scaled thresholds (shares of the slopes a term must carry); empty:
  // 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2.
  std::vector<double> thresholds;
  double validationFraction = 0.2;  // the last part of the series, for scoring only
  int horizon = 0;  // prediction horizon in samples; 0: from the series' correlation time
  int threads = 1;  // 0: one per hardware thread
  double timeLimit = 0.0;  // seconds; 0: none. When it passes, the best so far is returned
  // Abandons the search: SearchModels throws Cancelled.
  const CancellationToken* cancel = nullptr;
  // Ends the search early as the time limit does: once this token is
  // cancelled, no further candidate is scored and the best of those scored
  // so far is returned (complete false); SearchModels throws Cancelled when
  // none had been. For a caller that wants what there is, such as a program
  // told to stop by a signal.
  const CancellationToken* stop = nullptr;
  // Called from the calling thread with the tasks done and their number.
  std::function<void(int done, int total)> progress;
};

// One candidate model as scored.
struct SearchCandidate {
  int points = 0;
  int degree = 1;                             // of the local fits that gave the slopes
  double threshold = 0.0;
  std::vector<EquationSpec> equations;        // the shape of every equation
  std::vector<std::vector<int>> supports;     // the kept term indices of every equation
  int terms = 0;                              // kept terms in all
  double score = 0.0;                         // normalised squared prediction error (0 best)
  double noiseFloor = 0.0;                    // the part of the score the observation noise explains
  double criterion = 0.0;                     // the ranking value (lower is better)
  std::vector<double> validationErrors;       // per equation, on the held-out slopes
};

// Returns the names of the terms every equation of `candidate` keeps (its
// supports), "x1*x2" or with the variables called `names` (one per equation,
// or none), a rational denominator's terms with " (denominator)" after them,
// "?" for an index no term has. The search result file's and Python's
// "terms"; their "term_count" is candidate.terms. Throws InvalidArgument for
// a shape no model may have.
std::vector<std::vector<std::string>> KeptTermNames(const SearchCandidate& candidate,
                                                    const std::vector<std::string>& names = {});

struct SearchResult {
  Model best;                               // fitted on the whole series
  std::vector<SearchCandidate> candidates;  // ranked, best first
  bool complete = true;                     // false when the time limit cut the search short
  int horizon = 0;
  int starts = 0;
  // The driving period of the best model, refined on the whole series;
  // empty when the best model has no driven equation.
  std::vector<double> period;
  // Reasons to doubt the answer, one sentence each without a "warning:"
  // prefix: no candidate predicts the held-out part clearly better than a
  // model without dynamics (then the one doubt of that kind); else the
  // variables whose held-out error stays well above their noise, then the
  // best model's FitDoubts (doubts.h) on the slopes it was fitted to.
  std::vector<std::string> doubts;
  // Per equation and coefficient of `best`: the share of 30 refits of its
  // shapes, with its thresholded selection, on the derivative rows resampled
  // in blocks (a fixed seed) that keep the term; NaN for a dropped term, an
  // equation with a driving, or a series too short for two blocks. Below 0.5
  // a term is doubtful. The same resampled rows give best's intervals (level
  // kIntervalLevel of intervals.h: 1.96 times the spread over refits of
  // best's own terms, that is given its structure, plus 3 times the bias,
  // extrapolated from the winner fitted as it was on every other vector), so
  // a search's best model has them.
  std::vector<std::vector<double>> inclusion;
};

// The inclusion below which a search result's term is flagged as doubtful.
inline constexpr double kDoubtfulInclusion = 0.5;

// Checks `settings` against `series` as SearchModels does before it computes
// anything, with the same messages. Throws InvalidArgument.
void CheckSearchSettings(const Series& series, const SearchSettings& settings);

// Runs the whole search. Throws InvalidArgument for impossible settings (too
// few vectors), Cancelled (`cancel`, or `stop` before any candidate was
// scored), TimeLimitError (errors.h) when the time limit passed before any
// candidate was scored. Numerical failures of single candidates only remove them;
// NumericalError when no candidate could be fitted.
SearchResult SearchModels(const Series& series, const SearchSettings& settings);

// The pieces of SearchModels for executors that run tasks elsewhere.
struct SearchPlan {
  std::vector<int> points;            // one task per window: task k has points[k]
  std::vector<int> degrees;           //   and every degree
  std::vector<EquationSpec> shapes;   // defaults resolved
  std::vector<double> thresholds;
  int horizon = 0;
  std::vector<double> period;
  // What every task's scoring of predictions shares, worked out once for the
  // search: each variable's observation-noise variance (D numbers >= 0) and
  // the samples of the local fit that estimates a prediction's start state
  // (1 to 65). Left empty and 0, every task works them out again from the
  // series (a pass over all of it), with the same result.
  std::vector<double> noise;
  int startPoints = 0;
  // On long series each task fits sums of this many consecutive training
  // rows (the equations' integral form over them) and scores the held-out
  // rows the same way: at least 16000 sums remain, a sum spans at most half
  // the series' correlation lag, and a lag under 8 samples (coarse sampling)
  // keeps every row. 1: row by row. 0 (a plan written by hand): every task
  // works it out again from the series.
  int rowsPerSum = 0;
};
SearchPlan PlanSearch(const Series& series, const SearchSettings& settings);
// A task's candidates, of every degree of its window. Within a window the
// rational shapes, whose designs cost most, are tried with the degree whose
// best model of the other shapes ranks first only.
struct SearchTaskResult {
  int points = 0;
  std::vector<SearchCandidate> candidates;
  bool complete = true;
  int starts = 0;
};
// The number of tasks of a plan.
int SearchTaskCount(const SearchPlan& plan);
// Runs task `index` of the plan; depends only on its arguments. The plan and
// the task results may come from elsewhere (another process), so both
// functions check them against the series and settings and throw
// InvalidArgument for any that PlanSearch and RunSearchTask could not have
// made (windows, horizon, thresholds, term indices out of range).
SearchTaskResult RunSearchTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan,
                               int index);
// Memory that search tasks run one after another in one place (a worker
// process) hand on from one to the next: a task's largest arrays, kept
// rather than handed back to the system and asked for afresh, which a
// process whose allocator returns freed memory at once pays for page by
// page. It changes no result. After a task on n vectors of D variables it
// holds about 16 n D bytes plus the held-out fifth's monomials (4 n D^2 for
// D = 3). One task at a time: threads running tasks at once need one each.
class SearchTaskBuffers {
 public:
  SearchTaskBuffers();
  ~SearchTaskBuffers();
  SearchTaskBuffers(SearchTaskBuffers&&) noexcept;
  SearchTaskBuffers& operator=(SearchTaskBuffers&&) noexcept;
  struct Storage;  // the library's own

 private:
  friend SearchTaskResult RunSearchTask(const Series&, const SearchSettings&, const SearchPlan&, int,
                                        SearchTaskBuffers&);
  std::unique_ptr<Storage> storage_;
};
// RunSearchTask with the memory of the last task run with `buffers`.
SearchTaskResult RunSearchTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan,
                               int index, SearchTaskBuffers& buffers);
SearchResult FinishSearch(const Series& series, const SearchSettings& settings, const SearchPlan& plan,
                          std::vector<SearchTaskResult> results);

}  // namespace odefit
