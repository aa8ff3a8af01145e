#pragma once
// The command line's exit statuses and the failures that lead to them.

#include <stdexcept>
#include <string>

namespace odefit::cli {

enum ExitStatus : int {
  kSuccess = 0,
  kUsageError = 1,        // bad options or settings that cannot work together
  kBadInput = 2,          // a series or model file that cannot be read as one
  kNumericalFailure = 3,  // a singular fit, a solver that gave up, memory
  kFileError = 4,         // a file that cannot be opened, read or written
  kTimeLimit = 5,         // a time limit that passed before there was any result (a search)
};

// Options that are wrong in themselves or together.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be opened, read or written; the message names it.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace odefit::cli
