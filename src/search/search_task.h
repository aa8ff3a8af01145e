#pragma once
// One task of the search: one differentiation window, every shape on a path
// of thresholds, one whole model per threshold scored by prediction.

#include <vector>

#include "odefit/differentiation.h"
#include "odefit/search.h"
#include "search/prediction_score.h"

namespace odefit::search {

// Task `index` of a checked plan.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index);
// The memory a task leaves to the next task run with it: the biggest arrays,
// which a process that hands freed memory back to the system at once would
// otherwise pay for afresh, page by page, in every task.
struct TaskBuffers {
  Derivatives rows;               // the states and slopes of every row
  std::vector<double> heldTerms;  // the held-out monomials
};

// The same with the plan's scoring (MakeScoring), which every task shares,
// and the memory of the last task run with `buffers` (none: its own).
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring, TaskBuffers* buffers = nullptr);

}  // namespace odefit::search
