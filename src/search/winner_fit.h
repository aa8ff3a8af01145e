#pragma once
// The winner's window, shapes and terms, fitted again on the whole series.

#include "odefit/search.h"

namespace odefit::search {

Model FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best);

}  // namespace odefit::search
