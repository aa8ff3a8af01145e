// Counting the records of a long series file (1e7 lines of "(F20.10)"
// values) next to the plainest count of its lines: read() in 1 MiB blocks and
// memchr for every line break. Both run on the same file, warm in the page
// cache; the file is written once into the temporary folder.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dialogue/series_file.h"

namespace {

constexpr long long kLines = 10000000;

const std::string& SeriesPath() {
  static const std::string path = [] {
    const std::string name = (std::filesystem::temp_directory_path() / "odefit-bench-series.txt").string();
    std::FILE* file = std::fopen(name.c_str(), "wb");
    std::vector<char> line(32);
    for (long long n = 0; n < kLines; ++n) {
      const int length = std::snprintf(line.data(), line.size(), "%20.10f\n", 3.0 * std::sin(1e-3 * n) - 0.01 * (n % 7));
      std::fwrite(line.data(), 1, static_cast<std::size_t>(length), file);
    }
    std::fclose(file);
    return name;
  }();
  return path;
}

void BM_CountSeriesRecords(benchmark::State& state) {
  const std::string& path = SeriesPath();
  odefit::SeriesFile series;
  std::string reason;
  if (!series.Open(path, reason)) state.SkipWithError(reason.c_str());
  long long count = 0;
  for (auto _ : state) {
    count = series.CountRecords().value_or(-1);
    benchmark::DoNotOptimize(count);
  }
  if (count != kLines) state.SkipWithError("wrong count");
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_CountSeriesRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reference: read() into a 1 MiB block, memchr from one line break to the next.
void BM_ReferenceMemchrCount(benchmark::State& state) {
  const std::string& path = SeriesPath();
  std::vector<char> block(1 << 20);
  long long count = 0;
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    count = 0;
    ssize_t got = 0;
    while ((got = read(fd, block.data(), block.size())) > 0) {
      const char* p = block.data();
      const char* end = p + got;
      while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))))) {
        ++count;
        ++p;
      }
    }
    close(fd);
    benchmark::DoNotOptimize(count);
  }
  if (count != kLines) state.SkipWithError("wrong count");
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReferenceMemchrCount)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
