#include "dialogue/series_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "derivatives/differentiation.h"
#include "format/fixed_format.h"

namespace odefit {
namespace {
constexpr std::size_t kBufferSize = 1 << 20;
constexpr int kFieldWidth = 20;
constexpr int kFieldDecimals = 10;
}  // namespace

bool SeriesFile::Open(const std::string& path, std::string& reason) {
  Close();
  if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize);
  in_.rdbuf()->pubsetbuf(buffer_.get(), kBufferSize);
  errno = 0;
  in_.open(path, std::ios::in | std::ios::binary);
  if (!in_.is_open()) {
    reason = errno != 0 ? std::strerror(errno) : "cannot be read";
    return false;
  }
  // A folder opens like a file but cannot be read as one.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    reason = std::strerror(EISDIR);
    in_.close();
    return false;
  }
  path_ = path;
  return true;
}

void SeriesFile::Close() {
  if (in_.is_open()) in_.close();
  in_.clear();
  path_.clear();
}

void SeriesFile::Rewind() {
  in_.clear();
  in_.seekg(0);
}

std::optional<std::int64_t> SeriesFile::CountRecords() {
  Rewind();
  std::int64_t count = 0;
  while (fixed::ReadRecord(in_, line_)) {
    ++count;
    if (!fixed::ReadF(line_, kFieldWidth, kFieldDecimals)) return std::nullopt;
  }
  if (in_.bad()) throw SeriesFileError("cannot read " + path_ + ": " + std::strerror(errno));
  return count;
}

void SeriesFile::NextRecord() {
  if (!fixed::ReadRecord(in_, line_)) {
    throw SeriesFileError("the series file " + path_ + " ended before the vectors counted in it");
  }
}

double SeriesFile::NextValue() {
  NextRecord();
  const auto value = fixed::ReadF(line_, kFieldWidth, kFieldDecimals);
  if (!value) throw SeriesFileError("the series file " + path_ + " changed: a value became unreadable");
  return *value;
}

void SeriesFile::ReadTrainingSeries(int D, int Ntrain, std::span<double> TimeSeries) {
  Rewind();
  const std::size_t count = static_cast<std::size_t>(D) * static_cast<std::size_t>(Ntrain);
  for (std::size_t k = 0; k < count; ++k) TimeSeries[k] = NextValue();
}

void SeriesFile::ReadTestSeries(int D, int Ntrain, int Nraw, int m, double dt,
                                std::span<double> RawTestSeries, std::span<double> TestSeries,
                                std::span<double> TestDerivatives) {
  Rewind();
  const std::size_t d = static_cast<std::size_t>(D);
  for (std::size_t k = 0, skip = d * static_cast<std::size_t>(Ntrain); k < skip; ++k) NextRecord();
  const std::size_t raw = static_cast<std::size_t>(Nraw);
  for (std::size_t k = 0; k < d * raw; ++k) RawTestSeries[k] = NextValue();

  const std::size_t ntest = raw - static_cast<std::size_t>(m) + 1;
  std::vector<double> component(raw), smoothed(ntest), derivative(ntest);
  for (std::size_t j = 0; j < d; ++j) {
    for (std::size_t i = 0; i < raw; ++i) component[i] = RawTestSeries[j + i * d];
    DifferentiateSeries(component, Nraw, m, 1, dt, smoothed, derivative);
    for (std::size_t i = 0; i < ntest; ++i) {
      TestSeries[j + i * d] = smoothed[i];
      TestDerivatives[j + i * d] = derivative[i];
    }
  }
}

}  // namespace odefit
