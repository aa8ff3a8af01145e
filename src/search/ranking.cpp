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

double TieResolution(int starts, int horizon, int D) {
  return std::sqrt(2.0 / (static_cast<double>(std::max(1, starts)) * std::max(1, horizon) * std::max(1, D)));
}

double Criterion(const SearchCandidate& c, int starts, int horizon, int D) {
  // A difference of scores below the sampling uncertainty of the noise's
  // share cannot be told from chance.
  const double resolution = TieResolution(starts, horizon, D);
  const double count = std::max(1, starts);
  const double excess = std::isfinite(c.score) ? std::max(c.score - c.noiseFloor, c.noiseFloor * resolution) : kInfinity;
  return std::isfinite(excess) ? count * std::log(std::max(excess, kScoreFloor)) + 2.0 * c.terms : kInfinity;
}

void RankCandidates(std::vector<SearchCandidate>& candidates, int starts, int horizon, int D) {
  for (SearchCandidate& c : candidates) c.criterion = Criterion(c, starts, horizon, D);
  std::stable_sort(candidates.begin(), candidates.end(), [](const SearchCandidate& a, const SearchCandidate& b) {
    if (a.criterion != b.criterion) return a.criterion < b.criterion;
    if (a.terms != b.terms) return a.terms < b.terms;
    if (a.points != b.points) return a.points < b.points;
    return a.degree < b.degree;
  });
}

}  // namespace odefit::search
