#pragma once
// One task of the search: one differentiation window with every degree of
// its local fits, every shape on a path of thresholds, the whole models of
// each threshold scored by prediction.

#include <vector>

#include "odefit/differentiation.h"
#include "odefit/search.h"
#include "search/prediction_score.h"
#include "search/task_summaries.h"

namespace odefit::search {

// Task `index` of a checked plan.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index);
// The memory a task leaves to the next task run with it: the biggest arrays,
// which a process that hands freed memory back to the system at once would
// otherwise pay for afresh, page by page, in every task.
struct TaskBuffers {
  struct Degree {
    Derivatives rows;       // the states and slopes of every row
    SummaryMemory summary;  // the held-out monomials and the buffers the rows are summed and folded in
  };
  std::vector<Degree> degrees;                  // one per degree of the plan, in its order
  DrivingSums driving;                          // the driving pair's sums, which the degrees share
  std::vector<std::vector<double>> localFits;   // the window's states and slopes (WindowFits)
};

// The same with the plan's scoring (MakeScoring), which every task shares,
// and the memory of the last task run with `buffers` (none: its own).
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring, TaskBuffers* buffers = nullptr);

}  // namespace odefit::search
