#pragma once
// The exceptions the library throws. Every public function documents which;
// none of them ends the process or prints unless its caller asks.

#include <stdexcept>
#include <string>

#include "odefit/cancellation.h"

namespace odefit {

// A call whose arguments break the function's preconditions (sizes, ranges,
// settings that cannot work together). Nothing was computed.
class InvalidArgument : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Input that cannot be read as what it should be. `where()` names the file
// (or "-" for standard input), and the line and column when known, as
// "file:line:column"; what() is the whole message including it.
class InputError : public std::runtime_error {
 public:
  InputError(std::string file, long long line, long long column, const std::string& message)
      : std::runtime_error(Where(file, line, column) + ": " + message),
        file_(std::move(file)),
        line_(line),
        column_(column) {}
  const std::string& file() const noexcept { return file_; }
  long long line() const noexcept { return line_; }      // 1-based; 0 when not about one line
  long long column() const noexcept { return column_; }  // 1-based; 0 when not about one column

 private:
  static std::string Where(const std::string& file, long long line, long long column) {
    std::string where = file;
    if (line > 0) where.append(1, ':').append(std::to_string(line));
    if (line > 0 && column > 0) where.append(1, ':').append(std::to_string(column));
    return where;
  }
  std::string file_;
  long long line_;
  long long column_;
};

// A numerical routine failed (a singular design matrix, a workspace that
// could not be allocated, a solver that could not keep its tolerance). The
// message is the routine's own report.
class NumericalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A time limit that passed before there was any result to return (a search
// that scored no candidate in it); the message says so and how to give more.
class TimeLimitError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace odefit
