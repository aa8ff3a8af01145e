#pragma once
// The ranking of all scored candidates.

#include <vector>

#include "odefit/search.h"

namespace odefit::search {

// Sets every candidate's criterion and sorts them, best first.
void RankCandidates(std::vector<SearchCandidate>& candidates, int starts);

}  // namespace odefit::search
