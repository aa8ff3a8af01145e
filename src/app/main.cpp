// odefit: builds a global ODE model of a dynamical system from one observed time series.
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string_view>

#include "app/blas_choice.h"
#include "app/cli/command_line.h"
#include "app/desktop/desktop_session.h"
#include "app/terminal.h"
#include "version.h"

namespace {

void PrintUsage(std::ostream& out) {
  out << "Usage: odefit [--console] [--help] [--version]\n"
         "       odefit fit|search|show|simulate|test ...\n"
         "Build a global model of a dynamical system (a system of ordinary differential\n"
         "equations) from one observed time series, and test how long it predicts well.\n"
         "The dialogue runs in a desktop window when a display is available, otherwise\n"
         "in this terminal.\n"
         "\n"
         "  --console   run the dialogue in this terminal (plots are written as PNG files)\n"
         "  --help      show this help and exit\n"
         "  --version   show the version and exit\n"
         "\n"
      << odefit::cli::kSubcommandHelp;
}

// Ends the process at once with the shell's status for the signal (130 for
// SIGINT, 143 for SIGTERM). Every report line is flushed when written, so the
// report loses nothing.
extern "C" void EndOnSignal(int signal) { _exit(128 + signal); }

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = EndOnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A file-size limit must fail the write (and end the run with its reason), not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  odefit::ChooseBlasKernels(argv);  // may start the program again with better BLAS kernels
  InstallSignalHandlers();
  if (argc > 1 && odefit::cli::IsSubcommand(argv[1])) return odefit::cli::RunCommandLine(argc, argv);
  bool console = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(std::cout);
      return 0;
    }
    if (arg == "--version" || arg == "-V") {
      std::cout << "odefit " << ODEFIT_VERSION << "\n" << odefit::BlasKernelReport() << "\n";
      return 0;
    }
    if (arg != "--console") {
      std::cerr << "odefit: unknown option '" << arg << "'\n";
      PrintUsage(std::cerr);
      return 2;
    }
    console = true;
  }
  if (!console && odefit::DesktopAvailable()) {
    int qtArgc = 1;  // the options are ours; the toolkit sees none of them
    return odefit::RunDesktop(qtArgc, argv);
  }
  return odefit::RunTerminal();
}
