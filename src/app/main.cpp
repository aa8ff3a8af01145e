// odefit: builds a global ODE model of a dynamical system from one observed time series.
#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/blas_choice.h"
#include "app/cli/command_line.h"
#include "app/desktop/desktop_entry.h"
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

bool DisplaySet() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Loads the desktop module and runs the program in it; false when no display
// can show it or the module cannot be loaded (said as a warning), and the
// terminal runs instead.
bool RunDesktopModule(int& status) {
  // The module lies beside the program's own libraries (beside the program in
  // the build, in its library folder installed), where the loader found
  // libodefit_blas_threads.so however the program was started. A bare name
  // would be looked up with the run path of whoever calls dlopen, and a
  // sanitizer's runtime intercepts that call.
  std::vector<std::string> candidates;
  Dl_info found{};
  if (dladdr(reinterpret_cast<void*>(&odefit_program_libraries), &found) != 0 && found.dli_fname != nullptr) {
    const std::string library = found.dli_fname;
    const std::size_t slash = library.rfind('/');
    if (slash != std::string::npos) candidates.push_back(library.substr(0, slash + 1) + ODEFIT_DESKTOP_MODULE);
  }
  candidates.push_back(ODEFIT_DESKTOP_MODULE);
  void* module = nullptr;
  std::string why;
  for (const std::string& path : candidates) {
    if (path.find('/') != std::string::npos && access(path.c_str(), F_OK) != 0) continue;
    module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) break;
    const char* error = dlerror();
    why = error != nullptr ? error : path;
  }
  if (module == nullptr) {
    std::cerr << "odefit: warning: the desktop cannot be loaded (" << why << "); the dialogue runs in this terminal\n";
    return false;
  }
  using Entry = int (*)(int*);
  const auto run = reinterpret_cast<Entry>(dlsym(module, "odefit_run_desktop"));
  if (run == nullptr) {
    std::cerr << "odefit: warning: " ODEFIT_DESKTOP_MODULE " is not this program's desktop; the dialogue runs in this terminal\n";
    return false;
  }
  return run(&status) != 0;  // the module stays loaded: its threads and handlers live until exit
}

}  // namespace

int main(int argc, char** argv) {
  odefit::RestoreBlasEnvironment();
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
  if (!console && DisplaySet()) {
    int status = 0;
    if (RunDesktopModule(status)) return status;
  }
  return odefit::RunTerminal();
}
