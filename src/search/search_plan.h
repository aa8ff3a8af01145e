#pragma once
// The search's settings checked, its defaults resolved into a plan, and plans
// and task results from elsewhere checked before use.

#include <limits>
#include <vector>

#include "odefit/search.h"

namespace odefit::search {

// Refuses settings no search can run with (InvalidArgument).
void CheckSettings(const Series& series, const SearchSettings& settings);
// CheckSettings and the windows and shapes against the series.
void CheckSettingsAgainstSeries(const Series& series, const SearchSettings& settings);
// A plan may come from another process: everything a task indexes with must
// be what MakePlan could have made for this series.
void CheckPlan(const Series& series, const SearchSettings& settings, const SearchPlan& plan);
// Task results may come from another process too: the winner's terms are
// fitted by their indices, so every candidate must be one a task of this
// plan could have scored.
void CheckTaskResults(const SearchPlan& plan, int D, double dt, const std::vector<SearchTaskResult>& results);

// One task per window of the plan, with every degree of the local fits.
int TaskCount(const SearchPlan& plan);

SearchPlan MakePlan(const Series& series, const SearchSettings& settings);

// The rows per group sum of every task's training and held-out rows:
// SummedGroup of the widest window's training rows and a correlation lag of
// `lag` samples; without a lag, the most a plan may ask for.
int RowsPerSum(int vectors, double validationFraction, const std::vector<int>& points,
               int lag = std::numeric_limits<int>::max());

}  // namespace odefit::search
