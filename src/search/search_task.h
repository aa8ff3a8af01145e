#pragma once
// One task of the search: one differentiation window with every degree of
// its local fits, every shape on a path of thresholds, the whole models of
// each threshold scored by prediction.

#include "odefit/search.h"
#include "search/prediction_score.h"

namespace odefit::search {

// Task `index` of a checked plan.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index);
// The same with the plan's scoring (MakeScoring), which every task shares.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index,
                         const Scoring& scoring);

}  // namespace odefit::search
