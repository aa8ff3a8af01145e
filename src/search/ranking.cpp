#include "search/ranking.h"

#include <algorithm>
#include <cmath>

#include "search/search_common.h"

namespace odefit::search {
namespace {

// Scores below this are rounding, not prediction error: candidates that
// predict this well are told apart by their terms alone.
constexpr double kScoreFloor = 1e-12;

}  // namespace

void RankCandidates(std::vector<SearchCandidate>& candidates, int starts) {
  const double count = std::max(1, starts);
  for (SearchCandidate& c : candidates) {
    c.criterion = std::isfinite(c.score) ? count * std::log(std::max(c.score, kScoreFloor)) + 2.0 * c.terms : kInfinity;
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const SearchCandidate& a, const SearchCandidate& b) {
    if (a.criterion != b.criterion) return a.criterion < b.criterion;
    if (a.terms != b.terms) return a.terms < b.terms;
    return a.points < b.points;
  });
}

}  // namespace odefit::search
