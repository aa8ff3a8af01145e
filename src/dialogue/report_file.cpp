#include "dialogue/report_file.h"

#include <cerrno>
#include <cstring>

namespace odefit {

ReportFile::~ReportFile() {
  if (file_) std::fclose(file_);
}

void ReportFile::Open() {
  if (file_) return;
  errno = 0;
  file_ = std::fopen(path_.c_str(), "a");
  if (!file_) Fail("open");
}

void ReportFile::WriteLine(std::string_view text) {
  if (!file_) Open();
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fputc('\n', file_) == EOF ||
      std::fflush(file_) != 0) {
    Fail("write");
  }
}

void ReportFile::Line(std::string_view text) {
  std::string line(1, ' ');
  line += text;
  WriteLine(line);
}

void ReportFile::Close() {
  if (!file_) return;
  std::FILE* file = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(file) != 0) Fail("write");
}

void ReportFile::Fail(const char* what) {
  const int error = errno;
  throw ReportError("cannot " + std::string(what) + " the report file " + path_ + ": " +
                    (error != 0 ? std::strerror(error) : "input/output error"));
}

}  // namespace odefit
