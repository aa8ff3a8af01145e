#pragma once
// The tasks of a plan on the caller's threads.

#include <vector>

#include "odefit/search.h"
#include "search/search_common.h"

namespace odefit::search {

struct TaskRun {
  std::vector<SearchTaskResult> finished;  // in task order
  bool cut = false;                        // a task was not run or could not be fitted
};

// Runs every task of `plan` on settings.threads workers (largest windows
// first, each result kept at its index, so the outcome does not depend on
// the thread count), reporting progress from the calling thread. Rethrows
// Cancelled; a task's NumericalError only leaves it out.
TaskRun RunTasks(const Series& series, const SearchSettings& settings, const SearchPlan& plan, Clock::time_point start);

}  // namespace odefit::search
