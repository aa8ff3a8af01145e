// Fuzz target: the subcommands' argument parsing and settings checks, in
// process, with the input files' contents from the fuzzer. The input is the
// arguments, one per line, then a NUL byte, then the content of the first
// file a subcommand opens, another NUL, and the content of the second (test
// reads a model and a series). Every command line must end in one of the
// documented statuses without an exception escaping; nothing runs long and
// nothing is written.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"

namespace {

// Hands out the given contents in the order the files are opened; an empty
// path cannot be opened.
class GivenFiles final : public odefit::cli::InputFiles {
 public:
  explicit GivenFiles(std::vector<std::string> contents) : contents_(std::move(contents)) {}
  std::istream& Open(const std::string& path, bool) override {
    if (path.empty()) throw odefit::cli::FileError("cannot open : No such file or directory");
    const std::size_t k = streams_.size();
    streams_.emplace_back(k < contents_.size() ? contents_[k] : std::string());
    return streams_.back();
  }

 private:
  std::vector<std::string> contents_;
  std::vector<std::istringstream> streams_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = std::min(input.find('\0'), input.size());
  std::vector<std::string> args = {"odefit"};
  std::string_view rest = input.substr(0, end);
  while (!rest.empty() && args.size() < 64) {
    const std::size_t line = std::min(rest.find('\n'), rest.size());
    args.emplace_back(rest.substr(0, line));
    rest.remove_prefix(std::min(line + 1, rest.size()));
  }
  std::vector<std::string> contents;
  if (end < input.size()) {
    std::string_view files = input.substr(end + 1);
    const std::size_t split = files.find('\0');
    contents.emplace_back(files.substr(0, split));
    if (split != std::string_view::npos) contents.emplace_back(files.substr(split + 1));
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  GivenFiles files(std::move(contents));
  std::ostringstream out, err;
  const int status =
      odefit::cli::CheckCommandLine(static_cast<int>(args.size()), argv.data(), files, out, err);
  if (status < odefit::cli::kSuccess || status > odefit::cli::kFileError) std::abort();
  // A failure always says why.
  if (status != odefit::cli::kSuccess && err.str().empty() && out.str().empty()) std::abort();
  return 0;
}
