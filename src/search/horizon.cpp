#include "search/horizon.h"

#include <algorithm>
#include <vector>

#include "search/search_common.h"

namespace odefit::search {

int CorrelationHorizon(const Series& series, int split) {
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int held = n - split;
  const int maxLag = std::max(1, held / 4);
  std::vector<double> mean(Size(D), 0.0), var(Size(D), 0.0);
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < D; ++i) mean[Size(i)] += series.values[Size(k) * Size(D) + Size(i)] / n;
  }
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < D; ++i) {
      const double v = series.values[Size(k) * Size(D) + Size(i)] - mean[Size(i)];
      var[Size(i)] += v * v / n;
    }
  }
  // Each variable's deviations from its mean, contiguous.
  std::vector<double> centred(Size(n) * Size(D));
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < D; ++i) {
      centred[Size(i) * Size(n) + Size(k)] = series.values[Size(k) * Size(D) + Size(i)] - mean[Size(i)];
    }
  }
  for (int lag = 1; lag <= maxLag; lag = lag < 8 ? lag + 1 : lag + lag / 8) {
    double c = 0.0;
    int counted = 0;
    for (int i = 0; i < D; ++i) {
      if (!(var[Size(i)] > 0.0)) continue;
      // Four partial sums: one chain of additions would bound the speed.
      const double* x = centred.data() + Size(i) * Size(n);
      const int count = n - lag;
      double part[4] = {0.0, 0.0, 0.0, 0.0};
      int k = 0;
      for (; k + 4 <= count; k += 4) {
        for (int j = 0; j < 4; ++j) part[j] += x[k + j] * x[k + j + lag];
      }
      for (; k < count; ++k) part[0] += x[k] * x[k + lag];
      const double s = (part[0] + part[1]) + (part[2] + part[3]);
      c += s / ((n - lag) * var[Size(i)]);
      ++counted;
    }
    if (counted > 0 && c / counted < 0.8) return lag;
  }
  return maxLag;
}

}  // namespace odefit::search
