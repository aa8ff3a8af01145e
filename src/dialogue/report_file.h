#pragma once
// The report: "report.txt" in the working directory, opened for appending and
// never truncated, so it accumulates the history of every run. Each line
// reaches the file as soon as it is written, so a run that ends early loses
// nothing already reported.

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace odefit {

// Thrown when the report cannot be opened or written; the message names the
// file and the reason.
class ReportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ReportFile {
 public:
  explicit ReportFile(std::string path = "report.txt") : path_(std::move(path)) {}
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Opens the file for appending; does nothing when it is already open.
  void Open();
  // Writes `text` and a line end, and flushes.
  void WriteLine(std::string_view text);
  // Writes a report line: one blank, then `text` (an empty line stays empty).
  void Line(std::string_view text);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  [[noreturn]] void Fail(const char* what);

  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace odefit
