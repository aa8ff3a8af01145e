// Fuzz target: the series file reader on arbitrary bytes, with D, Ntrain and m
// taken from the first bytes: counting, the training read and the test read
// with its differentiation, as the dialogue would call them.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "dialogue/series_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int D = 1 + data[0] % 9;
  const int trainWish = 2 + data[1];
  const int mWish = 2 + data[2] % 8;
  static const std::string path = "/tmp/odefit-fuzz-series-" + std::to_string(::getpid()) + ".txt";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 3), static_cast<std::streamsize>(size - 3));

  odefit::SeriesFile file;
  std::string reason;
  if (!file.Open(path, reason)) return 0;
  const auto records = file.CountRecords();
  if (!records) return 0;
  const std::int64_t N = *records / D;
  if (N < 2) return 0;
  const int Ntrain = static_cast<int>(std::min<std::int64_t>(trainWish, N));
  std::vector<double> series(static_cast<std::size_t>(D) * Ntrain);
  file.ReadTrainingSeries(D, Ntrain, series);
  const int m = std::min(mWish, Ntrain);
  const std::int64_t rest = N - Ntrain;
  if (rest >= m) {
    const int Nraw = static_cast<int>(rest);
    const std::size_t ntest = static_cast<std::size_t>(Nraw - m + 1);
    std::vector<double> raw(static_cast<std::size_t>(D) * Nraw), values(D * ntest), derivatives(D * ntest);
    file.ReadTestSeries(D, Ntrain, Nraw, m, 0.1, raw, values, derivatives);
  }
  return 0;
}
