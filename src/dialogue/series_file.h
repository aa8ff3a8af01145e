#pragma once
// The series file: plain text, one number per record in the first 20
// characters ("(F20.10)"), the components of each vector on consecutive
// records. The file stays open through one series stage and is read from its
// first record for every pass. Reads stream through a large buffer with one
// reused line, so a file of millions of records is never held in memory.

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace odefit {

// Records of a series file of one kind: how many, and the first of them (its
// line number, counted from 1, and its text, cut to kKeptText characters).
struct RecordTally {
  static constexpr std::size_t kKeptText = 64;
  std::int64_t count = 0;
  std::int64_t firstLine = 0;
  std::string firstText;

  void Add(std::int64_t line, std::string_view text);
};

// What counting a series file found besides the number of its records: the
// record that made it unreadable, and the readable records whose value is
// probably not the one meant.
struct SeriesFindings {
  std::int64_t unreadableLine = 0;  // 0 when every record was read
  std::string unreadableText;       // that record, cut like RecordTally's
  RecordTally withoutPoint;  // a nonzero value without a decimal point: 10 implied decimals
  RecordTally pastField;     // characters other than blanks after column 20: ignored
  RecordTally blank;         // nothing but blanks: read as 0
};

// Thrown when the file no longer holds what was counted (it shrank or became
// unreadable between the count and a later read).
class SeriesFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SeriesFile {
 public:
  // Opens `path` for reading; false with `reason` filled when it cannot.
  bool Open(const std::string& path, std::string& reason);
  void Close();
  bool IsOpen() const { return in_.is_open(); }
  const std::string& Path() const { return path_; }

  // Counts the records from the first to the end; nullopt when a value is
  // unreadable. Findings() then tells what the count met on the way.
  std::optional<std::int64_t> CountRecords();
  const SeriesFindings& Findings() const { return findings_; }

  // Fills TimeSeries (D x Ntrain, column i = vector i) from the first records.
  void ReadTrainingSeries(int D, int Ntrain, std::span<double> TimeSeries);

  // Fills RawTestSeries (D x Nraw) with the Nraw vectors after the training
  // series, and TestSeries, TestDerivatives (D x (Nraw - m + 1)) with their
  // smoothed values and derivatives.
  void ReadTestSeries(int D, int Ntrain, int Nraw, int m, double dt, std::span<double> RawTestSeries,
                      std::span<double> TestSeries, std::span<double> TestDerivatives);

 private:
  void Rewind();
  // Reads the next record into line_; throws SeriesFileError at the end of the file.
  void NextRecord();
  double NextValue();

  std::string path_;
  std::ifstream in_;
  std::unique_ptr<char[]> buffer_;
  std::string line_;
  SeriesFindings findings_;
};

}  // namespace odefit
