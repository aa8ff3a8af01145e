#include "app/cli/command_line.h"

#include <CLI/CLI.hpp>
#include <array>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <ostream>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "app/cli/number_options.h"
#include "app/cli/output_file.h"
#include "odefit/errors.h"

namespace odefit::cli {
namespace {

constexpr std::array<std::string_view, 5> kSubcommands = {"fit", "search", "show", "simulate", "test"};

const char* const kFooter =
    "Exit status: 0 success, 1 usage error (bad options or impossible settings), 2 bad input\n"
    "(a series or model file that cannot be read as one), 3 numerical failure, 4 file error,\n"
    "5 a search's time limit passed before any candidate was scored, 130/143 SIGINT/SIGTERM\n"
    "(a search first writes the best so far).\n";

}  // namespace

const char* const kSubcommandHelp =
    "Subcommands, for scripts (each has --help):\n"
    "  odefit fit SERIES... [--dt DT] [--dimension D | --time COLUMN] [--train N] [--points M]\n"
    "             [--model SPEC]... [--threshold T [--scaled]] [--threads N] [--output MODEL.json]\n"
    "             [--plots DIR]\n"
    "                          fit a model to a series (several files: recordings of one\n"
    "                          system) and print its equations\n"
    "  odefit search SERIES... [--dt DT] [--dimension D | --time COLUMN] [--time-limit S]\n"
    "             [--threads N] [--output RESULT.json] [--plots DIR]\n"    "                          find the window, families and terms that predict best\n"
    "  odefit show MODEL.json [--json]\n"
    "                          print the equations of a model file\n"
    "  odefit simulate MODEL.json --from X1,X2,... --steps N [--method M] [--step H]\n"
    "             [--output TRAJ.csv]\n"
    "                          integrate a model and write its trajectory as CSV\n"
    "  odefit test MODEL.json SERIES... [--pieces K] [--length L] [--shift S] [--skip N] ...\n"
    "                          test how long a model predicts held-out vectors\n"
    "\n"
    "Files written: the dialogue appends to report.txt and writes differentiation.png and\n"
    "model-efficiency.png in the working directory when it runs in the terminal; the\n"
    "subcommands write only the files their options name (MODEL.json, RESULT.json, TRAJ.csv, and\n"
    "differentiation.png, fit.png, search.png, model-efficiency.png in --plots DIR), each whole or\n"
    "not at all.\n"
    "\n"
    "Exit status: 0 success; 1 usage error (an unknown option, impossible settings); 2 bad\n"
    "input (a series or model file that cannot be read); 3 numerical failure; 4 file error;\n"
    "5 a search's time limit passed before any candidate was scored;\n"
    "130 and 143 for SIGINT and SIGTERM (a search first writes the best candidate so far).\n"
    "The dialogue: 0 normal end, 1 input ended, 3 a numerical error, 4 a file error.\n";

bool IsSubcommand(std::string_view word) {
  for (const std::string_view name : kSubcommands) {
    if (word == name) return true;
  }
  return false;
}

namespace {

// The subcommands on one CLI11 application, for one command line.
class CommandLine {
 public:
  CommandLine() : app_("Build a global ODE model from one observed time series, for scripts.", "odefit") {
    app_.require_subcommand(1);
    app_.footer(kFooter);
    // The parser's own messages start like every other message of the program.
    app_.failure_message([](const CLI::App*, const CLI::Error& error) {
      return "odefit: " + std::string(error.what()) + "\nRun with --help for more information.\n";
    });
    commands_ = {std::make_unique<FitCommand>(), std::make_unique<SearchCommand>(), std::make_unique<ShowCommand>(),
                 std::make_unique<SimulateCommand>(), std::make_unique<TestCommand>()};
    for (const auto& command : commands_) command->Register(app_);
    RequireDecimalNumbers(app_);
  }

  // Parses the arguments and prepares the subcommand named. Returns the
  // status to end with now, or nothing when the work is to be done.
  std::optional<int> Prepare(int argc, const char* const* argv, InputFiles& files, std::ostream& out,
                             std::ostream& err) {
    try {
      app_.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      // --help is a "parse error" of status 0 that prints the help.
      return app_.exit(e, out, err) == 0 ? kSuccess : kUsageError;
    }
    command_ = nullptr;
    for (const auto& command : commands_) {
      if (command->Given()) command_ = command.get();
    }
    if (command_ == nullptr) return kUsageError;
    const int status = Guarded(err, [&] {
      command_->Prepare(files);
      return kSuccess;
    });
    if (status != kSuccess) return status;
    return std::nullopt;
  }

  // Does the work of the prepared subcommand; returns the exit status.
  int Run(std::ostream& err) {
    return Guarded(err, [&] {
      const int status = command_->Run();
      std::cout.flush();
      if (!std::cout) throw FileError("cannot write standard output");
      return status;
    });
  }

 private:
  // Calls `work`, mapping the failures it throws to exit statuses with a message on `err`.
  template <typename Work>
  static int Guarded(std::ostream& err, Work&& work) {
    const auto report = [&err](const std::string& message) { err << "odefit: " << message << "\n"; };
    try {
      return work();
    } catch (const UsageError& e) {
      report(e.what());
      return kUsageError;
    } catch (const InvalidArgument& e) {
      report(e.what());
      return kUsageError;
    } catch (const InputError& e) {
      report(e.what());
      return kBadInput;
    } catch (const NumericalError& e) {
      report(std::string("numerical failure:\n") + e.what());
      return kNumericalFailure;
    } catch (const TimeLimitError& e) {
      report(e.what());
      return kTimeLimit;
    } catch (const std::bad_alloc&) {
      report("not enough memory for this work");
      return kNumericalFailure;
    } catch (const FileError& e) {
      report(e.what());
      return kFileError;
    }
  }

  CLI::App app_;
  std::array<std::unique_ptr<Command>, 5> commands_;
  Command* command_ = nullptr;
};

}  // namespace

int CheckCommandLine(int argc, const char* const* argv, InputFiles& files, std::ostream& out, std::ostream& err) {
  CommandLine line;
  return line.Prepare(argc, argv, files, out, err).value_or(kSuccess);
}

int RunCommandLine(int argc, char** argv) {
  InstallInterruptCleanup();
  FileSystemInputs files;
  CommandLine line;
  if (const std::optional<int> status = line.Prepare(argc, argv, files, std::cout, std::cerr)) return *status;
  return line.Run(std::cerr);
}

}  // namespace odefit::cli
