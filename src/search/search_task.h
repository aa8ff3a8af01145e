#pragma once
// One task of the search: one differentiation window, every shape on a path
// of thresholds, one whole model per threshold scored by prediction.

#include "odefit/search.h"
#include "search/prediction_score.h"

namespace odefit::search {

// Task `index` of a checked plan.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index);
// The same with the plan's scoring (MakeScoring), which every task shares.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring);

}  // namespace odefit::search
