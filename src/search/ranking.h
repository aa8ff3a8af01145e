#pragma once
// The ranking of all scored candidates.

#include <vector>

#include "odefit/search.h"

namespace odefit::search {

// Sets every candidate's criterion and sorts them, best first.
//
// The criterion is starts * ln(excess) + 2 * terms, where excess is the score
// above the candidate's noise floor: an information criterion over the
// independent prediction starts, judged on the error the model can still
// remove. The noise of the observations adds the same amount to every
// candidate's score; judged on the whole score, a term that removes half of
// the error above it would gain next to nothing once that noise is 95 % of
// the score, and lose to the price of the term.
void RankCandidates(std::vector<SearchCandidate>& candidates, int starts, int horizon, int D);
// The criterion RankCandidates gives `candidate`.
double Criterion(const SearchCandidate& candidate, int starts, int horizon, int D);

// The smallest difference of scores, relative to the noise floor, that the
// ranking tells from chance: the sampling uncertainty of a mean of squares of
// as many independent values as a score has errors.
double TieResolution(int starts, int horizon, int D);

}  // namespace odefit::search
