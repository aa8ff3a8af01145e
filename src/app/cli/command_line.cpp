#include "app/cli/command_line.h"

#include <CLI/CLI.hpp>
#include <array>
#include <iostream>
#include <memory>
#include <new>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/output_file.h"
#include "odefit/errors.h"

namespace odefit::cli {
namespace {

constexpr std::array<std::string_view, 5> kSubcommands = {"fit", "search", "show", "simulate", "test"};

const char* const kFooter =
    "Exit status: 0 success, 1 usage error (bad options or impossible settings), 2 bad input\n"
    "(a series or model file that cannot be read as one), 3 numerical failure, 4 file error.\n";

void Report(const std::string& message) { std::cerr << "odefit: " << message << "\n"; }

}  // namespace

const char* const kSubcommandHelp =
    "Subcommands, for scripts (each has --help):\n"
    "  odefit fit SERIES --dt DT [--dimension D] [--train N] [--points M] [--model SPEC]...\n"
    "             [--threshold T [--scaled]] [--output MODEL.json] [--plots DIR]\n"
    "                          fit a model to a series and print its equations\n"
    "  odefit search SERIES --dt DT [--dimension D] [--time-limit S] [--threads N]\n"
    "             [--output RESULT.json] [--plots DIR]\n"
    "                          find the window, families and terms that predict best\n"
    "  odefit show MODEL.json [--json]\n"
    "                          print the equations of a model file\n"
    "  odefit simulate MODEL.json --from X1,X2,... --steps N [--method M] [--step H]\n"
    "             [--output TRAJ.csv]\n"
    "                          integrate a model and write its trajectory as CSV\n"
    "  odefit test MODEL.json SERIES [--pieces K] [--length L] [--shift S] [--skip N] ...\n"
    "                          test how long a model predicts held-out vectors\n"
    "\n"
    "Files written: the dialogue appends to report.txt and writes differentiation.png and\n"
    "model-efficiency.png in the working directory when it runs in the terminal; the\n"
    "subcommands write only the files their options name (MODEL.json, RESULT.json, TRAJ.csv, and\n"
    "differentiation.png, fit.png, search.png, model-efficiency.png in --plots DIR), each whole or\n"
    "not at all.\n"
    "\n"
    "Exit status: 0 success; 1 usage error (an unknown option, impossible settings); 2 bad\n"
    "input (a series or model file that cannot be read); 3 numerical failure; 4 file error.\n"
    "The dialogue: 0 normal end, 1 input ended, 3 a numerical error, 4 a file error.\n";

bool IsSubcommand(std::string_view word) {
  for (const std::string_view name : kSubcommands) {
    if (word == name) return true;
  }
  return false;
}

int RunCommandLine(int argc, char** argv) {
  InstallInterruptCleanup();
  CLI::App app("Build a global ODE model from one observed time series, for scripts.", "odefit");
  app.require_subcommand(1);
  app.footer(kFooter);
  std::array<std::unique_ptr<Command>, 5> commands = {std::make_unique<FitCommand>(), std::make_unique<SearchCommand>(),
                                                      std::make_unique<ShowCommand>(),
                                                      std::make_unique<SimulateCommand>(),
                                                      std::make_unique<TestCommand>()};
  for (const auto& command : commands) command->Register(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a "parse error" of status 0 that prints the help.
    return app.exit(e) == 0 ? kSuccess : kUsageError;
  }
  try {
    for (const auto& command : commands) {
      if (command->Given()) {
        const int status = command->Run();
        std::cout.flush();
        if (!std::cout) throw FileError("cannot write standard output");
        return status;
      }
    }
    return kUsageError;
  } catch (const UsageError& e) {
    Report(e.what());
    return kUsageError;
  } catch (const InvalidArgument& e) {
    Report(e.what());
    return kUsageError;
  } catch (const InputError& e) {
    Report(e.what());
    return kBadInput;
  } catch (const NumericalError& e) {
    Report(std::string("numerical failure:\n") + e.what());
    return kNumericalFailure;
  } catch (const std::bad_alloc&) {
    Report("not enough memory for this work");
    return kNumericalFailure;
  } catch (const FileError& e) {
    Report(e.what());
    return kFileError;
  }
}

}  // namespace odefit::cli
