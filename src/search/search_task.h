#pragma once
// One task of the search: one differentiation window, every shape on a path
// of thresholds, one whole model per threshold scored by prediction.

#include "odefit/search.h"

namespace odefit::search {

// Task `index` of a checked plan.
SearchTaskResult RunTask(const Series& series, const SearchSettings& settings, const SearchPlan& plan, int index);

}  // namespace odefit::search
